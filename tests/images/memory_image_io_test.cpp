// Memory image reads, writes, fills and copies: edges, fill values, keep-out
// boxes, copies in both directions, and page locks.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "images_test_util.h"

namespace {

// A 4 x 3, three-channel ekUChar interleaved image: channel k of (x, y) holds
// 10 * (y * 4 + x) + k; fill (200, 201, 202).
struct Rgb {
    std::vector<unsigned char> pixels;
    TestMemoryImg img;
    Rgb() : pixels(4 * 3 * 3), img(nullptr, ekSize(4, 3, 1, 3), ekUChar, ekInterleaved) {
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x)
                for (int k = 0; k < 3; ++k) pixels[size_t((y * 4 + x) * 3 + k)] = value(x, y, k);
        img.setDataPtr(pixels.data());
        ekPixel fill(ekUChar, 3);
        for (int k = 0; k < 3; ++k) fill.setElem(200 + k, k);
        img.setFill(fill);
    }
    static unsigned char value(int x, int y, int k) {
        return static_cast<unsigned char>(10 * (y * 4 + x) + k);
    }
    unsigned char at(int x, int y, int k) const { return pixels[size_t((y * 4 + x) * 3 + k)]; }
};

TEST(MemoryImageRead, StraddlingBoxGivesFillOutsidePerSelectedChannel) {
    Rgb rgb;
    // A 3 x 3 box at (-1, -1), read as channels (2, 0).
    int list[2] = {2, 0};
    ekConfig cfg(ekUChar, ekInterleaved, 2, list);
    unsigned char out[3 * 3 * 2];
    ASSERT_EQ(rgb.img.getTile(-1, -1, 3, 3, out, &cfg), ekOkay);
    for (int y = -1; y < 2; ++y)
        for (int x = -1; x < 2; ++x) {
            const unsigned char* p = out + ((y + 1) * 3 + (x + 1)) * 2;
            const bool inside = x >= 0 && y >= 0;
            EXPECT_EQ(p[0], inside ? Rgb::value(x, y, 2) : 202) << x << "," << y;
            EXPECT_EQ(p[1], inside ? Rgb::value(x, y, 0) : 200) << x << "," << y;
        }

    // The same with a channel offset: channels 1 and 2.
    ekConfig offset(ekUChar, ekInterleaved, 2, nullptr, 1);
    ASSERT_EQ(rgb.img.getTile(3, 2, 2, 1, out, &offset), ekOkay);
    EXPECT_EQ(out[0], Rgb::value(3, 2, 1));
    EXPECT_EQ(out[1], Rgb::value(3, 2, 2));
    EXPECT_EQ(out[2], 201);
    EXPECT_EQ(out[3], 202);
}

TEST(MemoryImageRead, WhollyOutsideGivesOnlyFillAndUnselectedChannelsStay) {
    Rgb rgb;
    // Five buffer channels on a three-channel image: 3 and 4 select nothing
    // inside the image and stay as they were; outside, the fill is widened
    // and they repeat the last fill value.
    ekConfig cfg(ekUShort, ekSeparate, 5);
    std::vector<uint16_t> out(2 * 1 * 5, 7777);
    ASSERT_EQ(rgb.img.getTile(3, 2, 2, 1, out.data(), &cfg), ekOkay);
    EXPECT_EQ(out[0], Rgb::value(3, 2, 0));  // plane 0: pixel inside, pixel outside
    EXPECT_EQ(out[1], 200);
    EXPECT_EQ(out[2], Rgb::value(3, 2, 1));
    EXPECT_EQ(out[3], 201);
    EXPECT_EQ(out[5], 202);
    EXPECT_EQ(out[6], 7777);
    EXPECT_EQ(out[7], 202);
    EXPECT_EQ(out[8], 7777);
    EXPECT_EQ(out[9], 202);

    unsigned char far[2 * 2 * 3];
    ASSERT_EQ(rgb.img.getTile(50, -9, 2, 2, far, nullptr), ekOkay);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(far[i], 200 + i % 3);
}

