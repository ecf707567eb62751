// SPDX-License-Identifier: Apache-2.0
// ekTiffImg::buildOverviews: reduced-resolution levels of a created file,
// each value computed from its block of the full resolution (read through
// the page cache), tile by tile, so that memory stays bounded whatever the
// image's size. Levels whose blocks never straddle a tile of the full
// resolution (factors that are powers of two dividing the tile's sides, the
// usual 2, 4, 8, 16) are built together in one pass that reads each tile
// once; any other level takes a pass of its own.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "eks/tiff.h"
#include "tiff/tiff_state.h"
#include "tiff/tile_writer.h"

namespace {

constexpr int kMaxLevels = 32;  // overviews one call builds at most

// floor(v + 0.5), the rounding of integer averages, without a call into the
// maths library (which it takes on processors without SSE4.1). Exact for the
// sums of blocks of integers, far below 2^63.
inline double roundHalfUp(double v) {
    const double t = v + 0.5;
    const double i = double(int64_t(t));
    return i > t ? i - 1 : i;
}

// Whether averages of the type are rounded to whole numbers.
bool integralType(ekType type) { return type != ekFloat && type != ekDouble; }

// One output value from the n x m source values of a block (rows `rowStride`
// doubles apart, values `step` apart), for one channel; `scratch` holds n x m.
double reduce(const double* block, int n, int m, int64_t rowStride, int step,
              ekTiffResampling method, bool integral, double* scratch) {
    if (method == ekTiffNearest) return block[0];
    if (method == ekTiffAverage) {
        double sum = 0;
        for (int y = 0; y < m; ++y)
            for (int x = 0; x < n; ++x) sum += block[y * rowStride + int64_t(x) * step];
        const double mean = sum / (double(n) * m);
        return integral ? roundHalfUp(mean) : mean;
    }
    // The most frequent value; among equally frequent ones the first met.
    // Counted on a sorted copy, so that a block of f x f values costs
    // f^2 log f, not f^4.
    double* sorted = scratch;
    for (int i = 0; i < n * m; ++i) sorted[i] = block[(i / n) * rowStride + int64_t(i % n) * step];
    std::sort(sorted, sorted + n * m);
    const auto countOf = [&](double v) {
        return std::upper_bound(sorted, sorted + n * m, v) -
               std::lower_bound(sorted, sorted + n * m, v);
    };
    int64_t most = 0;
    for (int i = 0; i < n * m; i += int(countOf(sorted[i])))
        most = std::max(most, countOf(sorted[i]));
    for (int i = 0; i < n * m; ++i) {
        const double v = block[(i / n) * rowStride + int64_t(i % n) * step];
        if (countOf(v) == most) return v;
    }
    return block[0];
}

// One reduced level: its factor, its size in pixels and tiles, the index of
// its first tile in the file's order of tiles.
struct Level {
    int f = 0;
    int32_t ow = 0, oh = 0;
    int across = 0, down = 0;
    int64_t first = 0;
};

// Whether the blocks of factor f lie within single tiles of the full
// resolution, nested in those of every larger such factor.
bool nests(int f, const ekTiffLayout& l) {
    return (f & (f - 1)) == 0 && l.pageW % f == 0 && l.pageH % f == 0;
}

// Buffers of doubles, the page a tile is converted in when its type has no
// plain cast, and the writer of the levels' tiles.
struct Scratch {
    explicit Scratch(ekTiffImg::State& st)
        : page(std::malloc(size_t(st.layout().pageBytes))),
          image(page, ekSize(st.layout().pageW, st.layout().pageH, 1, st.layout().pageChans),
                st.layout().type, st.layout().pageChans > 1 ? ekInterleaved : ekSeparate),
          tiles(st.store, st.threads.load(), st.layout().pageBytes) {}
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() {
        release();
        std::free(page);
    }
    // n doubles that live until release(); null when memory runs out.
    double* doubles(int64_t n) {
        if (used == kMaxBuffers) return nullptr;
        double* b = static_cast<double*>(std::malloc(size_t(n) * sizeof(double)));
        if (b != nullptr) buffers[used++] = b;
        return b;
    }
    void release() {
        for (int i = 0; i < used; ++i) std::free(buffers[i]);
        used = 0;
    }
    void* page;
    ekMemoryImg image;  // over page, to convert a tile of doubles to the file's type
    ekTiffTileWriter tiles;  // the levels' tiles, encoded while the next ones are computed
    static constexpr int kMaxBuffers = kMaxLevels + 8;
    double* buffers[kMaxBuffers] = {};
    int used = 0;
};

// `nc` channels as interleaved doubles, from image channel `first` on.
ekConfig asDoubles(int nc, int first) {
    return ekConfig(ekDouble, ekInterleaved, nc, nullptr, first, ekCoordSpace(0),
                    ekColorModel(0));
}

template <typename T>
void castEach(const double* from, int64_t n, void* to) {
    T* out = static_cast<T*>(to);
    for (int64_t i = 0; i < n; ++i) out[i] = T(from[i]);
}

// Stores a level's tile of doubles as a page of the file's type, when that
// takes a plain cast: every value is a source value, or an average within the
// type's range and (for integers) already rounded. Packed bits are left to
// the memory image.
bool castTile(ekType type, const double* tile, int64_t n, void* page) {
    switch (type) {
        case ekUChar: castEach<uint8_t>(tile, n, page); return true;
        case ekChar: castEach<int8_t>(tile, n, page); return true;
        case ekUShort: castEach<uint16_t>(tile, n, page); return true;
        case ekShort: castEach<int16_t>(tile, n, page); return true;
        case ekULong: castEach<uint32_t>(tile, n, page); return true;
        case ekLong: castEach<int32_t>(tile, n, page); return true;
        case ekFloat: castEach<float>(tile, n, page); return true;
        case ekDouble: castEach<double>(tile, n, page); return true;
        default: return false;
    }
}

// Converts a level's tile of doubles to the file's type and writes it as
// tile (tx, ty) of `plane`.
ekStatus writeLevelTile(ekTiffImg::State& st, Scratch& mem, const Level& v, int plane,
                        int64_t tx, int64_t ty, double* tile) {
    const ekTiffLayout& l = st.layout();
    const ekConfig cfg = asDoubles(l.pageChans, 0);
    const int64_t values = int64_t(l.pageW) * l.pageH * l.pageChans;
    void* const page = mem.tiles.next();
    if (page == nullptr) return ekNoMemory;
    if (!castTile(l.type, tile, values, page)) {
        const ekStatus s = mem.image.setTile(0, 0, l.pageW, l.pageH, tile, &cfg);
        if (s != ekOkay) return s;
        std::memcpy(page, mem.page, size_t(l.pageBytes));
    }
    mem.tiles.write(v.first + (int64_t(plane) * v.down + ty) * v.across + tx);
    return mem.tiles.status();
}

// Reduces the f x f blocks of `src` (cols x rows values of nc channels, rows
// `stride` doubles apart, its origin on a block corner) into `out` (a level
// tile of doubles, pageW values wide) from output pixel (ox, oy) on.
void reduceInto(const double* src, int cols, int rows, int64_t stride, int nc, int f,
                ekTiffResampling method, bool integral, double* scratch, double* out,
                int outWidth, int ox, int oy) {
    for (int y = 0; y * f < rows; ++y) {
        const int m = std::min(f, rows - y * f);
        double* o = out + (int64_t(oy + y) * outWidth + ox) * nc;
        for (int x = 0; x * f < cols; ++x) {
            const int n = std::min(f, cols - x * f);
            for (int c = 0; c < nc; ++c)
                o[int64_t(x) * nc + c] =
                    reduce(src + y * f * stride + int64_t(x) * f * nc + c, n, m, stride, nc,
                           method, integral, scratch);
        }
    }
}

// Adds each of the cols x rows values of `src` (nc channels, rows `stride`
// doubles apart) into the sum of its f x f block in `out` (pageW values
// wide, the block at the source origin being output pixel (ox, oy)). Each
// sum receives its block's values in row-major order, the order in which
// reduce() adds them, so that the averages come out the same to the last bit.
void addBlocks(const double* src, int cols, int rows, int64_t stride, int nc, int f, double* out,
               int outWidth, int ox, int oy) {
    for (int y = 0; y < rows; ++y) {
        const double* s = src + y * stride;
        double* o = out + (int64_t(oy + y / f) * outWidth + ox) * nc;
        for (int x = 0; x < cols; x += f, o += nc) {
            const int n = std::min(f, cols - x);
            for (int i = 0; i < n; ++i, s += nc)
                for (int c = 0; c < nc; ++c) o[c] += s[c];
        }
    }
}

// The levels whose blocks nest, built in one pass: the full resolution is
// visited in squares of 2 x 2 tiles in Z order, so that the f x f tiles
// under one tile of level f come one after another; each square is read once
// (its tiles decoded together), reduced into the tile of every level above
// it, and a level's tile is written once its last square is in.
class NestedLevels {
public:
    NestedLevels(ekTiffImg& img_, ekTiffImg::State& st_, const Level* levels_, int count_,
                 ekTiffResampling method_, Scratch& mem_)
        : img(img_), st(st_), l(st_.layout()), levels(levels_), count(count_),
          method(method_), mem(mem_) {}

