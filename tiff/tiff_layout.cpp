// SPDX-License-Identifier: Apache-2.0
// Tags to layout: what the file holds, in the image's terms, or the reason
// why the image cannot represent it.
#include <tiffio.h>

#include <cstdint>
#include <cstdio>

#include "tiff/tiff_file.h"

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

ekColorModel modelOf(int photometric, int channels) {
    switch (photometric) {
        case PHOTOMETRIC_MINISWHITE:
            return channels == 1 ? ekMinWhite : ekMultiSpectral;
        case PHOTOMETRIC_MINISBLACK:
            return channels == 1 ? ekGreyscale : ekMultiSpectral;
        case PHOTOMETRIC_RGB:
            return channels == 3 ? ekRGB : channels == 4 ? ekRGBA : ekMultiSpectral;
        case PHOTOMETRIC_SEPARATED:
            return channels == 4 ? ekCMYK : channels == 3 ? ekCMY : ekMultiSpectral;
        case PHOTOMETRIC_YCBCR:
            return channels == 3 ? ekYCC : ekMultiSpectral;
        default:
            return ekMultiSpectral;
    }
}

// The tags that must agree between directories for them to be slices.
struct Geometry {
    uint32_t width = 0, height = 0, tileW = 0, tileH = 0, rows = 0;
    uint16_t spp = 0, bits = 0, format = 0, planar = 0, photometric = 0, compression = 0;
    uint16_t orientation = ORIENTATION_TOPLEFT, subH = 1, subV = 1;
    bool tiled = false;

    explicit Geometry(TIFF* tif) {
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
        TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
        TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
        TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
        TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
        if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) photometric = 0xFFFF;
        TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
        if (orientation < 1 || orientation > 8) orientation = ORIENTATION_TOPLEFT;
        if (photometric == PHOTOMETRIC_YCBCR)
            TIFFGetFieldDefaulted(tif, TIFFTAG_YCBCRSUBSAMPLING, &subH, &subV);
        tiled = TIFFIsTiled(tif) != 0;
        if (tiled) {
            TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileW);
            TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileH);
        } else {
            TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rows);
        }
    }
    // The name of the first tag in which `g` differs, or null when the two
    // describe slices of one image. JPEG-compressed YCbCr is decoded to RGB,
    // so whether a directory is that counts as its compression.
    const char* firstDifference(const Geometry& g) const {
        const bool jpeg = compression == COMPRESSION_JPEG,
                   gJpeg = g.compression == COMPRESSION_JPEG;
        const struct {
            bool differs;
            const char* tag;
        } checks[] = {
            {width != g.width, "ImageWidth"},
            {height != g.height, "ImageLength"},
            {tiled != g.tiled, "TileWidth"},
            {tileW != g.tileW, "TileWidth"},
            {tileH != g.tileH, "TileLength"},
            {rows != g.rows, "RowsPerStrip"},
            {spp != g.spp, "SamplesPerPixel"},
            {bits != g.bits, "BitsPerSample"},
            {format != g.format, "SampleFormat"},
            {planar != g.planar, "PlanarConfiguration"},
            {photometric != g.photometric, "PhotometricInterpretation"},
            {orientation != g.orientation, "Orientation"},
            {subH != g.subH || subV != g.subV, "YCbCrSubsampling"},
            {photometric == PHOTOMETRIC_YCBCR && jpeg != gJpeg, "Compression"},
        };
        for (const auto& c : checks)
            if (c.differs) return c.tag;
        return nullptr;
    }
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

// Reads the current directory's tags into the layout. Everything a corrupt
// file could get wrong is checked here, before a page is ever decoded.
ekStatus ekTiffFile::describe() {
    ekTiffLayout l;
    const ekStatus s = check(l);
    if (s != ekOkay) return s;
    lay = l;
    return ekOkay;
}

