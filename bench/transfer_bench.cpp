// SPDX-License-Identifier: Apache-2.0
// Pixel transfers through the public tile interface, timed against memcpy of
// the same destination bytes, with OpenCV's equivalent call as a peer when
// the build found it.
//
//   eks_transfer_bench [rounds] [filter] [--markdown]
//
// filter: comma-separated row names (a,e2r,g2); default every row.
// EKS_BENCH_DUMP=1 in the environment also prints every turn's times in ms
// (workload/memcpy) to stderr, to tell noise from a real change.
//
// Every row reads (getTile3D) or writes (setTile3D) a 4096 x 4096 memory
// image in the ekUpperLeft space over a buffer of random data (floats in
// 0..255), one call per image or per tile, with a configuration giving the
// caller's type, order, channel count and space: ekLowerLeft mirrors the
// rows, ekUpperRight the columns, ekLeftUpper exchanges the axes. Each round
// times memcpy and one workload in strict turns (memcpy, workload, memcpy,
// peer, ...); a figure is the median of the per-round ratios to memcpy (lower
// is better, 1.0 = memcpy speed), or microseconds per call for the small
// tiles. The saturating rows (ekSaturate) run in the same rounds as their
// plain row and also give their time over the plain row's.
//
// The peer runs single-threaded (cv::setNumThreads(0): OpenCV's parallel
// loops run in the calling thread) over cv::Mat headers on the same buffers.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>

#include "eks/images.h"
#include "transfer/simd_kernels.h"
#include "transfer_bench_checks.h"
#include "transfer_bench_harness.h"

#ifdef EKS_BENCH_OPENCV
#include <opencv2/core.hpp>
// The peer's workload; dropped, tokens and all, in a build without OpenCV.
#define PEER(...) std::function<void()>(__VA_ARGS__)
#else
#define PEER(...) std::function<void()>()
#endif

using namespace bench;

namespace {

constexpr int kSize = 4096;
constexpr size_t kPx = size_t(kSize) * kSize;

// The rows of one measurement: the library's workload, its saturating twin
// (when sat is set) and the peer (when peer is set), timed in the same rounds.
struct Group {
    std::string name, satName, label;
    double target;
    size_t bytes;  // destination bytes of one workload run (memcpy's size)
    std::function<void()> eks, sat, peer;
    int calls = 0;  // > 0: report microseconds per call instead of ratios
};

struct Bench {
    int rounds = 15;
    std::set<std::string> filter;
    std::vector<Row> rows;

    bool want(std::initializer_list<const char*> names) const {
        if (filter.empty()) return true;
        for (const char* n : names)
            if (filter.count(n)) return true;
        return false;
    }

