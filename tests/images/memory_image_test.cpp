// SPDX-License-Identifier: Apache-2.0
// Memory image: buffer ownership, reset statuses, synchronisation with the
// input, read-only wraps; saturating requests of every image class.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstring>
#include <functional>
#include <vector>

#include "test_images.h"

namespace {

TEST(MemoryImage, InitialAttributesAndTheWholeImagePage) {
    ekMemoryImg mem(ekSize(5, 4, 1, 3), ekUShort, ekSeparate);
    EXPECT_EQ(mem.getColorModel(), ekRGB);
    int p[4];  // one page: the whole image (one plane when separate), after every resize too
    EXPECT_EQ(mem.getPageSize(p[0], p[1], p[2], p[3]), 5 * 4 * 2);
    EXPECT_EQ(std::vector<int>(p, p + 4), (std::vector<int>{5, 4, 1, 1}));
    mem.setSize(ekSize(8, 2, 3, 2));
    mem.setOrder(ekInterleaved);
    EXPECT_EQ(mem.getPageSize(p[0], p[1], p[2], p[3]), 8 * 2 * 3 * 2 * 2);
    EXPECT_EQ(std::vector<int>(p, p + 4), (std::vector<int>{8, 2, 3, 2}));
    // The page geometry and compression are not the caller's to set.
    EXPECT_EQ(mem.setPageSize(2, 2, 1, 1), ekNotAllowed);
    EXPECT_EQ(mem.setPageBorder(1, 1, 0), ekNotAllowed);
    EXPECT_EQ(mem.setCompression(ekLZW), ekNotAllowed);
    mem.setDataType(ekFloat);
    EXPECT_EQ(mem.getMaxValue(1), ekDataMax(ekFloat));  // the range follows the type
    EXPECT_EQ(mem.setMaxValue(1000.0, 0), ekOkay);      // the caller's value outlives resets
    mem.setXsize(6);
    EXPECT_EQ(mem.getMaxValue(0), 1000.0);
}

TEST(MemoryImage, BorrowedBufferIsNeverFreedResizedOrOverrun) {
    std::vector<unsigned char> buf(4 * 3 * 2, 7);
    {
        ekMemoryImg mem(buf.data(), ekSize(4, 3, 1, 2), ekUChar, ekInterleaved);
        mem.setXsize(2);            // smaller: the same buffer
        mem.setDataType(ekUShort);  // as many bytes as handed over
        EXPECT_EQ(mem.getStatus(), ekOkay);
        EXPECT_EQ(mem.getDataPtr(), buf.data());
    }
    // Gone, and the caller's memory intact (the sanitizer build sees a release).
    EXPECT_EQ(buf, std::vector<unsigned char>(buf.size(), 7));

    // Layouts needing more bytes than were handed over: no memory, and nothing
    // reads or writes the buffer (exactly as large as the first layout).
    std::vector<unsigned char> grey(16, 7);
    ekMemoryImg mem(grey.data(), ekSize(4, 4, 1, 1), ekUChar, ekInterleaved);
    mem.setColorModel(ekRGB);  // three channels
    EXPECT_EQ(mem.getStatus(), ekNoMemory);
    std::vector<unsigned char> in(4 * 4 * 3, 1);
    EXPECT_EQ(mem.setTile(0, 0, 4, 4, in.data(), nullptr), ekNoMemory);
    EXPECT_EQ(grey, std::vector<unsigned char>(16, 7));
    mem.setColorModel(ekGreyscale);  // fits again
    mem.clearStatus();
    EXPECT_EQ(mem.getStatus(), ekOkay);
    mem.setDataType(ekUShort);  // twice the bytes
    EXPECT_EQ(mem.getStatus(), ekNoMemory);
    std::vector<uint16_t> wide(16, 0);
    mem.setDataPtr(wide.data());  // a new buffer that fits
    mem.clearStatus();
    EXPECT_EQ(mem.setTile(0, 0, 4, 4, in.data(), nullptr), ekOkay);

    // Handed over while the layout was incomplete: the first complete one fixes the size.
    ekMemoryImg late;
    late.setDataPtr(grey.data());
    late.setSize(ekSize(4, 4, 1, 1));
    late.setDataType(ekUChar);
    late.setOrder(ekInterleaved);
    late.clearStatus();
    EXPECT_EQ(late.getStatus(), ekOkay);
    late.setXsize(5);
    EXPECT_EQ(late.getStatus(), ekNoMemory);
}

TEST(MemoryImage, OwnedBufferFollowsTheByteSizeUntilABorrowedOneReplacesIt) {
    ekMemoryImg mem(ekSize(4, 3, 1, 1), ekUChar, ekInterleaved);
    auto* p = static_cast<unsigned char*>(mem.getDataPtr());
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 12; ++i) p[i] = static_cast<unsigned char>(i);
    EXPECT_EQ(mem.setXsize(4), ekOkay);  // unchanged: no reset at all
    mem.setSize(ekSize(3, 4, 1, 1));     // a reset, same byte size
    mem.setDataType(ekChar);             // same element size
    mem.setDataPtr(p);                   // the buffer it owns: nothing changes, nothing is freed
    EXPECT_EQ(mem.getDataPtr(), p);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(p[i], i);
    mem.setSize(ekSize(30, 20, 2, 3));  // new byte size, still owned: a new buffer that fits
    std::memset(mem.getDataPtr(), 1, 30 * 20 * 2 * 3);
    EXPECT_EQ(mem.getStatus(), ekOkay);

