// ekPixel: element conversion rows, bit packing, growth, conversion and
// ownership of the element storage.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "eks/core.h"

namespace {

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

struct StoreCase {
    ekType type;
    double in;
    double out;  // what getElem reads back
    int line;
};
#define ROW(t, in, out) \
    StoreCase { t, in, out, __LINE__ }

const StoreCase kStoreCases[] = {
    // Integers keep the low bits of the truncation toward zero.
    ROW(ekUChar, 300.0, 44),
    ROW(ekUChar, -1.0, 255),
    ROW(ekUChar, 255.9, 255),
    ROW(ekUChar, -0.9, 0),
    ROW(ekChar, 200.0, -56),
    ROW(ekChar, -129.0, 127),
    ROW(ekUShort, -1.0, 65535),
    ROW(ekUShort, 65536.0, 0),
    ROW(ekShort, 2.9, 2),
    ROW(ekShort, -2.9, -2),
    ROW(ekShort, 40000.0, -25536),
    ROW(ekULong, -1.0, 4294967295.0),
    ROW(ekULong, 4294967296.0 + 7, 7),
    ROW(ekLong, 2147483648.0, -2147483648.0),
    ROW(ekLong, -2147483649.0, 2147483647.0),
    ROW(ekLong, 1e18, -1486618624),
    // NaN, infinities and values beyond int64 store 0.
    ROW(ekUChar, kNaN, 0),
    ROW(ekChar, kInf, 0),
    ROW(ekShort, -kInf, 0),
    ROW(ekULong, 1e19, 0),
    ROW(ekLong, -1e19, 0),
    ROW(ekLong, 9223372036854775808.0, 0),
    ROW(ekLong, -9223372036854775808.0, 0),  // fits int64: its low 32 bits are 0
    ROW(ekUChar, 9223372036854774784.0, 0),  // largest double below 2^63: low bits 0
    // ekBit tests the low 32 bits of the truncation.
    ROW(ekBit, 256.0, 1),
    ROW(ekBit, 0.9, 0),
    ROW(ekBit, -1.0, 1),
    ROW(ekBit, 4294967296.0, 0),
    ROW(ekBit, 4294967297.0, 1),
    ROW(ekBit, kNaN, 0),
    ROW(ekBit, kInf, 0),
    ROW(ekBit, 1e300, 0),
    // Floats round to nearest; beyond the float range overflow to infinity.
    ROW(ekFloat, 0.1, double(0.1f)),
    ROW(ekFloat, 1e300, kInf),
    ROW(ekFloat, -1e300, -kInf),
    ROW(ekFloat, double(FLT_MAX) * (1 + 1e-9), FLT_MAX),
    ROW(ekFloat, 340282356779733661637539395458142568448.0, kInf),  // halfway: ties to even
    ROW(ekFloat, -340282356779733661637539395458142568447.0 + 0, -kInf),
    ROW(ekFloat, -340282356779733642000000000000000000000.0, -FLT_MAX),
    ROW(ekFloat, kInf, kInf),
    ROW(ekDouble, 1e300, 1e300),
    ROW(ekDouble, -kInf, -kInf),
};
#undef ROW

}  // namespace

TEST(Pixel, StoresWithTheElementRule) {
    for (const StoreCase& c : kStoreCases) {
        SCOPED_TRACE(testing::Message() << "row at line " << c.line);
        ekPixel p(c.type, 3);
        p.setElem(c.in, 1);
        EXPECT_EQ(p.getElem(1), c.out);
    }
    ekPixel nan(ekFloat, 1);
    nan.setElem(kNaN, 0);
    EXPECT_TRUE(std::isnan(nan.getElem(0)));
}

TEST(Pixel, EmptyAndUntyped) {
    const ekPixel p;
    EXPECT_EQ(p.type(), ekAnyType);
    EXPECT_EQ(p.nc(), 0);
    EXPECT_EQ(p.elems(), nullptr);
    EXPECT_EQ(p.getElem(5), 0.0);
    EXPECT_EQ(p.getElem(-1), 0.0);
    EXPECT_EQ(p.minElem(), 0.0);
    EXPECT_EQ(p.maxElem(), 0.0);
    // Types outside the nine and non-positive counts give an empty pixel too.
    const ekPixel odd(ekType(3), 4);
    EXPECT_EQ(odd.nc(), 0);
    EXPECT_EQ(odd.elems(), nullptr);
    EXPECT_EQ(ekPixel(ekUChar, -2).nc(), 0);
}

