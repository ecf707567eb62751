// SPDX-License-Identifier: Apache-2.0
// Other images and the paging API over a TIFF image: a view onto a region and
// channels of the file reads what the same view over a memory image reads and
// writes into the file; a locked tile over the file's pages outlives it;
// caller layouts the engine cannot describe are refused as by every image.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "eks/eks.h"
#include "eks/tiff.h"
#include "tiff_test_files.h"

namespace {

TEST(TiffView, ViewOverTheFileReadsAndWritesLikeOverMemory) {
    const std::string path = tempTiffPath("view");
    const ekSize size(50, 40, 1, 3);
    std::vector<uint8_t> pixels = randomBytes(50 * 40 * 3 * 2, 21);
    ekTiffImg file(path.c_str(), size, ekUShort, ekSeparate, 16, 16, ekTiffLZW);
    ASSERT_EQ(ekOkay, file.setTile(0, 0, 50, 40, pixels.data(), nullptr));
    ekMemoryImg mem(pixels.data(), size, ekUShort, ekSeparate);
    mem.setCoordSpace(ekUpperLeft);
    int list[2] = {2, 0};
    ekConfig pick(ekUShort, ekInterleaved, 2, list, 0, ekLowerRight, ekColorModel(0));
    ekSubImg overFile(&file, 7, 5, 0, 30, 28, 1, &pick);
    ekSubImg overMem(&mem, 7, 5, 0, 30, 28, 1, &pick);
    std::mt19937 rng(4);
    for (int trial = 0; trial < 40; ++trial) {
        const int x = int(rng() % 40) - 5, y = int(rng() % 36) - 4;
        const int nx = 1 + int(rng() % 30), ny = 1 + int(rng() % 30);
        const ekConfig cfg(ekFloat, ekSequential, 2, nullptr, 0, ekCoordSpace(rng() % 9),
                           ekColorModel(0));
        std::vector<float> a(size_t(nx * ny * 2), -1.0f), b = a;
        ASSERT_EQ(overMem.getTile(x, y, nx, ny, b.data(), &cfg),
                  overFile.getTile(x, y, nx, ny, a.data(), &cfg));
        ASSERT_TRUE(a == b) << "trial " << trial;
    }
    std::vector<uint16_t> patch(6 * 4 * 2, 777);
    ASSERT_EQ(ekOkay, overFile.setTile(3, 2, 6, 4, patch.data(), nullptr));
    ASSERT_EQ(ekOkay, overMem.setTile(3, 2, 6, 4, patch.data(), nullptr));
    std::vector<uint16_t> back(50 * 40 * 3);
    ASSERT_EQ(ekOkay, file.getTile(0, 0, 50, 40, back.data(), nullptr));
    EXPECT_EQ(0, std::memcmp(back.data(), pixels.data(), pixels.size()));
}

// A file image destroyed before its locked tile unlocks the tile's pages,
// writes what was written into them to the file, and leaves the tile empty.
TEST(TiffView, ImageDestroyedBeforeItsLockedTile) {
    const std::string path = tempTiffPath("locked-first");
    ekLockedTile* tile = nullptr;
    {
        ekTiffImg img(path.c_str(), ekSize(32, 16, 1, 1), ekUChar, ekInterleaved, 16, 16,
                      ekTiffNone);
        tile = img.lockTile(0, 0, 32, 16, nullptr, 0);
        ASSERT_NE(nullptr, tile);
        ASSERT_EQ(2, tile->count);
        static_cast<uint8_t*>(tile->requests[1].page->getData())[0] = 77;  // pixel (16, 0)
        img.setCacheBytes(0);                                              // the locked pages stay
        EXPECT_EQ(0, img.getCacheEvictions());
    }
    EXPECT_EQ(nullptr, tile->image);
    EXPECT_EQ(0, tile->count);
    delete tile;
    ekTiffImg reopened(path.c_str());
    uint8_t pixel = 0;
    ASSERT_EQ(ekOkay, reopened.getTile(16, 0, 1, 1, &pixel, nullptr));
    EXPECT_EQ(77, pixel);
}

TEST(TiffView, UnusableCallerLayoutsAreRefused) {
    const std::string path = tempTiffPath("layouts");
    ekTiffImg img(path.c_str(), ekSize(16, 16, 1, 1), ekUChar, ekInterleaved, 16, 16, ekTiffNone);
    uint8_t buf[16 * 16] = {0};
    const ekConfig mixed(ekType(ekUChar | ekChar), ekInterleaved, 1);
    EXPECT_EQ(ekBadAttribute, img.getTile(0, 0, 16, 16, buf, &mixed));
    EXPECT_EQ(ekBadAttribute, img.setTile(0, 0, 16, 16, buf, &mixed));
    EXPECT_EQ(ekBadAttribute, img.getTile(0, 0, 16, 16, nullptr, nullptr));
}

}  // namespace
