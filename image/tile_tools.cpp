// SPDX-License-Identifier: Apache-2.0
// ekImage tools for the tile primitives of the concrete classes: clipping,
// strides, bound and page tests, and the base copy between two images.
#include <cstdint>

#include "eks/image.h"
#include "image/caller_layout.h"
#include "image/channel_table.h"
#include "image/size_math.h"

namespace {

// One axis of clipTile: the box [origin, origin + extent) cut to [-b, limit + b).
void clipAxis(int& origin, int& extent, int64_t limit, int64_t b) {
    int64_t o = origin;
    int64_t end = o + extent;
    int64_t newOrigin = o > -b ? o : -b;
    int64_t newEnd = end < limit + b ? end : limit + b;
    origin = ekClampToInt32(newOrigin);
    extent = ekClampToInt32(newEnd - newOrigin);
}

}  // namespace

ekStatus ekImage::clipTile(int& x, int& y, int& z, int& nx, int& ny, int& nz, int withBorder) {
    const int64_t bx = withBorder ? pageBorder.x : 0;
    const int64_t by = withBorder ? pageBorder.y : 0;
    const int64_t bz = withBorder ? pageBorder.z : 0;
    const int64_t w = getXsize(), h = getYsize(), d = getZsize();
    int cx = x, cy = y, cz = z, cnx = nx, cny = ny, cnz = nz;
    clipAxis(cx, cnx, w, bx);
    clipAxis(cy, cny, h, by);
    clipAxis(cz, cnz, d, bz);
    if (cx == x && cy == y && cz == z && cnx == nx && cny == ny && cnz == nz) return ekOkay;
    x = cx;
    y = cy;
    z = cz;
    nx = cnx;
    ny = cny;
    nz = cnz;
    return ekOutOfBounds;
}

// planeChans counts the channels that share one plane: all of them, except in
// ekSeparate order, where each channel is a plane of its own (the distance
// between planes is not computed here).
void ekImage::getStrides(int nx, int& xStride, int& yStride, int& chanStride, int& planeChans,
                         ekOrder o) {
    if (o == ekAnyOrder) o = getOrder();
    switch (o) {
        case ekInterleaved:
            chanStride = 1;
            planeChans = getCsize();
            xStride = planeChans;
            yStride = ekClampToInt32(int64_t(xStride) * nx);
            break;
        case ekSequential:
            xStride = 1;
            chanStride = nx;
            planeChans = getCsize();
            yStride = ekClampToInt32(int64_t(chanStride) * planeChans);
            break;
        case ekSeparate:
            planeChans = 1;
            xStride = 1;
            yStride = nx;
            chanStride = 1;
            break;
        default:
            break;
    }
}

void ekImage::getStrides3D(int nx, int ny, int& xStride, int& yStride, int& zStride,
                           int& chanStride, int& planeChans, ekOrder o) {
    getStrides(nx, xStride, yStride, chanStride, planeChans, o);
    zStride = ekClampToInt32(int64_t(yStride) * ny);
}

int ekImage::outOfBound(int x, int y) {
    return x < 0 || x >= size.x || y < 0 || y >= size.y ? 1 : 0;
}

int ekImage::outOfBound(int x, int y, int z) {
    return outOfBound(x, y) || z < 0 || z >= size.z ? 1 : 0;
}

int ekImage::isValidPage(int x, int y, int z, int c) {
    return -int64_t(pageBorder.x) <= x && x < size.x && -int64_t(pageBorder.y) <= y && y < size.y &&
                   -int64_t(pageBorder.z) <= z && z < size.z && 0 <= c && c < size.c
               ? 1
               : 0;
}

int ekImage::isPartialPage(int x, int y, int z, int c) {
    return int64_t(x) + pageSize.x > size.x || int64_t(y) + pageSize.y > size.y ||
                   int64_t(z) + pageSize.z > size.z || int64_t(c) + pageSize.c > size.c
               ? 1
               : 0;
}

int ekImage::needColorConv(ekImage* other, int, const ekConfig* cfg) {
    if (other == nullptr) return 0;
    if (cfg != nullptr) {
        // A configuration that selects channels explicitly never converts.
        ekColorModel model = cfg->colorModel != 0 ? cfg->colorModel : other->getColorModel();
        return colorModel != model && cfg->chanOffset == 0 && cfg->chanList == nullptr ? 1 : 0;
    }
    return colorModel != other->getColorModel() ? 1 : 0;
}

