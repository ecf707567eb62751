// SPDX-License-Identifier: Apache-2.0
// Internal per-type facts that the public per-type functions do not give:
// byte sizes in 64 bits, for code that must size memory without overflow.
#ifndef EKS_CORE_TYPE_FACTS_H
#define EKS_CORE_TYPE_FACTS_H

#include <cstdint>

#include "eks/core.h"

// v clamped to the 32-bit signed range: where a 64-bit size or coordinate
// must be stored back into a 32-bit field.
inline int32_t ekClampToInt32(int64_t v) {
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

// Bytes needed for n elements of type, exact for |n| below 2^60 (n beyond is
// taken as +-(2^60 - 1), far past any real size). 0 for anything but the nine types.
int64_t ekDataSize64(ekType type, int64_t n);

// Bytes to allocate for n elements of type: the exact size when n >= 0 and the
// size fits in int32_t, otherwise -1 (the allocation must not happen).
int32_t ekAllocSize(ekType type, int64_t n);

#endif  // EKS_CORE_TYPE_FACTS_H
