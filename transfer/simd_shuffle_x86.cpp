// SPDX-License-Identifier: Apache-2.0
// x86 byte-shuffle kernels: whole pixels reversed (rows mirrored in x), and
// interleaved rows split into channel rows or merged from them, with SSSE3
// (16 pixels per step) and AVX2 (32), plus the streaming row copy.
#include "transfer/simd_x86.h"

#if EK_SIMD_X86

#include <immintrin.h>
#include <tmmintrin.h>

#include <algorithm>
#include <cstring>

namespace {

using ekX86::load16;
using ekX86::store16;
using ekX86::uchar;

// Byte permutations of a chunk of N input vectors into M output vectors:
// output byte o is input byte perm(o). Each output vector is the OR of one
// pshufb per input vector that feeds it; lanes fed by another input are
// zeroed by a mask byte with the top bit set. The masks are computed at
// compile time.

template <int N, int M>
struct ShuffleTable {
    uchar mask[M][N][16];
    bool used[M][N];
};

enum class Perm { reverse, split, merge };

// perm(o) for pixels of P bytes (reverse: chunk of 16 pixels; split/merge:
// P channels of one byte, 16 pixels per chunk).
constexpr int permute(Perm kind, int p, int o) {
    if (kind == Perm::reverse) return (15 - o / p) * p + o % p;
    if (kind == Perm::split) return (o % 16) * p + o / 16;  // out vector k = channel k
    return (o % p) * 16 + o / p;                            // merge
}

template <int P>
constexpr ShuffleTable<P, P> makeTable(Perm kind) {
    ShuffleTable<P, P> t{};
    for (int m = 0; m < P; ++m)
        for (int n = 0; n < P; ++n) {
            t.used[m][n] = false;
            for (int lane = 0; lane < 16; ++lane) {
                const int from = permute(kind, P, m * 16 + lane);
                const bool here = from / 16 == n;
                t.mask[m][n][lane] = here ? uchar(from % 16) : uchar(0x80);
                if (here) t.used[m][n] = true;
            }
        }
    return t;
}

template <int P>
struct Tables {
    static constexpr ShuffleTable<P, P> reverse = makeTable<P>(Perm::reverse);
    static constexpr ShuffleTable<P, P> split = makeTable<P>(Perm::split);
    static constexpr ShuffleTable<P, P> merge = makeTable<P>(Perm::merge);
};
template <int P>
constexpr ShuffleTable<P, P> Tables<P>::reverse;
template <int P>
constexpr ShuffleTable<P, P> Tables<P>::split;
template <int P>
constexpr ShuffleTable<P, P> Tables<P>::merge;

template <int P>
EK_SSSE3 inline void shuffleChunk(const ShuffleTable<P, P>& t, const __m128i in[P],
                                  __m128i out[P]) {
    for (int m = 0; m < P; ++m) {
        __m128i acc = _mm_setzero_si128();
        for (int n = 0; n < P; ++n)
            if (t.used[m][n])
                acc = _mm_or_si128(
                    acc,
                    _mm_shuffle_epi8(
                        in[n], _mm_loadu_si128(reinterpret_cast<const __m128i*>(t.mask[m][n]))));
        out[m] = acc;
    }
}

// The same three permutations with AVX2, 32 pixels per step: each 256-bit
// register holds two independent 16-pixel chunks, one per 128-bit lane, and
// the in-lane byte shuffle applies the 16-pixel tables to both at once.

EK_AVX2 inline __m256i load2x16(const uchar* lo, const uchar* hi) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lo))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(hi)), 1);
}
EK_AVX2 inline __m256i load32(const uchar* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
EK_AVX2 inline void stream32(uchar* p, __m256i v) {
    _mm256_stream_si256(reinterpret_cast<__m256i*>(p), v);
}
template <bool NT>
EK_AVX2 inline void store2x16(uchar* lo, uchar* hi, __m256i v) {
    store16<NT>(lo, _mm256_castsi256_si128(v));
    store16<NT>(hi, _mm256_extracti128_si256(v, 1));
}

template <int P>
EK_AVX2 inline void shuffleChunk2(const ShuffleTable<P, P>& t, const __m256i in[P],
                                  __m256i out[P]) {
    for (int m = 0; m < P; ++m) {
        __m256i acc = _mm256_setzero_si256();
        for (int n = 0; n < P; ++n)
            if (t.used[m][n])
                acc = _mm256_or_si256(
                    acc, _mm256_shuffle_epi8(in[n],
                                             _mm256_broadcastsi128_si256(_mm_loadu_si128(
                                                 reinterpret_cast<const __m128i*>(t.mask[m][n])))));
        out[m] = acc;
    }
}

}  // namespace

