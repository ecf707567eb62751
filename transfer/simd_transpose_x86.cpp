// SPDX-License-Identifier: Apache-2.0
// x86 transposition: bytes in SSE2 16 x 16 blocks in 256 x 256 tiles, and
// with AVX2 (streaming stores) in 256 x 256 tiles staged through two
// buffers; three-byte pixels in SSSE3 4 x 4 blocks.
#include "transfer/simd_x86.h"

#if EK_SIMD_X86

#include <immintrin.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

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

// Two 16 x 16 byte blocks side by side in a buffer of Stride-byte rows,
// transposed at once: each 32-byte row holds a row of both, the 256-bit
// interleaving steps work within 128-bit lanes (the same four rounds as
// transpose16x16), and the low lanes give the left block's columns, the high
// lanes the right block's, as rows of the output buffer (Stride-byte rows).
template <int64_t Stride>
EK_AVX2 inline void transpose16x32(const uchar* in, uchar* out) {
    __m256i r[16], t[16];
    for (int i = 0; i < 16; ++i)
        r[i] = _mm256_load_si256(reinterpret_cast<const __m256i*>(in + i * Stride));
    for (int i = 0; i < 8; ++i) {
        t[i] = _mm256_unpacklo_epi8(r[2 * i], r[2 * i + 1]);
        t[i + 8] = _mm256_unpackhi_epi8(r[2 * i], r[2 * i + 1]);
    }
    for (int i = 0; i < 4; ++i) {
        r[i] = _mm256_unpacklo_epi16(t[2 * i], t[2 * i + 1]);
        r[i + 4] = _mm256_unpackhi_epi16(t[2 * i], t[2 * i + 1]);
        r[i + 8] = _mm256_unpacklo_epi16(t[2 * i + 8], t[2 * i + 9]);
        r[i + 12] = _mm256_unpackhi_epi16(t[2 * i + 8], t[2 * i + 9]);
    }
    for (int q = 0; q < 4; ++q)
        for (int i = 0; i < 2; ++i) {
            t[4 * q + i] = _mm256_unpacklo_epi32(r[4 * q + 2 * i], r[4 * q + 2 * i + 1]);
            t[4 * q + i + 2] = _mm256_unpackhi_epi32(r[4 * q + 2 * i], r[4 * q + 2 * i + 1]);
        }
    for (int q = 0; q < 4; ++q)
        for (int h = 0; h < 2; ++h) {
            const int c = 4 * q + 2 * h;
            r[c] = _mm256_unpacklo_epi64(t[c], t[c + 1]);
            r[c + 1] = _mm256_unpackhi_epi64(t[c], t[c + 1]);
        }
    for (int k = 0; k < 16; ++k) {
        _mm_store_si128(reinterpret_cast<__m128i*>(out + k * Stride), _mm256_castsi256_si128(r[k]));
        _mm_store_si128(reinterpret_cast<__m128i*>(out + (k + 16) * Stride),
                        _mm256_extracti128_si256(r[k], 1));
    }
}

// Tiles of up to 256 x 256 bytes staged whole in two buffers of
// kStage x kStage bytes: each source row's piece of a tile (up to four
// lines) is read in one go, transposed in the buffers, and each destination
// row's piece written in one go with streaming stores, so that memory serves
// runs of four lines on both sides. Staging 64 x 64 blocks instead, single
// lines a row apart on both sides, measured 2.0 of memcpy on a 4096 x 4096
// transposition against 1.7. w and h are multiples of 64; the destination
// pieces start line aligned.
constexpr int64_t kStage = 256;
EK_AVX2 void transposeStaged(uchar* dst, int64_t dstStride, const uchar* src, int64_t srcStride,
                             int64_t w, int64_t h, uchar* in, uchar* out) {
    for (int64_t ti = 0; ti < h; ti += kStage)
        for (int64_t tj = 0; tj < w; tj += kStage) {
            const int64_t nh = std::min(kStage, h - ti), nw = std::min(kStage, w - tj);
            for (int64_t r = 0; r < nh; ++r) {
                const uchar* s = src + (ti + r) * srcStride + tj;
                for (int64_t k = 0; k < nw; k += 32)
                    _mm256_store_si256(reinterpret_cast<__m256i*>(in + r * kStage + k),
                                       _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + k)));
            }
            for (int64_t a = 0; a < nh; a += 16)
                for (int64_t b = 0; b < nw; b += 32)
                    transpose16x32<kStage>(in + a * kStage + b, out + b * kStage + a);
            for (int64_t r = 0; r < nw; ++r) {
                uchar* d = dst + (tj + r) * dstStride + ti;
                for (int64_t k = 0; k < nh; k += 32)
                    _mm256_stream_si256(
                        reinterpret_cast<__m256i*>(d + k),
                        _mm256_load_si256(reinterpret_cast<const __m256i*>(out + r * kStage + k)));
            }
        }
}

EK_AVX2 void transposeBlocks(uchar* dst, int64_t dstStride, const uchar* src, int64_t srcStride,
                             int64_t w, int64_t h) {
    // Two buffers rather than one of twice the size: a block of 128 KB or
    // more would be mapped for this call alone, and freeing it makes the
    // allocator serve the program's later blocks of up to that size from its
    // heap instead (a change of the program's memory layout that this call
    // has no business making).
    const size_t stageBytes = size_t(kStage * kStage);
    uchar* stageIn = static_cast<uchar*>(std::aligned_alloc(4096, stageBytes));
    uchar* stageOut = stageIn ? static_cast<uchar*>(std::aligned_alloc(4096, stageBytes)) : nullptr;
    if (stageOut) {
        transposeStaged(dst, dstStride, src, srcStride, w, h, stageIn, stageOut);
        std::free(stageOut);
        std::free(stageIn);
        return;
    }
    std::free(stageIn);
    transpose8Sse2(dst, dstStride, src, srcStride, w, h);  // no memory to stage in
}

