// SPDX-License-Identifier: Apache-2.0
// ekTiffPageCache: decoded pages of a file, least recently used first out,
// within a byte budget, shared by every thread that reads the image. A page
// is loaded once: the first thread to want it decodes it (outside the lock)
// while the others wait for it. Pages in use (pinned) stay; dirty pages are
// written back through a sink before they leave.
#ifndef EKS_TIFF_PAGE_CACHE_H
#define EKS_TIFF_PAGE_CACHE_H

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "eks/paging.h"
#include "tiff/page_memory.h"

// One cached page. Its ekPage part (position and data pointer) is what page
// locks hand out; the cache owns the object and its buffer.
class ekTiffPage : public ekPage {
public:
    enum State : uint8_t { kLoading, kReady, kFailed };

    ekTiffPage(int x, int y, int z, int c, void* buffer, int64_t key_)
        : ekPage(x, y, z, c, buffer), key(key_), pixels(buffer) {}
    ekTiffPage(const ekTiffPage&) = delete;
    ekTiffPage& operator=(const ekTiffPage&) = delete;
    ~ekTiffPage() override;

    const int64_t key;
    void* pixels;  // from the cache's page memory, given back when the page is destroyed
    int32_t pins = 0;             // users (reads, loads, page locks): never evicted while > 0
    int32_t locks = 0;            // page locks handed out, counted in pins too
    State state = kLoading;       // pixels are valid once kReady
    bool dirty = false;           // changed since it was decoded or last written
    ekTiffPage* newer = nullptr;  // recency list, most recent at the head
    ekTiffPage* older = nullptr;
};

// Loads and writes back pages for the cache.
class ekTiffPageSink {
public:
    // Decodes page `key` into `pixels`, or zeros them when `decode` is false.
    virtual ekStatus load(int64_t key, void* pixels, bool decode) = 0;
    // Writes dirty pages back, in the order given; a page written is no
    // longer dirty. Returns the last failure; the pages that failed stay dirty.
    virtual ekStatus writeBack(ekTiffPage** pages, int count) = 0;
    // The position (x, y, z, c) of page `key`.
    virtual void position(int64_t key, int& x, int& y, int& z, int& c) const = 0;

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

    // Page `key`, ready and pinned: from the cache (a hit), from another
    // thread's load (waited for), or loaded now (a miss; decoded when
    // `decode`, else zeros). Null with the status in `s` when it cannot be
    // had. Every page returned is given back with release().
    ekTiffPage* acquire(int64_t key, bool decode, ekStatus& s);
    void release(ekTiffPage* page);
    // For a load on another thread: a pinned placeholder for page `key`, or
    // null when the page is cached, being loaded, or cannot be had. The
    // loader decodes into its pixels, then calls finishLoad.
    ekTiffPage* startLoad(int64_t key);
    void finishLoad(ekTiffPage* page, ekStatus s);
    // 1 when page `key` is cached or being loaded.
    bool has(int64_t key);

    // Page locks: a pinned page counts one more lock; unlock finds the page
    // by key and takes one off when `page` is that page (dirty when asked).
    void lock(ekTiffPage* page);
    bool unlock(int64_t key, const ekPage* page, bool makeDirty);

    // Pages locked through page locks.
    int64_t lockedPages();
    // Marks a pinned page dirty.
    void markDirty(ekTiffPage* page);
    // Evicts unpinned pages, least recent first, until the budget holds.
    ekStatus trim();
    // Writes back every dirty page, in the order of their keys; the pages
    // stay. The last failure is returned; the pages that failed stay dirty.
    ekStatus writeAll();
    bool anyDirty();
    // Destroys every page, pinned or not, without writing anything back.
    void clear();

    // The size of every page; set once, before the first page.
    void setPageBytes(int64_t bytes);
    void setBudget(int64_t bytes);
    int64_t getBudget();
    int64_t hits();
    int64_t misses();
    int64_t evictions();

private:
    bool mapSlabUnlocked(std::unique_lock<std::mutex>& lock);
    ekTiffPage* create(int64_t key, bool zeros);
    void unpin(ekTiffPage* page);
    ekStatus makeRoom(int64_t bytes);
    void remove(ekTiffPage* p);
    void unlink(ekTiffPage* p);
    void pushFront(ekTiffPage* p);
    void destroy(ekTiffPage* p);

    ekTiffPageSink& sink;
    int64_t pageBytes = 0;  // every page of one file has the same size
    std::mutex m;
    std::condition_variable loaded;
    std::unordered_map<int64_t, ekTiffPage*> index;
    ekTiffPage* head = nullptr;  // most recent
    ekTiffPage* tail = nullptr;  // least recent
    int64_t budget = kDefaultBudget;
    int64_t held = 0;
    int64_t hitCount = 0, missCount = 0, evictionCount = 0;
    ekTiffPageMemory memory;  // the pages' buffers
};

#endif  // EKS_TIFF_PAGE_CACHE_H
