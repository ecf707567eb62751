// SPDX-License-Identifier: Apache-2.0
// TIFF writes against a peer in the same process, both on one thread: an
// 8192 x 8192 RGB 16-bit image with 256 x 256 tiles, Deflate with horizontal
// differencing, written whole in rows of tiles and closed, by ekTiffImg and
// by GDAL's GTiff driver (each with a 64 MiB cache); then overviews 2, 4, 8
// and 16 by averaging built into each one's file (ekTiffImg::buildOverviews
// on the created image, then close; GDALBuildOverviews on the file GDAL
// wrote, then close). Targets: both ratios at most 1.0. Then the same with
// each library's default: eks on every core (setThreads(0)), GDAL on one
// thread (GDAL_NUM_THREADS unset).
//
//   eks_tiff_write_bench [scratch-folder] [rounds]
//
// Prints the CPU, then per workload the median wall-clock and process CPU
// time of each writer over the rounds (taken in turns) and the ratios eks /
// GDAL. The files are removed.
#include <cpl_conv.h>
#include <gdal.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "eks/tiff.h"
#include "tiff_bench_util.h"

namespace {

constexpr int kSide = 8192, kTile = 256, kChans = 3;
constexpr int64_t kCache = int64_t(64) << 20;
const int kFactors[] = {2, 4, 8, 16};

// One row of tiles: gradients with a little noise, about as compressible as a
// photograph of 16-bit data.
std::vector<uint16_t> makeRow(int y0) {
    std::vector<uint16_t> row(size_t(kSide) * kTile * kChans);
    std::mt19937 rng(uint32_t(y0) + 1);
    for (int y = 0; y < kTile; ++y)
        for (int x = 0; x < kSide; ++x) {
            uint16_t* p = &row[(size_t(y) * kSide + size_t(x)) * kChans];
            const uint32_t noise = rng() & 63;
            p[0] = uint16_t(x * 4 + noise);
            p[1] = uint16_t((y0 + y) * 4 + noise);
            p[2] = uint16_t(((x + y0 + y) * 2) ^ noise);
        }
    return row;
}

// Wall-clock and process CPU time since a start; the CPU time tells a
// writer's own work apart from waits for the disk or for other processes.
struct Clock {
    std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
    std::clock_t cpu = std::clock();
};

struct Span {
    double wall = -1, cpu = -1;
};

Span since(const Clock& t0) {
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - t0.wall).count(),
            double(std::clock() - t0.cpu) / CLOCKS_PER_SEC};
}

struct Times {
    Span write, overviews;
};

// Writes the image, timed with its close; then creates it again (untimed up
// to the flush, as overviews are built on a created image) and times
// buildOverviews with the close that follows.
Times eksRound(const std::string& path, const std::vector<std::vector<uint16_t>>& rows,
               int threads) {
    Times t;
    ekTiffCreateOptions options;
    options.compression = ekTiffDeflate;
    options.predictor = 2;
    for (int pass = 0; pass < 2; ++pass) {
        Clock t0;
        ekTiffImg img(path.c_str(), ekSize(kSide, kSide, 1, kChans), ekUShort, ekInterleaved,
                      options);
        img.setCacheBytes(kCache);
        img.setThreads(threads);
        bool ok = img.getStatus() == ekOkay;
        for (int y = 0, i = 0; ok && y < kSide; y += kTile, ++i)
            ok = img.setTile(0, y, kSide, kTile, const_cast<uint16_t*>(rows[size_t(i)].data()),
                             nullptr) == ekOkay;
        if (pass == 0) {
            ok = ok && img.close() == ekOkay;
            if (ok) t.write = since(t0);
        } else {
            ok = ok && img.flush() == ekOkay;
            t0 = Clock();
            ok = ok && img.buildOverviews(kFactors, 4, ekTiffAverage) == ekOkay;
            ok = ok && img.close() == ekOkay;
            if (ok) t.overviews = since(t0);
        }
        if (!ok) std::printf("eks failed: %s\n", img.getMessage());
    }
    std::filesystem::remove(path);
    return t;
}