    std::vector<unsigned char> buf(12, 3);
    mem.setDataPtr(buf.data());  // the owned one is released (leak check)
    EXPECT_EQ(mem.getDataPtr(), buf.data());
    mem.setDataPtr(nullptr);  // the next reset allocates again
    void* fresh = mem.getDataPtr();
    EXPECT_NE(fresh, nullptr);
    EXPECT_NE(fresh, static_cast<void*>(buf.data()));
    ekMemoryImg handed(nullptr, ekSize(2, 2, 1, 1), ekUChar, ekInterleaved);
    EXPECT_NE(handed.getDataPtr(), nullptr);  // so does a null buffer handed over
}

// The plain build has no leak checker: the heap in use must not grow while an
// owned buffer is resized or dropped for a size that cannot be held.
TEST(MemoryImage, ResizedAndDroppedBuffersAreReleased) {
    auto inUse = [] {
        const struct mallinfo2 m = mallinfo2();
        return m.uordblks + m.hblkhd;
    };
    ekMemoryImg mem(ekSize(512, 256, 1, 1), ekDouble, ekInterleaved);  // 1 MB
    const size_t before = inUse();
    for (int i = 0; i < 16; ++i) {
        for (int rows : {257, 300}) {  // new byte sizes
            mem.setSize(ekSize(512, rows + i, 1, 1));
            EXPECT_EQ(mem.getStatus(), ekOkay);
        }
        mem.setSize(ekSize(30000, 30000, 1, 1));  // more bytes than 32 bits count
        EXPECT_EQ(mem.getStatus(), ekNoMemory);
        mem.clearStatus();
    }
    EXPECT_LT(inUse(), before + (4u << 20));
    std::vector<double> borrowed(512 * 256);
    mem.setSize(ekSize(512, 256, 1, 1));
    ASSERT_EQ(mem.getStatus(), ekOkay);
    const size_t owning = inUse();
    mem.setDataPtr(borrowed.data());  // the owned megabyte goes
    // The sanitizers' allocator keeps no such count (0); their leak checker does the job.
    if (owning != 0) {
        EXPECT_LT(inUse() + (1u << 19), owning);
    }
}

