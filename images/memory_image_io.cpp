// SPDX-License-Identifier: Apache-2.0
// ekMemoryImg tile primitives: reads, writes, fills and copies between the
// image buffer and a caller's buffer or another image, all through the
// transfer engine.
#include <cstdint>

#include "core/type_facts.h"
#include "eks/images.h"
#include "image/caller_layout.h"
#include "image/channel_table.h"
#include "image/wide_box.h"
#include "transfer/data_block.h"

namespace {

// Type and order of a configuration; a value it does not give (0, ekAnyType,
// ekAnyOrder) is the image's own.
ekType configType(const ekConfig* cfg, ekType own) {
    if (cfg == nullptr || cfg->type == 0 || cfg->type == ekAnyType) return own;
    return cfg->type;
}

ekOrder configOrder(const ekConfig* cfg, ekOrder own) {
    if (cfg == nullptr || cfg->order == 0 || cfg->order == ekAnyOrder) return own;
    return cfg->order;
}

// Channels in the caller's buffer: the configuration's count, 0 meaning the
// image's.
int configChannels(const ekConfig* cfg, int own) {
    return cfg != nullptr && cfg->nchans != 0 ? cfg->nchans : own;
}

bool emptyBox(int nx, int ny, int nz) { return nx < 1 || ny < 1 || nz < 1; }

// The configuration asks for saturating conversions (ekSaturate).
bool saturates(const ekConfig* cfg) { return cfg != nullptr && (cfg->reserved & ekSaturate) != 0; }

// Channels of the caller's buffer for a request, or 0 when the request moves
// nothing: an empty box (the engine would read an empty clip box as "no clip"
// and move the whole buffer box) or a buffer without channels.
int requestChannels(const ekConfig* cfg, int own, int nx, int ny, int nz) {
    if (emptyBox(nx, ny, nz)) return 0;
    const int nc = configChannels(cfg, own);
    return nc < 1 ? 0 : nc;
}

// Channel numbering of a caller's block, as the engine reads it: local
// channel k is the configuration's list entry k (the list is indexed by the
// buffer channel alone, so it is never read past its nchans entries), or,
// without a list, the offset plus k.
struct Channels {
    const int* list = nullptr;
    int firstChan = 0;

    explicit Channels(const ekConfig* cfg) {
        if (cfg == nullptr) return;
        list = cfg->chanList;
        if (list == nullptr) firstChan = cfg->chanOffset;
    }
};

// The whole buffer as the engine sees it: never flipped or transposed.
ekDataBlock imageBlock(void* data, ekType type, ekOrder order, const ekSize& s) {
    return ekDataBlock(data, type, order, s.c, nullptr, s.x, s.y, s.z, 0, 0, 0, 0);
}

// The caller's buffer, holding the box b, as a block clipped to the request
// r. Both boxes are mapped from the caller's coordinate space into the
// image's in 64 bits and placed for the engine (ekPlaceRequest), which may
// move a request that lies far outside the image to just before its origin;
// the block carries the flips and the transposition of the mapping. False,
// and no block, when the request covers nothing of the buffer box.
bool callerBlock(ekImage& image, void* data, const ekConfig* cfg, ekType ownType, ekOrder ownOrder,
                 int nc, const Channels& sel, const ekTile& r, const ekTile& b,
                 ekDataBlock& block) {
    ekFlip flip = ekNoFlip;
    int trans = 0;
    ekWideBox wr(r), wb(b);
    // A caller space that is the image's own maps nothing (the common case
    // of tile reads: checked once, without mapping the two boxes).
    if (cfg != nullptr && cfg->coordSpace != 0) {
        image.mapFlipTrans(cfg->coordSpace, flip, trans, ekCoordSpace(0));
        if (flip != ekNoFlip || trans) {
            ekMapWide(image, cfg->coordSpace, wr, ekCoordSpace(0), flip, trans);
            ekMapWide(image, cfg->coordSpace, wb, ekCoordSpace(0), flip, trans);
        }
    }
    ekTile pr, pb;
    if (ekPlaceRequest(wr, wb, pr, pb) == ekPlacement::kNothing) return false;
    block = ekDataBlock(data, configType(cfg, ownType), configOrder(cfg, ownOrder), nc, sel.list,
                        pb.nx, pb.ny, pb.nz, pb.x, pb.y, pb.z, sel.firstChan);
    block.setClip(pr.x, pr.y, pr.z, pr.nx, pr.ny, pr.nz);
    block.setFlip(flip);
    block.setTranspose(trans);
    block.saturate = saturates(cfg);
    return true;
}

}  // namespace

