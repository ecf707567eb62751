// SPDX-License-Identifier: Apache-2.0
// ekTiffImg: an image over one tiled (or stripped) TIFF file, read and written
// page by page through a bounded page cache. Part of the optional companion
// library eks_tiff (CMake: eks::tiff); the core library does not need it.
#ifndef EKS_TIFF_H
#define EKS_TIFF_H

#include <cstdint>

#include "eks/images.h"

// EKS_TIFF_API marks what the companion library exports.
#if defined(_WIN32)
#if defined(EKS_BUILDING_TIFF)
#define EKS_TIFF_API __declspec(dllexport)
#else
#define EKS_TIFF_API __declspec(dllimport)
#endif
#else
#define EKS_TIFF_API __attribute__((visibility("default")))
#endif

// Compression of a file the image creates; the values are the TIFF tag's.
// JPEG takes 8-bit data only (RGB is stored as YCbCr), WebP 8-bit data of 3
// or 4 channels; LERC and WebP are lossless unless given a maximum error or
// a quality.
enum ekTiffCompression {
    ekTiffNone = 1,
    ekTiffLZW = 5,
    ekTiffJPEG = 7,
    ekTiffDeflate = 8,
    ekTiffPackBits = 32773,
    ekTiffLERC = 34887,
    ekTiffZSTD = 50000,
    ekTiffWebP = 50001,
};

// A raw tag of a file: `count` values of TIFF field type `type` (1 BYTE,
// 2 ASCII with its terminating zero, 3 SHORT, 4 LONG, 11 FLOAT, 12 DOUBLE,
// 16 LONG8, ...) in the machine's byte order at `data`.
struct ekTiffTag {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    const void* data = nullptr;
};

// How pixels of a reduced-resolution level are computed from the full one.
enum ekTiffResampling {
    ekTiffNearest = 0,
    ekTiffAverage = 1,
    ekTiffMode = 2,
};

// How the opening constructor reads a file.
struct ekTiffOpenOptions {
    int level = 0;               // 0: the full resolution; k: the k-th overview
    bool paletteIndices = false; // palette images as their indices, not as RGB
};

// Photometric interpretation of a created file. The automatic choice is RGB
// for 3 or 4 channels of 8- or 16-bit unsigned data (a fourth channel is an
// unspecified extra sample, never alpha) and min-is-black for everything else;
// ekTiffRGBA stores a fourth channel as unassociated alpha. RGB and RGBA need
// at least 3 and 4 channels.
enum ekTiffPhotometric {
    ekTiffAutoPhotometric = 0,
    ekTiffMinIsBlack = 1,
    ekTiffRGB = 2,
    ekTiffRGBA = 3,
};

// How the creating constructor lays out a new file; the defaults make a
// 256 x 256-tiled, uncompressed file with the automatic photometric.
struct ekTiffCreateOptions {
    int tileWidth = 256;  // positive multiples of 16
    int tileHeight = 256;
    ekTiffCompression compression = ekTiffNone;
    ekTiffPhotometric photometric = ekTiffAutoPhotometric;
    int level = 0;          // Deflate 1..9, ZSTD 1..22; 0: the codec's default
    int predictor = 1;      // 1 none, 2 horizontal differencing, 3 floating point
    int quality = 0;        // JPEG and WebP 1..100; 0: JPEG 75, WebP lossless
    double maxError = 0;    // LERC; 0: lossless
    bool cloudOptimized = false;  // close() writes directories first, overviews smallest first
    const ekTiffTag* tags = nullptr;  // more tags for the file (GeoTIFF keys, nodata), copied
    int tagCount = 0;
};

