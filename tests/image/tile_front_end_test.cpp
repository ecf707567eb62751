// ekImage tile front end: forwarding of every entry point, pixels, copies
// between images, clipping, strides and the page tests.
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
    static PrimitiveCall none;
    return img.calls.empty() ? none : img.calls.front();
}

TEST(TileFrontEnd, EveryEntryPointMakesOnePrimitiveCall) {
    char data[4];
    int value = 0;
    ekConfig cfg(ekFloat, ekSeparate, 2);
    ekTile keep(0, 0, 0, 1, 1, 1);
    ekSemaphore* sem = reinterpret_cast<ekSemaphore*>(&value);
    ekLockedTile* locked = reinterpret_cast<ekLockedTile*>(&keep);
    RecordingImage other;
    struct Case {
        const char* name;
        std::function<intptr_t(RecordingImage&)> call;
        const char* primitive;
        Ints ints;
        const void* data;
        const ekConfig* cfg;
    };
    const Case cases[] = {
        {"getTile3D", [&](RecordingImage& i) { return i.getTile3D(1, 2, 3, 4, 5, 6, data, &cfg); },
         "get", Ints{1, 2, 3, 4, 5, 6, 1, 2, 3, 4, 5, 6}, data, &cfg},
        {"setTile3D", [&](RecordingImage& i) { return i.setTile3D(1, 2, 3, 4, 5, 6, data, &cfg); },
         "set", Ints{1, 2, 3, 4, 5, 6, 1, 2, 3, 4, 5, 6}, data, &cfg},
        {"getTile", [&](RecordingImage& i) { return i.getTile(10, 20, 4, 3, data, nullptr); },
         "get", Ints{10, 20, 0, 4, 3, 1, 10, 20, 0, 4, 3, 1}, data, nullptr},
        {"setTile", [&](RecordingImage& i) { return i.setTile(-1, -2, 4, 3, data, &cfg); }, "set",
         Ints{-1, -2, 0, 4, 3, 1, -1, -2, 0, 4, 3, 1}, data, &cfg},
        {"getSubTile",
         [&](RecordingImage& i) { return i.getSubTile(2, 2, 2, 2, data, 0, 1, 8, 9, &cfg); }, "get",
         Ints{2, 2, 0, 2, 2, 1, 0, 1, 0, 8, 9, 1}, data, &cfg},
        {"setSubTile",
         [&](RecordingImage& i) { return i.setSubTile(2, 3, 4, 5, data, 6, 7, 8, 9, nullptr); },
         "set", Ints{2, 3, 0, 4, 5, 1, 6, 7, 0, 8, 9, 1}, data, nullptr},
        {"fillTile", [&](RecordingImage& i) { return i.fillTile(1, 2, 3, 4, &value, &cfg, &keep); },
         "fill", Ints{1, 2, 0, 3, 4, 1}, &value, &cfg},
        {"seekTile", [&](RecordingImage& i) { return i.seekTile(1, 2, 3, 4, &cfg, sem); }, "seek",
         Ints{1, 2, 0, 3, 4, 1}, nullptr, &cfg},
        {"lockTile",
         [&](RecordingImage& i) { return intptr_t(i.lockTile(5, 6, 7, 8, &cfg, 0x401)); }, "lock",
         Ints{5, 6, 0, 7, 8, 1, 0x401}, nullptr, &cfg},
        {"copyTile",
         [&](RecordingImage& i) { return i.copyTile(1, 2, 3, 4, &other, 5, 6, nullptr, 7); },
         "copy", Ints{1, 2, 0, 3, 4, 1, 5, 6, 0, 7}, nullptr, nullptr},
        {"copyTile3D",
         [&](RecordingImage& i) {
             return i.copyTile3D(1, 2, 3, 4, 5, 6, &other, 7, 8, 9, nullptr, 0);
         },
         "copy", Ints{1, 2, 3, 4, 5, 6, 7, 8, 9, 0}, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingImage img;
        img.answer = ekOutOfBounds;
        img.lockAnswer = locked;
        intptr_t result = c.call(img);
        const PrimitiveCall& call = onlyCall(img);
        EXPECT_EQ(call.name, c.primitive);
        EXPECT_EQ(call.ints, c.ints);
        EXPECT_EQ(call.data, c.data);
        EXPECT_EQ(call.cfgPtr, c.cfg);
        if (call.name == "lock") {
            EXPECT_EQ(result, intptr_t(locked));
        } else {
            EXPECT_EQ(result, ekOutOfBounds);  // passed on unchanged
        }
        const void* expectedExtra = call.name == "fill"   ? static_cast<const void*>(&keep)
                                    : call.name == "seek" ? static_cast<const void*>(sem)
                                                          : nullptr;
        const void* expectedOther = call.name == "copy" ? &other : nullptr;
        EXPECT_EQ(call.extra, expectedExtra);
        EXPECT_EQ(call.other, expectedOther);
    }
}

TEST(TileFrontEnd, CopyTileWithChannelListBuildsTheImagesLayout) {
    RecordingImage img, other;
    int list[] = {2, 0, 1};
    EXPECT_EQ(img.copyTile(1, 1, 2, 2, &other, 0, 0, list, 1), ekOkay);
    const PrimitiveCall& call = onlyCall(img);
    ASSERT_NE(call.cfgPtr, nullptr);
    EXPECT_EQ(call.cfg.type, ekUShort);
    EXPECT_EQ(call.cfg.order, ekInterleaved);
    EXPECT_EQ(call.cfg.nchans, 3);
    EXPECT_EQ(call.cfg.chanList, list);
    EXPECT_EQ(call.cfg.chanOffset, 0);
    EXPECT_EQ(call.cfg.coordSpace, ekUpperLeft);
    EXPECT_EQ(call.cfg.colorModel, 0);
}

TEST(TileFrontEnd, PixelsUseThePixelsOwnLayout) {
    RecordingImage img;
    ekPixel p;
    EXPECT_EQ(img.getPixel(3, 4, p), ekOkay);
    EXPECT_EQ(p.type(), ekUShort);
    EXPECT_EQ(p.nc(), 3);
    const PrimitiveCall& call = onlyCall(img);
    EXPECT_EQ(call.name, "get");
    EXPECT_EQ(call.ints, (Ints{3, 4, 0, 1, 1, 1, 3, 4, 0, 1, 1, 1}));
    EXPECT_EQ(call.data, p.elems());
    EXPECT_EQ(call.cfg.type, ekUShort);
    EXPECT_EQ(call.cfg.order, ekInterleaved);
    EXPECT_EQ(call.cfg.nchans, 3);
    EXPECT_EQ(call.cfg.chanList, nullptr);
    EXPECT_EQ(call.cfg.chanOffset, 0);
    EXPECT_EQ(call.cfg.coordSpace, 0);
    EXPECT_EQ(call.cfg.colorModel, 0);

    RecordingImage img2;
    ekPixel one(ekDouble, 1);
    EXPECT_EQ(img2.setPixel3D(5, 6, 7, one), ekOkay);
    EXPECT_EQ(one.type(), ekDouble);
    EXPECT_EQ(one.nc(), 1);
    const PrimitiveCall& set = onlyCall(img2);
    EXPECT_EQ(set.name, "set");
    EXPECT_EQ(set.ints, (Ints{5, 6, 7, 1, 1, 1, 5, 6, 7, 1, 1, 1}));
    EXPECT_EQ(set.cfg.type, ekDouble);
    EXPECT_EQ(set.cfg.nchans, 1);
}

TEST(TileFrontEnd, PixelsMoveRealValues) {
    GridImage img(3, 2, 3);
    for (size_t i = 0; i < img.pixels.size(); ++i) img.pixels[i] = double(i + 1);
    ekPixel p;
    EXPECT_EQ(img.getPixel(1, 1, p), ekOkay);
    EXPECT_EQ(p.type(), ekUChar);
    EXPECT_EQ(p.getElem(0), img.at(1, 1, 0));
    EXPECT_EQ(p.getElem(2), img.at(1, 1, 2));
    ekPixel first(ekDouble, 1);
    EXPECT_EQ(img.getPixel(2, 0, first), ekOkay);
    EXPECT_EQ(first.nc(), 1);
    EXPECT_EQ(first.getElem(0), img.at(2, 0, 0));
    // Writing an untyped pixel writes zeros, whatever fresh storage held.
    for (int round = 0; round < 8; ++round) {
        img.at(0, 1, 0) = img.at(0, 1, 1) = img.at(0, 1, 2) = 77;
        ekPixel fresh;
        EXPECT_EQ(img.setPixel(0, 1, fresh), ekOkay);
        EXPECT_EQ(fresh.nc(), 3);
        EXPECT_EQ(img.at(0, 1, 0) + img.at(0, 1, 1) + img.at(0, 1, 2), 0.0);
    }
}

TEST(TileFrontEnd, BaseAnswersOfTheOptionalPrimitives) {
    GridImage img(4, 4, 1);
    int v = 0;
    EXPECT_EQ(img.fillTile(0, 0, 1, 1, &v, nullptr, nullptr), ekNotImplemented);
    EXPECT_EQ(img.fillTile3D(0, 0, 0, 1, 1, 1, &v, nullptr, nullptr), ekNotImplemented);
    EXPECT_EQ(img.seekTile(0, 0, 1, 1, nullptr, nullptr), ekNotAllowed);
    EXPECT_EQ(img.seekTile3D(0, 0, 0, 1, 1, 1, nullptr, nullptr, &img), ekNotAllowed);
    EXPECT_EQ(img.hasPages(), 0);
    EXPECT_EQ(img.lockTile(0, 0, 1, 1, nullptr, 0), nullptr);
    ekStatus s = ekOkay;
    EXPECT_EQ(img.lockPage(0, 0, 0, 0, s, 0), nullptr);
    EXPECT_EQ(s, ekNotImplemented);
    EXPECT_EQ(img.lockPageSet(nullptr, 0, 0), ekNotImplemented);
    EXPECT_EQ(img.gets + img.sets, 0);
}

// Two images with recognisable pixels: value = 100 * channel + 10 * y + x.
void paint(GridImage& img, double base) {
    for (int y = 0; y < img.getYsize(); ++y)
        for (int x = 0; x < img.getXsize(); ++x)
            for (int c = 0; c < img.getCsize(); ++c) img.at(x, y, c) = base + 100 * c + 10 * y + x;
}

TEST(TileFrontEnd, BaseCopyBothDirections) {
    GridImage a(4, 3, 2), b(4, 3, 2);
    paint(a, 0);
    paint(b, 1);
    // Read b's box at (1, 1) into a at (0, 0).
    EXPECT_EQ(a.copyTileCfg(0, 0, 0, 2, 2, 1, &b, 1, 1, 0, nullptr, 1), ekOkay);
    EXPECT_EQ(a.at(0, 0, 0), 1 + 10 + 1);
    EXPECT_EQ(a.at(1, 1, 1), 1 + 100 + 20 + 2);
    EXPECT_EQ(a.at(2, 0, 0), 2);  // outside the box: untouched
    // Write a's box at (2, 1) into b at (0, 0).
    EXPECT_EQ(a.copyTileCfg(2, 1, 0, 2, 1, 1, &b, 0, 0, 0, nullptr, 0), ekOkay);
    EXPECT_EQ(b.at(0, 0, 0), 12);
    EXPECT_EQ(b.at(1, 0, 1), 113);
    EXPECT_EQ(b.at(2, 0, 0), 3);
}

TEST(TileFrontEnd, BaseCopyThroughAChannelListAndTheFill) {
    GridImage a(2, 2, 3), b(2, 2, 3);
    paint(b, 0);
    int list[] = {2, 0, 1};  // a's channel k takes b's channel list[k]
    EXPECT_EQ(a.copyTile(0, 0, 2, 2, &b, 0, 0, list, 1), ekOkay);
    EXPECT_EQ(a.at(1, 1, 0), 211);
    EXPECT_EQ(a.at(1, 1, 1), 11);
    EXPECT_EQ(a.at(1, 1, 2), 111);
    // A box reaching beyond b reads b's fill there.
    b.setFillValue(42, 0);
    b.setFillValue(43, 1);
    b.setFillValue(44, 2);
    EXPECT_EQ(a.copyTileCfg(0, 0, 0, 2, 2, 1, &b, 1, 0, 0, nullptr, 1), ekOkay);
    EXPECT_EQ(a.at(0, 0, 0), 1);
    EXPECT_EQ(a.at(1, 0, 0), 42);
    EXPECT_EQ(a.at(1, 1, 2), 44);
    // A configuration selects other's channels by offset.
    GridImage one(2, 2, 1);
    ekConfig cfg(ekUChar, ekInterleaved, 1, nullptr, 2, ekCoordSpace(0), ekGreyscale);
    EXPECT_EQ(one.copyTileCfg(0, 0, 0, 2, 2, 1, &b, 0, 0, 0, &cfg, 1), ekOkay);
    EXPECT_EQ(one.at(1, 0, 0), 201);
}

TEST(TileFrontEnd, BaseCopyStopsAtTheFirstFailure) {
    GridImage a(2, 2, 1), b(2, 2, 1);
    b.failWith = ekBadInput;
    EXPECT_EQ(a.copyTileCfg(0, 0, 0, 2, 2, 1, &b, 0, 0, 0, nullptr, 1), ekBadInput);
    EXPECT_EQ(a.sets, 0);
    a.failWith = ekNoMemory;
    b.failWith = ekOkay;
    EXPECT_EQ(a.copyTileCfg(0, 0, 0, 2, 2, 1, &b, 0, 0, 0, nullptr, 0), ekNoMemory);
    EXPECT_EQ(b.sets, 0);
}

TEST(TileFrontEnd, BaseCopyRefusesWhatItCannotDo) {
    GridImage grey(2, 2, 1), rgb(2, 2, 3);
    // Different colour models: not implemented, nothing moves.
    EXPECT_EQ(grey.copyTileCfg(0, 0, 0, 2, 2, 1, &rgb, 0, 0, 0, nullptr, 1), ekNotImplemented);
    EXPECT_EQ(grey.copyTileCfg(0, 0, 0, 2, 2, 1, &rgb, 0, 0, 0, nullptr, 0), ekNotImplemented);
    EXPECT_EQ(rgb.gets + rgb.sets + grey.gets + grey.sets, 0);
    // A null image to copy with.
    EXPECT_EQ(grey.copyTileCfg(0, 0, 0, 2, 2, 1, nullptr, 0, 0, 0, nullptr, 1), ekBadInput);
    // Boxes too large for one buffer: no allocation is attempted, and the
    // byte size is not wrapped into a small one.
    GridImage other(2, 2, 1);
    EXPECT_EQ(grey.copyTileCfg(0, 0, 0, 65536, 65536, 1, &other, 0, 0, 0, nullptr, 1), ekNoMemory);
    EXPECT_EQ(grey.copyTileCfg(0, 0, 0, 65536, 32768, 2, &other, 0, 0, 0, nullptr, 1), ekNoMemory);
    EXPECT_EQ(other.gets, 0);
    // An empty box still asks both images and moves nothing.
    EXPECT_EQ(grey.copyTileCfg(0, 0, 0, 0, 2, 1, &other, 0, 0, 0, nullptr, 1), ekOkay);
    EXPECT_EQ(other.gets, 1);
    EXPECT_EQ(grey.sets, 1);
}

TEST(TileFrontEnd, BaseCopyBufferHoldsEveryChannelTheOtherImageDelivers) {
    GridImage rgb(3, 3, 3), wide(3, 3, 5);
    paint(wide, 0);
    // Channel count 0: wide delivers all five channels into the buffer.
    ekConfig cfg(ekUChar, ekInterleaved, 0, nullptr, 0, ekCoordSpace(0), ekRGB);
    EXPECT_EQ(rgb.copyTileCfg(0, 0, 0, 3, 3, 1, &wide, 0, 0, 0, &cfg, 1), ekOkay);
    cfg.nchans = 5;
    EXPECT_EQ(rgb.copyTileCfg(0, 0, 0, 3, 3, 1, &wide, 0, 0, 0, &cfg, 1), ekOkay);
}

TEST(TileFrontEnd, NeedColorConv) {
    AttrImage grey(ekUChar, ekInterleaved, 1), rgb(ekUChar, ekInterleaved, 3);
    grey.getStatus();  // its own model is read as it stands, so derive it first
    EXPECT_EQ(grey.needColorConv(&rgb, 0, nullptr), 1);
    EXPECT_EQ(grey.needColorConv(&grey, 0, nullptr), 0);
    int list[] = {0};
    ekConfig withList(ekUChar, ekInterleaved, 1, list);
    EXPECT_EQ(grey.needColorConv(&rgb, 1, &withList), 0);
    ekConfig withOffset(ekUChar, ekInterleaved, 1, nullptr, 1);
    EXPECT_EQ(grey.needColorConv(&rgb, 1, &withOffset), 0);
    ekConfig plain(ekUChar, ekInterleaved, 1);
    EXPECT_EQ(grey.needColorConv(&rgb, 1, &plain), 1);
    plain.colorModel = ekGreyscale;  // the configuration's model counts
    EXPECT_EQ(grey.needColorConv(&rgb, 1, &plain), 0);
    plain.colorModel = ekCMYK;
    EXPECT_EQ(grey.needColorConv(&grey, 1, &plain), 1);
}

TEST(TileFrontEnd, CopyOperatorLeavesTheStatusOnTheTarget) {
    GridImage dst(3, 2, 2), src(3, 2, 2);
    paint(src, 5);
    dst << src;
    EXPECT_EQ(dst.getStatus(), ekOkay);
    EXPECT_EQ(dst.pixels, src.pixels);

    src.failWith = ekBadInput;
    dst << src;
    EXPECT_EQ(dst.getStatus(), ekBadInput);

    RecordingImage rec, from;
    rec.answer = ekNoMemory;
    rec << from;
    const PrimitiveCall& call = onlyCall(rec);
    EXPECT_EQ(call.name, "copy");
    EXPECT_EQ(call.ints, (Ints{0, 0, 0, 20, 10, 1, 0, 0, 0, 1}));
    EXPECT_EQ(call.other, &from);
    EXPECT_EQ(call.cfgPtr, nullptr);
    EXPECT_EQ(rec.getStatus(), ekNoMemory);
}

TEST(TileFrontEnd, ClipTile) {
    AttrImage img;
    img.allow(ekSizeBits | ekPageBorderBit);
    img.setSize(ekSize(100, 100, 1, 1));
    struct Row {
        Ints in;
        int border;
        Ints out;
        ekStatus status;
    } rows[] = {
        {{-3, 5, 0, 10, 10, 1}, 0, {0, 5, 0, 7, 10, 1}, ekOutOfBounds},
        {{0, 0, 0, 100, 100, 1}, 0, {0, 0, 0, 100, 100, 1}, ekOkay},
        {{-3, 0, 0, 10, 10, 1}, 1, {-3, 0, 0, 10, 10, 1}, ekOkay},
        {{200, 0, 0, 10, 10, 1}, 0, {200, 0, 0, -100, 10, 1}, ekOutOfBounds},
        {{95, 95, 0, 10, 10, 1}, 1, {95, 95, 0, 9, 9, 1}, ekOutOfBounds},
        {{-9, -9, 0, 10, 10, 1}, 1, {-4, -4, 0, 5, 5, 1}, ekOutOfBounds},
        {{0, 0, -1, 1, 1, 3}, 0, {0, 0, 0, 1, 1, 1}, ekOutOfBounds},
        {{INT32_MAX, 0, 0, INT32_MAX, 1, 1},
         0,
         {INT32_MAX, 0, 0, 100 - INT32_MAX, 1, 1},
         ekOutOfBounds},
        {{INT32_MIN, 0, 0, INT32_MAX, 1, 1}, 0, {0, 0, 0, -1, 1, 1}, ekOutOfBounds},
    };
    img.setPageBorder(4, 4, 0);
    for (const Row& r : rows) {
        Ints v = r.in;
        EXPECT_EQ(img.clipTile(v[0], v[1], v[2], v[3], v[4], v[5], r.border), r.status);
        EXPECT_EQ(v, r.out) << r.in[0] << ',' << r.in[1] << ',' << r.in[2];
    }
}

TEST(TileFrontEnd, Strides) {
    AttrImage img(ekUChar, ekSequential, 3);
    int xs = -1, ys = -1, zs = -1, cs = -1, pc = -1;
    img.getStrides(640, xs, ys, cs, pc, ekInterleaved);
    EXPECT_EQ((Ints{xs, ys, cs, pc}), (Ints{3, 1920, 1, 3}));
    img.getStrides(640, xs, ys, cs, pc, ekSequential);
    EXPECT_EQ((Ints{xs, ys, cs, pc}), (Ints{1, 1920, 640, 3}));
    img.getStrides(640, xs, ys, cs, pc, ekSeparate);
    EXPECT_EQ((Ints{xs, ys, cs, pc}), (Ints{1, 640, 1, 1}));
    img.getStrides3D(640, 480, xs, ys, zs, cs, pc, ekInterleaved);
    EXPECT_EQ(zs, 921600);
    img.getStrides(10, xs, ys, cs, pc, ekAnyOrder);  // the image's own: sequential
    EXPECT_EQ((Ints{xs, ys, cs, pc}), (Ints{1, 30, 10, 3}));
    xs = ys = cs = pc = -7;
    img.getStrides(10, xs, ys, cs, pc, ekOrder(3));  // not an order: untouched
    EXPECT_EQ((Ints{xs, ys, cs, pc}), (Ints{-7, -7, -7, -7}));
    img.getStrides3D(1 << 20, 1 << 20, xs, ys, zs, cs, pc, ekInterleaved);
    EXPECT_EQ(ys, 3 << 20);
    EXPECT_EQ(zs, INT32_MAX);  // clamped, not wrapped
}

TEST(TileFrontEnd, BoundAndPageTests) {
    AttrImage img(ekUChar, ekInterleaved, 3);
    img.allow(ekSizeBits | ekPageBorderBit | ekPageSizeBit);
    img.setSize(ekSize(128, 128, 1, 3));
    img.getStatus();
    EXPECT_EQ(img.outOfBound(0, 0), 0);
    EXPECT_EQ(img.outOfBound(127, 127), 0);
    EXPECT_EQ(img.outOfBound(128, 0), 1);
    EXPECT_EQ(img.outOfBound(0, -1), 1);
    EXPECT_EQ(img.outOfBound(0, 0, 1), 1);
    EXPECT_EQ(img.outOfBound(0, 0, 0), 0);

    img.setPageBorder(2, 0, 0);
    EXPECT_EQ(img.isValidPage(-2, 0, 0, 0), 1);
    EXPECT_EQ(img.isValidPage(-3, 0, 0, 0), 0);
    EXPECT_EQ(img.isValidPage(0, 0, 0, 3), 0);
    EXPECT_EQ(img.isValidPage(0, 0, 0, -1), 0);
    EXPECT_EQ(img.isValidPage(127, 127, 0, 2), 1);
    img.setPageBorder(1, 0, 0);
    EXPECT_EQ(img.isValidPage(-2, 0, 0, 0), 0);
    img.setPageBorder(INT32_MIN, 0, 0);  // no overflow negating it
    EXPECT_EQ(img.isValidPage(0, 0, 0, 0), 0);

    img.setPageSize(64, 64, 1, 3);
    EXPECT_EQ(img.isPartialPage(96, 0, 0, 0), 1);
    EXPECT_EQ(img.isPartialPage(64, 64, 0, 0), 0);
    EXPECT_EQ(img.isPartialPage(0, 0, 0, 1), 1);
    EXPECT_EQ(img.isPartialPage(INT32_MAX, 0, 0, 0), 1);
}

}  // namespace
