// SPDX-License-Identifier: Apache-2.0
// Memory image reads, writes, fills and copies: the directed cases that the
// randomized tests (memory_image_random_test.cpp) do not reach, and page
// locks.
#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "test_images.h"

namespace {

// A 4 x 3, three-channel ekUChar interleaved image: channel k of (x, y) holds
// 10 * (y * 4 + x) + k; fill (200, 201, 202).
struct Rgb {
    std::vector<unsigned char> pixels;
    TestMemoryImg img;
    Rgb() : pixels(4 * 3 * 3), img(nullptr, ekSize(4, 3, 1, 3), ekUChar, ekInterleaved) {
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x)
                for (int k = 0; k < 3; ++k) pixels[size_t((y * 4 + x) * 3 + k)] = value(x, y, k);
        img.setDataPtr(pixels.data());
        ekPixel fill(ekUChar, 3);
        for (int k = 0; k < 3; ++k) fill.setElem(200 + k, k);
        img.setFill(fill);
    }
    static unsigned char value(int x, int y, int k) {
        return static_cast<unsigned char>(10 * (y * 4 + x) + k);
    }
    unsigned char at(int x, int y, int k) const { return pixels[size_t((y * 4 + x) * 3 + k)]; }
};

// --- Copies -----------------------------------------------------------------

TEST(MemoryImageCopy, FailuresAreReportedNotHidden) {
    Rgb rgb;
    TestMemoryImg t(ekSize(6, 5, 1, 3), ekUChar, ekInterleaved);
    t.setStatus(ekBadInput);
    // The write into t fails: its status comes back and the fill is skipped.
    EXPECT_EQ(rgb.img.copyTile(-1, 0, 2, 1, &t, 0, 0, nullptr, 0), ekBadInput);
    EXPECT_EQ(rgb.img.copyTile(0, 0, 2, 1, &t, 0, 0, nullptr, 1), ekBadInput);
    EXPECT_EQ(rgb.img.copyTile(0, 0, 2, 1, nullptr, 0, 0, nullptr, 1), ekBadInput);

    // An image that cannot fill: fine while this image covers the box.
    GridImage plain(8, 8, 3);  // also ekRGB
    EXPECT_EQ(rgb.img.copyTile(0, 0, 2, 2, &plain, 0, 0, nullptr, 0), ekOkay);
    EXPECT_EQ(rgb.img.copyTile(-1, 0, 2, 2, &plain, 0, 0, nullptr, 0), ekNotImplemented);

    // Different colour models: no conversion in this library.
    TestMemoryImg grey(ekSize(4, 3, 1, 1), ekUChar, ekInterleaved);
    EXPECT_EQ(rgb.img.copyTile(0, 0, 2, 2, &grey, 0, 0, nullptr, 1), ekNotImplemented);
}

// --- Pages ------------------------------------------------------------------

TEST(MemoryImagePages, EveryValidRequestSharesOnePageIntoTheBuffer) {
    Rgb rgb;
    ekLockRequest req[3];
    req[0].init(0, 0, 0, 0);
    req[1].init(3, 2, 0, 2);
    req[2].init(0, 0, 0, 3);  // no channel 3: not a page of this image
    for (ekLockRequest& r : req) {
        r.status = ekNoMemory;
        r.page = reinterpret_cast<ekPage*>(&r);
    }
    ASSERT_EQ(rgb.img.lockPageSet(req, 0, 2), ekOkay);  // never past the count
    EXPECT_EQ(req[2].status, ekNoMemory);
    ASSERT_EQ(rgb.img.lockPageSet(req, 0, 3), ekOkay);
    ASSERT_NE(req[0].page, nullptr);
    EXPECT_EQ(req[0].page, req[1].page);
    EXPECT_EQ(req[2].page, nullptr);
    for (ekLockRequest& r : req) EXPECT_EQ(r.status, ekOkay);
    EXPECT_TRUE(req[0].page->Valid());
    EXPECT_EQ(req[0].page->getData(), rgb.pixels.data());
    EXPECT_EQ(static_cast<void*>(*req[0].page), rgb.pixels.data());
    rgb.img.unlockPageSet(req, 3);  // the page stays with the image

    ekLockRequest again;
    again.init(1, 1, 0, 0);
    ASSERT_EQ(rgb.img.lockPageSet(&again, 0, 1), ekOkay);
    EXPECT_EQ(again.page, req[0].page);

    ekMemoryImg broken;  // no buffer: the lock is refused
    EXPECT_EQ(broken.lockPageSet(&again, 0, 1), ekBadAttribute);
}

TEST(Page, HandleBasics) {
    ekPage none;
    EXPECT_TRUE(none.Valid());
    EXPECT_EQ(none.getData(), nullptr);
    EXPECT_EQ(none.matches(-1, -1, -1, -1), 1);
    int buf = 0;
    ekPage p(1, 2, 3, 4, &buf);
    ekPage copy(p);
    EXPECT_EQ(copy.getData(), &buf);
    EXPECT_EQ(copy.matches(1, 2, 3, 4), 1);
    EXPECT_EQ(copy.matches(1, 2, 3, 5), 0);
    int x, y, z, c;
    copy.getPos(x, y, z, c);
    EXPECT_EQ(x + y + z + c, 10);
    copy.magic = ekPage::kDeadMagic;  // what the destructor leaves behind
    EXPECT_FALSE(copy.Valid());
    EXPECT_EQ(copy.getData(), nullptr);
    EXPECT_EQ(copy.matches(1, 2, 3, 4), 0);
}

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
