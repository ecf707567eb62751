// SPDX-License-Identifier: Apache-2.0
// Reading files written by libtiff directly: every layout read back exactly,
// any caller layout compared with a memory image over the same pixels, and
// the layouts that are refused.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "eks/tiff.h"
#include "tiff_test_files.h"

namespace {

struct Sample {
    int bits, format;
};
const Sample kSamples[] = {
    {1, SAMPLEFORMAT_UINT},  {8, SAMPLEFORMAT_UINT},    {8, SAMPLEFORMAT_INT},
    {16, SAMPLEFORMAT_UINT}, {16, SAMPLEFORMAT_INT},    {32, SAMPLEFORMAT_UINT},
    {32, SAMPLEFORMAT_INT},  {32, SAMPLEFORMAT_IEEEFP}, {64, SAMPLEFORMAT_IEEEFP}};
const int kCompressions[] = {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE};

// Pixels for a spec; floats are kept finite so that conversions compare.
std::vector<uint8_t> pixelsFor(const RawTiffSpec& s, uint32_t seed) {
    std::vector<uint8_t> p = randomBytes(rawBytes(s) * s.directories, seed);
    if (s.format == SAMPLEFORMAT_IEEEFP) {
        std::mt19937 rng(seed);
        for (size_t i = 0; i + s.bits / 8 <= p.size(); i += size_t(s.bits / 8)) {
            const double v = double(int(rng() % 2001) - 1000) / 8.0;
            if (s.bits == 32) {
                const float f = float(v);
                std::memcpy(&p[i], &f, 4);
            } else {
                std::memcpy(&p[i], &v, 8);
            }
        }
    }
    return p;
}

ekSize sizeOf(const RawTiffSpec& s) { return ekSize(s.width, s.height, s.directories, s.channels); }

ekOrder orderOf(const RawTiffSpec& s) {
    return s.separate && s.channels > 1 ? ekSeparate : ekInterleaved;
}

// Reads a whole image in its own layout.
std::vector<uint8_t> readAll(ekTiffImg& img, int64_t bytes) {
    std::vector<uint8_t> out(size_t(bytes), 0xCD);
    EXPECT_EQ(ekOkay, img.getTile3D(0, 0, 0, img.getXsize(), img.getYsize(), img.getZsize(),
                                    out.data(), nullptr));
    return out;
}

// The first `bits` bits of two buffers are equal (a bit image's last byte
// holds padding that a read leaves alone).
bool sameBits(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int64_t bits) {
    const size_t whole = size_t(bits / 8);
    if (a.size() < whole || b.size() < whole ||
        !std::equal(a.begin(), a.begin() + whole, b.begin()))
        return false;
    const int rest = int(bits % 8);
    const uint8_t mask = uint8_t(0xFF00 >> rest);
    return rest == 0 || ((a[whole] ^ b[whole]) & mask) == 0;
}

// ---------------------------------------------------------------------------

// Every sample type, both plane configurations, tiles and strips, and the
// three compressions read back bit for bit, with the attributes of the tags.
TEST(TiffRead, EveryLayoutReadsBackExactly) {
    int seed = 1;
    for (const Sample& smp : kSamples)
        for (bool separate : {false, true})
            for (bool tiled : {true, false})
                for (int comp : kCompressions) {
                    RawTiffSpec s;
                    s.bits = smp.bits;
                    s.format = smp.format;
                    s.channels = 3;
                    s.separate = separate;
                    s.tiled = tiled;
                    s.width = tiled ? 37 : 29;  // odd widths: padded rows of bits in strips
                    s.compression = comp;
                    s.photometric = PHOTOMETRIC_RGB;
                    SCOPED_TRACE(testing::Message()
                                 << "bits " << s.bits << " format " << s.format << " separate "
                                 << separate << " tiled " << tiled << " compression " << comp);
                    const std::string path = tempTiffPath("layout");
                    const std::vector<uint8_t> pixels = pixelsFor(s, uint32_t(seed++));
                    ASSERT_TRUE(writeRawTiff(path, s, pixels));
                    ekTiffImg img(path.c_str());
                    ASSERT_EQ(ekOkay, img.getStatus()) << img.getMessage();
                    EXPECT_EQ(specType(s), img.getDataType());
                    EXPECT_EQ(orderOf(s), img.getOrder());
                    EXPECT_EQ(ekRGB, img.getColorModel());
                    EXPECT_EQ(ekUpperLeft, img.getCoordSpace());
                    EXPECT_EQ(1, img.hasPages());
                    EXPECT_EQ(tiled ? 16 : s.width, img.getPageSizeX());
                    EXPECT_EQ(tiled ? 16 : s.rowsPerStrip, img.getPageSizeY());
                    EXPECT_EQ(separate ? 1 : 3, img.getPageSizeC());
                    EXPECT_TRUE(sameBits(readAll(img, rawBytes(s)), pixels,
                                         int64_t(s.width) * s.height * s.channels * s.bits));
                }
}

// Random requests in random caller layouts (type, order, channel list or
// offset, coordinate space, a buffer larger than the request, boxes that
// straddle every edge) give what a memory image over the same pixels gives.
TEST(TiffRead, AnyCallerLayoutMatchesMemoryImage) {
    std::mt19937 rng(7);
    const ekType types[] = {ekBit,   ekUChar, ekChar,  ekUShort, ekShort,
                            ekULong, ekLong,  ekFloat, ekDouble};
    const ekOrder orders[] = {ekInterleaved, ekSequential, ekSeparate};
    int file = 0;
    for (int orientation = 1; orientation <= 8; ++orientation) {
        RawTiffSpec s;
        s.width = 45;
        s.height = 38;
        s.channels = 3;
        s.bits = orientation % 2 ? 16 : 8;
        s.separate = orientation % 3 == 0;
        s.tiled = orientation != 4;
        s.directories = orientation == 5 ? 3 : 1;
        s.orientation = orientation;
        s.compression = orientation % 2 ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_NONE;
        const std::string path = tempTiffPath("layout" + std::to_string(file++));
        std::vector<uint8_t> pixels = pixelsFor(s, uint32_t(orientation));
        ASSERT_TRUE(writeRawTiff(path, s, pixels));
        ekTiffImg img(path.c_str());
        ASSERT_EQ(ekOkay, img.getStatus()) << img.getMessage();
        ASSERT_EQ(ekCoordSpace(orientation), img.getCoordSpace());
        ASSERT_EQ(s.directories, img.getZsize());
        img.setCacheBytes(3 * 16 * 16 * 3 * 2);  // a few pages: requests evict
        ekMemoryImg ref(pixels.data(), sizeOf(s), specType(s), orderOf(s));
        ref.setCoordSpace(ekCoordSpace(orientation));
        for (int trial = 0; trial < 60; ++trial) {
            const int nx = 1 + int(rng() % 60), ny = 1 + int(rng() % 50);
            const int nz = 1 + int(rng() % uint32_t(s.directories + 1));
            const int x = int(rng() % 70) - 12, y = int(rng() % 60) - 10;
            const int z = int(rng() % uint32_t(s.directories + 1)) - (s.directories > 1);
            const int bx = x - int(rng() % 3), by = y - int(rng() % 3);
            const int bnx = nx + 4, bny = ny + 3, bnz = nz;
            int list[4] = {2, 0, 5, 1};
            const int nc = 1 + int(rng() % 4);
            const bool useList = rng() % 3 == 0;
            ekConfig cfg(types[rng() % 9], orders[rng() % 3], nc, useList ? list : nullptr,
                         useList ? 0 : int(rng() % 3), ekCoordSpace(rng() % 9), ekColorModel(0));
            SCOPED_TRACE(testing::Message()
                         << "orientation " << orientation << " trial " << trial << " box " << x
                         << "," << y << "," << z << " " << nx << "x" << ny << "x" << nz << " type "
                         << cfg.type << " order " << cfg.order << " channels " << nc
                         << (useList ? " list" : " offset ") << cfg.chanOffset << " space "
                         << cfg.coordSpace);
            const int64_t n = int64_t(bnx) * bny * bnz * nc;
            std::vector<uint8_t> got = randomBytes(ekDataSize(cfg.type, int(n)), uint32_t(trial));
            std::vector<uint8_t> want = got;
            ASSERT_EQ(
                ref.getSubTile3D(x, y, z, nx, ny, nz, want.data(), bx, by, z, bnx, bny, bnz, &cfg),
                img.getSubTile3D(x, y, z, nx, ny, nz, got.data(), bx, by, z, bnx, bny, bnz, &cfg));
            ASSERT_TRUE(got == want);
        }
        EXPECT_GT(img.getCacheEvictions(), 0);
    }
}

// The orientation tag means what TIFF says: read in the upper-left space,
// the picture's top-left pixel is the stored last pixel for orientation 3
// (bottom right) and the first pixel of the last row for 6 (rows run right
// to left, columns top to bottom).
TEST(TiffRead, OrientationTagPlacesTheOrigin) {
    RawTiffSpec s;
    s.width = 20;
    s.height = 12;
    const std::vector<uint8_t> pixels = randomBytes(rawBytes(s), 3);
    for (int orientation : {3, 6}) {
        s.orientation = orientation;
        const std::string path = tempTiffPath(std::to_string(orientation));
        ASSERT_TRUE(writeRawTiff(path, s, pixels));
        ekTiffImg img(path.c_str());
        ASSERT_EQ(ekOkay, img.getStatus());
        const ekConfig ul(ekUChar, ekInterleaved, 1, nullptr, 0, ekUpperLeft, ekColorModel(0));
        uint8_t first = 0;
        ASSERT_EQ(ekOkay, img.getTile(0, 0, 1, 1, &first, &ul));
        EXPECT_EQ(orientation == 3 ? pixels.back() : pixels[size_t((s.height - 1) * s.width)],
                  first);
        EXPECT_EQ(orientation == 6 ? s.height : s.width, img.getWidth());
    }
}

TEST(TiffRead, LayoutsItCannotRepresentAreRefusedByName) {
    struct Case {
        int bits, photometric, channels, subsampling;
        const char* named;
    };
    const Case cases[] = {{8, PHOTOMETRIC_PALETTE, 1, 1, "palette"},
                          {4, PHOTOMETRIC_MINISBLACK, 1, 1, "4-bit"},
                          {12, PHOTOMETRIC_MINISBLACK, 1, 1, "12-bit"},
                          {8, PHOTOMETRIC_YCBCR, 3, 2, "subsampled YCbCr"}};
    for (const Case& c : cases) {
        const std::string path = tempTiffPath(c.named);
        TIFF* tif = TIFFOpen(path.c_str(), "w");
        ASSERT_NE(nullptr, tif);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 16u);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 16u);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(c.bits));
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(c.channels));
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, uint16_t(c.photometric));
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16u);
        if (c.photometric == PHOTOMETRIC_PALETTE) {
            std::vector<uint16_t> map(256, 0);
            TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
        }
        if (c.subsampling > 1)
            TIFFSetField(tif, TIFFTAG_YCBCRSUBSAMPLING, uint16_t(2), uint16_t(2));
        std::vector<uint8_t> strip(16 * 16 * 3 * 2, 0);
        TIFFWriteEncodedStrip(tif, 0, strip.data(), tmsize_t(TIFFStripSize(tif)));
        TIFFClose(tif);

        testing::internal::CaptureStderr();
        ekTiffImg img(path.c_str());
        EXPECT_EQ(ekNotImplemented, img.getStatus()) << c.named;
        EXPECT_NE(nullptr, std::strstr(img.getMessage(), c.named)) << img.getMessage();
        std::vector<uint8_t> buf(16 * 16 * 3);
        EXPECT_EQ(ekNotImplemented, img.getTile(0, 0, 16, 16, buf.data(), nullptr));
        EXPECT_EQ("", testing::internal::GetCapturedStderr());
    }
}

