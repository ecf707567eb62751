// SPDX-License-Identifier: Apache-2.0
// Run-time choice of the SIMD kernels: one table per instruction set level
// (SSE2, the x86-64 baseline; SSSE3 shuffles; AVX2; AVX-512) and CPU family
// tuning, each with ordinary and with streaming stores, chosen from the
// CPU's features, the level cap and the tuning setting.
#include "transfer/simd_kernels.h"
#include "transfer/simd_x86.h"

#if EK_SIMD_X86

namespace {

using namespace ekX86;

// The kernels that depend on the CPU family as well as on the level: the
// plain copies. On AMD (where this engine was tuned) a large contiguous box
// goes as four streams of streaming stores and tile rows of more than 128
// bytes take the widest moves (16-byte moves with AVX2; with AVX-512,
// 64-byte moves measured 0.80 of their time for 256 x 256 tile reads on a
// 4th generation EPYC). On Intel Xeons the C library's memcpy measured
// faster than both: a whole 3-channel image copied in 0.95 of the four
// streams' time, 256 x 256 tile reads in 0.8 of the 16-byte moves' time
// with one memcpy per row; rows of 128 bytes or less keep the
// straight-line moves there too (32 x 32 tile reads led on both).
struct Copies {
    void (*row)(uchar*, const uchar*, int64_t);
    void (*block)(uchar*, const uchar*, int64_t);
    ekCopyRowsFn shortRows;
};
constexpr Copies copiesFor(int level, int tuning, bool nt) {
    const bool amd = tuning == ekTuneAmd;
    void (*row)(uchar*, const uchar*, int64_t) = nullptr;
    if (nt) row = level >= 3 ? copyStreamAvx2 : copyStream;
    ekCopyRowsFn shortRows = nullptr;
    if (level >= 3)
        shortRows = !amd ? copyShortRowsLibc : level >= 4 ? copyShortRowsAvx512 : copyShortRowsAvx2;
    return {row, amd ? row : nullptr, shortRows};
}

// Kernel tables: baseline SSE2, with SSSE3 shuffles, with AVX2 conversion,
// with AVX-512 conversion; each with ordinary stores and with streaming
// stores (large boxes), for each CPU family's copies.

template <bool NT>
constexpr ekSimdKernels makeSse2(int tuning) {
    const Copies c = copiesFor(1, tuning, NT);
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
            c.row,
            c.block,
            c.shortRows};
}
template <bool NT>
constexpr ekSimdKernels makeSsse3(int tuning) {
    const Copies c = copiesFor(2, tuning, NT);
    return {transpose8Sse2,
            transpose24Ssse3,
            {nullptr, reverseSsse3<1, NT>, reverseSsse3<2, NT>, reverseSsse3<3, NT>,
             reverseSsse3<4, NT>},
            {nullptr, nullptr, splitSsse3<2, NT>, splitSsse3<3, NT>, splitSsse3<4, NT>},
            {nullptr, nullptr, mergeSsse3<2, NT>, mergeSsse3<3, NT>, mergeSsse3<4, NT>},
            floatToByteSse2<NT>,
            shortToByteSse2<NT>,
            nullptr,
            nullptr,
            nullptr,
            nullptr,
            c.row,
            c.block,
            c.shortRows};
}
template <bool NT>
constexpr ekSimdKernels makeAvx2(int tuning) {
    const Copies c = copiesFor(3, tuning, NT);
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
        c.row,
        c.block,
        c.shortRows};
}
// AVX-512: the float conversions to 8 and 16 bits, and the copies; the
// shuffles stay AVX2's (see simd_avx512_x86.cpp).
template <bool NT>
constexpr ekSimdKernels makeAvx512(int tuning) {
    ekSimdKernels k = makeAvx2<NT>(tuning);
    const Copies c = copiesFor(4, tuning, NT);
    k.floatToByte = floatToByteAvx512<NT>;
    k.floatToWord = floatToWordAvx512<NT>;
    k.copyShortRows = c.shortRows;
    return k;
}

// [tuning][streaming]
constexpr ekSimdKernels kSse2[2][2] = {{makeSse2<false>(0), makeSse2<true>(0)},
                                       {makeSse2<false>(1), makeSse2<true>(1)}};
constexpr ekSimdKernels kSsse3[2][2] = {{makeSsse3<false>(0), makeSsse3<true>(0)},
                                        {makeSsse3<false>(1), makeSsse3<true>(1)}};
