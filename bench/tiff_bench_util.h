// SPDX-License-Identifier: Apache-2.0
// What the TIFF benchmarks share: the median of a run's rounds and the CPU's
// name, printed with every table.
#ifndef EKS_BENCH_TIFF_BENCH_UTIL_H
#define EKS_BENCH_TIFF_BENCH_UTIL_H

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

inline std::string cpuName() {
    std::ifstream f("/proc/cpuinfo");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
    return "unknown CPU";
}

#endif  // EKS_BENCH_TIFF_BENCH_UTIL_H
