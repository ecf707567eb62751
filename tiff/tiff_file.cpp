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

void ekTiffFile::close() {
    if (tif == nullptr) return;
    TIFFClose(tif);
    tif = nullptr;
}

ekStatus ekTiffFile::selectSlice(int z) {
    if (z == currentDir) return ekOkay;
    if (z < 0 || z >= lay.slices || size_t(z) >= dirOffsets.size() ||
        !TIFFSetSubDirectory(tif, dirOffsets[size_t(z)].at)) {
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
