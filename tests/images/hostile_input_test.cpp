// SPDX-License-Identifier: Apache-2.0
// Hostile inputs (review and fuzz findings): each is answered with a status
// or a defined result, no buffer outside the request changes, and (under the
// sanitizer build) nothing is read out of bounds or leaked.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "eks/paging.h"
#include "failing_new.h"
#include "test_images.h"

namespace {

// A 4 x 3 x 3 ekUChar image of 7s over a buffer between guard bytes of 0xEE.
struct Guarded {
    std::vector<unsigned char> bytes = std::vector<unsigned char>(16 + 36 + 16, 0xEE);
    ekMemoryImg img{bytes.data() + 16, ekSize(4, 3, 1, 3), ekUChar, ekInterleaved};
    Guarded() { std::memset(bytes.data() + 16, 7, 36); }
    bool untouched() const {
        for (size_t i = 0; i < bytes.size(); ++i)
            if (bytes[i] != (i < 16 || i >= 52 ? 0xEE : 7)) return false;
        return true;
    }
};

// Every read, write, fill and copy with the configuration is refused and
// moves nothing, on every image class: ekBadAttribute, unless the class
// refuses the operation anyway (a constant is never written, views and
// constants do not fill).
void expectRefusedEverywhere(const ekConfig& cfg) {
    Guarded g, other, parent;
    ekSubImg view(&parent.img, nullptr);
    ekConstImg constant;
    std::vector<unsigned char> out(4096, 0x5A);
    auto refused = [](ekStatus s) {
        return s == ekBadAttribute || s == ekNotAllowed || s == ekNotImplemented;
    };
    for (ekImage* img : {static_cast<ekImage*>(&g.img), static_cast<ekImage*>(&view),
                         static_cast<ekImage*>(&constant)}) {
        SCOPED_TRACE(img->getClassName(0));
        EXPECT_EQ(img->getTile(0, 0, 2, 2, out.data(), &cfg), ekBadAttribute);
        EXPECT_PRED1(refused, img->setTile(0, 0, 2, 2, out.data(), &cfg));
        EXPECT_PRED1(refused, img->fillTile(0, 0, 2, 2, out.data(), &cfg, nullptr));
        EXPECT_PRED1(refused, img->copyTileCfg(0, 0, 0, 2, 2, 1, &other.img, 0, 0, 0, &cfg, 1));
        EXPECT_EQ(img->copyTileCfg(0, 0, 0, 2, 2, 1, &other.img, 0, 0, 0, &cfg, 0), ekBadAttribute);
        EXPECT_PRED1(refused, img->copyTileCfg(0, 0, 0, 2, 2, 1, img, 1, 1, 0, &cfg, 1));
    }
    EXPECT_EQ(g.img.setTile(0, 0, 2, 2, out.data(), &cfg), ekBadAttribute);
    EXPECT_EQ(g.img.fillTile(0, 0, 2, 2, out.data(), &cfg, nullptr), ekBadAttribute);
    EXPECT_EQ(g.img.copyTileCfg(0, 0, 0, 2, 2, 1, &other.img, 0, 0, 0, &cfg, 1), ekBadAttribute);
    EXPECT_EQ(view.setTile(0, 0, 2, 2, out.data(), &cfg), ekBadAttribute);
    EXPECT_EQ(out, std::vector<unsigned char>(4096, 0x5A));
    EXPECT_TRUE(g.untouched() && other.untouched() && parent.untouched());
}

// Fresh images for each row: g and o guarded, a read-only wrap of g's pixels,
// an image whose status is bad, one that cannot fill, one that is grey.
struct S {
    Guarded gb, ob;
    ekMemoryImg &g = gb.img, &o = ob.img;
    ekMemoryImg ro{static_cast<const void*>(gb.bytes.data() + 16), ekSize(4, 3, 1, 3), ekUChar,
                   ekInterleaved};
    TestMemoryImg bad{ekSize(6, 5, 1, 3), ekUChar, ekInterleaved};
    GridImage plain{8, 8, 3};
    TestMemoryImg grey{ekSize(4, 3, 1, 1), ekUChar, ekInterleaved};
    unsigned char one = 0;  // a buffer for requests refused before they move
    S() { bad.setStatus(ekBadInput); }
};

// One call and the status it must answer; neither g nor o changes.
const struct {
    ekStatus want;
    ekStatus (*call)(S&);
} kRows[] = {
    // Null buffers, and one for an empty buffer box.
    {ekBadAttribute, [](S& s) { return s.g.getTile(0, 0, 2, 2, nullptr, nullptr); }},
    {ekBadAttribute, [](S& s) { return s.g.setTile(0, 0, 2, 2, nullptr, nullptr); }},
    {ekOkay, [](S& s) { return s.g.getSubTile(0, 0, 2, 2, nullptr, 0, 0, 0, 2, nullptr); }},
    // Copies at the 32-bit limits clip the box to the image that copies.
    {ekOkay,
     [](S& s) { return s.g.copyTile(INT_MIN, INT_MIN, INT_MAX, INT_MAX, &s.o, 0, 0, nullptr, 1); }},
    {ekOkay,
     [](S& s) { return s.o.copyTile(INT_MAX, INT_MAX, INT_MAX, INT_MAX, &s.g, 0, 0, nullptr, 1); }},
    // Buffer strides, or a separate buffer's channel volume, past 32 bits.
    {ekBadAttribute,
     [](S& s) { return s.g.getSubTile(0, 0, 1, 1, &s.one, 0, 0, 70000, 70000, nullptr); }},
    {ekBadAttribute,
     [](S& s) {
         const ekConfig separate(ekUChar, ekSeparate, 3);  // 2.5e9 elements a channel
         return s.g.setSubTile3D(0, 0, 0, 1, 1, 1, &s.one, 0, 0, 0, 50000, 1, 50000, &separate);
     }},
    // The other side's failures: its status (the fill step is skipped), no
    // image, no fill (fine while this image covers the box), no conversion.
    {ekBadInput, [](S& s) { return s.g.copyTile(-1, 0, 2, 1, &s.bad, 0, 0, nullptr, 0); }},
    {ekBadInput, [](S& s) { return s.g.copyTile(0, 0, 2, 1, &s.bad, 0, 0, nullptr, 1); }},
    {ekBadInput, [](S& s) { return s.g.copyTile(0, 0, 2, 1, nullptr, 0, 0, nullptr, 1); }},
    {ekOkay, [](S& s) { return s.g.copyTile(0, 0, 2, 2, &s.plain, 0, 0, nullptr, 0); }},
    {ekNotImplemented, [](S& s) { return s.g.copyTile(-1, 0, 2, 2, &s.plain, 0, 0, nullptr, 0); }},
    {ekNotImplemented, [](S& s) { return s.g.copyTile(0, 0, 2, 2, &s.grey, 0, 0, nullptr, 1); }},
    // A read-only wrap is never written (by a write, a fill, or any copy into
    // it); copies out of it run.
    {ekNotAllowed, [](S& s) { return s.ro.setTile(0, 0, 1, 1, &s.one, nullptr); }},
    {ekNotAllowed, [](S& s) { return s.ro.fillTile(0, 0, 3, 2, &s.one, nullptr, nullptr); }},
    {ekNotAllowed, [](S& s) { return s.ro.copyTile(0, 0, 3, 2, &s.o, 0, 0, nullptr, 1); }},
    {ekNotAllowed, [](S& s) { return s.ro.copyTile(0, 0, 3, 2, &s.ro, 1, 0, nullptr, 0); }},
    {ekNotAllowed, [](S& s) { return s.o.copyTile(0, 0, 3, 2, &s.ro, 0, 0, nullptr, 0); }},
    {ekOkay, [](S& s) { return s.ro.copyTile(0, 0, 3, 2, &s.o, 0, 0, nullptr, 0); }},
};

TEST(HostileInput, EveryRowAnswersItsStatusAndChangesNothing) {
    for (size_t i = 0; i < sizeof kRows / sizeof kRows[0]; ++i) {
        S s;
        EXPECT_EQ(kRows[i].call(s), kRows[i].want) << "row " << i;
        EXPECT_TRUE(s.gb.untouched() && s.ob.untouched()) << "row " << i;
    }
}

struct Entry {
    const char* what;
    std::function<void()> run;
};

const Entry kEntries[] = {
    {"10 000 channels",
     [] {
         ekMemoryImg many(ekSize(2, 1, 1, 10000), ekUShort, ekSeparate);
         EXPECT_EQ(many.getStatus(), ekOkay);
         std::vector<double> px(2 * 10000, 3.0);
         ekConfig cfg(ekDouble, ekInterleaved, 10000);
         EXPECT_EQ(many.setTile(0, 0, 2, 1, px.data(), &cfg), ekOkay);
         Guarded g;
         std::vector<unsigned char> out(10000 + 1, 9);
         ekConfig wide(ekUChar, ekInterleaved, 10000);
         EXPECT_EQ(g.img.getTile(1, 1, 1, 1, out.data(), &wide), ekOkay);
         EXPECT_EQ(out[0], 7);
         EXPECT_EQ(out[2], 7);
         EXPECT_EQ(out[3], 9);  // no image channel 3: untouched inside the image
         EXPECT_EQ(out[10000], 9);
     }},
    {"types, orders and channel counts outside their tables",
     [] {
         // The enumerations hold any 32-bit value.
         for (int t : {3, 5, 6, 24, 96, 500, 512, 1 << 20, INT_MAX, -1, INT_MIN})
             expectRefusedEverywhere(ekConfig(ekType(t), ekInterleaved, 3));
         for (int o : {3, 5, 6, 8, 1000, -1, INT_MIN})
             expectRefusedEverywhere(ekConfig(ekUChar, ekOrder(o), 3));
         expectRefusedEverywhere(ekConfig(ekUChar, ekInterleaved, -1));
         expectRefusedEverywhere(ekConfig(ekUChar, ekInterleaved, INT_MIN));
     }},
    {"a copy after a reset that failed with a huge channel count",
     [] {
         // The failed reset leaves 2^31 - 1 channels and a width of 0 behind;
         // the copy moves nothing (one that walked the channels took seconds:
         // the suite's time limit catches that).
         ekMemoryImg a(ekSize(2, 2, 1, 1), ekUChar, ekInterleaved);
         a.setSize(ekSize(0, 1, 1, INT_MAX));
         EXPECT_NE(a.getStatus(), ekOkay);
         a.clearStatus();
         a << a;
         EXPECT_EQ(a.getStatus(), ekOkay);
     }},
    {"boxes at INT32_MIN in every pair of image and caller spaces",
     [] {
         // Mirrored into the image's space such a box lies beyond INT32_MAX:
         // no page of it may be locked.
         for (int own = 1; own <= 8; ++own)
             for (int cs = 0; cs <= 8; ++cs) {
                 Guarded g;
                 g.img.setCoordSpace(ekCoordSpace(own));
                 const ekConfig cfg(ekUChar, ekInterleaved, 3, nullptr, 0, ekCoordSpace(cs));
                 for (int low : {0, 1}) {  // INT32_MIN in x, then in y
                     std::unique_ptr<ekLockedTile> lt(
                         g.img.lockTile(low ? 0 : INT_MIN, low ? INT_MIN : 0, 1, 2, &cfg, 0));
                     EXPECT_EQ(lt->count, 0) << own << " " << cs;
                 }
             }
         // A copy from a box of other at INT32_MIN: other's fill lands on
         // this box, and only there.
         Guarded g, other;
         EXPECT_EQ(g.img.copyTile(1, 0, 2, 1, &other.img, INT_MIN, 0, nullptr, 1), ekOkay);
         EXPECT_EQ(g.bytes[16 + 0], 7);  // pixel (0, 0)
         EXPECT_EQ(g.bytes[16 + 3], 0);  // pixel (1, 0): other's fill
         EXPECT_EQ(g.bytes[16 + 9], 7);  // pixel (3, 0)
         // Written there through a view, or a view of a view, whose window
         // starts inside its parent (also by a copy): nothing beyond the
         // 32-bit range reaches the parent.
         Guarded parent;
         ekSubImg window(&parent.img, 2, 0, 0, 2, 3, 1, nullptr);
         ekSubImg outer(&window, 2, 0, 0, 2, 3, 1, nullptr);
         EXPECT_EQ(g.img.copyTile(1, 0, 2, 1, &window, INT_MIN, 0, nullptr, 0), ekOkay);
         std::vector<unsigned char> in(3 * 2, 0x5A);
         EXPECT_EQ(outer.setSubTile(INT_MAX - 1, 0, 2, 1, in.data(), INT_MAX - 1, 0, 2, 1, nullptr),
                   ekOkay);
         ekSubImg far(&window, INT_MAX, 0, 0, 2, 3, 1, nullptr);
         EXPECT_EQ(far.copyTileCfg(1, 0, 0, 2, 1, 1, &g.img, 0, 0, 0, nullptr, 1), ekOkay);
         EXPECT_TRUE(parent.untouched());
     }},
    {"an image that is its own input",
     [] {
         ekMemoryImg img(ekSize(2, 2, 1, 1), ekUChar, ekInterleaved);
         img.setInput(&img, 0);
         img.getStatus();  // answers; a later status check must not hang
         img.setInput(nullptr, 0);
         img.clearStatus();
         img.setXsize(3);
         EXPECT_EQ(img.getStatus(), ekOkay);
     }},
    {"deleting an image that still has children",
     [] {
         auto* parent = new ekMemoryImg(ekSize(2, 2, 1, 1), ekUChar, ekInterleaved);
         ekMemoryImg child(parent, 1);
         EXPECT_EQ(child.getStatus(), ekOkay);
         delete parent;
         EXPECT_EQ(child.getInput(0), nullptr);
         EXPECT_EQ(child.getStatus(), ekOkay);  // keeps its own copy and attributes
     }},
    {"cycles of three images, auto-synced or not",
     [] {
         for (int sync : {0, 1}) {
             auto* a = new ekMemoryImg(ekSize(2, 2, 1, 1), ekUChar, ekInterleaved);
             auto* b = new ekMemoryImg(a, sync);
             auto* c = new ekMemoryImg(b, sync);
             EXPECT_EQ(a->setInput(c, 0), ekOkay);
             a->getStatus();  // answers without recursing for ever
             a->setXsize(64);
             a->setYsize(64);
             // Auto-synced, b copies a while a's reset waits for c: a has its
             // new size but not yet its buffer, and must not be overrun.
             EXPECT_EQ(a->getStatus(), ekOkay);
             EXPECT_EQ(a->getXsize() * a->getYsize(), 64 * 64);
             std::vector<unsigned char> pixels(64 * 64);
             for (ekMemoryImg* img : {a, b, c})
                 EXPECT_EQ(img->getTile(0, 0, 64, 64, pixels.data(), nullptr), ekOkay);
             delete (sync ? a : b);  // unsynced: b first breaks the cycle
             delete (sync ? b : a);
             delete c;
         }
     }},
    {"mutual related children",
     [] {
         // Each the other's input and related child: a reset that destroys
         // one, and the deletion of the other, destroy each exactly once.
         for (bool byReset : {false, true}) {
             int destroyed = 0;
             auto* a = new TestMemoryImg(ekSize(2, 2, 1, 1), ekUChar, ekInterleaved);
             auto* b = new TestMemoryImg(a, 1);
             a->setInput(b, 0);
             a->destroyed = b->destroyed = &destroyed;
             a->setRelatedType(1, 0);
             b->setRelatedType(1, 0);
             b->setRelatedDelete(1);
             if (byReset) {
                 a->setXsize(3);
                 a->getStatus();
             }
             delete a;
             EXPECT_EQ(destroyed, 2);
         }
     }},
    {"a copy from a source that bringing the target up to date destroys",
     [] {
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
     }},
    {"unref at and below zero",
     [] {
         int destroyed = 0;
         auto* img = new TestMemoryImg(ekSize(1, 1, 1, 1), ekUChar, ekInterleaved);
         img->destroyed = &destroyed;
         EXPECT_EQ(img->GetRefCount(), 0);
         img->unref();  // from 0: below zero, the image is destroyed
         EXPECT_EQ(destroyed, 1);
     }},
};

TEST(HostileInput, EveryEntryIsAnsweredAndLosesNothing) {
    for (const Entry& e : kEntries) {
        SCOPED_TRACE(e.what);
        e.run();
    }
}

// Working memory that cannot be had (a view's copy of its channel list, the
// lists of a read through a view, a pixel sized by the image): ekNoMemory.
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
