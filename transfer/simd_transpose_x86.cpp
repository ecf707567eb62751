// SPDX-License-Identifier: Apache-2.0
// x86 byte transposition: SSE2 16 x 16 blocks in 256 x 256 tiles.
#include "transfer/simd_x86.h"

#if EK_SIMD_X86

namespace {

using ekX86::uchar;

// SSE2 byte transposition in 16 x 16 blocks: four rounds of interleaving
// (bytes, words, double words, quad words) turn 16 rows into 16 columns.

inline void transpose16x16(const uchar* src, int64_t srcStride, uchar* dst, int64_t dstStride) {
    __m128i r[16], t[16];
    for (int i = 0; i < 16; ++i)
        r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i * srcStride));
    for (int i = 0; i < 8; ++i) {
        t[i] = _mm_unpacklo_epi8(r[2 * i], r[2 * i + 1]);
        t[i + 8] = _mm_unpackhi_epi8(r[2 * i], r[2 * i + 1]);
    }
    for (int i = 0; i < 4; ++i) {
        r[i] = _mm_unpacklo_epi16(t[2 * i], t[2 * i + 1]);
        r[i + 4] = _mm_unpackhi_epi16(t[2 * i], t[2 * i + 1]);
        r[i + 8] = _mm_unpacklo_epi16(t[2 * i + 8], t[2 * i + 9]);
        r[i + 12] = _mm_unpackhi_epi16(t[2 * i + 8], t[2 * i + 9]);
    }
    // r[4g + i]: column group g (4 columns) of row group i (4 rows).
    for (int q = 0; q < 4; ++q)
        for (int i = 0; i < 2; ++i) {
            t[4 * q + i] = _mm_unpacklo_epi32(r[4 * q + 2 * i], r[4 * q + 2 * i + 1]);
            t[4 * q + i + 2] = _mm_unpackhi_epi32(r[4 * q + 2 * i], r[4 * q + 2 * i + 1]);
        }
    // t[4q + 2h + i]: columns 4q+2h and 4q+2h+1 of rows 8i..8i+7; joining the
    // two row halves gives whole columns.
    for (int q = 0; q < 4; ++q)
        for (int h = 0; h < 2; ++h) {
            const int c = 4 * q + 2 * h;
            r[c] = _mm_unpacklo_epi64(t[c], t[c + 1]);
            r[c + 1] = _mm_unpackhi_epi64(t[c], t[c + 1]);
        }
    for (int k = 0; k < 16; ++k)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + k * dstStride), r[k]);
}

}  // namespace

namespace ekX86 {

// Tiles of 256 x 256 bytes: the destination cache lines are written whole
// within one tile, and the rows of a tile stay within reach of the caches and
// the TLB (256 was the fastest of 32 to 512 on 4096-byte rows).
void transpose8Sse2(uchar* dst, int64_t dstStride, const uchar* src, int64_t srcStride, int64_t w,
                    int64_t h) {
    constexpr int64_t kTile = 256;
    const int64_t h16 = h - h % 16, w16 = w - w % 16;
    for (int64_t i0 = 0; i0 < h16; i0 += kTile) {
        const int64_t i1 = i0 + kTile < h16 ? i0 + kTile : h16;
        for (int64_t j0 = 0; j0 < w16; j0 += kTile) {
            const int64_t j1 = j0 + kTile < w16 ? j0 + kTile : w16;
            for (int64_t j = j0; j < j1; j += 16)
                for (int64_t i = i0; i < i1; i += 16)
                    transpose16x16(src + i * srcStride + j, srcStride, dst + j * dstStride + i,
                                   dstStride);
        }
    }
    // The right edge (columns beyond the last whole block) and the bottom
    // edge (rows beyond it), one byte at a time.
    for (int64_t i = 0; i < h16; ++i)
        for (int64_t j = w16; j < w; ++j) dst[j * dstStride + i] = src[i * srcStride + j];
    for (int64_t i = h16; i < h; ++i)
        for (int64_t j = 0; j < w; ++j) dst[j * dstStride + i] = src[i * srcStride + j];
}

}  // namespace ekX86

#endif  // EK_SIMD_X86
