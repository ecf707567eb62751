// SPDX-License-Identifier: Apache-2.0
// Damaged files: valid files cut short and with bytes flipped, and files that
// are not there, either refuse to open or fail page by page, with statuses
// and messages, never a crash, a read past a buffer (the sanitizer build
// checks) or a word on stderr.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <random>
#include <vector>

#include "eks/tiff.h"
#include "tiff_test_files.h"

namespace {

// The bytes of every raw tag, read (the sanitizer build checks that they
// are there).
unsigned touchTags(const ekTiffImg& img) {
    static const unsigned kBytes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4, 0, 0, 8, 8, 8};
    unsigned sum = 0;
    for (int i = 0; i < img.getTagCount(); ++i) {
        const ekTiffTag* t = img.getTag(i);
        const uint64_t n = uint64_t(t->count) * (t->type < 19 ? kBytes[t->type] : 0);
        for (uint64_t k = 0; k < n; ++k) sum += static_cast<const uint8_t*>(t->data)[k];
    }
    return sum;
}

// Opens the file (and its last overview, if any) and reads a bounded window
// twice, in the image's layout and in another one; returns the first failure
// status seen (or ekOkay).
ekStatus openAndRead(const std::string& path, std::string& message, int level = 0) {
    ekTiffOpenOptions options;
    options.level = level;
    ekTiffImg img(path.c_str(), options);
    volatile unsigned sum = touchTags(img);
    (void)sum;
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
    if (s == ekOkay && level == 0 && img.getOverviewCount() > 0)
        s = openAndRead(path, message, img.getOverviewCount());
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
    // A big-endian 4-bit palette image with GDAL's tags and an overview.
    RawTiffSpec palette = plain;
    palette.mode = "wb";
    palette.bits = 4;
    palette.photometric = PHOTOMETRIC_PALETTE;
    palette.colormap.assign(3 * 16, 4000);
    palette.tags = {{33550, TIFF_DOUBLE, {60, 60, 0}, ""}, {42113, TIFF_ASCII, {}, "3"}};
    RawTiffSpec overview = palette;
    overview.width = 30;
    overview.height = 23;
    overview.subfileType = FILETYPE_REDUCEDIMAGE;
    const std::string path = tempTiffPath("valid" + std::to_string(files.size()));
    EXPECT_TRUE(writeRawTiffs(path, {palette, overview},
                              {randomPixels(palette, 5), randomPixels(overview, 6)}));
    files.push_back(readFile(path));
    return files;
}

// Each valid file cut at 24 lengths, and with up to 8 bits flipped in 150
// trials: half of them in the header and directory (at the start or the end
// of the file), the others anywhere.
TEST(TiffCorrupt, DamagedFilesGiveStatusesNotCrashes) {
    const std::string path = tempTiffPath("damaged");
    std::mt19937 rng(12);
    int cutsFailed = 0, flipsFailed = 0;
    const std::vector<std::vector<uint8_t>> files = validFiles();
    for (const std::vector<uint8_t>& file : files)
        for (int trial = 0, cuts = 24; trial < cuts + 150; ++trial) {
            const bool cut = trial < cuts;
            std::vector<uint8_t> bad = file;
            if (cut) bad.resize(file.size() * size_t(trial) / size_t(cuts));
            for (int f = 0, flips = cut ? 0 : 1 + int(rng() % 8); f < flips; ++f) {
                size_t at = rng() % bad.size();
                if (trial % 2 == 0) at = rng() % 2 ? at % 64 : bad.size() - 1 - at % 256;
                bad[at] ^= uint8_t(1u << (rng() % 8));
            }
            writeFile(path, bad);
            testing::internal::CaptureStderr();
            std::string message;
            const ekStatus s = openAndRead(path, message);
            EXPECT_EQ("", testing::internal::GetCapturedStderr()) << "trial " << trial;
            if (s == ekOkay) continue;
            ++(cut ? cutsFailed : flipsFailed);
            EXPECT_NE("", message) << "status " << s;
        }
    testing::internal::CaptureStderr();
    ekTiffImg missing((testing::TempDir() + "eks_no_such_file.tif").c_str()), unnamed(nullptr);
    for (ekTiffImg* img : {&missing, &unnamed}) {
        EXPECT_EQ(ekBadInput, img->getStatus());
        EXPECT_STRNE("", img->getMessage());
        EXPECT_EQ(0, img->getXsize());
    }
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    EXPECT_GT(cutsFailed, int(files.size()) * 24 / 2);  // most cuts lose pages or the directory
    EXPECT_GT(flipsFailed, 0);
}

}  // namespace
