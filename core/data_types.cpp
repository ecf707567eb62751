// SPDX-License-Identifier: Apache-2.0
// Per-data-type facts: byte sizes, value ranges, signedness and the choice of
// the smallest type for a value range.
#include <cmath>
#include <cstdint>

#include "core/type_facts.h"
#include "eks/core.h"

namespace {

// Signed element types as a mask, as ekDataIsSigned reports them.
constexpr int kSignedTypes = ekChar | ekShort | ekLong | ekFloat | ekDouble;  // 0x1D4

// The nine types in the order ekDataType tries them.
constexpr ekType kTypesBySize[] = {ekBit,   ekUChar, ekChar,  ekUShort, ekShort,
                                   ekULong, ekLong,  ekFloat, ekDouble};

}  // namespace

int64_t ekDataSize64(ekType type, int64_t n) {
    constexpr int64_t kLimit = (int64_t(1) << 60) - 1;  // keeps 8n inside int64_t
    if (n > kLimit) n = kLimit;
    if (n < -kLimit) n = -kLimit;
    switch (type) {
        case ekBit:
            return (n + 7) / 8;  // truncates toward zero, as the formula says
        case ekUChar:
        case ekChar:
            return n;
        case ekUShort:
        case ekShort:
            return 2 * n;
        case ekULong:
        case ekLong:
        case ekFloat:
            return 4 * n;
        case ekDouble:
            return 8 * n;
        default:
            return 0;
    }
}

int32_t ekAllocSize(ekType type, int64_t n) {
    if (n < 0) return -1;
    const int64_t bytes = ekDataSize64(type, n);
    return bytes <= INT32_MAX ? int32_t(bytes) : -1;
}

int ekDataSize(ekType type, int n) {
    // Sizes beyond the int range are clamped to it; memory is never sized
    // from this value inside the library (ekAllocSize refuses such sizes).
    const int64_t bytes = ekDataSize64(type, n);
    if (bytes > INT32_MAX) return INT32_MAX;
    if (bytes < INT32_MIN) return INT32_MIN;
    return int(bytes);
}

ekType ekDataType(double minValue, double maxValue) {
    if (std::isnan(minValue) || std::isnan(maxValue)) return ekDouble;
    // Truncating in double gives the same answer as a truncation to int for
    // bounds inside the int range, and stays defined for any other bound.
    const double lo = std::trunc(minValue);
    const double hi = std::trunc(maxValue);
    for (ekType t : kTypesBySize)
        if (ekDataMin(t) <= lo && ekDataMax(t) >= hi) return t;
    return ekDouble;  // infinite bounds: nothing holds them
}

double ekDataMin(ekType type) {
    switch (type) {
        case ekBit:
        case ekUChar:
        case ekUShort:
        case ekULong:
            return 0.0;
        case ekChar:
            return -128.0;
        case ekShort:
            return -32768.0;
        case ekLong:
            return -2147483648.0;
        case ekFloat:
            return -3.4028234663852886e+38;
        case ekDouble:
            return -1.7976931348623157e+308;
        default:
            return 0.0;
    }
}

double ekDataMax(ekType type) {
    switch (type) {
        case ekBit:
            return 1.0;
        case ekUChar:
            return 255.0;
        case ekChar:
            return 127.0;
        case ekUShort:
            return 65535.0;
        case ekShort:
            return 32767.0;
        case ekULong:
            return 4294967295.0;
        case ekLong:
            return 2147483647.0;
        case ekFloat:
            return 3.4028234663852886e+38;
        case ekDouble:
            return 1.7976931348623157e+308;
        default:
            return 0.0;
    }
}

int ekDataIsSigned(ekType type) { return int(type) & kSignedTypes; }