    void run(const Group& g) {
        std::vector<std::function<void()>> fns{g.eks};
        const size_t sat = g.sat ? fns.size() : 0;
        if (g.sat) fns.push_back(g.sat);
        const size_t peer = g.peer ? fns.size() : 0;
        if (g.peer) fns.push_back(g.peer);
        const Timings t = measureTurns(g.bytes, rounds, fns);
        if (std::getenv("EKS_BENCH_DUMP"))
            for (size_t k = 0; k < fns.size(); ++k) {
                std::fprintf(stderr, "%s[%zu]", g.name.c_str(), k);
                for (size_t r = 0; r < t.work[k].size(); ++r)
                    std::fprintf(stderr, " %.1f/%.1f", t.work[k][r] * 1e3, t.copy[k][r] * 1e3);
                std::fprintf(stderr, "\n");
            }
        auto figure = [&](size_t k) {
            return g.calls > 0 ? median(t.work[k]) / g.calls * 1e6 : t.ratio(k);
        };
        Row row;
        row.name = g.name, row.label = g.label, row.target = g.target, row.perCall = g.calls > 0;
        row.eks = figure(0);
        if (peer) row.peer = figure(peer), row.eksPerPeer = t.relative(0, peer);
        rows.push_back(row);
        if (!sat) return;
        row.name = g.satName, row.label = g.label + ", ekSaturate";
        row.eks = figure(sat), row.target = NAN, row.vsPlain = t.relative(sat, 0);
        if (peer) row.eksPerPeer = t.relative(sat, peer);
        rows.push_back(row);
    }
};

// A memory image over `data` in the ekUpperLeft space.
struct Image {
    ekMemoryImg img;
    Image(void* data, int nc, ekType t, ekOrder o) : img(data, ekSize(kSize, kSize, nc), t, o) {
        ok(img.setCoordSpace(ekUpperLeft), "setCoordSpace");
    }
    void read(int x, int y, int nx, int ny, void* buf, const ekConfig& cfg) {
        ok(img.getTile3D(x, y, 0, nx, ny, 1, buf, &cfg), "getTile3D");
    }
    void readAll(void* buf, const ekConfig& cfg) { read(0, 0, kSize, kSize, buf, cfg); }
};

ekConfig callerCfg(ekType t, ekOrder o, int nc, ekCoordSpace s = ekUpperLeft, bool sat = false) {
    ekConfig cfg(t, o, nc, nullptr, 0, s);
    cfg.reserved = sat ? ekSaturate : 0;
    return cfg;
}

#ifdef EKS_BENCH_OPENCV
cv::Mat mat(void* p, int type, int rows = kSize, int cols = kSize) {
    return cv::Mat(rows, cols, type, p);
}
// A peer call that reallocated its destination would time an allocation
// and write elsewhere: stop there.
void samePtr(const cv::Mat& m, const void* p) {
    if (m.data == p) return;
    std::fprintf(stderr, "OpenCV reallocated a destination\n");
    std::exit(1);
}
// The peer's split of an interleaved 3 x 8-bit image into three planes at dst.
void splitPlanes(unsigned char* src, unsigned char* dst) {
    cv::Mat planes[3] = {mat(dst, CV_8U), mat(dst + kPx, CV_8U), mat(dst + 2 * kPx, CV_8U)};
    cv::split(mat(src, CV_8UC3), planes);
    samePtr(planes[2], dst + 2 * kPx);
}
#endif

const Layout k3i{ekUChar, ekInterleaved, 3}, k3s{ekUChar, ekSeparate, 3},
    k1{ekUChar, ekInterleaved, 1};

// Every configuration a row times, on a small image first.
void checkRows() {
    const int w = kCheckW, h = kCheckH;
    checkRead("a", k3i, k3i, ekUpperLeft, 0, 0, w, h);
    checkRead("b", k3i, {ekFloat, ekInterleaved, 3}, ekUpperLeft, 0, 0, w, h);
    checkRead("c", {ekFloat, ekInterleaved, 3}, k3i, ekUpperLeft, 0, 0, w, h);
    checkRead("d", {ekUShort, ekInterleaved, 1}, k1, ekUpperLeft, 0, 0, w, h);
    checkRead("e", k3i, k3s, ekUpperLeft, 0, 0, w, h);
    checkRead("e2r", k3s, k3i, ekUpperLeft, 0, 0, w, h);
    checkWrite("e2w", k3s, k3i);
    checkRead("f1", k3i, k3i, ekLowerLeft, 0, 0, w, h);
    checkRead("f2", k3i, k3i, ekUpperRight, 0, 0, w, h);
    checkRead("g", k1, k1, ekLeftUpper, 0, 0, h, w);
    checkRead("g2", k1, k1, ekLeftUpper, 8, 16, 16, 8);
    checkRead("g3", k3i, k3i, ekLeftUpper, 0, 0, h, w);
    checkRead("h", k3i, k3i, ekUpperLeft, 16, 8, 16, 8);
    checkFill("j", k3i);
}

void copyRow(Bench& b) {
    if (b.want({"a"})) {
        Buffer src(kPx * 3), out(kPx * 3);
        Image im(src.p, 3, ekUChar, ekInterleaved);
        const ekConfig cfg = callerCfg(ekUChar, ekInterleaved, 3);
        b.run({"a", "", "copy, 3x8-bit interleaved", 0.70, kPx * 3, [&] { im.readAll(out.p, cfg); },
               nullptr, PEER([&] {
                   cv::Mat d = mat(out.p, CV_8UC3);
                   mat(src.p, CV_8UC3).copyTo(d);
                   samePtr(d, out.p);
               })});
    }
}

void fillRow(Bench& b) {
    if (b.want({"j"})) {
        Buffer out(kPx * 3);
        Image im(out.p, 3, ekUChar, ekInterleaved);
        const ekConfig cfg = callerCfg(ekUChar, ekInterleaved, 3);
        unsigned char v[3] = {10, 20, 30};
        b.run({"j", "", "fill, 3x8-bit interleaved", NAN, kPx * 3,
               [&] {
                   ok(im.img.fillTile3D(0, 0, 0, kSize, kSize, 1, v, &cfg, nullptr), "fillTile3D");
               },
               nullptr, PEER([&] { mat(out.p, CV_8UC3).setTo(cv::Scalar(10, 20, 30)); })});
    }
}

// A conversion read and its saturating twin; OpenCV's convertTo (which
// always saturates) as the peer.
void conversionRow(Bench& b, const char* name, const char* label, double target, ekType from,
                   ekType to, int nc) {
    const std::string n(name);
    if (!b.want({name, (n + "s").c_str()})) return;
    Buffer src(kPx * nc * typeBytes(from)), out(kPx * nc * typeBytes(to));
    if (from == ekFloat) makeFloats(src);
    Image im(src.p, nc, from, ekInterleaved);
    const ekConfig plain = callerCfg(to, ekInterleaved, nc);
    const ekConfig sat = callerCfg(to, ekInterleaved, nc, ekUpperLeft, true);
#ifdef EKS_BENCH_OPENCV
    auto cvType = [nc](ekType t) {
        return CV_MAKETYPE(t == ekUChar ? CV_8U : t == ekUShort ? CV_16U : CV_32F, nc);
    };
#endif
    b.run({n, n + "s", label, target, out.n, [&] { im.readAll(out.p, plain); },
           [&] { im.readAll(out.p, sat); }, PEER([&] {
               cv::Mat d = mat(out.p, cvType(to));
               mat(src.p, cvType(from)).convertTo(d, cvType(to));
               samePtr(d, out.p);
           })});
}

void orderRows(Bench& b) {
    if (b.want({"e"})) {
        Buffer src(kPx * 3), out(kPx * 3);
        Image im(src.p, 3, ekUChar, ekInterleaved);
        const ekConfig cfg = callerCfg(ekUChar, ekSeparate, 3);
        b.run({"e", "", "interleaved image -> separate buffer, 3x8-bit", 0.90, kPx * 3,
               [&] { im.readAll(out.p, cfg); }, nullptr, PEER([&] { splitPlanes(src.p, out.p); })});
    }
    if (b.want({"e2r"})) {
        Buffer src(kPx * 3), out(kPx * 3);
        Image im(src.p, 3, ekUChar, ekSeparate);
        const ekConfig cfg = callerCfg(ekUChar, ekInterleaved, 3);
        b.run({"e2r", "", "separate image -> interleaved buffer, 3x8-bit", 0.55, kPx * 3,
               [&] { im.readAll(out.p, cfg); }, nullptr, PEER([&] {
                   const cv::Mat planes[3] = {mat(src.p, CV_8U), mat(src.p + kPx, CV_8U),
                                              mat(src.p + 2 * kPx, CV_8U)};
                   cv::Mat d = mat(out.p, CV_8UC3);
                   cv::merge(planes, 3, d);
                   samePtr(d, out.p);
               })});
    }
    if (b.want({"e2w"})) {
        // The write: an interleaved buffer into a separate image. The peer
        // doing the same is a split.
        Buffer in(kPx * 3), dst(kPx * 3);
        Image im(dst.p, 3, ekUChar, ekSeparate);
        const ekConfig cfg = callerCfg(ekUChar, ekInterleaved, 3);
        b.run({"e2w", "", "interleaved buffer -> separate image (write)", 0.55, kPx * 3,
               [&] { ok(im.img.setTile3D(0, 0, 0, kSize, kSize, 1, in.p, &cfg), "setTile3D"); },
               nullptr, PEER([&] { splitPlanes(in.p, dst.p); })});
    }
}

// A whole-image read in another caller space; the peer is flip or transpose.
void orientationRow(Bench& b, const char* name, const char* label, double target, int nc,
                    ekCoordSpace space, int flipCode) {
    if (!b.want({name})) return;
    (void)flipCode;  // used by the peer only
    Buffer src(kPx * nc), out(kPx * nc);
    Image im(src.p, nc, ekUChar, ekInterleaved);
    const ekConfig cfg = callerCfg(ekUChar, ekInterleaved, nc, space);
    b.run({name, "", label, target, out.n, [&] { im.readAll(out.p, cfg); }, nullptr, PEER([&] {
               cv::Mat d = mat(out.p, CV_8UC(nc));
               if (space == ekLeftUpper)
                   cv::transpose(mat(src.p, CV_8UC(nc)), d);
               else
                   cv::flip(mat(src.p, CV_8UC(nc)), d, flipCode);
               samePtr(d, out.p);
           })});
}

// Tile reads covering the image, every tile into the same caller buffer;
// the peer copies (or transposes) the same region of interest.
void tileRow(Bench& b, const char* name, const char* label, double target, int nc, int t,
             ekCoordSpace space, bool perCall) {
    if (!b.want({name})) return;
    Buffer src(kPx * nc), tile(size_t(t) * t * nc);
    Image im(src.p, nc, ekUChar, ekInterleaved);
    const ekConfig cfg = callerCfg(ekUChar, ekInterleaved, nc, space);
    const int n = kSize / t;
    b.run({name, "", label, target, src.n,
           [&] {
               for (int y = 0; y < kSize; y += t)
                   for (int x = 0; x < kSize; x += t) im.read(x, y, t, t, tile.p, cfg);
           },
           nullptr, PEER([&] {
               const cv::Mat s = mat(src.p, CV_8UC(nc));
               cv::Mat d = mat(tile.p, CV_8UC(nc), t, t);
               for (int y = 0; y < kSize; y += t)
                   for (int x = 0; x < kSize; x += t) {
                       // A transposed tile at (x, y) covers image columns
                       // y.. and rows x..
                       if (space == ekLeftUpper)
                           cv::transpose(s(cv::Rect(y, x, t, t)), d);
                       else
                           s(cv::Rect(x, y, t, t)).copyTo(d);
                   }
               samePtr(d, tile.p);
           }),
           perCall ? n * n : 0});
}

std::string engineLevel() {
    static const char* names[] = {"portable loops", "SSE2 kernels", "SSSE3 kernels",
                                  "AVX2 kernels"};
    const int level = ekSimdLevel();
    return level >= 0 && level <= 3 ? names[level] : "level " + std::to_string(level);
}

std::string machineLine(int rounds) {
    const Machine m = readMachine();
#ifdef EKS_BENCH_OPENCV
    const std::string peer = std::string("OpenCV ") + CV_VERSION + ", 1 thread";
#else
    const std::string peer = "no OpenCV";
#endif
    return m.model + " | " + m.flags + " | engine: " + engineLevel() + " | " + peer + " | " +
           std::to_string(rounds) + " rounds | " + utcDate();
}

}  // namespace

