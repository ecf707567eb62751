// SPDX-License-Identifier: Apache-2.0
// Page locking: copied pages of the base image, the memory image's shared
// page, locked tiles and page geometry records.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <tuple>
#include <vector>

#include "test_images.h"

namespace {

using Pos = std::tuple<int, int, int, int>;

// --- Single pages of the base image -------------------------------------------

TEST(LockPage, CopiesThePageBoxOrGivesNoPageOutside) {
    const struct {
        const char* name;
        int border, x, y, z, c;
        bool page;  // a page comes back
    } cases[] = {
        {"first page", 0, 0, 0, 0, 0, true},
        {"last page of the 2 x 2 grid", 0, 10, 6, 1, 0, true},
        {"second channel block", 0, 10, 0, 0, 2, true},
        {"low border is a position", 2, -2, -2, 0, 0, true},
        {"beyond the low border", 2, -3, 0, 0, 0, false},
        {"x at the width", 0, 20, 0, 0, 0, false},
        {"channel at the count", 0, 0, 0, 0, 3, false},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        Pixels3D src;
        PagedImage img(src.img, {10, 6, 1, 2}, {k.border, k.border, 0, 0});
        ekStatus s = ekBadInput;
        ekPage* p = img.lockPage(k.x, k.y, k.z, k.c, s, 0x401);
        EXPECT_EQ(s, ekOkay);
        EXPECT_EQ(img.lastMode, 0x401);  // handed down unchanged
        ASSERT_EQ(p != nullptr, k.page);
        if (p == nullptr) continue;
        EXPECT_EQ(p->matches(k.x, k.y, k.z, k.c), 1);
        EXPECT_TRUE(holdsPageBox(img, p));
        img.unlockPage(p);
        EXPECT_EQ(img.unlockCalls, 1);
    }
}

TEST(LockPage, FailuresGiveNoPageAndTheirStatus) {
    Pixels3D src;
    PagedImage broken(src.img, {10, 6, 1, 3});
    broken.setStatus(ekBadAttribute);
    ekStatus s = ekOkay;
    EXPECT_EQ(broken.lockPage(0, 0, 0, 0, s, 0), nullptr);
    EXPECT_EQ(s, ekBadAttribute);
    ekLockRequest untouched{1, 2, 3, 4, ekNoMemory, nullptr};
    EXPECT_EQ(broken.lockPageSet(&untouched, 0, 1), ekBadAttribute);
    EXPECT_EQ(untouched.status, ekNoMemory);

    PagedImage failing(src.img, {10, 6, 1, 3});
    failing.failFromX = 10;
    EXPECT_EQ(failing.lockPage(10, 0, 0, 0, s, 0), nullptr);
    EXPECT_EQ(s, ekBadInput);

    PagedImage emptyPages(src.img, {0, 6, 1, 3});
    EXPECT_EQ(emptyPages.lockPage(0, 0, 0, 0, s, 0), nullptr);
    EXPECT_EQ(s, ekNoMemory);
    PagedImage negative(src.img, {10, -6, -1, 3});  // a positive product of extents
    EXPECT_EQ(negative.lockPage(0, 0, 0, 0, s, 0), nullptr);
    EXPECT_EQ(s, ekNoMemory);
}

TEST(LockPage, PageSetKeepsTheOtherPagesWhenOneFails) {
    Pixels3D src;
    PagedImage img(src.img, {10, 6, 1, 3});
    img.failFromX = 10;
    ekPage stale;  // what a request may hold before the lock: overwritten
    ekLockRequest r[3] = {{0, 0, 0, 0, ekOkay, nullptr},
                          {10, 0, 0, 0, ekOkay, &stale},
                          {30, 0, 0, 0, ekNoMemory, &stale}};
    EXPECT_EQ(img.lockPageSet(r, 0, 3), ekBadInput);
    ASSERT_NE(r[0].page, nullptr);
    EXPECT_EQ(r[0].status, ekOkay);
    EXPECT_EQ(r[1].page, nullptr);
    EXPECT_EQ(r[1].status, ekBadInput);
    EXPECT_EQ(r[2].page, nullptr);
    EXPECT_EQ(r[2].status, ekOkay);  // outside: no page, no failure
    img.unlockPageSet(r, 3);
}

// A page that counts its destruction.
struct CountedPage : ekPage {
    explicit CountedPage(int* n) : destroyed(n) {}
    ~CountedPage() override { ++*destroyed; }
    int* destroyed;
};

TEST(LockPage, BaseUnlockDestroysEveryPageItIsGiven) {
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
}

// --- Locked tiles over the base image --------------------------------------------

struct TileCase {
    const char* name;
    ekTile tile;
    int border;
    const ekConfig* cfg;
    std::vector<Pos> pages;
};

TEST(LockTile, LocksEveryPageTheTileTouchesInIteratorOrder) {
    int list[2] = {2, 0};
    const ekConfig twoChans(ekUShort, ekInterleaved, 2, list);
    const ekConfig firstTwo(ekUShort, ekInterleaved, 2);
    const ekConfig lastChan(ekUShort, ekInterleaved, 1, nullptr, 2);
    const ekConfig upperLeft(ekUShort, ekInterleaved, 3, nullptr, 0, ekUpperLeft);
    const TileCase cases[] = {
        {"3 x 2 pages, x fastest",
         {1, 1, 0, 12, 8, 1},
         0,
         &firstTwo,
         {{0, 0, 0, 0}, {6, 0, 0, 0}, {12, 0, 0, 0}, {0, 5, 0, 0}, {6, 5, 0, 0}, {12, 5, 0, 0}}},
        {"both slices and channel blocks",
         {0, 0, 0, 1, 1, 2},
         0,
         nullptr,
         {{0, 0, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 2}, {0, 0, 1, 2}}},
        {"channel list picks blocks",
         {0, 0, 0, 1, 1, 1},
         0,
         &twoChans,
         {{0, 0, 0, 0}, {0, 0, 0, 2}}},
        {"channel offset", {0, 0, 0, 1, 1, 1}, 0, &lastChan, {{0, 0, 0, 2}}},
        {"clipped to the image", {18, 10, 0, 50, 50, 1}, 0, &lastChan, {{18, 10, 0, 2}}},
        {"wholly outside", {30, 0, 0, 5, 5, 1}, 0, nullptr, {}},
        {"border pages start one border low",
         {0, 0, 0, 7, 1, 1},
         1,
         &lastChan,
         {{-1, -1, 0, 2}, {5, -1, 0, 2}}},
        {"a tile in another space is mapped",
         {0, 0, 0, 1, 1, 1},
         0,
         &upperLeft,
         {{0, 10, 0, 0}, {0, 10, 0, 2}}},
    };
    for (const TileCase& k : cases) {
        SCOPED_TRACE(k.name);
        Pixels3D src;
        PagedImage img(src.img, {6 + 2 * k.border, 5 + 2 * k.border, 1, 2},
                       {k.border, k.border, 0, 0});
        const ekTile& t = k.tile;
        std::unique_ptr<ekLockedTile> lt(
            img.lockTile3D(t.x, t.y, t.z, t.nx, t.ny, t.nz, k.cfg, 0xC07));
        ASSERT_NE(lt, nullptr);
        EXPECT_EQ(lt->getStatus(), ekOkay);
        EXPECT_EQ(lt->image, &img);
        std::vector<Pos> got;
        for (int i = 0; i < lt->count; ++i) {
            const ekLockRequest& r = lt->requests[i];
            got.emplace_back(r.x, r.y, r.z, r.c);
            ASSERT_NE(r.page, nullptr);
            EXPECT_EQ(r.page->matches(r.x, r.y, r.z, r.c), 1);
            EXPECT_TRUE(holdsPageBox(img, r.page));
        }
        EXPECT_EQ(got, k.pages);
        if (!k.pages.empty()) {
            EXPECT_EQ(img.lastMode, 0x007);  // 0x400 and 0x800 kept back
        }
        lt.reset();
        EXPECT_EQ(img.unlockCalls, 1);
    }
}

TEST(LockTile, FailedLockReleasesThePagesItFilled) {
    Pixels3D src;
    PagedImage img(src.img, {10, 6, 1, 3});
    img.failFromX = 10;
    std::unique_ptr<ekLockedTile> lt(img.lockTile3D(0, 0, 0, 20, 6, 1, nullptr, 0));
    ASSERT_NE(lt, nullptr);
    EXPECT_EQ(lt->getStatus(), ekBadInput);
    ASSERT_EQ(lt->count, 2);
    EXPECT_NE(lt->requests[0].page, nullptr);
    EXPECT_EQ(lt->requests[1].page, nullptr);
    lt.reset();  // the page at x = 0 is released (the leak checker would see it)
    EXPECT_EQ(img.unlockCalls, 1);

    // A lock that filled nothing is not undone.
    img.failFromX = 0;
    lt.reset(img.lockTile3D(0, 0, 0, 20, 6, 1, nullptr, 0));
    ASSERT_NE(lt, nullptr);
    EXPECT_EQ(lt->getStatus(), ekBadInput);
    lt.reset();
    EXPECT_EQ(img.unlockCalls, 1);

    img.setStatus(ekBadAttribute);
    EXPECT_EQ(img.lockTile3D(0, 0, 0, 1, 1, 1, nullptr, 0), nullptr);
}

// --- The memory image's shared page -----------------------------------------------

TEST(LockTile, MemoryImageSharesOnePageIntoItsBuffer) {
    for (ekOrder order : {ekInterleaved, ekSequential, ekSeparate}) {
        Pixels3D src(order);
        std::unique_ptr<ekLockedTile> lt(src.img.lockTile3D(3, 4, 0, 5, 5, 2, nullptr, 0));
        ASSERT_NE(lt, nullptr);
        EXPECT_EQ(lt->getStatus(), ekOkay);
        ASSERT_EQ(lt->count, order == ekSeparate ? 3 : 1);  // one per channel block
        for (int i = 0; i < lt->count; ++i) {
            EXPECT_EQ(lt->requests[i].c, i);
            EXPECT_EQ(lt->requests[i].page->getData(), src.data.data());
        }
        const ekPage* page = lt->requests[0].page;
        lt.reset();
        EXPECT_TRUE(page->Valid());  // still the image's after the tile let go
        lt.reset(src.img.lockTile(-9, 0, 5, 5, nullptr, 0));
        EXPECT_EQ(lt->count, 0);
        EXPECT_EQ(lt->getStatus(), ekOkay);
    }
}

// --- Page records -------------------------------------------------------------------

TEST(PgCB, PartOfThePageInsideTheImage) {
    Pixels3D src;
    ekMemoryImg wide(ekSize(100, 40, 1, 3), ekUChar, ekInterleaved);
    PagedImage paged(wide, {64, 32, 1, 2}, {2, 2, 0, 0});
    const struct {
        ekImage* img;
        int x, y, z, c;
        int nx, ny, nz, nc;
    } cases[] = {
        {&paged, 0, 0, 0, 0, 64, 32, 1, 2},
        {&paged, 64, 32, 0, 2, 38, 10, 1, 1},  // size + border - position
        {&paged, -2, -2, 0, 0, 64, 32, 1, 2},
        {&wide, 10, 0, 0, 1, 90, 40, 1, 2},  // one page: the whole image
        {nullptr, 5, 6, 7, 8, 0, 0, 0, 0},
    };
    for (const auto& k : cases) {
        const ekPgCB cb(k.img, k.x, k.y, k.z, k.c);
        EXPECT_EQ(std::vector<int>({cb.x, cb.y, cb.z, cb.c, cb.nx, cb.ny, cb.nz, cb.nc}),
                  std::vector<int>({k.x, k.y, k.z, k.c, k.nx, k.ny, k.nz, k.nc}));
    }
}

TEST(ImagePage, OwnsABufferOfTheGivenSize) {
    ekImagePage p(1, 2, 3, 4, 64);
    EXPECT_EQ(p.matches(1, 2, 3, 4), 1);
    ASSERT_NE(p.getData(), nullptr);
    std::memset(p.getData(), 0xAB, 64);  // the whole buffer is writable
    const ekImagePage none(0, 0, 0, 0, 0);
    EXPECT_EQ(none.getData(), nullptr);
    EXPECT_TRUE(none.Valid());
}

TEST(Page, CopiesShareThePositionAndTheData) {
    int pixels = 0;
    const ekPage src(1, 2, 3, 4, &pixels);
    ekPage assigned;
    assigned = src;
    const ekPage constructed(src);
    for (const ekPage* p : {static_cast<const ekPage*>(&assigned), &constructed}) {
        EXPECT_EQ(p->matches(1, 2, 3, 4), 1);
        EXPECT_EQ(p->getData(), &pixels);
    }
}

}  // namespace