namespace ekX86 {

// dst pixel i = src pixel n-1-i, pixels of P bytes; 16 pixels per step,
// forward through the source and backward through the destination.
template <int P, bool NT>
EK_SSSE3 void reverseSsse3(uchar* dst, const uchar* src, int64_t n) {
    const auto& t = Tables<P>::reverse;
    const int64_t head =
        NT ? alignHead(
                 [&](int64_t k) {
                     return reinterpret_cast<uintptr_t>(dst) + uintptr_t((n - k - 16) * P);
                 },
                 n)
           : 0;
    int64_t i = 0;
    for (; i < head; ++i) std::memcpy(dst + (n - 1 - i) * P, src + i * P, P);
    for (; i + 16 <= n; i += 16) {
        const uchar* s = src + i * P;
        uchar* d = dst + (n - i - 16) * P;
        __m128i in[P], out[P];
        for (int k = 0; k < P; ++k) in[k] = load16(s + 16 * k);
        shuffleChunk<P>(t, in, out);
        for (int k = 0; k < P; ++k) store16<NT>(d + 16 * k, out[k]);
    }
    for (; i < n; ++i) std::memcpy(dst + (n - 1 - i) * P, src + i * P, P);
}

// Interleaved row of n pixels of C one-byte channels into C rows.
template <int C, bool NT>
EK_SSSE3 void splitSsse3(uchar* dst, int64_t rowStride, const uchar* src, int64_t n) {
    const auto& t = Tables<C>::split;
    const int64_t head =
        NT ? alignHead([&](int64_t k) { return reinterpret_cast<uintptr_t>(dst) + uintptr_t(k); },
                       n)
           : 0;
    int64_t i = 0;
    for (; i < head; ++i)
        for (int k = 0; k < C; ++k) dst[k * rowStride + i] = src[i * C + k];
    for (; i + 16 <= n; i += 16) {
        __m128i in[C], out[C];
        for (int k = 0; k < C; ++k) in[k] = load16(src + i * C + 16 * k);
        shuffleChunk<C>(t, in, out);
        for (int k = 0; k < C; ++k) store16<NT>(dst + k * rowStride + i, out[k]);
    }
    for (; i < n; ++i)
        for (int k = 0; k < C; ++k) dst[k * rowStride + i] = src[i * C + k];
}

// C rows of n one-byte elements into one interleaved row.
template <int C, bool NT>
EK_SSSE3 void mergeSsse3(uchar* dst, const uchar* src, int64_t rowStride, int64_t n) {
    const auto& t = Tables<C>::merge;
    const int64_t head =
        NT ? alignHead(
                 [&](int64_t k) { return reinterpret_cast<uintptr_t>(dst) + uintptr_t(k * C); }, n)
           : 0;
    int64_t i = 0;
    for (; i < head; ++i)
        for (int k = 0; k < C; ++k) dst[i * C + k] = src[k * rowStride + i];
    for (; i + 16 <= n; i += 16) {
        __m128i in[C], out[C];
        for (int k = 0; k < C; ++k) in[k] = load16(src + k * rowStride + i);
        shuffleChunk<C>(t, in, out);
        for (int k = 0; k < C; ++k) store16<NT>(dst + i * C + 16 * k, out[k]);
    }
    for (; i < n; ++i)
        for (int k = 0; k < C; ++k) dst[i * C + k] = src[k * rowStride + i];
}

template <int P, bool NT>
EK_AVX2 void reverseAvx2(uchar* dst, const uchar* src, int64_t n) {
    const auto& t = Tables<P>::reverse;
    int64_t i = 0;
    for (; i + 32 <= n; i += 32) {
        // Source pixels i..i+15 (low lanes) and i+16..i+31 (high lanes) land
        // reversed at destination pixels n-i-16.. and n-i-32.. respectively.
        const uchar* s = src + i * P;
        uchar* dLo = dst + (n - i - 16) * P;
        uchar* dHi = dst + (n - i - 32) * P;
        __m256i in[P], out[P];
        for (int k = 0; k < P; ++k) in[k] = load2x16(s + 16 * k, s + 16 * P + 16 * k);
        shuffleChunk2<P>(t, in, out);
        for (int k = 0; k < P; ++k) store2x16<NT>(dLo + 16 * k, dHi + 16 * k, out[k]);
    }
    if (i < n) reverseSsse3<P, NT>(dst, src + i * P, n - i);
}

// 32 pixels of C interleaved channels at src into C vectors of 32 bytes,
// one per channel.
template <int C>
EK_AVX2 inline void split32(const ShuffleTable<C, C>& t, const uchar* src, __m256i out[C]) {
    __m256i in[C];
    for (int k = 0; k < C; ++k) in[k] = load2x16(src + 16 * k, src + 16 * C + 16 * k);
    shuffleChunk2<C>(t, in, out);
}

// With streaming stores, each channel row's 64-byte lines are written whole,
// two 32-byte stores one right after the other: a line that is only partly
// written when the stores move on to the next channel row is flushed partly
// (measured: a 16-byte offset from line alignment took the split from 0.66 to
// 0.83 of memcpy). The head runs up to the first line boundary of row 0; the
// rows share that boundary when rowStride is a multiple of 64.
template <int C, bool NT>
EK_AVX2 void splitAvx2(uchar* dst, int64_t rowStride, const uchar* src, int64_t n) {
    const auto& t = Tables<C>::split;
    int64_t i = 0;
    if (NT && !(rowStride & 63)) {
        const int64_t head =
            std::min<int64_t>(n, int64_t((64 - (reinterpret_cast<uintptr_t>(dst) & 63)) & 63));
        if (head) splitSsse3<C, NT>(dst, rowStride, src, head);
        i = head;
        for (; i + 64 <= n; i += 64) {
            __m256i lo[C], hi[C];
            split32<C>(t, src + i * C, lo);
            split32<C>(t, src + (i + 32) * C, hi);
            for (int k = 0; k < C; ++k) {
                uchar* d = dst + k * rowStride + i;
                stream32(d, lo[k]);
                stream32(d + 32, hi[k]);
            }
        }
    }
    for (; i + 32 <= n; i += 32) {
        __m256i out[C];
        split32<C>(t, src + i * C, out);
        for (int k = 0; k < C; ++k) {
            uchar* d = dst + k * rowStride + i;
            store2x16<NT>(d, d + 16, out[k]);
        }
    }
    if (i < n) splitSsse3<C, NT>(dst + i, rowStride, src + i * C, n - i);
}

// 32 pixels from C channel rows into C vectors: vector k holds interleaved
// bytes 16k.. of pixels 0..15 (low lane) and of pixels 16..31 (high lane).
template <int C>
EK_AVX2 inline void merge32(const ShuffleTable<C, C>& t, const uchar* src, int64_t rowStride,
                            __m256i out[C]) {
    __m256i in[C];
    for (int k = 0; k < C; ++k) in[k] = load32(src + k * rowStride);  // pixels 0..15, 16..31
    shuffleChunk2<C>(t, in, out);
}

// Streaming variant: 64 pixels (C whole 64-byte lines) per step, the
// destination written in address order with 32-byte stores, so that every
// line is completed before the next is started (see splitAvx2). The head runs
// to the first pixel whose interleaved byte address is line aligned.
template <int C>
EK_AVX2 void mergeLines(uchar* dst, const uchar* src, int64_t rowStride, int64_t n, int64_t& i) {
    const auto& t = Tables<C>::merge;
    for (; i + 64 <= n; i += 64) {
        __m256i v[2 * C];
        merge32<C>(t, src + i, rowStride, v);
        merge32<C>(t, src + i + 32, rowStride, v + C);
        uchar* d = dst + i * C;
        for (int g = 0; g < 2; ++g)
            for (int j = 0; j < C; ++j) {
                // Pieces 2j and 2j+1 of group g: vector (piece mod C), lane
                // (piece div C).
                const int p = 2 * j, q = 2 * j + 1;
                const __m256i a = v[g * C + p % C], b = v[g * C + q % C];
                __m256i w;
                if (p < C && q < C)
                    w = _mm256_permute2x128_si256(a, b, 0x20);
                else if (p < C)
                    w = _mm256_permute2x128_si256(a, b, 0x30);
                else
                    w = _mm256_permute2x128_si256(a, b, 0x31);
                stream32(d + g * 32 * C + 32 * j, w);
            }
    }
}

template <int C, bool NT>
EK_AVX2 void mergeAvx2(uchar* dst, const uchar* src, int64_t rowStride, int64_t n) {
    const auto& t = Tables<C>::merge;
    int64_t i = 0;
    if (NT) {
        int64_t head = -1;
        for (int64_t k = 0; k < 64 && k < n; ++k)
            if (!((reinterpret_cast<uintptr_t>(dst) + uintptr_t(k * C)) & 63)) {
                head = k;
                break;
            }
        if (head >= 0) {
            if (head) mergeSsse3<C, NT>(dst, src, rowStride, head);
            i = head;
            mergeLines<C>(dst, src, rowStride, n, i);
        }
    }
    for (; i + 32 <= n; i += 32) {
        __m256i out[C];
        merge32<C>(t, src + i, rowStride, out);
        for (int k = 0; k < C; ++k)
            store2x16<NT>(dst + i * C + 16 * k, dst + (i + 16) * C + 16 * k, out[k]);
    }
    if (i < n) mergeSsse3<C, NT>(dst + i * C, src + i, rowStride, n - i);
}

// Plain byte copy of a row, 64 bytes per step, for large boxes only (NT).
void copyStream(uchar* dst, const uchar* src, int64_t n) {
    const int64_t head =
        std::min<int64_t>(n, int64_t((16 - (reinterpret_cast<uintptr_t>(dst) & 15)) & 15));
    std::memcpy(dst, src, size_t(head));
    int64_t i = head;
    for (; i + 64 <= n; i += 64) {
        const __m128i a = load16(src + i), b = load16(src + i + 16), c = load16(src + i + 32),
                      d = load16(src + i + 48);
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i), a);
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i + 16), b);
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i + 32), c);
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i + 48), d);
    }
    std::memcpy(dst + i, src + i, size_t(n - i));
}

