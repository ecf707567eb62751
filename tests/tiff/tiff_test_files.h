// SPDX-License-Identifier: Apache-2.0
// Test files: TIFF files written with libtiff directly (as another program
// would write them) from pixels in the memory image's layout, read with
// libtiff alone, and damaged copies of them.
#ifndef EKS_TESTS_TIFF_TEST_FILES_H
#define EKS_TESTS_TIFF_TEST_FILES_H

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "eks/eks.h"

// A tag written beside the image: numbers of any TIFF type but IFD, or text.
struct RawTag {
    uint16_t tag, type;
    std::vector<double> numbers;
    std::string text;
};

// How to write a file. Pixels are given per directory in the memory image's
// layout: 1-bit samples packed, other sizes as elements of specType().
struct RawTiffSpec {
    int width = 40, height = 30, channels = 1;
    int bits = 8, format = 1;  // SAMPLEFORMAT_UINT
    bool separate = false;
    bool tiled = true;
    int tileW = 16, tileH = 16;  // when tiled
    int rowsPerStrip = 7;        // when not
    int photometric = 1;         // PHOTOMETRIC_MINISBLACK
    int orientation = 1;
    int compression = 1;
    int directories = 1;
    int subsampling = 0;  // YCbCr's, both ways
    bool sparse = false;  // pages of zeros are left out (byte count 0)
    int subfileType = 0;  // 1 reduced resolution, 4 mask
    int subIfds = 0;      // writeRawTiffs: the directories after this one are its SubIFDs
    std::vector<uint16_t> colormap;  // palette: 2^bits red, then green, then blue
    std::vector<RawTag> tags;
    const char* mode = "w";  // of the file (the first spec's): "wb" big-endian, "w8" BigTIFF
};

int64_t rawBytes(const RawTiffSpec& spec);  // of one directory's pixels
std::vector<uint8_t> randomBytes(int64_t n, uint32_t seed);
// Writes the file, `pixels` holding its directories one after the other;
// false when libtiff refused.
bool writeRawTiff(const std::string& path, const RawTiffSpec& spec,
                  const std::vector<uint8_t>& pixels);
// Writes one directory per spec (each of one directory) with its pixels.
bool writeRawTiffs(const std::string& path, const std::vector<RawTiffSpec>& specs,
                   const std::vector<std::vector<uint8_t>>& pixels);

std::string tempTiffPath(const std::string& name);  // in the test's temporary folder
std::vector<uint8_t> readFile(const std::string& path);
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
// The whole image in its own layout, read into bytes that were `before` (a
// 1-bit image's padding keeps them).
std::vector<uint8_t> readAll(ekImage& img, uint8_t before = 0xCD);

ekType specType(const RawTiffSpec& spec);  // the element type (of a palette's indices)
// Random pixels for a spec, every sample within its bits, floats finite.
std::vector<uint8_t> randomPixels(const RawTiffSpec& spec, uint32_t seed);

// A directory of an RGB file of 8-bit samples as libtiff alone decodes it
// (no pixels when a page does not decode).
struct LibtiffDirectory {
    uint32_t width = 0, height = 0, subfileType = 0;
    std::vector<uint8_t> pixels;
};
LibtiffDirectory readWithLibtiff(const std::string& path, int directory);

// Copies of the file cut at `cuts` random lengths and `flips` with up to 8
// bits flipped (every other one in the header or at the end) are opened, at
// their last overview too, and read: a status and, on a failure, an error
// message; never a crash, a read past a buffer (the sanitizer build checks)
// or a word on stderr. Counts the cuts and flips that failed in `failed`.
void expectDamageHandled(const std::string& path, int cuts, int flips, std::mt19937& rng,
                         int failed[2]);

#endif  // EKS_TESTS_TIFF_TEST_FILES_H
