// ekImage attributes: defaults, the setter protocol and its deviations,
// reference counting, inputs and class identity.
#include <gtest/gtest.h>

#include <functional>

#include "test_images.h"

namespace {

// A parent with one child, both clean, for watching what a setter alters.
struct Pair {
    AttrImage parent, child;
    Pair() {
        parent.allow(kAllAttributeBits);
        child.setInput(&parent, 0);
        child.getStatus();  // resets both
    }
};

TEST(ImageDefaults, FieldsAfterConstruction) {
    AttrImage img;
    EXPECT_EQ(img.getImageType(), 6);
    EXPECT_EQ(img.getCompression(), ekNoCompression);
    EXPECT_EQ(img.getPriority(), 0);
    EXPECT_EQ(img.GetRefCount(), 0);
    EXPECT_EQ(img.getCacheSize(), 0);
    EXPECT_EQ(img.hasPageBorder(), 0);
    EXPECT_EQ(img.rawPageBytes(), 0);
    EXPECT_EQ(img.rawPageSize().x, 0);
    EXPECT_EQ(img.rawFill().type(), ekAnyType);
    EXPECT_EQ(img.rawFill().nc(), 0);
    EXPECT_EQ(img.rawMin().type(), ekDouble);
    EXPECT_EQ(img.rawMin().nc(), 1);
    EXPECT_EQ(img.rawMax().nc(), 1);
    EXPECT_EQ(img.getScaleMin(), 0.0);  // derived from the one-element pixels
    // The base allows exactly the minimum, maximum, scale and fill.
    EXPECT_EQ(img.setMinValue(1, 0), ekOkay);
    EXPECT_EQ(img.setScaleMinMax(0, 1), ekOkay);
    EXPECT_EQ(img.setFillValue(1, 0), ekOkay);
    EXPECT_EQ(img.setXsize(3), ekNotAllowed);
    EXPECT_EQ(img.setPageSize(1, 1, 1, 1), ekNotAllowed);
    EXPECT_EQ(img.setCompression(ekLZW), ekNotAllowed);
    EXPECT_EQ(img.getSize().x, 8);
    struct Plain : ekImage {
        Plain() = default;
        explicit Plain(const ekSize& s) : ekImage(s) {}
        ekStatus getSubTile3D(int, int, int, int, int, int, void*, int, int, int, int, int, int,
                              const ekConfig*) override {
            return ekOkay;
        }
        ekStatus setSubTile3D(int, int, int, int, int, int, void*, int, int, int, int, int, int,
                              const ekConfig*) override {
            return ekOkay;
        }
        void reset() override {}  // keep the fields as constructed
    } plain, sized(ekSize(3, 4, 5, 6));
    EXPECT_TRUE(plain.getSize() == ekSize(1, 1, 1, 1));
    EXPECT_TRUE(sized.getSize() == ekSize(3, 4, 5, 6));
}

// Each setter: its bit, the value that leaves it unchanged, whether the image
// itself and whether its child are altered by a change.
struct SetterCase {
    const char* name;
    int bit;
    std::function<ekStatus(AttrImage&)> same, change;
    bool altersSelf, altersChild;
};

TEST(ImageSetters, ProtocolOfEverySetter) {
    const SetterCase cases[] = {
        {"x", ekXsizeBit, [](AttrImage& i) { return i.setXsize(8); },
         [](AttrImage& i) { return i.setXsize(9); }, true, true},
        {"y", ekYsizeBit, [](AttrImage& i) { return i.setYsize(6); },
         [](AttrImage& i) { return i.setYsize(7); }, true, true},
        {"z", ekZsizeBit, [](AttrImage& i) { return i.setZsize(1); },
         [](AttrImage& i) { return i.setZsize(2); }, true, true},
        {"c", ekCsizeBit, [](AttrImage& i) { return i.setCsize(1); },
         [](AttrImage& i) { return i.setNumChans(3); }, true, true},
        {"size", ekSizeBits, [](AttrImage& i) { return i.setSize(ekSize(8, 6, 1, 1)); },
         [](AttrImage& i) { return i.setSize(ekSize(8, 6, 2, 1)); }, true, true},
        {"type", ekDataTypeBit, [](AttrImage& i) { return i.setDataType(ekUChar); },
         [](AttrImage& i) { return i.setDataType(ekFloat); }, true, true},
        {"order", ekOrderBit, [](AttrImage& i) { return i.setOrder(ekInterleaved); },
         [](AttrImage& i) { return i.setOrder(ekSeparate); }, true, true},
        {"space", ekCoordSpaceBit, [](AttrImage& i) { return i.setCoordSpace(ekLowerLeft); },
         [](AttrImage& i) { return i.setCoordSpace(ekUpperLeft); }, true, true},
        {"model", ekColorModelBit, [](AttrImage& i) { return i.setColorModel(ekGreyscale); },
         [](AttrImage& i) { return i.setColorModel(ekMinWhite); }, true, true},
        {"compression", ekCompressionBit,
         [](AttrImage& i) { return i.setCompression(ekNoCompression); },
         [](AttrImage& i) { return i.setCompression(ekLZW); }, true, false},
        {"page", ekPageSizeBit, [](AttrImage& i) { return i.setPageSize(16, 16, 1, 1); },
         [](AttrImage& i) { return i.setPageSize(8, 8, 1, 1); }, true, false},
        {"border", ekPageBorderBit, [](AttrImage& i) { return i.setPageBorder(0, 0, 0); },
         [](AttrImage& i) { return i.setPageBorder(2, 2, 0); }, true, false},
    };
    for (const SetterCase& c : cases) {
        SCOPED_TRACE(c.name);
        {  // Not allowed: nothing changes.
            AttrImage img;
            img.getStatus();
            EXPECT_EQ(c.change(img), ekNotAllowed);
            EXPECT_EQ(img.isSet(c.bit), 0);
            EXPECT_EQ(img.anyAltered(), 0);
        }
        {  // Unchanged: marked as set, nothing altered.
            Pair p;
            EXPECT_EQ(c.same(p.parent), ekOkay);
            EXPECT_EQ(p.parent.isSet(c.bit), c.bit);
            EXPECT_EQ(p.parent.anyAltered(), 0);
            EXPECT_EQ(p.child.anyAltered(), 0);
        }
        {  // Changed: stored, marked, altered as the setter says.
            Pair p;
            EXPECT_EQ(c.change(p.parent), ekOkay);
            EXPECT_EQ(p.parent.isSet(c.bit), c.bit);
            EXPECT_EQ(p.parent.isAltered(c.bit) != 0, c.altersSelf);
            EXPECT_EQ(p.child.anyAltered() != 0, c.altersChild);
        }
    }
}

TEST(ImageSetters, ScaleAltersDescendantsOnlyAndShowsAtOnce) {
    Pair p;
    EXPECT_EQ(p.parent.setScaleMinMax(5.0, 2.0), ekOkay);  // no ordering check
    EXPECT_EQ(p.parent.anyAltered(), 0);
    EXPECT_NE(p.child.anyAltered(), 0);
    EXPECT_NE(p.parent.isSet(ekScaleBit), 0);
    EXPECT_EQ(p.parent.getScaleMin(), 5.0);
    EXPECT_EQ(p.parent.getScaleMax(), 2.0);
    EXPECT_EQ(p.parent.resets, 1);  // the query did not reset it again

    AttrImage typed(ekShort);
    EXPECT_EQ(typed.setScaleType(ekUChar), ekOkay);
    EXPECT_EQ(typed.getScaleMin(), 0.0);
    EXPECT_EQ(typed.getScaleMax(), 255.0);
    EXPECT_EQ(typed.setScaleType(ekType(0)), ekOkay);  // the image's own type
    EXPECT_EQ(typed.getScaleMin(), -32768.0);
    EXPECT_EQ(typed.getScaleMax(), 32767.0);
}

TEST(ImageSetters, SetSizeTwoStopsAtTheFirstFailure) {
    AttrImage img;
    img.allow(ekYsizeBit);
    EXPECT_EQ(img.setSize(20, 30), ekNotAllowed);
    EXPECT_EQ(img.getYsize(), 6);
    img.allow(ekXsizeBit);
    EXPECT_EQ(img.setSize(20, 30), ekOkay);
    EXPECT_EQ(img.getXsize(), 20);
    EXPECT_EQ(img.getYsize(), 30);
    // setSize(ekSize) needs all four size bits.
    AttrImage partial;
    partial.allow(ekXsizeBit | ekYsizeBit | ekZsizeBit);
    EXPECT_EQ(partial.setSize(ekSize(2, 2, 1, 1)), ekNotAllowed);
}

TEST(ImageSetters, FillUnchangedIsNotMarkedAsSet) {
    Pair p;
    ekPixel current;
    p.parent.getFill(current);
    EXPECT_EQ(p.parent.setFill(current), ekOkay);
    EXPECT_EQ(p.parent.isSet(ekFillBit), 0);
    EXPECT_EQ(p.parent.anyAltered(), 0);
    // setFillValue with the same element: no mark either.
    EXPECT_EQ(p.parent.setFillValue(current.getElem(0), 0), ekOkay);
    EXPECT_EQ(p.parent.isSet(ekFillBit), 0);
    // A new value beyond the last element grows the fill and alters.
    EXPECT_EQ(p.parent.setFillValue(9.0, 2), ekOkay);
    EXPECT_EQ(p.parent.rawFill().nc(), 3);
    EXPECT_EQ(p.parent.rawFill().getElem(2), 9.0);
    EXPECT_NE(p.parent.isSet(ekFillBit), 0);
    EXPECT_NE(p.child.anyAltered(), 0);
}

TEST(ImageSetters, FillValueOnUntypedFillBecomesDouble) {
    AttrImage img;
    EXPECT_EQ(img.setFillValue(7.5, 1), ekOkay);
    EXPECT_EQ(img.rawFill().type(), ekDouble);
    EXPECT_EQ(img.rawFill().nc(), 2);
    EXPECT_EQ(img.getFillValue(1), 7.5);
}

TEST(ImageSetters, MinValueForAllChannels) {
    AttrImage img(ekUChar, ekInterleaved, 3);
    img.getStatus();
    EXPECT_EQ(img.setMinValue(4.0, -1), ekOkay);
    EXPECT_EQ(img.rawMin().nc(), 3);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(img.getMinValue(c), 4.0);
    EXPECT_NE(img.isSet(ekMinValueBit), 0);
    // A clamped read that already equals the value stores nothing.
    EXPECT_EQ(img.setMaxValue(255.0, 7), ekOkay);
    EXPECT_EQ(img.rawMax().nc(), 3);
    EXPECT_EQ(img.isSet(ekMaxValueBit), 0);
    EXPECT_EQ(img.setMaxValue(200.0, 1), ekOkay);
    EXPECT_EQ(img.getMaxValue(-1), 255.0);
    EXPECT_EQ(img.getMaxValue(1), 200.0);
    EXPECT_EQ(img.getMinValue(-1), 4.0);
}

TEST(ImageSetters, MinAndMaxPixelsAlwaysStore) {
    Pair p;
    ekPixel same;
    p.parent.getMinPixel(same);
    EXPECT_EQ(p.parent.setMinPixel(same), ekOkay);
    EXPECT_NE(p.parent.isAltered(ekMinValueBit), 0);
    ekPixel two(ekFloat, 2);
    two.setElem(-1.5, 0);
    two.setElem(3.0, 1);
    EXPECT_EQ(p.parent.setMaxPixel(two), ekOkay);
    ekPixel back;
    p.parent.getMaxPixel(back);
    EXPECT_TRUE(back == two);
}

TEST(ImageSetters, PageSizeRecomputesPageBytes) {
    AttrImage img(ekUShort, ekInterleaved, 3);
    img.allow(ekPageSizeBit);
    EXPECT_EQ(img.setPageSize(10, 10, 1, 3), ekOkay);
    EXPECT_EQ(img.getPageSize(), 600);
    int x, y, z, c;
    EXPECT_EQ(img.getPageSize(x, y, z, c), 600);
    EXPECT_EQ(x * 1000 + y * 100 + z * 10 + c, 10000 + 1000 + 10 + 3);
    // The caller's page stands through the class's reset, and follows the
    // data type when that changes later.
    img.allow(ekDataTypeBit);
    img.setDataType(ekDouble);
    EXPECT_EQ(img.getPageSizeX(), 10);
    EXPECT_EQ(img.getPageSize(), 2400);
}

TEST(ImageReferences, RefUnrefDeletes) {
    static int destroyed;
    destroyed = 0;
    struct Counted : AttrImage {
        ~Counted() override { ++destroyed; }
    };
    Counted* img = new Counted;
    EXPECT_EQ(img->GetRefCount(), 0);
    img->ref();
    img->ref();
    EXPECT_EQ(img->GetRefCount(), 2);
    img->unref();
    EXPECT_EQ(destroyed, 0);
    img->unref();
    EXPECT_EQ(destroyed, 1);
}

TEST(ImageInputs, IndicesAndCounts) {
    AttrImage a, b, c;
    EXPECT_EQ(c.getNumInputs(), 0);
    EXPECT_EQ(c.setInput(&a, 0), ekOkay);
    EXPECT_EQ(c.setInput(&b, 2), ekOkay);
    EXPECT_EQ(c.getNumInputs(), 3);
    EXPECT_EQ(c.getInput(2), &b);
    EXPECT_EQ(c.getInput(1), nullptr);
    EXPECT_EQ(c.setInput(&a, 4), ekBadIndex);
    EXPECT_EQ(c.setInput(&a, -1), ekBadIndex);
    EXPECT_EQ(c.addInput(&a), ekOkay);  // index 3
    EXPECT_EQ(c.getInput(3), &a);
    EXPECT_EQ(c.addInput(&a), ekBadIndex);  // 4 is beyond the four slots
    EXPECT_EQ(c.removeInput(7), ekBadIndex);
    EXPECT_EQ(c.removeInput(3), ekOkay);
    EXPECT_EQ(c.getNumInputs(), 3);

    AttrImage one;
    one.setNumInputs(1);
    EXPECT_EQ(one.addInput(&a), ekOkay);
    EXPECT_EQ(one.addInput(&b), ekBadIndex);
    EXPECT_EQ(one.getInput(0), &a);
}

TEST(ImageInputs, InputSeesThroughDisabledLinksAndIgnoresNonImages) {
    AttrImage a, b, c;
    b.setInput(&a, 0);
    c.setInput(&b, 0);
    b.setEnabled(0);
    EXPECT_EQ(c.getInput(0), &a);
    ekLink plainLink;
    AttrImage d;
    d.addParent(&plainLink);  // connected through the link interface
    EXPECT_EQ(d.getInput(0), nullptr);
}

TEST(ImageIdentity, ClassRecordAndHooks) {
    AttrImage img;
    EXPECT_STREQ(img.getClassName(0), "ekImage");
    EXPECT_STREQ(img.getClassName(1), "ekLink");
    EXPECT_EQ(img.getClassName(2), nullptr);
    EXPECT_EQ(img.getClassId(), &ekImage::classList);
    EXPECT_EQ(img.derivesFrom(&ekImage::classList), 1);
    EXPECT_EQ(img.derivesFrom(&ekLink::classList), 2);
    EXPECT_STREQ(ekImage::classList.name, "ekImage");
    EXPECT_EQ(ekImage::classList.parent, &ekLink::classList);
    struct Described : AttrImage {
        char* description() { return getDefaultDescription(); }
    } described;
    EXPECT_STREQ(described.description(), "Image");
    EXPECT_EQ(img.hwEval(0), nullptr);
    EXPECT_EQ(img.isColorImg(), 0);
    EXPECT_EQ(img.isDisplayImg(), 0);
    EXPECT_EQ(img.getColorImg(ekCMYK, &described), &img);
    EXPECT_EQ(img.setCacheSize(1, 2), ekNotAllowed);
    EXPECT_EQ(img.setCacheWindow(1, 2, 3, 4, 5), ekNotAllowed);
    EXPECT_EQ(img.setCacheWindowCopy(1, 2, 3), ekNotAllowed);
    img.setPriority(-4);
    EXPECT_EQ(img.getPriority(), -4);
}

TEST(ImageQueries, WidthHeightFollowTransposition) {
    AttrImage img;
    img.allow(ekSizeBits | ekCoordSpaceBit);
    img.setSize(640, 480);
    EXPECT_EQ(img.getWidth(), 640);
    EXPECT_EQ(img.getHeight(), 480);
    const ekCoordSpace transposed[] = {ekLeftUpper, ekRightUpper, ekRightLower, ekLeftLower};
    for (ekCoordSpace cs : transposed) {
        img.setCoordSpace(cs);
        EXPECT_EQ(img.getWidth(), 480) << cs;
        EXPECT_EQ(img.getHeight(), 640) << cs;
    }
    img.setCoordSpace(ekCoordSpace(0));
    EXPECT_EQ(img.getWidth(), 640);
    img.setCoordSpace(ekCoordSpace(13));  // not a space: untransposed
    EXPECT_EQ(img.getWidth(), 640);
}

TEST(ImageQueries, GettersResetFirstAndConfigs) {
    AttrImage img(ekShort, ekSequential, 3);
    EXPECT_EQ(img.resets, 0);
    EXPECT_NE(img.isSigned(), 0);
    EXPECT_EQ(img.resets, 1);
    EXPECT_EQ(img.getColorModel(), ekRGB);

    ekConfig cfg(ekUChar, ekInterleaved, 1, nullptr, 5, ekUpperLeft, ekCMYK);
    int list[] = {0};
    cfg.chanList = list;
    cfg.reserved = 77;
    img.getConfig(&cfg);
    EXPECT_EQ(cfg.type, ekShort);
    EXPECT_EQ(cfg.order, ekSequential);
    EXPECT_EQ(cfg.coordSpace, ekLowerLeft);
    EXPECT_EQ(cfg.nchans, 3);
    EXPECT_EQ(cfg.chanOffset, 0);
    EXPECT_EQ(cfg.chanList, nullptr);
    EXPECT_EQ(cfg.colorModel, ekRGB);
    EXPECT_EQ(cfg.reserved, 77);
    img.getConfig(nullptr);  // ignored

    ekConfig fromImage(&img);
    EXPECT_EQ(fromImage.type, ekShort);
    EXPECT_EQ(fromImage.nchans, 3);
    EXPECT_EQ(fromImage.colorModel, ekRGB);
    EXPECT_EQ(fromImage.reserved, 0);
}

TEST(ImageQueries, PageDeltaAndBorder) {
    AttrImage img(ekUChar, ekInterleaved, 3);
    img.allow(ekPageSizeBit | ekPageBorderBit);
    img.setPageSize(128, 128, 1, 3);
    img.setPageBorder(2, 2, 0);
    int dx, dy, dz, dc;
    img.getPageDelta(dx, dy, dz, dc);
    EXPECT_EQ(dx, 124);
    EXPECT_EQ(dy, 124);
    EXPECT_EQ(dz, 1);
    EXPECT_EQ(dc, 3);
    int bx, by, bz;
    img.getPageBorder(bx, by, bz);
    EXPECT_EQ(bx + by + bz, 4);
    EXPECT_EQ(img.hasPageBorder(), 1);
    EXPECT_EQ(img.getPageSizePix(), 128 * 128);
    EXPECT_EQ(img.getPageSizeVal(), 128 * 128 * 3);
}

TEST(ImageQueries, PageProductsClampInsteadOfOverflowing) {
    AttrImage img(ekDouble, ekInterleaved, 1);
    img.allow(ekPageSizeBit | ekPageBorderBit);
    img.setPageSize(65536, 65536, 4, 2);
    EXPECT_EQ(img.getPageSizePix(), INT32_MAX);
    EXPECT_EQ(img.getPageSizeVal(), INT32_MAX);
    EXPECT_EQ(img.getPageSize(), INT32_MAX);
    img.setPageSize(46341, 46341, 1, 1);  // 2147488281 elements: just too many
    EXPECT_EQ(img.getPageSizePix(), INT32_MAX);
    img.setPageSize(1000, 1000, 1, 1);
    EXPECT_EQ(img.getPageSize(), 8000000);
    img.setPageBorder(INT32_MIN, 0, 0);
    int dx, dy, dz, dc;
    img.getPageDelta(dx, dy, dz, dc);
    EXPECT_EQ(dx, INT32_MAX);
}

}  // namespace
