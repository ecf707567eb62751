// SPDX-License-Identifier: Apache-2.0
// ekTileIter: the pages that cover a tile, in a fixed order.
//
// The settings (tile, page size, border, channel selection) are kept as given;
// every preparation derives the page grid from them afresh, so a setter called
// after a preparation never shrinks the range twice. All arithmetic on
// positions is done in 64 bits; a grid whose positions or count do not fit 32
// bits has no pages.
#include <algorithm>
#include <cstdint>

#include "core/type_facts.h"
#include "eks/paging.h"

namespace {

// The page grid along one spatial axis.
struct AxisPlan {
    int32_t first;  // origin of the first page
    int32_t end;    // exclusive end of the page origins
    int32_t step;   // distance between neighbouring origins
    int64_t pages;  // number of page origins
};

bool fitsInt32(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

// Lays the pages of size `page` with `border` on both sides over the tile
// [origin, tileEnd): interiors on multiples of the step from 0 (from the tile
// origin when unaligned). False when the axis has no valid grid.
bool planAxis(int64_t origin, int64_t tileEnd, int64_t page, int64_t border, bool unaligned,
              bool borderPages, AxisPlan& plan) {
    const int64_t step = page - 2 * border;
    if (border < 0 || step < 1) return false;
    int64_t offset = 0;
    if (!unaligned) {
        offset = origin % step;  // the sign of origin
        if (offset < 0) offset += step;
    }
    const int64_t first = origin - offset - border;
    const int64_t end = borderPages ? tileEnd : tileEnd - border;
    // more() stands one step before the first origin until it is called.
    if (!fitsInt32(first - step) || !fitsInt32(end)) return false;
    plan.first = static_cast<int32_t>(first);
    plan.end = static_cast<int32_t>(end);
    plan.step = static_cast<int32_t>(step);
    plan.pages = end > first ? (end - first - 1) / step + 1 : 0;
    return plan.pages > 0;
}

}  // namespace

ekTileIter::ekTileIter(const ekTile& tile, int pageX, int pageY, int pageZ, int pageC_, int nc,
                       const ekConfig* cfg, int unaligned_)
    : ekTileIter(tile, nc, cfg, unaligned_) {
    setPageSize(pageX, pageY, pageZ, pageC_);
}

ekTileIter::ekTileIter(const ekTile& tile, int nc, const ekConfig* cfg, int unaligned_)
    : ekTile(0, 0, 0, 0, 0, 0) {
    // Borders start at 0 with border pages 1 (the fields' initial values).
    setTile(tile, nc, cfg, unaligned_);
}

void ekTileIter::setPageSize(int pageX, int pageY, int pageZ, int pageC_) {
    nx = pageX;
    ny = pageY;
    nz = pageZ;
    pageC = pageC_;
    pending = 1;
}

void ekTileIter::setPageBorder(int bx, int by, int bz, int borderPages_) {
    borderX = bx;
    borderY = by;
    borderZ = bz;
    borderPages = borderPages_;
    pending = 1;
}

void ekTileIter::setTile(const ekTile& tile, int nc, const ekConfig* cfg, int unaligned_) {
    tileX = tile.x;
    tileY = tile.y;
    tileZ = tile.z;
    tileEndX = ekClampToInt32(int64_t(tile.x) + tile.nx);
    tileEndY = ekClampToInt32(int64_t(tile.y) + tile.ny);
    tileEndZ = ekClampToInt32(int64_t(tile.z) + tile.nz);
    chanList = nullptr;
    listCount = 0;
    if (cfg != nullptr && cfg->chanList != nullptr) {
        // The range is worked out from the list at preparation: it starts
        // out inverted so that the first entry sets both ends.
        chanList = cfg->chanList;
        listCount = cfg->nchans;
        tileStartC = nc;
        tileEndC = 0;
    } else if (cfg != nullptr) {
        tileStartC = cfg->chanOffset;
        tileEndC = ekClampToInt32(int64_t(cfg->chanOffset) + cfg->nchans);
    } else {
        tileStartC = 0;
        tileEndC = nc;
    }
    unaligned = unaligned_;
    pending = 1;
}

int ekTileIter::reset() {
    if (tileX >= tileEndX || tileY >= tileEndY || tileZ >= tileEndZ) return 0;
    if (pageC < 1) return 0;

    // Channel range: with a list, the page-aligned blocks from the lowest to
    // the highest listed channel; negative entries select nothing.
    int64_t sc = tileStartC;
    int64_t ec = tileEndC;
    for (int32_t i = 0; chanList != nullptr && i < listCount; ++i) {
        const int e = chanList[i];
        if (e < 0) continue;
        const int64_t a = e - e % pageC;
        sc = std::min(sc, a);
        ec = std::max(ec, a + pageC);
    }
    if (ec <= sc) return 0;
    // Aligned down; the remainder takes the sign of sc, so a negative start
    // moves up, possibly to the end of the range: then moreChans below finds
    // no block and there is no page.
    if (unaligned == 0) sc -= sc % pageC;
    if (!fitsInt32(sc - pageC) || !fitsInt32(ec)) return 0;
    const int64_t blocks = (ec - sc - 1) / pageC + 1;

    AxisPlan px, py, pz;
    const bool unal = unaligned != 0;
    const bool bp = borderPages != 0;
    if (!planAxis(tileX, tileEndX, nx, borderX, unal, bp, px) ||
        !planAxis(tileY, tileEndY, ny, borderY, unal, bp, py) ||
        !planAxis(tileZ, tileEndZ, nz, borderZ, unal, bp, pz))
        return 0;
    // Each factor is below 2^32, so the product is checked step by step.
    int64_t n = px.pages;
    for (int64_t f : {py.pages, pz.pages, blocks}) {
        if (n > INT32_MAX / f) return 0;
        n *= f;
    }

    firstX = px.first, endX = px.end, stepX = px.step;
    firstY = py.first, endY = py.end, stepY = py.step;
    firstZ = pz.first, endZ = pz.end, stepZ = pz.step;
    startC = static_cast<int32_t>(sc);
    endC = static_cast<int32_t>(ec);
    count = static_cast<int32_t>(n);
    // Before the first page: more() steps onto it.
    x = firstX - stepX;
    y = firstY;
    z = firstZ;
    c = startC - pageC;
    finished = 0;
    return moreChans();
}

int ekTileIter::moreChans() {
    while (int64_t(c) + pageC < endC) {
        c += pageC;
        if (chanList == nullptr) return 1;
        for (int32_t i = 0; i < listCount; ++i)
            if (c <= chanList[i] && int64_t(chanList[i]) < int64_t(c) + pageC) return 1;
    }
    return 0;
}

int ekTileIter::more() {
    if (pending != 0) {
        if (reset() == 0) return 0;
        pending = 0;
    }
    if (finished != 0) return 0;
    if (int64_t(x) + stepX < endX) {
        x += stepX;
        return 1;
    }
    x = firstX;
    if (int64_t(y) + stepY < endY) {
        y += stepY;
        return 1;
    }
    y = firstY;
    if (int64_t(z) + stepZ < endZ) {
        z += stepZ;
        return 1;
    }
    z = firstZ;
    if (moreChans() != 0) return 1;
    finished = 1;
    return 0;
}

int ekTileIter::getCount() {
    if (pending != 0) {
        if (reset() == 0) return 0;
        pending = 0;
    }
    return count;
}
