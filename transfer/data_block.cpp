// SPDX-License-Identifier: Apache-2.0
// ekDataBlock: construction, strides, and copyFrom (region, widening of a
// constant source, keep-out classification).
#include "transfer/data_block.h"

#include <cstdlib>

#include "transfer/block_mover.h"
#include "transfer/keep_out.h"

namespace {

// The empty box (no clip, no keep-out, a constant block's box). A function
// rather than a global: loading the library runs no constructors.
inline ekTile noBox() { return ekTile(0, 0, 0, 0, 0, 0); }

// Intersection per axis: the larger origin, and the smaller end minus it.
// Ends are computed in 64 bits; the result is clamped to the 32-bit range and
// may be empty (an extent of 0 or below).
int32_t clamp32(int64_t v) {
    return int32_t(v < INT32_MIN ? INT32_MIN : (v > INT32_MAX ? INT32_MAX : v));
}
void intersectAxis(int32_t a, int32_t na, int32_t b, int32_t nb, int32_t& o, int32_t& n) {
    const int64_t lo = a > b ? a : b;
    const int64_t ea = int64_t(a) + na, eb = int64_t(b) + nb;
    o = int32_t(lo);
    n = clamp32((ea < eb ? ea : eb) - lo);
}
ekTile intersect(const ekTile& a, const ekTile& b) {
    ekTile r;
    intersectAxis(a.x, a.nx, b.x, b.nx, r.x, r.nx);
    intersectAxis(a.y, a.ny, b.y, b.ny, r.y, r.ny);
    intersectAxis(a.z, a.nz, b.z, b.nz, r.z, r.nz);
    return r;
}
bool containsAxis(int32_t a, int32_t na, int32_t t, int32_t nt) {
    return a <= t && int64_t(t) + nt <= int64_t(a) + na;
}
bool contains(const ekTile& a, const ekTile& t) {
    return containsAxis(a.x, a.nx, t.x, t.nx) && containsAxis(a.y, a.ny, t.y, t.ny) &&
           containsAxis(a.z, a.nz, t.z, t.nz);
}
int32_t endOf(int32_t o, int32_t n) { return clamp32(int64_t(o) + n); }

// a*b when |a*b| fits 32 bits; sets overflow otherwise. Both operands are
// already within 32 bits, so the 64-bit product itself cannot overflow.
int64_t mul32(int64_t a, int64_t b, bool& overflow) {
    const int64_t p = a * b;
    if (p > INT32_MAX || p < -int64_t(INT32_MAX)) {
        overflow = true;
        return 0;
    }
    return p;
}

void moveBoxes(const ekDataBlock& dst, const ekDataBlock& src, const ekTile* boxes, int n) {
    ekBlockMover mover(dst, src);
    for (int i = 0; i < n; ++i) mover.moveBox(boxes[i]);
}

}  // namespace

int ekKeepOutBoxes(const ekTile& r, const ekTile& keepOut, ekTile out[6]) {
    if (keepOut.empty()) {
        out[0] = r;
        return 1;
    }
    if (contains(keepOut, r)) return 0;
    const ekTile i = intersect(keepOut, r);
    if (i.empty()) {
        out[0] = r;
        return 1;
    }
    const int32_t rxe = endOf(r.x, r.nx), rye = endOf(r.y, r.ny), rze = endOf(r.z, r.nz);
    const int32_t ixe = endOf(i.x, i.nx), iye = endOf(i.y, i.ny), ize = endOf(i.z, i.nz);
    const ekTile slabs[6] = {
        ekTile(r.x, r.y, r.z, r.nx, r.ny, i.z - r.z), ekTile(r.x, r.y, i.z, r.nx, i.y - r.y, i.nz),
        ekTile(r.x, i.y, i.z, i.x - r.x, i.ny, i.nz), ekTile(ixe, i.y, i.z, rxe - ixe, i.ny, i.nz),
        ekTile(r.x, iye, i.z, r.nx, rye - iye, i.nz), ekTile(r.x, r.y, ize, r.nx, r.ny, rze - ize),
    };
    int n = 0;
    for (const ekTile& s : slabs)
        if (!s.empty()) out[n++] = s;
    return n;
}

ekDataBlock::ekDataBlock(void* data_, ekType type_, ekOrder order_, int nc_, const int* chanList_,
                         int nx, int ny, int nz, int x, int y, int z, int firstChan_)
    : data(data_),
      box(x, y, z, nx, ny, nz),
      xStride(0),
      yStride(0),
      zStride(0),
      firstChan(firstChan_),
      chanStride(0),
      nc(nc_),
      clip(noBox()),
      type(type_),
      order(nc_ > 1 ? order_ : ekSeparate),
      chanList(chanList_),
      clipValid(false),
      flipX(false),
      flipY(false),
      transposed(false),
      keepOut(noBox()),
      isPixel(false),
      unusable(false),
      saturate(false) {
    computeStrides();
}

