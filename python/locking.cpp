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

// A locked page as it was handed out: its position and its pixels.
struct LockedPage {
    int x, y, z, c;
    void* data;
};

// The pages are taken down when the tile is locked and never looked up in
// the library's records again: an image may drop those records when it
// changes (a memory image's reset deletes its page handle) while the pixels
// they showed stay where they are, locked.
class PyLockedTile {
public:
    PyLockedTile(py::object image, ekLockedTile* tile);
    PyLockedTile(const PyLockedTile&) = delete;
    PyLockedTile& operator=(const PyLockedTile&) = delete;
    ~PyLockedTile() {
        {
            ImageLock lock(owner_, Use::Read);
            delete tile_;  // unlocks the pages
        }
        --owner_.lockedTiles;
    }

    // The locked pages, each as an array over the page's memory in the
    // image's own type and order; `self` is the arrays' base.
    py::list pages(const py::object& self) const;

private:
    void describe(const PyImage& owner);

    py::object image_;  // the PyImage, kept alive while its pages are locked
    PyImage& owner_;    // the same
    ekLockedTile* tile_;
    Layout page_;  // extents, channels, type and order of every page
    int rank_;
    bool readOnly_;
    std::vector<LockedPage> locked_;
};

// Takes over the tile and takes its pages down; the graph's lock is held.
PyLockedTile::PyLockedTile(py::object image, ekLockedTile* tile)
    : image_(std::move(image)), owner_(image_.cast<PyImage&>()), tile_(tile) {
    try {
        describe(owner_);
    } catch (...) {
        delete tile_;
        throw;
    }
    ++owner_.lockedTiles;
}

void PyLockedTile::describe(const PyImage& owner) {
    ekImage* i = owner.image();
    int px, py_, pz, pc;
    i->getPageSize(px, py_, pz, pc);
    page_.type = i->getDataType();
    page_.order = i->getOrder();
    // A memory image has one page, its whole buffer, whatever was asked.
    const bool whole = dynamic_cast<ekMemoryImg*>(i) != nullptr;
    const ekSize s = i->getSize();
    page_.box = whole ? Box{0, 0, 0, s.x, s.y, s.z} : Box{0, 0, 0, px, py_, pz};
    page_.nchans = whole ? s.c : pc;
    rank_ = page_.box.nz > 1 ? 4 : owner.rank();
    readOnly_ = owner.readOnly();
    for (int k = 0; k < tile_->count; ++k) {
        const ekLockRequest& r = tile_->requests[k];
        void* data = r.page != nullptr ? r.page->getData() : nullptr;
        if (data == nullptr) continue;  // a position outside the image has no page
        if (whole && !locked_.empty()) break;
        locked_.push_back({r.x, r.y, r.z, r.c, data});
    }
}

py::array pageView(const Layout& page, int rank, void* data, bool readOnly,
                   const py::object& base) {
    if (page.type == ekBit)
        throw py::type_error(
            "the pages of a bit image pack eight pixels to a byte and have no "
            "numpy view");
    const std::vector<py::ssize_t> shape = arrayShape(page, rank).vector();
    const py::ssize_t itemsize = arrayElementBytes(page.type);
    py::array array(dtypeOfType(page.type), shape, py::detail::c_strides(shape, itemsize), data,
                    base);
    if (readOnly) array.attr("flags").attr("writeable") = false;
    return array;
}

py::list PyLockedTile::pages(const py::object& self) const {
    py::list result;
    for (const LockedPage& p : locked_)
        result.append(
            pageType(p.x, p.y, p.z, p.c, pageView(page_, rank_, p.data, readOnly_, self)));
    return result;
}

// Locks the box's pages; the graph's lock is held. A failure leaves `tile`
// null and is returned, to be raised once the lock is released.
ekStatus lockPages(const py::object& imageObject, PyImage& owner, const Box& b, ekCoordSpace cs,
                   std::unique_ptr<PyLockedTile>& result) {
    ekImage* image = owner.image();
    // A configuration only to name the box's space; it covers every channel.
    ekConfig cfg(image->getDataType(), image->getOrder(), image->getCsize(), nullptr, 0, cs);
    ekLockedTile* tile =
        image->lockTile3D(b.x, b.y, b.z, b.nx, b.ny, b.nz, cs != 0 ? &cfg : nullptr, 0);
    if (tile == nullptr) fail(ekNoMemory, "lock: the locked tile could not be allocated");
    const ekStatus status = tile->getStatus();
    if (status != ekOkay) {
        delete tile;
        return status;
    }
    result = std::make_unique<PyLockedTile>(imageObject, tile);
    return ekOkay;
}

std::unique_ptr<PyLockedTile> lockTile(const py::object& imageObject, int64_t x, int64_t y,
                                       Extent width, Extent height, int64_t z, Extent depth,
                                       const py::object& space) {
    auto& owner = imageObject.cast<PyImage&>();
    const ekCoordSpace cs = parseSpace(space);
    ekStatus status;
    std::unique_ptr<PyLockedTile> result;
    {
        ImageLock lock(owner, Use::Read);
        status = owner.image()->getStatus();
        if (status == ekOkay) {
            const Box b = makeBox(owner.image(), cs, x, y, z, width, height, depth);
            status = lockPages(imageObject, owner, b, cs, result);
        }
    }
    checkImage(owner, status, "lock");  // the reason is read under the exclusive lock
    return result;
}

}  // namespace

void bindLocking(py::module_& m) {
    using namespace pybind11::literals;
    auto image = py::reinterpret_borrow<py::class_<PyImage>>(m.attr("Image"));
    pageType =
        py::module_::import("collections").attr("namedtuple")("Page", "x y z c pixels").release();
    pageType.attr("__module__") = "eks";
    pageType.attr("__doc__") =
        "A locked page: its position (x, y, z, c) in the image and its pixels, a numpy array "
        "over the page's memory.";
    m.attr("Page") = pageType;

    py::class_<PyLockedTile>(
        m, "LockedTile",
        "The pages of a tile, locked. `with image.lock(...) as pages:` gives a list of "
        "eks.Page(x, y, z, c, pixels), `pixels` being a numpy array of the page in the image's "
        "own type and order. Shared with the image: a memory image's one page, its whole "
        "buffer, and a TiffImage's tiles, the cached tiles themselves (what is written into a "
        "created file's tile goes to the file once the lock ends). Every other image hands out "
        "copies, whose changes reach nothing. The arrays are read-only wherever the image is "
        "(a memory image over a read-only array, a TIFF file opened for reading, a constant "
        "image, a view of those). The pages stay locked, and a TiffImage cannot be closed, "
        "while the LockedTile or any of the arrays is alive.")
        .def_property_readonly(
            "pages",
            [](const py::object& self) { return self.cast<const PyLockedTile&>().pages(self); },
            "The locked pages: a list of eks.Page(x, y, z, c, pixels).")
        .def(
            "__enter__",
            [](const py::object& self) { return self.cast<const PyLockedTile&>().pages(self); },
            "Gives the list of pages.")
        .def(
            "__exit__", [](const py::object&, const py::args&) { return false; },
            "Lets exceptions through; the pages stay locked while the tile or any page array "
            "is alive.");

    image.def("lock", &lockTile, "x"_a = 0, "y"_a = 0, "width"_a = py::none(),
              "height"_a = py::none(), py::kw_only(), "z"_a = 0, "depth"_a = py::none(),
              "space"_a = py::none(), "Locks every page the box touches; see eks.LockedTile.");
}

}  // namespace ekpy
