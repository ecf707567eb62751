// SPDX-License-Identifier: Apache-2.0
// Tags to layout: what a directory holds, in the image's terms, or the
// reason why the image cannot represent it and the nearest layout it can.
#include <tiffio.h>

#include <cstdint>
#include <cstdio>

#include "tiff/tiff_file.h"
#include "tiff/tiff_geometry.h"

namespace {

// Pages larger than this are refused: a page is decoded whole, and a tag
// claiming a 4 GiB tile is more likely corrupt than meant.
constexpr int64_t kMaxPageBytes = int64_t(1) << 30;

// The nine types as TIFF stores them. Sample format "void" reads as unsigned.
struct TypeTags {
    ekType type;
    uint16_t bits, format;
};
constexpr TypeTags kTypeTags[] = {
    {ekBit, 1, SAMPLEFORMAT_UINT},      {ekUChar, 8, SAMPLEFORMAT_UINT},
    {ekChar, 8, SAMPLEFORMAT_INT},      {ekUShort, 16, SAMPLEFORMAT_UINT},
    {ekShort, 16, SAMPLEFORMAT_INT},    {ekULong, 32, SAMPLEFORMAT_UINT},
    {ekLong, 32, SAMPLEFORMAT_INT},     {ekFloat, 32, SAMPLEFORMAT_IEEEFP},
    {ekDouble, 64, SAMPLEFORMAT_IEEEFP}};

ekType typeOf(int bits, int format) {
    if (format == SAMPLEFORMAT_VOID) format = SAMPLEFORMAT_UINT;
    for (const TypeTags& t : kTypeTags)
        if (t.bits == bits && t.format == format) return t.type;
    return ekAnyType;
}

// `unspecifiedExtra`: the file says its first extra sample is not alpha (an
// RGB file with a fourth band of another kind, say near infrared).
ekColorModel modelOf(int photometric, int channels, bool unspecifiedExtra) {
    switch (photometric) {
        case PHOTOMETRIC_MINISWHITE:
            return channels == 1 ? ekMinWhite : ekMultiSpectral;
        case PHOTOMETRIC_MINISBLACK:
            return channels == 1 ? ekGreyscale : ekMultiSpectral;
        case PHOTOMETRIC_RGB:
            return channels == 3                        ? ekRGB
                   : channels == 4 && !unspecifiedExtra ? ekRGBA
                                                        : ekMultiSpectral;
        case PHOTOMETRIC_SEPARATED:
            return channels == 4 ? ekCMYK : channels == 3 ? ekCMY : ekMultiSpectral;
        case PHOTOMETRIC_YCBCR:
            return channels == 3 ? ekYCC : ekMultiSpectral;
        default:
            return ekMultiSpectral;
    }
}

// Sample sizes and formats that are refused, with the nearest layout read.
// Unsigned samples of up to 32 bits are all read (widened when need be), and
// 16-bit floating-point samples (as 32-bit).
struct Refusal {
    uint16_t format, minBits, maxBits;
    const char* what;
    const char* nearest;
};
constexpr Refusal kRefusals[] = {
    {SAMPLEFORMAT_UINT, 33, 0xFFFF, "unsigned", "32-bit unsigned or 64-bit floating-point samples"},
    {SAMPLEFORMAT_INT, 1, 7, "signed", "8-bit signed samples"},
    {SAMPLEFORMAT_INT, 9, 15, "signed", "16-bit signed samples"},
    {SAMPLEFORMAT_INT, 17, 31, "signed", "32-bit signed samples"},
    {SAMPLEFORMAT_INT, 33, 0xFFFF, "signed", "32-bit signed or 64-bit floating-point samples"},
    {SAMPLEFORMAT_IEEEFP, 1, 31, "floating-point", "32-bit floating-point samples"},
    {SAMPLEFORMAT_IEEEFP, 33, 0xFFFF, "floating-point", "64-bit floating-point samples"},
    {SAMPLEFORMAT_COMPLEXINT, 1, 0xFFFF, "complex integer",
     "the real and imaginary parts as two channels of signed samples"},
    {SAMPLEFORMAT_COMPLEXIEEEFP, 1, 0xFFFF, "complex floating-point",
     "the real and imaginary parts as two channels of floating-point samples"},
};

}  // namespace

bool ekTiffTypeTags(ekType type, uint16_t& bits, uint16_t& format) {
    for (const TypeTags& t : kTypeTags)
        if (t.type == type) {
            bits = t.bits;
            format = t.format;
            return true;
        }
    return false;
}

// Reads the current directory's tags into the format of the image shown.
// Everything a corrupt file could get wrong is checked here, before a page is
// ever decoded.
ekStatus ekTiffFile::describe() {
    const ekStatus s = check(fmt);
    fmt.unpack.palette = fmt.palette.empty() ? nullptr : fmt.palette.data();
    return s;
}

