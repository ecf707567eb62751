// SPDX-License-Identifier: Apache-2.0
// x86 conversion kernels for unit-step runs: ekFloat to 8-, 16- and 32-bit
// integers, 16-bit to 8-bit, 8-bit to ekFloat. Each gives exactly the element
// rule's result (bench/float_to_int_bench checks the float kernels on all
// 2^32 patterns).
#include "transfer/simd_x86.h"

#if EK_SIMD_X86

#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "transfer/convert_kernels.h"

namespace ekX86 {

// ekFloat to one-byte destinations: the low 8 bits of the truncation. The
// scalar form makes values outside the 32-bit range (and NaN) 0 before the
// cast, whose low 8 bits then equal those of the 64-bit truncation.

inline uchar floatToByte(float v) {
    const float r = (v >= -2147483648.0f && v < 2147483648.0f) ? v : 0.0f;
    return uchar(uint32_t(int32_t(r)));
}

// The vector conversion needs no range test: outside the 32-bit range (NaN
// and infinities included) the instruction yields 0x80000000, whose low 8
// bits are 0 - and so are those of the 64-bit truncation, since a float of
// magnitude 2^31 or more is a multiple of 2^8 and NaN, infinities and
// magnitudes of 2^63 or more convert as 0x8000000000000000. Each lane is
// masked to its low 8 bits.
inline __m128i truncLowByte(__m128 v) {
    return _mm_and_si128(_mm_cvttps_epi32(v), _mm_set1_epi32(0xFF));
}

template <bool NT>
void floatToByteSse2(void* dst, int64_t dpos, const void* src, int64_t spos, int64_t n) {
    uchar* d = static_cast<uchar*>(dst) + dpos;
    const float* s = reinterpret_cast<const float*>(static_cast<const uchar*>(src) + spos * 4);
    const int64_t head =
        NT ? alignHead([&](int64_t k) { return reinterpret_cast<uintptr_t>(d) + uintptr_t(k); }, n)
           : 0;
    int64_t i = 0;
    for (; i < head; ++i) d[i] = floatToByte(floatAt(s + i));
    for (; i + 16 <= n; i += 16) {
        const __m128i a = truncLowByte(_mm_loadu_ps(s + i));
        const __m128i b = truncLowByte(_mm_loadu_ps(s + i + 4));
        const __m128i c = truncLowByte(_mm_loadu_ps(s + i + 8));
        const __m128i e = truncLowByte(_mm_loadu_ps(s + i + 12));
        // Every lane holds 0..255, so the saturating packs keep it unchanged.
        const __m128i ab = _mm_packs_epi32(a, b), ce = _mm_packs_epi32(c, e);
        store16<NT>(d + i, _mm_packus_epi16(ab, ce));
    }
    for (; i < n; ++i) d[i] = floatToByte(floatAt(s + i));
}

// The same with AVX2, 32 at a time. The packs work within 128-bit lanes, so
// a final permutation puts the four groups of eight back in order.
EK_AVX2 inline __m256i truncLowByte8(__m256 v) {
    return _mm256_and_si256(_mm256_cvttps_epi32(v), _mm256_set1_epi32(0xFF));
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
    for (; i < head; ++i) d[i] = floatToByte(floatAt(s + i));
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    for (; i + 32 <= n; i += 32) {
        const __m256i a = truncLowByte8(_mm256_loadu_ps(s + i));
        const __m256i b = truncLowByte8(_mm256_loadu_ps(s + i + 8));
        const __m256i c = truncLowByte8(_mm256_loadu_ps(s + i + 16));
        const __m256i e = truncLowByte8(_mm256_loadu_ps(s + i + 24));
        const __m256i packed = _mm256_permutevar8x32_epi32(
            _mm256_packus_epi16(_mm256_packs_epi32(a, b), _mm256_packs_epi32(c, e)), order);
        if (NT)
            _mm256_stream_si256(reinterpret_cast<__m256i*>(d + i), packed);
        else
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), packed);
    }
    for (; i < n; ++i) d[i] = floatToByte(floatAt(s + i));
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
        const uint16_t w = uint16_t(floatLow32(floatAt(s + k)));
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
        const uint32_t w = floatLow32(floatAt(s + k));
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

// The same with AVX2, 64 at a time. With streaming stores every 16-byte
// piece of the run is streamed (one 16-byte step reaches 32-byte alignment,
// 16-byte steps take the rest).
EK_AVX2 inline __m256i lowBytes32(const uchar* s) {
    const __m256i low = _mm256_set1_epi16(0xFF);
    const __m256i a =
        _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(s)), low);
    const __m256i b =
        _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 32)), low);
    // packus works within 128-bit lanes: a0-7 b0-7 a8-15 b8-15.
    return _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
}
inline __m128i lowBytes16(const uchar* s) {
    const __m128i low = _mm_set1_epi16(0xFF);
    return _mm_packus_epi16(_mm_and_si128(load16(s), low), _mm_and_si128(load16(s + 16), low));
}

