// SPDX-License-Identifier: Apache-2.0
// The tests' own images (protected parts reachable) and reference helpers:
// element access by the buffer's element-index table.
#ifndef EKS_TESTS_TEST_IMAGES_H
#define EKS_TESTS_TEST_IMAGES_H

#include <algorithm>
#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "eks/image.h"
#include "eks/images.h"
#include "transfer/reference_mover.h"

constexpr ekCoordSpace kNoSpace = ekCoordSpace(0);  // the image's own
constexpr int kAllAttributeBits =
    ekDataTypeBit | ekOrderBit | ekPageSizeBit | ekSizeBits | ekCoordSpaceBit | ekColorModelBit |
    ekMinValueBit | ekMaxValueBit | ekScaleBit | ekFillBit | ekCompressionBit | ekPageBorderBit;

// The seven fields of a configuration that describe a layout, for comparing.
inline std::vector<intptr_t> configFields(const ekConfig& c) {
    return {c.type,      c.order, c.coordSpace, c.nchans, c.chanOffset, intptr_t(c.chanList),
            c.colorModel};
}

#define EK_NO_DATA_PRIMITIVE(name)                                                   \
    ekStatus name(int, int, int, int, int, int, void*, int, int, int, int, int, int, \
                  const ekConfig*) override {                                        \
        return resetCheck();                                                         \
    }

// An 8 x 6 image without data whose reset derives in the usual order (16 x 16
// pages) and whose protected parts and fields are reachable from the tests.
class AttrImage : public ekImage {
public:
    explicit AttrImage(ekType type = ekUChar, ekOrder o = ekInterleaved, int c = 1)
        : ekImage(ekSize(8, 6, 1, c)) {
        dataType = type;
        order = o;
        coordSpace = ekLowerLeft;
        setNumInputs(4);
    }
    void allow(int bits) { setAllowed(bits); }
    using ekImage::checkColorModel;
    using ekImage::initColorModel;
    using ekImage::initMinMax;
    using ekImage::initPageSize;
    using ekImage::isPartialPage;
    using ekImage::isValidPage;
    using ekImage::needColorConv;
    using ekImage::outOfBound;
    using ekLink::anyAltered;
    using ekLink::isAltered;
    using ekLink::isSet;

    ekSize& rawSize() { return size; }
    ekPixel& rawFill() { return fill; }
    ekPixel& rawMin() { return minValue; }
    ekColorModel& rawModel() { return colorModel; }
    ekXYZCstruct<int32_t>& rawPageSize() { return pageSize; }
    int rawPageBytes() const { return pageBytes; }
    int resets = 0;

    EK_NO_DATA_PRIMITIVE(getSubTile3D)
    EK_NO_DATA_PRIMITIVE(setSubTile3D)

protected:
    void reset() override {
        ++resets;
        initColorModel(0);
        initMinMax(0);
        initPageSize(16, 16, 1, 0);
        checkColorModel();
        ekImage::reset();
    }
};

// One primitive call: name, integer arguments, pointers and a copy of the
// configuration (the caller's may be gone by the time the test looks).
struct PrimitiveCall {
    std::string name;
    std::vector<int> ints;
    const void *data, *extra, *other;
    const ekConfig* cfgPtr;
    ekConfig cfg;
};

// A 20 x 10 x 1 x 3 ekUShort RGB image in ekUpperLeft space that records every
// primitive call and answers with a chosen status.
class RecordingImage : public ekImage {
public:
    RecordingImage() : ekImage(ekSize(20, 10, 1, 3)) {
        dataType = ekUShort;
        order = ekInterleaved;
        coordSpace = ekUpperLeft;
        colorModel = ekRGB;
        markSet(ekColorModelBit);
    }
    std::vector<PrimitiveCall> calls;
    ekStatus answer = ekOkay;

