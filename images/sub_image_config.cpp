// SPDX-License-Identifier: Apache-2.0
// ekSubImg: a caller's request composed for the parent: the buffer's channels
// carried through the view's channel map, and the boxes carried from the
// caller's space through the view's window into the parent.
#include <cstdint>

#include "core/type_facts.h"
#include "eks/images.h"
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

void shift(ekTile& t, int dx, int dy, int dz) {
    t.x = ekClampToInt32(int64_t(t.x) + dx);
    t.y = ekClampToInt32(int64_t(t.y) + dy);
    t.z = ekClampToInt32(int64_t(t.z) + dz);
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

    if (cfg != nullptr && cfg->coordSpace != 0 && cfg->coordSpace != coordSpace) {
        mapTile(cfg->coordSpace, r, q.flip, q.trans, ekCoordSpace(0));
        mapTile(cfg->coordSpace, b, ekCoordSpace(0));
    }
    q.request = r;
    q.buffer = b;
    if (clip) {
        // clipTile, on the fields this reset derived.
        q.inside = ekTile(r, ekTile(0, 0, 0, size.x, size.y, size.z));
        q.outside = q.inside != r;
        r = q.inside;
    }
    shift(r, startX, startY, startZ);
    shift(b, startX, startY, startZ);
    const ekCoordSpace target = toParent != 0 ? toParent : parentSpace;
    if (target != coordSpace) {
        parentImg->mapTile(coordSpace, r, target);
        parentImg->mapTile(coordSpace, b, target);
    }
    q.parentR = r;
    q.parentB = b;
    return ekOkay;
}
