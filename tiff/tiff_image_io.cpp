// SPDX-License-Identifier: Apache-2.0
// ekTiffImg tile primitives and page locks: every request is cut into the
// pages it touches, and each page moves through the transfer engine between
// the page cache and the caller's buffer.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "eks/paging.h"
#include "eks/tiff.h"
#include "image/caller_layout.h"
#include "tiff/tiff_state.h"
#include "transfer/data_block.h"

namespace {

// Whether an image channel is selected; a type of the library's own, so that
// the vector's code stays internal.
struct Selected {
    uint8_t on;
};

// The caller's side of a transfer: its buffer as a block over image space,
// clipped to the request, with the flips and transposition that take the
// caller's coordinate space into the image's. A type, order or channel count
// the configuration does not give (0, ekAnyType, ekAnyOrder) is the image's;
// a channel list is indexed by the buffer channel, else the channel offset
// numbers the buffer's channels.
struct CallerSide {
    const ekConfig* cfg;
    int nc;  // channels in the buffer; 0: the request moves nothing

    CallerSide(const ekConfig* c, int ownChans, const ekTile& r)
        : cfg(c), nc(c != nullptr && c->nchans != 0 ? c->nchans : ownChans) {
        if (r.empty() || nc < 1) nc = 0;
    }

    // Marks in `out` (one entry per image channel) the channels that some
    // buffer channel selects; channels past the image select nothing. One
    // pass over the buffer's channels, in 64 bits: an offset near INT_MAX
    // cannot overflow. False when memory runs out.
    bool selected(int channels, std::vector<Selected>& out) const {
        try {
            out.assign(size_t(channels), Selected{0});
        } catch (...) {
            return false;
        }
        for (int k = 0; k < nc; ++k) {
            const int64_t n = cfg == nullptr  ? k
                              : cfg->chanList ? cfg->chanList[k]
                                              : int64_t(cfg->chanOffset) + k;
            if (n >= 0 && n < channels) out[size_t(n)].on = 1;
        }
        return true;
    }

