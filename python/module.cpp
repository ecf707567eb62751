// SPDX-License-Identifier: Apache-2.0
// The Python module `eks`: the library's images over numpy arrays.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <stdexcept>
#include <string>

#include "bindings.h"
#include "errors.h"
#include "image_object.h"

namespace ekpy {
namespace {

// numpy, or an ImportError that says what is missing and where it comes from
// (pybind11 would only say that initialization failed).
void importNumpy() {
    try {
        py::module_::import("numpy");
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_ImportError)) throw;
        const std::string python = py::str(py::module_::import("sys").attr("executable"));
        throw std::runtime_error(
            "eks needs numpy, which this Python (" + python + ") cannot import: " +
            std::string(py::str(e.value())) +
            ". Install it (apt-get install python3-numpy, or pip install numpy), or run the "
            "Python the module was built for (" EKS_PYTHON_BUILT_FOR ").");
    }
}

}  // namespace
}  // namespace ekpy

PYBIND11_MODULE(eks, m) {
    m.doc() =
        "Images of the EKS library over numpy arrays: reads and writes that convert element "
        "type, channel order, channel selection and orientation in one pass, with the fill "
        "value outside the image.";
    m.attr("__version__") = ekVersion();
    ekpy::importNumpy();
    ekpy::bindErrors(m);
    ekpy::bindImage(m);
    ekpy::bindArrayProtocol(m);
    ekpy::bindPickling(m);
    ekpy::bindMemoryImage(m);
    ekpy::bindOtherImages(m);
    ekpy::bindLocking(m);
#if defined(EKS_PYTHON_TIFF)
    ekpy::bindTiffImage(m);
#endif
    ekpy::bindBenchHooks(m);
}
