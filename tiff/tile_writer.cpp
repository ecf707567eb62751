// SPDX-License-Identifier: Apache-2.0
// ekTiffTileWriter: a ring of slots, each a tile's pixels and its encoding
// job; the oldest is placed when the ring is full or at the end.
#include "tiff/tile_writer.h"

#include <cstdlib>

ekTiffTileWriter::ekTiffTileWriter(ekTiffStore& s, int threads, int64_t bytes)
    : store(s), pageBytes(bytes) {
    if (threads > 1) pool = ekTiffThreadPool::get(threads - 1);
    if (pool != nullptr) window = 4 * threads < kMaxWindow ? 4 * threads : kMaxWindow;
}

ekTiffTileWriter::~ekTiffTileWriter() {
    finish();
    for (Slot& slot : slots) std::free(slot.buffer);
}

void* ekTiffTileWriter::next() {
    if (queued == window) placeOldest();
    Slot& slot = slots[(head + queued) % window];
    if (slot.buffer == nullptr) slot.buffer = std::malloc(size_t(pageBytes));
    slot.pixels = slot.buffer;
    return slot.buffer;
}

void ekTiffTileWriter::write(int64_t index) {
    Slot& slot = slots[(head + queued) % window];
    slot.store = &store;
    slot.index = index;
    slot.reset();
    if (pool != nullptr) pool->submit(slot);
    ++queued;
}

ekStatus ekTiffTileWriter::finish() {
    while (queued > 0) placeOldest();
    return result;
}

// Encoded here if no worker took it; while a worker does, this thread
// encodes the tiles after it.
void ekTiffTileWriter::placeOldest() {
    Slot& slot = slots[head];
    if (pool != nullptr) {
        ekTiffJob* ahead[kMaxWindow];
        for (int k = 1; k < queued; ++k) ahead[k - 1] = &slots[(head + k) % window];
        pool->completeHelping(slot, ahead, queued - 1);
    } else {
        slot.status = store.encode(slot.pixels, slot.encoded);
    }
    ekStatus s = slot.status;
    if (s == ekOkay) s = store.place(slot.index, slot.encoded);
    if (s != ekOkay && result == ekOkay) result = s;
    head = (head + 1) % window;
    --queued;
}
