// SPDX-License-Identifier: Apache-2.0
// The array protocol of every image, so that numpy and dask take an image as
// they take an array: ndim, __len__, chunks, and numpy's basic indexing
// (__getitem__, __setitem__) over the shape that read() gives by default,
// (y, x), (y, x, c) or (z, y, x, c) in the image's own coordinate space.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
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

const char* const kValidIndices =
    "only integers, slices (`:`), ellipsis (`...`) and numpy.newaxis (`None`) are valid indices "
    "of an image";

// What a key takes along one axis: `count` indices from `start`, `step`
// apart (negative: backwards). An integer takes one and drops the axis.
struct Pick {
    int64_t start = 0, count = 0, step = 1;
    bool drop = false;
    int64_t low() const { return step > 0 ? start : start + (count - 1) * step; }
    int64_t span() const { return count == 0 ? 0 : (count - 1) * (step > 0 ? step : -step) + 1; }
};

// The image as the array protocol sees it, taken under one lock.
struct Geometry {
    std::vector<py::ssize_t> shape;    // read()'s default shape
    int z = -1, y = 0, x = 1, c = -1;  // its axes (-1: none)
    ekType type = ekAnyType;
    int channels = 1;
    bool readOnly = false;
};

// Raises the image's failure (unless `operation` is null), so that nothing is
// computed from a size that means nothing.
Geometry geometry(PyImage& self, const char* operation) {
    ekSize s;
    Geometry g;
    ekStatus status;
    {
        ImageLock lock(self, Use::Read);
        ekImage* image = self.image();
        status = image->getStatus();
        s = image->getSize();
        g.type = image->getDataType();
        g.readOnly = self.readOnly();
    }
    if (operation != nullptr) checkImage(self, status, operation);
    // The rank read() gives: 4 for other than one slice, 3 for several channels.
    const int rank = s.z != 1 ? 4 : s.c > 1 && self.rank() < 3 ? 3 : self.rank();
    g.channels = s.c;
    if (rank == 4) g.shape.push_back(s.z);
    g.shape.push_back(s.y);
    g.shape.push_back(s.x);
    if (rank >= 3) g.shape.push_back(s.c);
    if (rank >= 3) g.c = rank - 1;
    if (rank == 4) {
        g.z = 0;
        g.y = 1;
        g.x = 2;
    }
    return g;
}

// The key's pick along an axis of extent n.
Pick pickOf(const py::handle& item, int axis, py::ssize_t n) {
    if (PySlice_Check(item.ptr())) {
        Py_ssize_t start, stop, step;
        if (PySlice_Unpack(item.ptr(), &start, &stop, &step) < 0) throw py::error_already_set();
        const Py_ssize_t count = PySlice_AdjustIndices(n, &start, &stop, step);
        return Pick{start, count, count > 1 ? step : 1, false};
    }
    // A bool is a mask in numpy, not a number.
    static const py::handle numpyBool =
        py::object(py::module_::import("numpy").attr("bool_")).release();
    if (PyBool_Check(item.ptr()) || py::isinstance(item, numpyBool) || !PyIndex_Check(item.ptr()))
        throw py::index_error(kValidIndices);
    PyObject* number = PyNumber_Index(item.ptr());
    if (number == nullptr) {
        PyErr_Clear();
        throw py::index_error(kValidIndices);
    }
    int overflow = 0;
    long long i = PyLong_AsLongLongAndOverflow(number, &overflow);
    Py_DECREF(number);
    if (overflow != 0 || i < -n || i >= n)
        throw py::index_error("index " + std::string(py::str(item)) +
                              " is out of bounds for axis " + std::to_string(axis) + " with size " +
                              std::to_string(n));
    return Pick{i < 0 ? i + n : i, 1, 1, true};
}

// A key: one pick per axis of the image, and the shape of numpy's result
// (None adds an axis of 1, an integer drops its axis).
struct Selection {
    std::vector<Pick> picks;
    std::vector<py::ssize_t> shape;
    bool ellipsis = false;  // with every index an integer, numpy then gives a 0-d array
};

