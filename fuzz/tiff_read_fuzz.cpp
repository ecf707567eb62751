// SPDX-License-Identifier: Apache-2.0
// Fuzz target: a file of arbitrary bytes opened as a TIFF image (and as one
// of its overviews, or with palette indices) and read in two layouts, with a
// page lock, every raw tag touched. Whatever the bytes, the image must answer
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

// Pages of up to a gigabyte are valid, and loading one costs its size
// whatever the file holds: a window crossing 64 one-row pages of 48 MB
// decodes 3 GB. Images whose windows would decode more than about 64 MB (a
// rough count) only slow the fuzzing down: opened, not read.
bool cheapToRead(ekTiffImg& img) {
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
    return pageBytes * pagesRead <= 64.0 * (1 << 20);
}

// Every byte of every raw tag, so that a value shorter than its count says
// is caught.
unsigned touchTags(const ekTiffImg& img) {
    static const unsigned kBytes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4, 0, 0, 8, 8, 8};
    unsigned sum = 0;
    for (int i = 0; i < img.getTagCount(); ++i) {
        const ekTiffTag* t = img.getTag(i);
        const unsigned size = t->type < 19 ? kBytes[t->type] : 0;
        const unsigned char* p = static_cast<const unsigned char*>(t->data);
        for (uint64_t k = 0; k < uint64_t(t->count) * size; ++k) sum += p[k];
    }
    double nodata = 0;
    return sum + unsigned(img.getNodata(nodata));
}

volatile unsigned sink;  // keeps the tags' bytes read

void exercise(const char* path, const ekTiffOpenOptions& options) {
    ekTiffImg img(path, options);
    sink = touchTags(img);
    if (img.getStatus() != ekOkay || !cheapToRead(img)) return;
    img.setCacheBytes(int64_t(1) << 20);
    readWindows(img);
    ekLockRequest req;
    req.init(0, 0, 0, 0);
    if (img.lockPageSet(&req, 0, 1) == ekOkay) img.unlockPageSet(&req, 1);
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
        ekTiffOpenOptions options;
        exercise(path, options);
        // An overview the last byte picks, palette images as indices when its
        // low bit is set.
        const int overviews = ekTiffImg(path, options).getOverviewCount();
        if (overviews > 0 || (size > 0 && (data[size - 1] & 1) != 0)) {
            options.level = overviews > 0 ? 1 + data[size - 1] % overviews : 0;
            options.paletteIndices = (data[size - 1] & 1) != 0;
            exercise(path, options);
        }
    }
    close(fd);
    return 0;
}
