// SPDX-License-Identifier: Apache-2.0
// ekImage derivation: colour model, page geometry, value range, scale and the
// fill adaptation of ekImage::reset, and the rule that nothing the caller set
// is derived over.
#include <gtest/gtest.h>

#include <vector>

#include "test_images.h"

namespace {

std::vector<double> elems(const ekPixel& p) {
    std::vector<double> v;
    for (int i = 0; i < p.nc(); ++i) v.push_back(p.getElem(i));
    return v;
}

ekPixel doubles(std::vector<double> v) { return ekPixel(ekDouble, int(v.size()), v.data()); }

TEST(ImageDerivation, ColorModelFromAndAgainstTheChannelCount) {
    const struct {
        int channels, flag;
        ekColorModel model;
    } derived[] = {
        // clang-format off
        {0, 0, ekMultiSpectral}, {1, 0, ekGreyscale}, {2, 0, ekMultiSpectral}, {3, 0, ekRGB},
        {4, 0, ekRGBA}, {4, 1, ekMultiSpectral}, {5, 0, ekMultiSpectral},
        // clang-format on
    };
    for (const auto& r : derived) {
        AttrImage img;
        img.rawSize().c = r.channels;
        img.initColorModel(r.flag);
        EXPECT_EQ(img.rawModel(), r.model) << r.channels << " flag " << r.flag;
    }
    // checkColorModel: an unset count follows the model silently; page
    // channels follow the order.
    const struct {
        int channels;
        ekColorModel model;
        ekOrder order;
        int after, pageC;
    } checked[] = {
        // clang-format off
        {2, ekRGB, ekInterleaved, 3, 3}, {3, ekMultiSpectral, ekSequential, 3, 3},
        {1, ekCMYK, ekSeparate, 4, 1}, {4, ekMinWhite, ekAnyOrder, 1, 9},
        {5, ekHSV, ekInterleaved, 3, 3}, {4, ekABGR, ekInterleaved, 4, 4},
        {2, ekColorModel(13), ekInterleaved, 2, 2}, {1, ekColorIndex, ekInterleaved, 1, 1},
        // clang-format on
    };
    for (const auto& r : checked) {
        AttrImage img(ekUChar, r.order, r.channels);
        img.rawModel() = r.model;
        img.rawPageSize().c = 9;
        img.checkColorModel();
        SCOPED_TRACE(testing::Message() << r.channels << " " << r.model);
        EXPECT_TRUE(img.rawSize().c == r.after && img.rawPageSize().c == r.pageC);
        EXPECT_EQ(img.anyAltered() & ekCsizeBit, 0);
        EXPECT_EQ(img.getStatus(), ekOkay);
    }
    // A count the caller set stays, and the misfit is recorded until cleared.
    AttrImage img;
    img.allow(ekCsizeBit);
    img.setCsize(2);
    img.getStatus();  // derives ekMultiSpectral
    img.rawModel() = ekRGB;
    img.checkColorModel();
    EXPECT_EQ(img.rawSize().c, 2);
    EXPECT_EQ(img.getStatus(), ekBadColorModel);
    img.clearStatus();
    EXPECT_EQ(img.getStatus(), ekOkay);
}

TEST(ImageDerivation, PageSize) {
    const struct {
        ekType type;
        ekOrder order;
        int x, c, pageC, bytes;
    } rows[] = {{ekUChar, ekInterleaved, 128, 0, 3, 49152},
                {ekUChar, ekSeparate, 128, 0, 1, 16384},
                {ekFloat, ekSeparate, 4, 2, 2, 128},
                {ekBit, ekInterleaved, 3, 1, 1, 2}};
    for (const auto& r : rows) {
        AttrImage img(r.type, r.order, 3);
        img.initPageSize(r.x, r.x, 1, r.c);
        EXPECT_TRUE(img.rawPageSize().c == r.pageC && img.rawPageBytes() == r.bytes) << r.x;
    }
    AttrImage chosen;  // the caller's page size stands
    chosen.allow(ekPageSizeBit);
    chosen.setPageSize(5, 5, 1, 1);
    chosen.initPageSize(64, 64, 1, 0);
    EXPECT_EQ(chosen.rawPageBytes(), 25);
    // initPageSize sees 2 channels, checkColorModel makes them 3: the page
    // byte count must follow, or a page buffer would be too small.
    AttrImage img(ekUShort, ekInterleaved, 2);
    img.allow(ekColorModelBit);
    img.setColorModel(ekRGB);
    EXPECT_EQ(img.getPageSize(), 16 * 16 * 3 * 2);
}

TEST(ImageDerivation, ValueRangeAndScale) {
    AttrImage none(ekUChar, ekInterleaved, 0);  // no channels: still one element
    none.initMinMax(0);
    EXPECT_EQ(elems(none.rawMin()), (std::vector<double>{0}));
    EXPECT_EQ(none.getMaxValue(0), 255.0);
    AttrImage wide(ekShort, ekInterleaved, 2);  // grown, never shrunk
    wide.rawMin() = doubles({5, 5, 5, -40000});
    wide.initMinMax(0);
    EXPECT_EQ(elems(wide.rawMin()), (std::vector<double>{-32768, -32768, 5, -40000}));
    EXPECT_EQ(wide.getScaleMin(), -40000.0);  // extra elements count for the scale
    EXPECT_EQ(wide.getScaleMax(), 32767.0);

    AttrImage chosen(ekUChar, ekInterleaved, 2);
    ekPixel floats(ekFloat, 2);
    floats.setElem(1.5, 1);
    chosen.setMinPixel(floats);
    chosen.setScaleMinMax(100, 200);
    chosen.initMinMax(0);
    EXPECT_EQ(chosen.rawMin().getElem(1), 1.5);
    EXPECT_EQ(chosen.getScaleMin(), 100.0);
    chosen.initMinMax(1);  // forgets the caller's choice; the element type stays
    EXPECT_EQ(chosen.isSet(ekMinValueBit) | chosen.isSet(ekScaleBit), 0);
    EXPECT_EQ(chosen.rawMin().type(), ekFloat);
    EXPECT_EQ(chosen.getScaleMin(), 0.0);
}

TEST(ImageDerivation, FillAdaptsToTypeAndChannels) {
    const struct {
        ekType imageType;
        int channels;
        ekPixel fill;
        std::vector<double> want;
        int line;
    } rows[] = {
        // clang-format off
        {ekUChar, 3, ekPixel(ekUChar, 1, "\x07"), {7, 7, 7}, __LINE__},  // repeats the last
        {ekUChar, 2, ekPixel(ekUChar, 4, "\x01\x02\x03\x04"), {1, 2, 3, 4}, __LINE__},  // extra stay
        {ekFloat, 2, ekPixel(ekFloat, 0), {0, 0}, __LINE__},  // empty of the image's type: zeros
        {ekUShort, 3, doubles({2, 5}), {2, 5, 5}, __LINE__},  // converted
        {ekUShort, 1, doubles({-1}), {65535}, __LINE__},      // keeping the low bits
        {ekShort, 3, ekPixel(), {-32768, -32768, -32768}, __LINE__},  // empty: the minimum
        // clang-format on
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.line);
        AttrImage img(r.imageType, ekInterleaved, r.channels);
        img.rawFill() = r.fill;
        ekPixel f;
        img.getFill(f);
        EXPECT_TRUE(f.type() == r.imageType && elems(f) == r.want);
    }
    AttrImage img(ekShort, ekInterleaved, 3);
    img.setMinPixel(doubles({1, -2, 3}));
    EXPECT_EQ(img.getFillValue(1), -2.0);
}

