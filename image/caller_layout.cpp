// SPDX-License-Identifier: Apache-2.0
// Checks of a caller's layout before any pixel moves.
#include "image/caller_layout.h"

#include <cstdint>

#include "eks/image.h"
#include "image/channel_table.h"

bool ekIsDataType(ekType t) {
    switch (t) {
        case ekBit:
        case ekUChar:
        case ekChar:
        case ekUShort:
        case ekShort:
        case ekULong:
        case ekLong:
        case ekFloat:
        case ekDouble:
            return true;
        default:
            return false;
    }
}

bool ekIsOrder(ekOrder o) { return o == ekInterleaved || o == ekSequential || o == ekSeparate; }

bool ekConfigUsable(const ekConfig* cfg) {
    if (cfg == nullptr) return true;
    const bool typeOk = cfg->type == 0 || cfg->type == ekAnyType || ekIsDataType(cfg->type);
    const bool orderOk = cfg->order == 0 || cfg->order == ekAnyOrder || ekIsOrder(cfg->order);
    return typeOk && orderOk && cfg->nchans >= 0;
}

namespace {

bool emptyTile(const ekTile& t) { return t.nx < 1 || t.ny < 1 || t.nz < 1; }

}  // namespace

ekStatus ekCheckCallerBuffer(const ekConfig* cfg, ekOrder ownOrder, int ownChannels,
                             const void* data, const ekTile& request, const ekTile& buffer) {
    if (!ekConfigUsable(cfg)) return ekBadAttribute;
    if (emptyTile(request) || emptyTile(buffer)) return ekOkay;  // nothing can move
    if (data == nullptr) return ekBadAttribute;
    const int64_t nc = cfg != nullptr && cfg->nchans != 0 ? cfg->nchans : ownChannels;
    const ekOrder order =
        cfg != nullptr && cfg->order != 0 && cfg->order != ekAnyOrder ? cfg->order : ownOrder;
    // The largest stride: the slice stride of the plane orders, the channel
    // volume of ekSeparate (which a single channel always is). The others
    // divide it, and transposition exchanges nx and ny, keeping the product.
    // Each factor is below 2^31 and a product is tested before it grows.
    const int64_t plane = int64_t(buffer.nx) * buffer.ny;
    if (plane > INT32_MAX) return ekBadAttribute;
    const int64_t largest = nc > 1 && order != ekSeparate ? plane * nc : plane * buffer.nz;
    return largest > INT32_MAX ? ekBadAttribute : ekOkay;
}

ekStatus ekCheckRequest(ekImage& image, const ekConfig* cfg, const void* data,
                        const ekTile& request, const ekTile& buffer) {
    const ekStatus s = image.getStatus();
    if (s != ekOkay) return s;
    return ekCheckCallerBuffer(cfg, image.getOrder(), image.getCsize(), data, request, buffer);
}

bool ekWorkingLayout(const ekConfig* cfg, ekType type, ekOrder order, int channels,
                     ekCoordSpace space, ekConfig& w, ekChannelTable& table) {
    w = ekConfig(type, order, channels, nullptr, 0, space, ekColorModel(0));
    if (cfg == nullptr) return true;
    w = *cfg;
    w.type = type;
    w.order = order;
    w.coordSpace = space;
    const int named = cfg->nchans != 0 ? cfg->nchans : channels;
    if (named != channels) {
        const int offset = cfg->chanList != nullptr ? 0 : cfg->chanOffset;
        if (!table.build(cfg->chanList, offset, channels, named)) return false;
        w.chanList = table.get();
        w.chanOffset = 0;
    }
    w.nchans = channels;
    return true;
}
