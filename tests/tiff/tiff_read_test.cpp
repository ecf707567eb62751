// SPDX-License-Identifier: Apache-2.0
// Reading files written by libtiff directly: every layout read back exactly
// and in any caller layout compared with a memory image over the same pixels,
// palettes, and the layouts that are refused.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "eks/tiff.h"
#include "tiff_test_files.h"

namespace {

// Every sample size and format read, and palettes of 1 to 16 bits (read
// through their colour map, 8-bit when every entry is a multiple of 257, or
// as indices); sizes other than 1, 8, 16, 32 and 64 bits widen to the next
// type.
struct Sample {
    int bits, format;
    bool palette = false;
};
const Sample kSamples[] = {
    {1, SAMPLEFORMAT_UINT},       {8, SAMPLEFORMAT_UINT},       {8, SAMPLEFORMAT_INT},
    {16, SAMPLEFORMAT_UINT},      {16, SAMPLEFORMAT_INT},       {32, SAMPLEFORMAT_UINT},
    {32, SAMPLEFORMAT_INT},       {32, SAMPLEFORMAT_IEEEFP},    {64, SAMPLEFORMAT_IEEEFP},
    {2, SAMPLEFORMAT_UINT},       {4, SAMPLEFORMAT_UINT},       {5, SAMPLEFORMAT_UINT},
    {12, SAMPLEFORMAT_UINT},      {24, SAMPLEFORMAT_UINT},      {31, SAMPLEFORMAT_UINT},
    {1, SAMPLEFORMAT_UINT, true}, {2, SAMPLEFORMAT_UINT, true}, {4, SAMPLEFORMAT_UINT, true},
    {8, SAMPLEFORMAT_UINT, true}, {16, SAMPLEFORMAT_UINT, true}};
const int kCompressions[] = {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE};

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

// A file of the sample in the layout: three channels (or one palette index)
// in a random orientation, one or two directories, a random colour map.
RawTiffSpec layoutSpec(const Sample& smp, bool separate, bool tiled, int comp, std::mt19937& rng) {
    RawTiffSpec s;
    s.bits = smp.bits;
    s.format = smp.format;
    s.channels = smp.palette ? 1 : 3;
    s.photometric = smp.palette ? PHOTOMETRIC_PALETTE : PHOTOMETRIC_RGB;
    s.separate = separate;
    s.tiled = tiled;
    s.width = tiled ? 37 : 29;  // odd widths: padded rows of bits in strips
    // Heights a multiple of 8: slices of bits start at whole bytes.
    s.height = 8 * (3 + int(rng() % 3));
    s.compression = comp;
    s.orientation = 1 + int(rng() % 8);
    // Several slices only interleaved: the test files hold the planes of one
    // directory together, the memory image one channel's slices.
    s.directories = separate ? 1 : 1 + int(rng() % 3 == 0);
    const bool eightBit = rng() % 2;
    for (int i = 0; smp.palette && i < 3 << s.bits; ++i)
        s.colormap.push_back(uint16_t(eightBit ? rng() % 256 * 257 : rng()));
    return s;
}

bool eightBitMap(const RawTiffSpec& s) {
    return std::all_of(s.colormap.begin(), s.colormap.end(),
                       [](uint16_t v) { return v % 257 == 0; });
}

// A palette image's pixels as colours of its map: RGB of 8 or 16 bits.
std::vector<uint8_t> throughMap(const RawTiffSpec& s, const std::vector<uint8_t>& pixels) {
    std::vector<uint8_t> out;
    for (int64_t i = 0; i < int64_t(s.width) * s.height * s.directories; ++i) {
        const int index = s.bits == 1   ? (pixels[size_t(i >> 3)] >> (7 - (i & 7))) & 1
                          : s.bits <= 8 ? pixels[size_t(i)]
                                        : pixels[size_t(2 * i)] | pixels[size_t(2 * i + 1)] << 8;
        for (int k = 0; k < 3; ++k) {
            const uint16_t v = s.colormap[size_t((k << s.bits) + index)];
            out.push_back(uint8_t(eightBitMap(s) ? v / 257 : v & 0xFF));
            if (!eightBitMap(s)) out.push_back(uint8_t(v >> 8));
        }
    }
    return out;
}

// Random requests in random caller layouts (type, order, channel list or
// offset, coordinate space, a buffer larger than the request, boxes that
// straddle every edge) give what the memory image gives.
void compareWindows(ekImage& img, ekMemoryImg& ref, int slices, std::mt19937& rng) {
    const ekType types[] = {ekBit,   ekUChar, ekChar,  ekUShort, ekShort,
                            ekULong, ekLong,  ekFloat, ekDouble};
    const ekOrder orders[] = {ekInterleaved, ekSequential, ekSeparate};
    for (int trial = 0; trial < 3; ++trial) {
        const int nx = 1 + int(rng() % 60), ny = 1 + int(rng() % 50);
        const int nz = 1 + int(rng() % uint32_t(slices + 1));
        const int x = int(rng() % 70) - 12, y = int(rng() % 60) - 10;
        const int z = int(rng() % uint32_t(slices + 1)) - (slices > 1);
        const int bx = x - int(rng() % 3), by = y - int(rng() % 3);
        const int bnx = nx + 4, bny = ny + 3, bnz = nz;
        int list[4] = {2, 0, 5, 1};
        const int nc = 1 + int(rng() % 4);
        const bool useList = rng() % 3 == 0;
        ekConfig cfg(types[rng() % 9], orders[rng() % 3], nc, useList ? list : nullptr,
                     useList ? 0 : int(rng() % 3), ekCoordSpace(rng() % 9), ekColorModel(0));
        SCOPED_TRACE(testing::Message()
                     << "trial " << trial << " box " << x << "," << y << "," << z << " " << nx
                     << "x" << ny << "x" << nz << " type " << cfg.type << " order " << cfg.order
                     << " channels " << nc << (useList ? " list" : " offset ") << cfg.chanOffset
                     << " space " << cfg.coordSpace);
        const int64_t n = int64_t(bnx) * bny * bnz * nc;
        std::vector<uint8_t> got = randomBytes(ekDataSize(cfg.type, int(n)), uint32_t(trial));
        std::vector<uint8_t> want = got;
        ASSERT_EQ(
            ref.getSubTile3D(x, y, z, nx, ny, nz, want.data(), bx, by, z, bnx, bny, bnz, &cfg),
            img.getSubTile3D(x, y, z, nx, ny, nz, got.data(), bx, by, z, bnx, bny, bnz, &cfg));
        ASSERT_TRUE(got == want);
    }
}

// ---------------------------------------------------------------------------

// Every sample size and palette, both plane configurations, tiles and
// strips, the three compressions, both byte orders and BigTIFF: the
// attributes of the tags, the image read back bit for bit in its own layout
// (widened samples as the values written, palettes as their colours or
// indices), and random requests through a cache of a few pages give what a
// memory image over the same pixels gives.
TEST(TiffRead, EveryLayoutMatchesMemoryImage) {
    std::mt19937 rng(7);
    int seed = 1;
    int64_t evictions = 0;
    for (const Sample& smp : kSamples)
        for (bool separate : {false, true})
            for (bool tiled : {true, false})
                for (int comp : kCompressions) {
                    // A palette has one channel: two files of it, in two compressions.
                    if (smp.palette && (separate || comp != kCompressions[(smp.bits + tiled) % 3]))
                        continue;
                    RawTiffSpec s = layoutSpec(smp, separate, tiled, comp, rng);
                    const char* modes[] = {"w", "wb", "w8", "w8b"};  // byte orders, BigTIFF
                    s.mode = modes[seed % 4];
                    ekTiffOpenOptions options;
                    // Through the map in strips, but 1-bit in tiles.
                    options.paletteIndices = smp.palette && tiled == (smp.bits > 1);
                    const bool viaMap = smp.palette && !options.paletteIndices;
                    SCOPED_TRACE(testing::Message()
                                 << "bits " << s.bits << " format " << s.format << " palette "
                                 << smp.palette << " indices " << options.paletteIndices
                                 << " separate " << separate << " tiled " << tiled
                                 << " compression " << comp << " orientation " << s.orientation
                                 << " mode " << s.mode);
                    const std::string path = tempTiffPath("layout");
                    const std::vector<uint8_t> pixels = randomPixels(s, uint32_t(seed++));
                    ASSERT_TRUE(writeRawTiff(path, s, pixels));
                    const std::vector<uint8_t> want = viaMap ? throughMap(s, pixels) : pixels;
                    const ekType type = !viaMap ? specType(s) : eightBitMap(s) ? ekUChar : ekUShort;
                    const int channels = viaMap ? 3 : s.channels;
                    ekTiffImg img(path.c_str(), options);
                    ASSERT_EQ(ekOkay, img.getStatus()) << img.getMessage();
                    EXPECT_EQ(type, img.getDataType());
                    EXPECT_EQ(orderOf(s), img.getOrder());
                    EXPECT_EQ(channels, img.getCsize());
                    EXPECT_EQ(options.paletteIndices ? ekColorIndex : ekRGB, img.getColorModel());
                    ASSERT_EQ(ekCoordSpace(s.orientation), img.getCoordSpace());
                    ASSERT_EQ(s.directories, img.getZsize());
                    EXPECT_EQ(1, img.hasPages());
                    EXPECT_EQ(tiled ? 16 : s.width, img.getPageSizeX());
                    EXPECT_EQ(tiled ? 16 : s.rowsPerStrip, img.getPageSizeY());
                    EXPECT_EQ(separate ? 1 : channels, img.getPageSizeC());
                    double nodata = 0;  // and no tag that lays out pixels; a palette's map
                    EXPECT_EQ(0, img.getNodata(nodata));
                    EXPECT_EQ(int(smp.palette), img.getTagCount());
                    EXPECT_TRUE(readAll(img, int64_t(want.size())) == want);

                    img.setCacheBytes(3 * 16 * 16 * 3 * 2);  // a few pages: requests evict
                    ekMemoryImg ref(const_cast<uint8_t*>(want.data()),
                                    ekSize(s.width, s.height, s.directories, channels), type,
                                    orderOf(s));
                    ref.setCoordSpace(ekCoordSpace(s.orientation));
                    EXPECT_EQ(ref.getWidth(), img.getWidth());  // rows and columns swap from 5 on
                    compareWindows(img, ref, s.directories, rng);
                    evictions += img.getCacheEvictions();
                }
    EXPECT_GT(evictions, 0);
}

// Layouts that are refused, by name and with the nearest layout that is read;
// and later directories, which become slices only when they agree with the
// first in everything the image takes from it (a palette's colour map too):
// the first that does not ends the slices, and a warning names the tag. Each
// file: two directories of one 16 x 16 strip, directory d's bytes d + 1;
// nothing said on stderr.
TEST(TiffRead, RefusedLayoutsAndLaterDirectoriesThatDiffer) {
    struct Case {
        int bits, format, photometric, channels, subsampling;
        int laterOrientation, laterSubsampling, laterBits;  // of directory 1
        const char* named;                                  // nullptr: two slices
        bool refused;
    };
    const int kGrey = PHOTOMETRIC_MINISBLACK, kYCbCr = PHOTOMETRIC_YCBCR, kUint = SAMPLEFORMAT_UINT;
    const Case cases[] = {
        {64, SAMPLEFORMAT_INT, kGrey, 1, 1, 1, 1, 64, "64-bit signed", true},
        {64, kUint, kGrey, 1, 1, 1, 1, 64, "64-bit unsigned", true},
        {16, SAMPLEFORMAT_IEEEFP, kGrey, 1, 1, 1, 1, 16, "16-bit floating-point", true},
        {4, SAMPLEFORMAT_INT, kGrey, 1, 1, 1, 1, 4, "4-bit signed", true},
        {32, SAMPLEFORMAT_COMPLEXINT, kGrey, 1, 1, 1, 1, 32, "complex", true},
        {8, kUint, PHOTOMETRIC_PALETTE, 2, 1, 1, 1, 8, "palette images of 2 samples", true},
        {8, kUint, kYCbCr, 3, 2, 1, 2, 8, "subsampled YCbCr", true},
        {8, kUint, kYCbCr, 3, 1, 1, 1, 8, nullptr, false},
        {8, kUint, kYCbCr, 3, 1, 3, 1, 8, "Orientation", false},
        {8, kUint, kYCbCr, 3, 1, 1, 2, 8, "YCbCrSubsampling", false},
        {8, kUint, kYCbCr, 3, 1, 1, 1, 16, "BitsPerSample", false},
        {8, kUint, PHOTOMETRIC_PALETTE, 1, 1, 1, 1, 8, "ColorMap", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.named == nullptr ? "slices" : c.named);
        const std::string path = tempTiffPath("directories");
        TIFF* tif = TIFFOpen(path.c_str(), "w");
        ASSERT_NE(nullptr, tif);
        for (int d = 0; d < 2; ++d) {
            TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 16u);
            TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 16u);
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16u);
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(d ? c.laterBits : c.bits));
            TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, uint16_t(c.format));
            TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(c.channels));
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, uint16_t(c.photometric));
            TIFFSetField(tif, TIFFTAG_ORIENTATION, uint16_t(d ? c.laterOrientation : 1));
            // Another map in each directory, of colour d + 1 as the bytes.
            std::vector<uint16_t> map(256, uint16_t((d + 1) * 257));
            if (c.photometric == PHOTOMETRIC_PALETTE)
                TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
            const uint16_t sub = uint16_t(d ? c.laterSubsampling : c.subsampling);
            if (c.photometric == kYCbCr) TIFFSetField(tif, TIFFTAG_YCBCRSUBSAMPLING, sub, sub);
            std::vector<uint8_t> strip(16 * 16 * 3 * 8, uint8_t(d + 1));
            TIFFWriteEncodedStrip(tif, 0, strip.data(), tmsize_t(TIFFStripSize(tif)));
            TIFFWriteDirectory(tif);
        }
        TIFFClose(tif);

        testing::internal::CaptureStderr();
        ekTiffImg img(path.c_str());
        const std::string message = img.getMessage();
        if (c.named != nullptr) {
            EXPECT_NE(std::string::npos, message.find(c.named)) << message;
            EXPECT_NE(std::string::npos, message.find(c.refused ? "nearest" : "directory 1 "))
                << message;
            EXPECT_EQ(!c.refused, message.rfind("warning: ", 0) == 0) << message;
        }
        std::vector<uint8_t> buf(16 * 16 * 3);
        const int z = c.refused ? 0 : c.named == nullptr ? 1 : 0;  // the last slice
        EXPECT_EQ(c.refused ? ekNotImplemented : ekOkay, img.getStatus());
        EXPECT_EQ(c.refused ? 0 : z + 1, img.getZsize());
        EXPECT_EQ(c.refused ? ekNotImplemented : ekOkay,
                  img.getTile3D(0, 0, z, 16, 16, 1, buf.data(), nullptr));
        EXPECT_EQ(c.refused ? 0 : z + 1, buf[0]);
        EXPECT_EQ("", testing::internal::GetCapturedStderr());
    }
}

}  // namespace
