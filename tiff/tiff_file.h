// SPDX-License-Identifier: Apache-2.0
// ekTiffFile: a TIFF file opened for reading. It reads the tags into a layout
// the image can represent (or refuses the file, saying why), decodes whole
// pages (tiles or strips) from any number of threads at once, and collects
// libtiff's messages, also those of the files the image creates.
//
// One descriptor serves every thread: each decoding thread takes a libtiff
// handle of its own from a pool, which reads the file with positional reads,
// so that no thread waits for another's decode.
#ifndef EKS_TIFF_TIFF_FILE_H
#define EKS_TIFF_TIFF_FILE_H

#include <cstdarg>
#include <cstdint>
#include <mutex>
#include <vector>

#include "eks/tiff.h"

struct tiff;

// What the image needs to know about the file. A page is one tile (or strip)
// of one directory, holding pageChans channels: all samples for contiguous
// planes, one for separate planes.
struct ekTiffLayout {
    int32_t width = 0, height = 0, slices = 0, channels = 0;
    ekType type = ekAnyType;
    ekOrder order = ekAnyOrder;
    ekCoordSpace space = ekUpperLeft;
    ekColorModel model = ekGreyscale;
    int32_t compression = 1;
    bool tiled = false;
    int32_t pageW = 0, pageH = 0, pageChans = 0;
    int32_t pagesAcross = 0, pagesDown = 0, planes = 0;
    int32_t pageBytes = 0;  // ekDataSize(type, pageW * pageH * pageChans): no row padding
};

// Bits per sample and sample format of a type; false for a value that is not
// one of the nine types.
bool ekTiffTypeTags(ekType type, uint16_t& bits, uint16_t& format);

class ekTiffFile {
public:
    ekTiffFile() = default;
    ekTiffFile(const ekTiffFile&) = delete;
    ekTiffFile& operator=(const ekTiffFile&) = delete;
    ~ekTiffFile() { close(); }

    // Opens for reading and describes the file; ekBadInput when it cannot be
    // opened or its tags are unusable, ekNotImplemented for a layout the
    // image cannot represent. The message says which.
    ekStatus open(const char* path);
    // Closes the file. Safe to repeat; no read may be under way.
    void close();

    const ekTiffLayout& layout() const { return lay; }
    bool isOpen() const { return fd >= 0; }

    // Decodes page (px, py) of plane `plane` in slice z into `buf`, which
    // holds layout().pageBytes bytes; rows past the end of a short last strip
    // and pages the file never stored (byte count 0) read as zeros. Safe from
    // any number of threads at once.
    ekStatus readPage(int px, int py, int z, int plane, void* buf);

    // The last failure or warning; "" when there is none.
    const char* message() const { return msg; }
    // Records a message; errors replace anything, warnings only a warning.
    void note(bool error, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
    void noteV(bool error, const char* module, const char* fmt, va_list ap);

    struct Reader;  // a libtiff handle of one thread at a time; internal
    int descriptor() const { return fd; }
    uint64_t bytes() const { return fileBytes; }

private:
    Reader* openReader();
    Reader* acquireReader();
    void releaseReader(Reader* r);
    ekStatus describe();
    ekStatus check(ekTiffLayout& l);
    ekStatus checkSlices();
    ekStatus selectSlice(Reader& r, int z);
    int64_t stripOrTile(int px, int py, int plane) const;
    ekStatus decode(Reader& r, int64_t index, void* buf, int64_t bytes);
    ekStatus readWith(Reader& r, int px, int py, int z, int plane, void* buf);

    int fd = -1;
    uint64_t fileBytes = 0;
    tiff* tif = nullptr;  // the handle the tags are read from while opening
    std::mutex readersMutex;
    Reader* idle = nullptr;     // handles no thread is using
    Reader* readers = nullptr;  // every handle, for closing
    struct DirOffset {          // a library type, so that the vector's code stays internal
        uint64_t at;
    };
    std::vector<DirOffset> dirOffsets;  // of every slice's directory
    ekTiffLayout lay;
    bool jpegYCbCr = false;
    std::mutex messageMutex;
    bool messageIsError = false;
    char msg[512] = {0};
};

#endif  // EKS_TIFF_TIFF_FILE_H
