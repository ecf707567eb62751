// SPDX-License-Identifier: Apache-2.0
// Page coding through libtiff on in-memory files. Encoding writes the page as
// the only tile of a small file and takes the tile's bytes out of it;
// decoding writes the encoded bytes raw as that tile, then reads the file.
#include "tiff/tiff_codec.h"

#include <tiffio.h>

#include <cstdlib>
#include <cstring>

#include "tiff/tiff_file.h"

ekTiffBytes::~ekTiffBytes() { std::free(data); }

bool ekTiffBytes::put(uint64_t at, const void* src, uint64_t n) {
    if (at + n < at) return false;
    const uint64_t end = at + n;
    if (end > capacity) {
        uint64_t want = capacity < 4096 ? 4096 : capacity;
        while (want < end) want *= 2;
        void* grown = std::realloc(data, size_t(want));
        if (grown == nullptr) return false;
        data = static_cast<unsigned char*>(grown);
        capacity = want;
    }
    if (at > size) std::memset(data + size, 0, size_t(at - size));
    if (n != 0) std::memcpy(data + at, src, size_t(n));
    if (end > size) size = end;
    return true;
}

void ekTiffBytes::keep(uint64_t from, uint64_t n) {
    if (from != 0 && n != 0) std::memmove(data, data + from, size_t(n));
    size = n;
    pos = 0;
}

namespace {

// libtiff's client procedures over an ekTiffBytes.
tmsize_t memRead(thandle_t h, void* buf, tmsize_t n) {
    ekTiffBytes& b = *static_cast<ekTiffBytes*>(h);
    if (n < 0 || b.pos >= b.size) return 0;
    const uint64_t got = uint64_t(n) < b.size - b.pos ? uint64_t(n) : b.size - b.pos;
    std::memcpy(buf, b.data + b.pos, size_t(got));
    b.pos += got;
    return tmsize_t(got);
}

tmsize_t memWrite(thandle_t h, void* buf, tmsize_t n) {
    ekTiffBytes& b = *static_cast<ekTiffBytes*>(h);
    if (n < 0 || !b.put(b.pos, buf, uint64_t(n))) return -1;
    b.pos += uint64_t(n);
    return n;
}

toff_t memSeek(thandle_t h, toff_t off, int whence) {
    ekTiffBytes& b = *static_cast<ekTiffBytes*>(h);
    const int64_t base = whence == SEEK_CUR   ? int64_t(b.pos)
                         : whence == SEEK_END ? int64_t(b.size)
                                              : 0;
    const int64_t at = base + int64_t(off);
    if (at < 0) return toff_t(-1);
    b.pos = uint64_t(at);
    return b.pos;
}

int memClose(thandle_t) { return 0; }
toff_t memSize(thandle_t h) { return static_cast<ekTiffBytes*>(h)->size; }
int memMap(thandle_t, void**, toff_t*) { return 0; }
void memUnmap(thandle_t, void*, toff_t) {}

int onError(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
    static_cast<ekTiffFile*>(user)->noteV(true, module, fmt, ap);
    return 1;
}

int onWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

TIFF* openMemory(ekTiffBytes& b, const char* mode, ekTiffFile& messages) {
    TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
    if (opts == nullptr) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(opts, onError, &messages);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, onWarning, nullptr);
    b.pos = 0;
    TIFF* tif = TIFFClientOpenExt("page", mode, &b, memRead, memWrite, memSeek, memClose, memSize,
                                  memMap, memUnmap, opts);
    TIFFOpenOptionsFree(opts);
    return tif;
}

