// SPDX-License-Identifier: Apache-2.0
// Pixel transfers through the public tile interface, timed against memcpy of
// the same destination bytes, beside the peers the build found doing the
// same work on the same buffers: OpenCV, GDAL, and for tile reads a plain
// loop of one memcpy per row.
//
//   eks_transfer_bench [rounds] [filter] [--markdown] [--vips]
//
// filter: comma-separated row names (a,e2r,g2); default every row.
// --vips: libvips started, its thread pool running crops between rounds
// (the rows timed with another library's threads alive in the process).
// EKS_BENCH_DUMP=1 in the environment also prints every turn's times in ms
// (workload/memcpy) to stderr, to tell noise from a real change;
// EKS_BENCH_LEVEL=3 caps the kernels' instruction set level (0 portable ...
// 4 AVX-512) and EKS_BENCH_TUNING=intel or amd picks a CPU family's kernels,
// to time the engine's other choices on the same machine.
//
// Every row reads (getTile3D) or writes (setTile3D) a 4096 x 4096 memory
// image in the ekUpperLeft space over a buffer of random data (floats in
// 0..255), one call per image or per tile, with a configuration giving the
// caller's type, order, channel count and space: ekLowerLeft mirrors the
// rows, ekUpperRight the columns, ekLeftUpper exchanges the axes. Each round
// times memcpy and one workload in strict turns (memcpy, workload, memcpy,
// peer, ...); a figure is the median of the per-round ratios to memcpy (lower
// is better, 1.0 = memcpy speed), or microseconds per call for the small
// tiles. EKS / fastest peer is the largest of the median per-round time
// ratios of EKS to each peer. The saturating rows (ekSaturate) run in the
// same rounds as their plain row and also give their time over the plain
// row's.
//
// The peers run single-threaded (cv::setNumThreads(0): OpenCV's parallel
// loops run in the calling thread; GDAL's calls here are single-threaded).
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
#include "transfer_bench_peers.h"

using namespace bench;

