// SPDX-License-Identifier: Apache-2.0
// Making a TIFF file: TiffImage.create with its layout, codec and tags, and
// the reduced-resolution levels written into it before it is closed.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <vector>

#include "errors.h"
#include "layout.h"
#include "names.h"
#include "tiff_object.h"

namespace ekpy {
namespace {

template <class T>
struct Named {
    const char* name;
    T value;
};

constexpr Named<ekTiffCompression> kCompressions[] = {
    {"none", ekTiffNone}, {"lzw", ekTiffLZW},          {"deflate", ekTiffDeflate},
    {"zstd", ekTiffZSTD}, {"jpeg", ekTiffJPEG},        {"webp", ekTiffWebP},
    {"lerc", ekTiffLERC}, {"packbits", ekTiffPackBits}};
constexpr Named<ekTiffPhotometric> kPhotometrics[] = {
    {"minisblack", ekTiffMinIsBlack}, {"rgb", ekTiffRGB}, {"rgba", ekTiffRGBA}};
constexpr Named<ekTiffResampling> kResamplings[] = {
    {"nearest", ekTiffNearest}, {"average", ekTiffAverage}, {"mode", ekTiffMode}};

template <class T, size_t N>
T fromName(const Named<T> (&table)[N], const std::string& name, const char* what) {
    std::string accepted;
    for (size_t k = 0; k < N; ++k) {
        if (name == table[k].name) return table[k].value;
        accepted += std::string(k == 0 ? "" : k + 1 == N ? " or " : ", ") + table[k].name;
    }
    throw py::value_error("unknown " + std::string(what) + " '" + name + "'; expected " + accepted);
}

// How the codec encodes: the settings the library checks against the data
// (a combination it cannot write raises BadAttributeError naming the codec or
// the predictor).
struct Coding {
    std::string compression;
    int level, predictor, quality;
    double maxError;
};

std::unique_ptr<PyTiffImage> create(const py::object& path, const py::object& shape,
                                    const py::object& dtype, const py::object& order,
                                    const std::vector<int>& tile, const Coding& coding,
                                    const std::optional<std::string>& photometric, bool cog,
                                    const py::object& tags) {
    std::string file = fsPath(path, "TiffImage.create");
    const ekOrder o = parseOrder(order);
    const std::vector<py::ssize_t> dims = parseShape(shape, "TiffImage.create");
    int nx, ny, nz, nc;
    extentsFromShape(dims.data(), py::ssize_t(dims.size()), o, nx, ny, nz, nc);
    if (tile.size() != 2) throw py::value_error("TiffImage.create: tile is (width, height)");
    ekTiffCreateOptions options;
    options.tileWidth = tile[0];
    options.tileHeight = tile[1];
    options.compression = fromName(kCompressions, coding.compression, "compression");
    options.level = coding.level;
    options.predictor = coding.predictor;
    options.quality = coding.quality;
    options.maxError = coding.maxError;
    options.cloudOptimized = cog;
    if (photometric) options.photometric = fromName(kPhotometrics, *photometric, "photometric");
    const TagList extra = parseTags(tags);
    options.tags = extra.tags.data();
    options.tagCount = int(extra.tags.size());
    const ekType type = typeFromObject(dtype, ekUChar);
    ImagePtr<ekTiffImg> image;
    {
        py::gil_scoped_release nogil;  // creating the file may take a while
        image = makeImage<ekTiffImg>(file.c_str(), ekSize(nx, ny, nz, nc), type, o, options);
    }
    return makeTiff(std::move(image), std::move(file), ekTiffOpenOptions(), "TiffImage.create");
}

void buildOverviews(PyTiffImage& self, const std::vector<int>& factors, const std::string& method) {
    const ekTiffResampling resampling = fromName(kResamplings, method, "resampling");
    ekTiffImg* image = self.tiff();
    checkImage(self,
               withoutGil(self, Use::Change,
                          [&] {
                              if (image->isClosed() != 0) return ekNotAllowed;
                              return image->buildOverviews(factors.data(), int(factors.size()),
                                                           resampling);
                          }),
               "build_overviews");
}

}  // namespace

void bindTiffCreation(TiffClass& cls) {
    using namespace pybind11::literals;
    cls.def_static(
           "create",
           [](const py::object& path, const py::object& shape, const py::object& dtype,
              const py::object& order, const std::vector<int>& tile, const std::string& compression,
              int level, int predictor, int quality, double maxError,
              const std::optional<std::string>& photometric, bool cog, const py::object& tags) {
               return create(path, shape, dtype, order, tile,
                             Coding{compression, level, predictor, quality, maxError}, photometric,
                             cog, tags);
           },
           "path"_a, "shape"_a, "dtype"_a = py::none(), py::kw_only(), "order"_a = "interleaved",
           "tile"_a = std::vector<int>{256, 256}, "compression"_a = "none", "level"_a = 0,
           "predictor"_a = 1, "quality"_a = 0, "max_error"_a = 0.0, "photometric"_a = py::none(),
           "cog"_a = false, "tags"_a = py::none(),
           "Creates `path` (replacing it): shape (y, x) or (y, x, c), (c, y, x) in separate "
           "order; tiles (width, height), multiples of 16. compression: \"none\", \"lzw\", "
           "\"deflate\", \"zstd\", \"jpeg\" (uint8 of 1 or 3 channels), \"webp\" (uint8 of 3 or "
           "4), \"lerc\" or \"packbits\"; level (deflate 1..9, zstd 1..22), predictor (2 "
           "horizontal, 3 floating point; with lzw, deflate, zstd), quality (jpeg, webp 1..100), "
           "max_error (lerc); 0 the codec's default. A combination that cannot be written "
           "raises BadAttributeError naming the codec or predictor. photometric "
           "\"minisblack\", \"rgb\" or \"rgba\" (a fourth channel as alpha); by default 3 or 4 "
           "channels of uint8 or uint16 are \"rgb\", a fourth channel being an unspecified "
           "extra sample, and everything else \"minisblack\". cog=True lays the file out "
           "cloud-optimized when it is closed. tags: {tag number: value} written as they are "
           "(GeoTIFF keys, nodata): a numpy array whose dtype gives the TIFF type, str or "
           "bytes for ASCII; another image's `tags` copy over.")
        .def("build_overviews", &buildOverviews, "factors"_a, "method"_a = "nearest",
             "Writes reduced-resolution levels of a created file, each factors[i] times "
             "smaller (2, 4, 8, ...), computed from the full resolution by \"nearest\" (the "
             "block's first pixel), \"average\" (rounded for integers) or \"mode\" (the most "
             "frequent value); before close(). Files opened for reading raise NotAllowedError.");
}

}  // namespace ekpy
