// SPDX-License-Identifier: Apache-2.0
// ekImage coordinate spaces: every mapping between two spaces of one image is
// an optional exchange of the axes followed by an optional mirroring of x and
// y within the image's extent in the target space.
#include <cstdint>

#include "eks/image.h"
#include "image/size_math.h"

namespace {

// Three flags describe a space. Row 0 (no space given) behaves as ekLowerLeft.
struct SpaceFlags {
    int left;        // origin on the left
    int bottom;      // origin at the bottom
    int transposed;  // x runs vertically
};

const SpaceFlags kFlags[9] = {
    {1, 1, 0},  // 0: none
    {1, 0, 0},  // ekUpperLeft
    {0, 0, 0},  // ekUpperRight
    {0, 1, 0},  // ekLowerRight
    {1, 1, 0},  // ekLowerLeft
    {1, 0, 1},  // ekLeftUpper
    {0, 0, 1},  // ekRightUpper
    {0, 1, 1},  // ekRightLower
    {1, 1, 1},  // ekLeftLower
};

// The space reached by mirroring x, mirroring y, or exchanging the axes. In the
// transposed spaces x is the vertical axis, so "mirror x" swaps top and bottom.
struct DerivedSpaces {
    ekCoordSpace mirrorX, mirrorY, exchange;
};

const DerivedSpaces kDerived[9] = {
    {ekLowerRight, ekUpperLeft, ekLeftLower},   // 0: as ekLowerLeft
    {ekUpperRight, ekLowerLeft, ekLeftUpper},   // ekUpperLeft
    {ekUpperLeft, ekLowerRight, ekRightUpper},  // ekUpperRight
    {ekLowerLeft, ekUpperRight, ekRightLower},  // ekLowerRight
    {ekLowerRight, ekUpperLeft, ekLeftLower},   // ekLowerLeft
    {ekLeftLower, ekRightUpper, ekUpperLeft},   // ekLeftUpper
    {ekRightLower, ekLeftUpper, ekUpperRight},  // ekRightUpper
    {ekRightUpper, ekLeftLower, ekLowerRight},  // ekRightLower
    {ekLeftUpper, ekRightLower, ekLowerLeft},   // ekLeftLower
};

// Table row of a space; values outside 0..8 are not spaces and count as 0.
int row(ekCoordSpace cs) {
    int v = int(cs);
    return v >= 0 && v <= 8 ? v : 0;
}

const SpaceFlags& flagsOf(ekCoordSpace cs) { return kFlags[row(cs)]; }

// Float to int, truncating toward zero; values beyond the 32-bit range clamp.
int truncToInt(float f) {
    if (!(f == f)) return 0;
    if (f >= 2147483648.0f) return INT32_MAX;
    if (f <= -2147483648.0f) return INT32_MIN;
    return static_cast<int>(f);
}

// Mirrors the range [origin, origin + n) within [0, extent): it becomes
// [extent - origin - n, extent - origin). The ends are formed in 64 bits and
// cut to the 32-bit range, so the mirrored box never reaches positions the
// original does not; the upper end is kept whenever it fits, because a
// mirrored block is anchored there (its first element is its last column).
void mirrorRange(int64_t extent, int32_t& origin, int32_t& n) {
    int64_t lo = extent - origin - n, hi = extent - origin;
    if (lo < INT32_MIN) lo = INT32_MIN;
    if (hi > INT32_MAX) hi = INT32_MAX;
    if (lo > INT32_MAX) lo = INT32_MAX;  // wholly beyond the range: empty
    origin = int32_t(lo);
    n = ekClampToInt32(hi - lo);
}

template <class T>
void swapValues(T& a, T& b) {
    T t = a;
    a = b;
    b = t;
}

}  // namespace

ekCoordSpace ekImage::mapSpace(int mirrorX, int mirrorY, int exchange) {
    ekCoordSpace cs = getCoordSpace();
    if (mirrorX != 0) cs = kDerived[row(cs)].mirrorX;
    if (mirrorY != 0) cs = kDerived[row(cs)].mirrorY;
    if (exchange != 0) cs = kDerived[row(cs)].exchange;
    return cs;
}

ekCoordSpace ekImage::mapFlipTrans(ekCoordSpace from, ekFlip& flip, int& trans, ekCoordSpace to) {
    if (to == 0) to = getCoordSpace();
    const SpaceFlags& f = flagsOf(from);
    const SpaceFlags& t = flagsOf(to);
    trans = f.transposed != t.transposed ? 1 : 0;
    // The mirroring is expressed in the target's axes: in a transposed target
    // x runs vertically, so it mirrors when the bottom/top origins differ.
    int xBit, yBit;
    if (t.transposed) {
        xBit = f.bottom != t.bottom;
        yBit = f.left != t.left;
    } else {
        xBit = f.left != t.left;
        yBit = f.bottom != t.bottom;
    }
    flip = ekFlip(xBit * ekFlipX + yBit * ekFlipY);
    return to;
}

void ekImage::getSize(ekSize& s, ekCoordSpace cs) {
    resetCheck();
    s = size;
    if (flagsOf(cs).transposed != flagsOf(coordSpace).transposed) swapValues(s.x, s.y);
}

