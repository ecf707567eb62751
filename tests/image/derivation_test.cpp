// ekImage derivation: colour model, page geometry, value range, scale and the
// fill adaptation of ekImage::reset, and the rule that nothing the caller set
// is derived over.
#include <gtest/gtest.h>

#include "test_images.h"

namespace {

TEST(ImageDerivation, InitColorModelFromChannelCount) {
    const struct {
        int channels, flag;
        ekColorModel model;
    } rows[] = {{0, 0, ekMultiSpectral}, {1, 0, ekGreyscale},     {2, 0, ekMultiSpectral},
                {3, 0, ekRGB},           {4, 0, ekRGBA},          {4, 1, ekMultiSpectral},
                {5, 0, ekMultiSpectral}, {-1, 0, ekMultiSpectral}};
    for (const auto& r : rows) {
        AttrImage img;
        img.rawSize().c = r.channels;
        img.initColorModel(r.flag);
        EXPECT_EQ(img.rawColorModel(), r.model) << r.channels << " flag " << r.flag;
    }
    AttrImage chosen;
    chosen.allow(ekColorModelBit);
    chosen.setColorModel(ekCMYK);
    chosen.initColorModel(0);
    EXPECT_EQ(chosen.rawColorModel(), ekCMYK);
}

TEST(ImageDerivation, CheckColorModelFollowsModelOrRecordsFailure) {
    {  // Unset count follows the model, silently.
        AttrImage img(ekUChar, ekInterleaved, 2);
        img.rawSetColorModel(ekRGB);
        img.checkColorModel();
        EXPECT_EQ(img.rawSize().c, 3);
        EXPECT_EQ(img.rawPageSize().c, 3);
        EXPECT_EQ(img.anyAltered() & ekCsizeBit, 0);
    }
    {  // Set count: the status records the misfit, the count stays.
        AttrImage img(ekUChar, ekInterleaved, 1);
        img.allow(ekCsizeBit);
        img.setCsize(2);
        EXPECT_EQ(img.getStatus(), ekOkay);  // derives ekMultiSpectral
        img.rawSetColorModel(ekRGB);
        img.checkColorModel();
        EXPECT_EQ(img.rawSize().c, 2);
        EXPECT_EQ(img.getStatus(), ekBadColorModel);
        img.clearStatus();
        EXPECT_EQ(img.getStatus(), ekOkay);
    }
    const struct {
        int channels;
        ekColorModel model;
        int after;
    } rows[] = {
        {3, ekMultiSpectral, 3}, {1, ekCMYK, 4}, {4, ekMinWhite, 1},      {4, ekABGR, 4},
        {3, ekYCC, 3},           {5, ekHSV, 3},  {2, ekColorModel(0), 2}, {2, ekColorModel(13), 2},
        {1, ekColorIndex, 1}};
    for (const auto& r : rows) {
        AttrImage img;
        img.rawSize().c = r.channels;
        img.rawSetColorModel(r.model);
        img.checkColorModel();
        EXPECT_EQ(img.rawSize().c, r.after) << r.channels << " " << r.model;
        EXPECT_EQ(img.getStatus(), ekOkay);
    }
}

TEST(ImageDerivation, CheckColorModelSetsPageChannelsByOrder) {
    const struct {
        ekOrder order;
        int pageC;
    } rows[] = {{ekInterleaved, 3}, {ekSequential, 3}, {ekSeparate, 1}, {ekAnyOrder, 9}};
    for (const auto& r : rows) {
        AttrImage img(ekUChar, r.order, 3);
        img.rawSetColorModel(ekRGB);
        img.rawPageSize().c = 9;
        img.checkColorModel();
        EXPECT_EQ(img.rawPageSize().c, r.pageC) << r.order;
    }
}

TEST(ImageDerivation, InitPageSize) {
    AttrImage inter(ekUChar, ekInterleaved, 3);
    inter.initPageSize(128, 128, 1, 0);
    EXPECT_EQ(inter.rawPageSize().c, 3);
    EXPECT_EQ(inter.rawPageBytes(), 49152);
    AttrImage sep(ekUChar, ekSeparate, 3);
    sep.initPageSize(128, 128, 1, 0);
    EXPECT_EQ(sep.rawPageSize().c, 1);
    EXPECT_EQ(sep.rawPageBytes(), 16384);
    AttrImage given(ekFloat, ekSeparate, 3);
    given.initPageSize(4, 4, 2, 2);
    EXPECT_EQ(given.rawPageSize().c, 2);
    EXPECT_EQ(given.rawPageBytes(), 4 * 4 * 2 * 2 * 4);
    AttrImage bits(ekBit, ekInterleaved, 1);
    bits.initPageSize(3, 3, 1, 1);
    EXPECT_EQ(bits.rawPageBytes(), 2);

    // The caller's page size stands.
    AttrImage chosen(ekUChar, ekInterleaved, 1);
    chosen.allow(ekPageSizeBit);
    chosen.setPageSize(5, 5, 1, 1);
    chosen.initPageSize(64, 64, 1, 0);
    EXPECT_EQ(chosen.rawPageSize().x, 5);
    EXPECT_EQ(chosen.rawPageBytes(), 25);
}

TEST(ImageDerivation, ResetKeepsPageBytesInStepWithThePage) {
    // initPageSize sees 2 channels, then checkColorModel makes them 3: the
    // page buffer size must follow, or a page would be too small for its box.
    AttrImage img(ekUShort, ekInterleaved, 2);
    img.allow(ekColorModelBit);
    img.setColorModel(ekRGB);
    EXPECT_EQ(img.getCsize(), 3);
    EXPECT_EQ(img.getPageSizeC(), 3);
    EXPECT_EQ(img.getPageSize(), 16 * 16 * 3 * 2);
}

TEST(ImageDerivation, InitMinMax) {
    AttrImage none(ekUChar, ekInterleaved, 0);
    none.initMinMax(0);
    EXPECT_EQ(none.rawMin().nc(), 1);
    EXPECT_EQ(none.rawMin().getElem(0), 0.0);
    EXPECT_EQ(none.rawMax().getElem(0), 255.0);

    AttrImage three(ekShort, ekInterleaved, 3);
    three.initMinMax(0);
    EXPECT_EQ(three.rawMin().nc(), 3);
    EXPECT_EQ(three.rawMax().nc(), 3);
    EXPECT_EQ(three.rawMin().getElem(2), -32768.0);
    EXPECT_EQ(three.rawMax().getElem(1), 32767.0);
    EXPECT_EQ(three.getScaleMin(), -32768.0);

    // Grown, never shrunk: extra elements stay and count for the scale.
    AttrImage wide(ekUChar, ekInterleaved, 2);
    wide.rawMin().set(ekDouble, 4, nullptr);
    for (int i = 0; i < 4; ++i) wide.rawMin().setElem(-10.0 * i, i);
    wide.initMinMax(0);
    EXPECT_EQ(wide.rawMin().nc(), 4);
    EXPECT_EQ(wide.rawMin().getElem(1), 0.0);
    EXPECT_EQ(wide.rawMin().getElem(3), -30.0);
    EXPECT_EQ(wide.getScaleMin(), -30.0);

    // The caller's values stand unless cleared; their element type is kept.
    AttrImage chosen(ekUChar, ekInterleaved, 2);
    ekPixel floats(ekFloat, 2);
    floats.setElem(1.5, 0);
    floats.setElem(2.5, 1);
    chosen.setMinPixel(floats);
    chosen.initMinMax(0);
    EXPECT_EQ(chosen.rawMin().getElem(1), 2.5);
    chosen.initMinMax(1);
    EXPECT_EQ(chosen.isSet(ekMinValueBit), 0);
    EXPECT_EQ(chosen.rawMin().type(), ekFloat);
    EXPECT_EQ(chosen.rawMin().getElem(1), 0.0);
}

TEST(ImageDerivation, InitScaleMinMax) {
    AttrImage img(ekUChar, ekInterleaved, 2);
    img.getStatus();  // derived once; the pixels below are not derived over
    img.rawMin().set(ekDouble, 2, nullptr);
    img.rawMin().setElem(4, 0);
    img.rawMin().setElem(-2, 1);
    img.rawMax().set(ekDouble, 2, nullptr);
    img.rawMax().setElem(9, 0);
    img.rawMax().setElem(7, 1);
    img.initScaleMinMax(0);
    img.runImageReset();  // scale derived again from the same pixels
    EXPECT_EQ(img.getScaleMin(), -2.0);
    EXPECT_EQ(img.getScaleMax(), 9.0);

    img.setScaleMinMax(100, 200);
    img.initScaleMinMax(0);
    EXPECT_EQ(img.getScaleMin(), 100.0);
    img.initScaleMinMax(1);
    EXPECT_EQ(img.isSet(ekScaleBit), 0);
    img.rawMin().set(ekAnyType, 0, nullptr);
    img.initScaleMinMax(0);
    EXPECT_EQ(img.getScaleMin(), 0.0);  // an empty pixel gives 0.0
}

TEST(ImageDerivation, FillSameTypeRepeatsLastValue) {
    AttrImage img(ekUChar, ekInterleaved, 3);
    img.rawFill().set(ekUChar, 1, nullptr);
    img.rawFill().setElem(7, 0);
    EXPECT_EQ(img.getStatus(), ekOkay);
    ekPixel f;
    img.getFill(f);
    EXPECT_EQ(f.type(), ekUChar);
    ASSERT_EQ(f.nc(), 3);
    EXPECT_EQ(f.getElem(0) + f.getElem(1) + f.getElem(2), 21.0);

    // More elements than channels: they stay.
    AttrImage few(ekUChar, ekInterleaved, 2);
    few.rawFill().set(ekUChar, 4, nullptr);
    for (int i = 0; i < 4; ++i) few.rawFill().setElem(i + 1, i);
    few.getStatus();
    EXPECT_EQ(few.rawFill().nc(), 4);
    EXPECT_EQ(few.rawFill().getElem(3), 4.0);

    // An empty fill that already has the image's type becomes zeros.
    AttrImage empty(ekFloat, ekInterleaved, 2);
    empty.rawFill().set(ekFloat, 0, nullptr);
    empty.getStatus();
    EXPECT_EQ(empty.rawFill().nc(), 2);
    EXPECT_EQ(empty.rawFill().getElem(1), 0.0);
}

TEST(ImageDerivation, FillOfAnotherTypeIsConverted) {
    AttrImage img(ekUShort, ekInterleaved, 3);
    ekPixel d(ekDouble, 2);
    d.setElem(2, 0);
    d.setElem(5, 1);
    img.rawFill() = d;
    img.getStatus();
    ekPixel f;
    img.getFill(f);
    EXPECT_EQ(f.type(), ekUShort);
    ASSERT_EQ(f.nc(), 3);
    EXPECT_EQ(f.getElem(0), 2.0);
    EXPECT_EQ(f.getElem(1), 5.0);
    EXPECT_EQ(f.getElem(2), 5.0);

    // Conversion keeps the low bits, as every element write does.
    AttrImage low(ekUShort, ekInterleaved, 1);
    ekPixel neg(ekDouble, 1);
    neg.setElem(-1.0, 0);
    low.rawFill() = neg;
    EXPECT_EQ(low.getFillValue(0), 65535.0);
}

TEST(ImageDerivation, EmptyFillBecomesTheMinimum) {
    AttrImage img(ekShort, ekInterleaved, 3);
    ekPixel mins(ekDouble, 3);
    mins.setElem(1, 0);
    mins.setElem(-2, 1);
    mins.setElem(3, 2);
    img.setMinPixel(mins);
    ekPixel f;
    img.getFill(f);
    EXPECT_EQ(f.type(), ekShort);
    ASSERT_EQ(f.nc(), 3);
    EXPECT_EQ(f.getElem(0), 1.0);
    EXPECT_EQ(f.getElem(1), -2.0);
    EXPECT_EQ(f.getElem(2), 3.0);
}

TEST(ImageDerivation, WhatTheCallerSetIsNeverDerivedOver) {
    AttrImage img(ekUChar, ekInterleaved, 1);
    img.allow(kAllAttributeBits);
    ekPixel fill(ekDouble, 1);
    fill.setElem(0.25, 0);
    img.setFill(fill);
    img.setColorModel(ekMinWhite);
    img.setMinValue(3, 0);
    img.setMaxValue(9, 0);
    img.setScaleMinMax(-1, 1);
    img.setPageSize(2, 2, 1, 1);
    img.getStatus();
    // Now change what the derivations read.
    img.setDataType(ekShort);
    EXPECT_EQ(img.getStatus(), ekOkay);
    ekPixel f;
    img.getFill(f);
    EXPECT_TRUE(f == fill);
    EXPECT_EQ(img.getColorModel(), ekMinWhite);
    EXPECT_EQ(img.getMinValue(0), 3.0);
    EXPECT_EQ(img.getMaxValue(0), 9.0);
    EXPECT_EQ(img.getScaleMin(), -1.0);
    EXPECT_EQ(img.getPageSizeX(), 2);
    EXPECT_EQ(img.getPageSize(), 2 * 2 * 2);  // follows the new data type

    // And what it did not set follows the data.
    AttrImage derived(ekUChar, ekInterleaved, 1);
    derived.allow(ekCsizeBit | ekDataTypeBit);
    derived.getStatus();
    derived.setCsize(4);
    derived.setDataType(ekChar);
    EXPECT_EQ(derived.getColorModel(), ekRGBA);
    EXPECT_EQ(derived.trace, "colour:5 min:-128 page:4 check:4");
    EXPECT_EQ(derived.rawMin().nc(), 4);
    EXPECT_EQ(derived.getScaleMax(), 127.0);
    EXPECT_EQ(derived.rawFill().nc(), 4);
    EXPECT_EQ(derived.getPageSizeC(), 4);
}

TEST(ImageDerivation, ResetRunsOnlyWhenAltered) {
    AttrImage img;
    img.getXsize();
    img.getDataType();
    ekPixel f;
    img.getFill(f);
    EXPECT_EQ(img.resets, 1);
    EXPECT_EQ(img.getCompression(), ekNoCompression);
    img.allow(ekCompressionBit);
    img.setCompression(ekLZW);
    EXPECT_EQ(img.getCompression(), ekLZW);  // no reset for this query
    EXPECT_EQ(img.resets, 1);
    EXPECT_EQ(img.getXsize(), 8);
    EXPECT_EQ(img.resets, 2);
}

}  // namespace