// Layouts judged by the reset, over a borrowed buffer of one byte that no
// reset touches, and (when refused) owned: a bad order still sizes the owned
// buffer; past 2^31 - 1 elements or bytes is ekNoMemory with nothing allocated.
TEST(MemoryImage, LayoutsAtAndPastTheirLimits) {
    const ekSize k44(4, 4, 1, 1), k442(4, 4, 1, 2);
    const struct {
        ekType type;
        ekSize size;
        ekOrder order;
        ekStatus want;
    } rows[] = {
        {ekUChar, ekSize(-4, -4, 1, 1), ekInterleaved, ekBadAttribute},  // a positive product
        {ekUChar, ekSize(-1, 3, 1, 1), ekInterleaved, ekBadAttribute},
        {ekUChar, ekSize(4, 0, 1, 1), ekInterleaved, ekBadAttribute},
        {ekUChar, ekSize(4, 3, -2, 1), ekInterleaved, ekBadAttribute},
        {ekUChar, ekSize(4, 3, 1, 0), ekInterleaved, ekBadAttribute},
        {ekUChar, ekSize(INT_MIN, INT_MIN, 1, 1), ekInterleaved, ekBadAttribute},
        // Types and orders hold any 32-bit value, also beyond their names'.
        {ekAnyType, k44, ekInterleaved, ekBadAttribute},
        {ekType(3), k44, ekInterleaved, ekBadAttribute},
        {ekType(6), k44, ekInterleaved, ekBadAttribute},
        {ekType(24), k44, ekInterleaved, ekBadAttribute},
        {ekType(1024), k44, ekInterleaved, ekBadAttribute},
        {ekType(INT_MAX), k44, ekInterleaved, ekBadAttribute},
        {ekType(-1), k44, ekInterleaved, ekBadAttribute},
        {ekUChar, k442, ekAnyOrder, ekBadAttribute},
        {ekUChar, k442, ekOrder(3), ekBadAttribute},
        {ekUChar, k442, ekOrder(8), ekBadAttribute},
        {ekUChar, k442, ekOrder(-1), ekBadAttribute},
        {ekBit, ekSize(INT32_MAX, 1, 1, 1), ekInterleaved, ekOkay},          // 2^31 - 1 elements
        {ekBit, ekSize(1 << 16, 1 << 14, 1, 2), ekInterleaved, ekNoMemory},  // 2^31 in 256 MB
        {ekBit, ekSize(2, 1 << 14, 1 << 14, 4), ekInterleaved, ekNoMemory},  // over z and c
        {ekBit, ekSize(65536, 65536, 1, 1), ekInterleaved, ekNoMemory},  // bytes fit, elements not
        {ekUChar, ekSize(INT32_MAX, 1, 1, 1), ekInterleaved, ekOkay},    // 2^31 - 1 bytes
        {ekUChar, ekSize(46341, 46341, 1, 1), ekInterleaved, ekNoMemory},  // just above 2^31 - 1
        {ekUChar, ekSize(65536, 65536, 1, 1), ekInterleaved, ekNoMemory},  // 2^32: wraps in 32 bits
        {ekUChar, ekSize(1 << 16, 1 << 16, 1 << 16, 1 << 16), ekInterleaved, ekNoMemory},  // 2^64
        {ekUShort, ekSize(1 << 15, 1 << 15, 1, 1), ekInterleaved, ekNoMemory},  // 2^31 bytes
        {ekDouble, ekSize(30000, 30000, 1, 1), ekInterleaved,
         ekNoMemory},  // elements fit, bytes not
        {ekDouble, ekSize(INT32_MAX, 1, 1, 1), ekInterleaved, ekNoMemory},
    };
    unsigned char never = 0;
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        const auto& r = rows[i];
        ekMemoryImg borrowed(&never, r.size, r.type, r.order);
        EXPECT_EQ(borrowed.getStatus(), r.want) << "row " << i;
        if (r.want == ekOkay) continue;
        ekMemoryImg owned(r.size, r.type, r.order);
        EXPECT_EQ(owned.getStatus(), r.want) << "row " << i;
        EXPECT_EQ(owned.getDataPtr() != nullptr, r.order != ekInterleaved) << "row " << i;
    }
    EXPECT_EQ(never, 0);
    EXPECT_EQ(ekBuffer(ekDouble, 1 << 30, 1 << 30).data(), nullptr);
    ekMemoryImg none;  // no layout at all: no buffer, and nothing moves
    EXPECT_EQ(none.getStatus(), ekBadAttribute);
    EXPECT_EQ(none.getDataPtr(), nullptr);
    unsigned char b = 1;
    EXPECT_EQ(none.getTile(0, 0, 1, 1, &b, nullptr), ekBadAttribute);
    EXPECT_EQ(b, 1);
}