TEST(Pixel, SetCopiesAndEmpties) {
    const uint8_t bytes[] = {10, 20};
    ekPixel p(ekUChar, 2, bytes);
    EXPECT_EQ(p.getElem(0), 10);
    EXPECT_EQ(p.getElem(1), 20);
    EXPECT_EQ(p.getElem(5), 20);  // clamped: repeats the last element
    EXPECT_EQ(p.getElem(-3), 10);
    EXPECT_NE(p.elems(), static_cast<const void*>(bytes));
    p.set(ekUChar, 0, bytes);
    EXPECT_EQ(p.nc(), 0);
    EXPECT_EQ(p.type(), ekUChar);
    EXPECT_EQ(p.elems(), nullptr);
    EXPECT_EQ(static_cast<void*>(p), nullptr);
}

TEST(Pixel, SetFromItsOwnStorage) {
    const uint16_t v[] = {1, 2, 3, 4};
    ekPixel p(ekUShort, 4, v);
    // Shrinking reuses the storage; growing reallocates after copying.
    p.set(ekUShort, 2, static_cast<const uint16_t*>(p.elems()) + 1);
    EXPECT_EQ(p.nc(), 2);
    EXPECT_EQ(p.getElem(0), 2);
    EXPECT_EQ(p.getElem(1), 3);
    p.set(ekUChar, 4, p.elems());  // 4 bytes: the two shorts
    EXPECT_EQ(p.nc(), 4);
    p.set(ekULong, 1, p.elems());
    EXPECT_EQ(p.nc(), 1);
    uint32_t expect;
    const uint16_t pair[] = {2, 3};
    std::memcpy(&expect, pair, 4);
    EXPECT_EQ(p.getElem(0), expect);
    p.set(ekDouble, 1, p.elems());  // grows: must read the old storage before freeing it
    EXPECT_EQ(p.nc(), 1);
}

TEST(Pixel, SetElemGrows) {
    ekPixel p;
    p.setElem(7.0, 2);
    EXPECT_EQ(p.type(), ekDouble);
    EXPECT_EQ(p.nc(), 3);
    EXPECT_EQ(p.getElem(2), 7.0);
    EXPECT_EQ(p.getElem(0), 0.0);  // new elements start at 0

    const uint8_t bytes[] = {1, 2};
    ekPixel q(ekUChar, 2, bytes);
    q.setElem(9, 5);
    EXPECT_EQ(q.nc(), 6);
    EXPECT_EQ(q.getElem(0), 1);
    EXPECT_EQ(q.getElem(1), 2);
    EXPECT_EQ(q.getElem(5), 9);
    q.setElem(3, -1);  // ignored
    EXPECT_EQ(q.nc(), 6);

    ekPixel empty(ekShort, 0);
    empty.setElem(-5, 0);  // an empty typed pixel keeps its type
    EXPECT_EQ(empty.type(), ekShort);
    EXPECT_EQ(empty.getElem(0), -5);
}

TEST(Pixel, SetElemTooLargeLeavesThePixelEmpty) {
    ekPixel p(ekDouble, 2);
    p.setElem(1.0, INT32_MAX - 1);  // 16 GiB: not allocated, no overflow
    EXPECT_EQ(p.nc(), 0);
    EXPECT_EQ(p.elems(), nullptr);
    ekPixel bits(ekBit, 1);
    bits.setElem(1.0, INT32_MAX);  // the count INT32_MAX + 1 does not exist
    EXPECT_EQ(bits.nc(), 0);
    EXPECT_EQ(bits.elems(), nullptr);
    bits.setElem(1.0, 20);  // usable again
    EXPECT_EQ(bits.nc(), 21);
    EXPECT_EQ(bits.getElem(20), 1.0);
}

TEST(Pixel, BitPacking) {
    ekPixel p(ekBit, 10);
    for (int i = 0; i < 10; ++i) p.setElem(0, i);
    p.setElem(1, 0);
    p.setElem(1, 9);
    p.setElem(1, 3);
    const uint8_t* b = static_cast<const uint8_t*>(p.elems());
    EXPECT_EQ(b[0], 0x90);  // bits 0 and 3, most significant first
    EXPECT_EQ(b[1] & 0xC0, 0x40);
    p.setElem(0, 3);
    EXPECT_EQ(b[0], 0x80);
    EXPECT_EQ(p.getElem(9), 1);
    EXPECT_EQ(p.getElem(8), 0);
    const uint8_t packed[] = {0xA0};
    const ekPixel q(ekBit, 3, packed);
    EXPECT_EQ(q.getElem(0), 1);
    EXPECT_EQ(q.getElem(1), 0);
    EXPECT_EQ(q.getElem(2), 1);
}

