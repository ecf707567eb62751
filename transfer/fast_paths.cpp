// SPDX-License-Identifier: Apache-2.0
// Whole-byte copies: the fast paths of the transfer engine. Each declines
// (returns false, having moved nothing) unless the box can be moved by memmove
// calls that give exactly what the conversion loops would.
#include <algorithm>
#include <cstring>

#include "transfer/block_mover.h"
#include "transfer/convert_kernels.h"
#include "transfer/simd_kernels.h"

namespace {

// Byte address of element offset pos: bits count eighths of a byte.
inline unsigned char* byteAt(void* base, int64_t pos, int esize) {
    return static_cast<unsigned char*>(base) + (esize ? pos * esize : pos >> 3);
}
inline int64_t byteCount(int64_t n, int esize) { return esize ? n * esize : n >> 3; }

// True when the byte ranges [a, a+n) and [b, b+n) do not overlap (compared as
// addresses: the two may lie in different buffers).
inline bool disjoint(const unsigned char* a, const unsigned char* b, int64_t n) {
    const uintptr_t x = reinterpret_cast<uintptr_t>(a), y = reinterpret_cast<uintptr_t>(b);
    return x + uintptr_t(n) <= y || y + uintptr_t(n) <= x;
}

// Rows ahead whose source is prefetched by the row-by-row copy.
constexpr int64_t kPrefetchRows = 4;
// Rows up to this many bytes are copied by copyShortRows.
constexpr int64_t kShortRow = 2048;
// Rows up to this many bytes prefetch their continuation when the box has a
// neighbour of its own width to the right in the source (tile reads).
constexpr int64_t kNextTileRow = 1024;

// n bytes, the two ranges not overlapping, in 16-byte moves (the last one
// overlapping its predecessor) instead of a library call per short row.
inline void copyBytes(unsigned char* to, const unsigned char* from, int64_t n) {
    if (n >= 16) {
        int64_t i = 0;
        for (; i + 16 <= n; i += 16) std::memcpy(to + i, from + i, 16);
        if (i < n) std::memcpy(to + n - 16, from + n - 16, 16);
    } else if (n >= 8) {
        std::memcpy(to, from, 8);
        std::memcpy(to + n - 8, from + n - 8, 8);
    } else {
        for (int64_t i = 0; i < n; ++i) to[i] = from[i];
    }
}

// True when the rows of one slice, `rows` rows of n bytes dy and sy bytes
// apart, overlap on neither side: the byte ranges from each side's lowest
// to its highest row do not meet.
bool sliceDisjoint(const unsigned char* to, int64_t dy, const unsigned char* from, int64_t sy,
                   int64_t n, int64_t rows) {
    const int64_t span = rows - 1;
    const unsigned char* toLo = dy < 0 ? to + span * dy : to;
    const unsigned char* fromLo = sy < 0 ? from + span * sy : from;
    const uintptr_t a = reinterpret_cast<uintptr_t>(toLo), b = reinterpret_cast<uintptr_t>(fromLo);
    return a + uintptr_t(span * (dy < 0 ? -dy : dy) + n) <= b ||
           b + uintptr_t(span * (sy < 0 ? -sy : sy) + n) <= a;
}

// Short rows (tile reads): the rows of one slice, `rows` rows of n bytes, dy
// and sy bytes apart. Rows far apart wait on memory one after the other, so
// the source of the row a few rows ahead, and the continuation of each
// source row (what a read of the next tile to the right takes, into the
// outer caches only), are requested early. With the SIMD kernels a slice
// whose two sides do not overlap is one kernel call.
void copySliceRows(ekCopyRowsFn kernel, unsigned char* toRow, int64_t dy,
                   const unsigned char* fromRow, int64_t sy, int64_t bytes, int32_t rows,
                   bool nextTile) {
    const bool shortRow = bytes <= 256;
    const bool next = nextTile && bytes <= kNextTileRow;
    if (kernel && sliceDisjoint(toRow, dy, fromRow, sy, bytes, rows)) {
        kernel(toRow, dy, fromRow, sy, bytes, rows, shortRow ? 0 : kPrefetchRows, next);
        return;
    }
    for (int32_t r = 0; r < rows; ++r) {
        unsigned char* to = toRow + r * dy;
        const unsigned char* from = fromRow + r * sy;
        if (!shortRow && r + kPrefetchRows < rows) {
            const unsigned char* p = from + kPrefetchRows * sy;
            for (int64_t k = 0; k < bytes; k += 64) __builtin_prefetch(p + k);
            __builtin_prefetch(p + bytes - 1);
        }
        if (next)
            for (int64_t k = 0; k < bytes; k += 64) __builtin_prefetch(from + bytes + k, 0, 1);
        if (disjoint(to, from, bytes))
            copyBytes(to, from, bytes);
        else
            std::memmove(to, from, size_t(bytes));
    }
}

// The source has a box of the same width to the right of this one.
inline bool hasNextTile(const ekTile& box, const ekDataBlock& s) {
    return int64_t(box.x) + 2 * int64_t(box.nx) <= int64_t(s.box.x) + s.box.nx;
}

// Row-by-row copy of short rows, per channel pair and slice of the mover.
void copyShortRows(ekBlockMover& m, int esize, int64_t n) {
    const ekDataBlock& d = *m.dst;
    const ekDataBlock& s = *m.src;
    const int64_t bytes = byteCount(n, esize);
    // Byte distances between rows; bit rows here are whole bytes.
    const int64_t dy = esize ? int64_t(d.yStride) * esize : int64_t(d.yStride) / 8;
    const int64_t sy = esize ? int64_t(s.yStride) * esize : int64_t(s.yStride) / 8;
    const bool nextTile = hasNextTile(m.box, s);
    const ekSimdKernels* simd = ekSimd(m.stream);
    const ekCopyRowsFn kernel = simd ? simd->copyShortRows : nullptr;
    do {
        copySliceRows(kernel, byteAt(d.data, m.dstPos, esize), dy, byteAt(s.data, m.srcPos, esize),
                      sy, bytes, m.box.ny, nextTile);
        m.row = m.box.ny - 1;  // the slice's rows are done: on to the next slice or pair
    } while (m.nextRun());
}

}  // namespace

