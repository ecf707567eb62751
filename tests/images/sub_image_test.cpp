// SPDX-License-Identifier: Apache-2.0
// Sub-image view: randomized reads, writes and copies through random views
// (and views of views), against a reference that maps every buffer element by
// hand through the caller's space, the view's window and the parent's space;
// then the directed cases the draws do not reach.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#include "random_caller.h"

namespace {

const int64_t kSentinel = 200;  // no value or fill of the tests

// An image read whole, in its own space: values[((z*h + y)*w + x)*c + ch].
struct Snapshot {
    int w, h, d, c, cs;
    std::vector<double> values, fill;
    explicit Snapshot(ekImage& img) {
        ekSize s;
        img.getSize(s);
        w = s.x, h = s.y, d = s.z, c = s.c, cs = img.getCoordSpace();
        values.assign(size_t(w) * h * d * c, 200.0);  // untouched: kSentinel
        ekConfig cfg(ekDouble, ekInterleaved, c);
        EXPECT_EQ(img.getTile3D(0, 0, 0, w, h, d, values.data(), &cfg), ekOkay);
        for (int k = 0; k < c; ++k) fill.push_back(img.getFillValue(k));
    }
    bool inside(int64_t x, int64_t y, int64_t z) const {
        return x >= 0 && x < w && y >= 0 && y < h && z >= 0 && z < d;
    }
    double& at(int64_t x, int64_t y, int64_t z, int k) {
        return values[((size_t(z) * h + y) * w + x) * c + k];
    }
    double get(int64_t x, int64_t y, int64_t z, int k) const {
        return inside(x, y, z) ? values[((size_t(z) * h + y) * w + x) * c + k] : fill[size_t(k)];
    }
};

// One random view (of a memory image, or of another view) and a caller layout.
struct Case : Caller {
    int sx, sy, sz, sc;
    std::vector<int> viewList;  // empty: channels from sc on
    int viewCs;                 // 0: follows the parent
    ekType viewType;            // ekAnyType: follows the parent
    int nx, ny, nz, vc;         // extents given to the view (0: not given)
    std::string describe() const {
        std::ostringstream o;
        o << "view start " << sx << "," << sy << "," << sz << " c" << sc << " size " << nx << "x"
          << ny << "x" << nz << "x" << vc << " cs " << viewCs << " type " << viewType << " list";
        for (int v : viewList) o << " " << v;
        o << "; " << Caller::describe();
        return o.str();
    }
};

// A view with a window that covers the parent exactly when `whole`.
std::unique_ptr<ekSubImg> makeView(Rng& g, ekImage& parent, Case& t, bool duplicates,
                                   bool whole = false) {
    ekSize ps;
    parent.getSize(ps);
    t.sx = whole ? 0 : g.in(-2, ps.x);
    t.sy = whole ? 0 : g.in(-2, ps.y);
    t.sz = whole || g.chance(75) ? 0 : g.in(-1, ps.z - 1);  // most in the parent's first plane
    // Now and then a window at the 32-bit limits, far outside the parent.
    if (!whole && g.chance(5)) (g.chance(50) ? t.sx : t.sy) = g.nearLimit(4);
    t.sc = g.in(0, ps.c - 1);
    t.nx = !whole && g.chance(80) ? g.in(1, ps.x + 2) : 0;
    t.ny = t.nx != 0 ? g.in(1, ps.y + 2) : 0;
    t.nz = t.nx != 0 && g.chance(50) ? g.in(1, ps.z + 1) : 0;
    t.vc = t.nz != 0 ? g.in(1, ps.c - t.sc) : 0;
    t.viewList.clear();
    // The view's own configuration: a channel list, now and then a type and order.
    ekType ownType = ekAnyType;
    ekOrder ownOrder = ekAnyOrder;
    std::unique_ptr<ekSubImg> v;
    if (g.chance(30)) {
        const int n = g.in(1, ps.c + 1);
        t.viewList = randomList(g, n, -1, ps.c - 1, duplicates);
        if (g.chance(30)) ownType = kFewTypes[g.in(0, 4)];
        if (g.chance(30)) ownOrder = kOrders[g.in(0, 2)];
        ekConfig own(ownType, ownOrder, n, t.viewList.data());
        v.reset(new ekSubImg(&parent, &own));
        v->setStart(t.sx, t.sy, t.sz);
        t.sc = 0;
        if (t.nx != 0) v->setSize(t.nx, t.ny);
        t.nz = t.vc = 0;
    } else if (t.vc != 0) {
        v.reset(new ekSubImg(&parent, t.sx, t.sy, t.sz, t.sc, t.nx, t.ny, t.nz, t.vc, nullptr));
    } else {
        t.nz = t.nx != 0 ? g.in(1, ps.z + 1) : 0;
        v.reset(t.nx != 0 ? new ekSubImg(&parent, t.sx, t.sy, t.sz, t.nx, t.ny, t.nz, nullptr)
                          : new ekSubImg(&parent, nullptr));
        v->setStart(t.sx, t.sy, t.sz, t.sc);
    }
    t.viewCs = g.chance(50) ? g.in(1, 8) : 0;
    if (t.viewCs != 0) v->setCoordSpace(ekCoordSpace(t.viewCs));
    t.viewType = g.chance(30) ? kFewTypes[g.in(0, 4)] : ekAnyType;
    if (t.viewType != ekAnyType) v->setDataType(t.viewType);
    // What was not given or set follows the parent (its extents as seen in
    // the view's space).
    ekSize vs;
    v->getSize(vs);
    const bool swap =
        t.viewCs != 0 && flagsOf(t.viewCs).trans != flagsOf(parent.getCoordSpace()).trans;
    const int c = !t.viewList.empty() ? int(t.viewList.size()) : t.vc != 0 ? t.vc : ps.c;
    const int wx = swap ? ps.y : ps.x, wy = swap ? ps.x : ps.y;
    // The own configuration is applied at every reset: its type wins.
    const int type = ownType != ekAnyType      ? ownType
                     : t.viewType != ekAnyType ? t.viewType
                                               : parent.getDataType();
    EXPECT_EQ(
        (std::vector<int>{vs.x, vs.y, vs.z, vs.c, v->getDataType(), v->getOrder()}),
        (std::vector<int>{t.nx != 0 ? t.nx : wx, t.ny != 0 ? t.ny : wy, t.nz != 0 ? t.nz : ps.z, c,
                          type, ownOrder != ekAnyOrder ? ownOrder : parent.getOrder()}))
        << t.describe();
    return v;
}

// What a buffer element shows: a parent position (64 bits: it may pass the
// 32-bit limits) and channel (p < 0: untouched), or the view's fill.
struct Target {
    int64_t x, y, z;
    int p;
    bool fill;
};

struct Model {
    const Case& t;
    const Snapshot& parent;
    ekSize vs;
    int vcs;
    Model(const Case& c, const Snapshot& p, ekSubImg& view) : t(c), parent(p) {
        view.getSize(vs);
        vcs = view.getCoordSpace();
    }
    int parentChannel(int v) const {
        if (v < 0 || v >= vs.c) return -1;
        const int p =
            t.viewList.empty() ? t.sc + v : (v < int(t.viewList.size()) ? t.viewList[v] : -1);
        return p >= 0 && p < parent.c ? p : -1;
    }
    int viewChannel(int k) const {
        const int v = t.chanOf(k);
        return v >= 0 && v < vs.c ? v : -1;
    }
    // Caller position (X, Y, Z), buffer channel k.
    Target target(int64_t X, int64_t Y, int64_t Z, int k, bool clip) const {
        Target out{0, 0, 0, -1, false};
        const int v = viewChannel(k);
        if (v < 0) return out;
        out.p = parentChannel(v);
        int64_t u = X, w = Y;
        if (t.cs != 0) mapPoint(t.cs, vcs, vcs, vs.x, vs.y, u, w);
        if (clip && !(u >= 0 && u < vs.x && w >= 0 && w < vs.y && Z >= 0 && Z < vs.z)) {
            out.fill = true;
            return out;
        }
        u += t.sx;
        w += t.sy;
        // The parent's pixels seen in the view's space, back to its own.
        mapPoint(vcs, parent.cs, parent.cs, parent.w, parent.h, u, w);
        out.x = u;
        out.y = w;
        out.z = Z + t.sz;
        return out;
    }
};

void checkRead(Case& t, ekSubImg& view, const Snapshot& parent, const std::string& where) {
    const Model m(t, parent, view);
    std::vector<unsigned char> buf(bufferBytes(t.ct, t.elements()) + 16);
    for (int64_t i = 0; i < t.elements(); ++i) writeElement(t.ct, buf.data(), i, kSentinel);
    std::vector<unsigned char> want = buf;
    t.forEachRequested([&](int i, int j, int l, int64_t X, int64_t Y, int64_t Z) {
        for (int k = 0; k < t.nc; ++k) {
            const Target g = m.target(X, Y, Z, k, true);
            if (m.viewChannel(k) < 0 || (!g.fill && g.p < 0)) continue;
            const double v = !g.fill    ? parent.get(g.x, g.y, g.z, g.p)
                             : g.p >= 0 ? parent.fill[size_t(g.p)]
                                        : 0.0;
            writeElement(t.ct, want.data(), t.index(i, j, l, k), int64_t(v));
        }
    });
    ASSERT_EQ(t.move(view, false, buf.data()), ekOkay) << where;
    EXPECT_EQ(buf, want) << where << ": parent " << parent.w << "x" << parent.h << "x" << parent.d
                         << "x" << parent.c << " cs " << parent.cs << "\n"
                         << t.describe();
}

void checkWrite(Case& t, ekSubImg& view, ekImage& parentImg, const std::string& where) {
    Snapshot want(parentImg);
    const Model m(t, want, view);
    std::vector<unsigned char> buf(bufferBytes(t.ct, t.elements()) + 16);
    for (int64_t e = 0; e < t.elements(); ++e) writeElement(t.ct, buf.data(), e, 1 + e * 37 % 99);
    t.forEachRequested([&](int i, int j, int l, int64_t X, int64_t Y, int64_t Z) {
        for (int k = 0; k < t.nc; ++k) {
            const Target g = m.target(X, Y, Z, k, false);
            // A parent channel that shows nothing keeps reading as untouched.
            if (g.p >= 0 && want.inside(g.x, g.y, g.z) &&
                want.at(g.x, g.y, g.z, g.p) != double(kSentinel))
                want.at(g.x, g.y, g.z, g.p) =
                    double(readElement(t.ct, buf.data(), t.index(i, j, l, k)));
        }
    });
    ASSERT_EQ(t.move(view, true, buf.data()), ekOkay) << where;
    EXPECT_EQ(Snapshot(parentImg).values, want.values)
        << where << ": parent " << want.w << "x" << want.h << "x" << want.d << "x" << want.c
        << " cs " << want.cs << " type " << parentImg.getDataType() << "\n"
        << t.describe();
}

// A memory image of random layout with distinct small values and fill.
std::unique_ptr<ekMemoryImg> makeParent(Rng& g) {
    const int w = g.in(1, 9), h = g.in(1, 9), d = g.in(1, 3), c = g.in(1, 5);
    std::unique_ptr<ekMemoryImg> img(
        new ekMemoryImg(ekSize(w, h, d, c), kFewTypes[g.in(0, 4)], kOrders[g.in(0, 2)]));
    img->setCoordSpace(ekCoordSpace(g.in(1, 8)));
    ekPixel fill(ekDouble, c);
    for (int k = 0; k < c; ++k) fill.setElem(100 + g.in(1, 20), k);
    img->setFill(fill);
    std::vector<double> v(size_t(w) * h * d * c);
    for (size_t i = 0; i < v.size(); ++i) v[i] = double(1 + (i * 37) % 99);
    ekConfig cfg(ekDouble, ekInterleaved, c);
    EXPECT_EQ(img->setTile3D(0, 0, 0, w, h, d, v.data(), &cfg), ekOkay);
    return img;
}

// Reads, and in two rounds of five writes, through a view of a random memory
// image or a view of such a view (whose inner window, when written, covers
// the root, so that every pixel read from it is the root's).
TEST(SubImageRandom, ReadsAndWritesMatchTheParentThroughTheWindow) {
    Rng g(8);
    for (int round = 0; round < 2500; ++round) {
        const bool write = round % 5 >= 3, nested = g.chance(30);
        std::unique_ptr<ekMemoryImg> root = makeParent(g);
        Case outer{}, inner{};
        std::unique_ptr<ekSubImg> view = makeView(g, *root, outer, !write, write && nested), top;
        if (nested) top = makeView(g, *view, inner, !write);
        Case& t = nested ? inner : outer;
        ekSubImg& v = nested ? *top : *view;
        ASSERT_EQ(v.getStatus(), ekOkay) << t.describe();
        t.draw(g, v, false, write, 80);
        ekImage& parent = nested ? static_cast<ekImage&>(*view) : *root;
        const std::string where =
            "round " + std::to_string(round) + (nested ? " outer " + outer.describe() : "");
        if (write)
            checkWrite(t, v, parent, where);
        else
            checkRead(t, v, Snapshot(parent), where);
        if (HasFailure()) return;
    }
}

// Writes a snapshot's values back.
void restore(ekImage& img, const Snapshot& s) {
    std::vector<double> v = s.values;
    const ekConfig cfg(ekDouble, ekInterleaved, s.c);
    EXPECT_EQ(img.setTile3D(0, 0, 0, s.w, s.h, s.d, v.data(), &cfg), ekOkay);
}

// Copies between a view and another image, both ways, against a read of the
// view's box and a write into other's (or the other way round): view channel
// k pairs with other's channel by the caller's list entry, offset plus k, or
// k. The boxes lie inside view, parent and other, in the parent's space.
TEST(SubImageRandom, CopiesMatchAReadAndAWrite) {
    Rng g(800);
    for (int round = 0; round < 700; ++round) {
        SCOPED_TRACE(round);
        std::unique_ptr<ekMemoryImg> root = makeParent(g);
        const ekCoordSpace cs = root->getCoordSpace();
        Case outer{}, t{};
        const bool nested = g.chance(30);  // a view of a view that covers the parent
        std::unique_ptr<ekSubImg> view = makeView(g, *root, outer, false, nested), top;
        view->setCoordSpace(cs);
        if (nested) top = makeView(g, *view, t, false);
        ekSubImg& v = top ? *top : *view;
        const Case& w = top ? t : outer;
        v.setCoordSpace(cs);
        ekSize vs;
        v.getSize(vs);
        // Inside the window's parent too: the read and the write are clipped,
        // the copy is not.
        ekImage& under = top ? static_cast<ekImage&>(*view) : *root;
        const int64_t start[3] = {w.sx, w.sy, w.sz}, ve[3] = {vs.x, vs.y, vs.z},
                      pe[3] = {std::min(under.getXsize(), root->getXsize()),
                               std::min(under.getYsize(), root->getYsize()),
                               std::min(under.getZsize(), root->getZsize())};
        int box[6];
        bool inside = vs.c > 0;
        for (int a = 0; a < 3 && inside; ++a) {
            const int64_t lo = std::max<int64_t>(0, -start[a]),
                          hi = std::min(ve[a], pe[a] - start[a]);
            inside = lo < hi;
            box[a] = inside ? g.in(int(lo), int(hi - 1)) : 0;
            box[3 + a] = inside ? g.in(1, int(hi - box[a])) : 0;
        }
        if (!inside) continue;
        // Other's channels by the caller's list or offset; no colour
        // conversion is asked for (without a list or offset other has the
        // parent's colour model).
        const bool withCfg = g.chance(70), useList = withCfg && g.chance(40);
        const int offset = withCfg && !useList && g.chance(60) ? g.in(1, 2) : 0;
        const int oc = offset != 0 || useList ? g.in(1, 5) : vs.c;
        if (offset == 0 && !useList && v.getColorModel() != root->getColorModel()) continue;
        const int nchans = withCfg && g.chance(60) ? g.in(1, vs.c) : 0;
        // Distinct entries: two view channels into one of other's would leave
        // the order of the writes to the copy.
        std::vector<int> list;
        if (useList) list = randomList(g, nchans != 0 ? nchans : vs.c, -1, oc, false);
        // A list that runs 0, 1, 2, ... stays a list, never a request to
        // convert colours (a fault once).
        if (useList && g.chance(25)) std::iota(list.begin(), list.end(), 0);
        const ekConfig cfg(ekAnyType, ekAnyOrder, nchans, useList ? list.data() : nullptr, offset);
        const int side = std::max(box[3], box[4]) + g.in(0, 2), od = box[5] + g.in(0, 1);
        ekMemoryImg other(ekSize(side, side, od, oc), kFewTypes[g.in(0, 4)], kOrders[g.in(0, 2)]);
        other.setCoordSpace(ekCoordSpace(g.in(1, 8)));
        if (offset == 0 && !useList && w.viewList.empty())
            other.setColorModel(root->getColorModel());
        Snapshot pattern(other);
        for (size_t i = 0; i < pattern.values.size(); ++i) pattern.values[i] = 1 + (i * 53) % 99;
        restore(other, pattern);
        const int o[3] = {g.in(0, side - box[3]), g.in(0, side - box[4]), g.in(0, od - box[5])};
        const int direction = g.in(0, 1);
        const Snapshot rootBefore(*root), otherBefore(other);  // restored for the reference
        ASSERT_EQ(v.copyTileCfg(box[0], box[1], box[2], box[3], box[4], box[5], &other, o[0], o[1],
                                o[2], withCfg ? &cfg : nullptr, direction),
                  ekOkay);
        const Snapshot rootCopied(*root), otherCopied(other);
        restore(*root, rootBefore);
        restore(other, otherBefore);
        // The view's box, read whole; a channel that shows nothing stays -1.
        std::vector<double> buf(size_t(box[3]) * box[4] * box[5] * vs.c, -1.0);
        const ekConfig viewAll(ekDouble, ekInterleaved, vs.c);
        ASSERT_EQ(v.getTile3D(box[0], box[1], box[2], box[3], box[4], box[5], buf.data(), &viewAll),
                  ekOkay);
        std::vector<int> pairs(size_t(vs.c), -1);
        for (int k = 0; k < vs.c; ++k) {
            const int e = !withCfg                             ? k
                          : k >= (nchans != 0 ? nchans : vs.c) ? -1
                          : useList                            ? list[size_t(k)]
                                                               : offset + k;
            pairs[size_t(k)] = buf[size_t(k)] >= 0 && e < oc ? e : -1;
        }
        const ekConfig otherSide(ekDouble, ekInterleaved, vs.c, pairs.data(), 0, cs);
        if (direction == 0) {
            ASSERT_EQ(
                other.setTile3D(o[0], o[1], o[2], box[3], box[4], box[5], buf.data(), &otherSide),
                ekOkay);
        } else {
            ASSERT_EQ(
                other.getTile3D(o[0], o[1], o[2], box[3], box[4], box[5], buf.data(), &otherSide),
                ekOkay);
            ASSERT_EQ(
                v.setTile3D(box[0], box[1], box[2], box[3], box[4], box[5], buf.data(), &viewAll),
                ekOkay);
        }
        EXPECT_EQ(rootCopied.values, Snapshot(*root).values);
        EXPECT_EQ(otherCopied.values, Snapshot(other).values);
        if (HasFailure()) return;
    }
}

// What the randomized views do not draw: page geometry, colour model and
// range, the start channel, following a changed parent, the own
// configuration's lifetime, refused copies, views of a constant, lost parents.
TEST(SubImage, PagesRangeStartAndFollowingTheParent) {
    ekMemoryImg parent(ekSize(100, 100, 1, 4), ekUChar, ekInterleaved);
    ekSubImg view(&parent, 10, 20, 0, 2, 4, 3, 1, 2, nullptr);  // channels 2..3
    EXPECT_EQ(view.hasPages(), parent.hasPages());
    EXPECT_EQ(view.getPageSizeX(), 100);  // the parent's one page
    EXPECT_EQ(view.setPageSize(2, 2, 1, 1), ekNotAllowed);
    EXPECT_NE(view.getColorModel(), parent.getColorModel());  // derived from 2 channels
    EXPECT_EQ(view.getScaleMax(), 255.0);                     // from the parent's range
    int x, y, z, c;
    view.setStart(3, 4, 0);
    view.getStart(x, y, z, c);
    EXPECT_EQ(std::vector<int>({x, y, z, c}), std::vector<int>({3, 4, 0, 0}));  // channel 0 again

    ekSubImg whole(&parent, nullptr);
    EXPECT_EQ(whole.getColorModel(), parent.getColorModel());
    parent.setSize(ekSize(8, 7, 1, 3));
    parent.setDataType(ekFloat);
    EXPECT_EQ(std::vector<int>(
                  {whole.getXsize(), whole.getYsize(), whole.getCsize(), whole.getDataType()}),
              std::vector<int>({8, 7, 3, ekFloat}));
}

TEST(SubImage, OwnConfigurationIsCopiedAndReleased) {
    ekMemoryImg parent(ekSize(4, 4, 1, 3), ekUChar, ekInterleaved);
    unsigned char px[3] = {10, 11, 12}, b[3] = {};
    ASSERT_EQ(parent.setTile(1, 1, 1, 1, px, nullptr), ekOkay);
    int list[3] = {2, 1, 0};
    ekConfig own(ekAnyType, ekAnyOrder, 3, list);
    ekSubImg view(&parent, &own);
    list[0] = 0;  // the view keeps its own copy
    ASSERT_EQ(view.getTile(1, 1, 1, 1, b, nullptr), ekOkay);
    EXPECT_EQ(std::vector<int>(b, b + 3), std::vector<int>({12, 11, 10}));
    view.setConfig(nullptr);  // released: nothing left dangling
    view.setStart(0, 0, 0, 1);
    ASSERT_EQ(view.getTile(1, 1, 1, 1, b, nullptr), ekOkay);
    EXPECT_EQ(b[0], 11);
    // A colour model and a bit type in the configuration are the view's.
    ekConfig minWhite(ekAnyType, ekAnyOrder, 1, nullptr, 0, ekCoordSpace(0), ekMinWhite);
    EXPECT_EQ(ekSubImg(&parent, &minWhite).getColorModel(), ekMinWhite);
    ekConfig bits(ekBit, ekAnyOrder, 0);
    EXPECT_EQ(ekSubImg(&parent, &bits).getDataType(), ekBit);
    // A list that shows one parent channel twice cannot be written back.
    int twice[2] = {1, 1};
    ekConfig dup(ekAnyType, ekAnyOrder, 2, twice);
    ekSubImg doubled(&parent, &dup);
    ekMemoryImg out(ekSize(3, 3, 1, 2), ekUChar, ekInterleaved);
    EXPECT_EQ(doubled.copyTileCfg(0, 0, 0, 1, 1, 1, &out, 0, 0, 0, nullptr, 0), ekNoMemory);
    EXPECT_EQ(doubled.copyTileCfg(0, 0, 0, 1, 0, 1, &out, 0, 0, 0, nullptr, 0), ekOkay);  // empty
}

TEST(SubImage, ViewsOfAConstantAndLostParents) {
    std::unique_ptr<ekConstImg> value(new ekConstImg(ekPixel(ekUChar, 1)));
    value->setFillValue(5, 0);
    ekSubImg view(value.get(), 0, 0, 2, 1, nullptr);
    ekSubImg top(&view, 1, 0, 2, 1, nullptr);
    unsigned char b[2] = {};
    EXPECT_EQ(top.getTile(0, 0, 2, 1, b, nullptr), ekOkay);
    EXPECT_EQ(b[0] * 10 + b[1], 55);  // the inner view's fill is the constant's value
    EXPECT_EQ(view.setTile(0, 0, 1, 1, b, nullptr), ekNotAllowed);
    value.reset();  // the views lose their input: no dangling read
    EXPECT_EQ(view.getStatus(), ekBadInput);
    EXPECT_EQ(top.getTile(0, 0, 1, 1, b, nullptr), ekBadInput);
    EXPECT_EQ(view.hasPages(), 0);
    EXPECT_EQ(ekSubImg(nullptr, nullptr).getStatus(), ekBadInput);
}

}  // namespace
