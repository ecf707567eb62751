// SPDX-License-Identifier: Apache-2.0
// eks.TiffImage's object: the library's ekTiffImg, the path it was opened
// with, and what names its content. Built only with eks_tiff.
#ifndef EKS_PYTHON_TIFF_OBJECT_H
#define EKS_PYTHON_TIFF_OBJECT_H

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "eks/tiff.h"
#include "image_object.h"

namespace ekpy {
namespace py = pybind11;

class PyTiffImage : public PyImage {
public:
    PyTiffImage(ImagePtr<> image, std::string path, int rank, const ekTiffOpenOptions& opened)
        : PyImage(std::move(image), py::none(), rank), path_(std::move(path)), opened_(opened) {}
    ~PyTiffImage() override;
    ekTiffImg* tiff() const { return static_cast<ekTiffImg*>(image()); }
    bool readOnly() const override { return tiff()->isWritable() == 0; }
    // A file opened for reading serves many threads at once; a created one
    // serves one at a time.
    bool concurrentReads() const override { return readOnly(); }
    bool pageBlock(int& width, int& height) const override {
        int depth, channels;
        image()->getPageSize(width, height, depth, channels);
        return true;
    }
    // A closed file says so; a refusal (ekNotAllowed) has nothing to add, any
    // other failure carries libtiff's reason.
    std::string failureReason(ekStatus status) const override {
        if (tiff()->isClosed() != 0) return "the file is closed";
        return status == ekNotAllowed ? std::string() : std::string(tiff()->getMessage());
    }

    const std::string& path() const { return path_; }
    // How a file opened for reading was opened: its level, palette indices.
    const ekTiffOpenOptions& opened() const { return opened_; }
    // Takes down what names the file's content for pickles and dask tokens
    // (see stamp()); called once the image is made.
    void takeStamp();
    // The absolute path (str) of the file, which pickles reopen.
    const py::object& absolutePath() const { return absolute_; }
    // For a file opened for reading, (absolute path, size, modification time)
    // as the file was when opened; for a created file, whose content changes,
    // ("created", a random token of its own).
    const py::object& stamp() const { return stamp_; }

private:
    std::string path_;  // as the file system takes it
    ekTiffOpenOptions opened_;
    py::object absolute_, stamp_;
};

using TiffClass = py::class_<PyTiffImage, PyImage>;

// The Python object of a new image, once its status is checked (a failure
// raises with the image's message, which tells why the file was refused).
std::unique_ptr<PyTiffImage> makeTiff(ImagePtr<ekTiffImg> image, std::string path,
                                      const ekTiffOpenOptions& opened, const char* operation);
// A path as the bytes the file system takes, from what open() accepts: str,
// bytes or os.PathLike; ValueError for an embedded NUL.
std::string fsPath(const py::object& path, const char* who);

// Raw tags between numpy and the library (tiff_tags.cpp). TagList owns the
// values of the tags it lists.
struct TagList {
    std::vector<ekTiffTag> tags;
    std::vector<std::vector<unsigned char>> values;
};
// {tag number: value} -> tags; TypeError or ValueError naming the tag.
TagList parseTags(const py::handle& tags);

// Creation: options, tags, overviews (tiff_create.cpp).
void bindTiffCreation(TiffClass& cls);
// Raw tags, nodata and the count of overviews (tiff_tags.cpp).
void bindTiffTags(TiffClass& cls);
// Cache, threads, pickling and dask tokens (tiff_sharing.cpp).
void bindTiffSharing(py::module_& m, TiffClass& cls);

}  // namespace ekpy

#endif  // EKS_PYTHON_TIFF_OBJECT_H
