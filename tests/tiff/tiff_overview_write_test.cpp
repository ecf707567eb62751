// SPDX-License-Identifier: Apache-2.0
// Overviews of created files: each level, read by libtiff alone, equals a
// plain reference reduction of the pixels (partial blocks at the right and
// bottom edges reduce the pixels they hold).
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <vector>

#include "eks/tiff.h"
#include "tiff_test_files.h"

namespace {

// The directory's pixels (8-bit, interleaved), assembled from its tiles.
std::vector<uint8_t> readLevel(const std::string& path, int dir, uint32_t& w, uint32_t& h,
                               uint32_t& subfile) {
    std::vector<uint8_t> out;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (tif == nullptr || !TIFFSetDirectory(tif, tdir_t(dir))) return out;
    uint32_t tw = 0, th = 0;
    uint16_t spp = 1;
    subfile = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &subfile);
    std::vector<uint8_t> t(size_t(TIFFTileSize(tif)));
    out.resize(size_t(w) * h * spp);
    for (uint32_t y = 0; y < h; y += th)
        for (uint32_t x = 0; x < w; x += tw) {
            TIFFReadTile(tif, t.data(), x, y, 0, 0);
            for (uint32_t r = 0; r < th && y + r < h; ++r)
                for (uint32_t c = 0; c < tw && x + c < w; ++c)
                    for (uint16_t s = 0; s < spp; ++s)
                        out[((y + r) * w + x + c) * spp + s] = t[(r * tw + c) * spp + s];
        }
    TIFFClose(tif);
    return out;
}

uint8_t reference(const std::vector<uint8_t>& px, int w, int h, int f, int ox, int oy, int c,
                  ekTiffResampling method) {
    std::vector<uint8_t> block;
    for (int y = oy * f; y < std::min(h, oy * f + f); ++y)
        for (int x = ox * f; x < std::min(w, ox * f + f); ++x)
            block.push_back(px[size_t((y * w + x) * 3 + c)]);
    if (method == ekTiffNearest) return block[0];
    if (method == ekTiffAverage) {
        double sum = 0;
        for (uint8_t v : block) sum += v;
        return uint8_t(std::floor(sum / double(block.size()) + 0.5));
    }
    // The first value met among the most frequent ones.
    std::map<uint8_t, int> counts;
    int most = 0;
    for (uint8_t v : block) most = std::max(most, ++counts[v]);
    for (uint8_t v : block)
        if (counts[v] == most) return v;
    return 0;
}

TEST(TiffOverviews, LevelsEqualAReferenceReduction) {
    const int w = 70, h = 45;
    std::vector<uint8_t> px = randomBytes(w * h * 3, 21);
    for (size_t i = 0; i < px.size(); i += 2) px[i] &= 3;  // repeated values for the mode
    for (ekTiffResampling method : {ekTiffNearest, ekTiffAverage, ekTiffMode}) {
        SCOPED_TRACE(testing::Message() << "method " << method);
        const std::string path = tempTiffPath("overviews");
        {
            ekTiffCreateOptions options;
            options.tileWidth = options.tileHeight = 16;
            options.compression = ekTiffDeflate;
            ekTiffImg img(path.c_str(), ekSize(w, h, 1, 3), ekUChar, ekInterleaved, options);
            ASSERT_EQ(ekOkay, img.setTile(0, 0, w, h, px.data(), nullptr));
            const int factors[] = {2, 3, 8};
            ASSERT_EQ(ekOkay, img.buildOverviews(factors, 3, method)) << img.getMessage();
            ASSERT_EQ(ekOkay, img.close());
        }
        const int factors[] = {1, 2, 3, 8};
        for (int level = 0; level < 4; ++level) {
            const int f = factors[level];
            uint32_t lw = 0, lh = 0, subfile = 0;
            const std::vector<uint8_t> got = readLevel(path, level, lw, lh, subfile);
            ASSERT_EQ(uint32_t((w + f - 1) / f), lw);
            ASSERT_EQ(uint32_t((h + f - 1) / f), lh);
            EXPECT_EQ(level == 0 ? 0u : uint32_t(FILETYPE_REDUCEDIMAGE), subfile);
            for (int y = 0; y < int(lh); ++y)
                for (int x = 0; x < int(lw); ++x)
                    for (int c = 0; c < 3; ++c)
                        ASSERT_EQ(reference(px, w, h, f, x, y, c, method),
                                  got[size_t((y * int(lw) + x) * 3 + c)])
                            << "level " << level << " at " << x << ", " << y;
        }
    }
}

// A cloud-optimized file with overviews passes GDAL's validator (when GDAL's
// Python bindings are installed) and reads back like any other.
TEST(TiffOverviews, CloudOptimizedFilesPassTheValidator) {
    const char* check =
        "/usr/bin/python3 -c 'import osgeo_utils.samples."
        "validate_cloud_optimized_geotiff' 2>/dev/null";
    if (std::system(check) != 0) GTEST_SKIP() << "GDAL's Python bindings are not installed";
    const std::string path = tempTiffPath("cog");
    const std::vector<uint8_t> px = randomBytes(300 * 200 * 2, 22);
    {
        ekTiffCreateOptions options;
        options.tileWidth = options.tileHeight = 64;
        options.compression = ekTiffZSTD;
        options.cloudOptimized = true;
        ekTiffImg img(path.c_str(), ekSize(300, 200, 1, 2), ekUChar, ekSeparate, options);
        ASSERT_EQ(ekOkay, img.setTile(0, 0, 300, 200, const_cast<uint8_t*>(px.data()), nullptr));
        const int factors[] = {4, 2};
        ASSERT_EQ(ekOkay, img.buildOverviews(factors, 2, ekTiffAverage));
        ASSERT_EQ(ekOkay, img.close()) << img.getMessage();
    }
    EXPECT_EQ(0, std::system(("/usr/bin/python3 -m osgeo_utils.samples."
                              "validate_cloud_optimized_geotiff -q " +
                              path)
                                 .c_str()));
    ekTiffImg back(path.c_str());
    std::vector<uint8_t> got(px.size());
    ASSERT_EQ(ekOkay, back.getTile(0, 0, 300, 200, got.data(), nullptr));
    EXPECT_TRUE(got == px);
}

}  // namespace