    ekStatus run() {
        const int nc = l.pageChans;
        const int64_t tileValues = int64_t(l.pageW) * l.pageH * nc;
        region = mem.doubles(4 * tileValues);
        scratch = mem.doubles(int64_t(levels[count - 1].f) * levels[count - 1].f);
        for (int k = 0; k < count; ++k) tiles[k] = mem.doubles(tileValues);
        for (int k = 0; k < count; ++k)
            if (tiles[k] == nullptr) return ekNoMemory;
        if (region == nullptr || scratch == nullptr || mem.page == nullptr) return ekNoMemory;
        const int side = levels[count - 1].f;  // squares of the largest factor, in rows
        const int across = l.pagesAcross, down = l.pagesDown;
        for (plane = 0; status == ekOkay && plane < l.planes; ++plane) {
            for (int k = 0; k < count; ++k) std::fill(tiles[k], tiles[k] + tileValues, 0.0);
            for (int64_t y = 0; status == ekOkay && y < down; y += side)
                for (int64_t x = 0; status == ekOkay && x < across; x += side)
                    visit(x, y, side, across, down);
        }
        return status;
    }

private:
    void visit(int64_t x, int64_t y, int size, int across, int down) {
        if (status != ekOkay || x >= across || y >= down) return;
        if (size == 2) {
            reduceSquare(x, y);
        } else {
            const int half = size / 2;
            visit(x, y, half, across, down);
            visit(x + half, y, half, across, down);
            visit(x, y + half, half, across, down);
            visit(x + half, y + half, half, across, down);
        }
        for (int k = 0; status == ekOkay && k < count; ++k)
            if (levels[k].f == size) writeTile(k, x / size, y / size);
    }

