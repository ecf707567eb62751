// SPDX-License-Identifier: Apache-2.0
// The element conversion rules, one table row per case, each run through the
// engine and through the reference mover: the rows pin the reference's rules,
// which the randomized comparison then holds every layout and fast path to.
// Float bit patterns of every kind, and the values at the limits of 32 and
// 64 bits, go through the kernels of every level in the differential test.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <vector>

#include "reference_mover.h"
#include "transfer/data_block.h"

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

}  // namespace

TEST(TransferConversion, TableRowsInTheEngineAndTheReference) {
    for (const ConvCase& c : kCases)
        for (bool reference : {false, true}) runRow(c, reference);
}
