// Overflow-free size arithmetic for the image core: products of extents and
// channel counts are formed in 64 bits and clamped where they must fit 32.
#ifndef EKS_IMAGE_SIZE_MATH_H
#define EKS_IMAGE_SIZE_MATH_H

#include <cstdint>

#include "eks/core.h"

// Clamps to the 32-bit signed range.
inline int32_t ekClampToInt32(int64_t v) {
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

// Product of 32-bit factors. Intermediate results are held within +-2^31, so
// the next multiplication cannot overflow 64 bits, and a result outside the
// 32-bit range stays outside it (with its sign) until the final clamp.
inline int64_t ekProduct64(int64_t a, int64_t b) {
    const int64_t lim = int64_t(1) << 31;
    int64_t p = a * b;  // |a|, |b| <= 2^31: |p| <= 2^62
    return p > lim ? lim : (p < -lim ? -lim : p);
}

inline int32_t ekClampedProduct(int32_t a, int32_t b, int32_t c) {
    return ekClampToInt32(ekProduct64(ekProduct64(a, b), c));
}

inline int32_t ekClampedProduct(int32_t a, int32_t b, int32_t c, int32_t d) {
    return ekClampToInt32(ekProduct64(ekProduct64(ekProduct64(a, b), c), d));
}

// Bytes for n elements of a type, as ekDataSize computes them but in 64 bits:
// ekBit packs eight to a byte ((n+7)/8, truncating), other types outside the
// nine give 0.
inline int64_t ekDataSize64(ekType type, int64_t n) {
    if (type == ekBit) return (n + 7) / 8;
    return n * ekDataSize(type, 1);
}

#endif  // EKS_IMAGE_SIZE_MATH_H
