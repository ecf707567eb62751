// SPDX-License-Identifier: Apache-2.0
// Tags: the GeoTIFF and GDAL tags (and any other the image does not
// interpret) read raw in every byte order and TIFF flavour, without a warning
// about unknown tags; GDAL's nodata value as the default fill; and a file GDAL
// wrote, where GDAL is installed.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

#include "eks/tiff.h"
#include "tiff_test_files.h"

namespace {

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

// Tags of every type of numbers, values that each type holds exactly; the
// 8-byte types (the last two) only in BigTIFF.
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

TEST(TiffTags, KeptRawInEveryByteOrderWithNodataAsTheFill) {
    struct Case {
        const char* mode;  // little- or big-endian, classic or BigTIFF
        int bits, format, channels;
        bool palette;
        const char* nodata;
        double fill;       // NaN: the nodata is not a number
        bool privateTags;  // of every type of numbers
    };
    const Case cases[] = {{"w", 16, SAMPLEFORMAT_INT, 2, false, "-9999", -9999, false},
                          {"wb", 32, SAMPLEFORMAT_IEEEFP, 3, false, " +12.5 ", 12.5, true},
                          {"w8", 32, SAMPLEFORMAT_IEEEFP, 1, false, "nan", NAN, false},
                          {"w8b", 8, SAMPLEFORMAT_UINT, 1, true, "3", 3, true},
                          {"w", 8, SAMPLEFORMAT_UINT, 1, false, "none", NAN, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.mode << " nodata " << c.nodata);
        RawTiffSpec s;
        s.mode = c.mode;
        s.bits = c.bits;
        s.format = c.format;
        s.channels = c.channels;
        s.tags = geoTags(c.nodata);
        s.tags.push_back(RawTag{305, TIFF_ASCII, {}, "a program"});  // libtiff's, not interpreted
        if (c.privateTags)  // libtiff does not know them: it warns
            s.tags.insert(s.tags.end(), std::begin(kNumberTags),
                          std::end(kNumberTags) - (std::strchr(c.mode, '8') ? 0 : 2));
        if (c.palette) {
            s.photometric = PHOTOMETRIC_PALETTE;
            for (int i = 0; i < 3 * 256; ++i) s.colormap.push_back(uint16_t(i * 1000));
        }
        const std::string path = tempTiffPath("tags");
        ASSERT_TRUE(writeRawTiff(path, s, randomPixels(s, 1)));
        ekTiffImg img(path.c_str());
        ASSERT_EQ(ekOkay, img.getStatus()) << img.getMessage();
        const bool number = std::strcmp(c.nodata, "none") != 0;
        if (!c.privateTags && number) {
            EXPECT_STREQ("", img.getMessage());
        }
        for (const RawTag& t : s.tags) expectTag(img, t);
        // The written tags, the colour map of a palette and the extra samples
        // beside grey; nothing that lays out the pixels.
        EXPECT_EQ(int(s.tags.size()) + c.palette + (c.channels > 1), img.getTagCount());
        EXPECT_EQ(nullptr, img.findTag(TIFFTAG_IMAGEWIDTH));
        EXPECT_EQ(nullptr, img.findTag(TIFFTAG_STRIPOFFSETS));
        EXPECT_EQ(nullptr, img.getTag(img.getTagCount()));
        EXPECT_EQ(img.findTag(305), img.getTag(0));  // in the file's order

        double nodata = 0;
        EXPECT_EQ(number ? 1 : 0, img.getNodata(nodata));
        if (!number) {
            EXPECT_NE(nullptr, std::strstr(img.getMessage(), "GDAL_NODATA")) << img.getMessage();
            continue;
        }
        EXPECT_TRUE(nodata == c.fill || (std::isnan(nodata) && std::isnan(c.fill)));
        // The default fill in every channel, outside the image too; a palette
        // image read as RGB takes the index's colour.
        std::vector<double> outside(size_t(img.getCsize()));
        const ekConfig cfg(ekDouble, ekInterleaved, img.getCsize(), nullptr, 0, ekCoordSpace(0),
                           ekColorModel(0));
        ASSERT_EQ(ekOkay, img.getTile(-5, -5, 1, 1, outside.data(), &cfg));
        for (int ch = 0; ch < img.getCsize(); ++ch) {
            const double want = c.palette ? s.colormap[size_t(ch * 256 + 3)] : c.fill;
            EXPECT_TRUE(outside[size_t(ch)] == want ||
                        (std::isnan(want) && std::isnan(outside[size_t(ch)])))
                << ch << ": " << outside[size_t(ch)];
        }
    }
}

// A file GDAL wrote (tiled, georeferenced, with nodata, metadata and
// averaged overviews) opens without a message, keeps GDAL's tags, and reads
// the pixels GDAL copied; skipped where GDAL's tools are not installed.
TEST(TiffTags, FileWrittenByGdal) {
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

    // Every tag copied into a created file: GDAL reads the same
    // georeferencing and nodata from it.
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
    const std::string compare =
        "/usr/bin/python3 -c \"import sys; from osgeo import gdal; a, b = (gdal.Open(p) for p in "
        "sys.argv[1:]); sys.exit(a.GetGeoTransform() != b.GetGeoTransform() or "
        "a.GetProjection() != b.GetProjection() or "
        "a.GetRasterBand(1).GetNoDataValue() != b.GetRasterBand(1).GetNoDataValue())\" " +
        path + " " + copy + " 2>/dev/null";
    if (std::system("/usr/bin/python3 -c 'import osgeo.gdal' 2>/dev/null") == 0) {
        EXPECT_EQ(0, std::system(compare.c_str()));
    }
}

}  // namespace
