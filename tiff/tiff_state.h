// SPDX-License-Identifier: Apache-2.0
// What an ekTiffImg holds behind its pointer: the file, the page cache, and
// the fetching of pages through the cache.
#ifndef EKS_TIFF_TIFF_STATE_H
#define EKS_TIFF_TIFF_STATE_H

#include <cstdint>

#include "eks/tiff.h"
#include "tiff/page_cache.h"
#include "tiff/tiff_file.h"
#include "tiff/tiff_store.h"

// Internal: hidden from the library's exports although nested in ekTiffImg.
struct __attribute__((visibility("hidden"))) ekTiffImg::State final : ekTiffPageSink {
    ekTiffFile file;          // a file opened for reading; every image's messages
    ekTiffStore store{file};  // a file the image created
    ekTiffLayout lay;
    ekTiffPageCache cache{*this};
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

    // The page from the cache, or a new one: decoded from the file when
    // `decode`, else zeros (a write is about to cover it). Null with the
    // status in `s` when it cannot be had.
    ekTiffPage* fetch(int px, int py, int z, int plane, bool decode, ekStatus& s);

    // Decodes a page from the file.
    ekStatus readPage(int px, int py, int z, int plane, void* pixels);
    // Encodes a dirty page into the file.
    ekStatus writeBack(ekTiffPage& page) override;
};

#endif  // EKS_TIFF_TIFF_STATE_H
