// SPDX-License-Identifier: Apache-2.0
// ekImage tile front end: forwarding of every entry point, pixels, the base
// copy between images, clipping, strides and the page tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "test_images.h"

namespace {

using Ints = std::vector<int>;

// Expects exactly one recorded call and returns it.
const PrimitiveCall& onlyCall(const RecordingImage& img) {
    EXPECT_EQ(img.calls.size(), 1u);
    static const PrimitiveCall none{};
    return img.calls.empty() ? none : img.calls.front();
}

TEST(TileFrontEnd, EveryEntryPointMakesOnePrimitiveCall) {
    char data[4];
    int value = 0;
    ekConfig cfg(ekFloat, ekSeparate, 2);
    ekTile keep(0, 0, 0, 1, 1, 1);
    auto* sem = reinterpret_cast<ekSemaphore*>(&value);
    RecordingImage other;
    // The layouts built: a pixel's (sized to the image when untyped) and, for
    // a channel list, the image's own.
    ekPixel px, one(ekDouble, 1);
    int list[] = {2, 0, 1};
    const ekConfig pxCfg(ekUShort, ekInterleaved, 3), oneCfg(ekDouble, ekInterleaved, 1),
        own(ekUShort, ekInterleaved, 3, list, 0, ekUpperLeft, ekColorModel(0));
    const struct {
        const char* primitive;
        std::function<intptr_t(RecordingImage&)> call;
        Ints ints;
        const ekConfig* cfg;
        int line;
        const ekPixel* pixel = nullptr;
    } rows[] = {
#define CALL(expr) [&](RecordingImage& i) { return intptr_t(i.expr); }
        // clang-format off
        {"get", CALL(getTile3D(1, 2, 3, 4, 5, 6, data, &cfg)),
         {1, 2, 3, 4, 5, 6, 1, 2, 3, 4, 5, 6}, &cfg, __LINE__},
        {"set", CALL(setTile3D(1, 2, 3, 4, 5, 6, data, &cfg)),
         {1, 2, 3, 4, 5, 6, 1, 2, 3, 4, 5, 6}, &cfg, __LINE__},
        {"get", CALL(getTile(10, 20, 4, 3, data, nullptr)),
         {10, 20, 0, 4, 3, 1, 10, 20, 0, 4, 3, 1}, nullptr, __LINE__},
        {"set", CALL(setTile(-1, -2, 4, 3, data, &cfg)),
         {-1, -2, 0, 4, 3, 1, -1, -2, 0, 4, 3, 1}, &cfg, __LINE__},
        {"get", CALL(getSubTile(2, 2, 2, 2, data, 0, 1, 8, 9, &cfg)),
         {2, 2, 0, 2, 2, 1, 0, 1, 0, 8, 9, 1}, &cfg, __LINE__},
        {"set", CALL(setSubTile(2, 3, 4, 5, data, 6, 7, 8, 9, nullptr)),
         {2, 3, 0, 4, 5, 1, 6, 7, 0, 8, 9, 1}, nullptr, __LINE__},
        {"fill", CALL(fillTile(1, 2, 3, 4, &value, &cfg, &keep)),
         {1, 2, 0, 3, 4, 1}, &cfg, __LINE__},
        {"seek", CALL(seekTile(1, 2, 3, 4, &cfg, sem)), {1, 2, 0, 3, 4, 1}, &cfg, __LINE__},
        {"lock", CALL(lockTile(5, 6, 7, 8, &cfg, 0x401)),
         {5, 6, 0, 7, 8, 1, 0x401}, &cfg, __LINE__},
        {"copy", CALL(copyTile(1, 2, 3, 4, &other, 5, 6, nullptr, 7)),
         {1, 2, 0, 3, 4, 1, 5, 6, 0, 7}, nullptr, __LINE__},
        {"copy", CALL(copyTile(1, 1, 2, 2, &other, 0, 0, list, 1)),
         {1, 1, 0, 2, 2, 1, 0, 0, 0, 1}, &own, __LINE__},
        {"get", CALL(getPixel(3, 4, px)),
         {3, 4, 0, 1, 1, 1, 3, 4, 0, 1, 1, 1}, &pxCfg, __LINE__, &px},
        {"set", CALL(setPixel(5, 6, one)),
         {5, 6, 0, 1, 1, 1, 5, 6, 0, 1, 1, 1}, &oneCfg, __LINE__, &one},
    // clang-format on
#undef CALL
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.line);
        RecordingImage img;
        img.answer = ekOutOfBounds;
        const std::string name = r.primitive;
        const intptr_t result = r.call(img);  // passed on unchanged
        EXPECT_EQ(result, name == "lock" ? intptr_t(&img) : intptr_t(ekOutOfBounds));
        const PrimitiveCall& call = onlyCall(img);
        EXPECT_EQ(call.name, name);
        EXPECT_EQ(call.ints, r.ints);
        EXPECT_EQ(call.cfgPtr != nullptr, r.cfg != nullptr);
        EXPECT_EQ(configFields(call.cfg), configFields(r.cfg ? *r.cfg : ekConfig()));
        const bool moves = name == "get" || name == "set";
        const void* none = nullptr;
        const void* buffer = r.pixel ? r.pixel->elems() : data;
        EXPECT_EQ(call.data, moves ? buffer : name == "fill" ? &value : none);
        EXPECT_EQ(call.extra, name == "fill" ? &keep : name == "seek" ? sem : none);
        EXPECT_EQ(call.other, name == "copy" ? &other : none);
    }
}

