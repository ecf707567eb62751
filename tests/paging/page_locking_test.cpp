// SPDX-License-Identifier: Apache-2.0
// Page locking: the base image's copied pages, the memory image's shared page,
// every kind of image's locked tiles, page handles and page records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <tuple>
#include <type_traits>
#include <vector>

#include "eks/paging.h"
#include "images/layout_model.h"

namespace {

// A 20 x 12 x 2 x 3 ekUShort interleaved memory image; channel k of (x, y, z)
// holds its own element index + 1, so every element is distinct.
struct Pixels3D {
    static constexpr int kX = 20, kY = 12, kZ = 2, kC = 3;
    std::vector<uint16_t> data;
    ekMemoryImg img;
    explicit Pixels3D(ekOrder order = ekInterleaved)
        : data(size_t(kX) * kY * kZ * kC), img(nullptr, ekSize(kX, kY, kZ, kC), ekUShort, order) {
        for (size_t i = 0; i < data.size(); ++i) data[i] = uint16_t(i + 1);
        img.setDataPtr(data.data());
    }
};

// Reads go straight to `src`; pages are the base image's copies, with a page
// geometry of the test's choosing. Reads of boxes that start at or right of
// failFromX fail with ekBadInput.
class PagedImage : public ekImage {
public:
    PagedImage(ekImage& src, ekXYZCstruct<int> page, ekXYZCstruct<int> border = {})
        : src_(src), page_(page), border_(border) {
        setNumInputs(1);
        setInput(&src, 0);
    }
    using ekLink::setStatus;
    int failFromX = INT_MAX;
    int lastMode = -1;
    int unlockCalls = 0;
    ekLockRequest lastUnlocked{};  // the first request of the last unlock

    int hasPages() override { return 1; }  // pages of its own, unlike the memory image