    // The 2 x 2 tiles from tile (x, y) on, read as doubles in one request.
    void reduceSquare(int64_t x, int64_t y) {
        const int nc = l.pageChans;
        const int64_t px = x * l.pageW, py = y * l.pageH;
        const int cols = int(std::min<int64_t>(2 * l.pageW, l.width - px));
        const int rows = int(std::min<int64_t>(2 * l.pageH, l.height - py));
        const ekConfig cfg = asDoubles(nc, l.planes > 1 ? plane : 0);
        status = img.getSubTile3D(int(px), int(py), 0, cols, rows, 1, region, int(px), int(py), 0,
                                  2 * l.pageW, 2 * l.pageH, 1, &cfg);
        if (status == ekOkay && method == ekTiffAverage) return sumSquare(x, y, cols, rows);
        for (int k = 0; status == ekOkay && k < count; ++k) {
            const int f = levels[k].f;
            reduceInto(region, cols, rows, int64_t(2) * l.pageW * nc, nc, f, method, integral,
                       scratch, tiles[k], l.pageW, int(x % f) * l.pageW / f,
                       int(y % f) * l.pageH / f);
        }
    }

    // Averages keep sums until a level's tile is complete. With integers the
    // sums are exact, so a level's sums are added up from the level below
    // (a quarter of the values or fewer); floating-point sums are taken from
    // the full resolution, in the order reduce() takes them.
    void sumSquare(int64_t x, int64_t y, int cols, int rows) {
        const int nc = l.pageChans;
        for (int k = 0; k < count; ++k) {
            const int f = levels[k].f;
            const int ox = int(x % f) * l.pageW / f, oy = int(y % f) * l.pageH / f;
            if (k == 0 || !integral) {
                addBlocks(region, cols, rows, int64_t(2) * l.pageW * nc, nc, f, tiles[k], l.pageW,
                          ox, oy);
                continue;
            }
            const int pf = levels[k - 1].f;  // the level below, whose blocks tile these
            const int pox = int(x % pf) * l.pageW / pf, poy = int(y % pf) * l.pageH / pf;
            addBlocks(tiles[k - 1] + (int64_t(poy) * l.pageW + pox) * nc, (cols + pf - 1) / pf,
                      (rows + pf - 1) / pf, int64_t(l.pageW) * nc, nc, f / pf, tiles[k], l.pageW,
                      ox, oy);
        }
    }

