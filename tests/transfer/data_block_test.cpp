// SPDX-License-Identifier: Apache-2.0
// ekDataBlock and copyFrom: strides, channel pairing, clipping, constant
// sources with keep-out boxes and widening, and the fast-path cases whose
// results the document spells out.
#include "transfer/data_block.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <numeric>
#include <vector>

#include "transfer/keep_out.h"

namespace {

struct Strides {
    int x, y, z, c;
};
Strides stridesOf(const ekDataBlock& b) { return {b.xStride, b.yStride, b.zStride, b.chanStride}; }
bool operator==(const Strides& a, const Strides& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z && a.c == b.c;
}

ekDataBlock block(void* p, ekOrder order, int nc, int nx, int ny, int nz) {
    return ekDataBlock(p, ekUChar, order, nc, nullptr, nx, ny, nz, 0, 0, 0, 0);
}

}  // namespace

TEST(DataBlock, StrideTableForEveryOrderAndTransposition) {
    unsigned char m;
    // nc 3, nx 5, ny 4, nz 2.
    const struct {
        ekOrder order;
        int t;
        Strides want;
    } rows[] = {
        {ekInterleaved, 0, {3, 15, 60, 1}}, {ekInterleaved, 1, {12, 3, 60, 1}},
        {ekSequential, 0, {1, 15, 60, 5}},  {ekSequential, 1, {12, 1, 60, 4}},
        {ekSeparate, 0, {1, 5, 20, 40}},    {ekSeparate, 1, {4, 1, 20, 40}},
    };
    for (const auto& r : rows) {
        ekDataBlock b = block(&m, r.order, 3, 5, 4, 2);
        b.setTranspose(r.t);
        EXPECT_TRUE(stridesOf(b) == r.want) << "order " << r.order << " T " << r.t;
        b.setFlip(3);
        EXPECT_EQ(b.xStride, -r.want.x);
        EXPECT_EQ(b.yStride, -r.want.y);
        EXPECT_EQ(b.zStride, r.want.z);
    }
}

TEST(DataBlock, OneChannelBlockIsSeparateAndConstantBlockHasZeroStrides) {
    unsigned char m;
    EXPECT_EQ(block(&m, ekInterleaved, 1, 4, 4, 1).order, ekSeparate);
    EXPECT_EQ(block(&m, ekSequential, 0, 4, 4, 1).order, ekSeparate);
    const ekPixel p(ekUShort, 3, nullptr);
    ekDataBlock c(p, nullptr, nullptr, 0);
    EXPECT_TRUE(c.isPixel);
    EXPECT_EQ(c.nc, 3);
    EXPECT_EQ(c.type, ekUShort);
    EXPECT_TRUE(stridesOf(c) == (Strides{0, 0, 0, 1}));
    EXPECT_TRUE(c.keepOut.empty());
}

TEST(DataBlock, FlippedBlockStartsAtLastColumnAndRow) {
    unsigned char m;
    ekDataBlock b = block(&m, ekInterleaved, 2, 4, 3, 1);
    b.setFlip(3);
    EXPECT_EQ(b.elementOffset(3, 2, 0, 0), 0);
    EXPECT_EQ(b.elementOffset(0, 0, 0, 1), 2 * 3 + 8 * 2 + 1);
}

