// SPDX-License-Identifier: Apache-2.0
// Durability of created files: a write that fails (the file may not grow:
// RLIMIT_FSIZE, as on a full disk) leaves the file as its last flush made
// it, keeps the failed pages for a later flush, and is reported by flush(),
// close() and the message; rewrites do not grow the file without bound.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <tiffio.h>

#include <csignal>
#include <memory>
#include <vector>

#include "eks/tiff.h"
#include "tiff_test_files.h"

namespace {

uint64_t fileBytes(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? uint64_t(st.st_size) : 0;
}

// While alive, no file of this process may grow past `limit` bytes.
class FileSizeLimit {
public:
    explicit FileSizeLimit(uint64_t limit) {
        std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit l = saved;
        l.rlim_cur = rlim_t(limit);
        setrlimit(RLIMIT_FSIZE, &l);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved); }

private:
    rlimit saved{};
};

// The file's pixels as libtiff alone reads them.
std::vector<uint8_t> onDisk(const std::string& path) { return readWithLibtiff(path, 0).pixels; }

// A flush, a close and, on the second file, the destructor that fail for
// lack of space; then, for the first, space again.
TEST(TiffDurability, AFailedWriteKeepsTheFlushedFileAndThePages) {
    const ekSize size(128, 128, 1, 3);  // 16 tiles of 32 x 32
    for (bool destructor : {false, true}) {
        const std::string path = tempTiffPath("full");
        const std::vector<uint8_t> first = randomBytes(128 * 128 * 3, 1 + destructor);
        std::vector<uint8_t> second = randomBytes(128 * 128 * 3, 3 + destructor);
        auto img = std::make_unique<ekTiffImg>(path.c_str(), size, ekUChar,
                                               destructor ? ekSeparate : ekInterleaved, 32, 32,
                                               destructor ? ekTiffLZW : ekTiffDeflate);
        ASSERT_EQ(ekOkay,
                  img->setTile(0, 0, 128, 128, const_cast<uint8_t*>(first.data()), nullptr));
        ASSERT_EQ(ekOkay, img->flush());
        const std::vector<uint8_t> flushed = onDisk(path);
        ASSERT_FALSE(flushed.empty());
        ASSERT_EQ(ekOkay, img->setTile(0, 0, 128, 128, second.data(), nullptr));
        {
            FileSizeLimit full(fileBytes(path) + (destructor ? 0 : 20000));  // a few tiles' room
            if (destructor) {
                img.reset();  // its pages cannot be written
                EXPECT_TRUE(onDisk(path) == flushed);
                continue;
            }
            EXPECT_EQ(ekBadInput, img->flush());
            EXPECT_NE(std::string(), img->getMessage());
            EXPECT_EQ(ekBadInput, img->close());  // still open, pages kept
            EXPECT_EQ(1, img->hasUnwrittenData());
            EXPECT_TRUE(onDisk(path) == flushed);
        }
        // Space again: everything written is there.
        ASSERT_EQ(ekOkay, img->close()) << img->getMessage();
        EXPECT_EQ(ekNotAllowed, img->close());
        EXPECT_EQ(ekNotAllowed, img->getTile(0, 0, 2, 2, second.data(), nullptr));
        EXPECT_TRUE(onDisk(path) == second);
    }
}

// Rewritten and flushed 40 times, a file stays near its live size; closed,
// it holds little more than its tiles and directory.
TEST(TiffDurability, RewritesReuseSpaceAndCloseCompacts) {
    const std::string path = tempTiffPath("grow");
    const ekSize size(512, 512, 1, 1);
    ekTiffImg img(path.c_str(), size, ekUChar, ekInterleaved, 64, 64, ekTiffDeflate);
    std::vector<uint8_t> pixels;
    uint64_t largest = 0;
    for (uint32_t round = 0; round < 40; ++round) {
        pixels = randomBytes(512 * 512, 10 + round);
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] &= round % 2 ? 0xFF : 0x0F;
        ASSERT_EQ(ekOkay, img.setTile(0, 0, 512, 512, pixels.data(), nullptr));
        ASSERT_EQ(ekOkay, img.flush());
        largest = std::max(largest, fileBytes(path));
    }
    EXPECT_LT(largest, 3 * 512 * 512);
    ASSERT_EQ(ekOkay, img.close());
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(nullptr, tif);
    uint64_t tiles = 0;
    for (uint32_t t = 0; t < TIFFNumberOfTiles(tif); ++t) tiles += TIFFGetStrileByteCount(tif, t);
    TIFFClose(tif);
    EXPECT_LE(fileBytes(path), tiles * 5 / 4 + 4096);
    ekTiffImg back(path.c_str());
    std::vector<uint8_t> all(pixels.size());
    ASSERT_EQ(ekOkay, back.getTile(0, 0, 512, 512, all.data(), nullptr));
    EXPECT_TRUE(all == pixels);
}

}  // namespace