    // A level's tile of sums as averages of the blocks' parts within the image.
    // A tile whose blocks are all whole divides by f^2, a power of two: its
    // reciprocal is exact, so multiplying gives the quotient to the last bit.
    void sumsToAverages(int k, int64_t tx, int64_t ty) {
        const int f = levels[k].f, nc = l.pageChans;
        double* t = tiles[k];
        if ((tx + 1) * l.pageW * f <= l.width && (ty + 1) * l.pageH * f <= l.height) {
            const double scale = 1.0 / (double(f) * f);
            const int64_t values = int64_t(l.pageW) * l.pageH * nc;
            if (integral)
                for (int64_t i = 0; i < values; ++i) t[i] = roundHalfUp(t[i] * scale);
            else
                for (int64_t i = 0; i < values; ++i) t[i] *= scale;
            return;
        }
        for (int y = 0; y < l.pageH; ++y) {
            const int64_t sy = ((ty * l.pageH) + y) * f;
            const int m = int(std::max<int64_t>(0, std::min<int64_t>(f, l.height - sy)));
            double* o = t + int64_t(y) * l.pageW * nc;
            for (int x = 0; x < l.pageW; ++x, o += nc) {
                const int64_t sx = ((tx * l.pageW) + x) * f;
                const int n = int(std::max<int64_t>(0, std::min<int64_t>(f, l.width - sx)));
                if (n * m == 0) continue;  // past the level's edge: stays 0
                for (int c = 0; c < nc; ++c) {
                    const double mean = o[c] / (double(n) * m);
                    o[c] = integral ? roundHalfUp(mean) : mean;
                }
            }
        }
    }

    void writeTile(int k, int64_t tx, int64_t ty) {
        if (method == ekTiffAverage) sumsToAverages(k, tx, ty);
        status = writeLevelTile(st, mem, levels[k], plane, tx, ty, tiles[k]);
        std::fill(tiles[k], tiles[k] + int64_t(l.pageW) * l.pageH * l.pageChans, 0.0);
    }

