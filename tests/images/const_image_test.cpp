// SPDX-License-Identifier: Apache-2.0
// Constant image: attributes following the value, reads in every path
// (direct byte fills and the engine). Its copies, refused writes and reads in
// every caller layout are drawn by the memory image's randomized tests too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "test_images.h"

namespace {

ekPixel pixelOf(ekType t, std::vector<double> v) {
    ekPixel p(t, int(v.size()));
    for (size_t i = 0; i < v.size(); ++i) p.setElem(v[i], int(i));
    return p;
}

TEST(ConstImage, AttributesFollowTheValue) {
    ekConstImg img;  // one byte channel of 0, 128 x 128 pages
    EXPECT_EQ(img.getPageSizeX(), 128);
    unsigned char b[4] = {9, 9, 9, 9};
    EXPECT_EQ(img.getTile(0, 0, 2, 2, b, nullptr), ekOkay);
    EXPECT_EQ(std::vector<unsigned char>(b, b + 4), std::vector<unsigned char>(4, 0));
    EXPECT_EQ(img.setFill(pixelOf(ekFloat, {0.5, 1.5, 2.5})), ekOkay);
    EXPECT_EQ(img.getCsize(), 3);
    EXPECT_EQ(img.getDataType(), ekFloat);
    EXPECT_EQ(img.getColorModel(), ekRGB);
    // Type and order follow the value; size, space and colour model may be set.
    EXPECT_EQ(img.setDataType(ekShort), ekNotAllowed);
    EXPECT_EQ(img.setOrder(ekSeparate), ekNotAllowed);
    EXPECT_EQ(img.setSize(ekSize(300, 200, 2, 3)), ekOkay);
    EXPECT_EQ(img.setCoordSpace(ekUpperLeft), ekOkay);
    EXPECT_EQ(img.getXsize(), 300);
    EXPECT_EQ(img.setMaxValue(9.0, -1), ekOkay);  // the caller's range outlives a reset
    EXPECT_EQ(img.getMaxValue(2), 9.0);
}

// Random reads against the value, element by element: values of one to five
// channels (all zero now and then, for the byte fills), a channel count set
// apart from the value's, caller layouts of every type, order, space and
// channel selection, requests of rows wider than 16 words, far from the
// nominal 1 x 1 image and never clipped to it, into an unaligned buffer box
// of its own slices, whose elements outside the request must stay as they were.
TEST(ConstImage, RandomReadsDeliverTheValueInsideTheRequestOnly) {
    Rng g(3);
    const int kKept = 99;
    for (int round = 0; round < 600; ++round) {
        SCOPED_TRACE(round);
        const ekType vt = g.chance(50) ? ekUChar : kTypes[g.in(1, 8)];
        const int nv = g.chance(50) ? 4 : g.in(1, 5), zero = g.chance(20);
        ekPixel value(vt, nv);
        for (int k = 0; k < nv; ++k) value.setElem(zero ? 0 : g.in(1, 9), k);
        ekConstImg img(value);
        // A count set apart from the value's: the value's last element
        // repeats into the buffer's channels past it, and no further.
        const int nc = g.chance(20) ? g.in(1, 6) : nv;
        ASSERT_EQ(img.getCsize(), nv);  // the first reset takes the value's count
        if (nc != nv) {
            ASSERT_EQ(img.setCsize(nc), ekOkay);
        }
        // The caller's layout: now and then none, or only some of its fields.
        const bool useCfg = g.chance(70);
        const ekType ct = g.chance(20) ? ekAnyType : kTypes[g.in(1, 8)];
        const ekOrder co = g.chance(20) ? ekAnyOrder : kOrders[g.in(0, 2)];
        const int nchans = g.chance(40) ? 0 : g.in(1, nc);
        const int n = nchans != 0 ? nchans : nc, offset = g.chance(70) ? 0 : g.in(0, nc - n);
        std::vector<int> list;
        if (g.chance(30))
            for (int i = 0; i < n; ++i) list.push_back(g.in(-1, nc - 1));
        const ekConfig cfg(ct, co, nchans, list.empty() ? nullptr : list.data(), offset,
                           ekCoordSpace(g.chance(50) ? g.in(1, 8) : 0));
        const ekType t = useCfg && ct != ekAnyType ? ct : vt;
        const ekOrder o = useCfg && co != ekAnyOrder ? co : ekInterleaved;
        ekTile r(g.in(-3, 3), g.in(-3, 3), g.in(-1, 1), g.in(0, 40), g.in(0, 3), g.in(0, 2));
        ekTile b(r.x - g.in(0, 2), r.y - g.in(0, 2), r.z + g.in(-1, 1), 0, 0, g.in(1, 2));
        b.nx = std::max(1, r.x + r.nx - b.x + g.in(-1, 2));
        b.ny = std::max(1, r.y + r.ny - b.y + g.in(-1, 2));
        const int nb = useCfg ? n : nc;
        const int64_t total = int64_t(b.nx) * b.ny * b.nz * nb;
        const int skew = g.in(0, 7);  // the word fill's first stores
        std::vector<unsigned char> buf(bufferBytes(t, total) + 8);
        for (int64_t i = 0; i < total; ++i) writeElement(t, buf.data() + skew, i, kKept);
        ASSERT_EQ(img.getSubTile3D(r.x, r.y, r.z, r.nx, r.ny, r.nz, buf.data() + skew, b.x, b.y,
                                   b.z, b.nx, b.ny, b.nz, useCfg ? &cfg : nullptr),
                  ekOkay);
        for (int l = 0; l < b.nz; ++l)
            for (int j = 0; j < b.ny; ++j)
                for (int i = 0; i < b.nx; ++i)
                    for (int k = 0; k < nb; ++k) {
                        const int x = b.x + i, y = b.y + j, z = b.z + l;
                        const int v = !useCfg ? k : list.empty() ? offset + k : list[size_t(k)];
                        const bool in = x >= r.x && x < r.x + r.nx && y >= r.y && y < r.y + r.ny &&
                                        z >= r.z && z < r.z + r.nz && v >= 0 &&
                                        v < std::max(nv, nb);
                        const int64_t want = in ? int64_t(value[std::min(v, nv - 1)]) : kKept;
                        ASSERT_EQ(readElement(t, buf.data() + skew,
                                              elementIndex(o, nb, b.nx, b.ny, b.nz, i, j, l, k)),
                                  want)
                            << "at " << x << "," << y << "," << z << " channel " << k;
                    }
    }
}

}  // namespace
