// SPDX-License-Identifier: Apache-2.0
// TIFF reads against a peer in the same process: ekTiffImg and GDAL's GTiff
// driver read the same windows of the same files, each with a 64 MiB block
// cache, on one thread and on every core (eks: setThreads(0); GDAL:
// GDAL_NUM_THREADS=ALL_CPUS). The files (16384 x 16384 RGB 8-bit, 256 x 256
// tiles, uncompressed and Deflate) are generated once into the folder given
// as the first argument (default ./eks-bench-data) and kept.
//
//   eks_tiff_read_bench [data-folder] [rounds]
//
// Prints the CPU, then per workload the median time of each reader over the
// rounds (taken in turns) and the ratios: eks on one thread / GDAL on one
// (target: at most 1.0), eks on every core / eks on one (target: at most 0.60
// on two cores), eks on every core / GDAL on every core (target: at most
// 0.9). Then four threads reading random windows of one shared image against
// one thread (throughput, target: at least 1.7), a flush of a written 8192^2
// image on every core against one thread (target: at most 0.60), and the
// growth of peak resident memory during eks's random reads (target: at most
// the cache budget plus 32 MiB).
#include <cpl_conv.h>
#include <gdal.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "eks/tiff.h"
#include "tiff_bench_util.h"

namespace {

constexpr int kSide = 16384, kTile = 256, kWindow = 512, kWindows = 200;
constexpr int64_t kCache = int64_t(64) << 20;

// Gradients with a little noise: Deflate compresses it about as well as a
// photograph.
void fillRow(std::vector<uint8_t>& row, int y0, uint32_t seed) {
    std::mt19937 rng(seed);
    for (int y = 0; y < kTile; ++y)
        for (int x = 0; x < kSide; ++x) {
            uint8_t* p = &row[(size_t(y) * kSide + size_t(x)) * 3];
            const uint32_t noise = rng() & 7;
            p[0] = uint8_t((x >> 6) + noise);
            p[1] = uint8_t(((y0 + y) >> 6) + noise);
            p[2] = uint8_t(((x + y0 + y) >> 7) ^ noise);
        }
}

bool generate(const std::string& path, ekTiffCompression comp) {
    if (std::filesystem::exists(path)) return true;
    std::printf("generating %s ...\n", path.c_str());
    const std::string part = path + ".part";
    bool ok = true;
    {
        ekTiffImg img(part.c_str(), ekSize(kSide, kSide, 1, 3), ekUChar, ekInterleaved, kTile,
                      kTile, comp);
        ok = img.getStatus() == ekOkay;
        std::vector<uint8_t> row(size_t(kSide) * kTile * 3);
        for (int y = 0; ok && y < kSide; y += kTile) {
            fillRow(row, y, uint32_t(y));
            ok = img.setTile(0, y, kSide, kTile, row.data(), nullptr) == ekOkay;
        }
        ok = ok && img.flush() == ekOkay;
        if (!ok) std::printf("  failed: %s\n", img.getMessage());
    }
    std::error_code error;
    if (ok) std::filesystem::rename(part, path, error);
    return ok && !error;
}

struct Window {
    int x, y;
};

std::vector<Window> randomWindows() {
    std::mt19937 rng(2024);
    std::vector<Window> w(kWindows);
    for (Window& v : w) v = {int(rng() % (kSide - kWindow)), int(rng() % (kSide - kWindow))};
    return w;
}

// One reader: opens the file afresh for every round, so that both start cold
// in their own cache (the operating system's cache is warm for both).
using Read = std::function<bool(int x, int y, int nx, int ny, uint8_t* buf)>;
using Reader = std::function<void(const std::string& path, const std::function<void(Read)>& run)>;

int eksThreads = 1;  // for the next eks reader; 0: every core

void eksReader(const std::string& path, const std::function<void(Read)>& run) {
    ekTiffImg img(path.c_str());
    img.setCacheBytes(kCache);
    img.setThreads(eksThreads);
    run([&](int x, int y, int nx, int ny, uint8_t* buf) {
        return img.getTile(x, y, nx, ny, buf, nullptr) == ekOkay;
    });
}

void gdalReader(const std::string& path, const std::function<void(Read)>& run) {
    GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
    if (ds == nullptr) return;
    run([&](int x, int y, int nx, int ny, uint8_t* buf) {
        // Pixel-interleaved RGB, rows of nx pixels: the layout eks reads.
        return GDALDatasetRasterIO(ds, GF_Read, x, y, nx, ny, buf, nx, ny, GDT_Byte, 3, nullptr, 3,
                                   int64_t(nx) * 3, 1) == CE_None;
    });
    GDALClose(ds);  // drops the dataset's blocks from GDAL's cache
}

double timeOnce(const Reader& reader, const std::string& path,
                const std::function<bool(Read)>& work) {
    double seconds = -1;
    reader(path, [&](Read read) {
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = work(read);
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (!ok) seconds = -1;
    });
    return seconds;
}

long statusKiB(const char* field) {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
    return -1;
}

}  // namespace

