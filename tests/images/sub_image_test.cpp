// SPDX-License-Identifier: Apache-2.0
// Sub-image view: identity, construction and start, following the parent,
// the own configuration, copies, and lost parents. Reads and writes through
// random windows are sub_image_random_test.cpp's.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "test_images.h"

namespace {

class DescribedSubImg : public ekSubImg {
public:
    using ekSubImg::ekSubImg;
    std::string description() { return getDefaultDescription(); }
};

// A w x h memory image of c 8-bit channels; pixel (x, y) channel k holds
// (x + 10 y + 100 k) mod 256; fill 200 + k.
std::unique_ptr<ekMemoryImg> pattern(int w, int h, int c, ekOrder o = ekInterleaved) {
    std::unique_ptr<ekMemoryImg> img(new ekMemoryImg(ekSize(w, h, 1, c), ekUChar, o));
    std::vector<unsigned char> v(size_t(w) * h * c);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int k = 0; k < c; ++k)
                v[(size_t(y) * w + x) * c + k] = (x + 10 * y + 100 * k) & 255;
    ekConfig cfg(ekUChar, ekInterleaved, c);
    EXPECT_EQ(img->setTile(0, 0, w, h, v.data(), &cfg), ekOkay);
    ekPixel fill(ekUChar, c);
    for (int k = 0; k < c; ++k) fill.setElem(200 + k, k);
    img->setFill(fill);
    return img;
}

int at(int x, int y, int k) { return (x + 10 * y + 100 * k) & 255; }

TEST(SubImage, IdentityAndWindowOfTheParent) {
    auto parent = pattern(100, 100, 3);
    DescribedSubImg view(parent.get(), 10, 20, 4, 3, nullptr);
    EXPECT_STREQ(view.getClassName(0), "ekSubImg");
    EXPECT_EQ(view.getClassId(), &ekSubImg::classList);
    EXPECT_EQ(view.description(), "Sub Image");
    EXPECT_EQ(view.getStatus(), ekOkay);
    EXPECT_EQ(view.getXsize(), 4);
    EXPECT_EQ(view.getYsize(), 3);
    EXPECT_EQ(view.getCsize(), 3);
    EXPECT_EQ(view.hasPages(), parent->hasPages());
    EXPECT_EQ(view.getPageSizeX(), 100);  // the parent's one page
    EXPECT_EQ(view.setPageSize(2, 2, 1, 1), ekNotAllowed);
    ekPixel p;
    EXPECT_EQ(view.getPixel(0, 0, p), ekOkay);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(p[k], at(10, 20, k));
}

TEST(SubImage, WholeViewFollowsTheParent) {
    auto parent = pattern(6, 5, 3);
    ekSubImg view(parent.get(), nullptr);
    EXPECT_EQ(view.getXsize(), 6);
    EXPECT_EQ(view.getDataType(), ekUChar);
    EXPECT_EQ(view.getColorModel(), parent->getColorModel());
    ekPixel p;
    EXPECT_EQ(view.getPixel(5, 4, p), ekOkay);  // from the parent's first channel on
    EXPECT_EQ(p[0], at(5, 4, 0));
    parent->setSize(ekSize(8, 7, 1, 3));
    parent->setDataType(ekFloat);
    EXPECT_EQ(view.getXsize(), 8);
    EXPECT_EQ(view.getYsize(), 7);
    EXPECT_EQ(view.getDataType(), ekFloat);
}

TEST(SubImage, StartAndChannels) {
    auto parent = pattern(8, 8, 4);
    ekSubImg view(parent.get(), 1, 2, 0, 2, 3, 3, 1, 2, nullptr);  // channels 2..3
    int x, y, z, c;
    view.getStart(x, y, z, c);
    EXPECT_EQ(c, 2);
    EXPECT_EQ(view.getCsize(), 2);
    EXPECT_NE(view.getColorModel(), parent->getColorModel());  // derived from 2 channels
    view.setStart(3, 4, 0);
    view.getStart(x, y, z, c);
    EXPECT_EQ(x + y + z + c, 7);  // the channel went back to 0
    view.setStart(3, 4, 0, 1);
    view.getStart(x, y, z, c);
    EXPECT_EQ(c, 1);
    ekPixel p;
    EXPECT_EQ(view.getPixel(0, 0, p), ekOkay);
    EXPECT_EQ(p[0], at(3, 4, 1));
}

