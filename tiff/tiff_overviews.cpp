// SPDX-License-Identifier: Apache-2.0
// ekTiffImg::buildOverviews: reduced-resolution levels of a created file,
// computed tile by tile from the full resolution (read through the page
// cache, a band of source rows at a time), so that memory stays bounded
// whatever the image's size.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>

#include "eks/tiff.h"
#include "tiff/tiff_state.h"

namespace {

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
        return integral ? std::floor(mean + 0.5) : mean;
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

}  // namespace

ekStatus ekTiffImg::buildOverviews(const int* factors, int count, ekTiffResampling method) {
    if (state == nullptr) return ekNoMemory;
    if (!state->writable) return ekNotAllowed;
    if (count < 0 || (count > 0 && factors == nullptr) || method < ekTiffNearest ||
        method > ekTiffMode) {
        state->file.note(true, "overviews need factors of 2 or more and a known method");
        return ekBadInput;
    }
    // Levels from the largest to the smallest, each factor once.
    constexpr int kMaxLevels = 32;
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
    for (int i = 0; s == ekOkay && i < count; ++i) s = buildLevel(sorted[i], method);
    return s == ekOkay ? state->store.commit() : s;
}

// One level, `f` times smaller: every tile from the band of f x tile-height
// source rows it covers, read a tile row at a time as doubles.
ekStatus ekTiffImg::buildLevel(int f, ekTiffResampling method) {
    const ekTiffLayout& l = state->layout();
    const int32_t ow = int32_t((int64_t(l.width) + f - 1) / f);
    const int32_t oh = int32_t((int64_t(l.height) + f - 1) / f);
    int64_t first = 0;
    ekStatus s = state->store.addLevel(ow, oh, first);
    if (s != ekOkay) return s;
    const int across = (ow + l.pageW - 1) / l.pageW, down = (oh + l.pageH - 1) / l.pageH;
    const int nc = l.pageChans;
    const int64_t srcW = int64_t(l.pageW) * f;  // source columns of one tile
    const bool integral = l.type != ekFloat && l.type != ekDouble;
    double* rows = static_cast<double*>(std::malloc(size_t(srcW * f * nc) * sizeof(double)));
    double* tile =
        static_cast<double*>(std::malloc(size_t(l.pageW) * l.pageH * nc * sizeof(double)));
    void* page = std::malloc(size_t(l.pageBytes));
    double* scratch = static_cast<double*>(std::malloc(size_t(f) * f * sizeof(double)));
    ekMemoryImg pageImage(page, ekSize(l.pageW, l.pageH, 1, nc), l.type,
                          nc > 1 ? ekInterleaved : ekSeparate);
    if (rows == nullptr || tile == nullptr || page == nullptr || scratch == nullptr) s = ekNoMemory;
    for (int plane = 0; s == ekOkay && plane < l.planes; ++plane)
        for (int ty = 0; s == ekOkay && ty < down; ++ty)
            for (int tx = 0; s == ekOkay && tx < across; ++tx) {
                const ekConfig cfg(ekDouble, ekInterleaved, nc, nullptr, l.planes > 1 ? plane : 0,
                                   ekCoordSpace(0), ekColorModel(0));
                for (int r = 0; s == ekOkay && r < l.pageH; ++r) {
                    double* out = tile + int64_t(r) * l.pageW * nc;
                    const int64_t oy = int64_t(ty) * l.pageH + r;
                    const int64_t sy = oy * f, sx = int64_t(tx) * srcW;
                    const int m = int(std::min<int64_t>(f, l.height - sy));
                    const int cols = int(std::min<int64_t>(srcW, l.width - sx));
                    if (oy >= oh || cols <= 0) {
                        for (int64_t i = 0; i < int64_t(l.pageW) * nc; ++i) out[i] = 0;
                        continue;
                    }
                    s = getSubTile3D(int(sx), int(sy), 0, cols, m, 1, rows, int(sx), int(sy), 0,
                                     int(srcW), f, 1, &cfg);
                    for (int x = 0; s == ekOkay && x < l.pageW; ++x)
                        for (int c = 0; c < nc; ++c) {
                            const int n = std::min(f, cols - x * f);
                            out[int64_t(x) * nc + c] =
                                n <= 0 ? 0
                                       : reduce(rows + int64_t(x) * f * nc + c, n, m, srcW * nc, nc,
                                                method, integral, scratch);
                        }
                }
                const ekConfig asDoubles(ekDouble, ekInterleaved, nc, nullptr, 0, ekCoordSpace(0),
                                         ekColorModel(0));
                if (s == ekOkay) s = pageImage.setTile(0, 0, l.pageW, l.pageH, tile, &asDoubles);
                const int64_t index = first + (int64_t(plane) * down + ty) * across + tx;
                if (s == ekOkay) s = state->store.writePage(index, page);
            }
    std::free(rows);
    std::free(tile);
    std::free(page);
    std::free(scratch);
    return s;
}
