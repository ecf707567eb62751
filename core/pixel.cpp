// SPDX-License-Identifier: Apache-2.0
// ekPixel: one multi-channel value that owns its elements and reads and
// writes them as doubles, converting with the library's one element rule.
#include <cstdint>
#include <cstring>
#include <new>

#include "core/element_convert.h"
#include "core/type_facts.h"
#include "eks/core.h"

namespace {

template <class T>
double load(const unsigned char* elems, int i) {
    T v;
    std::memcpy(&v, elems + size_t(i) * sizeof(T), sizeof(T));
    return double(v);
}

template <class T>
void store(unsigned char* elems, int i, T v) {
    std::memcpy(elems + size_t(i) * sizeof(T), &v, sizeof(T));
}

// Element i of a packed bit pixel is bit 7-(i&7) of byte i>>3.
unsigned char bitMask(int i) { return static_cast<unsigned char>(0x80u >> (i & 7)); }

double readElem(ekType type, const unsigned char* elems, int i) {
    switch (type) {
        case ekBit:
            return (elems[i >> 3] & bitMask(i)) ? 1.0 : 0.0;
        case ekUChar:
            return load<uint8_t>(elems, i);
        case ekChar:
            return load<int8_t>(elems, i);
        case ekUShort:
            return load<uint16_t>(elems, i);
        case ekShort:
            return load<int16_t>(elems, i);
        case ekULong:
            return load<uint32_t>(elems, i);
        case ekLong:
            return load<int32_t>(elems, i);
        case ekFloat:
            return load<float>(elems, i);
        case ekDouble:
            return load<double>(elems, i);
        default:
            return 0.0;
    }
}

void writeElem(ekType type, unsigned char* elems, int i, double v) {
    switch (type) {
        case ekBit:
            // Unlike the transfer loops (low 8 bits), a pixel tests the low 32 bits.
            if (ekDoubleToInt<uint32_t>(v) != 0)
                elems[i >> 3] |= bitMask(i);
            else
                elems[i >> 3] &= static_cast<unsigned char>(~bitMask(i));
            break;
        case ekUChar:
            store(elems, i, ekDoubleToInt<uint8_t>(v));
            break;
        case ekChar:
            store(elems, i, ekDoubleToInt<int8_t>(v));
            break;
        case ekUShort:
            store(elems, i, ekDoubleToInt<uint16_t>(v));
            break;
        case ekShort:
            store(elems, i, ekDoubleToInt<int16_t>(v));
            break;
        case ekULong:
            store(elems, i, ekDoubleToInt<uint32_t>(v));
            break;
        case ekLong:
            store(elems, i, ekDoubleToInt<int32_t>(v));
            break;
        case ekFloat:
            store(elems, i, ekDoubleToFloat(v));
            break;
        case ekDouble:
            store(elems, i, v);
            break;
        default:
            break;  // not an element type: nothing to store
    }
}

bool isElementType(ekType type) { return ekDataSize64(type, 1) != 0; }

// Zero-filled storage, or null when the allocation fails.
unsigned char* allocate(int32_t bytes) { return new (std::nothrow) unsigned char[bytes](); }

}  // namespace

ekPixel::ekPixel(ekType type, int nc, const void* data)
    : type_(ekAnyType), nc_(0), elems_(nullptr) {
    set(type, nc, data);
}

ekPixel::ekPixel(const ekPixel& p) : type_(ekAnyType), nc_(0), elems_(nullptr) {
    set(p.type_, p.nc_, p.elems_);
}

ekPixel& ekPixel::operator=(const ekPixel& p) {
    if (this != &p) set(p.type_, p.nc_, p.elems_);
    return *this;
}

ekPixel::~ekPixel() { delete[] elems_; }

void ekPixel::set(ekType type, int nc, const void* data) {
    // Untyped, no elements, no element type, or a size too large to allocate:
    // the pixel ends up empty.
    const int32_t needed = (type == ekAnyType || nc <= 0) ? 0 : ekAllocSize(type, nc);
    if (needed <= 0) {
        delete[] elems_;
        elems_ = nullptr;
        type_ = type;
        nc_ = 0;
        return;
    }
    const int64_t held = elems_ ? ekDataSize64(type_, nc_) : 0;
    if (needed <= held) {
        if (data) std::memmove(elems_, data, size_t(needed));  // data may be our own storage
    } else {
        unsigned char* fresh = allocate(needed);
        // Copy before releasing: data may point into the old storage.
        if (fresh && data) std::memcpy(fresh, data, size_t(needed));
        delete[] elems_;
        elems_ = fresh;
        if (!fresh) nc = 0;
    }
    type_ = type;
    nc_ = nc;
}

void ekPixel::convert(const ekPixel& src, ekType type, int nc, const int* map) {
    if (&src == this) {
        const ekPixel copy(src);  // the elements are overwritten while being read
        convert(copy, type, nc, map);
        return;
    }
    const int count = nc ? nc : src.nc_;
    if (type == ekAnyType || count <= 0 || !isElementType(type)) {
        set(type, 0, nullptr);
        return;
    }
    const int32_t needed = ekAllocSize(type, count);
    const int64_t held = elems_ ? ekDataSize64(type_, nc_) : 0;
    if (needed < 0 || needed > held) {
        delete[] elems_;
        elems_ = needed < 0 ? nullptr : allocate(needed);
    }
    type_ = type;
    nc_ = elems_ ? count : 0;
    for (int i = 0; i < nc_; ++i) writeElem(type_, elems_, i, src.getElem(map ? map[i] : i));
}

double ekPixel::getElem(int i) const {
    if (nc_ <= 0) return 0.0;
    if (i >= nc_) i = nc_ - 1;  // reading past the end repeats the last element
    if (i < 0) i = 0;
    return readElem(type_, elems_, i);
}

void ekPixel::setElem(double v, int i) {
    if (i < 0) return;
    if (i >= nc_) {
        const ekType type = type_ == ekAnyType ? ekDouble : type_;
        if (!isElementType(type)) return;
        // i + 1 elements must fit the count: INT32_MAX cannot be reached.
        const int32_t needed = i == INT32_MAX ? -1 : ekAllocSize(type, int64_t(i) + 1);
        unsigned char* fresh = needed < 0 ? nullptr : allocate(needed);
        if (fresh && elems_) std::memcpy(fresh, elems_, size_t(ekDataSize64(type_, nc_)));
        delete[] elems_;
        elems_ = fresh;
        type_ = type;
        nc_ = fresh ? i + 1 : 0;  // a failed allocation leaves the pixel empty
        if (!fresh) return;
    }
    writeElem(type_, elems_, i, v);
}

double ekPixel::minElem() const {
    double a = getElem(0);
    for (int i = 1; i < nc_; ++i) {
        const double b = getElem(i);
        if (a >= b) a = b;
    }
    return a;
}

double ekPixel::maxElem() const {
    double a = getElem(0);
    for (int i = 1; i < nc_; ++i) {
        const double b = getElem(i);
        if (a <= b) a = b;
    }
    return a;
}

int ekPixel::operator==(const ekPixel& p) const {
    if (type_ != p.type_ || nc_ != p.nc_) return 0;
    if (nc_ <= 0) return 1;
    return std::memcmp(elems_, p.elems_, size_t(ekDataSize64(type_, nc_))) == 0;
}

int ekPixel::operator!=(const ekPixel& p) const { return !(*this == p); }