TEST(TileFrontEnd, PixelsMoveRealValues) {
    GridImage img(3, 2, 2);  // an empty pixel is sized to the image's two channels
    img.paint(1);
    ekPixel p(ekDouble, 0), first(ekDouble, 1);
    EXPECT_EQ(img.getPixel(1, 1, p), ekOkay);
    EXPECT_TRUE(p.nc() == 2 && p.getElem(0) + p.getElem(1) == img.at(1, 1, 0) + img.at(1, 1, 1));
    EXPECT_EQ(img.getPixel(2, 0, first), ekOkay);  // channel 0 only, as a double
    EXPECT_TRUE(first.nc() == 1 && first.getElem(0) == img.at(2, 0, 0));
    for (int round = 0; round < 8; ++round) {  // an empty pixel writes zeros
        img.at(0, 1, 0) = img.at(0, 1, 1) = 77;
        ekPixel fresh(ekFloat, 0);
        EXPECT_EQ(img.setPixel(0, 1, fresh), ekOkay);
        EXPECT_EQ(img.at(0, 1, 0) + img.at(0, 1, 1), 0.0);
    }
    GridImage grey(1, 1, 1);  // one channel: one element, read and written
    ekPixel g, blank;
    EXPECT_TRUE(grey.getPixel(0, 0, g) == ekOkay && g.nc() == 1);
    EXPECT_EQ(grey.setPixel(0, 0, blank), ekOkay);
}

// The base copy between images of another class (layouts, selections and
// overlaps: the memory image's randomized copies take the same path).
TEST(TileFrontEnd, BaseCopyBothDirectionsThroughChannelsAndFill) {
    GridImage a(4, 3, 3), b(4, 3, 3);
    a.paint(0);
    b.paint(1);
    for (int c = 0; c < 3; ++c) b.setFillValue(42 + c, c);
    EXPECT_EQ(a.copyTileCfg(0, 0, 0, 2, 2, 1, &b, 3, 0, 0, nullptr, 1), ekOkay);  // b into a
    // b's last column, then its fill; outside the box untouched.
    EXPECT_EQ(std::vector<double>({a.at(0, 0, 0), a.at(1, 1, 2), a.at(2, 0, 0)}),
              (std::vector<double>{4, 44, 2}));
    EXPECT_EQ(a.copyTileCfg(2, 1, 0, 2, 1, 1, &b, 0, 0, 0, nullptr, 0), ekOkay);  // a into b
    EXPECT_EQ(std::vector<double>({b.at(0, 0, 0), b.at(1, 0, 1), b.at(2, 0, 0)}),
              (std::vector<double>{12, 113, 3}));
    // Fewer channels than this image: the named one lands in channel 0, the
    // others keep their values; both directions.
    GridImage three(2, 1, 3);
    three.paint(50);
    ekConfig second(ekUChar, ekInterleaved, 1, nullptr, 1);
    const std::vector<double> expect = {121, 150, 250, 122, 151, 251};
    EXPECT_EQ(three.copyTileCfg(0, 0, 0, 2, 1, 1, &b, 0, 2, 0, &second, 1), ekOkay);
    EXPECT_EQ(three.pixels, expect);
    EXPECT_EQ(three.copyTileCfg(0, 0, 0, 2, 1, 1, &b, 0, 1, 0, &second, 0), ekOkay);
    EXPECT_TRUE(b.at(0, 1, 1) == 121 && b.at(0, 1, 0) == 11);
    // An unusable configuration is refused before anything moves.
    ekConfig negative(ekUChar, ekInterleaved, -1);
    EXPECT_EQ(three.copyTileCfg(0, 0, 0, 2, 1, 1, &b, 0, 0, 0, &negative, 1), ekBadAttribute);
    EXPECT_EQ(three.pixels, expect);
    // A single channel that selects none of other's keeps its values too.
    GridImage one(2, 1, 1);
    one.paint(7);
    ekConfig beyond(ekUChar, ekInterleaved, 1, nullptr, 5);
    EXPECT_EQ(one.copyTileCfg(0, 0, 0, 2, 1, 1, &b, 0, 0, 0, &beyond, 1), ekOkay);
    EXPECT_EQ(one.pixels, (std::vector<double>{7, 8}));
    int pick[] = {0, 9};  // the list names one channel: its second entry is not read
    ekConfig listed(ekUChar, ekInterleaved, 1, pick);
    EXPECT_EQ(one.copyTileCfg(0, 0, 0, 2, 1, 1, &b, 0, 0, 0, &listed, 1), ekOkay);
    EXPECT_EQ(one.gets, 1);  // every channel selected: not read first this time
}