// Setters record, the reset judges; a recorded status stays until cleared.
// Precedence: ekBadAttribute over ekNoMemory over ekBadInput; a bad size
// recorded after the core's ekBadColorModel wins too.
TEST(MemoryImage, StatusPrecedence) {
    std::vector<unsigned char> guarded(4, 7);
    ekMemoryImg negative(guarded.data(), ekSize(2, 2, 1, 1), ekUChar, ekInterleaved);
    EXPECT_EQ(negative.setXsize(-5), ekOkay);
    EXPECT_EQ(negative.getStatus(), ekBadAttribute);
    unsigned char one = 1;
    EXPECT_EQ(negative.setTile(0, 0, 1, 1, &one, nullptr), ekBadAttribute);
    EXPECT_EQ(guarded, std::vector<unsigned char>(4, 7));
    negative.setSize(ekSize(2, 2, 1, 1));
    EXPECT_EQ(negative.getStatus(), ekBadAttribute);
    negative.clearStatus();
    negative.setXsize(1);
    EXPECT_EQ(negative.getStatus(), ekOkay);

    ekMemoryImg none(nullptr, 0);  // ekBadInput at once, then the reset's ekBadAttribute
    EXPECT_EQ(none.getStatus(), ekBadAttribute);

    ekMemoryImg model(ekSize(4, 4, 1, 2), ekUChar, ekInterleaved);
    model.setCsize(2);
    model.setColorModel(ekRGB);
    EXPECT_EQ(model.getStatus(), ekBadColorModel);
    model.setXsize(0);
    EXPECT_EQ(model.getStatus(), ekBadAttribute);

    GridImage bad(4, 3, 1);
    bad.setStatus(ekNoMemory);
    TestMemoryImg mem(&bad, 1);
    EXPECT_EQ(mem.getStatus(), ekBadInput);
    EXPECT_NE(mem.getDataPtr(), nullptr);  // the buffer is still allocated
    mem.clearStatus();
    mem.setXsize(65536);
    mem.setYsize(65536);
    EXPECT_EQ(mem.getStatus(), ekNoMemory);
    mem.setXsize(0);
    EXPECT_EQ(mem.getStatus(), ekBadAttribute);
}

// Without auto-sync the input is copied once, and again by sync() only when
// the image has a consumer; with it, at every reset after the input changed.
TEST(MemoryImage, SynchronisesWithItsInput) {
    GridImage src(4, 3, 2);
    src.paintAll(7);
    TestMemoryImg mem(&src, 0);
    EXPECT_EQ(mem.getAutoSync(), 0);
    EXPECT_EQ(mem.getCsize(), 2);
    auto* p = static_cast<unsigned char*>(mem.getDataPtr());
    for (int i = 0; i < 24; ++i) ASSERT_EQ(p[i], 7);
    src.paintAll(9);
    src.setMinValue(1.0, 0);  // alters the input and its consumers
    EXPECT_EQ(mem.getStatus(), ekOkay);
    mem.sync();  // no consumer yet: only an alteration
    EXPECT_EQ(mem.getStatus(), ekOkay);
    EXPECT_EQ(p[0], 7);
    TestMemoryImg consumer(&mem, 1);
    mem.sync();  // with a consumer: copied at once
    EXPECT_EQ(p[0], 9);

    GridImage in(4, 3, 1);
    in.paintAll(7);
    TestMemoryImg auto1(&in, 1);
    auto* q = static_cast<unsigned char*>(auto1.getDataPtr());
    EXPECT_EQ(q[5], 7);
    in.paintAll(11);
    EXPECT_EQ(q[5], 7);      // nothing happens until somebody asks
    in.setMinValue(1.0, 0);  // the input changed
    EXPECT_EQ(auto1.getDataPtr(), q);
    EXPECT_EQ(q[5], 11);
    auto1.setAutoSync(0);
    EXPECT_EQ(auto1.anyAltered(), 0);  // switching off alters nothing
    in.paintAll(12);
    in.setMinValue(2.0, 0);
    EXPECT_EQ(auto1.getStatus(), ekOkay);
    EXPECT_EQ(q[5], 11);
    auto1.setAutoSync(1);  // switching on makes the next reset copy
    EXPECT_NE(auto1.anyAltered(), 0);
    EXPECT_EQ(auto1.getStatus(), ekOkay);
    EXPECT_EQ(q[0], 12);
}