// The same with AVX2: 32-byte streaming stores, 128 bytes per step. Every
// 16-byte piece of the row is written with a streaming store (a 16-byte one
// to reach 32-byte alignment and for a 16-byte rest): a cache line that
// receives both ordinary and streaming stores - rows copied one after the
// other share lines at their ends - costs a read of that line and a flush,
// which at every row seam made this copy slower than memcpy.
// n bytes (a multiple of 128) to a 32-byte aligned destination, streamed;
// answers n.
EK_AVX2 inline int64_t streamRun(uchar* dst, const uchar* src, int64_t n) {
    for (int64_t i = 0; i < n; i += 128) {
        const __m256i a = load32(src + i), b = load32(src + i + 32), c = load32(src + i + 64),
                      d = load32(src + i + 96);
        stream32(dst + i, a);
        stream32(dst + i + 32, b);
        stream32(dst + i + 64, c);
        stream32(dst + i + 96, d);
    }
    return n;
}
EK_AVX2 void copyStreamAvx2(uchar* dst, const uchar* src, int64_t n) {
    const int64_t head =
        std::min<int64_t>(n, int64_t((16 - (reinterpret_cast<uintptr_t>(dst) & 15)) & 15));
    std::memcpy(dst, src, size_t(head));
    int64_t i = head;
    if (i + 16 <= n && (reinterpret_cast<uintptr_t>(dst + i) & 31)) {
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i), load16(src + i));
        i += 16;
    }
    // Long copies go as four streams, a kilobyte of each in turn: memory
    // serves four distant places at once better than one (a 48 MB copy
    // measured 0.60 -> 0.47 of memcpy). Not for rows of a few kilobytes,
    // copied one after the other: there it made a vertical flip of 12 KB rows
    // slower (0.6 -> 1.05).
    constexpr int64_t kChunk = 1024;
    if (n - i >= 256 * kChunk) {
        const int64_t q = (n - i) / 4 / kChunk * kChunk;
        for (int64_t off = 0; off < q; off += kChunk)
            for (int64_t k = 0; k < 4; ++k)
                streamRun(dst + i + k * q + off, src + i + k * q + off, kChunk);
        i += 4 * q;
    }
    i += streamRun(dst + i, src + i, (n - i) & ~int64_t(127));
    for (; i + 32 <= n; i += 32) stream32(dst + i, load32(src + i));
    if (i + 16 <= n) {
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i), load16(src + i));
        i += 16;
    }
    std::memcpy(dst + i, src + i, size_t(n - i));
}

