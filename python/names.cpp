// SPDX-License-Identifier: Apache-2.0
#include "names.h"

#include <string>

namespace ekpy {
namespace {

struct Name {
    int value;
    const char* name;
};

constexpr Name kSpaces[] = {
    {ekUpperLeft, "upper_left"},   {ekUpperRight, "upper_right"}, {ekLowerRight, "lower_right"},
    {ekLowerLeft, "lower_left"},   {ekLeftUpper, "left_upper"},   {ekRightUpper, "right_upper"},
    {ekRightLower, "right_lower"}, {ekLeftLower, "left_lower"},
};
constexpr Name kOrders[] = {
    {ekInterleaved, "interleaved"}, {ekSequential, "sequential"}, {ekSeparate, "separate"}};
constexpr Name kColorModels[] = {
    {ekMinWhite, "min_white"},
    {ekGreyscale, "greyscale"},
    {ekRGB, "rgb"},
    {ekColorIndex, "color_index"},
    {ekRGBA, "rgba"},
    {ekHSV, "hsv"},
    {ekCMY, "cmy"},
    {ekCMYK, "cmyk"},
    {ekBGR, "bgr"},
    {ekABGR, "abgr"},
    {ekMultiSpectral, "multi_spectral"},
    {ekYCC, "ycc"},
};

template <size_t N>
int valueOf(const Name (&table)[N], const std::string& name, const char* what) {
    for (const Name& n : table)
        if (name == n.name) return n.value;
    std::string accepted;
    for (const Name& n : table) accepted += std::string(accepted.empty() ? "" : ", ") + n.name;
    throw py::value_error("unknown " + std::string(what) + " '" + name + "'; expected one of " +
                          accepted);
}

template <size_t N>
int valueOf(const Name (&table)[N], const py::handle& name, const char* what) {
    if (!PyUnicode_Check(name.ptr()))
        throw py::type_error(std::string(what) + " must be a str, got " +
                             std::string(py::str(py::type::of(name))));
    for (const Name& n : table)
        if (PyUnicode_CompareWithASCIIString(name.ptr(), n.name) == 0) return n.value;
    return valueOf(table, name.cast<std::string>(), what);  // raises, listing the names
}

template <size_t N>
const char* nameOf(const Name (&table)[N], int value) {
    for (const Name& n : table)
        if (n.value == value) return n.name;
    return "unknown";
}

}  // namespace

ekCoordSpace spaceFromName(const std::string& name) {
    return ekCoordSpace(valueOf(kSpaces, name, "coordinate space"));
}
ekOrder orderFromName(const std::string& name) {
    return ekOrder(valueOf(kOrders, name, "channel order"));
}
ekColorModel colorModelFromName(const std::string& name) {
    return ekColorModel(valueOf(kColorModels, name, "colour model"));
}
ekCoordSpace spaceFromName(const py::handle& name) {
    return ekCoordSpace(valueOf(kSpaces, name, "coordinate space"));
}
ekOrder orderFromName(const py::handle& name) {
    return ekOrder(valueOf(kOrders, name, "channel order"));
}
const char* spaceName(int space) { return nameOf(kSpaces, space); }
const char* orderName(int order) { return nameOf(kOrders, order); }
const char* colorModelName(int model) { return nameOf(kColorModels, model); }

ekType typeFromDtype(const py::dtype& dtype) {
    const char kind = dtype.kind();
    const auto bytes = dtype.itemsize();
    ekType type = ekType(0);
    if (dtype.byteorder() != '>') {
        if (kind == 'b' && bytes == 1) type = ekBit;
        if (kind == 'u')
            type = bytes == 1 ? ekUChar : bytes == 2 ? ekUShort : bytes == 4 ? ekULong : type;
        if (kind == 'i')
            type = bytes == 1 ? ekChar : bytes == 2 ? ekShort : bytes == 4 ? ekLong : type;
        if (kind == 'f') type = bytes == 4 ? ekFloat : bytes == 8 ? ekDouble : type;
    }
    if (type == 0)
        throw py::type_error("unsupported dtype " + std::string(py::str(py::handle(dtype))) +
                             "; expected bool, uint8, int8, uint16, int16, uint32, int32, "
                             "float32 or float64 in native byte order");
    return type;
}

ekType typeFromObject(const py::handle& dtype, ekType fallback) {
    if (dtype.is_none()) return fallback;
    return typeFromDtype(py::dtype::from_args(py::reinterpret_borrow<py::object>(dtype)));
}

py::dtype dtypeOfType(ekType type) {
    switch (type) {
        case ekBit:
            return py::dtype::of<bool>();
        case ekUChar:
            return py::dtype::of<uint8_t>();
        case ekChar:
            return py::dtype::of<int8_t>();
        case ekUShort:
            return py::dtype::of<uint16_t>();
        case ekShort:
            return py::dtype::of<int16_t>();
        case ekULong:
            return py::dtype::of<uint32_t>();
        case ekLong:
            return py::dtype::of<int32_t>();
        case ekFloat:
            return py::dtype::of<float>();
        case ekDouble:
            return py::dtype::of<double>();
        default:
            break;
    }
    throw py::type_error(std::string("the image has no numpy dtype (data type ") +
                         ekTypeName(type) + ")");
}

int arrayElementBytes(ekType type) { return type == ekBit ? 1 : ekDataSize(type, 1); }

}  // namespace ekpy
