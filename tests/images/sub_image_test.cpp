// SPDX-License-Identifier: Apache-2.0
// Sub-image view: what the randomized views (sub_image_random_test.cpp) do
// not draw: page geometry, colour model and range, the start channel,
// following a changed parent, the own configuration's lifetime, refused
// copies and lost parents.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "test_images.h"

namespace {

TEST(SubImage, PagesRangeStartAndFollowingTheParent) {
    ekMemoryImg parent(ekSize(100, 100, 1, 4), ekUChar, ekInterleaved);
    ekSubImg view(&parent, 10, 20, 0, 2, 4, 3, 1, 2, nullptr);  // channels 2..3
    EXPECT_EQ(view.hasPages(), parent.hasPages());
    EXPECT_EQ(view.getPageSizeX(), 100);  // the parent's one page
    EXPECT_EQ(view.setPageSize(2, 2, 1, 1), ekNotAllowed);
    EXPECT_NE(view.getColorModel(), parent.getColorModel());  // derived from 2 channels
    EXPECT_EQ(view.getScaleMax(), 255.0);                     // from the parent's range
    int x, y, z, c;
    view.setStart(3, 4, 0);
    view.getStart(x, y, z, c);
    EXPECT_EQ(std::vector<int>({x, y, z, c}), std::vector<int>({3, 4, 0, 0}));  // channel 0 again

    ekSubImg whole(&parent, nullptr);
    EXPECT_EQ(whole.getColorModel(), parent.getColorModel());
    parent.setSize(ekSize(8, 7, 1, 3));
    parent.setDataType(ekFloat);
    EXPECT_EQ(std::vector<int>({whole.getXsize(), whole.getYsize(), whole.getCsize()}),
              std::vector<int>({8, 7, 3}));
    EXPECT_EQ(whole.getDataType(), ekFloat);
}

TEST(SubImage, OwnConfigurationIsCopiedAndReleased) {
    ekMemoryImg parent(ekSize(4, 4, 1, 3), ekUChar, ekInterleaved);
    const unsigned char px[3] = {10, 11, 12};
    ASSERT_EQ(parent.setTile(1, 1, 1, 1, const_cast<unsigned char*>(px), nullptr), ekOkay);
    int list[3] = {2, 1, 0};
    ekConfig own(ekAnyType, ekAnyOrder, 3, list);
    ekSubImg view(&parent, &own);
    list[0] = 0;  // the view keeps its own copy
    unsigned char b[3] = {};
    ASSERT_EQ(view.getTile(1, 1, 1, 1, b, nullptr), ekOkay);
    EXPECT_EQ(std::vector<int>(b, b + 3), std::vector<int>({12, 11, 10}));
    // Releasing the configuration leaves nothing dangling.
    view.setConfig(nullptr);
    view.setStart(0, 0, 0, 1);
    ASSERT_EQ(view.getTile(1, 1, 1, 1, b, nullptr), ekOkay);
    EXPECT_EQ(b[0], 11);
    // A colour model and a bit type in the configuration are the view's.
    ekConfig minWhite(ekAnyType, ekAnyOrder, 1, nullptr, 0, ekCoordSpace(0), ekMinWhite);
    EXPECT_EQ(ekSubImg(&parent, &minWhite).getColorModel(), ekMinWhite);
    ekConfig bits(ekBit, ekAnyOrder, 0);
    EXPECT_EQ(ekSubImg(&parent, &bits).getDataType(), ekBit);
    // A list that shows one parent channel twice cannot be written back.
    int twice[2] = {1, 1};
    ekConfig dup(ekAnyType, ekAnyOrder, 2, twice);
    ekSubImg doubled(&parent, &dup);
    ekMemoryImg out(ekSize(3, 3, 1, 2), ekUChar, ekInterleaved);
    EXPECT_EQ(doubled.copyTileCfg(0, 0, 0, 1, 1, 1, &out, 0, 0, 0, nullptr, 0), ekNoMemory);
    EXPECT_EQ(doubled.copyTileCfg(0, 0, 0, 1, 0, 1, &out, 0, 0, 0, nullptr, 0), ekOkay);  // empty
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
