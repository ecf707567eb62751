// SPDX-License-Identifier: Apache-2.0
// ekTiffFile: the descriptor and the pool of libtiff handles over it, opening
// and closing, decoding pages on any thread, and keeping libtiff's messages.
#include "tiff/tiff_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "transfer/data_block.h"

// A libtiff handle over the file's descriptor, with a position of its own:
// it reads with pread, so handles on several threads never share a seek.
struct ekTiffFile::Reader {
    ekTiffFile* file = nullptr;
    TIFF* tif = nullptr;
    uint64_t pos = 0;
    int32_t currentDir = -1;  // directory loaded, -1 when unknown
    bool noted = false;       // libtiff reported an error during this call
    Reader* nextIdle = nullptr;
    Reader* nextOfAll = nullptr;
};

namespace {

using Reader = ekTiffFile::Reader;

tmsize_t readProc(thandle_t h, void* buf, tmsize_t n) {
    Reader& r = *static_cast<Reader*>(h);
    char* p = static_cast<char*>(buf);
    tmsize_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(r.file->descriptor(), p + done, size_t(n - done), off_t(r.pos));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += got;
        r.pos += uint64_t(got);
    }
    return done;
}

tmsize_t writeProc(thandle_t, void*, tmsize_t) { return -1; }  // read only

toff_t seekProc(thandle_t h, toff_t off, int whence) {
    Reader& r = *static_cast<Reader*>(h);
    const uint64_t base = whence == SEEK_CUR ? r.pos : whence == SEEK_END ? r.file->bytes() : 0;
    r.pos = base + off;
    return r.pos;
}

int closeProc(thandle_t) { return 0; }  // the descriptor is the file's, closed with it
toff_t sizeProc(thandle_t h) { return static_cast<Reader*>(h)->file->bytes(); }
int mapProc(thandle_t, void**, toff_t*) { return 0; }  // read with pread, never mapped
void unmapProc(thandle_t, void*, toff_t) {}

// libtiff reports through these instead of the process's standard error.
// Returning 1 stops libtiff from also calling its global handler.
int onError(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
    Reader& r = *static_cast<Reader*>(user);
    r.noted = true;
    r.file->noteV(true, module, fmt, ap);
    return 1;
}

int onWarning(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
    static_cast<Reader*>(user)->file->noteV(false, module, fmt, ap);
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
    std::lock_guard<std::mutex> lock(messageMutex);
    if (!error && messageIsError) return;
    messageIsError = error;
    int n = 0;
    if (!error) n = std::snprintf(msg, sizeof msg, "warning: ");
    if (module != nullptr && n >= 0 && size_t(n) < sizeof msg)
        n += std::snprintf(msg + n, sizeof msg - size_t(n), "%s: ", module);
    if (n >= 0 && size_t(n) < sizeof msg) std::vsnprintf(msg + n, sizeof msg - size_t(n), fmt, ap);
}

// --- Handles ----------------------------------------------------------------------

ekTiffFile::Reader* ekTiffFile::openReader() {
    Reader* r = new (std::nothrow) Reader;
    TIFFOpenOptions* opts = r != nullptr ? TIFFOpenOptionsAlloc() : nullptr;
    if (opts == nullptr) {
        delete r;
        note(true, "out of memory");
        return nullptr;
    }
    r->file = this;
    TIFFOpenOptionsSetErrorHandlerExtR(opts, onError, r);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, onWarning, r);
    TIFFOpenOptionsSetMaxSingleMemAlloc(opts, kMaxAlloc);
    r->tif = TIFFClientOpenExt("file", "r", r, readProc, writeProc, seekProc, closeProc, sizeProc,
                               mapProc, unmapProc, opts);
    TIFFOpenOptionsFree(opts);
    if (r->tif == nullptr) {
        if (!r->noted) note(true, "not a TIFF file");
        delete r;
        return nullptr;
    }
    // Unknown, although libtiff read the first directory: the image may show
    // another, and the pseudo-tags a slice needs are set when it is selected.
    r->currentDir = -1;
    std::lock_guard<std::mutex> lock(readersMutex);
    r->nextOfAll = readers;
    readers = r;
    return r;
}

// An idle handle, or a new one when every handle is in use.
ekTiffFile::Reader* ekTiffFile::acquireReader() {
    {
        std::lock_guard<std::mutex> lock(readersMutex);
        if (idle != nullptr) {
            Reader* r = idle;
            idle = r->nextIdle;
            return r;
        }
    }
    return openReader();
}

void ekTiffFile::releaseReader(Reader* r) {
    std::lock_guard<std::mutex> lock(readersMutex);
    r->nextIdle = idle;
    idle = r;
}

// --- Opening and closing ----------------------------------------------------------------

