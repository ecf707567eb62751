// ekImage coordinate spaces: hand-worked mappings, every mapping against an
// independent model of the displayed picture, round trips and chain mappings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "test_images.h"

namespace {

// An image of a given size in a given space.
struct SpaceImage : AttrImage {
    SpaceImage(int w, int h, ekCoordSpace cs) {
        allow(ekSizeBits | ekCoordSpaceBit | ekPageSizeBit);
        setSize(w, h);
        setCoordSpace(cs);
    }
};

const ekCoordSpace U = ekUpperLeft, UR = ekUpperRight, LR = ekLowerRight, LL = ekLowerLeft;
const ekCoordSpace LU = ekLeftUpper, RU = ekRightUpper, RL = ekRightLower, LLo = ekLeftLower;

// Model of the displayed picture, written from the names of the spaces: the
// corner the origin sits in, and whether x runs vertically. A position of a
// space is turned into (column, row) of the picture, row 0 at the top.
struct Display {
    int W, H;  // picture width and height
    static void corner(ekCoordSpace cs, bool& left, bool& bottom, bool& transposed) {
        switch (int(cs)) {
            case 1:
                left = true, bottom = false, transposed = false;
                break;
            case 2:
                left = false, bottom = false, transposed = false;
                break;
            case 3:
                left = false, bottom = true, transposed = false;
                break;
            case 5:
                left = true, bottom = false, transposed = true;
                break;
            case 6:
                left = false, bottom = false, transposed = true;
                break;
            case 7:
                left = false, bottom = true, transposed = true;
                break;
            case 8:
                left = true, bottom = true, transposed = true;
                break;
            default:
                left = true, bottom = true, transposed = false;
                break;  // 4, 0, others
        }
    }
    void toPicture(ekCoordSpace cs, int x, int y, int& col, int& row) const {
        bool left, bottom, tr;
        corner(cs, left, bottom, tr);
        int h = tr ? y : x, v = tr ? x : y;  // horizontal and vertical coordinates
        col = left ? h : W - 1 - h;
        row = bottom ? H - 1 - v : v;
    }
    void fromPicture(ekCoordSpace cs, int col, int row, int& x, int& y) const {
        bool left, bottom, tr;
        corner(cs, left, bottom, tr);
        int h = left ? col : W - 1 - col;
        int v = bottom ? H - 1 - row : row;
        x = tr ? v : h;
        y = tr ? h : v;
    }
};

TEST(CoordSpace, FlipAndTranspositionHandWorked) {
    SpaceImage img(100, 50, LL);
    ekFlip f;
    int t;
    EXPECT_EQ(img.mapFlipTrans(U, f, t, LL), LL);
    EXPECT_EQ(f, ekFlipY);
    EXPECT_EQ(t, 0);
    img.mapFlipTrans(U, f, t, LR);
    EXPECT_EQ(f, ekFlipXY);
    EXPECT_EQ(t, 0);
    img.mapFlipTrans(U, f, t, LU);
    EXPECT_EQ(f, ekNoFlip);
    EXPECT_EQ(t, 1);
    img.mapFlipTrans(LL, f, t, UR);
    EXPECT_EQ(f, ekFlipXY);
    EXPECT_EQ(t, 0);
    EXPECT_EQ(img.mapFlipTrans(U, f, t, ekCoordSpace(0)), LL);
    EXPECT_EQ(f, ekFlipY);
    // In a transposed target, x runs vertically: top/bottom decides its flip.
    img.mapFlipTrans(U, f, t, RL);
    EXPECT_EQ(f, ekFlipXY);
    EXPECT_EQ(t, 1);
    img.mapFlipTrans(U, f, t, LLo);
    EXPECT_EQ(f, ekFlipX);
    img.mapFlipTrans(ekCoordSpace(0), f, t, U);  // 0 behaves as ekLowerLeft
    EXPECT_EQ(f, ekFlipY);
}

TEST(CoordSpace, MappingsHandWorked) {
    SpaceImage img(100, 50, LL);
    ekTile t(10, 5, 0, 20, 10, 1);
    img.mapTile(U, t, ekCoordSpace(0));
    EXPECT_TRUE(t == ekTile(10, 35, 0, 20, 10, 1));
    float x = 10, y = 5;
    img.mapXY(U, x, y, ekCoordSpace(0));
    EXPECT_EQ(x, 10.0f);
    EXPECT_EQ(y, 44.0f);
    float dx = 1, dy = 1;
    img.mapXYSign(U, dx, dy, ekCoordSpace(0));
    EXPECT_EQ(dx, 1.0f);
    EXPECT_EQ(dy, -1.0f);
    int ix = 10, iy = 5;
    img.mapXY(LL, ix, iy, LLo);
    EXPECT_EQ(ix, 5);
    EXPECT_EQ(iy, 10);
    ekSize s;
    img.getSize(s, LLo);
    EXPECT_EQ(s.x, 50);
    EXPECT_EQ(s.y, 100);
    img.getSize(s, ekCoordSpace(0));  // 0 counts as untransposed
    EXPECT_EQ(s.x, 100);

    // Transposed and mirrored both ways.
    ekTile r(10, 5, 0, 20, 10, 1);
    ekFlip f;
    int tr;
    img.mapTile(U, r, f, tr, RL);
    EXPECT_TRUE(r == ekTile(35, 70, 0, 10, 20, 1));
    EXPECT_EQ(f, ekFlipXY);
    EXPECT_EQ(tr, 1);
    ekTileFloat ft(10.5f, 5.25f, 2, 20, 10, 3);
    img.mapTile(U, ft, RL);
    EXPECT_TRUE(ft == ekTileFloat(34.75f, 69.5f, 2, 10, 20, 3));
    dx = 2, dy = 3;
    img.mapXYSign(U, dx, dy, RL);
    EXPECT_EQ(dx, -3.0f);
    EXPECT_EQ(dy, -2.0f);
}

TEST(CoordSpace, EveryMappingAgreesWithThePicture) {
    const int sx = 7, sy = 4;
    for (int own = 0; own <= 8; ++own) {
        SpaceImage img(sx, sy, ekCoordSpace(own));
        bool l, b, ownT;
        Display::corner(ekCoordSpace(own), l, b, ownT);
        const Display pic{ownT ? sy : sx, ownT ? sx : sy};
        for (int from = 0; from <= 8; ++from)
            for (int to = 0; to <= 8; ++to) {
                const ekCoordSpace a = ekCoordSpace(from), c = ekCoordSpace(to);
                const ekCoordSpace target = to == 0 ? ekCoordSpace(own) : c;  // 0: own
                SCOPED_TRACE(testing::Message() << own << ": " << from << " -> " << to);
                // A position of `from` and the same picture pixel in `to`.
                const int x0 = 1, y0 = 2;
                int col, row, ex, ey;
                pic.toPicture(a, x0, y0, col, row);
                pic.fromPicture(target, col, row, ex, ey);
                int fx = x0, fy = y0;
                img.mapXY(a, fx, fy, c);
                EXPECT_EQ(fx, ex);
                EXPECT_EQ(fy, ey);
                float px = x0, py = y0;
                img.mapXY(a, px, py, c);
                EXPECT_EQ(px, float(ex));
                EXPECT_EQ(py, float(ey));
                // A box maps onto the box spanned by its mapped corners.
                int cx = x0 + 1, cy = y0;
                img.mapXY(a, cx, cy, c);
                ekTile t(x0, y0, 3, 2, 1, 4);
                ekFlip flip;
                int trans;
                img.mapTile(a, t, flip, trans, c);
                EXPECT_TRUE(t == ekTile(std::min(fx, cx), std::min(fy, cy), 3,
                                        std::abs(cx - fx) + 1, std::abs(cy - fy) + 1, 4));
                ekTileFloat ft(float(x0), float(y0), 0, 2, 1, 1);
                img.mapTile(a, ft, c);
                EXPECT_EQ(ft.x, float(t.x));
                EXPECT_EQ(ft.ny, float(t.ny));
                // A direction maps as the difference of mapped positions.
                float dx = 1, dy = 0;
                img.mapXYSign(a, dx, dy, c);
                EXPECT_EQ(dx, float(cx - fx));
                EXPECT_EQ(dy, float(cy - fy));
                // Orientation: a mirror image reverses the turn from +x to +y.
                int ux = x0, uy = y0 + 1;
                img.mapXY(a, ux, uy, c);
                const int cross = (cx - fx) * (uy - fy) - (cy - fy) * (ux - fx);
                EXPECT_EQ(img.isMirrorSpace(a, c), cross < 0 ? 1 : 0);
                // And back again.
                ekTile back = t;
                img.mapTile(target, back, a == 0 ? LL : a);
                EXPECT_TRUE(back == ekTile(x0, y0, 3, 2, 1, 4));
            }
    }
}

TEST(CoordSpace, MapSpaceAndMirrorSpace) {
    SpaceImage img(10, 10, U);
    EXPECT_EQ(img.mapSpace(1, 0, 0), UR);
    EXPECT_EQ(img.mapSpace(1, 1, 1), RL);
    EXPECT_EQ(img.mapSpace(0, 0, 0), U);
    EXPECT_EQ(img.mapSpace(0, 1, 0), LL);
    EXPECT_EQ(img.mapSpace(0, 0, 1), LU);
    EXPECT_EQ(img.isMirrorSpace(U, LL), 1);
    EXPECT_EQ(img.isMirrorSpace(U, LR), 0);
    EXPECT_EQ(img.isMirrorSpace(U, LU), 1);
    EXPECT_EQ(img.isMirrorSpace(LL, ekCoordSpace(0)), 1);  // 0: the image's ekUpperLeft

    // Mirroring twice, or exchanging twice, comes back; the table agrees with
    // the flags: a derived space maps from its origin with exactly that flip.
    for (int cs = 1; cs <= 8; ++cs) {
        SpaceImage s(10, 10, ekCoordSpace(cs));
        ekCoordSpace mx = s.mapSpace(1, 0, 0), my = s.mapSpace(0, 1, 0), ex = s.mapSpace(0, 0, 1);
        ekFlip f;
        int t;
        s.mapFlipTrans(ekCoordSpace(cs), f, t, mx);
        EXPECT_EQ(f, ekFlipX) << cs;
        s.mapFlipTrans(ekCoordSpace(cs), f, t, my);
        EXPECT_EQ(f, ekFlipY) << cs;
        s.mapFlipTrans(ekCoordSpace(cs), f, t, ex);
        EXPECT_EQ(f, ekNoFlip) << cs;
        EXPECT_EQ(t, 1) << cs;
        EXPECT_EQ(s.isMirrorSpace(ekCoordSpace(cs), mx), 1);
        EXPECT_EQ(s.isMirrorSpace(ekCoordSpace(cs), s.mapSpace(1, 1, 0)), 0);
    }
    SpaceImage none(10, 10, ekCoordSpace(0));
    EXPECT_EQ(none.mapSpace(1, 0, 0), LR);
    EXPECT_EQ(none.mapSpace(0, 0, 0), ekCoordSpace(0));
}

TEST(CoordSpace, SizesAndPageSizes) {
    SpaceImage img(30, 20, U);
    int w = 3, h = 7;
    img.mapSize(U, w, h, RU);
    EXPECT_EQ(w, 7);
    EXPECT_EQ(h, 3);
    img.mapSize(U, w, h, LR);
    EXPECT_EQ(w, 7);
    img.mapSize(LU, w, h, ekCoordSpace(0));  // 0: the image's untransposed space
    EXPECT_EQ(w, 3);
    img.setPageSize(8, 4, 1, 1);
    int x, y, z, c;
    EXPECT_EQ(img.getPageSize(x, y, z, c, LLo), 32);
    EXPECT_EQ(x, 4);
    EXPECT_EQ(y, 8);
    img.getPageSize(x, y, z, c, ekCoordSpace(0));
    EXPECT_EQ(x, 8);
    SpaceImage tr(30, 20, RL);
    ekSize s;
    tr.getSize(s, ekCoordSpace(0));  // 0 is not the image's space here
    EXPECT_EQ(s.x, 20);
    tr.getSize(s, LU);
    EXPECT_EQ(s.x, 30);
}

TEST(CoordSpace, ValuesOutsideTheTablesCountAsNone) {
    SpaceImage img(10, 6, ekCoordSpace(15));
    ekFlip f, g;
    int t, u;
    img.mapFlipTrans(ekCoordSpace(9), f, t, U);
    img.mapFlipTrans(LL, g, u, U);
    EXPECT_EQ(f, g);
    EXPECT_EQ(t, u);
    EXPECT_EQ(img.mapSpace(1, 1, 1), RU);  // as from none: LR, then UR, then RU
    EXPECT_EQ(img.isMirrorSpace(ekCoordSpace(12), LL), 0);
    EXPECT_EQ(img.getWidth(), 10);
    ekSize s;
    img.getSize(s, ekCoordSpace(14));
    EXPECT_EQ(s.x, 10);
}

TEST(CoordSpace, IntegerMappingsDoNotOverflow) {
    SpaceImage img(100, 50, U);
    int x = 5, y = INT32_MIN;
    img.mapXY(U, x, y, LL);  // y = 50 - y - 1 is beyond the 32-bit range
    EXPECT_EQ(x, 5);
    EXPECT_EQ(y, INT32_MAX);
    ekTile t(INT32_MIN, 0, 0, 10, 1, 1);
    img.mapTile(U, t, UR);
    EXPECT_EQ(t.x, INT32_MAX);
    ekTile big(0, 0, 0, INT32_MAX, 1, 1);
    img.mapTile(U, big, UR);
    EXPECT_EQ(big.x, 100 - INT32_MAX);
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

TEST(CoordSpace, ChainMappings) {
    Scaling source(10, 0), middle(2, 0), top(1, 1);
    middle.setInput(&source, 0);
    top.setInput(&middle, 0);
    ekXYstruct<float> out;
    // Up: top first (x + 1), then middle (x * 2), then the source (x * 10).
    top.mapToSource(out, ekXYstruct<float>(3, 4));
    EXPECT_EQ(out.x, 80.0f);
    EXPECT_EQ(out.y, 4.0f);
    // Down: the source first (y * 10), then middle (* 2), then top (+ 1).
    top.mapFromSource(out, ekXYstruct<float>(3, 4));
    EXPECT_EQ(out.x, 3.0f);
    EXPECT_EQ(out.y, 81.0f);

    AttrImage alone;
    alone.mapToSource(out, ekXYstruct<float>(1.5f, -2));
    EXPECT_EQ(out.x, 1.5f);
    EXPECT_EQ(out.y, -2.0f);
    alone.mapFromSource(out, ekXYstruct<float>(7, 8));
    EXPECT_EQ(out.x, 7.0f);
}

TEST(CoordSpace, ChainMappingsStopInACycle) {
    Scaling a(2, 0), b(3, 0);
    a.setInput(&b, 0);
    b.setInput(&a, 0);
    ekXYstruct<float> out;
    a.mapToSource(out, ekXYstruct<float>(1, 1));
    EXPECT_EQ(out.x, 6.0f);  // each image once
    a.mapFromSource(out, ekXYstruct<float>(1, 1));
    EXPECT_EQ(out.y, 6.0f);
    a.removeInput(0);  // break the cycle before the images go
}

}  // namespace