// Short rows (tile reads): rows of n bytes with W-byte moves, K per row: K-1
// from the row's start and one ending at its end (overlapping its
// predecessor). Straight-line code per row, since a tile's rows are a few
// dozen bytes each. With NEXT the n bytes that the tile two to the right
// will read are prefetched into the outer caches (the tile right next to this
// one was requested by the previous call; one tile ahead was measured too
// short to hide the memory latency: 32 x 32 tile reads 1.40 -> 1.31 of
// memcpy): the lines from src+2n on, 64 bytes apart, plus the one holding
// src+3n-1, cover them for n <= W*K.
template <int W>
EK_AVX2 inline void moveW(uchar* d, const uchar* s, int64_t i) {
    if (W == 32)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), load32(s + i));
    else
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), load16(s + i));
}
template <int W, int K, bool NEXT>
EK_AVX2 void shortRows(uchar* dst, int64_t dstStride, const uchar* src, int64_t srcStride,
                       int64_t n, int64_t rows) {
    for (int64_t r = 0; r < rows; ++r, dst += dstStride, src += srcStride) {
        if (NEXT) {
            // In integers: near the source's end these addresses may lie
            // past it (a prefetch does not fault).
            const uintptr_t p = reinterpret_cast<uintptr_t>(src) + uintptr_t(2 * n);
            for (int j = 0; j < (W * K + 63) / 64; ++j)
                __builtin_prefetch(reinterpret_cast<const void*>(p + uintptr_t(64 * j)), 0, 1);
            __builtin_prefetch(reinterpret_cast<const void*>(p + uintptr_t(n - 1)), 0, 1);
        }
        for (int k = 0; k + 1 < K; ++k) moveW<W>(dst, src, W * k);
        moveW<W>(dst, src, n - W);
    }
}
template <int W, int K>
EK_AVX2 void shortRows(uchar* dst, int64_t dstStride, const uchar* src, int64_t srcStride,
                       int64_t n, int64_t rows, bool next) {
    if (next)
        shortRows<W, K, true>(dst, dstStride, src, srcStride, n, rows);
    else
        shortRows<W, K, false>(dst, dstStride, src, srcStride, n, rows);
}

