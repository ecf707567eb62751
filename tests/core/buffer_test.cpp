// ekBuffer: strides, the slack rule, wrapped caller memory and ownership under
// copying (run under AddressSanitizer to catch double frees and leaks).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "eks/core.h"

namespace {

ptrdiff_t offset(const ekBuffer& b, void* p) {
    return static_cast<unsigned char*>(p) - static_cast<unsigned char*>(b.data());
}

}  // namespace

TEST(Buffer, Defaults) {
    const ekBuffer b;
    EXPECT_EQ(b.getDataType(), ekUChar);
    EXPECT_EQ(b.getDimension(0), 16384);
    EXPECT_EQ(b.getDimension(1), 1);
    EXPECT_EQ(b.getDimension(3), 1);
    EXPECT_EQ(b.getAllocated(), 16384);
    EXPECT_NE(b.data(), nullptr);
    const ekBuffer s(100, 10);
    EXPECT_EQ(s.getAllocated(), 100);
    EXPECT_EQ(s.getDataType(), ekUChar);
}

TEST(Buffer, StridesInBytes) {
    const ekBuffer b(ekUShort, 10, 5, 1, 1);
    EXPECT_EQ(b.getAllocated(), 100);
    EXPECT_EQ(offset(b, b(3, 2)), 46);
    const ekBuffer f(ekFloat, 3, 4, 5, 6);
    EXPECT_EQ(offset(f, f(1)), 4);
    EXPECT_EQ(offset(f, f(1, 1, 1, 1)), 4 + 12 + 48 + 240);
    // ekBit: the first index counts bytes, the others rows rounded up to bytes.
    const ekBuffer bits(ekBit, 10, 3, 2, 1);
    EXPECT_EQ(bits.getAllocated(), 8);  // 60 bits
    EXPECT_EQ(offset(bits, bits(1)), 1);
    EXPECT_EQ(offset(bits, bits(0, 1)), 2);
    EXPECT_EQ(offset(bits, bits(0, 0, 1)), 4);
}

TEST(Buffer, ShrinksOnlyWhenTheSavingReachesTheSlack) {
    ekBuffer b;
    std::memset(b.data(), 0x5A, 16384);
    void* before = b.data();
    EXPECT_EQ(b.resize(12289), before);
    EXPECT_EQ(b.getAllocated(), 16384);
    EXPECT_EQ(static_cast<unsigned char*>(b.data())[16383], 0x5A);  // contents kept
    // The decision is against the allocation, not the last need.
    b.resize(12289);
    EXPECT_EQ(b.data(), before);
    b.resize(12288);
    EXPECT_EQ(b.getAllocated(), 12288);
    b.resize(12289);  // larger than the allocation: reallocates
    EXPECT_EQ(b.getAllocated(), 12289);
    b.resize(1, 1, 1, 1);
    EXPECT_EQ(b.getAllocated(), 1);
    ekBuffer tight(100, 0);  // slack 0: every shrink reallocates
    tight.resize(99);
    EXPECT_EQ(tight.getAllocated(), 99);
}

TEST(Buffer, WrapsCallerMemory) {
    std::vector<unsigned char> mem(1000, 7);
    ekBuffer b(mem.data(), ekUChar, 1000);
    EXPECT_EQ(b.data(), mem.data());
    EXPECT_EQ(b.getAllocated(), 1000);
    EXPECT_EQ(b.resize(500), mem.data());  // smaller: still the caller's memory
    EXPECT_EQ(b.getAllocated(), 1000);
    b.resize(1000);
    EXPECT_EQ(b.data(), mem.data());
    b.resize(2000);  // too small: own memory, the caller's left alone
    EXPECT_NE(b.data(), mem.data());
    EXPECT_EQ(b.getAllocated(), 2000);
    EXPECT_EQ(mem[999], 7);

    std::vector<uint16_t> shorts(12);
    const ekBuffer s(shorts.data(), ekUShort, 3, 4);
    EXPECT_EQ(s.getAllocated(), 24);
    EXPECT_EQ(s(2, 3), &shorts[11]);

    const ekBuffer null(nullptr, ekUChar, 64);  // nothing to wrap: allocates
    EXPECT_NE(null.data(), nullptr);
    EXPECT_EQ(null.getAllocated(), 64);
}

TEST(Buffer, CopiesWrapWithoutOwning) {
    ekBuffer owner(ekLong, 8, 2);
    ekBuffer copy(owner);
    EXPECT_EQ(copy.data(), owner.data());
    EXPECT_EQ(copy.getAllocated(), owner.getAllocated());
    EXPECT_EQ(copy(1, 1), owner(1, 1));

    ekBuffer assigned(ekDouble, 100);  // its own memory is released on assignment
    assigned = owner;
    EXPECT_EQ(assigned.data(), owner.data());
    EXPECT_EQ(assigned.getDataType(), ekLong);
    EXPECT_EQ(assigned.getDimension(1), 2);
    assigned = assigned;
    EXPECT_EQ(assigned.data(), owner.data());
    // Growing a copy gives it memory of its own; the source is untouched.
    void* shared = owner.data();
    assigned.resize(1000);
    EXPECT_NE(assigned.data(), shared);
    EXPECT_EQ(owner.data(), shared);
}  // ASan: each block released exactly once

TEST(Buffer, AssignBackFromAWrappingCopy) {
    ekBuffer a(ekUChar, 256);
    ekBuffer b(ekUChar, 16);
    b = a;  // b wraps a's memory
    static_cast<unsigned char*>(b.data())[0] = 42;
    a = b;  // a must keep owning its memory, not free it and then wrap it
    EXPECT_EQ(a.data(), b.data());
    EXPECT_EQ(static_cast<unsigned char*>(a.data())[0], 42);
    a.resize(255);
    EXPECT_EQ(a.data(), b.data());  // still the owned memory, within the slack
}

TEST(Buffer, UnallocatableSizesLeaveItWithoutMemory) {
    ekBuffer huge(ekDouble, 65536, 65536, 1, 1);  // 32 GiB: beyond 32 bits
    EXPECT_EQ(huge.data(), nullptr);
    EXPECT_EQ(huge.getAllocated(), 0);
    ekBuffer over(ekUChar, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX);
    EXPECT_EQ(over.data(), nullptr);
    void* got = over.resize(10, 1, 1, 1);
    EXPECT_EQ(got, over.data());
    EXPECT_NE(over.data(), nullptr);           // recovers on a sane size
    ekBuffer negative(ekUChar, -4, -4, 1, 1);  // the product is positive
    EXPECT_EQ(negative.data(), nullptr);
    std::vector<unsigned char> mem(16);
    ekBuffer wrapNegative(mem.data(), ekUChar, -4, -4);
    EXPECT_EQ(wrapNegative.data(), nullptr);
    ekBuffer empty(ekUChar, 0);
    EXPECT_EQ(empty.getAllocated(), 0);
    ekBuffer odd(ekType(3), 100);  // not an element type: nothing needed
    EXPECT_EQ(odd.getAllocated(), 0);
}
