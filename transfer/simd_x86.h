// SPDX-License-Identifier: Apache-2.0
// Shared pieces of the x86 SIMD kernels (internal to transfer/simd_*_x86.cpp
// and simd_dispatch.cpp): the target attributes, 16-byte loads and stores,
// and the kernel declarations the dispatch tables point to. Kernels templated
// on NT come in two variants: ordinary stores, and streaming stores for
// large boxes.
#ifndef EKS_TRANSFER_SIMD_X86_H
#define EKS_TRANSFER_SIMD_X86_H

#include "transfer/simd_kernels.h"

#if EKS_SIMD && (defined(__x86_64__) || defined(__i386__))
#define EK_SIMD_X86 1

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

#define EK_SSSE3 __attribute__((target("ssse3")))
#define EK_AVX2 __attribute__((target("avx2")))
#define EK_AVX512 __attribute__((target("avx2,avx512f,avx512bw,avx512vl")))

namespace ekX86 {

using uchar = unsigned char;

// Stores of 16 bytes. With NT (large boxes) an aligned store bypasses the
// caches: the destination is not read first and does not evict the source.
template <bool NT>
inline void store16(uchar* p, __m128i v) {
    if (NT && !(reinterpret_cast<uintptr_t>(p) & 15))
        _mm_stream_si128(reinterpret_cast<__m128i*>(p), v);
    else
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}
inline __m128i load16(const uchar* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
// One float of a caller's buffer, and one stored into it: the buffers need
// not be aligned for their type, so single elements go through memcpy.
inline float floatAt(const float* p) {
    float v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void putFloat(float* p, float v) { std::memcpy(p, &v, 4); }

// The lines holding n bytes from p (n >= 1), requested with locality L (3:
// into every cache level, 1: the outer ones only).
template <int L = 3>
inline void prefetchBytes(const uchar* p, int64_t n) {
    for (int64_t k = 0; k < n; k += 64) __builtin_prefetch(p + k, 0, L);
    __builtin_prefetch(p + n - 1, 0, L);
}

// The number of leading items (0..15, handled one at a time) after which the
// address offset(k) (computed in integers: it may lie outside the row for
// short rows) is 16-byte aligned, or 0 when no such count exists. Only
// used to make streaming stores possible; any answer gives the same bytes.
template <class F>
int64_t alignHead(F offset, int64_t n) {
    for (int64_t k = 0; k < 16 && k < n; ++k)
        if (!(offset(k) & 15)) return k;
    return 0;
}

// simd_shuffle_x86.cpp: pixel reversal, channel split and merge (P or C
// from 1 to 4 bytes or channels), and the streaming row copy.
template <int P, bool NT>
EK_SSSE3 void reverseSsse3(uchar* dst, const uchar* src, int64_t n);
template <int C, bool NT>
EK_SSSE3 void splitSsse3(uchar* dst, int64_t rowStride, const uchar* src, int64_t n);
template <int C, bool NT>
EK_SSSE3 void mergeSsse3(uchar* dst, const uchar* src, int64_t rowStride, int64_t n);
template <int P, bool NT>
EK_AVX2 void reverseAvx2(uchar* dst, const uchar* src, int64_t n);
template <int C, bool NT>
EK_AVX2 void splitAvx2(uchar* dst, int64_t rowStride, const uchar* src, int64_t n);
template <int C, bool NT>
EK_AVX2 void mergeAvx2(uchar* dst, const uchar* src, int64_t rowStride, int64_t n);
void copyStream(uchar* dst, const uchar* src, int64_t n);
EK_AVX2 void copyStreamAvx2(uchar* dst, const uchar* src, int64_t n);
EK_AVX2 void copyShortRowsAvx2(uchar* dst, int64_t dstStride, const uchar* src, int64_t srcStride,
                               int64_t n, int64_t rows, int64_t ahead, bool next);
// Rows of 128 bytes or less as copyShortRowsAvx2, longer ones one memcpy
// each (Intel tuning).
void copyShortRowsLibc(uchar* dst, int64_t dstStride, const uchar* src, int64_t srcStride,
                       int64_t n, int64_t rows, int64_t ahead, bool next);

// simd_transpose_x86.cpp
void transpose8Sse2(uchar* dst, int64_t dstStride, const uchar* src, int64_t srcStride, int64_t w,
                    int64_t h);
EK_SSSE3 void transpose24Ssse3(uchar* dst, int64_t dstStride, const uchar* src, int64_t srcStride,
                               int64_t w, int64_t h);
template <bool NT>
EK_AVX2 void transpose8Avx2(uchar* dst, int64_t dstStride, const uchar* src, int64_t srcStride,
                            int64_t w, int64_t h);

// simd_convert_x86.cpp: unit-step conversions (ekUnitRunFn).
template <bool NT>
void floatToByteSse2(void* dst, int64_t dpos, const void* src, int64_t spos, int64_t n);
template <bool NT>
EK_AVX2 void floatToByteAvx2(void* dst, int64_t dpos, const void* src, int64_t spos, int64_t n);
template <bool NT>
EK_AVX2 void floatToWordAvx2(void* dst, int64_t dpos, const void* src, int64_t spos, int64_t n);
template <bool NT>
EK_AVX2 void floatToDwordAvx2(void* dst, int64_t dpos, const void* src, int64_t spos, int64_t n);
template <bool NT>
void shortToByteSse2(void* dst, int64_t dpos, const void* src, int64_t spos, int64_t n);
template <bool NT>
EK_AVX2 void shortToByteAvx2(void* dst, int64_t dpos, const void* src, int64_t spos, int64_t n);
template <bool NT, bool Signed>
EK_AVX2 void byteToFloatAvx2(void* dst, int64_t dpos, const void* src, int64_t spos, int64_t n);

// simd_avx512_x86.cpp: ekFloat to 8- and 16-bit integers, and short rows
// of more than 128 bytes in 64-byte moves.
template <bool NT>
EK_AVX512 void floatToByteAvx512(void* dst, int64_t dpos, const void* src, int64_t spos, int64_t n);
template <bool NT>
EK_AVX512 void floatToWordAvx512(void* dst, int64_t dpos, const void* src, int64_t spos, int64_t n);
EK_AVX512 void copyShortRowsAvx512(uchar* dst, int64_t dstStride, const uchar* src,
                                   int64_t srcStride, int64_t n, int64_t rows, int64_t ahead,
                                   bool next);

// simd_saturate_x86.cpp: the saturating kernel of a type pair for an
// instruction set level (1 SSE2 ... 3 AVX2), or null.
ekUnitRunFn saturatingRun(int level, ekType dstType, ekType srcType, bool stream);

}  // namespace ekX86

#endif  // EKS_SIMD && x86
#endif  // EKS_TRANSFER_SIMD_X86_H
