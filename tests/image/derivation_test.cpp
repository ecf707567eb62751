// SPDX-License-Identifier: Apache-2.0
// ekImage derivation: random attribute states, reset, against the rules
// written out on a plain copy; then the arguments the test image never passes.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "test_images.h"

namespace {

std::vector<double> elems(const ekPixel& p) {
    std::vector<double> v;
    for (int i = 0; i < p.nc(); ++i) v.push_back(p.getElem(i));
    return v;
}

// What an AttrImage's reset reads and writes.
struct Attrs {
    ekType type;
    ekOrder order;
    int c, set = 0;
    ekColorModel model = ekColorModel(0);
    std::vector<int> page;
    ekPixel min{ekDouble, 1}, max{ekDouble, 1}, fill;
    double scaleMin = 0, scaleMax = 0;
    ekStatus status = ekOkay;
};

// Channels a colour model implies; 0: none (ekMultiSpectral, not a model).
int impliedChannels(int model) {
    static const int kImplied[13] = {0, 1, 1, 3, 1, 4, 3, 3, 4, 3, 4, 0, 3};
    return model >= 0 && model <= 12 ? kImplied[model] : 0;
}

// The rules in the order the test image applies them: the model from the
// count, the range from the type, 16 x 16 pages, the count reconciled with
// the model, the page bytes, the fill, the scale. Set bits keep their value.
void derive(Attrs& a) {
    const int c = a.c;
    if (!(a.set & ekColorModelBit))
        a.model = c == 1 ? ekGreyscale : c == 3 ? ekRGB : c == 4 ? ekRGBA : ekMultiSpectral;
    for (int i = 0; i < std::max(c, 1); ++i) {  // grown, never shrunk
        if (!(a.set & ekMinValueBit)) a.min.setElem(ekDataMin(a.type), i);
        if (!(a.set & ekMaxValueBit)) a.max.setElem(ekDataMax(a.type), i);
    }
    if (!(a.set & ekPageSizeBit)) a.page = {16, 16, 1, a.order == ekSeparate ? 1 : c};
    const int implied = impliedChannels(a.model);
    const bool fits = c == 1 || c == 3 || c == 4 ? implied == c : a.model == ekMultiSpectral;
    if (!fits && (a.set & ekCsizeBit)) a.status = ekBadColorModel;  // kept until cleared
    if (!fits && !(a.set & ekCsizeBit) && implied != 0) a.c = implied;
    if (a.order != ekAnyOrder) a.page[3] = a.order == ekSeparate ? 1 : a.c;
    const ekPixel old = a.fill;
    if (!(a.set & ekFillBit) && old.type() == a.type) {  // the last value repeats
        for (int i = old.nc(); i < a.c; ++i) a.fill.setElem(i ? a.fill.getElem(i - 1) : 0, i);
    } else if (!(a.set & ekFillBit)) {  // converted, or the minimum when empty
        a.fill = ekPixel(a.type, a.c);
        for (int i = 0; i < a.c; ++i) a.fill.setElem(old.nc() ? old[i] : a.min[i], i);
    }
    if (!(a.set & ekScaleBit)) {
        a.scaleMin = a.min.minElem();
        a.scaleMax = a.max.maxElem();
    }
}

// Random sizes, types, orders, models, pages, ranges and fills, some chosen
// by the caller and some left over from before; reset, then reset again
// after a new type, order or count.
TEST(ImageDerivation, RandomAttributesFollowTheRules) {
    Rng rng(23);
    const ekOrder orders[4] = {ekInterleaved, ekSequential, ekSeparate, ekAnyOrder};
    auto pixel = [&](ekType t) {
        ekPixel p(t, rng.in(0, 4));
        for (int i = 0; i < p.nc(); ++i) p.setElem(rng.in(-40000, 40000) / 2.0, i);
        return p;
    };
    for (int round = 0; round < 600; ++round) {
        SCOPED_TRACE(round);
        Attrs a;
        a.type = kTypes[rng.in(0, 8)];
        a.order = orders[rng.in(0, 3)];
        a.c = rng.in(0, 5);
        AttrImage img(a.type, a.order, a.c);
        img.allow(kAllAttributeBits);
        if (rng.chance(30)) img.setCsize(a.c);  // the same count, now the caller's
        if (rng.chance(50)) img.setColorModel(a.model = ekColorModel(rng.in(1, 14)));
        if (rng.chance(30)) {
            a.page = {rng.in(1, 9), rng.in(1, 9), rng.in(1, 2), rng.in(1, 5)};
            img.setPageSize(a.page[0], a.page[1], a.page[2], a.page[3]);
        }
        if (rng.chance(30)) img.rawMin() = a.min = pixel(ekDouble);  // left by an earlier reset
        if (rng.chance(30)) img.setMinPixel(a.min = pixel(kTypes[rng.in(1, 8)]));
        if (rng.chance(30)) img.setMaxPixel(a.max = pixel(kTypes[rng.in(1, 8)]));
        if (rng.chance(20)) img.setScaleMinMax(a.scaleMin = rng.in(-9, 0), a.scaleMax = 5);
        if (rng.chance(60)) img.rawFill() = a.fill = pixel(rng.chance(50) ? a.type : ekShort);
        if (rng.chance(20)) img.setFill(a.fill = pixel(kTypes[rng.in(0, 8)]));
        a.set = img.isSet(kAllAttributeBits);
        for (int phase = 0; phase < 2; ++phase) {
            derive(a);
            EXPECT_EQ(img.getStatus(), a.status);
            EXPECT_EQ(img.rawModel(), a.model);
            EXPECT_EQ(img.rawSize().c, a.c);
            std::vector<int> p(4);
            const int bytes = img.getPageSize(p[0], p[1], p[2], p[3]);
            EXPECT_EQ(p, a.page);
            EXPECT_EQ(bytes, ekDataSize(a.type, a.page[0] * a.page[1] * a.page[2] * a.page[3]));
            ekPixel max;
            img.getMaxPixel(max);
            EXPECT_TRUE(img.rawMin() == a.min && max == a.max);
            EXPECT_EQ(img.rawFill().type(), a.fill.type());
            EXPECT_EQ(elems(img.rawFill()), elems(a.fill));
            EXPECT_TRUE(img.getScaleMin() == a.scaleMin && img.getScaleMax() == a.scaleMax);
            EXPECT_TRUE(img.getMinValue(0) == a.min[0] && img.getMaxValue(0) == a.max[0]);
            // A new type, order or count resets once more; the same ones do not.
            const int resets = img.resets, c = rng.chance(30) ? rng.in(0, 5) : a.c;
            const ekType type = kTypes[rng.in(0, 8)];
            const ekOrder order = orders[rng.in(0, 3)];
            const bool change = type != a.type || order != a.order || c != a.c;
            img.setDataType(a.type = type);
            img.setOrder(a.order = order);
            a.set |= ekDataTypeBit | ekOrderBit | (c != a.c ? int(ekCsizeBit) : 0);
            if (c != a.c) img.setCsize(a.c = c);
            img.getStatus();
            EXPECT_EQ(img.resets, resets + (change ? 1 : 0));
            if (!change) break;
        }
    }
}

TEST(ImageDerivation, WhatTheTestImageDoesNotPass) {
    AttrImage four(ekUChar, ekInterleaved, 4);
    four.initColorModel(1);
    EXPECT_EQ(four.rawModel(), ekMultiSpectral);
    AttrImage floats(ekFloat, ekInterleaved, 3);
    floats.initPageSize(4, 4, 1, 1);  // the class's own page channel count
    EXPECT_TRUE(floats.rawPageSize().c == 1 && floats.rawPageBytes() == 64);
    AttrImage planes(ekUChar, ekSeparate, 3);
    planes.initPageSize(8, 8, 1, 0);  // one channel a page, before any reset
    EXPECT_TRUE(planes.rawPageSize().c == 1 && planes.rawPageBytes() == 64);
    // initMinMax(1) forgets the caller's range; the pixels' type stays.
    AttrImage chosen(ekUChar, ekInterleaved, 2);
    chosen.setMinPixel(ekPixel(ekFloat, 2));
    chosen.setMaxValue(9, 0);
    chosen.setScaleMinMax(100, 200);
    chosen.initMinMax(1);
    EXPECT_EQ(chosen.isSet(ekMinValueBit | ekMaxValueBit | ekScaleBit), 0);
    EXPECT_EQ(chosen.rawMin().type(), ekFloat);
    EXPECT_TRUE(chosen.getMaxValue(0) == 255 && chosen.getScaleMin() == 0);
    // A misfit of the caller's count is recorded until cleared.
    AttrImage two(ekUChar, ekInterleaved, 2);
    two.allow(ekCsizeBit | ekColorModelBit);
    two.setCsize(2);
    two.setColorModel(ekRGB);
    EXPECT_EQ(two.getStatus(), ekBadColorModel);
    two.clearStatus();
    EXPECT_EQ(two.getStatus(), ekOkay);
}

}  // namespace
