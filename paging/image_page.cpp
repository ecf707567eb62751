// SPDX-License-Identifier: Apache-2.0
// ekImagePage, a page that owns its buffer, and ekPgCB, a page position with
// the part of the page that lies inside an image.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "core/type_facts.h"
#include "eks/paging.h"

ekImagePage::ekImagePage(int x_, int y_, int z_, int c_, int size)
    : ekPage(x_, y_, z_, c_, size > 0 ? std::malloc(size_t(size)) : nullptr) {}

ekImagePage::~ekImagePage() {
    // A destroyed handle's data pointer is the dead marker, never a buffer.
    if (Valid()) std::free(data);
    data = nullptr;
}

namespace {

// min(end - pos, page), kept in the 32-bit range.
int32_t insidePart(int64_t end, int64_t pos, int64_t page) {
    return ekClampToInt32(std::min(end - pos, page));
}

}  // namespace

ekPgCB::ekPgCB(ekImage* image, int x_, int y_, int z_, int c_)
    : x(x_), y(y_), z(z_), c(c_), nx(0), ny(0), nz(0), nc(0) {
    if (image == nullptr) return;
    int px = 0, py = 0, pz = 0, pc = 0;
    image->getPageSize(px, py, pz, pc);
    int bx = 0, by = 0, bz = 0;
    image->getPageBorder(bx, by, bz);
    nx = insidePart(int64_t(image->getXsize()) + bx, x, px);
    ny = insidePart(int64_t(image->getYsize()) + by, y, py);
    nz = insidePart(int64_t(image->getZsize()) + bz, z, pz);
    nc = insidePart(image->getCsize(), c, pc);
}
