// SPDX-License-Identifier: Apache-2.0
// Fuzz target: a file of arbitrary bytes opened as a TIFF image and read in
// two layouts, with a page lock. Whatever the bytes, the image must answer
// with statuses: no crash, no read past a buffer, no leak.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "eks/paging.h"
#include "eks/tiff.h"

namespace {

// Reads a window of at most 64 x 64 x 2 pixels around the origin twice: in
// the image's own layout, and as doubles in separate order, mirrored, with a
// one-pixel margin outside the image.
void readWindows(ekTiffImg& img) {
    const int nx = std::min(img.getXsize(), 64), ny = std::min(img.getYsize(), 64);
    const int nz = std::min(img.getZsize(), 2), nc = std::min(img.getCsize(), 8);
    std::vector<double> buf(size_t(nx + 2) * size_t(ny + 2) * size_t(nz) * size_t(nc));
    const ekConfig own(img.getDataType(), img.getOrder(), nc, nullptr, 0, ekCoordSpace(0),
                       ekColorModel(0));
    img.getTile3D(0, 0, 0, nx, ny, nz, buf.data(), &own);
    const ekConfig doubles(ekDouble, ekSeparate, nc, nullptr, 0, ekLowerRight, ekColorModel(0));
    img.getTile3D(-1, -1, 0, nx + 2, ny + 2, nz, buf.data(), &doubles);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The image opens files by name: the bytes go into an anonymous
    // in-memory file, named through /proc.
    const int fd = memfd_create("eks-tiff-fuzz", 0);
    if (fd < 0) return 0;
    if (write(fd, data, size) == ssize_t(size)) {
        char path[64];
        std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
        ekTiffImg img(path);
        // Pages of up to a gigabyte are valid, and loading one costs its size
        // whatever the file holds: a window crossing 64 one-row pages of 48 MB
        // decodes 3 GB. Files whose windows would decode more than about 64 MB
        // (a rough count) only slow the fuzzing down: opened, not read.
        const double elemBytes =
            img.getDataType() == ekBit ? 0.125 : double(ekDataSize(img.getDataType(), 1));
        const double pageBytes =
            double(img.getPageSizeX()) * img.getPageSizeY() * img.getPageSizeC() * elemBytes;
        const auto pagesAcross = [](int window, int page) {
            return page > 0 ? double(window / page + 2) : 1.0;
        };
        const double pagesRead = pagesAcross(std::min(img.getXsize(), 66), img.getPageSizeX()) *
                                 pagesAcross(std::min(img.getYsize(), 66), img.getPageSizeY()) *
                                 pagesAcross(std::min(img.getZsize(), 2), img.getPageSizeZ());
        if (img.getStatus() == ekOkay && pageBytes * pagesRead <= 64.0 * (1 << 20)) {
            img.setCacheBytes(int64_t(1) << 20);
            readWindows(img);
            ekLockRequest req;
            req.init(0, 0, 0, 0);
            if (img.lockPageSet(&req, 0, 1) == ekOkay) img.unlockPageSet(&req, 1);
        }
    }
    close(fd);
    return 0;
}
