// SPDX-License-Identifier: Apache-2.0
// ekBlockMover: the state of moving one box between two ekDataBlocks. It pairs
// channels, walks the box run by run (a run is one row of one channel pair, or
// one whole interleaved row when allChannels is set) and hands the box, in
// this order of preference, to a whole-byte fast path (fast_paths.cpp), a
// same-width row kernel (row_kernels.cpp: transposition, mirroring in x,
// interleaved against planar rows), a pattern fill (fill_kernels.cpp), or
// the conversion loop of the destination's type (convert_kernels.cpp). Every
// path moves exactly what the conversion loop would; the SIMD kernels behind
// them (simd_kernels.h) give byte-identical results.
#ifndef EKS_TRANSFER_BLOCK_MOVER_H
#define EKS_TRANSFER_BLOCK_MOVER_H

#include <cstdint>

#include "transfer/data_block.h"

class ekBlockMover {
public:
    // Binds the mover to the two descriptors (not owned; they outlive it).
    ekBlockMover(const ekDataBlock& dst, const ekDataBlock& src);

    // Moves the box (image coordinates, already inside both blocks).
    void moveBox(const ekTile& box);

    // Advances to the next destination channel that has a source partner and
    // positions the first run of it; false when no pair is left.
    bool nextChannel();
    // Advances to the next run: next row, then next slice, then next channel
    // pair. False at the end of the box.
    bool nextRun() {
        if (++row < box.ny) {
            dstPos += dst->yStride;
            srcPos += src->yStride;
            return true;
        }
        row = 0;
        if (++slice < box.nz) {
            dstBase += dst->zStride;
            srcBase += src->zStride;
            dstPos = dstBase;
            srcPos = srcBase;
            return true;
        }
        slice = 0;
        return nextChannel();
    }

    // Whole-byte copies of the box when the layouts allow them; false when
    // declined (nothing has been moved then).
    bool tryFastPath();

    // The conversion loops, one per destination type; each branches once on
    // the source type and converts every run of the box.
    void convertToBit();
    void convertToUChar();
    void convertToChar();
    void convertToUShort();
    void convertToShort();
    void convertToULong();
    void convertToLong();
    void convertToFloat();
    void convertToDouble();

    // Every destination channel k is paired with source channel k, both
    // blocks have the same channel count and no channel is negative.
    static bool sameChannels(const ekDataBlock& d, const ekDataBlock& s);
    // Source channel paired with destination channel number g, or -1.
    static int findSourceChannel(const ekDataBlock& s, int64_t g);

    // clang-format off
    const ekDataBlock* dst;  // destination descriptor (not owned)
    const ekDataBlock* src;  // source descriptor (not owned)
    ekTile box;              // box being moved
    int64_t dstStart;        // offset of the box origin, channel 0, in each block
    int64_t srcStart;
    int32_t channel;         // current destination channel; -1 before the first
    int32_t srcChannel;      // its source partner
    int32_t slice;           // counters within the box
    int32_t row;
    int64_t dstBase;         // first row of the current slice, current channel pair
    int64_t srcBase;
    int64_t dstPos;          // first element of the current run
    int64_t srcPos;
    int64_t dstStep;         // element distance within a run
    int64_t srcStep;
    int64_t runLength;       // elements in one run
    bool allChannels;        // one run is a whole interleaved row, all channels
    bool pairedByIndex;      // sameChannels(dst, src)
    bool stream;             // large box: the SIMD kernels use streaming stores
    bool saturate;           // either block saturates: narrowing conversions clamp
    // clang-format on

private:
    template <class D>
    void convertTo();
    template <class D, class S, bool Sat>
    void runLoop();
    // Same-width copies the fast paths decline; false when declined.
    bool tryRowKernels();
    // Interleaved fills from a constant block; false when declined.
    bool tryFillKernels();
    // The box's channel pairs, by the first path that takes them.
    void moveChannels();
};

// Tile reads without the mover: when the two blocks have the same channels
// and an unmirrored, untransposed interleaved (or one-channel) layout of
// copy-compatible types, and the box r (inside both) has short rows that are
// not whole rows of both blocks, copies r row by row exactly as the mover's
// fast path would and returns true; otherwise moves nothing and returns
// false.
bool ekCopyTileDirect(const ekDataBlock& dst, const ekDataBlock& src, const ekTile& r);

#endif  // EKS_TRANSFER_BLOCK_MOVER_H