    ekDataBlock block(ekImage& image, void* data, ekType ownType, ekOrder ownOrder, ekTile r,
                      ekTile b) const {
        ekFlip flip = ekNoFlip;
        int trans = 0;
        if (cfg != nullptr && cfg->coordSpace != 0) {
            image.mapTile(cfg->coordSpace, r, flip, trans, ekCoordSpace(0));
            image.mapTile(cfg->coordSpace, b, flip, trans, ekCoordSpace(0));
        }
        const bool ownT = cfg == nullptr || cfg->type == 0 || cfg->type == ekAnyType;
        const bool ownO = cfg == nullptr || cfg->order == 0 || cfg->order == ekAnyOrder;
        const int* list = cfg != nullptr ? cfg->chanList : nullptr;
        const int first = cfg != nullptr && list == nullptr ? cfg->chanOffset : 0;
        ekDataBlock blk(data, ownT ? ownType : cfg->type, ownO ? ownOrder : cfg->order, nc, list,
                        b.nx, b.ny, b.nz, b.x, b.y, b.z, first);
        blk.setClip(r.x, r.y, r.z, r.nx, r.ny, r.nz);
        blk.setFlip(flip);
        blk.setTranspose(trans);
        blk.saturate = cfg != nullptr && (cfg->reserved & ekSaturate) != 0;
        return blk;
    }
};

ekTile pageBox(const ekTiffLayout& l, int px, int py, int z) {
    return ekTile(px * l.pageW, py * l.pageH, z, l.pageW, l.pageH, 1);
}

// Calls f(px, py, z, plane, box of the page) for every page that the box
// `in` (inside the image) touches, in the file's order within each slice, and
// for separate planes only the planes `selected` marks.
template <class F>
void forEachPage(const ekTile& in, const ekTiffLayout& l, const std::vector<Selected>& selected,
                 F f) {
    const int px0 = in.x / l.pageW, px1 = (in.x + in.nx - 1) / l.pageW;
    const int py0 = in.y / l.pageH, py1 = (in.y + in.ny - 1) / l.pageH;
    for (int z = in.z; z < in.z + in.nz; ++z)
        for (int py = py0; py <= py1; ++py)
            for (int px = px0; px <= px1; ++px)
                for (int plane = 0; plane < l.planes; ++plane)
                    if (l.planes == 1 || selected[size_t(plane)].on != 0)
                        f(px, py, z, plane, pageBox(l, px, py, z));
}

// A page's pixels as a block: one tile of pageChans channels whose first
// channel is the plane (separate planes) or 0.
ekDataBlock pageBlock(const ekTiffLayout& l, void* pixels, const ekTile& box, int plane) {
    return ekDataBlock(pixels, l.type, l.pageChans > 1 ? ekInterleaved : ekSeparate, l.pageChans,
                       nullptr, box.nx, box.ny, 1, box.x, box.y, box.z,
                       l.order == ekSeparate ? plane : 0);
}

// Gives the part of the caller's block inside `part`, less `keepOut` (may be
// null), one value in the channels that `value` numbers from `firstChan`.
void fillPart(ekDataBlock dst, const ekTile& part, const ekTile* keepOut, const ekPixel& value,
              int firstChan) {
    const ekTile c(dst.clip, part);
    if (c.empty()) return;
    dst.setClip(c.x, c.y, c.z, c.nx, c.ny, c.nz);
    dst.copyFrom(ekDataBlock(value, keepOut, nullptr, firstChan));
}

// Moves the pages a read touches into the caller's block, in the file's
// order. When two or more compressed pages are not in the cache, a window of
// pages slides over them: each page entering it is queued for decoding on
// the pool (one worker fewer than the image has threads), and the caller
// moves the page at its head as soon as it is ready; while a worker decodes
// the head, the caller decodes the pages after it that no worker has taken
// yet, so that every thread decodes and the caller also copies. The window
// holds what the budget holds; only when the budget is smaller than one page
// per thread are its pages (one per decoding thread and the head) held
// beyond it.
class PageReader {
public:
    PageReader(ekTiffImg::State& st_, const ekTiffLayout& l_, ekDataBlock& dst_,
               const std::vector<Selected>& selected_, const ekTile& in_)
        : st(st_), l(l_), dst(dst_), selected(selected_), in(in_) {}

    ekStatus run(const ekPixel& fill, ekImage& image) {
        result = ekOkay;
        window = windowSize();
        forEachPage(in, l, selected, [&](int px, int py, int pz, int plane, const ekTile& box) {
            if (buffered == window) moveHead(fill, image);
            const int slot = (head + buffered++) % window;
            refs[slot] = Ref{px, py, pz, plane, box, st.key(px, py, pz, plane)};
            started[slot] = false;
            if (window == 1) return;
            ekTiffPage* placeholder = st.cache.startLoad(refs[slot].key);
            if (placeholder == nullptr) return;  // cached, loading, or left to the caller
            jobs[slot].state = &st;
            jobs[slot].page = placeholder;
            jobs[slot].reset();
            pool->submit(jobs[slot]);
            started[slot] = true;
        });
        while (buffered > 0) moveHead(fill, image);
        return result;
    }

private:
    static constexpr int kMaxWindow = 64;
    struct Ref {
        int px, py, z, plane;
        ekTile box;
        int64_t key;
    };

    // 1 unless the read needs two or more compressed pages the cache lacks
    // and the image has threads to spare. Else four pages per thread, so
    // that no decoder runs out of queued pages while the caller copies, but
    // no more than the budget holds, and at least one page per decoding
    // thread and the head.
    int windowSize() {
        const int threads = st.threads.load();
        if (threads < 2 || l.compression == 1) return 1;
        int missing = 0;
        forEachPage(in, l, selected, [&](int px, int py, int pz, int plane, const ekTile&) {
            if (missing < 2 && !st.cache.has(st.key(px, py, pz, plane))) ++missing;
        });
        if (missing < 2) return 1;
        const int64_t fit = st.cache.getBudget() / std::max<int64_t>(l.pageBytes, 1);
        const int64_t size = std::min<int64_t>(
            kMaxWindow, std::min<int64_t>(int64_t(4) * threads, std::max<int64_t>(threads + 1, fit)));
        // The caller decodes too: one worker fewer than threads.
        pool = ekTiffThreadPool::get(std::min<int>(threads, int(size) - 1) - 1);
        return pool == nullptr ? 1 : int(size);
    }