// The codec's settings on a handle; the pseudo-tags are not written to a file.
bool setCodec(TIFF* tif, const ekTiffPageFormat& f) {
    if (!TIFFSetField(tif, TIFFTAG_COMPRESSION, f.compression)) return false;
    if (f.predictor != 1 && !TIFFSetField(tif, TIFFTAG_PREDICTOR, f.predictor)) return false;
    switch (f.compression) {
        case COMPRESSION_ADOBE_DEFLATE:
            return f.level == 0 || TIFFSetField(tif, TIFFTAG_ZIPQUALITY, f.level);
        case COMPRESSION_ZSTD:
            return f.level == 0 || TIFFSetField(tif, TIFFTAG_ZSTD_LEVEL, f.level);
        case COMPRESSION_JPEG:
            // Every tile carries its own tables, so that it decodes alone.
            return TIFFSetField(tif, TIFFTAG_JPEGTABLESMODE, 0) &&
                   (f.quality == 0 || TIFFSetField(tif, TIFFTAG_JPEGQUALITY, f.quality)) &&
                   (f.photometric != PHOTOMETRIC_YCBCR ||
                    TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB));
        case COMPRESSION_WEBP:
            return f.quality == 0 ? TIFFSetField(tif, TIFFTAG_WEBP_LOSSLESS, 1)
                                  : TIFFSetField(tif, TIFFTAG_WEBP_LEVEL, f.quality);
        case COMPRESSION_LERC:
            return TIFFSetField(tif, TIFFTAG_LERC_MAXZERROR, f.maxError);
        default:
            return true;
    }
}

// A one-tile file of the page's format, open for writing.
TIFF* openPageFile(const ekTiffPageFormat& f, ekTiffBytes& b, ekTiffFile& messages) {
    TIFF* tif = openMemory(b, "w", messages);
    if (tif == nullptr) return nullptr;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, f.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, f.height);
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, f.width);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, f.height);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, f.samples);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, f.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, f.format);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, f.photometric);
    if (f.photometric == PHOTOMETRIC_RGB && f.samples > 3) {
        uint16_t extra[4] = {EXTRASAMPLE_UNSPECIFIED, EXTRASAMPLE_UNSPECIFIED,
                             EXTRASAMPLE_UNSPECIFIED, EXTRASAMPLE_UNSPECIFIED};
        if (f.samples - 3 <= 4)
            TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(f.samples - 3), extra);
    }
    if (!setCodec(tif, f)) {
        TIFFClose(tif);
        return nullptr;
    }
    return tif;
}

}  // namespace

ekStatus ekTiffEncodePage(const ekTiffPageFormat& f, const void* pixels, int64_t bytes,
                          ekTiffBytes& out, ekTiffFile& messages) {
    out.size = 0;
    TIFF* tif = openPageFile(f, out, messages);
    if (tif == nullptr) return ekBadInput;
    const bool ok = TIFFWriteEncodedTile(tif, 0, const_cast<void*>(pixels), tmsize_t(bytes)) >= 0;
    const uint64_t at = TIFFGetStrileOffset(tif, 0), n = TIFFGetStrileByteCount(tif, 0);
    TIFFClose(tif);  // writes the small file's directory after the tile: unused
    if (!ok || at + n > out.size) return out.capacity == 0 ? ekNoMemory : ekBadInput;
    out.keep(at, n);
    return ekOkay;
}

ekStatus ekTiffDecodePage(const ekTiffPageFormat& f, const void* encoded, uint64_t n, void* pixels,
                          int64_t bytes, ekTiffFile& messages) {
    ekTiffBytes file;
    TIFF* tif = openPageFile(f, file, messages);
    if (tif == nullptr) return ekBadInput;
    const bool written = TIFFWriteRawTile(tif, 0, const_cast<void*>(encoded), tmsize_t(n)) >= 0;
    TIFFClose(tif);
    if (!written) return file.capacity == 0 ? ekNoMemory : ekBadInput;
    tif = openMemory(file, "rm", messages);
    if (tif == nullptr) return ekBadInput;
    if (f.photometric == PHOTOMETRIC_YCBCR)
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    const tmsize_t got = TIFFReadEncodedTile(tif, 0, pixels, tmsize_t(bytes));
    TIFFClose(tif);
    if (got < 0) return ekBadInput;
    if (got < bytes) std::memset(static_cast<char*>(pixels) + got, 0, size_t(bytes - got));
    return ekOkay;
}
