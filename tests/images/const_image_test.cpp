// SPDX-License-Identifier: Apache-2.0
// Constant image: identity, attributes following the value, reads in every
// path (direct byte fills and the engine), refused writes and copies.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
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
    // A count set apart from the value is never read past the value: its
    // last element repeats.
    ekConstImg six(pixelOf(ekUChar, {6}));
    EXPECT_EQ(six.getCsize(), 1);  // the first reset takes the value's count
    EXPECT_EQ(six.setCsize(4), ekOkay);
    EXPECT_EQ(six.getCsize(), 4);
    std::vector<unsigned char> buf(3 * 4, 0);
    EXPECT_EQ(six.getTile(0, 0, 3, 1, buf.data(), nullptr), ekOkay);
    EXPECT_EQ(buf, std::vector<unsigned char>(12, 6));
}

// Reads in many layouts against the value, element by element; the buffer is
// larger than the request, whose outside must stay as it was.
const int kKept = -100;

struct ReadCase {
    const char* name;
    std::vector<double> value;
    ekType valueType;
    ekType type;  // 0: no configuration
    ekOrder order;
    int nchans, offset;
    std::vector<int> list;
    int cs;
    std::vector<int> want;  // per buffer channel; kKept: as it was
};

const ReadCase kReads[] = {
    {"direct 1", {7}, ekUChar, ekType(0), ekInterleaved, 0, 0, {}, 0, {7}},
    {"direct 4", {1, 2, 3, 4}, ekUChar, ekType(0), ekInterleaved, 0, 0, {}, 0, {1, 2, 3, 4}},
    {"direct 4 cfg", {1, 2, 3, 4}, ekUChar, ekUChar, ekInterleaved, 4, 0, {}, 7, {1, 2, 3, 4}},
    {"zero 4", {0, 0, 0, 0}, ekUChar, ekType(0), ekInterleaved, 0, 0, {}, 0, {0, 0, 0, 0}},
    {"two channels", {5, 6}, ekUChar, ekType(0), ekInterleaved, 0, 0, {}, 0, {5, 6}},
    {"separate", {1, 2, 3, 4}, ekUChar, ekUChar, ekSeparate, 4, 0, {}, 0, {1, 2, 3, 4}},
    {"to float", {1, 2, 3, 4}, ekUChar, ekFloat, ekSequential, 4, 0, {}, 0, {1, 2, 3, 4}},
    {"float to short", {-3, 8, 9}, ekFloat, ekShort, ekInterleaved, 3, 0, {}, 0, {-3, 8, 9}},
    {"offset", {1, 2, 3, 4}, ekUChar, ekUChar, ekInterleaved, 2, 1, {}, 0, {2, 3}},
    {"list", {1, 2, 3, 4}, ekUChar, ekUChar, ekInterleaved, 3, 0, {3, -1, 0}, 0, {4, kKept, 1}},
    {"count 0", {1, 2, 3}, ekUChar, ekDouble, ekInterleaved, 0, 0, {}, 0, {1, 2, 3}},
    {"shorter", {1, 2, 3, 4}, ekUChar, ekUChar, ekInterleaved, 1, 0, {}, 0, {1}},
};

TEST(ConstImage, ReadsDeliverTheValueInsideTheRequestOnly) {
    for (const ReadCase& c : kReads) {
        for (int wide : {3, 40}) {  // short rows, and rows of more than 16 words
            ekConstImg img(pixelOf(c.valueType, c.value));
            const int n = int(c.want.size());
            const ekType t = c.type != 0 ? c.type : c.valueType;
            const int bnx = wide + 4, bny = 5;
            const int64_t total = int64_t(bnx) * bny * n;
            std::vector<unsigned char> buf(bufferBytes(t, total) + 8);
            for (int64_t i = 0; i < total; ++i) writeElement(t, buf.data() + 1, i, 99);
            ekConfig cfg(c.type, c.order, c.nchans,
                         c.list.empty() ? nullptr : const_cast<int*>(c.list.data()), c.offset,
                         ekCoordSpace(c.cs));
            // Request (-1, 2) wide x 2 into a buffer at (-3, 1): far beyond the
            // nominal 1 x 1 image, never clipped to it. The buffer is not
            // aligned, to reach the word fill's first store.
            ASSERT_EQ(img.getSubTile3D(-1, 2, 0, wide, 2, 1, buf.data() + 1, -3, 1, 0, bnx, bny, 1,
                                       c.type != 0 ? &cfg : nullptr),
                      ekOkay)
                << c.name;
            const ekOrder o = c.type != 0 ? c.order : ekInterleaved;
            for (int y = 0; y < bny; ++y)
                for (int x = 0; x < bnx; ++x)
                    for (int k = 0; k < n; ++k) {
                        const bool in = x >= 2 && x < 2 + wide && y >= 1 && y < 3;
                        const int64_t want = in && c.want[k] != kKept ? c.want[k] : 99;
                        ASSERT_EQ(readElement(t, buf.data() + 1,
                                              elementIndex(o, n, bnx, bny, 1, x, y, 0, k)),
                                  want)
                            << c.name << " at " << x << "," << y << " channel " << k;
                    }
        }
    }
}

