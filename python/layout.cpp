// SPDX-License-Identifier: Apache-2.0
#include "layout.h"

#include <pybind11/stl.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

#include "names.h"

namespace ekpy {
namespace {

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();

int32_t toInt32(int64_t v, const char* what) {
    if (v < kInt32Min || v > kInt32Max)
        throw py::value_error(std::string(what) + " " + std::to_string(v) +
                              " is outside the 32-bit range of the library");
    return int32_t(v);
}

// An extent: the given one, or from `origin` to the image's far edge.
int32_t extent(const Extent& given, int64_t origin, int32_t imageExtent, const char* what) {
    if (given && *given < 0)
        throw py::value_error(std::string(what) + " must not be negative, got " +
                              std::to_string(*given));
    int64_t n = given ? *given : std::max<int64_t>(0, imageExtent - origin);
    if (origin + n > kInt32Max + int64_t(1))
        throw py::value_error(std::string("the box reaches beyond the 32-bit range of the library "
                                          "(origin + ") +
                              what + ")");
    return toInt32(n, what);
}

const char* shapeText(ekOrder order) {
    switch (order) {
        case ekSequential:
            return "(y, x), (y, c, x) or (z, y, c, x)";
        case ekSeparate:
            return "(y, x), (c, y, x) or (c, z, y, x)";
        default:
            return "(y, x), (y, x, c) or (z, y, x, c)";
    }
}

}  // namespace

ekConfig Layout::config() {
    return ekConfig(transferType(type), order, nchans, channels.empty() ? nullptr : channels.data(),
                    0, space, ekColorModel(0));
}

ekCoordSpace parseSpace(const py::handle& space) {
    if (space.is_none()) return ekCoordSpace(0);
    return spaceFromName(space);
}

ekOrder parseOrder(const py::handle& order) {
    if (order.is_none()) return ekInterleaved;
    return orderFromName(order);
}

void parseChannels(const py::handle& channels, int imageChannels, Layout& layout) {
    layout.channels.clear();
    layout.channelAxis = true;
    if (channels.is_none()) {
        layout.nchans = imageChannels;
        return;
    }
    auto add = [&](const py::handle& item) {
        if (!PyIndex_Check(item.ptr()) || PyBool_Check(item.ptr()))
            throw py::type_error("channels must be integers, got " +
                                 std::string(py::str(py::type::of(item))));
        py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(item.ptr()));
        if (!index) throw py::error_already_set();
        int overflow = 0;
        const long long k = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
        if (overflow != 0) throw py::index_error("channel index out of range");
        if (k < -imageChannels || k >= imageChannels)
            throw py::index_error("channel " + std::to_string(k) +
                                  " is out of range for an image of " +
                                  std::to_string(imageChannels) + " channels");
        layout.channels.push_back(int(k < 0 ? k + imageChannels : k));
    };
    if (PyIndex_Check(channels.ptr())) {
        add(channels);
        layout.channelAxis = false;
    } else if (py::isinstance<py::str>(channels) || !py::isinstance<py::iterable>(channels)) {
        throw py::type_error("channels must be None, an integer or a sequence of integers");
    } else {
        for (py::handle item : channels) add(item);
        if (layout.channels.empty())
            throw py::value_error("channels must name at least one channel");
        if (layout.channels.size() > size_t(kInt32Max)) throw py::value_error("too many channels");
    }
    layout.nchans = int32_t(layout.channels.size());
}

std::vector<py::ssize_t> parseShape(const py::handle& shape, const char* who) {
    std::vector<int64_t> extents;
    try {
        extents = shape.cast<std::vector<int64_t>>();
    } catch (const py::cast_error&) {
        throw py::type_error(std::string(who) + ": expected a shape (a tuple of ints)");
    }
    for (int64_t e : extents)
        if (e < 1 || e > kInt32Max)
            throw py::value_error(std::string(who) +
                                  ": every extent of the shape must be 1 to 2^31 - 1");
    return {extents.begin(), extents.end()};
}

std::vector<double> parseNumbers(const py::handle& value) {
    std::vector<double> values;
    if (py::isinstance<py::iterable>(value) && !py::isinstance<py::str>(value)) {
        for (py::handle v : value) values.push_back(v.cast<double>());
    } else {
        values.push_back(value.cast<double>());
    }
    return values;
}

