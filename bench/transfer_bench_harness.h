// SPDX-License-Identifier: Apache-2.0
// Timing harness of the transfer benchmark: buffers, strict-turn timing
// against memcpy, the machine line and the table printers.
#ifndef EKS_BENCH_TRANSFER_BENCH_HARNESS_H
#define EKS_BENCH_TRANSFER_BENCH_HARNESS_H

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "eks/core.h"

namespace bench {

// Aborts the benchmark when a call of the library did not succeed: a row
// that failed would otherwise time nothing at all.
inline void ok(ekStatus s, const char* what) {
    if (s == ekOkay) return;
    std::fprintf(stderr, "%s failed: %s\n", what, ekStatusName(s));
    std::exit(1);
}

inline double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A malloc'ed buffer filled with pseudo-random bytes (a fixed xorshift
// sequence, so every run sees the same data).
struct Buffer {
    unsigned char* p = nullptr;
    size_t n = 0;
    explicit Buffer(size_t bytes) : p(static_cast<unsigned char*>(std::malloc(bytes))), n(bytes) {
        if (!p) {
            std::fprintf(stderr, "out of memory (%zu bytes)\n", bytes);
            std::exit(1);
        }
        uint64_t s = 0x9e3779b97f4a7c15u ^ bytes;
        size_t i = 0;
        for (; i + 8 <= n; i += 8) {
            s ^= s << 13, s ^= s >> 7, s ^= s << 17;
            std::memcpy(p + i, &s, 8);
        }
        for (; i < n; ++i) p[i] = static_cast<unsigned char>(i * 7);
    }
    ~Buffer() { std::free(p); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
};

// Turns the random bytes into floats in 0..255 (what a float image of
// 8-bit data holds), fractions included.
inline void makeFloats(Buffer& b) {
    float* f = reinterpret_cast<float*>(b.p);
    uint32_t bits;
    for (size_t i = 0; i < b.n / 4; ++i) {
        std::memcpy(&bits, b.p + 4 * i, 4);
        f[i] = float(bits % 25600u) * 0.01f;
    }
}

// Per-round times of each workload and of the memcpy that ran just before it.
struct Timings {
    std::vector<std::vector<double>> work, copy;
    // Median of the per-round ratios to memcpy. A round's memcpy time is the
    // mean of its turns, shared by every workload of the round, so that the
    // ratios of one row compare as their times do.
    double ratio(size_t k) const {
        std::vector<double> q;
        for (size_t r = 0; r < work[k].size(); ++r) {
            double sum = 0;
            for (const auto& c : copy) sum += c[r];
            q.push_back(work[k][r] * double(copy.size()) / sum);
        }
        return median(q);
    }
    double relative(size_t k, size_t base) const {  // median per-round time ratio
        std::vector<double> q;
        for (size_t r = 0; r < work[k].size(); ++r) q.push_back(work[k][r] / work[base][r]);
        return median(q);
    }
};

// Times the workloads against memcpy of `bytes` bytes in strict turns:
// memcpy, workload 0, memcpy, workload 1, ... so that each runs after the
// other has pushed its buffers out of the caches (two memcpy calls in a row
// would find their buffers warm and flatter the baseline). `between`, when
// set, runs before every round, untimed.
inline Timings measureTurns(size_t bytes, int rounds, const std::vector<std::function<void()>>& fns,
                            const std::function<void()>& between = nullptr) {
    Buffer a(bytes), b(bytes);
    Timings t;
    t.work.resize(fns.size());
    t.copy.resize(fns.size());
    for (const auto& fn : fns) fn();  // warm up (page faults)
    std::memcpy(b.p, a.p, bytes);
    for (int r = 0; r < rounds; ++r) {
        if (between) between();
        for (size_t k = 0; k < fns.size(); ++k) {
            const double t0 = now();
            std::memcpy(b.p, a.p, bytes);
            const double t1 = now();
            fns[k]();
            const double t2 = now();
            t.copy[k].push_back(t1 - t0);
            t.work[k].push_back(t2 - t1);
        }
    }
    return t;
}

// The peers a row can be timed against, in their table columns: OpenCV,
// GDAL, and a plain loop of one memcpy per row (tile reads).
enum Peer { kOpenCV, kGDAL, kRowLoop, kPeers };
inline const char* peerName(int p) {
    static const char* names[kPeers] = {"OpenCV", "GDAL", "memcpy rows"};
    return names[p];
}

// One line of the table. Ratios to memcpy, or microseconds per call when
// perCall is set; NaN where there is no figure.
struct Row {
    std::string name, label;
    double eks = NAN;
    double peer[kPeers] = {NAN, NAN, NAN};        // each peer's figure
    double eksPerPeer[kPeers] = {NAN, NAN, NAN};  // median per-round time ratio EKS / peer
    // A target of its own beside "no slower than any peer": at most
    // `factor` times the time of peer `against`.
    int against = -1;
    double factor = NAN;
    double vsPlain = NAN;  // saturating rows: time over the plain row's
    bool perCall = false;