// ---------------------------------------------------------------------------
// ekTiffImg: a seed image whose pixels live in a TIFF file.
//
// Attributes come from the file's tags and cannot be set (only the fill,
// minimum, maximum and scale, as on every image):
//   size        width and height; the first directory (page) of the file and
//               the full-resolution directories after it that agree with it
//               (see below) as slices; samples per pixel as channels (a
//               palette image read as RGB: 3);
//   data type   1-bit unsigned as ekBit; 8, 16 and 32-bit signed and unsigned
//               integers; 32 and 64-bit floats; 16-bit floats as ekFloat
//               (exactly); unsigned integers of any other size up to 32 bits
//               (2, 4, 12, 24-bit, ...) widened to the next of ekUChar,
//               ekUShort and ekULong; palette images
//               read as RGB: ekUChar when every entry of the colour map is a
//               multiple of 257 (a map of 8-bit colours, as GDAL writes
//               them), else ekUShort, the map's values as stored;
//   order       contiguous planes ekInterleaved, separate planes ekSeparate;
//   coordinate  the orientation tag: 1..8 are the spaces of the same number
//   space       (ekUpperLeft .. ekLeftLower), 1 when the tag is absent;
//   colour      min-is-white ekMinWhite; min-is-black ekGreyscale; RGB ekRGB
//   model       (4 samples: ekRGBA, but ekMultiSpectral when the file says
//               the fourth is an unspecified extra sample); separated
//               ekCMYK (3 samples: ekCMY);
//               YCbCr ekYCC (JPEG-compressed YCbCr is decoded to ekRGB);
//               palette ekRGB through the colour map, or with
//               ekTiffOpenOptions::paletteIndices ekColorIndex, the indices
//               as unsigned samples of one channel; any other count of
//               samples ekMultiSpectral;
//   compression the compression tag (recorded; libtiff decodes).
// Signed integers other than 8, 16 and 32-bit, unsigned integers past 32
// bits, floats other than 32 and 64-bit, complex samples, palette images of
// more than one sample or of indices past 16 bits, subsampled YCbCr other
// than JPEG-compressed, and codecs libtiff lacks are refused: the status is
// ekNotImplemented and getMessage() names what is unsupported and the
// nearest layout that is read. Files whose tags cannot describe an image (no
// size, a page of more than 1 GiB, a palette without a colour map) are
// refused with ekBadInput. Every later full-resolution directory becomes a
// slice while it passes the same checks and agrees with the first in
// geometry, orientation, sample type, photometric, subsampling and colour
// map; the slices end before the first that does not (a thumbnail, a mask),
// and the message names the tag that differs.
//
// Overviews. A directory marked as a reduced-resolution image (NewSubfileType
// 1, not a mask), in the chain of directories as GDAL writes them or among
// the first directory's SubIFDs, is an overview, not a slice. The opening
// constructor with ekTiffOpenOptions::level k opens the k-th of them, in the
// file's order (the chain's, then the SubIFDs'), as an image of one slice
// with its own size and pages; getOverviewCount() counts them at every
// level. The grey overviews GDAL writes of a palette image, without a colour
// map of their own, read through the full resolution's map.
//
// Tags. The GeoTIFF tags (33550, 33922, 34264, 34735, 34736, 34737) and
// GDAL's metadata and nodata tags (42112, 42113) are registered with libtiff,
// once per process, so that a file holding them opens without a warning.
// Every tag of the directory shown (for slices, the first) is kept raw, as
// the file stores it, but those that lay out the pixels: NewSubfileType,
// ImageWidth, ImageLength, BitsPerSample, Compression,
// PhotometricInterpretation, FillOrder, StripOffsets, Orientation,
// SamplesPerPixel, RowsPerStrip, StripByteCounts, PlanarConfiguration,
// Predictor, TileWidth, TileLength, TileOffsets, TileByteCounts, SubIFDs,
// SampleFormat, JPEGTables and YCbCrSubSampling. A tag whose values cannot be
// kept (a type of unknown size, values outside the file, more than 64 MiB of
// tags) is left out with a warning. GDAL_NODATA's text, when it is a number,
// is getNodata()'s value and the default fill of every channel (of a palette
// image read as RGB, the colour of that index; in an integer type rounded half
// away from zero and clamped to its range, as GDAL converts it, so that -9999
// fills an 8-bit image with 0); an overview without the tag
// takes the full resolution's. A page the file never stored (a sparse file's
// tile or strip of byte count 0) reads as that value in every channel, as
// GDAL reads it; as zeros when the file has no nodata value.
//
// Pages. The file's tiles (or strips) are the pages: hasPages() is 1, the page
// size is (tile width, tile height, 1, samples per pixel), one channel per page
// for separate planes, and page positions are tile origins. A page is decoded
// into a page cache, least recently used first out, whose byte budget is 64 MiB
// unless set; it always keeps at least the page in use. Reads and writes go
// page by page through the cache, so an operation holds no more than the
// budget (or one page) besides the caller's buffer.
//
// Reading and writing take every caller layout the memory image takes (type,
// order, channel list or offset, coordinate space); a read fills the part of
// the box outside the image with the fill value; a write drops it.
//
// Writing. The creating constructor makes a new tiled file of one slice. Its
// tiles start as zeros, so the file is complete at every moment. A write goes
// into cached pages marked dirty, which are encoded when evicted, by flush(),
// close() and the destructor. A file opened for reading refuses writes with
// ekNotAllowed.
//
// Nothing written is lost by a failure. An encoded tile never overwrites the
// bytes the file's directory names; the directory is rewritten by flush() and
// close() only after every dirty page was written, and takes effect through
// one small write of the file's header once everything it names is on the
// disk. So when the disk fills (or any write fails), flush() and close()
// answer ekBadInput with the reason in getMessage(), the file still reads as
// the last successful flush left it, and the pages that failed stay dirty in
// the cache: free space and flush or close again. Space that the directory
// no longer names is reused; close() rewrites a file whose dead bytes exceed
// a fifth of it compactly, into a new file in the same folder that replaces
// the original once it is complete and synced (when that fails, the original
// stays, complete but larger, and the message says so). The destructor can
// only record a failure: call close() to learn of it.
//
// Threads. An image opened for reading serves any number of threads at once
// (reads, page locks and attribute queries; set the budget, fill and thread
// count first): a page several threads want is decoded once, and the budget
// holds plus at most one page per reading thread. A created image serves one
// thread at a time. Reads that need two or more compressed pages the cache
// lacks decode them on a process-wide pool, flushes and evictions encode
// several dirty pages there; see setThreads().
//
// Page locks. lockPageSet hands out the cached page itself for every request
// at a page origin (x, y multiples of the tile size, z a slice, c 0 or, for
// separate planes, a channel); a locked page is never evicted. A request
// outside the image gets no page and ekOkay; one inside but off the page grid
// gets no page and ekBadIndex. On a writable image an unlocked page counts as
// written (dirty); on a read-only one the caller must not write into it.
// Pages still locked when the image is destroyed go with it.
//
// Failures never stop the process and never reach its standard error:
// libtiff's errors and warnings are recorded as the image's message. Statuses:
// ekBadInput when the file cannot be opened, read or written (a corrupt or
// truncated tile fails that page only; a read fills that page's part of the
// buffer with the fill value and returns ekBadInput after moving the rest),
// ekNotImplemented for layouts it cannot represent, ekBadAttribute for
// creation arguments it cannot use, ekNoMemory when a page cannot be had.
//
// Not copyable. The file stays open until close() or the destructor.
class EKS_TIFF_API ekTiffImg : public ekSIDImage {
public:
    static ekClassList classList;  // "ekTiffImg", parent ekImage::classList

