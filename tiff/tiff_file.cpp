// SPDX-License-Identifier: Apache-2.0
// ekTiffFile: opening, creating and closing the libtiff handle, decoding and
// encoding pages, and keeping libtiff's messages on the handle.
#include "tiff/tiff_file.h"

#include <fcntl.h>
#include <tiffio.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// libtiff reports through these instead of the process's standard error: the
// handle's user data is the ekTiffFile. Returning 1 stops libtiff from also
// calling its global handler.
int onError(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
    static_cast<ekTiffFile*>(user)->noteV(true, module, fmt, ap);
    return 1;
}

int onWarning(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
    static_cast<ekTiffFile*>(user)->noteV(false, module, fmt, ap);
    return 1;
}

// No single allocation libtiff makes for a file may exceed this: a corrupt
// tag cannot make it allocate without bound.
constexpr tmsize_t kMaxAlloc = tmsize_t(1) << 30;

// The photometric a created file gets: the caller's, or RGB for 3 or 4
// channels of 8- or 16-bit unsigned data and min-is-black otherwise.
// ekTiffAutoPhotometric when the choice does not fit the channels.
ekTiffPhotometric resolvePhotometric(ekTiffPhotometric asked, int channels, ekType type) {
    switch (asked) {
    case ekTiffAutoPhotometric: {
        const bool rgb = (channels == 3 || channels == 4) && (type == ekUChar || type == ekUShort);
        return rgb ? ekTiffRGB : ekTiffMinIsBlack;
    }
    case ekTiffMinIsBlack: return asked;
    case ekTiffRGB: return channels >= 3 ? asked : ekTiffAutoPhotometric;
    case ekTiffRGBA: return channels >= 4 ? asked : ekTiffAutoPhotometric;
    }
    return ekTiffAutoPhotometric;
}

// Photometric interpretation and extra samples of a created file: the
// channels past the colour ones are unspecified extra samples, but for the
// first of them under RGBA, which is unassociated alpha.
void setColourTags(TIFF* tif, int channels, ekTiffPhotometric photometric) {
    const bool rgb = photometric != ekTiffMinIsBlack;
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, rgb ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    const int extra = rgb ? channels - 3 : channels - 1;
    if (extra < 1) return;
    uint16_t* kinds = static_cast<uint16_t*>(std::calloc(size_t(extra), sizeof(uint16_t)));
    if (kinds == nullptr) return;
    if (photometric == ekTiffRGBA) kinds[0] = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(extra), kinds);
    std::free(kinds);
}

}  // namespace

void ekTiffFile::note(bool error, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    noteV(error, nullptr, fmt, ap);
    va_end(ap);
}

void ekTiffFile::noteV(bool error, const char* module, const char* fmt, va_list ap) {
    if (!error && messageIsError) return;
    messageIsError = error;
    int n = 0;
    if (!error) n = std::snprintf(msg, sizeof msg, "warning: ");
    if (module != nullptr && n >= 0 && size_t(n) < sizeof msg)
        n += std::snprintf(msg + n, sizeof msg - size_t(n), "%s: ", module);
    if (n >= 0 && size_t(n) < sizeof msg) std::vsnprintf(msg + n, sizeof msg - size_t(n), fmt, ap);
}

ekStatus ekTiffFile::openHandle(const char* path, const char* mode) {
    close();
    if (path == nullptr) {
        note(true, "no file name");
        return ekBadInput;
    }
    TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
    if (opts == nullptr) {
        note(true, "out of memory");
        return ekNoMemory;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(opts, onError, this);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, onWarning, this);
    TIFFOpenOptionsSetMaxSingleMemAlloc(opts, kMaxAlloc);
    tif = TIFFOpenExt(path, mode, opts);
    TIFFOpenOptionsFree(opts);
    if (tif == nullptr) {
        if (!messageIsError) note(true, "cannot open %s", path);
        return ekBadInput;
    }
    currentDir = 0;
    return ekOkay;
}

ekStatus ekTiffFile::open(const char* path) {
    // Read with read(2), not a memory map: a mapped file counts against the
    // process's resident memory as its pages are touched, beyond the page
    // cache's budget, and a file cut short under a map faults.
    ekStatus s = openHandle(path, "rm");
    if (s == ekOkay) s = describe();
    if (s == ekOkay) s = checkSlices();
    if (s != ekOkay) close();
    return s;
}

