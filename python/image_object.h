// SPDX-License-Identifier: Apache-2.0
// The Python side of an image: the library image it owns, what must outlive
// it, and the lock that keeps the library to one thread at a time.
#ifndef EKS_PYTHON_IMAGE_OBJECT_H
#define EKS_PYTHON_IMAGE_OBJECT_H

#include <pybind11/pybind11.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "eks/eks.h"
#include "errors.h"

namespace ekpy {
namespace py = pybind11;

// The library serves one thread at a time (getters reset images, the graph is
// process-wide), so every call into it holds this lock.
std::mutex& libraryMutex();

class LibraryLock {
public:
    LibraryLock() : lock_(libraryMutex()) {}

private:
    std::lock_guard<std::mutex> lock_;
};

// Runs f without the GIL (other Python threads go on meanwhile) and with the
// library lock. The lock is released before the GIL is taken back, so a
// thread waiting for the lock while holding the GIL cannot deadlock with us.
template <class F>
auto withoutGil(F&& f) {
    py::gil_scoped_release nogil;
    LibraryLock lock;
    return std::forward<F>(f)();
}

// Images are made and destroyed under the library lock too (both touch the
// process-wide graph). The deleter takes the lock: never let an ImagePtr go
// while holding it.
struct LockedDelete {
    void operator()(ekImage* image) const {
        LibraryLock lock;
        delete image;
    }
};
template <class T = ekImage>
using ImagePtr = std::unique_ptr<T, LockedDelete>;

template <class T, class... Args>
ImagePtr<T> makeImage(Args&&... args) {
    LibraryLock lock;
    return ImagePtr<T>(new T(std::forward<Args>(args)...));
}

// Base of the module's image classes. `keep` holds what the image's pixels or
// its parent belong to (a numpy array, the parent's Python object) and is
// released after the image is destroyed.
class PyImage {
public:
    PyImage(ImagePtr<> image, py::object keep, int rank)
        : keep_(std::move(keep)), image_(std::move(image)), rank_(rank) {}
    PyImage(const PyImage&) = delete;
    PyImage& operator=(const PyImage&) = delete;
    virtual ~PyImage() { image_.reset(); }  // before keep_ lets go of the parent

    ekImage* image() const { return image_.get(); }
    // Rank of the arrays that hold the whole image (2: (y, x), 3: (y, x, c),
    // 4: (z, y, x, c)); reads return at least this rank.
    int rank() const { return rank_; }
    // Size, data type and order of a memory image stay as they were made: its
    // pixels may be shared with numpy arrays that must stay valid.
    virtual bool fixedLayout() const { return false; }
    // Whether the image refuses writes, so that arrays showing its pixels must
    // be read-only too. The library lock is held.
    virtual bool readOnly() const { return false; }
    // The image a view shows (eks.SubImage); null for every other image.
    virtual const PyImage* viewParent() const { return nullptr; }
    // Why an operation failed with `status`, beyond the status's meaning (a
    // TIFF file's libtiff message); "" when the image has nothing to add. The
    // library lock is held.
    virtual std::string failureReason(ekStatus) const { return {}; }

    // Locked tiles (eks.LockedTile) alive over this image. A tile counts
    // itself in while it locks, under the library lock, so that an operation
    // that releases the pages (a TIFF close) sees it under that lock too.
    std::atomic<int> lockedTiles{0};

private:
    py::object keep_;
    ImagePtr<> image_;
    int rank_;
};

// Raises the exception of a failed operation on `image`, its reason included.
// checkLocked is for callers that hold the library lock; checkImage takes it,
// and only when the status is a failure.
inline void checkLocked(const PyImage& image, ekStatus status, const char* operation) {
    if (status != ekOkay) check(status, operation, image.failureReason(status));
}
inline void checkImage(const PyImage& image, ekStatus status, const char* operation) {
    if (status == ekOkay) return;
    std::string reason;
    {
        LibraryLock lock;
        reason = image.failureReason(status);
    }
    check(status, operation, reason);
}

// The part of `box` (in `space` of `image`; 0: its own) that a write to the
// image may change: for a view (eks.SubImage) the part inside its window and
// inside the windows of the views it shows, in the same space; any other image
// drops what lies outside by itself and gets the box back. An empty result has
// an extent below 1. The library lock is held.
ekTile writableBox(const PyImage& image, ekCoordSpace space, const ekTile& box);

}  // namespace ekpy

#endif  // EKS_PYTHON_IMAGE_OBJECT_H
