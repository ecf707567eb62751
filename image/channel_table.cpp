// SPDX-License-Identifier: Apache-2.0
// ekChannelTable: explicit channel lists for transfer blocks.
#include "image/channel_table.h"

#include <cstddef>
#include <new>

int* ekChannelTable::make(int n) {
    if (n <= kLocal) return entries = local;
    delete[] heap;
    heap = new (std::nothrow) int[std::size_t(n)];
    return entries = heap;
}

bool ekChannelTable::build(const int* list, int offset, int n, int valid) {
    if (n < 1) n = 1;  // a block with no channels still gets a readable list
    if (make(n) == nullptr) return false;
    for (int k = 0; k < n; ++k) {
        const int64_t index = int64_t(k) + offset;
        int entry = -1;
        if (k < valid) {
            if (list != nullptr)
                entry = index >= 0 ? list[index] : -1;
            else
                entry = index > INT32_MAX ? INT32_MAX : int(index);  // index >= INT32_MIN
        }
        entries[k] = entry;
    }
    return true;
}
