// SPDX-License-Identifier: Apache-2.0
// eks.TiffImage: a TIFF file as an image (the companion library eks_tiff),
// opened for reading or created for writing. Built only with eks_tiff.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <string>
#include <vector>

#include "bindings.h"
#include "eks/tiff.h"
#include "errors.h"
#include "image_object.h"
#include "layout.h"
#include "names.h"

namespace ekpy {
namespace {

class PyTiffImage : public PyImage {
public:
    using PyImage::PyImage;
    ekTiffImg* tiff() const { return static_cast<ekTiffImg*>(image()); }
};

// Checks the new image's status; a failure carries the image's message, which
// tells why the file was refused.
std::unique_ptr<PyTiffImage> make(ImagePtr<ekTiffImg> image, const char* operation) {
    ekStatus status;
    std::string message;
    int rank;
    {
        LibraryLock lock;
        status = image->getStatus();
        message = image->getMessage();
        const ekSize s = image->getSize();
        rank = s.z > 1 ? 4 : s.c > 1 ? 3 : 2;
    }
    if (status != ekOkay) {
        image.reset();
        try {
            check(status, operation);
        } catch (const StatusError& e) {
            fail(status, std::string(e.what()) + (message.empty() ? "" : ": " + message));
        }
    }
    return std::make_unique<PyTiffImage>(std::move(image), py::none(), rank);
}

ekTiffCompression compressionFromName(const std::string& name) {
    if (name == "none") return ekTiffNone;
    if (name == "lzw") return ekTiffLZW;
    if (name == "deflate") return ekTiffDeflate;
    throw py::value_error("unknown compression '" + name + "'; expected none, lzw or deflate");
}

std::unique_ptr<PyTiffImage> create(const std::string& path, const py::object& shape,
                                    const py::object& dtype, const py::object& order,
                                    const std::vector<int>& tile, const std::string& compression) {
    const ekOrder o = parseOrder(order);
    const std::vector<py::ssize_t> dims = parseShape(shape, "TiffImage.create");
    int nx, ny, nz, nc;
    extentsFromShape(dims.data(), py::ssize_t(dims.size()), o, nx, ny, nz, nc);
    if (tile.size() != 2) throw py::value_error("TiffImage.create: tile is (width, height)");
    const ekType type = typeFromObject(dtype, ekUChar);
    const ekTiffCompression c = compressionFromName(compression);
    return make(
        makeImage<ekTiffImg>(path.c_str(), ekSize(nx, ny, nz, nc), type, o, tile[0], tile[1], c),
        "TiffImage.create");
}

}  // namespace

void bindTiffImage(py::module_& m) {
    using namespace pybind11::literals;
    py::class_<PyTiffImage, PyImage>(
        m, "TiffImage",
        "A TIFF file as an image: TiffImage(path) opens it for reading; TiffImage.create() "
        "makes a new tiled file that accepts writes. The attributes come from the file (its "
        "orientation is the coordinate space).")
        .def(py::init([](const std::string& path) {
                 return make(makeImage<ekTiffImg>(path.c_str()), "TiffImage");
             }),
             "path"_a)
        .def_static("create", &create, "path"_a, "shape"_a, "dtype"_a = py::none(), py::kw_only(),
                    "order"_a = "interleaved", "tile"_a = std::vector<int>{256, 256},
                    "compression"_a = "none",
                    "Creates `path` (replacing it): shape (y, x) or (y, x, c), (c, y, x) in "
                    "separate order; tiles (width, height), multiples of 16; compression "
                    "\"none\", \"lzw\" or \"deflate\".")
        .def(
            "flush",
            [](PyTiffImage& self) {
                ekTiffImg* image = self.tiff();
                check(withoutGil([&] { return image->flush(); }), "flush");
            },
            "Writes every changed tile: the file on disk is then complete.")
        .def_property_readonly(
            "message",
            [](PyTiffImage& self) {
                LibraryLock lock;
                return std::string(self.tiff()->getMessage());
            },
            "The last failure or libtiff warning; \"\" when there is none.");
}

}  // namespace ekpy
