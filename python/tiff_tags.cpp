// SPDX-License-Identifier: Apache-2.0
// Raw TIFF tags between numpy and the library: the tags a file holds beside
// its pixels (GeoTIFF keys, nodata, metadata) as {tag number: value}, each
// value a numpy array whose dtype is the tag's type (str for ASCII), and the
// same form taken back when a file is created, so that tags copy over.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "errors.h"
#include "tiff_object.h"

namespace ekpy {
namespace {

constexpr uint16_t kAscii = 2;

// The TIFF field types and the numpy dtypes of their values, in type order:
// a dtype is written as the first type that has it (uint32 as LONG, not IFD).
// Rationals are pairs of 32-bit words, numerator first.
struct FieldType {
    uint16_t type;
    const char* dtype;  // numpy's name; "" for ASCII, which is a str
    int bytes;
};
const FieldType kFieldTypes[] = {
    {1, "u1", 1},       {2, "", 1},           {3, "u2", 2},  {4, "u4", 4},
    {5, "rational", 8}, {6, "i1", 1},         {7, "V1", 1},  {8, "i2", 2},
    {9, "i4", 4},       {10, "srational", 8}, {11, "f4", 4}, {12, "f8", 8},
    {13, "u4", 4},      {16, "u8", 8},        {17, "i8", 8}, {18, "u8", 8}};

py::dtype dtypeOf(const FieldType& t) {
    const std::string name = t.dtype;
    if (name == "rational" || name == "srational") {
        const char* word = name == "rational" ? "=u4" : "=i4";
        py::list fields;
        fields.append(py::make_tuple("numerator", word));
        fields.append(py::make_tuple("denominator", word));
        return py::dtype::from_args(fields);
    }
    return py::dtype(name);
}

const FieldType* fieldType(uint16_t type) {
    for (const FieldType& t : kFieldTypes)
        if (t.type == type) return &t;
    return nullptr;
}

// A tag as the image keeps it, copied out under the image's lock.
struct RawTag {
    uint16_t tag, type;
    std::string bytes;
};

py::object valueOf(const RawTag& raw) {
    if (raw.type == kAscii) {
        std::string text = raw.bytes;
        if (!text.empty() && text.back() == '\0') text.pop_back();
        return py::reinterpret_steal<py::object>(
            PyUnicode_DecodeUTF8(text.data(), py::ssize_t(text.size()), "surrogateescape"));
    }
    const FieldType* t = fieldType(raw.type);
    py::object numpy = py::module_::import("numpy");
    return numpy.attr("frombuffer")(py::bytes(raw.bytes), dtypeOf(*t)).attr("copy")();
}

py::dict tagsOf(PyTiffImage& self) {
    std::vector<RawTag> raw;
    {
        ImageLock lock(self, Use::Read);
        ekTiffImg* image = self.tiff();
        for (int i = 0, n = image->getTagCount(); i < n; ++i) {
            const ekTiffTag* t = image->getTag(i);
            const FieldType* type = t != nullptr ? fieldType(t->type) : nullptr;
            if (type == nullptr || t->data == nullptr) continue;
            raw.push_back({t->tag, t->type,
                           std::string(static_cast<const char*>(t->data),
                                       size_t(t->count) * size_t(type->bytes))});
        }
    }
    py::dict tags;
    for (const RawTag& r : raw) tags[py::int_(r.tag)] = valueOf(r);
    return tags;
}

// One tag's value as the library takes it: its type, count and bytes.
void parseValue(int tag, const py::handle& value, TagList& list) {
    const std::string where = "tags: tag " + std::to_string(tag);
    ekTiffTag t;
    t.tag = uint16_t(tag);
    std::string bytes;
    if (py::isinstance<py::str>(value) || py::isinstance<py::bytes>(value) ||
        PyByteArray_Check(value.ptr())) {
        py::object raw = py::isinstance<py::str>(value)
                             ? value.attr("encode")("utf-8", "surrogateescape")
                             : py::module_::import("builtins").attr("bytes")(value);
        bytes = raw.cast<std::string>();
        if (bytes.empty() || bytes.back() != '\0') bytes.push_back('\0');
        t.type = kAscii;
        t.count = uint32_t(bytes.size());
    } else {
        py::object numpy = py::module_::import("numpy");
        py::object array = numpy.attr("ascontiguousarray")(value);
        py::object dtype = array.attr("dtype").attr("newbyteorder")("=");
        array = array.attr("astype")(dtype, py::arg("copy") = false);
        for (const FieldType& f : kFieldTypes)
            if (f.type != kAscii && dtype.equal(dtypeOf(f))) {
                t.type = f.type;
                break;
            }
        if (t.type == 0)
            throw py::type_error(where + ": no TIFF type holds dtype " +
                                 std::string(py::str(dtype)) +
                                 "; use uint8/16/32/64, int8/16/32/64, float32/64, rational "
                                 "pairs, void bytes (undefined) or str (ASCII)");
        bytes = array.attr("tobytes")().cast<std::string>();
        t.count = uint32_t(bytes.size() / size_t(fieldType(t.type)->bytes));
    }
    if (bytes.empty() || bytes.size() > (size_t(1) << 30))
        throw py::value_error(where + ": a value of 1 to 2^30 bytes is needed");
    list.values.emplace_back(bytes.begin(), bytes.end());
    list.tags.push_back(t);
}

}  // namespace

TagList parseTags(const py::handle& tags) {
    TagList list;
    if (tags.is_none()) return list;
    for (const auto item : py::reinterpret_borrow<py::dict>(tags)) {
        const int tag = py::cast<int>(item.first);
        if (tag < 1 || tag > 65535)
            throw py::value_error("tags: tag number " + std::to_string(tag) + " is not 1..65535");
        parseValue(tag, item.second, list);
    }
    // The values are owned by the list; point the tags at them once all are in.
    for (size_t i = 0; i < list.tags.size(); ++i) list.tags[i].data = list.values[i].data();
    return list;
}

void bindTiffTags(TiffClass& cls) {
    cls.def_property_readonly(
           "tags", &tagsOf,
           "The file's tags that the image does not interpret itself (GeoTIFF keys, nodata, "
           "metadata, resolution, ...) as {tag number: value}: a numpy array whose dtype is the "
           "tag's type (uint16 for SHORT, uint32 LONG, float64 DOUBLE, pairs of numerator and "
           "denominator for RATIONAL, void bytes for UNDEFINED), str for ASCII. "
           "TiffImage.create(..., tags=image.tags) writes them again.")
        .def_property_readonly(
            "nodata",
            [](PyTiffImage& self) -> py::object {
                double value = 0;
                int has;
                {
                    ImageLock lock(self, Use::Read);
                    has = self.tiff()->getNodata(value);
                }
                return has != 0 ? py::object(py::float_(value)) : py::object(py::none());
            },
            "The file's nodata value (GDAL's tag) as a float, None when it has none; it is "
            "also the default fill, and what tiles a sparse file never stored read as.")
        .def_property_readonly(
            "overviews",
            [](PyTiffImage& self) {
                ImageLock lock(self, Use::Read);
                return self.tiff()->getOverviewCount();
            },
            "How many reduced-resolution levels the file holds: TiffImage(path, level=k) "
            "opens level k, 1 .. overviews.");
}

}  // namespace ekpy