    ekTiffImg& img;
    ekTiffImg::State& st;
    const ekTiffLayout& l;
    const Level* levels;  // ascending factors
    const int count;
    const ekTiffResampling method;
    const bool integral = integralType(l.type);
    Scratch& mem;
    ekStatus status = ekOkay;
    int plane = 0;
    double* region = nullptr;   // 2 x 2 tiles of the full resolution
    double* scratch = nullptr;  // one block, for the mode
    double* tiles[kMaxLevels] = {};  // the tile each level is filling
};

// A level whose blocks may straddle tiles: every tile from the band of
// f x tile-height source rows it covers, read a tile row at a time.
ekStatus separateLevel(ekTiffImg& img, ekTiffImg::State& st, const Level& v,
                       ekTiffResampling method, Scratch& mem) {
    const ekTiffLayout& l = st.layout();
    const int f = v.f, nc = l.pageChans;
    const int64_t srcW = int64_t(l.pageW) * f;  // source columns of one tile
    const bool integral = integralType(l.type);
    double* rows = mem.doubles(srcW * f * nc);
    double* tile = mem.doubles(int64_t(l.pageW) * l.pageH * nc);
    double* scratch = mem.doubles(int64_t(f) * f);
    if (rows == nullptr || tile == nullptr || scratch == nullptr || mem.page == nullptr)
        return ekNoMemory;
    ekStatus s = ekOkay;
    for (int plane = 0; s == ekOkay && plane < l.planes; ++plane)
        for (int ty = 0; s == ekOkay && ty < v.down; ++ty)
            for (int tx = 0; s == ekOkay && tx < v.across; ++tx) {
                const ekConfig cfg = asDoubles(nc, l.planes > 1 ? plane : 0);
                std::fill(tile, tile + int64_t(l.pageW) * l.pageH * nc, 0.0);
                for (int r = 0; s == ekOkay && r < l.pageH; ++r) {
                    const int64_t oy = int64_t(ty) * l.pageH + r;
                    const int64_t sy = oy * f, sx = int64_t(tx) * srcW;
                    const int m = int(std::min<int64_t>(f, l.height - sy));
                    const int cols = int(std::min<int64_t>(srcW, l.width - sx));
                    if (oy >= v.oh || cols <= 0) continue;
                    s = img.getSubTile3D(int(sx), int(sy), 0, cols, m, 1, rows, int(sx), int(sy),
                                         0, int(srcW), f, 1, &cfg);
                    if (s == ekOkay)
                        reduceInto(rows, cols, m, srcW * nc, nc, f, method, integral, scratch,
                                   tile, l.pageW, 0, r);
                }
                if (s == ekOkay) s = writeLevelTile(st, mem, v, plane, tx, ty, tile);
            }
    mem.release();
    return s;
}

}  // namespace

ekStatus ekTiffImg::buildOverviews(const int* factors, int count, ekTiffResampling method) {
    if (state == nullptr) return ekNoMemory;
    if (!state->writable) return ekNotAllowed;
    if (count < 0 || (count > 0 && factors == nullptr) || method < ekTiffNearest ||
        method > ekTiffMode) {
        state->file.note(true, "overviews need factors of 2 or more and a known method");
        return ekBadInput;
    }
    // Levels from the smallest reduction to the largest, each factor once.
    int sorted[kMaxLevels];
    if (count > kMaxLevels) {
        state->file.note(true, "more than %d overviews", kMaxLevels);
        return ekBadInput;
    }
    for (int i = 0; i < count; ++i) {
        if (factors[i] < 2) {
            state->file.note(true, "overview factor %d is below 2", factors[i]);
            return ekBadInput;
        }
        sorted[i] = factors[i];
    }
    std::sort(sorted, sorted + count);
    count = int(std::unique(sorted, sorted + count) - sorted);
    const ekTiffLayout& l = state->layout();
    if (l.slices != 1) {
        state->file.note(true, "unsupported: overviews of a file of several slices");
        return ekNotImplemented;
    }
    ekStatus s = flush();
    if (s == ekOkay) s = buildLevels(sorted, count, method);
    return s == ekOkay ? state->store.commit() : s;
}

// The levels of ascending `factors`, added to the file in that order: those
// whose blocks nest in one pass, the others a pass each.
ekStatus ekTiffImg::buildLevels(const int* factors, int count, ekTiffResampling method) {
    const ekTiffLayout& l = state->layout();
    Level levels[kMaxLevels], nested[kMaxLevels];
    int nestedCount = 0;
    for (int i = 0; i < count; ++i) {
        Level& v = levels[i];
        v.f = factors[i];
        v.ow = int32_t((int64_t(l.width) + v.f - 1) / v.f);
        v.oh = int32_t((int64_t(l.height) + v.f - 1) / v.f);
        v.across = (v.ow + l.pageW - 1) / l.pageW;
        v.down = (v.oh + l.pageH - 1) / l.pageH;
        const ekStatus s = state->store.addLevel(v.ow, v.oh, v.first);
        if (s != ekOkay) return s;
        if (nests(v.f, l)) nested[nestedCount++] = v;
    }
    Scratch mem(*state);
    ekStatus s = ekOkay;
    if (nestedCount > 0) s = NestedLevels(*this, *state, nested, nestedCount, method, mem).run();
    for (int i = 0; s == ekOkay && i < count; ++i)
        if (!nests(levels[i].f, l)) s = separateLevel(*this, *state, levels[i], method, mem);
    const ekStatus placed = mem.tiles.finish();
    return s != ekOkay ? s : placed;
}
