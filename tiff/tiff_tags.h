// SPDX-License-Identifier: Apache-2.0
// The tags of a directory that the image does not interpret itself (GeoTIFF
// keys, GDAL's nodata and metadata, descriptions, resolutions, tags no
// program registered), kept as the file stores them so that a caller can
// read or copy them.
#ifndef EKS_TIFF_TIFF_TAGS_H
#define EKS_TIFF_TIFF_TAGS_H

#include <cstdint>
#include <vector>

#include "eks/tiff.h"

class ekTiffFile;

// Registers the GeoTIFF tags and GDAL's metadata and nodata tags with
// libtiff, once per process (its tag extender, chaining the one installed
// before), so that opening such a file warns of no unknown tag.
void ekTiffRegisterTags();

// The raw tags of one directory, read from the file itself: values in the
// machine's byte order, ASCII values ending in a zero.
class ekTiffTagSet {
public:
    ekTiffTagSet() = default;
    ekTiffTagSet(const ekTiffTagSet&) = delete;
    ekTiffTagSet& operator=(const ekTiffTagSet&) = delete;
    ~ekTiffTagSet() { clear(); }

    // Reads the directory at `offset` of the open file (classic or BigTIFF,
    // byte order swapped or not). A tag that cannot be kept (a type of
    // unknown size, values outside the file or too large) is left out with
    // a warning in the file's message; ekNoMemory when memory runs out.
    ekStatus read(ekTiffFile& file, uint64_t offset, bool bigTiff, bool swapped);
    void clear();

    const ekTiffTag* find(int tag) const;
    const ekTiffTag* at(int i) const;
    int count() const { return int(tags.size()); }
    // The GDAL_NODATA tag's text as a number: false when there is no such
    // tag or its text is not a number.
    bool nodata(double& value) const;

private:
    struct Entry {  // a library type, so that the vector's code stays internal
        ekTiffTag tag;
    };
    bool keep(ekTiffFile& file, uint16_t tag, uint16_t type, uint64_t count, const uint8_t* field,
              bool bigTiff, bool swapped, uint64_t& budget);

    std::vector<Entry> tags;  // in the file's order; each data block malloc-owned
};

#endif  // EKS_TIFF_TIFF_TAGS_H
