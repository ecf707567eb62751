// SPDX-License-Identifier: Apache-2.0
// ekTiffFile: a TIFF file opened for reading. It reads the tags into a layout
// the image can represent (or refuses the file, saying why), decodes whole
// pages (tiles or strips) from any number of threads at once, and collects
// libtiff's messages, also those of the files the image creates.
//
// The image a file shows is its first directory with the full-resolution
// directories that agree with it as slices, or one of its reduced-resolution
// directories (an overview) by itself; the tags of that directory that the
// image does not interpret are kept raw.
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
#include "tiff/tiff_samples.h"
#include "tiff/tiff_tags.h"

struct tiff;
struct ekTiffGeometry;

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
    // Every image holds one, made before it uses libtiff on any thread: the
    // tags are registered by then.
    ekTiffFile() { ekTiffRegisterTags(); }
    ekTiffFile(const ekTiffFile&) = delete;
    ekTiffFile& operator=(const ekTiffFile&) = delete;
    ~ekTiffFile() { close(); }

    // Opens for reading and describes the file, or its overview
    // `options.level`; ekBadInput when it cannot be opened, its tags are
    // unusable or it has no such level, ekNotImplemented for a layout the
    // image cannot represent. The message says which.
    ekStatus open(const char* path, const ekTiffOpenOptions& options);
    // Closes the file. Safe to repeat; no read may be under way.
    void close();

    const ekTiffLayout& layout() const { return lay; }
    bool isOpen() const { return fd >= 0; }
    // Reduced-resolution directories in the file, whichever level is open.
    int overviewCount() const { return int(overviews.size()); }
    // The raw tags of the directory shown, and its GDAL_NODATA value (an
    // overview without one takes the full resolution's).
    const ekTiffTagSet& tags() const { return tagSet; }
    bool nodata(double& value) const {
        if (hasNodata) value = nodataValue;  // else left alone
        return hasNodata;
    }
    // Channel c of the nodata value as a pixel of the image: the value, or
    // for a palette image read as RGB a component of that index's colour.
    bool nodataElement(int c, double& value) const;

    // Decodes page (px, py) of plane `plane` in slice z into `buf`, which
    // holds layout().pageBytes bytes of the image's type (samples widened,
    // palette indices looked up); rows past the end of a short last strip
    // read as zeros, pages the file never stored (byte count 0) as the nodata
    // value, or zeros without one. Safe from any number of threads at once.
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
    struct DirOffset {  // a library type, so that the vector's code stays internal
        uint64_t at;
    };
    // What check() finds in a directory.
    struct Format {
        ekTiffLayout lay;
        ekTiffUnpack unpack;  // its palette pointer is set when the format is kept
        bool jpegYCbCr = false;
        std::vector<ekTiffColor> palette;  // of a palette image
    };
    Reader* openReader();
    Reader* acquireReader();
    void releaseReader(Reader* r);
    ekStatus openLevel(int level);
    ekStatus describe();
    ekStatus check(Format& f);
    ekStatus checkSamples(const ekTiffGeometry& g, Format& f);
    ekStatus checkPalette(const ekTiffGeometry& g, int format, Format& f);
    ekStatus checkPages(const ekTiffGeometry& g, Format& f);
    ekStatus keepFirstMap();
    ekStatus readMap(int bits, std::vector<ekTiffColor>& map);
    ekStatus copyMap(const std::vector<ekTiffColor>& from, std::vector<ekTiffColor>& to);
    bool usesFirstMap(const ekTiffGeometry& g, int format) const;
    ekStatus walk(bool slices);
    bool isSlice(const ekTiffGeometry& first, int index);
    void findSubOverviews(const std::vector<DirOffset>& subs);
    ekStatus readTags(int level, uint64_t firstDir);
    ekStatus selectSlice(Reader& r, int z);
    int64_t stripOrTile(int px, int py, int plane) const;
    ekStatus decode(Reader& r, int64_t index, void* buf, int64_t bytes);
    ekStatus readWith(Reader& r, int px, int py, int z, int plane, void* buf);
    void fillUnstored(int plane, void* buf) const;

    int fd = -1;
    uint64_t fileBytes = 0;
    tiff* tif = nullptr;  // the handle the tags are read from while opening
    std::mutex readersMutex;
    Reader* idle = nullptr;     // handles no thread is using
    Reader* readers = nullptr;  // every handle, for closing
    // Written while opening only: the threads that decode pages read them.
    std::vector<DirOffset> dirOffsets;  // of every slice's directory
    std::vector<DirOffset> overviews;   // of every reduced-resolution directory
    Format fmt;                         // of the directory shown
    std::vector<ekTiffColor> firstMap;  // of a palette image's full resolution, for its overviews
    ekTiffLayout& lay = fmt.lay;        // the image's layout
    bool paletteIndices = false;        // palette images as indices
    ekTiffTagSet tagSet;
    bool hasNodata = false;
    double nodataValue = 0;
    std::mutex messageMutex;
    bool messageIsError = false;
    char msg[512] = {0};
};

#endif  // EKS_TIFF_TIFF_FILE_H
