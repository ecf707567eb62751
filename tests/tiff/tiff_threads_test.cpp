// SPDX-License-Identifier: Apache-2.0
// Threads: pages decoded on the pool (failing ones too) and files written
// alike with any thread count, no thread started until needed. (Concurrent
// readers: the layout comparison; JPEG on the pool's handles: the codecs.)
#include <dirent.h>
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstring>
#include <random>
#include <vector>

#include "eks/tiff.h"
#include "tiff_test_files.h"

namespace {

int threadsInProcess() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (const dirent* e = readdir(d)) n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

// A corrupt tile in the middle of a window reads as the fill value, the
// others arrive, and the read says ekBadInput, with any number of threads.
TEST(TiffThreads, ACorruptPageFailsAloneWithAnyThreadCount) {
    RawTiffSpec spec;
    spec.width = 150;
    spec.height = 110;
    spec.channels = 3;
    spec.photometric = PHOTOMETRIC_RGB;
    spec.compression = COMPRESSION_ADOBE_DEFLATE;
    const std::string path = tempTiffPath("corrupt-middle");
    const std::vector<uint8_t> pixels = randomBytes(rawBytes(spec), 6);
    ASSERT_TRUE(writeRawTiff(path, spec, pixels));
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(nullptr, tif);
    const uint32_t bad = TIFFComputeTile(tif, 70, 50, 0, 0);
    const uint64_t at = TIFFGetStrileOffset(tif, bad), n = TIFFGetStrileByteCount(tif, bad);
    TIFFClose(tif);
    std::vector<uint8_t> bytes = readFile(path);
    for (uint64_t i = 2; i < n; ++i) bytes[size_t(at + i)] ^= 0x5A;
    writeFile(path, bytes);
    for (int threads : {1, 4}) {
        ekTiffImg img(path.c_str());
        ASSERT_EQ(ekOkay, img.setThreads(threads));
        std::vector<uint8_t> all(pixels.size(), 1);
        EXPECT_EQ(ekBadInput, img.getTile(0, 0, 150, 110, all.data(), nullptr));
        for (int y = 0; y < 110; ++y)
            for (int x = 0; x < 150; ++x) {
                const bool inBad = x / 16 == 70 / 16 && y / 16 == 50 / 16;
                const size_t i = size_t(y * 150 + x) * 3;
                ASSERT_EQ(inBad ? 0 : pixels[i], all[i]) << threads << " " << x << " " << y;
            }
    }
}

// The same writes give the same file whatever the thread count; a created
// image starts no thread until a flush or read has several pages to code.
TEST(TiffThreads, WritesAreByteIdenticalAndThreadsStartOnlyWhenNeeded) {
    const std::vector<uint8_t> pixels = randomBytes(200 * 90 * 2, 7);
    std::vector<std::vector<uint8_t>> files;
    const int before = threadsInProcess();
    for (int threads : {1, 2, 4}) {
        const std::string path = tempTiffPath("threads" + std::to_string(threads));
        {
            ekTiffImg img(path.c_str(), ekSize(200, 90, 1, 2), ekUChar, ekSeparate, 32, 16,
                          ekTiffDeflate);
            ASSERT_EQ(ekOkay, img.setThreads(threads));
            ASSERT_EQ(ekOkay, img.setCacheBytes(5 * 32 * 16));  // evictions write too
            ASSERT_EQ(ekOkay,
                      img.setTile(0, 0, 200, 90, const_cast<uint8_t*>(pixels.data()), nullptr));
            std::vector<uint8_t> one(2 * 2 * 2);
            ASSERT_EQ(ekOkay, img.getTile(40, 20, 2, 2, one.data(), nullptr));  // one page
            if (threads == 1) {
                EXPECT_EQ(before, threadsInProcess());
            }
            ASSERT_EQ(ekOkay,
                      img.setTile(3, 5, 150, 60, const_cast<uint8_t*>(pixels.data()), nullptr));
            // Many pages read while the cache is full of dirty ones: evictions
            // encode on the pool while its workers decode.
            std::vector<uint8_t> window(120 * 50 * 2);
            ASSERT_EQ(ekOkay, img.getTile(30, 20, 120, 50, window.data(), nullptr));
            // Overview tiles are encoded on the pool too, and placed in order.
            const int factors[] = {2, 4, 3};
            ASSERT_EQ(ekOkay, img.buildOverviews(factors, 3, ekTiffAverage));
            ASSERT_EQ(ekOkay, img.close());
        }
        files.push_back(readFile(path));
        // Two threads: one worker besides the caller.
        if (threads == 2 && before == 1) {
            EXPECT_EQ(2, threadsInProcess());
        }
    }
    EXPECT_TRUE(files[0] == files[1] && files[0] == files[2]);
    // Three workers besides the caller (the caller works too), unless an
    // earlier test in this process started the pool.
    if (before == 1) {
        EXPECT_EQ(4, threadsInProcess());
    }
}

}  // namespace