int rssMain(const std::string& path);

namespace {

// Readers on one thread and on every core, taken in turns.
struct Timings {
    std::vector<double> eks1, eksAll, gdal1, gdalAll;
};

void timeRow(const std::string& path, const std::function<bool(Read)>& work, int rounds,
             Timings& t) {
    for (int i = 0; i < rounds; ++i) {
        eksThreads = 1;
        t.eks1.push_back(timeOnce(eksReader, path, work));
        eksThreads = 0;
        t.eksAll.push_back(timeOnce(eksReader, path, work));
        CPLSetConfigOption("GDAL_NUM_THREADS", "1");
        t.gdal1.push_back(timeOnce(gdalReader, path, work));
        CPLSetConfigOption("GDAL_NUM_THREADS", "ALL_CPUS");
        t.gdalAll.push_back(timeOnce(gdalReader, path, work));
    }
}

// Four threads reading random windows of one shared image against one thread
// reading the same number of windows: the ratio of throughputs.
double sharedReaders(const std::string& path, int rounds) {
    std::vector<double> ratios;
    for (int r = 0; r < rounds; ++r) {
        double seconds[2];
        for (int pass = 0; pass < 2; ++pass) {
            const int threads = pass == 0 ? 1 : 4;
            ekTiffImg img(path.c_str());
            img.setCacheBytes(kCache);
            img.setThreads(1);  // the readers are the threads
            const auto t0 = std::chrono::steady_clock::now();
            std::vector<std::thread> readers;
            for (int t = 0; t < threads; ++t)
                readers.emplace_back([&img, t] {
                    std::mt19937 rng{uint32_t(100 + t)};
                    std::vector<uint8_t> buf(size_t(kWindow) * kWindow * 3);
                    for (int i = 0; i < kWindows / 2; ++i)
                        img.getTile(int(rng() % (kSide - kWindow)), int(rng() % (kSide - kWindow)),
                                    kWindow, kWindow, buf.data(), nullptr);
                });
            for (std::thread& t : readers) t.join();
            seconds[pass] = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0)
                                .count() / threads;
        }
        ratios.push_back(seconds[0] / seconds[1]);
    }
    return median(ratios);
}

