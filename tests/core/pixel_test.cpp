// SPDX-License-Identifier: Apache-2.0
// ekPixel and ekBuffer: the element rule (no UB for any double), bit packing,
// growth and conversion, and ownership of memory (run under AddressSanitizer
// to catch double frees, reads of released storage and leaks).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "eks/core.h"

namespace {

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

std::vector<double> elems(const ekPixel& p) {
    std::vector<double> v;
    for (int i = 0; i < p.nc(); ++i) v.push_back(p.getElem(i));
    return v;
}

ptrdiff_t offset(const ekBuffer& b, void* p) {
    return static_cast<unsigned char*>(p) - static_cast<unsigned char*>(b.data());
}

TEST(Pixel, StoresWithTheElementRule) {
    const struct {
        ekType type;
        double in, out;  // out: what getElem reads back
    } rows[] = {
        // clang-format off
        // The element rule itself is the transfer engine's, checked there against the
        // reference over random bit patterns; here each type stores by it, and
        // ekBit, unlike a transfer, tests the low 32 bits of the truncation.
        {ekUChar, 300.0, 44}, {ekUChar, -1.0, 255}, {ekChar, 200.0, -56}, {ekUShort, -1.0, 65535},
        {ekShort, -2.9, -2}, {ekULong, 4294967296.0 + 7, 7}, {ekLong, 2147483648.0, -2147483648.0},
        {ekUChar, kNaN, 0}, {ekLong, -9223372036854775808.0, 0}, {ekBit, 256.0, 1}, {ekBit, 0.9, 0},
        {ekBit, -1.0, 1}, {ekBit, 4294967296.0, 0}, {ekBit, kNaN, 0}, {ekFloat, 0.1, double(0.1f)},
        {ekFloat, 1e300, kInf}, {ekDouble, -kInf, -kInf},
        // clang-format on
    };
    for (const auto& r : rows) {
        ekPixel p(r.type, 3);
        p.setElem(r.in, 1);
        EXPECT_EQ(p.getElem(1), r.out) << ekTypeName(r.type) << " " << r.in;
    }
    ekPixel nan(ekFloat, 1);
    nan.setElem(kNaN, 0);
    EXPECT_TRUE(std::isnan(nan.getElem(0)));
}

TEST(Pixel, SetGrowsPacksBitsAndClampsReads) {
    EXPECT_EQ(ekPixel().getElem(5) + ekPixel().minElem(), 0.0);
    EXPECT_EQ(ekPixel(ekType(3), 4).nc(), 0);  // not an element type: empty
    const uint8_t bytes[] = {10, 20};
    ekPixel p(ekUChar, 2, bytes);
    EXPECT_TRUE(p.getElem(5) == 20 && p.getElem(-3) == 10);  // clamped to either end
    p.set(ekUChar, 0, bytes);
    EXPECT_TRUE(p.type() == ekUChar && p.elems() == nullptr);
    // Data from the pixel's own storage: shrinking reuses it, growing must
    // copy before releasing (ASan reports a read of freed memory otherwise).
    const uint16_t v[] = {1, 2, 3, 4};
    ekPixel q(ekUShort, 4, v);
    q.set(ekUShort, 2, static_cast<const uint16_t*>(q.elems()) + 1);
    EXPECT_EQ(elems(q), (std::vector<double>{2, 3}));
    q.set(ekDouble, 1, q.elems());
    EXPECT_EQ(q.nc(), 1);
    // setElem grows the pixel (an empty one as ekDouble); a negative index is ignored.
    ekPixel grown;
    grown.setElem(7.0, 2);
    EXPECT_TRUE(grown.type() == ekDouble && elems(grown) == (std::vector<double>{0, 0, 7}));
    p.set(ekUChar, 2, bytes);
    p.setElem(9, 4);
    p.setElem(3, -1);
    EXPECT_EQ(elems(p), (std::vector<double>{10, 20, 0, 0, 9}));
    ekPixel typed(ekShort, 0);
    typed.setElem(-5, 0);  // an empty typed pixel keeps its type
    EXPECT_EQ(typed.type(), ekShort);
    ekPixel huge(ekDouble, 2);
    huge.setElem(1.0, INT32_MAX - 1);  // 16 GiB: not allocated, no overflow
    huge.setElem(1.0, INT32_MAX);      // the count INT32_MAX + 1 does not exist
    EXPECT_TRUE(huge.nc() == 0 && huge.elems() == nullptr);

    ekPixel bits(ekBit, 10);
    for (int i : {0, 3, 9}) bits.setElem(1, i);
    for (int i : {1, 2, 4, 5, 6, 7, 8}) bits.setElem(0, i);
    const uint8_t* b = static_cast<const uint8_t*>(bits.elems());
    EXPECT_EQ(b[0], 0x90);  // most significant bit first
    EXPECT_EQ(b[1] & 0xC0, 0x40);
    bits.setElem(0, 3);
    EXPECT_EQ(b[0], 0x80);
    const uint8_t packed[] = {0xA0};
    EXPECT_EQ(elems(ekPixel(ekBit, 3, packed)), (std::vector<double>{1, 0, 1}));
}

TEST(Pixel, ConvertEqualityMinMaxAndDeepCopies) {
    // convert repeats the last channel and may read the pixel itself.
    const uint8_t bytes[] = {10, 20};
    const ekPixel src(ekUChar, 2, bytes);
    ekPixel p;
    p.convert(src, ekFloat, 4);
    EXPECT_TRUE(p.type() == ekFloat && elems(p) == (std::vector<double>{10, 20, 20, 20}));
    p.convert(src, ekShort);  // count from the source
    EXPECT_EQ(p.nc(), 2);
    const int map[] = {1, 0, 1};
    p.convert(src, ekLong, 3, map);
    EXPECT_EQ(elems(p), (std::vector<double>{20, 10, 20}));
    p.convert(ekPixel(), ekUChar, 2);  // an empty source gives zeros
    EXPECT_EQ(elems(p), (std::vector<double>{0, 0}));

    const double v[] = {1.5, -300.25, 70000.0};
    ekPixel self(ekDouble, 3, v);
    const int reverse[] = {2, 1, 0};
    self.convert(self, ekDouble, 3, reverse);  // in place would lose element 0
    EXPECT_EQ(elems(self), (std::vector<double>{70000.0, -300.25, 1.5}));
    self.convert(self, ekShort, 4);  // fewer bytes, more elements
    EXPECT_EQ(elems(self), (std::vector<double>{4464, -300, 1, 1}));

    const uint16_t b[] = {10, 20};
    EXPECT_EQ(src == ekPixel(ekUShort, 2, b), 0);
    EXPECT_EQ(src != ekPixel(ekUChar, 1, bytes), 1);
    EXPECT_EQ((ekPixel() == ekPixel()) - (ekPixel(ekUChar, 0) == ekPixel()), 1);  // types count
    const int16_t s[] = {5, -7, 12, 0}, up[] = {-9, 9}, down[] = {9, -9};
    EXPECT_TRUE(ekPixel(ekShort, 4, s).minElem() == -7 && ekPixel(ekShort, 4, s).maxElem() == 12);
    // The first element counts too.
    EXPECT_TRUE(ekPixel(ekShort, 2, up).minElem() == -9 &&
                ekPixel(ekShort, 2, down).maxElem() == 9);
    const int32_t l[] = {1, 2, 3};
    ekPixel x(ekLong, 3, l), y(x);
    EXPECT_NE(x.elems(), y.elems());
    y.setElem(42, 0);
    EXPECT_EQ(x.getElem(0), 1);
    ekPixel z(ekDouble, 8);
    z = x;
    z = z;  // self-assignment keeps the elements
    EXPECT_TRUE(z == x && z.elems() != x.elems());
}

TEST(Buffer, StridesInBytesAndUnallocatableSizes) {
    EXPECT_TRUE(ekBuffer().getDataType() == ekUChar && ekBuffer().getAllocated() == 16384);
    const ekBuffer b(ekUShort, 10, 5, 1, 1);
    EXPECT_EQ(offset(b, b(3, 2)), 46);
    const ekBuffer f(ekFloat, 3, 4, 5, 6);
    EXPECT_EQ(offset(f, f(1, 1, 1, 1)), 4 + 12 + 48 + 240);
    // ekBit: the first index counts bytes, the others rows rounded up to bytes.
    const ekBuffer bits(ekBit, 10, 3, 2, 1);
    EXPECT_EQ(bits.getAllocated(), 8);  // 60 bits
    EXPECT_EQ(offset(bits, bits(1, 1, 1)), 1 + 2 + 4);
    // Sizes that cannot be allocated leave a buffer without memory.
    ekBuffer huge(ekDouble, 65536, 65536, 1, 1);  // 32 GiB: beyond 32 bits
    EXPECT_TRUE(huge.data() == nullptr && huge.getAllocated() == 0);
    ekBuffer over(ekUChar, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX);
    EXPECT_EQ(over.data(), nullptr);
    EXPECT_NE(over.resize(10, 1, 1, 1), nullptr);                // recovers on a sane size
    EXPECT_EQ(ekBuffer(ekUChar, -4, -4, 1, 1).data(), nullptr);  // positive product
    std::vector<unsigned char> mem(16);
    EXPECT_EQ(ekBuffer(mem.data(), ekUChar, -4, -4).data(), nullptr);
}

TEST(Buffer, ShrinksAtTheSlackAndWrapsCallerMemory) {
    ekBuffer b;
    std::memset(b.data(), 0x5A, 16384);
    void* before = b.data();
    EXPECT_TRUE(b.resize(12289) == before && b.getAllocated() == 16384);
    EXPECT_EQ(static_cast<unsigned char*>(b.data())[16383], 0x5A);  // contents kept
    b.resize(12288);
    EXPECT_EQ(b.getAllocated(), 12288);
    b.resize(12289);  // larger than the allocation: reallocates
    EXPECT_EQ(b.getAllocated(), 12289);
    ekBuffer tight(100, 0);  // slack 0: every shrink reallocates
    tight.resize(99);
    EXPECT_EQ(tight.getAllocated(), 99);
    // Caller memory is wrapped until it is too small.
    std::vector<unsigned char> mem(1000, 7);
    ekBuffer w(mem.data(), ekUChar, 1000);
    EXPECT_TRUE(w.resize(500) == mem.data() && w.getAllocated() == 1000);
    w.resize(2000);  // own memory; the caller's is neither used nor released
    EXPECT_TRUE(w.data() != mem.data() && w.getAllocated() == 2000 && mem[999] == 7);
    EXPECT_NE(ekBuffer(nullptr, ekUChar, 64).data(), nullptr);       // nothing to wrap: allocates
    // Even an empty layout, whichever dimension is 0.
    EXPECT_EQ(ekBuffer(mem.data(), ekUChar, 0).data(), mem.data());
    EXPECT_EQ(ekBuffer(mem.data(), ekUChar, 4, 0).data(), mem.data());
    // Nothing to allocate and nothing to wrap: no memory, whatever the
    // storage of the buffer held before.
    alignas(ekBuffer) unsigned char raw[sizeof(ekBuffer)];
    std::memset(raw, 0xAB, sizeof raw);
    ekBuffer* empty = new (raw) ekBuffer(nullptr, ekUChar, 0);
    EXPECT_EQ(empty->data(), nullptr);
    empty->~ekBuffer();
}

TEST(Buffer, CopiesShareMemoryReleasedOnce) {
    ekBuffer owner(ekLong, 8, 2);
    ekBuffer copy(owner);
    EXPECT_EQ(copy(1, 1), owner(1, 1));
    ekBuffer assigned(ekDouble, 100);  // its own memory is released on assignment
    assigned = owner;
    assigned = assigned;
    EXPECT_TRUE(assigned.data() == owner.data() && assigned.getDimension(1) == 2);
    void* shared = owner.data();
    assigned.resize(1000);  // a grown copy gets its own memory
    EXPECT_TRUE(assigned.data() != shared && owner.data() == shared);
    // Assigning back from a wrapping copy must not release the memory in use.
    ekBuffer a(ekUChar, 256), w(ekUChar, 16);
    w = a;
    static_cast<unsigned char*>(w.data())[0] = 42;
    a = w;
    EXPECT_EQ(static_cast<unsigned char*>(a.data())[0], 42);
}  // ASan: each block released exactly once

}  // namespace
