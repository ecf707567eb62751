// SPDX-License-Identifier: Apache-2.0
// A hash map from object addresses to 64-bit values, for the process-wide
// registries of live objects: constant-time insertion, removal and lookup by
// address, whatever the number of live objects. Open addressing with linear
// probing; removal shifts the following entries back, so no tombstones pile
// up. Never throws: a failed growth is reported by insert. Not synchronised:
// the registries that own one guard it with their own mutex.
#ifndef EKS_GRAPH_ADDRESS_MAP_H
#define EKS_GRAPH_ADDRESS_MAP_H

#include <cstddef>
#include <cstdint>

class ekAddressMap {
public:
    ekAddressMap() : slots(nullptr), capacity(0), count(0) {}
    ekAddressMap(const ekAddressMap&) = delete;
    ekAddressMap& operator=(const ekAddressMap&) = delete;
    // (The registries are never destroyed, so that objects that outlive
    // static destruction can still leave them.)
    ~ekAddressMap();

    // Enters or replaces `key` (non-null). False when memory ran out; the map
    // is then unchanged.
    bool insert(const void* key, uint64_t value);
    // Removes `key` if present.
    void erase(const void* key);
    // The value of `key`, or `missing` when it is not in the map.
    uint64_t find(const void* key, uint64_t missing) const;
    size_t size() const { return count; }

private:
    struct Slot {
        const void* key;  // null: free
        uint64_t value;
    };
    size_t home(const void* key) const;
    bool grow();

    Slot* slots;
    size_t capacity;  // a power of two, or 0 before the first insertion
    size_t count;
};

#endif  // EKS_GRAPH_ADDRESS_MAP_H
