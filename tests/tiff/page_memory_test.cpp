// SPDX-License-Identifier: Apache-2.0
// The page cache's buffers, small, of a few hundred kilobytes and larger than
// a slab: taken and given back at random (enough that slabs are unmapped and
// free buffers released), every held buffer keeps its contents whole.
#include "tiff/page_memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace {

struct Held {
    uint8_t* p;
    uint8_t stamp;
};

TEST(TiffPageMemory, HeldBuffersKeepTheirContentsWhateverIsGivenBack) {
    std::mt19937 rng(5);
    for (const int64_t bytes : {int64_t(96), int64_t(196608), int64_t(5) << 20}) {
        ekTiffPageMemory memory;
        memory.setBufferBytes(bytes);
        std::vector<Held> held;
        const size_t most = size_t((int64_t(24) << 20) / bytes + 2);  // well past what is kept
        // Phases: take up to a random count, then give back random buffers
        // down to another, so that the free memory passes what is kept.
        for (int phase = 0; phase < 8; ++phase) {
            const size_t target = phase % 2 == 0 ? most / 2 + rng() % (most / 2) : rng() % 3;
            while (held.size() < target) {
                uint8_t* p = static_cast<uint8_t*>(memory.take());
                ASSERT_NE(nullptr, p);
                ASSERT_EQ(0u, reinterpret_cast<uintptr_t>(p) % 64);
                const uint8_t stamp = uint8_t(rng());
                std::memset(p, stamp, size_t(bytes));
                held.push_back({p, stamp});
            }
            while (held.size() > target) {
                const size_t k = rng() % held.size();
                memory.give(held[k].p);
                held[k] = held.back();
                held.pop_back();
            }
            for (const Held& h : held)
                for (int64_t i = 0; i < bytes; i += 4093)
                    ASSERT_EQ(h.stamp, h.p[i]) << bytes << " bytes, phase " << phase;
            if (phase == 5) memory.dropFree();
        }
        for (const Held& h : held) memory.give(h.p);
    }
}

}  // namespace
