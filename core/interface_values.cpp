// SPDX-License-Identifier: Apache-2.0
// The numeric values of the public enumerations are part of the interface:
// callers store them, pass them as plain integers and keep them in files.
// Renumbering one breaks every program built against an earlier header, so
// the build stops here instead.
#include <cstdint>
#include <initializer_list>

#include "eks/core.h"
#include "eks/image.h"

namespace {

constexpr bool valuesAre(std::initializer_list<int64_t> got, std::initializer_list<int64_t> want) {
    if (got.size() != want.size()) return false;
    for (auto g = got.begin(), w = want.begin(); g != got.end(); ++g, ++w)
        if (*g != *w) return false;
    return true;
}

static_assert(valuesAre({ekBit, ekUChar, ekChar, ekUShort, ekShort, ekULong, ekLong, ekFloat,
                         ekDouble, ekAnyType},
                        {1, 2, 4, 8, 16, 32, 64, 128, 256, 511}),
              "element types");
static_assert(valuesAre({ekInterleaved, ekSequential, ekSeparate, ekAnyOrder}, {1, 2, 4, 7}),
              "channel orders");
static_assert(valuesAre({ekUpperLeft, ekUpperRight, ekLowerRight, ekLowerLeft, ekLeftUpper,
                         ekRightUpper, ekRightLower, ekLeftLower},
                        {1, 2, 3, 4, 5, 6, 7, 8}),
              "coordinate spaces");
static_assert(valuesAre({ekMinWhite, ekGreyscale, ekRGB, ekColorIndex, ekRGBA, ekHSV, ekCMY, ekCMYK,
                         ekBGR, ekABGR, ekMultiSpectral, ekYCC},
                        {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}),
              "colour models");
static_assert(valuesAre({ekNoCompression, ekCCITTGroup3, ekCCITTGroup4, ekLZW, ekMacRLE, ekDRXRLE},
                        {1, 3, 4, 5, 32773, 32901}),
              "compressions");
static_assert(valuesAre({ekOkay, ekBadAttribute, ekNoMemory, ekBadInput, ekBadColorModel,
                         ekNotImplemented, ekOutOfBounds, ekBadIndex, ekNotAllowed},
                        {0, 7, 10, 18, 19, 20, 24, 25, 29}),
              "statuses");
static_assert(
    valuesAre({ekGeneralBit,    ekEnabledBit,     ekDataTypeBit,   ekOrderBit,    ekPageSizeBit,
               ekXsizeBit,      ekYsizeBit,       ekCsizeBit,      ekZsizeBit,    ekSizeBits,
               ekCoordSpaceBit, ekColorModelBit,  ekMinValueBit,   ekMaxValueBit, ekScaleBit,
               ekFillBit,       ekCompressionBit, ekPageBorderBit, ekConfigBit,   ekNoPropagateBit,
               ekPropagateBit,  ekInProgressBit,  ekNeverResetBit},
              {0x1,    0x2,     0x4,     0x8,        0x10,       0x20,       0x40,      0x80,
               0x100,  0x1E0,   0x200,   0x400,      0x800,      0x1000,     0x2000,    0x4000,
               0x8000, 0x20000, 0x40000, 0x20000000, 0x40000000, 0x80000000, 0x80000000}),
    "alteration bits");
static_assert(valuesAre({ekSaturate}, {1}), "transfer flags");
static_assert(valuesAre({ekMemoryImageType, ekGenericImageType}, {1, 6}), "image kinds");
static_assert(valuesAre({ekNoFlip, ekFlipX, ekFlipY, ekFlipXY}, {0, 1, 2, 3}), "flips");

}  // namespace
