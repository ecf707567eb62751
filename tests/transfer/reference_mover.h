// SPDX-License-Identifier: Apache-2.0
// An obviously correct, slow transfer: each destination element is tested
// against every box that limits the transfer, paired with its source channel
// and converted through a canonical value, by plain casts or, when either block
// saturates, by rounding (std::nearbyint) and clamping. Elements are placed
// from the layout alone, not through the block's strides.
#ifndef EKS_TESTS_TRANSFER_REFERENCE_MOVER_H
#define EKS_TESTS_TRANSFER_REFERENCE_MOVER_H

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "eks/core.h"
#include "transfer/data_block.h"

namespace ref {

// An element read as a canonical value: integers exactly, floats as doubles.
struct Value {
    bool isFloat;
    int64_t i;
    double f;
    bool raw32;  // a float source: f32 holds its exact bits
    float f32;
};

template <class T>
T load(const unsigned char* p, int64_t off) {
    T x;
    std::memcpy(&x, p + int64_t(sizeof(T)) * off, sizeof(T));
    return x;
}
template <class T>
void store(unsigned char* p, int64_t off, T x) {
    std::memcpy(p + int64_t(sizeof(T)) * off, &x, sizeof(T));
}

inline Value readElem(ekType t, const void* base, int64_t off) {
    const unsigned char* p = static_cast<const unsigned char*>(base);
    Value v{false, 0, 0.0, false, 0.0f};
    if (t == ekBit) v.i = (p[off >> 3] >> (7 - (off & 7))) & 1;
    if (t == ekUChar) v.i = p[off];
    if (t == ekChar) v.i = int8_t(p[off]);
    if (t == ekUShort) v.i = load<uint16_t>(p, off);
    if (t == ekShort) v.i = load<int16_t>(p, off);
    if (t == ekULong) v.i = load<uint32_t>(p, off);
    if (t == ekLong) v.i = load<int32_t>(p, off);
    if (t == ekFloat) {  // f32 keeps the exact bits
        v.isFloat = v.raw32 = true;
        v.f = v.f32 = load<float>(p, off);
    }
    if (t == ekDouble) {
        v.isFloat = true;
        v.f = load<double>(p, off);
    }
    return v;
}

// Truncation toward zero to 64 bits; NaN, infinities and out-of-range values
// give INT64_MIN.
inline int64_t truncate(double f) {
    if (std::isnan(f) || f >= 9223372036854775808.0 || f < -9223372036854775808.0) return INT64_MIN;
    return int64_t(std::trunc(f));
}

// The value a saturating transfer stores, as the plain rule would take it:
// integer types (ekBit as 0..1) get NaN as 0, anything else rounded to nearest
// even and clamped; ekFloat from ekDouble a finite value within +-FLT_MAX;
// everything else passes unchanged.
inline Value saturated(ekType t, Value v) {
    static const struct {
        ekType type;
        double lo, hi;
    } kRanges[] = {{ekBit, 0, 1},
                   {ekUChar, 0, 255},
                   {ekChar, -128, 127},
                   {ekUShort, 0, 65535},
                   {ekShort, -32768, 32767},
                   {ekULong, 0, 4294967295.0},
                   {ekLong, -2147483648.0, 2147483647.0}};
    const double x = v.isFloat ? v.f : double(v.i);  // 32-bit integers are exact
    const double n = std::nearbyint(x);              // in the default rounding mode
    for (const auto& r : kRanges) {
        if (r.type != t) continue;
        const int64_t i = std::isnan(x) ? 0 : int64_t(std::min(std::max(n, r.lo), r.hi));
        return Value{false, i, 0.0, false, 0.0f};
    }
    if (t == ekFloat && v.isFloat && !v.raw32 && std::isfinite(v.f) && std::fabs(v.f) > FLT_MAX)
        v.f = v.f > 0 ? FLT_MAX : -FLT_MAX;
    return v;
}

inline void writeElem(ekType t, void* base, int64_t off, Value v) {
    unsigned char* p = static_cast<unsigned char*>(base);
    const uint64_t bits = uint64_t(v.isFloat ? truncate(v.f) : v.i);  // low bits are what count
    const unsigned char mask = static_cast<unsigned char>(0x80 >> (off & 7));
    if (t == ekBit)
        p[off >> 3] =
            static_cast<unsigned char>(bits & 0xFF ? p[off >> 3] | mask : p[off >> 3] & ~mask);
    if (t == ekUChar || t == ekChar) p[off] = static_cast<unsigned char>(bits & 0xFF);
    if (t == ekUShort || t == ekShort) store(p, off, uint16_t(bits));
    if (t == ekULong || t == ekLong) store(p, off, uint32_t(bits));
    // A float source arrives bit for bit (a signalling NaN stays one).
    if (t == ekFloat) store(p, off, v.isFloat ? (v.raw32 ? v.f32 : float(v.f)) : float(v.i));
    if (t == ekDouble) store(p, off, v.isFloat ? (v.raw32 ? double(v.f32) : v.f) : double(v.i));
}

inline bool inside(const ekTile& b, int64_t x, int64_t y, int64_t z) {
    return x >= b.x && x < int64_t(b.x) + b.nx && y >= b.y && y < int64_t(b.y) + b.ny && z >= b.z &&
           z < int64_t(b.z) + b.nz;
}

// Element offset of local channel k at (x, y, z): memory holds slices of rows
// (along y when transposed), each mirrored axis counted from its far end.
inline int64_t offset(const ekDataBlock& b, int64_t x, int64_t y, int64_t z, int64_t k) {
    if (b.isPixel) return k;
    const int64_t nx = b.box.nx, ny = b.box.ny, nz = b.box.nz, nc = b.nc;
    const int64_t i = b.flipX ? b.box.x + nx - 1 - x : x - b.box.x;
    const int64_t j = b.flipY ? b.box.y + ny - 1 - y : y - b.box.y;
    const int64_t col = b.transposed ? j : i, row = b.transposed ? i : j;
    const int64_t w = b.transposed ? ny : nx, h = b.transposed ? nx : ny;
    z -= b.box.z;
    if (b.order == ekInterleaved) return ((z * h + row) * w + col) * nc + k;
    if (b.order == ekSequential) return ((z * h + row) * nc + k) * w + col;
    return ((k * nz + z) * h + row) * w + col;
}

inline int64_t channelNumber(const ekDataBlock& b, int k) {
    return b.chanList ? b.chanList[k] : int64_t(b.firstChan) + k;
}

// Source channel paired with destination channel number g, or -1.
inline int sourceChannel(const ekDataBlock& s, int64_t g) {
    if (g < 0) return -1;
    for (int j = 0; j < s.nc; ++j)
        if (channelNumber(s, j) == g) return j;
    return -1;
}

// dst.copyFrom(src), element by element.
inline void move(const ekDataBlock& dst, const ekDataBlock& srcIn) {
    ekDataBlock src = srcIn;
    ekPixel widened;
    const bool sat = dst.saturate || src.saturate;
    if (src.isPixel && src.nc < dst.nc && !src.chanList && src.firstChan == 0) {
        // A saturating transfer widens in the pixel's own type.
        widened.convert(ekPixel(src.type, src.nc, src.data), sat ? src.type : dst.type, dst.nc);
        src.data = widened.elems();
        src.nc = widened.nc();
        src.type = widened.type();
    }
    const ekTile& b = dst.box;
    const bool keepOut = !src.keepOut.empty();
    for (int k = 0; k < dst.nc; ++k) {
        const int j = sourceChannel(src, channelNumber(dst, k));
        if (j < 0) continue;
        for (int64_t z = b.z; z < int64_t(b.z) + b.nz; ++z)
            for (int64_t y = b.y; y < int64_t(b.y) + b.ny; ++y) {
                // Offsets are affine in x: taken at the row's start, then stepped.
                const int64_t s0 = offset(src, b.x, y, z, j), d0 = offset(dst, b.x, y, z, k);
                const int64_t sx = offset(src, b.x + 1, y, z, j) - s0,
                              dx = offset(dst, b.x + 1, y, z, k) - d0;
                for (int64_t x = b.x; x < int64_t(b.x) + b.nx; ++x) {
                    if (dst.clipValid && !inside(dst.clip, x, y, z)) continue;
                    if (!src.isPixel && !inside(src.box, x, y, z)) continue;
                    if (src.clipValid && !inside(src.clip, x, y, z)) continue;
                    if (keepOut && inside(src.keepOut, x, y, z)) continue;
                    Value v = readElem(src.type, src.data, s0 + (x - b.x) * sx);
                    if (sat) v = saturated(dst.type, v);
                    writeElem(dst.type, dst.data, d0 + (x - b.x) * dx, v);
                }
            }
    }
}

}  // namespace ref

#endif  // EKS_TESTS_TRANSFER_REFERENCE_MOVER_H
