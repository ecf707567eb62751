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
        s = readPage(px, py, z, plane, pixels);
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

ekStatus ekTiffImg::State::readPage(int px, int py, int z, int plane, void* pixels) {
    if (!writable) return file.readPage(px, py, z, plane, pixels);
    return store.readPage(key(px, py, z, plane), pixels);  // one slice: the key is the tile
}

ekStatus ekTiffImg::State::writeBack(ekTiffPage& page) {
    const ekTiffLayout& l = layout();
    const ekStatus s =
        store.writePage(key(page.x / l.pageW, page.y / l.pageH, page.z, page.c), page.pixels);
    if (s == ekOkay) page.dirty = false;  // else it stays dirty: nothing is lost
    return s;
}

// --- Construction ---------------------------------------------------------------

ekTiffImg::ekTiffImg(const char* path) : state(new (std::nothrow) State) {
    if (state == nullptr) {
        setStatus(ekNoMemory);
    } else {
        setStatus(state->file.open(path));
        state->lay = state->file.layout();
    }
    initAttributes();
}

ekTiffImg::ekTiffImg(const char* path, const ekSize& s, ekType type, ekOrder o,
                     const ekTiffCreateOptions& options)
    : state(new (std::nothrow) State) {
    if (state == nullptr) {
        setStatus(ekNoMemory);
    } else {
        const ekStatus st = state->store.create(path, s, type, o, options, state->lay);
        setStatus(st);
        state->writable = st == ekOkay;
    }
    initAttributes();
}

namespace {
ekTiffCreateOptions tiledAs(int tileWidth, int tileHeight, ekTiffCompression compression) {
    ekTiffCreateOptions options;
    options.tileWidth = tileWidth;
    options.tileHeight = tileHeight;
    options.compression = compression;
    return options;
}
}  // namespace

ekTiffImg::ekTiffImg(const char* path, const ekSize& s, ekType type, ekOrder o, int tileWidth,
                     int tileHeight, ekTiffCompression compression)
    : ekTiffImg(path, s, type, o, tiledAs(tileWidth, tileHeight, compression)) {}

// The attributes of the file; an image whose file did not open is empty, of
// no type and order, like a memory image that has nothing to hold.
void ekTiffImg::initAttributes() {
    setNumInputs(0);
    coordSpace = ekUpperLeft;
    colorModel = ekGreyscale;
    if (state == nullptr || !state->isOpen()) {
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
    deleteRelated(1);
    if (state != nullptr) {
        close();
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
    if (state == nullptr || !state->isOpen()) return;  // the status says why
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
    // The directory is written only when every dirty page was: a page that
    // failed stays dirty, and the file keeps what its last directory names.
    const ekStatus s = state->cache.writeAll();
    return s != ekOkay ? s : state->store.commit();
}

ekStatus ekTiffImg::close() {
    if (state == nullptr) return ekNoMemory;
    if (state->closed) return ekNotAllowed;
    if (!state->isOpen()) return getStatus();  // it never opened: the status says why
    if (state->writable) {
        ekStatus s = flush();
        if (s == ekOkay) s = state->store.close();
        if (s != ekOkay) return s;  // the pages stay dirty: free space and close again
    }
    state->file.close();
    state->cache.clear();
    state->closed = true;
    state->writable = false;
    setStatus(ekNotAllowed);
    return ekOkay;
}

int ekTiffImg::isClosed() const { return state != nullptr && state->closed ? 1 : 0; }

int ekTiffImg::hasUnwrittenData() const {
    if (state == nullptr || !state->writable) return 0;
    return state->store.hasUncommitted() || state->cache.anyDirty() ? 1 : 0;
}

int64_t ekTiffImg::getCacheHits() const { return state == nullptr ? 0 : state->cache.hits; }

int64_t ekTiffImg::getCacheMisses() const { return state == nullptr ? 0 : state->cache.misses; }

int64_t ekTiffImg::getCacheEvictions() const {
    return state == nullptr ? 0 : state->cache.evictions;
}
