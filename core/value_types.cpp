// SPDX-License-Identifier: Apache-2.0
// Sizes and boxes. Ends (origin + extent) are computed in 64 bits so that no
// box, however large or far out, overflows; results stored back into a 32-bit
// field are clamped to the 32-bit range.
#include <algorithm>
#include <cstdint>

#include "core/type_facts.h"
#include "eks/core.h"

namespace {

int64_t end64(int32_t origin, int32_t extent) { return int64_t(origin) + extent; }

// Intersection on one axis: the later origin, extent up to the earlier end.
void intersectAxis(int32_t ao, int32_t an, int32_t bo, int32_t bn, int32_t& o, int32_t& n) {
    const int32_t origin = std::max(ao, bo);
    const int64_t end = std::min(end64(ao, an), end64(bo, bn));
    o = origin;
    n = ekClampToInt32(end - origin);
}

bool containsAxis(int32_t o, int32_t n, int32_t to, int32_t tn) {
    return o <= to && end64(to, tn) <= end64(o, n);
}

// t may run past this box's end when this box already reaches the limit.
bool containsAxis(int32_t o, int32_t n, int32_t to, int32_t tn, int32_t limit) {
    if (o > to) return false;
    const int64_t end = end64(o, n);
    return !(end64(to, tn) > end && limit > end);
}

void clipAxis(int32_t& o, int32_t& n) {
    if (o >= 0) return;
    const int64_t extent = int64_t(n) + o;  // lose the overhang before 0
    o = 0;
    n = extent < 0 ? 0 : ekClampToInt32(extent);
}

// The same rules for float boxes, where no overflow can happen.
void intersectAxis(float ao, float an, float bo, float bn, float& o, float& n) {
    o = std::max(ao, bo);
    n = std::min(ao + an, bo + bn) - o;
}

bool containsAxis(float o, float n, float to, float tn) { return o <= to && to + tn <= o + n; }

bool containsAxis(float o, float n, float to, float tn, float limit) {
    if (o > to) return false;
    return !(to + tn > o + n && limit > o + n);
}

void clipAxis(float& o, float& n) {
    if (!(o < 0)) return;
    n += o;
    o = 0;
    if (n < 0) n = 0;
}

// Box operations, axis by axis, for ekTile and ekTileFloat alike.
template <class Box>
void intersectBox(const Box& a, const Box& b, Box& r) {
    intersectAxis(a.x, a.nx, b.x, b.nx, r.x, r.nx);
    intersectAxis(a.y, a.ny, b.y, b.ny, r.y, r.ny);
    intersectAxis(a.z, a.nz, b.z, b.nz, r.z, r.nz);
}

template <class Box>
bool containsBox(const Box& b, const Box& t) {
    return containsAxis(b.x, b.nx, t.x, t.nx) && containsAxis(b.y, b.ny, t.y, t.ny) &&
           containsAxis(b.z, b.nz, t.z, t.nz);
}

template <class Box, class T>
bool containsBox(const Box& b, const Box& t, T xlimit, T ylimit, T zlimit) {
    return containsAxis(b.x, b.nx, t.x, t.nx, xlimit) &&
           containsAxis(b.y, b.ny, t.y, t.ny, ylimit) && containsAxis(b.z, b.nz, t.z, t.nz, zlimit);
}

template <class Box>
bool sameBox(const Box& a, const Box& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z && a.nx == b.nx && a.ny == b.ny && a.nz == b.nz;
}

}  // namespace

// ---------------------------------------------------------------------------
// ekSize

ekSize::operator int() const {
    // Unsigned 64-bit arithmetic wraps instead of overflowing; the low 32 bits
    // are the product as 32-bit arithmetic would give it.
    const uint64_t product =
        uint64_t(int64_t(x)) * uint64_t(int64_t(y)) * uint64_t(int64_t(z)) * uint64_t(int64_t(c));
    return int(int32_t(uint32_t(product)));
}

int ekSize::operator==(const ekSize& s) const {
    return x == s.x && y == s.y && z == s.z && c == s.c;
}

int ekSize::operator!=(const ekSize& s) const { return !(*this == s); }

// ---------------------------------------------------------------------------
// ekTile and ekTileFloat

ekTile::ekTile(const ekTile& a, const ekTile& b) { intersectBox(a, b, *this); }
bool ekTile::contains(const ekTile& t) const { return containsBox(*this, t); }
bool ekTile::contains(const ekTile& t, int xlimit, int ylimit, int zlimit) const {
    return containsBox(*this, t, xlimit, ylimit, zlimit);
}
bool ekTile::operator==(const ekTile& t) const { return sameBox(*this, t); }
bool ekTile::operator!=(const ekTile& t) const { return !sameBox(*this, t); }
void ekTile::clipPositive() {
    clipAxis(x, nx);
    clipAxis(y, ny);
}

ekTileFloat::ekTileFloat(const ekTileFloat& a, const ekTileFloat& b) { intersectBox(a, b, *this); }
bool ekTileFloat::contains(const ekTileFloat& t) const { return containsBox(*this, t); }
bool ekTileFloat::contains(const ekTileFloat& t, float xlimit, float ylimit, float zlimit) const {
    return containsBox(*this, t, xlimit, ylimit, zlimit);
}
bool ekTileFloat::operator==(const ekTileFloat& t) const { return sameBox(*this, t); }
bool ekTileFloat::operator!=(const ekTileFloat& t) const { return !sameBox(*this, t); }
void ekTileFloat::clipPositive() {
    clipAxis(x, nx);
    clipAxis(y, ny);
}
