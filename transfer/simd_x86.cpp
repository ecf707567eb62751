// x86 SIMD kernels: SSE2 (the x86-64 baseline) and SSSE3 byte shuffles, the
// latter compiled with a target attribute and used only when the CPU has it.
// Each kernel produces exactly the bytes of the portable loop it replaces.
#include "transfer/convert_kernels.h"
#include "transfer/simd_kernels.h"

#if EKS_SIMD && (defined(__x86_64__) || defined(__i386__))

#include <emmintrin.h>
#include <immintrin.h>
#include <tmmintrin.h>

#include <algorithm>
#include <cstring>

#define EK_SSSE3 __attribute__((target("ssse3")))
#define EK_AVX2 __attribute__((target("avx2")))

namespace {

using uchar = unsigned char;

// ---------------------------------------------------------------------------
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

// The same three permutations with AVX2, 32 pixels per step: each 256-bit
// register holds two independent 16-pixel chunks, one per 128-bit lane, and
// the in-lane byte shuffle applies the 16-pixel tables to both at once.

EK_AVX2 inline __m256i load2x16(const uchar* lo, const uchar* hi) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lo))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(hi)), 1);
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

template <int C, bool NT>
EK_AVX2 void splitAvx2(uchar* dst, int64_t rowStride, const uchar* src, int64_t n) {
    const auto& t = Tables<C>::split;
    int64_t i = 0;
    for (; i + 32 <= n; i += 32) {
        __m256i in[C], out[C];
        for (int k = 0; k < C; ++k)
            in[k] = load2x16(src + i * C + 16 * k, src + (i + 16) * C + 16 * k);
        shuffleChunk2<C>(t, in, out);
        for (int k = 0; k < C; ++k) {
            uchar* d = dst + k * rowStride + i;
            store2x16<NT>(d, d + 16, out[k]);
        }
    }
    if (i < n) splitSsse3<C, NT>(dst + i, rowStride, src + i * C, n - i);
}