ekStatus ekTiffFile::create(const char* path, const ekSize& size, ekType type, ekOrder order,
                            const ekTiffCreateOptions& options) {
    const int tileW = options.tileWidth, tileH = options.tileHeight;
    const int compression = int(options.compression);
    uint16_t bits = 8, format = SAMPLEFORMAT_UINT;
    if (size.x < 1 || size.y < 1 || size.c < 1 || size.c > 0xFFFF ||
        !ekTiffTypeTags(type, bits, format) ||
        (order != ekInterleaved && order != ekSeparate && order != ekSequential)) {
        note(true, "cannot create a file of this size, type or order");
        return ekBadAttribute;
    }
    if (tileW < 16 || tileH < 16 || tileW % 16 != 0 || tileH % 16 != 0) {
        note(true, "tile size %d x %d is not a positive multiple of 16", tileW, tileH);
        return ekBadAttribute;
    }
    if (compression != COMPRESSION_NONE && compression != COMPRESSION_LZW &&
        compression != COMPRESSION_ADOBE_DEFLATE) {
        note(true, "compression %d is not none (1), LZW (5) or Deflate (8)", compression);
        return ekBadAttribute;
    }
    const ekTiffPhotometric photometric = resolvePhotometric(options.photometric, size.c, type);
    if (photometric == ekTiffAutoPhotometric) {
        note(true, "photometric %d does not fit %d channels (RGB needs 3, RGBA 4)",
             int(options.photometric), size.c);
        return ekBadAttribute;
    }
    if (size.z != 1 || order == ekSequential) {
        note(true, "unsupported: a created file holds one slice, in interleaved or separate order");
        return ekNotImplemented;
    }
    // Past 4 GiB of pixels the classic format's 32-bit offsets do not reach.
    const bool big = int64_t(ekDataSize(type, 1)) * size.x * size.y * size.c > (int64_t(3) << 30);
    ekStatus s = openHandle(path, big ? "w8" : "w");
    if (s != ekOkay) return s;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(size.x));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(size.y));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(size.c));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, format);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG,
                 order == ekSeparate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, uint32_t(tileW));
    TIFFSetField(tif, TIFFTAG_TILELENGTH, uint32_t(tileH));
    TIFFSetField(tif, TIFFTAG_COMPRESSION, uint16_t(compression));
    setColourTags(tif, size.c, photometric);
    // Every tile starts as zeros, so that the file is complete from the
    // start and later writes replace tiles in place.
    const tmsize_t tileBytes = TIFFTileSize(tif);
    void* zeros = tileBytes > 0 ? std::calloc(size_t(tileBytes), 1) : nullptr;
    s = zeros != nullptr ? ekOkay : ekNoMemory;
    for (uint32_t t = 0; s == ekOkay && t < TIFFNumberOfTiles(tif); ++t)
        if (TIFFWriteEncodedTile(tif, t, zeros, tileBytes) < 0) s = ekBadInput;
    std::free(zeros);
    if (s == ekOkay && !TIFFWriteDirectory(tif)) s = ekBadInput;
    TIFFClose(tif);
    tif = nullptr;
    if (s == ekOkay) s = openHandle(path, "r+");
    if (s == ekOkay) s = describe();
    if (s == ekOkay) lay.slices = 1;
    if (s != ekOkay) close();
    return s;
}

ekStatus ekTiffFile::close() {
    if (tif == nullptr) return ekOkay;
    const ekStatus s = flush();
    TIFFClose(tif);
    tif = nullptr;
    return s;
}

ekStatus ekTiffFile::flush() {
    if (tif == nullptr || TIFFGetMode(tif) == O_RDONLY) return ekOkay;
    return TIFFFlush(tif) == 1 ? ekOkay : ekBadInput;
}

ekStatus ekTiffFile::selectSlice(int z) {
    if (z == currentDir) return ekOkay;
    if (z < 0 || z >= lay.slices || !TIFFSetDirectory(tif, tdir_t(z))) {
        currentDir = -1;
        note(true, "cannot read directory %d", z);
        return ekBadInput;
    }
    currentDir = z;
    if (jpegYCbCr) TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    return ekOkay;
}