namespace {

// A block over a byte buffer, built up for the table below.
struct Blk {
    ekType type;
    ekOrder order;
    int nc, nx, ny, x0 = 0, first = 0, flip = 0;
    std::vector<int> list, clip;  // empty: none
    Blk lst(std::vector<int> l) const {
        return with([&](Blk& b) { b.list = l; });
    }
    Blk clipTo(std::vector<int> c) const {
        return with([&](Blk& b) { b.clip = c; });
    }
    Blk flipped(int f) const {
        return with([&](Blk& b) { b.flip = f; });
    }
    Blk at(int x) const {
        return with([&](Blk& b) { b.x0 = x; });
    }
    Blk from(int f) const {
        return with([&](Blk& b) { b.first = f; });
    }
    template <class F>
    Blk with(F f) const {
        Blk b = *this;
        f(b);
        return b;
    }
    ekDataBlock on(void* p) const {
        ekDataBlock b(p, type, order, nc, list.empty() ? nullptr : list.data(), nx, ny, 1, x0, 0, 0,
                      first);
        if (!clip.empty()) b.setClip(clip[0], clip[1], clip[2], clip[3], clip[4], clip[5]);
        b.setFlip(flip);
        return b;
    }
};
Blk blk(ekType t, ekOrder o, int nc, int nx, int ny = 1) {
    Blk b;
    b.type = t, b.order = o, b.nc = nc, b.nx = nx, b.ny = ny;
    return b;
}
using Bytes = std::vector<unsigned char>;

// Small copies with their results spelled out: destination, source, source
// bytes, destination bytes before and after. The destination sits between
// guard bytes that must not change, and the source must not change either.
const struct CopyRow {
    const char* what;
    Blk dst, src;
    Bytes from, before, after;
} kCopies[] = {
    // clang-format off
    {"an empty clip is no clip", blk(ekUChar, ekSeparate, 1, 4, 2).clipTo({1, 1, 0, 0, 2, 1}),
     blk(ekUChar, ekSeparate, 1, 4, 2), {1, 2, 3, 4, 5, 6, 7, 8}, Bytes(8, 0),
     {1, 2, 3, 4, 5, 6, 7, 8}},
    {"a clip limits the region", blk(ekUChar, ekSeparate, 1, 4, 4).clipTo({1, 2, 0, 2, 5, 1}),
     blk(ekUChar, ekSeparate, 1, 4, 4), Bytes(16, 9), Bytes(16, 0),
     {0, 0, 0, 0, 0, 0, 0, 0, 0, 9, 9, 0, 0, 9, 9, 0}},
    {"a channel list reverses", blk(ekUChar, ekInterleaved, 3, 2).lst({2, 1, 0}),
     blk(ekUChar, ekInterleaved, 3, 2), {1, 2, 3, 4, 5, 6}, Bytes(6, 0), {3, 2, 1, 6, 5, 4}},
    {"list entry -1 keeps contents", blk(ekUChar, ekInterleaved, 3, 2).lst({0, -1, 2}),
     blk(ekUChar, ekInterleaved, 3, 2), {1, 2, 3, 4, 5, 6}, Bytes(6, 9), {1, 9, 3, 4, 9, 6}},
    // Equal lists, yet channel 1 pairs with the first source channel numbered 5.
    {"equal lists with repeats pair by first match", blk(ekUChar, ekInterleaved, 2, 2).lst({5, 5}),
     blk(ekUChar, ekInterleaved, 2, 2).lst({5, 5}), {1, 2, 3, 4}, Bytes(4, 0), {1, 1, 3, 3}},
    {"firstChan selects source channels", blk(ekUChar, ekInterleaved, 2, 1).from(1),
     blk(ekUChar, ekInterleaved, 3, 1), {10, 20, 30}, {0, 0}, {20, 30}},
    {"signed into unsigned of one width copies bits", blk(ekUChar, ekSeparate, 1, 4),
     blk(ekChar, ekSeparate, 1, 4), {255, 128, 0, 127}, Bytes(4, 0), {255, 128, 0, 127}},
    {"8 bit channels: each pixel a byte", blk(ekBit, ekInterleaved, 8, 3),
     blk(ekBit, ekInterleaved, 8, 3), {0xA5, 0x3C, 0xFF}, Bytes(3, 0), {0xA5, 0x3C, 0xFF}},
    {"3 bit channels, x 1..2 of 4: bits 3..8 move",
     blk(ekBit, ekInterleaved, 3, 4).clipTo({1, 0, 0, 2, 1, 1}), blk(ekBit, ekInterleaved, 3, 4),
     {0xFF, 0xFF}, {0, 0}, {0x1F, 0x80}},
    {"bits from index 3: bits 3..7 of byte 0", blk(ekBit, ekSeparate, 1, 16).at(-3),
     blk(ekUChar, ekSeparate, 1, 5), {1, 0, 1, 1, 0}, {0x00, 0xFF}, {0x16, 0xFF}},
    {"bits from index 6: across a byte boundary", blk(ekBit, ekSeparate, 1, 16).at(-6),
     blk(ekUChar, ekSeparate, 1, 5), {1, 0, 1, 1, 0}, {0xFF, 0xFF}, {0xFE, 0xDF}},
    {"a flip in y reverses rows", blk(ekUChar, ekSeparate, 1, 2, 3).flipped(2),
     blk(ekUChar, ekSeparate, 1, 2, 3), {1, 2, 3, 4, 5, 6}, Bytes(6, 0), {5, 6, 3, 4, 1, 2}},
    // Pixels x = 0 and 1 sit at memory pixels 2 and 1 on both sides: the
    // whole-row run must cover exactly the box's pixels.
    {"both sides mirrored in x",
     blk(ekUChar, ekInterleaved, 3, 3).flipped(1).clipTo({0, 0, 0, 2, 1, 1}),
     blk(ekUChar, ekInterleaved, 3, 3).flipped(1), {1, 2, 3, 4, 5, 6, 7, 8, 9}, Bytes(9, 0),
     {0, 0, 0, 4, 5, 6, 7, 8, 9}},
    // clang-format on
};

TEST(DataBlock, SmallCopiesGiveTheirSpelledOutResults) {
    for (const CopyRow& r : kCopies) {
        SCOPED_TRACE(r.what);
        Bytes from = r.from, dst(r.before.size() + 16, 0xEE);
        std::copy(r.before.begin(), r.before.end(), dst.begin() + 8);
        r.dst.on(dst.data() + 8).copyFrom(r.src.on(from.data()));
        EXPECT_EQ(Bytes(dst.begin() + 8, dst.end() - 8), r.after);
        EXPECT_EQ(Bytes(dst.begin(), dst.begin() + 8), Bytes(8, 0xEE));
        EXPECT_EQ(Bytes(dst.end() - 8, dst.end()), Bytes(8, 0xEE));
        EXPECT_EQ(from, r.from);
    }
}

TEST(DataBlock, ValuesThatAreNoTypeMoveNothing) {
    // Values that only share bits with the nine types (6 = ekUChar | ekChar,
    // 24, 96) are no type: nothing moves in either direction.
    for (int t : {6, 24, 96}) {
        uint8_t bytes[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
        uint8_t out[16] = {};
        const ekType odd = ekType(t), near = ekType(t & -t);  // its lowest bit: a real type
        ekDataBlock(out, odd, ekSeparate, 1, nullptr, 4, 1, 1, 0, 0, 0, 0)
            .copyFrom(ekDataBlock(bytes, near, ekSeparate, 1, nullptr, 4, 1, 1, 0, 0, 0, 0));
        ekDataBlock(out, near, ekSeparate, 1, nullptr, 4, 1, 1, 0, 0, 0, 0)
            .copyFrom(ekDataBlock(bytes, odd, ekSeparate, 1, nullptr, 4, 1, 1, 0, 0, 0, 0));
        for (uint8_t v : out) EXPECT_EQ(v, 0) << t;
    }
}

}  // namespace

TEST(DataBlock, KeepOutBoxLeavesTheMiddleOfAFill) {
    // Destination (-5,-5,0, 20x20x1), keep-out (0,0,0, 10x10x1): a border of
    // width 5 receives the value, the middle keeps its contents.
    std::vector<unsigned char> dst(400, 0);
    ekDataBlock d(dst.data(), ekUChar, ekSeparate, 1, nullptr, 20, 20, 1, -5, -5, 0, 0);
    const unsigned char v = 7;
    const ekPixel p(ekUChar, 1, &v);
    const ekTile keep(0, 0, 0, 10, 10, 1);
    d.copyFrom(ekDataBlock(p, &keep, nullptr, 0));
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) {
            const bool middle = x >= 5 && x < 15 && y >= 5 && y < 15;
            ASSERT_EQ(dst[size_t(y * 20 + x)], middle ? 0 : 7) << x << "," << y;
        }
    // A keep-out box containing the whole region moves nothing.
    std::vector<unsigned char> small(4, 1);
    ekDataBlock s(small.data(), ekUChar, ekSeparate, 1, nullptr, 2, 2, 1, 3, 3, 0, 0);
    s.copyFrom(ekDataBlock(p, &keep, nullptr, 0));
    EXPECT_EQ(small, std::vector<unsigned char>(4, 1));
}

