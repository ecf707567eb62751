// ekMemoryImg layout: the page geometry follows the size, and the 32-bit
// limits. A layout of more than 2^31 - 1 elements, or of more than 2^31 - 1
// bytes, cannot be served and is refused with ekNoMemory; one exactly at
// either limit is accepted. The limits are judged over a borrowed one-byte
// buffer that no reset reads or writes, so nothing large is allocated.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "eks/images.h"

namespace {

TEST(MemoryImageLayout, OnePageHoldsTheWholeImageAfterEveryResize) {
    ekMemoryImg img(ekSize(4, 4, 1, 1), ekUShort, ekInterleaved);
    EXPECT_EQ(img.getPageSize(), 32);
    EXPECT_EQ(img.setSize(ekSize(8, 2, 3, 2)), ekOkay);
    int page[4];
    EXPECT_EQ(img.getPageSize(page[0], page[1], page[2], page[3]), 8 * 2 * 3 * 2 * 2);
    EXPECT_EQ(std::vector<int>(page, page + 4), (std::vector<int>{8, 2, 3, 2}));
}

TEST(MemoryImageLayout, ElementCountAndByteSizeAtTheInt32Limit) {
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
