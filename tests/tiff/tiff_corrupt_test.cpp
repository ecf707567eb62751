// SPDX-License-Identifier: Apache-2.0
// Damaged files: valid files cut short and with bytes flipped either refuse
// to open or fail page by page, with statuses and messages, never a crash, a
// read past a buffer (the sanitizer build checks) or a word on stderr.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <random>
#include <vector>

#include "eks/tiff.h"
#include "tiff_test_files.h"

namespace {

// Opens the file and reads a bounded window twice, in the image's layout and
// in another one; returns the first failure status seen (or ekOkay).
ekStatus openAndRead(const std::string& path, std::string& message) {
    ekTiffImg img(path.c_str());
    ekStatus s = img.getStatus();
    if (s == ekOkay) {
        const int nx = std::min(img.getXsize(), 70), ny = std::min(img.getYsize(), 50);
        const int nz = std::min(img.getZsize(), 2), nc = img.getCsize();
        std::vector<double> buf(size_t(nx + 2) * size_t(ny + 2) * size_t(nz) * size_t(nc));
        const ekConfig cfg(ekDouble, ekSeparate, nc, nullptr, 0, ekLowerRight, ekColorModel(0));
        s = img.getTile3D(-1, -1, 0, nx + 2, ny + 2, nz, buf.data(), &cfg);
        const ekStatus again = img.getTile3D(0, 0, 0, nx, ny, nz, buf.data(), nullptr);
        if (s == ekOkay) s = again;
    }
    message = img.getMessage();
    return s;
}

std::vector<std::vector<uint8_t>> validFiles() {
    std::vector<std::vector<uint8_t>> files;
    RawTiffSpec tiled;
    tiled.width = 60;
    tiled.height = 45;
    tiled.channels = 3;
    tiled.photometric = PHOTOMETRIC_RGB;
    tiled.compression = COMPRESSION_ADOBE_DEFLATE;
    RawTiffSpec strips = tiled;
    strips.tiled = false;
    strips.bits = 16;
    strips.separate = true;
    strips.compression = COMPRESSION_LZW;
    strips.directories = 2;
    RawTiffSpec plain = tiled;
    plain.compression = COMPRESSION_NONE;
    plain.bits = 1;
    plain.channels = 1;
    plain.photometric = PHOTOMETRIC_MINISWHITE;
    for (const RawTiffSpec& s : {tiled, strips, plain}) {
        const std::string path = tempTiffPath("valid" + std::to_string(files.size()));
        EXPECT_TRUE(writeRawTiff(path, s, randomBytes(rawBytes(s) * s.directories, 4)));
        files.push_back(readFile(path));
    }
    return files;
}

TEST(TiffCorrupt, TruncatedFilesGiveStatusesNotCrashes) {
    const std::string path = tempTiffPath("cut");
    int failed = 0, tried = 0;
    for (const std::vector<uint8_t>& file : validFiles())
        for (int part = 0; part < 24; ++part) {
            const size_t keep = file.size() * size_t(part) / 24;
            writeFile(path, std::vector<uint8_t>(file.begin(), file.begin() + long(keep)));
            testing::internal::CaptureStderr();
            std::string message;
            const ekStatus s = openAndRead(path, message);
            EXPECT_EQ("", testing::internal::GetCapturedStderr());
            ++tried;
            if (s == ekOkay) continue;
            ++failed;
            EXPECT_NE("", message) << "status " << s;
        }
    EXPECT_GT(failed, tried / 2);  // most cuts lose pages or the directory
}

TEST(TiffCorrupt, FlippedBytesGiveStatusesNotCrashes) {
    const std::string path = tempTiffPath("flip");
    std::mt19937 rng(12);
    int failed = 0;
    for (const std::vector<uint8_t>& file : validFiles())
        for (int trial = 0; trial < 150; ++trial) {
            std::vector<uint8_t> bad = file;
            const int flips = 1 + int(rng() % 8);
            // Half the trials damage the header and directory (at the start or
            // the end of the file), the others anywhere.
            for (int f = 0; f < flips; ++f) {
                size_t at = rng() % bad.size();
                if (trial % 2 == 0) at = rng() % 2 ? at % 64 : bad.size() - 1 - at % 256;
                bad[at] ^= uint8_t(1u << (rng() % 8));
            }
            writeFile(path, bad);
            testing::internal::CaptureStderr();
            std::string message;
            const ekStatus s = openAndRead(path, message);
            EXPECT_EQ("", testing::internal::GetCapturedStderr()) << "trial " << trial;
            if (s != ekOkay) {
                ++failed;
                EXPECT_NE("", message);
            }
        }
    EXPECT_GT(failed, 0);
}

}  // namespace
