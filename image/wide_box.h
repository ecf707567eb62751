// SPDX-License-Identifier: Apache-2.0
// Boxes in 64 bits. A caller's box mapped from its coordinate space into an
// image's (mirrored within the image's extent), or shifted by a view's start,
// can lie beyond the 32-bit positions of the tile interface and the transfer
// engine. Such boxes are mapped, intersected and clipped here in 64 bits, and
// cut back to 32 bits only where they fit, so that clamping never moves a box
// onto positions it does not cover.
#ifndef EKS_IMAGE_WIDE_BOX_H
#define EKS_IMAGE_WIDE_BOX_H

#include <cstdint>

#include "eks/image.h"

struct ekWideBox {
    int64_t x = 0, y = 0, z = 0, nx = 0, ny = 0, nz = 0;

    ekWideBox() = default;
    ekWideBox(int64_t x_, int64_t y_, int64_t z_, int64_t nx_, int64_t ny_, int64_t nz_)
        : x(x_), y(y_), z(z_), nx(nx_), ny(ny_), nz(nz_) {}
    explicit ekWideBox(const ekTile& t) : ekWideBox(t.x, t.y, t.z, t.nx, t.ny, t.nz) {}

    bool empty() const { return nx < 1 || ny < 1 || nz < 1; }
    // Whether the box covers every position of t (t not empty).
    bool contains(const ekWideBox& t) const {
        return x <= t.x && t.x + t.nx <= x + nx && y <= t.y && t.y + t.ny <= y + ny && z <= t.z &&
               t.z + t.nz <= z + nz;
    }
    void shift(int64_t dx, int64_t dy, int64_t dz) {
        x += dx;
        y += dy;
        z += dz;
    }
    // The box as a tile; false (t unchanged) when an origin or an extent does
    // not fit 32 bits. Its end may pass INT32_MAX: the engine forms ends in
    // 64 bits.
    bool narrow(ekTile& t) const;
};

// The part both boxes cover (empty when none).
ekWideBox ekIntersect(const ekWideBox& a, const ekWideBox& b);

// Maps the box from space `from` into `to` (0: the image's own) as
// ekImage::mapTile does, transposing, then mirroring within the image's
// extent in the target space, but without cutting anything to 32 bits.
void ekMapWide(ekImage& image, ekCoordSpace from, ekWideBox& box, ekCoordSpace to, ekFlip& flip,
               int& trans);
void ekMapWide(ekImage& image, ekCoordSpace from, ekWideBox& box, ekCoordSpace to);

// How a request and its buffer box go to an image's 32-bit interface.
enum class ekPlacement {
    kNothing,  // the request covers no position of the buffer box
    kPlaced,   // request (cut to the buffer box) and buffer box as they are
    kOutside,  // moved: the request lies outside every image (see below)
};

// Cuts the request to the buffer box and hands both on as tiles. Where an
// axis does not fit 32 bits the request lies wholly outside any image on that
// axis (an image's extent is below 2^31 and the buffer box's too): that axis
// is moved, request and buffer box by the same distance so that each position
// keeps its buffer element, to just before the origin, where the request
// still lies outside the image. A read there gives what the image gives
// outside itself; a write there lands nowhere.
ekPlacement ekPlaceRequest(const ekWideBox& request, const ekWideBox& buffer, ekTile& r, ekTile& b);

#endif  // EKS_IMAGE_WIDE_BOX_H