TEST(DataBlock, SlicesOfUnequalHeightAreNotOneBlock) {
    // Two slices, the box as tall as one block but not the other: whole rows
    // but not whole slices, so the slices do not follow each other on one side.
    for (const int srcRows : {2, 3}) {
        const int dstRows = 5 - srcRows;
        for (const ekOrder order : {ekInterleaved, ekSeparate}) {
            std::vector<unsigned char> src(size_t(8 * srcRows)), dst(size_t(8 * dstRows));
            std::iota(src.begin(), src.end(), 1);
            ekDataBlock s(src.data(), ekUChar, order, 2, nullptr, 2, srcRows, 2, 0, 0, 0, 0);
            ekDataBlock d(dst.data(), ekUChar, order, 2, nullptr, 2, dstRows, 2, 0, 0, 0, 0);
            d.copyFrom(s);
            for (int i = 0; i < 16; ++i) {  // x, y, z and channel of the 2 x 2 x 2 x 2 box
                const int x = i & 1, y = i >> 1 & 1, z = i >> 2 & 1, c = i >> 3;
                ASSERT_EQ(dst[size_t(d.elementOffset(x, y, z, c))],
                          src[size_t(s.elementOffset(x, y, z, c))])
                    << srcRows << " source rows, order " << order << ", element " << i;
            }
        }
    }
}

