// Whole-byte copies: the fast paths of the transfer engine. Each declines
// (returns false, having moved nothing) unless the box can be moved by memmove
// calls that give exactly what the conversion loops would.
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

}  // namespace

bool ekBlockMover::tryFastPath() {
    const ekDataBlock& d = *dst;
    const ekDataBlock& s = *src;
    if (s.isPixel || s.xStride == 0) return false;
    if (d.flipX != s.flipX || d.transposed || s.transposed) return false;
    // A run mirrored in x on both sides starts at its highest address; only
    // forward runs are copied here.
    if (d.flipX) return false;
    if (!ekCopyCompatible(d.type, s.type)) return false;
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

    const ekSimdKernels* simd = ekSimd(stream);
    auto copy = [&](int64_t n) {
        unsigned char* to = byteAt(d.data, dstPos, esize);
        const unsigned char* from = byteAt(s.data, srcPos, esize);
        const int64_t bytes = byteCount(n, esize);
        // Large boxes bypass the caches when the two ranges do not overlap.
        if (simd && simd->copyRow && (to + bytes <= from || from + bytes <= to))
            simd->copyRow(to, from, bytes);
        else
            std::memmove(to, from, size_t(bytes));
    };
    // One copy per run (row), visiting the runs as the conversion loop would.
    auto copyRuns = [&](int64_t n) {
        do copy(n);
        while (nextRun());
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
