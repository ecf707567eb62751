// SPDX-License-Identifier: Apache-2.0
#include "transfers.h"

#include <algorithm>
#include <cstdint>

#include "names.h"

namespace ekpy {

ekStatus transfer(PyImage& self, Layout& layout, void* data, bool write) {
    if (layout.box.empty()) return ekOkay;
    ekConfig cfg = layout.config();
    const Box& b = layout.box;
    ekImage* image = self.image();
    return withoutGil(self, write ? Use::Change : Use::Read, [&] {
        return write ? image->setTile3D(b.x, b.y, b.z, b.nx, b.ny, b.nz, data, &cfg)
                     : image->getTile3D(b.x, b.y, b.z, b.nx, b.ny, b.nz, data, &cfg);
    });
}

// Bool arrays are read as bytes: a bit image gives 0 or 1, any other type its
// low 8 bits. Mapping those to 0 or 1 gives the library's own conversion to
// bits (1 when the low 8 bits are not 0) and bools numpy can hold.
void normaliseBools(py::array& out) {
    auto* p = static_cast<uint8_t*>(out.mutable_data());
    for (py::ssize_t i = 0, n = out.size(); i < n; ++i) p[i] = p[i] != 0;
}

// A read into a new array, in bands of rows of about kBandBytes each. The
// array's pages are fresh: the kernel clears each page as the read first
// touches it, which leaves the page in the caches, and the streaming stores
// the library uses for large boxes must then evict those lines again (a
// 2048 x 2048 RGB read as float32 took 1.05 to 1.2 times numpy's astype in
// one call, 0.94 to 1.0 times in bands). Each band is a sub-box of the same buffer box, so the
// array receives exactly what one call would give.
constexpr int64_t kBandBytes = int64_t(2) << 20;

ekStatus readInBands(PyImage& self, Layout& layout, void* data) {
    const Box& b = layout.box;
    if (b.empty()) return ekOkay;
    const int64_t rowBytes = int64_t(b.nx) * b.nz * layout.nchans * arrayElementBytes(layout.type);
    const int64_t rows = std::max<int64_t>(1, kBandBytes / std::max<int64_t>(rowBytes, 1));
    if (rows >= b.ny) return transfer(self, layout, data, false);
    ekConfig cfg = layout.config();
    ekImage* image = self.image();
    return withoutGil(self, Use::Read, [&] {
        ekStatus status = ekOkay;
        for (int64_t y = 0; y < b.ny && status == ekOkay; y += rows) {
            const int32_t n = int32_t(std::min<int64_t>(rows, b.ny - y));
            status = image->getSubTile3D(b.x, int32_t(b.y + y), b.z, b.nx, n, b.nz, data, b.x, b.y,
                                         b.z, b.nx, b.ny, b.nz, &cfg);
        }
        return status;
    });
}

// A write of the layout's box. The library's view hands a write on to its
// parent unclipped; here a view takes only the part inside its window (the
// array stays the buffer of the whole box), so pixels outside it never change.
ekStatus writeLocked(PyImage& self, const Layout& layout, const Box& box, void* data) {
    Layout copy = layout;  // the configuration points into its channel list
    ekConfig cfg = copy.config();
    const Box& b = layout.box;
    ekTile r(box.x, box.y, box.z, box.nx, box.ny, box.nz);
    if (self.viewParent() != nullptr) r = writableBox(self, layout.space, r);
    if (r.empty()) return ekOkay;
    return self.image()->setSubTile3D(r.x, r.y, r.z, r.nx, r.ny, r.nz, data, b.x, b.y, b.z, b.nx,
                                      b.ny, b.nz, &cfg);
}

ekStatus writeBox(PyImage& self, Layout& layout, void* data) {
    if (layout.box.empty()) return ekOkay;
    if (self.viewParent() == nullptr) return transfer(self, layout, data, true);
    return withoutGil(self, Use::Change,
                      [&] { return writeLocked(self, layout, layout.box, data); });
}

}  // namespace ekpy