TEST(DataBlock, ConstantBlockWideningOnlyWithoutListAndFirstChan) {
    const float one = 1.5f;
    const ekPixel p(ekFloat, 1, &one);
    // Widened: one float element fills all three ushort channels.
    uint16_t dst[6] = {};
    ekDataBlock d(dst, ekUShort, ekInterleaved, 3, nullptr, 2, 1, 1, 0, 0, 0, 0);
    ekDataBlock c(p, nullptr, nullptr, 0);
    d.copyFrom(c);
    for (uint16_t v : dst) EXPECT_EQ(v, 1);
    EXPECT_EQ(c.nc, 1);  // the caller's descriptor is not changed
    EXPECT_EQ(c.type, ekFloat);
    EXPECT_EQ(c.data, p.elems());

    // With a channel list the pixel keeps its own channels: only destination
    // channels that the list names receive a value.
    uint16_t dst2[3] = {9, 9, 9};
    const int list[1] = {2};
    ekDataBlock d2(dst2, ekUShort, ekInterleaved, 3, nullptr, 1, 1, 1, 0, 0, 0, 0);
    d2.copyFrom(ekDataBlock(p, nullptr, list, 0));
    EXPECT_EQ(dst2[0], 9);
    EXPECT_EQ(dst2[1], 9);
    EXPECT_EQ(dst2[2], 1);

    // With firstChan 1 likewise: the pixel's element is channel 1.
    uint16_t dst3[3] = {9, 9, 9};
    ekDataBlock d3(dst3, ekUShort, ekInterleaved, 3, nullptr, 1, 1, 1, 0, 0, 0, 0);
    d3.copyFrom(ekDataBlock(p, nullptr, nullptr, 1));
    EXPECT_EQ(dst3[0], 9);
    EXPECT_EQ(dst3[1], 1);
    EXPECT_EQ(dst3[2], 9);
}

TEST(DataBlock, StridesBeyond32BitsMakeTheBlockInert) {
    // 3 x 50000 x 50000 elements per slice does not fit 32-bit strides; such
    // a block moves nothing instead of addressing wrapped offsets.
    unsigned char m = 0;
    ekDataBlock big(&m, ekUChar, ekInterleaved, 3, nullptr, 50000, 50000, 1, 0, 0, 0, 0);
    EXPECT_TRUE(big.unusable);
    const unsigned char v[3] = {1, 2, 3};
    const ekPixel p(ekUChar, 3, v);
    big.setClip(0, 0, 0, 1, 1, 1);
    big.copyFrom(ekDataBlock(p, nullptr, nullptr, 0));
    EXPECT_EQ(m, 0);
    // Separate order: the channel volume (not a stride within it) overflows.
    EXPECT_TRUE(
        ekDataBlock(&m, ekUChar, ekSeparate, 2, nullptr, 50000, 50000, 1, 0, 0, 0, 0).unusable);
    EXPECT_FALSE(
        ekDataBlock(&m, ekUChar, ekSeparate, 2, nullptr, 40000, 40000, 1, 0, 0, 0, 0).unusable);
}

