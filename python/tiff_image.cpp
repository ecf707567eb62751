// SPDX-License-Identifier: Apache-2.0
// eks.TiffImage: a TIFF file as an image (the companion library eks_tiff),
// opened for reading or created for writing. Built only with eks_tiff.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "bindings.h"
#include "eks/tiff.h"
#include "errors.h"
#include "image_object.h"
#include "layout.h"
#include "names.h"
#include "tiff_object.h"

namespace ekpy {
namespace {

// Closes the file, reporting a failure with its reason; a closed file stays
// closed. Pages handed out by lock() are the cached tiles themselves, which
// the close releases: it is refused while any of them is locked.
void close(PyTiffImage& self) {
    ekTiffImg* image = self.tiff();
    bool pagesLocked = false;
    const ekStatus status = withoutGil(self, Use::Change, [&] {
        if (image->isClosed() != 0) return ekOkay;
        pagesLocked = self.lockedTiles > 0;
        return pagesLocked ? ekNotAllowed : image->close();
    });
    if (pagesLocked)
        fail(ekNotAllowed,
             "close: pages of the image are locked; let go of the LockedTile and its page "
             "arrays first");
    checkImage(self, status, "close");
}

// Sets the Python exception of `error`, or a RuntimeError with its text when
// that exception cannot be made.
void setError(const StatusError& error) {
    try {
        setPythonError(error);
    } catch (py::error_already_set&) {
        PyErr_SetString(PyExc_RuntimeError, error.what());
    }
}

}  // namespace

// An image with writes that never reached the file was not closed: it is
// closed here, as the library's destructor would, but not silently. Python's
// ResourceWarning says that it should have been closed, and a close that
// fails, losing those writes, is reported through sys.unraisablehook (a
// destructor cannot raise).
PyTiffImage::~PyTiffImage() {
    ekTiffImg* image = tiff();
    {
        ImageLock lock(*this, Use::Read);
        if (image->hasUnwrittenData() == 0) return;
    }
    py::error_scope pending;  // an exception already being raised stays as it is
    PyObject* file = PyUnicode_DecodeFSDefaultAndSize(path_.data(), py::ssize_t(path_.size()));
    if (file == nullptr) PyErr_Clear();
    if (PyErr_ResourceWarning(nullptr, 1,
                              "eks.TiffImage %R was not closed; its unwritten pages are written "
                              "now. Call close() or use `with`.",
                              file != nullptr ? file : Py_None) != 0)
        PyErr_WriteUnraisable(file);
    try {
        close(*this);
    } catch (const StatusError& e) {
        setError(e);
        PyErr_WriteUnraisable(file);
    } catch (py::error_already_set& e) {
        e.restore();
        PyErr_WriteUnraisable(file);
    } catch (...) {
        // Only the report failed; the library's destructor closes the file.
    }
    Py_XDECREF(file);
}

namespace {

// Checks the new image's status; a failure carries the image's message, which
// tells why the file was refused.
std::unique_ptr<PyTiffImage> make(ImagePtr<ekTiffImg> image, std::string path,
                                  const char* operation) {
    ekStatus status;
    std::string message;
    int rank;
    {
        GraphGuard lock(graphOf(image), Access::Exclusive);
        status = image->getStatus();
        message = image->getMessage();
        const ekSize s = image->getSize();
        rank = s.z > 1 ? 4 : s.c > 1 ? 3 : 2;
        // Python programs scale with threads of their own and dask workers,
        // which a pool under every read would crowd out on the same cores: a
        // file opened for reading decodes on the calling thread unless
        // EKS_NUM_THREADS says otherwise. A created file keeps the pool, which
        // is the only way its writes, one thread at a time, use more cores.
        if (status == ekOkay && image->isWritable() == 0 && std::getenv("EKS_NUM_THREADS") == nullptr)
            status = image->setThreads(1);
    }
    if (status != ekOkay) {
        image.reset();
        check(status, operation, message);
    }
    return std::make_unique<PyTiffImage>(std::move(image), std::move(path), rank);
}

// A path as the bytes the file system takes, from what open() accepts: str,
// bytes or os.PathLike. An embedded NUL would cut the name short (and name
// another file): ValueError, as open() raises.
std::string fsPath(const py::object& path, const char* who) {
    const std::string bytes = py::module_::import("os").attr("fsencode")(path).cast<std::string>();
    if (bytes.find('\0') != std::string::npos)
        throw py::value_error(std::string(who) + ": embedded null byte in the path");
    return bytes;
}

template <class T>
struct Named {
    const char* name;
    T value;
};

constexpr Named<ekTiffCompression> kCompressions[] = {
    {"none", ekTiffNone}, {"lzw", ekTiffLZW}, {"deflate", ekTiffDeflate}};
constexpr Named<ekTiffPhotometric> kPhotometrics[] = {
    {"minisblack", ekTiffMinIsBlack}, {"rgb", ekTiffRGB}, {"rgba", ekTiffRGBA}};

template <class T, size_t N>
T fromName(const Named<T> (&table)[N], const std::string& name, const char* what) {
    std::string accepted;
    for (size_t k = 0; k < N; ++k) {
        if (name == table[k].name) return table[k].value;
        accepted += std::string(k == 0 ? "" : k + 1 == N ? " or " : ", ") + table[k].name;
    }
    throw py::value_error("unknown " + std::string(what) + " '" + name + "'; expected " + accepted);
}

std::unique_ptr<PyTiffImage> create(const py::object& path, const py::object& shape,
                                    const py::object& dtype, const py::object& order,
                                    const std::vector<int>& tile, const std::string& compression,
                                    const std::optional<std::string>& photometric) {
    std::string file = fsPath(path, "TiffImage.create");
    const ekOrder o = parseOrder(order);
    const std::vector<py::ssize_t> dims = parseShape(shape, "TiffImage.create");
    int nx, ny, nz, nc;
    extentsFromShape(dims.data(), py::ssize_t(dims.size()), o, nx, ny, nz, nc);
    if (tile.size() != 2) throw py::value_error("TiffImage.create: tile is (width, height)");
    ekTiffCreateOptions options;
    options.tileWidth = tile[0];
    options.tileHeight = tile[1];
    options.compression = fromName(kCompressions, compression, "compression");
    if (photometric) options.photometric = fromName(kPhotometrics, *photometric, "photometric");
    const ekType type = typeFromObject(dtype, ekUChar);
    ImagePtr<ekTiffImg> image;
    {
        py::gil_scoped_release nogil;  // creating the file may take a while
        image = makeImage<ekTiffImg>(file.c_str(), ekSize(nx, ny, nz, nc), type, o, options);
    }
    auto result = make(std::move(image), std::move(file), "TiffImage.create");
    result->takeStamp();
    return result;
}

}  // namespace

void bindTiffImage(py::module_& m) {
    using namespace pybind11::literals;
    TiffClass cls(
        m, "TiffImage",
        "A TIFF file as an image: TiffImage(path) opens it for reading; TiffImage.create() "
        "makes a new tiled file that accepts writes. The attributes come from the file (its "
        "orientation is the coordinate space). close(), or leaving a `with` block, writes what "
        "is left and closes the file, raising when that fails; an image collected with "
        "unwritten pages gives a ResourceWarning. Paths are str, bytes or os.PathLike.");
    cls.def(py::init([](const py::object& path) {
                 std::string file = fsPath(path, "TiffImage");
                 ImagePtr<ekTiffImg> image;
                 {
                     py::gil_scoped_release nogil;  // opening reads the file's directories
                     image = makeImage<ekTiffImg>(file.c_str());
                 }
                 auto result = make(std::move(image), std::move(file), "TiffImage");
                 result->takeStamp();
                 return result;
             }),
             "path"_a,
             "Opens the TIFF file at `path` (str, bytes or os.PathLike) for reading.")
        .def_static(
            "create", &create, "path"_a, "shape"_a, "dtype"_a = py::none(), py::kw_only(),
            "order"_a = "interleaved", "tile"_a = std::vector<int>{256, 256},
            "compression"_a = "none", "photometric"_a = py::none(),
            "Creates `path` (replacing it): shape (y, x) or (y, x, c), (c, y, x) in separate "
            "order; tiles (width, height), multiples of 16; compression \"none\", \"lzw\" or "
            "\"deflate\"; photometric \"minisblack\", \"rgb\" or \"rgba\" (a fourth channel as "
            "alpha). By default 3 or 4 channels of uint8 or uint16 are \"rgb\", a fourth "
            "channel being an unspecified extra sample, and everything else \"minisblack\".")
        .def(
            "flush",
            [](PyTiffImage& self) {
                ekTiffImg* image = self.tiff();
                // A closed image has nothing to flush, and says so like every other use.
                checkImage(self, withoutGil(self, Use::Change, [&] {
                               return image->isClosed() != 0 ? ekNotAllowed : image->flush();
                           }),
                           "flush");
            },
            "Writes every changed tile: the file on disk is then complete.")
        .def("close", &close,
             "Writes every changed tile and closes the file; raises when that fails, leaving "
             "the image open with its unwritten pages, so that close() can be called again "
             "(once there is room, say). Closing a closed image does nothing; every other use "
             "of it raises NotAllowedError.")
        .def_property_readonly(
            "closed",
            [](PyTiffImage& self) {
                ImageLock lock(self, Use::Read);
                return self.tiff()->isClosed() != 0;
            },
            "True once close() has succeeded.")
        .def(
            "__enter__", [](const py::object& self) { return self; },
            "Gives the image; leaving the block closes it.")
        .def(
            "__exit__",
            [](PyTiffImage& self, const py::args&) {
                close(self);
                return false;
            },
            "Closes the image (see close()).")
        .def_property_readonly(
            "message",
            [](PyTiffImage& self) {
                ImageLock lock(self, Use::Change);  // reads change the message
                return std::string(self.tiff()->getMessage());
            },
            "The last failure or libtiff warning; \"\" when there is none.");
    bindTiffSharing(m, cls);
}

}  // namespace ekpy
