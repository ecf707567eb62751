// SPDX-License-Identifier: Apache-2.0
#include "errors.h"

#include <Python.h>

namespace ekpy {
namespace {

// One exception class per status; `builtin` is a second base, so that code
// that catches Python's own exception of that kind catches it too.
struct StatusClass {
    ekStatus status;
    const char* name;       // the enumerator
    const char* className;  // eks.<className>
    const char* meaning;
    PyObject* builtin;
};

const StatusClass* statusClasses() {
    static const StatusClass classes[] = {
        {ekBadAttribute, "ekBadAttribute", "BadAttributeError",
         "the image's attributes are incomplete or invalid", nullptr},
        {ekNoMemory, "ekNoMemory", "NoMemoryError",
         "no pixel buffer, or a channel list that cannot be inverted", PyExc_MemoryError},
        {ekBadInput, "ekBadInput", "BadInputError", "an input is missing or failed", nullptr},
        {ekBadColorModel, "ekBadColorModel", "BadColorModelError",
         "the colour model does not fit the channel count", nullptr},
        {ekNotImplemented, "ekNotImplemented", "NotImplementedError",
         "this kind of image does not provide the operation", PyExc_NotImplementedError},
        {ekOutOfBounds, "ekOutOfBounds", "OutOfBoundsError", "the box lies outside the image",
         nullptr},
        {ekBadIndex, "ekBadIndex", "BadIndexError", "an index is out of range", PyExc_IndexError},
        {ekNotAllowed, "ekNotAllowed", "NotAllowedError",
         "the attribute cannot be changed or the operation is not supported here", nullptr},
        {ekOkay, nullptr, nullptr, nullptr, nullptr},
    };
    return classes;
}

// The Python classes, created once by bindErrors; they live as long as the
// interpreter (the module keeps a reference too).
PyObject* baseClass = nullptr;
PyObject* classOf[64] = {};

const StatusClass* find(ekStatus status) {
    for (const StatusClass* c = statusClasses(); c->name != nullptr; ++c)
        if (c->status == status) return c;
    return nullptr;
}

void raise(ekStatus status, const std::string& message) {
    const StatusClass* c = find(status);
    PyObject* cls = c != nullptr && unsigned(status) < 64 ? classOf[status] : baseClass;
    py::object error = py::reinterpret_borrow<py::object>(cls)(message);
    error.attr("status") = int(status);
    error.attr("name") = c != nullptr ? c->name : "status " + std::to_string(int(status));
    PyErr_SetObject(cls, error.ptr());
}

}  // namespace

void fail(ekStatus status, const std::string& message) { throw StatusError(status, message); }

void setPythonError(const StatusError& error) { raise(error.status(), error.what()); }

void check(ekStatus status, const char* operation, const std::string& reason) {
    if (status == ekOkay) return;
    const StatusClass* c = find(status);
    std::string name = c != nullptr ? c->name : "status " + std::to_string(int(status));
    std::string meaning = c != nullptr ? c->meaning : "unknown status";
    fail(status, std::string(operation) + ": " + name + " (" + meaning + ")" +
                     (reason.empty() ? "" : ": " + reason));
}

void bindErrors(py::module_& m) {
    baseClass = PyErr_NewExceptionWithDoc(
        "eks.Error",
        "A status other than okay from the library. `status` is its number and `name` "
        "its enumerator (\"ekNotAllowed\", ...).",
        PyExc_Exception, nullptr);
    m.attr("Error") = py::handle(baseClass);
    for (const StatusClass* c = statusClasses(); c->name != nullptr; ++c) {
        py::tuple bases = c->builtin != nullptr
                              ? py::make_tuple(py::handle(baseClass), py::handle(c->builtin))
                              : py::make_tuple(py::handle(baseClass));
        std::string qualified = std::string("eks.") + c->className;
        const std::string doc = std::string("The status ") + c->name + ": " + c->meaning + ".";
        PyObject* cls =
            PyErr_NewExceptionWithDoc(qualified.c_str(), doc.c_str(), bases.ptr(), nullptr);
        if (cls == nullptr) throw py::error_already_set();
        classOf[c->status] = cls;
        m.attr(c->className) = py::handle(cls);
    }
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const StatusError& e) {
            setPythonError(e);
        }
    });
}

}  // namespace ekpy