Selection parseKey(const py::handle& key, const std::vector<py::ssize_t>& dims) {
    const py::tuple items =
        PyTuple_Check(key.ptr()) ? py::reinterpret_borrow<py::tuple>(key) : py::make_tuple(key);
    const int ndim = int(dims.size());
    int indexed = 0, ellipses = 0;
    for (const py::handle item : items) {
        if (item.ptr() == Py_Ellipsis)
            ++ellipses;
        else if (!item.is_none())
            ++indexed;
    }
    if (ellipses > 1) throw py::index_error("an index can only have a single ellipsis ('...')");
    if (indexed > ndim)
        throw py::index_error("too many indices for image: its array is " + std::to_string(ndim) +
                              "-dimensional, but " + std::to_string(indexed) + " were indexed");
    Selection sel;
    sel.ellipsis = ellipses > 0;
    int axis = 0;
    auto whole = [&]() {
        sel.picks.push_back(Pick{0, dims[axis], 1, false});
        sel.shape.push_back(dims[axis++]);
    };
    for (const py::handle item : items) {
        if (item.is_none()) {
            sel.shape.push_back(1);
        } else if (item.ptr() == Py_Ellipsis) {
            for (int k = indexed; k < ndim; ++k) whole();
        } else {
            const Pick p = pickOf(item, axis, dims[axis]);
            sel.picks.push_back(p);
            if (!p.drop) sel.shape.push_back(py::ssize_t(p.count));
            ++axis;
        }
    }
    while (axis < ndim) whole();
    return sel;
}

// The picks of the spatial axes; a missing z axis is slice 0.
struct Picks {
    Pick z{0, 1, 1, true}, y, x;
    bool strided() const { return z.step != 1 || y.step != 1 || x.step != 1; }
    int64_t elements(int channels) const { return z.count * y.count * x.count * channels; }
};

// The layout of the box the picks span, in the image's own type, space and
// coordinates, with the picked channels.
Layout spanLayout(const Geometry& g, const Selection& sel, Picks& p) {
    if (g.z >= 0) p.z = sel.picks[size_t(g.z)];
    p.y = sel.picks[size_t(g.y)];
    p.x = sel.picks[size_t(g.x)];
    Layout l;
    l.type = g.type;
    l.box = Box{int32_t(p.x.low()),  int32_t(p.y.low()),  int32_t(p.z.low()),
                int32_t(p.x.span()), int32_t(p.y.span()), int32_t(p.z.span())};
    l.nchans = g.channels;
    if (g.c >= 0) {
        const Pick& c = sel.picks[size_t(g.c)];
        l.nchans = int32_t(c.count);
        if (c.count != g.channels || c.step != 1)
            for (int64_t k = 0; k < c.count; ++k) l.channels.push_back(int(c.start + k * c.step));
    }
    return l;
}

// Bytes of the buffer a band of picked rows reads through.
constexpr int64_t kBandBytes = int64_t(2) << 20;

// Moves the picked pixels between the image and `data`, the C-ordered buffer
// (z, y, x, channels) of the picks, a band of picked rows at a time through a
// buffer of the box the band spans. A write reads that box first, so that the
// pixels between the picked ones keep their values. The graph's lock is held
// (exclusively to write), the GIL is not.
ekStatus strided(PyImage& self, Layout& l, const Picks& p, char* data, bool write) {
    const int64_t pixel = int64_t(l.nchans) * arrayElementBytes(l.type);
    const int64_t spanRow = p.x.span() * pixel, row = p.x.count * pixel;
    const int64_t ystep = p.y.step > 0 ? p.y.step : -p.y.step;
    const int64_t rows = std::max<int64_t>(1, kBandBytes / (spanRow * ystep));
    std::vector<char> band(size_t(((std::min(rows, p.y.count) - 1) * ystep + 1) * spanRow));
    Layout b = l;
    ekConfig cfg = b.config();
    for (int64_t k = 0; k < p.z.count; ++k) {
        for (int64_t r = 0; r < p.y.count; r += rows) {
            const Pick bandRows{p.y.start + r * p.y.step, std::min(rows, p.y.count - r), p.y.step};
            b.box = Box{
                int32_t(p.x.low()),  int32_t(bandRows.low()),  int32_t(p.z.start + k * p.z.step),
                int32_t(p.x.span()), int32_t(bandRows.span()), 1};
            const Box& bb = b.box;
            ekStatus st =
                self.image()->getTile3D(bb.x, bb.y, bb.z, bb.nx, bb.ny, 1, band.data(), &cfg);
            if (st != ekOkay) return st;
            for (int64_t i = 0; i < bandRows.count; ++i) {
                char* span = band.data() + (bandRows.start + i * p.y.step - bb.y) * spanRow;
                char* picked = data + ((k * p.y.count) + r + i) * row;
                if (p.x.step == 1) {
                    write ? std::memcpy(span, picked, size_t(row))
                          : std::memcpy(picked, span, size_t(row));
                    continue;
                }
                for (int64_t j = 0; j < p.x.count; ++j) {
                    char* at = span + (p.x.start + j * p.x.step - bb.x) * pixel;
                    write ? std::memcpy(at, picked + j * pixel, size_t(pixel))
                          : std::memcpy(picked + j * pixel, at, size_t(pixel));
                }
            }
            if (write && (st = writeLocked(self, b, b.box, band.data())) != ekOkay) return st;
        }
    }
    return ekOkay;
}

