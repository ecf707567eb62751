// SPDX-License-Identifier: Apache-2.0
// x86 kernels of the saturating conversions (ekSaturate) for unit-step runs:
// ekFloat to 8-, 16- and 32-bit integers and 16- or 32-bit integers to
// narrower ones. Each gives exactly the saturating element rule's result
// (ekSaturateElem in convert_kernels.h; bench/float_to_int_bench checks the
// float kernels on all 2^32 patterns): rounded to nearest, ties to even,
// clamped to the destination's range, NaN giving 0.
//
// The rounding never depends on the floating-point environment: AVX2 rounds
// with an explicit mode, SSE2 corrects the truncation by hand. The signed
// packs saturate, so integer lanes need a clamp of their own only where a
// lane is unsigned (a pack reads it as signed).
#include "transfer/simd_x86.h"

#if EK_SIMD_X86

#include <immintrin.h>

#include <cstring>
#include <limits>
#include <type_traits>

#include "transfer/convert_kernels.h"

namespace ekX86 {
namespace {

template <class T>
constexpr bool isSigned() {
    return std::is_signed<T>::value;
}
template <class T>
constexpr float lowest() {
    return float(std::numeric_limits<T>::min());
}
template <class T>
constexpr float highest() {
    return float(std::numeric_limits<T>::max());
}

// One element by the scalar rule (heads and tails of the vector loops).
template <class D, class S>
inline void one(uchar* d, const uchar* s, int64_t k) {
    S v;
    std::memcpy(&v, s + k * int64_t(sizeof(S)), sizeof(S));
    const D w = ekSaturateElem<D, S>(v);
    std::memcpy(d + k * int64_t(sizeof(D)), &w, sizeof(D));
}

// Elements before d + k*sizeof(D) reaches `align`-byte alignment (0 when it
// never does), at most n. Only used to make streaming stores possible.
template <class D>
int64_t headTo(const uchar* d, uintptr_t align, int64_t n) {
    const uintptr_t a = reinterpret_cast<uintptr_t>(d);
    if (a % sizeof(D)) return 0;
    const int64_t h = int64_t(((align - (a & (align - 1))) & (align - 1)) / sizeof(D));
    return h < n ? h : n;
}

// ---- SSE2: ekFloat and 16-bit integers to 8-bit, 16 at a time ----

// Lanes of x (integers or not, |x| < 2^31) rounded to nearest, ties to even:
// the truncation t, moved one step away from zero when the exact fraction
// x - t is beyond one half, or is one half and t is odd.
inline __m128i roundEvenSse2(__m128 x) {
    const __m128i t = _mm_cvttps_epi32(x);
    const __m128 f = _mm_sub_ps(x, _mm_cvtepi32_ps(t));
    const __m128 half = _mm_set1_ps(0.5f), minusHalf = _mm_set1_ps(-0.5f);
    const __m128i oneBit = _mm_set1_epi32(1);
    const __m128i odd = _mm_cmpeq_epi32(_mm_and_si128(t, oneBit), oneBit);
    const __m128i up = _mm_or_si128(_mm_castps_si128(_mm_cmpgt_ps(f, half)),
                                    _mm_and_si128(_mm_castps_si128(_mm_cmpeq_ps(f, half)), odd));
    const __m128i down =
        _mm_or_si128(_mm_castps_si128(_mm_cmplt_ps(f, minusHalf)),
                     _mm_and_si128(_mm_castps_si128(_mm_cmpeq_ps(f, minusHalf)), odd));
    return _mm_add_epi32(_mm_sub_epi32(t, up), down);  // masks are -1
}

// Four floats clamped to D's range and rounded. maxps answers its second
// operand for NaN: the lower bound, which is 0 for an unsigned D; a signed
// D clears NaN lanes first.
template <class D>
inline __m128i clampFloatSse2(const uchar* s) {
    __m128 x = _mm_loadu_ps(reinterpret_cast<const float*>(s));
    if (isSigned<D>()) x = _mm_and_ps(x, _mm_cmpord_ps(x, x));
    x = _mm_min_ps(_mm_max_ps(x, _mm_set1_ps(lowest<D>())), _mm_set1_ps(highest<D>()));
    return roundEvenSse2(x);
}

// Eight 16-bit lanes of type S, as signed lanes the 8-bit pack of D keeps:
// unsigned lanes are first limited to D's maximum (min(v, m) = v - (v -sat m)).
template <class D, class S>
inline __m128i clampShortSse2(const uchar* s) {
    const __m128i v = load16(s);
    if (isSigned<S>()) return v;
    return _mm_sub_epi16(v, _mm_subs_epu16(v, _mm_set1_epi16(short(highest<D>()))));
}

template <class D>
inline __m128i pack8Sse2(__m128i a, __m128i b) {
    return isSigned<D>() ? _mm_packs_epi16(a, b) : _mm_packus_epi16(a, b);
}

// 16 destination bytes from the source at s.
template <class D, class S>
inline __m128i blockSse2(const uchar* s) {
    if constexpr (std::is_same<S, float>::value) {
        const __m128i ab = _mm_packs_epi32(clampFloatSse2<D>(s), clampFloatSse2<D>(s + 16));
        const __m128i cd = _mm_packs_epi32(clampFloatSse2<D>(s + 32), clampFloatSse2<D>(s + 48));
        return pack8Sse2<D>(ab, cd);
    } else {
        return pack8Sse2<D>(clampShortSse2<D, S>(s), clampShortSse2<D, S>(s + 16));
    }
}

template <class D, class S, bool NT>
void runSse2(void* dst, int64_t dpos, const void* src, int64_t spos, int64_t n) {
    uchar* d = static_cast<uchar*>(dst) + dpos * int64_t(sizeof(D));
    const uchar* s = static_cast<const uchar*>(src) + spos * int64_t(sizeof(S));
    constexpr int64_t w = 16 / sizeof(D);
    int64_t i = NT ? headTo<D>(d, 16, n) : 0;
    for (int64_t k = 0; k < i; ++k) one<D, S>(d, s, k);
    for (; i + w <= n; i += w)
        store16<NT>(d + i * int64_t(sizeof(D)), blockSse2<D, S>(s + i * int64_t(sizeof(S))));
    for (; i < n; ++i) one<D, S>(d, s, i);
}

// ---- AVX2: every kernel, 32 destination bytes at a time ----

// Eight floats for a D of 8 or 16 bits: limited to D's maximum and rounded,
// as 32-bit lanes that the packs then saturate at D's minimum (below the
// 32-bit range the truncation answers INT32_MIN, which saturates there as
// well). minps answers its second operand for NaN, so NaN stays NaN and
// becomes INT32_MIN too: 0 for an unsigned D; a signed D clears NaN lanes
// first.
template <class D>
EK_AVX2 inline __m256i clampFloatAvx2(const uchar* s) {
    __m256 x = _mm256_loadu_ps(reinterpret_cast<const float*>(s));
    if (isSigned<D>()) x = _mm256_and_ps(x, _mm256_cmp_ps(x, x, _CMP_ORD_Q));
    x = _mm256_min_ps(_mm256_set1_ps(highest<D>()), x);
    return _mm256_cvttps_epi32(_mm256_round_ps(x, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC));
}

// Eight floats saturated into 32-bit lanes of D. Rounded first (integers
// from 2^23 on are unchanged); the truncation answers 0x80000000 beyond
// the signed range and for NaN, which is then corrected lane by lane.
template <class D>
EK_AVX2 inline __m256i floatTo32Avx2(const uchar* s) {
    const __m256 v = _mm256_loadu_ps(reinterpret_cast<const float*>(s));
    const __m256 two31 = _mm256_set1_ps(2147483648.0f);
    __m256 r = _mm256_round_ps(v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    if constexpr (isSigned<D>()) {
        const __m256i over = _mm256_castps_si256(_mm256_cmp_ps(r, two31, _CMP_GE_OQ));
        const __m256i nan = _mm256_castps_si256(_mm256_cmp_ps(v, v, _CMP_UNORD_Q));
        // 0x80000000 xor all ones is INT32_MAX; below the range it stays INT32_MIN.
        return _mm256_andnot_si256(nan, _mm256_xor_si256(_mm256_cvttps_epi32(r), over));
    } else {
        r = _mm256_max_ps(r, _mm256_setzero_ps());  // negatives and NaN (second operand) to 0
        const __m256 big = _mm256_cmp_ps(r, two31, _CMP_GE_OQ);
        const __m256i over =
            _mm256_castps_si256(_mm256_cmp_ps(r, _mm256_set1_ps(4294967296.0f), _CMP_GE_OQ));
        // From 2^31 on, convert r - 2^31 (exact) and put the top bit back.
        const __m256i low = _mm256_cvttps_epi32(_mm256_sub_ps(r, _mm256_and_ps(big, two31)));
        const __m256i top =
            _mm256_and_si256(_mm256_castps_si256(big), _mm256_set1_epi32(INT32_MIN));
        return _mm256_or_si256(_mm256_xor_si256(low, top), over);
    }
}

// Integer lanes of S (16 or 32 bits) as signed lanes that the packs of D
// keep: unsigned lanes are first limited to D's maximum.
template <class D, class S>
EK_AVX2 inline __m256i clampIntAvx2(const uchar* s) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
    if constexpr (isSigned<S>())
        return v;
    else if constexpr (sizeof(S) == 2)
        return _mm256_min_epu16(v, _mm256_set1_epi16(short(highest<D>())));
    else
        return _mm256_min_epu32(v, _mm256_set1_epi32(int(highest<D>())));
}

// The packs work within 128-bit lanes; a permutation restores the order.
template <class D>
EK_AVX2 inline __m256i pack16To8Avx2(__m256i a, __m256i b) {
    const __m256i p = isSigned<D>() ? _mm256_packs_epi16(a, b) : _mm256_packus_epi16(a, b);
    return _mm256_permute4x64_epi64(p, 0xD8);
}
template <class D>
EK_AVX2 inline __m256i pack32To8Avx2(__m256i a, __m256i b, __m256i c, __m256i d) {
    const __m256i ab = _mm256_packs_epi32(a, b), cd = _mm256_packs_epi32(c, d);
    const __m256i p = isSigned<D>() ? _mm256_packs_epi16(ab, cd) : _mm256_packus_epi16(ab, cd);
    return _mm256_permutevar8x32_epi32(p, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}
template <class D>
EK_AVX2 inline __m256i pack32To16Avx2(__m256i a, __m256i b) {
    const __m256i p = isSigned<D>() ? _mm256_packs_epi32(a, b) : _mm256_packus_epi32(a, b);
    return _mm256_permute4x64_epi64(p, 0xD8);
}

// 32 destination bytes from the source at s.
template <class D, class S>
EK_AVX2 inline __m256i blockAvx2(const uchar* s) {
    if constexpr (std::is_same<S, float>::value && sizeof(D) == 4) {
        return floatTo32Avx2<D>(s);
    } else if constexpr (std::is_same<S, float>::value && sizeof(D) == 2) {
        return pack32To16Avx2<D>(clampFloatAvx2<D>(s), clampFloatAvx2<D>(s + 32));
    } else if constexpr (std::is_same<S, float>::value) {
        return pack32To8Avx2<D>(clampFloatAvx2<D>(s), clampFloatAvx2<D>(s + 32),
                                clampFloatAvx2<D>(s + 64), clampFloatAvx2<D>(s + 96));
    } else if constexpr (sizeof(S) == 2) {
        return pack16To8Avx2<D>(clampIntAvx2<D, S>(s), clampIntAvx2<D, S>(s + 32));
    } else if constexpr (sizeof(D) == 2) {
        return pack32To16Avx2<D>(clampIntAvx2<D, S>(s), clampIntAvx2<D, S>(s + 32));
    } else {
        return pack32To8Avx2<D>(clampIntAvx2<D, S>(s), clampIntAvx2<D, S>(s + 32),
                                clampIntAvx2<D, S>(s + 64), clampIntAvx2<D, S>(s + 96));
    }
}

template <bool NT>
EK_AVX2 inline void store32(uchar* p, __m256i v) {
    if (NT && !(reinterpret_cast<uintptr_t>(p) & 31))
        _mm256_stream_si256(reinterpret_cast<__m256i*>(p), v);
    else
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

template <class D, class S, bool NT>
EK_AVX2 void runAvx2(void* dst, int64_t dpos, const void* src, int64_t spos, int64_t n) {
    uchar* d = static_cast<uchar*>(dst) + dpos * int64_t(sizeof(D));
    const uchar* s = static_cast<const uchar*>(src) + spos * int64_t(sizeof(S));
    constexpr int64_t w = 32 / sizeof(D);
    int64_t i = NT ? headTo<D>(d, 32, n) : 0;
    for (int64_t k = 0; k < i; ++k) one<D, S>(d, s, k);
    for (; i + w <= n; i += w)
        store32<NT>(d + i * int64_t(sizeof(D)), blockAvx2<D, S>(s + i * int64_t(sizeof(S))));
    for (; i < n; ++i) one<D, S>(d, s, i);
}

// ---- Choice by type pair ----

// The pairs with kernels: integer destinations of 8, 16 or 32 bits from
// ekFloat, and from wider 16- or 32-bit integers (AVX2); SSE2 has the 8-bit
// destinations from ekFloat and from 16-bit integers.
template <class D, class S>
constexpr bool hasAvx2() {
    if constexpr (!std::is_integral<D>::value) return false;
    if constexpr (std::is_same<S, float>::value) return true;
    return std::is_integral<S>::value && (sizeof(S) == 2 || sizeof(S) == 4) &&
           sizeof(D) < sizeof(S);
}
template <class D, class S>
constexpr bool hasSse2() {
    return hasAvx2<D, S>() && sizeof(D) == 1 && (std::is_same<S, float>::value || sizeof(S) == 2);
}

template <class D, class S, bool NT>
ekUnitRunFn pick(int level) {
    if constexpr (hasAvx2<D, S>()) {
        if (level >= 3) return runAvx2<D, S, NT>;
    }
    if constexpr (hasSse2<D, S>()) {
        if (level >= 1) return runSse2<D, S, NT>;
    }
    (void)level;
    return nullptr;
}

template <class D, bool NT>
ekUnitRunFn pickSource(int level, ekType srcType) {
    switch (srcType) {
#define EK_S(code, S) \
    case code:        \
        return pick<D, S, NT>(level);
        EK_FOR_EACH_TYPE(EK_S)
#undef EK_S
        default:
            return nullptr;
    }
}

template <bool NT>
ekUnitRunFn pickPair(int level, ekType dstType, ekType srcType) {
    switch (dstType) {
#define EK_D(code, D) \
    case code:        \
        return pickSource<D, NT>(level, srcType);
        EK_FOR_EACH_TYPE(EK_D)
#undef EK_D
        default:
            return nullptr;
    }
}

}  // namespace

ekUnitRunFn saturatingRun(int level, ekType dstType, ekType srcType, bool stream) {
    return stream ? pickPair<true>(level, dstType, srcType)
                  : pickPair<false>(level, dstType, srcType);
}

}  // namespace ekX86

#endif  // EK_SIMD_X86
