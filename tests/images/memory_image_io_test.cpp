// SPDX-License-Identifier: Apache-2.0
// Memory image reads, writes, fills and copies: the directed cases that the
// randomized tests (memory_image_random_test.cpp) do not reach.
#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "test_images.h"

namespace {

// A 4 x 3, three-channel ekUChar interleaved image over a buffer of zeros.
struct Rgb {
    std::vector<unsigned char> pixels = std::vector<unsigned char>(4 * 3 * 3, 0);
    TestMemoryImg img{pixels.data(), ekSize(4, 3, 1, 3), ekUChar, ekInterleaved};
    unsigned char at(int x, int y, int k) const { return pixels[size_t((y * 4 + x) * 3 + k)]; }
};

}  // namespace

// ekSaturate in the configuration: reads (the outside fill included),
// writes, fills (a widened value too) and copies between images clamp and
// round; without it the same requests cast.
TEST(MemoryImageSaturate, EveryRequestKindClampsAndRounds) {
    float f[4] = {300.0f, -10.0f, 2.5f, std::numeric_limits<float>::quiet_NaN()};
    TestMemoryImg fimg(f, ekSize(4, 1, 1, 1), ekFloat, ekSeparate);
    const float fillValue = 1000.0f;
    fimg.setFill(ekPixel(ekFloat, 1, &fillValue));
    ekConfig sat(ekUChar, ekSeparate, 1);
    sat.reserved = ekSaturate;
    ekConfig plain(ekUChar, ekSeparate, 1);
    unsigned char out[5];
    ASSERT_EQ(fimg.getTile(0, 0, 5, 1, out, &sat), ekOkay);
    EXPECT_EQ(std::vector<int>(out, out + 5), (std::vector<int>{255, 0, 2, 0, 255}));
    ASSERT_EQ(fimg.getTile(0, 0, 5, 1, out, &plain), ekOkay);
    EXPECT_EQ(std::vector<int>(out, out + 5), (std::vector<int>{44, 246, 2, 0, 232}));

    unsigned char u[4] = {};
    TestMemoryImg uimg(u, ekSize(4, 1, 1, 1), ekUChar, ekSeparate);
    float in[3] = {-1.0f, 3.5f, 256.0f};
    ekConfig satFloat(ekFloat, ekSeparate, 1);
    satFloat.reserved = ekSaturate;
    ASSERT_EQ(uimg.setTile(0, 0, 3, 1, in, &satFloat), ekOkay);
    EXPECT_EQ(std::vector<int>(u, u + 3), (std::vector<int>{0, 4, 255}));

    // Copy: this image reads the float image through the configuration.
    ekConfig satCopy(ekAnyType, ekAnyOrder, 0);
    satCopy.reserved = ekSaturate;
    ASSERT_EQ(uimg.copyTileCfg(0, 0, 0, 4, 1, 1, &fimg, 0, 0, 0, &satCopy, 1), ekOkay);
    EXPECT_EQ(std::vector<int>(u, u + 4), (std::vector<int>{255, 0, 2, 0}));

    // Fills: a three-channel value, and one value widened over the channels.
    Rgb rgb;
    double v3[3] = {-5.0, 1e9, 127.5};
    ekConfig satDouble(ekDouble, ekInterleaved, 3);
    satDouble.reserved = ekSaturate;
    ASSERT_EQ(rgb.img.fillTile(0, 0, 1, 1, v3, &satDouble, nullptr), ekOkay);
    EXPECT_EQ(rgb.at(0, 0, 0), 0);
    EXPECT_EQ(rgb.at(0, 0, 1), 255);
    EXPECT_EQ(rgb.at(0, 0, 2), 128);
    ekConfig satOne(ekDouble, ekInterleaved, 1);
    satOne.reserved = ekSaturate;
    ASSERT_EQ(rgb.img.fillTile(1, 0, 1, 1, v3 + 1, &satOne, nullptr), ekOkay);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(rgb.at(1, 0, k), 255) << k;
}

// The constant image and the view hand the flag on: to the engine for their
// own values, to the parent for what it reads.
TEST(MemoryImageSaturate, ConstantImagesAndViewsCarryTheFlag) {
    const float two[2] = {300.0f, -2.5f};
    ekConstImg constant(ekPixel(ekFloat, 2, two));
    ekConfig sat(ekChar, ekInterleaved, 2);
    sat.reserved = ekSaturate;
    signed char c[2];
    ASSERT_EQ(constant.getTile(0, 0, 1, 1, c, &sat), ekOkay);
    EXPECT_EQ(c[0], 127);
    EXPECT_EQ(c[1], -2);

    float f[4] = {300.0f, -10.0f, 2.5f, 7.0f};
    TestMemoryImg fimg(f, ekSize(4, 1, 1, 1), ekFloat, ekSeparate);
    const float fillValue = 1000.0f;
    fimg.setFill(ekPixel(ekFloat, 1, &fillValue));
    ekSubImg view(&fimg, 1, 0, 2, 1, nullptr);
    ekConfig satByte(ekUChar, ekSeparate, 1);
    satByte.reserved = ekSaturate;
    unsigned char out[4];
    ASSERT_EQ(view.getTile(-1, 0, 4, 1, out, &satByte), ekOkay);
    EXPECT_EQ(std::vector<int>(out, out + 4), (std::vector<int>{255, 0, 2, 255}));
}