TEST(ImageDerivation, WhatTheCallerSetIsNeverDerivedOver) {
    AttrImage img;
    img.allow(kAllAttributeBits);
    img.setFill(doubles({0.25}));
    img.setColorModel(ekMinWhite);
    img.setMinValue(3, 0);
    img.setMaxValue(9, 0);
    img.setScaleMinMax(-1, 1);
    img.setPageSize(2, 2, 1, 1);
    img.getStatus();
    img.setDataType(ekShort);  // changes what every derivation reads
    EXPECT_EQ(img.getStatus(), ekOkay);
    ekPixel f;
    img.getFill(f);
    EXPECT_TRUE(f == doubles({0.25}));
    EXPECT_EQ(img.getColorModel(), ekMinWhite);
    EXPECT_EQ(img.getMinValue(0) + img.getMaxValue(0), 12.0);
    EXPECT_EQ(img.getScaleMin(), -1.0);
    EXPECT_EQ(img.getPageSize(), 2 * 2 * 2);  // follows the new data type
    // What it did not set follows the data, and only a change resets.
    AttrImage derived;
    derived.allow(ekCsizeBit | ekDataTypeBit | ekCompressionBit);
    derived.getStatus();
    derived.setCsize(4);
    derived.setDataType(ekChar);
    EXPECT_EQ(derived.getColorModel(), ekRGBA);
    EXPECT_EQ(elems(derived.rawMin()), (std::vector<double>{-128, -128, -128, -128}));
    // The fill (0 as ekUChar) is converted to the new type, not re-derived.
    EXPECT_EQ(elems(derived.rawFill()), (std::vector<double>{0, 0, 0, 0}));
    EXPECT_EQ(derived.getPageSizeC(), 4);
    EXPECT_EQ(derived.resets, 2);
    derived.setCompression(ekLZW);
    EXPECT_EQ(derived.getCompression(), ekLZW);  // no reset for this query
    EXPECT_EQ(derived.resets, 2);
}

}  // namespace
