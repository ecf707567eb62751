// SPDX-License-Identifier: Apache-2.0
// eks.Image: the base of the module's image classes. Attributes as properties,
// and reads, writes, fills and copies between images and numpy arrays.
#include <pybind11/eval.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bindings.h"
#include "errors.h"
#include "image_object.h"
#include "layout.h"
#include "names.h"
#include "transfers.h"

namespace ekpy {
namespace {

// Classes made at import; they live as long as the interpreter (handles, so
// that nothing is released after it has ended).
py::handle sizeType;   // eks.Size, a named tuple (x, y, z, c)
py::handle fillValue;  // eks.FillValue, the tuple that `image.fill` gives

// `image.fill` is both the fill value (a tuple, settable) and the operation
// that fills a box (`image.fill(value, x, y, ...)`): the property gives a tuple
// that fills the image when called.
const char* kFillValueSource = R"(
class FillValue(tuple):
    """The fill value of an image, one element per channel. Calling it fills a
    box of the image: image.fill(value, x=0, y=0, width=None, height=None, *,
    z=0, depth=None, channels=None, space=None)."""

    def __call__(self, *args, **kwargs):
        return self._fill_box(*args, **kwargs)
)";

// The layout of a request given by its box: checks the image's status first,
// since the size of an image that failed its reset means nothing.
Layout boxLayout(PyImage& self, int64_t x, int64_t y, int64_t z, Extent w, Extent h, Extent d,
                 const py::handle& order, const py::handle& space, const py::handle& channels,
                 ekType* imageType, const char* operation) {
    Layout layout;
    layout.order = parseOrder(order);
    layout.space = parseSpace(space);
    int imageChannels = 0;
    ekStatus status;
    {
        ImageLock lock(self, Use::Read);
        ekImage* image = self.image();
        status = image->getStatus();
        if (status == ekOkay) {
            imageChannels = image->getCsize();
            if (imageType != nullptr) *imageType = image->getDataType();
            layout.box = makeBox(image, layout.space, x, y, z, w, h, d);
        }
    }
    checkImage(self, status, operation);
    parseChannels(channels, imageChannels, layout);
    return layout;
}

// The layout of a request given by an array: its shape gives the box extents
// and channel count, its dtype the element type.
Layout arrayLayout(PyImage& self, const py::array& array, int64_t x, int64_t y, int64_t z,
                   const py::handle& order, const py::handle& space, const py::handle& channels,
                   const char* operation) {
    int nx, ny, nz, nc;
    extentsFromArray(array, parseOrder(order), nx, ny, nz, nc);
    Layout layout = boxLayout(self, x, y, z, Extent(nx), Extent(ny), Extent(nz), order, space,
                              channels, nullptr, operation);
    layout.type = typeFromDtype(array.dtype());
    if (nc != layout.nchans)
        throw py::value_error(
            std::string(operation) + ": the array has " + std::to_string(nc) +
            " channels, the request " + std::to_string(layout.nchans) +
            (channels.is_none() ? " (the image's; pass channels=[...] to select)" : " (channels)"));
    return layout;
}

py::array read(PyImage& self, int64_t x, int64_t y, Extent width, Extent height, int64_t z,
               Extent depth, const py::object& dtype, const py::object& order,
               const py::object& channels, const py::object& space) {
    ekType imageType;
    Layout layout =
        boxLayout(self, x, y, z, width, height, depth, order, space, channels, &imageType, "read");
    // Past the last slice a missing depth would reach no slice at all: the
    // read is then the one slice at z, all fill, as a two-dimensional read
    // there gives. Every element of the new array is written (an empty box
    // gives an array without elements).
    if (!depth && layout.box.nz < 1) layout.box.nz = 1;
    layout.type = typeFromObject(dtype, imageType);
    py::array out = newArray(layout.type, arrayShape(layout, readRank(layout, self.rank())));
    checkImage(self, readInBands(self, layout, out.mutable_data()), "read");
    if (layout.type == ekBit) normaliseBools(out);
    return out;
}

void readInto(PyImage& self, py::array& out, int64_t x, int64_t y, Extent width, Extent height,
              int64_t z, Extent depth, const py::object& dtype, const py::object& order,
              const py::object& channels, const py::object& space) {
    checkArray(out, true, "read_into");
    Layout layout = arrayLayout(self, out, x, y, z, order, space, channels, "read_into");
    const Box& b = layout.box;
    if ((width && *width != b.nx) || (height && *height != b.ny) || (depth && *depth != b.nz))
        throw py::value_error(
            "read_into: width, height and depth, when given, must match the "
            "array's shape");
    if (!dtype.is_none() && typeFromObject(dtype, layout.type) != layout.type)
        throw py::type_error("read_into: dtype, when given, must be the array's dtype");
    checkImage(self, transfer(self, layout, out.mutable_data(), false), "read_into");
    if (layout.type == ekBit) normaliseBools(out);
}

void write(PyImage& self, const py::array& array, int64_t x, int64_t y, int64_t z,
           const py::object& order, const py::object& channels, const py::object& space) {
    checkArray(array, false, "write");
    Layout layout = arrayLayout(self, array, x, y, z, order, space, channels, "write");
    checkImage(self, writeBox(self, layout, const_cast<void*>(array.data())), "write");
    refuseIfReadOnly(self, "write");  // it touched nothing, but says so
}

// The fill value as doubles, one per channel of the request (a single value
// is repeated over the channels).
std::vector<double> fillValues(const py::object& value, size_t channels, bool widen) {
    std::vector<double> values = parseNumbers(value);
    if (values.size() == 1 && !widen) values.resize(channels, values[0]);
    if (values.size() != channels && !(widen && values.size() == 1))
        throw py::value_error("fill: expected one value or " + std::to_string(channels) + ", got " +
                              std::to_string(values.size()));
    return values;
}

void fill(PyImage& self, const py::object& value, int64_t x, int64_t y, Extent width, Extent height,
          int64_t z, Extent depth, const py::object& channels, const py::object& space) {
    Layout layout = boxLayout(self, x, y, z, width, height, depth, py::none(), space, channels,
                              nullptr, "fill");
    // Without a channel list one value covers every channel: the image widens
    // a value of fewer elements than it has channels.
    const bool widen = layout.channels.empty();
    std::vector<double> values = fillValues(value, size_t(layout.nchans), widen);
    if (layout.box.empty()) return refuseIfReadOnly(self, "fill");
    ekConfig cfg(ekDouble, ekInterleaved, int32_t(values.size()),
                 widen ? nullptr : layout.channels.data(), 0, layout.space, ekColorModel(0));
    const Box& b = layout.box;
    ekImage* image = self.image();
    checkImage(self, withoutGil(self, Use::Change, [&] {
                   return image->fillTile3D(b.x, b.y, b.z, b.nx, b.ny, b.nz, values.data(), &cfg,
                                            nullptr);
               }),
               "fill");
    refuseIfReadOnly(self, "fill");
}

// A copy into a view takes only the part of the destination box inside the
// view's window, and the matching part of the source box. The destination box
// is in the coordinate space the copy works in: that of the image at the root
// of the source (a view copies through its parent). The graphs' locks are held.
void clipCopyToView(const PyImage& source, const PyImage& view, ekTile& from, ekTile& to) {
    const PyImage* root = &source;
    while (root->viewParent() != nullptr) root = root->viewParent();
    const ekTile inside = writableBox(view, root->image()->getCoordSpace(), to);
    if (inside.empty()) {
        from.nx = 0;
        return;
    }
    // Both inside the 32-bit range and inside `to`: the shift cannot overflow.
    from = ekTile(from.x + (inside.x - to.x), from.y + (inside.y - to.y),
                  from.z + (inside.z - to.z), inside.nx, inside.ny, inside.nz);
    to = inside;
}

void copyTo(PyImage& self, PyImage& other, int64_t x, int64_t y, Extent width, Extent height,
            int64_t z, Extent depth, int64_t toX, int64_t toY, int64_t toZ,
            const py::object& channels) {
    Layout layout = boxLayout(self, x, y, z, width, height, depth, py::none(), py::none(),
                              py::none(), nullptr, "copy_to");
    Layout target = boxLayout(other, toX, toY, toZ, 0, 0, 0, py::none(), py::none(), channels,
                              nullptr, "copy_to");
    // The list names, for each channel of this image, the other image's channel.
    if (!channels.is_none() && target.nchans != layout.nchans)
        throw py::value_error(
            "copy_to: channels must name one channel of the target for each of "
            "the " +
            std::to_string(layout.nchans) + " channels of this image");
    if (layout.box.empty()) return refuseIfReadOnly(other, "copy_to");
    const Box& b = layout.box;
    const Box& t = target.box;
    int* list = target.channels.empty() ? nullptr : target.channels.data();
    ekImage* image = self.image();
    ekImage* dest = other.image();
    const ekStatus status = [&] {
        // The destination's graph is changed; the source's only read.
        py::gil_scoped_release nogil;
        PairGuard lock(self.graph(), accessFor(self, Use::Read), other.graph(), Access::Exclusive);
        ekTile from(b.x, b.y, b.z, b.nx, b.ny, b.nz), to(t.x, t.y, t.z, b.nx, b.ny, b.nz);
        if (other.viewParent() != nullptr) clipCopyToView(self, other, from, to);
        if (from.empty()) return ekOkay;
        return image->copyTile3D(from.x, from.y, from.z, from.nx, from.ny, from.nz, dest, to.x,
                                 to.y, to.z, list, 0);
    }();
    if (status == ekOkay) return refuseIfReadOnly(other, "copy_to");  // touched nothing
    // Either image may have failed; a refused write (ekNotAllowed) is the
    // destination's, since both statuses were checked above.
    std::string reason, theirs;
    if (status != ekNotAllowed) {
        ImageLock lock(self, Use::Change);
        reason = self.failureReason(status);
    }
    {
        ImageLock lock(other, Use::Change);
        theirs = other.failureReason(status);
    }
    if (!theirs.empty() && theirs != reason) reason += (reason.empty() ? "" : "; ") + theirs;
    check(status, "copy_to", reason);
}

// --- Properties ----------------------------------------------------------------

template <class F>
auto get(PyImage& self, F&& f) {
    ImageLock lock(self, Use::Read);
    return f(self.image());
}

// Runs a setter, then brings the image up to date so that a value it cannot
// serve with raises here rather than at the next read.
template <class F>
void set(PyImage& self, const char* what, F&& f) {
    ImageLock lock(self, Use::Change);
    checkLocked(self, f(self.image()), what);
    checkLocked(self, self.image()->getStatus(), what);
}

void refuseIfFixed(PyImage& self, const char* what) {
    if (self.fixedLayout())
        fail(ekNotAllowed, std::string(what) +
                               ": a memory image keeps its size, dtype and order; its pixels "
                               "may be shared with numpy arrays");
}

py::object getSize(PyImage& self) {
    ekSize s = get(self, [](ekImage* i) { return i->getSize(); });
    return sizeType(s.x, s.y, s.z, s.c);
}

void setSize(PyImage& self, const std::vector<int32_t>& s) {
    refuseIfFixed(self, "size");
    if (s.size() < 2 || s.size() > 4)
        throw py::value_error("size: expected (x, y), (x, y, z) or (x, y, z, c)");
    set(self, "size", [&](ekImage* i) {
        ekStatus st = i->setSize(s[0], s[1]);
        if (st == ekOkay && s.size() > 2) st = i->setZsize(s[2]);
        if (st == ekOkay && s.size() > 3) st = i->setCsize(s[3]);
        return st;
    });
}

py::tuple getShape(PyImage& self) { return py::cast(defaultShape(self)); }

py::object getFill(PyImage& self) {
    ekPixel p;
    get(self, [&](ekImage* i) {
        i->getFill(p);
        return 0;
    });
    py::list elements;
    for (int k = 0; k < p.nc(); ++k) elements.append(p.getElem(k));
    py::object value = fillValue(elements);
    value.attr("_fill_box") = py::cast(&self).attr("_fill_box");
    return value;
}

// The fill is stored in the image's data type (for a constant image the fill
// is its value, whose type is the image's). One value, or one per channel.
void setFill(PyImage& self, const py::object& value) {
    std::vector<double> values = parseNumbers(value);
    if (values.empty()) throw py::value_error("fill: expected at least one value");
    set(self, "fill", [&](ekImage* i) {
        const int channels = i->getCsize();
        if (values.size() != 1 && values.size() != size_t(channels))
            throw py::value_error("fill: expected one value or " + std::to_string(channels) +
                                  " (one per channel), got " + std::to_string(values.size()));
        ekPixel p(i->getDataType(), int(values.size()));
        for (size_t k = 0; k < values.size(); ++k) p.setElem(values[k], int(k));
        return i->setFill(p);
    });
}

// Python objects are made only once the graph's lock is released: releasing
// one may destroy an image of the graph, which takes the lock itself.
std::string repr(const py::object& object) {
    auto& self = object.cast<PyImage&>();
    ekSize s;
    ekType type;
    ekOrder order;
    ekCoordSpace space;
    bool okay;
    {
        ImageLock lock(self, Use::Read);
        ekImage* i = self.image();
        s = i->getSize();
        okay = i->getStatus() == ekOkay;
        type = i->getDataType();
        order = i->getOrder();
        space = i->getCoordSpace();
    }
    const std::string dtype = okay ? std::string(py::str(py::handle(dtypeOfType(type)))) : "failed";
    return "<eks." + std::string(py::str(py::type::of(object).attr("__name__"))) + " " +
           std::to_string(s.x) + "x" + std::to_string(s.y) + "x" + std::to_string(s.z) + "x" +
           std::to_string(s.c) + " " + dtype + " " + orderName(order) + " " + spaceName(space) +
           ">";
}

}  // namespace

