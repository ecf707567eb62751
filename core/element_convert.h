// SPDX-License-Identifier: Apache-2.0
// The one rule for storing a double into an element type, shared by ekPixel
// and the transfer engine's conversion loops. Everything is inline and free of
// undefined behaviour for every input, NaN and infinities included.
//
// Integers: truncate toward zero to 64 bits, then keep the low 8/16/32 bits
// (no clamping: 300.0 -> uint8_t 44, -1.0 -> 255). NaN, infinities and values
// whose truncation does not fit int64_t truncate to 0x8000000000000000, the
// pattern the x86 truncating conversion yields, so every integer type gets 0.
// Floats: round to nearest binary32; beyond the float range gives +-inf.
#ifndef EKS_CORE_ELEMENT_CONVERT_H
#define EKS_CORE_ELEMENT_CONVERT_H

#include <cfloat>
#include <cstdint>
#include <limits>
#include <type_traits>

// v truncated toward zero; 0x8000000000000000 when that does not fit.
inline int64_t ekTruncToInt64(double v) {
    // -2^63 is exact in double and fits; 2^63 is the first value that does
    // not. NaN fails both comparisons.
    if (v >= -9223372036854775808.0 && v < 9223372036854775808.0) return static_cast<int64_t>(v);
    return std::numeric_limits<int64_t>::min();
}

// v rounded to nearest binary32. A plain cast of a double outside the float
// range is undefined, so the overflow is decided here: values from FLT_MAX up
// to halfway towards 2^128 round down to FLT_MAX, from there on to infinity.
inline float ekDoubleToFloat(double v) {
    constexpr double kHalfwayToInf = 340282356779733661637539395458142568448.0;  // 2^128 - 2^103
    if (v > FLT_MAX) return v >= kHalfwayToInf ? std::numeric_limits<float>::infinity() : FLT_MAX;
    if (v < -FLT_MAX)
        return v <= -kHalfwayToInf ? -std::numeric_limits<float>::infinity() : -FLT_MAX;
    return static_cast<float>(v);  // in range, or NaN: both well defined
}

// v stored into the integer type T: the low bits of the 64-bit truncation.
template <class T>
inline T ekDoubleToInt(double v) {
    static_assert(std::is_integral<T>::value, "integer element types only");
    // Unsigned to narrower (signed) integer is modular on every supported compiler.
    return static_cast<T>(static_cast<uint64_t>(ekTruncToInt64(v)));
}

// The saturating rules (ekSaturate). Every element value of every type is
// exact in a double, so one rule from double serves every source type.

// v rounded to nearest, ties to even, and clamped to [lo, hi] (lo and hi
// integers of magnitude below 2^33); NaN gives 0. The rounding is done by
// hand from the truncation, so it does not depend on the rounding mode.
inline int64_t ekSaturateRound(double v, int64_t lo, int64_t hi) {
    if (v != v) return 0;
    if (v <= double(lo)) return lo;
    if (v >= double(hi)) return hi;
    int64_t t = static_cast<int64_t>(v);  // |v| < 2^33: fits
    const double f = v - double(t);       // exact: the fraction of v
    const bool odd = (t & 1) != 0;
    if (f > 0.5 || (f == 0.5 && odd))
        ++t;
    else if (f < -0.5 || (f == -0.5 && odd))
        --t;
    return t;  // still within [lo, hi]: lo < v < hi
}

// v saturated into the integer type T.
template <class T>
inline T ekSaturateToInt(double v) {
    static_assert(std::is_integral<T>::value && sizeof(T) <= 4, "element integer types only");
    return static_cast<T>(ekSaturateRound(v, int64_t(std::numeric_limits<T>::min()),
                                          int64_t(std::numeric_limits<T>::max())));
}

// v saturated into ekBit: 0 or 1.
inline uint8_t ekSaturateToBit(double v) { return static_cast<uint8_t>(ekSaturateRound(v, 0, 1)); }

// v rounded to nearest binary32; a finite value beyond the float range gives
// +-FLT_MAX, infinities and NaN stay as they are.
inline float ekSaturateToFloat(double v) {
    if (v > FLT_MAX) return v == std::numeric_limits<double>::infinity() ? float(v) : FLT_MAX;
    if (v < -FLT_MAX) return v == -std::numeric_limits<double>::infinity() ? float(v) : -FLT_MAX;
    return static_cast<float>(v);
}

#endif  // EKS_CORE_ELEMENT_CONVERT_H
