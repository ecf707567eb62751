// SPDX-License-Identifier: Apache-2.0
// The constant image and the sub-image view, timed in the same process
// against a baseline: a whole-image read of a constant image against memcpy of
// the same bytes, and reads through a view (no conversion) against the same
// reads made directly on its parent. Each round runs the baseline and the
// workload in turn; the figure is the median of the per-round ratios (lower is
// better).
//
//   eks_image_classes_bench [rounds]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "eks/images.h"

namespace {

double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Median over the rounds of time(work) / time(base), run in strict turns.
double medianRatio(int rounds, const std::function<void()>& base,
                   const std::function<void()>& work) {
    base();
    work();  // warm up: page faults, first resets
    std::vector<double> ratios;
    for (int r = 0; r < rounds; ++r) {
        const double t0 = now();
        base();
        const double t1 = now();
        work();
        const double t2 = now();
        ratios.push_back((t2 - t1) / (t1 - t0));
    }
    std::sort(ratios.begin(), ratios.end());
    return ratios[ratios.size() / 2];
}

void report(const char* name, double ratio, double target) {
    std::printf("%-52s %6.2f   (target <= %.2f)%s\n", name, ratio, target,
                ratio <= target ? "" : "   ABOVE TARGET");
}

std::vector<unsigned char> bytes(size_t n) {
    std::vector<unsigned char> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(i * 7 + (i >> 12));
    return v;
}

// A whole-image read of a w x w constant image of the value against memcpy
// of the bytes it delivers.
double constantRead(int rounds, int w, const ekPixel& value) {
    ekConstImg image(value);
    image.setSize(w, w);
    const size_t n = size_t(w) * w * size_t(ekDataSize(value.type(), value.nc()));
    std::vector<unsigned char> a = bytes(n), b(n), out(n);
    return medianRatio(
        rounds, [&] { std::memcpy(b.data(), a.data(), n); },
        [&] { image.getTile(0, 0, w, w, out.data(), nullptr); });
}

// Reads of t x t tiles covering the parent, through a view of the whole
// parent and directly, in the parent's own layout.
double viewRead(int rounds, ekMemoryImg& parent, int w, int t) {
    ekSubImg view(&parent, nullptr);
    std::vector<unsigned char> out(size_t(t) * t * 3);
    auto tiles = [&](ekImage& img) {
        for (int y = 0; y < w; y += t)
            for (int x = 0; x < w; x += t) img.getTile(x, y, t, t, out.data(), nullptr);
    };
    return medianRatio(
        rounds, [&] { tiles(parent); }, [&] { tiles(view); });
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    const int w = 4096;

    const unsigned char rgba[4] = {10, 20, 30, 40};
    report("constant 4x8-bit, whole image vs memcpy",
           constantRead(rounds, w, ekPixel(ekUChar, 4, rgba)), 0.6);
    const float rgb[3] = {0.25f, 0.5f, 0.75f};
    report("constant 3xfloat, whole image vs memcpy",
           constantRead(rounds, w, ekPixel(ekFloat, 3, rgb)), 1.0);

    std::vector<unsigned char> pixels = bytes(size_t(w) * w * 3);
    ekMemoryImg parent(pixels.data(), ekSize(w, w, 3), ekUChar, ekInterleaved);
    report("view 3x8-bit, whole image vs the parent", viewRead(rounds, parent, w, w), 1.1);
    report("view 3x8-bit, 32 x 32 tiles vs the parent", viewRead(rounds, parent, w, 32), 1.1);
    return 0;
}