template <int C, bool NT>
EK_AVX2 void mergeAvx2(uchar* dst, const uchar* src, int64_t rowStride, int64_t n) {
    const auto& t = Tables<C>::merge;
    int64_t i = 0;
    for (; i + 32 <= n; i += 32) {
        __m256i in[C], out[C];
        for (int k = 0; k < C; ++k) {
            const uchar* s = src + k * rowStride + i;
            in[k] = load2x16(s, s + 16);
        }
        shuffleChunk2<C>(t, in, out);
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

// ---------------------------------------------------------------------------
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

// ---------------------------------------------------------------------------
// ekFloat to one-byte destinations: values outside the 32-bit range (and
// NaN) become 0 before the truncating conversion, whose low 8 bits then
// equal those of the 64-bit truncation.

inline uchar floatToByte(float v) {
    const float r = (v >= -2147483648.0f && v < 2147483648.0f) ? v : 0.0f;
    return uchar(uint32_t(int32_t(r)));
}

inline __m128i truncInRange(__m128 v) {
    const __m128 lo = _mm_set1_ps(-2147483648.0f), hi = _mm_set1_ps(2147483648.0f);
    const __m128 ok = _mm_and_ps(_mm_cmpge_ps(v, lo), _mm_cmplt_ps(v, hi));
    return _mm_and_si128(_mm_cvttps_epi32(_mm_and_ps(v, ok)), _mm_set1_epi32(0xFF));
}

template <bool NT>
void floatToByteSse2(void* dst, int64_t dpos, const void* src, int64_t spos, int64_t n) {
    uchar* d = static_cast<uchar*>(dst) + dpos;
    const float* s = reinterpret_cast<const float*>(static_cast<const uchar*>(src) + spos * 4);
    const int64_t head =
        NT ? alignHead([&](int64_t k) { return reinterpret_cast<uintptr_t>(d) + uintptr_t(k); }, n)
           : 0;
    int64_t i = 0;
    for (; i < head; ++i) d[i] = floatToByte(s[i]);
    for (; i + 16 <= n; i += 16) {
        const __m128i a = truncInRange(_mm_loadu_ps(s + i));
        const __m128i b = truncInRange(_mm_loadu_ps(s + i + 4));
        const __m128i c = truncInRange(_mm_loadu_ps(s + i + 8));
        const __m128i e = truncInRange(_mm_loadu_ps(s + i + 12));
        // Every lane holds 0..255, so the saturating packs keep it unchanged.
        const __m128i ab = _mm_packs_epi32(a, b), ce = _mm_packs_epi32(c, e);
        store16<NT>(d + i, _mm_packus_epi16(ab, ce));
    }
    for (; i < n; ++i) d[i] = floatToByte(s[i]);
}

// The same with AVX2, 32 at a time. The packs work within 128-bit lanes, so
// a final permutation puts the four groups of eight back in order.
EK_AVX2 inline __m256i truncInRange8(__m256 v) {
    const __m256 lo = _mm256_set1_ps(-2147483648.0f), hi = _mm256_set1_ps(2147483648.0f);
    const __m256 ok =
        _mm256_and_ps(_mm256_cmp_ps(v, lo, _CMP_GE_OQ), _mm256_cmp_ps(v, hi, _CMP_LT_OQ));
    return _mm256_and_si256(_mm256_cvttps_epi32(_mm256_and_ps(v, ok)), _mm256_set1_epi32(0xFF));
}

template <bool NT>
EK_AVX2 void floatToByteAvx2(void* dst, int64_t dpos, const void* src, int64_t spos, int64_t n) {
    uchar* d = static_cast<uchar*>(dst) + dpos;
    const float* s = reinterpret_cast<const float*>(static_cast<const uchar*>(src) + spos * 4);
    int64_t head = 0;
    if (NT) {
        head = int64_t((32 - (reinterpret_cast<uintptr_t>(d) & 31)) & 31);
        if (head > n) head = n;
    }
    int64_t i = 0;
    for (; i < head; ++i) d[i] = floatToByte(s[i]);
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    for (; i + 32 <= n; i += 32) {
        const __m256i a = truncInRange8(_mm256_loadu_ps(s + i));
        const __m256i b = truncInRange8(_mm256_loadu_ps(s + i + 8));
        const __m256i c = truncInRange8(_mm256_loadu_ps(s + i + 16));
        const __m256i e = truncInRange8(_mm256_loadu_ps(s + i + 24));
        const __m256i packed = _mm256_permutevar8x32_epi32(
            _mm256_packus_epi16(_mm256_packs_epi32(a, b), _mm256_packs_epi32(c, e)), order);
        if (NT)
            _mm256_stream_si256(reinterpret_cast<__m256i*>(d + i), packed);
        else
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), packed);
    }
    for (; i < n; ++i) d[i] = floatToByte(s[i]);
}

// ekFloat to 16- and 32-bit destinations needs the low bits of the 64-bit
// truncation exactly, which the 32-bit conversion does not give beyond 2^31.
// There the float is an integer whose 24-bit mantissa sits at least 8 places
// up, so the low 32 bits of the truncation are the mantissa shifted left by
// (exponent - 23) (0 from a shift of 32 on), negated for a negative value.
// NaN, infinities and magnitudes of 2^63 or more give 0.
EK_AVX2 inline __m256i truncLow32(__m256 v) {
    const __m256i bits = _mm256_castps_si256(v);
    const __m256i absBits = _mm256_and_si256(bits, _mm256_set1_epi32(0x7FFFFFFF));
    const __m256 a = _mm256_castsi256_ps(absBits);
    const __m256 two31 = _mm256_set1_ps(2147483648.0f),
                 two63 = _mm256_set1_ps(9223372036854775808.0f);
    const __m256i small = _mm256_castps_si256(_mm256_cmp_ps(a, two31, _CMP_LT_OQ));
    const __m256i large = _mm256_castps_si256(
        _mm256_and_ps(_mm256_cmp_ps(a, two31, _CMP_GE_OQ), _mm256_cmp_ps(a, two63, _CMP_LT_OQ)));
    const __m256i shift = _mm256_sub_epi32(_mm256_srli_epi32(absBits, 23), _mm256_set1_epi32(150));
    const __m256i mant = _mm256_or_si256(_mm256_and_si256(absBits, _mm256_set1_epi32(0x7FFFFF)),
                                         _mm256_set1_epi32(0x800000));
    const __m256i sign = _mm256_srai_epi32(bits, 31);  // all ones for a negative value
    const __m256i mag = _mm256_sllv_epi32(mant, shift);
    const __m256i wide = _mm256_sub_epi32(_mm256_xor_si256(mag, sign), sign);
    // Outside the 32-bit range the conversion's result is masked off.
    const __m256i narrow =
        _mm256_and_si256(_mm256_cvttps_epi32(_mm256_and_ps(v, _mm256_castsi256_ps(small))), small);
    return _mm256_or_si256(narrow, _mm256_and_si256(wide, large));
}

