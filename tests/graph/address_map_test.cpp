// SPDX-License-Identifier: Apache-2.0
// The address map behind the registries of live objects, against a standard
// map: random insertions and removals over a small address range, so that
// probe runs collide, wrap around the table and are shifted back on removal.
#include "graph/address_map.h"

#include <gtest/gtest.h>

#include <random>
#include <unordered_map>

namespace {

TEST(AddressMap, MatchesAStandardMap) {
    ekAddressMap map;
    std::unordered_map<uintptr_t, uint64_t> model;
    std::mt19937 rng(11u);
    for (int round = 0; round < 200000; ++round) {
        // Addresses 16 bytes apart, as objects are; a few hundred of them.
        const uintptr_t address = 16 * (1 + rng() % 700);
        const void* key = reinterpret_cast<const void*>(address);
        if (rng() % 3 == 0) {
            map.erase(key);
            model.erase(address);
        } else {
            ASSERT_TRUE(map.insert(key, round));
            model[address] = uint64_t(round);
        }
        const uintptr_t probe = 16 * (1 + rng() % 700);
        const auto it = model.find(probe);
        ASSERT_EQ(map.find(reinterpret_cast<const void*>(probe), ~0ull),
                  it == model.end() ? ~0ull : it->second);
        ASSERT_EQ(map.size(), model.size());
    }
    EXPECT_EQ(map.find(nullptr, 7), 7u);
}

}  // namespace
