// SPDX-License-Identifier: Apache-2.0
// ekTiffImg: opening and creating, the attributes taken from the file, the
// page cache's budget, counters and flush, and fetching pages through it.
#include <cstdlib>
#include <new>

#include "eks/tiff.h"
#include "tiff/tiff_state.h"

ekClassList ekTiffImg::classList = {"ekTiffImg", &ekImage::classList};

namespace {
const char kNoMemory[] = "out of memory";
}  // namespace

// --- Pages through the cache ----------------------------------------------------

ekTiffPage* ekTiffImg::State::fetch(int px, int py, int z, int plane, bool decode, ekStatus& s) {
    const int64_t k = key(px, py, z, plane);
    if (ekTiffPage* hit = cache.find(k)) return hit;
    const ekTiffLayout& l = layout();
    s = cache.makeRoom(l.pageBytes);
    if (s != ekOkay) return nullptr;
    void* pixels = decode ? std::malloc(size_t(l.pageBytes)) : std::calloc(size_t(l.pageBytes), 1);
    if (pixels == nullptr) {
        s = ekNoMemory;
        return nullptr;
    }
    if (decode) {
        s = file.readPage(px, py, z, plane, pixels);
        if (s != ekOkay) {
            std::free(pixels);
            return nullptr;
        }
    }
    ekTiffPage* page = new (std::nothrow)
        ekTiffPage(px * l.pageW, py * l.pageH, z, l.order == ekSeparate ? plane : 0, pixels, k);
    if (page == nullptr) {
        std::free(pixels);
        s = ekNoMemory;
        return nullptr;
    }
    s = cache.insert(page, l.pageBytes);
    return s == ekOkay ? page : nullptr;
}

ekStatus ekTiffImg::State::writeBack(ekTiffPage& page) {
    const ekTiffLayout& l = layout();
    const ekStatus s = file.writePage(page.x / l.pageW, page.y / l.pageH, page.c, page.pixels);
    if (s == ekOkay) page.dirty = false;
    return s;
}

// --- Construction ---------------------------------------------------------------

ekTiffImg::ekTiffImg(const char* path) : state(new (std::nothrow) State) {
    if (state == nullptr) {
        setStatus(ekNoMemory);
    } else {
        setStatus(state->file.open(path));
    }
    initAttributes();
}

ekTiffImg::ekTiffImg(const char* path, const ekSize& s, ekType type, ekOrder o, int tileWidth,
                     int tileHeight, ekTiffCompression compression)
    : state(new (std::nothrow) State) {
    if (state == nullptr) {
        setStatus(ekNoMemory);
    } else {
        const ekStatus st =
            state->file.create(path, s, type, o, tileWidth, tileHeight, int(compression));
        setStatus(st);
        state->writable = st == ekOkay;
    }
    initAttributes();
}

// The attributes of the file; an image whose file did not open is empty, of
// no type and order, like a memory image that has nothing to hold.
void ekTiffImg::initAttributes() {
    setNumInputs(0);
    coordSpace = ekUpperLeft;
    colorModel = ekGreyscale;
    if (state == nullptr || !state->file.isOpen()) {
        size = ekSize(0, 0, 0, 0);
        dataType = ekAnyType;
        order = ekAnyOrder;
        return;
    }
    const ekTiffLayout& l = state->layout();
    size = ekSize(l.width, l.height, l.slices, l.channels);
    dataType = l.type;
    order = l.order;
    coordSpace = l.space;
    colorModel = l.model;
    compression = ekCompress(l.compression);  // the value range and pages follow at reset
}

ekTiffImg::~ekTiffImg() {
    releaseLockedTiles();  // unlocked pages count as written: they go out below
    deleteRelated(1);
    if (state != nullptr) {
        if (state->writable) state->cache.writeAll();
        state->file.close();
        delete state;
    }
}

int ekTiffImg::derivesFrom(ekClassList* c) { return classList.find(c); }

char* ekTiffImg::getClassName(int n) { return classList.find(n); }

ekClassList* ekTiffImg::getClassId() { return &classList; }

char* ekTiffImg::getDefaultDescription() {
    static char description[] = "TIFF file";
    return description;
}

// Nothing is derived from an input: the attributes are the file's. Only the
// value range and the page geometry follow them, as on every image.
void ekTiffImg::reset() {
    if (state == nullptr || !state->file.isOpen()) return;  // the status says why
    initMinMax(0);
    initPageSize(state->layout().pageW, state->layout().pageH, 1, 0);
    ekImage::reset();
}

// --- Messages, cache and flush --------------------------------------------------

const char* ekTiffImg::getMessage() const {
    return state == nullptr ? kNoMemory : state->file.message();
}

int ekTiffImg::isWritable() const { return state != nullptr && state->writable ? 1 : 0; }

ekStatus ekTiffImg::setCacheBytes(int64_t bytes) {
    if (state == nullptr) return ekNoMemory;
    state->cache.setBudget(bytes);
    return state->cache.makeRoom(0);
}

int64_t ekTiffImg::getCacheBytes() const { return state == nullptr ? 0 : state->cache.getBudget(); }

ekStatus ekTiffImg::flush() {
    if (state == nullptr) return ekNoMemory;
    if (!state->writable) return ekOkay;
    const ekStatus s = state->cache.writeAll();
    const ekStatus f = state->file.flush();
    return s != ekOkay ? s : f;
}

int64_t ekTiffImg::getCacheHits() const { return state == nullptr ? 0 : state->cache.hits; }

int64_t ekTiffImg::getCacheMisses() const { return state == nullptr ? 0 : state->cache.misses; }

int64_t ekTiffImg::getCacheEvictions() const {
    return state == nullptr ? 0 : state->cache.evictions;
}