// Checks the current directory and describes it in `f`; every directory that
// becomes a slice passes these checks.
ekStatus ekTiffFile::check(Format& f) {
    const ekTiffGeometry g(tif);
    if (g.width == 0 || g.height == 0 || g.width > INT32_MAX || g.height > INT32_MAX) {
        note(true, "unusable image size %u x %u", g.width, g.height);
        return ekBadInput;
    }
    if (g.spp == 0) {
        note(true, "no samples per pixel");
        return ekBadInput;
    }
    if (!TIFFIsCODECConfigured(g.compression)) {
        note(true,
             "unsupported: compression %u (no codec); the layouts read are compressed with "
             "a codec libtiff has, such as Deflate or LZW, or not at all",
             unsigned(g.compression));
        return ekNotImplemented;
    }
    f.jpegYCbCr = false;
    if (g.photometric == PHOTOMETRIC_YCBCR) {
        f.jpegYCbCr = g.compression == COMPRESSION_JPEG;
        if ((g.subH != 1 || g.subV != 1) && !f.jpegYCbCr) {
            note(true,
                 "unsupported: subsampled YCbCr (%u x %u) without JPEG compression; the "
                 "nearest layouts read are YCbCr without subsampling and JPEG-compressed YCbCr",
                 unsigned(g.subH), unsigned(g.subV));
            return ekNotImplemented;
        }
        if (f.jpegYCbCr) TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    if (g.planar != PLANARCONFIG_CONTIG && g.planar != PLANARCONFIG_SEPARATE) {
        note(true, "unusable planar configuration %u", unsigned(g.planar));
        return ekBadInput;
    }
    const ekStatus s = checkSamples(g, f);
    return s != ekOkay ? s : checkPages(g, f);
}

// The image's type and channels for the directory's samples, and how the
// decoded samples become its elements; the refusals name the nearest layout
// that is read.
ekStatus ekTiffFile::checkSamples(const ekTiffGeometry& g, Format& f) {
    const int format = g.format == SAMPLEFORMAT_VOID ? SAMPLEFORMAT_UINT : g.format;
    if (g.bits == 0) {
        note(true, "unusable bits per sample 0");
        return ekBadInput;
    }
    f.palette.clear();
    if (g.photometric == PHOTOMETRIC_PALETTE || usesFirstMap(g, format))
        return checkPalette(g, format, f);
    ekType type = typeOf(g.bits, format);
    f.unpack.kind = type == ekBit ? ekTiffUnpack::kBits : ekTiffUnpack::kAsStored;
    if (type == ekAnyType && format == SAMPLEFORMAT_UINT) {
        type = ekTiffWidenedType(g.bits);
        f.unpack.kind = ekTiffUnpack::kWiden;
    } else if (type == ekAnyType && format == SAMPLEFORMAT_IEEEFP && g.bits == 16) {
        type = ekFloat;
        f.unpack.kind = ekTiffUnpack::kHalf;
    }
    if (type == ekAnyType) {
        for (const Refusal& r : kRefusals)
            if (r.format == format && g.bits >= r.minBits && g.bits <= r.maxBits) {
                note(true, "unsupported: %u-bit %s samples; the nearest layout read is %s",
                     unsigned(g.bits), r.what, r.nearest);
                return ekNotImplemented;
            }
        note(true,
             "unsupported: sample format %u; the nearest layouts read are unsigned, signed and "
             "floating-point samples",
             unsigned(format));
        return ekNotImplemented;
    }
    f.lay.type = type;
    f.lay.channels = g.spp;
    uint16_t extras = 0;
    uint16_t* kinds = nullptr;
    const bool unspecified = TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extras, &kinds) == 1 &&
                             extras > 0 && kinds != nullptr && kinds[0] == EXTRASAMPLE_UNSPECIFIED;
    f.lay.model = f.jpegYCbCr ? ekRGB : modelOf(g.photometric, g.spp, unspecified);
    return ekOkay;
}

// A palette image reads as RGB through its colour map: 8-bit when every entry
// is a multiple of 257 (a map of 8-bit colours), else 16-bit as the map
// stores it. As indices, it reads as unsigned samples of one channel.
ekStatus ekTiffFile::checkPalette(const ekTiffGeometry& g, int format, Format& f) {
    if (g.spp != 1) {
        note(true,
             "unsupported: palette images of %u samples per pixel; the nearest layout read is "
             "one index per pixel",
             unsigned(g.spp));
        return ekNotImplemented;
    }
    if (format != SAMPLEFORMAT_UINT || g.bits > 16) {
        note(true,
             "unsupported: %u-bit palette indices of sample format %u; the nearest layout read "
             "is unsigned indices of up to 16 bits",
             unsigned(g.bits), unsigned(format));
        return ekNotImplemented;
    }
    const ekStatus s = g.photometric == PHOTOMETRIC_PALETTE ? readMap(g.bits, f.palette)
                                                            : copyMap(firstMap, f.palette);
    if (s != ekOkay) return s;
    bool eightBit = true;
    for (const ekTiffColor& c : f.palette)
        eightBit = eightBit && c.r % 257 == 0 && c.g % 257 == 0 && c.b % 257 == 0;
    f.lay.channels = paletteIndices ? 1 : 3;
    f.lay.model = paletteIndices ? ekColorIndex : ekRGB;
    if (!paletteIndices) {
        f.lay.type = eightBit ? ekUChar : ekUShort;
        f.unpack.kind = ekTiffUnpack::kPalette;
    } else {
        f.lay.type = g.bits == 1 ? ekBit : ekTiffWidenedType(g.bits);
        f.unpack.kind = g.bits == 1                   ? ekTiffUnpack::kBits
                        : g.bits == 8 || g.bits == 16 ? ekTiffUnpack::kAsStored
                                                      : ekTiffUnpack::kWiden;
    }
    return ekOkay;
}

