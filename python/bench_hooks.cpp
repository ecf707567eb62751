// SPDX-License-Identifier: Apache-2.0
// Hooks for bench/python_bench.py: the same tile reads timed in C++, so that
// the script can measure what the Python layer adds in the same process.
#include <pybind11/numpy.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "bindings.h"
#include "errors.h"
#include "image_object.h"
#include "names.h"

namespace ekpy {

void bindBenchHooks(py::module_& m) {
    using namespace pybind11::literals;
    m.def(
        "_cpp_tile_reads",
        [](PyImage& self, int tile, int count) {
            ImageLock lock(self, Use::Read);
            ekImage* image = self.image();
            check(image->getStatus(), "_cpp_tile_reads");
            const ekSize s = image->getSize();
            ekConfig cfg(image->getDataType(), ekInterleaved, s.c);
            std::vector<unsigned char> buffer(
                size_t(ekDataSize(image->getDataType(), tile * tile * s.c)));
            const int across = std::max(1, s.x / tile), down = std::max(1, s.y / tile);
            const auto start = std::chrono::steady_clock::now();
            for (int k = 0; k < count; ++k) {
                const int t = k % (across * down);
                check(image->getTile((t % across) * tile, (t / across) * tile, tile, tile,
                                     buffer.data(), &cfg),
                      "_cpp_tile_reads");
            }
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        },
        "image"_a, "tile"_a, "count"_a,
        "Seconds that `count` reads of tile x tile boxes (row by row over the image, own type, "
        "interleaved) take in C++.");
}

}  // namespace ekpy
