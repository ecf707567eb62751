// SPDX-License-Identifier: Apache-2.0
// Randomized reads, writes and fills of memory images in every layout,
// compared byte for byte with a reference that works element by element from
// the buffer's element-index table and the coordinate mapping.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "images_test_util.h"

namespace {

const ekType kTypes[9] = {ekBit,   ekUChar, ekChar,  ekUShort, ekShort,
                          ekULong, ekLong,  ekFloat, ekDouble};
const ekOrder kOrders[3] = {ekInterleaved, ekSequential, ekSeparate};

bool transposedSpace(int cs) { return cs >= 5 && cs <= 8; }

// A value as it lands in an element of type t: whole numbers 0..100 are exact
// in every type, and a bit stores whether the value is non-zero.
int64_t landed(ekType t, int64_t v) { return t == ekBit ? (v != 0) : v; }

struct Rng {
    std::mt19937 gen;
    explicit Rng(uint32_t seed) : gen(seed) {}
    int in(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gen); }
    bool chance(int percent) { return in(0, 99) < percent; }
};

// One random image with its buffer (borrowed, between guard bytes) and a
// caller layout with a request box and a buffer box in the caller's space.
struct Case {
    // Image.
    int w, h, d, c;
    ekType it;
    ekOrder io;
    int ics;
    std::vector<int64_t> fillValues;
    // Caller.
    ekType ct;
    ekOrder co;
    int cs;
    int nchans;  // as given to the configuration (0: the image's count)
    int nc;      // effective
    int offset;
    bool useList;
    std::vector<int> list;
    ekTile r, b;

    // The image channel buffer channel k selects: list entry k (the list is
    // indexed by the buffer channel alone), or k + offset without a list.
    int chanOf(int k) const { return useList ? list[size_t(k)] : k + offset; }
    bool validChan(int m) const { return m >= 0 && m < c; }
    // Fill value of image channel m on a read: the fill pixel (c elements, no
    // list) is widened to the buffer's channel count by repeating its last
    // element, so channels c .. nc-1 read the last fill value.
    bool fillReaches(int m) const { return m >= 0 && m < std::max(c, nc); }
    int64_t fillOf(int m) const { return fillValues[size_t(std::min(m, c - 1))]; }
    // A fill value with fewer elements than the image, selected from channel
    // 0 without a list, is widened over the remaining image channels.
    bool fillWidens() const { return !useList && offset == 0 && nc < c; }

    std::string describe() const {
        std::ostringstream s;
        s << "image " << w << "x" << h << "x" << d << "x" << c << " type " << it << " order " << io
          << " space " << ics << "; caller type " << ct << " order " << co << " space " << cs
          << " nchans " << nchans << " offset " << offset << " list";
        if (useList)
            for (int v : list) s << " " << v;
        else
            s << " none";
        s << "; box " << r.x << "," << r.y << "," << r.z << " " << r.nx << "x" << r.ny << "x"
          << r.nz << "; buffer " << b.x << "," << b.y << "," << b.z << " " << b.nx << "x" << b.ny
          << "x" << b.nz;
        return s.str();
    }
};

