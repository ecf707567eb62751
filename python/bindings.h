// SPDX-License-Identifier: Apache-2.0
// The parts of the module, each adding its classes to it.
#ifndef EKS_PYTHON_BINDINGS_H
#define EKS_PYTHON_BINDINGS_H

#include <pybind11/pybind11.h>

namespace ekpy {
namespace py = pybind11;

void bindImage(py::module_& m);        // eks.Image, eks.Size (image_methods.cpp)
void bindArrayProtocol(py::module_& m);  // Image.__getitem__, chunks, ... (indexing.cpp)
void bindPickling(py::module_& m);     // eks._rebuild (pickling.cpp)
void bindMemoryImage(py::module_& m);  // eks.MemoryImage (memory_image.cpp)
void bindOtherImages(py::module_& m);  // eks.ConstantImage, eks.SubImage (other_images.cpp)
void bindLocking(py::module_& m);      // Image.lock, eks.LockedTile, eks.Page (locking.cpp)
void bindTiffImage(py::module_& m);    // eks.TiffImage, with eks_tiff only (tiff_image.cpp)
void bindBenchHooks(py::module_& m);   // eks._cpp_tile_reads (bench_hooks.cpp)

}  // namespace ekpy

#endif  // EKS_PYTHON_BINDINGS_H
