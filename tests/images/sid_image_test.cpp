// SPDX-License-Identifier: Apache-2.0
// Seed images: resource ids, liveness, seed references and collapsing.
#include <gtest/gtest.h>

#include "test_images.h"

namespace {

const ekSize kSmall(4, 3, 1, 1);

TEST(SeedImage, IdsBoundsAndLiveness) {
    ekMemoryImg a(kSmall, ekUChar, ekInterleaved);
    const unsigned first = a.ResourceID();
    EXPECT_EQ(first, ekSIDImage::SidImgCounter_);
    EXPECT_NE(first, 0u);
    {
        ekMemoryImg b(kSmall, ekUChar, ekInterleaved);
        EXPECT_EQ(b.ResourceID(), first + 1);
    }
    ekMemoryImg c(ekSize(640, 480, 1, 3), ekUChar, ekInterleaved);
    EXPECT_EQ(c.ResourceID(), first + 2);  // b's id is not handed out again
    EXPECT_EQ(c.getBounds(), ekTile(0, 0, 0, 640, 480, 1));
    c.setXsize(10);  // recorded, not yet derived: the field already holds it
    EXPECT_EQ(c.getBounds(), ekTile(0, 0, 0, 10, 480, 1));

    EXPECT_EQ(ekSIDImage::asSidImage(nullptr), nullptr);
    GridImage plain(2, 2, 1);
    EXPECT_EQ(ekSIDImage::asSidImage(&plain), nullptr);
    EXPECT_EQ(ekSIDImage::asSidImage(&a), &a);
    // A destroyed seed image is not recognised, and is not read to find out
    // (the sanitizer build would report a use after free).
    ekImage* gone = new ekMemoryImg(kSmall, ekUChar, ekInterleaved);
    delete gone;
    EXPECT_EQ(ekSIDImage::asSidImage(gone), nullptr);
}

TEST(SeedImage, SeedReferencesFollowTheSeed) {
    int destroyed = 0;
    auto* a = new TestMemoryImg(kSmall, ekUChar, ekInterleaved);
    a->destroyed = &destroyed;
    TestMemoryImg b(a, 1);
    EXPECT_EQ(b.GetSeedImage(), a);
    b.SetSeedImage(a);  // the current seed again: no change, a survives
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(a->GetRefCount(), 1);

    GridImage plain(2, 2, 1);
    b.SetSeedImage(&plain);  // drops the only reference: a is destroyed
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(b.GetSeedImage(), &plain);
    EXPECT_EQ(plain.GetRefCount(), 0);  // other classes are not counted
}

TEST(SeedImage, CollapseMergesTheSeedIntoItsSeedAndSkipsIt) {
    int destroyedB = 0;
    auto* a = new TestMemoryImg(kSmall, ekUChar, ekInterleaved);
    unsigned char one = 1, five = 5;
    a->fillTile3D(0, 0, 0, 4, 3, 1, &one, nullptr, nullptr);
    auto* b = new TestMemoryImg(a, 0);  // copies a once
    b->destroyed = &destroyedB;
    TestMemoryImg c(b, 0);
    ASSERT_EQ(b->getStatus(), ekOkay);
    b->fillTile3D(0, 0, 0, 4, 3, 1, &five, nullptr, nullptr);

    EXPECT_TRUE(c.CollapseSeed());
    EXPECT_EQ(c.GetSeedImage(), a);
    EXPECT_EQ(destroyedB, 1);  // c held b's only reference
    // a holds what b had, keeps b's reference (a destructor does not release
    // its seed) and gains c's.
    const unsigned char* pa = static_cast<unsigned char*>(a->getDataPtr());
    for (int i = 0; i < 12; ++i) EXPECT_EQ(pa[i], 5) << i;
    EXPECT_EQ(a->GetRefCount(), 2);
    EXPECT_EQ(c.getStatus(), ekOkay);  // c lost its input but keeps its data
    a->unref();
    a->unref();
}

TEST(SeedImage, CollapseThatDestroysTheImageItselfTouchesItNoMore) {
    int destroyedB = 0, destroyedC = 0;
    auto* a = new TestMemoryImg(kSmall, ekUChar, ekInterleaved);
    auto* b = new TestMemoryImg(a, 1);
    auto* c = new TestMemoryImg(b, 1);
    b->destroyed = &destroyedB;
    c->destroyed = &destroyedC;
    c->setRelatedType(1, 0);         // owned by b, whose only reference c holds
    EXPECT_TRUE(c->CollapseSeed());  // releasing b destroys b, and c with it
    EXPECT_EQ(destroyedB + destroyedC, 2);
    EXPECT_EQ(a->GetRefCount(), 2);  // b's reference (not released) and c's
    a->unref();
    a->unref();
}

// Without two seed images, or into a destroyed seed, a collapse does nothing.
TEST(SeedImage, CollapseWithoutTwoLiveSeedImagesChangesNothing) {
    TestMemoryImg lonely(kSmall, ekUChar, ekInterleaved);
    EXPECT_FALSE(lonely.CollapseSeed());

    auto* a = new TestMemoryImg(kSmall, ekUChar, ekInterleaved);  // no seed of its own
    TestMemoryImg b(a, 1);
    EXPECT_FALSE(b.CollapseSeed());
    EXPECT_EQ(b.GetSeedImage(), a);
    EXPECT_EQ(a->GetRefCount(), 1);

    GridImage plain(4, 3, 1);  // seed's seed of another class
    plain.paintAll(9);
    auto* d = new TestMemoryImg(&plain, 1);
    TestMemoryImg e(d, 1);
    EXPECT_FALSE(e.CollapseSeed());
    EXPECT_EQ(e.GetSeedImage(), d);
    b.SetSeedImage(nullptr);
    e.SetSeedImage(nullptr);

    auto* gone = new GridImage(4, 3, 1);
    TestMemoryImg mem(gone, 0);
    EXPECT_EQ(mem.GetSeedImage(), gone);
    mem.MergeChangesIntoSeed();  // a live input: the seed reads this image
    delete gone;                 // leaves the graph; the seed pointer dangles
    mem.MergeChangesIntoSeed();  // must not touch it
    EXPECT_FALSE(mem.CollapseSeed());
}

}  // namespace
