// Run-time choice of the SIMD kernels from the CPU's features.
#include "transfer/simd_kernels.h"

#if EKS_SIMD

ekUnitRunFn ekSimdUnitRun(ekType, ekType) { return nullptr; }

#endif  // EKS_SIMD