    ekStatus getSubTile3D(int x, int y, int z, int nx, int ny, int nz, void* data, int bx, int by,
                          int bz, int bnx, int bny, int bnz, const ekConfig* cfg) override {
        return record("get", {x, y, z, nx, ny, nz, bx, by, bz, bnx, bny, bnz}, data, cfg);
    }
    ekStatus setSubTile3D(int x, int y, int z, int nx, int ny, int nz, void* data, int bx, int by,
                          int bz, int bnx, int bny, int bnz, const ekConfig* cfg) override {
        return record("set", {x, y, z, nx, ny, nz, bx, by, bz, bnx, bny, bnz}, data, cfg);
    }
    ekStatus fillTile3D(int x, int y, int z, int nx, int ny, int nz, void* value,
                        const ekConfig* cfg, const ekTile* keepOut) override {
        return record("fill", {x, y, z, nx, ny, nz}, value, cfg, keepOut);
    }
    ekStatus seekTile3D(int x, int y, int z, int nx, int ny, int nz, const ekConfig* cfg,
                        ekSemaphore* sem, ekImage* other) override {
        return record("seek", {x, y, z, nx, ny, nz}, nullptr, cfg, sem, other);
    }
    ekLockedTile* lockTile3D(int x, int y, int z, int nx, int ny, int nz, const ekConfig* cfg,
                             int mode) override {
        record("lock", {x, y, z, nx, ny, nz, mode}, nullptr, cfg);
        return reinterpret_cast<ekLockedTile*>(this);
    }
    ekStatus copyTileCfg(int x, int y, int z, int nx, int ny, int nz, ekImage* other, int ox,
                         int oy, int oz, const ekConfig* cfg, int direction) override {
        return record("copy", {x, y, z, nx, ny, nz, ox, oy, oz, direction}, nullptr, cfg, nullptr,
                      other);
    }

private:
    ekStatus record(const char* name, std::vector<int> ints, const void* data, const ekConfig* cfg,
                    const void* extra = nullptr, const void* other = nullptr) {
        calls.push_back({name, std::move(ints), data, extra, other, cfg, cfg ? *cfg : ekConfig()});
        return answer;
    }
};

// A w x h x 1 interleaved ekUChar image with pixels held as doubles. Its
// primitives honour what the base copy uses of a configuration (ekUChar or
// ekDouble, channel count, list or offset; not the space) and give the fill
// value outside the image.
class GridImage : public ekImage {
public:
    GridImage(int w, int h, int c) : ekImage(ekSize(w, h, 1, c)) {
        dataType = ekUChar;
        order = ekInterleaved;
        coordSpace = ekLowerLeft;
        setNumInputs(1);
        pixels.assign(size_t(w) * size_t(h) * size_t(c), 0.0);
    }
    double& at(int x, int y, int ch) { return pixels[(size_t(y) * size.x + x) * size.c + ch]; }
    // value = base + 100 * channel + 10 * y + x
    void paint(double base) {
        for (int y = 0; y < size.y; ++y)
            for (int x = 0; x < size.x; ++x)
                for (int c = 0; c < size.c; ++c) at(x, y, c) = base + 100 * c + 10 * y + x;
    }
    void paintAll(double v) { std::fill(pixels.begin(), pixels.end(), v); }
    using ekLink::setStatus;
    std::vector<double> pixels;
    ekStatus failWith = ekOkay;  // answered instead of moving data
    int gets = 0, sets = 0;

