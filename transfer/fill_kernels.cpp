// SPDX-License-Identifier: Apache-2.0
// Fills of interleaved destinations from a constant block: every position
// receives the same pixel, so each row of the box is one pixel pattern
// repeated. The pattern is converted once (by the conversion loop, on a
// one-pixel block) and then copied, instead of one strided pass per channel.
#include <cstring>

#include "transfer/block_mover.h"
#include "transfer/convert_kernels.h"

namespace {

// Largest pixel (channels times element bytes) handled here.
constexpr int kMaxPixelBytes = 64;

}  // namespace

bool ekBlockMover::tryFillKernels() {
    const ekDataBlock& d = *dst;
    const ekDataBlock& s = *src;
    if (!s.isPixel || d.order != ekInterleaved || d.transposed) return false;
    // A single pixel goes through the conversion loop (which is also how the
    // pattern below is made).
    if (int64_t(box.nx) * box.ny * box.nz < 2) return false;
    const int e = ekElementBytes(d.type);
    if (e == 0 || d.nc * e > kMaxPixelBytes) return false;  // bits, or large pixels
    // Every destination channel must receive a value: a channel without a
    // partner keeps its contents, which a pattern copy would overwrite.
    for (int k = 0; k < d.nc; ++k)
        if (findSourceChannel(s, d.channelNumber(k)) < 0) return false;

    // The pixel in the destination's type and channel order: the constant
    // block moved into a one-pixel block at the origin (neither clip nor
    // keep-out box applies to it).
    unsigned char pixel[kMaxPixelBytes];
    ekDataBlock one(pixel, d.type, ekInterleaved, d.nc, d.chanList, 1, 1, 1, 0, 0, 0, d.firstChan);
    one.saturate = saturate;
    ekDataBlock constant = s;
    constant.clipValid = false;
    constant.keepOut = ekTile(0, 0, 0, 0, 0, 0);
    one.copyFrom(constant);

    // Rows of the box: the row's lowest address is its last column when the
    // block is mirrored in x. The first row is built by doubling, the others
    // are copies of it.
    const int64_t p = int64_t(d.nc) * e;
    const int64_t rowBytes = p * box.nx;
    const int64_t low = d.flipX ? int64_t(d.xStride) * (box.nx - 1) : 0;
    unsigned char* const base = static_cast<unsigned char*>(d.data);
    const unsigned char* first = nullptr;
    for (int64_t z = 0; z < box.nz; ++z)
        for (int64_t y = 0; y < box.ny; ++y) {
            unsigned char* row = base + (dstStart + low + z * d.zStride + y * d.yStride) * e;
            if (first) {
                std::memcpy(row, first, size_t(rowBytes));
                continue;
            }
            std::memcpy(row, pixel, size_t(p));
            for (int64_t done = p; done < rowBytes; done *= 2)
                std::memcpy(row + done, row,
                            size_t(done < rowBytes - done ? done : rowBytes - done));
            first = row;
        }
    return true;
}
