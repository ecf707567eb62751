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

#endif  // EKS_CORE_ELEMENT_CONVERT_H