bool ekBlockMover::tryFastPath() {
    const ekDataBlock& d = *dst;
    const ekDataBlock& s = *src;
    if (s.isPixel || s.xStride == 0) return false;
    if (d.flipX != s.flipX || d.transposed || s.transposed) return false;
    // A run mirrored in x on both sides starts at its highest address; only
    // forward runs are copied here.
    if (d.flipX) return false;
    if (!ekBitCopy(d.type, s.type, saturate)) return false;
    const int esize = ekElementBytes(d.type);
    if (d.type == ekBit) {
        // Whole bytes only: every pixel must be a whole number of bytes.
        if (d.order != ekInterleaved || s.order != ekInterleaved || d.nc % 8 || s.nc % 8)
            return false;
    } else if (esize == 0) {
        return false;
    }

    // Whole rows (and, when the box spans more than one row per slice, whole
    // slices) are contiguous in both blocks. A block mirrored in y starts at
    // its last row, so it is copied row by row.
    const bool fullRows = !d.flipY && !s.flipY && box.nx == d.box.nx && box.nx == s.box.nx &&
                          ((box.ny == d.box.ny && box.ny == s.box.ny) || box.nz == 1);
    const bool fullSlices =
        box.ny == d.box.ny && box.ny == s.box.ny && box.nz == d.box.nz && box.nz == s.box.nz;
    const int64_t volume = int64_t(box.nx) * box.ny * box.nz;

    // One copy of n elements from the current positions. A large box whose
    // two ranges do not overlap is written with streaming stores where the
    // CPU's kernels have them (the C library's memmove keeps ordinary stores
    // far beyond the cache size on some CPUs); anything else goes to memmove.
    const ekSimdKernels* simd = ekSimd(stream);
    auto copy = [&](int64_t n) {
        unsigned char* to = byteAt(d.data, dstPos, esize);
        const unsigned char* from = byteAt(s.data, srcPos, esize);
        const int64_t bytes = byteCount(n, esize);
        if (simd && simd->copyBlock && disjoint(to, from, bytes))
            simd->copyBlock(to, from, bytes);
        else
            std::memmove(to, from, size_t(bytes));
    };
    // One copy per run (row), visiting the runs as the conversion loop would.
    // Rows of a large box are written with streaming stores when the SIMD
    // kernels are in use and the two ranges do not overlap.
    auto copyRuns = [&](int64_t n) {
        const int64_t bytes = byteCount(n, esize);
        if (bytes <= kShortRow) {
            copyShortRows(*this, esize, n);
            return;
        }
        do {
            unsigned char* to = byteAt(d.data, dstPos, esize);
            const unsigned char* from = byteAt(s.data, srcPos, esize);
            if (simd && simd->copyRow && disjoint(to, from, bytes))
                simd->copyRow(to, from, bytes);
            else
                std::memmove(to, from, size_t(bytes));
        } while (nextRun());
    };
    // One copy of a channel volume per channel pair.
    auto copyVolumes = [&]() {
        do copy(volume);
        while (nextChannel());
    };

    if (d.order == s.order) {
        switch (d.order) {
            case ekInterleaved:
                if (!pairedByIndex) return false;
                if (fullRows)
                    copy(volume * d.nc);
                else
                    copyRuns(runLength);
                return true;
            case ekSequential:
                if (fullRows && pairedByIndex)
                    copy(volume * d.nc);
                else
                    copyRuns(box.nx);
                return true;
            case ekSeparate:
                if (fullRows && fullSlices && pairedByIndex)
                    copy(volume * d.nc);
                else if (fullRows)
                    copyVolumes();
                else
                    copyRuns(box.nx);
                return true;
            default:
                return false;
        }
    }
    if (d.order == ekInterleaved || s.order == ekInterleaved) return false;
    copyRuns(box.nx);  // sequential against separate: rows of one channel
    return true;
}

