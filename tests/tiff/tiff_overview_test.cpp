// SPDX-License-Identifier: Apache-2.0
// Overviews: reduced-resolution directories, in the chain as GDAL writes them
// or as SubIFDs as tifffile writes them, open as images of their own; the
// full-resolution directories stay the slices.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstring>
#include <vector>

#include "eks/tiff.h"
#include "tiff_test_files.h"

namespace {

// A directory of the test files: 3 channels of 8 bits (indices of a palette
// image that GDAL would write: grey overviews without a colour map).
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

// What a read of a level gives, element by element: its pixels, or for a
// palette their colours in the full resolution's map.
std::vector<uint16_t> expected(const RawTiffSpec& first, const std::vector<uint8_t>& pixels) {
    std::vector<uint16_t> out;
    for (uint8_t p : pixels)
        if (first.colormap.empty()) {
            out.push_back(p);
        } else {
            for (int k = 0; k < 3; ++k) out.push_back(first.colormap[size_t(k * 256 + p)]);
        }
    return out;
}

TEST(TiffOverview, ReducedDirectoriesOpenAsLevelsOfTheirOwn) {
    for (bool subIfds : {false, true})
        for (bool palette : {false, true}) {
            SCOPED_TRACE(testing::Message() << "SubIFDs " << subIfds << " palette " << palette);
            // The chain: full A, overview 1, full B, a mask (ends the slices),
            // overview 2, an overview of the mask. As SubIFDs: A holds the
            // two overviews and a full-size SubIFD; B follows in the chain.
            RawTiffSpec a = directory(40, 30, 0, palette), o1 = directory(20, 15, 1, palette),
                        b = a, mask = directory(40, 30, FILETYPE_MASK, palette),
                        o2 = directory(1, 1, 1, palette),  // as small as GDAL's go
                maskOverview = directory(20, 15, FILETYPE_MASK | 1, palette);
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

            const std::vector<uint8_t>& o1Pixels = pixels[1];
            const std::vector<uint8_t>& o2Pixels = pixels[subIfds ? 2 : 4];
            const struct {
                const RawTiffSpec& spec;
                const std::vector<uint8_t>& pixels;
            } levels[] = {{a, pixels[0]}, {o1, o1Pixels}, {o2, o2Pixels}};
            for (int level = 0; level < 3; ++level) {
                ekTiffOpenOptions options;
                options.level = level;
                ekTiffImg img(path.c_str(), options);
                ASSERT_EQ(ekOkay, img.getStatus()) << level << ": " << img.getMessage();
                EXPECT_EQ(2, img.getOverviewCount());
                const RawTiffSpec& s = levels[level].spec;
                EXPECT_EQ(s.width, img.getXsize());
                EXPECT_EQ(s.height, img.getYsize());
                EXPECT_EQ(level == 0 ? 2 : 1, img.getZsize());
                EXPECT_EQ(s.tiled ? 16 : s.width, img.getPageSizeX());
                EXPECT_EQ(ekRGB, img.getColorModel());
                double nodata = 0;
                EXPECT_EQ(1, img.getNodata(nodata));
                EXPECT_EQ(7, nodata);
                std::vector<uint16_t> got(size_t(s.width) * s.height * 3);
                const ekConfig cfg(ekUShort, ekInterleaved, 3, nullptr, 0, ekCoordSpace(0),
                                   ekColorModel(0));
                ASSERT_EQ(ekOkay, img.getTile(0, 0, s.width, s.height, got.data(), &cfg));
                EXPECT_TRUE(got == expected(a, levels[level].pixels));
                if (level == 0 && !subIfds) {
                    EXPECT_NE(nullptr, std::strstr(img.getMessage(), "NewSubfileType"))
                        << img.getMessage();
                }
            }
            for (int level : {3, -1}) {
                ekTiffOpenOptions options;
                options.level = level;
                ekTiffImg img(path.c_str(), options);
                EXPECT_EQ(ekBadInput, img.getStatus());
                EXPECT_NE(nullptr, std::strstr(img.getMessage(), "overview")) << img.getMessage();
            }
        }
}

}  // namespace
