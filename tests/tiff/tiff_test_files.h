// SPDX-License-Identifier: Apache-2.0
// Test files: TIFF files written with libtiff directly (as another program
// would write them) from pixels held in the memory image's layout, and
// damaged copies of them.
#ifndef EKS_TESTS_TIFF_TEST_FILES_H
#define EKS_TESTS_TIFF_TEST_FILES_H

#include <cstdint>
#include <string>
#include <vector>

#include "eks/eks.h"

// A tag written beside the image: numbers of any TIFF type but IFD, or
// ASCII text.
struct RawTag {
    uint16_t tag, type;
    std::vector<double> numbers;
    std::string text;
};

// How to write a file. Pixels are given per directory in the memory image's
// layout: interleaved, or one plane per channel when `separate`; 1-bit
// samples packed without row padding, samples of other sizes as elements of
// the type they widen to (specType).
struct RawTiffSpec {
    int width = 40, height = 30, channels = 1;
    int bits = 8, format = 1;  // SAMPLEFORMAT_UINT
    bool separate = false;
    bool tiled = true;
    int tileW = 16, tileH = 16;  // when tiled
    int rowsPerStrip = 7;        // when not
    int photometric = 1;         // PHOTOMETRIC_MINISBLACK
    int orientation = 1;
    int compression = 1;  // JPEG: pixels given as RGB, stored as YCbCr
    int directories = 1;
    int subfileType = 0;  // 1 reduced resolution, 4 mask
    int subIfds = 0;      // writeRawTiffs: the directories after this one are its SubIFDs
    std::vector<uint16_t> colormap;  // palette: 2^bits red, then green, then blue
    std::vector<RawTag> tags;
    const char* mode = "w";  // of the file (the first spec's): "wb" big-endian, "w8" BigTIFF
};

// Bytes of one directory's pixels in that layout.
int64_t rawBytes(const RawTiffSpec& spec);
// Deterministic pseudo-random bytes.
std::vector<uint8_t> randomBytes(int64_t n, uint32_t seed);
// Writes the file; `pixels` holds `directories` images one after the other.
// False when libtiff refused (the test then fails).
bool writeRawTiff(const std::string& path, const RawTiffSpec& spec,
                  const std::vector<uint8_t>& pixels);
// Writes one directory per spec (each of one directory) with its pixels.
bool writeRawTiffs(const std::string& path, const std::vector<RawTiffSpec>& specs,
                   const std::vector<std::vector<uint8_t>>& pixels);

// A fresh path in the test's temporary folder.
std::string tempTiffPath(const std::string& name);
std::vector<uint8_t> readFile(const std::string& path);
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);

// The element type of a spec (the image's data type; the type of the
// indices of a palette).
ekType specType(const RawTiffSpec& spec);
// Random pixels for a spec, every sample within its bits.
std::vector<uint8_t> randomPixels(const RawTiffSpec& spec, uint32_t seed);

// A directory of a tiled file of 8-bit samples as libtiff alone decodes it:
// its size, its NewSubfileType and its pixels, interleaved (empty when a
// tile does not decode).
struct LibtiffDirectory {
    uint32_t width = 0, height = 0, subfileType = 0;
    std::vector<uint8_t> pixels;
};
LibtiffDirectory readWithLibtiff(const std::string& path, int directory);

#endif  // EKS_TESTS_TIFF_TEST_FILES_H