bool ekCopyTileDirect(const ekDataBlock& d, const ekDataBlock& s, const ekTile& r) {
    // What the mover would do for this box, decided without it: both blocks
    // pair every channel k with channel k (no lists, same first channel and
    // count), neither is mirrored or transposed, the types copy bit for bit,
    // and both are interleaved (or hold one channel). The mover then copies
    // whole pixels row by row (copyShortRows) unless the rows are whole rows
    // of both blocks (one copy) or longer than kShortRow.
    if (s.isPixel || !s.keepOut.empty() || d.chanList || s.chanList) return false;
    if (d.nc != s.nc || d.nc < 1 || d.firstChan != s.firstChan || d.firstChan < 0) return false;
    if (d.order != s.order || (d.order != ekInterleaved && d.nc != 1)) return false;
    if (d.flipX || d.flipY || s.flipX || s.flipY || d.transposed || s.transposed) return false;
    if (!ekBitCopy(d.type, s.type, d.saturate || s.saturate)) return false;
    const int esize = ekElementBytes(d.type);
    if (esize == 0) return false;                            // bits take the mover's paths
    if (r.nx == d.box.nx && r.nx == s.box.nx) return false;  // whole rows: one copy
    const int64_t bytes = int64_t(r.nx) * d.nc * esize;
    if (bytes > kShortRow) return false;
    // Streaming stores are not used for short rows; larger boxes keep the
    // mover (and its closing fence). The size is compared in floating point,
    // as the mover does: the product of the extents may not fit 64 bits.
    if (double(bytes) * r.ny * r.nz >= double(ekStreamBytes)) return false;

    const ekSimdKernels* simd = ekSimd(false);
    const ekCopyRowsFn kernel = simd ? simd->copyShortRows : nullptr;
    const int64_t dy = int64_t(d.yStride) * esize, sy = int64_t(s.yStride) * esize;
    const int64_t dz = int64_t(d.zStride) * esize, sz = int64_t(s.zStride) * esize;
    unsigned char* to = byteAt(d.data, d.elementOffset(r.x, r.y, r.z, 0), esize);
    const unsigned char* from = byteAt(s.data, s.elementOffset(r.x, r.y, r.z, 0), esize);
    const bool nextTile = hasNextTile(r, s);
    for (int32_t z = 0; z < r.nz; ++z, to += dz, from += sz)
        copySliceRows(kernel, to, dy, from, sy, bytes, r.ny, nextTile);
    return true;
}