TEST(DataBlock, NullDataMovesNothing) {
    unsigned char buf[4] = {1, 2, 3, 4};
    ekDataBlock d(buf, ekUChar, ekSeparate, 1, nullptr, 4, 1, 1, 0, 0, 0, 0);
    d.copyFrom(ekDataBlock(nullptr, ekUChar, ekSeparate, 1, nullptr, 4, 1, 1, 0, 0, 0, 0));
    ekDataBlock none(nullptr, ekUChar, ekSeparate, 1, nullptr, 4, 1, 1, 0, 0, 0, 0);
    none.copyFrom(d);
    EXPECT_EQ(std::vector<unsigned char>(buf, buf + 4), (std::vector<unsigned char>{1, 2, 3, 4}));
    // An empty pixel widened to the destination gives zeros.
    d.copyFrom(ekDataBlock(ekPixel(), nullptr, nullptr, 0));
    EXPECT_EQ(std::vector<unsigned char>(buf, buf + 4), (std::vector<unsigned char>{0, 0, 0, 0}));
}

TEST(DataBlock, KeepOutSlabsComeInTheirOrder) {
    // The border fill: four slabs, y before, x before, x after, y after, no z.
    ekTile out[6];
    const ekTile r(-5, -5, 0, 20, 20, 1), keep(0, 0, 0, 10, 10, 1);
    ASSERT_EQ(ekKeepOutBoxes(r, keep, out), 4);
    EXPECT_TRUE(out[0] == ekTile(-5, -5, 0, 20, 5, 1));
    EXPECT_TRUE(out[1] == ekTile(-5, 0, 0, 5, 10, 1));
    EXPECT_TRUE(out[2] == ekTile(10, 0, 0, 5, 10, 1));
    EXPECT_TRUE(out[3] == ekTile(-5, 10, 0, 20, 5, 1));
    // A keep-out box in the middle of a 3-D region: all six, z slabs first and last.
    ASSERT_EQ(ekKeepOutBoxes(ekTile(0, 0, 0, 4, 4, 4), ekTile(1, 1, 1, 2, 2, 2), out), 6);
    EXPECT_TRUE(out[0] == ekTile(0, 0, 0, 4, 4, 1));
    EXPECT_TRUE(out[5] == ekTile(0, 0, 3, 4, 4, 1));
    // Containing, missing and empty keep-out boxes.
    EXPECT_EQ(ekKeepOutBoxes(ekTile(2, 2, 0, 3, 3, 1), keep, out), 0);
    ASSERT_EQ(ekKeepOutBoxes(ekTile(20, 0, 0, 3, 3, 1), keep, out), 1);
    EXPECT_TRUE(out[0] == ekTile(20, 0, 0, 3, 3, 1));
    ASSERT_EQ(ekKeepOutBoxes(r, ekTile(0, 0, 0, 0, 10, 1), out), 1);
    EXPECT_TRUE(out[0] == r);
}

TEST(DataBlock, OffsetsBeyond32BitsReachTheRightElement) {
    // A 2-channel bit block of 40000 x 40000: channel 1 of the last pixel is
    // bit 3.2e9 - 1, past any 32-bit offset. Only the last bytes are touched
    // (the rest of the allocation is never written).
    const int64_t n = 40000;
    const int64_t bytes = 2 * n * n / 8;
    std::unique_ptr<unsigned char[]> mem(new (std::nothrow) unsigned char[size_t(bytes)]);
    if (!mem) GTEST_SKIP() << "no memory for a 400 MB block";
    unsigned char* last = mem.get() + bytes - 8;
    std::memset(last, 0, 8);
    const int n32 = int(n);
    ekDataBlock big(mem.get(), ekBit, ekSeparate, 2, nullptr, n32, n32, 1, 0, 0, 0, 0);
    ASSERT_FALSE(big.unusable);
    EXPECT_EQ(big.elementOffset(n - 1, n - 1, 0, 1), 2 * n * n - 1);

    // Write: a constant pixel (0, 1) into the last pixel only.
    const unsigned char bits = 0x40;  // element 0 = 0, element 1 = 1
    const ekPixel value(ekBit, 2, &bits);
    big.setClip(n32 - 1, n32 - 1, 0, 1, 1, 1);
    big.copyFrom(ekDataBlock(value, nullptr, nullptr, 0));
    EXPECT_EQ(last[7], 0x01);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(last[i], 0) << i;

    // Read it back through a small block over the same corner.
    unsigned char out[2] = {7, 7};
    ekDataBlock small(out, ekUChar, ekInterleaved, 2, nullptr, 1, 1, 1, n32 - 1, n32 - 1, 0, 0);
    big.clipValid = false;
    small.copyFrom(big);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 1);
}
