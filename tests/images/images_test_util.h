// SPDX-License-Identifier: Apache-2.0
// Helpers for the memory image and seed image tests: a memory image with its
// protected parts reachable, a small image of another class, and element
// access by the buffer's element-index table (element values through the
// transfer tests' reference model).
#ifndef EKS_TESTS_IMAGES_IMAGES_TEST_UTIL_H
#define EKS_TESTS_IMAGES_IMAGES_TEST_UTIL_H

#include <cstdint>
#include <cstring>
#include <vector>

#include "eks/images.h"
#include "eks/paging.h"
#include "transfer/reference_mover.h"

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

// An image of another class: a constant value everywhere, ekUChar.
class PlainImage : public ekImage {
public:
    PlainImage(int w, int h, int c, unsigned char v) : ekImage(ekSize(w, h, 1, c)), value(v) {
        dataType = ekUChar;
        order = ekInterleaved;
        coordSpace = ekLowerLeft;
        setNumInputs(1);
    }
    unsigned char value;
    using ekLink::setStatus;
    ekStatus getSubTile3D(int, int, int, int nx, int ny, int nz, void* data, int, int, int, int,
                          int, int, const ekConfig* cfg) override {
        const ekStatus s = resetCheck();
        if (s != ekOkay) return s;
        int nc = cfg != nullptr && cfg->nchans != 0 ? cfg->nchans : size.c;
        if (cfg == nullptr || cfg->type == ekUChar)
            std::memset(data, value, size_t(nx) * size_t(ny) * size_t(nz) * size_t(nc));
        return ekOkay;
    }
    ekStatus setSubTile3D(int, int, int, int, int, int, void*, int, int, int, int, int, int,
                          const ekConfig*) override {
        return resetCheck();
    }

protected:
    void reset() override {
        initColorModel(0);
        initMinMax(0);
        initPageSize(size.x, size.y, size.z, 0);
        checkColorModel();
        ekImage::reset();
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

// Reads / writes element i of a buffer of the given type as an integer, by
// the transfer tests' reference model (values used by the tests are small
// whole numbers, exact in every type; an ekBit element stores v != 0).
inline int64_t readElement(ekType t, const void* base, int64_t i) {
    const ref::Value v = ref::readElem(t, base, i);
    return v.isFloat ? int64_t(v.f) : v.i;
}

inline void writeElement(ekType t, void* base, int64_t i, int64_t v) {
    ref::writeElem(t, base, i,
                   ref::Value{false, t == ekBit ? int64_t(v != 0) : v, 0.0, false, 0.0f});
}

// Bytes of a buffer of n elements.
inline size_t bufferBytes(ekType t, int64_t n) {
    return t == ekBit ? size_t((n + 7) / 8) : size_t(n) * size_t(ekDataSize(t, 1));
}

#endif  // EKS_TESTS_IMAGES_IMAGES_TEST_UTIL_H