ekStatus ekTiffFile::open(const char* path, const ekTiffOpenOptions& options) {
    close();
    if (path == nullptr) {
        note(true, "no file name");
        return ekBadInput;
    }
    fd = ::open(path, O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        note(true, "cannot open %s: %s", path, std::strerror(errno));
        close();
        return ekBadInput;
    }
    fileBytes = uint64_t(st.st_size);
    paletteIndices = options.paletteIndices;
    Reader* r = openReader();
    ekStatus s = r != nullptr ? ekOkay : ekBadInput;
    if (s == ekOkay) {
        tif = r->tif;
        s = openLevel(options.level);
        tif = nullptr;
        r->currentDir = -1;  // the walk over the directories left it elsewhere
        releaseReader(r);
    }
    if (s != ekOkay) close();
    return s;
}

void ekTiffFile::close() {
    std::lock_guard<std::mutex> lock(readersMutex);
    while (readers != nullptr) {
        Reader* r = readers;
        readers = r->nextOfAll;
        TIFFClose(r->tif);
        delete r;
    }
    idle = nullptr;
    if (fd >= 0) ::close(fd);
    fd = -1;
    tagSet.clear();
}

// --- Pages ------------------------------------------------------------------------------

ekStatus ekTiffFile::selectSlice(Reader& r, int z) {
    if (z == r.currentDir) return ekOkay;
    if (z < 0 || z >= lay.slices || size_t(z) >= dirOffsets.size() ||
        !TIFFSetSubDirectory(r.tif, dirOffsets[size_t(z)].at)) {
        r.currentDir = -1;
        note(true, "cannot read directory %d", z);
        return ekBadInput;
    }
    r.currentDir = z;
    if (fmt.jpegYCbCr) TIFFSetField(r.tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    return ekOkay;
}

int64_t ekTiffFile::stripOrTile(int px, int py, int plane) const {
    return (int64_t(plane) * lay.pagesDown + py) * lay.pagesAcross + px;
}

// Decodes one strip or tile. A byte count of 0 is a page the file never
// stored: zeros. Rows past the end of a short last strip are zeros too.
ekStatus ekTiffFile::decode(Reader& r, int64_t index, void* buf, int64_t bytes) {
    const uint32_t strile = uint32_t(index);
    if (TIFFGetStrileByteCount(r.tif, strile) == 0) {
        std::memset(buf, 0, size_t(bytes));
        return ekOkay;
    }
    const tmsize_t got = lay.tiled ? TIFFReadEncodedTile(r.tif, strile, buf, tmsize_t(bytes))
                                   : TIFFReadEncodedStrip(r.tif, strile, buf, tmsize_t(bytes));
    if (got < 0) {
        if (!r.noted) note(true, "cannot decode page %lld", static_cast<long long>(index));
        return ekBadInput;
    }
    if (got < bytes) std::memset(static_cast<char*>(buf) + got, 0, size_t(bytes - got));
    return ekOkay;
}

// A page the file never stored (byte count 0) is the nodata value in every
// channel, as the image's type holds it (GDAL reads sparse files so); zeros
// when the file has none. The transfer engine fills it as it fills any block
// with a value; the memset first defines a 1-bit page's padding bits too.
void ekTiffFile::fillUnstored(int plane, void* buf) const {
    ekPixel value;
    value.set(lay.type, lay.pageChans, nullptr);
    double v = 0;
    for (int c = 0; c < value.nc() && nodataElement(plane + c, v); ++c) value.setElem(v, c);
    std::memset(buf, 0, size_t(lay.pageBytes));
    ekDataBlock page(buf, lay.type, lay.pageChans > 1 ? ekInterleaved : ekSeparate, lay.pageChans,
                     nullptr, lay.pageW, lay.pageH, 1, 0, 0, 0, 0);
    page.copyFrom(ekDataBlock(value, nullptr, nullptr, 0));
}

ekStatus ekTiffFile::readPage(int px, int py, int z, int plane, void* buf) {
    if (fd < 0) return ekBadInput;
    Reader* r = acquireReader();
    if (r == nullptr) return ekBadInput;
    r->noted = false;  // a failure below names itself
    ekStatus s = readWith(*r, px, py, z, plane, buf);
    releaseReader(r);
    return s;
}

// Pages whose samples the image takes as stored are decoded in place; the
// others go through a buffer of the decoded samples.
ekStatus ekTiffFile::readWith(Reader& r, int px, int py, int z, int plane, void* buf) {
    ekStatus s = selectSlice(r, z);
    if (s != ekOkay) return s;
    const int64_t index = stripOrTile(px, py, plane);
    if (hasNodata && TIFFGetStrileByteCount(r.tif, uint32_t(index)) == 0) {
        fillUnstored(plane, buf);
        return ekOkay;
    }
    if (fmt.unpack.kind == ekTiffUnpack::kAsStored) return decode(r, index, buf, lay.pageBytes);
    const int64_t bytes = fmt.unpack.decodedBytes();
    unsigned char* tmp = static_cast<unsigned char*>(std::malloc(size_t(bytes)));
    if (tmp == nullptr) return ekNoMemory;
    s = decode(r, index, tmp, bytes);
    if (s == ekOkay) ekTiffUnpackPage(fmt.unpack, tmp, buf);
    std::free(tmp);
    return s;
}