namespace {

// The rows of one measurement: the library's workload, its saturating twin
// (when sat is set) and the peers that are set, timed in the same rounds.
struct Group {
    std::string name, satName, label;
    size_t bytes;  // destination bytes of one workload run (memcpy's size)
    std::function<void()> eks, sat;
    std::function<void()> peer[kPeers];
    int calls = 0;     // > 0: report microseconds per call instead of ratios
    int against = -1;  // a bound of its own: at most `factor` times peer `against`
    double factor = NAN;
};

struct Bench {
    int rounds = 15;
    std::set<std::string> filter;
    std::vector<Row> rows;
    std::function<void()> between;  // untimed work before every round

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
        size_t peer[kPeers] = {};
        for (int p = 0; p < kPeers; ++p)
            if (g.peer[p]) peer[p] = fns.size(), fns.push_back(g.peer[p]);
        const Timings t = measureTurns(g.bytes, rounds, fns, between);
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
        auto fill = [&](Row& row, size_t k) {
            row.eks = figure(k);
            for (int p = 0; p < kPeers; ++p)
                if (peer[p])
                    row.peer[p] = figure(peer[p]), row.eksPerPeer[p] = t.relative(k, peer[p]);
        };
        Row row;
        row.name = g.name, row.label = g.label, row.perCall = g.calls > 0;
        row.against = g.against, row.factor = g.factor;
        fill(row, 0);
        rows.push_back(row);
        if (!sat) return;
        row.name = g.satName, row.label = g.label + ", ekSaturate";
        row.against = -1, row.vsPlain = t.relative(sat, 0);
        fill(row, sat);
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

// A group of a row name, label and destination bytes, its library
// workload and its saturating twin.
Group group(const std::string& name, const std::string& label, size_t bytes,
            std::function<void()> eks, std::function<void()> sat = nullptr) {
    Group g;
    g.name = name, g.label = label, g.bytes = bytes, g.eks = std::move(eks), g.sat = std::move(sat);
    if (g.sat) g.satName = name + "s";
    return g;
}

// A plain copy of the whole image; the peers copy it whole too. Copies are
// bound at 1.0 x GDALCopyWords64 (a plain memcpy) beside the fastest peer.
void copyRow(Bench& b) {
    if (!b.want({"a"})) return;
    Buffer src(kPx * 3), out(kPx * 3);
    Image im(src.p, 3, ekUChar, ekInterleaved);
    const ekConfig cfg = callerCfg(ekUChar, ekInterleaved, 3);
    Group g = group("a", "copy, 3x8-bit interleaved", kPx * 3, [&] { im.readAll(out.p, cfg); });
    g.peer[kOpenCV] = CV_PEER([&] {
        cv::Mat d = mat(out.p, CV_8UC3);
        mat(src.p, CV_8UC3).copyTo(d);
        samePtr(d, out.p);
    });
    g.peer[kGDAL] = GDAL_PEER(
        [&] { GDALCopyWords64(src.p, GDT_Byte, 1, out.p, GDT_Byte, 1, GPtrDiff_t(kPx * 3)); });
    b.run(g);
}

void fillRow(Bench& b) {
    if (!b.want({"j"})) return;
    Buffer out(kPx * 3);
    Image im(out.p, 3, ekUChar, ekInterleaved);
    const ekConfig cfg = callerCfg(ekUChar, ekInterleaved, 3);
    unsigned char v[3] = {10, 20, 30};
    Group g = group("j", "fill, 3x8-bit interleaved", kPx * 3, [&] {
        ok(im.img.fillTile3D(0, 0, 0, kSize, kSize, 1, v, &cfg, nullptr), "fillTile3D");
    });
    g.peer[kOpenCV] = CV_PEER([&] { mat(out.p, CV_8UC3).setTo(cv::Scalar(10, 20, 30)); });
    b.run(g);
}

// A conversion read and its saturating twin; OpenCV's convertTo and
// GDALCopyWords64 (both saturate) as the peers.
void conversionRow(Bench& b, const char* name, const char* label, ekType from, ekType to, int nc,
                   double factorOfOpenCV = NAN) {
    const std::string n(name);
    if (!b.want({name, (n + "s").c_str()})) return;
    Buffer src(kPx * nc * typeBytes(from)), out(kPx * nc * typeBytes(to));
    if (from == ekFloat) makeFloats(src);
    Image im(src.p, nc, from, ekInterleaved);
    const ekConfig plain = callerCfg(to, ekInterleaved, nc);
    const ekConfig sat = callerCfg(to, ekInterleaved, nc, ekUpperLeft, true);
    Group g = group(
        n, label, out.n, [&] { im.readAll(out.p, plain); }, [&] { im.readAll(out.p, sat); });
    if (!std::isnan(factorOfOpenCV)) g.against = kOpenCV, g.factor = factorOfOpenCV;
#ifdef EKS_BENCH_OPENCV
    auto cvType = [nc](ekType t) {
        return CV_MAKETYPE(t == ekUChar ? CV_8U : t == ekUShort ? CV_16U : CV_32F, nc);
    };
#endif
    g.peer[kOpenCV] = CV_PEER([&] {
        cv::Mat d = mat(out.p, cvType(to));
        mat(src.p, cvType(from)).convertTo(d, cvType(to));
        samePtr(d, out.p);
    });
    g.peer[kGDAL] = GDAL_PEER([&] {
        GDALCopyWords64(src.p, gdalType(from), int(typeBytes(from)), out.p, gdalType(to),
                        int(typeBytes(to)), GPtrDiff_t(kPx * nc));
    });
    b.run(g);
}

void orderRows(Bench& b) {
    if (b.want({"e"})) {
        Buffer src(kPx * 3), out(kPx * 3);
        Image im(src.p, 3, ekUChar, ekInterleaved);
        const ekConfig cfg = callerCfg(ekUChar, ekSeparate, 3);
        Group g = group("e", "interleaved image -> separate buffer, 3x8-bit", kPx * 3,
                        [&] { im.readAll(out.p, cfg); });
        g.peer[kOpenCV] = CV_PEER([&] { splitPlanes(src.p, out.p); });
        g.peer[kGDAL] = GDAL_PEER([&] { gdalSplitPlanes(src.p, out.p); });
        b.run(g);
    }
    if (b.want({"e2r"})) {
        Buffer src(kPx * 3), out(kPx * 3);
        Image im(src.p, 3, ekUChar, ekSeparate);
        const ekConfig cfg = callerCfg(ekUChar, ekInterleaved, 3);
        Group g = group("e2r", "separate image -> interleaved buffer, 3x8-bit", kPx * 3,
                        [&] { im.readAll(out.p, cfg); });
        g.peer[kOpenCV] = CV_PEER([&] {
            const cv::Mat planes[3] = {mat(src.p, CV_8U), mat(src.p + kPx, CV_8U),
                                       mat(src.p + 2 * kPx, CV_8U)};
            cv::Mat d = mat(out.p, CV_8UC3);
            cv::merge(planes, 3, d);
            samePtr(d, out.p);
        });
        // GDAL interleaves a plane at a time (what its RasterIO does).
        g.peer[kGDAL] = GDAL_PEER([&] {
            for (int k = 0; k < 3; ++k)
                GDALCopyWords64(src.p + k * kPx, GDT_Byte, 1, out.p + k, GDT_Byte, 3,
                                GPtrDiff_t(kPx));
        });
        b.run(g);
    }
    if (b.want({"e2w"})) {
        // The write: an interleaved buffer into a separate image. The peers
        // doing the same split.
        Buffer in(kPx * 3), dst(kPx * 3);
        Image im(dst.p, 3, ekUChar, ekSeparate);
        const ekConfig cfg = callerCfg(ekUChar, ekInterleaved, 3);
        Group g = group("e2w", "interleaved buffer -> separate image (write)", kPx * 3, [&] {
            ok(im.img.setTile3D(0, 0, 0, kSize, kSize, 1, in.p, &cfg), "setTile3D");
        });
        g.peer[kOpenCV] = CV_PEER([&] { splitPlanes(in.p, dst.p); });
        g.peer[kGDAL] = GDAL_PEER([&] { gdalSplitPlanes(in.p, dst.p); });
        b.run(g);
    }
}

// A whole-image read in another caller space; the peer is flip or transpose.
void orientationRow(Bench& b, const char* name, const char* label, int nc, ekCoordSpace space,
                    int flipCode) {
    if (!b.want({name})) return;
    (void)flipCode;  // used by the peer only
    Buffer src(kPx * nc), out(kPx * nc);
    Image im(src.p, nc, ekUChar, ekInterleaved);
    const ekConfig cfg = callerCfg(ekUChar, ekInterleaved, nc, space);
    Group g = group(name, label, out.n, [&] { im.readAll(out.p, cfg); });
    g.peer[kOpenCV] = CV_PEER([&] {
        cv::Mat d = mat(out.p, CV_8UC(nc));
        if (space == ekLeftUpper)
            cv::transpose(mat(src.p, CV_8UC(nc)), d);
        else
            cv::flip(mat(src.p, CV_8UC(nc)), d, flipCode);
        samePtr(d, out.p);
    });
    b.run(g);
}

// Tile reads covering the image, every tile into the same caller buffer;
// OpenCV copies (or transposes) the same region of interest, GDAL reads it
// from a MEM dataset over the image's buffer, and the plain loop copies its
// rows with one memcpy each. Plain tile reads are bound at 1.0 x that loop.
void tileRow(Bench& b, const char* name, const char* label, int nc, int t, ekCoordSpace space,
             bool perCall) {
    if (!b.want({name})) return;
    Buffer src(kPx * nc), tile(size_t(t) * t * nc);
    Image im(src.p, nc, ekUChar, ekInterleaved);
    const ekConfig cfg = callerCfg(ekUChar, ekInterleaved, nc, space);
    const int n = kSize / t;
    Group g = group(name, label, src.n, [&] {
        for (int y = 0; y < kSize; y += t)
            for (int x = 0; x < kSize; x += t) im.read(x, y, t, t, tile.p, cfg);
    });
    g.calls = perCall ? n * n : 0;
    g.peer[kOpenCV] = CV_PEER([&] {
        const cv::Mat s = mat(src.p, CV_8UC(nc));
        cv::Mat d = mat(tile.p, CV_8UC(nc), t, t);
        for (int y = 0; y < kSize; y += t)
            for (int x = 0; x < kSize; x += t) {
                // A transposed tile at (x, y) covers image columns y.. and
                // rows x..
                if (space == ekLeftUpper)
                    cv::transpose(s(cv::Rect(y, x, t, t)), d);
                else
                    s(cv::Rect(x, y, t, t)).copyTo(d);
            }
        samePtr(d, tile.p);
    });
#ifdef EKS_BENCH_GDAL
    MemDataset mem(src.p, nc);
#endif
    if (space == ekUpperLeft) {
        g.peer[kGDAL] = GDAL_PEER([&] {
            for (int y = 0; y < kSize; y += t)
                for (int x = 0; x < kSize; x += t) mem.read(x, y, t, tile.p, nc);
        });
        const size_t row = size_t(t) * nc, stride = size_t(kSize) * nc;
        g.peer[kRowLoop] = [&] {
            for (int y = 0; y < kSize; y += t)
                for (int x = 0; x < kSize; x += t) {
                    const unsigned char* from = src.p + y * stride + x * size_t(nc);
                    for (int r = 0; r < t; ++r)
                        std::memcpy(tile.p + r * row, from + r * stride, row);
                }
        };
        if (!perCall) g.against = kRowLoop, g.factor = 1.0;
    }
    b.run(g);
}

std::string engineLevel() {
    static const char* names[] = {"portable loops", "SSE2 kernels", "SSSE3 kernels", "AVX2 kernels",
                                  "AVX-512 kernels"};
    const int level = ekSimdLevel();
    std::string s = level >= 0 && level <= 4 ? names[level] : "level " + std::to_string(level);
    return s + ", " + ekSimdTuningName() + " tuning";
}

std::string machineLine(int rounds, const VipsPool& vips) {
    const Machine m = readMachine();
    std::string peers;
#ifdef EKS_BENCH_OPENCV
    peers += std::string("OpenCV ") + CV_VERSION + " (1 thread)";
#endif
#ifdef EKS_BENCH_GDAL
    peers += std::string(peers.empty() ? "" : ", ") + "GDAL " + GDALVersionInfo("RELEASE_NAME");
#endif
    if (peers.empty()) peers = "no peers";
    if (vips.on) peers += ", " + VipsPool::version() + " pool busy between rounds";
    return m.model + " | " + m.flags + " | engine: " + engineLevel() + " | " + peers + " | " +
           std::to_string(rounds) + " rounds | " + utcDate();
}

}  // namespace

int main(int argc, char** argv) {
    Bench b;
    bool markdown = false, vips = false;
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--markdown") {
            markdown = true;
        } else if (arg == "--vips") {
            vips = true;
        } else if (positional == 0 && std::atoi(argv[i]) > 0) {
            b.rounds = std::atoi(argv[i]), positional = 1;
        } else if (positional <= 1 && arg.find_first_not_of("0123456789") != std::string::npos) {
            std::stringstream ss(arg);
            for (std::string name; std::getline(ss, name, ',');) b.filter.insert(name);
            positional = 2;
        } else {
            std::fprintf(stderr, "usage: %s [rounds] [filter] [--markdown] [--vips]\n", argv[0]);
            return 2;
        }
    }