Box makeBox(ekImage* image, ekCoordSpace space, int64_t x, int64_t y, int64_t z, Extent width,
            Extent height, Extent depth) {
    ekSize s;
    image->getSize(s, space != 0 ? space : image->getCoordSpace());
    Box b;
    b.x = toInt32(x, "x");
    b.y = toInt32(y, "y");
    b.z = toInt32(z, "z");
    b.nx = extent(width, x, s.x, "width");
    b.ny = extent(height, y, s.y, "height");
    b.nz = extent(depth, z, s.z, "depth");
    return b;
}

int readRank(const Layout& layout, int imageRank) {
    // An empty z axis must show in the shape: without it the array would have
    // elements that nothing writes.
    if (layout.box.nz != 1) return 4;
    if (layout.nchans > 1 && imageRank < 3) return 3;
    return imageRank;
}

Shape arrayShape(const Layout& layout, int rank) {
    const Box& b = layout.box;
    const bool zAxis = rank >= 4, cAxis = rank >= 3 && layout.channelAxis;
    // Factor by factor, so that the count cannot overflow before the check.
    int64_t elements = 1;
    for (int64_t n : {int64_t(b.nx), int64_t(b.ny), int64_t(b.nz), int64_t(layout.nchans)}) {
        elements *= std::max<int64_t>(n, 0);
        if (elements > kInt32Max)
            throw py::value_error(
                "the box holds more than 2^31 - 1 elements, the most the library moves in one "
                "call");
    }
    Shape shape;
    if (cAxis && layout.order == ekSeparate) shape.push(layout.nchans);
    if (zAxis) shape.push(b.nz);
    shape.push(b.ny);
    if (cAxis && layout.order == ekSequential) shape.push(layout.nchans);
    shape.push(b.nx);
    if (cAxis && layout.order == ekInterleaved) shape.push(layout.nchans);
    return shape;
}

py::array newArray(ekType type, const Shape& shape) {
    auto& api = py::detail::npy_api::get();
    // NewFromDescr takes over the reference to the dtype; null strides and
    // flags 0 make a C-contiguous array.
    PyObject* array = api.PyArray_NewFromDescr_(
        api.PyArray_Type_, dtypeOfType(type).release().ptr(), shape.ndim,
        const_cast<py::ssize_t*>(shape.dims), nullptr, nullptr, 0, nullptr);
    if (array == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::array>(array);
}

void extentsFromArray(const py::array& array, ekOrder order, int& nx, int& ny, int& nz, int& nc) {
    extentsFromShape(array.shape(), array.ndim(), order, nx, ny, nz, nc);
}

void extentsFromShape(const py::ssize_t* s, py::ssize_t ndim, ekOrder order, int& nx, int& ny,
                      int& nz, int& nc) {
    py::ssize_t x = 0, y = 0, z = 1, c = 1;
    if (ndim == 2) {
        y = s[0], x = s[1];
    } else if (ndim == 3) {
        if (order == ekInterleaved) y = s[0], x = s[1], c = s[2];
        if (order == ekSequential) y = s[0], c = s[1], x = s[2];
        if (order == ekSeparate) c = s[0], y = s[1], x = s[2];
    } else if (ndim == 4) {
        if (order == ekInterleaved) z = s[0], y = s[1], x = s[2], c = s[3];
        if (order == ekSequential) z = s[0], y = s[1], c = s[2], x = s[3];
        if (order == ekSeparate) c = s[0], z = s[1], y = s[2], x = s[3];
    } else {
        throw py::value_error("expected an array of shape " + std::string(shapeText(order)) +
                              " for " + orderName(order) + " order, got " + std::to_string(ndim) +
                              " dimensions");
    }
    if (c < 1) throw py::value_error("the array has no channels");
    nx = toInt32(x, "width");
    ny = toInt32(y, "height");
    nz = toInt32(z, "depth");
    nc = toInt32(c, "channel count");
}

void checkArray(const py::array& array, bool writeable, const char* what) {
    if (!(array.flags() & py::array::c_style))
        throw py::value_error(
            std::string(what) +
            ": expected a C-contiguous array (numpy.ascontiguousarray makes one)");
    if (writeable && !array.writeable())
        throw py::value_error(std::string(what) + ": expected a writeable array");
    if (reinterpret_cast<uintptr_t>(array.data()) % uintptr_t(array.itemsize()) != 0)
        throw py::value_error(std::string(what) + ": expected an aligned array");
    if (array.size() > kInt32Max)
        throw py::value_error(std::string(what) +
                              ": the array holds more than 2^31 - 1 elements, the library's limit");
}

}  // namespace ekpy