    void moveHead(const ekPixel& fill, ekImage& image) {
        if (started[head]) {
            // Decoded here if no worker took it; while a worker does, this
            // thread decodes the pages after it in the window.
            ekTiffJob* ahead[kMaxWindow];
            int n = 0;
            for (int k = 1; k < buffered; ++k) {
                const int slot = (head + k) % window;
                ahead[n++] = started[slot] ? &jobs[slot] : nullptr;
            }
            pool->completeHelping(jobs[head], ahead, n);
        }
        move(refs[head], fill, image);
        head = (head + 1) % window;
        --buffered;
    }

    void move(const Ref& r, const ekPixel& fill, ekImage& image) {
        ekStatus ps = ekOkay;
        ekTiffPage* page = st.cache.acquire(r.key, true, ps);
        if (page != nullptr) {
            dst.copyFrom(pageBlock(l, page->pixels, r.box, r.plane));
            st.cache.release(page);
            return;
        }
        // A page that cannot be had reads as the fill value.
        result = ps;
        if (l.planes == 1) {
            fillPart(dst, r.box, nullptr, fill, 0);
        } else {
            const double v = image.getFillValue(r.plane);
            fillPart(dst, r.box, nullptr, ekPixel(ekDouble, 1, &v), r.plane);
        }
    }

    ekTiffImg::State& st;
    const ekTiffLayout& l;
    ekDataBlock& dst;
    const std::vector<Selected>& selected;
    const ekTile in;
    ekTiffThreadPool* pool = nullptr;
    ekStatus result = ekOkay;
    int window = 1, head = 0, buffered = 0;  // a ring of the pages in the window
    Ref refs[kMaxWindow];
    bool started[kMaxWindow] = {};
    ekTiffDecodeJob jobs[kMaxWindow];
};

}  // namespace

ekStatus ekTiffImg::getSubTile3D(int x, int y, int z, int nx, int ny, int nz, void* data, int bx,
                                 int by, int bz, int bnx, int bny, int bnz, const ekConfig* cfg) {
    // The image's status (which brings it up to date), then the caller's
    // layout: one the engine cannot describe moves nothing.
    const ekStatus s = ekCheckRequest(*this, cfg, data, ekTile(x, y, z, nx, ny, nz),
                                      ekTile(bx, by, bz, bnx, bny, bnz));
    if (s != ekOkay) return s;
    const CallerSide caller(cfg, size.c, ekTile(x, y, z, nx, ny, nz));
    if (caller.nc == 0) return ekOkay;
    ekDataBlock dst = caller.block(*this, data, dataType, order, ekTile(x, y, z, nx, ny, nz),
                                   ekTile(bx, by, bz, bnx, bny, bnz));
    const ekTile inside(0, 0, 0, size.x, size.y, size.z);
    const ekTile in(dst.clip, inside);
    const ekTiffLayout& l = state->layout();
    std::vector<Selected> selected;
    if (!caller.selected(size.c, selected)) return ekNoMemory;
    ekStatus result = ekOkay;
    if (!in.empty()) {
        PageReader reader(*state, l, dst, selected, in);
        result = reader.run(fill, *this);
    }
    // The part outside the image has no pages: the fill value of the image
    // channel each buffer channel selects, widened like the memory image's.
    if (!inside.contains(dst.clip)) fillPart(dst, dst.clip, &inside, fill, 0);
    return result;
}

