// SPDX-License-Identifier: Apache-2.0
// Decoded samples to the image's elements, row by row: every row of a decoded
// page starts on a byte, a page of the image has no padding.
#include "tiff/tiff_samples.h"

#include <cstring>

namespace {

// Sample i of a row. 8 and 16-bit samples are whole bytes (16 bits in the
// machine's order, as libtiff leaves them); any other size, 24 bits included,
// is read from the stream of bits, most significant first, touching only the
// bytes that hold the sample.
inline uint32_t sampleAt(const unsigned char* row, int64_t i, int bits) {
    if (bits == 8) return row[i];
    if (bits == 16) {
        uint16_t v;
        std::memcpy(&v, row + 2 * i, 2);
        return v;
    }
    const int64_t first = i * bits;
    const unsigned char* p = row + (first >> 3);
    const int span = int(first & 7) + bits;  // from the top of the first byte
    const int bytes = (span + 7) / 8;        // at most 5 for 32 bits
    uint64_t acc = 0;
    for (int k = 0; k < bytes; ++k) acc = acc << 8 | p[k];
    return uint32_t((acc >> (bytes * 8 - span)) & (~uint64_t(0) >> (64 - bits)));
}

template <class T>
void widen(const ekTiffUnpack& u, const unsigned char* in, T* out) {
    const int64_t rowBytes = u.rowBytes();
    for (int32_t r = 0; r < u.rows; ++r, in += rowBytes)
        for (int64_t i = 0; i < u.rowSamples; ++i) *out++ = T(sampleAt(in, i, u.bits));
}

// An IEEE binary16 value as the binary32 value it equals: every half is
// exactly a float (subnormals become normal floats; infinities stay, NaNs keep
// their sign and payload).
float halfToFloat(uint16_t h) {
    const uint32_t sign = uint32_t(h & 0x8000) << 16;
    const uint32_t exponent = (h >> 10) & 0x1F, mantissa = h & 0x3FF;
    uint32_t bits;
    if (exponent == 0x1F) {
        bits = sign | 0x7F800000u | mantissa << 13;
    } else if (exponent != 0) {
        bits = sign | (exponent + 112) << 23 | mantissa << 13;  // rebias 15 -> 127
    } else {
        const float magnitude = float(mantissa) * (1.0f / 16777216.0f);  // mantissa x 2^-24
        std::memcpy(&bits, &magnitude, 4);
        bits |= sign;
    }
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

void widenHalves(const ekTiffUnpack& u, const unsigned char* in, float* out) {
    const int64_t rowBytes = u.rowBytes();
    for (int32_t r = 0; r < u.rows; ++r, in += rowBytes)
        for (int64_t i = 0; i < u.rowSamples; ++i)
            *out++ = halfToFloat(uint16_t(sampleAt(in, i, 16)));
}

// An 8-bit page takes the colour map's 16-bit components / 257, exact for
// the maps it is chosen for (every entry a multiple of 257).
template <class T>
void lookUp(const ekTiffUnpack& u, const unsigned char* in, T* out) {
    const int64_t rowBytes = u.rowBytes();
    const unsigned scale = sizeof(T) == 1 ? 257 : 1;
    for (int32_t r = 0; r < u.rows; ++r, in += rowBytes)
        for (int64_t i = 0; i < u.rowSamples; ++i, out += 3) {
            const ekTiffColor& c = u.palette[sampleAt(in, i, u.bits)];
            out[0] = T(c.r / scale);
            out[1] = T(c.g / scale);
            out[2] = T(c.b / scale);
        }
}

// Packs `rows` rows of `rowBits` bits (most significant bit first), each
// starting on a byte of `in`, rowBytes apart, end to end into `out`, which
// holds zeros. A byte at a time: a file can declare pages of up to a
// gigabyte, and a bit at a time that took minutes.
void packBitRows(unsigned char* out, const unsigned char* in, int64_t rowBytes, int64_t rowBits,
                 int64_t rows) {
    const int lastBits = int(rowBits - 8 * (rowBytes - 1));  // 1..8 bits in a row's last byte
    const unsigned lastMask = (0xFF00u >> lastBits) & 0xFFu;
    for (int64_t r = 0; r < rows; ++r) {
        const unsigned char* src = in + r * rowBytes;
        const int64_t at = r * rowBits;
        unsigned char* dst = out + (at >> 3);
        const int shift = int(at & 7);
        for (int64_t b = 0; b < rowBytes; ++b) {
            const bool last = b == rowBytes - 1;
            const unsigned v = last ? src[b] & lastMask : src[b];
            dst[b] |= static_cast<unsigned char>(v >> shift);
            // The bits pushed past this byte are the row's own, so the next
            // byte is in the page whenever there are any.
            if (shift != 0 && (!last || shift + lastBits > 8))
                dst[b + 1] |= static_cast<unsigned char>(v << (8 - shift));
        }
    }
}

template <template <class> class F>
void byType(const ekTiffUnpack& u, const unsigned char* in, void* out) {
    switch (u.type) {
        case ekUChar:
            F<uint8_t>::run(u, in, static_cast<uint8_t*>(out));
            break;
        case ekUShort:
            F<uint16_t>::run(u, in, static_cast<uint16_t*>(out));
            break;
        case ekULong:
            F<uint32_t>::run(u, in, static_cast<uint32_t*>(out));
            break;
        default:
            break;
    }
}

template <class T>
struct Widen {
    static void run(const ekTiffUnpack& u, const unsigned char* in, T* out) { widen(u, in, out); }
};

template <class T>
struct LookUp {
    static void run(const ekTiffUnpack& u, const unsigned char* in, T* out) { lookUp(u, in, out); }
};

}  // namespace

ekType ekTiffWidenedType(int bits) {
    return bits <= 8 ? ekUChar : bits <= 16 ? ekUShort : bits <= 32 ? ekULong : ekAnyType;
}

void ekTiffUnpackPage(const ekTiffUnpack& u, const unsigned char* in, void* out) {
    switch (u.kind) {
        case ekTiffUnpack::kBits: {
            const int64_t bits = int64_t(u.rowSamples) * u.rows;
            std::memset(out, 0, size_t((bits + 7) / 8));
            packBitRows(static_cast<unsigned char*>(out), in, u.rowBytes(), u.rowSamples, u.rows);
            break;
        }
        case ekTiffUnpack::kWiden:
            byType<Widen>(u, in, out);
            break;
        case ekTiffUnpack::kPalette:
            byType<LookUp>(u, in, out);
            break;
        case ekTiffUnpack::kHalf:
            widenHalves(u, in, static_cast<float*>(out));
            break;
        case ekTiffUnpack::kAsStored:
            break;
    }
}
