// SPDX-License-Identifier: Apache-2.0
// Transfer engine workloads timed against memcpy of the same destination
// bytes. Each round times memcpy and the workload in turn; the reported figure
// is the median of the per-round ratios (lower is better, 1.0 = memcpy speed),
// with the ratio of the fastest times beside it.
//
//   eks_transfer_bench [rounds] [filter]
//
// The workloads drive the engine directly, with the two descriptors the memory
// image builds for a read (the image's block and the caller's block, clipped,
// flipped or transposed as the caller's space requires, plus the outside fill).
// The conversions b, c and d run a second time in the saturating mode
// (ekSaturate); those rows also give their ratio to the plain row's.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "eks/images.h"
#include "transfer/data_block.h"

namespace {

constexpr int kSize = 4096;

double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

struct Buffer {
    unsigned char* p = nullptr;
    size_t n = 0;
    explicit Buffer(size_t bytes) : p(static_cast<unsigned char*>(std::malloc(bytes))), n(bytes) {
        if (!p) {
            std::fprintf(stderr, "out of memory\n");
            std::exit(1);
        }
        for (size_t i = 0; i < n; ++i) p[i] = static_cast<unsigned char>(i * 7 + (i >> 12));
    }
    ~Buffer() { std::free(p); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
};

// Fills a float buffer with values in the 8-bit range (what a float image of
// 8-bit data holds).
void fillFloats(Buffer& b) {
    float* f = reinterpret_cast<float*>(b.p);
    for (size_t i = 0; i < b.n / 4; ++i) f[i] = float((i * 37) % 256) + 0.25f;
}

struct Result {
    std::string name;
    double ratio;  // median of the per-round ratios
    double best;   // fastest workload time over fastest memcpy time
    double ms;
    double target;
    double vsPlain = 0;  // saturating rows: median per-round time over the plain row's
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Times the workloads against memcpy of `bytes` destination bytes, in strict
// turns: memcpy, workload 0, memcpy, workload 1, ... so that each runs after
// the other has pushed its buffers out of the caches (two memcpy calls in a
// row would find their buffers warm and flatter the baseline). Each
// workload's ratio is the median of its per-turn ratios; the later ones also
// get the median of their per-round times over the first's (vsPlain).
std::vector<Result> measureTurns(const std::vector<std::string>& names, double target, size_t bytes,
                                 int rounds, const std::vector<std::function<void()>>& fns) {
    Buffer a(bytes), b(bytes);
    const size_t n = fns.size();
    std::vector<std::vector<double>> ratios(n), times(n);
    std::vector<double> best(n, 1e30);
    double bestCopy = 1e30;
    for (const auto& fn : fns) fn();  // warm up (page faults)
    std::memcpy(b.p, a.p, bytes);
    for (int r = 0; r < rounds; ++r)
        for (size_t k = 0; k < n; ++k) {
            const double t0 = now();
            std::memcpy(b.p, a.p, bytes);
            const double t1 = now();
            fns[k]();
            const double t2 = now();
            ratios[k].push_back((t2 - t1) / (t1 - t0));
            times[k].push_back(t2 - t1);
            best[k] = std::min(best[k], t2 - t1);
            bestCopy = std::min(bestCopy, t1 - t0);
        }
    std::vector<Result> out;
    for (size_t k = 0; k < n; ++k) {
        out.push_back({names[k], median(ratios[k]), best[k] / bestCopy, best[k] * 1e3, target});
        if (k == 0) continue;
        std::vector<double> q;
        for (int r = 0; r < rounds; ++r) q.push_back(times[k][size_t(r)] / times[0][size_t(r)]);
        out.back().vsPlain = median(q);
    }
    return out;
}

Result measure(const char* name, double target, size_t bytes, int rounds,
               const std::function<void()>& fn) {
    return measureTurns({name}, target, bytes, rounds, {fn})[0];
}

// A plain workload and its saturating twin, in the same rounds; the twin's
// row also gives the median of its per-round time over the plain one's.
void measurePlainAndSaturating(std::vector<Result>& results, const char* name, const char* satName,
                               double target, size_t bytes, int rounds,
                               const std::function<void(bool)>& fn) {
    std::vector<Result> r = measureTurns({name, satName}, target, bytes, rounds,
                                         {[&] { fn(false); }, [&] { fn(true); }});
    r[1].target = 0.0;  // no peer figure of its own
    results.push_back(r[0]);
    results.push_back(r[1]);
}

// The memory image's read: image block as source, caller block clipped to
// the request, then the outside fill from the fill pixel with the image's
// extent as keep-out box.
void imageRead(void* image, ekType itype, ekOrder iorder, int nc, void* buf, ekType btype,
               ekOrder border, const ekTile& req, int flip, int transpose, const ekPixel& fill,
               bool saturate = false) {
    ekDataBlock src(image, itype, iorder, nc, nullptr, kSize, kSize, 1, 0, 0, 0, 0);
    ekDataBlock dst(buf, btype, border, nc, nullptr, req.nx, req.ny, req.nz, req.x, req.y, req.z,
                    0);
    dst.setClip(req.x, req.y, req.z, req.nx, req.ny, req.nz);
    dst.setFlip(flip);
    dst.setTranspose(transpose);
    dst.saturate = saturate;
    dst.copyFrom(src);
    const ekTile extent(0, 0, 0, kSize, kSize, 1);
    dst.copyFrom(ekDataBlock(fill, &extent, nullptr, 0));
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 15;
    const std::string filter = argc > 2 ? argv[2] : "";
    const size_t px = size_t(kSize) * kSize;
    const ekTile whole(0, 0, 0, kSize, kSize, 1);
    const unsigned char zero[4] = {0, 0, 0, 0};
    const ekPixel fill8(ekUChar, 3, zero);
    const ekPixel fill8one(ekUChar, 1, zero);
    std::vector<Result> results;
    auto want = [&](const char* key) {
        return filter.empty() || filter.find(key) != std::string::npos;
    };

    if (want("a")) {
        Buffer img(px * 3), out(px * 3);
        results.push_back(measure("a  same layout, 3x8-bit interleaved", 0.96, px * 3, rounds, [&] {
            imageRead(img.p, ekUChar, ekInterleaved, 3, out.p, ekUChar, ekInterleaved, whole, 0, 0,
                      fill8);
        }));
    }
    auto withSaturating = [&](const char* name, const char* satName, double target, size_t bytes,
                              const std::function<void(bool)>& read) {
        measurePlainAndSaturating(results, name, satName, target, bytes, rounds, read);
    };
    if (want("b")) {
        Buffer img(px * 3), out(px * 12);
        withSaturating("b  8-bit -> float, 3-ch interleaved", "bs   the same, saturating", 1.0,
                       px * 12, [&](bool sat) {
                           imageRead(img.p, ekUChar, ekInterleaved, 3, out.p, ekFloat,
                                     ekInterleaved, whole, 0, 0, fill8, sat);
                       });
    }
    if (want("c")) {
        Buffer img(px * 12), out(px * 3);
        fillFloats(img);
        const float zf[3] = {0, 0, 0};
        const ekPixel fillf(ekFloat, 3, zf);
        withSaturating("c  float -> 8-bit, 3-ch interleaved", "cs   the same, saturating", 2.4,
                       px * 3, [&](bool sat) {
                           imageRead(img.p, ekFloat, ekInterleaved, 3, out.p, ekUChar,
                                     ekInterleaved, whole, 0, 0, fillf, sat);
                       });
    }
    if (want("d")) {
        Buffer img(px * 2), out(px);
        const uint16_t z16 = 0;
        const ekPixel fill16(ekUShort, 1, &z16);
        withSaturating("d  16-bit -> 8-bit, 1 channel", "ds   the same, saturating", 1.3, px,
                       [&](bool sat) {
                           imageRead(img.p, ekUShort, ekSeparate, 1, out.p, ekUChar, ekSeparate,
                                     whole, 0, 0, fill16, sat);
                       });
    }
    if (want("e")) {
        Buffer img(px * 3), out(px * 3);
        results.push_back(measure("e1 interleaved -> separate, 3x8-bit", 0.94, px * 3, rounds, [&] {
            imageRead(img.p, ekUChar, ekInterleaved, 3, out.p, ekUChar, ekSeparate, whole, 0, 0,
                      fill8);
        }));
        results.push_back(measure("e2 separate -> interleaved, 3x8-bit", 0.94, px * 3, rounds, [&] {
            imageRead(img.p, ekUChar, ekSeparate, 3, out.p, ekUChar, ekInterleaved, whole, 0, 0,
                      fill8);
        }));
    }
    if (want("f")) {
        Buffer img(px * 3), out(px * 3);
        results.push_back(measure("f1 vertical flip, 3x8-bit", 0.9, px * 3, rounds, [&] {
            imageRead(img.p, ekUChar, ekInterleaved, 3, out.p, ekUChar, ekInterleaved, whole, 2, 0,
                      fill8);
        }));
        results.push_back(measure("f2 horizontal flip, 3x8-bit", 1.3, px * 3, rounds, [&] {
            imageRead(img.p, ekUChar, ekInterleaved, 3, out.p, ekUChar, ekInterleaved, whole, 1, 0,
                      fill8);
        }));
    }
    if (want("g")) {
        Buffer img(px), out(px);
        results.push_back(measure("g  transpose, 1x8-bit", 5.5, px, rounds, [&] {
            imageRead(img.p, ekUChar, ekSeparate, 1, out.p, ekUChar, ekSeparate, whole, 0, 1,
                      fill8one);
        }));
    }
    if (want("h")) {
        // Tile reads: every tile of the image into one caller buffer, one
        // engine read (data and outside fill) per tile.
        for (int t : {256, 32}) {
            Buffer img(px * 3), tile(size_t(t) * t * 3);
            const std::string name = "h" + std::string(t == 32 ? "2" : " ") + " " +
                                     std::to_string(t) + "x" + std::to_string(t) +
                                     " tile reads, 3x8-bit";
            results.push_back(measure(name.c_str(), t == 32 ? 1.3 : 0.73, px * 3, rounds, [&] {
                for (int y = 0; y < kSize; y += t)
                    for (int x = 0; x < kSize; x += t)
                        imageRead(img.p, ekUChar, ekInterleaved, 3, tile.p, ekUChar, ekInterleaved,
                                  ekTile(x, y, 0, t, t, 1), 0, 0, fill8);
            }));
        }
    }

    if (want("j")) {
        // A fill of the whole image from a constant pixel (fillTile3D).
        Buffer out(px * 3);
        const unsigned char v[3] = {10, 20, 30};
        const ekPixel value(ekUChar, 3, v);
        results.push_back(measure("j  fill, 3x8-bit interleaved", 0.0, px * 3, rounds, [&] {
            ekDataBlock dst(out.p, ekUChar, ekInterleaved, 3, nullptr, kSize, kSize, 1, 0, 0, 0, 0);
            dst.setClip(0, 0, 0, kSize, kSize, 1);
            dst.copyFrom(ekDataBlock(value, nullptr, nullptr, 0));
        }));
    }

    // The same workloads through the memory image's tile interface, with a
    // configuration giving the caller's type, order and coordinate space.
    if (want("i")) {
        Buffer img(px * 3), out(px * 12);
        Buffer fimg(px * 12);
        fillFloats(fimg);
        ekMemoryImg image(img.p, ekSize(kSize, kSize, 3), ekUChar, ekInterleaved);
        ekMemoryImg fimage(fimg.p, ekSize(kSize, kSize, 3), ekFloat, ekInterleaved);
        auto read = [&](ekMemoryImg& im, ekType t, ekOrder o, ekCoordSpace cs, int x, int y,
                        int n) {
            ekConfig cfg(t, o, 3, nullptr, 0, cs);
            im.getTile(x, y, n, n, out.p, &cfg);
        };
        const struct {
            const char* name;
            double target;
            ekType type;
            ekOrder order;
            ekCoordSpace space;
            size_t bytes;
        } whole[] = {
            // The image's own space is ekLowerLeft: 0 (its own), ekUpperLeft
            // mirrors y, ekLowerRight mirrors x, ekLeftLower exchanges axes.
            {"ia getTile, same layout", 0.96, ekUChar, ekInterleaved, ekCoordSpace(0), px * 3},
            {"ib getTile, 8-bit -> float", 1.0, ekFloat, ekInterleaved, ekCoordSpace(0), px * 12},
            {"ie getTile, interleaved -> separate", 0.94, ekUChar, ekSeparate, ekCoordSpace(0),
             px * 3},
            {"if1 getTile, mirrored in y", 0.9, ekUChar, ekInterleaved, ekUpperLeft, px * 3},
            {"if2 getTile, mirrored in x", 1.3, ekUChar, ekInterleaved, ekLowerRight, px * 3},
        };
        for (const auto& w : whole)
            results.push_back(measure(w.name, w.target, w.bytes, rounds,
                                      [&] { read(image, w.type, w.order, w.space, 0, 0, kSize); }));
        measurePlainAndSaturating(results, "ic getTile, float -> 8-bit",
                                  "ics  the same, ekSaturate", 2.4, px * 3, rounds, [&](bool sat) {
                                      ekConfig cfg(ekUChar, ekInterleaved, 3);
                                      cfg.reserved = sat ? ekSaturate : 0;
                                      fimage.getTile(0, 0, kSize, kSize, out.p, &cfg);
                                  });
        for (int t : {256, 32}) {
            const std::string name =
                std::string("ih getTile ") + std::to_string(t) + "x" + std::to_string(t) + " tiles";
            results.push_back(measure(name.c_str(), t == 32 ? 1.3 : 0.73, px * 3, rounds, [&] {
                for (int y = 0; y < kSize; y += t)
                    for (int x = 0; x < kSize; x += t)
                        read(image, ekUChar, ekInterleaved, ekCoordSpace(0), x, y, t);
            }));
        }
    }

    std::printf("%-40s %8s %8s %8s %8s\n", "workload (4096x4096)", "median", "best", "target",
                "ms");
    for (const Result& r : results) {
        // A target of 0: a workload of our own, without a peer figure.
        char target[16] = "       -";
        if (r.target > 0) std::snprintf(target, sizeof target, "%8.2f", r.target);
        char plain[32] = "";
        if (r.vsPlain > 0) std::snprintf(plain, sizeof plain, "  %.2f x plain", r.vsPlain);
        std::printf("%-40s %8.2f %8.2f %s %8.2f%s%s\n", r.name.c_str(), r.ratio, r.best, target,
                    r.ms, plain, r.target <= 0 || r.ratio <= r.target ? "" : "  (above target)");
    }
    return 0;
}