// No image of this library converts colour models (getColorImg answers the
// image itself), so a copy between different models cannot be completed; it
// reports so instead of bouncing between the two images' copyTileCfg.
ekStatus ekImage::copyConverted(int, int, int, int, int, int, ekImage*, int, int, int,
                                const ekConfig*, int) {
    return ekNotImplemented;
}

namespace {

// Whether every channel of the temporary buffer (this image's `channels`)
// selects one of other's `otherChannels` when cfg is read as the working
// layout reads it: list entry k (the list indexed by the buffer channel
// alone) or the offset plus k, for the channels cfg names; channels it does
// not name select nothing. The cost follows the channels cfg names: a list
// is read only when it names every channel of the buffer, an offset or no
// configuration takes no loop at all.
bool selectsEveryChannel(const ekConfig* cfg, int channels, int otherChannels) {
    if (channels < 1) return true;
    if (cfg == nullptr) return channels <= otherChannels;
    const int named = cfg->nchans != 0 ? cfg->nchans : channels;
    if (named < channels) return false;
    if (cfg->chanList == nullptr)
        return cfg->chanOffset >= 0 && int64_t(cfg->chanOffset) + channels <= otherChannels;
    for (int k = 0; k < channels; ++k)
        if (cfg->chanList[k] < 0 || cfg->chanList[k] >= otherChannels) return false;
    return true;
}

}  // namespace

// The base copy goes through a temporary buffer in this image's layout (its
// type, order and channel count): one image reads the box into it, the other
// writes it out, with the working layout on other's side. When other is read
// and the layout leaves some channel of the buffer unselected, the buffer
// first receives this image's own box, so that such channels are written
// back as they were, never as uninitialised memory. All coordinates
// are in this image's space; other maps the box into its own.
ekStatus ekImage::copyTileCfg(int x, int y, int z, int nx, int ny, int nz, ekImage* other, int ox,
                              int oy, int oz, const ekConfig* cfg, int direction) {
    resetCheck();
    if (other == nullptr) return ekBadInput;
    if (!ekConfigUsable(cfg)) return ekBadAttribute;
    if (needColorConv(other, direction, cfg))
        return copyConverted(x, y, z, nx, ny, nz, other, ox, oy, oz, cfg, direction);

    // Byte size in 64 bits: a box that does not fit 32 bits cannot be held.
    const int channels = size.c;
    const bool empty = nx < 1 || ny < 1 || nz < 1 || channels < 1;
    int64_t elements = empty ? 0 : ekProduct64(ekProduct64(ekProduct64(nx, ny), nz), channels);
    int64_t bytes = ekDataSize64(dataType, elements);
    if (elements > INT32_MAX || bytes > INT32_MAX) return ekNoMemory;

    // The working layout's table has an entry per channel of this image: it
    // is built only when elements move, so that its cost follows them. An
    // empty box still asks both images (their statuses are the copy's) with
    // a layout that names no channel.
    ekConfig layout(dataType, order, 0, nullptr, 0, coordSpace, ekColorModel(0));
    ekChannelTable table;
    if (!empty && !ekWorkingLayout(cfg, dataType, order, channels, coordSpace, layout, table))
        return ekNoMemory;

    ekBuffer buffer(dataType, empty ? 0 : channels, nx, ny, nz);
    unsigned char spare[16] = {};  // stands in for a buffer when nothing is moved
    void* data = spare;
    if (bytes > 0) {
        if (buffer.data() == nullptr || buffer.getAllocated() < bytes) return ekNoMemory;
        data = buffer.data();
    }

    ekStatus s = ekOkay;
    if (direction != 0) {
        if (!selectsEveryChannel(cfg, channels, other->getCsize()))
            s = getTile3D(x, y, z, nx, ny, nz, data, nullptr);
        if (s == ekOkay) s = other->getTile3D(ox, oy, oz, nx, ny, nz, data, &layout);
        if (s == ekOkay) s = setTile3D(x, y, z, nx, ny, nz, data, nullptr);
    } else {
        s = getTile3D(x, y, z, nx, ny, nz, data, nullptr);
        if (s == ekOkay) s = other->setTile3D(ox, oy, oz, nx, ny, nz, data, &layout);
    }
    return s;
}
