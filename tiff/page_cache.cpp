// SPDX-License-Identifier: Apache-2.0
// ekTiffPageCache: a hash index over an intrusive recency list, under one
// mutex. Loads run outside the mutex; a condition variable wakes the threads
// that wait for a page another thread loads.
#include "tiff/page_cache.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

ekTiffPage::~ekTiffPage() = default;

// --- Pages in and out -------------------------------------------------------------

ekTiffPage* ekTiffPageCache::acquire(int64_t key, bool decode, ekStatus& s) {
    std::unique_lock<std::mutex> lock(m);
    for (;;) {
        const auto it = index.find(key);
        if (it == index.end()) {
            if (mapSlabUnlocked(lock)) continue;  // the index may have changed meanwhile
            break;
        }
        ekTiffPage* p = it->second;
        ++p->pins;  // keeps it alive while this thread waits for its load
        loaded.wait(lock, [p] { return p->state != ekTiffPage::kLoading; });
        if (p->state == ekTiffPage::kReady) {
            ++hitCount;
            if (p != head) {
                unlink(p);
                pushFront(p);
            }
            return p;
        }
        unpin(p);  // another thread's load failed: try it here
    }
    ++missCount;
    s = makeRoom(pageBytes);
    if (s != ekOkay) return nullptr;
    ekTiffPage* p = create(key, !decode);
    if (p == nullptr) {
        s = ekNoMemory;
        return nullptr;
    }
    if (!decode) return p;  // zeros, ready at once
    lock.unlock();
    s = sink.load(key, p->pixels, true);
    lock.lock();
    p->state = s == ekOkay ? ekTiffPage::kReady : ekTiffPage::kFailed;
    if (s != ekOkay) remove(p);
    loaded.notify_all();
    if (s == ekOkay) return p;
    unpin(p);
    return nullptr;
}

void ekTiffPageCache::release(ekTiffPage* page) {
    std::lock_guard<std::mutex> lock(m);
    unpin(page);
}

ekTiffPage* ekTiffPageCache::startLoad(int64_t key) {
    std::unique_lock<std::mutex> lock(m);
    while (index.count(key) == 0 && mapSlabUnlocked(lock)) {
    }
    if (index.count(key) != 0 || makeRoom(pageBytes) != ekOkay) return nullptr;
    ekTiffPage* p = create(key, false);
    if (p != nullptr) ++missCount;
    return p;
}

void ekTiffPageCache::finishLoad(ekTiffPage* page, ekStatus s) {
    std::lock_guard<std::mutex> lock(m);
    page->state = s == ekOkay ? ekTiffPage::kReady : ekTiffPage::kFailed;
    if (s != ekOkay) remove(page);
    loaded.notify_all();
    unpin(page);
}

bool ekTiffPageCache::has(int64_t key) {
    std::lock_guard<std::mutex> lock(m);
    return index.count(key) != 0;
}

// --- Locks and writes -----------------------------------------------------------------

void ekTiffPageCache::lock(ekTiffPage* page) {
    std::lock_guard<std::mutex> lock(m);
    ++page->locks;
}

bool ekTiffPageCache::unlock(int64_t key, const ekPage* page, bool makeDirty) {
    std::lock_guard<std::mutex> lock(m);
    const auto it = index.find(key);
    if (it == index.end() || it->second != page || it->second->locks == 0) return false;
    ekTiffPage* p = it->second;
    --p->locks;
    if (makeDirty) p->dirty = true;
    unpin(p);
    return true;
}

int64_t ekTiffPageCache::lockedPages() {
    std::lock_guard<std::mutex> lock(m);
    int64_t n = 0;
    for (const ekTiffPage* p = tail; p != nullptr; p = p->newer) n += p->locks > 0;
    return n;
}

void ekTiffPageCache::markDirty(ekTiffPage* page) {
    std::lock_guard<std::mutex> lock(m);
    page->dirty = true;
}

ekStatus ekTiffPageCache::trim() {
    std::lock_guard<std::mutex> lock(m);
    return makeRoom(0);
}

ekStatus ekTiffPageCache::writeAll() {
    std::lock_guard<std::mutex> lock(m);
    std::vector<ekTiffPage*> dirty;
    try {
        for (ekTiffPage* p = tail; p != nullptr; p = p->newer)
            if (p->dirty && p->state == ekTiffPage::kReady) dirty.push_back(p);
    } catch (...) {
        return ekNoMemory;  // nothing written; the pages stay dirty
    }
    std::sort(dirty.begin(), dirty.end(),
              [](const ekTiffPage* a, const ekTiffPage* b) { return a->key < b->key; });
    return dirty.empty() ? ekOkay : sink.writeBack(dirty.data(), int(dirty.size()));
}

bool ekTiffPageCache::anyDirty() {
    std::lock_guard<std::mutex> lock(m);
    for (const ekTiffPage* p = tail; p != nullptr; p = p->newer)
        if (p->dirty) return true;
    return false;
}

void ekTiffPageCache::clear() {
    std::lock_guard<std::mutex> lock(m);
    while (head != nullptr) {
        ekTiffPage* const p = head;
        unlink(p);
        destroy(p);
    }
    index.clear();
    held = 0;
    memory.dropFree();
}

