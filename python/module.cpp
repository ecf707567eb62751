// SPDX-License-Identifier: Apache-2.0
// The Python module `eks`: the library's images over numpy arrays.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "bindings.h"
#include "errors.h"
#include "image_object.h"

PYBIND11_MODULE(eks, m) {
    m.doc() =
        "Images of the EKS library over numpy arrays: reads and writes that convert element "
        "type, channel order, channel selection and orientation in one pass, with the fill "
        "value outside the image.";
    pybind11::module_::import("numpy");
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