inline uint32_t floatLow32(float v) { return uint32_t(uint64_t(ekTruncateFloat(v))); }

template <bool NT>
EK_AVX2 void floatToWordAvx2(void* dst, int64_t dpos, const void* src, int64_t spos, int64_t n) {
    uchar* d = static_cast<uchar*>(dst) + dpos * 2;
    const float* s = reinterpret_cast<const float*>(static_cast<const uchar*>(src) + spos * 4);
    const int64_t head =
        NT ? alignHead([&](int64_t k) { return reinterpret_cast<uintptr_t>(d) + uintptr_t(2 * k); },
                       n)
           : 0;
    int64_t i = 0;
    auto one = [&](int64_t k) {
        const uint16_t w = uint16_t(floatLow32(s[k]));
        std::memcpy(d + 2 * k, &w, 2);
    };
    for (; i < head; ++i) one(i);
    const __m256i low = _mm256_set1_epi32(0xFFFF);
    for (; i + 16 <= n; i += 16) {
        const __m256i a = _mm256_and_si256(truncLow32(_mm256_loadu_ps(s + i)), low);
        const __m256i b = _mm256_and_si256(truncLow32(_mm256_loadu_ps(s + i + 8)), low);
        // packus works within lanes: a0-3 b0-3 a4-7 b4-7; the permutation
        // restores the order. Masked lanes hold 0..65535, which it keeps.
        const __m256i w = _mm256_permute4x64_epi64(_mm256_packus_epi32(a, b), 0xD8);
        store16<NT>(d + 2 * i, _mm256_castsi256_si128(w));
        store16<NT>(d + 2 * i + 16, _mm256_extracti128_si256(w, 1));
    }
    for (; i < n; ++i) one(i);
}

template <bool NT>
EK_AVX2 void floatToDwordAvx2(void* dst, int64_t dpos, const void* src, int64_t spos, int64_t n) {
    uchar* d = static_cast<uchar*>(dst) + dpos * 4;
    const float* s = reinterpret_cast<const float*>(static_cast<const uchar*>(src) + spos * 4);
    const int64_t head =
        NT ? alignHead([&](int64_t k) { return reinterpret_cast<uintptr_t>(d) + uintptr_t(4 * k); },
                       n)
           : 0;
    int64_t i = 0;
    auto one = [&](int64_t k) {
        const uint32_t w = floatLow32(s[k]);
        std::memcpy(d + 4 * k, &w, 4);
    };
    for (; i < head; ++i) one(i);
    for (; i + 8 <= n; i += 8) {
        const __m256i w = truncLow32(_mm256_loadu_ps(s + i));
        store16<NT>(d + 4 * i, _mm256_castsi256_si128(w));
        store16<NT>(d + 4 * i + 16, _mm256_extracti128_si256(w, 1));
    }
    for (; i < n; ++i) one(i);
}