ekStatus ekTiffImg::setSubTile3D(int x, int y, int z, int nx, int ny, int nz, void* data, int bx,
                                 int by, int bz, int bnx, int bny, int bnz, const ekConfig* cfg) {
    // The image's status (which brings it up to date), then the caller's
    // layout: one the engine cannot describe moves nothing.
    const ekStatus s = ekCheckRequest(*this, cfg, data, ekTile(x, y, z, nx, ny, nz),
                                      ekTile(bx, by, bz, bnx, bny, bnz));
    if (s != ekOkay) return s;
    if (!state->writable) {
        state->file.note(true, "the file was opened for reading");
        return ekNotAllowed;
    }
    const CallerSide caller(cfg, size.c, ekTile(x, y, z, nx, ny, nz));
    if (caller.nc == 0) return ekOkay;
    const ekDataBlock src = caller.block(*this, data, dataType, order, ekTile(x, y, z, nx, ny, nz),
                                         ekTile(bx, by, bz, bnx, bny, bnz));
    // What is written: the request, within the buffer's box, within the image.
    const ekTile inside(0, 0, 0, size.x, size.y, size.z);
    const ekTile in(ekTile(src.clip, src.box), inside);
    if (in.empty()) return ekOkay;
    const ekTiffLayout& l = state->layout();
    std::vector<Selected> selected;
    if (!caller.selected(size.c, selected)) return ekNoMemory;
    // Every channel of an interleaved page is written.
    const bool allChannels =
        std::all_of(selected.begin(), selected.end(), [](Selected c) { return c.on != 0; });
    ekStatus result = ekOkay;
    forEachPage(in, l, selected, [&](int px, int py, int pz, int plane, const ekTile& box) {
        // A page the write covers wholly (its part inside the image, every
        // channel it holds) need not be decoded; any other keeps its pixels.
        const bool covered = in.contains(ekTile(box, inside)) && (l.planes > 1 || allChannels);
        ekStatus ps = ekOkay;
        ekTiffPage* page = state->cache.acquire(state->key(px, py, pz, plane), !covered, ps);
        if (page == nullptr) {
            result = ps;
            return;
        }
        pageBlock(l, page->pixels, box, plane).copyFrom(src);
        state->cache.markDirty(page);
        state->cache.release(page);
    });
    setAltered(ekPropagateBit);  // consumers recompute; the file keeps the data
    return result;
}

// Every request at a page origin gets the cached page itself, locked in the
// cache until it is unlocked.
ekStatus ekTiffImg::lockPageSet(ekLockRequest* requests, int, int count) {
    const ekStatus s = resetCheck();
    if (s != ekOkay) return s;
    const ekTiffLayout& l = state->layout();
    ekStatus result = ekOkay;
    for (int i = 0; i < count; ++i) {
        ekLockRequest& r = requests[i];
        r.status = ekOkay;
        r.page = nullptr;
        if (!isValidPage(r.x, r.y, r.z, r.c)) continue;
        if (r.x % l.pageW != 0 || r.y % l.pageH != 0 || (l.planes == 1 && r.c != 0)) {
            r.status = result = ekBadIndex;
            continue;
        }
        const int64_t k = state->key(r.x / l.pageW, r.y / l.pageH, r.z, r.c);
        ekTiffPage* page = state->cache.acquire(k, true, r.status);
        if (page == nullptr) {
            result = r.status;
            continue;
        }
        state->cache.lock(page);  // keeps the pin until unlockPageSet
        r.page = page;
    }
    return result;
}

// Releases the locks taken by lockPageSet; pages this image did not hand out
// are left alone. On a writable image an unlocked page counts as written.
void ekTiffImg::unlockPageSet(ekLockRequest* requests, int count) {
    if (state == nullptr || !state->isOpen()) return;
    const ekTiffLayout& l = state->layout();
    for (int i = 0; i < count; ++i) {
        const ekLockRequest& r = requests[i];
        if (r.page == nullptr || r.x % l.pageW != 0 || r.y % l.pageH != 0) continue;
        state->cache.unlock(state->key(r.x / l.pageW, r.y / l.pageH, r.z, r.c), r.page,
                            state->writable);
    }
    state->cache.trim();
}
