// SPDX-License-Identifier: Apache-2.0
// ekDataBlock: the layout formulas the reference mover relies on (strides,
// offsets, channel numbers), and what the randomized comparison with it does
// not reach: values that are no type, missing data, and strides and offsets
// beyond 32 bits. Everything else is checked against the reference mover.
#include "transfer/data_block.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

struct Strides {
    int x, y, z, c;
};
bool operator==(const Strides& a, const Strides& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z && a.c == b.c;
}
Strides stridesOf(const ekDataBlock& b) { return {b.xStride, b.yStride, b.zStride, b.chanStride}; }

ekDataBlock row(void* p, ekType t, int n) {
    return ekDataBlock(p, t, ekSeparate, 1, nullptr, n, 1, 1, 0, 0, 0, 0);
}

// The reference mover addresses elements through elementOffset and pairs
// channels through channelNumber, so these formulas are checked here on their
// own: a fault in them would move the reference along with the engine.
TEST(DataBlock, StridesOffsetsAndChannelNumbersForEveryLayout) {
    unsigned char m;
    // nc 3, nx 5, ny 4, nz 2; a mirror negates the x and y strides and
    // starts at the last column or row.
    const struct {
        ekOrder order;
        int t;
        Strides want;
    } rows[] = {
        {ekInterleaved, 0, {3, 15, 60, 1}}, {ekInterleaved, 1, {12, 3, 60, 1}},
        {ekSequential, 0, {1, 15, 60, 5}},  {ekSequential, 1, {12, 1, 60, 4}},
        {ekSeparate, 0, {1, 5, 20, 40}},    {ekSeparate, 1, {4, 1, 20, 40}},
    };
    for (const auto& r : rows)
        for (int flip = 0; flip < 4; ++flip) {
            ekDataBlock b(&m, ekUChar, r.order, 3, nullptr, 5, 4, 2, 0, 0, 0, 0);
            b.setTranspose(r.t);
            b.setFlip(flip);
            const int sx = flip & 1 ? -r.want.x : r.want.x, sy = flip & 2 ? -r.want.y : r.want.y;
            EXPECT_TRUE(stridesOf(b) == (Strides{sx, sy, r.want.z, r.want.c}))
                << "order " << r.order << " T " << r.t << " flip " << flip;
            EXPECT_EQ(b.elementOffset(flip & 1 ? 4 : 0, flip & 2 ? 3 : 0, 1, 2),
                      r.want.z + 2 * r.want.c);
            EXPECT_EQ(b.elementOffset(0, 0, 0, 0),
                      (flip & 1 ? 4 * r.want.x : 0) + (flip & 2 ? 3 * r.want.y : 0));
        }
    // One channel is separate; a constant pixel has no strides but its
    // channels'.
    EXPECT_EQ(ekDataBlock(&m, ekUChar, ekInterleaved, 1, nullptr, 4, 4, 1, 0, 0, 0, 0).order,
              ekSeparate);
    EXPECT_TRUE(stridesOf(ekDataBlock(ekPixel(ekUShort, 3, nullptr), nullptr, nullptr, 0)) ==
                (Strides{0, 0, 0, 1}));
    // The list wins over firstChan.
    const int list[] = {2, -1, 0};
    const ekDataBlock listed(&m, ekUChar, ekInterleaved, 3, list, 1, 1, 1, 0, 0, 0, 5);
    const ekDataBlock shifted(&m, ekUChar, ekInterleaved, 3, nullptr, 1, 1, 1, 0, 0, 0, 5);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(listed.channelNumber(k), list[k]);
        EXPECT_EQ(shifted.channelNumber(k), 5 + k);
    }
}