Case randomCase(Rng& rng, bool uniqueChannels) {
    Case k;
    k.w = rng.in(1, 7);
    k.h = rng.in(1, 6);
    k.d = rng.in(1, 3);
    k.c = rng.in(1, 4);
    k.it = kTypes[rng.in(0, 8)];
    k.io = kOrders[rng.in(0, 2)];
    k.ics = rng.in(1, 8);
    for (int m = 0; m < k.c; ++m) k.fillValues.push_back(rng.in(0, 100));
    k.ct = kTypes[rng.in(0, 8)];
    k.co = kOrders[rng.in(0, 2)];
    k.cs = rng.in(0, 8);
    k.nchans = rng.chance(25) ? 0 : rng.in(1, k.c + 1);
    k.nc = k.nchans != 0 ? k.nchans : k.c;
    k.useList = rng.chance(40);
    if (k.useList) {
        k.offset = rng.in(0, 1);
        // Entries name image channels, -1 (none) or one past the last.
        std::vector<int> pool;
        for (int m = -1; m <= k.c; ++m) pool.push_back(m);
        for (int i = 0; i < k.nc; ++i) {
            if (uniqueChannels) {
                // Writes: no two buffer channels name the same image channel.
                const int pick = rng.in(0, int(pool.size()) - 1);
                k.list.push_back(pool[size_t(pick)]);
                if (pool[size_t(pick)] >= 0) pool.erase(pool.begin() + pick);
            } else {
                k.list.push_back(rng.in(-1, k.c));
            }
        }
    } else {
        k.offset = rng.in(-1, k.c - 1);
    }

    // Boxes in the caller's space, around the image's extent there.
    const bool swapped = k.cs != 0 && transposedSpace(k.cs) != transposedSpace(k.ics);
    const int W = swapped ? k.h : k.w, H = swapped ? k.w : k.h;
    k.r = ekTile(rng.in(-2, W), rng.in(-2, H), rng.in(-1, k.d), rng.in(1, W + 2), rng.in(1, H + 2),
                 rng.in(1, k.d + 1));
    switch (rng.in(0, 2)) {
        case 0:  // the whole-tile form: the buffer is the request
            k.b = k.r;
            break;
        case 1:  // a sub-tile of a larger buffer
            k.b = ekTile(k.r.x - rng.in(0, 2), k.r.y - rng.in(0, 2), k.r.z - rng.in(0, 1),
                         k.r.nx + rng.in(0, 4), k.r.ny + rng.in(0, 4), k.r.nz + rng.in(0, 1));
            break;
        default:  // a buffer that covers only part of the request
            k.b = ekTile(k.r.x + rng.in(-2, 2), k.r.y + rng.in(-2, 2), k.r.z + rng.in(-1, 1),
                         rng.in(1, W + 2), rng.in(1, H + 2), rng.in(1, k.d));
            break;
    }
    return k;
}

const size_t kGuard = 16;

// The layout of a test image: extents, type, order, space and fill values.
struct ImageLayout {
    int w, h, d, c, cs;
    ekType type;
    ekOrder order;
    std::vector<int64_t> fill;

    // A random layout of c channels (drawn in this order, for reproducibility).
    static ImageLayout random(Rng& rng, int c) {
        ImageLayout l;
        l.w = rng.in(1, 6), l.h = rng.in(1, 5), l.d = rng.in(1, 2), l.c = c;
        l.cs = rng.in(1, 8);
        l.type = kTypes[rng.in(0, 8)];
        l.order = kOrders[rng.in(0, 2)];
        for (int m = 0; m < c; ++m) l.fill.push_back(rng.in(0, 100));
        return l;
    }
};

// A memory image of a layout over a borrowed buffer between guard bytes,
// with values 0..100 (0..1 for ekBit) and the layout's fill pixel.
struct RandomImage : ImageLayout {
    std::vector<unsigned char> bytes;  // guard, buffer, guard
    ekMemoryImg* img;

    RandomImage(Rng& rng, const ImageLayout& layout) : ImageLayout(layout) {
        const int64_t n = int64_t(w) * h * d * c;
        bytes.assign(kGuard + bufferBytes(type, n) + kGuard, 0xA5);
        for (int64_t i = 0; i < n; ++i)
            writeElement(type, pixels(), i, type == ekBit ? rng.in(0, 1) : rng.in(0, 100));
        img = new ekMemoryImg(pixels(), ekSize(w, h, d, c), type, order);
        img->setCoordSpace(ekCoordSpace(cs));
        ekPixel f(ekDouble, c);
        for (int m = 0; m < c; ++m) f.setElem(double(fill[size_t(m)]), m);
        img->setFill(f);
    }
    RandomImage(const RandomImage&) = delete;
    RandomImage& operator=(const RandomImage&) = delete;
    ~RandomImage() { delete img; }

    unsigned char* pixels() { return bytes.data() + kGuard; }
    bool inside(int x, int y, int z) const {
        return x >= 0 && x < w && y >= 0 && y < h && z >= 0 && z < d;
    }
    int64_t index(int x, int y, int z, int m) const {
        return elementIndex(order, c, w, h, d, x, y, z, m);
    }
    std::string describe() const {
        std::ostringstream s;
        s << w << "x" << h << "x" << d << "x" << c << " type " << type << " order " << order
          << " space " << cs;
        return s.str();
    }
};

// The case's image and its configuration.
struct Fixture {
    const Case& k;
    RandomImage image;
    ekMemoryImg* img;
    ekConfig cfg;

    Fixture(const Case& k_, Rng& rng)
        : k(k_),
          image(rng, ImageLayout{k.w, k.h, k.d, k.c, k.ics, k.it, k.io, k.fillValues}),
          img(image.img) {
        cfg = ekConfig(k.ct, k.co, k.nchans, k.useList ? const_cast<int*>(k.list.data()) : nullptr,
                       k.offset, ekCoordSpace(k.cs));
    }
    unsigned char* pixels() { return image.pixels(); }