// A written 8192^2 Deflate image flushed with every core against one thread.
double flushRatio(const std::string& folder, int rounds) {
    constexpr int kSideW = 8192;
    std::vector<uint8_t> row(size_t(kSide) * kTile * 3);
    fillRow(row, 0, 1);
    std::vector<double> ratios;
    for (int r = 0; r < rounds; ++r) {
        double seconds[2];
        for (int pass = 0; pass < 2; ++pass) {
            const std::string path = folder + "/flush.tif";
            ekTiffImg img(path.c_str(), ekSize(kSideW, kSideW, 1, 3), ekUChar, ekInterleaved, kTile,
                          kTile, ekTiffDeflate);
            img.setCacheBytes(int64_t(kSideW) * kSideW * 3);
            img.setThreads(pass == 0 ? 1 : 0);
            for (int y = 0; y < kSideW; y += kTile)
                img.setSubTile(0, y, kSideW, kTile, row.data(), 0, y, kSide, kTile, nullptr);
            const auto t0 = std::chrono::steady_clock::now();
            img.flush();
            seconds[pass] =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            img.close();
            std::filesystem::remove(path);
        }
        ratios.push_back(seconds[1] / seconds[0]);
    }
    return median(ratios);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::string(argv[1]) == "--rss") return rssMain(argv[2]);
    const std::string folder = argc > 1 ? argv[1] : "eks-bench-data";
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    std::filesystem::create_directories(folder);
    const std::string plain = folder + "/rgb16k-tiled-none.tif";
    const std::string deflate = folder + "/rgb16k-tiled-deflate.tif";
    if (!generate(plain, ekTiffNone) || !generate(deflate, ekTiffDeflate)) return 1;
    GDALAllRegister();
    GDALSetCacheMax64(kCache);

    const std::vector<Window> windows = randomWindows();
    std::vector<uint8_t> buf(size_t(kSide) * kTile * 3);
    const auto randomReads = [&](Read read) {
        for (const Window& w : windows)
            if (!read(w.x, w.y, kWindow, kWindow, buf.data())) return false;
        return true;
    };
    const auto fullScan = [&](Read read) {
        for (int y = 0; y < kSide; y += kTile)
            if (!read(0, y, kSide, kTile, buf.data())) return false;
        return true;
    };
    struct Row {
        const char* name;
        const std::string* path;
        std::function<bool(Read)> work;
    };
    const Row rows[] = {{"random 512 x 512 windows (200), uncompressed", &plain, randomReads},
                        {"random 512 x 512 windows (200), Deflate", &deflate, randomReads},
                        {"full scan in rows of tiles, uncompressed", &plain, fullScan},
                        {"full scan in rows of tiles, Deflate", &deflate, fullScan}};

    std::printf("CPU: %s, %u cores\n", cpuName().c_str(), std::thread::hardware_concurrency());
    std::printf("%-46s %8s %8s %8s %8s %6s %6s %6s\n", "workload (median ms of rounds)", "eks 1",
                "eks all", "GDAL 1", "GDAL all", "e1/g1", "ea/e1", "ea/ga");
    for (const Row& r : rows) {
        Timings t;
        timeRow(*r.path, r.work, rounds, t);
        const double e1 = median(t.eks1), ea = median(t.eksAll);
        const double g1 = median(t.gdal1), ga = median(t.gdalAll);
        std::printf("%-46s %8.1f %8.1f %8.1f %8.1f %6.2f %6.2f %6.2f\n", r.name, e1 * 1e3,
                    ea * 1e3, g1 * 1e3, ga * 1e3, e1 / g1, ea / e1, ea / ga);
    }
    std::printf("\nfour threads on one shared image, throughput / one thread (Deflate): %.2f\n",
                sharedReaders(deflate, rounds));
    std::printf("flush of a written 8192 x 8192 Deflate image, every core / one thread: %.2f\n",
                flushRatio(folder, rounds));

    // Peak resident memory of eks's random reads, measured in a fresh process
    // of this program so that nothing earlier is resident.
    std::fflush(stdout);
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    return std::system((self + " --rss " + deflate).c_str()) == 0 ? 0 : 1;
}

// The "--rss <file>" mode: random reads through a fresh image; prints how far
// the peak resident memory grew above what the process held before.
int rssMain(const std::string& path) {
    const std::vector<Window> windows = randomWindows();
    std::vector<uint8_t> buf(size_t(kWindow) * kWindow * 3, 1);
    const long before = statusKiB("VmRSS:");
    bool ok = true;
    eksReader(path, [&](Read read) {
        for (const Window& w : windows) ok = ok && read(w.x, w.y, kWindow, kWindow, buf.data());
    });
    const long peak = statusKiB("VmHWM:");
    std::printf(
        "\npeak resident growth during eks random reads (Deflate): %.1f MiB"
        " (target: at most %lld + 32 MiB)\n",
        double(peak - before) / 1024.0, static_cast<long long>(kCache >> 20));
    return ok ? 0 : 1;
}
