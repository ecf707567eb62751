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

template <class T>
void intersectAxisF(T ao, T an, T bo, T bn, T& o, T& n) {
    o = std::max(ao, bo);
    n = std::min(ao + an, bo + bn) - o;
}

template <class T>
bool containsAxisF(T o, T n, T to, T tn) {
    return o <= to && to + tn <= o + n;
}

template <class T>
bool containsAxisF(T o, T n, T to, T tn, T limit) {
    if (o > to) return false;
    return !(to + tn > o + n && limit > o + n);
}

template <class T>
void clipAxisF(T& o, T& n) {
    if (!(o < 0)) return;
    n += o;
    o = 0;
    if (n < 0) n = 0;
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
// ekTile

ekTile::ekTile(const ekTile& a, const ekTile& b) {
    intersectAxis(a.x, a.nx, b.x, b.nx, x, nx);
    intersectAxis(a.y, a.ny, b.y, b.ny, y, ny);
    intersectAxis(a.z, a.nz, b.z, b.nz, z, nz);
}

bool ekTile::contains(const ekTile& t) const {
    return containsAxis(x, nx, t.x, t.nx) && containsAxis(y, ny, t.y, t.ny) &&
           containsAxis(z, nz, t.z, t.nz);
}

bool ekTile::contains(const ekTile& t, int xlimit, int ylimit, int zlimit) const {
    return containsAxis(x, nx, t.x, t.nx, xlimit) && containsAxis(y, ny, t.y, t.ny, ylimit) &&
           containsAxis(z, nz, t.z, t.nz, zlimit);
}

bool ekTile::operator==(const ekTile& t) const {
    return x == t.x && y == t.y && z == t.z && nx == t.nx && ny == t.ny && nz == t.nz;
}

bool ekTile::operator!=(const ekTile& t) const { return !(*this == t); }

void ekTile::clipPositive() {
    clipAxis(x, nx);
    clipAxis(y, ny);
}

// ---------------------------------------------------------------------------
// ekTileFloat

ekTileFloat::ekTileFloat(const ekTileFloat& a, const ekTileFloat& b) {
    intersectAxisF(a.x, a.nx, b.x, b.nx, x, nx);
    intersectAxisF(a.y, a.ny, b.y, b.ny, y, ny);
    intersectAxisF(a.z, a.nz, b.z, b.nz, z, nz);
}

bool ekTileFloat::contains(const ekTileFloat& t) const {
    return containsAxisF(x, nx, t.x, t.nx) && containsAxisF(y, ny, t.y, t.ny) &&
           containsAxisF(z, nz, t.z, t.nz);
}

bool ekTileFloat::contains(const ekTileFloat& t, float xlimit, float ylimit, float zlimit) const {
    return containsAxisF(x, nx, t.x, t.nx, xlimit) && containsAxisF(y, ny, t.y, t.ny, ylimit) &&
           containsAxisF(z, nz, t.z, t.nz, zlimit);
}

bool ekTileFloat::operator==(const ekTileFloat& t) const {
    return x == t.x && y == t.y && z == t.z && nx == t.nx && ny == t.ny && nz == t.nz;
}

bool ekTileFloat::operator!=(const ekTileFloat& t) const { return !(*this == t); }

void ekTileFloat::clipPositive() {
    clipAxisF(x, nx);
    clipAxisF(y, ny);
}