    // Opens `path` for reading.
    explicit ekTiffImg(const char* path);
    // Opens overview `options.level` of `path` (0: the full resolution, 1
    // the first overview), palette images as indices when asked; a level
    // past the last, or negative, is ekBadInput, and the message says how
    // many overviews there are.
    ekTiffImg(const char* path, const ekTiffOpenOptions& options);
    // Creates `path` (replacing a file of that name): size.x × size.y, size.c
    // channels, one slice (size.z must be 1), in ekInterleaved or ekSeparate
    // order, tiles tileWidth × tileHeight (positive multiples of 16).
    ekTiffImg(const char* path, const ekSize& size, ekType type, ekOrder order,
              const ekTiffCreateOptions& options);
    // The same with tiles tileWidth x tileHeight, the automatic photometric.
    ekTiffImg(const char* path, const ekSize& size, ekType type, ekOrder order, int tileWidth,
              int tileHeight, ekTiffCompression compression);
    ekTiffImg(const ekTiffImg&) = delete;
    ekTiffImg& operator=(const ekTiffImg&) = delete;
    // Writes the dirty pages and closes the file, as close() does; a failure
    // here can only be recorded, so call close() to learn of it.
    ~ekTiffImg() override;

    int derivesFrom(ekClassList* c) override;
    char* getClassName(int n) override;
    ekClassList* getClassId() override;