TEST(MemoryImageRead, ShortFillRepeatsItsLastValue) {
    Rgb rgb;
    ekPixel fill(ekDouble, 1);
    fill.setElem(9.0, 0);
    rgb.img.setFill(fill);
    unsigned char out[3];
    ASSERT_EQ(rgb.img.getTile(-1, 0, 1, 1, out, nullptr), ekOkay);
    EXPECT_EQ(out[0], 9);
    EXPECT_EQ(out[2], 9);
}

TEST(MemoryImageRead, EmptyRequestMovesNothing) {
    Rgb rgb;
    unsigned char out[4 * 3 * 3];
    std::memset(out, 1, sizeof out);
    // The buffer box is the whole image, the request is empty.
    EXPECT_EQ(rgb.img.getSubTile3D(0, 0, 0, 0, 3, 1, out, 0, 0, 0, 4, 3, 1, nullptr), ekOkay);
    EXPECT_EQ(rgb.img.setSubTile3D(0, 0, 0, 4, -1, 1, out, 0, 0, 0, 4, 3, 1, nullptr), ekOkay);
    for (unsigned char v : out) EXPECT_EQ(v, 1);
    EXPECT_EQ(rgb.at(0, 0, 0), Rgb::value(0, 0, 0));
}

TEST(MemoryImageWrite, WriteDropsTheOutside) {
    // Guard bytes around the image buffer must survive.
    std::vector<unsigned char> guarded(16 + 4 * 3 + 16, 0xEE);
    ekMemoryImg img(guarded.data() + 16, ekSize(4, 3, 1, 1), ekUChar, ekInterleaved);
    std::memset(guarded.data() + 16, 0, 12);
    unsigned char in[3 * 5];
    for (int i = 0; i < 15; ++i) in[i] = static_cast<unsigned char>(100 + i);
    ASSERT_EQ(img.setTile(2, -1, 3, 5, in, nullptr), ekOkay);
    const unsigned char* p = guarded.data() + 16;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
            const bool written = x >= 2 && x < 4;
            EXPECT_EQ(p[y * 4 + x], written ? 100 + (y + 1) * 3 + (x - 2) : 0) << x << "," << y;
        }
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(guarded[size_t(i)], 0xEE);
        EXPECT_EQ(guarded[size_t(16 + 12 + i)], 0xEE);
    }
}

TEST(MemoryImageFill, NullValueWritesZerosAndKeepOutStays) {
    Rgb rgb;
    const ekTile keep(1, 1, 0, 2, 1, 1);
    ASSERT_EQ(rgb.img.fillTile(0, 0, 4, 3, nullptr, nullptr, &keep), ekOkay);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
            const bool kept = y == 1 && (x == 1 || x == 2);
            for (int k = 0; k < 3; ++k)
                EXPECT_EQ(rgb.at(x, y, k), kept ? Rgb::value(x, y, k) : 0) << x << "," << y;
        }
}

TEST(MemoryImageFill, EmptyBoxFillsNothing) {
    Rgb rgb;
    unsigned char v[3] = {1, 1, 1};
    EXPECT_EQ(rgb.img.fillTile3D(0, 0, 0, 4, 3, 0, v, nullptr, nullptr), ekOkay);
    EXPECT_EQ(rgb.at(2, 2, 2), Rgb::value(2, 2, 2));
}

TEST(MemoryImageFill, KeepOutBoxInTheCallersSpace) {
    Rgb rgb;
    // In ekUpperLeft, row 0 is the image's top row, y = 2 here.
    ekConfig cfg(ekUChar, ekInterleaved, 0, nullptr, 0, ekUpperLeft);
    const ekTile keep(0, 0, 0, 4, 1, 1);  // the top row
    unsigned char v[3] = {1, 2, 3};
    ASSERT_EQ(rgb.img.fillTile(0, 0, 4, 3, v, &cfg, &keep), ekOkay);
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(rgb.at(x, 2, 0), Rgb::value(x, 2, 0));
        EXPECT_EQ(rgb.at(x, 0, 0), 1);
        EXPECT_EQ(rgb.at(x, 1, 2), 3);
    }
    // Transposed: (x, y) in ekLeftLower is (y, x) here; keep out column 0
    // there, which is row 0 here.
    ekConfig tcfg(ekUChar, ekInterleaved, 0, nullptr, 0, ekLeftLower);
    const ekTile col(0, 0, 0, 1, 4, 1);
    unsigned char w[3] = {9, 9, 9};
    ASSERT_EQ(rgb.img.fillTile(0, 0, 3, 4, w, &tcfg, &col), ekOkay);
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(rgb.at(x, 0, 0), 1);
        EXPECT_EQ(rgb.at(x, 1, 0), 9);
        EXPECT_EQ(rgb.at(x, 2, 0), 9);
    }
}

