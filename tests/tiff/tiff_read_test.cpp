// SPDX-License-Identifier: Apache-2.0
// Reading files written by libtiff directly (every layout, against a memory
// image, and damaged copies), the layouts that are refused, a file GDAL wrote.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "eks/tiff.h"
#include "tiff_test_files.h"

namespace {

// Every sample size and format read (other sizes than 1, 8, 16, 32 and 64
// bits widen), and palettes of 1 to 16 bits.
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

bool eightBitMap(const RawTiffSpec& s) {
    return std::all_of(s.colormap.begin(), s.colormap.end(),
                       [](uint16_t v) { return v % 257 == 0; });
}

// A palette image's pixels as colours of its map: RGB of 8 bits when every
// entry is a multiple of 257, else of 16.
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

// The tags of a georeferenced file as GDAL writes them.
std::vector<RawTag> geoTags(const char* nodata) {
    return {
        {33550, TIFF_DOUBLE, {60, 60, 0}, ""},
        {33922, TIFF_DOUBLE, {0, 0, 0, 440720, 3751320, 0}, ""},
        {34264, TIFF_DOUBLE, {60, 0, 0, 440720, 0, -60, 0, 3751320, 0, 0, 1, 0, 0, 0, 0, 1}, ""},
        {34735, TIFF_SHORT, {1, 1, 0, 2, 1024, 0, 1, 1, 2049, 34737, 7, 0}, ""},
        {34736, TIFF_DOUBLE, {6378137, 298.257223563}, ""},
        {34737, TIFF_ASCII, {}, "WGS 84|"},
        {42112, TIFF_ASCII, {}, "<GDALMetadata><Item name=\"A\">b</Item></GDALMetadata>"},
        {42113, TIFF_ASCII, {}, nodata}};
}

template <class T>
double at(const void* data, size_t k) {
    T v;
    std::memcpy(&v, static_cast<const uint8_t*>(data) + k * sizeof v, sizeof v);
    return double(v);
}

// Value i of a raw tag of numbers (not IFDs), in the machine's byte order.
double element(const ekTiffTag& t, size_t i) {
    using Reader = double (*)(const void*, size_t);
    static const Reader kReaders[] = {
        nullptr,    at<uint8_t>, nullptr,     at<uint16_t>, at<uint32_t>, at<uint32_t>,
        at<int8_t>, at<uint8_t>, at<int16_t>, at<int32_t>,  at<int32_t>,  at<float>,
        at<double>, nullptr,     nullptr,     nullptr,      at<uint64_t>, at<int64_t>};
    const Reader r = kReaders[t.type];
    const bool rational = t.type == TIFF_RATIONAL || t.type == TIFF_SRATIONAL;
    return rational ? r(t.data, 2 * i) / r(t.data, 2 * i + 1) : r(t.data, i);
}

// Tags of every type of numbers, of values each holds exactly; the last two
// only in BigTIFF.
const RawTag kNumberTags[] = {
    {65101, TIFF_BYTE, {1, 2, 200}, ""},         {65106, TIFF_SBYTE, {1, -2, 100}, ""},
    {65107, TIFF_UNDEFINED, {1, 2, 200}, ""},    {65103, TIFF_SHORT, {1, 2, 60000}, ""},
    {65108, TIFF_SSHORT, {1, -2, 30000}, ""},    {65104, TIFF_LONG, {1, 2, 4e9}, ""},
    {65109, TIFF_SLONG, {1, -2, 2e9}, ""},       {65105, TIFF_RATIONAL, {0.5, 2, 300}, ""},
    {65110, TIFF_SRATIONAL, {0.5, -2, 300}, ""}, {65111, TIFF_FLOAT, {0.5, -2, 1e10}, ""},
    {65112, TIFF_DOUBLE, {0.5, -2, 1e100}, ""},  {65116, TIFF_LONG8, {1, 2, 1e15}, ""},
    {65117, TIFF_SLONG8, {1, -2, -1e15}, ""}};

// The tag holds what was written, in the machine's byte order.
void expectTag(const ekTiffImg& img, const RawTag& t) {
    SCOPED_TRACE(testing::Message() << "tag " << t.tag);
    const ekTiffTag* got = img.findTag(t.tag);
    ASSERT_NE(nullptr, got);
    EXPECT_EQ(t.type, got->type);
    if (t.type == TIFF_ASCII) {
        EXPECT_EQ(t.text.size() + 1, got->count);
        EXPECT_STREQ(t.text.c_str(), static_cast<const char*>(got->data));
        return;
    }
    ASSERT_EQ(t.numbers.size(), got->count);
    for (size_t i = 0; i < t.numbers.size(); ++i) EXPECT_EQ(t.numbers[i], element(*got, i)) << i;
}

// Random requests in random caller layouts (buffers larger than the request,
// boxes across every edge) give what the memory image gives, which serves one
// thread at a time; page locks too.
void compareWindows(ekImage& img, ekMemoryImg& ref, int slices, uint32_t seed,
                    std::mutex& refLock) {
    std::mt19937 rng(seed);
    const ekType types[] = {ekBit,   ekUChar, ekChar,  ekUShort, ekShort,
                            ekULong, ekLong,  ekFloat, ekDouble};
    const ekOrder orders[] = {ekInterleaved, ekSequential, ekSeparate};
    for (int trial = 0; trial < 3; ++trial) {
        const int nx = 1 + int(rng() % 60), ny = 1 + int(rng() % 50);
        const int nz = 1 + int(rng() % uint32_t(slices + 1));
        // The first box starts outside the image: every file shows its fill.
        const int x = trial == 0 ? -3 : int(rng() % 70) - 12, y = int(rng() % 60) - 10;
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
        ekStatus status;
        {
            std::lock_guard<std::mutex> lock(refLock);
            status =
                ref.getSubTile3D(x, y, z, nx, ny, nz, want.data(), bx, by, z, bnx, bny, bnz, &cfg);
        }
        ASSERT_EQ(status, img.getSubTile3D(x, y, z, nx, ny, nz, got.data(), bx, by, z, bnx, bny,
                                           bnz, &cfg));
        ASSERT_TRUE(got == want);
        delete img.lockTile(x, y, nx, ny, nullptr, 0);
    }
}

// Photometrics of 1 to 4 channels and the colour model each reads as.
const struct {
    int channels, photometric;
    ekColorModel model;
} kColours[] = {{1, PHOTOMETRIC_MINISBLACK, ekGreyscale},
                {1, PHOTOMETRIC_MINISWHITE, ekMinWhite},
                {2, PHOTOMETRIC_MINISBLACK, ekMultiSpectral},
                {3, PHOTOMETRIC_RGB, ekRGB},
                {3, PHOTOMETRIC_SEPARATED, ekCMY},
                {4, PHOTOMETRIC_SEPARATED, ekCMYK},
                {4, PHOTOMETRIC_RGB, ekMultiSpectral}};

// A nodata value as an image of `type` holds it: an integer type rounds half
// away from zero and clamps (NaN: 0), as GDAL converts it.
double heldAs(ekType type, double v) {
    if (type == ekFloat || type == ekDouble) return v;
    const int bits = type == ekBit ? 1 : 8 * ekDataSize(type, 1);
    const bool sgn = type == ekChar || type == ekShort || type == ekLong;
    const double hi = std::ldexp(1.0, bits - sgn) - 1, lo = sgn ? -hi - 1 : 0;
    return std::isnan(v) ? 0 : std::clamp(std::round(v), lo, hi);
}

// GDAL_NODATA texts: below and above every integer type's range, with
// spaces, NaN, and not a number.
const struct {
    const char* text;
    double value;
} kNodata[] = {{"-1e10", -1e10}, {" +12.5e9 ", 12.5e9}, {"nan", NAN}, {"3", 3}, {"none", 0}};

// One file of the sample in the layout with random channels and photometric,
// orientation, directories, colour map, GDAL's tags and private tags: its
// attributes, its pixels bit for bit, its tags raw, and random requests
// through a cache of a few pages against a memory image whose fill is the
// nodata.
void checkLayout(const Sample& smp, bool separate, bool tiled, int comp, uint32_t seed,
                 std::mt19937& rng, int64_t& evictions, int damaged[2]) {
    RawTiffSpec s;
    s.bits = smp.bits;
    s.format = smp.format;
    const auto& colours = kColours[rng() % 7];
    s.channels = smp.palette ? 1 : colours.channels;
    s.photometric = smp.palette ? PHOTOMETRIC_PALETTE : colours.photometric;
    s.separate = separate;
    s.tiled = tiled;
    s.width = tiled ? 37 : 29;            // odd widths: padded rows of bits in strips
    s.height = 8 * (3 + int(rng() % 3));  // slices of bits start at whole bytes
    s.compression = comp;
    s.orientation = 1 + int(rng() % 8);
    // Several slices only interleaved: separate, the memory image's planes
    // and the files' directories nest the other way round.
    s.directories = separate ? 1 : 1 + int(rng() % 3 == 0);
    const bool eightBit = rng() % 2;
    for (int i = 0; smp.palette && i < 3 << s.bits; ++i)
        s.colormap.push_back(uint16_t(eightBit ? rng() % 256 * 257 : rng()));
    const char* modes[] = {"w", "wb", "w8", "w8b"};  // byte orders, BigTIFF
    s.mode = modes[seed % 4];
    const int nd = smp.palette ? (smp.bits > 1 ? 3 : 5) : int(rng() % 6);  // 5: no GDAL tags
    if (nd < 5) s.tags = geoTags(kNodata[nd].text);
    s.tags.push_back(RawTag{305, TIFF_ASCII, {}, "a program"});  // libtiff's, not interpreted
    const bool privateTags = rng() % 3 == 0;                     // libtiff warns of them
    if (privateTags)
        s.tags.insert(s.tags.end(), std::begin(kNumberTags),
                      std::end(kNumberTags) - (s.mode[1] == '8' ? 0 : 2));
    ekTiffOpenOptions options;
    // Palettes through the map in strips, but 1-bit in tiles.
    options.paletteIndices = smp.palette && tiled == (smp.bits > 1);
    const bool viaMap = smp.palette && !options.paletteIndices;
    SCOPED_TRACE(testing::Message()
                 << "bits " << s.bits << " format " << s.format << " palette " << smp.palette
                 << " indices " << options.paletteIndices << " channels " << s.channels
                 << " separate " << separate << " tiled " << tiled << " compression " << comp
                 << " orientation " << s.orientation << " mode " << s.mode << " nodata " << nd
                 << " private tags " << privateTags);
    const std::string path = tempTiffPath("layout");
    std::vector<uint8_t> pixels = randomPixels(s, seed);
    // Every third file without nodata leaves its lower half's pages of zeros
    // out: they read as zeros.
    s.sparse = seed % 3 == 0 && nd >= 4;
    const int64_t half = rawBytes(s) / 2;
    if (s.sparse) std::fill(pixels.begin() + half, pixels.begin() + 2 * half, 0);
    ASSERT_TRUE(writeRawTiff(path, s, pixels));
    const std::vector<uint8_t> want = viaMap ? throughMap(s, pixels) : pixels;
    const ekType type = !viaMap ? specType(s) : eightBitMap(s) ? ekUChar : ekUShort;
    const int channels = viaMap ? 3 : s.channels;
    ekTiffImg img(path.c_str(), options);
    ASSERT_EQ(ekOkay, img.getStatus()) << img.getMessage();
    EXPECT_EQ(type, img.getDataType());
    EXPECT_EQ(orderOf(s), img.getOrder());
    EXPECT_EQ(channels, img.getCsize());
    EXPECT_EQ(options.paletteIndices ? ekColorIndex
              : viaMap               ? ekRGB
                                     : colours.model,
              img.getColorModel());
    ASSERT_EQ(ekCoordSpace(s.orientation), img.getCoordSpace());
    ASSERT_EQ(s.directories, img.getZsize());
    EXPECT_EQ(tiled ? 16 : s.width, img.getPageSizeX());
    EXPECT_EQ(tiled ? 16 : s.rowsPerStrip, img.getPageSizeY());
    EXPECT_EQ(separate ? 1 : channels, img.getPageSizeC());
    EXPECT_TRUE(readAll(img) == want);
    // The tags written, a palette's map and the extra samples, in the file's
    // order; none that lays out the pixels.
    for (const RawTag& t : s.tags) expectTag(img, t);
    const bool extra = !smp.palette && colours.model == ekMultiSpectral;
    EXPECT_EQ(int(s.tags.size()) + smp.palette + extra, img.getTagCount());
    EXPECT_EQ(nullptr, img.findTag(TIFFTAG_IMAGEWIDTH));
    EXPECT_EQ(nullptr, img.findTag(TIFFTAG_STRIPOFFSETS));
    EXPECT_EQ(nullptr, img.getTag(img.getTagCount()));
    EXPECT_EQ(img.findTag(305), img.getTag(0));
    // A warning of libtiff's about private tags, or of a nodata that is not a
    // number; else no message.
    const std::string message = img.getMessage();
    EXPECT_EQ(privateTags || nd == 4, message.rfind("warning: ", 0) == 0) << message;
    EXPECT_EQ(privateTags || nd == 4, !message.empty()) << message;
    if (!privateTags) {
        EXPECT_EQ(nd == 4, message.find("GDAL_NODATA") != std::string::npos) << message;
    }
    double nodata = 0;
    EXPECT_EQ(int(nd < 4), img.getNodata(nodata));
    EXPECT_TRUE(nd >= 4 || nodata == kNodata[nd].value || (nd == 2 && std::isnan(nodata)));

    img.setCacheBytes(3 * 16 * 16 * 3 * 2);  // a few pages: requests evict
    ekMemoryImg ref(const_cast<uint8_t*>(want.data()),
                    ekSize(s.width, s.height, s.directories, channels), type, orderOf(s));
    ref.setCoordSpace(ekCoordSpace(s.orientation));
    // The nodata fills every channel as the image's type holds it; through a
    // palette's map, as its colour.
    ekPixel fill;
    fill.set(type, channels, nullptr);
    for (int c = 0; nd < 4 && c < channels; ++c) {
        const double colour = viaMap ? s.colormap[size_t((c << s.bits) + 3)] : 0;
        fill.setElem(
            !viaMap ? heldAs(type, kNodata[nd].value) : colour / (eightBitMap(s) ? 257 : 1), c);
        ref.setFillValue(fill.getElem(c), c);
    }
    EXPECT_EQ(ref.getWidth(), img.getWidth());  // rows and columns swap from 5 on
    // Two readers at once, and pages decoded on a pool of 0 to 2 workers.
    ASSERT_EQ(ekOkay, img.setThreads(1 + int(seed % 3)));
    std::mutex refLock;
    std::thread other(compareWindows, std::ref(img), std::ref(ref), s.directories, uint32_t(rng()),
                      std::ref(refLock));
    compareWindows(img, ref, s.directories, uint32_t(rng()), refLock);
    other.join();
    evictions += img.getCacheEvictions();
    expectDamageHandled(path, 1, 2, rng, damaged);
}

TEST(TiffRead, EveryLayoutMatchesMemoryImage) {
    std::mt19937 rng(7);
    uint32_t seed = 1;
    int64_t evictions = 0;
    int damaged[2] = {0, 0};  // cuts and flips that failed
    for (const Sample& smp : kSamples)
        for (bool separate : {false, true})
            for (bool tiled : {true, false})
                for (int comp : kCompressions)
                    // A palette has one channel: two files of it, in two compressions.
                    if (!smp.palette ||
                        (!separate && comp == kCompressions[(smp.bits + tiled) % 3]))
                        checkLayout(smp, separate, tiled, comp, seed++, rng, evictions, damaged);
    EXPECT_GT(evictions, 0);
    EXPECT_GT(damaged[0], int(seed) / 2);  // most cuts lose pages or the directory
    EXPECT_GT(damaged[1], 0);
}

// Layouts refused, by name and with the nearest layout that is read; later
// directories become slices only when they agree with the first in all the
// image takes from it (a palette's map too): the first that does not ends the
// slices, and a warning names the tag. Two 16 x 16 directories, d's bytes d + 1.
TEST(TiffRead, RefusedLayoutsAndLaterDirectoriesThatDiffer) {
    struct Case {
        int bits, format, photometric, channels, subsampling;
        int laterOrientation, laterSubsampling, laterBits;  // of directory 1
        const char* named;                                  // nullptr: two slices
        bool refused;
    };
    const int kGrey = PHOTOMETRIC_MINISBLACK, kYCbCr = PHOTOMETRIC_YCBCR, kUint = SAMPLEFORMAT_UINT;
    const Case cases[] = {
        {64, SAMPLEFORMAT_INT, kGrey, 1, 0, 1, 0, 64, "64-bit signed", true},
        {64, kUint, kGrey, 1, 0, 1, 0, 64, "64-bit unsigned", true},
        {24, SAMPLEFORMAT_IEEEFP, kGrey, 1, 0, 1, 0, 24, "24-bit floating-point", true},
        {4, SAMPLEFORMAT_INT, kGrey, 1, 0, 1, 0, 4, "4-bit signed", true},
        {32, SAMPLEFORMAT_COMPLEXINT, kGrey, 1, 0, 1, 0, 32, "complex", true},
        {8, kUint, PHOTOMETRIC_PALETTE, 2, 0, 1, 0, 8, "palette images of 2 samples", true},
        {8, kUint, kYCbCr, 3, 2, 1, 2, 8, "subsampled YCbCr", true},
        {8, kUint, kYCbCr, 3, 1, 1, 1, 8, nullptr, false},
        {8, kUint, kYCbCr, 3, 1, 3, 1, 8, "Orientation", false},
        {8, kUint, kYCbCr, 3, 1, 1, 2, 8, "YCbCrSubsampling", false},
        {8, kUint, kYCbCr, 3, 1, 1, 1, 16, "BitsPerSample", false},
        {8, kUint, PHOTOMETRIC_PALETTE, 1, 0, 1, 0, 8, "ColorMap", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.named == nullptr ? "slices" : c.named);
        std::vector<RawTiffSpec> specs(2);
        std::vector<std::vector<uint8_t>> pixels;
        for (int d = 0; d < 2; ++d) {
            RawTiffSpec& s = specs[size_t(d)];
            s.width = s.height = s.rowsPerStrip = 16;
            s.tiled = false;
            s.bits = d ? c.laterBits : c.bits;
            s.format = c.format;
            s.photometric = c.photometric;
            s.channels = c.channels;
            s.orientation = d ? c.laterOrientation : 1;
            s.subsampling = d ? c.laterSubsampling : c.subsampling;
            if (c.photometric == PHOTOMETRIC_PALETTE) s.colormap.assign(3 * 256, (d + 1) * 257);
            pixels.emplace_back(size_t(rawBytes(s)), uint8_t(d + 1));
        }
        const std::string path = tempTiffPath("directories");
        ASSERT_TRUE(writeRawTiffs(path, specs, pixels));

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
    testing::internal::CaptureStderr();  // and files that are not there
    ekTiffImg missing((testing::TempDir() + "eks_no_such_file.tif").c_str()), unnamed(nullptr);
    for (ekTiffImg* img : {&missing, &unnamed}) {
        EXPECT_EQ(ekBadInput, img->getStatus());
        EXPECT_NE(0, std::strncmp(img->getMessage(), "warning", 7)) << img->getMessage();
        EXPECT_STRNE("", img->getMessage());
        EXPECT_EQ(0, img->getXsize());
    }
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
}

// A file GDAL wrote (tiled, georeferenced, nodata, metadata, overviews) opens
// without a message and reads as written; its tags copied into a created
// file give GDAL the same georeferencing. Skipped without GDAL's tools.
TEST(TiffRead, FileWrittenByGdal) {
    if (std::system("gdal_translate --version > /dev/null 2>&1") != 0 ||
        std::system("gdaladdo --version > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "gdal_translate and gdaladdo are not installed";
    RawTiffSpec s;
    s.width = 61;
    s.height = 47;
    s.channels = 3;
    s.bits = 16;
    s.photometric = PHOTOMETRIC_RGB;
    const std::vector<uint8_t> pixels = randomPixels(s, 9);
    const std::string source = tempTiffPath("source"), path = tempTiffPath("gdal");
    ASSERT_TRUE(writeRawTiff(source, s, pixels));
    const std::string translate =
        "gdal_translate -q -co TILED=YES -co BLOCKXSIZE=16 -co BLOCKYSIZE=16 "
        "-co COMPRESS=DEFLATE -a_srs EPSG:32611 -a_ullr 440720 3751320 444380 3748500 "
        "-a_nodata 65535 -mo NAME=value " +
        source + " " + path;
    ASSERT_EQ(0, std::system(translate.c_str()));
    ASSERT_EQ(0, std::system(("gdaladdo -q -r average " + path + " 2 4").c_str()));

    ekTiffImg img(path.c_str());
    ASSERT_EQ(ekOkay, img.getStatus()) << img.getMessage();
    EXPECT_STREQ("", img.getMessage());
    EXPECT_EQ(2, img.getOverviewCount());
    for (int tag : {33550, 33922, 34735, 34737, 42112}) EXPECT_NE(nullptr, img.findTag(tag)) << tag;
    double nodata = 0;
    EXPECT_EQ(1, img.getNodata(nodata));
    EXPECT_EQ(65535, nodata);
    EXPECT_EQ(65535, img.getFillValue(2));
    std::vector<uint8_t> got(pixels.size());
    ASSERT_EQ(ekOkay, img.getTile(0, 0, s.width, s.height, got.data(), nullptr));
    EXPECT_TRUE(got == pixels);
    for (int level : {1, 2}) {
        ekTiffOpenOptions options;
        options.level = level;
        ekTiffImg overview(path.c_str(), options);
        ASSERT_EQ(ekOkay, overview.getStatus()) << overview.getMessage();
        EXPECT_EQ((s.width + (1 << level) - 1) >> level, overview.getXsize());
        EXPECT_EQ((s.height + (1 << level) - 1) >> level, overview.getYsize());
        EXPECT_EQ(1, overview.getNodata(nodata));
    }

    std::vector<ekTiffTag> tags;
    for (int i = 0; i < img.getTagCount(); ++i) tags.push_back(*img.getTag(i));
    ekTiffCreateOptions options;
    options.tags = tags.data();
    options.tagCount = int(tags.size());
    const std::string copy = tempTiffPath("copied-tags");
    {
        ekTiffImg created(copy.c_str(), ekSize(s.width, s.height, 1, 3), ekUShort, ekInterleaved,
                          options);
        ASSERT_EQ(ekOkay, created.setTile(0, 0, s.width, s.height, got.data(), nullptr));
        ASSERT_EQ(ekOkay, created.close()) << created.getMessage();
    }
    // What GDAL reads of both: the coordinate system, the transform, nodata.
    const auto georeferencing = [](const std::string& file) {
        const std::string lines = file + ".txt";
        const std::string grep = " | grep -E '^    ID|^Origin|^Pixel Size|NoData' > ";
        EXPECT_EQ(0, std::system(("gdalinfo " + file + grep + lines).c_str()));
        return readFile(lines);
    };
    EXPECT_TRUE(georeferencing(path) == georeferencing(copy));
}

}  // namespace
