// SPDX-License-Identifier: Apache-2.0
// Randomized reads, writes, fills and copies (within one image too) of memory
// and constant images in every layout, compared byte for byte with a
// reference that works element by element from the buffer's element-index
// table and the tests' own model of the coordinate spaces.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "random_caller.h"

namespace {

// A value as it lands in an element of type t: whole numbers 0..100 are exact
// in every type, and a bit stores whether the value is non-zero.
int64_t landed(ekType t, int64_t v) { return t == ekBit ? (v != 0) : v; }

const size_t kGuard = 16;

// A memory image of random layout over a borrowed buffer between guard bytes,
// values 0..100 (0..1 for ekBit) and a fill pixel of 0..100; or a constant of
// that fill pixel with c channels, which has no pixel inside.
struct RandomImage {
    int w, h, d, c, cs, nf;  // nf: elements of the fill pixel
    ekType type;
    ekOrder order;
    std::vector<int64_t> fill;         // widened to (at least) c elements
    std::vector<unsigned char> bytes;  // guard, buffer, guard
    std::unique_ptr<ekImage> img;
    bool constant;

    RandomImage(Rng& rng, int channels, int maxW, int maxH, int maxD, bool isConstant = false)
        : c(channels), constant(isConstant) {
        w = rng.in(1, maxW), h = rng.in(1, maxH), d = rng.in(1, maxD), cs = rng.in(1, 8);
        type = kTypes[rng.in(0, 8)];
        order = kOrders[rng.in(0, 2)];
        // A fill pixel of fewer elements repeats its last one over the rest.
        // A constant's value may have more elements than its channels, be of
        // bytes (its direct memset and word fills) and all zero.
        nf = rng.chance(20) ? rng.in(1, constant ? c + 2 : c) : c;
        const bool zero = constant && rng.chance(20);
        ekPixel f(constant && rng.chance(50) ? ekUChar : ekDouble, nf);
        for (int m = 0; m < std::max(c, nf); ++m) {
            fill.push_back(m < nf ? (zero ? 0 : rng.in(0, 100)) : fill.back());
            if (m < nf) f.setElem(double(fill.back()), m);
        }
        const int64_t n = int64_t(w) * h * d * c;
        bytes.assign(kGuard + bufferBytes(type, n) + kGuard, 0xA5);
        for (int64_t i = 0; i < n; ++i)
            writeElement(type, pixels(), i, rng.in(0, type == ekBit ? 1 : 100));
        if (constant) {
            img.reset(new ekConstImg(f));
            EXPECT_EQ(img->getCsize(), nf);  // the first reset takes the value's count
            img->setCsize(c);
        } else {
            img.reset(new ekMemoryImg(pixels(), ekSize(w, h, d, c), type, order));
            img->setFill(f);
        }
        img->setCoordSpace(ekCoordSpace(cs));
    }
    unsigned char* pixels() { return bytes.data() + kGuard; }
    // What a copy out of this image writes outside it: the fill, or zeros
    // when the fill pixel has not one element per channel (a copy within the
    // image and a constant always give the fill).
    int64_t copyFill(int m, bool self) const {
        return self || constant || nf == c ? fill[size_t(m)] : 0;
    }
    bool inside(int64_t x, int64_t y, int64_t z) const {
        return !constant && x >= 0 && x < w && y >= 0 && y < h && z >= 0 && z < d;
    }
    int64_t index(int x, int y, int z, int m) const {
        return elementIndex(order, c, w, h, d, x, y, z, m);
    }
    int64_t get(int x, int y, int z, int m) {
        return readElement(type, pixels(), index(x, y, z, m));
    }
    // Sets an element in a copy of the bytes.
    void put(std::vector<unsigned char>& copy, int x, int y, int z, int m, int64_t v) const {
        writeElement(type, copy.data() + kGuard, index(x, y, z, m), landed(type, v));
    }
    // Image position of a position in space `from` (0: the image's own), and back.
    void toImage(int from, int64_t& x, int64_t& y) const {
        if (from != 0) mapPoint(from, cs, cs, w, h, x, y);
    }
    void fromImage(int to, int64_t& x, int64_t& y) const {
        if (to != 0) mapPoint(cs, to, cs, w, h, x, y);
    }
    std::string describe() const {
        std::ostringstream s;
        s << w << "x" << h << "x" << d << "x" << c << " type " << type << " order " << order
          << " space " << cs;
        return s.str();
    }
};

// A random image (a constant when asked) and a caller layout for it.
struct Case : Caller {
    RandomImage im;

