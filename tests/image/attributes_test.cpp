// SPDX-License-Identifier: Apache-2.0
// ekImage attributes: the setter protocol and its deviations, reference
// counting, inputs, class identity and the queries that compute something.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <new>
#include <vector>

#include "test_images.h"

namespace {

// An image whose type comes from its input at each reset.
struct InputView : AttrImage {
    explicit InputView(ekImage& src) { setInput(&src, 0); }
    void reset() override {
        dataType = getInput(0)->getDataType();
        AttrImage::reset();
    }
};

// A parent with one child, both clean, for watching what a setter alters.
struct Pair {
    AttrImage parent, child;
    Pair() {
        parent.allow(kAllAttributeBits);
        child.setInput(&parent, 0);
        child.getStatus();
    }
};

TEST(ImageSetters, ProtocolOfEverySetter) {
    using Setter = std::function<ekStatus(AttrImage&)>;
    const struct {
        const char* name;
        int bit;
        Setter same, change;
        bool altersChild;
    } rows[] = {
#define ROW(bit, same, change, child)                                                          \
    {#change, bit, [](AttrImage& i) { return i.same; }, [](AttrImage& i) { return i.change; }, \
     child}
        ROW(ekXsizeBit, setXsize(8), setXsize(9), true),
        ROW(ekYsizeBit, setYsize(6), setYsize(7), true),
        ROW(ekZsizeBit, setZsize(1), setZsize(2), true),
        ROW(ekCsizeBit, setCsize(1), setNumChans(3), true),
        ROW(ekSizeBits, setSize(ekSize(8, 6, 1, 1)), setSize(ekSize(8, 6, 2, 1)), true),
        ROW(ekXsizeBit | ekYsizeBit, setSize(8, 6), setSize(9, 7), true),
        ROW(ekDataTypeBit, setDataType(ekUChar), setDataType(ekFloat), true),
        ROW(ekOrderBit, setOrder(ekInterleaved), setOrder(ekSeparate), true),
        ROW(ekCoordSpaceBit, setCoordSpace(ekLowerLeft), setCoordSpace(ekUpperLeft), true),
        ROW(ekColorModelBit, setColorModel(ekGreyscale), setColorModel(ekMinWhite), true),
        // Compression and page geometry alter the image but not its descendants.
        ROW(ekCompressionBit, setCompression(ekNoCompression), setCompression(ekLZW), false),
        // The unchanged test compares every field: a change in any one alone stores.
        ROW(ekPageSizeBit, setPageSize(16, 16, 1, 1), setPageSize(8, 16, 1, 1), false),
        ROW(ekPageSizeBit, setPageSize(16, 16, 1, 1), setPageSize(16, 8, 1, 1), false),
        ROW(ekPageSizeBit, setPageSize(16, 16, 1, 1), setPageSize(16, 16, 2, 1), false),
        ROW(ekPageSizeBit, setPageSize(16, 16, 1, 1), setPageSize(16, 16, 1, 2), false),
        ROW(ekPageBorderBit, setPageBorder(0, 0, 0), setPageBorder(2, 0, 0), false),
        ROW(ekPageBorderBit, setPageBorder(0, 0, 0), setPageBorder(0, 2, 0), false),
        ROW(ekPageBorderBit, setPageBorder(0, 0, 0), setPageBorder(0, 0, 2), false),
#undef ROW
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        // Refused when the lowest of its bits is not allowed, before storing
        // anything (a setter of several sizes stops at the first refusal).
        AttrImage plain;
        plain.allow(kAllAttributeBits & ~(r.bit & -r.bit));
        plain.getStatus();
        EXPECT_EQ(r.change(plain), ekNotAllowed);
        EXPECT_EQ(plain.isSet(r.bit) | plain.anyAltered(), 0);
        Pair same;  // unchanged: marked as set, nothing altered
        EXPECT_EQ(r.same(same.parent), ekOkay);
        EXPECT_EQ(same.parent.isSet(r.bit), r.bit);
        EXPECT_EQ(same.parent.anyAltered() | same.child.anyAltered(), 0);
        Pair changed;  // changed: stored, marked, altered
        EXPECT_EQ(r.change(changed.parent), ekOkay);
        EXPECT_EQ(changed.parent.isSet(r.bit), r.bit);
        EXPECT_EQ(changed.parent.isAltered(r.bit), r.bit);
        EXPECT_EQ(changed.child.anyAltered() != 0, r.altersChild);
        EXPECT_EQ(changed.parent.hasPageBorder(), r.bit == ekPageBorderBit ? 1 : 0);
    }
}

TEST(ImageSetters, ScaleAltersDescendantsOnlyAndShowsAtOnce) {
    Pair p;
    EXPECT_EQ(p.parent.setScaleMinMax(5.0, 2.0), ekOkay);  // no ordering check
    EXPECT_EQ(p.parent.anyAltered(), 0);
    EXPECT_NE(p.child.anyAltered(), 0);
    EXPECT_EQ(p.parent.getScaleMin() - p.parent.getScaleMax(), 3.0);
    EXPECT_EQ(p.parent.resets, 1);  // the query did not reset it again
    AttrImage typed(ekShort);
    EXPECT_EQ(typed.setScaleType(ekUChar), ekOkay);
    EXPECT_EQ(typed.getScaleMax(), 255.0);
    EXPECT_EQ(typed.setScaleType(ekType(0)), ekOkay);  // the image's own type
    EXPECT_EQ(typed.getScaleMin(), -32768.0);
    AttrImage src(ekUShort);
    InputView view(src);                              // its type comes with its first reset
    EXPECT_EQ(view.setScaleType(ekType(0)), ekOkay);  // brings the view up to date first
    EXPECT_EQ(view.getScaleMax(), 65535.0);
}

TEST(ImageSetters, FillAndValueRangeDeviations) {
    Pair p;
    ekPixel current;
    p.parent.getFill(current);
    EXPECT_EQ(p.parent.setFill(current), ekOkay);  // unchanged: not even marked
    EXPECT_EQ(p.parent.setFillValue(current.getElem(0), 0), ekOkay);
    EXPECT_EQ(p.parent.isSet(ekFillBit) | p.parent.anyAltered(), 0);
    EXPECT_EQ(p.parent.setFillValue(9.0, 2), ekOkay);  // grows the fill and alters
    EXPECT_TRUE(p.parent.rawFill().nc() == 3 && p.parent.isSet(ekFillBit));
    EXPECT_NE(p.child.anyAltered(), 0);

    AttrImage img(ekUChar, ekInterleaved, 3);
    img.getStatus();
    EXPECT_EQ(img.setMinValue(4.0, -1), ekOkay);  // every channel
    EXPECT_EQ(img.getMinValue(2) + img.getMinValue(-1), 8.0);
    EXPECT_EQ(img.setMaxValue(255.0, 7), ekOkay);  // clamped read equals: nothing stored
    EXPECT_EQ(img.isSet(ekMaxValueBit), 0);
    EXPECT_EQ(img.setMaxValue(200.0, 1), ekOkay);
    EXPECT_EQ(img.getMaxValue(-1), 255.0);
    ekPixel same, max;
    img.getMaxPixel(max);
    EXPECT_EQ(std::vector<double>({max.getElem(0), max.getElem(1), max.getElem(2)}),
              (std::vector<double>{255.0, 200.0, 255.0}));
    img.getMinPixel(same);
    EXPECT_EQ(same.nc() * same.getElem(2), 12.0);
    EXPECT_EQ(img.setMinPixel(same), ekOkay);  // pixels always store and alter
    EXPECT_NE(img.isAltered(ekMinValueBit), 0);
}

TEST(ImageSetters, PageGeometryKeepsItsBytesAndDeltaInStep) {
    AttrImage img(ekUShort, ekInterleaved, 3);
    img.allow(ekPageSizeBit | ekPageBorderBit | ekDataTypeBit);
    img.setPageSize(10, 12, 5, 3);
    EXPECT_EQ(img.rawPageBytes(), 3600);  // at once, not at the next reset
    img.setDataType(ekDouble);
    img.setPageSize(10, 12, 5, 3);  // the same page: its bytes follow the type
    EXPECT_EQ(img.rawPageBytes(), 14400);
    img.setPageBorder(1, 2, 1);
    int v[4];
    img.getPageBorder(v[0], v[1], v[2]);
    EXPECT_EQ(std::vector<int>(v, v + 3), (std::vector<int>{1, 2, 1}));
    img.getPageDelta(v[0], v[1], v[2], v[3]);
    EXPECT_EQ(std::vector<int>(v, v + 4), (std::vector<int>{8, 8, 3, 3}));
    // Products that do not fit clamp instead of overflowing.
    img.setPageSize(65536, 65536, 4, 2);
    EXPECT_EQ(img.getPageSizePix() & img.getPageSizeVal() & img.getPageSize(), INT32_MAX);
    img.setPageBorder(INT32_MIN, 0, 0);
    img.getPageDelta(v[0], v[1], v[2], v[3]);
    EXPECT_EQ(v[0], INT32_MAX);
}

TEST(ImageInputs, IndicesCountsAndSeeingThroughDisabledLinks) {
    AttrImage a, b, c;
    EXPECT_EQ(c.setInput(&a, 0), ekOkay);
    EXPECT_EQ(c.setInput(&b, 2), ekOkay);
    EXPECT_EQ(c.getNumInputs(), 3);  // one past the highest index in use
    EXPECT_EQ(c.getInput(1), nullptr);
    EXPECT_EQ(c.setInput(&a, 4), ekBadIndex);
    EXPECT_EQ(c.setInput(&a, -1), ekBadIndex);
    EXPECT_EQ(c.addInput(&a), ekOkay);  // index 3
    EXPECT_EQ(c.getInput(3), &a);
    EXPECT_EQ(c.addInput(&a), ekBadIndex);  // 4 is beyond the four slots
    EXPECT_EQ(c.removeInput(7), ekBadIndex);
    EXPECT_EQ(c.removeInput(3), ekOkay);
    EXPECT_EQ(c.getNumInputs(), 3);
    b.setInput(&a, 0);
    b.setEnabled(0);
    EXPECT_EQ(c.getInput(2), &a);
    ekLink plainLink;
    AttrImage d;
    d.addParent(&plainLink);  // connected through the link interface: no image
    EXPECT_EQ(d.getInput(0), nullptr);
}

TEST(ImageQueries, QueriesBringAnAlteredImageUpToDateFirst) {
    // A 3-channel ekUChar image, reset once, then made ekShort and 5 wide:
    // each query runs one reset and answers from its result.
    ekSize s;
    ekConfig cfg;
    ekPixel px;
    int v[4];
    const struct {
        const char* name;
        std::function<double(AttrImage&)> ask;
        double want;
    } rows[] = {
#define ROW(expr, want) {#expr, [&](AttrImage& i) -> double { return expr; }, want}
        // clang-format off
        ROW(i.getXsize(), 5), ROW(i.getYsize(), 6), ROW(i.getZsize(), 1), ROW(i.getCsize(), 3),
        ROW(i.getNumChans(), 3), ROW((i.getSize(s), s.x), 5),
        ROW((i.getSize(s, ekLeftLower), s.y), 5), ROW(i.getSize().x, 5),
        ROW(i.getDataType(), ekShort), ROW(i.getOrder(), ekSequential),
        ROW(i.getColorModel(), ekRGB), ROW(i.getCoordSpace(), ekLowerLeft),
        ROW(i.isSigned() != 0, 1), ROW((i.getConfig(&cfg), cfg.type), ekShort),
        ROW((i.getFill(px), px.type()), ekShort), ROW(i.getFillValue(2), 0),
        ROW((i.getMinPixel(px), px.getElem(2)), -32768),
        ROW((i.getMaxPixel(px), px.getElem(2)), 32767), ROW(i.getMinValue(-1), -32768),
        ROW(i.getMaxValue(1), 32767), ROW(i.getScaleMin(), -32768), ROW(i.getScaleMax(), 32767),
        ROW(i.getPageSize(v[0], v[1], v[2], v[3]), 1536), ROW(i.getPageSize(), 1536),
        ROW(i.getPageSizeX(), 16), ROW(i.getPageSizeY(), 16), ROW(i.getPageSizeZ(), 1),
        ROW(i.getPageSizeC(), 3), ROW(i.getPageSizePix(), 256), ROW(i.getPageSizeVal(), 768),
        ROW((i.getPageDelta(v[0], v[1], v[2], v[3]), v[0] + v[3]), 19), ROW(i.getWidth(), 5),
        ROW(i.getHeight(), 6),
    // clang-format on
#undef ROW
    };
    for (const auto& r : rows) {
        AttrImage img(ekUChar, ekSequential, 3);
        img.allow(ekDataTypeBit | ekXsizeBit);
        img.getStatus();
        img.setDataType(ekShort);
        img.setXsize(5);
        EXPECT_EQ(r.ask(img), r.want) << r.name;
        EXPECT_EQ(img.resets, 2) << r.name;
    }
}

TEST(ImageIdentity, ClassRecordChainsToTheLink) {
    EXPECT_EQ(AttrImage().derivesFrom(&ekLink::classList), 2);
    // A class that sets no type reads the placeholder, not what the memory
    // held before.
    struct Bare : ekImage {
        EK_NO_DATA_PRIMITIVE(getSubTile3D)
        EK_NO_DATA_PRIMITIVE(setSubTile3D)
    };
    alignas(Bare) int32_t raw[sizeof(Bare) / 4 + 1];
    std::fill(std::begin(raw), std::end(raw), int32_t(ekUChar));
    Bare* bare = new (raw) Bare;
    EXPECT_EQ(bare->getDataType(), ekAnyType);
    const ekSize size = bare->getSize();  // one pixel of one channel
    EXPECT_EQ(std::vector<int>({size.x, size.y, size.z, size.c}), std::vector<int>(4, 1));
    int page[4];
    bare->getPageSize(page[0], page[1], page[2], page[3]);
    EXPECT_EQ(std::vector<int>({page[0], page[1], page[2], page[3], int(bare->getColorModel()),
                                int(bare->getCoordSpace())}),
              std::vector<int>(6, 0));
    bare->~Bare();
}

TEST(ImageQueries, Config) {
    AttrImage img(ekShort, ekSequential, 3);
    int list[] = {0};
    ekConfig cfg(ekUChar, ekInterleaved, 1, list, 5, ekUpperLeft, ekCMYK);
    cfg.reserved = 77;
    img.getConfig(&cfg);
    ekConfig want(ekShort, ekSequential, 3, nullptr, 0, ekLowerLeft, ekRGB);
    EXPECT_EQ(configFields(ekConfig(&img)), configFields(want));
    EXPECT_EQ(ekConfig(&img).reserved, 0);
    EXPECT_EQ(configFields(cfg), configFields(want));
    EXPECT_EQ(cfg.reserved, 77);  // getConfig leaves it as it was
    // Without an image every field is zero, whatever the memory held before.
    alignas(ekConfig) unsigned char raw[sizeof(ekConfig)];
    std::memset(raw, 0xA5, sizeof raw);
    const ekConfig* none = new (raw) ekConfig(static_cast<ekImage*>(nullptr));
    EXPECT_EQ(configFields(*none), configFields(ekConfig()));
    EXPECT_EQ(none->reserved, 0);
}

}  // namespace