// Checks the current directory and describes it in `l`; every directory that
// becomes a slice passes these checks.
ekStatus ekTiffFile::check(ekTiffLayout& l) {
    const Geometry g(tif);
    if (g.width == 0 || g.height == 0 || g.width > INT32_MAX || g.height > INT32_MAX) {
        note(true, "unusable image size %u x %u", g.width, g.height);
        return ekBadInput;
    }
    if (g.spp == 0) {
        note(true, "no samples per pixel");
        return ekBadInput;
    }
    if (g.photometric == PHOTOMETRIC_PALETTE) {
        note(true, "unsupported: palette colour (photometric interpretation 3)");
        return ekNotImplemented;
    }
    if (!TIFFIsCODECConfigured(g.compression)) {
        note(true, "unsupported: compression %u (no codec)", unsigned(g.compression));
        return ekNotImplemented;
    }
    jpegYCbCr = false;
    if (g.photometric == PHOTOMETRIC_YCBCR) {
        uint16_t sh = 1, sv = 1;
        TIFFGetFieldDefaulted(tif, TIFFTAG_YCBCRSUBSAMPLING, &sh, &sv);
        jpegYCbCr = g.compression == COMPRESSION_JPEG;
        if ((sh != 1 || sv != 1) && !jpegYCbCr) {
            note(true, "unsupported: subsampled YCbCr (%u x %u) without JPEG compression",
                 unsigned(sh), unsigned(sv));
            return ekNotImplemented;
        }
        if (jpegYCbCr) TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    const ekType type = typeOf(g.bits, g.format);
    if (type == ekAnyType) {
        note(true, "unsupported: %u-bit samples of sample format %u", unsigned(g.bits),
             unsigned(g.format));
        return ekNotImplemented;
    }
    if (g.planar != PLANARCONFIG_CONTIG && g.planar != PLANARCONFIG_SEPARATE) {
        note(true, "unusable planar configuration %u", unsigned(g.planar));
        return ekBadInput;
    }
    l.width = int32_t(g.width);
    l.height = int32_t(g.height);
    l.slices = 1;
    l.channels = g.spp;
    l.type = type;
    l.order = g.planar == PLANARCONFIG_SEPARATE && g.spp > 1 ? ekSeparate : ekInterleaved;
    l.space = ekCoordSpace(g.orientation);  // TIFF orientations 1..8 are the spaces 1..8
    l.model = jpegYCbCr ? ekRGB : modelOf(g.photometric, g.spp);
    l.compression = g.compression;
    l.tiled = g.tiled;
    l.pageW = g.tiled ? int32_t(g.tileW) : l.width;
    const uint32_t rows = g.rows == 0 || g.rows > g.height ? g.height : g.rows;
    l.pageH = g.tiled ? int32_t(g.tileH) : int32_t(rows);
    if (g.tiled && (g.tileW == 0 || g.tileH == 0 || g.tileW > INT32_MAX || g.tileH > INT32_MAX)) {
        note(true, "unusable tile size %u x %u", g.tileW, g.tileH);
        return ekBadInput;
    }
    l.pageChans = l.order == ekSeparate ? 1 : l.channels;
    l.planes = l.order == ekSeparate ? l.channels : 1;
    l.pagesAcross = int32_t((int64_t(l.width) + l.pageW - 1) / l.pageW);
    l.pagesDown = int32_t((int64_t(l.height) + l.pageH - 1) / l.pageH);
    const int64_t elems = int64_t(l.pageW) * l.pageH * l.pageChans;
    const int64_t bytes = type == ekBit ? (elems + 7) / 8 : elems * (g.bits / 8);
    if (bytes > kMaxPageBytes) {
        note(true, "a page of %d x %d x %d samples is too large", l.pageW, l.pageH, l.pageChans);
        return ekBadInput;
    }
    l.pageBytes = int32_t(bytes);
    return ekOkay;
}

// The directories that follow the first one become slices while they pass
// the first one's checks and agree with it in geometry, orientation, sample
// type, photometric and subsampling; the first that does not (a thumbnail, a
// mask) ends them. Each slice's offset is kept, so that switching slices
// reads one directory, not the chain up to it.
ekStatus ekTiffFile::checkSlices() {
    const Geometry first(tif);
    try {
        dirOffsets.assign(1, DirOffset{TIFFCurrentDirOffset(tif)});
    } catch (...) {
        note(true, "out of memory");
        return ekNoMemory;
    }
    int32_t slices = 1;
    while (slices < INT32_MAX && TIFFReadDirectory(tif) == 1) {
        const char* tag = Geometry(tif).firstDifference(first);
        if (tag != nullptr) {
            note(false, "directory %d differs in %s; the image ends before it", slices, tag);
            break;
        }
        ekTiffLayout l;
        if (check(l) != ekOkay) {
            char why[sizeof msg];
            std::snprintf(why, sizeof why, "%s", msg);
            messageIsError = false;
            note(false, "directory %d: %s; the image ends before it", slices, why);
            break;
        }
        try {
            dirOffsets.push_back(DirOffset{TIFFCurrentDirOffset(tif)});
        } catch (...) {
            note(true, "out of memory");
            return ekNoMemory;
        }
        ++slices;
    }
    lay.slices = slices;
    return ekOkay;
}
