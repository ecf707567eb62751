// SPDX-License-Identifier: Apache-2.0
// ekImage coordinate spaces: every mapping against an independent model of the
// displayed picture, and the chain mappings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <tuple>
#include <utility>

#include "images/layout_model.h"

namespace {

struct SpaceImage : AttrImage {
    SpaceImage(int w, int h, ekCoordSpace cs) {
        allow(ekSizeBits | ekCoordSpaceBit | ekPageSizeBit);
        setSize(w, h);
        setCoordSpace(cs);
    }
};

const ekCoordSpace U = ekUpperLeft, UR = ekUpperRight, LL = ekLowerLeft;

// Spaces drawn: the nine of the tables and 9, the first value past them, which
// counts as 0 (ekLowerLeft); rowOf gives the model's row.
int rowOf(int k) { return k == 9 ? 0 : k; }

// Every pair of spaces on images in every space: positions, boxes, flips,
// directions, mirroring, sizes and the spaces derived by mirroring.
TEST(CoordSpace, EveryMappingAgreesWithThePicture) {
    const int sx = 7, sy = 4, x0 = 1, y0 = 2;
    for (int own = 0; own <= 9; ++own) {
        SpaceImage img(sx, sy, ekCoordSpace(own));
        img.setPageSize(8, 5, 1, 1);
        const bool ownTrans = flagsOf(rowOf(own)).trans;
        EXPECT_TRUE(img.getWidth() == (ownTrans ? sy : sx) &&
                    img.getHeight() == sx + sy - img.getWidth());
        // Mirror x, then y, then exchange: the flips are in the new space's axes.
        for (int m = 0; m < 8; ++m) {
            ekFlip flip;
            int trans;
            img.mapFlipTrans(ekCoordSpace(own), flip, trans, img.mapSpace(m & 1, m & 2, m & 4));
            EXPECT_EQ(trans, m >> 2);
            EXPECT_EQ(flip, m >> 2 ? (m >> 1 & 1) + 2 * (m & 1) : m & 3) << own << ", " << m;
        }
        for (int from = 0; from <= 9; ++from) {
            const ekCoordSpace a = ekCoordSpace(from);
            ekSize s;
            img.getSize(s, a);  // 0 is ekLowerLeft here, not the image's own
            int px, py, pz, pc;
            img.getPageSize(px, py, pz, pc, a);
            const bool swap = flagsOf(rowOf(from)).trans != ownTrans;
            EXPECT_TRUE(s.x == (swap ? sy : sx) && s.y == sx + sy - s.x);
            EXPECT_TRUE(px == (swap ? 5 : 8) && py == 13 - px);
            for (int to = 0; to <= 9; ++to) {
                SCOPED_TRACE(testing::Message() << own << ": " << from << " -> " << to);
                const ekCoordSpace c = ekCoordSpace(to);
                // The same picture pixel in the target space (0 there: the image's own).
                auto model = [&](int64_t x, int64_t y) {
                    mapPoint(rowOf(from), to == 0 ? rowOf(own) : rowOf(to), rowOf(own), sx, sy, x,
                             y);
                    return std::make_pair(int(x), int(y));
                };
                int fx = x0, fy = y0;
                img.mapXY(a, fx, fy, c);  // through the float mapping
                EXPECT_EQ(std::make_pair(fx, fy), model(x0, y0));
                // A box maps onto the box spanned by its mapped corners.
                int cx, cy, ux, uy;
                std::tie(cx, cy) = model(x0 + 1, y0);
                std::tie(ux, uy) = model(x0, y0 + 1);
                ekTile t(x0, y0, 3, 2, 1, 4);
                ekFlip flip;
                int trans;
                img.mapTile(a, t, flip, trans, c);
                EXPECT_TRUE(t == ekTile(std::min(fx, cx), std::min(fy, cy), 3,
                                        std::abs(cx - fx) + 1, std::abs(cy - fy) + 1, 4));
                EXPECT_EQ(trans, cy != fy ? 1 : 0);  // +x became the y axis
                EXPECT_EQ(flip, (trans ? ux < fx : cx < fx) + 2 * (trans ? cy < fy : uy < fy));
                int w = 2, h = 3;
                img.mapSize(a, w, h, c);
                EXPECT_EQ(w, trans ? 3 : 2);
                ekTileFloat ft(x0, y0, 0, 2, 1, 1);
                img.mapTile(a, ft, c);
                EXPECT_TRUE(ft.x == t.x && ft.y == t.y && ft.nx == t.nx && ft.ny == t.ny);
                // A direction maps as the difference of mapped positions.
                float dx = 1, dy = 0;
                img.mapXYSign(a, dx, dy, c);
                EXPECT_TRUE(dx == cx - fx && dy == cy - fy);
                // A mirror image reverses the turn from +x to +y.
                const int cross = (cx - fx) * (uy - fy) - (cy - fy) * (ux - fx);
                EXPECT_EQ(img.isMirrorSpace(a, c), cross < 0 ? 1 : 0);
                // And back again.
                img.mapTile(to == 0 ? ekCoordSpace(own) : c, t, from == 0 ? LL : a);
                EXPECT_TRUE(t == ekTile(x0, y0, 3, 2, 1, 4));
            }
        }
    }
}

// Integer mappings beyond the 32-bit range clamp.
TEST(CoordSpace, NoOverflow) {
    SpaceImage img(30, 20, U);
    int ox = 5, oy = INT32_MIN;
    img.mapXY(U, ox, oy, LL);
    EXPECT_EQ(oy, INT32_MAX);
    ekTile t(INT32_MIN, 0, 0, 10, 1, 1), big(0, 0, 0, INT32_MAX, 1, 1);
    img.mapTile(U, t, UR);
    img.mapTile(U, big, UR);
    EXPECT_EQ(t.x, INT32_MAX);
    EXPECT_EQ(big.x, 30 - INT32_MAX);
}

// Chain mappings: each image moves points its own way.
struct Scaling : AttrImage {
    float mul, add;
    Scaling(float m, float a) : mul(m), add(a) {}
    void evalXY(ekXYstruct<float>& out, const ekXYstruct<float>& in) override {
        out = ekXYstruct<float>(in.x * mul + add, in.y);
    }
    void evalUV(ekXYstruct<float>& out, const ekXYstruct<float>& in) override {
        out = ekXYstruct<float>(in.x, in.y * mul + add);
    }
};

TEST(CoordSpace, ChainMappingsVisitEachImageOnceInOrder) {
    Scaling source(10, 0), middle(2, 0), top(1, 1);
    middle.setInput(&source, 0);
    top.setInput(&middle, 0);
    ekXYstruct<float> out;
    top.mapToSource(out, ekXYstruct<float>(3, 4));  // top (+1), middle (*2), source (*10)
    EXPECT_TRUE(out.x == 80 && out.y == 4);
    top.mapFromSource(out, ekXYstruct<float>(3, 4));  // source (*10), middle (*2), top (+1)
    EXPECT_TRUE(out.x == 3 && out.y == 81);
    AttrImage alone;
    alone.mapToSource(out, ekXYstruct<float>(1.5f, -2));
    EXPECT_TRUE(out.x == 1.5f && out.y == -2);
    Scaling a(2, 0), b(3, 0);  // a cycle: each image once, no endless recursion
    a.setInput(&b, 0);
    b.setInput(&a, 0);
    a.mapToSource(out, ekXYstruct<float>(1, 1));
    EXPECT_EQ(out.x, 6.0f);
    a.mapFromSource(out, ekXYstruct<float>(1, 1));
    EXPECT_EQ(out.y, 6.0f);
    a.removeInput(0);
}

}  // namespace
