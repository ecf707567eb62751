// SPDX-License-Identifier: Apache-2.0
// Run-time choice of the SIMD kernels: one table per instruction set level
// (SSE2, the x86-64 baseline; SSSE3 shuffles; AVX2), each with ordinary and
// with streaming stores, chosen from the CPU's features and the level cap.
#include "transfer/simd_kernels.h"
#include "transfer/simd_x86.h"

#if EK_SIMD_X86

namespace {

using namespace ekX86;

// Kernel tables: baseline SSE2, with SSSE3 shuffles, with AVX2 conversion;
// each with ordinary stores and with streaming stores (large boxes).

template <bool NT>
constexpr ekSimdKernels makeSse2() {
    return {transpose8Sse2,
            nullptr,
            {nullptr, nullptr, nullptr, nullptr, nullptr},
            {nullptr, nullptr, nullptr, nullptr, nullptr},
            {nullptr, nullptr, nullptr, nullptr, nullptr},
            floatToByteSse2<NT>,
            shortToByteSse2<NT>,
            nullptr,
            nullptr,
            nullptr,
            nullptr,
            NT ? copyStream : nullptr,
            nullptr};
}
template <bool NT>
constexpr ekSimdKernels makeSsse3(ekUnitRunFn floatToByte) {
    return {transpose8Sse2,
            transpose24Ssse3,
            {nullptr, reverseSsse3<1, NT>, reverseSsse3<2, NT>, reverseSsse3<3, NT>,
             reverseSsse3<4, NT>},
            {nullptr, nullptr, splitSsse3<2, NT>, splitSsse3<3, NT>, splitSsse3<4, NT>},
            {nullptr, nullptr, mergeSsse3<2, NT>, mergeSsse3<3, NT>, mergeSsse3<4, NT>},
            floatToByte,
            shortToByteSse2<NT>,
            nullptr,
            nullptr,
            nullptr,
            nullptr,
            NT ? copyStream : nullptr,
            nullptr};
}

constexpr ekSimdKernels kSse2[2] = {makeSse2<false>(), makeSse2<true>()};
constexpr ekSimdKernels kSsse3[2] = {makeSsse3<false>(floatToByteSse2<false>),
                                     makeSsse3<true>(floatToByteSse2<true>)};
template <bool NT>
constexpr ekSimdKernels makeAvx2() {
    return {
        transpose8Avx2<NT>,
        transpose24Ssse3,
        {nullptr, reverseAvx2<1, NT>, reverseAvx2<2, NT>, reverseAvx2<3, NT>, reverseAvx2<4, NT>},
        {nullptr, nullptr, splitAvx2<2, NT>, splitAvx2<3, NT>, splitAvx2<4, NT>},
        {nullptr, nullptr, mergeAvx2<2, NT>, mergeAvx2<3, NT>, mergeAvx2<4, NT>},
        floatToByteAvx2<NT>,
        shortToByteAvx2<NT>,
        floatToWordAvx2<NT>,
        floatToDwordAvx2<NT>,
        byteToFloatAvx2<NT, false>,
        byteToFloatAvx2<NT, true>,
        NT ? copyStreamAvx2 : nullptr,
        copyShortRowsAvx2};
}
constexpr ekSimdKernels kAvx2[2] = {makeAvx2<false>(), makeAvx2<true>()};

}  // namespace

int64_t ekStreamBytes = int64_t(16) << 20;
int ekSimdLevelCap = 3;

// The CPU's features are read from what libgcc records when it is loaded (no
// __builtin_cpu_init needed after load).
int ekSimdLevel() {
    if (ekSimdLevelCap >= 3 && __builtin_cpu_supports("avx2")) return 3;
    if (ekSimdLevelCap >= 2 && __builtin_cpu_supports("ssse3")) return 2;
    return ekSimdLevelCap >= 1 ? 1 : 0;
}

const ekSimdKernels* ekSimd(bool stream) {
    switch (ekSimdLevel()) {
        case 3:
            return &kAvx2[stream];
        case 2:
            return &kSsse3[stream];
        case 1:
            return &kSse2[stream];
        default:
            return nullptr;
    }
}

void ekSimdFence() { _mm_sfence(); }

ekUnitRunFn ekSimdUnitRun(ekType dstType, ekType srcType, bool stream, bool saturate) {
    if (saturate) return saturatingRun(ekSimdLevel(), dstType, srcType, stream);
    const ekSimdKernels* k = ekSimd(stream);
    if (!k) return nullptr;
    switch (dstType) {
        case ekUChar:
        case ekChar:
            if (srcType == ekFloat) return k->floatToByte;
            if (srcType == ekUShort || srcType == ekShort) return k->shortToByte;
            return nullptr;
        case ekUShort:
        case ekShort:
            return srcType == ekFloat ? k->floatToWord : nullptr;
        case ekULong:
        case ekLong:
            return srcType == ekFloat ? k->floatToDword : nullptr;
        case ekFloat:
            return srcType == ekUChar  ? k->ucharToFloat
                   : srcType == ekChar ? k->charToFloat
                                       : nullptr;
        default:
            return nullptr;
    }
}

#elif EKS_SIMD

// Not an x86 target: no explicit kernels; the portable loops run.
int64_t ekStreamBytes = int64_t(16) << 20;
int ekSimdLevelCap = 0;
int ekSimdLevel() { return 0; }
const ekSimdKernels* ekSimd(bool) { return nullptr; }
void ekSimdFence() {}
ekUnitRunFn ekSimdUnitRun(ekType, ekType, bool, bool) { return nullptr; }

#else

// Built without the SIMD kernels: the settings exist but change nothing.
int64_t ekStreamBytes = int64_t(16) << 20;
int ekSimdLevelCap = 0;
int ekSimdLevel() { return 0; }

#endif
