// SPDX-License-Identifier: Apache-2.0
// Channel mappings, sizes, boxes and per-type facts, including values near the
// ends of the 32-bit range, where the 64-bit arithmetic of the library must hold.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "core/type_facts.h"
#include "eks/core.h"
#include "eks/image.h"
#include "eks/version.h"

namespace {

// A box given by six integers, as an integer box or, where every value is
// exact in a float, as a floating-point box, which follows the same rules.
struct T6 {
    int x, y, z, nx, ny, nz;
    ekTile tile() const { return ekTile(x, y, z, nx, ny, nz); }
    ekTileFloat ftile() const { return ekTileFloat(x, y, z, nx, ny, nz); }
    bool exact() const {
        for (int v : {x, y, z, nx, ny, nz})
            if (v < -(1 << 24) || v > (1 << 24)) return false;
        return true;
    }
};

::testing::AssertionResult tileIs(const ekTile& t, const T6& e) {
    if (t == e.tile()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got (" << t.x << "," << t.y << "," << t.z << " | "
                                         << t.nx << "," << t.ny << "," << t.nz << ")";
}

std::vector<int> inverse(const ekConfig& c, int n) {
    std::vector<int> out(n, 99);
    c.invert(n, out.data());
    return out;
}

TEST(Config, MapChanWithOffsetOrList) {
    EXPECT_EQ(ekConfig().mapChan(0), -1);  // the default maps nothing
    const ekConfig off(ekUChar, ekInterleaved, 3, nullptr, 2);
    EXPECT_EQ(off.mapChan(0), 2);
    EXPECT_EQ(off[2], 4);
    EXPECT_EQ(off.mapChan(3) + off.mapChan(-1), -2);
    const ekConfig far(ekUChar, ekInterleaved, 3, nullptr, INT32_MAX);  // no overflow
    EXPECT_EQ(far.mapChan(2), INT32_MAX);
    int list[] = {7, 8, -1, 9};
    const ekConfig shifted(ekUChar, ekInterleaved, 3, list, 1);  // the offset shifts the index
    // A negative entry passes through.
    EXPECT_EQ(std::vector<int>({shifted[0], shifted[1], shifted[2], shifted[3]}),
              (std::vector<int>{8, -1, 9, -1}));
}

TEST(Config, InvertIsInvertableCompose) {
    int perm[] = {2, 0, 1};
    const ekConfig c(ekUChar, ekInterleaved, 3, perm);
    EXPECT_EQ(inverse(c, 3), (std::vector<int>{1, 2, 0}));
    EXPECT_EQ(c.isInvertable(), 1);
    const int in[] = {2, 5, -1};
    std::vector<int> composed(3, 99);
    c.compose(3, in, composed.data());
    EXPECT_EQ(composed, (std::vector<int>{1, -1, -1}));
    const struct {
        int list[3];
        int n;
        std::vector<int> inverse;
        int invertable;
    } rows[] = {
        {{1, 1, 0}, 2, {2, 1}, 0},            // the later buffer channel wins
        {{-1, 5, 0}, 4, {2, -1, -1, -1}, 1},  // -1 never lands; 5 is past n and dropped
        {{-1, 0, -1}, 1, {1}, 0},             // equal negative entries count as a clash
    };
    for (const auto& r : rows) {
        const ekConfig m(ekUChar, ekInterleaved, 3, const_cast<int*>(r.list));
        EXPECT_EQ(inverse(m, r.n), r.inverse);
        EXPECT_EQ(m.isInvertable(), r.invertable);
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

TEST(Tile, IntersectionKeepsNegativeExtentsAndClampsAtTheIntLimits) {
    const struct {
        T6 a, b, want;
        int line;
    } rows[] = {
        // clang-format off
        {{0, 0, 0, 10, 10, 1}, {20, 0, 0, 5, 5, 1}, {20, 0, 0, -10, 5, 1}, __LINE__},
        {{0, 0, 0, 10, 10, 4}, {5, -3, 2, 10, 6, 9}, {5, 0, 2, 5, 3, 2}, __LINE__},
        {{0, 0, 0, 10, 1, 1}, {10, 0, 0, 5, 1, 1}, {10, 0, 0, 0, 1, 1}, __LINE__},
        // Ends beyond INT32_MAX are computed in 64 bits; extents clamp to the int range.
        {{INT32_MAX - 5, 0, 0, 100, 1, 1}, {0, 0, 0, INT32_MAX, 1, 1},
         {INT32_MAX - 5, 0, 0, 5, 1, 1}, __LINE__},
        {{INT32_MIN, 0, 0, 10, 1, 1}, {INT32_MAX, 0, 0, INT32_MAX, 1, 1},
         {INT32_MAX, 0, 0, INT32_MIN, 1, 1}, __LINE__},
        // clang-format on
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.line);
        const ekTile c(r.a.tile(), r.b.tile());
        EXPECT_TRUE(tileIs(c, r.want));
        EXPECT_EQ(c.empty(), r.want.nx < 1 || r.want.ny < 1 || r.want.nz < 1);
        if (!r.a.exact() || !r.b.exact()) continue;
        const ekTileFloat f(r.a.ftile(), r.b.ftile());
        EXPECT_TRUE(f == r.want.ftile() && f.empty() == c.empty());
    }
}

TEST(Tile, ContainsWithAndWithoutLimits) {
    const ekTile box(0, 0, 0, 100, 100, 1);
    const struct {
        T6 t;
        int xl, yl, zl;  // limits; xl < 0: plain contains
        bool want;
        int line;
    } rows[] = {
        // clang-format off
        {{0, 0, 0, 100, 100, 1}, -1, 0, 0, true, __LINE__},
        {{-1, 0, 0, 5, 5, 1}, -1, 0, 0, false, __LINE__},
        {{96, 0, 0, 5, 5, 1}, -1, 0, 0, false, __LINE__},
        {{0, 0, 1, 5, 5, 1}, -1, 0, 0, false, __LINE__},
        {{100, 100, 0, 0, 0, 1}, -1, 0, 0, true, __LINE__},  // empty: same comparisons
        {{50, 0, 0, INT32_MAX, 1, 1}, -1, 0, 0, false, __LINE__},  // end beyond INT32_MAX
        {{50, 50, 0, 80, 80, 1}, 100, 100, 1, true, __LINE__},
        {{50, 50, 0, 80, 80, 1}, 200, 200, 1, false, __LINE__},
        {{50, 50, 0, 80, 80, 1}, 100, 200, 1, false, __LINE__},  // y must reach its limit too
        {{-1, 0, 0, 5, 5, 1}, 0, 0, 0, false, __LINE__},  // the origin still counts
        // clang-format on
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.line);
        EXPECT_EQ(r.xl < 0 ? box.contains(r.t.tile()) : box.contains(r.t.tile(), r.xl, r.yl, r.zl),
                  r.want);
        const ekTileFloat fbox(0, 0, 0, 100, 100, 1), ft = r.t.ftile();
        if (r.t.exact())
            EXPECT_EQ(r.xl < 0 ? fbox.contains(ft) : fbox.contains(ft, r.xl, r.yl, r.zl), r.want);
    }
    EXPECT_TRUE(ekTile(1, 0, 0, INT32_MAX, 1, 1).contains(ekTile(INT32_MAX, 0, 0, 1, 1, 1)));
    EXPECT_TRUE(ekTile(0, 0, 0, INT32_MAX, 1, 1)
                    .contains(ekTile(10, 0, 0, INT32_MAX, 1, 1), INT32_MAX, 1, 1));
}

TEST(Tile, ClipPositiveEmptyAndThreeD) {
    const struct {
        T6 in, want;
    } rows[] = {
        {{-3, 0, -4, 2, 5, 3}, {0, 0, -4, 0, 5, 3}},  // z untouched
        {{-3, -1, 0, 10, 10, 1}, {0, 0, 0, 7, 9, 1}},
        {{INT32_MIN, 5, 0, INT32_MIN, 3, 1}, {0, 5, 0, 0, 3, 1}},
    };
    for (const auto& r : rows) {
        ekTile t = r.in.tile();
        t.clipPositive();
        EXPECT_TRUE(tileIs(t, r.want));
        ekTileFloat f = r.in.ftile();
        f.clipPositive();
        EXPECT_TRUE(!r.in.exact() || f == r.want.ftile());
    }
    EXPECT_FALSE(ekTile(0, 0, 0, 1, 1, 1).is3d());
    EXPECT_TRUE(ekTile(0, 0, 0, 1, 1, 2).is3d());
    EXPECT_FALSE(ekTile(0, 0, 0, 1, 1, 1).empty());
    for (const T6& e : {T6{0, 0, 0, 0, 1, 1}, T6{0, 0, 0, 1, -1, 1}, T6{0, 0, 0, 1, 1, 0}})
        EXPECT_TRUE(e.tile().empty());
}

// What only a floating-point box can be: a fraction of a pixel.
TEST(TileFloat, FractionsOfAPixel) {
    EXPECT_FALSE(ekTileFloat(0, 0, 0, 0.5f, 1, 1).empty());
    EXPECT_TRUE(ekTileFloat(0, 0, 0, 1, 1, 1.5f).is3d());
    EXPECT_FALSE(ekTileFloat(0, 0, 0, 1, 1, 1.0f).is3d());
    EXPECT_TRUE(ekTileFloat(0, 0, 0, 100, 1, 1).contains(ekTileFloat(0.5f, 0, 0, 99.5f, 1, 1)));
    ekTileFloat part(-0.25f, 0, 0, 1, 1, 1);
    part.clipPositive();
    EXPECT_EQ(part, ekTileFloat(0, 0, 0, 0.75f, 1, 1));  // less than one pixel remains
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

TEST(DataTypes, NamesOfUnlistedValuesAreUnknown) {
    EXPECT_STREQ(ekOrderName(ekSeparate), "separate");
    EXPECT_STREQ(ekCoordSpaceName(ekRightLower), "right-lower");
    EXPECT_STREQ(ekColorModelName(ekMinWhite), "greyscale, minimum value white");
    EXPECT_STREQ(ekCompressName(ekMacRLE), "Mac-RLE");
    for (const char* name : {ekOrderName(ekAnyOrder), ekOrderName(3), ekCoordSpaceName(0),
                             ekCoordSpaceName(9), ekColorModelName(13), ekCompressName(2)})
        EXPECT_STREQ(name, "unknown");
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

TEST(Version, LibraryAnswersTheVersionOfItsHeaders) {
    EXPECT_STREQ(ekVersion(), EKS_VERSION_STRING);
    EXPECT_EQ(std::to_string(EKS_VERSION_MAJOR) + "." + std::to_string(EKS_VERSION_MINOR) + "." +
                  std::to_string(EKS_VERSION_PATCH),
              EKS_VERSION_STRING);
}

TEST(DataTypes, EveryStatusHasItsOwnPhrase) {
    std::set<std::string> phrases;
    for (ekStatus s : {ekOkay, ekBadAttribute, ekNoMemory, ekBadInput, ekBadColorModel,
                       ekNotImplemented, ekOutOfBounds, ekBadIndex, ekNotAllowed})
        EXPECT_TRUE(phrases.insert(ekStatusName(s)).second) << s;
    EXPECT_EQ(phrases.count("unknown status"), 0u);
    EXPECT_STREQ(ekStatusName(ekNoMemory), "not enough memory");
    for (int other : {1, 8, 30, 31})
        EXPECT_STREQ(ekStatusName(static_cast<ekStatus>(other)), "unknown status") << other;
}

}  // namespace
