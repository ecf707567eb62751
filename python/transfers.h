// SPDX-License-Identifier: Apache-2.0
// Moving pixels between an image and the buffer of a numpy array: each call
// lets the GIL go and holds the lock of the image's graph while it runs.
#ifndef EKS_PYTHON_TRANSFERS_H
#define EKS_PYTHON_TRANSFERS_H

#include <pybind11/numpy.h>

#include "image_object.h"
#include "layout.h"

namespace ekpy {

// Reads (or writes) the layout's box in one call; `data` is its buffer.
ekStatus transfer(PyImage& self, Layout& layout, void* data, bool write);
// Reads the layout's box into a new array's buffer, in bands of rows.
ekStatus readInBands(PyImage& self, Layout& layout, void* data);
// Writes the layout's box; a view takes only the part inside its window.
ekStatus writeBox(PyImage& self, Layout& layout, void* data);
// The same with the graph's lock held exclusively and the GIL released:
// `box` is the part of the layout's box to write, `data` the buffer of the
// layout's box.
ekStatus writeLocked(PyImage& self, const Layout& layout, const Box& box, void* data);
// Maps the bytes of a bool array read from an image to 0 and 1.
void normaliseBools(py::array& out);

}  // namespace ekpy

#endif  // EKS_PYTHON_TRANSFERS_H
