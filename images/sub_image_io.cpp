// SPDX-License-Identifier: Apache-2.0
// ekSubImg tile primitives: reads and writes handed to the parent through the
// view's window, and copies with another image.
#include <cstdint>

#include "eks/images.h"
#include "image/caller_layout.h"
#include "image/wide_box.h"
#include "images/sub_image_request.h"
#include "transfer/data_block.h"

ekStatus ekSubImg::getSubTile3D(int x, int y, int z, int nx, int ny, int nz, void* data, int bx,
                                int by, int bz, int bnx, int bny, int bnz, const ekConfig* cfg) {
    const ekTile request(x, y, z, nx, ny, nz), box(bx, by, bz, bnx, bny, bnz);
    const ekStatus s = ekCheckRequest(*this, cfg, data, request, box);
    if (s != ekOkay) return s;
    ekImage* parent = parentImg;
    Request q;
    const ekStatus t = translate(cfg, request, box, true, q);
    if (t != ekOkay || q.nc == 0) return t;

    if (q.outside) {
        // The request's part outside the view gets the view's fill value of
        // the view channel each buffer channel selects; the inside part is
        // left to the parent's read.
        const ekTile& b = q.buffer;
        ekDataBlock dst(data, q.type, q.order, q.nc, q.viewChans, b.nx, b.ny, b.nz, b.x, b.y, b.z,
                        q.viewFirst);
        dst.setClip(q.request.x, q.request.y, q.request.z, q.request.nx, q.request.ny,
                    q.request.nz);
        dst.setFlip(q.flip);
        dst.setTranspose(q.trans);
        dst.saturate = (q.parentCfg.reserved & ekSaturate) != 0;
        const ekTile* keepOut = q.inside.empty() ? nullptr : &q.inside;
        dst.copyFrom(ekDataBlock(fill, keepOut, nullptr, 0));
    }
    if (!q.toParent) return ekOkay;
    const ekTile& r = q.parentR;
    const ekTile& b = q.parentB;
    return parent->getSubTile3D(r.x, r.y, r.z, r.nx, r.ny, r.nz, data, b.x, b.y, b.z, b.nx, b.ny,
                                b.nz, &q.parentCfg);
}

ekStatus ekSubImg::setSubTile3D(int x, int y, int z, int nx, int ny, int nz, void* data, int bx,
                                int by, int bz, int bnx, int bny, int bnz, const ekConfig* cfg) {
    const ekTile request(x, y, z, nx, ny, nz), box(bx, by, bz, bnx, bny, bnz);
    const ekStatus s = ekCheckRequest(*this, cfg, data, request, box);
    if (s != ekOkay) return s;
    ekImage* parent = parentImg;
    Request q;
    const ekStatus t = translate(cfg, request, box, false, q);
    if (t != ekOkay || q.nc == 0 || !q.toParent) return t;
    const ekTile& r = q.parentR;
    const ekTile& b = q.parentB;
    return parent->setSubTile3D(r.x, r.y, r.z, r.nx, r.ny, r.nz, data, b.x, b.y, b.z, b.nx, b.ny,
                                b.nz, &q.parentCfg);
}

// The parent copies with other; w carries cfg's selection of other's channels
// over to the parent channels: parent channel p pairs with the other channel
// that cfg gives to the view channel showing p (none when no view channel
// shows it).
ekStatus ekSubImg::copyTileCfg(int x, int y, int z, int nx, int ny, int nz, ekImage* other, int ox,
                               int oy, int oz, const ekConfig* cfg, int direction) {
    const ekStatus s = resetCheck();
    if (s != ekOkay) return s;
    if (needColorConv(other, direction, cfg))
        return copyConverted(x, y, z, nx, ny, nz, other, ox, oy, oz, cfg, direction);
    ekImage* parent = parentImg;
    if (other == nullptr) return ekBadInput;
    if (!ekConfigUsable(cfg)) return ekBadAttribute;
    if (nx < 1 || ny < 1 || nz < 1) return ekOkay;

    const int parentChannels = parentChans;
    ekChannelTable inverse;
    int* inv = inverse.make(parentChannels);
    if (inv == nullptr) return ekNoMemory;
    for (int p = 0; p < parentChannels; ++p) inv[p] = -1;
    for (int v = 0; v < size.c; ++v) {
        const int p = parentChannel(v, parentChannels);
        if (p < 0) continue;
        // Two view channels of one parent channel cannot both be written.
        if (inv[p] >= 0 && config.chanList != nullptr) return ekNoMemory;
        if (inv[p] < 0) inv[p] = v;
    }
    const int named = cfg != nullptr && cfg->nchans != 0 ? cfg->nchans : size.c;
    for (int p = 0; p < parentChannels; ++p) {
        const int v = inv[p];
        if (v < 0 || v >= named) {
            inv[p] = -1;
        } else if (cfg != nullptr) {
            const int64_t o =
                cfg->chanList != nullptr ? cfg->chanList[v] : int64_t(cfg->chanOffset) + v;
            inv[p] = o >= 0 && o <= INT32_MAX ? int(o) : -1;
        }
    }

    ekConfig w(ekAnyType, ekAnyOrder, 0);
    if (cfg != nullptr) w = *cfg;
    // A list (the view's own or the caller's) stays a list even when it runs
    // 0, 1, 2, ...: as an offset it would let the parent see a copy between
    // different colour models as a request for conversion and refuse it.
    const bool listed = config.chanList != nullptr || (cfg != nullptr && cfg->chanList != nullptr);
    const bool run = !listed && isChannelRun(inv, parentChannels);
    w.nchans = parentChannels;
    w.chanList = run ? nullptr : inv;
    w.chanOffset = run && parentChannels > 0 ? inv[0] : 0;
    w.coordSpace = ekCoordSpace(0);

    // The box is the view's (in cfg's space when it names one); the parent
    // copies in its own space. Mapped and shifted in 64 bits: a box that does
    // not fit 32 bits there names no position the parent can be asked for
    // (a parent that is a view would shift a box placed elsewhere back onto
    // its own parent), so nothing moves.
    ekWideBox wide(ekTile(x, y, z, nx, ny, nz));
    if (cfg != nullptr && cfg->coordSpace != 0)
        ekMapWide(*this, cfg->coordSpace, wide, ekCoordSpace(0));
    wide.shift(startX, startY, startZ);
    ekMapWide(*parent, coordSpace, wide, ekCoordSpace(0));
    ekTile r;
    if (!wide.narrow(r)) return ekOkay;
    return parent->copyTileCfg(r.x, r.y, r.z, r.nx, r.ny, r.nz, other, ox, oy, oz, &w, direction);
}
