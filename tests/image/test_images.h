// Small image classes for the image core tests: there is no concrete image in
// the core itself, so the tests bring their own.
#ifndef EKS_TESTS_IMAGE_TEST_IMAGES_H
#define EKS_TESTS_IMAGE_TEST_IMAGES_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "eks/image.h"

// Every attribute bit the setters use.
constexpr int kAllAttributeBits =
    ekDataTypeBit | ekOrderBit | ekPageSizeBit | ekSizeBits | ekCoordSpaceBit | ekColorModelBit |
    ekMinValueBit | ekMaxValueBit | ekScaleBit | ekFillBit | ekCompressionBit | ekPageBorderBit;

// An image with no data whose reset follows the usual derivation order and
// whose protected parts are reachable from the tests.
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
    using ekImage::setNumInputs;
    using ekLink::anyAltered;
    using ekLink::isAltered;
    using ekLink::isSet;
    using ekLink::markSet;
    using ekLink::setStatus;

    // Direct views of the fields (no reset).
    ekSize& rawSize() { return size; }
    ekPixel& rawFill() { return fill; }
    ekPixel& rawMin() { return minValue; }
    ekPixel& rawMax() { return maxValue; }
    int rawPageBytes() const { return pageBytes; }
    ekXYZCstruct<int32_t>& rawPageSize() { return pageSize; }
    ekColorModel rawColorModel() const { return colorModel; }
    void rawSetColorModel(ekColorModel m) { colorModel = m; }
    void rawSetDataType(ekType t) { dataType = t; }
    void rawSetOrder(ekOrder o) { order = o; }
    void rawSetCoordSpace(ekCoordSpace cs) { coordSpace = cs; }
    void rawSetScale(double lo, double hi) { scaleMin = lo, scaleMax = hi; }
    void runImageReset() { ekImage::reset(); }

    int resets = 0;
    int pageX = 16, pageY = 16;  // default page of this class
    std::string trace;           // the derivation steps of the last reset

    ekStatus getSubTile3D(int, int, int, int, int, int, void*, int, int, int, int, int, int,
                          const ekConfig*) override {
        return resetCheck();
    }
    ekStatus setSubTile3D(int, int, int, int, int, int, void*, int, int, int, int, int, int,
                          const ekConfig*) override {
        return resetCheck();
    }

protected:
    void reset() override {
        ++resets;
        trace.clear();
        initColorModel(0);
        trace += "colour:" + std::to_string(colorModel) + ' ';
        initMinMax(0);
        char min[32];
        std::snprintf(min, sizeof min, "%g", minValue.getElem(0));
        trace += std::string("min:") + min + ' ';
        initPageSize(pageX, pageY, 1, 0);
        trace += "page:" + std::to_string(pageSize.c) + ' ';
        checkColorModel();
        trace += "check:" + std::to_string(size.c);
        ekImage::reset();
    }
};

// A record of one primitive call: its name, its integer arguments, its
// pointers and a copy of the configuration it was given (it may be a local of
// the caller that is gone by the time the test looks).
struct PrimitiveCall {
    std::string name;
    std::vector<int> ints;
    const void* data = nullptr;
    const void* extra = nullptr;
    const void* other = nullptr;
    const ekConfig* cfgPtr = nullptr;
    ekConfig cfg;
};

// Records every primitive call and answers with a chosen status.
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
    ekLockedTile* lockAnswer = nullptr;

    ekStatus getSubTile3D(int x, int y, int z, int nx, int ny, int nz, void* data, int bx, int by,
                          int bz, int bnx, int bny, int bnz, const ekConfig* cfg) override {
        record("get", {x, y, z, nx, ny, nz, bx, by, bz, bnx, bny, bnz}, data, cfg);
        return answer;
    }
    ekStatus setSubTile3D(int x, int y, int z, int nx, int ny, int nz, void* data, int bx, int by,
                          int bz, int bnx, int bny, int bnz, const ekConfig* cfg) override {
        record("set", {x, y, z, nx, ny, nz, bx, by, bz, bnx, bny, bnz}, data, cfg);
        return answer;
    }
    ekStatus fillTile3D(int x, int y, int z, int nx, int ny, int nz, void* value,
                        const ekConfig* cfg, const ekTile* keepOut) override {
        record("fill", {x, y, z, nx, ny, nz}, value, cfg).extra = keepOut;
        return answer;
    }
    ekStatus seekTile3D(int x, int y, int z, int nx, int ny, int nz, const ekConfig* cfg,
                        ekSemaphore* sem, ekImage* other) override {
        PrimitiveCall& c = record("seek", {x, y, z, nx, ny, nz}, nullptr, cfg);
        c.extra = sem;
        c.other = other;
        return answer;
    }
    ekLockedTile* lockTile3D(int x, int y, int z, int nx, int ny, int nz, const ekConfig* cfg,
                             int mode) override {
        record("lock", {x, y, z, nx, ny, nz, mode}, nullptr, cfg);
        return lockAnswer;
    }
    ekStatus copyTileCfg(int x, int y, int z, int nx, int ny, int nz, ekImage* other, int ox,
                         int oy, int oz, const ekConfig* cfg, int direction) override {
        record("copy", {x, y, z, nx, ny, nz, ox, oy, oz, direction}, nullptr, cfg).other = other;
        return answer;
    }

private:
    PrimitiveCall& record(const char* name, std::vector<int> ints, const void* data,
                          const ekConfig* cfg) {
        PrimitiveCall c;
        c.name = name;
        c.ints = std::move(ints);
        c.data = data;
        c.cfgPtr = cfg;
        if (cfg != nullptr) c.cfg = *cfg;
        calls.push_back(c);
        return calls.back();
    }
};

