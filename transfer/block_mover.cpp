// SPDX-License-Identifier: Apache-2.0
// ekBlockMover: box setup, channel pairing and dispatch to the fast paths or
// the conversion loop of the destination type.
#include "transfer/block_mover.h"

#include <algorithm>

#include "transfer/convert_kernels.h"
#include "transfer/simd_kernels.h"

ekBlockMover::ekBlockMover(const ekDataBlock& d, const ekDataBlock& s)
    : dst(&d),
      src(&s),
      box(0, 0, 0, 0, 0, 0),
      dstStart(0),
      srcStart(0),
      channel(-1),
      srcChannel(-1),
      slice(0),
      row(0),
      dstBase(0),
      srcBase(0),
      dstPos(0),
      srcPos(0),
      dstStep(0),
      srcStep(0),
      runLength(0),
      allChannels(false),
      pairedByIndex(sameChannels(d, s)),
      stream(false),
      saturate(d.saturate || s.saturate) {}

int ekBlockMover::findSourceChannel(const ekDataBlock& s, int64_t g) {
    if (g < 0) return -1;
    if (s.chanList) {
        for (int j = 0; j < s.nc; ++j)
            if (s.chanList[j] == g) return j;
        return -1;
    }
    const int64_t j = g - s.firstChan;
    return j >= 0 && j < s.nc ? int(j) : -1;
}

bool ekBlockMover::sameChannels(const ekDataBlock& d, const ekDataBlock& s) {
    if (d.nc != s.nc || d.nc < 1) return false;
    if (!d.chanList && !s.chanList) return d.firstChan == s.firstChan && d.firstChan >= 0;
    // A negative number or a repeated number pairs some channel with another
    // index (or with nothing), so whole-row copies would not do.
    for (int k = 0; k < d.nc; ++k)
        if (findSourceChannel(s, d.channelNumber(k)) != k) return false;
    return true;
}

void ekBlockMover::moveBox(const ekTile& b) {
    if (b.empty()) return;
    const ekDataBlock& d = *dst;
    const ekDataBlock& s = *src;
    box = b;
    dstStart = d.elementOffset(b.x, b.y, b.z, 0);
    srcStart = s.elementOffset(b.x, b.y, b.z, 0);
    allChannels = pairedByIndex && d.flipX == s.flipX && !d.transposed && !s.transposed &&
                  d.order == ekInterleaved && s.order == ekInterleaved;
    if (allChannels) {
        // One run is a whole interleaved row. When both sides are mirrored in
        // x the row's memory is still contiguous and laid out alike on both
        // sides, so the run starts at the box's last column (lowest address)
        // and goes forwards.
        runLength = int64_t(s.nc) * b.nx;
        dstStep = 1;
        srcStep = 1;
        if (d.flipX) {
            dstStart += int64_t(d.xStride) * (b.nx - 1);
            srcStart += int64_t(s.xStride) * (b.nx - 1);
        }
    } else {
        runLength = b.nx;
        dstStep = d.xStride;
        srcStep = s.xStride;
    }
    channel = -1;
    slice = 0;
    row = 0;
    if (!nextChannel()) return;
#if EKS_SIMD
    // Destination bytes of the box (in floating point: only a comparison).
    const double elemBytes = d.type == ekBit ? 0.125 : ekElementBytes(d.type);
    stream = double(b.nx) * b.ny * b.nz * d.nc * elemBytes >= double(ekStreamBytes);
#endif
    moveChannels();
    if (stream) ekSimdFence();
}

void ekBlockMover::moveChannels() {
    if (tryFastPath()) return;
    if (tryRowKernels()) return;
    if (tryFillKernels()) return;
    switch (dst->type) {
        case ekBit:
            convertToBit();
            break;
        case ekUChar:
            convertToUChar();
            break;
        case ekChar:
            convertToChar();
            break;
        case ekUShort:
            convertToUShort();
            break;
        case ekShort:
            convertToShort();
            break;
        case ekULong:
            convertToULong();
            break;
        case ekLong:
            convertToLong();
            break;
        case ekFloat:
            convertToFloat();
            break;
        case ekDouble:
            convertToDouble();
            break;
        default:
            break;  // not one of the nine types: nothing moves
    }
}

bool ekBlockMover::nextChannel() {
    const ekDataBlock& d = *dst;
    int64_t limit = allChannels ? 1 : d.nc;
    // Two blocks numbered from an offset meet only in the destination
    // channels that number the source's: go straight to them, so that moving
    // one plane into a buffer of thousands of channels costs one channel.
    if (!allChannels && d.chanList == nullptr && src->chanList == nullptr) {
        const int64_t first = int64_t(src->firstChan) - d.firstChan;
        if (channel + 1 < first) channel = int32_t(std::min(first, limit) - 1);
        limit = std::min(limit, first + src->nc);
    }
    while (++channel < limit) {
        const int j = findSourceChannel(*src, d.channelNumber(channel));
        if (j < 0) continue;  // this destination channel keeps its contents
        srcChannel = j;
        dstBase = dstStart + int64_t(channel) * d.chanStride;
        srcBase = srcStart + int64_t(j) * src->chanStride;
        dstPos = dstBase;
        srcPos = srcBase;
        return true;
    }
    return false;
}
