// SPDX-License-Identifier: Apache-2.0
// The caller's side of the randomized image models: one generator of caller
// layouts (type, order, space, channels, request and buffer box around the
// image's extent) shared by the memory image and the view comparisons.
#ifndef EKS_TESTS_IMAGES_RANDOM_CALLER_H
#define EKS_TESTS_IMAGES_RANDOM_CALLER_H

#include <sstream>
#include <string>
#include <vector>

#include "layout_model.h"

// Positions in 64 bits: boxes near the 32-bit limits end beyond them.
inline bool inBox(const ekTile& b, int64_t x, int64_t y, int64_t z) {
    return x >= b.x && x < int64_t(b.x) + b.nx && y >= b.y && y < int64_t(b.y) + b.ny && z >= b.z &&
           z < int64_t(b.z) + b.nz;
}
inline std::string str(const ekTile& b) {
    std::ostringstream s;
    s << b.x << "," << b.y << "," << b.z << " " << b.nx << "x" << b.ny << "x" << b.nz;
    return s.str();
}

// A random list of n entries from lo..hi, distinct (but for -1) unless
// duplicates are allowed.
inline std::vector<int> randomList(Rng& g, int n, int lo, int hi, bool duplicates) {
    std::vector<int> l;
    while (int(l.size()) < n) {
        const int v = g.in(lo, hi);
        bool seen = false;
        for (int e : l) seen = seen || (e == v && v >= 0);
        if (!seen || duplicates) l.push_back(v);
        if (!duplicates && hi - lo + 1 < n) l.push_back(-1);  // not enough distinct values
    }
    l.resize(size_t(n));
    return l;
}

// Channel selections far outside their ranges: they select no channel.
const int kFar[4] = {INT_MAX, INT_MIN, 1000000, -3};

// Five types that hold the view model's sentinel (ekBit and the signed /
// unsigned pairs are the memory image model's concern).
const ekType kFewTypes[5] = {ekUChar, ekShort, ekULong, ekFloat, ekDouble};

// A caller layout drawn for one image, with a configuration in `cfgPercent`
// of the draws. `wide` adds every type, channel selections far outside their
// ranges (they select no channel) and spaces outside the table (they count as
// ekLowerLeft).
struct Caller {
    bool useCfg = true;
    ekType ct;
    ekOrder co;
    int space, cs;   // the caller's space as given, and as it counts (0: the image's)
    int nchans, nc;  // as given (0: the image's count), and effective
    int offset = 0;
    std::vector<int> list;  // empty: no list
    ekTile r, b;
    ekConfig cfg;