    // EKS over the fastest peer of the row (the largest per-peer ratio).
    double perFastest() const {
        double worst = NAN;
        for (double v : eksPerPeer)
            if (!std::isnan(v) && !(v <= worst)) worst = v;
        return worst;
    }
    // Every row: no slower than the fastest peer; saturating rows also at
    // most 1.1 times the plain row; some rows a bound against one peer.
    bool missed() const {
        const double f = perFastest();
        if (!std::isnan(f) && f > 1.0) return true;
        if (!std::isnan(vsPlain) && vsPlain > 1.1) return true;
        return against >= 0 && eksPerPeer[against] > factor;
    }
    // The target as text; `le` and `times` spell "at most" and "times".
    std::string targetText(const char* le = "<=", const char* times = "x ") const {
        char s[96] = "";
        if (!std::isnan(vsPlain))
            std::snprintf(s, sizeof s, "%s1.1%s%s, ", le, times,
                          name.substr(0, name.size() - 1).c_str());
        else if (against >= 0)
            std::snprintf(s, sizeof s, "%s%.1f%s%s, ", le, factor, times, peerName(against));
        return std::string(s) + le + "1.0" + times + "peers";
    }
};

inline std::string fmt(double v, const char* f = "%.2f") {
    if (std::isnan(v)) return "-";
    char s[32];
    std::snprintf(s, sizeof s, f, v);
    return s;
}

// CPU model (with its family and model numbers, which tell the generations
// of one brand name apart), the SIMD flags that matter to the kernels.
struct Machine {
    std::string model = "unknown CPU", flags;
};

inline Machine readMachine() {
    Machine m;
    std::ifstream in("/proc/cpuinfo");
    std::string line, flagLine, family, number;
    while (std::getline(in, line)) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string key = line.substr(0, colon);
        key.erase(key.find_last_not_of(" \t") + 1);
        const std::string value = colon + 2 <= line.size() ? line.substr(colon + 2) : "";
        if (key == "model name") m.model = value;
        if (key == "cpu family") family = value;
        if (key == "model") number = value;
        if (key == "flags") {
            flagLine = " " + value + " ";
            break;  // the first processor's entry is complete
        }
    }
    if (!family.empty()) m.model += " (family " + family + ", model " + number + ")";
    for (const char* f : {"sse2", "ssse3", "avx2", "avx512f", "avx512bw", "avx512vl"}) {
        const bool has = flagLine.find(" " + std::string(f) + " ") != std::string::npos;
        m.flags += std::string(m.flags.empty() ? "" : " ") + (has ? "" : "-") + f;
    }
    return m;
}

inline std::string utcDate() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char s[32];
    std::strftime(s, sizeof s, "%Y-%m-%d %H:%M UTC", &tm);
    return s;
}

inline void printText(const std::vector<Row>& rows) {
    std::printf("%-4s %-46s %6s %6s %6s %6s %7s  %s\n", "row", "workload (4096 x 4096)", "EKS",
                "OpenCV", "GDAL", "rows", "EKS/best", "target");
    for (const Row& r : rows) {
        std::string extra = r.missed() ? "  missed" : "";
        if (!std::isnan(r.vsPlain)) extra = "  " + fmt(r.vsPlain) + " x plain" + extra;
        if (r.against >= 0 && r.against != kOpenCV && r.against != kGDAL)
            extra += "  " + fmt(r.eksPerPeer[r.against]) + " x " + peerName(r.against);
        std::printf("%-4s %-46s %6s %6s %6s %6s %7s  %s%s\n", r.name.c_str(), r.label.c_str(),
                    fmt(r.eks).c_str(), fmt(r.peer[kOpenCV]).c_str(), fmt(r.peer[kGDAL]).c_str(),
                    fmt(r.peer[kRowLoop]).c_str(), fmt(r.perFastest()).c_str(),
                    r.targetText().c_str(), extra.c_str());
    }
}

inline void printMarkdown(const std::vector<Row>& rows) {
    std::printf(
        "| workload | EKS | OpenCV | GDAL | memcpy rows | EKS / fastest peer | target |\n"
        "|---|---:|---:|---:|---:|---:|---:|\n");
    for (const Row& r : rows) {
        std::string eks = fmt(r.eks);
        if (!std::isnan(r.vsPlain)) eks += " (" + fmt(r.vsPlain) + " × plain)";
        if (r.missed()) eks += " *";
        std::printf("| %s: %s | %s | %s | %s | %s | %s | %s |\n", r.name.c_str(), r.label.c_str(),
                    eks.c_str(), fmt(r.peer[kOpenCV]).c_str(), fmt(r.peer[kGDAL]).c_str(),
                    fmt(r.peer[kRowLoop]).c_str(), fmt(r.perFastest()).c_str(),
                    r.targetText("≤ ", " × ").c_str());
    }
    std::printf("\n\\* target missed\n");
}

}  // namespace bench

#endif