TEST(TileFrontEnd, BaseCopyFailures) {
    GridImage a(2, 2, 1), b(2, 2, 1), rgb(2, 2, 3);
    b.failWith = ekBadInput;  // the first failure is returned, the second step skipped
    EXPECT_EQ(a.copyTileCfg(0, 0, 0, 2, 2, 1, &b, 0, 0, 0, nullptr, 1), ekBadInput);
    a.failWith = ekNoMemory;
    b.failWith = ekOkay;
    EXPECT_EQ(a.copyTileCfg(0, 0, 0, 2, 2, 1, &b, 0, 0, 0, nullptr, 0), ekNoMemory);
    EXPECT_EQ(a.sets + b.sets, 0);
    a.failWith = ekOkay;
    // Different colour models: refused in both directions, without recursion.
    EXPECT_EQ(a.copyTileCfg(0, 0, 0, 2, 2, 1, &rgb, 0, 0, 0, nullptr, 1), ekNotImplemented);
    EXPECT_EQ(a.copyTileCfg(0, 0, 0, 2, 2, 1, &rgb, 0, 0, 0, nullptr, 0), ekNotImplemented);
    EXPECT_EQ(rgb.gets + rgb.sets, 0);
    EXPECT_EQ(a.copyTileCfg(0, 0, 0, 2, 2, 1, nullptr, 0, 0, 0, nullptr, 1), ekBadInput);
    // Boxes too large for one buffer: no allocation, no wrapped byte size.
    const int gets = b.gets;
    EXPECT_EQ(a.copyTileCfg(0, 0, 0, 65536, 65536, 1, &b, 0, 0, 0, nullptr, 1), ekNoMemory);
    EXPECT_EQ(a.copyTileCfg(0, 0, 0, 65536, 32768, 2, &b, 0, 0, 0, nullptr, 1), ekNoMemory);
    EXPECT_EQ(b.gets, gets);
    // The copy operator leaves its status on the target.
    GridImage dst(2, 2, 1);
    b.paint(5);
    dst << b;
    EXPECT_TRUE(dst.getStatus() == ekOkay && dst.pixels == b.pixels);
    b.failWith = ekBadInput;
    dst << b;
    EXPECT_EQ(dst.getStatus(), ekBadInput);
    RecordingImage rec, from;
    rec << from;
    EXPECT_EQ(onlyCall(rec).ints, (Ints{0, 0, 0, 20, 10, 1, 0, 0, 0, 1}));  // its own size
}

TEST(TileFrontEnd, NeedColorConv) {
    AttrImage grey(ekUChar, ekInterleaved, 1), rgb(ekUChar, ekInterleaved, 3);
    grey.getStatus();  // its own model is read as it stands, so derive it first
    int list[] = {0};
    const struct {
        ekConfig cfg;
        AttrImage* other;
        int want;
    } rows[] = {
        {ekConfig(ekUChar, ekInterleaved, 1, list), &rgb, 0},  // explicit selection: never
        {ekConfig(ekUChar, ekInterleaved, 1, nullptr, 1), &rgb, 0},
        {ekConfig(ekUChar, ekInterleaved, 1), &rgb, 1},
        {ekConfig(ekUChar, ekInterleaved, 1, nullptr, 0, kNoSpace, ekGreyscale), &rgb, 0},
        {ekConfig(ekUChar, ekInterleaved, 1, nullptr, 0, kNoSpace, ekCMYK), &grey, 1},
    };
    for (const auto& r : rows) EXPECT_EQ(grey.needColorConv(r.other, 1, &r.cfg), r.want);
    EXPECT_EQ(grey.needColorConv(&rgb, 0, nullptr), 1);
    EXPECT_EQ(grey.needColorConv(&grey, 0, nullptr), 0);
}