// Short rows; one call per slice. Rows of 16 to 128 bytes take the
// straight-line loops above. All moves are 16 bytes: tile rows often start
// 16-byte aligned but not 32-byte aligned, and 32-byte loads would then split
// across cache lines (measured: 256 x 256 tile reads 0.83 -> 0.65 of memcpy
// with 16-byte moves).
EK_AVX2 void copyShortRowsAvx2(uchar* dst, int64_t dstStride, const uchar* src, int64_t srcStride,
                               int64_t n, int64_t rows, int64_t ahead, bool next) {
    if (ahead <= 0 && n >= 16 && n <= 128) {
        switch ((n + 15) / 16) {
            case 1:
            case 2:
                return shortRows<16, 2>(dst, dstStride, src, srcStride, n, rows, next);
            case 3:
                return shortRows<16, 3>(dst, dstStride, src, srcStride, n, rows, next);
            case 4:
                return shortRows<16, 4>(dst, dstStride, src, srcStride, n, rows, next);
            case 5:
                return shortRows<16, 5>(dst, dstStride, src, srcStride, n, rows, next);
            case 6:
                return shortRows<16, 6>(dst, dstStride, src, srcStride, n, rows, next);
            case 7:
                return shortRows<16, 7>(dst, dstStride, src, srcStride, n, rows, next);
            default:
                return shortRows<16, 8>(dst, dstStride, src, srcStride, n, rows, next);
        }
    }
    for (int64_t r = 0; r < rows; ++r, dst += dstStride, src += srcStride) {
        if (r + ahead < rows && ahead > 0) prefetchBytes(src + ahead * srcStride, n);
        if (next) prefetchBytes<1>(src + n, n);
        if (n < 16) {
            std::memcpy(dst, src, size_t(n));
            continue;
        }
        int64_t i = 0;
        for (; i + 32 <= n; i += 32) {
            moveW<16>(dst, src, i);
            moveW<16>(dst, src, i + 16);
        }
        if (i + 16 <= n) moveW<16>(dst, src, i);
        if (n & 15) moveW<16>(dst, src, n - 16);
    }
}