constexpr ekSimdKernels kAvx2[2][2] = {{makeAvx2<false>(0), makeAvx2<true>(0)},
                                       {makeAvx2<false>(1), makeAvx2<true>(1)}};
constexpr ekSimdKernels kAvx512[2][2] = {{makeAvx512<false>(0), makeAvx512<true>(0)},
                                         {makeAvx512<false>(1), makeAvx512<true>(1)}};

// Runs of at least this many destination bytes go as four streams of
// kPiece elements each in turn (1 to 4 KB on either side for the kernels'
// element sizes of 1 to 4 bytes, and whole 64-byte lines of the
// destination).
constexpr int64_t kLongRunBytes = int64_t(256) << 10;
constexpr int64_t kPiece = 1024;

}  // namespace

int64_t ekStreamBytes = int64_t(16) << 20;
int ekSimdLevelCap = 4;

// The CPU's features are read from what libgcc records when it is loaded (no
// __builtin_cpu_init needed after load).
int ekSimdLevel() {
    if (ekSimdLevelCap >= 4 && __builtin_cpu_supports("avx512f") &&
        __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl"))
        return 4;
    if (ekSimdLevelCap >= 3 && __builtin_cpu_supports("avx2")) return 3;
    if (ekSimdLevelCap >= 2 && __builtin_cpu_supports("ssse3")) return 2;
    return ekSimdLevelCap >= 1 ? 1 : 0;
}

const ekSimdKernels* ekSimd(bool stream) {
    const int t = ekSimdTune();
    switch (ekSimdLevel()) {
        case 4:
            return &kAvx512[t][stream];
        case 3:
            return &kAvx2[t][stream];
        case 2:
            return &kSsse3[t][stream];
        case 1:
            return &kSse2[t][stream];
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

// Four streams: the run's four quarters, kPiece elements of each in turn.
// The quarters start where the destination is 64-byte aligned (the elements
// before that go first), so that the kernels' streaming stores never share
// a line between two calls.
void ekSimdLongRun(ekUnitRunFn k, int dstBytes, void* dst, int64_t dpos, const void* src,
                   int64_t spos, int64_t n) {
    if (n * dstBytes < kLongRunBytes) return k(dst, dpos, src, spos, n);
    const uintptr_t d = reinterpret_cast<uintptr_t>(dst) + uintptr_t(dpos * dstBytes);
    const int64_t head = d % unsigned(dstBytes) ? 0 : int64_t((64 - d % 64) % 64) / dstBytes;
    k(dst, dpos, src, spos, head);
    dpos += head, spos += head, n -= head;
    const int64_t q = n / 4 / kPiece * kPiece;
    for (int64_t off = 0; off < q; off += kPiece)
        for (int64_t s = 0; s < 4; ++s) k(dst, dpos + s * q + off, src, spos + s * q + off, kPiece);
    k(dst, dpos + 4 * q, src, spos + 4 * q, n - 4 * q);
}

#elif EKS_SIMD

// Not an x86 target: no explicit kernels; the portable loops run.
int64_t ekStreamBytes = int64_t(16) << 20;
int ekSimdLevelCap = 0;
int ekSimdLevel() { return 0; }
const ekSimdKernels* ekSimd(bool) { return nullptr; }
void ekSimdFence() {}
ekUnitRunFn ekSimdUnitRun(ekType, ekType, bool, bool) { return nullptr; }
void ekSimdLongRun(ekUnitRunFn k, int, void* dst, int64_t dpos, const void* src, int64_t spos,
                   int64_t n) {
    k(dst, dpos, src, spos, n);
}

#else

// Built without the SIMD kernels: the settings exist but change nothing.
int64_t ekStreamBytes = int64_t(16) << 20;
int ekSimdLevelCap = 0;
int ekSimdLevel() { return 0; }

#endif

int ekSimdTuning = -1;

int ekSimdTune() {
    if (ekSimdTuning == ekTuneAmd || ekSimdTuning == ekTuneIntel) return ekSimdTuning;
#if EK_SIMD_X86
    if (__builtin_cpu_is("intel")) return ekTuneIntel;
#endif
    return ekTuneAmd;
}

const char* ekSimdTuningName() { return ekSimdTune() == ekTuneIntel ? "Intel" : "AMD"; }
