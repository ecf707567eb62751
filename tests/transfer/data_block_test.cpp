// SPDX-License-Identifier: Apache-2.0
// The rules the reference mover relies on, pinned on their own (a fault in
// them would move the reference along with the engine): the element
// conversions, one table row per case run through the engine and the
// reference; ekDataBlock's layout formulas (strides, offsets, channel
// numbers). And what the randomized comparison with the reference does not
// reach: values that are no type, missing data, and strides and offsets
// beyond 32 bits. Float bit patterns of every kind, and the values at the
// limits of 32 and 64 bits, go through the kernels of every level in the
// differential test.
#include "transfer/data_block.h"

#include <gtest/gtest.h>

#include <array>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "reference_mover.h"

namespace {

struct ConvCase {
    ekType src;
    double value;
    ekType dst;
    double expected;
    int line;
    bool saturate = false;
};
#define ROW(s, v, d, r) \
    ConvCase { s, v, d, r, __LINE__ }
#define SAT(s, v, d, r) \
    ConvCase { s, v, d, r, __LINE__, true }

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

const ConvCase kCases[] = {
    // Integers narrow keeping the low bits; same width copies the bits.
    ROW(ekShort, -1, ekUChar, 255), ROW(ekULong, 300, ekUChar, 44),
    ROW(ekUShort, 65535, ekShort, -1), ROW(ekUChar, 200, ekChar, -56),
    ROW(ekChar, -56, ekShort, -56), ROW(ekChar, -1, ekUShort, 65535),
    ROW(ekShort, -32768, ekULong, 4294934528.0), ROW(ekUChar, 255, ekLong, 255),
    ROW(ekULong, 4294967295.0, ekLong, -1), ROW(ekLong, -2147483648.0, ekUShort, 0),
    ROW(ekLong, 70000, ekShort, 4464),
    // Floating values truncate toward zero through 64 bits.
    ROW(ekFloat, 255.9, ekUChar, 255), ROW(ekFloat, 256.0, ekUChar, 0),
    ROW(ekFloat, -0.5, ekUChar, 0), ROW(ekFloat, -1.0, ekUChar, 255),
    ROW(ekFloat, -128.9, ekChar, -128), ROW(ekDouble, 255.999, ekChar, -1),
    ROW(ekDouble, -1.5, ekUChar, 255), ROW(ekFloat, 3000000000.0, ekULong, 3000000000.0),
    ROW(ekFloat, -3e9, ekULong, 1294967296.0), ROW(ekFloat, -3e9, ekLong, 1294967296.0),
    ROW(ekFloat, 1e10, ekULong, 1410065408.0), ROW(ekFloat, 2147483904.0, ekUShort, 256),
    ROW(ekFloat, 2147483904.0, ekUChar, 0), ROW(ekDouble, 9.2e18, ekULong, 2643984384.0),
    ROW(ekDouble, 70000.7, ekShort, 4464),
    // NaN, infinities and truncations beyond 64 bits give 0.
    ROW(ekFloat, kNaN, ekUChar, 0), ROW(ekDouble, kNaN, ekShort, 0), ROW(ekDouble, kNaN, ekLong, 0),
    ROW(ekFloat, kNaN, ekBit, 0), ROW(ekFloat, kInf, ekULong, 0), ROW(ekDouble, -kInf, ekChar, 0),
    ROW(ekFloat, 1e30, ekLong, 0), ROW(ekDouble, 1e19, ekULong, 0),
    ROW(ekDouble, -9.3e18, ekUShort, 0), ROW(ekDouble, 1e300, ekBit, 0),
    // Bits: 1 when the low 8 bits are not 0; a bit reads as 0 or 1.
    ROW(ekUShort, 256, ekBit, 0), ROW(ekUShort, 257, ekBit, 1), ROW(ekFloat, 0.7, ekBit, 0),
    ROW(ekFloat, 1.0, ekBit, 1), ROW(ekDouble, 512.5, ekBit, 0), ROW(ekChar, -1, ekBit, 1),
    ROW(ekBit, 1, ekUChar, 1), ROW(ekBit, 1, ekChar, 1), ROW(ekBit, 1, ekLong, 1),
    ROW(ekBit, 1, ekFloat, 1.0), ROW(ekBit, 0, ekDouble, 0.0), ROW(ekBit, 1, ekBit, 1),
    // Floating destinations: exact, or rounded to nearest binary32.
    ROW(ekULong, 4294967295.0, ekFloat, 4294967296.0),
    ROW(ekULong, 4294967295.0, ekDouble, 4294967295.0), ROW(ekLong, 16777217, ekFloat, 16777216.0),
    ROW(ekULong, 16777219, ekFloat, 16777220.0), ROW(ekLong, -2147483648.0, ekFloat, -2147483648.0),
    ROW(ekShort, -7, ekDouble, -7.0), ROW(ekDouble, 0.1, ekFloat, double(0.1f)),
    ROW(ekDouble, 1e300, ekFloat, kInf), ROW(ekFloat, 0.1f, ekDouble, double(0.1f)),
    ROW(ekFloat, -kInf, ekDouble, -kInf),
    // Saturating: rounded to nearest, ties to even, clamped; NaN gives 0.
    SAT(ekFloat, 300.0, ekUChar, 255), SAT(ekFloat, -10.0, ekUChar, 0),
    SAT(ekFloat, 2.5, ekUChar, 2), SAT(ekFloat, 3.5, ekUChar, 4), SAT(ekFloat, 2.7, ekUChar, 3),
    SAT(ekFloat, -2.5, ekChar, -2), SAT(ekFloat, -128.6, ekChar, -128),
    SAT(ekFloat, kNaN, ekChar, 0), SAT(ekFloat, 65535.5, ekUShort, 65535),
    SAT(ekFloat, -32768.5, ekShort, -32768), SAT(ekFloat, 3e9, ekLong, 2147483647.0),
    SAT(ekFloat, 3e9, ekULong, 3000000000.0), SAT(ekFloat, kInf, ekULong, 4294967295.0),
    SAT(ekFloat, -kInf, ekLong, -2147483648.0), SAT(ekFloat, kNaN, ekLong, 0),
    SAT(ekFloat, -1.0, ekULong, 0), SAT(ekDouble, 4294967295.4, ekULong, 4294967295.0),
    SAT(ekDouble, -0.5, ekShort, 0), SAT(ekUShort, 300, ekUChar, 255),
    SAT(ekUShort, 40000, ekShort, 32767), SAT(ekShort, -300, ekChar, -128),
    SAT(ekChar, -1, ekUChar, 0), SAT(ekChar, -1, ekUShort, 0), SAT(ekUChar, 200, ekChar, 127),
    SAT(ekULong, 4294967295.0, ekLong, 2147483647.0), SAT(ekLong, -1, ekULong, 0),
    SAT(ekLong, 70000, ekShort, 32767), SAT(ekULong, 70000, ekUChar, 255),
    // ekBit is the range 0..1.
    SAT(ekFloat, 0.5, ekBit, 0), SAT(ekFloat, 0.7, ekBit, 1), SAT(ekDouble, 256.0, ekBit, 1),
    SAT(ekUShort, 256, ekBit, 1), SAT(ekChar, -3, ekBit, 0),
    // ekDouble into ekFloat: finite values end at FLT_MAX; the rest as before.
    SAT(ekDouble, 1e300, ekFloat, double(FLT_MAX)),
    SAT(ekDouble, -1e300, ekFloat, -double(FLT_MAX)), SAT(ekDouble, kInf, ekFloat, kInf),
    SAT(ekUChar, 200, ekShort, 200), SAT(ekULong, 4294967295.0, ekFloat, 4294967296.0),
    SAT(ekBit, 1, ekChar, 1)};
#undef ROW
#undef SAT

// Stores v into element i of a buffer of type t (values in the table are
// representable in their source type).
void store(ekType t, void* p, int64_t i, double v) {
    const bool real = t == ekFloat || t == ekDouble;
    const float f = t == ekFloat ? float(v) : 0.0f;
    ref::writeElem(t, p, i, ref::Value{real, real ? 0 : int64_t(v), v, t == ekFloat, f});
}

double load(ekType t, const void* p, int64_t i) {
    const ref::Value v = ref::readElem(t, p, i);
    return v.isFloat ? v.f : double(v.i);
}

// Converts n copies of the row's value, long enough for vector bodies and
// their tails, and checks every destination element.
void runRow(const ConvCase& c, bool reference) {
    const int n = 37;
    std::vector<unsigned char> srcMem(size_t(ekDataSize(c.src, n))),
        dstMem(size_t(ekDataSize(c.dst, n)));
    for (int i = 0; i < n; ++i) store(c.src, srcMem.data(), i, c.value);
    ekDataBlock d(dstMem.data(), c.dst, ekSeparate, 1, nullptr, n, 1, 1, 0, 0, 0, 0);
    const ekDataBlock s(srcMem.data(), c.src, ekSeparate, 1, nullptr, n, 1, 1, 0, 0, 0, 0);
    d.saturate = c.saturate;
    if (reference)
        ref::move(d, s);
    else
        d.copyFrom(s);
    for (int i = 0; i < n; ++i) {
        const double got = load(c.dst, dstMem.data(), i);
        if (got != c.expected && !(std::isnan(got) && std::isnan(c.expected))) {
            ADD_FAILURE() << (reference ? "reference" : "engine") << ", row at line " << c.line
                          << ": element " << i << " is " << got << ", expected " << c.expected;
            return;
        }
    }
}

TEST(TransferConversion, TableRowsInTheEngineAndTheReference) {
    for (const ConvCase& c : kCases)
        for (bool reference : {false, true}) runRow(c, reference);
}

using Strides = std::array<int, 4>;  // x, y, z, channel
Strides stridesOf(const ekDataBlock& b) { return {b.xStride, b.yStride, b.zStride, b.chanStride}; }

ekDataBlock row(void* p, ekType t, int n) {
    return ekDataBlock(p, t, ekSeparate, 1, nullptr, n, 1, 1, 0, 0, 0, 0);
}

// The reference mover addresses elements through elementOffset and pairs
// channels through channelNumber.
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
            const int sx = flip & 1 ? -r.want[0] : r.want[0],
                      sy = flip & 2 ? -r.want[1] : r.want[1];
            EXPECT_TRUE(stridesOf(b) == (Strides{sx, sy, r.want[2], r.want[3]}))
                << "order " << r.order << " T " << r.t << " flip " << flip;
            EXPECT_EQ(b.elementOffset(flip & 1 ? 4 : 0, flip & 2 ? 3 : 0, 1, 2),
                      r.want[2] + 2 * r.want[3]);
            EXPECT_EQ(b.elementOffset(0, 0, 0, 0),
                      (flip & 1 ? 4 * r.want[0] : 0) + (flip & 2 ? 3 * r.want[1] : 0));
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
