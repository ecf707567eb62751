// SPDX-License-Identifier: Apache-2.0
// ekTileIter: the pages that cover a tile, their order and their count.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <tuple>
#include <vector>

#include "eks/paging.h"
#include "test_images.h"

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
        ekTileIter it(tile, nc, cfg, unaligned);
        EXPECT_EQ(it.getCount(), 0);  // no page size yet
        it.setPageSize(page[0], page[1], page[2], page[3]);
        // Without borders, the initial ones (0, and border pages 1) stand.
        if (border[0] != 0 || border[1] != 0 || border[2] != 0 || borderPages != 1)
            it.setPageBorder(border[0], border[1], border[2], borderPages);
        return it;
    }
};

// --- Reference: the definition, candidate by candidate ----------------------

// Origins of the pages that cover [t0, t1) on one axis: interiors start on
// multiples of the step (counted from t0 when unaligned); a page is taken
// when its interior meets the tile, or with borderPages its leading border.
// A negative border or an empty interior lays no pages.
std::vector<int> refOrigins(int t0, int t1, int page, int border, int borderPages, int unaligned) {
    std::vector<int> out;
    const int step = page - 2 * border;
    if (border < 0 || step < 1 || t1 <= t0) return out;
    const int64_t anchor = unaligned ? t0 : 0;
    int64_t s = anchor + ((int64_t(t0) - anchor - 2 * page) / step) * step;
    for (; s < int64_t(t1) + 2 * page; s += step) {
        const int64_t lo = borderPages ? s - border : s;
        if (s + step > t0 && lo < t1) out.push_back(int(s - border));
    }
    return out;
}

// Channel blocks holding a selected channel, from the lowest one (a list's
// range starts at nc when that is lower, and ends with the highest entry's
// block), aligned down unless unaligned. `blocks` counts the skipped ones too.
std::vector<int> refBlocks(const std::vector<int>& selected, int pageC, int unaligned, bool list,
                           int nc, int& blocks) {
    std::vector<int> out;
    if (selected.empty() || pageC < 1) return out;
    const int lo = *std::min_element(selected.begin(), selected.end());
    const int hi = *std::max_element(selected.begin(), selected.end());
    int b = list ? std::min(nc, lo - lo % pageC) : lo;
    b -= unaligned ? 0 : b % pageC;
    blocks = ((list ? hi - hi % pageC + pageC : hi + 1) - b - 1) / pageC + 1;
    for (; b <= hi; b += pageC)
        for (int e : selected)
            if (e >= b && e < b + pageC) {
                out.push_back(b);
                break;
            }
    return out;
}

// The pages in iterator order; `count` those a channel list skips too.
std::vector<Pos> reference(const IterSetup& s, const std::vector<int>& selected, bool list,
                           int& count) {
    const ekTile& t = s.tile;
    auto xs = refOrigins(t.x, t.x + t.nx, s.page[0], s.border[0], s.borderPages, s.unaligned);
    auto ys = refOrigins(t.y, t.y + t.ny, s.page[1], s.border[1], s.borderPages, s.unaligned);
    auto zs = refOrigins(t.z, t.z + t.nz, s.page[2], s.border[2], s.borderPages, s.unaligned);
    std::vector<Pos> v;
    int blocks = 0;
    for (int c : refBlocks(selected, s.page[3], s.unaligned, list, s.nc, blocks))
        for (int z : zs)
            for (int y : ys)
                for (int x : xs) v.emplace_back(x, y, z, c);
    count = v.empty() ? 0 : blocks * int(xs.size() * ys.size() * zs.size());
    return v;
}

// The ends of the 32-bit range, which the randomised test does not reach.
TEST(TileIter, LiteralCases) {
    const struct {
        IterSetup s;
        int count;
        std::vector<Pos> pages;
    } cases[] = {
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
    EXPECT_EQ(ekTileIter(ekTile(0, 0, 0, 5, 5, 1), 8, 8, 1, 4, 1, &lowest, 0).getCount(), 0);
}

TEST(TileIter, MatchesTheReferenceOverRandomSettings) {
    Rng rng(7);
    for (int round = 0; round < 3000; ++round) {
        IterSetup s{};
        // Empty tiles and negative extents, empty page interiors and negative
        // borders give no pages.
        s.tile = ekTile(rng.in(-70, 70), rng.in(-70, 70), rng.in(-5, 5), rng.in(-1, 90),
                        rng.in(-1, 40), rng.in(-1, 4));
        for (int a = 0; a < 3; ++a) {
            s.page[a] = rng.in(0, 30);
            s.border[a] =
                rng.in(0, 15) == 0 ? rng.in(-1, s.page[a]) : rng.in(0, (s.page[a] - 1) / 2);
        }
        s.page[3] = rng.in(0, 4);
        s.borderPages = rng.in(0, 1);
        s.unaligned = rng.in(0, 1);
        s.nc = rng.in(0, 12);
        std::vector<int> selected, list;
        list.reserve(4);  // a list of no entries is still a list
        ekConfig cfg(ekUChar, ekInterleaved, 0);
        const int kind = rng.in(0, 2);
        if (kind == 1) {  // an offset and a count, past the channels or below 0 too
            cfg.chanOffset = rng.in(-5, s.nc + 3);
            cfg.nchans = rng.in(0, 6);
            for (int k = 0; k < cfg.nchans; ++k) selected.push_back(cfg.chanOffset + k);
        } else if (kind == 2) {  // a list, with unused entries and entries past the channels
            for (int k = rng.in(0, 4); k > 0; --k) list.push_back(rng.in(-1, s.nc + 4));
            for (int e : list)
                if (e >= 0) selected.push_back(e);
            cfg.chanList = list.data();
            cfg.nchans = int(list.size());
        } else {
            for (int k = 0; k < s.nc; ++k) selected.push_back(k);
        }
        s.cfg = kind == 0 ? nullptr : &cfg;
        SCOPED_TRACE(round);
        int count;
        std::vector<Pos> want = reference(s, selected, kind == 2, count);
        ekTileIter it = s.make();
        ASSERT_EQ(it.getCount(), count);
        // Part way through, a copy carries on where the original stands; a
        // setter given its value again starts afresh (the range is not cut twice).
        const size_t stop = std::min(size_t(rng.in(0, 3)), want.size());
        ASSERT_EQ(visits(it, stop), std::vector<Pos>(want.begin(), want.begin() + stop));
        ASSERT_EQ(it.getCount(), count);  // asking on the way changes nothing
        const int again = rng.in(0, 3);
        if (again == 0) want.erase(want.begin(), want.begin() + stop);
        if (again == 1) it.setPageBorder(s.border[0], s.border[1], s.border[2], s.borderPages);
        if (again == 2) it.setPageSize(s.page[0], s.page[1], s.page[2], s.page[3]);
        if (again == 3) it.setTile(s.tile, s.nc, s.cfg, s.unaligned);
        ekTileIter copy = it;
        ASSERT_EQ(visits(copy), want);
        ASSERT_EQ(visits(it), want);
    }
}

}  // namespace
