// SPDX-License-Identifier: Apache-2.0
// x86 AVX-512 kernels (F, BW and VL): ekFloat to 8- and 16-bit integers, 64
// elements a step, and short rows of more than 128 bytes in 64-byte moves.
// Each gives exactly what the AVX2 kernel of the same work gives. The
// channel shuffles stay with AVX2: split and merge with 64-byte streaming
// stores measured no faster on a 4th generation EPYC (both run at the speed
// of memory, as OpenCV's do).
#include "transfer/simd_x86.h"

#if EK_SIMD_X86

// g++ 12's AVX-512 intrinsics start many results from a self-initialized
// "undefined" vector, which -Wmaybe-uninitialized reports inside the header
// once they are inlined (fixed in g++ 13). The warning is silenced for the
// header's lines only.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

#include <cstring>

#include "transfer/convert_kernels.h"

namespace ekX86 {

namespace {

// One element by the rule (heads and tails of the vector loops).
inline uchar floatToByte(float v) {
    const float r = (v >= -2147483648.0f && v < 2147483648.0f) ? v : 0.0f;
    return uchar(uint32_t(int32_t(r)));
}
inline uint16_t floatToWord(float v) { return uint16_t(uint64_t(ekTruncateFloat(v))); }

// Elements before d + k*size reaches 64-byte alignment (0 when it never
// does), at most n: the head that lets every later store stream.
inline int64_t headTo64(const uchar* d, int size, int64_t n) {
    const uintptr_t a = reinterpret_cast<uintptr_t>(d);
    if (a % unsigned(size)) return 0;
    const int64_t h = int64_t((64 - a % 64) % 64) / size;
    return h < n ? h : n;
}

// 64 bytes to p; with NT, when p is line aligned (a destination of 2-byte
// elements at an odd address never is), as two 32-byte streaming stores:
// one 64-byte streaming store made a large float to 8-bit conversion slower
// on a 4th generation EPYC (0.87 of the AVX2 kernel's speed; the halves
// match it).
template <bool NT>
EK_AVX512 inline void store64(uchar* p, __m512i v) {
    if (NT && !(reinterpret_cast<uintptr_t>(p) & 63)) {
        _mm256_stream_si256(reinterpret_cast<__m256i*>(p), _mm512_castsi512_si256(v));
        _mm256_stream_si256(reinterpret_cast<__m256i*>(p + 32), _mm512_extracti64x4_epi64(v, 1));
    } else {
        _mm512_storeu_si512(p, v);
    }
}

EK_AVX512 inline void move64(uchar* d, const uchar* s) {
    _mm512_storeu_si512(d, _mm512_loadu_si512(s));
}

// Sixteen floats truncated, each lane's low 8 bits kept. Outside the 32-bit
// range (NaN and infinities included) the conversion yields 0x80000000,
// whose low 8 bits are 0, as are those of the 64-bit truncation (see
// simd_convert_x86.cpp).
EK_AVX512 inline __m512i truncLowByte16(const float* s) {
    return _mm512_and_si512(_mm512_cvttps_epi32(_mm512_loadu_ps(s)), _mm512_set1_epi32(0xFF));
}

// Sixteen floats as the low 32 bits of their 64-bit truncation: beyond 2^31
// the float is an integer whose mantissa sits at least 8 places up, so the
// low 32 bits are the mantissa shifted left by (exponent - 23), negated for
// a negative value; from 2^63 on, and for NaN and infinities, 0.
EK_AVX512 inline __m512i truncLow32(const float* s) {
    const __m512 v = _mm512_loadu_ps(s);
    const __m512i bits = _mm512_castps_si512(v);
    const __m512i absBits = _mm512_and_si512(bits, _mm512_set1_epi32(0x7FFFFFFF));
    const __m512 a = _mm512_castsi512_ps(absBits);
    const __mmask16 small = _mm512_cmp_ps_mask(a, _mm512_set1_ps(2147483648.0f), _CMP_LT_OQ);
    const __mmask16 large =
        _mm512_cmp_ps_mask(a, _mm512_set1_ps(2147483648.0f), _CMP_GE_OQ) &
        _mm512_cmp_ps_mask(a, _mm512_set1_ps(9223372036854775808.0f), _CMP_LT_OQ);
    const __m512i shift = _mm512_sub_epi32(_mm512_srli_epi32(absBits, 23), _mm512_set1_epi32(150));
    const __m512i mant = _mm512_or_si512(_mm512_and_si512(absBits, _mm512_set1_epi32(0x7FFFFF)),
                                         _mm512_set1_epi32(0x800000));
    const __m512i sign = _mm512_srai_epi32(bits, 31);  // all ones for a negative value
    const __m512i wide =
        _mm512_sub_epi32(_mm512_xor_si512(_mm512_sllv_epi32(mant, shift), sign), sign);
    const __m512i narrow = _mm512_maskz_cvttps_epi32(small, v);
    return _mm512_mask_mov_epi32(narrow, large, wide);
}

}  // namespace

// ekFloat to one-byte destinations, 64 a step: four groups of sixteen
// truncated, packed (the packs work within 128-bit lanes, and every lane
// holds 0..255, which they keep) and put back in order: half the shuffles
// of the AVX2 kernel per element.
template <bool NT>
EK_AVX512 void floatToByteAvx512(void* dst, int64_t dpos, const void* src, int64_t spos,
                                 int64_t n) {
    uchar* d = static_cast<uchar*>(dst) + dpos;
    const float* s = reinterpret_cast<const float*>(static_cast<const uchar*>(src) + spos * 4);
    int64_t i = 0;
    for (const int64_t head = NT ? headTo64(d, 1, n) : 0; i < head; ++i)
        d[i] = floatToByte(floatAt(s + i));
    const __m512i order = _mm512_setr_epi32(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
    for (; i + 64 <= n; i += 64) {
        const __m512i ab = _mm512_packs_epi32(truncLowByte16(s + i), truncLowByte16(s + i + 16));
        const __m512i ce =
            _mm512_packs_epi32(truncLowByte16(s + i + 32), truncLowByte16(s + i + 48));
        store64<NT>(d + i, _mm512_permutexvar_epi32(order, _mm512_packus_epi16(ab, ce)));
    }
    for (; i < n; ++i) d[i] = floatToByte(floatAt(s + i));
}

// ekFloat to two-byte destinations, 32 a step: the low 16 bits of each
// 64-bit truncation.
template <bool NT>
EK_AVX512 void floatToWordAvx512(void* dst, int64_t dpos, const void* src, int64_t spos,
                                 int64_t n) {
    uchar* d = static_cast<uchar*>(dst) + dpos * 2;
    const float* s = reinterpret_cast<const float*>(static_cast<const uchar*>(src) + spos * 4);
    auto one = [&](int64_t k) {
        const uint16_t w = floatToWord(floatAt(s + k));
        std::memcpy(d + 2 * k, &w, 2);
    };
    int64_t i = 0;
    for (const int64_t head = NT ? headTo64(d, 2, n) : 0; i < head; ++i) one(i);
    for (; i + 32 <= n; i += 32) {
        const __m256i lo = _mm512_cvtepi32_epi16(truncLow32(s + i));
        const __m256i hi = _mm512_cvtepi32_epi16(truncLow32(s + i + 16));
        store64<NT>(d + 2 * i, _mm512_inserti64x4(_mm512_castsi256_si512(lo), hi, 1));
    }
    for (; i < n; ++i) one(i);
}

// Short rows longer than 128 bytes (256 x 256 tile reads), with the AVX2
// kernel's prefetches, in 64-byte moves: on a 4th generation EPYC they took
// 0.80 of the time of 16-byte moves, although a tile's rows rarely start on
// a line (the 32-byte moves the AVX2 kernel avoids for that reason took
// 0.83). Shorter rows go to the AVX2 kernel's straight-line moves, which
// these do not beat.
EK_AVX512 void copyShortRowsAvx512(uchar* dst, int64_t dstStride, const uchar* src,
                                   int64_t srcStride, int64_t n, int64_t rows, int64_t ahead,
                                   bool next) {
    if (n <= 128) return copyShortRowsAvx2(dst, dstStride, src, srcStride, n, rows, ahead, next);
    for (int64_t r = 0; r < rows; ++r, dst += dstStride, src += srcStride) {
        if (r + ahead < rows && ahead > 0) prefetchBytes(src + ahead * srcStride, n);
        if (next) prefetchBytes<1>(src + n, n);
        int64_t i = 0;
        for (; i + 64 <= n; i += 64) move64(dst + i, src + i);
        if (i < n) move64(dst + n - 64, src + n - 64);
    }
}

template void floatToByteAvx512<false>(void*, int64_t, const void*, int64_t, int64_t);
template void floatToByteAvx512<true>(void*, int64_t, const void*, int64_t, int64_t);
template void floatToWordAvx512<false>(void*, int64_t, const void*, int64_t, int64_t);
template void floatToWordAvx512<true>(void*, int64_t, const void*, int64_t, int64_t);

}  // namespace ekX86

#endif  // EK_SIMD_X86
