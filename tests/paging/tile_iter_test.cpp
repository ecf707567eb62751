// SPDX-License-Identifier: Apache-2.0
// ekTileIter: the pages that cover a tile, their order and their count.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <random>
#include <tuple>
#include <vector>

#include "eks/paging.h"

namespace {

using Pos = std::tuple<int, int, int, int>;  // x, y, z, c of a page

// The pages an iterator visits; more() answers exactly 1 or 0, and stays 0
// at the end.
std::vector<Pos> visits(ekTileIter& it, size_t limit = 1000000) {
    std::vector<Pos> v;
    int more = 1;
    while (v.size() < limit && (more = it.more()) == 1) v.emplace_back(it.x, it.y, it.z, it.c);
    if (v.size() < limit) {
        EXPECT_EQ(more, 0);
        EXPECT_EQ(it.more(), 0);
    }
    return v;
}

// One iteration set up from scratch: the tile, page geometry and channels.
struct IterSetup {
    ekTile tile;
    int page[4];    // x, y, z, c
    int border[3];  // x, y, z
    int borderPages;
    int nc;
    int unaligned;
    const ekConfig* cfg;

    ekTileIter make() const {
        ekTileIter it(tile, page[0], page[1], page[2], page[3], nc, cfg, unaligned);
        it.setPageBorder(border[0], border[1], border[2], borderPages);
        return it;
    }
};

// --- Reference: the definition, candidate by candidate ----------------------

// Origins of the pages that cover [t0, t1) on one axis: interiors start on
// multiples of the step (counted from t0 when unaligned); a page is taken
// when its interior meets the tile, or with borderPages its leading border.
std::vector<int> refOrigins(int t0, int t1, int page, int border, int borderPages, int unaligned) {
    std::vector<int> out;
    const int step = page - 2 * border;
    const int64_t anchor = unaligned ? t0 : 0;
    int64_t s = anchor + ((int64_t(t0) - anchor - 2 * page) / step) * step;
    for (; s < int64_t(t1) + 2 * page; s += step) {
        const int64_t lo = borderPages ? s - border : s;
        if (s + step > t0 && lo < t1) out.push_back(int(s - border));
    }
    return out;
}

// Channel blocks holding a selected channel (blocks on multiples of pageC, or
// from the first selected channel when unaligned and without a list).
std::vector<int> refBlocks(const std::vector<int>& selected, int pageC, int unaligned, bool list) {
    std::vector<int> out;
    if (selected.empty()) return out;
    const int lo = *std::min_element(selected.begin(), selected.end());
    const int base = unaligned && !list ? lo : 0;
    for (int b = base + ((lo - base) / pageC) * pageC;
         b <= *std::max_element(selected.begin(), selected.end()); b += pageC)
        for (int e : selected)
            if (e >= b && e < b + pageC) {
                out.push_back(b);
                break;
            }
    return out;
}

std::vector<Pos> reference(const IterSetup& s, const std::vector<int>& selected, bool list) {
    const ekTile& t = s.tile;
    auto xs = refOrigins(t.x, t.x + t.nx, s.page[0], s.border[0], s.borderPages, s.unaligned);
    auto ys = refOrigins(t.y, t.y + t.ny, s.page[1], s.border[1], s.borderPages, s.unaligned);
    auto zs = refOrigins(t.z, t.z + t.nz, s.page[2], s.border[2], s.borderPages, s.unaligned);
    std::vector<Pos> v;
    for (int c : refBlocks(selected, s.page[3], s.unaligned, list))
        for (int z : zs)
            for (int y : ys)
                for (int x : xs) v.emplace_back(x, y, z, c);
    return v;
}

// --- Literal cases -----------------------------------------------------------

// What the randomised test does not reach: channel entries past the channels,
// no usable entry, empty and negative ranges, skipped blocks; degenerate
// tiles and page geometries, which give no pages; the end of the range.
TEST(TileIter, LiteralCases) {
    const ekTile tile(0, 0, 0, 5, 5, 1), one(0, 0, 0, 1, 1, 1);
    int l09[2] = {0, 9}, l9[1] = {9}, none[1] = {-1}, empty[1] = {0};
    const ekConfig c09(ekUChar, ekInterleaved, 2, l09), c9(ekUChar, ekInterleaved, 1, l9),
        cNone(ekUChar, ekInterleaved, 1, none), cEmpty(ekUChar, ekInterleaved, 0, empty),
        from3(ekUChar, ekInterleaved, 2, nullptr, 3), zero(ekUChar, ekInterleaved, 0),
        from5(ekUChar, ekInterleaved, 0, nullptr, 5), below(ekUChar, ekInterleaved, 2, nullptr, -3);
    const struct {
        IterSetup s;
        int count;
        std::vector<Pos> pages;
    } cases[] = {
        // Channel blocks of 4 from lists and offsets, 8 channels.
        {{one, {1, 1, 1, 4}, {0, 0, 0}, 1, 8, 0, &c09}, 3, {{0, 0, 0, 0}, {0, 0, 0, 8}}},
        {{one, {1, 1, 1, 4}, {0, 0, 0}, 1, 8, 0, &c9}, 1, {{0, 0, 0, 8}}},  // still visited
        {{one, {1, 1, 1, 4}, {0, 0, 0}, 1, 8, 0, &cNone}, 0, {}},
        {{one, {1, 1, 1, 4}, {0, 0, 0}, 1, 8, 0, &cEmpty}, 0, {}},
        {{one, {1, 1, 1, 4}, {0, 0, 0}, 1, 8, 1, &from3}, 1, {{0, 0, 0, 3}}},
        {{one, {1, 1, 1, 4}, {0, 0, 0}, 1, 8, 0, &zero}, 0, {}},
        {{one, {1, 1, 1, 4}, {0, 0, 0}, 1, 8, 0, &from5}, 0, {}},
        {{one, {1, 1, 1, 4}, {0, 0, 0}, 1, 8, 0, &below}, 0, {}},
        // Degenerate: an empty tile, a negative extent, page = 2 x border,
        // page < 2 x border, no page depth, a negative border, no channels
        // per page, an image without channels.
        {{{0, 0, 0, 0, 5, 1}, {8, 8, 1, 1}, {0, 0, 0}, 1, 1, 0, nullptr}, 0, {}},
        {{{0, 0, 0, 5, -1, 1}, {8, 8, 1, 1}, {0, 0, 0}, 1, 1, 0, nullptr}, 0, {}},
        {{tile, {8, 8, 1, 1}, {4, 0, 0}, 0, 1, 0, nullptr}, 0, {}},
        {{tile, {8, 8, 1, 1}, {0, 5, 0}, 1, 1, 0, nullptr}, 0, {}},
        {{tile, {8, 8, 0, 1}, {0, 0, 0}, 1, 1, 0, nullptr}, 0, {}},
        {{tile, {8, 8, 1, 1}, {-1, 0, 0}, 1, 1, 0, nullptr}, 0, {}},
        {{tile, {8, 8, 1, 0}, {0, 0, 0}, 1, 1, 0, nullptr}, 0, {}},
        {{tile, {8, 8, 1, 1}, {0, 0, 0}, 1, 0, 0, nullptr}, 0, {}},
        // A count beyond 32 bits; a first page below the 32-bit range.
        {{{INT_MIN, INT_MIN, 0, INT_MAX, INT_MAX, 1}, {1, 1, 1, 1}, {0, 0, 0}, 1, 1, 0, nullptr},
         0,
         {}},
        {{{INT_MIN, 0, 0, 4, 1, 1}, {8, 8, 1, 1}, {2, 0, 0}, 1, 1, 0, nullptr}, 0, {}},
        // Pages near the end of the range do not wrap: the grid runs from 0.
        {{{INT_MAX - 10, 0, 0, 10, 1, 1}, {4, 1, 1, 1}, {0, 0, 0}, 1, 1, 0, nullptr},
         3,
         {{INT_MAX - 11, 0, 0, 0}, {INT_MAX - 7, 0, 0, 0}, {INT_MAX - 3, 0, 0, 0}}},
    };
    for (const auto& k : cases) {
        ekTileIter it = k.s.make();
        EXPECT_EQ(it.getCount(), k.count) << &k - cases;
        EXPECT_EQ(visits(it), k.pages) << &k - cases;
    }
    // Channels from INT32_MIN: the block before the first would start below
    // the 32-bit range (the sanitizer build sees any overflow).
    const ekConfig lowest(ekUChar, ekInterleaved, 1, nullptr, INT_MIN);
    EXPECT_EQ(ekTileIter(tile, 8, 8, 1, 4, 1, &lowest, 0).getCount(), 0);
    ekTileIter unset(tile, 1, nullptr, 0);  // no page size yet
    EXPECT_EQ(unset.getCount(), 0);
    unset.setPageSize(4, 4, 1, 1);
    EXPECT_EQ(unset.getCount(), 4);
}

// --- Settings changed around a preparation ---------------------------------------

TEST(TileIter, SettersAfterPreparationStartAfresh) {
    const ekTile tile(0, 0, 0, 119, 1, 1);
    ekTileIter it(tile, 64, 1, 1, 1, 1, nullptr, 0);
    it.setPageBorder(2, 0, 0, 0);
    EXPECT_EQ(it.getCount(), 2);
    it.more();
    // The border again, then a new page size: the range is not cut twice.
    it.setPageBorder(2, 0, 0, 0);
    EXPECT_EQ(it.getCount(), 2);
    it.setPageSize(64, 1, 1, 1);
    EXPECT_EQ(visits(it), (std::vector<Pos>{{-2, 0, 0, 0}, {58, 0, 0, 0}}));
    // A new tile restarts from its first page.
    it.setTile(ekTile(60, 0, 0, 1, 1, 1), 1, nullptr, 0);
    EXPECT_EQ(visits(it), (std::vector<Pos>{{58, 0, 0, 0}}));
    // A copy carries on where the original stands.
    it.setTile(tile, 1, nullptr, 0);
    it.more();
    ekTileIter copy = it;
    EXPECT_EQ(visits(copy), visits(it));
}

// --- Randomised comparison with the reference ----------------------------------

TEST(TileIter, MatchesTheReferenceOverRandomSettings) {
    std::mt19937 rng(7);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int round = 0; round < 3000; ++round) {
        IterSetup s{};
        s.tile =
            ekTile(pick(-70, 70), pick(-70, 70), pick(-5, 5), pick(1, 90), pick(1, 40), pick(1, 4));
        for (int a = 0; a < 3; ++a) {
            s.page[a] = pick(1, 30);
            s.border[a] = pick(0, (s.page[a] - 1) / 2);
        }
        s.page[3] = pick(1, 4);
        s.borderPages = pick(0, 1);
        s.unaligned = pick(0, 1);
        s.nc = pick(1, 12);
        std::vector<int> selected, list;
        ekConfig cfg(ekUChar, ekInterleaved, 0);
        const int kind = pick(0, 2);
        if (kind == 1) {  // an offset and a count within the channels
            cfg.chanOffset = pick(0, s.nc - 1);
            cfg.nchans = pick(1, s.nc - cfg.chanOffset);
            for (int k = 0; k < cfg.nchans; ++k) selected.push_back(cfg.chanOffset + k);
        } else if (kind == 2) {  // a list of channels of the image, some unused
            for (int k = pick(1, 4); k > 0; --k) list.push_back(pick(-1, s.nc - 1));
            for (int e : list)
                if (e >= 0) selected.push_back(e);
            cfg.chanList = list.data();
            cfg.nchans = int(list.size());
        } else {
            for (int k = 0; k < s.nc; ++k) selected.push_back(k);
        }
        s.cfg = kind == 0 ? nullptr : &cfg;
        SCOPED_TRACE(round);
        const std::vector<Pos> want = reference(s, selected, kind == 2);
        ekTileIter it = s.make();
        const int count = it.getCount();
        const std::vector<Pos> got = visits(it);
        ASSERT_EQ(got, want);
        if (kind != 2) {
            ASSERT_EQ(count, int(want.size()));
        } else {
            ASSERT_GE(count, int(want.size()));
        }
    }
}

}  // namespace