TEST(Pixel, ConvertWidensByRepeatingTheLastChannel) {
    const uint8_t bytes[] = {10, 20};
    const ekPixel src(ekUChar, 2, bytes);
    ekPixel p;
    p.convert(src, ekFloat, 4);
    EXPECT_EQ(p.type(), ekFloat);
    ASSERT_EQ(p.nc(), 4);
    const double want[] = {10, 20, 20, 20};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(p.getElem(i), want[i]);
    p.convert(src, ekShort);  // count from the source
    EXPECT_EQ(p.nc(), 2);
    const int map[] = {1, 0, 1};
    p.convert(src, ekLong, 3, map);
    EXPECT_EQ(p.getElem(0), 20);
    EXPECT_EQ(p.getElem(1), 10);
    EXPECT_EQ(p.getElem(2), 20);
    p.convert(ekPixel(), ekUChar, 2);  // an empty source gives zeros
    EXPECT_EQ(p.nc(), 2);
    EXPECT_EQ(p.getElem(0), 0);
    EXPECT_EQ(p.getElem(1), 0);
    p.convert(src, ekAnyType, 2);
    EXPECT_EQ(p.nc(), 0);
}

TEST(Pixel, ConvertWithItselfAsSource) {
    const double v[] = {1.5, -300.25, 70000.0};
    ekPixel p(ekDouble, 3, v);
    const int reverse[] = {2, 1, 0};
    p.convert(p, ekDouble, 3, reverse);  // in place would overwrite element 0 before reading it
    EXPECT_EQ(p.getElem(0), 70000.0);
    EXPECT_EQ(p.getElem(1), -300.25);
    EXPECT_EQ(p.getElem(2), 1.5);
    p.convert(p, ekShort, 5);       // shrinks the bytes and widens the count
    EXPECT_EQ(p.getElem(0), 4464);  // 70000 keeps its low 16 bits
    EXPECT_EQ(p.getElem(1), -300);
    EXPECT_EQ(p.getElem(4), 1);
    p.convert(p, ekDouble, 8);  // grows past the old storage
    EXPECT_EQ(p.getElem(7), 1);
    EXPECT_EQ(p.getElem(0), 4464);
}

TEST(Pixel, MinAndMax) {
    const int16_t v[] = {5, -7, 12, 0};
    const ekPixel p(ekShort, 4, v);
    EXPECT_EQ(p.minElem(), -7);
    EXPECT_EQ(p.maxElem(), 12);
    const double one = 3.0;
    EXPECT_EQ(ekPixel(ekDouble, 1, &one).minElem(), 3.0);
    EXPECT_EQ(ekPixel(ekDouble, 1, &one).maxElem(), 3.0);
}

TEST(Pixel, EqualityComparesTypeCountAndBytes) {
    const uint8_t a[] = {1, 2};
    const uint16_t b[] = {1, 2};
    EXPECT_EQ(ekPixel(ekUChar, 2, a) == ekPixel(ekUShort, 2, b), 0);
    EXPECT_EQ(ekPixel(ekUChar, 2, a) != ekPixel(ekUShort, 2, b), 1);
    EXPECT_EQ(ekPixel() == ekPixel(), 1);
    EXPECT_EQ(ekPixel(ekUChar, 2, a) == ekPixel(ekUChar, 2, a), 1);
    EXPECT_EQ(ekPixel(ekUChar, 2, a) == ekPixel(ekUChar, 1, a), 0);
    EXPECT_EQ(ekPixel(ekUChar, 0) == ekPixel(), 0);  // the type still counts
    const double z = 0.0, nz = -0.0;
    EXPECT_EQ(ekPixel(ekDouble, 1, &z) == ekPixel(ekDouble, 1, &nz), 0);  // bytes, not values
}

TEST(Pixel, CopiesAreDeep) {
    const int32_t v[] = {1, 2, 3};
    ekPixel a(ekLong, 3, v);
    ekPixel b(a);
    EXPECT_NE(a.elems(), b.elems());
    EXPECT_EQ(a == b, 1);
    b.setElem(42, 0);
    EXPECT_EQ(a.getElem(0), 1);
    ekPixel c(ekDouble, 8);
    c = a;
    EXPECT_EQ(c == a, 1);
    EXPECT_NE(c.elems(), a.elems());
    c = c;  // self-assignment keeps the elements
    EXPECT_EQ(c == a, 1);
    ekPixel d;
    d = ekPixel();
    EXPECT_EQ(d.nc(), 0);
}