TEST(TileFrontEnd, Strides) {
    AttrImage img(ekUChar, ekSequential, 3);
    const struct {
        int nx, ny;
        ekOrder order;
        Ints want;  // x, y, z and channel strides, channels per plane
    } rows[] = {
        // clang-format off
        {640, 480, ekInterleaved, {3, 1920, 921600, 1, 3}},
        {640, 2, ekSequential, {1, 1920, 3840, 640, 3}},
        {640, 2, ekSeparate, {1, 640, 1280, 1, 1}}, {10, 2, ekAnyOrder, {1, 30, 60, 10, 3}},
        {1 << 30, 9, ekInterleaved, {3, INT32_MAX, INT32_MAX, 1, 3}},  // clamped, not wrapped
        {1 << 20, 1 << 20, ekSeparate, {1, 1 << 20, INT32_MAX, 1, 1}},
        {10, 2, ekOrder(3), {-7, -7, -14, -7, -7}},  // not an order: untouched
        // clang-format on
    };
    for (const auto& r : rows) {
        Ints s(5, -7);
        img.getStrides3D(r.nx, r.ny, s[0], s[1], s[2], s[3], s[4], r.order);
        EXPECT_EQ(s, r.want) << r.nx << ' ' << r.order;
    }
}

// Clipping, bound and page tests against their rules in 64 bits, near the
// image's edges and the 32-bit limits.
TEST(TileFrontEnd, ClipBoundAndPageTestsAgreeWithTheRules) {
    Rng rng(7);
    for (int round = 0; round < 4000; ++round) {
        AttrImage img(ekUChar, ekInterleaved, rng.in(1, 4));
        img.allow(ekSizeBits | ekPageBorderBit | ekPageSizeBit);
        const int64_t size[4] = {rng.in(1, 9), rng.in(1, 9), rng.in(1, 3), img.rawSize().c};
        const int64_t border[3] = {rng.chance(95) ? rng.in(0, 3) : INT32_MIN, rng.in(0, 3), 0};
        const int page[4] = {rng.in(1, 9), rng.in(1, 9), rng.in(1, 3), rng.in(1, 4)};
        img.setSize(ekSize(int(size[0]), int(size[1]), int(size[2]), int(size[3])));
        img.setPageBorder(int(border[0]), int(border[1]), 0);
        img.setPageSize(page[0], page[1], page[2], page[3]);
        auto near = [&](int64_t edge) {
            return rng.chance(10) ? rng.nearLimit(3) : int(edge + rng.in(-4, 3));
        };
        int p[4], box[6], want[6];
        bool inside[4], valid = true, partial = false;
        for (int k = 0; k < 4; ++k) {
            p[k] = near(size[k] * rng.in(0, 1));
            inside[k] = 0 <= p[k] && p[k] < size[k];
            valid = valid && (k < 3 ? -border[k] : 0) <= p[k] && p[k] < size[k];
            partial = partial || int64_t(p[k]) + page[k] > size[k];
        }
        EXPECT_EQ(img.outOfBound(p[0], p[1]), inside[0] && inside[1] ? 0 : 1);
        EXPECT_EQ(img.outOfBound(p[0], p[1], p[2]), inside[0] && inside[1] && inside[2] ? 0 : 1);
        EXPECT_EQ(img.isValidPage(p[0], p[1], p[2], p[3]), valid ? 1 : 0);
        EXPECT_EQ(img.isPartialPage(p[0], p[1], p[2], p[3]), partial ? 1 : 0);
        // A box is cut to [-border, size + border) on each axis.
        const int withBorder = rng.in(0, 1);
        for (int k = 0; k < 3; ++k) {
            box[k] = near(size[k] * rng.in(0, 1));
            box[k + 3] = rng.chance(10) ? INT32_MAX : rng.in(-1, 12);
            const int64_t b = withBorder ? border[k] : 0;
            const int64_t lo = std::max<int64_t>(box[k], -b);
            const int64_t hi = std::min<int64_t>(int64_t(box[k]) + box[k + 3], size[k] + b);
            want[k] = int(std::min<int64_t>(INT32_MAX, lo));
            want[k + 3] = int(std::max<int64_t>(INT32_MIN, std::min<int64_t>(INT32_MAX, hi - lo)));
        }
        const ekStatus status = Ints(box, box + 6) == Ints(want, want + 6) ? ekOkay : ekOutOfBounds;
        EXPECT_EQ(img.clipTile(box[0], box[1], box[2], box[3], box[4], box[5], withBorder), status);
        EXPECT_EQ(Ints(box, box + 6), Ints(want, want + 6)) << round;
    }
}

}  // namespace
