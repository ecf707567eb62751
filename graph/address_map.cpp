// SPDX-License-Identifier: Apache-2.0
// ekAddressMap: open addressing with linear probing over a power-of-two table.
#include "graph/address_map.h"

#include <cstdlib>

ekAddressMap::~ekAddressMap() { std::free(slots); }

size_t ekAddressMap::home(const void* key) const {
    // Fibonacci hashing of the address without its alignment bits.
    const uint64_t h = (uint64_t(reinterpret_cast<uintptr_t>(key)) >> 4) * 0x9E3779B97F4A7C15ull;
    return size_t(h >> 32) & (capacity - 1);
}

bool ekAddressMap::grow() {
    const size_t bigger = capacity == 0 ? 64 : capacity * 2;
    Slot* fresh = static_cast<Slot*>(std::calloc(bigger, sizeof(Slot)));
    if (fresh == nullptr) return false;
    Slot* old = slots;
    const size_t oldCapacity = capacity;
    slots = fresh;
    capacity = bigger;
    for (size_t i = 0; i < oldCapacity; ++i) {
        if (old[i].key == nullptr) continue;
        size_t j = home(old[i].key);
        while (slots[j].key != nullptr) j = (j + 1) & (capacity - 1);
        slots[j] = old[i];
    }
    std::free(old);
    return true;
}

bool ekAddressMap::insert(const void* key, uint64_t value) {
    // At most half full: probe runs stay short.
    if ((count + 1) * 2 > capacity && !grow()) return false;
    size_t i = home(key);
    while (slots[i].key != nullptr && slots[i].key != key) i = (i + 1) & (capacity - 1);
    if (slots[i].key == nullptr) ++count;
    slots[i] = {key, value};
    return true;
}

uint64_t ekAddressMap::find(const void* key, uint64_t missing) const {
    if (capacity == 0 || key == nullptr) return missing;
    for (size_t i = home(key); slots[i].key != nullptr; i = (i + 1) & (capacity - 1))
        if (slots[i].key == key) return slots[i].value;
    return missing;
}

void ekAddressMap::erase(const void* key) {
    if (capacity == 0 || key == nullptr) return;
    const size_t mask = capacity - 1;
    size_t i = home(key);
    while (slots[i].key != key) {
        if (slots[i].key == nullptr) return;
        i = (i + 1) & mask;
    }
    // Backward shift: every later entry of the run whose home does not lie
    // cyclically in (i, j] moves into the hole, so that lookups never stop
    // early at it.
    for (size_t j = (i + 1) & mask; slots[j].key != nullptr; j = (j + 1) & mask) {
        const size_t h = home(slots[j].key);
        const bool stays = i <= j ? (i < h && h <= j) : (i < h || h <= j);
        if (stays) continue;
        slots[i] = slots[j];
        i = j;
    }
    slots[i] = {nullptr, 0};
    --count;
}
