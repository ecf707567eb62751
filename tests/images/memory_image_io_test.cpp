// SPDX-License-Identifier: Apache-2.0
// ekSaturate in the configuration, which the randomized tests do not draw:
// every request kind of the memory image, the constant image and the view
// hands the flag to the transfer engine (whose clamping and rounding the
// transfer tests compare with their reference).
#include <gtest/gtest.h>

#include <functional>

#include "test_images.h"

namespace {

// 300 lands in a byte as 255 when the request saturates, as 44 when it casts.
TEST(MemoryImageSaturate, EveryRequestKindHandsTheFlagOn) {
    float f[2] = {300.0f, 300.0f};
    TestMemoryImg fimg(f, ekSize(2, 1, 1, 1), ekFloat, ekSeparate);
    fimg.setFill(ekPixel(ekFloat, 1, f));
    ekSubImg view(&fimg, 1, 0, 1, 1, nullptr);
    ekConstImg constant(ekPixel(ekFloat, 1, f));
    unsigned char u[3] = {}, out = 0;
    TestMemoryImg one(u, ekSize(1, 1, 1, 1), ekUChar, ekInterleaved);
    TestMemoryImg three(u, ekSize(1, 1, 1, 3), ekUChar, ekInterleaved);
    double d[3] = {300.0, 300.0, 300.0};
    ekConfig c;
    auto cfg = [&](ekType t, int n, int flag) {
        c = ekConfig(t, ekInterleaved, n);
        c.reserved = flag;
        return &c;
    };
    auto read = [&](ekImage& img, int x, int flag) {
        return img.getTile(x, 0, 1, 1, &out, cfg(ekUChar, 1, flag)) == ekOkay ? out : -1;
    };
    const std::function<int(int)> kinds[] = {
        [&](int s) { return read(fimg, 0, s); },
        [&](int s) { return read(fimg, -1, s); },  // the fill outside
        [&](int s) { return read(view, 0, s); },
        [&](int s) { return read(view, 1, s); },  // the view's fill outside it
        [&](int s) { return read(constant, 5, s); },
        [&](int s) { return one.setTile(0, 0, 1, 1, f, cfg(ekFloat, 1, s)) == ekOkay ? u[0] : -1; },
        [&](int s) {
            return one.copyTileCfg(0, 0, 0, 1, 1, 1, &fimg, 0, 0, 0, cfg(ekAnyType, 0, s), 1) ==
                           ekOkay
                       ? u[0]
                       : -1;
        },
        [&](int s) {
            return three.fillTile(0, 0, 1, 1, d, cfg(ekDouble, 3, s), nullptr) == ekOkay ? u[1] : -1;
        },
        [&](int s) {  // one value widened over the channels
            return three.fillTile(0, 0, 1, 1, d, cfg(ekDouble, 1, s), nullptr) == ekOkay ? u[2] : -1;
        },
    };
    for (size_t i = 0; i < sizeof kinds / sizeof kinds[0]; ++i) {
        EXPECT_EQ(kinds[i](ekSaturate), 255) << i;
        EXPECT_EQ(kinds[i](0), 44) << i;
    }
}

}  // namespace
