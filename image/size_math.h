// SPDX-License-Identifier: Apache-2.0
// Overflow-free size arithmetic for the image core: products of extents and
// channel counts are formed in 64 bits and clamped where they must fit 32.
#ifndef EKS_IMAGE_SIZE_MATH_H
#define EKS_IMAGE_SIZE_MATH_H

#include <cstdint>

#include "core/type_facts.h"  // ekClampToInt32, ekDataSize64
#include "eks/core.h"

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

#endif  // EKS_IMAGE_SIZE_MATH_H
