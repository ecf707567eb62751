// SPDX-License-Identifier: Apache-2.0
// Overviews: reduced-resolution directories of files written elsewhere open as
// images of their own; those of created files equal a reference reduction.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "eks/tiff.h"
#include "tiff_test_files.h"

namespace {

// A directory of 3 channels of 8 bits, or of a palette's indices (whose
// overviews GDAL writes as grey, without a map).
RawTiffSpec directory(int width, int height, int subfileType, bool palette) {
    RawTiffSpec s;
    s.width = width;
    s.height = height;
    s.channels = palette ? 1 : 3;
    s.photometric = palette && subfileType == 0 ? PHOTOMETRIC_PALETTE
                    : palette                   ? PHOTOMETRIC_MINISBLACK
                                                : PHOTOMETRIC_RGB;
    s.subfileType = subfileType;
    s.tiled = width > 20;  // the smallest overview in strips
    s.compression = COMPRESSION_ADOBE_DEFLATE;
    if (s.photometric == PHOTOMETRIC_PALETTE)
        for (int i = 0; i < 3 * 256; ++i) s.colormap.push_back(uint16_t(i * 7919 % 65536));
    return s;
}

// A level's pixels, or a palette's as colours of the full resolution's map.
std::vector<uint16_t> expected(const RawTiffSpec& first, const std::vector<uint8_t>& pixels) {
    std::vector<uint16_t> out;
    for (uint8_t p : pixels)
        for (int k = 0; k < (first.colormap.empty() ? 1 : 3); ++k)
            out.push_back(first.colormap.empty() ? p : first.colormap[size_t(k * 256 + p)]);
    return out;
}

// Overviews in the chain (as GDAL writes them) and as SubIFDs, of RGB and of
// palette images (8-bit overviews through the map, 16-bit as grey); the
// full-resolution directories stay the slices; damaged copies at every level.
TEST(TiffOverviews, ReducedDirectoriesOpenAsLevelsOfTheirOwn) {
    std::mt19937 rng(12);
    int damaged[2] = {0, 0};
    for (bool subIfds : {false, true})
        for (bool palette : {false, true}) {
            SCOPED_TRACE(testing::Message() << "SubIFDs " << subIfds << " palette " << palette);
            // The chain: full A, overview 1, full B, a mask (ends the slices),
            // overview 2, the mask's overview. As SubIFDs: A holds the two
            // overviews and a full-size SubIFD; B follows in the chain.
            RawTiffSpec a = directory(40, 30, 0, palette), o1 = directory(20, 15, 1, palette),
                        b = a, mask = directory(40, 30, FILETYPE_MASK, palette),
                        o2 = directory(1, 1, 1, palette),  // as small as GDAL's go
                maskOverview = directory(20, 15, FILETYPE_MASK | 1, palette);
            o2.bits = palette ? 16 : 8;  // 16-bit grey: not indices of the map
            a.tags.push_back(RawTag{42113, TIFF_ASCII, {}, "7"});  // the overviews take it
            std::vector<RawTiffSpec> chain = {a, o1, b, mask, o2, maskOverview};
            if (subIfds) {
                chain = {a, o1, o2, directory(40, 30, 0, palette), b};
                chain[0].subIfds = 3;
            }
            std::vector<std::vector<uint8_t>> pixels;
            for (size_t d = 0; d < chain.size(); ++d)
                pixels.push_back(randomPixels(chain[d], uint32_t(d + 1)));
            const std::string path = tempTiffPath("levels");
            ASSERT_TRUE(writeRawTiffs(path, chain, pixels));
            const RawTiffSpec* specs[] = {&a, &o1, &o2};
            const std::vector<uint8_t>* levelPixels[] = {&pixels[0], &pixels[1],
                                                         &pixels[subIfds ? 2 : 4]};
            for (int level = -1; level < 4; ++level) {
                ekTiffOpenOptions options;
                options.level = level;
                ekTiffImg img(path.c_str(), options);
                if (level < 0 || level > 2) {
                    EXPECT_EQ(ekBadInput, img.getStatus());
                    EXPECT_NE(nullptr, std::strstr(img.getMessage(), "overview"))
                        << img.getMessage();
                    continue;
                }
                ASSERT_EQ(ekOkay, img.getStatus()) << level << ": " << img.getMessage();
                EXPECT_EQ(2, img.getOverviewCount());
                const RawTiffSpec& s = *specs[level];
                EXPECT_EQ(s.width, img.getXsize());
                EXPECT_EQ(s.height, img.getYsize());
                EXPECT_EQ(level == 0 ? 2 : 1, img.getZsize());
                EXPECT_EQ(s.tiled ? 16 : s.width, img.getPageSizeX());
                const bool grey = palette && level == 2;
                EXPECT_EQ(grey ? ekGreyscale : ekRGB, img.getColorModel());
                double nodata = 0;
                EXPECT_EQ(1, img.getNodata(nodata));
                EXPECT_EQ(7, nodata);
                const int nc = img.getCsize();
                std::vector<uint16_t> got(size_t(s.width) * s.height * nc);
                const ekConfig cfg(ekUShort, ekInterleaved, nc, nullptr, 0, ekCoordSpace(0),
                                   ekColorModel(0));
                ASSERT_EQ(ekOkay, img.getTile(0, 0, s.width, s.height, got.data(), &cfg));
                const std::vector<uint8_t>& p = *levelPixels[level];
                EXPECT_TRUE(got == (grey ? std::vector<uint16_t>{uint16_t(p[0] | p[1] << 8)}
                                         : expected(a, p)));
                if (level == 0 && !subIfds) {
                    EXPECT_NE(nullptr, std::strstr(img.getMessage(), "NewSubfileType"))
                        << img.getMessage();
                }
            }
            expectDamageHandled(path, 4, 12, rng, damaged);
        }
    EXPECT_GT(damaged[0] + damaged[1], 0);
}

// Sample c of the reference reduction's pixel (ox, oy): of the f x f block
// (its part within the image) of 3-channel pixels.
uint8_t reduced(const std::vector<uint8_t>& px, int w, int h, int f, int ox, int oy, int c,
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

// A compacted file's tiles follow one another at even offsets: an odd-sized
// tile is padded by one byte, no tile by more.
void expectPackedTiles(const std::string& path) {
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(nullptr, tif);
    std::vector<std::pair<uint64_t, uint64_t>> tiles;  // offset, bytes
    do
        for (uint32_t t = 0; t < TIFFNumberOfTiles(tif); ++t)
            tiles.emplace_back(TIFFGetStrileOffset(tif, t), TIFFGetStrileByteCount(tif, t));
    while (TIFFReadDirectory(tif));
    TIFFClose(tif);
    std::sort(tiles.begin(), tiles.end());
    for (size_t i = 1; i < tiles.size(); ++i) {
        const uint64_t end = tiles[i - 1].first + tiles[i - 1].second;
        ASSERT_EQ(end + end % 2, tiles[i].first) << i;
    }
}

// Each method and order, factors that divide the tiles' sides and factors
// that do not, in any order and repeated, read by libtiff and by the image;
// a cloud-optimized file is checked by GDAL's validator where installed.
TEST(TiffOverviews, LevelsEqualAReferenceReduction) {
    const struct {
        ekTiffResampling method;
        ekOrder order;
        std::vector<int> factors;  // the levels are these, ascending, each once
        bool cloudOptimized;
    } rows[] = {{ekTiffNearest, ekSeparate, {2, 4, 8}, false},
                {ekTiffAverage, ekInterleaved, {8, 3, 2}, false},
                {ekTiffMode, ekSeparate, {3, 4, 16}, false},
                {ekTiffAverage, ekSeparate, {4, 2, 16, 4}, true}};
    const std::string validator = "osgeo_utils.samples.validate_cloud_optimized_geotiff";
    const bool validate =
        std::system(("/usr/bin/python3 -c 'import " + validator + "' 2>/dev/null").c_str()) == 0;
    // Tiles whole in one direction and cut in the other, with blocks cut at the
    // image's edge, at every factor but 2 across (whose blocks all fit).
    const int w = 70, h = 99;
    std::vector<uint8_t> px = randomBytes(w * h * 3, 21);
    for (size_t i = 0; i < px.size(); i += 2) px[i] &= 3;  // repeated values for the mode
    const ekConfig interleaved(ekUChar, ekInterleaved, 3);
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "method " << r.method << " order " << r.order);
        const std::string path = tempTiffPath("overviews");
        {
            ekTiffCreateOptions options;
            options.tileWidth = options.tileHeight = 16;
            options.compression = r.cloudOptimized ? ekTiffZSTD : ekTiffDeflate;
            options.cloudOptimized = r.cloudOptimized;
            ekTiffImg img(path.c_str(), ekSize(w, h, 1, 3), ekUChar, r.order, options);
            ASSERT_EQ(ekOkay, img.setTile(0, 0, w, h, px.data(), &interleaved));
            ASSERT_EQ(ekOkay, img.buildOverviews(r.factors.data(), int(r.factors.size()), r.method))
                << img.getMessage();
            ASSERT_EQ(ekOkay, img.close()) << img.getMessage();
        }
        if (r.cloudOptimized) expectPackedTiles(path);
        if (r.cloudOptimized && validate) {
            EXPECT_EQ(0, std::system(("/usr/bin/python3 -m " + validator + " -q " + path).c_str()));
        }
        std::set<int> levels(r.factors.begin(), r.factors.end());
        levels.insert(1);
        int level = 0;
        for (int f : levels) {
            const LibtiffDirectory got = readWithLibtiff(path, level);
            ASSERT_EQ(uint32_t((w + f - 1) / f), got.width);
            ASSERT_EQ(uint32_t((h + f - 1) / f), got.height);
            EXPECT_EQ(level == 0 ? 0u : uint32_t(FILETYPE_REDUCEDIMAGE), got.subfileType);
            for (int y = 0; y < int(got.height); ++y)
                for (int x = 0; x < int(got.width); ++x)
                    for (int c = 0; c < 3; ++c)
                        ASSERT_EQ(reduced(px, w, h, f, x, y, c, r.method),
                                  got.pixels[size_t((y * int(got.width) + x) * 3 + c)])
                            << "level " << level << " at " << x << ", " << y;
            ekTiffOpenOptions options;
            options.level = level++;
            ekTiffImg back(path.c_str(), options);
            std::vector<uint8_t> pixels(got.pixels.size());
            ASSERT_EQ(ekOkay, back.getTile(0, 0, int(got.width), int(got.height), pixels.data(),
                                           &interleaved));
            EXPECT_TRUE(pixels == got.pixels);
        }
    }
}

}  // namespace
