// SPDX-License-Identifier: Apache-2.0
// ekTiffImg: opening and creating, the attributes taken from the file, the
// page cache's budget, counters and flush, and fetching pages through it.
#include <cstdlib>
#include <cstring>
#include <new>

#include "eks/tiff.h"
#include "tiff/tiff_state.h"
#include "tiff/tile_writer.h"

ekClassList ekTiffImg::classList = {"ekTiffImg", &ekImage::classList};

namespace {
const char kNoMemory[] = "out of memory";
}  // namespace

// --- Pages through the cache ----------------------------------------------------

namespace {

constexpr int kMaxJobs = 64;  // pages coded ahead of the one being placed

}  // namespace

ekStatus ekTiffImg::State::load(int64_t k, void* pixels, bool decode) {
    if (!decode) {
        std::memset(pixels, 0, size_t(lay.pageBytes));
        return ekOkay;
    }
    if (writable) return store.readPage(k, pixels);  // one slice: the key is the tile
    int x, y, z, c;
    position(k, x, y, z, c);
    return file.readPage(x / lay.pageW, y / lay.pageH, z, lay.order == ekSeparate ? c : 0, pixels);
}

void ekTiffImg::State::position(int64_t k, int& x, int& y, int& z, int& c) const {
    const int64_t px = k % lay.pagesAcross, rest = k / lay.pagesAcross;
    const int64_t py = rest % lay.pagesDown, planeAndSlice = rest / lay.pagesDown;
    x = int(px * lay.pageW);
    y = int(py * lay.pageH);
    z = int(planeAndSlice / lay.planes);
    c = lay.order == ekSeparate ? int(planeAndSlice % lay.planes) : 0;
}

// Pages are encoded on the pool, a window of as many as there are threads
// ahead of the one being placed, and placed in the order given: the file's
// layout does not depend on the thread count.
ekStatus ekTiffImg::State::writeBack(ekTiffPage** pages, int count) {
    const int workers = count > 1 && lay.compression != 1 ? threads.load() - 1 : 0;
    ekTiffThreadPool* pool = ekTiffThreadPool::get(workers < kMaxJobs ? workers : kMaxJobs - 1);
    const int window = pool == nullptr ? 1 : (workers + 1 < kMaxJobs ? workers + 1 : kMaxJobs);
    ekTiffEncodeJob jobs[kMaxJobs];
    const auto start = [&](int i) {
        ekTiffEncodeJob& job = jobs[i % window];
        job.store = &store;
        job.pixels = pages[i]->pixels;
        job.reset();
        if (pool != nullptr) pool->submit(job);
    };
    for (int i = 0; i < count && i < window; ++i) start(i);
    ekStatus result = ekOkay;
    for (int i = 0; i < count; ++i) {
        ekTiffEncodeJob& job = jobs[i % window];
        if (pool != nullptr) {
            // Encoded here if no worker took it; while a worker does, this
            // thread encodes the pages after it.
            ekTiffJob* ahead[kMaxJobs];
            int n = 0;
            for (int k = i + 1; k < count && k < i + window; ++k) ahead[n++] = &jobs[k % window];
            pool->completeHelping(job, ahead, n);
        } else {
            job.status = store.encode(job.pixels, job.encoded);
        }
        ekStatus s = job.status;
        if (s == ekOkay) s = store.place(pages[i]->key, job.encoded);
        if (s == ekOkay) pages[i]->dirty = false;  // else it stays dirty: nothing is lost
        if (s != ekOkay) result = s;
        if (i + window < count) start(i + window);
    }
    return result;
}

// --- Construction ---------------------------------------------------------------

ekTiffImg::ekTiffImg(const char* path) : ekTiffImg(path, ekTiffOpenOptions()) {}

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
    // The file's nodata value is the default fill of every channel.
    double v = 0;
    if (state->file.nodataElement(0, v)) {
        fill.set(dataType, size.c, nullptr);
        for (int c = 0; c < size.c && state->file.nodataElement(c, v); ++c) fill.setElem(v, c);
    }
    state->cache.setPageBytes(l.pageBytes);
    state->threads = ekTiffDefaultThreads();
    // Brought up to date now, so that the queries and reads of many threads
    // find nothing left to derive and change nothing.
    resetCheck();
}

ekTiffImg::~ekTiffImg() {
    releaseLockedTiles();  // unlocked pages count as written: they go out below
    deleteRelated(1);
    if (state != nullptr) {
        if (!state->closed) closeFile();  // pages locked by hand go with the image
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
    if (state->closed) return ekNotAllowed;
    state->cache.setBudget(bytes);
    return state->cache.trim();
}

int64_t ekTiffImg::getCacheBytes() const { return state == nullptr ? 0 : state->cache.getBudget(); }

ekStatus ekTiffImg::setThreads(int n) {
    if (state == nullptr) return ekNoMemory;
    if (state->closed) return ekNotAllowed;
    if (n < 0) return ekBadInput;
    state->threads = ekTiffResolveThreads(n);
    return ekOkay;
}

int ekTiffImg::getThreads() const { return state == nullptr ? 1 : state->threads.load(); }

ekStatus ekTiffImg::flush() {
    if (state == nullptr) return ekNoMemory;
    if (state->closed) return ekNotAllowed;
    if (!state->writable) return ekOkay;
    // The directory is written only when every dirty page was: a page that
    // failed stays dirty, and the file keeps what its last directory names.
    const ekStatus s = state->cache.writeAll();
    return s != ekOkay ? s : state->store.commit();
}

// Locked tiles are released first, as when the image is destroyed; a page
// still locked through lockPageSet would dangle, so the image then stays open.
ekStatus ekTiffImg::close() {
    if (state == nullptr) return ekNoMemory;
    if (state->closed) return ekNotAllowed;
    releaseLockedTiles();
    if (state->cache.lockedPages() > 0) {
        state->file.note(true, "pages are still locked: unlock them before closing");
        return ekNotAllowed;
    }
    return closeFile();
}

ekStatus ekTiffImg::closeFile() {
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

int64_t ekTiffImg::getCacheHits() const { return state == nullptr ? 0 : state->cache.hits(); }

int64_t ekTiffImg::getCacheMisses() const { return state == nullptr ? 0 : state->cache.misses(); }

int64_t ekTiffImg::getCacheEvictions() const {
    return state == nullptr ? 0 : state->cache.evictions();
}

// --- Overviews and tags ---------------------------------------------------------------

ekTiffImg::ekTiffImg(const char* path, const ekTiffOpenOptions& options)
    : state(new (std::nothrow) State) {
    if (state == nullptr) {
        setStatus(ekNoMemory);
    } else {
        setStatus(state->file.open(path, options));
        state->lay = state->file.layout();
    }
    initAttributes();
}

int ekTiffImg::getOverviewCount() const {
    return state == nullptr ? 0 : state->file.overviewCount();
}

const ekTiffTag* ekTiffImg::findTag(int tag) const {
    return state == nullptr ? nullptr : state->file.tags().find(tag);
}

const ekTiffTag* ekTiffImg::getTag(int i) const {
    return state == nullptr ? nullptr : state->file.tags().at(i);
}

int ekTiffImg::getTagCount() const { return state == nullptr ? 0 : state->file.tags().count(); }

int ekTiffImg::getNodata(double& value) const {
    return state != nullptr && state->file.nodata(value) ? 1 : 0;
}
