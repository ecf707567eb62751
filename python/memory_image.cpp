// SPDX-License-Identifier: Apache-2.0
// eks.MemoryImage: an image over a numpy array (no copy) or over pixels of its
// own, which numpy sees through the buffer protocol.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cstring>
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

class PyMemoryImage : public PyImage {
public:
    PyMemoryImage(ImagePtr<> image, py::object keep, int rank, bool readOnly)
        : PyImage(std::move(image), std::move(keep), rank), readOnly_(readOnly) {}
    bool fixedLayout() const override { return true; }
    ekMemoryImg* memory() const { return static_cast<ekMemoryImg*>(image()); }
    // Made over a read-only array: the library refuses writes, and numpy's
    // views of the pixels are read-only too.
    bool readOnly() const override { return readOnly_; }

private:
    bool readOnly_;
};

// Numpy's view of an image's pixels is in the image's own coordinate space:
// row 0 of an array is the top row. The size is recorded as the caller's, so
// that no later derivation changes it under the array (a colour model that
// implies another channel count would otherwise take the channel count with
// it); such a model is refused with ekBadColorModel instead.
std::unique_ptr<PyMemoryImage> make(ImagePtr<ekMemoryImg> image, py::object keep, int rank,
                                    bool readOnly) {
    ekStatus status;
    {
        GraphGuard lock(graphOf(image), Access::Exclusive);
        const ekSize size = image->getSize();
        status = image->setSize(size);
        if (status == ekOkay) status = image->setCoordSpace(ekUpperLeft);
        if (status == ekOkay) status = image->getStatus();
    }
    check(status, "MemoryImage");  // the image is released without the lock held
    return std::make_unique<PyMemoryImage>(std::move(image), std::move(keep), rank, readOnly);
}

std::unique_ptr<PyMemoryImage> fromArray(const py::array& array, ekOrder order) {
    checkArray(array, false, "MemoryImage");
    const ekType type = typeFromDtype(array.dtype());
    if (type == ekBit)
        throw py::type_error(
            "MemoryImage: a bool array cannot be wrapped (bit images pack eight pixels to a "
            "byte); make MemoryImage(shape, bool) and write the array into it");
    int nx, ny, nz, nc;
    extentsFromArray(array, order, nx, ny, nz, nc);
    if (nx < 1 || ny < 1 || nz < 1) throw py::value_error("MemoryImage: the array is empty");
    const ekSize size(nx, ny, nz, nc);
    const bool readOnly = !array.writeable();
    auto image = readOnly
                     ? makeImage<ekMemoryImg>(array.data(), size, type, order)
                     : makeImage<ekMemoryImg>(const_cast<void*>(array.data()), size, type, order);
    return make(std::move(image), array, int(array.ndim()), readOnly);
}

std::unique_ptr<PyMemoryImage> fromShape(const py::object& shapeObject, ekType type,
                                         ekOrder order) {
    // The shape is that of the array numpy sees, so its meaning follows the order.
    const std::vector<py::ssize_t> dims = parseShape(shapeObject, "MemoryImage");
    int nx, ny, nz, nc;
    extentsFromShape(dims.data(), py::ssize_t(dims.size()), order, nx, ny, nz, nc);
    auto image = makeImage<ekMemoryImg>(ekSize(nx, ny, nz, nc), type, order);
    ekStatus status;
    {
        GraphGuard lock(graphOf(image), Access::Exclusive);
        void* data = image->getDataPtr();
        status = image->getStatus();
        if (status == ekOkay) std::memset(data, 0, size_t(ekDataSize(type, nx * ny * nz * nc)));
    }
    check(status, "MemoryImage");
    return make(std::move(image), py::none(), int(dims.size()), false);
}

const char* bufferFormat(ekType type) {
    switch (type) {
        case ekUChar:
            return "B";
        case ekChar:
            return "b";
        case ekUShort:
            return "H";
        case ekShort:
            return "h";
        case ekULong:
            return "I";
        case ekLong:
            return "i";
        case ekFloat:
            return "f";
        case ekDouble:
            return "d";
        default:
            return nullptr;
    }
}

// The buffer protocol: the pixels as an array of the shape read() gives for
// the whole image in the image's own order. pybind11's own handler cannot
// refuse a request (an exception there would end the process), so this one
// answers BufferError for images numpy cannot view (packed bits, failures).
extern "C" int getBuffer(PyObject* object, Py_buffer* view, int flags) {
    std::memset(view, 0, sizeof(Py_buffer));
    try {
        auto& self = py::cast<PyMemoryImage&>(py::handle(object));
        Layout layout;
        void* data;
        {
            ImageLock lock(self, Use::Read);
            ekMemoryImg* image = self.memory();
            data = image->getDataPtr();
            check(image->getStatus(), "buffer");
            const ekSize s = image->getSize();
            layout.box = Box{0, 0, 0, s.x, s.y, s.z};
            layout.nchans = s.c;
            layout.order = image->getOrder();
            layout.type = image->getDataType();
        }
        if (self.readOnly() && (flags & PyBUF_WRITABLE) == PyBUF_WRITABLE)
            throw py::buffer_error("the image wraps a read-only array");
        const char* format = bufferFormat(layout.type);
        if (format == nullptr)
            throw py::buffer_error(
                "bit images pack eight pixels to a byte and have no numpy "
                "view; read() them into a bool array");
        const py::ssize_t itemsize = arrayElementBytes(layout.type);
        std::vector<py::ssize_t> shape = arrayShape(layout, readRank(layout, self.rank())).vector();
        auto* info = new py::buffer_info(data, itemsize, format, py::ssize_t(shape.size()), shape,
                                         py::detail::c_strides(shape, itemsize), self.readOnly());
        view->obj = object;
        view->internal = info;  // released by pybind11's release handler
        view->buf = info->ptr;
        view->itemsize = itemsize;
        view->len = info->size * itemsize;
        view->readonly = self.readOnly() ? 1 : 0;
        view->ndim = 1;
        if ((flags & PyBUF_FORMAT) == PyBUF_FORMAT) view->format = const_cast<char*>(format);
        if ((flags & PyBUF_STRIDES) == PyBUF_STRIDES) {
            view->ndim = int(info->ndim);
            view->shape = info->shape.data();
            view->strides = info->strides.data();
        }
        Py_INCREF(object);
        return 0;
    } catch (py::error_already_set& e) {
        e.restore();
    } catch (const StatusError& e) {
        PyErr_SetString(PyExc_BufferError, e.what());
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_BufferError, e.what());
    }
    view->obj = nullptr;
    return -1;
}