TEST(ConstImage, ReadsOfOtherSlicesLeaveTheBufferAlone) {
    ekConstImg img(pixelOf(ekUChar, {1, 2, 3, 4}));
    std::vector<unsigned char> buf(2 * 2 * 4, 9);
    // The buffer holds slice 0; the request asks for slice 1 only.
    EXPECT_EQ(img.getSubTile3D(0, 0, 1, 2, 2, 1, buf.data(), 0, 0, 0, 2, 2, 1, nullptr), ekOkay);
    EXPECT_EQ(buf, std::vector<unsigned char>(16, 9));
    // Two slices of a two-slice buffer, through the engine.
    std::vector<unsigned char> two(2 * 4, 9);
    EXPECT_EQ(img.getSubTile3D(0, 0, 0, 1, 1, 2, two.data(), 0, 0, 0, 1, 1, 2, nullptr), ekOkay);
    EXPECT_EQ(two, std::vector<unsigned char>({1, 2, 3, 4, 1, 2, 3, 4}));
    // An empty request moves nothing.
    EXPECT_EQ(img.getSubTile3D(0, 0, 0, 0, 2, 1, buf.data(), 0, 0, 0, 2, 2, 1, nullptr), ekOkay);
    EXPECT_EQ(buf, std::vector<unsigned char>(16, 9));
}

TEST(ConstImage, WritesAreRefusedAndCopiesFillTheOtherImage) {
    ekConstImg img(pixelOf(ekUChar, {10, 20, 30}));
    unsigned char b[3] = {1, 2, 3};
    EXPECT_EQ(img.setTile(0, 0, 1, 1, b, nullptr), ekNotAllowed);
    ekMemoryImg mem(ekSize(4, 3, 1, 3), ekUShort, ekSeparate);
    std::vector<uint16_t> zeros(4 * 3 * 3, 0);
    ASSERT_EQ(mem.setTile(0, 0, 4, 3, zeros.data(), nullptr), ekOkay);
    EXPECT_EQ(img.copyTileCfg(0, 0, 0, 2, 2, 1, &mem, 1, 1, 0, nullptr, 1), ekNotAllowed);
    EXPECT_EQ(img.copyTileCfg(0, 0, 0, 2, 2, 1, &mem, 1, 1, 0, nullptr, 0), ekOkay);
    std::vector<uint16_t> got(4 * 3 * 3);
    ASSERT_EQ(mem.getTile(0, 0, 4, 3, got.data(), nullptr), ekOkay);
    for (int k = 0; k < 3; ++k)
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x) {
                const bool in = x >= 1 && x < 3 && y >= 1 && y < 3;
                EXPECT_EQ(got[size_t((k * 3 + y) * 4 + x)], in ? 10 * (k + 1) : 0);
            }
    // A layout of more channels than the value repeats its last element; one
    // selecting other's channels writes only those.
    int list[5] = {2, 0, -1, -1, -1};
    ekConfig wide(ekUChar, ekInterleaved, 5, list);
    EXPECT_EQ(img.copyTileCfg(0, 0, 0, 1, 1, 1, &mem, 0, 0, 0, &wide, 0), ekOkay);
    ekPixel p;
    EXPECT_EQ(mem.getPixel(0, 0, p), ekOkay);
    EXPECT_EQ(p[0], 20);
    EXPECT_EQ(p[1], 0);
    EXPECT_EQ(p[2], 10);
}

}  // namespace