ekDataBlock::ekDataBlock(const ekPixel& pixel, const ekTile* keepOut_, const int* chanList_,
                         int firstChan_)
    : data(pixel.elems()),
      box(noBox()),
      xStride(0),
      yStride(0),
      zStride(0),
      firstChan(firstChan_),
      chanStride(1),
      nc(pixel.nc()),
      clip(noBox()),
      type(pixel.type()),
      order(ekSeparate),
      chanList(chanList_),
      clipValid(false),
      flipX(false),
      flipY(false),
      transposed(false),
      keepOut(keepOut_ ? *keepOut_ : noBox()),
      isPixel(true),
      unusable(false),
      saturate(false) {}

void ekDataBlock::computeStrides() {
    if (isPixel) {
        xStride = yStride = zStride = 0;
        chanStride = 1;
        return;
    }
    const int64_t nx = box.nx, ny = box.ny, nz = box.nz, c = nc;
    const bool t = transposed;
    bool overflow = false;
    int64_t xs = 0, ys = 0, zs = 0, cs = 0;
    switch (order) {
        case ekInterleaved:
            xs = t ? mul32(c, ny, overflow) : c;
            ys = t ? c : mul32(c, nx, overflow);
            zs = mul32(mul32(c, nx, overflow), ny, overflow);
            cs = 1;
            break;
        case ekSequential:
            xs = t ? mul32(ny, c, overflow) : 1;
            ys = t ? 1 : mul32(nx, c, overflow);
            zs = mul32(mul32(nx, ny, overflow), c, overflow);
            cs = t ? ny : nx;
            break;
        case ekSeparate:
            xs = t ? ny : 1;
            ys = t ? 1 : nx;
            zs = mul32(nx, ny, overflow);
            cs = mul32(zs, nz, overflow);
            break;
        default:  // not one of the three orders: the layout is unknown
            overflow = true;
            break;
    }
    unusable = overflow;
    xStride = int32_t(flipX ? -xs : xs);
    yStride = int32_t(flipY ? -ys : ys);
    zStride = int32_t(zs);
    chanStride = int32_t(cs);
}

void ekDataBlock::setClip(int x, int y, int z, int nx, int ny, int nz) {
    clip = ekTile(x, y, z, nx, ny, nz);
    clipValid = nx >= 1 && ny >= 1 && nz >= 1;
}

void ekDataBlock::setFlip(int flip) {
    const bool fx = (flip & 1) != 0, fy = (flip & 2) != 0;
    if (fx == flipX && fy == flipY) return;  // strides unchanged (the usual case)
    flipX = fx;
    flipY = fy;
    computeStrides();
}

void ekDataBlock::setTranspose(int t) {
    if ((t != 0) == transposed) return;
    transposed = t != 0;
    computeStrides();
}

void ekDataBlock::copyFrom(const ekDataBlock& srcIn) {
    // A block without memory (a constant block of an empty pixel aside)
    // takes part in nothing.
    if (unusable || srcIn.unusable || !data || (!srcIn.data && !srcIn.isPixel)) return;
    const ekTile region = clipValid ? intersect(clip, box) : box;
    ekTile r;
    if (srcIn.isPixel)
        r = srcIn.clipValid ? intersect(region, srcIn.clip) : region;
    else
        r = intersect(region, srcIn.clipValid ? intersect(srcIn.clip, srcIn.box) : srcIn.box);
    if (r.empty()) return;
    // Small tile reads, the commonest call, skip the mover's setup.
    if (ekCopyTileDirect(*this, srcIn, r)) return;

    ekTile boxes[6];
    const int nboxes = ekKeepOutBoxes(r, srcIn.keepOut, boxes);
    if (nboxes == 0) return;  // e.g. the outside fill of a read that lies inside the image

    // A constant source with fewer channels than this block is widened to this
    // block's type and channel count (its last element repeats). Only a source
    // without a channel list and with firstChan 0 is widened: any other would
    // read past its list or reach channels it did not select. The copy lives
    // until the end of the call; the caller's descriptor is not changed. A
    // saturating transfer widens in the source's own type (exactly) and
    // leaves the conversion to its loops.
    if (srcIn.isPixel && srcIn.nc < nc && !srcIn.chanList && srcIn.firstChan == 0) {
        ekDataBlock src = srcIn;
        ekPixel widened;
        widened.convert(ekPixel(src.type, src.nc, src.data),
                        saturate || src.saturate ? src.type : type, nc);
        src.data = widened.elems();
        src.nc = widened.nc();
        src.type = widened.type();
        moveBoxes(*this, src, boxes, nboxes);
        return;
    }
    moveBoxes(*this, srcIn, boxes, nboxes);
}
