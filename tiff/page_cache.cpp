// SPDX-License-Identifier: Apache-2.0
// ekTiffPageCache: a hash index over an intrusive recency list.
#include "tiff/page_cache.h"

#include <cstdlib>
#include <new>

ekTiffPage::~ekTiffPage() { std::free(pixels); }

ekTiffPage* ekTiffPageCache::peek(int64_t key) const {
    const auto it = index.find(key);
    return it == index.end() ? nullptr : it->second;
}

ekTiffPage* ekTiffPageCache::find(int64_t key) {
    ekTiffPage* p = peek(key);
    if (p == nullptr) {
        ++misses;
        return nullptr;
    }
    ++hits;
    if (p != head) {
        unlink(p);
        pushFront(p);
    }
    return p;
}

ekStatus ekTiffPageCache::makeRoom(int64_t bytes) {
    ekTiffPage* p = tail;
    while (p != nullptr && held + bytes > budget) {
        ekTiffPage* const next = p->newer;
        if (p->locks == 0) {
            if (p->dirty) {
                const ekStatus s = sink.writeBack(*p);
                if (s != ekOkay) return s;  // keep the data rather than lose it
            }
            unlink(p);
            index.erase(p->key);
            held -= pageBytes;
            ++evictions;
            delete p;
        }
        p = next;
    }
    return ekOkay;
}

ekStatus ekTiffPageCache::insert(ekTiffPage* page, int64_t bytes) {
    try {
        index.emplace(page->key, page);
    } catch (...) {  // the index could not grow: nothing may escape the library
        delete page;
        return ekNoMemory;
    }
    pageBytes = bytes;
    held += bytes;
    pushFront(page);
    return ekOkay;
}

ekStatus ekTiffPageCache::writeAll() {
    ekStatus result = ekOkay;
    for (ekTiffPage* p = tail; p != nullptr; p = p->newer) {
        if (!p->dirty) continue;
        const ekStatus s = sink.writeBack(*p);
        if (s != ekOkay) result = s;
    }
    return result;
}

bool ekTiffPageCache::anyDirty() const {
    for (const ekTiffPage* p = tail; p != nullptr; p = p->newer)
        if (p->dirty) return true;
    return false;
}

void ekTiffPageCache::clear() {
    while (head != nullptr) {
        ekTiffPage* const p = head;
        unlink(p);
        delete p;
    }
    index.clear();
    held = 0;
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