    // Image position of a caller position.
    void toImage(int& x, int& y) const {
        if (k.cs != 0) img->mapXY(ekCoordSpace(k.cs), x, y, ekCoordSpace(0));
    }
    bool inside(int x, int y, int z) const { return image.inside(x, y, z); }
    int64_t imageIndex(int x, int y, int z, int m) const { return image.index(x, y, z, m); }
    int64_t callerIndex(int i, int j, int l, int ch) const {
        return elementIndex(k.co, k.nc, k.b.nx, k.b.ny, k.b.nz, i, j, l, ch);
    }
    bool inRequest(int x, int y, int z) const {
        return x >= k.r.x && x < k.r.x + k.r.nx && y >= k.r.y && y < k.r.y + k.r.ny && z >= k.r.z &&
               z < k.r.z + k.r.nz;
    }

    // Visits every buffer position inside the request, with its image position.
    template <class F>
    void forEachRequested(F f) const {
        for (int l = 0; l < k.b.nz; ++l)
            for (int j = 0; j < k.b.ny; ++j)
                for (int i = 0; i < k.b.nx; ++i) {
                    int x = k.b.x + i, y = k.b.y + j;
                    const int z = k.b.z + l;
                    if (!inRequest(x, y, z)) continue;
                    toImage(x, y);
                    f(i, j, l, x, y, z);
                }
    }
};

std::vector<unsigned char> randomBytes(Rng& rng, size_t n) {
    std::vector<unsigned char> v(n);
    for (unsigned char& b : v) b = static_cast<unsigned char>(rng.in(0, 255));
    return v;
}

const int kRounds = 2500;

TEST(MemoryImageRandom, ReadsMatchTheElementTable) {
    const uint32_t seed = 20261206;
    Rng rng(seed);
    for (int round = 0; round < kRounds; ++round) {
        const Case k = randomCase(rng, false);
        Fixture s(k, rng);
        const int64_t n = int64_t(k.b.nx) * k.b.ny * k.b.nz * k.nc;
        std::vector<unsigned char> buffer = randomBytes(rng, bufferBytes(k.ct, n) + kGuard);
        std::vector<unsigned char> expected = buffer;
        s.forEachRequested([&](int i, int j, int l, int x, int y, int z) {
            for (int ch = 0; ch < k.nc; ++ch) {
                const int m = k.chanOf(ch);
                const bool in = s.inside(x, y, z);
                if (in ? !k.validChan(m) : !k.fillReaches(m)) continue;
                const int64_t v =
                    in ? readElement(k.it, s.pixels(), s.imageIndex(x, y, z, m)) : k.fillOf(m);
                writeElement(k.ct, expected.data(), s.callerIndex(i, j, l, ch), landed(k.ct, v));
            }
        });
        const ekStatus st =
            s.img->getSubTile3D(k.r.x, k.r.y, k.r.z, k.r.nx, k.r.ny, k.r.nz, buffer.data(), k.b.x,
                                k.b.y, k.b.z, k.b.nx, k.b.ny, k.b.nz, &s.cfg);
        ASSERT_EQ(st, ekOkay) << "seed " << seed << " round " << round << ": " << k.describe();
        ASSERT_EQ(buffer, expected)
            << "seed " << seed << " round " << round << ": " << k.describe();
    }
}