ekStatus ekMemoryImg::getSubTile3D(int x, int y, int z, int nx, int ny, int nz, void* data, int bx,
                                   int by, int bz, int bnx, int bny, int bnz, const ekConfig* cfg) {
    const ekTile request(x, y, z, nx, ny, nz), box(bx, by, bz, bnx, bny, bnz);
    ekStatus s = dataStatus();
    if (s == ekOkay) s = ekCheckRequest(*this, cfg, data, request, box);
    if (s != ekOkay) return s;
    const int nc = requestChannels(cfg, size.c, nx, ny, nz);
    if (nc == 0) return ekOkay;
    const Channels sel(cfg);
    ekDataBlock dst(nullptr, dataType, order, 0, nullptr, 0, 0, 0, 0, 0, 0, 0);
    if (!callerBlock(*this, data, cfg, dataType, order, nc, sel, request, box, dst)) return ekOkay;
    dst.copyFrom(imageBlock(dataPtr, dataType, order, size));

    // A request that lies wholly inside the image (the caller's block's clip
    // box is the request in image coordinates) has no outside part: the fill
    // pass below would move nothing and is skipped.
    const ekTile inside(0, 0, 0, size.x, size.y, size.z);
    if (inside.contains(dst.clip)) return ekOkay;

    // Second pass: the part of the request outside the image gets the fill
    // value of the image channel each buffer channel selects. The fill pixel
    // is numbered like the image's own channels (no list, first channel 0);
    // when the buffer has more channels, the engine widens it by repeating
    // its last value.
    dst.copyFrom(ekDataBlock(fill, &inside, nullptr, 0));
    return ekOkay;
}

ekStatus ekMemoryImg::setSubTile3D(int x, int y, int z, int nx, int ny, int nz, void* data, int bx,
                                   int by, int bz, int bnx, int bny, int bnz, const ekConfig* cfg) {
    const ekTile request(x, y, z, nx, ny, nz), box(bx, by, bz, bnx, bny, bnz);
    ekStatus s = dataStatus();
    if (s == ekOkay) s = ekCheckRequest(*this, cfg, data, request, box);
    if (s != ekOkay) return s;
    if (readOnly != 0) return ekNotAllowed;
    const int nc = requestChannels(cfg, size.c, nx, ny, nz);
    if (nc == 0) return ekOkay;
    const Channels sel(cfg);
    ekDataBlock src(nullptr, dataType, order, 0, nullptr, 0, 0, 0, 0, 0, 0, 0);
    if (callerBlock(*this, data, cfg, dataType, order, nc, sel, request, box, src)) {
        // The image block bounds the write: the part of the request outside
        // the image is dropped.
        ekDataBlock dst = imageBlock(dataPtr, dataType, order, size);
        dst.copyFrom(src);
    }
    setAltered(ekPropagateBit);  // consumers recompute; this image keeps its data
    return ekOkay;
}

ekStatus ekMemoryImg::fillTile3D(int x, int y, int z, int nx, int ny, int nz, void* value,
                                 const ekConfig* cfg, const ekTile* keepOut) {
    const ekStatus s = dataStatus();
    if (s != ekOkay) return s;
    if (readOnly != 0) return ekNotAllowed;
    if (!ekConfigUsable(cfg)) return ekBadAttribute;
    const int nc = requestChannels(cfg, size.c, nx, ny, nz);
    if (nc == 0) return ekOkay;

    // The value in this image's type, one element per buffer channel (a
    // configuration's count of 0 means the image's, also for a value of
    // another type, which is converted from that many elements). Keeping the
    // pixel at the buffer's count means the engine never reads past the
    // caller's channel list nor writes channels the caller did not select,
    // unless the selection starts at channel 0 without a list: then a shorter
    // value is widened over every channel, repeating its last element. A
    // saturating fill keeps the value in its own type (resized exactly) and
    // lets the engine convert it.
    ekPixel p;
    const ekType given = configType(cfg, dataType);
    if (value == nullptr) {
        p.set(dataType, nc, nullptr);  // zeros
    } else if (given != dataType) {
        p.convert(ekPixel(given, nc, value), saturates(cfg) ? given : dataType, nc);
    } else {
        p.set(dataType, nc, value);
    }
    if (p.nc() != nc) return ekNoMemory;

    // The box and the keep-out box in the image's space, in 64 bits, and the
    // box clipped to the image there: a box that reaches no pixel fills
    // nothing (an empty clip would mean no clip to the engine). The keep-out
    // box matters only where it meets the clipped box.
    ekWideBox r(ekTile(x, y, z, nx, ny, nz)), keep;
    if (keepOut != nullptr) keep = ekWideBox(*keepOut);
    if (cfg != nullptr && cfg->coordSpace != 0) {
        ekMapWide(*this, cfg->coordSpace, r, ekCoordSpace(0));
        if (keepOut != nullptr) ekMapWide(*this, cfg->coordSpace, keep, ekCoordSpace(0));
    }
    ekTile clip, kept;
    const ekWideBox inside = ekIntersect(r, ekWideBox(0, 0, 0, size.x, size.y, size.z));
    if (!inside.empty() && inside.narrow(clip)) {
        const ekWideBox keepInside = ekIntersect(keep, inside);
        const bool keeps = !keepInside.empty() && keepInside.narrow(kept);
        const Channels sel(cfg);
        ekDataBlock dst = imageBlock(dataPtr, dataType, order, size);
        dst.setClip(clip.x, clip.y, clip.z, clip.nx, clip.ny, clip.nz);
        ekDataBlock constant(p, keeps ? &kept : nullptr, sel.list, sel.firstChan);
        constant.saturate = saturates(cfg);
        dst.copyFrom(constant);
    }
    setAltered(ekPropagateBit);
    return ekOkay;
}

