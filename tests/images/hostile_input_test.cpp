// SPDX-License-Identifier: Apache-2.0
// Hostile inputs: each is answered with a status or a defined result, no
// buffer outside the request changes, and (under the sanitizer build, with
// leak detection) nothing is read out of bounds or leaked.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "eks/paging.h"
#include "test_images.h"

namespace {

// A 4 x 3 three-channel ekUChar image over a buffer with guard bytes; every
// element holds 7 and the guards 0xEE.
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

// A caller buffer of n bytes that a refused request must leave as it was.
struct Caller {
    std::vector<unsigned char> bytes;
    explicit Caller(size_t n) : bytes(n, 0x5A) {}
    void* data() { return bytes.data(); }
    bool untouched() const {
        for (unsigned char b : bytes)
            if (b != 0x5A) return false;
        return true;
    }
};

// Every read, write, fill and copy with the configuration is refused and
// moves nothing, on every image class: ekBadAttribute, except where the
// class refuses the operation anyway (a constant image is never written, a
// view and a constant image do not fill).
void expectRefusedEverywhere(const ekConfig& cfg) {
    Guarded g, other, parent;
    ekSubImg view(&parent.img, nullptr);
    ekConstImg constant;
    Caller out(4096);
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
    EXPECT_TRUE(out.untouched());
    EXPECT_TRUE(g.untouched());
    EXPECT_TRUE(other.untouched());
    EXPECT_TRUE(parent.untouched());
}

// One call on fresh images g and other, and the status it must answer;
// neither image changes. Copies report what fails on the other side.
struct Row {
    const char* what;
    ekStatus want;
    std::function<ekStatus(Guarded& g, Guarded& other)> call;
};

unsigned char gOne = 0;  // a buffer of one byte, for requests refused before they move

// A read-only wrap of g's pixels.
ekMemoryImg readOnly(Guarded& g) {
    return ekMemoryImg(static_cast<const void*>(g.bytes.data() + 16), ekSize(4, 3, 1, 3), ekUChar,
                       ekInterleaved);
}

const Row kRows[] = {
    {"a read into a null buffer", ekBadAttribute,
     [](Guarded& g, Guarded&) { return g.img.getTile(0, 0, 2, 2, nullptr, nullptr); }},
    {"a write from a null buffer", ekBadAttribute,
     [](Guarded& g, Guarded&) { return g.img.setTile(0, 0, 2, 2, nullptr, nullptr); }},
    {"a null buffer for an empty buffer box", ekOkay,
     [](Guarded& g, Guarded&) {
         return g.img.getSubTile(0, 0, 2, 2, nullptr, 0, 0, 0, 2, nullptr);
     }},
    // Reads, writes and fills of boxes at the 32-bit limits are the
    // randomized model's; copies clip the box to the image that copies.
    {"a copy of the box at INT32_MIN of extents INT32_MAX", ekOkay,
     [](Guarded& g, Guarded& o) {
         return g.img.copyTile(INT_MIN, INT_MIN, INT_MAX, INT_MAX, &o.img, 0, 0, nullptr, 1);
     }},
    {"a copy of the box at INT32_MAX", ekOkay,
     [](Guarded& g, Guarded& o) {
         return o.img.copyTile(INT_MAX, INT_MAX, INT_MAX, INT_MAX, &g.img, 0, 0, nullptr, 1);
     }},
    {"a buffer box whose strides do not fit 32 bits", ekBadAttribute,
     [](Guarded& g, Guarded&) {
         return g.img.getSubTile(0, 0, 1, 1, &gOne, 0, 0, 70000, 70000, nullptr);
     }},
    {"a separate buffer whose channel volume does not fit 32 bits", ekBadAttribute,
     [](Guarded& g, Guarded&) {
         const ekConfig separate(ekUChar, ekSeparate, 3);  // 2.5e9 elements a channel
         return g.img.setSubTile3D(0, 0, 0, 1, 1, 1, &gOne, 0, 0, 0, 50000, 1, 50000, &separate);
     }},
    {"a copy into an image whose status is bad (the fill step is skipped)", ekBadInput,
     [](Guarded& g, Guarded&) {
         TestMemoryImg t(ekSize(6, 5, 1, 3), ekUChar, ekInterleaved);
         t.setStatus(ekBadInput);
         return g.img.copyTile(-1, 0, 2, 1, &t, 0, 0, nullptr, 0);
     }},
    {"a copy from an image whose status is bad", ekBadInput,
     [](Guarded& g, Guarded&) {
         TestMemoryImg t(ekSize(6, 5, 1, 3), ekUChar, ekInterleaved);
         t.setStatus(ekBadInput);
         return g.img.copyTile(0, 0, 2, 1, &t, 0, 0, nullptr, 1);
     }},
    {"a copy from no image", ekBadInput,
     [](Guarded& g, Guarded&) { return g.img.copyTile(0, 0, 2, 1, nullptr, 0, 0, nullptr, 1); }},
    {"a copy into an image that cannot fill, of a box inside this one", ekOkay,
     [](Guarded& g, Guarded&) {
         GridImage plain(8, 8, 3);  // also ekRGB
         return g.img.copyTile(0, 0, 2, 2, &plain, 0, 0, nullptr, 0);
     }},
    {"a copy into an image that cannot fill, of a box reaching outside", ekNotImplemented,
     [](Guarded& g, Guarded&) {
         GridImage plain(8, 8, 3);
         return g.img.copyTile(-1, 0, 2, 2, &plain, 0, 0, nullptr, 0);
     }},
    {"a copy between colour models (no conversion in this library)", ekNotImplemented,
     [](Guarded& g, Guarded&) {
         TestMemoryImg grey(ekSize(4, 3, 1, 1), ekUChar, ekInterleaved);
         return g.img.copyTile(0, 0, 2, 2, &grey, 0, 0, nullptr, 1);
     }},
    {"a write into a read-only wrap", ekNotAllowed,
     [](Guarded& g, Guarded&) { return readOnly(g).setTile(0, 0, 1, 1, &gOne, nullptr); }},
    {"a fill of a read-only wrap", ekNotAllowed,
     [](Guarded& g, Guarded&) { return readOnly(g).fillTile(0, 0, 3, 2, &gOne, nullptr, nullptr); }},
    {"a copy into a read-only wrap", ekNotAllowed,
     [](Guarded& g, Guarded& o) { return readOnly(g).copyTile(0, 0, 3, 2, &o.img, 0, 0, nullptr, 1); }},
    {"a copy within a read-only wrap", ekNotAllowed,
     [](Guarded& g, Guarded&) {
         ekMemoryImg ro = readOnly(g);
         return ro.copyTile(0, 0, 3, 2, &ro, 1, 0, nullptr, 0);
     }},
    {"a copy by another image into a read-only wrap", ekNotAllowed,
     [](Guarded& g, Guarded& o) {
         ekMemoryImg ro = readOnly(g);
         return o.img.copyTile(0, 0, 3, 2, &ro, 0, 0, nullptr, 0);
     }},
    {"a copy out of a read-only wrap", ekOkay,
     [](Guarded& g, Guarded& o) { return readOnly(g).copyTile(0, 0, 3, 2, &o.img, 0, 0, nullptr, 0); }},
};

TEST(HostileInput, EveryRowAnswersItsStatusAndChangesNothing) {
    for (const Row& r : kRows) {
        Guarded g, other;
        EXPECT_EQ(r.call(g, other), r.want) << r.what;
        EXPECT_TRUE(g.untouched() && other.untouched()) << r.what;
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
         // The enumerations hold any 32-bit value: also those beyond the
         // values of their names.
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
         // clearing the status lets the copy run on them. It moves nothing
         // (a copy that walked those channels took seconds: the suite's
         // time limit of 120 s, not a clock here, catches that).
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
         // no page of it may be locked (reads, writes and fills of such
         // boxes are the randomized model's).
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
         // A copy into a box of other at INT32_MIN: other's box lies outside
         // it, so its fill lands on the pixels of this box, and only there.
         Guarded g, other;
         EXPECT_EQ(g.img.copyTile(1, 0, 2, 1, &other.img, INT_MIN, 0, nullptr, 1), ekOkay);
         EXPECT_EQ(g.bytes[16 + 0], 7);  // pixel (0, 0)
         EXPECT_EQ(g.bytes[16 + 3], 0);  // pixel (1, 0): other's fill
         EXPECT_EQ(g.bytes[16 + 9], 7);  // pixel (3, 0)
         // Written there through a view, or through a view of a view, whose
         // window starts inside its parent (also by a copy into the view):
         // beyond the 32-bit range nothing of the box reaches the parent,
         // which must stay as it was.
         Guarded parent;
         ekSubImg window(&parent.img, 2, 0, 0, 2, 3, 1, nullptr);
         ekSubImg outer(&window, 2, 0, 0, 2, 3, 1, nullptr);
         EXPECT_EQ(g.img.copyTile(1, 0, 2, 1, &window, INT_MIN, 0, nullptr, 0), ekOkay);
         Caller in(3 * 2);
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
             // new size but not yet its new buffer, and must refuse the read
             // rather than overrun.
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

}  // namespace
