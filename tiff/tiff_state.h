// SPDX-License-Identifier: Apache-2.0
// What an ekTiffImg holds behind its pointer: the file, the page cache, and
// the fetching of pages through the cache.
#ifndef EKS_TIFF_TIFF_STATE_H
#define EKS_TIFF_TIFF_STATE_H

#include <atomic>
#include <cstdint>

#include "eks/tiff.h"
#include "tiff/page_cache.h"
#include "tiff/thread_pool.h"
#include "tiff/tiff_file.h"
#include "tiff/tiff_store.h"

// Internal: hidden from the library's exports although nested in ekTiffImg.
struct __attribute__((visibility("hidden"))) ekTiffImg::State final : ekTiffPageSink {
    ekTiffFile file;          // a file opened for reading; every image's messages
    ekTiffStore store{file};  // a file the image created
    ekTiffLayout lay;
    ekTiffPageCache cache{*this};
    std::atomic<int> threads{1};  // decoding and encoding threads, the caller's included
    bool writable = false;
    bool closed = false;  // close() succeeded: every call answers ekNotAllowed

    State() = default;
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    ~State() = default;

    const ekTiffLayout& layout() const { return lay; }
    bool isOpen() const { return file.isOpen() || store.isOpen(); }

    // Cache key of page (px, py) of `plane` in slice z: its position in the
    // file's order of pages.
    int64_t key(int px, int py, int z, int plane) const {
        const ekTiffLayout& l = layout();
        return ((int64_t(z) * l.planes + plane) * l.pagesDown + py) * l.pagesAcross + px;
    }

    // The page sink: pages decoded from the file (or zeros), dirty pages
    // encoded (on the pool when there are several) and written in the order
    // given, and the position of a key.
    ekStatus load(int64_t key, void* pixels, bool decode) override;
    ekStatus writeBack(ekTiffPage** pages, int count) override;
    void position(int64_t key, int& x, int& y, int& z, int& c) const override;
};

// Decodes one page into its placeholder in the cache, on a pool thread.
class ekTiffDecodeJob final : public ekTiffJob {
public:
    ekTiffImg::State* state = nullptr;
    ekTiffPage* page = nullptr;

private:
    void run() override {
        state->cache.finishLoad(page, state->load(page->key, page->pixels, true));
    }
};

#endif  // EKS_TIFF_TIFF_STATE_H