TEST(SubImage, OwnConfigurationSelectsTypeAndChannels) {
    auto parent = pattern(4, 4, 3);
    int list[3] = {2, 1, 0};
    ekConfig own(ekFloat, ekSeparate, 3, list);
    ekSubImg view(parent.get(), &own);
    EXPECT_EQ(view.getDataType(), ekFloat);
    EXPECT_EQ(view.getOrder(), ekSeparate);
    list[0] = 0;  // the view keeps its own copy
    // No configuration: the view's own layout (float, separate planes).
    std::vector<float> b(3, -1.0f);
    ASSERT_EQ(view.getTile(1, 1, 1, 1, b.data(), nullptr), ekOkay);
    EXPECT_EQ(b, std::vector<float>({float(at(1, 1, 2)), float(at(1, 1, 1)), float(at(1, 1, 0))}));
    // The fill follows the list too.
    EXPECT_EQ(view.getFillValue(0), 202.0);
    // Releasing the configuration leaves nothing dangling.
    view.setConfig(nullptr);
    view.setStart(0, 0, 0, 1);
    ASSERT_EQ(view.getTile(1, 1, 1, 1, b.data(), nullptr), ekOkay);
    EXPECT_EQ(b[0], float(at(1, 1, 1)));
}

TEST(SubImage, CopiesCarryTheViewsChannelMap) {
    auto parent = pattern(4, 4, 3);
    int list[2] = {2, 0};
    ekConfig own(ekAnyType, ekAnyOrder, 2, list);
    ekSubImg view(parent.get(), 1, 1, 2, 2, &own);
    ekMemoryImg out(ekSize(3, 3, 1, 2), ekUChar, ekInterleaved);
    std::vector<unsigned char> zeros(18, 0);
    ASSERT_EQ(out.setTile(0, 0, 3, 3, zeros.data(), nullptr), ekOkay);
    // View -> out at (1, 1): out channel k gets view channel k.
    ASSERT_EQ(view.copyTileCfg(0, 0, 0, 2, 2, 1, &out, 1, 1, 0, nullptr, 0), ekOkay);
    ekPixel p;
    EXPECT_EQ(out.getPixel(2, 2, p), ekOkay);
    EXPECT_EQ(p[0], at(2, 2, 2));
    EXPECT_EQ(p[1], at(2, 2, 0));
    // out -> view: writes parent channels 2 and 0 only.
    ekPixel two(ekUChar, 2);
    two.setElem(11, 0);
    two.setElem(22, 1);
    ASSERT_EQ(out.setPixel(1, 1, two), ekOkay);
    ASSERT_EQ(view.copyTileCfg(0, 0, 0, 1, 1, 1, &out, 1, 1, 0, nullptr, 1), ekOkay);
    p = ekPixel();
    EXPECT_EQ(parent->getPixel(1, 1, p), ekOkay);
    EXPECT_EQ(p[0], 22);
    EXPECT_EQ(p[1], at(1, 1, 1));
    EXPECT_EQ(p[2], 11);
    // A list that shows one parent channel twice cannot be written back.
    int twice[2] = {1, 1};
    ekConfig dup(ekAnyType, ekAnyOrder, 2, twice);
    view.setConfig(&dup);
    EXPECT_EQ(view.copyTileCfg(0, 0, 0, 1, 1, 1, &out, 0, 0, 0, nullptr, 0), ekNoMemory);
    EXPECT_EQ(view.copyTileCfg(0, 0, 0, 1, 0, 1, &out, 0, 0, 0, nullptr, 0), ekOkay);  // empty
}