TEST(MemoryImage, TakesTheInputsAttributesInItsOwnSpace) {
    // A 4 x 3 input whose x runs vertically; this image keeps ekLowerLeft.
    ekMemoryImg src(ekSize(4, 3, 1, 1), ekUChar, ekInterleaved);
    src.setCoordSpace(ekLeftLower);
    auto* s = static_cast<unsigned char*>(src.getDataPtr());
    for (int i = 0; i < 12; ++i) s[i] = static_cast<unsigned char>(i);
    src.setFillValue(42, 0);
    src.setColorModel(ekMinWhite);

    ekMemoryImg mem(&src, 1);
    mem.setCoordSpace(ekLowerLeft);
    EXPECT_EQ(mem.getColorModel(), ekMinWhite);  // not derived from the channel count
    EXPECT_EQ(mem.getXsize(), 3);                // exchanged into this image's space
    EXPECT_EQ(mem.getYsize(), 4);
    EXPECT_EQ(mem.getFillValue(0), 42.0);
    auto* m = static_cast<unsigned char*>(mem.getDataPtr());
    // ekLeftLower is ekLowerLeft transposed: (x, y) there is (y, x) here.
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(m[x + 3 * y], s[y + 4 * x]) << x << "," << y;
    // Another colour model than the input's is read through the input itself.
    mem.setColorModel(ekGreyscale);
    EXPECT_EQ(mem.getStatus(), ekOkay);
    EXPECT_EQ(mem.getInput(0), &src);
    mem.setXsize(2);  // the caller's size wins over the input's
    EXPECT_EQ(mem.getXsize(), 2);
    EXPECT_EQ(mem.getYsize(), 4);
}

// markDirty and every write tell the consumers, not the image itself, and an
// auto-synced consumer then sees what was written.
TEST(MemoryImage, WritesTellOnlyTheConsumers) {
    TestMemoryImg mem(ekSize(2, 1, 1, 1), ekUChar, ekInterleaved);
    TestMemoryImg consumer(&mem, 1), other(ekSize(2, 1, 1, 1), ekUChar, ekInterleaved);
    auto* theirs = static_cast<unsigned char*>(other.getDataPtr());
    theirs[0] = 1;
    theirs[1] = 9;
    unsigned char pair[2] = {5, 6}, seven = 7;
    const std::function<void()> writes[] = {
        [&] { mem.markDirty(); },
        [&] { EXPECT_EQ(mem.setTile(0, 0, 2, 1, pair, nullptr), ekOkay); },
        [&] { EXPECT_EQ(mem.fillTile(0, 0, 2, 1, &seven, nullptr, nullptr), ekOkay); },
        [&] { EXPECT_EQ(mem.copyTile(0, 0, 2, 1, &other, 0, 0, nullptr, 1), ekOkay); },
    };
    for (const auto& write : writes) {
        EXPECT_EQ(consumer.getStatus(), ekOkay);
        EXPECT_EQ(consumer.anyAltered(), 0);
        write();
        EXPECT_EQ(mem.anyAltered(), 0);
        EXPECT_NE(consumer.anyAltered(), 0);
        unsigned char seen[2] = {0, 0};
        ASSERT_EQ(consumer.getTile(0, 0, 2, 1, seen, nullptr), ekOkay);
        const auto* mine = static_cast<unsigned char*>(mem.getDataPtr());
        EXPECT_EQ(std::vector<unsigned char>(seen, seen + 2),
                  std::vector<unsigned char>(mine, mine + 2));
    }
}

