// SPDX-License-Identifier: Apache-2.0
// image.lock(): page locking as a context manager. The locked tile hands out
// numpy views of its pages; the pages stay locked while the tile or any of
// those arrays is alive, so no array outlives the memory it shows.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <string>
#include <vector>

#include "bindings.h"
#include "errors.h"
#include "image_object.h"
#include "layout.h"
#include "names.h"

namespace ekpy {
namespace {

py::handle pageType;  // eks.Page, a named tuple (x, y, z, c, pixels); lives with the interpreter

class PyLockedTile {
public:
    PyLockedTile(py::object image, ekLockedTile* tile) : image_(std::move(image)), tile_(tile) {}
    PyLockedTile(const PyLockedTile&) = delete;
    PyLockedTile& operator=(const PyLockedTile&) = delete;
    ~PyLockedTile() {
        LibraryLock lock;
        delete tile_;  // unlocks the pages
    }

    // The locked pages, each as an array over the page's memory in the
    // image's own type and order; `self` is the arrays' base.
    py::list pages(const py::object& self) const;

private:
    py::object image_;  // the PyImage, kept alive while its pages are locked
    ekLockedTile* tile_;
};

py::array pageView(const Layout& page, int rank, void* data, const py::object& base) {
    if (page.type == ekBit)
        throw py::type_error(
            "the pages of a bit image pack eight pixels to a byte and have no "
            "numpy view");
    const std::vector<py::ssize_t> shape = arrayShape(page, rank).vector();
    const py::ssize_t itemsize = arrayElementBytes(page.type);
    return py::array(dtypeOfType(page.type), shape, py::detail::c_strides(shape, itemsize), data,
                     base);
}

py::list PyLockedTile::pages(const py::object& self) const {
    auto& owner = image_.cast<PyImage&>();
    Layout page;
    int rank = owner.rank();
    bool whole;
    {
        LibraryLock lock;
        ekImage* image = owner.image();
        int px, py_, pz, pc;
        image->getPageSize(px, py_, pz, pc);
        page.type = image->getDataType();
        page.order = image->getOrder();
        // A memory image has one page, its whole buffer, whatever was asked.
        whole = dynamic_cast<ekMemoryImg*>(image) != nullptr;
        const ekSize s = image->getSize();
        page.box = whole ? Box{0, 0, 0, s.x, s.y, s.z} : Box{0, 0, 0, px, py_, pz};
        page.nchans = whole ? s.c : pc;
    }
    if (page.box.nz > 1) rank = 4;
    py::list result;
    std::vector<void*> seen;
    for (int i = 0; i < tile_->count; ++i) {
        const ekLockRequest& r = tile_->requests[i];
        void* data = r.page != nullptr ? r.page->getData() : nullptr;
        if (data == nullptr) continue;  // a position outside the image has no page
        if (whole && !seen.empty()) break;
        seen.push_back(data);
        result.append(pageType(r.x, r.y, r.z, r.c, pageView(page, rank, data, self)));
    }
    return result;
}

std::unique_ptr<PyLockedTile> lockTile(const py::object& imageObject, int64_t x, int64_t y,
                                       Extent width, Extent height, int64_t z, Extent depth,
                                       const py::object& space) {
    auto& owner = imageObject.cast<PyImage&>();
    const ekCoordSpace cs = parseSpace(space);
    ekLockedTile* tile;
    {
        LibraryLock lock;
        ekImage* image = owner.image();
        check(image->getStatus(), "lock");
        const Box b = makeBox(image, cs, x, y, z, width, height, depth);
        // A configuration only to name the box's space; it covers every channel.
        ekConfig cfg(image->getDataType(), image->getOrder(), image->getCsize(), nullptr, 0, cs);
        tile = image->lockTile3D(b.x, b.y, b.z, b.nx, b.ny, b.nz, cs != 0 ? &cfg : nullptr, 0);
        if (tile == nullptr) fail(ekNoMemory, "lock: the locked tile could not be allocated");
        const ekStatus status = tile->getStatus();
        if (status != ekOkay) {
            delete tile;
            check(status, "lock");
        }
    }
    return std::make_unique<PyLockedTile>(imageObject, tile);
}

}  // namespace

void bindLocking(py::module_& m) {
    using namespace pybind11::literals;
    auto image = py::reinterpret_borrow<py::class_<PyImage>>(m.attr("Image"));
    pageType =
        py::module_::import("collections").attr("namedtuple")("Page", "x y z c pixels").release();
    pageType.attr("__module__") = "eks";
    m.attr("Page") = pageType;

    py::class_<PyLockedTile>(
        m, "LockedTile",
        "The pages of a tile, locked. `with image.lock(...) as pages:` gives a list of "
        "eks.Page(x, y, z, c, pixels), `pixels` being a numpy view of the page in the image's "
        "own type and order (for a memory image one page: its whole buffer). The pages stay "
        "locked while the LockedTile or any of the arrays is alive.")
        .def_property_readonly(
            "pages",
            [](const py::object& self) { return self.cast<const PyLockedTile&>().pages(self); })
        .def("__enter__",
             [](const py::object& self) { return self.cast<const PyLockedTile&>().pages(self); })
        .def("__exit__", [](const py::object&, const py::args&) { return false; });

    image.def("lock", &lockTile, "x"_a = 0, "y"_a = 0, "width"_a = py::none(),
              "height"_a = py::none(), py::kw_only(), "z"_a = 0, "depth"_a = py::none(),
              "space"_a = py::none(), "Locks every page the box touches; see eks.LockedTile.");
}

}  // namespace ekpy