TEST(DataBlock, BlocksWithoutDataOrTypeMoveNothing) {
    // Values that only share bits with the nine types (6 = ekUChar | ekChar,
    // 24, 96) are no type: nothing moves in either direction.
    for (int t : {6, 24, 96}) {
        uint8_t bytes[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
        uint8_t out[16] = {};
        const ekType odd = ekType(t), near = ekType(t & -t);  // its lowest bit: a real type
        row(out, odd, 4).copyFrom(row(bytes, near, 4));
        row(out, near, 4).copyFrom(row(bytes, odd, 4));
        for (uint8_t v : out) EXPECT_EQ(v, 0) << t;
    }
    unsigned char buf[4] = {1, 2, 3, 4};
    ekDataBlock d = row(buf, ekUChar, 4);
    d.copyFrom(row(nullptr, ekUChar, 4));
    row(nullptr, ekUChar, 4).copyFrom(d);
    EXPECT_EQ(std::vector<unsigned char>(buf, buf + 4), (std::vector<unsigned char>{1, 2, 3, 4}));
    // An empty pixel widened to the destination gives zeros.
    d.copyFrom(ekDataBlock(ekPixel(), nullptr, nullptr, 0));
    EXPECT_EQ(std::vector<unsigned char>(buf, buf + 4), (std::vector<unsigned char>{0, 0, 0, 0}));
}

TEST(DataBlock, StridesBeyond32BitsMakeTheBlockInert) {
    // 3 x 50000 x 50000 elements per slice does not fit 32-bit strides; such
    // a block moves nothing instead of addressing wrapped offsets.
    unsigned char m = 0;
    ekDataBlock big(&m, ekUChar, ekInterleaved, 3, nullptr, 50000, 50000, 1, 0, 0, 0, 0);
    EXPECT_TRUE(big.unusable);
    const unsigned char v[3] = {1, 2, 3};
    big.setClip(0, 0, 0, 1, 1, 1);
    big.copyFrom(ekDataBlock(ekPixel(ekUChar, 3, v), nullptr, nullptr, 0));
    EXPECT_EQ(m, 0);
    // Separate order: the channel volume (not a stride within it) overflows.
    EXPECT_TRUE(
        ekDataBlock(&m, ekUChar, ekSeparate, 2, nullptr, 50000, 50000, 1, 0, 0, 0, 0).unusable);
    EXPECT_FALSE(
        ekDataBlock(&m, ekUChar, ekSeparate, 2, nullptr, 40000, 40000, 1, 0, 0, 0, 0).unusable);
}

TEST(DataBlock, OffsetsBeyond32BitsReachTheRightElement) {
    // A 2-channel bit block of 40000 x 40000: channel 1 of the last pixel is
    // bit 3.2e9 - 1, past any 32-bit offset. Only the last bytes are touched
    // (the rest of the allocation is never written).
    const int64_t n = 40000;
    const int64_t bytes = 2 * n * n / 8;
    std::unique_ptr<unsigned char[]> mem(new (std::nothrow) unsigned char[size_t(bytes)]);
    if (!mem) GTEST_SKIP() << "no memory for a 400 MB block";
    unsigned char* last = mem.get() + bytes - 8;
    std::memset(last, 0, 8);
    const int n32 = int(n);
    ekDataBlock big(mem.get(), ekBit, ekSeparate, 2, nullptr, n32, n32, 1, 0, 0, 0, 0);
    ASSERT_FALSE(big.unusable);
    EXPECT_EQ(big.elementOffset(n - 1, n - 1, 0, 1), 2 * n * n - 1);

    // Write: a constant pixel (0, 1) into the last pixel only.
    const unsigned char bits = 0x40;  // element 0 = 0, element 1 = 1
    big.setClip(n32 - 1, n32 - 1, 0, 1, 1, 1);
    big.copyFrom(ekDataBlock(ekPixel(ekBit, 2, &bits), nullptr, nullptr, 0));
    EXPECT_EQ(last[7], 0x01);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(last[i], 0) << i;

    // Read it back through a small block over the same corner.
    unsigned char out[2] = {7, 7};
    ekDataBlock small(out, ekUChar, ekInterleaved, 2, nullptr, 1, 1, 1, n32 - 1, n32 - 1, 0, 0);
    big.clipValid = false;
    small.copyFrom(big);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 1);
}

}  // namespace
