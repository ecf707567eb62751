// SPDX-License-Identifier: Apache-2.0
// The tour, part 4: pages. Locking a tile hands out, for direct access, every
// page the tile touches. A memory image is one page that points straight into
// its buffer, so every request gets that same page and nothing is copied. An
// image without a buffer of its own gets the base image's pages: fresh copies,
// filled through its own tile reader, released when the tile is unlocked:
// a view, and a window class of the host's own whose pages carry borders.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "eks/eks.h"
#include "tour.h"

namespace {

// A window onto another image, of the host's own: it reads through to its
// input, shifted by an offset, and keeps no pixels. Its pages are 64 x 64
// with a border of 4 pixels on every side (72 x 72 in all), so that
// neighbouring pages overlap, as a filter reaching 4 pixels out would need.
class Window : public ekImage {
public:
    Window(ekImage& input, int x0, int y0, int w, int h)
        : ekImage(ekSize(w, h, 1, 3)), input(input), x0(x0), y0(y0) {
        setNumInputs(1);
        setInput(&input, 0);
    }

    ekStatus getSubTile3D(int x, int y, int z, int nx, int ny, int nz, void* data, int bx, int by,
                          int bz, int bnx, int bny, int bnz, const ekConfig* cfg) override {
        const ekStatus s = resetCheck();
        if (s != ekOkay) return s;
        return input.getSubTile3D(x + x0, y + y0, z, nx, ny, nz, data, bx + x0, by + y0, bz, bnx,
                                  bny, bnz, cfg);
    }
    ekStatus setSubTile3D(int, int, int, int, int, int, void*, int, int, int, int, int, int,
                          const ekConfig*) override {
        return ekNotAllowed;  // a window for reading
    }

protected:
    void reset() override {
        dataType = input.getDataType();
        order = input.getOrder();
        coordSpace = input.getCoordSpace();
        size.c = input.getCsize();
        initColorModel(0);
        initMinMax(0);
        initPageSize(72, 72, 1, 0);
        pageBorder = {4, 4, 0};
        checkColorModel();
        ekImage::reset();
    }

private:
    ekImage& input;
    int x0, y0;
};

// Prints one line per request of the locked tile; true when it locked.
bool printLockedTile(const char* what, const ekLockedTile* tile, const void* buffer) {
    if (tile == nullptr) {
        std::printf("  %s: no locked tile\n", what);
        return false;
    }
    std::printf("  %s: %d page(s), status %s\n", what, tile->count,
                tile->getStatus() == ekOkay ? "okay" : "failed");
    for (int i = 0; i < tile->count; ++i) {
        const ekLockRequest& r = tile->requests[i];
        const char* kind = r.page == nullptr             ? "no page (outside the image)"
                           : r.page->getData() == buffer ? "the image's buffer itself"
                                                         : "a fresh copy";
        std::printf("    page at (%4d, %4d, %d) channels from %d: %s\n", r.x, r.y, r.z, r.c, kind);
    }
    return tile->getStatus() == ekOkay;
}

}  // namespace

bool tourPages(const char* folder) {
    std::printf("\nPages: locked tiles hand out the pages a tile touches\n");
    int w = 0, h = 0;
    std::vector<unsigned char> picture = tourTestPicture(w, h);
    ekMemoryImg image(picture.data(), ekSize(w, h, 3), ekUChar, ekInterleaved);
    bool ok = image.setCoordSpace(ekUpperLeft) == ekOkay;

    // A memory image: whatever the tile, one page, the buffer itself.
    std::unique_ptr<ekLockedTile> tile(image.lockTile(40, 40, 100, 60, nullptr, 0));
    ok = printLockedTile("memory image, tile (40, 40) 100 x 60", tile.get(), picture.data()) && ok;
    tile.reset();  // unlocks; the memory image keeps its page

    // A view (ekSubImg) of 96 x 96 pixels from (100, 40): it keeps no pixels,
    // so its pages are copies, read through to the memory image. Its page
    // geometry is its parent's, so one page holds the whole view.
    ekSubImg view(&image, 100, 40, 96, 96, nullptr);
    tile.reset(view.lockTile(0, 0, 96, 96, nullptr, 0));
    ok = printLockedTile("view, tile (0, 0) 96 x 96", tile.get(), picture.data()) && ok;
    tile.reset();

    // A window of the host's own from (8, 8) onto the memory image: copied
    // pages with borders.
    // The tile reaches three pages across and two down; the pages on the top
    // and left edge carry a border outside the window.
    Window window(image, 8, 8, 200, 150);
    tile.reset(window.lockTile(10, 10, 130, 70, nullptr, 0));
    ok = printLockedTile("window, tile (10, 10) 130 x 70", tile.get(), picture.data()) && ok;

    // The first page, 72 x 72 from (-4, -4) of the window: the L in its
    // upper-left corner, the border a strip of the picture beyond the
    // window's edge.
    if (tile != nullptr && tile->count > 0 && tile->requests[0].page != nullptr) {
        const std::string file = std::string(folder) + "/14-locked-page.ppm";
        const bool saved = tourWritePpm(
            file, 72, 72, static_cast<unsigned char*>(tile->requests[0].page->getData()));
        std::printf("  first page written to %s: %s\n", file.c_str(),
                    saved ? "the L at its upper left, 72 x 72" : "NOT written");
        ok = ok && saved;
    } else {
        ok = false;
    }
    tile.reset();  // unlocks: the copies are released
    std::printf("  all page locks okay: %s\n", ok ? "yes" : "NO");
    return ok;
}
