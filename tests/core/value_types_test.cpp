// SPDX-License-Identifier: Apache-2.0
// The core value types: channel mappings, sizes, boxes, per-type facts and
// names, with values near the ends of the 32-bit range where the library's
// 64-bit arithmetic must hold; ekPixel and ekBuffer: the element rule (no UB
// for any double), bit packing, growth, conversion and ownership of memory
// (under AddressSanitizer: double frees, reads of released storage, leaks).
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <random>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "core/type_facts.h"
#include "eks/core.h"
#include "eks/image.h"

namespace {

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Each row: a configuration, what it maps channels -1 to 4 to (through mapChan
// and through compose), its inverse over n image channels and whether it has one.
TEST(Config, MapInvertAndCompose) {
    EXPECT_EQ(ekConfig().mapChan(0), -1);  // the default maps nothing
    int perm[] = {2, 0, 1}, dup[] = {1, 1, 0}, far[] = {-1, 5, 0}, neg[] = {-1, 0, -1},
        shifted[] = {7, 8, -1, 9};
    const int M = INT32_MAX, in[] = {-1, 0, 1, 2, 3, 4};
    const struct {
        int* list;
        int offset;
        std::vector<int> map;
        int n;
        std::vector<int> inverse;
        int invertable;
    } rows[] = {
        {perm, 0, {-1, 2, 0, 1, -1, -1}, 3, {1, 2, 0}, 1},
        {dup, 0, {-1, 1, 1, 0, -1, -1}, 2, {2, 1}, 0},            // the later channel wins
        {far, 0, {-1, -1, 5, 0, -1, -1}, 4, {2, -1, -1, -1}, 1},  // 5 is past n and dropped
        {neg, 0, {-1, -1, 0, -1, -1, -1}, 1, {1}, 0},             // equal negative entries clash
        {shifted, 1, {-1, 8, -1, 9, -1, -1}, 9, {-1, -1, -1, -1, -1, -1, -1, -1, 0}, 1},
        {nullptr, 2, {-1, 2, 3, 4, -1, -1}, 4, {-1, -1, 0, 1}, 1},
        {nullptr, M, {-1, M, M, M, -1, -1}, 2, {-1, -1}, 0},  // no overflow
    };
    for (const auto& r : rows) {
        const ekConfig c(ekUChar, ekInterleaved, 3, r.list, r.offset);
        std::vector<int> composed(6, 99), inverse(size_t(r.n), 99);
        c.compose(6, in, composed.data());
        c.invert(r.n, inverse.data());
        EXPECT_EQ(composed, r.map) << r.offset;
        for (int i = -1; i < 5; ++i) EXPECT_EQ(c[i], r.map[size_t(i + 1)]) << r.offset;
        EXPECT_EQ(inverse, r.inverse) << r.offset;
        EXPECT_EQ(c.isInvertable(), r.invertable) << r.offset;
    }
}

TEST(Size, ProductAndComparison) {
    const ekSize s(4, 3, 2);
    EXPECT_EQ(int(s), 24);
    EXPECT_TRUE(s == ekSize(4, 3, 1, 2) && !(s != ekSize(4, 3, 1, 2)));
    EXPECT_TRUE(s != ekSize(4, 3, 2, 2) && !(s == ekSize(4, 3, 2, 2)));
    // The product wraps as 32-bit arithmetic would, without signed overflow.
    EXPECT_EQ(int(ekSize(65536, 65536, 1, 1)), 0);
    EXPECT_EQ(int(ekSize(65536, 32768, 1, 1)), INT32_MIN);
    EXPECT_EQ(int(ekSize(-1, 2, 3, 4)), -24);
    EXPECT_EQ(int(ekSize(INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX)), 1);
}

// A box as six 64-bit numbers in units of 1/scale, and the rules that boxes
// follow on each axis, written out in 64 bits: ends beyond the 32-bit range
// never overflow, and extents stored back into a box clamp to it. The rules do
// not depend on the unit, so floating-point boxes are drawn in quarters.
struct Box {
    int64_t o[3], n[3];
    std::vector<int64_t> fields() const { return {o[0], o[1], o[2], n[0], n[1], n[2]}; }
    bool empty() const { return n[0] < 1 || n[1] < 1 || n[2] < 1; }
    template <class T>
    T as(int s) const {
        using V = decltype(T().x);
        return T(V(o[0]) / s, V(o[1]) / s, V(o[2]) / s, V(n[0]) / s, V(n[1]) / s, V(n[2]) / s);
    }
};

template <class T>
std::vector<int64_t> fields(const T& t, int s) {
    return {int64_t(t.x * s),  int64_t(t.y * s),  int64_t(t.z * s),
            int64_t(t.nx * s), int64_t(t.ny * s), int64_t(t.nz * s)};
}

int64_t clamp32(int64_t v) { return std::max<int64_t>(INT32_MIN, std::min<int64_t>(INT32_MAX, v)); }

// Random boxes of small numbers (equal ends, empty and negative extents,
// origins before 0) or of numbers near either 32-bit limit, as integer boxes
// and, where every number is small and so exact in a float, floating-point
// boxes of quarter pixels: intersection, both containment tests, clipping,
// emptiness, depth and equality.
template <class T>
void checkBoxRules(std::mt19937& rng, bool nearLimits, int s) {
    auto draw = [&]() -> int64_t {
        if (nearLimits && rng() % 2)
            return rng() % 2 ? INT32_MAX - rng() % 4 : INT32_MIN + rng() % 4;
        return int64_t(rng() % 25) - 12;
    };
    Box a, b, cut;
    int64_t limit[3];
    for (Box* box : {&a, &b})
        for (int k = 0; k < 3; ++k) {
            box->o[k] = draw();
            box->n[k] = draw();
        }
    for (int64_t& l : limit) l = draw();
    Box clipped = b;
    bool inside = true, insideToLimits = true;
    for (int k = 0; k < 3; ++k) {
        const int64_t aEnd = a.o[k] + a.n[k], bEnd = b.o[k] + b.n[k];
        cut.o[k] = std::max(a.o[k], b.o[k]);
        cut.n[k] = clamp32(std::min(aEnd, bEnd) - cut.o[k]);
        inside = inside && a.o[k] <= b.o[k] && bEnd <= aEnd;
        // b may run past a's end where a already reaches the limit.
        insideToLimits = insideToLimits && a.o[k] <= b.o[k] && (bEnd <= aEnd || limit[k] <= aEnd);
        if (k < 2 && b.o[k] < 0) {  // clipping drops the part before 0, on x and y only
            clipped.n[k] = std::max<int64_t>(0, clamp32(b.n[k] + b.o[k]));
            clipped.o[k] = 0;
        }
    }
    Box other = cut;  // differs from the intersection in one number
    int64_t& f = rng() % 2 ? other.o[rng() % 3] : other.n[rng() % 3];
    f += f > 0 ? -1 : 1;
    using V = decltype(T().x);
    const T ta = a.as<T>(s), tb = b.as<T>(s), tcut(ta, tb), tother = other.as<T>(s);
    T tclip = tb;
    tclip.clipPositive();
    const std::vector<bool> got = {
        fields(tcut, s) == cut.fields(),
        tcut.empty() == cut.empty(),
        ta.contains(tb) == inside,
        ta.contains(tb, V(limit[0]) / s, V(limit[1]) / s, V(limit[2]) / s) == insideToLimits,
        fields(tclip, s) == clipped.fields(),
        tb.is3d() == (b.n[2] > s),
        tcut == cut.as<T>(s) && !(tcut != cut.as<T>(s)) && tcut != tother && !(tcut == tother)};
    // Which of intersection, its emptiness, both containments, clipping, depth
    // and equality failed.
    EXPECT_EQ(got, std::vector<bool>(7, true))
        << testing::PrintToString(a.fields()) << " and " << testing::PrintToString(b.fields())
        << ", limits " << limit[0] << " " << limit[1] << " " << limit[2] << ", unit 1/" << s;
}

TEST(Tile, RandomBoxesFollowTheAxisRules) {
    std::mt19937 rng(7u);
    for (int round = 0; round < 4000; ++round) {
        checkBoxRules<ekTile>(rng, round % 2 == 1, 1);
        checkBoxRules<ekTileFloat>(rng, false, round % 2 ? 4 : 1);
        if (HasFailure()) return;
    }
}

TEST(DataTypes, FactsPerType) {
    const struct {
        ekType type;
        int size9;  // ekDataSize(type, 9)
        double min, max;
        int isSigned;
        const char* name;
    } rows[] = {
        {ekBit, 2, 0, 1, 0, "bit"},
        {ekUChar, 9, 0, 255, 0, "unsigned char"},
        {ekChar, 9, -128, 127, 4, "char"},
        {ekUShort, 18, 0, 65535, 0, "unsigned short"},
        {ekShort, 18, -32768, 32767, 16, "short"},
        {ekULong, 36, 0, 4294967295.0, 0, "unsigned long"},
        {ekLong, 36, -2147483648.0, 2147483647.0, 64, "long"},
        {ekFloat, 36, -FLT_MAX, FLT_MAX, 128, "float"},
        {ekDouble, 72, -DBL_MAX, DBL_MAX, 256, "double"},
        {ekAnyType, 0, 0, 0, 0x1D4, "unknown"},
        {ekType(3), 0, 0, 0, 0, "unknown"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(ekDataSize(r.type, 9), r.size9);
        EXPECT_EQ(ekDataMin(r.type), r.min);
        EXPECT_EQ(ekDataMax(r.type), r.max);
        EXPECT_EQ(ekDataIsSigned(r.type), r.isSigned);
        EXPECT_STREQ(ekTypeName(r.type), r.name);
    }
    EXPECT_EQ(ekDataSize(ekBit, 8), 1);
    // Sizes beyond the int range clamp instead of overflowing.
    EXPECT_EQ(ekDataSize(ekDouble, INT32_MAX), INT32_MAX);
    EXPECT_EQ(ekDataSize(ekDouble, INT32_MIN), INT32_MIN);
    EXPECT_EQ(ekDataSize(ekBit, INT32_MAX), 268435456);  // (2^31 + 6) / 8
    // Internally, counts far past any memory saturate rather than wrap, and
    // are never allocated.
    EXPECT_EQ(ekDataSize64(ekDouble, INT64_MAX), INT64_MAX - 7);  // 8 (2^60 - 1)
    EXPECT_EQ(ekAllocSize(ekDouble, INT64_MAX), -1);
    EXPECT_EQ(ekAllocSize(ekUChar, INT32_MAX), INT32_MAX);  // the largest allocatable
}

TEST(DataTypes, SmallestTypeForRange) {
    const struct {
        double lo, hi;
        ekType want;
    } rows[] = {
        // clang-format off
        {0, 1, ekBit}, {0.9, 1.9, ekBit} /* both truncate */, {-0.9, 1, ekBit}, {0, 100, ekUChar},
        {0, 255.5, ekUChar},
        {0, 256, ekUShort}, {-1, 127, ekChar}, {-1, 200, ekShort}, {-5, -1, ekChar},
        {0, 70000, ekULong}, {-1, 70000, ekLong}, {5, 1, ekBit} /* reversed: not special */,
        // Beyond the int range and non-finite: defined answers, no UB.
        {0, 4294967295.9, ekULong}, {0, 4294967296.0, ekFloat}, {-3e9, 0, ekFloat},
        {0, 1e300, ekDouble}, {-kInf, kInf, ekDouble}, {kNaN, 1, ekDouble}, {0, kNaN, ekDouble},
        // clang-format on
    };
    for (const auto& r : rows) EXPECT_EQ(ekDataType(r.lo, r.hi), r.want) << r.lo << " " << r.hi;
}

// Callers pass plain integers: every 32-bit value must be a valid value of each
// enumeration, which only a fixed 32-bit underlying type guarantees.
template <typename... E>
constexpr bool allInt32() {
    return (std::is_same<std::underlying_type_t<E>, int32_t>::value && ...);
}
static_assert(allInt32<ekType, ekOrder, ekCoordSpace, ekColorModel, ekCompress, ekStatus,
                       ekImageType, ekFlip>(),
              "enumerations hold any 32-bit value");

// Every status has its own phrase; values no enumeration lists are unknown.
TEST(Names, EachStatusItsOwnPhraseUnlistedValuesUnknown) {
    std::set<std::string> phrases;
    for (ekStatus s : {ekOkay, ekBadAttribute, ekNoMemory, ekBadInput, ekBadColorModel,
                       ekNotImplemented, ekOutOfBounds, ekBadIndex, ekNotAllowed})
        EXPECT_TRUE(phrases.insert(ekStatusName(s)).second) << s;
    EXPECT_EQ(phrases.count("unknown status"), 0u);
    EXPECT_STREQ(ekStatusName(ekNoMemory), "not enough memory");
    for (int other : {1, 8, 30, 31})
        EXPECT_STREQ(ekStatusName(static_cast<ekStatus>(other)), "unknown status") << other;
    EXPECT_STREQ(ekOrderName(ekSeparate), "separate");
    EXPECT_STREQ(ekCoordSpaceName(ekRightLower), "right-lower");
    EXPECT_STREQ(ekColorModelName(ekMinWhite), "greyscale, minimum value white");
    EXPECT_STREQ(ekCompressName(ekMacRLE), "Mac-RLE");
    for (const char* name : {ekOrderName(ekAnyOrder), ekOrderName(3), ekCoordSpaceName(0),
                             ekCoordSpaceName(9), ekColorModelName(13), ekCompressName(2)})
        EXPECT_STREQ(name, "unknown");
}

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
        // The rule itself is checked in the transfer tests; here each type stores by
        // it, and ekBit, unlike a transfer, tests the low 32 bits of the truncation.
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
    EXPECT_NE(ekBuffer(nullptr, ekUChar, 64).data(), nullptr);  // nothing to wrap: allocates
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