Times gdalRound(const std::string& path, const std::vector<std::vector<uint16_t>>& rows) {
    Times t;
    GDALDriverH driver = GDALGetDriverByName("GTiff");
    const char* options[] = {"TILED=YES",      "BLOCKXSIZE=256", "BLOCKYSIZE=256",
                             "COMPRESS=DEFLATE", "PREDICTOR=2",  "INTERLEAVE=PIXEL",
                             "PHOTOMETRIC=RGB", nullptr};
    Clock t0;
    GDALDatasetH ds = GDALCreate(driver, path.c_str(), kSide, kSide, kChans, GDT_UInt16,
                                 const_cast<char**>(options));
    bool ok = ds != nullptr;
    for (int y = 0, i = 0; ok && y < kSide; y += kTile, ++i)
        ok = GDALDatasetRasterIO(ds, GF_Write, 0, y, kSide, kTile,
                                 const_cast<uint16_t*>(rows[size_t(i)].data()), kSide, kTile,
                                 GDT_UInt16, kChans, nullptr, kChans * 2,
                                 int64_t(kSide) * kChans * 2, 2) == CE_None;
    if (ds != nullptr) GDALClose(ds);
    if (ok) t.write = since(t0);

    ds = ok ? GDALOpen(path.c_str(), GA_Update) : nullptr;
    if (ds != nullptr) {
        int factors[4];
        std::copy(std::begin(kFactors), std::end(kFactors), factors);
        t0 = Clock();
        ok = GDALBuildOverviews(ds, "AVERAGE", 4, factors, 0, nullptr, nullptr, nullptr) ==
             CE_None;
        GDALClose(ds);
        if (ok) t.overviews = since(t0);
    }
    if (!ok) std::printf("GDAL failed\n");
    std::filesystem::remove(path);
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : "eks-bench-data";
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    std::filesystem::create_directories(folder);
    GDALAllRegister();
    GDALSetCacheMax64(kCache);
    CPLSetConfigOption("GDAL_NUM_THREADS", "1");

    std::vector<std::vector<uint16_t>> rows;
    for (int y = 0; y < kSide; y += kTile) rows.push_back(makeRow(y));

    std::vector<double> eksWrite, gdalWrite, eksOvr, gdalOvr, eksWriteCpu, gdalWriteCpu,
        eksOvrCpu, gdalOvrCpu, eksAllWrite, eksAllOvr, eksAllWriteCpu, eksAllOvrCpu;
    for (int r = 0; r < rounds; ++r) {
        const Times e = eksRound(folder + "/write-eks.tif", rows, 1);
        const Times a = eksRound(folder + "/write-eks.tif", rows, 0);
        eksAllWrite.push_back(a.write.wall);
        eksAllWriteCpu.push_back(a.write.cpu);
        eksAllOvr.push_back(a.overviews.wall);
        eksAllOvrCpu.push_back(a.overviews.cpu);
        const Times g = gdalRound(folder + "/write-gdal.tif", rows);
        eksWrite.push_back(e.write.wall);
        eksWriteCpu.push_back(e.write.cpu);
        eksOvr.push_back(e.overviews.wall);
        eksOvrCpu.push_back(e.overviews.cpu);
        gdalWrite.push_back(g.write.wall);
        gdalWriteCpu.push_back(g.write.cpu);
        gdalOvr.push_back(g.overviews.wall);
        gdalOvrCpu.push_back(g.overviews.cpu);
    }
    std::printf("CPU: %s, %u cores\n", cpuName().c_str(), std::thread::hardware_concurrency());
    std::printf("%-52s %8s %8s %6s %8s %8s %6s\n", "workload (median ms of rounds)", "eks",
                "GDAL", "e/g", "eks cpu", "GDAL cpu", "e/g");
    const auto row = [](const char* name, const std::vector<double>& e,
                        const std::vector<double>& g, const std::vector<double>& ec,
                        const std::vector<double>& gc) {
        std::printf("%-52s %8.1f %8.1f %6.2f %8.1f %8.1f %6.2f\n", name, median(e) * 1e3,
                    median(g) * 1e3, median(e) / median(g), median(ec) * 1e3, median(gc) * 1e3,
                    median(ec) / median(gc));
    };
    std::printf("one thread each:\n");
    row("write 8192^2 x 3 uint16, Deflate + predictor 2", eksWrite, gdalWrite, eksWriteCpu,
        gdalWriteCpu);
    row("overviews 2, 4, 8, 16 by averaging", eksOvr, gdalOvr, eksOvrCpu, gdalOvrCpu);
    std::printf("each library's default (eks every core, GDAL one thread):\n");
    row("write 8192^2 x 3 uint16, Deflate + predictor 2", eksAllWrite, gdalWrite, eksAllWriteCpu,
        gdalWriteCpu);
    row("overviews 2, 4, 8, 16 by averaging", eksAllOvr, gdalOvr, eksAllOvrCpu, gdalOvrCpu);
    return 0;
}
