// SPDX-License-Identifier: Apache-2.0
// ekTiffPageCache: decoded pages of a file, least recently used first out,
// within a byte budget. Locked pages stay; dirty pages are written back
// through a sink before they leave.
#ifndef EKS_TIFF_PAGE_CACHE_H
#define EKS_TIFF_PAGE_CACHE_H

#include <cstdint>
#include <unordered_map>

#include "eks/paging.h"

// One cached page. Its ekPage part (position and data pointer) is what page
// locks hand out; the cache owns the object and its buffer.
class ekTiffPage : public ekPage {
public:
    ekTiffPage(int x, int y, int z, int c, void* buffer, int64_t key_)
        : ekPage(x, y, z, c, buffer), key(key_), pixels(buffer) {}
    ekTiffPage(const ekTiffPage&) = delete;
    ekTiffPage& operator=(const ekTiffPage&) = delete;
    ~ekTiffPage() override;

    const int64_t key;
    void* const pixels;           // owned; ekPage::data is cleared by its destructor
    int32_t locks = 0;            // outstanding page locks: never evicted while > 0
    bool dirty = false;           // changed since it was decoded or last written
    ekTiffPage* newer = nullptr;  // recency list, most recent at the head
    ekTiffPage* older = nullptr;
};

// Writes a dirty page back to the file.
class ekTiffPageSink {
public:
    virtual ekStatus writeBack(ekTiffPage& page) = 0;

protected:
    ~ekTiffPageSink() = default;
};

class ekTiffPageCache {
public:
    static constexpr int64_t kDefaultBudget = int64_t(64) << 20;

    explicit ekTiffPageCache(ekTiffPageSink& sink_) : sink(sink_) {}
    ekTiffPageCache(const ekTiffPageCache&) = delete;
    ekTiffPageCache& operator=(const ekTiffPageCache&) = delete;
    ~ekTiffPageCache() { clear(); }

    // The page with this key, made the most recent (a hit), or null (a miss).
    ekTiffPage* find(int64_t key);
    // The page with this key without counting or reordering, or null.
    ekTiffPage* peek(int64_t key) const;
    // Makes room for `bytes` more within the budget, evicting unlocked pages
    // from the least recent; a failed write-back stops it and is returned.
    ekStatus makeRoom(int64_t bytes);
    // Adds a page as the most recent, sized `bytes`; ekNoMemory when the
    // index cannot grow (the page is then destroyed).
    ekStatus insert(ekTiffPage* page, int64_t bytes);
    // Writes back every dirty page; the pages stay. The last failure is
    // returned, the other pages are still written.
    ekStatus writeAll();
    // 1 when some page is dirty.
    bool anyDirty() const;
    // Destroys every page, locked or not, without writing anything back.
    void clear();

    void setBudget(int64_t bytes) { budget = bytes < 0 ? 0 : bytes; }
    int64_t getBudget() const { return budget; }
    int64_t heldBytes() const { return held; }

    int64_t hits = 0, misses = 0, evictions = 0;

private:
    void unlink(ekTiffPage* p);
    void pushFront(ekTiffPage* p);

    ekTiffPageSink& sink;
    std::unordered_map<int64_t, ekTiffPage*> index;
    ekTiffPage* head = nullptr;  // most recent
    ekTiffPage* tail = nullptr;  // least recent
    int64_t budget = kDefaultBudget;
    int64_t held = 0;
    int64_t pageBytes = 0;  // every page of one file has the same size
};

#endif  // EKS_TIFF_PAGE_CACHE_H