// The shape of the image's own buffer: that of the array it was made over.
py::tuple ownShape(const PyMemoryImage& self) {
    Layout layout;
    {
        ImageLock lock(self, Use::Read);
        const ekSize s = self.image()->getSize();
        layout.box = Box{0, 0, 0, s.x, s.y, s.z};
        layout.nchans = s.c;
        layout.order = self.image()->getOrder();
    }
    return py::cast(arrayShape(layout, readRank(layout, self.rank())).vector());
}

bool isBits(const py::object& self) {
    return self.attr("dtype").equal(py::module_::import("numpy").attr("bool_"));
}

// A copy of the pixels in the shape of the image's own buffer; bit images,
// which have no buffer, as a shape to make and the pixels read() gives.
py::tuple reduceMemory(const py::object& self) {
    auto& image = self.cast<const PyMemoryImage&>();
    py::dict kwargs, state = commonState(self);
    kwargs["order"] = self.attr("order");
    if (isBits(self)) {
        kwargs["source"] = ownShape(image);
        kwargs["dtype"] = self.attr("dtype");
        state["pixels"] = self.attr("read")();
    } else {
        kwargs["source"] = py::module_::import("numpy").attr("array")(py::memoryview(self));
        if (image.readOnly()) state["read_only"] = true;
    }
    return reduceTo(self, kwargs, state);
}

// The content itself: a digest of the pixels, with their type and layout.
py::object tokenizeMemory(const py::object& self) {
    py::object pixels = isBits(self) ? self.attr("read")() : py::memoryview(self);
    py::object digest = py::module_::import("hashlib").attr("md5")(
        pixels, py::arg("usedforsecurity") = false);
    return commonToken(self) + py::make_tuple(py::str(self.attr("dtype")), self.attr("shape"),
                                              self.attr("order"), digest.attr("hexdigest")());
}

}  // namespace

void bindMemoryImage(py::module_& m) {
    using namespace pybind11::literals;
    py::class_<PyMemoryImage, PyImage> cls(
        m, "MemoryImage", py::buffer_protocol(),
        "An image held in one buffer. MemoryImage(array) wraps a C-contiguous array without "
        "copying and keeps it alive (a read-only array gives a read-only image); "
        "MemoryImage(shape, dtype) owns zeroed pixels. The shape "
        "is (y, x), (y, x, c) or (z, y, x, c) in interleaved order, (c, y, x) in separate and "
        "(y, c, x) in sequential order. Row 0 is the top row (space \"upper_left\"). Size, "
        "dtype and order are fixed; numpy.asarray(image) is a view of the pixels.");
    cls.def(
        py::init([](const py::object& source, const py::object& dtype, const py::object& order) {
            const ekOrder o = parseOrder(order);
            if (py::isinstance<py::array>(source)) {
                if (!dtype.is_none())
                    throw py::type_error("MemoryImage(array): the dtype is the array's");
                return fromArray(py::reinterpret_borrow<py::array>(source), o);
            }
            return fromShape(source, typeFromObject(dtype, ekDouble), o);
        }),
        "source"_a, "dtype"_a = py::none(), py::kw_only(), "order"_a = "interleaved",
        "MemoryImage(array) wraps the array without copying; MemoryImage(shape, dtype) owns "
        "zeroed pixels (dtype float64 by default).");
    // numpy.asarray falls back to __array__ when the buffer is refused. Bit
    // images, which have no view, give what read() gives, as every other
    // image does; a refusal of any other kind is raised.
    cls.def(
        "__array__",
        [](const py::object& self, const py::object& dtype, const py::object& copy) {
            py::object numpy = py::module_::import("numpy");
            if (self.attr("dtype").equal(numpy.attr("bool_"))) {
                auto base = py::module_::import("eks").attr("Image").attr("__array__");
                return base(self, dtype, copy);
            }
            py::object view = numpy.attr("asarray")(py::memoryview(self), dtype);
            return !copy.is_none() && copy.cast<bool>() ? view.attr("copy")() : view;
        },
        "dtype"_a = py::none(), "copy"_a = py::none(),
        "A view of the pixels (a copy with copy=True); bit images, which have none, as read() "
        "gives them.");
    cls.def("__reduce__", &reduceMemory, "Pickles the pixels.");
    cls.def("__dask_tokenize__", &tokenizeMemory,
            "A token of the pixels (a digest), dtype, shape and order, for dask.");
    // Replaces pybind11's buffer handler by one that can refuse (see getBuffer).
    auto* type = reinterpret_cast<PyTypeObject*>(cls.ptr());
    type->tp_as_buffer->bf_getbuffer = getBuffer;
}

}  // namespace ekpy
