// SPDX-License-Identifier: Apache-2.0
// The Python side of an image: the library image it owns, what must outlive
// it, and the lock of its graph that every call into the library holds.
#ifndef EKS_PYTHON_IMAGE_OBJECT_H
#define EKS_PYTHON_IMAGE_OBJECT_H

#include <pybind11/pybind11.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

#include "eks/eks.h"
#include "errors.h"
#include "graph_lock.h"

namespace ekpy {
namespace py = pybind11;

// Images are made and destroyed under the lock of their graph (both touch
// the graph: a view enters its parent's list of children). The deleter holds
// the graph's lock object and takes it, blocking: never let an ImagePtr go
// while holding the lock of its graph.
struct GraphDelete {
    GraphLockPtr graph;
    void operator()(ekImage* image) const {
        std::unique_lock<std::shared_mutex> lock(graph->mutex);
        delete image;
    }
};
template <class T = ekImage>
using ImagePtr = std::unique_ptr<T, GraphDelete>;

// A new image in `graph` (the parent's for a view; a new graph by default).
template <class T, class... Args>
ImagePtr<T> makeImageIn(GraphLockPtr graph, Args&&... args) {
    std::unique_lock<std::shared_mutex> lock(graph->mutex);
    return ImagePtr<T>(new T(std::forward<Args>(args)...), GraphDelete{std::move(graph)});
}
template <class T, class... Args>
ImagePtr<T> makeImage(Args&&... args) {
    return makeImageIn<T>(std::make_shared<GraphLock>(), std::forward<Args>(args)...);
}

// The lock of a new image's graph, for setting it up before it is handed to
// a PyImage.
template <class T>
GraphLock& graphOf(const ImagePtr<T>& image) {
    return *image.get_deleter().graph;
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
    GraphLock& graph() const { return *image_.get_deleter().graph; }
    const GraphLockPtr& graphPtr() const { return image_.get_deleter().graph; }
    // Whether reads, page locks and queries of the image are safe from many
    // threads at once (they take the graph's lock shared).
    virtual bool concurrentReads() const { return false; }
    // Rank of the arrays that hold the whole image (2: (y, x), 3: (y, x, c),
    // 4: (z, y, x, c)); reads return at least this rank.
    int rank() const { return rank_; }
    // Size, data type and order of a memory image stay as they were made: its
    // pixels may be shared with numpy arrays that must stay valid.
    virtual bool fixedLayout() const { return false; }
    // Whether the image refuses writes, so that arrays showing its pixels must
    // be read-only too. The graph's lock is held.
    virtual bool readOnly() const { return false; }
    // The extents of the image's pages (a TIFF file's tiles or strips) when
    // they are the natural blocks to read it by; false for images read best
    // as a whole. The graph's lock is held.
    virtual bool pageBlock(int& /*width*/, int& /*height*/) const { return false; }
    // The image a view shows (eks.SubImage); null for every other image.
    virtual const PyImage* viewParent() const { return nullptr; }
    // Why an operation failed with `status`, beyond the status's meaning (a
    // TIFF file's libtiff message); "" when the image has nothing to add. The
    // graph's lock is held exclusively.
    virtual std::string failureReason(ekStatus) const { return {}; }

    // Locked tiles (eks.LockedTile) alive over this image. A tile counts
    // itself in while it locks, under the graph's lock, so that an operation
    // that releases the pages (a TIFF close, which takes the lock
    // exclusively) sees it under that lock too.
    std::atomic<int> lockedTiles{0};

private:
    py::object keep_;
    ImagePtr<> image_;
    int rank_;
};

// What a call does with an image: Read (reads, page locks, queries) takes
// the graph's lock shared where the image allows concurrent reads, Change
// (everything else) always exclusively.
enum class Use { Read, Change };

inline Access accessFor(const PyImage& image, Use use) {
    return use == Use::Read && image.concurrentReads() ? Access::Shared : Access::Exclusive;
}

// Holds the lock of the image's graph.
class ImageLock {
public:
    explicit ImageLock(const PyImage& image, Use use = Use::Change)
        : guard_(image.graph(), accessFor(image, use)) {}

private:
    GraphGuard guard_;
};

// Runs f without the GIL (other Python threads go on meanwhile) and with the
// lock of the image's graph. The lock is released before the GIL is taken
// back, so a thread waiting for the lock while holding the GIL cannot
// deadlock with us.
template <class F>
auto withoutGil(const PyImage& image, Use use, F&& f) {
    py::gil_scoped_release nogil;
    ImageLock lock(image, use);
    return std::forward<F>(f)();
}

// Raises the exception of a failed operation on `image`, its reason included.
// checkLocked is for callers that hold the graph's lock exclusively;
// checkImage takes it, and only when the status is a failure.
inline void checkLocked(const PyImage& image, ekStatus status, const char* operation) {
    if (status != ekOkay) check(status, operation, image.failureReason(status));
}
inline void checkImage(const PyImage& image, ekStatus status, const char* operation) {
    if (status == ekOkay) return;
    std::string reason;
    {
        ImageLock lock(image, Use::Change);
        reason = image.failureReason(status);
    }
    check(status, operation, reason);
}

// Raises ekNotAllowed for a write to a read-only image, with its reason.
inline void refuseReadOnly(const PyImage& image, const char* operation) {
    std::string reason;
    {
        ImageLock lock(image, Use::Change);
        reason = image.failureReason(ekNotAllowed);
    }
    check(ekNotAllowed, operation, reason.empty() ? "the image is read-only" : reason);
}

// Refuses a write to a read-only image whatever its box, also one wholly
// outside the image or empty, which would change nothing. The check shares
// the graph's lock with readers.
inline void refuseIfReadOnly(const PyImage& image, const char* operation) {
    bool readOnly;
    {
        ImageLock lock(image, Use::Read);
        readOnly = image.readOnly();
    }
    if (readOnly) refuseReadOnly(image, operation);
}

// The shape read() gives by default: (y, x), (y, x, c) or (z, y, x, c).
std::vector<py::ssize_t> defaultShape(PyImage& self);

// The part of `box` (in `space` of `image`; 0: its own) that a write to the
// image may change: for a view (eks.SubImage) the part inside its window and
// inside the windows of the views it shows, in the same space; any other image
// drops what lies outside by itself and gets the box back. An empty result has
// an extent below 1. The graph's lock is held.
ekTile writableBox(const PyImage& image, ekCoordSpace space, const ekTile& box);

}  // namespace ekpy

#endif  // EKS_PYTHON_IMAGE_OBJECT_H
