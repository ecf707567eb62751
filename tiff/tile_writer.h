// SPDX-License-Identifier: Apache-2.0
// ekTiffTileWriter: tiles computed one after another (an overview's, say),
// encoded on the pool while the next ones are computed, and placed in the
// file in the order they were written, so that the file does not depend on
// the thread count. The writer owns a buffer per tile in flight: a window of
// four tiles per thread.
#ifndef EKS_TIFF_TILE_WRITER_H
#define EKS_TIFF_TILE_WRITER_H

#include <cstdint>

#include "tiff/thread_pool.h"
#include "tiff/tiff_codec.h"
#include "tiff/tiff_store.h"

// Encodes one page of pixels for a store, on a pool thread or the caller's.
class ekTiffEncodeJob : public ekTiffJob {
public:
    ekTiffStore* store = nullptr;
    const void* pixels = nullptr;
    ekTiffBytes encoded;
    ekStatus status = ekOkay;

protected:
    void run() override { status = store->encode(pixels, encoded); }
};

class ekTiffTileWriter {
public:
    // Tiles of `pageBytes` bytes for `store`, encoded on `threads` threads
    // (one is the caller's; 1 encodes each tile on the caller's thread).
    ekTiffTileWriter(ekTiffStore& store, int threads, int64_t pageBytes);
    ekTiffTileWriter(const ekTiffTileWriter&) = delete;
    ekTiffTileWriter& operator=(const ekTiffTileWriter&) = delete;
    // Places what is still queued (as finish() does) and frees the buffers:
    // no encode outlives the writer.
    ~ekTiffTileWriter();

    // The buffer to fill with the next tile, then given to write(); null
    // when memory runs out.
    void* next();
    // Queues the tile in the buffer next() gave as tile `index` of the file.
    void write(int64_t index);
    // Places every queued tile. The first failure among all the tiles
    // written, else ekOkay.
    ekStatus finish();
    // The first failure among the tiles placed so far, else ekOkay.
    ekStatus status() const { return result; }

private:
    static constexpr int kMaxWindow = 64;
    struct Slot final : ekTiffEncodeJob {
        void* buffer = nullptr;  // owned: the tile's pixels
        int64_t index = 0;
    };
    void placeOldest();

    ekTiffStore& store;
    const int64_t pageBytes;
    ekTiffThreadPool* pool = nullptr;
    int window = 1;
    int head = 0, queued = 0;  // a ring of the tiles in flight
    ekStatus result = ekOkay;
    Slot slots[kMaxWindow];
};

#endif  // EKS_TIFF_TILE_WRITER_H
