// SPDX-License-Identifier: Apache-2.0
// eks.ConstantImage (one value everywhere, read-only) and eks.SubImage (a
// window and channel selection of another image, through which reads and
// writes reach that image).
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <string>
#include <vector>

#include "bindings.h"
#include "errors.h"
#include "image_object.h"
#include "layout.h"
#include "names.h"
#include "pickling.h"

namespace ekpy {
namespace {

class PyConstantImage : public PyImage {
public:
    using PyImage::PyImage;
    bool readOnly() const override { return true; }
};

class PySubImage : public PyImage {
public:
    PySubImage(ImagePtr<> image, const PyImage& parent, py::object parentObject, int rank,
               Layout window)
        : PyImage(std::move(image), std::move(parentObject), rank),
          parent_(parent),
          window_(std::move(window)) {}
    bool readOnly() const override { return parent_.readOnly(); }
    const PyImage* viewParent() const override { return &parent_; }
    bool pageBlock(int& width, int& height) const override {
        return parent_.pageBlock(width, height);
    }
    std::string failureReason(ekStatus status) const override {
        return parent_.failureReason(status);
    }

    // The arguments that make the same view of the same parent again.
    py::dict arguments() const {
        using namespace pybind11::literals;
        const Box& b = window_.box;
        py::object channels = py::none();
        if (!window_.channelAxis)
            channels = py::int_(window_.channels.at(0));
        else if (!window_.channels.empty())
            channels = py::cast(window_.channels);
        return py::dict("parent"_a = py::cast(&parent_), "x"_a = b.x, "y"_a = b.y,
                        "width"_a = b.nx, "height"_a = b.ny, "channels"_a = channels, "z"_a = b.z,
                        "depth"_a = b.nz);
    }

private:
    const PyImage& parent_;  // kept alive by the base's `keep`
    Layout window_;          // the window in the parent and the parent's channels it shows
};

ekTile intersect(const ekTile& box, const ekSize& size) {
    return ekTile(box, ekTile(0, 0, 0, size.x, size.y, size.z));
}

std::unique_ptr<PyConstantImage> makeConstant(const py::object& value, const py::object& dtype,
                                              const py::object& shapeObject) {
    const std::vector<double> values = parseNumbers(value);
    if (values.empty()) throw py::value_error("ConstantImage: expected at least one value");
    std::vector<py::ssize_t> shape;
    if (!shapeObject.is_none()) shape = parseShape(shapeObject, "ConstantImage");
    if (!shape.empty() && shape.size() != 2 && shape.size() != 3)
        throw py::value_error("ConstantImage: shape is (y, x) or (z, y, x)");
    const ekType type = typeFromObject(dtype, ekDouble);
    ekPixel pixel(type, int(values.size()));
    for (size_t k = 0; k < values.size(); ++k) pixel.setElem(values[k], int(k));
    auto image = makeImage<ekConstImg>(pixel);
    ekStatus status;
    {
        GraphGuard lock(graphOf(image), Access::Exclusive);
        // Like every image made for numpy arrays, row 0 is the top row.
        status = image->setCoordSpace(ekUpperLeft);
        const size_t n = shape.size();
        if (status == ekOkay && n > 0)
            status = image->setSize(int(shape[n - 1]), int(shape[n - 2]));
        if (status == ekOkay && n == 3) status = image->setZsize(int(shape[0]));
        if (status == ekOkay) status = image->getStatus();
    }
    check(status, "ConstantImage");  // the image is released without the lock held
    const int rank = shape.size() == 3 ? 4 : values.size() > 1 ? 3 : 2;
    return std::make_unique<PyConstantImage>(std::move(image), py::none(), rank);
}

std::unique_ptr<PySubImage> makeSub(PyImage& parent, int64_t x, int64_t y, Extent width,
                                    Extent height, const py::object& channels, int64_t z,
                                    Extent depth) {
    Layout layout;
    int parentChannels;
    {
        ImageLock lock(parent, Use::Read);
        ekImage* image = parent.image();
        check(image->getStatus(), "SubImage");
        parentChannels = image->getCsize();
        layout.box = makeBox(image, ekCoordSpace(0), x, y, z, width, height, depth);
    }
    if (layout.box.empty()) throw py::value_error("SubImage: the window is empty");
    parseChannels(channels, parentChannels, layout);
    // The view copies the channel list; the configuration only carries it.
    ekConfig config;
    config.nchans = layout.nchans;
    config.chanList = layout.channels.data();
    const Box& b = layout.box;
    auto image = makeImageIn<ekSubImg>(parent.graphPtr(), parent.image(), b.x, b.y, b.z, b.nx, b.ny, b.nz,
                                     layout.channels.empty() ? nullptr : &config);
    ekStatus status;
    {
        GraphGuard lock(graphOf(image), Access::Exclusive);
        status = image->getStatus();
    }
    check(status, "SubImage");  // the image is released without the lock held
    int rank = parent.rank();
    if (!layout.channelAxis && rank < 4) rank = 2;
    if (b.nz > 1) rank = 4;
    return std::make_unique<PySubImage>(std::move(image), parent, py::cast(&parent), rank,
                                        std::move(layout));
}

// The value, dtype and shape that make the same constant image again.
py::dict constantArguments(const py::object& self) {
    using namespace pybind11::literals;
    const py::tuple size = self.attr("size");
    py::tuple shape = py::make_tuple(size[1], size[0]);
    if (self.cast<const PyImage&>().rank() == 4) shape = py::make_tuple(size[2], size[1], size[0]);
    return py::dict("value"_a = fillTuple(self), "dtype"_a = self.attr("dtype"),
                    "shape"_a = shape);
}

}  // namespace

// A view hands a box to its parent mapped into its own space and shifted by
// its start, which puts it into the parent's coordinates in the view's space;
// the same steps taken back bring the parent's part of it home.
ekTile writableBox(const PyImage& image, ekCoordSpace space, const ekTile& box) {
    const PyImage* parent = image.viewParent();
    if (parent == nullptr) return box;
    ekImage* view = image.image();
    const ekCoordSpace own = view->getCoordSpace();
    const ekCoordSpace given = space != 0 ? space : own;
    ekSize size;
    view->getSize(size, given);
    ekTile t = intersect(box, size);  // now small enough for any mapping
    if (t.empty() || parent->viewParent() == nullptr) return t;
    view->mapTile(given, t, own);
    int sx, sy, sz;
    static_cast<ekSubImg*>(view)->getStart(sx, sy, sz);
    // The window lies in the 32-bit range (SubImage checks it): no overflow.
    t = ekTile(t.x + sx, t.y + sy, t.z + sz, t.nx, t.ny, t.nz);
    t = writableBox(*parent, own, t);
    if (t.empty()) return t;
    t = ekTile(t.x - sx, t.y - sy, t.z - sz, t.nx, t.ny, t.nz);
    view->mapTile(own, t, given);
    return t;
}

void bindOtherImages(py::module_& m) {
    using namespace pybind11::literals;
    py::class_<PyConstantImage, PyImage>(
        m, "ConstantImage",
        "An image whose every pixel is `value` (a number, or one per channel) of `dtype`. "
        "Reads are never clipped: every pixel of any box is the value. Writes raise "
        "NotAllowedError; `fill` is the value. `shape` (y, x) or (z, y, x) sets the size "
        "(default 1 x 1).")
        .def(py::init(&makeConstant), "value"_a, "dtype"_a = py::none(), py::kw_only(),
             "shape"_a = py::none(),
             "An image of `value` everywhere, of `dtype` (default float64), `shape` (y, x) or "
             "(z, y, x).")
        .def(
            "__reduce__",
            [](const py::object& self) {
                return reduceTo(self, constantArguments(self), commonState(self));
            },
            "Pickles the value, dtype and shape.")
        .def(
            "__dask_tokenize__",
            [](const py::object& self) {
                return commonToken(self) + py::make_tuple(py::str(self.attr("dtype")),
                                                          py::tuple(self.attr("size")));
            },
            "A token of the value, dtype and size, for dask.");
    py::class_<PySubImage, PyImage>(
        m, "SubImage",
        "A view of `parent`: the window at (x, y, z) of the given extents (by default up to "
        "the parent's far edge) and the parent channels `channels` names. Reads outside the "
        "window give the view's fill; writes (and copies into the view) reach the parent "
        "inside the window only, what falls outside is dropped. The parent is kept alive.")
        .def(py::init(&makeSub), "parent"_a, "x"_a = 0, "y"_a = 0, "width"_a = py::none(),
             "height"_a = py::none(), "channels"_a = py::none(), py::kw_only(), "z"_a = 0,
             "depth"_a = py::none(),
             "A view of the window of `parent` at (x, y, z) (by default to its far edges) and "
             "the parent channels `channels` names (a list, or one int that drops the axis).")
        .def(
            "__reduce__",
            [](const py::object& self) {
                return reduceTo(self, self.cast<const PySubImage&>().arguments(),
                                commonState(self));
            },
            "Pickles the parent, the window and the channels.")
        .def(
            "__dask_tokenize__",
            [](const py::object& self) {
                py::dict a = self.cast<const PySubImage&>().arguments();
                py::object parent = a["parent"];
                a["parent"] = parent.attr("__dask_tokenize__")();
                return commonToken(self) + py::make_tuple(py::tuple(a.attr("items")()));
            },
            "A token of the parent's token, the window and the channels, for dask.");
}

}  // namespace ekpy
