// SPDX-License-Identifier: Apache-2.0
// Channel mappings, sizes, boxes, per-type facts and names, including values near
// the ends of the 32-bit range, where the 64-bit arithmetic of the library must hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cstdint>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "core/type_facts.h"
#include "eks/core.h"
#include "eks/image.h"
#include "eks/version.h"

namespace {

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
        {neg, 0, {-1, -1, 0, -1, -1, -1}, 1, {1}, 0},  // equal negative entries clash
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
    EXPECT_EQ(s.z, 1);
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
        fields(tcut, s) == cut.fields(), tcut.empty() == cut.empty(), ta.contains(tb) == inside,
        ta.contains(tb, V(limit[0]) / s, V(limit[1]) / s, V(limit[2]) / s) == insideToLimits,
        fields(tclip, s) == clipped.fields(), tb.is3d() == (b.n[2] > s),
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
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
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
        {0, 1e300, ekDouble}, {-inf, inf, ekDouble}, {nan, 1, ekDouble}, {0, nan, ekDouble},
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

// Every status has its own phrase; values no enumeration lists are unknown; the
// library answers the version of its headers.
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
    EXPECT_STREQ(ekVersion(), EKS_VERSION_STRING);
    EXPECT_EQ(std::to_string(EKS_VERSION_MAJOR) + "." + std::to_string(EKS_VERSION_MINOR) + "." +
                  std::to_string(EKS_VERSION_PATCH),
              EKS_VERSION_STRING);
}

}  // namespace
