// SPDX-License-Identifier: Apache-2.0
// ekTiffDirectory: one image file directory as the writer lays it out: entries
// sorted by tag, values that do not fit an entry stored after the entries,
// little-endian (as the files this library writes declare), in the classic
// or the 64-bit form.
#ifndef EKS_TIFF_TIFF_DIRECTORY_H
#define EKS_TIFF_TIFF_DIRECTORY_H

#include <cstdint>
#include <vector>

#include "tiff/tiff_codec.h"

// Bytes an extent of `bytes` takes in a file: every extent starts on an even
// offset, as directories must.
inline uint64_t ekTiffSpan(uint64_t bytes) { return (bytes + 1) & ~uint64_t(1); }

class ekTiffDirectory {
public:
    // A number held by a tag; a type of this library, so that the vectors'
    // code stays internal.
    struct Value {
        uint64_t v;
    };
    using Values = std::vector<Value>;

    explicit ekTiffDirectory(bool big_) : big(big_) {}

    // Numbers of an integer or rational type (rationals as numerator,
    // denominator pairs). Throws std::bad_alloc when memory runs out.
    void add(uint16_t tag, uint16_t type, const Values& values);
    void add(uint16_t tag, uint16_t type, uint64_t value) { add(tag, type, Values{Value{value}}); }
    // `count` values of `type` as they lie in memory (the machine is
    // little-endian, as the files). A tag already added is kept.
    void addRaw(uint16_t tag, uint16_t type, uint32_t count, const void* data);
    bool has(uint16_t tag) const;

    // Bytes the directory takes, out-of-line values included.
    uint64_t bytes() const;
    // Serializes it into `out` at `pos`, for file offset `at`, with `next` as
    // the offset of the next directory (0: the last). False when memory runs
    // out.
    bool write(ekTiffBytes& out, uint64_t pos, uint64_t at, uint64_t next) const;

    // Bytes of one value of a TIFF field type; 0 for an unknown type.
    static uint64_t typeBytes(uint16_t type);

private:
    struct Byte {
        unsigned char b;
    };
    struct Entry {
        uint16_t tag, type;
        uint64_t count;
        std::vector<Byte> data;
    };

    bool big;
    std::vector<Entry> entries;
};

#endif  // EKS_TIFF_TIFF_DIRECTORY_H
