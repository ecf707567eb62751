// SPDX-License-Identifier: Apache-2.0
// The conversion rules, pinned row by row in the engine and in the reference
// (whose faults the comparison would not see); and what the comparison does not
// draw: blocks that take part in nothing, and offsets beyond 32 bits.
#include "transfer/data_block.h"

#include <gtest/gtest.h>

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

// One row or two per rule; the driver draws the rest of each rule's values.
// clang-format off
const ConvCase kCases[] = {
    // Integers narrow keeping the low bits; same width copies the bits.
    ROW(ekShort, -1, ekUChar, 255), ROW(ekChar, -1, ekUShort, 65535),
    ROW(ekULong, 4294967295.0, ekLong, -1), ROW(ekLong, 70000, ekShort, 4464),
    // Floating values truncate toward zero through 64 bits.
    ROW(ekFloat, 255.9, ekUChar, 255), ROW(ekFloat, -1.0, ekUChar, 255),
    ROW(ekDouble, 255.999, ekChar, -1), ROW(ekFloat, -3e9, ekLong, 1294967296.0),
    ROW(ekFloat, 2147483904.0, ekUShort, 256), ROW(ekDouble, 9.2e18, ekULong, 2643984384.0),
    // NaN, infinities and truncations beyond 64 bits give 0.
    ROW(ekFloat, kNaN, ekUChar, 0), ROW(ekFloat, kInf, ekULong, 0), ROW(ekDouble, 1e19, ekULong, 0),
    ROW(ekDouble, 1e300, ekBit, 0),
    // Bits: 1 when the low 8 bits are not 0; a bit reads as 0 or 1.
    ROW(ekUShort, 256, ekBit, 0), ROW(ekUShort, 257, ekBit, 1), ROW(ekFloat, 0.7, ekBit, 0),
    ROW(ekBit, 1, ekChar, 1), ROW(ekBit, 1, ekFloat, 1.0),
    // Floating destinations: exact, or rounded to nearest binary32.
    ROW(ekULong, 4294967295.0, ekFloat, 4294967296.0), ROW(ekULong, 16777219, ekFloat, 16777220.0),
    ROW(ekDouble, 1e300, ekFloat, kInf), ROW(ekFloat, 0.1f, ekDouble, double(0.1f)),
    // Saturating: rounded to nearest, ties to even, clamped; NaN gives 0.
    SAT(ekFloat, 300.0, ekUChar, 255), SAT(ekFloat, 2.5, ekUChar, 2), SAT(ekFloat, 3.5, ekUChar, 4),
    SAT(ekFloat, -2.5, ekChar, -2), SAT(ekFloat, kNaN, ekChar, 0),
    SAT(ekFloat, 3e9, ekLong, 2147483647.0), SAT(ekFloat, kInf, ekULong, 4294967295.0),
    SAT(ekFloat, -kInf, ekLong, -2147483648.0), SAT(ekDouble, 4294967295.4, ekULong, 4294967295.0),
    SAT(ekUShort, 40000, ekShort, 32767), SAT(ekChar, -1, ekUChar, 0),
    SAT(ekULong, 4294967295.0, ekLong, 2147483647.0), SAT(ekLong, -1, ekULong, 0),
    // ekBit is the range 0..1.
    SAT(ekFloat, 0.7, ekBit, 1), SAT(ekDouble, 256.0, ekBit, 1), SAT(ekChar, -3, ekBit, 0),
    // ekDouble into ekFloat: finite values end at FLT_MAX; the rest as before.
    SAT(ekDouble, 1e300, ekFloat, double(FLT_MAX)), SAT(ekDouble, kInf, ekFloat, kInf),
    SAT(ekULong, 4294967295.0, ekFloat, 4294967296.0), SAT(ekBit, 1, ekChar, 1)};
// clang-format on
#undef ROW
#undef SAT

ekDataBlock row(void* p, ekType t, int n) {
    return ekDataBlock(p, t, ekSeparate, 1, nullptr, n, 1, 1, 0, 0, 0, 0);
}