// The colour map of the current directory, 2^bits entries.
ekStatus ekTiffFile::readMap(int bits, std::vector<ekTiffColor>& map) {
    uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b) || !r || !g || !b) {
        note(true, "a palette image without a colour map");
        return ekBadInput;
    }
    const size_t n = size_t(1) << bits;  // libtiff keeps a map of exactly 2^bits entries
    try {
        map.assign(n, ekTiffColor{0, 0, 0});
    } catch (...) {
        note(true, "out of memory");
        return ekNoMemory;
    }
    for (size_t i = 0; i < n; ++i) map[i] = ekTiffColor{r[i], g[i], b[i]};
    return ekOkay;
}

ekStatus ekTiffFile::copyMap(const std::vector<ekTiffColor>& from, std::vector<ekTiffColor>& to) {
    try {
        to = from;
    } catch (...) {
        note(true, "out of memory");
        return ekNoMemory;
    }
    return ekOkay;
}

// GDAL writes the overviews of a palette image as grey images of the same
// indices, without a colour map: they take the full resolution's.
bool ekTiffFile::usesFirstMap(const ekTiffGeometry& g, int format) const {
    return !firstMap.empty() && g.photometric == PHOTOMETRIC_MINISBLACK && g.spp == 1 &&
           format == SAMPLEFORMAT_UINT && g.bits <= 16 && firstMap.size() == size_t(1) << g.bits;
}

// The pages: tiles or strips, their size in the image and as decoded.
ekStatus ekTiffFile::checkPages(const ekTiffGeometry& g, Format& f) {
    ekTiffLayout& l = f.lay;
    l.width = int32_t(g.width);
    l.height = int32_t(g.height);
    l.slices = 1;
    l.order = g.planar == PLANARCONFIG_SEPARATE && g.spp > 1 ? ekSeparate : ekInterleaved;
    l.space = ekCoordSpace(g.orientation);  // TIFF orientations 1..8 are the spaces 1..8
    l.compression = g.compression;
    l.tiled = g.tiled;
    if (g.tiled && (g.tileW == 0 || g.tileH == 0 || g.tileW > INT32_MAX || g.tileH > INT32_MAX)) {
        note(true, "unusable tile size %u x %u", g.tileW, g.tileH);
        return ekBadInput;
    }
    l.pageW = g.tiled ? int32_t(g.tileW) : l.width;
    const uint32_t rows = g.rows == 0 || g.rows > g.height ? g.height : g.rows;
    l.pageH = g.tiled ? int32_t(g.tileH) : int32_t(rows);
    l.pageChans = l.order == ekSeparate ? 1 : l.channels;
    l.planes = l.order == ekSeparate ? l.channels : 1;
    l.pagesAcross = int32_t((int64_t(l.width) + l.pageW - 1) / l.pageW);
    l.pagesDown = int32_t((int64_t(l.height) + l.pageH - 1) / l.pageH);
    // A row of the page as the image holds it and as libtiff decodes it;
    // bounded first (1 GiB of bits), so that no product below can overflow.
    const int64_t imageRow = int64_t(l.pageW) * l.pageChans;
    const int64_t decodedRow = int64_t(l.pageW) * (l.order == ekSeparate ? 1 : g.spp);
    const int64_t maxRow = 8 * kMaxPageBytes / l.pageH;
    f.unpack.bits = g.bits;
    f.unpack.rowSamples = decodedRow;
    f.unpack.rows = l.pageH;
    f.unpack.type = l.type;
    // Rows of bits that fill whole bytes need no packing.
    if (f.unpack.kind == ekTiffUnpack::kBits && decodedRow % 8 == 0)
        f.unpack.kind = ekTiffUnpack::kAsStored;
    const int64_t elems = imageRow <= maxRow && decodedRow <= maxRow ? imageRow * l.pageH : -1;
    const int64_t bytes = l.type == ekBit ? (elems + 7) / 8 : elems * ekDataSize(l.type, 1);
    if (elems < 0 || bytes > kMaxPageBytes || f.unpack.decodedBytes() > kMaxPageBytes) {
        note(true, "a page of %d x %d x %d samples is too large", l.pageW, l.pageH, l.pageChans);
        return ekBadInput;
    }
    l.pageBytes = int32_t(bytes);
    return ekOkay;
}