TEST(MemoryImageFill, ValueIsConvertedAndReachesTheSelectedChannels) {
    Rgb rgb;
    // One channel selected from channel 0 without a list: the value is
    // widened over every channel (converted, truncated toward zero).
    float v = 7.9f;
    ekConfig one(ekFloat, ekInterleaved, 1);
    ASSERT_EQ(rgb.img.fillTile(0, 0, 1, 1, &v, &one, nullptr), ekOkay);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(rgb.at(0, 0, k), 7) << k;

    // Selected through a list or an offset: only those channels change.
    int list[2] = {2, 1};
    double d[2] = {40.0, 50.0};
    ekConfig listed(ekDouble, ekSeparate, 2, list);
    ASSERT_EQ(rgb.img.fillTile(1, 0, 1, 1, d, &listed, nullptr), ekOkay);
    EXPECT_EQ(rgb.at(1, 0, 0), Rgb::value(1, 0, 0));
    EXPECT_EQ(rgb.at(1, 0, 1), 50);
    EXPECT_EQ(rgb.at(1, 0, 2), 40);
    unsigned char b = 99;
    ekConfig second(ekUChar, ekInterleaved, 1, nullptr, 1);
    ASSERT_EQ(rgb.img.fillTile(3, 0, 1, 1, &b, &second, nullptr), ekOkay);
    EXPECT_EQ(rgb.at(3, 0, 0), Rgb::value(3, 0, 0));
    EXPECT_EQ(rgb.at(3, 0, 1), 99);
    EXPECT_EQ(rgb.at(3, 0, 2), Rgb::value(3, 0, 2));

    // A count of 0 means the image's, also for a value of another type.
    unsigned short u[3] = {5, 6, 7};
    ekConfig all(ekUShort, ekInterleaved, 0);
    ASSERT_EQ(rgb.img.fillTile(2, 0, 1, 1, u, &all, nullptr), ekOkay);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(rgb.at(2, 0, k), 5 + k) << k;
}

// A channel list is indexed by the buffer channel alone; the offset applies
// only without a list, so a list of nchans entries is never read past.
TEST(MemoryImageRead, ChannelListIgnoresTheOffset) {
    Rgb rgb;
    int* list = new int[2]{2, 0};  // exactly nchans entries: ASan sees an overread
    ekConfig cfg(ekUChar, ekInterleaved, 2, list, 1);
    unsigned char out[2];
    ASSERT_EQ(rgb.img.getTile(1, 1, 1, 1, out, &cfg), ekOkay);
    EXPECT_EQ(out[0], Rgb::value(1, 1, 2));
    EXPECT_EQ(out[1], Rgb::value(1, 1, 0));
    unsigned char in[2] = {1, 2};
    ASSERT_EQ(rgb.img.setTile(1, 1, 1, 1, in, &cfg), ekOkay);
    EXPECT_EQ(rgb.at(1, 1, 0), 2);
    EXPECT_EQ(rgb.at(1, 1, 1), Rgb::value(1, 1, 1));
    EXPECT_EQ(rgb.at(1, 1, 2), 1);
    delete[] list;
}

// --- Copies -----------------------------------------------------------------

// A 6 x 5 three-channel image of zeros, fill (50, 51, 52).
struct Target {
    TestMemoryImg img{ekSize(6, 5, 1, 3), ekUChar, ekInterleaved};
    unsigned char* p = nullptr;
    Target() {
        p = static_cast<unsigned char*>(img.getDataPtr());
        std::memset(p, 0, 6 * 5 * 3);
    }
    unsigned char at(int x, int y, int k) const { return p[(y * 6 + x) * 3 + k]; }
};

