// SPDX-License-Identifier: Apache-2.0
// Samples as libtiff decodes them to the image's elements: 1-bit rows packed
// end to end, unsigned samples of other sizes widened to the next type,
// 16-bit floating-point samples widened to 32 bits, and palette indices
// looked up in the colour map.
#ifndef EKS_TIFF_TIFF_SAMPLES_H
#define EKS_TIFF_TIFF_SAMPLES_H

#include <cstdint>

#include "eks/core.h"

// One entry of a colour map, 16 bits a component as the file stores it.
struct ekTiffColor {
    uint16_t r, g, b;
};

// How a decoded page becomes a page of the image. libtiff gives `rows` rows
// of `rowSamples` samples of `bits` bits, each row starting on a byte; 8 and
// 16-bit samples in the machine's byte order, every other size as a stream
// of bits, most significant first.
struct ekTiffUnpack {
    enum Kind : uint8_t {
        kAsStored,  // 8, 16, 32 and 64-bit samples: the decoded bytes are the page
        kBits,      // 1-bit samples: the rows packed end to end (ekBit)
        kWiden,     // unsigned samples of another size: one element of `type` each
        kPalette,   // indices: three elements of `type` each from `palette`
        kHalf,      // 16-bit floating-point samples: one ekFloat each, exactly
    };
    Kind kind = kAsStored;
    uint16_t bits = 8;
    int64_t rowSamples = 0;
    int32_t rows = 0;
    ekType type = ekUChar;  // kWiden, kPalette: ekUChar, ekUShort or ekULong
    // kPalette: 2^bits entries; an ekUChar page takes each component / 257.
    const ekTiffColor* palette = nullptr;

    int64_t rowBytes() const { return (int64_t(rowSamples) * bits + 7) / 8; }
    int64_t decodedBytes() const { return rowBytes() * rows; }
};

// The smallest of ekUChar, ekUShort and ekULong that holds samples of
// `bits` bits (at least 1); ekAnyType past 32.
ekType ekTiffWidenedType(int bits);

// Turns the decoded page `in` (u.decodedBytes() bytes) into the image's page
// `out`; not for kAsStored.
void ekTiffUnpackPage(const ekTiffUnpack& u, const unsigned char* in, void* out);

#endif  // EKS_TIFF_TIFF_SAMPLES_H
