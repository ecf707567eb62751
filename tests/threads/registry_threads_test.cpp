// SPDX-License-Identifier: Apache-2.0
// Threads that each build and destroy their own images at once share the
// process-wide registries (live links, seed images, resource ids). .ci/run
// also builds this test with ThreadSanitizer.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "eks/images.h"

namespace {

// Chains of memory images built from each other, read back, collapsed and
// destroyed; returns the resource ids seen and counts faults in `errors`.
std::vector<unsigned> workOnOwnImages(int rounds, int seed, int& errors) {
    std::vector<unsigned> ids;
    for (int round = 0; round < rounds; ++round) {
        const unsigned char value = static_cast<unsigned char>(seed * 31 + round);
        auto* a = new ekMemoryImg(ekSize(8, 4, 1, 1), ekUChar, ekInterleaved);
        a->ref();  // a: 1
        a->fillTile3D(0, 0, 0, 8, 4, 1, const_cast<unsigned char*>(&value), nullptr, nullptr);
        auto* b = new ekMemoryImg(a, 0);  // copies a once; a: 2
        auto* c = new ekMemoryImg(b, 1);  // copies b at every reset; b: 1
        b->ref();                         // b: 2
        unsigned char pixels[32] = {};
        c->getTile(0, 0, 8, 4, pixels, nullptr);
        errors +=
            int(std::count_if(pixels, pixels + 32, [&](unsigned char p) { return p != value; }));
        errors += ekSIDImage::asSidImage(b) == b ? 0 : 1;
        for (ekMemoryImg* img : {a, b, c}) ids.push_back(img->ResourceID());
        errors += c->CollapseSeed() ? 0 : 1;  // b merged into a; a: 3, b: 1
        b->unref();                           // destroys b (its reference on a stays)
        delete c;                             // so does c's
        for (int i = 0; i < 3; ++i) a->unref();
    }
    return ids;
}

// Without a sanitizer, enough rounds that unguarded registries crash or hang
// the test most of the time; ThreadSanitizer reports a race within a few.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kRounds = 500;
#else
constexpr int kRounds = 10000;
#endif

TEST(Threads, EachThreadItsOwnImages) {
    const int threads = 8;
    std::vector<std::vector<unsigned>> ids(threads);
    std::vector<int> errors(threads, 0);
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&, t] { ids[t] = workOnOwnImages(kRounds, t, errors[t]); });
    for (std::thread& th : pool) th.join();
    std::vector<unsigned> all;
    for (int t = 0; t < threads; ++t) {
        EXPECT_EQ(errors[t], 0) << "thread " << t;
        all.insert(all.end(), ids[t].begin(), ids[t].end());
    }
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());  // ids never shared
    EXPECT_EQ(all.size(), size_t(threads * kRounds * 3));
}

}  // namespace