TEST(MemoryImageCopy, ReadingTheOtherImageCoversTheClippedBox) {
    Rgb rgb;
    Target t;
    for (int i = 0; i < 6 * 5 * 3; ++i) t.p[i] = static_cast<unsigned char>(i);
    // Box (-1, 0, 3, 2) here, origin (2, 1) in t: only x 0..1 lie inside.
    ASSERT_EQ(rgb.img.copyTile(-1, 0, 3, 2, &t.img, 2, 1, nullptr, 1), ekOkay);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            for (int k = 0; k < 3; ++k) {
                const bool copied = x <= 1 && y <= 1;
                EXPECT_EQ(rgb.at(x, y, k), copied ? t.at(x + 3, y + 1, k) : Rgb::value(x, y, k))
                    << x << "," << y << "," << k;
            }
    // Wholly outside: nothing moves.
    ASSERT_EQ(rgb.img.copyTile(10, 10, 2, 2, &t.img, 0, 0, nullptr, 1), ekOkay);
    EXPECT_EQ(rgb.at(3, 2, 0), Rgb::value(3, 2, 0));
}

TEST(MemoryImageCopy, WritingTheOtherImageFillsWhatThisOneDoesNotCover) {
    Rgb rgb;
    Target t;
    // Box (-1, -1, 3, 3) here lands at (2, 2) in t; this image covers the
    // lower right 2 x 2 of it, the rest gets this image's fill.
    ASSERT_EQ(rgb.img.copyTile(-1, -1, 3, 3, &t.img, 2, 2, nullptr, 0), ekOkay);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x)
            for (int k = 0; k < 3; ++k) {
                const bool inBox = x >= 2 && x <= 4 && y >= 2 && y <= 4;
                const bool covered = x >= 3 && y >= 3;
                const int expect = !inBox ? 0 : covered ? Rgb::value(x - 3, y - 3, k) : 200 + k;
                EXPECT_EQ(t.at(x, y, k), expect) << x << "," << y << "," << k;
            }
    // Wholly outside this image: only the fill step runs, over the whole box.
    ASSERT_EQ(rgb.img.copyTile(20, 20, 2, 1, &t.img, 0, 0, nullptr, 0), ekOkay);
    EXPECT_EQ(t.at(0, 0, 1), 201);
    EXPECT_EQ(t.at(1, 0, 2), 202);
    EXPECT_EQ(t.at(2, 0, 0), 0);
}

TEST(MemoryImageCopy, ConfigurationWithFewerChannelsKeepsThisBufferLayout) {
    Rgb rgb;
    Target t;
    for (int i = 0; i < 6 * 5 * 3; ++i) t.p[i] = static_cast<unsigned char>(i);
    // One channel: this image's channel 0 receives t's channel 2; channels 1
    // and 2 here are not named and keep their values.
    ekConfig one(ekUChar, ekInterleaved, 1, nullptr, 2);
    ASSERT_EQ(rgb.img.copyTileCfg(0, 0, 0, 4, 3, 1, &t.img, 0, 0, 0, &one, 1), ekOkay);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(rgb.at(x, y, 0), t.at(x, y, 2)) << x << "," << y;
            EXPECT_EQ(rgb.at(x, y, 1), Rgb::value(x, y, 1));
            EXPECT_EQ(rgb.at(x, y, 2), Rgb::value(x, y, 2));
        }
}

TEST(MemoryImageCopy, FailuresAreReportedNotHidden) {
    Rgb rgb;
    Target t;
    t.img.setStatus(ekBadInput);
    // The write into t fails: its status comes back and the fill is skipped.
    EXPECT_EQ(rgb.img.copyTile(-1, 0, 2, 1, &t.img, 0, 0, nullptr, 0), ekBadInput);
    EXPECT_EQ(rgb.img.copyTile(0, 0, 2, 1, &t.img, 0, 0, nullptr, 1), ekBadInput);
    EXPECT_EQ(rgb.img.copyTile(0, 0, 2, 1, nullptr, 0, 0, nullptr, 1), ekBadInput);

    // An image that cannot fill: fine while this image covers the box.
    PlainImage plain(8, 8, 3, 0);  // also ekRGB
    EXPECT_EQ(rgb.img.copyTile(0, 0, 2, 2, &plain, 0, 0, nullptr, 0), ekOkay);
    EXPECT_EQ(rgb.img.copyTile(-1, 0, 2, 2, &plain, 0, 0, nullptr, 0), ekNotImplemented);

    // Different colour models: no conversion in this library.
    TestMemoryImg grey(ekSize(4, 3, 1, 1), ekUChar, ekInterleaved);
    EXPECT_EQ(rgb.img.copyTile(0, 0, 2, 2, &grey, 0, 0, nullptr, 1), ekNotImplemented);
}

