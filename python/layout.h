// SPDX-License-Identifier: Apache-2.0
// The caller's side of a transfer between an image and a numpy array: the box,
// the element type, channel order, channel selection and coordinate space, and
// the array shape that goes with them.
#ifndef EKS_PYTHON_LAYOUT_H
#define EKS_PYTHON_LAYOUT_H

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "eks/eks.h"

namespace ekpy {
namespace py = pybind11;

using Extent = std::optional<int64_t>;

// A box in the caller's coordinate space.
struct Box {
    int32_t x, y, z, nx, ny, nz;
    bool empty() const { return nx < 1 || ny < 1 || nz < 1; }
};

// Everything about the caller's array except its data pointer.
struct Layout {
    Box box{};
    ekType type = ekAnyType;  // element type of the array (ekBit: bool)
    ekOrder order = ekInterleaved;
    ekCoordSpace space = ekCoordSpace(0);  // 0: the image's own
    int32_t nchans = 0;                    // channels in the array
    std::vector<int> channels;             // image channel of each array channel; empty: 0, 1, ...
    bool channelAxis = true;  // false: one channel chosen by an integer, no axis for it

    // The record the library reads; it points into `channels`.
    ekConfig config();
};

// Parses a space name (None: the image's own, 0).
ekCoordSpace parseSpace(const py::handle& space);
ekOrder parseOrder(const py::handle& order);
// Fills layout.channels / nchans / channelAxis from None (every image channel),
// an int or a sequence of ints (negative ones count from the end, as in
// numpy). IndexError for a channel the image does not have.
void parseChannels(const py::handle& channels, int imageChannels, Layout& layout);
// A shape: a sequence of extents, each 1 to 2^31 - 1. TypeError or ValueError
// naming `who` otherwise.
std::vector<py::ssize_t> parseShape(const py::handle& shape, const char* who);
// A number or a sequence of numbers (pixel values).
std::vector<double> parseNumbers(const py::handle& value);
// The box at (x, y, z) of the given extents; a missing extent reaches the
// image's far edge in the layout's space. ValueError for negative extents or a
// box beyond the 32-bit range.
Box makeBox(ekImage* image, ekCoordSpace space, int64_t x, int64_t y, int64_t z, Extent width,
            Extent height, Extent depth);

// An array shape of up to four axes.
struct Shape {
    py::ssize_t dims[4];
    int ndim = 0;
    void push(py::ssize_t d) { dims[ndim++] = d; }
    std::vector<py::ssize_t> vector() const { return {dims, dims + ndim}; }
};

// Shape of the array that holds the layout's box: interleaved (z, y, x, c),
// sequential (z, y, c, x), separate (c, z, y, x), with the z axis only for
// rank 4 and the channel axis only for rank 3 and up.
Shape arrayShape(const Layout& layout, int rank);
// A new C-contiguous array, its elements not initialised.
py::array newArray(ekType type, const Shape& shape);
// The rank of the array a read returns: at least the image's, 4 for a box of
// other than one slice, 3 for several channels.
int readRank(const Layout& layout, int imageRank);
// Box extents and channel count from an array's shape under the layout's
// order (the inverse of arrayShape). ValueError naming the expected shape.
void extentsFromArray(const py::array& array, ekOrder order, int& nx, int& ny, int& nz, int& nc);
void extentsFromShape(const py::ssize_t* shape, py::ssize_t ndim, ekOrder order, int& nx, int& ny,
                      int& nz, int& nc);

// Checks an array handed to the library: C-contiguous, aligned, writeable
// when the library writes into it, and not beyond the library's 32-bit sizes.
void checkArray(const py::array& array, bool writeable, const char* what);

}  // namespace ekpy

#endif  // EKS_PYTHON_LAYOUT_H