// ekSaturate, which the randomized tests do not draw: every request kind of
// the memory image, the constant image and the view hands the flag to the
// transfer engine. 300 lands in a byte as 255 saturated, as 44 cast.
TEST(MemoryImageSaturate, EveryRequestKindHandsTheFlagOn) {
    float f[2] = {300.0f, 300.0f};
    TestMemoryImg fimg(f, ekSize(2, 1, 1, 1), ekFloat, ekSeparate);
    fimg.setFill(ekPixel(ekFloat, 1, f));
    ekSubImg view(&fimg, 1, 0, 1, 1, nullptr);
    ekConstImg constant(ekPixel(ekFloat, 1, f));
    unsigned char u[3] = {}, out = 0;
    TestMemoryImg one(u, ekSize(1, 1, 1, 1), ekUChar, ekInterleaved);
    TestMemoryImg three(u, ekSize(1, 1, 1, 3), ekUChar, ekInterleaved);
    double d[3] = {300.0, 300.0, 300.0};
    ekConfig c;
    auto cfg = [&](ekType t, int n, int flag) {
        c = ekConfig(t, ekInterleaved, n);
        c.reserved = flag;
        return &c;
    };
    auto got = [](ekStatus st, const unsigned char& v) { return st == ekOkay ? int(v) : -1; };
    auto read = [&](ekImage& img, int x, int s) {
        return got(img.getTile(x, 0, 1, 1, &out, cfg(ekUChar, 1, s)), out);
    };
    const std::function<int(int)> kinds[] = {
        [&](int s) { return read(fimg, 0, s); },
        [&](int s) { return read(fimg, -1, s); },  // the fill outside
        [&](int s) { return read(view, 0, s); },
        [&](int s) { return read(view, 1, s); },  // the view's fill outside it
        [&](int s) { return read(constant, 5, s); },
        [&](int s) { return got(one.setTile(0, 0, 1, 1, f, cfg(ekFloat, 1, s)), u[0]); },
        [&](int s) {
            return got(one.copyTileCfg(0, 0, 0, 1, 1, 1, &fimg, 0, 0, 0, cfg(ekAnyType, 0, s), 1),
                       u[0]);
        },
        [&](int s) {
            return got(three.fillTile(0, 0, 1, 1, d, cfg(ekDouble, 3, s), nullptr), u[1]);
        },
        [&](int s) {  // one value widened over the channels
            return got(three.fillTile(0, 0, 1, 1, d, cfg(ekDouble, 1, s), nullptr), u[2]);
        },
    };
    for (size_t i = 0; i < sizeof kinds / sizeof kinds[0]; ++i) {
        EXPECT_EQ(kinds[i](ekSaturate), 255) << i;
        EXPECT_EQ(kinds[i](0), 44) << i;
    }
}

// An input is never copied into a read-only wrap; a new buffer makes it
// writable. Its refused writes, fills and copies are hostile-input rows.
TEST(MemoryImage, ReadOnlyWrapIsNeverWritten) {
    const std::vector<unsigned char> data = {1, 2, 3, 4, 5, 6};
    ekMemoryImg ro(data.data(), ekSize(3, 2, 1, 1), ekUChar, ekInterleaved);
    ekMemoryImg other(ekSize(3, 2, 1, 1), ekUChar, ekInterleaved);
    ro.setInput(&other, 0);
    ro.setAutoSync(1);
    EXPECT_EQ(ro.getStatus(), ekOkay);
    EXPECT_EQ(data, (std::vector<unsigned char>{1, 2, 3, 4, 5, 6}));
    std::vector<unsigned char> writable(6, 0);
    unsigned char v = 9;
    ro.setDataPtr(writable.data());
    EXPECT_EQ(ro.setTile(0, 0, 1, 1, &v, nullptr), ekOkay);
    EXPECT_EQ(writable[0], 9);
}

}  // namespace
