// SPDX-License-Identifier: Apache-2.0
// ekDataBlock: the internal transfer descriptor. It says where a block of pixel
// data lies in memory, which box of image space it covers and how its elements
// are arranged; copyFrom moves the data of one block into another over the part
// of image space that both cover. Not exported from the shared library.
#ifndef EKS_TRANSFER_DATA_BLOCK_H
#define EKS_TRANSFER_DATA_BLOCK_H

#include <cstdint>

#include "eks/core.h"

// Memory model. Offsets and strides count elements of the block's own type;
// for ekBit an element is one bit, packed eight to a byte, most significant bit
// first (bit index i lives in byte i >> 3 at bit position 7 - (i & 7)), with no
// padding anywhere: the bit index runs on across rows, slices and channels.
//
// Local channel k of position (x, y, z) lies at element offset
//
//   xStride*((x-box.x)-xoff) + yStride*((y-box.y)-yoff) + zStride*(z-box.z) + chanStride*k
//
// where xoff = box.nx-1 when the block is flipped in x (else 0) and yoff =
// box.ny-1 when it is flipped in y; a flip also negates the stride, so offset 0
// is channel 0 of the last column / last row of the first slice. Strides by
// order (T = transposed: memory rows run along y):
//
//   order          xStride        yStride        zStride     chanStride
//   ekInterleaved  T ? nc*ny : nc T ? nc : nc*nx nc*nx*ny    1
//   ekSequential   T ? ny*nc : 1  T ? 1 : nx*nc  nx*ny*nc    T ? ny : nx
//   ekSeparate     T ? ny : 1     T ? 1 : nx     nx*ny       nx*ny*nz
//
// A constant block (isPixel) has x, y and z strides 0 and chanStride 1: every
// position reads the same nc elements.
//
// Channel numbers: local channel k has the number chanList[k] when the block
// has a list (the list is indexed by k alone), else firstChan + k. Two blocks
// exchange data only between channels of equal number; a negative number marks
// a channel that takes part in nothing.
//
// Widths: the descriptor fields are 32-bit; offsets and byte addresses are
// always computed in 64 bits. A block whose strides do not fit 32 bits (a
// slice or channel volume of more than 2^31-1 elements), or whose order is
// not one of the three, is marked unusable and takes part in no transfer;
// so does a memory block with a null data pointer.
//
// Whole-row and whole-block copies are taken only where they give exactly
// what channel pairing gives element by element: both blocks must pair every
// destination channel k with source channel k (equal lists with a negative
// or repeated number do not), and a block mirrored in x or y on both sides is
// copied row by row from its lowest address, never past its rows.
class ekDataBlock {
public:
    // A memory block over `data` covering the box (x, y, z, nx, ny, nz). The
    // order is taken only when nc > 1 (a one-channel block is ekSeparate). No
    // clip, no flips, not transposed, no keep-out box. `chanList` (nc entries,
    // or null) is not owned and must outlive every copyFrom.
    ekDataBlock(void* data, ekType type, ekOrder order, int nc, const int* chanList, int nx, int ny,
                int nz, int x, int y, int z, int firstChan);
    // A constant block: every position reads the pixel's elements. `keepOut`
    // (copied; null for none) is a box that a fill from this block leaves
    // untouched. The pixel, like `chanList`, must outlive every copyFrom.
    ekDataBlock(const ekPixel& pixel, const ekTile* keepOut, const int* chanList, int firstChan);

    ekDataBlock(const ekDataBlock&) = default;
    ekDataBlock& operator=(const ekDataBlock&) = default;

    // Clip box in image space; in force only when nx, ny and nz are all 1 or
    // more, so an empty box means no clip.
    void setClip(int x, int y, int z, int nx, int ny, int nz);
    // Mirror flags from an ekFlip value: bit 1 = memory runs backwards in x,
    // bit 2 = backwards in y. Recomputes the strides.
    void setFlip(int flip);
    // Non-zero: memory rows run along y instead of x. Recomputes the strides.
    void setTranspose(int t);

    // Conversions: plain casts (convert_kernels.h), or, when either block of
    // a transfer has `saturate` set (the caller's block of a request made
    // with ekSaturate), the saturating rule on every narrowing conversion;
    // signed and unsigned types of one width are then converted, not copied.
    //
    // Moves src's data into this block over the part of image space both cover
    // (this block's clip and box, src's clip and box, and outside src's
    // keep-out box when src is a constant block), converting the element type
    // and pairing channels by number. Everything else is left untouched. It
    // cannot fail; src is not changed (a constant source with fewer channels
    // than this block, no channel list and firstChan 0 is widened into a
    // private copy for the duration of the call).
    void copyFrom(const ekDataBlock& src);

    // Element offset of local channel k at (x, y, z); see the formula above.
    int64_t elementOffset(int64_t x, int64_t y, int64_t z, int64_t k) const {
        const int64_t xoff = flipX ? int64_t(box.nx) - 1 : 0;
        const int64_t yoff = flipY ? int64_t(box.ny) - 1 : 0;
        return int64_t(xStride) * ((x - box.x) - xoff) + int64_t(yStride) * ((y - box.y) - yoff) +
               int64_t(zStride) * (z - box.z) + int64_t(chanStride) * k;
    }
    // Number of local channel k (negative: takes part in nothing).
    int64_t channelNumber(int k) const {
        return chanList ? int64_t(chanList[k]) : int64_t(firstChan) + k;
    }

    void* data;           // first element; for a constant block the pixel's elements (not owned)
    ekTile box;           // box of image space covered (all zero for a constant block)
    int32_t xStride;      // element distance between neighbours along x (derived)
    int32_t yStride;      // ... along y (derived)
    int32_t zStride;      // ... along z (derived)
    int32_t firstChan;    // number of local channel 0 when there is no channel list
    int32_t chanStride;   // element distance between neighbouring channels (derived)
    int32_t nc;           // channels in the block
    ekTile clip;          // clip box in image space, in force when clipValid
    ekType type;          // element type
    ekOrder order;        // channel order; always ekSeparate when nc <= 1
    const int* chanList;  // number of each local channel, or null; not owned
    bool clipValid;       // the clip box is in force
    bool flipX;           // memory runs backwards along x
    bool flipY;           // memory runs backwards along y
    bool transposed;      // memory rows run along y
    ekTile keepOut;       // constant blocks: box a fill leaves alone; all zero when none
    bool isPixel;         // constant block
    bool unusable;        // strides do not fit 32 bits: the block takes part in nothing
    bool saturate;        // transfers with this block saturate (ekSaturate); see below

private:
    void computeStrides();
};

#endif  // EKS_TRANSFER_DATA_BLOCK_H