ekStatus ekMemoryImg::copyTileCfg(int x, int y, int z, int nx, int ny, int nz, ekImage* other,
                                  int ox, int oy, int oz, const ekConfig* cfg, int direction) {
    const ekStatus s = dataStatus();
    if (s != ekOkay) return s;
    if (other == nullptr) return ekBadInput;
    if (readOnly != 0 && direction != 0) return ekNotAllowed;
    if (!ekConfigUsable(cfg)) return ekBadAttribute;
    if (needColorConv(other, direction, cfg))
        return copyConverted(x, y, z, nx, ny, nz, other, ox, oy, oz, cfg, direction);
    // A copy within this image would read and write one buffer at once; the
    // base copy goes through a temporary buffer.
    if (other == this)
        return ekImage::copyTileCfg(x, y, z, nx, ny, nz, other, ox, oy, oz, cfg, direction);
    if (emptyBox(nx, ny, nz)) {
        // Nothing moves, so no layout is built: its channel table would cost
        // as much as the image has channels.
        setAltered(ekPropagateBit);
        return ekOkay;
    }

    ekConfig w;
    ekChannelTable table;
    if (!ekWorkingLayout(cfg, dataType, order, size.c, coordSpace, w, table)) return ekNoMemory;

    // The box clipped to this image (q), and in other's frame (this image's
    // space, displaced to o): q's origin there, and this whole buffer as the
    // box that starts at o - (x, y, z). Both are formed in 64 bits and placed
    // for other's 32-bit interface; where they do not fit, q lies outside
    // other, and placing moves it to a position outside other too.
    int qx = x, qy = y, qz = z, qnx = nx, qny = ny, qnz = nz;
    clipTile(qx, qy, qz, qnx, qny, qnz, 0);
    const bool overlap = !emptyBox(qnx, qny, qnz);
    const int64_t dx = int64_t(ox) - x, dy = int64_t(oy) - y, dz = int64_t(oz) - z;
    const ekWideBox covered(dx, dy, dz, size.x, size.y, size.z);
    ekTile r, b;
    const ekPlacement placed =
        overlap ? ekPlaceRequest(ekWideBox(dx + qx, dy + qy, dz + qz, qnx, qny, qnz), covered, r, b)
                : ekPlacement::kNothing;

    ekStatus last = ekOkay;
    if (direction != 0) {
        if (placed != ekPlacement::kNothing)
            last = other->getSubTile3D(r.x, r.y, r.z, r.nx, r.ny, r.nz, dataPtr, b.x, b.y, b.z,
                                       b.nx, b.ny, b.nz, &w);
    } else {
        // A box that lies outside other writes nothing there.
        if (placed == ekPlacement::kPlaced)
            last = other->setSubTile3D(r.x, r.y, r.z, r.nx, r.ny, r.nz, dataPtr, b.x, b.y, b.z,
                                       b.nx, b.ny, b.nz, &w);
        // The part of other's box that this image does not cover gets this
        // image's fill value (zeros when the fill has not one element per
        // channel). Nothing to fill when this image covers the whole box. A
        // covered box beyond 32 bits lies outside other: no keep-out box.
        ekTile keep(0, 0, 0, 0, 0, 0);
        const bool keeps = covered.narrow(keep);
        if (last == ekOkay && !covered.contains(ekWideBox(ekTile(ox, oy, oz, nx, ny, nz)))) {
            void* value = nullptr;
            if (fill.nc() == size.c) {
                value = fill.elems();
                w.type = fill.type();
            }
            last = other->fillTile3D(ox, oy, oz, nx, ny, nz, value, &w, keeps ? &keep : nullptr);
        }
    }
    if (last == ekOkay) setAltered(ekPropagateBit);
    return last;
}
