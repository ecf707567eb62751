// SPDX-License-Identifier: Apache-2.0
// Page locking and tile iteration, timed against memcpy of a whole image in
// the same process. Each round times memcpy and the workload in turn; the
// reported figure is the median of the per-round ratios (lower is better).
//
//   eks_paging_bench [rounds]
//
// a. Lock and unlock every page of a 4096 x 4096 RGB memory image, tile by
//    tile in 256 x 256 tiles (256 locked tiles): the memory image hands out
//    its one page, so this must cost far less than copying the image once.
// b. The same through the base image's locking by copy (a read-through image
//    with 256 x 256 pages): every page is filled, so about one copy.
// c. Iterating the pages of a tile costs O(pages), not O(pixels): 4096 pages
//    of tiles 1 and 4096 times as large in pixels take the same time.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "eks/images.h"
#include "eks/paging.h"

namespace {

constexpr int kSize = 4096, kTile = 256, kChans = 3;
constexpr size_t kBytes = size_t(kSize) * kSize * kChans;

double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Median ratio of fn's time to the time of one memcpy of the image.
double ratioToMemcpy(int rounds, const std::function<void()>& fn) {
    std::vector<unsigned char> a(kBytes, 1), b(kBytes, 2);
    std::vector<double> ratios;
    fn();  // warm up
    for (int r = 0; r < rounds; ++r) {
        const double t0 = now();
        std::memcpy(b.data(), a.data(), kBytes);
        const double t1 = now();
        fn();
        const double t2 = now();
        ratios.push_back((t2 - t1) / (t1 - t0));
    }
    return median(ratios);
}

// Locks every page of img tile by tile and unlocks it again; false when a
// lock failed.
bool lockEveryTile(ekImage& img) {
    bool ok = true;
    for (int y = 0; y < kSize; y += kTile)
        for (int x = 0; x < kSize; x += kTile) {
            std::unique_ptr<ekLockedTile> t(img.lockTile(x, y, kTile, kTile, nullptr, 0));
            ok = ok && t != nullptr && t->getStatus() == ekOkay && t->count == 1;
        }
    return ok;
}

// Reads through to a memory image; keeps the base image's locking by copy.
class ReadThrough : public ekImage {
public:
    explicit ReadThrough(ekMemoryImg& src) : src(src) {
        setNumInputs(1);
        setInput(&src, 0);
    }
    ekStatus getSubTile3D(int x, int y, int z, int nx, int ny, int nz, void* data, int bx, int by,
                          int bz, int bnx, int bny, int bnz, const ekConfig* cfg) override {
        const ekStatus s = resetCheck();
        if (s != ekOkay) return s;
        return src.getSubTile3D(x, y, z, nx, ny, nz, data, bx, by, bz, bnx, bny, bnz, cfg);
    }
    ekStatus setSubTile3D(int, int, int, int, int, int, void*, int, int, int, int, int, int,
                          const ekConfig*) override {
        return ekNotAllowed;
    }

protected:
    void reset() override {
        src.getSize(size);
        dataType = src.getDataType();
        order = src.getOrder();
        coordSpace = src.getCoordSpace();
        initColorModel(0);
        initMinMax(0);
        initPageSize(kTile, kTile, 1, 0);
        checkColorModel();
        ekImage::reset();
    }

private:
    ekMemoryImg& src;
};

// Seconds per page for iterating the pages of a tile `scale` times as wide
// and high as 64 x 64 pages laid 64 by 64 over it (4096 pages in all).
double secondsPerPage(int scale, int rounds) {
    const int page = 64 * scale;
    const ekTile tile(0, 0, 0, 64 * page, 64 * page, 1);
    std::vector<double> times;
    long long sink = 0;
    for (int r = 0; r < rounds * 20; ++r) {
        const double t0 = now();
        ekTileIter it(tile, page, page, 1, 3, 3, nullptr, 0);
        while (it.more()) sink += it.x ^ it.y;
        times.push_back((now() - t0) / 4096.0);
    }
    if (sink == 42) std::printf(" ");  // keeps the loop
    return median(times);
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 11;
    ekMemoryImg image(ekSize(kSize, kSize, kChans), ekUChar, ekInterleaved);
    if (image.getStatus() != ekOkay) {
        std::fprintf(stderr, "cannot set up the image\n");
        return 1;
    }
    std::memset(image.getDataPtr(), 7, kBytes);
    ReadThrough copied(image);

    bool ok = true;
    const double shared = ratioToMemcpy(rounds, [&] { ok = lockEveryTile(image) && ok; });
    const double byCopy = ratioToMemcpy(rounds, [&] { ok = lockEveryTile(copied) && ok; });
    std::printf("workload (ratio to one memcpy of the %zu-byte image, median of %d)\n", kBytes,
                rounds);
    std::printf("  a. memory image, lock + unlock in 256 x 256 tiles   %8.5f  (target < 1)\n",
                shared);
    std::printf("  b. locking by copy, 256 x 256 pages                 %8.5f\n", byCopy);

    const double small = secondsPerPage(1, rounds), large = secondsPerPage(64, rounds);
    std::printf("  c. iterating 4096 pages: %.1f ns/page over a 4096^2 tile, %.1f ns/page over a "
                "262144^2 tile (ratio %.2f)\n",
                small * 1e9, large * 1e9, large / small);
    if (!ok) std::printf("  SOME LOCKS FAILED\n");
    return ok ? 0 : 1;
}