// The Intel tuning: one memcpy per row beyond the straight-line lengths.
void copyShortRowsLibc(uchar* dst, int64_t dstStride, const uchar* src, int64_t srcStride,
                       int64_t n, int64_t rows, int64_t ahead, bool next) {
    if (n <= 128) return copyShortRowsAvx2(dst, dstStride, src, srcStride, n, rows, ahead, next);
    for (int64_t r = 0; r < rows; ++r, dst += dstStride, src += srcStride)
        std::memcpy(dst, src, size_t(n));
}

// The instances the dispatch tables use.
#define EK_INSTANCES(N, NT)                                                  \
    template void reverseSsse3<N, NT>(uchar*, const uchar*, int64_t);        \
    template void reverseAvx2<N, NT>(uchar*, const uchar*, int64_t);         \
    template void splitSsse3<N, NT>(uchar*, int64_t, const uchar*, int64_t); \
    template void splitAvx2<N, NT>(uchar*, int64_t, const uchar*, int64_t);  \
    template void mergeSsse3<N, NT>(uchar*, const uchar*, int64_t, int64_t); \
    template void mergeAvx2<N, NT>(uchar*, const uchar*, int64_t, int64_t);
EK_INSTANCES(1, false)
EK_INSTANCES(1, true)
EK_INSTANCES(2, false)
EK_INSTANCES(2, true)
EK_INSTANCES(3, false)
EK_INSTANCES(3, true)
EK_INSTANCES(4, false)
EK_INSTANCES(4, true)
#undef EK_INSTANCES

}  // namespace ekX86

#endif  // EK_SIMD_X86