void ekTiffPageCache::setPageBytes(int64_t bytes) {
    std::lock_guard<std::mutex> lock(m);
    pageBytes = bytes;
    memory.setBufferBytes(bytes);
}

// --- Budget and counters ------------------------------------------------------------------

void ekTiffPageCache::setBudget(int64_t bytes) {
    std::lock_guard<std::mutex> lock(m);
    budget = bytes < 0 ? 0 : bytes;
}

int64_t ekTiffPageCache::getBudget() {
    std::lock_guard<std::mutex> lock(m);
    return budget;
}

int64_t ekTiffPageCache::hits() {
    std::lock_guard<std::mutex> lock(m);
    return hitCount;
}

int64_t ekTiffPageCache::misses() {
    std::lock_guard<std::mutex> lock(m);
    return missCount;
}

int64_t ekTiffPageCache::evictions() {
    std::lock_guard<std::mutex> lock(m);
    return evictionCount;
}

// --- With the mutex held --------------------------------------------------------------------

// When a new page will need a buffer that neither the free memory nor an
// eviction gives, maps a slab of buffers with the mutex let go (touching a
// new slab zeroes megabytes, which other threads need not wait for). True
// when the mutex was let go.
bool ekTiffPageCache::mapSlabUnlocked(std::unique_lock<std::mutex>& lock) {
    if (memory.hasFree() || held + pageBytes > budget) return false;
    const ekTiffPageMemory::Plan plan = memory.plan();
    lock.unlock();
    void* const slab = ekTiffPageMemory::mapSlab(plan);
    lock.lock();
    if (slab != nullptr) memory.adopt(slab, plan);
    return slab != nullptr;
}

// A new page, pinned once, the most recent: zeros and ready, or loading.
ekTiffPage* ekTiffPageCache::create(int64_t key, bool zeros) {
    void* const pixels = memory.take();
    if (pixels == nullptr) return nullptr;
    if (zeros) std::memset(pixels, 0, size_t(pageBytes));
    int x = 0, y = 0, z = 0, c = 0;
    sink.position(key, x, y, z, c);
    ekTiffPage* p = new (std::nothrow) ekTiffPage(x, y, z, c, pixels, key);
    if (p == nullptr) {
        memory.give(pixels);
        return nullptr;
    }
    try {
        index.emplace(key, p);
    } catch (...) {  // the index could not grow: nothing may escape the library
        destroy(p);
        return nullptr;
    }
    p->pins = 1;
    p->state = zeros ? ekTiffPage::kReady : ekTiffPage::kLoading;
    held += pageBytes;
    pushFront(p);
    return p;
}

// A failed load's page is out of the index; its last user deletes it.
void ekTiffPageCache::unpin(ekTiffPage* page) {
    if (--page->pins == 0 && page->state == ekTiffPage::kFailed) destroy(page);
}

// Evicts unpinned pages from the least recent until `bytes` more fit, in
// batches whose dirty pages are written back together. A failed write-back
// keeps its pages (and stops): the data is kept rather than lost.
ekStatus ekTiffPageCache::makeRoom(int64_t bytes) {
    constexpr int kBatch = 64;
    while (held + bytes > budget) {
        ekTiffPage* batch[kBatch];
        ekTiffPage* dirty[kBatch];
        int n = 0, nd = 0;
        int64_t freeing = 0;
        for (ekTiffPage* p = tail; p != nullptr && n < kBatch && held - freeing + bytes > budget;
             p = p->newer)
            if (p->pins == 0 && p->state == ekTiffPage::kReady) {
                batch[n++] = p;
                freeing += pageBytes;
                if (p->dirty) dirty[nd++] = p;
            }
        if (n == 0) return ekOkay;  // every page is in use
        // Dirty pages that must go are written together with the dirty pages
        // next in line to go, up to a batch, so that they are encoded on the
        // pool together; those stay cached, clean. The batch does not depend
        // on the thread count, so neither does the order of pages in the file.
        for (ekTiffPage* p = batch[n - 1]->newer; nd > 0 && nd < kBatch && p != nullptr;
             p = p->newer)
            if (p->pins == 0 && p->state == ekTiffPage::kReady && p->dirty) dirty[nd++] = p;
        const ekStatus s = nd == 0 ? ekOkay : sink.writeBack(dirty, nd);
        for (int i = 0; i < n; ++i) {
            if (batch[i]->dirty) continue;
            remove(batch[i]);
            destroy(batch[i]);
            ++evictionCount;
        }
        if (s != ekOkay) return s;
    }
    return ekOkay;
}

void ekTiffPageCache::destroy(ekTiffPage* p) {
    memory.give(p->pixels);
    delete p;
}

void ekTiffPageCache::remove(ekTiffPage* p) {
    unlink(p);
    index.erase(p->key);
    held -= pageBytes;
}

void ekTiffPageCache::unlink(ekTiffPage* p) {
    (p->newer != nullptr ? p->newer->older : head) = p->older;
    (p->older != nullptr ? p->older->newer : tail) = p->newer;
    p->newer = p->older = nullptr;
}

void ekTiffPageCache::pushFront(ekTiffPage* p) {
    p->older = head;
    p->newer = nullptr;
    if (head != nullptr) head->newer = p;
    head = p;
    if (tail == nullptr) tail = p;
}