void bindImage(py::module_& m) {
    sizeType = py::module_::import("collections").attr("namedtuple")("Size", "x y z c").release();
    sizeType.attr("__module__") = "eks";
    sizeType.attr("__doc__") = "An image's size: width x, height y, depth z and channels c.";
    m.attr("Size") = sizeType;
    py::dict scope;
    scope["__builtins__"] = py::module_::import("builtins");
    scope["__name__"] = "eks";
    py::exec(kFillValueSource, scope);
    fillValue = py::object(scope["FillValue"]).release();
    m.attr("FillValue") = fillValue;

    using namespace pybind11::literals;
    py::class_<PyImage>(m, "Image",
                        "An image of the library. Positions are (x, y, z) in the image's "
                        "coordinate space unless `space` names another; arrays are numpy "
                        "arrays of shape (y, x), (y, x, c) or (z, y, x, c) in interleaved order.")
        .def("read", &read, "x"_a = 0, "y"_a = 0, "width"_a = py::none(), "height"_a = py::none(),
             py::kw_only(), "z"_a = 0, "depth"_a = py::none(), "dtype"_a = py::none(),
             "order"_a = "interleaved", "channels"_a = py::none(), "space"_a = py::none(),
             "A new array holding the box in the requested layout; outside the image the "
             "fill value. Missing extents reach the image's far edge.")
        .def("read_into", &readInto, "out"_a, "x"_a = 0, "y"_a = 0, "width"_a = py::none(),
             "height"_a = py::none(), py::kw_only(), "z"_a = 0, "depth"_a = py::none(),
             "dtype"_a = py::none(), "order"_a = "interleaved", "channels"_a = py::none(),
             "space"_a = py::none(), "Reads the box that `out`'s shape gives into `out`.")
        .def("write", &write, "array"_a, "x"_a = 0, "y"_a = 0, py::kw_only(), "z"_a = 0,
             "order"_a = "interleaved", "channels"_a = py::none(), "space"_a = py::none(),
             "Writes the array at (x, y, z); the part outside the image is dropped.")
        .def("_fill_box", &fill, "value"_a, "x"_a = 0, "y"_a = 0, "width"_a = py::none(),
             "height"_a = py::none(), py::kw_only(), "z"_a = 0, "depth"_a = py::none(),
             "channels"_a = py::none(), "space"_a = py::none(),
             "Sets the box to one value (a number, or one per channel).")
        .def("copy_to", &copyTo, "other"_a, "x"_a = 0, "y"_a = 0, "width"_a = py::none(),
             "height"_a = py::none(), py::kw_only(), "z"_a = 0, "depth"_a = py::none(),
             "to_x"_a = 0, "to_y"_a = 0, "to_z"_a = 0, "channels"_a = py::none(),
             "Copies the box of this image to (to_x, to_y, to_z) of `other`; `channels` names "
             "other's channel for each channel of this image.")
        .def(
            "clear_status",
            [](PyImage& self) {
                ImageLock lock(self, Use::Change);
                self.image()->clearStatus();
            },
            "Forgets a failure recorded on the image, so that the next access tries again.")
        .def_property("size", &getSize, &setSize, "(x, y, z, c): width, height, depth, channels")
        .def_property_readonly("shape", &getShape, "Shape of the array read() returns by default")
        .def_property(
            "dtype",
            [](PyImage& self) {
                return dtypeOfType(get(self, [](ekImage* i) { return i->getDataType(); }));
            },
            [](PyImage& self, const py::object& dtype) {
                refuseIfFixed(self, "dtype");
                if (dtype.is_none()) throw py::type_error("dtype: expected a numpy dtype");
                ekType type = typeFromObject(dtype, ekAnyType);
                set(self, "dtype", [&](ekImage* i) { return i->setDataType(type); });
            },
            "The numpy dtype of the pixels (bool for bit images); memory images keep theirs.")
        .def_property(
            "order",
            [](PyImage& self) {
                return orderName(get(self, [](ekImage* i) { return i->getOrder(); }));
            },
            [](PyImage& self, const std::string& name) {
                refuseIfFixed(self, "order");
                ekOrder order = orderFromName(name);
                set(self, "order", [&](ekImage* i) { return i->setOrder(order); });
            },
            "How the image stores its channels: \"interleaved\", \"separate\" or "
            "\"sequential\"; memory images keep theirs.")
        .def_property(
            "coord_space",
            [](PyImage& self) {
                return spaceName(get(self, [](ekImage* i) { return i->getCoordSpace(); }));
            },
            [](PyImage& self, const std::string& name) {
                ekCoordSpace space = spaceFromName(name);
                set(self, "coord_space", [&](ekImage* i) { return i->setCoordSpace(space); });
            },
            "Where the image's row 0 and column 0 lie: \"upper_left\" (row 0 on top), "
            "\"lower_left\", \"left_upper\" (transposed) and the other five.")
        .def_property(
            "color_model",
            [](PyImage& self) {
                return colorModelName(get(self, [](ekImage* i) { return i->getColorModel(); }));
            },
            [](PyImage& self, const std::string& name) {
                ekColorModel model = colorModelFromName(name);
                set(self, "color_model", [&](ekImage* i) { return i->setColorModel(model); });
            },
            "The recorded colour model (\"greyscale\", \"rgb\", \"rgba\", ...); nothing "
            "converts between models.")
        .def_property("fill", &getFill, &setFill,
                      "Value of the pixels outside the image, one element per channel")
        .def(
            "__array__",
            [](const py::object& self, const py::object& dtype, const py::object& copy) {
                if (!copy.is_none() && !copy.cast<bool>())
                    throw py::value_error(
                        "__array__: the pixels are read into a new array; copy=False cannot "
                        "be honoured");
                py::object array = self.attr("read")();
                if (!dtype.is_none()) array = array.attr("astype")(dtype, "copy"_a = false);
                return array;
            },
            "dtype"_a = py::none(), "copy"_a = py::none(),
            "The whole image as read() gives it, so that numpy.asarray(image) works.")
        .def("__repr__", &repr, "<eks.Class WxHxDxC dtype order space>");
}

}  // namespace ekpy