    ekStatus getSubTile3D(int x, int y, int z, int nx, int ny, int nz, void* data, int bx, int by,
                          int bz, int bnx, int bny, int bnz, const ekConfig* cfg) override {
        const ekStatus s = resetCheck();
        if (s != ekOkay) return s;
        if (x >= failFromX) return ekBadInput;
        return src_.getSubTile3D(x, y, z, nx, ny, nz, data, bx, by, bz, bnx, bny, bnz, cfg);
    }
    ekStatus setSubTile3D(int, int, int, int, int, int, void*, int, int, int, int, int, int,
                          const ekConfig*) override {
        return ekNotAllowed;  // pages are read only
    }
    ekStatus lockPageSet(ekLockRequest* requests, int mode, int count) override {
        lastMode = mode;
        return ekImage::lockPageSet(requests, mode, count);
    }
    void unlockPageSet(ekLockRequest* requests, int count) override {
        ++unlockCalls;
        if (count > 0) lastUnlocked = requests[0];
        ekImage::unlockPageSet(requests, count);
    }

protected:
    void reset() override {
        src_.getSize(size);
        dataType = src_.getDataType();
        order = src_.getOrder();
        coordSpace = src_.getCoordSpace();
        initColorModel(0);
        initMinMax(0);
        checkColorModel();
        initPageSize(page_.x, page_.y, page_.z, page_.c);
        pageSize.c = page_.c;  // checkColorModel ties it to the order
        pageBorder = {border_.x, border_.y, border_.z};
        ekImage::reset();
    }

private:
    ekImage& src_;
    ekXYZCstruct<int> page_, border_;
};

// Whether a locked page holds its page box read with getTile3D, as
// lockPageSet fills it: page size large, the image's type and order, the
// page's channels.
inline bool holdsPageBox(ekImage& img, const ekPage* p) {
    int px, py, pz, pc;
    img.getPageSize(px, py, pz, pc);
    std::vector<uint16_t> want(size_t(px) * py * pz * pc);
    ekConfig cfg(ekUShort, img.getOrder(), pc, nullptr, p->c);
    if (img.getTile3D(p->x, p->y, p->z, px, py, pz, want.data(), &cfg) != ekOkay) return false;
    return std::memcmp(p->getData(), want.data(), want.size() * sizeof(uint16_t)) == 0;
}

using Pos = std::tuple<int, int, int, int>;

// Origins of the pages that cover the span from a to b (either way round) of
// an axis of extent n, clipped to it: interiors on multiples of page - 2
// border, each origin a border before.
std::vector<int> gridOrigins(int64_t a, int64_t b, int n, int page, int border) {
    std::vector<int> out;
    const int64_t lo = std::max<int64_t>(std::min(a, b), 0),
                  hi = std::min<int64_t>(std::max(a, b), n - 1);
    for (int64_t s = lo / (page - 2 * border) * (page - 2 * border); lo <= hi && s <= hi;
         s += page - 2 * border)
        out.push_back(int(s - border));
    return out;
}

// Random tiles, caller spaces, channel selections and page geometries against
// the grid: every page the tile (clipped to the image) touches, channel
// blocks outermost and x fastest, each a copy of its page box with its record
// of the part inside the image; single pages of the same positions.
TEST(LockTile, LocksThePagesOfTheGridInIteratorOrder) {
    Rng g(5);
    const int extent[4] = {Pixels3D::kX, Pixels3D::kY, Pixels3D::kZ, Pixels3D::kC};
    for (int round = 0; round < 800; ++round) {
        SCOPED_TRACE(round);
        Pixels3D src;
        src.img.setCoordSpace(ekCoordSpace(g.in(1, 8)));
        int page[4], border[4] = {g.chance(30) ? g.in(1, 2) : 0, g.chance(30) ? g.in(1, 2) : 0};
        for (int a = 0; a < 4; ++a) page[a] = 2 * border[a] + g.in(1, extent[a]);
        PagedImage img(src.img, {page[0], page[1], page[2], page[3]}, {border[0], border[1], 0, 0});
        img.failFromX = g.chance(20) ? g.in(-2, 20) : INT_MAX;  // those pages are not had
        const ekTile t(g.in(-5, 22), g.in(-5, 14), g.in(-1, 2), g.in(-1, 25), g.in(-1, 16),
                       g.in(0, 3));
        // Channels by an offset and count or a list, with entries far beyond
        // the image's (a list entry of 2 000 000 once counted a million blocks).
        std::vector<int> list;
        for (int k = g.in(1, 4); k > 0; --k) list.push_back(g.chance(10) ? 2000000 : g.in(-7, 4));
        const int kind = g.in(0, 2), cs = g.chance(40) ? g.in(1, 8) : 0;
        int nchans = kind == 2 ? int(list.size()) : g.in(1, 4);
        if (kind == 1 && g.chance(10)) nchans = 4000000;
        const ekConfig cfg(ekUShort, ekInterleaved, nchans, kind == 2 ? list.data() : nullptr,
                           kind == 1 ? g.in(-2, 3) : 0, ekCoordSpace(cs));
        const ekConfig* c = kind == 0 && cs == 0 ? nullptr : &cfg;
        auto selects = [&](int e) {
            if (kind == 2) return std::count(list.begin(), list.end(), e) > 0;
            return c == nullptr ||
                   (e >= cfg.chanOffset && e < int64_t(cfg.chanOffset) + cfg.nchans);
        };
        // The tile's corners in the image's space.
        const int own = img.getCoordSpace();
        int64_t ax = t.x, ay = t.y, bx = int64_t(t.x) + t.nx - 1, by = int64_t(t.y) + t.ny - 1;
        mapPoint(cs != 0 ? cs : own, own, own, extent[0], extent[1], ax, ay);
        mapPoint(cs != 0 ? cs : own, own, own, extent[0], extent[1], bx, by);
        std::vector<Pos> want;
        for (int b = 0; t.nx > 0 && t.ny > 0 && t.nz > 0 && b < extent[3]; b += page[3]) {
            bool any = false;
            for (int e = b; e < std::min(b + page[3], extent[3]); ++e) any = any || selects(e);
            if (!any) continue;
            for (int z : gridOrigins(t.z, t.z + t.nz - 1, extent[2], page[2], 0))
                for (int y : gridOrigins(ay, by, extent[1], page[1], border[1]))
                    for (int x : gridOrigins(ax, bx, extent[0], page[0], border[0]))
                        want.emplace_back(x, y, z, b);
        }
        std::unique_ptr<ekLockedTile> lt(img.lockTile3D(t.x, t.y, t.z, t.nx, t.ny, t.nz, c, 0xC07));
        ASSERT_NE(lt, nullptr);
        EXPECT_EQ(lt->image, &img);
        std::vector<Pos> got;
        bool failed = false, held = false;  // a failed lock keeps the other pages
        for (int i = 0; i < lt->count; ++i) {
            const ekLockRequest& r = lt->requests[i];
            got.emplace_back(r.x, r.y, r.z, r.c);
            failed = failed || r.x >= img.failFromX;
            held = held || r.x < img.failFromX;
            ASSERT_EQ(r.status, r.x >= img.failFromX ? ekBadInput : ekOkay);
            ASSERT_EQ(r.page == nullptr, r.x >= img.failFromX);
            if (r.page == nullptr) continue;
            EXPECT_EQ(r.page->matches(r.x, r.y, r.z, r.c), 1);
            ASSERT_TRUE(holdsPageBox(img, r.page));
            const ekPgCB cb(&img, r.x, r.y, r.z, r.c);
            const int inside[4] = {extent[0] + border[0] - r.x, extent[1] + border[1] - r.y,
                                   extent[2] - r.z, extent[3] - r.c};
            const int got[4] = {cb.nx, cb.ny, cb.nz, cb.nc};
            for (int a = 0; a < 4; ++a) EXPECT_EQ(got[a], std::min(page[a], inside[a]));
        }
        ASSERT_EQ(got, want);
        ASSERT_EQ(lt->getStatus(), failed ? ekBadInput : ekOkay);
        EXPECT_EQ(img.lastMode, 0x007);  // 0x400 and 0x800 kept back
        lt.reset();                      // a lock that filled nothing is not undone
        EXPECT_EQ(img.unlockCalls, int(held || !failed));
        // The first page alone, the mode handed down as it is; none past the grid.
        const Pos first = want.empty() ? Pos(-border[0], -border[1], 0, 0) : want[0];
        ekStatus s = ekBadInput;
        ekPage* p = img.lockPage(std::get<0>(first), std::get<1>(first), std::get<2>(first),
                                 std::get<3>(first), s, 0x401);
        EXPECT_EQ(img.lastMode, 0x401);
        ASSERT_EQ(s, std::get<0>(first) >= img.failFromX ? ekBadInput : ekOkay);
        ASSERT_EQ(p == nullptr, s != ekOkay);
        if (p == nullptr) continue;
        EXPECT_TRUE(holdsPageBox(img, p));
        img.unlockPage(p);  // hands the page's position on
        const ekLockRequest& r = img.lastUnlocked;
        EXPECT_EQ(Pos(r.x, r.y, r.z, r.c), first);
        const int past[3][4] = {
            {-border[0] - 1, 0, 0, 0}, {extent[0], 0, 0, 0}, {0, 0, 0, extent[3]}};
        const int* q = past[g.in(0, 2)];
        EXPECT_EQ(img.lockPage(q[0], q[1], q[2], q[3], s, 0), nullptr);
        EXPECT_EQ(s, ekOkay);
    }
}

// Locks that cannot be made: an image in error or without a buffer, page boxes
// that hold nothing, and tiles inside the image whose pages cannot be listed,
// which are refused, never answered with an empty success.
TEST(LockTile, RefusedLocksGiveNoPageAndTheirStatus) {
    Pixels3D src;
    PagedImage broken(src.img, {10, 6, 1, 3}), flat(src.img, {0, 6, 1, 3}),
        negative(src.img, {10, -6, -1, 3});  // a positive product of extents
    broken.setStatus(ekBadAttribute);
    ekMemoryImg unbuffered;
    ekConstImg huge;  // 128 x 128 pages: 2^48 of them
    ASSERT_EQ(huge.setSize(ekSize(INT_MAX, INT_MAX, 1, 1)), ekOkay);
    int first[2] = {0, -1};  // channel 0 alone, by a list
    const ekConfig listed(ekUChar, ekInterleaved, 2, first);
    const struct {
        ekImage* img;
        ekStatus page, tile;  // lockPage at the origin; lockTile over everything
    } rows[] = {{&broken, ekBadAttribute, ekBadAttribute},
                {&flat, ekNoMemory, ekBadInput},
                {&negative, ekNoMemory, ekBadInput},
                {&huge, ekOkay, ekBadInput},
                {&unbuffered, ekBadAttribute, ekBadAttribute}};
    for (const auto& r : rows) {
        SCOPED_TRACE(&r - rows);
        ekStatus s = ekOkay;
        ekPage* page = r.img->lockPage(0, 0, 0, 0, s, 0);
        EXPECT_EQ(s, r.page);
        EXPECT_EQ(page != nullptr, r.page == ekOkay);
        r.img->unlockPage(page);
        for (const ekConfig* cfg : {static_cast<const ekConfig*>(nullptr), &listed}) {
            std::unique_ptr<ekLockedTile> lt(r.img->lockTile(0, 0, INT_MAX, INT_MAX, cfg, 0));
            ASSERT_EQ(lt == nullptr, r.tile == ekBadAttribute);  // an image in error: no tile
            if (lt != nullptr) {
                EXPECT_EQ(lt->getStatus(), r.tile);
                EXPECT_EQ(lt->count, 0);
            }
        }
    }
    // Requests: untouched when the image is in error; one outside the image
    // is given no page and no failure, whatever it held before.
    ekPage stale;
    ekLockRequest req[2] = {{1, 2, 3, 4, ekNoMemory, &stale}, {30, 0, 0, 0, ekNoMemory, &stale}};
    EXPECT_EQ(broken.lockPageSet(req, 0, 2), ekBadAttribute);
    EXPECT_TRUE(req[0].status == ekNoMemory && req[1].page == &stale);
    PagedImage paged(src.img, {10, 6, 1, 3});
    EXPECT_EQ(paged.lockPageSet(req + 1, 0, 1), ekOkay);
    EXPECT_TRUE(req[1].page == nullptr && req[1].status == ekOkay);
}

// Every kind of image locks a tile over all but its first row and column. An
// image destroyed before its locked tiles releases their pages and leaves them
// empty; deleting the tiles afterwards touches nothing of it (the sanitizer
// build sees any access, the leak checker any page left behind). The memory
// image shares one page per channel block; the others copy their page boxes.
TEST(LockTile, EveryKindOfImageLocksItsPagesAndOutlivesNoTile) {
    Pixels3D src;
    int list[2] = {2, 0};
    ekConfig swap(ekUShort, ekInterleaved, 2, list);
    ekPixel value(ekUShort, 2);
    value.setElem(7, 0);
    value.setElem(9, 1);
    auto memory = [](ekOrder order) {
        return [order] { return new ekMemoryImg(ekSize(20, 12, 2, 3), ekUShort, order); };
    };
    const struct {
        std::function<ekImage*()> make;
        int w, h, pages, hasPages;
        bool copies;
    } kinds[] = {
        {memory(ekInterleaved), 20, 12, 1, 0, false},
        {memory(ekSequential), 20, 12, 1, 0, false},
        {memory(ekSeparate), 20, 12, 3, 0, false},
        {[&] { return new ekSubImg(&src.img, 4, 2, 0, 10, 6, 1, nullptr); }, 10, 6, 1, 0, true},
        {[&] { return new ekSubImg(&src.img, 4, 2, 0, 10, 6, 1, &swap); }, 10, 6, 1, 0, true},
        {[&] {
             auto* constant = new ekConstImg(value);
             constant->setSize(ekSize(300, 200, 1, 2));
             return constant;
         },
         300, 200, 6, 0, true},
        // A class of the host's own: the base image's copied pages.
        {[&] { return new PagedImage(src.img, ekXYZCstruct<int>(10, 6, 1, 3)); }, 20, 12, 4, 1,
         true},
    };
    for (const auto& k : kinds) {
        ekImage* img = k.make();
        SCOPED_TRACE(testing::Message() << img->getClassName(0) << " " << &k - kinds);
        EXPECT_EQ(img->hasPages(), k.hasPages);  // a view gives its parent's answer
        std::unique_ptr<ekLockedTile> tiles[3];
        for (auto& t : tiles) {
            t.reset(img->lockTile(1, 1, k.w - 1, k.h - 1, nullptr, 0));
            ASSERT_NE(t, nullptr);
            ASSERT_EQ(t->getStatus(), ekOkay);
            ASSERT_EQ(t->count, k.pages);
        }
        const ekPage* first = tiles[0]->requests[0].page;
        for (int i = 0; i < k.pages; ++i) {
            const ekPage* p = tiles[0]->requests[i].page;
            ASSERT_NE(p, nullptr);
            if (k.copies) {
                EXPECT_NE(p->getData(), static_cast<void*>(src.data.data()));
                EXPECT_TRUE(holdsPageBox(*img, p));
            } else {
                EXPECT_EQ(tiles[0]->requests[i].c, i);
                EXPECT_EQ(p->getData(), static_cast<ekMemoryImg*>(img)->getDataPtr());
                EXPECT_EQ(p->matches(0, 0, 0, 0), 1);
            }
        }
        tiles[1].reset();                         // one deleted before the image
        EXPECT_TRUE(k.copies || first->Valid());  // the shared page is still the image's
        if (!k.copies) {  // and every request inside gets it again, others none
            ekPage stale;
            ekLockRequest r[2];
            r[0].init(k.w - 1, k.h - 1, 1, 2);
            r[1].init(0, 0, 0, 3);  // no channel 3
            for (ekLockRequest& q : r) q = {q.x, q.y, q.z, q.c, ekNoMemory, &stale};
            ASSERT_EQ(img->lockPageSet(r, 0, 1), ekOkay);
            EXPECT_EQ(r[1].status, ekNoMemory);  // never past the count
            ASSERT_EQ(img->lockPageSet(r, 0, 2), ekOkay);
            EXPECT_TRUE(r[0].page == first && r[1].page == nullptr);
            EXPECT_TRUE(r[0].status == ekOkay && r[1].status == ekOkay);
            img->unlockPageSet(r, 2);
        }
        tiles[1].reset(img->lockTile(-9, 0, 5, 5, nullptr, 0));  // wholly outside: no page
        EXPECT_EQ(tiles[1]->count, 0);
        EXPECT_EQ(tiles[1]->getStatus(), ekOkay);
        delete img;
        for (auto& t : tiles) {
            EXPECT_EQ(t->image, nullptr);
            EXPECT_EQ(t->requests, nullptr);
            EXPECT_EQ(t->count, 0);
        }
    }
    PagedImage paged(src.img, {10, 6, 1, 3});
    EXPECT_EQ(ekSubImg(&paged, nullptr).hasPages(), 1);
}

// A copy of a page would outlive the page it stands for; an assignment would
// release one buffer twice.
static_assert(!std::is_copy_constructible<ekPage>::value &&
                  !std::is_copy_assignable<ekPage>::value &&
                  !std::is_copy_constructible<ekImagePage>::value &&
                  !std::is_copy_assignable<ekImagePage>::value,
              "pages are not copyable");

// A page that counts its destruction.
struct CountedPage : ekPage {
    explicit CountedPage(int* n) : destroyed(n) {}
    ~CountedPage() override { ++*destroyed; }
    int* destroyed;
};

// Handles, their release by the base image, and the part of a page inside
// the image (the paged image's records are the randomized test's).
TEST(Page, HandlesReleaseAndRecords) {
    ekPage none;
    EXPECT_TRUE(none.Valid() && none.getData() == nullptr && none.matches(-1, -1, -1, -1) == 1);
    int pixels = 0;
    ekPage p(1, 2, 3, 4, &pixels);
    EXPECT_TRUE(p.matches(1, 2, 3, 4) == 1 && p.matches(1, 2, 3, 5) == 0);
    EXPECT_EQ(p.getData(), &pixels);
    p.magic = ekPage::kDeadMagic;  // what the destructor leaves behind
    EXPECT_FALSE(p.Valid() || p.getData() != nullptr || p.matches(1, 2, 3, 4) != 0);
    ekImagePage owned(1, 2, 3, 4, 64);
    EXPECT_EQ(owned.matches(1, 2, 3, 4), 1);
    ASSERT_NE(owned.getData(), nullptr);
    std::memset(owned.getData(), 0xAB, 64);  // the whole buffer is writable

    Pixels3D src;
    PagedImage img(src.img, {10, 6, 1, 3});
    int destroyed = 0;
    ekLockRequest r[3] = {{0, 0, 0, 0, ekOkay, new CountedPage(&destroyed)},
                          {0, 0, 0, 0, ekOkay, nullptr},
                          {0, 0, 0, 0, ekOkay, new CountedPage(&destroyed)}};
    img.ekImage::unlockPageSet(r, 3);
    EXPECT_EQ(destroyed, 2);
    img.unlockPage(new CountedPage(&destroyed));
    EXPECT_EQ(destroyed, 3);

    // A memory image has one page, the whole image; without an image nothing
    // lies inside.
    const ekPgCB cb(&src.img, 10, 0, 0, 1), out(nullptr, 5, 6, 7, 8);
    EXPECT_EQ(std::vector<int>({cb.x, cb.y, cb.z, cb.c, cb.nx, cb.ny, cb.nz, cb.nc}),
              std::vector<int>({10, 0, 0, 1, 10, 12, 2, 2}));
    EXPECT_EQ(std::vector<int>({out.x, out.y, out.z, out.c, out.nx, out.ny, out.nz, out.nc}),
              std::vector<int>({5, 6, 7, 8, 0, 0, 0, 0}));
}

}  // namespace