TEST(MemoryImageRandom, WritesMatchTheElementTableAndReadBack) {
    const uint32_t seed = 777;
    Rng rng(seed);
    for (int round = 0; round < kRounds; ++round) {
        const Case k = randomCase(rng, true);
        Fixture s(k, rng);
        const int64_t n = int64_t(k.b.nx) * k.b.ny * k.b.nz * k.nc;
        std::vector<unsigned char> buffer(bufferBytes(k.ct, n) + 1, 0);
        for (int64_t e = 0; e < n; ++e)
            writeElement(k.ct, buffer.data(), e, k.ct == ekBit ? rng.in(0, 1) : rng.in(0, 100));
        std::vector<unsigned char> expected = s.image.bytes;
        s.forEachRequested([&](int i, int j, int l, int x, int y, int z) {
            if (!s.inside(x, y, z)) return;  // dropped
            for (int ch = 0; ch < k.nc; ++ch) {
                const int m = k.chanOf(ch);
                if (!k.validChan(m)) continue;
                const int64_t v = readElement(k.ct, buffer.data(), s.callerIndex(i, j, l, ch));
                writeElement(k.it, expected.data() + kGuard, s.imageIndex(x, y, z, m),
                             landed(k.it, v));
            }
        });
        const std::vector<unsigned char> written = buffer;
        const ekStatus st =
            s.img->setSubTile3D(k.r.x, k.r.y, k.r.z, k.r.nx, k.r.ny, k.r.nz, buffer.data(), k.b.x,
                                k.b.y, k.b.z, k.b.nx, k.b.ny, k.b.nz, &s.cfg);
        ASSERT_EQ(st, ekOkay) << "seed " << seed << " round " << round << ": " << k.describe();
        ASSERT_EQ(buffer, written) << "the source buffer changed: " << k.describe();
        ASSERT_EQ(s.image.bytes, expected)
            << "seed " << seed << " round " << round << ": " << k.describe();

        // Round trip: reading the same box back gives what was written, where
        // it landed inside the image and the value survives the image's type.
        if (k.it == ekBit || k.ct == ekBit) continue;
        std::vector<unsigned char> back(buffer.size(), 0);
        s.img->getSubTile3D(k.r.x, k.r.y, k.r.z, k.r.nx, k.r.ny, k.r.nz, back.data(), k.b.x, k.b.y,
                            k.b.z, k.b.nx, k.b.ny, k.b.nz, &s.cfg);
        bool same = true;
        s.forEachRequested([&](int i, int j, int l, int x, int y, int z) {
            if (!s.inside(x, y, z)) return;
            for (int ch = 0; ch < k.nc; ++ch) {
                if (!k.validChan(k.chanOf(ch))) continue;
                const int64_t e = s.callerIndex(i, j, l, ch);
                same = same &&
                       readElement(k.ct, back.data(), e) == readElement(k.ct, written.data(), e);
            }
        });
        ASSERT_TRUE(same) << "round trip, round " << round << ": " << k.describe();
    }
}

TEST(MemoryImageRandom, FillsMatchTheElementTable) {
    const uint32_t seed = 4242;
    Rng rng(seed);
    for (int round = 0; round < kRounds; ++round) {
        const Case k = randomCase(rng, true);
        Fixture s(k, rng);
        std::vector<unsigned char> value(bufferBytes(k.ct, k.nc) + 1, 0);
        for (int ch = 0; ch < k.nc; ++ch)
            writeElement(k.ct, value.data(), ch, k.ct == ekBit ? rng.in(0, 1) : rng.in(0, 100));
        const bool nullValue = rng.chance(10);
        const bool withKeep = rng.chance(60);
        const ekTile keep(k.r.x + rng.in(-1, 2), k.r.y + rng.in(-1, 2), k.r.z + rng.in(-1, 1),
                          rng.in(0, 4), rng.in(0, 4), rng.in(0, 2));
        const bool keepInForce = withKeep && !keep.empty();
        std::vector<unsigned char> expected = s.image.bytes;
        for (int l = 0; l < k.r.nz; ++l)
            for (int j = 0; j < k.r.ny; ++j)
                for (int i = 0; i < k.r.nx; ++i) {
                    const int cx = k.r.x + i, cy = k.r.y + j, z = k.r.z + l;
                    if (keepInForce && cx >= keep.x && cx < keep.x + keep.nx && cy >= keep.y &&
                        cy < keep.y + keep.ny && z >= keep.z && z < keep.z + keep.nz)
                        continue;
                    int x = cx, y = cy;
                    s.toImage(x, y);
                    if (!s.inside(x, y, z)) continue;
                    auto valueOf = [&](int ch) {
                        return nullValue ? 0 : readElement(k.ct, value.data(), ch);
                    };
                    for (int ch = 0; ch < k.nc; ++ch) {
                        const int m = k.chanOf(ch);
                        if (!k.validChan(m)) continue;
                        writeElement(k.it, expected.data() + kGuard, s.imageIndex(x, y, z, m),
                                     landed(k.it, valueOf(ch)));
                    }
                    if (k.fillWidens())
                        for (int m = k.nc; m < k.c; ++m)
                            writeElement(k.it, expected.data() + kGuard, s.imageIndex(x, y, z, m),
                                         landed(k.it, valueOf(k.nc - 1)));
                }
        const ekStatus st = s.img->fillTile3D(k.r.x, k.r.y, k.r.z, k.r.nx, k.r.ny, k.r.nz,
                                              nullValue ? nullptr : value.data(), &s.cfg,
                                              withKeep ? &keep : nullptr);
        ASSERT_EQ(st, ekOkay) << k.describe();
        ASSERT_EQ(s.image.bytes, expected)
            << "seed " << seed << " round " << round << ": " << k.describe() << " keep " << keep.x
            << "," << keep.y << "," << keep.z << " " << keep.nx << "x" << keep.ny << "x" << keep.nz
            << (withKeep ? "" : " (none)");
    }
}

}  // namespace

