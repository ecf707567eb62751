// SPDX-License-Identifier: Apache-2.0
// ekImage's page locking: by copy into fresh page buffers through the image's
// own tile reader. Classes that hold their pixels (the memory image) override
// lockPageSet and unlockPageSet to hand out their own pages instead.
#include <cstring>
#include <new>

#include "core/type_facts.h"
#include "eks/paging.h"
#include "image/channel_table.h"
#include "image/size_math.h"
#include "image/wide_box.h"

namespace {

// Everything one copied page needs besides its position.
struct PageFormat {
    ekXYZCstruct<int32_t> size;  // page extent and channels
    ekType type;                 // the image's own element type and order
    ekOrder order;
    int32_t channels;  // the image's channel count
    int32_t bytes;     // buffer size for the whole page box; < 1: none possible
};

// A fresh page at the request's position, filled with the page box of the
// image in its own type and order; the part outside the image gets what the
// tile reader gives there. Channels past the image's last one are never
// written by the reader: a page that has such channels starts out zeroed.
ekStatus lockCopiedPage(ekImage* image, ekLockRequest& r, const PageFormat& f) {
    if (f.bytes < 1) return ekNoMemory;
    ekImagePage* page = new (std::nothrow) ekImagePage(r.x, r.y, r.z, r.c, f.bytes);
    if (page == nullptr || page->data == nullptr) {
        delete page;
        return ekNoMemory;
    }
    if (int64_t(r.c) + f.size.c > f.channels) std::memset(page->data, 0, size_t(f.bytes));
    ekConfig cfg(f.type, f.order, f.size.c, nullptr, r.c);
    const ekStatus s =
        image->getTile3D(r.x, r.y, r.z, f.size.x, f.size.y, f.size.z, page->data, &cfg);
    if (s != ekOkay) {
        delete page;
        return s;
    }
    r.page = page;
    return ekOkay;
}

}  // namespace

ekStatus ekImage::lockPageSet(ekLockRequest* requests, int, int count) {
    ekStatus s = resetCheck();
    if (s != ekOkay) return s;
    PageFormat f{pageSize, dataType, order, size.c, -1};
    // Sized from the page itself, not from pageBytes: the buffer must hold the
    // whole box the tile reader writes. An empty page box cannot be locked.
    if (pageSize.x > 0 && pageSize.y > 0 && pageSize.z > 0 && pageSize.c > 0) {
        const int64_t n =
            ekProduct64(ekProduct64(ekProduct64(pageSize.x, pageSize.y), pageSize.z), pageSize.c);
        f.bytes = ekAllocSize(dataType, n);
    }
    for (int i = 0; requests != nullptr && i < count; ++i) {
        ekLockRequest& r = requests[i];
        r.status = ekOkay;
        r.page = nullptr;
        if (!isValidPage(r.x, r.y, r.z, r.c)) continue;
        r.status = lockCopiedPage(this, r, f);
        if (r.status != ekOkay) s = r.status;
    }
    return s;
}

void ekImage::unlockPageSet(ekLockRequest* requests, int count) {
    // The page pointers are left as they are; they must not be used again.
    for (int i = 0; requests != nullptr && i < count; ++i) delete requests[i].page;
}

ekPage* ekImage::lockPage(int x, int y, int z, int c, ekStatus& status, int mode) {
    ekLockRequest r{x, y, z, c, ekOkay, nullptr};
    status = lockPageSet(&r, mode, 1);
    if (status == ekOkay) status = r.status;
    return r.page;  // null when the lock failed before the request was filled
}

void ekImage::unlockPage(ekPage* page) {
    ekLockRequest r{-1, -1, -1, -1, ekOkay, page};
    if (page != nullptr && page->Valid()) page->getPos(r.x, r.y, r.z, r.c);
    unlockPageSet(&r, 1);
}

namespace {

// The channels a lock covers: cfg's selection clipped to the image's
// channels, as a transfer reads it, so that list entries and offsets beyond
// them select nothing and the iterator never counts channel blocks the image
// does not have. `clipped` is what the iterator gets (null: every channel);
// a list is copied into `table` with the entries out of range made -1.
// False when the copy cannot be had. `any`: some channel is selected.
bool clipChannels(const ekConfig* cfg, int channels, ekConfig& w, ekChannelTable& table,
                  const ekConfig*& clipped, bool& any) {
    clipped = nullptr;
    any = channels > 0;
    if (cfg == nullptr) return true;
    w = *cfg;
    clipped = &w;
    any = false;
    if (cfg->chanList != nullptr) {
        const int n = cfg->nchans;
        int* list = table.make(n > 0 ? n : 1);
        if (list == nullptr) return false;
        for (int k = 0; k < n; ++k) {
            const int e = cfg->chanList[k];
            list[k] = e >= 0 && e < channels ? e : -1;
            any = any || list[k] >= 0;
        }
        w.chanList = list;
        return true;
    }
    const int64_t lo = cfg->chanOffset > 0 ? cfg->chanOffset : 0;
    const int64_t end = int64_t(cfg->chanOffset) + cfg->nchans;
    const int64_t hi = end < channels ? end : channels;
    any = hi > lo;
    w.chanOffset = static_cast<int32_t>(lo);
    w.nchans = any ? static_cast<int32_t>(hi - lo) : 0;
    return true;
}

}  // namespace

ekLockedTile* ekImage::lockTile3D(int x, int y, int z, int nx, int ny, int nz, const ekConfig* cfg,
                                  int mode) {
    if (resetCheck() != ekOkay) return nullptr;
    // The tile in the image's space, clipped to the image, in 64 bits: a tile
    // far outside maps beyond the 32-bit range. One wholly outside comes
    // back empty and locks no page.
    ekWideBox wide(ekTile(x, y, z, nx, ny, nz));
    if (cfg != nullptr && cfg->coordSpace != 0)
        ekMapWide(*this, cfg->coordSpace, wide, ekCoordSpace(0));
    ekTile t(0, 0, 0, 0, 0, 0);
    const ekWideBox inside = ekIntersect(wide, ekWideBox(0, 0, 0, size.x, size.y, size.z));
    if (!inside.empty()) inside.narrow(t);
    ekConfig w;
    ekChannelTable table;
    const ekConfig* channels = nullptr;
    bool anyChannel = false;
    if (!clipChannels(cfg, size.c, w, table, channels, anyChannel)) return nullptr;
    ekTileIter iter(t, pageSize.x, pageSize.y, pageSize.z, pageSize.c, size.c, channels, 0);
    iter.setPageBorder(pageBorder.x, pageBorder.y, pageBorder.z, 0);
    // A tile that reaches the image in some channel touches at least one
    // page; an iterator that finds none could not lay the pages.
    const bool wantPages = !t.empty() && anyChannel;
    return new (std::nothrow) ekLockedTile(this, iter, mode, wantPages);
}