int main(int argc, char** argv) {
    Bench b;
    bool markdown = false;
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--markdown") {
            markdown = true;
        } else if (positional == 0 && std::atoi(argv[i]) > 0) {
            b.rounds = std::atoi(argv[i]), positional = 1;
        } else if (positional <= 1 && arg.find_first_not_of("0123456789") != std::string::npos) {
            std::stringstream ss(arg);
            for (std::string name; std::getline(ss, name, ',');) b.filter.insert(name);
            positional = 2;
        } else {
            std::fprintf(stderr, "usage: %s [rounds] [filter] [--markdown]\n", argv[0]);
            return 2;
        }
    }
#ifdef EKS_BENCH_OPENCV
    cv::setNumThreads(0);
#endif
    checkRows();

    copyRow(b);
    conversionRow(b, "b", "8-bit -> float, 3-ch interleaved", 0.85, ekUChar, ekFloat, 3);
    conversionRow(b, "c", "float -> 8-bit, 3-ch interleaved", 2.4, ekFloat, ekUChar, 3);
    conversionRow(b, "d", "16-bit -> 8-bit, 1 channel", 1.1, ekUShort, ekUChar, 1);
    orderRows(b);
    orientationRow(b, "f1", "vertical flip, 3x8-bit", 0.75, 3, ekLowerLeft, 0);
    orientationRow(b, "f2", "horizontal flip, 3x8-bit", 0.80, 3, ekUpperRight, 1);
    orientationRow(b, "g", "transpose, 1x8-bit", 2.5, 1, ekLeftUpper, 0);
    orientationRow(b, "g3", "transpose, 3x8-bit", NAN, 3, ekLeftUpper, 0);
    tileRow(b, "g2", "256x256 transposed tile reads, 1x8-bit", NAN, 1, 256, ekLeftUpper, false);
    tileRow(b, "h", "256x256 tile reads, 3x8-bit", 0.75, 3, 256, ekUpperLeft, false);
    tileRow(b, "h2", "32x32 tile reads, 3x8-bit (us per call)", 0.30, 3, 32, ekUpperLeft, true);
    fillRow(b);

    const std::string machine = machineLine(b.rounds);
    if (b.rows.empty()) {
        std::fprintf(stderr, "no row matches the filter\n");
        return 2;
    }
    if (markdown) {
        printMarkdown(b.rows);
        std::printf("\n%s\n", machine.c_str());
    } else {
        std::printf("%s\n\n", machine.c_str());
        printText(b.rows);
    }
    return 0;
}