    ekStatus getSubTile3D(int x, int y, int, int nx, int ny, int, void* data, int bx, int by, int,
                          int bnx, int bny, int, const ekConfig* cfg) override {
        ++gets;
        return move(false, x, y, nx, ny, data, bx, by, bnx, bny, cfg);
    }
    ekStatus setSubTile3D(int x, int y, int, int nx, int ny, int, void* data, int bx, int by, int,
                          int bnx, int bny, int, const ekConfig* cfg) override {
        ++sets;
        return move(true, x, y, nx, ny, data, bx, by, bnx, bny, cfg);
    }

protected:
    void reset() override {
        initColorModel(0);
        initMinMax(0);
        initPageSize(size.x, size.y, size.z, 0);
        checkColorModel();
        if (getStatus() == ekOkay) ekImage::reset();
    }

private:
    ekStatus move(bool write, int x, int y, int nx, int ny, void* data, int bx, int by, int bnx,
                  int bny, const ekConfig* cfg) {
        ekStatus s = resetCheck();
        if (s == ekOkay) s = failWith;
        if (s != ekOkay) return s;
        const int nch = cfg && cfg->nchans ? cfg->nchans : size.c;
        const bool dbl = (cfg ? cfg->type : dataType) == ekDouble;
        for (int j = std::max(y, by); j < std::min(y + ny, by + bny); ++j)
            for (int i = std::max(x, bx); i < std::min(x + nx, bx + bnx); ++i)
                for (int b = 0; b < nch; ++b) {
                    const int ch = cfg ? cfg->mapChan(b) : b;
                    if (ch < 0 || ch >= size.c) continue;
                    const size_t k = (size_t(j - by) * size_t(bnx) + size_t(i - bx)) * nch + b;
                    double* d = static_cast<double*>(data);
                    uint8_t* u = static_cast<uint8_t*>(data);
                    const bool inside = !outOfBound(i, j);
                    if (write && inside) at(i, j, ch) = dbl ? d[k] : u[k];
                    if (write) continue;
                    const double v = inside ? at(i, j, ch) : fill.getElem(ch);
                    if (dbl)
                        d[k] = v;
                    else
                        u[k] = uint8_t(int64_t(v));
                }
        if (write) setAltered(ekPropagateBit);
        return ekOkay;
    }
};

class TestMemoryImg : public ekMemoryImg {
public:
    using ekLink::anyAltered;
    using ekLink::isAltered;
    using ekLink::isSet;
    using ekLink::setStatus;
    using ekMemoryImg::ekMemoryImg;
    using ekMemoryImg::MergeChangesIntoSeed;
    using ekMemoryImg::syncData;
    using ekSIDImage::SetSeedImage;
    // Counts destructions, so tests can see that an unref destroyed it.
    ~TestMemoryImg() override {
        if (destroyed != nullptr) ++*destroyed;
    }
    int* destroyed = nullptr;
};

// --- Elements, layouts and spaces ----------------------------------------------

const ekType kTypes[9] = {ekBit,   ekUChar, ekChar,  ekUShort, ekShort,
                          ekULong, ekLong,  ekFloat, ekDouble};
const ekOrder kOrders[3] = {ekInterleaved, ekSequential, ekSeparate};

struct Rng {
    std::mt19937 gen;
    explicit Rng(uint32_t seed) : gen(seed) {}
    int in(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gen); }
    bool chance(int percent) { return in(0, 99) < percent; }
    // A position at most `reach` from one of the 32-bit limits.
    int nearLimit(int reach) {
        return chance(50) ? INT_MIN + in(0, reach) : INT_MAX - in(0, reach);
    }
};

// Element index of (x, y, z, channel k) in a dense box of nx * ny * nz pixels
// with nc channels, by the buffer's element-index table.
inline int64_t elementIndex(ekOrder order, int nc, int nx, int ny, int nz, int x, int y, int z,
                            int k) {
    if (nc <= 1) order = ekSeparate;  // a one-channel buffer has one layout
    switch (order) {
        case ekInterleaved:
            return k + int64_t(nc) * (x + int64_t(nx) * (y + int64_t(ny) * z));
        case ekSequential:
            return x + int64_t(nx) * (k + int64_t(nc) * (y + int64_t(ny) * z));
        default:
            return x + int64_t(nx) * (y + int64_t(ny) * (z + int64_t(nz) * k));
    }
}

// Element i of a buffer as an integer, by the transfer tests' reference model
// (the tests' values are small whole numbers; an ekBit element stores v != 0).
inline int64_t readElement(ekType t, const void* base, int64_t i) {
    const ref::Value v = ref::readElem(t, base, i);
    return v.isFloat ? int64_t(v.f) : v.i;
}
inline void writeElement(ekType t, void* base, int64_t i, int64_t v) {
    ref::writeElem(t, base, i,
                   ref::Value{false, t == ekBit ? int64_t(v != 0) : v, 0.0, false, 0.0f});
}
inline size_t bufferBytes(ekType t, int64_t n) {
    return t == ekBit ? size_t((n + 7) / 8) : size_t(n) * size_t(ekDataSize(t, 1));
}

#endif  // EKS_TESTS_TEST_IMAGES_H
