// Sizes and boxes: products, intersections, containment and clipping,
// including boxes near the ends of the 32-bit range.
#include <gtest/gtest.h>

#include <cstdint>

#include "eks/core.h"

namespace {

::testing::AssertionResult tileIs(const ekTile& t, int x, int y, int z, int nx, int ny, int nz) {
    if (t == ekTile(x, y, z, nx, ny, nz)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got (" << t.x << "," << t.y << "," << t.z << " | "
                                         << t.nx << "," << t.ny << "," << t.nz << ")";
}

}  // namespace

TEST(Size, ConstructorsAndComparison) {
    const ekSize s(4, 3, 2);
    EXPECT_EQ(s.z, 1);
    EXPECT_EQ(s.c, 2);
    EXPECT_EQ(int(s), 24);
    EXPECT_EQ(int(ekSize(2, 3, 4, 5)), 120);
    EXPECT_EQ(s == ekSize(4, 3, 1, 2), 1);
    EXPECT_EQ(s != ekSize(4, 3, 1, 2), 0);
    EXPECT_EQ(s == ekSize(4, 3, 2, 2), 0);
    EXPECT_EQ(s != ekSize(4, 3, 2, 2), 1);
}

TEST(Size, ProductWrapsLikeThirtyTwoBitArithmetic) {
    EXPECT_EQ(int(ekSize(65536, 65536, 1, 1)), 0);
    EXPECT_EQ(int(ekSize(65536, 32768, 1, 1)), INT32_MIN);
    EXPECT_EQ(int(ekSize(-1, 2, 3, 4)), -24);
    // (2^31-1)^2 is 1 modulo 2^32, so is its square.
    EXPECT_EQ(int(ekSize(INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX)), 1);
    EXPECT_EQ(int(ekSize(INT32_MIN, INT32_MIN, 3, 1)), 0);
}

TEST(Tile, IntersectionKeepsNegativeExtents) {
    const ekTile a(0, 0, 0, 10, 10, 1), b(20, 0, 0, 5, 5, 1);
    const ekTile c(a, b);
    EXPECT_TRUE(tileIs(c, 20, 0, 0, -10, 5, 1));
    EXPECT_TRUE(c.empty());
    EXPECT_TRUE(
        tileIs(ekTile(ekTile(0, 0, 0, 10, 10, 4), ekTile(5, -3, 2, 10, 6, 9)), 5, 0, 2, 5, 3, 2));
    EXPECT_TRUE(
        tileIs(ekTile(ekTile(0, 0, 0, 10, 1, 1), ekTile(10, 0, 0, 5, 1, 1)), 10, 0, 0, 0, 1, 1));
}

TEST(Tile, IntersectionNearTheIntLimits) {
    // The ends lie beyond INT32_MAX: computed in 64 bits, no overflow.
    const ekTile far(INT32_MAX - 5, 0, 0, 100, 1, 1), big(0, 0, 0, INT32_MAX, 1, 1);
    EXPECT_TRUE(tileIs(ekTile(far, big), INT32_MAX - 5, 0, 0, 5, 1, 1));
    EXPECT_TRUE(tileIs(ekTile(far, far), INT32_MAX - 5, 0, 0, 100, 1, 1));
    // An extent below INT32_MIN is clamped to it, and stays empty.
    const ekTile low(INT32_MIN, 0, 0, 10, 1, 1), high(INT32_MAX, 0, 0, INT32_MAX, 1, 1);
    const ekTile c(low, high);
    EXPECT_EQ(c.x, INT32_MAX);
    EXPECT_EQ(c.nx, INT32_MIN);
    EXPECT_TRUE(c.empty());
}

TEST(Tile, Contains) {
    const ekTile box(0, 0, 0, 100, 100, 1);
    EXPECT_TRUE(box.contains(ekTile(0, 0, 0, 100, 100, 1)));
    EXPECT_TRUE(box.contains(ekTile(10, 20, 0, 5, 5, 1)));
    EXPECT_FALSE(box.contains(ekTile(-1, 0, 0, 5, 5, 1)));
    EXPECT_FALSE(box.contains(ekTile(96, 0, 0, 5, 5, 1)));
    EXPECT_FALSE(box.contains(ekTile(0, 0, 1, 5, 5, 1)));
    // An empty box is judged by the same comparisons.
    EXPECT_TRUE(box.contains(ekTile(100, 100, 0, 0, 0, 1)));
    EXPECT_FALSE(box.contains(ekTile(101, 0, 0, 0, 1, 1)));
    // Ends beyond INT32_MAX compare correctly.
    EXPECT_FALSE(box.contains(ekTile(50, 0, 0, INT32_MAX, 1, 1)));
    EXPECT_TRUE(ekTile(1, 0, 0, INT32_MAX, 1, 1).contains(ekTile(INT32_MAX, 0, 0, 1, 1, 1)));
}

TEST(Tile, ContainsWithLimits) {
    const ekTile box(0, 0, 0, 100, 100, 1), t(50, 50, 0, 80, 80, 1);
    EXPECT_TRUE(box.contains(t, 100, 100, 1));
    EXPECT_FALSE(box.contains(t, 200, 200, 1));
    EXPECT_FALSE(box.contains(t, 100, 200, 1));                      // y must reach its limit too
    EXPECT_FALSE(box.contains(ekTile(-1, 0, 0, 5, 5, 1), 0, 0, 0));  // the origin still counts
    EXPECT_TRUE(ekTile(0, 0, 0, INT32_MAX, 1, 1)
                    .contains(ekTile(10, 0, 0, INT32_MAX, 1, 1), INT32_MAX, 1, 1));
}

TEST(Tile, ClipPositive) {
    ekTile a(-3, 0, -4, 2, 5, 3);
    a.clipPositive();
    EXPECT_TRUE(tileIs(a, 0, 0, -4, 0, 5, 3));  // z untouched
    ekTile b(-3, -1, 0, 10, 10, 1);
    b.clipPositive();
    EXPECT_TRUE(tileIs(b, 0, 0, 0, 7, 9, 1));
    ekTile c(INT32_MIN, 5, 0, INT32_MIN, 3, 1);  // extent + origin below INT32_MIN
    c.clipPositive();
    EXPECT_TRUE(tileIs(c, 0, 5, 0, 0, 3, 1));
}

TEST(Tile, EmptyAndThreeD) {
    EXPECT_FALSE(ekTile(0, 0, 0, 1, 1, 1).is3d());
    EXPECT_TRUE(ekTile(0, 0, 0, 1, 1, 2).is3d());
    EXPECT_TRUE(ekTile(0, 0, 0, 1, 1, 0).empty());
    EXPECT_TRUE(ekTile(0, 0, 0, 0, 1, 1).empty());
    EXPECT_TRUE(ekTile(0, 0, 0, 1, -1, 1).empty());
    EXPECT_FALSE(ekTile(0, 0, 0, 1, 1, 1).empty());
}

TEST(TileFloat, SameRulesInFloatingPoint) {
    const ekTileFloat c(ekTileFloat(0, 0, 0, 10, 10, 1), ekTileFloat(20, 0.5f, 0, 5, 5, 1));
    EXPECT_EQ(c, ekTileFloat(20, 0.5f, 0, -10, 5, 1));
    EXPECT_TRUE(c.empty());
    EXPECT_TRUE(ekTileFloat(0, 0, 0, 1, 1, 0.0f).empty());
    EXPECT_FALSE(ekTileFloat(0, 0, 0, 0.5f, 1, 1).empty());
    EXPECT_TRUE(ekTileFloat(0, 0, 0, 1, 1, 1.5f).is3d());
    EXPECT_FALSE(ekTileFloat(0, 0, 0, 1, 1, 1.0f).is3d());

    const ekTileFloat box(0, 0, 0, 100, 100, 1), t(50, 50, 0, 80, 80, 1);
    EXPECT_FALSE(box.contains(t));
    EXPECT_TRUE(box.contains(t, 100, 100, 1));
    EXPECT_FALSE(box.contains(t, 200, 200, 1));
    EXPECT_TRUE(box.contains(ekTileFloat(0.5f, 0, 0, 99.5f, 1, 1)));

    ekTileFloat a(-3.5f, -1, -2, 2, 10, 1);
    a.clipPositive();
    EXPECT_EQ(a, ekTileFloat(0, 0, -2, 0, 9, 1));
    EXPECT_NE(a, ekTileFloat(0, 0, -2, 0, 9, 2));
}