int ekImage::getPageSize(int& x, int& y, int& z, int& c, ekCoordSpace cs) {
    int bytes = getPageSize(x, y, z, c);
    if (flagsOf(cs).transposed != flagsOf(coordSpace).transposed) swapValues(x, y);
    return bytes;
}

void ekImage::mapTile(ekCoordSpace from, ekTile& t, ekFlip& flip, int& trans, ekCoordSpace to) {
    to = mapFlipTrans(from, flip, trans, to);
    ekSize extent;
    getSize(extent, to);
    if (trans) {
        swapValues(t.x, t.y);
        swapValues(t.nx, t.ny);
    }
    if (flip & ekFlipX) mirrorRange(extent.x, t.x, t.nx);
    if (flip & ekFlipY) mirrorRange(extent.y, t.y, t.ny);
}

void ekImage::mapTile(ekCoordSpace from, ekTile& t, ekCoordSpace to) {
    ekFlip flip;
    int trans;
    mapTile(from, t, flip, trans, to);
}

void ekImage::mapTile(ekCoordSpace from, ekTileFloat& t, ekCoordSpace to) {
    ekFlip flip;
    int trans;
    to = mapFlipTrans(from, flip, trans, to);
    ekSize extent;
    getSize(extent, to);
    if (trans) {
        swapValues(t.x, t.y);
        swapValues(t.nx, t.ny);
    }
    if (flip & ekFlipX) t.x = float(extent.x) - t.x - t.nx;
    if (flip & ekFlipY) t.y = float(extent.y) - t.y - t.ny;
}

// A position is a pixel index: the first pixel maps to the last.
void ekImage::mapXY(ekCoordSpace from, float& x, float& y, ekCoordSpace to) {
    ekFlip flip;
    int trans;
    to = mapFlipTrans(from, flip, trans, to);
    ekSize extent;
    getSize(extent, to);
    if (trans) swapValues(x, y);
    if (flip & ekFlipX) x = float(extent.x) - x - 1.0f;
    if (flip & ekFlipY) y = float(extent.y) - y - 1.0f;
}

void ekImage::mapXY(ekCoordSpace from, int& x, int& y, ekCoordSpace to) {
    float fx = float(x), fy = float(y);
    mapXY(from, fx, fy, to);
    x = truncToInt(fx);
    y = truncToInt(fy);
}

void ekImage::mapXYSign(ekCoordSpace from, float& dx, float& dy, ekCoordSpace to) {
    ekFlip flip;
    int trans;
    mapFlipTrans(from, flip, trans, to);
    if (trans) swapValues(dx, dy);
    if (flip & ekFlipX) dx = -dx;
    if (flip & ekFlipY) dy = -dy;
}

void ekImage::mapSize(ekCoordSpace from, int& w, int& h, ekCoordSpace to) {
    if (to == 0) to = getCoordSpace();
    if (flagsOf(from).transposed != flagsOf(to).transposed) swapValues(w, h);
}

// A transposition counts as one mirroring; two mirrorings make a rotation.
int ekImage::isMirrorSpace(ekCoordSpace a, ekCoordSpace b) {
    if (b == 0) b = getCoordSpace();
    const SpaceFlags& fa = flagsOf(a);
    const SpaceFlags& fb = flagsOf(b);
    return (fa.transposed != fb.transposed) ^ (fa.bottom != fb.bottom) ^ (fa.left != fb.left);
}

// ---------------------------------------------------------------------------
// Chain mappings. The chain is this image, its input 0, that image's input 0,
// and so on; it ends at an image without input, or just before an image that
// already belongs to it, so that inputs connected in a cycle cannot recurse
// without end. Chains are short: the quadratic walks below cost nothing.

namespace {

// Image at position k of the chain (0: the start); null past an input-less end.
ekImage* chainAt(ekImage* start, int k) {
    ekImage* img = start;
    for (int i = 0; i < k && img != nullptr; ++i) img = img->getInput(0);
    return img;
}

// Number of distinct images in the chain from start.
int chainLength(ekImage* start) {
    int n = 0;
    for (ekImage* img = start; img != nullptr; img = img->getInput(0)) {
        ekImage* earlier = start;
        for (int i = 0; i < n; ++i, earlier = earlier->getInput(0))
            if (earlier == img) return n;
        if (n == INT32_MAX) break;
        ++n;
    }
    return n;
}

}  // namespace

void ekImage::mapToSource(ekXYstruct<float>& out, const ekXYstruct<float>& in) {
    const int n = chainLength(this);
    ekXYstruct<float> p = in;
    ekImage* img = this;
    for (int k = 0; k < n && img != nullptr; ++k, img = img->getInput(0)) {
        ekXYstruct<float> q;
        img->evalXY(q, p);  // nearest image first
        p = q;
    }
    out = p;
}

void ekImage::mapFromSource(ekXYstruct<float>& out, const ekXYstruct<float>& in) {
    const int n = chainLength(this);
    ekXYstruct<float> p = in;
    for (int k = n - 1; k >= 0; --k) {
        ekImage* img = chainAt(this, k);
        if (img == nullptr) continue;
        ekXYstruct<float> q;
        img->evalUV(q, p);  // source side first
        p = q;
    }
    out = p;
}
