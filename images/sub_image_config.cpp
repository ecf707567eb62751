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
ekStatus ekSubImg::translate(ekImage* parent, const ekConfig* cfg, ekTile r, ekTile b, bool clip,
                             Request& q) {
    const int n = cfg != nullptr && cfg->nchans != 0 ? cfg->nchans : size.c;
    if (r.empty() || n < 1) return ekOkay;
    int* view = q.viewList.make(n);
    int* par = q.parentList.make(n);
    if (view == nullptr || par == nullptr) return ekNoMemory;
    const int parentChannels = parent->getCsize();
    for (int k = 0; k < n; ++k) {
        view[k] = viewChannel(cfg, k, size.c);
        par[k] = parentChannel(view[k], parentChannels);
    }
    q.nc = n;
    q.type = cfg != nullptr && given(cfg->type) ? cfg->type : dataType;
    q.order = cfg != nullptr && given(cfg->order) ? cfg->order : order;
    const ekCoordSpace space =
        cfg != nullptr && cfg->coordSpace != 0 ? cfg->coordSpace : coordSpace;
    const ekColorModel model =
        cfg != nullptr && cfg->colorModel != 0 ? cfg->colorModel : colorModel;
    // A run of parent channels goes as an offset, so that the parent's
    // whole-row paths apply.
    const bool run = isChannelRun(par, n);
    q.parentCfg = ekConfig(q.type, q.order, n, run ? nullptr : par, run ? par[0] : 0, space, model);

    if (cfg != nullptr && cfg->coordSpace != 0) {
        mapTile(cfg->coordSpace, r, q.flip, q.trans, ekCoordSpace(0));
        mapTile(cfg->coordSpace, b, ekCoordSpace(0));
    }
    q.request = r;
    q.buffer = b;
    if (clip) q.outside = clipTile(r.x, r.y, r.z, r.nx, r.ny, r.nz, 0) != ekOkay;
    q.inside = r;
    shift(r, startX, startY, startZ);
    shift(b, startX, startY, startZ);
    parent->mapTile(coordSpace, r, space);
    parent->mapTile(coordSpace, b, space);
    q.parentR = r;
    q.parentB = b;
    return ekOkay;
}