int64_t ekTiffFile::stripOrTile(int px, int py, int plane) const {
    return (int64_t(plane) * lay.pagesDown + py) * lay.pagesAcross + px;
}

// Decodes one strip or tile. A byte count of 0 is a page the file never
// stored: zeros. Rows past the end of a short last strip are zeros too.
ekStatus ekTiffFile::decode(int64_t index, void* buf, int64_t bytes) {
    const uint32_t strile = uint32_t(index);
    if (TIFFGetStrileByteCount(tif, strile) == 0) {
        std::memset(buf, 0, size_t(bytes));
        return ekOkay;
    }
    const tmsize_t got = lay.tiled ? TIFFReadEncodedTile(tif, strile, buf, tmsize_t(bytes))
                                   : TIFFReadEncodedStrip(tif, strile, buf, tmsize_t(bytes));
    if (got < 0) {
        if (!messageIsError) note(true, "cannot decode page %lld", static_cast<long long>(index));
        return ekBadInput;
    }
    if (got < bytes) std::memset(static_cast<char*>(buf) + got, 0, size_t(bytes - got));
    return ekOkay;
}

// Packs `rows` rows of `rowBits` bits (most significant bit first), each
// starting on a byte of `in`, rowBytes apart, end to end into `out`, which
// holds zeros. A byte at a time: a file can declare pages of up to a
// gigabyte, and a bit at a time that took minutes.
static void packBitRows(unsigned char* out, const unsigned char* in, int64_t rowBytes,
                        int64_t rowBits, int64_t rows) {
    const int lastBits = int(rowBits - 8 * (rowBytes - 1));  // 1..8 bits in a row's last byte
    const unsigned lastMask = (0xFF00u >> lastBits) & 0xFFu;
    for (int64_t r = 0; r < rows; ++r) {
        const unsigned char* src = in + r * rowBytes;
        const int64_t at = r * rowBits;
        unsigned char* dst = out + (at >> 3);
        const int shift = int(at & 7);
        for (int64_t b = 0; b < rowBytes; ++b) {
            const bool last = b == rowBytes - 1;
            const unsigned v = last ? src[b] & lastMask : src[b];
            dst[b] |= static_cast<unsigned char>(v >> shift);
            // The bits pushed past this byte are the row's own, so the next
            // byte is in the page whenever there are any.
            if (shift != 0 && (!last || shift + lastBits > 8))
                dst[b + 1] |= static_cast<unsigned char>(v << (8 - shift));
        }
    }
}

ekStatus ekTiffFile::readPage(int px, int py, int z, int plane, void* buf) {
    if (tif == nullptr) return ekBadInput;
    messageIsError = false;  // a failure below names itself
    ekStatus s = selectSlice(z);
    if (s != ekOkay) return s;
    // libtiff pads every row of bits to a whole byte; the page has no padding.
    const int64_t rowBits = int64_t(lay.pageW) * lay.pageChans;
    if (lay.type != ekBit || rowBits % 8 == 0)
        return decode(stripOrTile(px, py, plane), buf, lay.pageBytes);
    const int64_t rowBytes = (rowBits + 7) / 8;
    const int64_t padded = rowBytes * lay.pageH;
    unsigned char* tmp = static_cast<unsigned char*>(std::malloc(size_t(padded)));
    if (tmp == nullptr) return ekNoMemory;
    s = decode(stripOrTile(px, py, plane), tmp, padded);
    if (s == ekOkay) {
        unsigned char* out = static_cast<unsigned char*>(buf);
        std::memset(out, 0, size_t(lay.pageBytes));
        packBitRows(out, tmp, rowBytes, rowBits, lay.pageH);
    }
    std::free(tmp);
    return s;
}

ekStatus ekTiffFile::writePage(int px, int py, int plane, const void* buf) {
    if (tif == nullptr || TIFFGetMode(tif) == O_RDONLY) return ekNotAllowed;
    messageIsError = false;
    // Created files are tiled with widths that are multiples of 16: no row
    // padding, and the page is exactly one encoded tile.
    const uint32_t tile = uint32_t(stripOrTile(px, py, plane));
    if (TIFFWriteEncodedTile(tif, tile, const_cast<void*>(buf), lay.pageBytes) < 0) {
        if (!messageIsError) note(true, "cannot write page %u", tile);
        return ekBadInput;
    }
    return ekOkay;
}