TEST(MemoryImageCopy, CopyWithinOneImage) {
    Rgb rgb;
    ASSERT_EQ(rgb.img.copyTile(0, 0, 3, 2, &rgb.img, 1, 1, nullptr, 0), ekOkay);
    // (x, y) here was written to (x + 1, y + 1); the source was read first.
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(rgb.at(x + 1, y + 1, 1), Rgb::value(x, y, 1));

    // Through a list: a channel the list does not select keeps its value.
    std::vector<unsigned char> two = {1, 2, 3, 4, 5, 6, 7, 8};  // 2 x 2, two channels
    ekMemoryImg img(two.data(), ekSize(2, 2, 1, 2), ekUChar, ekInterleaved);
    int list[2] = {-1, 1};
    ASSERT_EQ(img.copyTile(0, 0, 1, 1, &img, 1, 1, list, 1), ekOkay);
    EXPECT_EQ(two, (std::vector<unsigned char>{1, 8, 3, 4, 5, 6, 7, 8}));
    ASSERT_EQ(img.copyTile(1, 1, 1, 1, &img, 1, 0, list, 0), ekOkay);
    EXPECT_EQ(two, (std::vector<unsigned char>{1, 8, 3, 8, 5, 6, 7, 8}));
}

// --- Pages ------------------------------------------------------------------

TEST(MemoryImagePages, EveryValidRequestSharesOnePageIntoTheBuffer) {
    Rgb rgb;
    ekLockRequest req[3];
    req[0].init(0, 0, 0, 0);
    req[1].init(3, 2, 0, 2);
    req[2].init(0, 0, 0, 3);  // no channel 3: not a page of this image
    for (ekLockRequest& r : req) {
        r.status = ekNoMemory;
        r.page = reinterpret_cast<ekPage*>(&r);
    }
    ASSERT_EQ(rgb.img.lockPageSet(req, 0, 3), ekOkay);
    ASSERT_NE(req[0].page, nullptr);
    EXPECT_EQ(req[0].page, req[1].page);
    EXPECT_EQ(req[2].page, nullptr);
    for (ekLockRequest& r : req) EXPECT_EQ(r.status, ekOkay);
    EXPECT_TRUE(req[0].page->Valid());
    EXPECT_EQ(req[0].page->getData(), rgb.pixels.data());
    EXPECT_EQ(static_cast<void*>(*req[0].page), rgb.pixels.data());
    rgb.img.unlockPageSet(req, 3);  // the page stays with the image

    ekLockRequest again;
    again.init(1, 1, 0, 0);
    ASSERT_EQ(rgb.img.lockPageSet(&again, 0, 1), ekOkay);
    EXPECT_EQ(again.page, req[0].page);

    ekMemoryImg broken;  // no buffer: the lock is refused
    EXPECT_EQ(broken.lockPageSet(&again, 0, 1), ekBadAttribute);
}

TEST(Page, HandleBasics) {
    ekPage none;
    EXPECT_TRUE(none.Valid());
    EXPECT_EQ(none.getData(), nullptr);
    EXPECT_EQ(none.matches(-1, -1, -1, -1), 1);
    int buf = 0;
    ekPage p(1, 2, 3, 4, &buf);
    ekPage copy(p);
    EXPECT_EQ(copy.getData(), &buf);
    EXPECT_EQ(copy.matches(1, 2, 3, 4), 1);
    EXPECT_EQ(copy.matches(1, 2, 3, 5), 0);
    int x, y, z, c;
    copy.getPos(x, y, z, c);
    EXPECT_EQ(x + y + z + c, 10);
    copy.magic = ekPage::kDeadMagic;  // what the destructor leaves behind
    EXPECT_FALSE(copy.Valid());
    EXPECT_EQ(copy.getData(), nullptr);
    EXPECT_EQ(copy.matches(1, 2, 3, 4), 0);
}

}  // namespace
