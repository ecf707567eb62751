// SPDX-License-Identifier: Apache-2.0
// Boxes in 64 bits: mapping between coordinate spaces, intersection, and the
// way back to the 32-bit tiles of the tile interface.
#include "image/wide_box.h"

namespace {

bool fits(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

void swapValues(int64_t& a, int64_t& b) {
    const int64_t t = a;
    a = b;
    b = t;
}

void intersectAxis(int64_t a, int64_t na, int64_t b, int64_t nb, int64_t& o, int64_t& n) {
    const int64_t end = a + na < b + nb ? a + na : b + nb;
    o = a > b ? a : b;
    n = end - o;
}

// One axis of ekPlaceRequest: the request [r, r + nr) lies in the buffer box
// [b, b + nb). When either origin does not fit, the request is moved to end
// at 0, and the buffer box with it.
bool placeAxis(int64_t& r, int64_t nr, int64_t& b) {
    if (fits(r) && fits(b)) return true;
    b += -nr - r;
    r = -nr;
    return false;
}

}  // namespace

bool ekWideBox::narrow(ekTile& t) const {
    if (!fits(x) || !fits(y) || !fits(z) || !fits(nx) || !fits(ny) || !fits(nz)) return false;
    t = ekTile(int32_t(x), int32_t(y), int32_t(z), int32_t(nx), int32_t(ny), int32_t(nz));
    return true;
}

ekWideBox ekIntersect(const ekWideBox& a, const ekWideBox& b) {
    ekWideBox r;
    intersectAxis(a.x, a.nx, b.x, b.nx, r.x, r.nx);
    intersectAxis(a.y, a.ny, b.y, b.ny, r.y, r.ny);
    intersectAxis(a.z, a.nz, b.z, b.nz, r.z, r.nz);
    return r;
}

void ekMapWide(ekImage& image, ekCoordSpace from, ekWideBox& box, ekCoordSpace to, ekFlip& flip,
               int& trans) {
    to = image.mapFlipTrans(from, flip, trans, to);
    ekSize extent;
    image.getSize(extent, to);
    if (trans) {
        swapValues(box.x, box.y);
        swapValues(box.nx, box.ny);
    }
    // Every value stays within a few times 2^32: no overflow.
    if (flip & ekFlipX) box.x = int64_t(extent.x) - box.x - box.nx;
    if (flip & ekFlipY) box.y = int64_t(extent.y) - box.y - box.ny;
}

void ekMapWide(ekImage& image, ekCoordSpace from, ekWideBox& box, ekCoordSpace to) {
    ekFlip flip;
    int trans;
    ekMapWide(image, from, box, to, flip, trans);
}

ekPlacement ekPlaceRequest(const ekWideBox& request, const ekWideBox& buffer, ekTile& r,
                           ekTile& b) {
    ekWideBox q = ekIntersect(request, buffer);
    if (q.empty()) return ekPlacement::kNothing;
    ekWideBox p = buffer;
    const bool x = placeAxis(q.x, q.nx, p.x), y = placeAxis(q.y, q.ny, p.y),
               z = placeAxis(q.z, q.nz, p.z);
    // Extents come from 32-bit boxes, and every origin fits now.
    q.narrow(r);
    p.narrow(b);
    return x && y && z ? ekPlacement::kPlaced : ekPlacement::kOutside;
}
