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
// would find their buffers warm and flatter the baseline).
inline Timings measureTurns(size_t bytes, int rounds,
                            const std::vector<std::function<void()>>& fns) {
    Buffer a(bytes), b(bytes);
    Timings t;
    t.work.resize(fns.size());
    t.copy.resize(fns.size());
    for (const auto& fn : fns) fn();  // warm up (page faults)
    std::memcpy(b.p, a.p, bytes);
    for (int r = 0; r < rounds; ++r)
        for (size_t k = 0; k < fns.size(); ++k) {
            const double t0 = now();
            std::memcpy(b.p, a.p, bytes);
            const double t1 = now();
            fns[k]();
            const double t2 = now();
            t.copy[k].push_back(t1 - t0);
            t.work[k].push_back(t2 - t1);
        }
    return t;
}

// One line of the table. Ratios to memcpy, or microseconds per call when
// perCall is set; NaN where there is no figure.
struct Row {
    std::string name, label;
    double eks = NAN, peer = NAN, eksPerPeer = NAN, target = NAN;
    double vsPlain = NAN;  // saturating rows: time over the plain row's
    bool perCall = false;
    // Saturating rows: at most 1.1 times the plain row and no slower than
    // the peer; other rows: at most the target.
    bool missed() const {
        if (!std::isnan(vsPlain)) return vsPlain > 1.1 || (!std::isnan(peer) && eks > peer);
        return !std::isnan(target) && eks > target;
    }
    // The target as text; `le` and `times` spell "at most" and "times".
    std::string targetText(const char* le = "<=", const char* times = "x ") const {
        char s[64] = "-";
        if (!std::isnan(vsPlain))
            std::snprintf(s, sizeof s, "%s1.1%s%s", le, times,
                          name.substr(0, name.size() - 1).c_str());
        else if (!std::isnan(target))
            std::snprintf(s, sizeof s, perCall ? "%s%.2f us" : "%s%.2f", le, target);
        return s;
    }
};

inline std::string fmt(double v, const char* f = "%.2f") {
    if (std::isnan(v)) return "-";
    char s[32];
    std::snprintf(s, sizeof s, f, v);
    return s;
}

// CPU model, the SIMD flags that matter to the kernels, and the date.
struct Machine {
    std::string model = "unknown CPU", flags;
    bool avx2 = false;
};

inline Machine readMachine() {
    Machine m;
    std::ifstream in("/proc/cpuinfo");
    std::string line, flagLine;
    while (std::getline(in, line)) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        const std::string key = line.substr(0, line.find_first_of(" \t"));
        const std::string value = colon + 2 <= line.size() ? line.substr(colon + 2) : "";
        if (key == "model" && line.compare(0, 10, "model name") == 0) m.model = value;
        if (key == "flags" && flagLine.empty()) flagLine = " " + value + " ";
        if (!flagLine.empty() && m.model != "unknown CPU") break;
    }
    for (const char* f : {"sse2", "ssse3", "avx2", "avx512f", "avx512bw"}) {
        const bool has = flagLine.find(" " + std::string(f) + " ") != std::string::npos;
        m.flags += std::string(m.flags.empty() ? "" : " ") + (has ? "" : "-") + f;
        if (std::string(f) == "avx2") m.avx2 = has;
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
    std::printf("%-4s %-46s %7s %7s %7s %10s\n", "row", "workload (4096 x 4096)", "EKS", "OpenCV",
                "EKS/CV", "target");
    for (const Row& r : rows) {
        std::string extra = r.missed() ? "  above target" : "";
        if (!std::isnan(r.vsPlain)) extra = "  " + fmt(r.vsPlain) + " x plain" + extra;
        std::printf("%-4s %-46s %7s %7s %7s %10s%s\n", r.name.c_str(), r.label.c_str(),
                    fmt(r.eks).c_str(), fmt(r.peer).c_str(), fmt(r.eksPerPeer).c_str(),
                    r.targetText().c_str(), extra.c_str());
    }
}

inline void printMarkdown(const std::vector<Row>& rows) {
    std::printf("| workload | EKS | OpenCV | target |\n|---|---:|---:|---:|\n");
    for (const Row& r : rows) {
        std::string eks = fmt(r.eks);
        if (!std::isnan(r.vsPlain)) eks += " (" + fmt(r.vsPlain) + " x plain)";
        if (r.missed()) eks += " *";
        std::printf("| %s: %s | %s | %s | %s |\n", r.name.c_str(), r.label.c_str(), eks.c_str(),
                    fmt(r.peer).c_str(), r.targetText("≤ ", " × ").c_str());
    }
    std::printf("\n\\* above target (saturating rows: above 1.1 × the plain row or the peer)\n");
}

}  // namespace bench

#endif
