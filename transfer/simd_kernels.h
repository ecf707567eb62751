// Explicit SIMD kernels of the transfer engine, chosen at run time from the
// CPU's features. Every kernel gives byte-identical results to the portable
// loops; with EKS_SIMD off (or on a CPU without the features) the lookups
// return null and the portable loops run.
#ifndef EKS_TRANSFER_SIMD_KERNELS_H
#define EKS_TRANSFER_SIMD_KERNELS_H

#include <cstdint>

#include "eks/core.h"

// Converts n elements from source offset spos to destination offset dpos,
// both with unit steps (offsets count elements of each side's type).
using ekUnitRunFn = void (*)(void* dst, int64_t dpos, const void* src, int64_t spos, int64_t n);

#if EKS_SIMD
// The SIMD kernel for unit-step runs of this type pair, or null.
ekUnitRunFn ekSimdUnitRun(ekType dstType, ekType srcType);
#else
inline ekUnitRunFn ekSimdUnitRun(ekType, ekType) { return nullptr; }
#endif

#endif  // EKS_TRANSFER_SIMD_KERNELS_H
