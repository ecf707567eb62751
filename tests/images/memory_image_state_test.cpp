// SPDX-License-Identifier: Apache-2.0
// ekMemoryImg state as others see it: the page geometry follows the size,
// every write reaches the image's consumers, and the 32-bit limits. A layout
// of more than 2^31 - 1 elements, or of more than 2^31 - 1 bytes, cannot be
// served and is refused with ekNoMemory; one exactly at either limit is
// accepted. The limits are judged over a borrowed one-byte buffer that no
// reset reads or writes, so nothing large is allocated.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "eks/images.h"

namespace {

TEST(MemoryImageState, OnePageHoldsTheWholeImageAfterEveryResize) {
    ekMemoryImg img(ekSize(4, 4, 1, 1), ekUShort, ekInterleaved);
    EXPECT_EQ(img.getPageSize(), 32);
    EXPECT_EQ(img.setSize(ekSize(8, 2, 3, 2)), ekOkay);
    int page[4];
    EXPECT_EQ(img.getPageSize(page[0], page[1], page[2], page[3]), 8 * 2 * 3 * 2 * 2);
    EXPECT_EQ(std::vector<int>(page, page + 4), (std::vector<int>{8, 2, 3, 2}));
}

TEST(MemoryImageState, EveryWriteReachesAnAutoSyncedCopy) {
    ekMemoryImg src(ekSize(2, 1, 1, 1), ekUChar, ekInterleaved);
    ekMemoryImg other(ekSize(2, 1, 1, 1), ekUChar, ekInterleaved);
    ekMemoryImg copy(&src, 1);
    auto* theirs = static_cast<unsigned char*>(other.getDataPtr());
    theirs[0] = 1;
    theirs[1] = 9;
    unsigned char pair[2] = {5, 6}, seven = 7;
    const std::function<ekStatus()> writes[] = {
        [&] { return src.setTile(0, 0, 2, 1, pair, nullptr); },
        [&] { return src.fillTile(0, 0, 2, 1, &seven, nullptr, nullptr); },
        [&] { return src.copyTile(0, 0, 2, 1, &other, 0, 0, nullptr, 1); },
    };
    ASSERT_EQ(copy.getStatus(), ekOkay);  // synced once; only the writes may tell it more
    for (const auto& write : writes) {
        ASSERT_EQ(write(), ekOkay);
        unsigned char seen[2] = {0, 0};
        ASSERT_EQ(copy.getTile(0, 0, 2, 1, seen, nullptr), ekOkay);
        const auto* mine = static_cast<unsigned char*>(src.getDataPtr());
        EXPECT_EQ(std::vector<unsigned char>(seen, seen + 2),
                  std::vector<unsigned char>(mine, mine + 2));
    }
}

TEST(MemoryImageState, ElementCountAndByteSizeAtTheInt32Limit) {
    unsigned char never = 0;
    const struct {
        ekType type;
        ekSize size;
        ekStatus want;
    } rows[] = {
        {ekBit, ekSize(INT32_MAX, 1, 1, 1), ekOkay},               // 2^31 - 1 elements
        {ekBit, ekSize(1 << 16, 1 << 14, 1, 2), ekNoMemory},       // 2^31 elements in 256 MB
        {ekBit, ekSize(2, 1 << 14, 1 << 14, 1 << 2), ekNoMemory},  // the same, reached over z and c
        {ekUChar, ekSize(INT32_MAX, 1, 1, 1), ekOkay},             // 2^31 - 1 bytes
        {ekUShort, ekSize(1 << 15, 1 << 15, 1, 1), ekNoMemory},    // 2^30 elements in 2^31 bytes
    };
    for (const auto& r : rows) {
        ekMemoryImg img(&never, r.size, r.type, ekInterleaved);
        EXPECT_EQ(img.getStatus(), r.want) << "type " << r.type << ", " << r.size.x << " x "
                                           << r.size.y << " x " << r.size.z << " x " << r.size.c;
    }
    EXPECT_EQ(never, 0);
}

}  // namespace
