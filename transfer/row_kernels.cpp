// SPDX-License-Identifier: Apache-2.0
// Box-level kernels for same-width copies that the whole-byte fast paths
// cannot take: transposition (blocked, so that both sides stay in cache),
// mirroring in x (whole pixels reversed per row) and order conversion between
// interleaved and planar rows (all channels of a row in one pass). Each moves
// exactly the elements, and the values, that the conversion loop would.
#include <cstring>

#include "transfer/block_mover.h"
#include "transfer/convert_kernels.h"
#include "transfer/simd_kernels.h"

namespace {

using uchar = unsigned char;

// One element (or pixel) of E bytes, copied as an opaque word.
template <int E>
inline void copyWord(uchar* d, const uchar* s) {
    std::memcpy(d, s, E);
}

// Blocked 2-D copy: element (x, y) moves from src + (x*sx + y*sy)*E to
// dst + (x*dx + y*dy)*E. Each 32 x 32 block goes through a small local
// buffer: it is read along the source's rows and written along the
// destination's, so neither side walks memory with a large stride (with
// power-of-two row lengths such a walk keeps hitting the same cache set).
template <int E>
void blocked2D(uchar* dst, int64_t dx, int64_t dy, const uchar* src, int64_t sx, int64_t sy,
               int64_t nx, int64_t ny) {
    constexpr int64_t kBlock = 32;
    uchar tmp[kBlock * kBlock * E];
    // The order of the two loops of each pass: the inner loop runs along the
    // axis with the smaller stride on that side.
    const bool srcAlongX = (sx < 0 ? -sx : sx) <= (sy < 0 ? -sy : sy);
    const bool dstAlongX = (dx < 0 ? -dx : dx) <= (dy < 0 ? -dy : dy);
    for (int64_t y0 = 0; y0 < ny; y0 += kBlock) {
        const int64_t h = ny - y0 < kBlock ? ny - y0 : kBlock;
        for (int64_t x0 = 0; x0 < nx; x0 += kBlock) {
            const int64_t w = nx - x0 < kBlock ? nx - x0 : kBlock;
            const uchar* s = src + (x0 * sx + y0 * sy) * E;
            uchar* d = dst + (x0 * dx + y0 * dy) * E;
            // tmp holds element (x, y) of the block at (x*kBlock + y)*E.
            if (srcAlongX) {
                for (int64_t y = 0; y < h; ++y)
                    for (int64_t x = 0; x < w; ++x)
                        copyWord<E>(tmp + (x * kBlock + y) * E, s + (x * sx + y * sy) * E);
            } else {
                for (int64_t x = 0; x < w; ++x)
                    for (int64_t y = 0; y < h; ++y)
                        copyWord<E>(tmp + (x * kBlock + y) * E, s + (x * sx + y * sy) * E);
            }
            if (dstAlongX) {
                for (int64_t y = 0; y < h; ++y)
                    for (int64_t x = 0; x < w; ++x)
                        copyWord<E>(d + (x * dx + y * dy) * E, tmp + (x * kBlock + y) * E);
            } else {
                for (int64_t x = 0; x < w; ++x)
                    for (int64_t y = 0; y < h; ++y)
                        copyWord<E>(d + (x * dx + y * dy) * E, tmp + (x * kBlock + y) * E);
            }
        }
    }
}

// The unit sizes blocked2D moves: an element (1, 2, 4 or 8 bytes) or a
// whole interleaved pixel of up to 16 bytes.
constexpr bool isBlockedUnit(int e) {
    return e == 1 || e == 2 || e == 3 || e == 4 || e == 6 || e == 8 || e == 12 || e == 16;
}

// Units of e bytes, e one of isBlockedUnit's sizes.
void blocked2D(int e, uchar* dst, int64_t dx, int64_t dy, const uchar* src, int64_t sx, int64_t sy,
               int64_t nx, int64_t ny) {
    switch (e) {
#define EK_E(E)                                         \
    case E:                                             \
        blocked2D<E>(dst, dx, dy, src, sx, sy, nx, ny); \
        break;
        EK_E(1)
        EK_E(2)
        EK_E(3)
        EK_E(4)
        EK_E(6)
        EK_E(8)
        EK_E(12)
        EK_E(16)
#undef EK_E
        default:
            break;  // not a unit size: the callers never pass one
    }
}

// Interleaved pixels transposed whole, in one pass instead of one per
// channel, when both sides hold the same channels and every stride is a
// whole number of pixels; false when declined.
bool transposePixels(const ekBlockMover& m, const ekSimdKernels* simd, int e, uchar* dd,
                     const uchar* sd) {
    const ekDataBlock& d = *m.dst;
    const ekDataBlock& s = *m.src;
    const int64_t nc = d.nc;
    if (!m.pairedByIndex || nc < 2 || d.order != ekInterleaved || s.order != ekInterleaved)
        return false;
    if (d.xStride % nc || d.yStride % nc || s.xStride % nc || s.yStride % nc) return false;
    const int p = e * int(nc);
    if (!isBlockedUnit(p)) return false;
    // Three-byte pixels adjacent along x on one side and along y on the
    // other have a kernel of their own.
    const ekTransposeFn kernel = simd && p == 3 ? simd->transpose24 : nullptr;
    for (int64_t z = 0; z < m.box.nz; ++z) {
        uchar* dp = dd + (m.dstBase + z * d.zStride) * e;
        const uchar* sp = sd + (m.srcBase + z * s.zStride) * e;
        if (kernel && s.xStride == nc && d.yStride == nc)
            kernel(dp, int64_t(d.xStride) * e, sp, int64_t(s.yStride) * e, m.box.nx, m.box.ny);
        else if (kernel && s.yStride == nc && d.xStride == nc)
            kernel(dp, int64_t(d.yStride) * e, sp, int64_t(s.xStride) * e, m.box.ny, m.box.nx);
        else
            blocked2D(p, dp, d.xStride / nc, d.yStride / nc, sp, s.xStride / nc, s.yStride / nc,
                      m.box.nx, m.box.ny);
    }
    return true;
}

// dst pixel i = src pixel n-1-i, pixels of P bytes.
template <int P>
void reversePixels(uchar* dst, const uchar* src, int64_t n) {
    for (int64_t i = 0; i < n; ++i) copyWord<P>(dst + i * P, src + (n - 1 - i) * P);
}
void reversePixels(int p, uchar* dst, const uchar* src, int64_t n) {
    switch (p) {
        case 1:
            reversePixels<1>(dst, src, n);
            break;
        case 2:
            reversePixels<2>(dst, src, n);
            break;
        case 3:
            reversePixels<3>(dst, src, n);
            break;
        case 4:
            reversePixels<4>(dst, src, n);
            break;
        case 6:
            reversePixels<6>(dst, src, n);
            break;
        case 8:
            reversePixels<8>(dst, src, n);
            break;
        case 12:
            reversePixels<12>(dst, src, n);
            break;
        case 16:
            reversePixels<16>(dst, src, n);
            break;
        default:
            for (int64_t i = 0; i < n; ++i)
                std::memcpy(dst + i * p, src + (n - 1 - i) * p, size_t(p));
    }
}

// Interleaved row (n pixels of C channels of E bytes) to C planar rows at
// dst + k*planeStride bytes, and back.
template <int E, int C>
void split(uchar* dst, int64_t planeStride, const uchar* src, int64_t n) {
    for (int64_t i = 0; i < n; ++i)
        for (int k = 0; k < C; ++k)
            copyWord<E>(dst + k * planeStride + i * E, src + (i * C + k) * E);
}
template <int E, int C>
void merge(uchar* dst, const uchar* src, int64_t planeStride, int64_t n) {
    for (int64_t i = 0; i < n; ++i)
        for (int k = 0; k < C; ++k)
            copyWord<E>(dst + (i * C + k) * E, src + k * planeStride + i * E);
}
template <int E>
void splitOrMerge(bool toPlanar, int c, uchar* planar, int64_t planeStride, uchar* inter,
                  int64_t n) {
    switch (c) {
#define EK_C(C)                                         \
    case C:                                             \
        if (toPlanar)                                   \
            split<E, C>(planar, planeStride, inter, n); \
        else                                            \
            merge<E, C>(inter, planar, planeStride, n); \
        return;
        EK_C(2)
        EK_C(3)
        EK_C(4)
#undef EK_C
        default:
            for (int64_t i = 0; i < n; ++i)
                for (int k = 0; k < c; ++k) {
                    uchar* p = planar + k * planeStride + i * E;
                    uchar* q = inter + (i * c + k) * E;
                    if (toPlanar)
                        copyWord<E>(p, q);
                    else
                        copyWord<E>(q, p);
                }
    }
}

// A long split (a whole slice of interleaved pixels into planes, in a large
// box) goes as kRegions regions, kRegionPiece pixels of each in turn, after
// the pixels that bring the first plane to a line boundary: its one source
// stream is read from four distant places at once, which memory serves
// faster (a 3-channel 4096 x 4096 split measured 0.87 to 0.92 of the time of
// one pass; two regions or pieces of 256 or 1024 pixels gained less). A
// merge reads a stream per plane already: regions measured no faster there.
constexpr int64_t kRegionBytes = int64_t(256) << 10;  // interleaved bytes of a run, at least
constexpr int64_t kRegions = 4;
constexpr int64_t kRegionPiece = 512;

void splitLong(ekSplitFn k, int c, uchar* dst, int64_t planeStride, const uchar* src, int64_t n) {
    if (n * c < kRegionBytes) return k(dst, planeStride, src, n);
    const int64_t head = int64_t((64 - reinterpret_cast<uintptr_t>(dst) % 64) % 64);
    k(dst, planeStride, src, head);
    const int64_t q = (n - head) / kRegions / kRegionPiece * kRegionPiece;
    for (int64_t off = head; off < head + q; off += kRegionPiece)
        for (int64_t r = 0; r < kRegions; ++r)
            k(dst + r * q + off, planeStride, src + (r * q + off) * c, kRegionPiece);
    const int64_t done = head + kRegions * q;
    k(dst + done, planeStride, src + done * c, n - done);
}

}  // namespace