// --- Copies between two memory images -----------------------------------------

TEST(MemoryImageRandom, CopiesInBothDirectionsMatchTheElementTables) {
    const uint32_t seed = 9001;
    Rng rng(seed);
    for (int round = 0; round < kRounds; ++round) {
        const int c = rng.in(1, 4);
        RandomImage a(rng, ImageLayout::random(rng, c));  // a copies
        RandomImage b(rng, ImageLayout::random(rng, c));  // b is the other image
        // Channel selection on b's side: none, an offset, or a list naming a
        // distinct channel of b (or none) for each channel of a.
        std::vector<int> list;
        int offset = 0;
        const int kind = rng.in(0, 2);
        if (kind == 1) offset = rng.in(-1, 1);
        if (kind == 2) {
            std::vector<int> pool;
            for (int g = 0; g < c; ++g) pool.push_back(g);
            for (int m = 0; m < c; ++m) {
                if (pool.empty() || rng.chance(20)) {
                    list.push_back(-1);
                    continue;
                }
                const int pick = rng.in(0, int(pool.size()) - 1);
                list.push_back(pool[size_t(pick)]);
                pool.erase(pool.begin() + pick);
            }
        }
        // Its type and order are replaced by a's: the data pass in a's layout.
        ekConfig cfg(kTypes[rng.in(0, 8)], kOrders[rng.in(0, 2)], c,
                     kind == 2 ? list.data() : nullptr, offset);
        auto chanOf = [&](int m) {
            const int g = kind == 2 ? list[size_t(m)] : m + offset;
            return g >= 0 && g < c ? g : -1;
        };
        const ekTile box(rng.in(-2, a.w), rng.in(-2, a.h), rng.in(-1, a.d), rng.in(1, a.w + 2),
                         rng.in(1, a.h + 2), rng.in(1, 2));
        const int ox = rng.in(-2, 6), oy = rng.in(-2, 6), oz = rng.in(-1, 1);
        const int direction = rng.in(0, 1);

        std::vector<unsigned char> expectA = a.bytes, expectB = b.bytes;
        for (int l = 0; l < box.nz; ++l)
            for (int j = 0; j < box.ny; ++j)
                for (int i = 0; i < box.nx; ++i) {
                    const int x = box.x + i, y = box.y + j, z = box.z + l;
                    // The same pixel in b: displaced in a's space, then mapped
                    // into b's own.
                    int bx = ox + i, by = oy + j;
                    const int bz = oz + l;
                    b.img->mapXY(ekCoordSpace(a.cs), bx, by, ekCoordSpace(0));
                    const bool inA = a.inside(x, y, z), inB = b.inside(bx, by, bz);
                    for (int m = 0; m < c; ++m) {
                        const int g = chanOf(m);
                        if (g < 0) continue;
                        if (direction != 0 && inA) {
                            const int64_t v =
                                inB ? readElement(b.type, b.pixels(), b.index(bx, by, bz, g))
                                    : b.fill[size_t(g)];
                            writeElement(a.type, expectA.data() + kGuard, a.index(x, y, z, m),
                                         landed(a.type, v));
                        }
                        if (direction == 0 && inB) {
                            const int64_t v =
                                inA ? readElement(a.type, a.pixels(), a.index(x, y, z, m))
                                    : a.fill[size_t(m)];
                            writeElement(b.type, expectB.data() + kGuard, b.index(bx, by, bz, g),
                                         landed(b.type, v));
                        }
                    }
                }
        const bool withCfg = kind != 0 || rng.chance(50);  // no selection: either form
        const ekStatus st = a.img->copyTileCfg(box.x, box.y, box.z, box.nx, box.ny, box.nz, b.img,
                                               ox, oy, oz, withCfg ? &cfg : nullptr, direction);
        const std::string what = "seed " + std::to_string(seed) + " round " +
                                 std::to_string(round) + ": a " + a.describe() + ", b " +
                                 b.describe() + ", direction " + std::to_string(direction);
        ASSERT_EQ(st, ekOkay) << what;
        ASSERT_EQ(a.bytes, expectA) << what;
        ASSERT_EQ(b.bytes, expectB) << what;
    }
}
