// SPDX-License-Identifier: Apache-2.0
// Start-up checks of the transfer benchmark: every layout and orientation a
// row times is first run on a small image and compared element by element
// with a naive loop, so that a row can never time the wrong transfer.
#ifndef EKS_BENCH_TRANSFER_BENCH_CHECKS_H
#define EKS_BENCH_TRANSFER_BENCH_CHECKS_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "eks/images.h"
#include "transfer_bench_harness.h"

namespace bench {

// The element type, channel order and channel count of a buffer.
struct Layout {
    ekType type;
    ekOrder order;
    int nc;
};

inline size_t typeBytes(ekType t) { return t == ekUChar ? 1 : t == ekUShort ? 2 : 4; }

// Index of element (x, y, c) in a dense w x h buffer of the layout.
inline size_t indexOf(const Layout& l, int w, int h, int x, int y, int c) {
    if (l.order == ekSeparate) return (size_t(c) * h + y) * w + x;
    return (size_t(y) * w + x) * l.nc + c;
}

inline double getElem(const std::vector<unsigned char>& b, ekType t, size_t i) {
    if (t == ekUChar) return b[i];
    if (t == ekUShort) {
        uint16_t v;
        std::memcpy(&v, &b[2 * i], 2);
        return v;
    }
    float f;
    std::memcpy(&f, &b[4 * i], 4);
    return f;
}

inline void setElem(std::vector<unsigned char>& b, ekType t, size_t i, double v) {
    if (t == ekUChar) b[i] = static_cast<unsigned char>(v);
    if (t == ekUShort) {
        const uint16_t u = static_cast<uint16_t>(v);
        std::memcpy(&b[2 * i], &u, 2);
    }
    if (t == ekFloat) {
        const float f = static_cast<float>(v);
        std::memcpy(&b[4 * i], &f, 4);
    }
}

// The pixel of an ekUpperLeft image of w x h that position (cx, cy) of the
// caller's space names: mirrored in y, in x, or with the axes exchanged.
inline void toImage(ekCoordSpace s, int w, int h, int cx, int cy, int& ix, int& iy) {
    ix = cx, iy = cy;
    if (s == ekLowerLeft) iy = h - 1 - cy;
    if (s == ekUpperRight) ix = w - 1 - cx;
    if (s == ekLeftUpper) ix = cy, iy = cx;
}

constexpr int kCheckW = 40, kCheckH = 24;

// Small integers, exact in every type, so that conversions keep them.
inline double checkValue(int x, int y, int c) { return (x * 7 + y * 13 + c * 5) % 200; }

inline std::vector<unsigned char> checkImageData(const Layout& img) {
    std::vector<unsigned char> data(size_t(kCheckW) * kCheckH * img.nc * typeBytes(img.type));
    for (int y = 0; y < kCheckH; ++y)
        for (int x = 0; x < kCheckW; ++x)
            for (int c = 0; c < img.nc; ++c)
                setElem(data, img.type, indexOf(img, kCheckW, kCheckH, x, y, c),
                        checkValue(x, y, c));
    return data;
}

inline void checkFailed(const char* row, int x, int y, int c) {
    std::fprintf(stderr, "check of row %s failed at (%d, %d) channel %d\n", row, x, y, c);
    std::exit(1);
}

// Reads the box (x, y, nx, ny) of the caller's space `space` with getTile3D
// (plain and saturating) and compares every element with the naive mapping.
inline void checkRead(const char* row, const Layout& img, const Layout& buf, ekCoordSpace space,
                      int x, int y, int nx, int ny) {
    std::vector<unsigned char> data = checkImageData(img);
    ekMemoryImg image(data.data(), ekSize(kCheckW, kCheckH, img.nc), img.type, img.order);
    ok(image.setCoordSpace(ekUpperLeft), "setCoordSpace");
    for (int saturate = 0; saturate < 2; ++saturate) {
        ekConfig cfg(buf.type, buf.order, buf.nc, nullptr, 0, space);
        cfg.reserved = saturate ? ekSaturate : 0;
        std::vector<unsigned char> out(size_t(nx) * ny * buf.nc * typeBytes(buf.type), 0xA5);
        ok(image.getTile3D(x, y, 0, nx, ny, 1, out.data(), &cfg), "getTile3D");
        for (int cy = 0; cy < ny; ++cy)
            for (int cx = 0; cx < nx; ++cx) {
                int ix, iy;
                toImage(space, kCheckW, kCheckH, x + cx, y + cy, ix, iy);
                for (int c = 0; c < buf.nc; ++c)
                    if (getElem(out, buf.type, indexOf(buf, nx, ny, cx, cy, c)) !=
                        checkValue(ix, iy, c))
                        checkFailed(row, cx, cy, c);
            }
    }
}

// Writes the whole image from a buffer of the caller's layout (setTile3D,
// ekUpperLeft) and compares the image's elements with the buffer's.
inline void checkWrite(const char* row, const Layout& img, const Layout& buf) {
    std::vector<unsigned char> data(size_t(kCheckW) * kCheckH * img.nc * typeBytes(img.type), 0);
    std::vector<unsigned char> in = checkImageData(buf);
    ekMemoryImg image(data.data(), ekSize(kCheckW, kCheckH, img.nc), img.type, img.order);
    ok(image.setCoordSpace(ekUpperLeft), "setCoordSpace");
    ekConfig cfg(buf.type, buf.order, buf.nc, nullptr, 0, ekUpperLeft);
    ok(image.setTile3D(0, 0, 0, kCheckW, kCheckH, 1, in.data(), &cfg), "setTile3D");
    for (int y = 0; y < kCheckH; ++y)
        for (int x = 0; x < kCheckW; ++x)
            for (int c = 0; c < img.nc; ++c)
                if (getElem(data, img.type, indexOf(img, kCheckW, kCheckH, x, y, c)) !=
                    checkValue(x, y, c))
                    checkFailed(row, x, y, c);
}

// Fills the whole image with one pixel (fillTile3D) and checks every element.
inline void checkFill(const char* row, const Layout& img) {
    std::vector<unsigned char> data(size_t(kCheckW) * kCheckH * img.nc, 0);
    ekMemoryImg image(data.data(), ekSize(kCheckW, kCheckH, img.nc), img.type, img.order);
    ok(image.setCoordSpace(ekUpperLeft), "setCoordSpace");
    unsigned char value[3] = {10, 20, 30};
    ekConfig cfg(ekUChar, ekInterleaved, 3, nullptr, 0, ekUpperLeft);
    ok(image.fillTile3D(0, 0, 0, kCheckW, kCheckH, 1, value, &cfg, nullptr), "fillTile3D");
    for (size_t i = 0; i < data.size(); ++i)
        if (data[i] != value[i % 3])
            checkFailed(row, int(i / 3 % kCheckW), int(i / 3 / kCheckW), 0);
}

}  // namespace bench

#endif
