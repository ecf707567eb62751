// SPDX-License-Identifier: Apache-2.0
// Image operations whose working memory cannot be allocated answer
// ekNoMemory and move nothing: a view's copy of its channel list, the channel
// lists of a read through a view, and a pixel sized by the image.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "eks/images.h"
#include "failing_new.h"

namespace {

TEST(ImagesNoMemory, ViewListsAndPixelsThatCannotBeHad) {
    // 20 channels: more than a read keeps in its local lists.
    ekMemoryImg parent(ekSize(2, 1, 1, 20), ekUChar, ekInterleaved);
    std::vector<int> reversed(20);
    std::iota(reversed.rbegin(), reversed.rend(), 0);
    ekConfig own(ekUChar, ekInterleaved, 20, reversed.data(), 0, ekCoordSpace(0), ekColorModel(0));
    ekSubImg view(&parent, nullptr);
    EXPECT_EQ(view.getStatus(), ekOkay);
    failing_new::failAllocation(0);
    view.setConfig(&own);  // the view's copy of the list
    EXPECT_EQ(view.getStatus(), ekNoMemory);
    view.setConfig(&own);  // a new configuration starts afresh
    EXPECT_EQ(view.getStatus(), ekOkay);
    std::vector<unsigned char> buffer(40, 9);
    for (int n : {0, 1}) {  // the view's list of the request, then the parent's
        failing_new::failAllocation(n);
        EXPECT_EQ(view.getTile(0, 0, 2, 1, buffer.data(), nullptr), ekNoMemory) << n;
    }
    EXPECT_EQ(buffer, std::vector<unsigned char>(40, 9));

    ekMemoryImg grey(ekSize(1, 1, 1, 1), ekUChar, ekInterleaved);
    EXPECT_EQ(grey.getStatus(), ekOkay);
    for (int write : {0, 1}) {
        ekPixel untyped;
        failing_new::failAllocation(0);
        EXPECT_EQ(write ? grey.setPixel(0, 0, untyped) : grey.getPixel(0, 0, untyped), ekNoMemory);
    }
    failing_new::failAllocation(-1);
}

}  // namespace
