// SPDX-License-Identifier: Apache-2.0
// The randomized image models' layouts: boxes pushed to the 32-bit limits and
// an independent model of the coordinate spaces.
#ifndef EKS_TESTS_IMAGES_LAYOUT_MODEL_H
#define EKS_TESTS_IMAGES_LAYOUT_MODEL_H

#include "test_images.h"

inline int clampInt(int64_t v) {
    return int(std::max<int64_t>(INT_MIN, std::min<int64_t>(INT_MAX, v)));
}

// Moves a request (origin o, extent n) and its buffer box (origin bo) on one
// axis to the 32-bit limits: both the same distance (the request keeps its
// buffer positions, the image lies far from both), the request alone to
// reach a limit or to lie near one, or the buffer box alone (in the last two
// the request covers none of the buffer box).
inline void pushToLimits(Rng& rng, int& o, int& n, int& bo) {
    switch (rng.in(0, 3)) {
        case 0: {
            const int64_t delta = int64_t(rng.nearLimit(6)) - o;
            if (clampInt(bo + delta) != bo + delta) return;
            o = int(o + delta);
            bo = int(bo + delta);
            break;
        }
        case 1:
            if (rng.chance(50)) o = INT_MIN;
            n = INT_MAX;
            break;
        case 2:
            o = rng.nearLimit(6);
            break;
        default:
            bo = rng.nearLimit(6);
            break;
    }
}

// pushToLimits on one axis, chosen at random, of a request and its buffer box.
inline void pushToLimits(Rng& rng, ekTile& r, ekTile& b) {
    switch (rng.in(0, 2)) {
        case 0:
            return pushToLimits(rng, r.x, r.nx, b.x);
        case 1:
            return pushToLimits(rng, r.y, r.ny, b.y);
        default:
            return pushToLimits(rng, r.z, r.nz, b.z);
    }
}

// The coordinate spaces, told apart by three flags: origin left, origin at
// the bottom, x running vertically (space 0 is the default, ekLowerLeft).
struct SpaceFlags {
    int left, bottom, trans;
};
inline SpaceFlags flagsOf(int cs) {
    static const SpaceFlags f[9] = {{1, 1, 0}, {1, 0, 0}, {0, 0, 0}, {0, 1, 0}, {1, 1, 0},
                                    {1, 0, 1}, {0, 0, 1}, {0, 1, 1}, {1, 1, 1}};
    return f[cs];
}
// Position (u, v) of space `from`, in space `to`, for an image whose own
// space `own` has the extents (w, h): both through the display's (column,
// row from the top). With 64-bit positions, boxes near the 32-bit limits map
// without overflow.
template <class T>
void mapPoint(int from, int to, int own, int w, int h, T& u, T& v) {
    const T dw = flagsOf(own).trans ? h : w, dh = flagsOf(own).trans ? w : h;
    const SpaceFlags f = flagsOf(from), t = flagsOf(to);
    const T hor = f.trans ? v : u, ver = f.trans ? u : v;
    const T col = f.left ? hor : dw - 1 - hor, row = f.bottom ? dh - 1 - ver : ver;
    const T h2 = t.left ? col : dw - 1 - col, v2 = t.bottom ? dh - 1 - row : row;
    u = t.trans ? v2 : h2;
    v = t.trans ? h2 : v2;
}

#endif  // EKS_TESTS_IMAGES_LAYOUT_MODEL_H
