// SPDX-License-Identifier: Apache-2.0
// Sub-image view: identity, construction and start, following the parent,
// the own configuration, refused copies, and lost parents. Reads, writes and
// copies through random windows are sub_image_random_test.cpp's.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "test_images.h"

namespace {

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

// Reads through windows are the randomized tests'; these are the attributes.
TEST(SubImage, WindowStartAndChannelsOfTheParent) {
    auto parent = pattern(100, 100, 4);
    ekSubImg view(parent.get(), 10, 20, 0, 2, 4, 3, 1, 2, nullptr);  // channels 2..3
    EXPECT_EQ(view.getStatus(), ekOkay);
    EXPECT_EQ(std::vector<int>({view.getXsize(), view.getYsize(), view.getCsize()}),
              std::vector<int>({4, 3, 2}));
    EXPECT_EQ(view.hasPages(), parent->hasPages());
    EXPECT_EQ(view.getPageSizeX(), 100);  // the parent's one page
    EXPECT_EQ(view.setPageSize(2, 2, 1, 1), ekNotAllowed);
    EXPECT_NE(view.getColorModel(), parent->getColorModel());  // derived from 2 channels
    EXPECT_EQ(view.getScaleMax(), 255.0);                      // from the parent's range
    int x, y, z, c;
    view.getStart(x, y, z, c);
    EXPECT_EQ(std::vector<int>({x, y, z, c}), std::vector<int>({10, 20, 0, 2}));
    view.setStart(3, 4, 0);
    view.getStart(x, y, z, c);
    EXPECT_EQ(std::vector<int>({x, y, z, c}), std::vector<int>({3, 4, 0, 0}));  // channel 0 again
    view.setStart(3, 4, 0, 1);
    ekPixel p;
    EXPECT_EQ(view.getPixel(0, 0, p), ekOkay);
    EXPECT_EQ(p[0], at(3, 4, 1));

    ekSubImg whole(parent.get(), nullptr);  // follows the parent
    EXPECT_EQ(whole.getColorModel(), parent->getColorModel());
    parent->setSize(ekSize(8, 7, 1, 3));
    parent->setDataType(ekFloat);
    EXPECT_EQ(std::vector<int>({whole.getXsize(), whole.getYsize(), whole.getCsize()}),
              std::vector<int>({8, 7, 3}));
    EXPECT_EQ(whole.getDataType(), ekFloat);
    ekMemoryImg deep(ekSize(4, 4, 3, 1), ekUChar, ekInterleaved);
    EXPECT_EQ(ekSubImg(&deep, 0, 0, 1, 0, 2, 2, 2, 1, nullptr).getZsize(), 2);
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
    // A colour model in the configuration is the view's.
    ekConfig minWhite(ekAnyType, ekAnyOrder, 1, nullptr, 0, ekCoordSpace(0), ekMinWhite);
    EXPECT_EQ(ekSubImg(parent.get(), &minWhite).getColorModel(), ekMinWhite);
    ekConfig bits(ekBit, ekAnyOrder, 0);
    EXPECT_EQ(ekSubImg(parent.get(), &bits).getDataType(), ekBit);
}

// Copies through random windows are the randomized tests'; a list that
// shows one parent channel twice cannot be written back.
TEST(SubImage, CopiesThroughAListWithARepeatedChannelAreRefused) {
    auto parent = pattern(4, 4, 3);
    int twice[2] = {1, 1};
    ekConfig dup(ekAnyType, ekAnyOrder, 2, twice);
    ekSubImg view(parent.get(), &dup);
    ekMemoryImg out(ekSize(3, 3, 1, 2), ekUChar, ekInterleaved);
    EXPECT_EQ(view.copyTileCfg(0, 0, 0, 1, 1, 1, &out, 0, 0, 0, nullptr, 0), ekNoMemory);
    EXPECT_EQ(view.copyTileCfg(0, 0, 0, 1, 0, 1, &out, 0, 0, 0, nullptr, 0), ekOkay);  // empty
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