// Converts n copies of the row's value, long enough for vector bodies and
// their tails, and checks every destination element.
void runRow(const ConvCase& c, bool reference) {
    const int n = 37;
    const bool real = c.src == ekFloat || c.src == ekDouble;
    const ref::Value v{real, real ? 0 : int64_t(c.value), c.value, c.src == ekFloat,
                       float(c.value)};
    std::vector<unsigned char> srcMem(size_t(ekDataSize(c.src, n))),
        dstMem(size_t(ekDataSize(c.dst, n)));
    for (int i = 0; i < n; ++i) ref::writeElem(c.src, srcMem.data(), i, v);
    ekDataBlock d = row(dstMem.data(), c.dst, n);
    d.saturate = c.saturate;
    if (reference)
        ref::move(d, row(srcMem.data(), c.src, n));
    else
        d.copyFrom(row(srcMem.data(), c.src, n));
    for (int i = 0; i < n; ++i) {
        const ref::Value out = ref::readElem(c.dst, dstMem.data(), i);
        const double got = out.isFloat ? out.f : double(out.i);
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

// Blocks that take part in no transfer, in either direction: values that only
// share bits with the nine types (6 = ekUChar | ekChar, 24, 96), a null data
// pointer, an order that is none of the three, strides beyond 32 bits.
TEST(DataBlock, BlocksWithoutDataTypeOrLayoutMoveNothing) {
    uint8_t in[4] = {1, 2, 3, 4};
    const ekPixel pixel(ekUChar, 3, in);
    const auto block = [](void* p, ekType t, ekOrder o, int nc, int n, int nz) {
        ekDataBlock b(p, t, o, nc, nullptr, n, n, nz, 0, 0, 0, 0);
        b.setClip(0, 0, 0, 1, 1, 1);
        return b;
    };
    const struct {
        ekType type;
        bool data;
        ekOrder order;
        int nc, n, nz;
    } rows[] = {
        {ekType(6), true, ekInterleaved, 1, 2, 1},  {ekType(24), true, ekInterleaved, 1, 2, 1},
        {ekType(96), true, ekInterleaved, 1, 2, 1}, {ekUChar, false, ekInterleaved, 1, 2, 1},
        {ekUChar, true, ekOrder(5), 2, 1, 1},       {ekUChar, true, ekInterleaved, 3, 50000, 1},
        {ekUChar, true, ekSeparate, 1, 50000, 1},  // a slice of more than 2^31 - 1
        {ekUChar, true, ekSeparate, 2, 40000, 2},  // the channel volume, not a stride
    };
    for (const auto& r : rows) {
        uint8_t out[4] = {};
        const ekType near = ekType(r.type & -r.type);  // its lowest bit: a real type
        const auto odd = [&](uint8_t* p) {
            return block(r.data ? p : nullptr, r.type, r.order, r.nc, r.n, r.nz);
        };
        odd(out).copyFrom(ekDataBlock(pixel, nullptr, nullptr, 0));
        odd(out).copyFrom(block(in, near, ekSeparate, 1, 2, 1));
        block(out, near, ekSeparate, 1, 2, 1).copyFrom(odd(in));
        EXPECT_EQ(std::vector<uint8_t>(out, out + 4), std::vector<uint8_t>(4, 0))
            << r.type << " " << r.n;
    }
    EXPECT_FALSE(block(in, ekUChar, ekSeparate, 2, 40000, 1).unusable);
    // An empty pixel widened to the destination gives zeros.
    row(in, ekUChar, 4).copyFrom(ekDataBlock(ekPixel(), nullptr, nullptr, 0));
    EXPECT_EQ(std::vector<uint8_t>(in, in + 4), std::vector<uint8_t>(4, 0));
}

TEST(DataBlock, OffsetsBeyond32BitsReachTheRightElement) {
    // A 2-channel bit block of 40000 x 40000: channel 1 of the last pixel is
    // bit 3.2e9 - 1, past any 32-bit offset. Only the last bytes are touched.
    const int n = 40000;
    const int64_t bytes = 2 * int64_t(n) * n / 8;
    std::unique_ptr<unsigned char[]> mem(new (std::nothrow) unsigned char[size_t(bytes)]);
    if (!mem) GTEST_SKIP() << "no memory for a 400 MB block";
    unsigned char* last = mem.get() + bytes - 8;
    std::memset(last, 0, 8);
    ekDataBlock big(mem.get(), ekBit, ekSeparate, 2, nullptr, n, n, 1, 0, 0, 0, 0);
    const unsigned char bits = 0x40;  // element 0 = 0, element 1 = 1
    big.setClip(n - 1, n - 1, 0, 1, 1, 1);
    big.copyFrom(ekDataBlock(ekPixel(ekBit, 2, &bits), nullptr, nullptr, 0));
    EXPECT_EQ(std::vector<unsigned char>(last, last + 8),
              (std::vector<unsigned char>{0, 0, 0, 0, 0, 0, 0, 1}));
    // Read back through a small block over the same corner.
    unsigned char out[2] = {7, 7};
    ekDataBlock small(out, ekUChar, ekInterleaved, 2, nullptr, 1, 1, 1, n - 1, n - 1, 0, 0);
    big.clipValid = false;
    small.copyFrom(big);
    EXPECT_TRUE(out[0] == 0 && out[1] == 1);
}

}  // namespace