// A later directory becomes a slice only when it agrees with the first in
// everything the image takes from it; the first that does not ends the
// slices, and the message names the tag.
TEST(TiffRead, LaterDirectoriesThatDifferEndTheSlices) {
    struct Case {
        int orientation, subsampling, bits;
        const char* named;
    };
    const Case cases[] = {{1, 1, 8, nullptr},
                          {3, 1, 8, "Orientation"},
                          {1, 2, 8, "YCbCrSubsampling"},
                          {1, 1, 16, "BitsPerSample"}};
    for (const Case& c : cases) {
        const std::string path = tempTiffPath("later");
        TIFF* tif = TIFFOpen(path.c_str(), "w");
        ASSERT_NE(nullptr, tif);
        for (int d = 0; d < 2; ++d) {
            const bool later = d == 1;
            TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 16u);
            TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 16u);
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(later ? c.bits : 8));
            TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(3));
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_YCBCR));
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16u);
            TIFFSetField(tif, TIFFTAG_ORIENTATION, uint16_t(later ? c.orientation : 1));
            const uint16_t sub = uint16_t(later ? c.subsampling : 1);
            TIFFSetField(tif, TIFFTAG_YCBCRSUBSAMPLING, sub, sub);
            std::vector<uint8_t> strip(16 * 16 * 3 * 2, uint8_t(d + 1));
            TIFFWriteEncodedStrip(tif, 0, strip.data(), tmsize_t(TIFFStripSize(tif)));
            TIFFWriteDirectory(tif);
        }
        TIFFClose(tif);
        ekTiffImg img(path.c_str());
        ASSERT_EQ(ekOkay, img.getStatus()) << img.getMessage();
        EXPECT_EQ(c.named == nullptr ? 2 : 1, img.getZsize());
        if (c.named != nullptr) {
            EXPECT_NE(nullptr, std::strstr(img.getMessage(), c.named)) << img.getMessage();
        }
        uint8_t last[3] = {};
        const int z = img.getZsize() - 1;
        EXPECT_EQ(ekOkay, img.getTile3D(0, 0, z, 1, 1, 1, last, nullptr));
        EXPECT_EQ(z + 1, last[0]);
    }
}

TEST(TiffRead, MissingFileGivesStatusAndMessage) {
    testing::internal::CaptureStderr();
    ekTiffImg img((testing::TempDir() + "eks_no_such_file.tif").c_str());
    EXPECT_EQ(ekBadInput, img.getStatus());
    EXPECT_STRNE("", img.getMessage());
    EXPECT_EQ(0, img.getXsize());
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    ekTiffImg none(nullptr);
    EXPECT_EQ(ekBadInput, none.getStatus());
    EXPECT_STRNE("", none.getMessage());
}

}  // namespace