// Whether the picks need the banded path: steps other than 1, or more
// elements than the library moves in one call.
bool banded(const Picks& p, const Layout& l) {
    return p.strided() || p.elements(l.nchans) > std::numeric_limits<int32_t>::max();
}

py::object getItem(PyImage& self, const py::handle& key) {
    const Geometry g = geometry(self, "__getitem__");
    const Selection sel = parseKey(key, g.shape);
    Picks p;
    Layout l = spanLayout(g, sel, p);
    py::array out(dtypeOfType(g.type), sel.shape);
    if (out.size() > 0) {
        char* data = static_cast<char*>(out.mutable_data());
        const ekStatus status =
            banded(p, l)
                ? withoutGil(self, Use::Read, [&] { return strided(self, l, p, data, false); })
                : readInBands(self, l, data);
        checkImage(self, status, "__getitem__");
        if (g.type == ekBit) normaliseBools(out);
    }
    // Every index an integer: numpy's scalar of the dtype.
    if (sel.shape.empty() && !sel.ellipsis) return out[py::tuple()];
    return std::move(out);
}

void setItem(PyImage& self, const py::handle& key, const py::handle& value) {
    const Geometry g = geometry(self, "__setitem__");
    if (g.readOnly) refuseReadOnly(self, "__setitem__");
    const Selection sel = parseKey(key, g.shape);
    // numpy converts and broadcasts the value exactly as into an array.
    py::array values(dtypeOfType(g.type), sel.shape);
    if (PyObject_SetItem(values.ptr(), Py_Ellipsis, value.ptr()) != 0)
        throw py::error_already_set();
    if (values.size() == 0) return;
    Picks p;
    Layout l = spanLayout(g, sel, p);
    char* data = static_cast<char*>(values.mutable_data());
    const ekStatus status =
        banded(p, l)
            ? withoutGil(self, Use::Change, [&] { return strided(self, l, p, data, true); })
            : writeBox(self, l, data);
    checkImage(self, status, "__setitem__");
}

// One natural block of the image in its array axes: the page (tile or strip)
// of one slice with every channel, or the whole image.
py::tuple chunks(PyImage& self) {
    const Geometry g = geometry(self, "chunks");
    int width = 0, height = 0;
    bool paged;
    {
        ImageLock lock(self, Use::Read);
        paged = self.pageBlock(width, height);
    }
    std::vector<py::ssize_t> block = g.shape;
    if (paged) {
        block[size_t(g.y)] = std::min<py::ssize_t>(block[size_t(g.y)], std::max(height, 1));
        block[size_t(g.x)] = std::min<py::ssize_t>(block[size_t(g.x)], std::max(width, 1));
        if (g.z >= 0) block[0] = 1;
    }
    return py::cast(block);
}

}  // namespace

std::vector<py::ssize_t> defaultShape(PyImage& self) { return geometry(self, nullptr).shape; }

void bindArrayProtocol(py::module_& m) {
    using namespace pybind11::literals;
    auto image = py::reinterpret_borrow<py::class_<PyImage>>(m.attr("Image"));
    image
        .def_property_readonly(
            "ndim", [](PyImage& self) { return defaultShape(self).size(); },
            "Number of axes of `shape`: 2 (y, x), 3 (y, x, c) or 4 (z, y, x, c).")
        .def(
            "__len__", [](PyImage& self) { return defaultShape(self)[0]; },
            "Extent of the first axis of `shape`.")
        .def_property_readonly(
            "chunks", &chunks,
            "One natural block of the image in the axes of `shape`, for "
            "dask.array.from_array(image, chunks=image.chunks): a TIFF file's tile (or strip) of "
            "one slice with every channel, (tile height, tile width[, c]) or (1, tile height, "
            "tile width, c); the whole shape for other images.")
        .def("__getitem__", &getItem, "key"_a,
             "numpy's basic indexing over `shape`: integers (the axis dropped), slices of any "
             "step, negative indices, `...` and None; reads only pixels inside the image. Every "
             "index an integer gives a numpy scalar of the image's dtype.")
        .def("__setitem__", &setItem, "key"_a, "value"_a,
             "Writes `value`, converted and broadcast as numpy would into an array of the "
             "image's dtype, to the pixels the key picks. Read-only images raise "
             "NotAllowedError.");
}

}  // namespace ekpy