    // A constant, which has no pixels, is read over an extent of wide rows
    // (its word fills' long runs, of four channels half the time) in one
    // plane (requests near one buffer slice).
    Case(Rng& rng, bool uniqueChannels, bool constant = false)
        : im(rng, constant && rng.chance(50) ? 4 : rng.in(1, 4), constant ? 40 : 7, 6,
             constant ? 1 : 3, constant) {
        if (constant) im.img->setSize(ekSize(im.w, im.h, im.d, im.c));
        draw(rng, *im.img, true, uniqueChannels, constant ? 50 : 90);
        // Often a constant's configuration asks for its own layout (its
        // direct path), naming or leaving type and order, or differs from it
        // in one thing: type, order, channel list, offset or channel count.
        if (constant && useCfg && rng.chance(70)) {
            nchans = offset = 0;
            nc = im.c;
            list.clear();
            ct = im.img->getDataType();
            co = im.img->getOrder();
            ekType type = rng.chance(50) ? ct : ekAnyType;
            ekOrder order = rng.chance(50) ? co : ekAnyOrder;
            const int differs = rng.in(0, 5);
            if (differs == 1) ct = type = kTypes[rng.in(0, 8)];
            if (differs == 2) co = order = kOrders[rng.in(0, 2)];
            if (differs >= 3) nc = nchans = differs == 5 ? rng.in(1, im.c + 1) : im.c;
            if (differs == 3) list = randomList(rng, nc, -1, im.c - 1, true);
            if (differs == 4) offset = rng.in(1, 2);
            cfg = ekConfig(type, order, nchans, list.empty() ? nullptr : list.data(), offset,
                           cfg.coordSpace);
        }
    }
    bool validChan(int m) const { return m >= 0 && m < im.c; }
    // On a read the fill pixel (nf elements) is widened to the buffer's
    // channel count by repeating its last element.
    bool fillReaches(int m) const { return m >= 0 && m < std::max(im.nf, nc); }
    int64_t fillOf(int m) const { return im.fill[std::min(size_t(m), im.fill.size() - 1)]; }
    // A fill value of fewer elements than the image, from channel 0 without a
    // list, is widened over the remaining image channels.
    bool fillWidens() const { return list.empty() && offset == 0 && nc < im.c; }
    std::string describe() const { return "image " + im.describe() + "; " + Caller::describe(); }
};

const int kRounds = 2500;

TEST(MemoryImageRandom, ReadsMatchTheElementTable) {
    Rng rng(20261206);
    for (int round = 0; round < kRounds + 500; ++round) {
        Case k(rng, false, rng.chance(25));
        const int skew = rng.in(0, 7);  // unaligned buffers (the word fills' first stores)
        std::vector<unsigned char> buffer(skew + bufferBytes(k.ct, k.elements()) + kGuard);
        for (unsigned char& v : buffer) v = static_cast<unsigned char>(rng.in(0, 255));
        std::vector<unsigned char> expected = buffer;
        k.forEachRequested([&](int i, int j, int l, int64_t x, int64_t y, int64_t z) {
            k.im.toImage(k.cs, x, y);
            for (int ch = 0; ch < k.nc; ++ch) {
                const int m = k.chanOf(ch);
                const bool in = k.im.inside(x, y, z);
                if (in ? !k.validChan(m) : !k.fillReaches(m)) continue;
                const int64_t v = in ? k.im.get(x, y, z, m) : k.fillOf(m);
                writeElement(k.ct, expected.data() + skew, k.index(i, j, l, ch), landed(k.ct, v));
            }
        });
        ASSERT_EQ(k.move(*k.im.img, false, buffer.data() + skew), ekOkay)
            << round << ": " << k.describe();
        ASSERT_EQ(buffer, expected) << "round " << round << ": " << k.describe();
    }
}

TEST(MemoryImageRandom, WritesMatchTheElementTable) {
    Rng rng(777);
    for (int round = 0; round < kRounds; ++round) {
        Case k(rng, true);
        std::vector<unsigned char> buffer(bufferBytes(k.ct, k.elements()) + 1, 0);
        for (int64_t e = 0; e < k.elements(); ++e)
            writeElement(k.ct, buffer.data(), e, rng.in(0, k.ct == ekBit ? 1 : 100));
        std::vector<unsigned char> expected = k.im.bytes;
        k.forEachRequested([&](int i, int j, int l, int64_t x, int64_t y, int64_t z) {
            k.im.toImage(k.cs, x, y);
            if (!k.im.inside(x, y, z)) return;  // dropped
            for (int ch = 0; ch < k.nc; ++ch)
                if (k.validChan(k.chanOf(ch)))
                    k.im.put(expected, x, y, z, k.chanOf(ch),
                             readElement(k.ct, buffer.data(), k.index(i, j, l, ch)));
        });
        const std::vector<unsigned char> written = buffer;
        ASSERT_EQ(k.move(*k.im.img, true, buffer.data()), ekOkay) << round << ": " << k.describe();
        ASSERT_EQ(buffer, written) << "the source buffer changed: " << k.describe();
        ASSERT_EQ(k.im.bytes, expected) << "round " << round << ": " << k.describe();
    }
}

TEST(MemoryImageRandom, FillsMatchTheElementTable) {
    Rng rng(4242);
    for (int round = 0; round < kRounds; ++round) {
        Case k(rng, true);
        std::vector<unsigned char> value(bufferBytes(k.ct, k.nc) + 1, 0);
        for (int ch = 0; ch < k.nc; ++ch)
            writeElement(k.ct, value.data(), ch, rng.in(0, k.ct == ekBit ? 1 : 100));
        const bool nullValue = rng.chance(10);
        const bool withKeep = rng.chance(60);
        ekTile keep(
            clampInt(int64_t(k.r.x) + rng.in(-1, 2)), clampInt(int64_t(k.r.y) + rng.in(-1, 2)),
            clampInt(int64_t(k.r.z) + rng.in(-1, 1)), rng.in(0, 4), rng.in(0, 4), rng.in(0, 2));
        if (rng.chance(10)) keep = ekTile(INT_MIN, INT_MIN, INT_MIN, INT_MAX, INT_MAX, INT_MAX);
        auto valueOf = [&](int ch) { return nullValue ? 0 : readElement(k.ct, value.data(), ch); };
        // Every pixel whose position in the caller's space lies in the box and
        // outside the keep-out box.
        std::vector<unsigned char> expected = k.im.bytes;
        for (int z = 0; z < k.im.d; ++z)
            for (int y = 0; y < k.im.h; ++y)
                for (int x = 0; x < k.im.w; ++x) {
                    int64_t cx = x, cy = y;
                    k.im.fromImage(k.cs, cx, cy);
                    if (!inBox(k.r, cx, cy, z)) continue;
                    if (withKeep && !keep.empty() && inBox(keep, cx, cy, z)) continue;
                    for (int ch = 0; ch < k.nc; ++ch)
                        if (k.validChan(k.chanOf(ch)))
                            k.im.put(expected, x, y, z, k.chanOf(ch), valueOf(ch));
                    for (int m = k.nc; m < k.im.c && k.fillWidens(); ++m)
                        k.im.put(expected, x, y, z, m, valueOf(k.nc - 1));
                }
        ASSERT_EQ(k.im.img->fillTile3D(k.r.x, k.r.y, k.r.z, k.r.nx, k.r.ny, k.r.nz,
                                       nullValue ? nullptr : value.data(),
                                       k.useCfg ? &k.cfg : nullptr, withKeep ? &keep : nullptr),
                  ekOkay)
            << k.describe();
        ASSERT_EQ(k.im.bytes, expected) << "round " << round << ": " << k.describe() << " keep "
                                        << str(keep) << (withKeep ? "" : " (none)");
    }
}

TEST(MemoryImageRandom, CopiesInBothDirectionsMatchTheElementTables) {
    Rng rng(9001);
    for (int round = 0; round < kRounds; ++round) {
        const int c = rng.in(1, 4);
        // a copies, b is the other image or a itself; now and then one is a
        // constant, which copies its value and is never written.
        const int konst = rng.chance(20) ? rng.in(1, 2) : 0;
        RandomImage a(rng, c, 6, 5, 2, konst == 1), other(rng, c, 6, 5, 2, konst == 2);
        const bool self = konst == 0 && rng.chance(20);
        RandomImage& b = self ? a : other;
        // Channel selection on b's side: none, an offset, or a list naming a
        // distinct channel of b (or none) for each channel of a.
        std::vector<int> list;
        int offset = 0;
        const int kind = rng.in(0, 2);
        if (kind == 1) offset = rng.in(-1, 1);
        if (kind == 2) {  // distinct channels of b, or none
            list = randomList(rng, c, -1, c - 1, false);
            for (int& e : list)
                if (e < 0 && rng.chance(20)) e = kFar[rng.in(0, 3)];  // none either
        }
        // An explicit selection may name fewer channels than a has (from
        // channel 0 without a list that would ask for a colour conversion).
        const bool explicitly = kind == 2 || (kind == 1 && offset != 0);
        // A count of 0 stands for a's.
        const int n = explicitly && rng.chance(30) ? rng.in(1, c) : rng.chance(15) ? 0 : c;
        // Its type and order are replaced by a's: the data pass in a's layout.
        ekConfig cfg(kTypes[rng.in(0, 8)], kOrders[rng.in(0, 2)], n,
                     kind == 2 ? list.data() : nullptr, offset);
        auto chanOf = [&](int m) {
            if (m >= (n != 0 ? n : c)) return -1;
            const int g = kind == 2 ? list[size_t(m)] : m + offset;
            return g >= 0 && g < c ? g : -1;
        };
        ekTile box(rng.in(-2, a.w), rng.in(-2, a.h), rng.in(-1, a.d), rng.in(1, a.w + 2),
                   rng.in(1, a.h + 2), rng.in(1, 2));
        int ox = rng.in(-2, 6), oy = rng.in(-2, 6), oz = rng.in(-1, 1);
        // Now and then a box or other's origin at the 32-bit limits.
        if (rng.chance(10)) (rng.chance(50) ? box.x : box.y) = rng.nearLimit(4);
        if (rng.chance(10)) (rng.chance(50) ? ox : oy) = rng.nearLimit(4);
        if (rng.chance(5)) oz = rng.nearLimit(2);
        const int direction = rng.in(0, 1);
        const bool withCfg = kind != 0 || rng.chance(50);  // no selection: either form
        // A constant refuses a copy into it (the write, or the fill step for
        // a box outside a), and nothing changes.
        const bool refused = (konst == 1 && direction != 0) || (konst == 2 && direction == 0);

        std::vector<unsigned char> expectA = a.bytes, expectB = b.bytes;
        for (int l = 0; l < box.nz && !refused; ++l)
            for (int j = 0; j < box.ny; ++j)
                for (int i = 0; i < box.nx; ++i) {
                    const int64_t x = int64_t(box.x) + i, y = int64_t(box.y) + j,
                                  z = int64_t(box.z) + l;
                    // The same pixel in b: displaced in a's space, then mapped
                    // into b's own (a constant without a configuration: b's own).
                    int64_t bx = int64_t(ox) + i, by = int64_t(oy) + j;
                    const int64_t bz = int64_t(oz) + l;
                    if (withCfg || konst != 1) b.toImage(a.cs, bx, by);
                    const bool inA = a.inside(x, y, z), inB = b.inside(bx, by, bz);
                    for (int m = 0; m < c; ++m) {
                        const int g = chanOf(m);
                        if (g >= 0 && direction != 0 && inA)
                            a.put(expectA, x, y, z, m,
                                  inB ? b.get(bx, by, bz, g) : b.fill[size_t(g)]);
                        if (g >= 0 && direction == 0 && inB)
                            b.put(expectB, bx, by, bz, g,
                                  inA ? a.get(x, y, z, m) : a.copyFill(m, self));
                    }
                }
        const ekStatus st =
            a.img->copyTileCfg(box.x, box.y, box.z, box.nx, box.ny, box.nz, b.img.get(), ox, oy, oz,
                               withCfg ? &cfg : nullptr, direction);
        const std::string what = "round " + std::to_string(round) + ": a " + a.describe() + ", b " +
                                 b.describe() + ", direction " + std::to_string(direction) +
                                 " box " + str(box) + " konst " + std::to_string(konst);
        const bool fillStep = konst == 2 && st == ekNotImplemented;
        ASSERT_EQ(st, refused ? (fillStep ? ekNotImplemented : ekNotAllowed) : ekOkay) << what;
        // A copy within one image reads the whole source box before it writes.
        ASSERT_EQ(a.bytes, self && direction == 0 ? expectB : expectA) << what;
        if (!self) {
            ASSERT_EQ(b.bytes, expectB) << what;
        }
    }
}

// A constant's attributes follow its value: type and order are not the
// caller's to set; size, space and range are.
TEST(ConstImage, AttributesFollowTheValue) {
    ekConstImg img;  // one byte channel of 0, 128 x 128 pages
    EXPECT_EQ(img.getPageSizeX(), 128);
    unsigned char b[4] = {9, 9, 9, 9};
    EXPECT_EQ(img.getTile(0, 0, 2, 2, b, nullptr), ekOkay);
    EXPECT_EQ(std::vector<unsigned char>(b, b + 4), std::vector<unsigned char>(4, 0));
    const float rgb[3] = {0.5f, 1.5f, 2.5f};
    EXPECT_EQ(img.setFill(ekPixel(ekFloat, 3, rgb)), ekOkay);
    EXPECT_EQ((std::vector<int>{img.getCsize(), img.getDataType(), img.getColorModel()}),
              (std::vector<int>{3, ekFloat, ekRGB}));
    EXPECT_EQ(img.setDataType(ekShort), ekNotAllowed);
    EXPECT_EQ(img.setOrder(ekSeparate), ekNotAllowed);
    EXPECT_EQ(img.setSize(ekSize(300, 200, 2, 3)), ekOkay);
    EXPECT_EQ(img.setCoordSpace(ekUpperLeft), ekOkay);
    EXPECT_EQ(img.getXsize(), 300);
    EXPECT_EQ(img.setMaxValue(9.0, -1), ekOkay);  // the caller's range outlives a reset
    EXPECT_EQ(img.getMaxValue(2), 9.0);
}

}  // namespace