    // Why the file did not open, or the last failure or libtiff warning;
    // "" when there is none.
    const char* getMessage() const;
    // 1 when the image was created by this object and accepts writes.
    int isWritable() const;

    // The overviews (reduced-resolution levels) the file holds, whichever
    // level this image shows: levels 1 .. getOverviewCount() open.
    int getOverviewCount() const;
    // Writes reduced-resolution levels of a created image, each `factors[i]`
    // times smaller (2, 4, 8, ...), of the same layout and compression, page
    // by page. Flushes first. ekNotAllowed on an image opened for reading.
    ekStatus buildOverviews(const int* factors, int count, ekTiffResampling method);
    // The tags of the file this image does not interpret itself (GeoTIFF
    // keys, nodata, metadata; see Tags above), by number; null when the file
    // lacks the tag. The values stay valid while the image is open.
    const ekTiffTag* findTag(int tag) const;
    // Tag i of those, in the file's order, 0 <= i < getTagCount(); null past
    // the end.
    const ekTiffTag* getTag(int i) const;
    int getTagCount() const;
    // The GDAL_NODATA tag's value: 1 and `value` when the file has one whose
    // text is a number.
    int getNodata(double& value) const;

    // Byte budget of the page cache (default 64 MiB); a smaller budget evicts
    // at once (dirty pages are encoded). Negative values count as 0.
    ekStatus setCacheBytes(int64_t bytes);
    int64_t getCacheBytes() const;
    // Threads that decode the pages of one read, and encode the pages of one
    // flush or of the overviews being built: 0 is the number of cores, 1
    // uses no pool (the caller's thread does it all). With n above 1, a read
    // decodes on n - 1 workers of the pool and the caller, which also moves
    // the decoded pages into its buffer, and a flush (or an eviction of dirty
    // pages, or buildOverviews) encodes on n - 1 workers and the caller. The default is the environment variable EKS_NUM_THREADS
    // when it is a positive number, else the number of cores. Takes effect
    // for the next read or flush; ekBadInput for a negative number.
    ekStatus setThreads(int n);
    int getThreads() const;
    // Encodes every dirty page and writes the directory: the file on disk is
    // then complete. ekOkay on a read-only image.
    ekStatus flush();
    // Writes every dirty page and the directory, then closes the file, and
    // says whether all of it reached the disk. A failed close leaves the image
    // open with its unwritten pages, so that the caller can free space and
    // close again. Locked tiles are released first, as at destruction (they
    // are left empty); pages locked through lockPageSet and not unlocked make
    // it answer ekNotAllowed, the image open. After a close that succeeded
    // every call, a second close() included, answers ekNotAllowed.
    ekStatus close();
    // 1 once close() has succeeded.
    int isClosed() const;
    // 1 when writes are held that have not reached the file yet (dirty pages
    // or a directory not written since): flush() or close() would write them.
    int hasUnwrittenData() const;
    // Counters of the page cache since the image was opened.
    int64_t getCacheHits() const;
    int64_t getCacheMisses() const;
    int64_t getCacheEvictions() const;

    ekStatus getSubTile3D(int x, int y, int z, int nx, int ny, int nz, void* data, int bx, int by,
                          int bz, int bnx, int bny, int bnz, const ekConfig* cfg) override;
    ekStatus setSubTile3D(int x, int y, int z, int nx, int ny, int nz, void* data, int bx, int by,
                          int bz, int bnx, int bny, int bnz, const ekConfig* cfg) override;
    int hasPages() override { return 1; }
    ekStatus lockPageSet(ekLockRequest* requests, int mode, int count) override;
    void unlockPageSet(ekLockRequest* requests, int count) override;

    struct State;  // the file and the page cache; internal

protected:
    void reset() override;
    char* getDefaultDescription() override;  // "TIFF file"
    // The file is the end of every seed chain: there is nothing to merge into.
    void MergeChangesIntoSeed() override {}

private:
    EKS_LOCAL void initAttributes();
    EKS_LOCAL ekStatus closeFile();
    EKS_LOCAL ekStatus buildLevels(const int* factors, int count, ekTiffResampling method);

    State* state;  // owned; null only when it could not be allocated
};

#endif  // EKS_TIFF_H