    void draw(Rng& g, ekImage& img, bool wide, bool unique, int cfgPercent) {
        static const int kNoSpaces[5] = {9, 16, -1, INT_MAX, INT_MIN};
        ekSize s;
        img.getSize(s);
        useCfg = g.chance(cfgPercent);
        ct = wide ? kTypes[g.in(0, 8)] : kFewTypes[g.in(0, 4)];
        co = kOrders[g.in(0, 2)];
        cs = g.chance(30) ? 0 : g.in(1, 8);
        space = wide && g.chance(5) ? kNoSpaces[g.in(0, 4)] : cs;
        if (space != cs) cs = ekLowerLeft;
        nchans = g.chance(25) ? 0 : g.in(1, s.c + 1);
        nc = nchans != 0 ? nchans : s.c;
        list.clear();
        offset = g.chance(50) ? 0 : wide && g.chance(10) ? kFar[g.in(0, 3)] : g.in(-1, s.c - 1);
        if (g.chance(35)) {
            // Entries name image channels, -1 (none) or one past the last;
            // for writes no two buffer channels name the same image channel.
            list = randomList(g, nc, -1, s.c, !unique);
            offset = g.in(0, 1);  // ignored beside a list
            for (int& e : list)
                if (wide && g.chance(5)) e = kFar[g.in(0, 3)];
        }
        if (!useCfg) {
            ct = img.getDataType();
            co = img.getOrder();
            space = cs = nchans = offset = 0;
            nc = s.c;
            list.clear();
        }
        // Now and then the type or order left to the image (0 or the "any" value).
        const ekType givenType = useCfg && g.chance(5) ? ekType(g.chance(50) ? 0 : ekAnyType) : ct;
        const ekOrder givenOrder =
            useCfg && g.chance(5) ? ekOrder(g.chance(50) ? 0 : ekAnyOrder) : co;
        if (givenType != ct) ct = img.getDataType();
        if (givenOrder != co) co = img.getOrder();
        // Boxes in the caller's space, around the image's extent there.
        const bool swapped = cs != 0 && flagsOf(cs).trans != flagsOf(img.getCoordSpace()).trans;
        const int W = swapped ? s.y : s.x, H = swapped ? s.x : s.y, D = s.z;
        r = ekTile(g.in(-2, W), g.in(-2, H), g.in(-1, D), g.in(1, W + 2), g.in(1, H + 2),
                   g.in(1, D + 1));
        switch (g.in(0, 2)) {
            case 0:  // the whole-tile form: the buffer is the request
                b = r;
                break;
            case 1:  // a sub-tile of a larger buffer
                b = ekTile(r.x - g.in(0, 2), r.y - g.in(0, 2), r.z - g.in(0, 1), r.nx + g.in(0, 4),
                           r.ny + g.in(0, 4), r.nz + g.in(0, 1));
                break;
            default:  // a buffer that covers only part of the request
                b = ekTile(r.x + g.in(-2, 2), r.y + g.in(-2, 2), r.z + g.in(-1, 1), g.in(1, W + 2),
                           g.in(1, H + 2), g.in(1, D));
                break;
        }
        if (g.chance(3)) (g.chance(50) ? r.nx : r.nz) = g.in(-1, 0);  // moves nothing
        if (g.chance(15)) pushToLimits(g, r, b);
        cfg = ekConfig(givenType, givenOrder, nchans, list.empty() ? nullptr : list.data(), offset,
                       ekCoordSpace(space));
    }
    // The image channel buffer channel k selects: list entry k, or k + offset.
    int chanOf(int k) const {
        const int64_t m = list.empty() ? int64_t(k) + offset : list[size_t(k)];
        return m >= INT_MIN && m <= INT_MAX ? int(m) : -1;
    }
    int64_t elements() const { return int64_t(b.nx) * b.ny * b.nz * nc; }
    int64_t index(int i, int j, int l, int k) const {
        return elementIndex(co, nc, b.nx, b.ny, b.nz, i, j, l, k);
    }
    // Visits every buffer position inside the request, with its caller position.
    template <class F>
    void forEachRequested(F f) const {
        for (int l = 0; l < b.nz; ++l)
            for (int j = 0; j < b.ny; ++j)
                for (int i = 0; i < b.nx; ++i) {
                    const int64_t x = int64_t(b.x) + i, y = int64_t(b.y) + j, z = int64_t(b.z) + l;
                    if (inBox(r, x, y, z)) f(i, j, l, x, y, z);
                }
    }
    ekStatus move(ekImage& img, bool write, void* data) const {
        const ekConfig* c = useCfg ? &cfg : nullptr;
        return write ? img.setSubTile3D(r.x, r.y, r.z, r.nx, r.ny, r.nz, data, b.x, b.y, b.z, b.nx,
                                        b.ny, b.nz, c)
                     : img.getSubTile3D(r.x, r.y, r.z, r.nx, r.ny, r.nz, data, b.x, b.y, b.z, b.nx,
                                        b.ny, b.nz, c);
    }
    std::string describe() const {
        std::ostringstream s;
        s << "caller " << (useCfg ? "" : "(none) ") << "type " << cfg.type << ":" << ct << " order "
          << cfg.order << ":" << co << " space " << space << " nchans " << nchans << " offset "
          << offset << " list";
        for (int v : list) s << " " << v;
        s << "; box " << str(r) << "; buffer " << str(b);
        return s.str();
    }
};

#endif  // EKS_TESTS_IMAGES_RANDOM_CALLER_H
