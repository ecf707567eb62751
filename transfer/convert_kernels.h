// SPDX-License-Identifier: Apache-2.0
// The element types of the transfer engine, listed once, and the one element
// rule from which every conversion loop is stamped.
//
// To add an element type: add it to EK_FOR_EACH_TYPE, give it a storage type in
// ekElem, teach ekConvertElem its rule, and add conversion test rows for it.
#ifndef EKS_TRANSFER_CONVERT_KERNELS_H
#define EKS_TRANSFER_CONVERT_KERNELS_H

#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "core/element_convert.h"
#include "eks/core.h"

// Marker for packed bits; its elements are handled as uint8_t 0 or 1.
struct ekBitTag {};

// Every element type with its C++ type. ekULong and ekLong are 32-bit.
// clang-format off
#define EK_FOR_EACH_TYPE(X)                                                 \
    X(ekBit, ekBitTag)   X(ekUChar, uint8_t)   X(ekChar, int8_t)            \
    X(ekUShort, uint16_t) X(ekShort, int16_t)  X(ekULong, uint32_t)         \
    X(ekLong, int32_t)   X(ekFloat, float)     X(ekDouble, double)
// clang-format on

// Value type of an element as the loops see it.
template <class T>
struct ekElem {
    using value = T;
};
template <>
struct ekElem<ekBitTag> {
    using value = uint8_t;
};
template <class T>
using ekValue = typename ekElem<T>::value;

// Cursor on packed bit data: bit index i lives in byte i >> 3 at bit position
// 7 - (i & 7), so index 0 is the most significant bit of byte 0. Writing
// changes only the addressed bit.
struct ekBitRef {
    unsigned char* byte;
    unsigned mask;
    ekBitRef(const void* base, int64_t i)
        : byte(const_cast<unsigned char*>(static_cast<const unsigned char*>(base)) + (i >> 3)),
          mask(0x80u >> unsigned(i & 7)) {}
    uint8_t get() const { return (*byte & mask) ? 1 : 0; }
    void set(uint8_t v) const {
        if (v)
            *byte = static_cast<unsigned char>(*byte | mask);
        else
            *byte = static_cast<unsigned char>(*byte & ~mask);
    }
};

// Element i of a block of type T starting at base. Loads and stores of whole
// elements go through memcpy, so a buffer need not be aligned for its type.
template <class T>
inline ekValue<T> ekGet(const void* base, int64_t i) {
    if constexpr (std::is_same<T, ekBitTag>::value) {
        return ekBitRef(base, i).get();
    } else {
        T v;
        std::memcpy(&v, static_cast<const unsigned char*>(base) + i * int64_t(sizeof(T)),
                    sizeof(T));
        return v;
    }
}
template <class T>
inline void ekPut(void* base, int64_t i, ekValue<T> v) {
    if constexpr (std::is_same<T, ekBitTag>::value) {
        ekBitRef(base, i).set(v);
    } else {
        std::memcpy(static_cast<unsigned char*>(base) + i * int64_t(sizeof(T)), &v, sizeof(T));
    }
}

// Bytes per element; 0 for ekBit and for values outside the nine types.
inline int ekElementBytes(ekType t) {
    switch (t) {
#define EK_BYTES(code, T) \
    case code:            \
        return std::is_same<T, ekBitTag>::value ? 0 : int(sizeof(T));
        EK_FOR_EACH_TYPE(EK_BYTES)
#undef EK_BYTES
        default:
            return 0;
    }
}

// Types whose elements are copied bit for bit: equal types, or the signed
// and unsigned types of one width. Compared by value, never by OR-ing: a
// value such as 6 (ekUChar | ekChar) is no type and copies with nothing.
inline bool ekCopyCompatible(ekType a, ekType b) {
    if (a == b) return true;
    auto pair = [a, b](ekType u, ekType s) { return (a == u && b == s) || (a == s && b == u); };
    return pair(ekUChar, ekChar) || pair(ekUShort, ekShort) || pair(ekULong, ekLong);
}

// Truncation of a floating value toward zero to 64 bits. NaN, infinities and
// values whose truncation does not fit a signed 64-bit integer give
// INT64_MIN (0x8000000000000000, what the x86 truncating conversion yields),
// so every integer destination and ekBit receive 0 for them.
inline int64_t ekTruncate(double v) {
    if (v >= -9223372036854775808.0 && v < 9223372036854775808.0) return int64_t(v);
    return INT64_MIN;
}

inline int64_t ekTruncateFloat(float v) { return ekTruncate(double(v)); }