bool ekBlockMover::tryRowKernels() {
    const ekDataBlock& d = *dst;
    const ekDataBlock& s = *src;
    if (s.isPixel || s.xStride == 0 || !ekBitCopy(d.type, s.type, saturate)) return false;
    const int e = ekElementBytes(d.type);
    if (e == 0) return false;  // bits, or a type outside the nine
    uchar* const dd = static_cast<uchar*>(d.data);
    const uchar* const sd = static_cast<const uchar*>(s.data);
    const ekSimdKernels* simd = ekSimd(stream);

    if (d.transposed != s.transposed) {
        if (transposePixels(*this, simd, e, dd, sd)) return true;
        // Per channel pair and slice, a blocked 2-D copy. With one-byte
        // elements that are contiguous along x on one side and along y on the
        // other, a transposition kernel does 16 x 16 bytes at a time.
        do {
            for (int64_t z = 0; z < box.nz; ++z) {
                uchar* dp = dd + (dstBase + z * d.zStride) * e;
                const uchar* sp = sd + (srcBase + z * s.zStride) * e;
                if (simd && simd->transpose8 && e == 1 && s.xStride == 1 && d.yStride == 1)
                    simd->transpose8(dp, d.xStride, sp, s.yStride, box.nx, box.ny);
                else if (simd && simd->transpose8 && e == 1 && s.yStride == 1 && d.xStride == 1)
                    simd->transpose8(dp, d.yStride, sp, s.xStride, box.ny, box.nx);
                else
                    blocked2D(e, dp, d.xStride, d.yStride, sp, s.xStride, s.yStride, box.nx,
                              box.ny);
            }
        } while (nextChannel());
        return true;
    }
    if (d.transposed) return false;

    if ((dstStep == 1 && srcStep == -1) || (dstStep == -1 && srcStep == 1)) {
        // Planar rows mirrored in x on one side: per run, the elements
        // reversed. A mirrored run's lowest address holds its last element.
        const ekReverseFn kernel = simd && e <= 4 ? simd->reverse[e] : nullptr;
        do {
            uchar* dp = dd + (dstPos - (dstStep < 0 ? runLength - 1 : 0)) * e;
            const uchar* sp = sd + (srcPos - (srcStep < 0 ? runLength - 1 : 0)) * e;
            if (kernel)
                kernel(dp, sp, runLength);
            else
                reversePixels(e, dp, sp, runLength);
        } while (nextRun());
        return true;
    }
    if (!pairedByIndex) return false;

    const bool dInter = d.order == ekInterleaved, sInter = s.order == ekInterleaved;
    if (dInter && sInter && d.flipX != s.flipX) {
        // Interleaved and mirrored in x on one side: each row is the other's
        // pixels reversed. A mirrored row's lowest address holds the box's
        // last column.
        const int p = e * d.nc;
        const int64_t dLow = d.flipX ? int64_t(d.xStride) * (box.nx - 1) : 0;
        const int64_t sLow = s.flipX ? int64_t(s.xStride) * (box.nx - 1) : 0;
        const ekReverseFn kernel = simd && p <= 4 ? simd->reverse[p] : nullptr;
        for (int64_t z = 0; z < box.nz; ++z)
            for (int64_t y = 0; y < box.ny; ++y) {
                uchar* dp = dd + (dstStart + dLow + z * d.zStride + y * d.yStride) * e;
                const uchar* sp = sd + (srcStart + sLow + z * s.zStride + y * s.yStride) * e;
                if (kernel)
                    kernel(dp, sp, box.nx);
                else
                    reversePixels(p, dp, sp, box.nx);
            }
        return true;
    }
    if (dInter == sInter || d.flipX || s.flipX) return false;

    // Interleaved against sequential or separate, same channels: all channels
    // of a row in one pass.
    const ekDataBlock& planar = dInter ? s : d;
    const int64_t planeStride = int64_t(planar.chanStride) * e;
    const int c = d.nc;
    const bool toPlanar = !dInter;
    const ekSplitFn splitK = simd && e == 1 && c <= 4 ? simd->split8[c] : nullptr;
    const ekMergeFn mergeK = simd && e == 1 && c <= 4 ? simd->merge8[c] : nullptr;
    // Rows that follow each other in memory on both sides (whole rows of
    // both blocks) go as one run per slice: no seam between rows where the
    // kernels would fall back to their head and tail loops.
    const ekDataBlock& inter = dInter ? d : s;
    const bool joined = inter.xStride == c && inter.yStride == int64_t(c) * box.nx &&
                        planar.xStride == 1 && planar.yStride == box.nx;
    const int64_t rows = joined ? box.ny : 1;
    const int64_t n = box.nx * rows;
    for (int64_t z = 0; z < box.nz; ++z)
        for (int64_t y = 0; y < box.ny; y += rows) {
            uchar* dp = dd + (dstStart + z * d.zStride + y * d.yStride) * e;
            uchar* sp = const_cast<uchar*>(sd) + (srcStart + z * s.zStride + y * s.yStride) * e;
            if (toPlanar && splitK)
                splitLong(splitK, c, dp, planeStride, sp, n);
            else if (!toPlanar && mergeK)
                mergeK(dp, sp, planeStride, n);
            else if (e == 1)
                splitOrMerge<1>(toPlanar, c, toPlanar ? dp : sp, planeStride, toPlanar ? sp : dp,
                                n);
            else if (e == 2)
                splitOrMerge<2>(toPlanar, c, toPlanar ? dp : sp, planeStride, toPlanar ? sp : dp,
                                n);
            else if (e == 4)
                splitOrMerge<4>(toPlanar, c, toPlanar ? dp : sp, planeStride, toPlanar ? sp : dp,
                                n);
            else
                splitOrMerge<8>(toPlanar, c, toPlanar ? dp : sp, planeStride, toPlanar ? sp : dp,
                                n);
        }
    return true;
}
