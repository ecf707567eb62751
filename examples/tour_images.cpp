// SPDX-License-Identifier: Apache-2.0
// The tour, part 2: an image class of the host's own, its lazily derived
// attributes and its coordinate space.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "eks/eks.h"
#include "tour.h"

// --- Images -------------------------------------------------------------------
// An operator of the host's own: a procedural gradient. It stores no pixels;
// it derives its attributes lazily (colour model, value range, fill) and
// computes any box on request, in whatever data type and coordinate space the
// caller asks for.
class Gradient : public ekImage {
public:
    Gradient(int w, int h, double step) : ekImage(ekSize(w, h, 1, 1)), step(step) {
        dataType = ekUChar;
        order = ekInterleaved;
        coordSpace = ekLowerLeft;  // (0, 0) is the bottom-left pixel
        setAllowed(ekDataTypeBit);
    }
    int resets = 0;

    ekStatus getSubTile3D(int x, int y, int z, int nx, int ny, int nz, void* data, int bx, int by,
                          int bz, int bnx, int bny, int bnz, const ekConfig* cfg) override {
        ekStatus s = resetCheck();
        if (s != ekOkay) return s;
        const ekType type = cfg ? cfg->type : dataType;
        const int channels = cfg && cfg->nchans > 0 ? cfg->nchans : 1;
        const int bytes = ekDataSize(type, 1);
        if (type == ekBit || bytes == 0) return ekNotImplemented;  // whole bytes only
        for (int k = z; k < z + nz; ++k)
            for (int j = y; j < y + ny; ++j)
                for (int i = x; i < x + nx; ++i) {
                    if (i < bx || i >= bx + bnx || j < by || j >= by + bny || k < bz ||
                        k >= bz + bnz)
                        continue;
                    int u = i, v = j;  // the caller's position in the gradient's own space
                    if (cfg && cfg->coordSpace) mapXY(cfg->coordSpace, u, v, ekCoordSpace(0));
                    ekPixel value(ekDouble, 1);
                    value.setElem(outOfBound(u, v, k) ? fill.getElem(0) : step * (u + v), 0);
                    ekPixel converted;
                    converted.convert(value, type, 1);
                    int64_t pixel = (int64_t(k - bz) * bny + (j - by)) * bnx + (i - bx);
                    std::memcpy(static_cast<char*>(data) + pixel * channels * bytes,
                                converted.elems(), size_t(bytes));
                }
        return ekOkay;
    }
    ekStatus setSubTile3D(int, int, int, int, int, int, void*, int, int, int, int, int, int,
                          const ekConfig*) override {
        return ekNotAllowed;  // computed, not stored
    }

protected:
    void reset() override {
        ++resets;
        initColorModel(0);
        initMinMax(0);
        initPageSize(64, 64, 1, 0);
        checkColorModel();
        ekImage::reset();  // fill adapted: the minimum value, in the data type
    }

private:
    double step;
};

// A plain pixel store, upper-left origin, for copying into.
class Canvas : public ekImage {
public:
    Canvas(int w, int h) : ekImage(ekSize(w, h, 1, 1)), pixels(size_t(w) * size_t(h)) {
        dataType = ekUChar;
        order = ekInterleaved;
        coordSpace = ekUpperLeft;  // (0, 0) is the top-left pixel
    }
    std::vector<unsigned char> pixels;

    ekStatus getSubTile3D(int x, int y, int, int nx, int ny, int, void* data, int, int, int, int,
                          int, int, const ekConfig* cfg) override {
        return move(x, y, nx, ny, static_cast<unsigned char*>(data), cfg, true);
    }
    ekStatus setSubTile3D(int x, int y, int, int nx, int ny, int, void* data, int, int, int, int,
                          int, int, const ekConfig* cfg) override {
        return move(x, y, nx, ny, static_cast<unsigned char*>(data), cfg, false);
    }

protected:
    void reset() override {
        initColorModel(0);
        initMinMax(0);
        initPageSize(size.x, size.y, 1, 0);
        checkColorModel();
        ekImage::reset();
    }

private:
    // Whole tiles in the canvas's own layout only, which is all a copy needs.
    ekStatus move(int x, int y, int nx, int ny, unsigned char* data, const ekConfig* cfg,
                  bool read) {
        ekStatus s = resetCheck();
        if (s != ekOkay) return s;
        if (cfg) return ekNotImplemented;
        for (int j = 0; j < ny; ++j)
            for (int i = 0; i < nx; ++i) {
                if (outOfBound(x + i, y + j)) continue;
                unsigned char& p = pixels[size_t(y + j) * size_t(size.x) + size_t(x + i)];
                if (read)
                    data[j * nx + i] = p;
                else
                    p = data[j * nx + i];
            }
        if (!read) setAltered(ekPropagateBit);  // consumers recompute; the canvas keeps its data
        return ekOkay;
    }
};

static void printRows(const char* title, const unsigned char* p, int w, int h) {
    std::printf("  %s\n", title);
    for (int y = 0; y < h; ++y) {
        std::printf("   ");
        for (int x = 0; x < w; ++x) std::printf(" %3d", p[y * w + x]);
        std::printf("\n");
    }
}

void tourImages() {
    std::printf("\nImages: a procedural gradient of the host's own\n");
    ekLink::setResetCallbackDefaultEnabled(0, 1);  // quiet from here on
    Gradient ramp(6, 3, 10.0);
    std::printf("  constructed: %d resets so far (nothing is derived yet)\n", ramp.resets);
    ekColorModel model = ramp.getColorModel();  // the first query runs the reset
    std::printf("  asked for its colour model: %s, after %d reset\n", ekColorModelName(model),
                ramp.resets);
    double lo = ramp.getMinValue(0), hi = ramp.getMaxValue(0), fill = ramp.getFillValue(0);
    std::printf("  derived range %g..%g, fill %g (the minimum), page %d bytes\n", lo, hi, fill,
                ramp.getPageSize());
    ramp.setDataType(ekShort);
    std::printf("  setDataType(ekShort) only records the change; %d reset so far\n", ramp.resets);
    lo = ramp.getMinValue(-1), hi = ramp.getMaxValue(-1), fill = ramp.getFillValue(0);
    std::printf("  the next query derives again: range %g..%g, page %d bytes, %d resets;\n", lo, hi,
                ramp.getPageSize(), ramp.resets);
    std::printf("  the fill keeps its value %g, now stored as a short\n", fill);
    ramp.setDataType(ekUChar);

    std::printf("  its own space is lower-left; the caller's upper-left pixel (0, 0) is");
    int x = 0, y = 0;
    ramp.mapXY(ekUpperLeft, x, y, ekCoordSpace(0));
    std::printf(" its (%d, %d)\n", x, y);
    unsigned char own[18], upperLeft[18];
    ramp.getTile(0, 0, 6, 3, own, nullptr);
    ekConfig flipped(ekUChar, ekInterleaved, 1, nullptr, 0, ekUpperLeft);
    ramp.getTile(0, 0, 6, 3, upperLeft, &flipped);
    printRows("rows as stored in its own space, row 0 (the bottom of the picture) first:", own, 6,
              3);
    printRows("the same tile asked for in ekUpperLeft: row 0 is now the top:", upperLeft, 6, 3);

    Canvas canvas(6, 3);
    canvas << ramp;  // the whole extent, mapped into the canvas's upper-left space
    std::printf("  canvas << ramp: %s\n", ekStatusName(canvas.getStatus()));
    printRows("the canvas (upper-left) holds the picture upright:", canvas.pixels.data(), 6, 3);
}
