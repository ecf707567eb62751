// SPDX-License-Identifier: Apache-2.0
// ekImage tile entry points: each reduces a 2-D, sub-tile or pixel request to
// one call of a virtual 3-D primitive (slice 0, depth 1) and checks nothing.
#include <cstring>

#include "eks/image.h"
#include "graph/link_registry.h"

ekStatus ekImage::getTile3D(int x, int y, int z, int nx, int ny, int nz, void* data,
                            const ekConfig* cfg) {
    return getSubTile3D(x, y, z, nx, ny, nz, data, x, y, z, nx, ny, nz, cfg);
}

ekStatus ekImage::setTile3D(int x, int y, int z, int nx, int ny, int nz, void* data,
                            const ekConfig* cfg) {
    return setSubTile3D(x, y, z, nx, ny, nz, data, x, y, z, nx, ny, nz, cfg);
}

ekStatus ekImage::getTile(int x, int y, int nx, int ny, void* data, const ekConfig* cfg) {
    return getSubTile3D(x, y, 0, nx, ny, 1, data, x, y, 0, nx, ny, 1, cfg);
}

ekStatus ekImage::setTile(int x, int y, int nx, int ny, void* data, const ekConfig* cfg) {
    return setSubTile3D(x, y, 0, nx, ny, 1, data, x, y, 0, nx, ny, 1, cfg);
}

ekStatus ekImage::getSubTile(int x, int y, int nx, int ny, void* data, int bx, int by, int bnx,
                             int bny, const ekConfig* cfg) {
    return getSubTile3D(x, y, 0, nx, ny, 1, data, bx, by, 0, bnx, bny, 1, cfg);
}

ekStatus ekImage::setSubTile(int x, int y, int nx, int ny, void* data, int bx, int by, int bnx,
                             int bny, const ekConfig* cfg) {
    return setSubTile3D(x, y, 0, nx, ny, 1, data, bx, by, 0, bnx, bny, 1, cfg);
}

ekStatus ekImage::fillTile(int x, int y, int nx, int ny, void* value, const ekConfig* cfg,
                           const ekTile* keepOut) {
    return fillTile3D(x, y, 0, nx, ny, 1, value, cfg, keepOut);
}

ekStatus ekImage::seekTile(int x, int y, int nx, int ny, const ekConfig* cfg, ekSemaphore* sem) {
    return seekTile3D(x, y, 0, nx, ny, 1, cfg, sem, nullptr);
}

ekLockedTile* ekImage::lockTile(int x, int y, int nx, int ny, const ekConfig* cfg, int mode) {
    return lockTile3D(x, y, 0, nx, ny, 1, cfg, mode);
}

ekStatus ekImage::copyTile(int x, int y, int nx, int ny, ekImage* other, int ox, int oy,
                           int* chanList, int direction) {
    return copyTile3D(x, y, 0, nx, ny, 1, other, ox, oy, 0, chanList, direction);
}

ekStatus ekImage::getPixel(int x, int y, ekPixel& p) { return getPixel3D(x, y, 0, p); }

ekStatus ekImage::setPixel(int x, int y, ekPixel& p) { return setPixel3D(x, y, 0, p); }

ekStatus ekImage::fillTile3D(int, int, int, int, int, int, void*, const ekConfig*, const ekTile*) {
    return ekNotImplemented;
}

ekStatus ekImage::seekTile3D(int, int, int, int, int, int, const ekConfig*, ekSemaphore*,
                             ekImage*) {
    return ekNotAllowed;
}

// ---------------------------------------------------------------------------
// Single pixels: the pixel's own type and element count describe the buffer,
// interleaved, in the image's coordinate space.

namespace {

// Layout of one pixel as a caller buffer.
ekConfig pixelConfig(const ekPixel& p) {
    return ekConfig(p.type(), ekInterleaved, p.nc(), nullptr, 0, ekCoordSpace(0), ekColorModel(0));
}

}  // namespace

ekStatus ekImage::getPixel3D(int x, int y, int z, ekPixel& p) {
    if (p.type() == ekAnyType || p.nc() == 0) {
        int channels = getCsize();
        p.set(getDataType(), channels, nullptr);
        if (channels > 0 && p.nc() == 0 && p.type() != ekAnyType) return ekNoMemory;
    }
    ekConfig cfg = pixelConfig(p);
    return getSubTile3D(x, y, z, 1, 1, 1, p.elems(), x, y, z, 1, 1, 1, &cfg);
}

// A freshly sized pixel is zeroed, so what is written does not depend on
// whatever its storage held.
ekStatus ekImage::setPixel3D(int x, int y, int z, ekPixel& p) {
    if (p.type() == ekAnyType || p.nc() == 0) {
        int channels = getCsize();
        p.set(getDataType(), channels, nullptr);
        if (channels > 0 && p.nc() == 0 && p.type() != ekAnyType) return ekNoMemory;
        if (p.elems() != nullptr) std::memset(p.elems(), 0, size_t(ekDataSize(p.type(), p.nc())));
    }
    ekConfig cfg = pixelConfig(p);
    return setSubTile3D(x, y, z, 1, 1, 1, p.elems(), x, y, z, 1, 1, 1, &cfg);
}

// ---------------------------------------------------------------------------
// Copies between two images.

ekStatus ekImage::copyTile3D(int x, int y, int z, int nx, int ny, int nz, ekImage* other, int ox,
                             int oy, int oz, int* chanList, int direction) {
    resetCheck();
    // The list names, for each channel of this image, the channel of other.
    ekConfig cfg(dataType, order, size.c, chanList, 0, coordSpace, ekColorModel(0));
    return copyTileCfg(x, y, z, nx, ny, nz, other, ox, oy, oz, chanList ? &cfg : nullptr,
                       direction);
}

void ekImage::operator<<(ekImage& src) {
    // Bringing this image up to date may destroy src (a related child with
    // related delete set): it is then not called at all.
    const uint64_t serial = ekLiveLinkSerial(static_cast<ekLink*>(&src));
    resetCheck();
    if (ekLiveLinkSerial(static_cast<ekLink*>(&src)) != serial) {
        setStatus(ekBadInput);
        return;
    }
    setStatus(copyTile3D(0, 0, 0, getXsize(), getYsize(), getZsize(), &src, 0, 0, 0, nullptr, 1));
}