template <bool NT>
EK_AVX2 void transpose8Avx2(uchar* dst, int64_t dstStride, const uchar* src, int64_t srcStride,
                            int64_t w, int64_t h) {
    // With ordinary stores staged blocks measured slower than the SSE2
    // kernel (each destination line is read before it is written). The grid
    // of 64 x 64 blocks starts at the first source row whose destination
    // column is line aligned (the destination's rows being lines apart); the
    // rows before it, and the strips right of and below it, go to the SSE2
    // kernel.
    constexpr int64_t kB = 64;
    if (!NT || (dstStride & 63)) return transpose8Sse2(dst, dstStride, src, srcStride, w, h);
    int64_t i0 = int64_t((64 - (reinterpret_cast<uintptr_t>(dst) & 63)) & 63);
    if (i0 >= h) i0 = 0;
    const int64_t nh = (h - i0) - (h - i0) % kB, nw = w - w % kB;
    if (nh == 0 || nw == 0) return transpose8Sse2(dst, dstStride, src, srcStride, w, h);
    uchar* d = dst + i0;
    const uchar* s = src + i0 * srcStride;
    transposeBlocks(d, dstStride, s, srcStride, nw, nh);
    // Rows above the grid, the strip right of it (grid rows, columns from
    // nw) and the rows below it.
    if (i0) transpose8Sse2(dst, dstStride, src, srcStride, w, i0);
    if (nw < w) transpose8Sse2(d + nw * dstStride, dstStride, s + nw, srcStride, w - nw, nh);
    if (i0 + nh < h)
        transpose8Sse2(dst + i0 + nh, dstStride, src + (i0 + nh) * srcStride, srcStride, w,
                       h - i0 - nh);
}

// Three-byte pixels (8-bit RGB) in 4 x 4 blocks: each source row's four
// pixels are widened to 32-bit lanes, the 4 x 4 lanes transposed, and the
// lanes narrowed back to 12 bytes per destination row. Loads and stores are
// 8 + 4 bytes, never past the box. Blocks go in tiles of 64 x 64 pixels, so
// that the 64 rows of both sides a tile touches stay in the caches while the
// tile's blocks take their 12-byte pieces.
EK_SSSE3 inline __m128i load12(const uchar* p) {
    uint32_t tail;
    std::memcpy(&tail, p + 8, 4);
    return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                              _mm_cvtsi32_si128(int(tail)));
}
EK_SSSE3 inline void store12(uchar* p, __m128i v) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
    const uint32_t tail = uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(v, 8)));
    std::memcpy(p + 8, &tail, 4);
}
EK_SSSE3 inline void transpose4x4Px3(uchar* dst, int64_t dstStride, const uchar* src,
                                     int64_t srcStride) {
    const __m128i widen = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i narrow = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    __m128i r[4];
    for (int k = 0; k < 4; ++k) r[k] = _mm_shuffle_epi8(load12(src + k * srcStride), widen);
    const __m128i t0 = _mm_unpacklo_epi32(r[0], r[1]), t1 = _mm_unpacklo_epi32(r[2], r[3]);
    const __m128i t2 = _mm_unpackhi_epi32(r[0], r[1]), t3 = _mm_unpackhi_epi32(r[2], r[3]);
    const __m128i c[4] = {_mm_unpacklo_epi64(t0, t1), _mm_unpackhi_epi64(t0, t1),
                          _mm_unpacklo_epi64(t2, t3), _mm_unpackhi_epi64(t2, t3)};
    for (int k = 0; k < 4; ++k) store12(dst + k * dstStride, _mm_shuffle_epi8(c[k], narrow));
}

EK_SSSE3 void transpose24Ssse3(uchar* dst, int64_t dstStride, const uchar* src, int64_t srcStride,
                               int64_t w, int64_t h) {
    constexpr int64_t kTile = 64;
    const int64_t h4 = h - h % 4, w4 = w - w % 4;
    for (int64_t i0 = 0; i0 < h4; i0 += kTile)
        for (int64_t j0 = 0; j0 < w4; j0 += kTile) {
            const int64_t i1 = std::min(h4, i0 + kTile), j1 = std::min(w4, j0 + kTile);
            for (int64_t j = j0; j < j1; j += 4)
                for (int64_t i = i0; i < i1; i += 4)
                    transpose4x4Px3(dst + j * dstStride + 3 * i, dstStride,
                                    src + i * srcStride + 3 * j, srcStride);
        }
    // The columns right of the last whole block and the rows below it.
    auto px = [&](int64_t i, int64_t j) {
        std::memcpy(dst + j * dstStride + 3 * i, src + i * srcStride + 3 * j, 3);
    };
    for (int64_t i = 0; i < h4; ++i)
        for (int64_t j = w4; j < w; ++j) px(i, j);
    for (int64_t i = h4; i < h; ++i)
        for (int64_t j = 0; j < w; ++j) px(i, j);
}

template void transpose8Avx2<false>(uchar*, int64_t, const uchar*, int64_t, int64_t, int64_t);
template void transpose8Avx2<true>(uchar*, int64_t, const uchar*, int64_t, int64_t, int64_t);

}  // namespace ekX86

#endif  // EK_SIMD_X86
