// SPDX-License-Identifier: Apache-2.0
// ekSubImg: a caller's request composed for the parent: the buffer's channels
// carried through the view's channel map, and the boxes carried from the
// caller's space through the view's window into the parent.
#include <cstdint>

#include "eks/images.h"
#include "image/wide_box.h"
#include "images/sub_image_request.h"

namespace {

bool given(ekType t) { return t != 0 && t != ekAnyType; }
bool given(ekOrder o) { return o != 0 && o != ekAnyOrder; }

// View channel that buffer channel k selects: entry k of the caller's list
// (indexed by the buffer channel alone), else offset + k; -1 outside the view.
int viewChannel(const ekConfig* cfg, int k, int viewChannels) {
    int64_t v = k;
    if (cfg != nullptr)
        v = cfg->chanList != nullptr ? cfg->chanList[k] : int64_t(cfg->chanOffset) + k;
    return v >= 0 && v < viewChannels ? int(v) : -1;
}

}  // namespace

// Fills q for the parent. A null cfg is the view's own layout. With clip, the
// request is clipped to the view in the view's own space (after mapping, so
// that a space that exchanges the axes clips against the right extents).
// ekNoMemory when a channel list cannot be had; q.nc = 0 when nothing moves.
ekStatus ekSubImg::translate(const ekConfig* cfg, ekTile r, ekTile b, bool clip, Request& q) {
    const int n = cfg != nullptr && cfg->nchans != 0 ? cfg->nchans : size.c;
    if (r.empty() || n < 1) return ekOkay;
    q.nc = n;
    q.type = cfg != nullptr && given(cfg->type) ? cfg->type : dataType;
    q.order = cfg != nullptr && given(cfg->order) ? cfg->order : order;

    // Buffer channels -> view channels -> parent channels. A run of view
    // channels inside the view that shows a run of parent channels goes as
    // offsets (the common case, and the one the parent's whole-row paths
    // serve); anything else as lists.
    const int64_t first = cfg != nullptr ? cfg->chanOffset : 0;
    const int64_t parentFirst = int64_t(startC) + first;
    const int* parentList = nullptr;
    int parentOffset = 0;
    if ((cfg == nullptr || cfg->chanList == nullptr) && config.chanList == nullptr && first >= 0 &&
        first + n <= size.c && parentFirst >= 0 && parentFirst + n <= parentChans) {
        q.viewFirst = int(first);
        parentOffset = int(parentFirst);
    } else {
        int* view = q.viewList.make(n);
        int* par = q.parentList.make(n);
        if (view == nullptr || par == nullptr) return ekNoMemory;
        for (int k = 0; k < n; ++k) {
            view[k] = viewChannel(cfg, k, size.c);
            par[k] = parentChannel(view[k], parentChans);
        }
        q.viewChans = view;
        if (isChannelRun(par, n))
            parentOffset = par[0];
        else
            parentList = par;
    }

    const ekCoordSpace space =
        cfg != nullptr && cfg->coordSpace != 0 ? cfg->coordSpace : coordSpace;
    const ekColorModel model =
        cfg != nullptr && cfg->colorModel != 0 ? cfg->colorModel : colorModel;
    // The parent's own space goes as 0, which spares it the mapping.
    const ekCoordSpace toParent = space == parentSpace ? ekCoordSpace(0) : space;
    q.parentCfg =
        ekConfig(q.type, q.order, n, const_cast<int*>(parentList), parentOffset, toParent, model);
    q.parentCfg.reserved = cfg != nullptr ? cfg->reserved : 0;  // flags such as ekSaturate

    // The boxes go from the caller's space into the view's, through the
    // window into the parent's, in 64 bits: a box far outside may map, or
    // be shifted, beyond the 32-bit range. Only the part of the request in
    // the buffer box can move.
    ekWideBox wr(r), wb(b);
    if (cfg != nullptr && cfg->coordSpace != 0 && cfg->coordSpace != coordSpace) {
        ekMapWide(*this, cfg->coordSpace, wr, ekCoordSpace(0), q.flip, q.trans);
        ekMapWide(*this, cfg->coordSpace, wb, ekCoordSpace(0));
    }
    ekWideBox moved = ekIntersect(wr, wb);
    if (moved.empty()) {
        q.nc = 0;  // nothing of the request lies in the buffer box
        return ekOkay;
    }
    if (clip) {
        // Clipped on the fields this reset derived.
        const ekWideBox inside = ekIntersect(moved, ekWideBox(0, 0, 0, size.x, size.y, size.z));
        q.outside = !inside.contains(moved);
        if (ekPlaceRequest(moved, wb, q.request, q.buffer) == ekPlacement::kPlaced &&
            !inside.empty())
            inside.narrow(q.inside);  // within the placed request: it fits
        if (inside.empty()) return ekOkay;
        moved = inside;
    }
    moved.shift(startX, startY, startZ);
    wb.shift(startX, startY, startZ);
    const ekCoordSpace target = toParent != 0 ? toParent : parentSpace;
    if (target != coordSpace) {
        ekMapWide(*parentImg, coordSpace, moved, target);
        ekMapWide(*parentImg, coordSpace, wb, target);
    }
    // A write that lies outside the parent lands nowhere; a read there gets
    // what the parent gives outside itself.
    const ekPlacement p = ekPlaceRequest(moved, wb, q.parentR, q.parentB);
    q.toParent = p == ekPlacement::kPlaced || (clip && p == ekPlacement::kOutside);
    return ekOkay;
}
