// SPDX-License-Identifier: Apache-2.0
// ekChannelTable: an explicit channel list for a transfer block, built when
// the caller's channel selection cannot be handed to the engine as it is.
#ifndef EKS_IMAGE_CHANNEL_TABLE_H
#define EKS_IMAGE_CHANNEL_TABLE_H

#include <cstdint>

// Used where a copy must describe this image's buffer (which has the image's
// channel count) with a caller's selection of another count: the selection is
// kept for the channels it names and the rest select nothing.
class ekChannelTable {
public:
    ekChannelTable() : entries(nullptr), heap(nullptr) {}
    ekChannelTable(const ekChannelTable&) = delete;
    ekChannelTable& operator=(const ekChannelTable&) = delete;
    ~ekChannelTable() { delete[] heap; }

    // n entries; entry k is the image channel that local channel k selects:
    // list[k + offset] with a list (-1 where that index is negative; callers
    // pass offset 0 with a list, as the engine indexes lists by the local
    // channel alone), else k + offset (clamped to the 32-bit range). Entries
    // at or beyond `valid` are -1 (they select nothing). False when the
    // memory cannot be had.
    bool build(const int* list, int offset, int n, int valid);
    // Storage for n entries, for the caller to fill: local for the usual few
    // channels, the heap beyond. Null when the memory cannot be had.
    int* make(int n);
    int* get() const { return entries; }

private:
    static const int kLocal = 16;
    int* entries;  // local or heap
    int* heap;     // owned, for more than kLocal entries
    int local[kLocal];
};

#endif  // EKS_IMAGE_CHANNEL_TABLE_H
