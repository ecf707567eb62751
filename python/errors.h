// SPDX-License-Identifier: Apache-2.0
// Statuses as Python exceptions: eks.Error and one subclass per status.
#ifndef EKS_PYTHON_ERRORS_H
#define EKS_PYTHON_ERRORS_H

#include <pybind11/pybind11.h>

#include <stdexcept>
#include <string>

#include "eks/core.h"

namespace ekpy {
namespace py = pybind11;

// Thrown by the binding code; becomes the exception class of its status.
class StatusError : public std::runtime_error {
public:
    StatusError(ekStatus status, const std::string& message)
        : std::runtime_error(message), status_(status) {}
    ekStatus status() const { return status_; }

private:
    ekStatus status_;
};

// Raises the status's exception, "<operation>: <status name> (<meaning>)",
// followed by ": <reason>" when a reason is given, unless the status is ekOkay.
void check(ekStatus status, const char* operation, const std::string& reason = {});
// Raises the status's exception with a message of the module's own.
[[noreturn]] void fail(ekStatus status, const std::string& message);

// Sets the Python exception that `error` stands for (the error indicator), for
// code that must report an error without raising it.
void setPythonError(const StatusError& error);

// Creates eks.Error and its subclasses in the module and translates
// StatusError into them.
void bindErrors(py::module_& m);

}  // namespace ekpy

#endif  // EKS_PYTHON_ERRORS_H
