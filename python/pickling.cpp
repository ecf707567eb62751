// SPDX-License-Identifier: Apache-2.0
#include "pickling.h"

#include <pybind11/eval.h>

#include <string>

#include "bindings.h"

namespace ekpy {
namespace {

// A Python function, so that pickles name it (eks._rebuild) rather than
// hold it. The attributes are set in this order: a fill is stored in the type
// and channels the image has once the others are set.
const char* kRebuildSource = R"(
def _rebuild(cls, kwargs, state):
    """Makes an image again from what its __reduce__ gave: cls(**kwargs), then
    the attributes of `state` that differ from the new image's."""
    if state.get("read_only"):  # a memory image over a read-only array
        kwargs["source"].flags.writeable = False
    image = cls(**kwargs)
    if "pixels" in state:  # pixels without an array view of their own (bits)
        image.write(state["pixels"])
    for name in ("coord_space", "color_model", "fill", "cache_bytes", "threads"):
        if name in state and getattr(image, name) != state[name]:
            setattr(image, name, state[name])
    return image
)";

}  // namespace

py::tuple fillTuple(const py::object& image) {
    // PySequence_Tuple, unlike py::tuple, makes a tuple of a tuple's subclass.
    PyObject* values = PySequence_Tuple(py::object(image.attr("fill")).ptr());
    if (values == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::tuple>(values);
}

py::dict commonState(const py::object& image) {
    py::dict state;
    state["coord_space"] = image.attr("coord_space");
    state["color_model"] = image.attr("color_model");
    // A plain tuple: the fill value object also carries its image's method.
    state["fill"] = fillTuple(image);
    return state;
}

py::tuple reduceTo(const py::object& image, const py::dict& kwargs, const py::dict& state) {
    py::object rebuilder = py::module_::import("eks").attr("_rebuild");
    return py::make_tuple(rebuilder, py::make_tuple(py::type::of(image), kwargs, state));
}

py::tuple commonToken(const py::object& image) {
    return py::make_tuple("eks." + std::string(py::str(py::type::of(image).attr("__qualname__"))),
                          image.attr("coord_space"), image.attr("color_model"), fillTuple(image));
}

void bindPickling(py::module_& m) {
    py::dict scope;
    scope["__builtins__"] = py::module_::import("builtins");
    scope["__name__"] = "eks";
    py::exec(kRebuildSource, scope);
    m.attr("_rebuild") = scope["_rebuild"];
}

}  // namespace ekpy