template <bool NT>
EK_AVX2 void shortToByteAvx2(void* dst, int64_t dpos, const void* src, int64_t spos, int64_t n) {
    uchar* d = static_cast<uchar*>(dst) + dpos;
    const uchar* s = static_cast<const uchar*>(src) + spos * 2;
    int64_t i = 0;
    if (NT) {
        i = std::min<int64_t>(n, int64_t((16 - (reinterpret_cast<uintptr_t>(d) & 15)) & 15));
        for (int64_t k = 0; k < i; ++k) d[k] = s[2 * k];
        if (i + 16 <= n && (reinterpret_cast<uintptr_t>(d + i) & 31)) {
            store16<NT>(d + i, lowBytes16(s + 2 * i));
            i += 16;
        }
    }
    for (; i + 64 <= n; i += 64) {
        const __m256i a = lowBytes32(s + 2 * i), b = lowBytes32(s + 2 * i + 64);
        if (NT) {
            _mm256_stream_si256(reinterpret_cast<__m256i*>(d + i), a);
            _mm256_stream_si256(reinterpret_cast<__m256i*>(d + i + 32), b);
        } else {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), a);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i + 32), b);
        }
    }
    for (; i + 16 <= n; i += 16) store16<NT>(d + i, lowBytes16(s + 2 * i));
    for (; i < n; ++i) d[i] = s[2 * i];
}

// 8-bit to ekFloat (exact for both signednesses), 32 at a time. With
// streaming stores the run's floats from the first 32-byte boundary on are
// streamed whole: 4 MB of bytes become 16 MB of floats, which would otherwise
// be read into the caches before being overwritten.
template <bool Signed>
EK_AVX2 inline __m256 bytesToFloats(__m128i eight) {
    return _mm256_cvtepi32_ps(Signed ? _mm256_cvtepi8_epi32(eight) : _mm256_cvtepu8_epi32(eight));
}
template <bool NT, bool Signed>
EK_AVX2 void byteToFloatAvx2(void* dst, int64_t dpos, const void* src, int64_t spos, int64_t n) {
    float* d = reinterpret_cast<float*>(static_cast<uchar*>(dst) + dpos * 4);
    const uchar* s = static_cast<const uchar*>(src) + spos;
    auto one = [&](int64_t k) {
        putFloat(d + k, Signed ? float(static_cast<signed char>(s[k])) : float(s[k]));
    };
    int64_t i = 0;
    const uintptr_t a = reinterpret_cast<uintptr_t>(d);
    const bool stream = NT && !(a & 3);
    if (stream) {
        i = std::min<int64_t>(n, int64_t(((32 - (a & 31)) & 31) / 4));
        for (int64_t k = 0; k < i; ++k) one(k);
    }
    for (; i + 32 <= n; i += 32) {
        const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
        const __m128i lo = _mm256_castsi256_si128(bytes), hi = _mm256_extracti128_si256(bytes, 1);
        const __m256 f[4] = {
            bytesToFloats<Signed>(lo), bytesToFloats<Signed>(_mm_srli_si128(lo, 8)),
            bytesToFloats<Signed>(hi), bytesToFloats<Signed>(_mm_srli_si128(hi, 8))};
        for (int k = 0; k < 4; ++k) {
            if (stream)
                _mm256_stream_ps(d + i + 8 * k, f[k]);
            else
                _mm256_storeu_ps(d + i + 8 * k, f[k]);
        }
    }
    for (; i < n; ++i) one(i);
}

#define EK_INSTANCES(NT)                                                                     \
    template void floatToByteSse2<NT>(void*, int64_t, const void*, int64_t, int64_t);        \
    template void floatToByteAvx2<NT>(void*, int64_t, const void*, int64_t, int64_t);        \
    template void floatToWordAvx2<NT>(void*, int64_t, const void*, int64_t, int64_t);        \
    template void floatToDwordAvx2<NT>(void*, int64_t, const void*, int64_t, int64_t);       \
    template void shortToByteSse2<NT>(void*, int64_t, const void*, int64_t, int64_t);        \
    template void shortToByteAvx2<NT>(void*, int64_t, const void*, int64_t, int64_t);        \
    template void byteToFloatAvx2<NT, false>(void*, int64_t, const void*, int64_t, int64_t); \
    template void byteToFloatAvx2<NT, true>(void*, int64_t, const void*, int64_t, int64_t);
EK_INSTANCES(false)
EK_INSTANCES(true)
#undef EK_INSTANCES

}  // namespace ekX86

#endif  // EK_SIMD_X86
