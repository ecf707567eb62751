// SPDX-License-Identifier: Apache-2.0
// eks.TiffImage: a TIFF file as an image (the companion library eks_tiff),
// opened for reading or created for writing. Built only with eks_tiff.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cstdlib>
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

std::unique_ptr<PyTiffImage> makeTiff(ImagePtr<ekTiffImg> image, std::string path,
                                      const ekTiffOpenOptions& opened, const char* operation) {
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
        if (status == ekOkay && image->isWritable() == 0 &&
            std::getenv("EKS_NUM_THREADS") == nullptr)
            status = image->setThreads(1);
    }
    if (status != ekOkay) {
        image.reset();
        check(status, operation, message);
    }
    auto result = std::make_unique<PyTiffImage>(std::move(image), std::move(path), rank, opened);
    result->takeStamp();
    return result;
}

// An embedded NUL would cut the name short (and name another file):
// ValueError, as open() raises.
std::string fsPath(const py::object& path, const char* who) {
    const std::string bytes = py::module_::import("os").attr("fsencode")(path).cast<std::string>();
    if (bytes.find('\0') != std::string::npos)
        throw py::value_error(std::string(who) + ": embedded null byte in the path");
    return bytes;
}

void bindTiffImage(py::module_& m) {
    using namespace pybind11::literals;
    TiffClass cls(
        m, "TiffImage",
        "A TIFF file as an image: TiffImage(path) opens it (or one of its overviews) for "
        "reading; TiffImage.create() makes a new tiled file that accepts writes. The attributes come from the file (its "
        "orientation is the coordinate space). close(), or leaving a `with` block, writes what "
        "is left and closes the file, raising when that fails; an image collected with "
        "unwritten pages gives a ResourceWarning. Paths are str, bytes or os.PathLike.");
    cls.def(py::init([](const py::object& path, int level, bool paletteIndices) {
                 std::string file = fsPath(path, "TiffImage");
                 ekTiffOpenOptions opened;
                 opened.level = level;
                 opened.paletteIndices = paletteIndices;
                 ImagePtr<ekTiffImg> image;
                 {
                     py::gil_scoped_release nogil;  // opening reads the file's directories
                     image = makeImage<ekTiffImg>(file.c_str(), opened);
                 }
                 return makeTiff(std::move(image), std::move(file), opened, "TiffImage");
             }),
             "path"_a, "level"_a = 0, py::kw_only(), "palette_indices"_a = false,
             "Opens the TIFF file at `path` (str, bytes or os.PathLike) for reading: its full "
             "resolution, or with `level` k its k-th overview (1 the first; past the last "
             "raises BadInputError). A palette image reads as RGB through its colour map, or "
             "as its indices with palette_indices=True.")
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
    bindTiffCreation(cls);
    bindTiffTags(cls);
    bindTiffSharing(m, cls);
}

}  // namespace ekpy
