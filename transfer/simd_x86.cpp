// x86 SIMD kernels: SSE2 (the x86-64 baseline) and SSSE3 byte shuffles, the
// latter compiled with a target attribute and used only when the CPU has it.
// Each kernel produces exactly the bytes of the portable loop it replaces.
#include "transfer/simd_kernels.h"

#if EKS_SIMD && (defined(__x86_64__) || defined(__i386__))

#include <emmintrin.h>
#include <tmmintrin.h>

#include <cstring>

#define EK_SSSE3 __attribute__((target("ssse3")))

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

// dst pixel i = src pixel n-1-i, pixels of P bytes; 16 pixels per step from
// the far end of the source, the rest one pixel at a time.
template <int P>
EK_SSSE3 void reverseSsse3(uchar* dst, const uchar* src, int64_t n) {
    const auto& t = Tables<P>::reverse;
    int64_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const uchar* s = src + (n - i - 16) * P;
        __m128i in[P], out[P];
        for (int k = 0; k < P; ++k)
            in[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16 * k));
        shuffleChunk<P>(t, in, out);
        for (int k = 0; k < P; ++k)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i * P + 16 * k), out[k]);
    }
    for (; i < n; ++i) std::memcpy(dst + i * P, src + (n - 1 - i) * P, P);
}

// Interleaved row of n pixels of C one-byte channels into C rows.
template <int C>
EK_SSSE3 void splitSsse3(uchar* dst, int64_t rowStride, const uchar* src, int64_t n) {
    const auto& t = Tables<C>::split;
    int64_t i = 0;
    for (; i + 16 <= n; i += 16) {
        __m128i in[C], out[C];
        for (int k = 0; k < C; ++k)
            in[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i * C + 16 * k));
        shuffleChunk<C>(t, in, out);
        for (int k = 0; k < C; ++k)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + k * rowStride + i), out[k]);
    }
    for (; i < n; ++i)
        for (int k = 0; k < C; ++k) dst[k * rowStride + i] = src[i * C + k];
}

template <int C>
EK_SSSE3 void mergeSsse3(uchar* dst, const uchar* src, int64_t rowStride, int64_t n) {
    const auto& t = Tables<C>::merge;
    int64_t i = 0;
    for (; i + 16 <= n; i += 16) {
        __m128i in[C], out[C];
        for (int k = 0; k < C; ++k)
            in[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + k * rowStride + i));
        shuffleChunk<C>(t, in, out);
        for (int k = 0; k < C; ++k)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i * C + 16 * k), out[k]);
    }
    for (; i < n; ++i)
        for (int k = 0; k < C; ++k) dst[i * C + k] = src[k * rowStride + i];
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

void transpose8Sse2(uchar* dst, int64_t dstStride, const uchar* src, int64_t srcStride, int64_t w,
                    int64_t h) {
    int64_t i0 = 0;
    for (; i0 + 16 <= h; i0 += 16) {
        int64_t j0 = 0;
        for (; j0 + 16 <= w; j0 += 16)
            transpose16x16(src + i0 * srcStride + j0, srcStride, dst + j0 * dstStride + i0,
                           dstStride);
        for (int64_t j = j0; j < w; ++j)
            for (int64_t i = i0; i < i0 + 16; ++i) dst[j * dstStride + i] = src[i * srcStride + j];
    }
    for (int64_t i = i0; i < h; ++i)
        for (int64_t j = 0; j < w; ++j) dst[j * dstStride + i] = src[i * srcStride + j];
}

// ---------------------------------------------------------------------------
// ekFloat to one-byte destinations, 16 at a time: values outside the 32-bit
// range (and NaN) become 0 before the truncating conversion, whose low 8
// bits then equal those of the 64-bit truncation.

inline __m128i truncInRange(__m128 v) {
    const __m128 lo = _mm_set1_ps(-2147483648.0f), hi = _mm_set1_ps(2147483648.0f);
    const __m128 ok = _mm_and_ps(_mm_cmpge_ps(v, lo), _mm_cmplt_ps(v, hi));
    return _mm_and_si128(_mm_cvttps_epi32(_mm_and_ps(v, ok)), _mm_set1_epi32(0xFF));
}

void floatToByteSse2(void* dst, int64_t dpos, const void* src, int64_t spos, int64_t n) {
    uchar* d = static_cast<uchar*>(dst) + dpos;
    const float* s = reinterpret_cast<const float*>(static_cast<const uchar*>(src) + spos * 4);
    int64_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i a = truncInRange(_mm_loadu_ps(s + i));
        const __m128i b = truncInRange(_mm_loadu_ps(s + i + 4));
        const __m128i c = truncInRange(_mm_loadu_ps(s + i + 8));
        const __m128i e = truncInRange(_mm_loadu_ps(s + i + 12));
        // Every lane holds 0..255, so the saturating packs keep it unchanged.
        const __m128i ab = _mm_packs_epi32(a, b), ce = _mm_packs_epi32(c, e);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(ab, ce));
    }
    for (; i < n; ++i) {
        float v;
        std::memcpy(&v, s + i, 4);
        const float r = (v >= -2147483648.0f && v < 2147483648.0f) ? v : 0.0f;
        d[i] = uchar(uint32_t(int32_t(r)));
    }
}

constexpr ekSimdKernels kSse2 = {transpose8Sse2,
                                 {nullptr, nullptr, nullptr, nullptr, nullptr},
                                 {nullptr, nullptr, nullptr, nullptr, nullptr},
                                 {nullptr, nullptr, nullptr, nullptr, nullptr},
                                 floatToByteSse2};

constexpr ekSimdKernels kSsse3 = {
    transpose8Sse2,
    {nullptr, reverseSsse3<1>, reverseSsse3<2>, reverseSsse3<3>, reverseSsse3<4>},
    {nullptr, nullptr, splitSsse3<2>, splitSsse3<3>, splitSsse3<4>},
    {nullptr, nullptr, mergeSsse3<2>, mergeSsse3<3>, mergeSsse3<4>},
    floatToByteSse2};

}  // namespace

const ekSimdKernels* ekSimd() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") ? &kSsse3 : &kSse2;
}

ekUnitRunFn ekSimdUnitRun(ekType dstType, ekType srcType) {
    if (srcType == ekFloat && (dstType == ekUChar || dstType == ekChar))
        return ekSimd()->floatToByte;
    return nullptr;
}

#elif EKS_SIMD

// Not an x86 target: no explicit kernels; the portable loops run.
const ekSimdKernels* ekSimd() { return nullptr; }
ekUnitRunFn ekSimdUnitRun(ekType, ekType) { return nullptr; }

#endif
