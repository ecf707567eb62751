// SPDX-License-Identifier: Apache-2.0
// Pickling and dask tokens. Every image pickles as a call of
// eks._rebuild(cls, kwargs, state): its class called with `kwargs`, then the
// attributes in `state` set where they differ from the new image's. Each
// class adds __reduce__ and __dask_tokenize__ with what makes it itself.
#ifndef EKS_PYTHON_PICKLING_H
#define EKS_PYTHON_PICKLING_H

#include <pybind11/pybind11.h>

namespace ekpy {
namespace py = pybind11;

// The fill value as a plain tuple (image.fill also carries a method).
py::tuple fillTuple(const py::object& image);
// The attributes every image is read with and may have changed: the fill,
// the coordinate space and the colour model.
py::dict commonState(const py::object& image);
// What __reduce__ returns.
py::tuple reduceTo(const py::object& image, const py::dict& kwargs, const py::dict& state);
// The part of a dask token that every image shares: its class and the
// attributes of commonState.
py::tuple commonToken(const py::object& image);

void bindPickling(py::module_& m);  // eks._rebuild

}  // namespace ekpy

#endif  // EKS_PYTHON_PICKLING_H
