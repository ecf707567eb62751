// SPDX-License-Identifier: Apache-2.0
// Threads: many threads reading one image at once through a tiny cache, pages
// decoded on the pool (also failing ones), files written alike with any
// thread count, and no thread started until a read needs the pool. (JPEG
// decoded on the pool's handles: the codec table reads with 1 and 4 threads.)
#include <dirent.h>
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstring>
#include <mutex>
#include <random>
#include <thread>
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

RawTiffSpec deflateRgb(int directories) {
    RawTiffSpec s;
    s.width = 150;
    s.height = 110;
    s.channels = 3;
    s.photometric = PHOTOMETRIC_RGB;
    s.compression = COMPRESSION_ADOBE_DEFLATE;
    s.directories = directories;
    return s;
}

// Each thread reads random windows (past the edges too, in its own layout)
// and compares them with a memory image over the same pixels.
TEST(TiffThreads, ManyReadersOfOneImageThroughATinyCache) {
    const RawTiffSpec spec = deflateRgb(2);
    const std::string path = tempTiffPath("shared");
    const std::vector<uint8_t> pixels = randomBytes(rawBytes(spec) * 2, 5);
    ASSERT_TRUE(writeRawTiff(path, spec, pixels));
    ekMemoryImg ref(const_cast<uint8_t*>(pixels.data()), ekSize(150, 110, 2, 3), ekUChar,
                    ekInterleaved);
    ref.setCoordSpace(ekUpperLeft);
    ekTiffImg img(path.c_str());
    ASSERT_EQ(ekOkay, img.setCacheBytes(3 * 16 * 16 * 3));  // constant eviction
    ASSERT_EQ(ekOkay, img.setThreads(3));
    std::vector<int> mismatches(4, 0);
    std::mutex refMutex;  // the memory image serves one thread at a time
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t)
        readers.emplace_back([&, t] {
            std::mt19937 rng{uint32_t(t)};
            for (int i = 0; i < 60; ++i) {
                const int x = int(rng() % 170) - 10, y = int(rng() % 130) - 10;
                const int z = int(rng() % 2), nx = 1 + int(rng() % 60), ny = 1 + int(rng() % 60);
                const ekConfig cfg(i % 2 ? ekFloat : ekUChar, i % 3 ? ekSeparate : ekInterleaved, 3,
                                   nullptr, 0, ekCoordSpace(1 + rng() % 8), ekColorModel(0));
                std::vector<float> a(size_t(nx * ny * 3)), b(a.size());
                const ekStatus sa = img.getTile3D(x, y, z, nx, ny, 1, a.data(), &cfg);
                {
                    std::lock_guard<std::mutex> lock(refMutex);
                    ref.getTile3D(x, y, z, nx, ny, 1, b.data(), &cfg);
                }
                // Bytes, not floats: 8-bit reads fill a quarter of the buffer
                // and the bytes seen as floats may be NaN.
                if (sa != ekOkay || std::memcmp(a.data(), b.data(), a.size() * 4) != 0)
                    ++mismatches[size_t(t)];
                delete img.lockTile(x, y, nx, ny, nullptr, 0);  // page locks from every thread
                EXPECT_EQ(150, img.getXsize());
                EXPECT_EQ(1, img.hasPages());
            }
        });
    for (std::thread& r : readers) r.join();
    EXPECT_EQ(std::vector<int>(4, 0), mismatches);
}

// A corrupt tile in the middle of a window: that tile reads as the fill
// value, the others arrive, and the read says ekBadInput, with any number of
// threads.
TEST(TiffThreads, ACorruptPageFailsAloneWithAnyThreadCount) {
    const RawTiffSpec spec = deflateRgb(1);
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
            // A read of many pages while the cache is full of dirty ones: the
            // evictions encode on the pool while its workers decode.
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
    // Three workers besides the caller (reads and flushes work on one fewer
    // than the image has threads, the caller being the last), unless an
    // earlier test in this process started the pool already.
    if (before == 1) {
        EXPECT_EQ(4, threadsInProcess());
    }
}

}  // namespace
