// SPDX-License-Identifier: Apache-2.0
// Display names of the enumerations. Values not listed, combinations of type
// or order bits included, are "unknown"; statuses not listed are "unknown
// status".
#include "eks/core.h"

namespace {

struct ekNamedValue {
    int value;
    const char* name;
};

template <size_t N>
const char* lookUp(const ekNamedValue (&table)[N], int value, const char* unknown = "unknown") {
    for (const ekNamedValue& entry : table)
        if (entry.value == value) return entry.name;
    return unknown;
}

constexpr ekNamedValue kTypeNames[] = {
    {ekBit, "bit"},       {ekUChar, "unsigned char"},
    {ekChar, "char"},     {ekUShort, "unsigned short"},
    {ekShort, "short"},   {ekULong, "unsigned long"},
    {ekLong, "long"},     {ekFloat, "float"},
    {ekDouble, "double"},
};

constexpr ekNamedValue kOrderNames[] = {
    {ekInterleaved, "interleaved"},
    {ekSequential, "sequential"},
    {ekSeparate, "separate"},
};

constexpr ekNamedValue kCoordSpaceNames[] = {
    {ekUpperLeft, "upper-left"},   {ekUpperRight, "upper-right"}, {ekLowerRight, "lower-right"},
    {ekLowerLeft, "lower-left"},   {ekLeftUpper, "left-upper"},   {ekRightUpper, "right-upper"},
    {ekRightLower, "right-lower"}, {ekLeftLower, "left-lower"},
};

constexpr ekNamedValue kColorModelNames[] = {
    {ekMinWhite, "greyscale, minimum value white"},
    {ekGreyscale, "greyscale"},
    {ekRGB, "RGB"},
    {ekColorIndex, "color index"},
    {ekRGBA, "RGBA"},
    {ekHSV, "HSV"},
    {ekCMY, "CMY"},
    {ekCMYK, "CMYK"},
    {ekBGR, "BGR"},
    {ekABGR, "ABGR"},
    {ekMultiSpectral, "multi-spectral"},
    {ekYCC, "YCC"},
};

constexpr ekNamedValue kCompressNames[] = {
    {ekNoCompression, "none"},
    {ekCCITTGroup3, "CCITT Group 3"},
    {ekCCITTGroup4, "CCITT Group 4"},
    {ekLZW, "Lempel-Ziv & Welch"},
    {ekMacRLE, "Mac-RLE"},
    {ekDRXRLE, "DRX-RLE"},
};

// Short phrases for messages: what went wrong, not the enumerator's name.
constexpr ekNamedValue kStatusNames[] = {
    {ekOkay, "okay"},
    {ekBadAttribute, "bad attribute"},
    {ekNoMemory, "not enough memory"},
    {ekBadInput, "bad input"},
    {ekBadColorModel, "colour model does not fit the channels"},
    {ekNotImplemented, "not implemented"},
    {ekOutOfBounds, "out of bounds"},
    {ekBadIndex, "bad index"},
    {ekNotAllowed, "not allowed"},
};

}  // namespace

const char* ekTypeName(int type) { return lookUp(kTypeNames, type); }
const char* ekOrderName(int order) { return lookUp(kOrderNames, order); }
const char* ekCoordSpaceName(int space) { return lookUp(kCoordSpaceNames, space); }
const char* ekColorModelName(int model) { return lookUp(kColorModelNames, model); }
const char* ekCompressName(int compress) { return lookUp(kCompressNames, compress); }
const char* ekStatusName(ekStatus status) {
    return lookUp(kStatusNames, static_cast<int>(status), "unknown status");
}