#ifdef EKS_BENCH_OPENCV
    cv::setNumThreads(0);
#endif
    if (const char* level = std::getenv("EKS_BENCH_LEVEL")) ekSimdLevelCap = std::atoi(level);
    if (const char* tuning = std::getenv("EKS_BENCH_TUNING"))
        ekSimdTuning = std::string(tuning) == "intel" ? ekTuneIntel : ekTuneAmd;
    checkRows();
    Buffer vipsPicture(vips ? kPx * 3 : 1);
    VipsPool pool;
    if (vips && !pool.start(argv[0], vipsPicture.p)) {
        std::fprintf(stderr, "--vips: this build has no libvips, or it did not start\n");
        return 2;
    }
    b.between = pool.between();

    copyRow(b);
    conversionRow(b, "b", "8-bit -> float, 3-ch interleaved", ekUChar, ekFloat, 3);
    conversionRow(b, "c", "float -> 8-bit, 3-ch interleaved", ekFloat, ekUChar, 3, 0.9);
    conversionRow(b, "d", "16-bit -> 8-bit, 1 channel", ekUShort, ekUChar, 1);
    orderRows(b);
    orientationRow(b, "f1", "vertical flip, 3x8-bit", 3, ekLowerLeft, 0);
    orientationRow(b, "f2", "horizontal flip, 3x8-bit", 3, ekUpperRight, 1);
    orientationRow(b, "g", "transpose, 1x8-bit", 1, ekLeftUpper, 0);
    orientationRow(b, "g3", "transpose, 3x8-bit", 3, ekLeftUpper, 0);
    tileRow(b, "g2", "256x256 transposed tile reads, 1x8-bit", 1, 256, ekLeftUpper, false);
    tileRow(b, "h", "256x256 tile reads, 3x8-bit", 3, 256, ekUpperLeft, false);
    tileRow(b, "h2", "32x32 tile reads, 3x8-bit (us per call)", 3, 32, ekUpperLeft, true);
    fillRow(b);

    const std::string machine = machineLine(b.rounds, pool);
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
