// SPDX-License-Identifier: Apache-2.0
// Names of the library's enumerations as the Python module spells them (the
// enumerator in snake case without its prefix: "upper_left", "separate",
// "rgba") and the numpy dtypes of the nine element types.
#ifndef EKS_PYTHON_NAMES_H
#define EKS_PYTHON_NAMES_H

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "eks/core.h"

namespace ekpy {
namespace py = pybind11;

// Name -> value; ValueError listing the accepted names for anything else.
ekCoordSpace spaceFromName(const std::string& name);
ekOrder orderFromName(const std::string& name);
ekColorModel colorModelFromName(const std::string& name);
// The same for a Python str, without making a C++ string of it (reads are
// sensitive to per-call costs); TypeError for anything but a str.
ekCoordSpace spaceFromName(const py::handle& name);
ekOrder orderFromName(const py::handle& name);
// Value -> name; "unknown" for a value outside the enumeration.
const char* spaceName(int space);
const char* orderName(int order);
const char* colorModelName(int model);

// The element type of a dtype: bool (ekBit), uint8/int8, uint16/int16,
// uint32/int32, float32, float64, in native byte order. TypeError otherwise.
ekType typeFromDtype(const py::dtype& dtype);
// Anything numpy.dtype() accepts, or None for `fallback`.
ekType typeFromObject(const py::handle& dtype, ekType fallback);
// The dtype of arrays of the type; ekBit is bool, one byte per element.
py::dtype dtypeOfType(ekType type);
// Bytes of one element in a numpy array of the type (ekBit: 1).
int arrayElementBytes(ekType type);
// The type in which the library reads and writes a numpy array that holds
// elements of `type`: bool arrays pass as bytes of 0 and 1.
inline ekType transferType(ekType type) { return type == ekBit ? ekUChar : type; }

}  // namespace ekpy

#endif  // EKS_PYTHON_NAMES_H
