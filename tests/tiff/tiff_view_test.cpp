// A view onto a region and channels of a TIFF image reads what the same view
// over a memory image reads, and writes into the file through the view.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

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

}  // namespace
