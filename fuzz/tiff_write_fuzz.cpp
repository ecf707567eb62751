// SPDX-License-Identifier: Apache-2.0
// Fuzz target: a created TIFF image against a memory image. The input chooses
// the file's layout and compression, a cache budget of a few pages, and a
// sequence of writes (any caller layout, boxes past the edges, buffer boxes
// that need not cover the request), reads, page locks, budget changes and
// flushes; the two images must agree after every read, and the file must
// read back the same once closed and opened again.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "eks/paging.h"
#include "eks/tiff.h"
#include "fuzz_input.h"

namespace {

const ekType kTypes[] = {ekBit,   ekUChar, ekChar,  ekUShort, ekShort,
                         ekULong, ekLong,  ekFloat, ekDouble};
const ekTiffCompression kCodecs[] = {ekTiffNone, ekTiffLZW, ekTiffDeflate};

std::vector<uint8_t> all(ekImage& img, ekStatus& s) {
    std::vector<uint8_t> out(size_t(ekDataSize(
        img.getDataType(), img.getXsize() * img.getYsize() * img.getZsize() * img.getCsize())));
    s = img.getTile3D(0, 0, 0, img.getXsize(), img.getYsize(), img.getZsize(), out.data(), nullptr);
    return out;
}

void agree(ekImage& file, ekImage& ref) {
    ekStatus s1 = ekOkay, s2 = ekOkay;
    if (all(file, s1) != all(ref, s2) || s1 != s2) {
        std::fprintf(stderr, "the file and the memory image differ\n");
        std::abort();
    }
}

// A box of at most 40 x 40 near the image, sometimes reaching past it.
void box(FuzzInput& in, int& x, int& y, int& nx, int& ny) {
    x = int(in.byte() % 80) - 20;
    y = int(in.byte() % 80) - 20;
    nx = 1 + in.byte() % 40;
    ny = 1 + in.byte() % 40;
}

void write(FuzzInput& in, ekTiffImg& file, ekMemoryImg& ref) {
    int x, y, nx, ny, bx, by, bnx, bny;
    box(in, x, y, nx, ny);
    box(in, bx, by, bnx, bny);
    const ekType type = kTypes[in.byte() % 9];
    const int nc = 1 + in.byte() % 4;
    const ekOrder order = in.byte() % 2 ? ekSeparate : ekInterleaved;
    int list[4];
    for (int& c : list) c = in.byte() % 5 - 1;
    const bool useList = in.byte() % 2 != 0;
    const ekConfig cfg(type, order, nc, useList ? list : nullptr, useList ? 0 : in.byte() % 3,
                       ekCoordSpace(in.byte() % 9), ekColorModel(0));
    std::vector<uint8_t> data(size_t(ekDataSize(type, bnx * bny * nc)));
    for (uint8_t& b : data) b = in.byte();
    if (type == ekFloat || type == ekDouble)  // finite values: NaN payloads need not survive
        for (size_t i = ekDataSize(type, 1) - 1; i < data.size(); i += ekDataSize(type, 1))
            data[i] &= 0x3F;
    const ekStatus a = file.setSubTile(x, y, nx, ny, data.data(), bx, by, bnx, bny, &cfg);
    const ekStatus b = ref.setSubTile(x, y, nx, ny, data.data(), bx, by, bnx, bny, &cfg);
    if (a != b) {
        std::fprintf(stderr, "write statuses differ: %d %d\n", a, b);
        std::abort();
    }
}

void lockAndRelease(FuzzInput& in, ekTiffImg& file) {
    int x, y, nx, ny;
    box(in, x, y, nx, ny);
    delete file.lockTile(x, y, nx, ny, nullptr, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const ekSize s(1 + in.byte() % 70, 1 + in.byte() % 70, 1, 1 + in.byte() % 4);
    const ekType type = kTypes[in.byte() % 9];
    const ekOrder order = in.byte() % 2 ? ekSeparate : ekInterleaved;
    ekTiffCreateOptions options;
    options.tileWidth = 16 * (1 + in.byte() % 3);
    options.tileHeight = 16 * (1 + in.byte() % 3);
    options.compression = kCodecs[in.byte() % 3];
    const int64_t pageBytes =
        ekDataSize(type, options.tileWidth * options.tileHeight * (order == ekSeparate ? 1 : s.c));
    // In memory where it can be: flushes sync the file.
    char path[64];
    int fd = -1;
    for (const char* folder : {"/dev/shm", "/tmp"}) {
        std::snprintf(path, sizeof path, "%s/eks-tiff-write-fuzz-XXXXXX", folder);
        fd = mkstemp(path);
        if (fd >= 0) break;
    }
    if (fd < 0) return 0;
    close(fd);
    {
        ekTiffImg file(path, s, type, order, options);
        std::vector<uint8_t> pixels(size_t(ekDataSize(type, s.x * s.y * s.c)), 0);
        ekMemoryImg ref(pixels.data(), s, type, order);  // zeros, as a new file
        ref.setCoordSpace(ekUpperLeft);                  // a created file's orientation
        if (file.getStatus() != ekOkay) {
            std::fprintf(stderr, "creation failed: %s\n", file.getMessage());
            std::abort();
        }
        file.setCacheBytes(pageBytes * (in.byte() % 4));
        for (int op = 0; op < 24 && !in.done(); ++op) {
            switch (in.byte() % 6) {
                case 0:
                case 1:
                    write(in, file, ref);
                    break;
                case 2:
                    agree(file, ref);
                    break;
                case 3:
                    lockAndRelease(in, file);
                    break;
                case 4:
                    file.setCacheBytes(pageBytes * (in.byte() % 4));
                    break;
                case 5:
                    if (file.flush() != ekOkay) std::abort();
                    break;
            }
        }
        agree(file, ref);
        if (file.close() != ekOkay) std::abort();
        ekTiffImg back(path);
        agree(back, ref);
    }
    unlink(path);
    return 0;
}
