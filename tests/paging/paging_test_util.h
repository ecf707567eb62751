// SPDX-License-Identifier: Apache-2.0
// Images for the page locking tests: a memory image with distinct pixel
// values, and a host image that reads through to it and keeps the base
// image's locking by copy, with a page geometry of the test's choosing; and
// the comparison of a locked page with its page box.
#ifndef EKS_TESTS_PAGING_PAGING_TEST_UTIL_H
#define EKS_TESTS_PAGING_PAGING_TEST_UTIL_H

#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#include "eks/images.h"
#include "eks/paging.h"

// A 20 x 12 x 2 x 3 ekUShort interleaved memory image; channel k of (x, y, z)
// holds its own element index + 1, so every element is distinct.
struct Pixels3D {
    static constexpr int kX = 20, kY = 12, kZ = 2, kC = 3;
    std::vector<uint16_t> data;
    ekMemoryImg img;
    explicit Pixels3D(ekOrder order = ekInterleaved)
        : data(size_t(kX) * kY * kZ * kC), img(nullptr, ekSize(kX, kY, kZ, kC), ekUShort, order) {
        for (size_t i = 0; i < data.size(); ++i) data[i] = uint16_t(i + 1);
        img.setDataPtr(data.data());
    }
};

// Reads and writes go straight to `src`; pages are the base image's copies.
// Reads of boxes that start at or right of failFromX fail with ekBadInput.
class PagedImage : public ekImage {
public:
    PagedImage(ekImage& src, ekXYZCstruct<int> page, ekXYZCstruct<int> border = {})
        : src_(src), page_(page), border_(border) {
        setNumInputs(1);
        setInput(&src, 0);
    }
    using ekLink::setStatus;
    int failFromX = INT_MAX;
    int lastMode = -1;
    int unlockCalls = 0;

    ekStatus getSubTile3D(int x, int y, int z, int nx, int ny, int nz, void* data, int bx, int by,
                          int bz, int bnx, int bny, int bnz, const ekConfig* cfg) override {
        const ekStatus s = resetCheck();
        if (s != ekOkay) return s;
        if (x >= failFromX) return ekBadInput;
        return src_.getSubTile3D(x, y, z, nx, ny, nz, data, bx, by, bz, bnx, bny, bnz, cfg);
    }
    ekStatus setSubTile3D(int, int, int, int, int, int, void*, int, int, int, int, int, int,
                          const ekConfig*) override {
        return ekNotAllowed;  // pages are read only
    }
    ekStatus lockPageSet(ekLockRequest* requests, int mode, int count) override {
        lastMode = mode;
        return ekImage::lockPageSet(requests, mode, count);
    }
    void unlockPageSet(ekLockRequest* requests, int count) override {
        ++unlockCalls;
        ekImage::unlockPageSet(requests, count);
    }

protected:
    void reset() override {
        src_.getSize(size);
        dataType = src_.getDataType();
        order = src_.getOrder();
        coordSpace = src_.getCoordSpace();
        initColorModel(0);
        initMinMax(0);
        checkColorModel();
        initPageSize(page_.x, page_.y, page_.z, page_.c);
        pageSize.c = page_.c;  // checkColorModel ties it to the order
        pageBorder = {border_.x, border_.y, border_.z};
        ekImage::reset();
    }

private:
    ekImage& src_;
    ekXYZCstruct<int> page_, border_;
};

// The page box at the page's position read with getTile3D, as lockPageSet
// fills it: page size large, the image's type and order, the page's channels.
inline std::vector<uint16_t> pageBox(ekImage& img, const ekPage& p) {
    int px, py, pz, pc;
    img.getPageSize(px, py, pz, pc);
    std::vector<uint16_t> out(size_t(px) * py * pz * pc);
    ekConfig cfg(ekUShort, img.getOrder(), pc, nullptr, p.c);
    if (img.getTile3D(p.x, p.y, p.z, px, py, pz, out.data(), &cfg) != ekOkay) out.clear();
    return out;
}

inline bool holdsPageBox(ekImage& img, const ekPage* p) {
    const std::vector<uint16_t> want = pageBox(img, *p);
    if (want.empty()) return false;
    return std::memcmp(p->getData(), want.data(), want.size() * sizeof(uint16_t)) == 0;
}

#endif  // EKS_TESTS_PAGING_PAGING_TEST_UTIL_H