// 16-bit to 8-bit elements (either signedness): the low byte of each, 16 at
// a time; masked to 0..255, the saturating pack keeps it unchanged.
template <bool NT>
void shortToByteSse2(void* dst, int64_t dpos, const void* src, int64_t spos, int64_t n) {
    uchar* d = static_cast<uchar*>(dst) + dpos;
    const uchar* s = static_cast<const uchar*>(src) + spos * 2;
    const int64_t head =
        NT ? alignHead([&](int64_t k) { return reinterpret_cast<uintptr_t>(d) + uintptr_t(k); }, n)
           : 0;
    int64_t i = 0;
    for (; i < head; ++i) d[i] = s[2 * i];
    const __m128i low = _mm_set1_epi16(0xFF);
    for (; i + 16 <= n; i += 16) {
        const __m128i a = _mm_and_si128(load16(s + 2 * i), low);
        const __m128i b = _mm_and_si128(load16(s + 2 * i + 16), low);
        store16<NT>(d + i, _mm_packus_epi16(a, b));
    }
    for (; i < n; ++i) d[i] = s[2 * i];
}

// ---------------------------------------------------------------------------
// Kernel tables: baseline SSE2, with SSSE3 shuffles, with AVX2 conversion;
// each with ordinary stores and with streaming stores (large boxes).

template <bool NT>
constexpr ekSimdKernels makeSse2() {
    return {transpose8Sse2,
            {nullptr, nullptr, nullptr, nullptr, nullptr},
            {nullptr, nullptr, nullptr, nullptr, nullptr},
            {nullptr, nullptr, nullptr, nullptr, nullptr},
            floatToByteSse2<NT>,
            shortToByteSse2<NT>,
            nullptr,
            nullptr,
            NT ? copyStream : nullptr};
}
template <bool NT>
constexpr ekSimdKernels makeSsse3(ekUnitRunFn floatToByte) {
    return {transpose8Sse2,
            {nullptr, reverseSsse3<1, NT>, reverseSsse3<2, NT>, reverseSsse3<3, NT>,
             reverseSsse3<4, NT>},
            {nullptr, nullptr, splitSsse3<2, NT>, splitSsse3<3, NT>, splitSsse3<4, NT>},
            {nullptr, nullptr, mergeSsse3<2, NT>, mergeSsse3<3, NT>, mergeSsse3<4, NT>},
            floatToByte,
            shortToByteSse2<NT>,
            nullptr,
            nullptr,
            NT ? copyStream : nullptr};
}

constexpr ekSimdKernels kSse2[2] = {makeSse2<false>(), makeSse2<true>()};
constexpr ekSimdKernels kSsse3[2] = {makeSsse3<false>(floatToByteSse2<false>),
                                     makeSsse3<true>(floatToByteSse2<true>)};
template <bool NT>
constexpr ekSimdKernels makeAvx2() {
    return {
        transpose8Sse2,
        {nullptr, reverseAvx2<1, NT>, reverseAvx2<2, NT>, reverseAvx2<3, NT>, reverseAvx2<4, NT>},
        {nullptr, nullptr, splitAvx2<2, NT>, splitAvx2<3, NT>, splitAvx2<4, NT>},
        {nullptr, nullptr, mergeAvx2<2, NT>, mergeAvx2<3, NT>, mergeAvx2<4, NT>},
        floatToByteAvx2<NT>,
        shortToByteSse2<NT>,
        floatToWordAvx2<NT>,
        floatToDwordAvx2<NT>,
        NT ? copyStream : nullptr};
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

ekUnitRunFn ekSimdUnitRun(ekType dstType, ekType srcType, bool stream) {
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
ekUnitRunFn ekSimdUnitRun(ekType, ekType, bool) { return nullptr; }

#else

// Built without the SIMD kernels: the settings exist but change nothing.
int64_t ekStreamBytes = int64_t(16) << 20;
int ekSimdLevelCap = 0;
int ekSimdLevel() { return 0; }

#endif