// An image with real pixels: w x h x 1, interleaved, stored as doubles and
// typed as dataType (ekUChar unless changed). Its primitives honour the parts
// of a configuration the base copy uses (type, channel count, channel list or
// offset) and give the fill value outside the image, as the concrete classes
// of the library do; the coordinate space of a configuration is ignored.
class GridImage : public ekImage {
public:
    GridImage(int w, int h, int c, ekType type = ekUChar) : ekImage(ekSize(w, h, 1, c)) {
        dataType = type;
        order = ekInterleaved;
        coordSpace = ekLowerLeft;
        setNumInputs(1);
        setAllowed(ekDataTypeBit | ekOrderBit | ekSizeBits | ekCoordSpaceBit | ekColorModelBit);
        pixels.assign(size_t(w) * size_t(h) * size_t(c), 0.0);
    }

    double& at(int x, int y, int ch) {
        return pixels[(size_t(y) * size_t(size.x) + size_t(x)) * size_t(size.c) + size_t(ch)];
    }

    std::vector<double> pixels;
    ekStatus failWith = ekOkay;  // status the primitives answer instead of working
    int gets = 0, sets = 0;
    using ekLink::setStatus;

    ekStatus getSubTile3D(int x, int y, int z, int nx, int ny, int nz, void* data, int bx, int by,
                          int bz, int bnx, int bny, int bnz, const ekConfig* cfg) override {
        ++gets;
        ekStatus s = resetCheck();
        if (s != ekOkay) return s;
        if (failWith != ekOkay) return failWith;
        forEach(x, y, z, nx, ny, nz, bx, by, bz, bnx, bny, bnz, cfg,
                [&](bool inside, int px, int py, int ch, size_t at_, ekType t) {
                    double v = inside ? at(px, py, ch) : fill.getElem(ch);
                    put(data, t, at_, v);
                });
        return ekOkay;
    }

    ekStatus setSubTile3D(int x, int y, int z, int nx, int ny, int nz, void* data, int bx, int by,
                          int bz, int bnx, int bny, int bnz, const ekConfig* cfg) override {
        ++sets;
        ekStatus s = resetCheck();
        if (s != ekOkay) return s;
        if (failWith != ekOkay) return failWith;
        forEach(x, y, z, nx, ny, nz, bx, by, bz, bnx, bny, bnz, cfg,
                [&](bool inside, int px, int py, int ch, size_t at_, ekType t) {
                    if (inside) at(px, py, ch) = get(data, t, at_);
                });
        setAltered(ekPropagateBit);
        return ekOkay;
    }

protected:
    void reset() override {
        initColorModel(0);
        initMinMax(0);
        initPageSize(size.x, size.y, size.z, 0);
        checkColorModel();
        pixels.resize(size_t(size.x > 0 ? size.x : 0) * size_t(size.y > 0 ? size.y : 0) *
                      size_t(size.c > 0 ? size.c : 0));
        if (getStatus() == ekOkay) ekImage::reset();
    }

private:
    template <class F>
    void forEach(int x, int y, int z, int nx, int ny, int nz, int bx, int by, int bz, int bnx,
                 int bny, int bnz, const ekConfig* cfg, F f) {
        const int nch = cfg != nullptr && cfg->nchans != 0 ? cfg->nchans : size.c;
        const ekType t = cfg != nullptr ? cfg->type : dataType;
        for (int k = z; k < z + nz; ++k)
            for (int j = y; j < y + ny; ++j)
                for (int i = x; i < x + nx; ++i) {
                    if (i < bx || i >= bx + bnx || j < by || j >= by + bny || k < bz ||
                        k >= bz + bnz)
                        continue;
                    const size_t pixel =
                        (size_t(k - bz) * size_t(bny) + size_t(j - by)) * size_t(bnx) +
                        size_t(i - bx);
                    for (int b = 0; b < nch; ++b) {
                        int ch = b;
                        if (cfg != nullptr)
                            ch = cfg->chanList != nullptr ? cfg->chanList[b + cfg->chanOffset]
                                                          : b + cfg->chanOffset;
                        bool inside = !outOfBound(i, j, k) && ch >= 0 && ch < size.c;
                        if (ch < 0 || ch >= size.c) continue;
                        f(inside, i, j, ch, pixel * size_t(nch) + size_t(b), t);
                    }
                }
    }

    static void put(void* data, ekType t, size_t i, double v) {
        switch (t) {
            case ekUChar:
                static_cast<uint8_t*>(data)[i] = uint8_t(int64_t(v));  // low bits
                break;
            case ekUShort:
                static_cast<uint16_t*>(data)[i] = uint16_t(int64_t(v));
                break;
            case ekFloat:
                static_cast<float*>(data)[i] = float(v);
                break;
            case ekDouble:
                static_cast<double*>(data)[i] = v;
                break;
            default:
                break;
        }
    }

    static double get(const void* data, ekType t, size_t i) {
        switch (t) {
            case ekUChar:
                return static_cast<const uint8_t*>(data)[i];
            case ekUShort:
                return static_cast<const uint16_t*>(data)[i];
            case ekFloat:
                return static_cast<const float*>(data)[i];
            case ekDouble:
                return static_cast<const double*>(data)[i];
            default:
                return 0.0;
        }
    }
};

#endif  // EKS_TESTS_IMAGE_TEST_IMAGES_H
