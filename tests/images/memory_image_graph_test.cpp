// SPDX-License-Identifier: Apache-2.0
// Memory images in graphs that change under a running operation: a cycle of
// auto-sync images re-entered during a reset, and a copy whose source is
// destroyed by bringing its destination up to date.
#include <gtest/gtest.h>

#include <vector>

#include "images_test_util.h"

namespace {

TEST(MemoryImageGraph, CycleOfAutoSyncImagesNeverReadsAStaleBuffer) {
    auto* a = new ekMemoryImg(ekSize(2, 2, 1, 1), ekUChar, ekInterleaved);
    auto* b = new ekMemoryImg(a, 1);
    auto* c = new ekMemoryImg(b, 1);
    a->setInput(c, 0);
    a->getStatus();
    a->setXsize(64);
    a->setYsize(64);
    // b copies a while a's reset waits for c: a has its new size but not yet
    // its new buffer, and must refuse the read rather than overrun the old.
    EXPECT_EQ(a->getStatus(), ekOkay);
    EXPECT_EQ(a->getXsize() * a->getYsize(), 64 * 64);
    std::vector<unsigned char> pixels(64 * 64);
    for (ekMemoryImg* img : {a, b, c})
        EXPECT_EQ(img->getTile(0, 0, 64, 64, pixels.data(), nullptr), ekOkay);
    delete a;
    delete b;
    delete c;
}

TEST(MemoryImageGraph, CopyFromASourceDestroyedByTheUpdateIsRefused) {
    auto* img = new ekMemoryImg(ekSize(2, 2, 1, 1), ekUChar, ekInterleaved);
    int destroyed = 0;
    auto* src = new TestMemoryImg(img, 1);
    src->destroyed = &destroyed;
    src->setRelatedType(1, 0);
    src->setRelatedDelete(1);
    img->setXsize(3);  // its next reset destroys src
    *img << *src;
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(img->getStatus(), ekBadInput);
    img->clearStatus();
    ekMemoryImg other(ekSize(3, 2, 1, 1), ekUChar, ekInterleaved);
    *img << other;  // a live source copies as before
    EXPECT_EQ(img->getStatus(), ekOkay);
    delete img;
}

}  // namespace