// The element rule: destination D from source S, as plain casts. Integers
// narrow keeping their low-order bits; floating values truncate toward zero
// through a 64-bit integer; an ekBit destination receives 1 when the low 8
// bits of the (truncated) value are not 0; an ekBit source is 0 or 1.
template <class D, class S>
inline ekValue<D> ekConvertElem(ekValue<S> v) {
    using DV = ekValue<D>;
    using SV = ekValue<S>;
    constexpr bool toBit = std::is_same<D, ekBitTag>::value;
    if constexpr (std::is_same<SV, float>::value && sizeof(DV) == 1) {
        // 8-bit and bit destinations from float: truncating through 32 bits
        // gives the same low 8 bits as through 64. A float of magnitude 2^31
        // or more is a multiple of 2^8, so its low 8 bits are 0, as are those
        // of NaN and the infinities; such values are replaced by 0 before the
        // conversion. Written this way the loop vectorises.
        const float inRange = (v >= -2147483648.0f && v < 2147483648.0f) ? v : 0.0f;
        const uint32_t t = uint32_t(int32_t(inRange));
        if constexpr (toBit)
            return DV((t & 0xFFu) != 0);
        else
            return DV(t);
    } else if constexpr (std::is_floating_point<SV>::value && !std::is_floating_point<DV>::value) {
        const uint64_t t = uint64_t(ekTruncate(double(v)));
        if constexpr (toBit)
            return DV((t & 0xFFu) != 0);
        else
            return DV(t);
    } else if constexpr (toBit) {
        return DV(uint8_t(v) != 0);
    } else {
        return DV(v);
    }
}

// Whether the saturating mode (ekSaturate) changes the conversion from S to
// D: into an integer or bit destination from a floating source or from an
// integer type whose range D does not hold, and ekDouble into ekFloat.
template <class D, class S>
constexpr bool ekNarrows() {
    using DV = ekValue<D>;
    using SV = ekValue<S>;
    if constexpr (std::is_same<S, ekBitTag>::value) {
        return false;
    } else if constexpr (std::is_same<D, ekBitTag>::value) {
        return true;
    } else if constexpr (std::is_floating_point<DV>::value) {
        return sizeof(DV) < sizeof(SV);
    } else if constexpr (std::is_floating_point<SV>::value) {
        return true;
    } else {
        using L = std::numeric_limits<DV>;
        using M = std::numeric_limits<SV>;
        return int64_t(M::min()) < int64_t(L::min()) || int64_t(M::max()) > int64_t(L::max());
    }
}

// The saturating element rule: the source value rounded to nearest (ties to
// even) and clamped to D's range, NaN giving 0 (core/element_convert.h);
// ekBit is the range 0..1. Conversions that do not narrow are plain.
template <class D, class S>
inline ekValue<D> ekSaturateElem(ekValue<S> v) {
    using DV = ekValue<D>;
    using SV = ekValue<S>;
    if constexpr (!ekNarrows<D, S>()) {
        return ekConvertElem<D, S>(v);
    } else if constexpr (std::is_floating_point<DV>::value) {
        return ekSaturateToFloat(v);
    } else if constexpr (std::is_floating_point<SV>::value) {
        if constexpr (std::is_same<D, ekBitTag>::value)
            return ekSaturateToBit(double(v));
        else
            return ekSaturateToInt<DV>(double(v));
    } else if constexpr (std::is_same<D, ekBitTag>::value) {
        return DV(v > 0);
    } else {
        // Integers: a clamp, in 64 bits (the loop vectorises).
        constexpr int64_t lo = int64_t(std::numeric_limits<DV>::min());
        constexpr int64_t hi = int64_t(std::numeric_limits<DV>::max());
        const int64_t w = int64_t(v);
        return DV(w < lo ? lo : (w > hi ? hi : w));
    }
}

// The rule of a loop: saturating or plain.
template <class D, class S, bool Sat>
inline ekValue<D> ekElemRule(ekValue<S> v) {
    if constexpr (Sat)
        return ekSaturateElem<D, S>(v);
    else
        return ekConvertElem<D, S>(v);
}

// Element types whose elements a transfer copies bit for bit: copy-compatible
// types, but with saturating conversions only equal types (the saturating
// mode clamps between the two signednesses of one width).
inline bool ekBitCopy(ekType d, ekType s, bool saturate) {
    return saturate ? d == s : ekCopyCompatible(d, s);
}

#endif  // EKS_TRANSFER_CONVERT_KERNELS_H