// Copies between a view of parent channels 1..2 and another image, in both
// directions, with the caller's selection of the other's channels.
TEST(SubImage, CopiesSelectTheOthersChannels) {
    struct Copy {
        int nchans, offset;
        std::vector<int> list;
        std::vector<int> other;  // other's channel of view channel k (-1: none)
    };
    // A selection from channel 0 without a list would ask for a colour
    // conversion (2 channels against 4): the cases select explicitly.
    const Copy copies[] = {{2, 0, {0, 1}, {0, 1}}, {1, 1, {}, {1, -1}}, {2, 0, {2, 0}, {2, 0}},
                           {1, 0, {3}, {3, -1}},   {2, 2, {}, {2, 3}},  {2, 0, {-1, 1}, {-1, 1}}};
    for (const Copy& c : copies)
        for (int direction : {0, 1}) {
            auto parent = pattern(6, 6, 3);
            ekSubImg view(parent.get(), 1, 1, 0, 1, 3, 3, 1, 2, nullptr);
            ekMemoryImg other(ekSize(5, 5, 1, 4), ekUChar, ekInterleaved);
            std::vector<unsigned char> v(5 * 5 * 4);
            for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<unsigned char>(150 + i % 50);
            ASSERT_EQ(other.setTile(0, 0, 5, 5, v.data(), nullptr), ekOkay);
            ekConfig cfg(ekAnyType, ekAnyOrder, c.nchans,
                         c.list.empty() ? nullptr : const_cast<int*>(c.list.data()), c.offset);
            ASSERT_EQ(view.copyTileCfg(1, 0, 0, 2, 3, 1, &other, 2, 1, 0, &cfg, direction), ekOkay);
            EXPECT_EQ(view.copyTileCfg(0, 0, 0, 0, 3, 1, &other, 0, 0, 0, &cfg, direction),
                      ekOkay);  // empty: nothing
            for (int y = 0; y < 3; ++y)
                for (int x = 1; x < 3; ++x)
                    for (int k = 0; k < 2; ++k) {
                        const int o = c.other[size_t(k)];
                        ekPixel pp, po;
                        ASSERT_EQ(parent->getPixel(1 + x, 1 + y, pp), ekOkay);
                        ASSERT_EQ(other.getPixel(x + 1, y + 1, po), ekOkay);
                        const int original = 150 + (((y + 1) * 5 + x + 1) * 4 + o) % 50;
                        if (o < 0)  // neither side changed
                            EXPECT_EQ(pp[1 + k], at(1 + x, 1 + y, 1 + k));
                        else if (direction == 0)
                            EXPECT_EQ(po[o], at(1 + x, 1 + y, 1 + k)) << o;
                        else
                            EXPECT_EQ(pp[1 + k], original) << o;
                    }
        }
}

TEST(SubImage, ViewsOfAConstantAndLostParents) {
    std::unique_ptr<ekConstImg> value(new ekConstImg(ekPixel(ekUChar, 1)));
    value->setFillValue(5, 0);
    ekSubImg view(value.get(), 0, 0, 2, 1, nullptr);
    ekSubImg top(&view, 1, 0, 2, 1, nullptr);  // a view of a view
    unsigned char b[2] = {};
    EXPECT_EQ(top.getTile(0, 0, 2, 1, b, nullptr), ekOkay);
    EXPECT_EQ(b[0], 5);
    EXPECT_EQ(b[1], 5);  // the inner view's fill is the constant's value
    EXPECT_EQ(view.setTile(0, 0, 1, 1, b, nullptr), ekNotAllowed);
    value.reset();  // the views lose their input: no dangling read
    EXPECT_EQ(view.getStatus(), ekBadInput);
    EXPECT_EQ(top.getTile(0, 0, 1, 1, b, nullptr), ekBadInput);
    EXPECT_EQ(view.hasPages(), 0);
    ekSubImg none(nullptr, nullptr);
    EXPECT_EQ(none.getStatus(), ekBadInput);
}

}  // namespace
