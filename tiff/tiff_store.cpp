// SPDX-License-Identifier: Apache-2.0
// ekTiffStore: creating a tiled file, placing encoded tiles in space the
// file's directory does not name, committing directories, and compacting the
// file when it is closed.
#include "tiff/tiff_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint64_t kClassicLimit = 0xFFFFFFFFu;

// The photometric a created file gets: the caller's, or RGB for 3 or 4
// channels of 8- or 16-bit unsigned data and min-is-black otherwise.
// ekTiffAutoPhotometric when the choice does not fit the channels.
ekTiffPhotometric resolvePhotometric(ekTiffPhotometric asked, int channels, ekType type) {
    switch (asked) {
        case ekTiffAutoPhotometric: {
            const bool rgb =
                (channels == 3 || channels == 4) && (type == ekUChar || type == ekUShort);
            return rgb ? ekTiffRGB : ekTiffMinIsBlack;
        }
        case ekTiffMinIsBlack:
            return asked;
        case ekTiffRGB:
            return channels >= 3 ? asked : ekTiffAutoPhotometric;
        case ekTiffRGBA:
            return channels >= 4 ? asked : ekTiffAutoPhotometric;
    }
    return ekTiffAutoPhotometric;
}

// What a failed readAt means when errno gives no reason: the file ended.
constexpr const char* kFileEnds = "the file ends before it";

bool readAt(int fd, uint64_t offset, void* dst, uint64_t n) {
    char* p = static_cast<char*>(dst);
    errno = 0;
    while (n > 0) {
        const ssize_t got = ::pread(fd, p, size_t(n), off_t(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got;
        offset += uint64_t(got);
        n -= uint64_t(got);
    }
    return true;
}

}  // namespace

ekTiffStore::~ekTiffStore() {
    if (fd >= 0) ::close(fd);
    std::free(path);
}

ekStatus ekTiffStore::fail(const char* what, const char* otherwise) {
    const int e = errno;
    messages.note(true, "%s: %s", what, e != 0 ? std::strerror(e) : otherwise);
    return ekBadInput;
}

bool ekTiffStore::writeAt(int target, uint64_t offset, const void* src, uint64_t n) {
    const char* p = static_cast<const char*>(src);
    errno = 0;
    while (n > 0) {
        const ssize_t put = ::pwrite(target, p, size_t(n), off_t(offset));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (put == 0) errno = ENOSPC;
            return false;
        }
        p += put;
        offset += uint64_t(put);
        n -= uint64_t(put);
    }
    return true;
}

bool ekTiffStore::syncData(int target) {
    errno = 0;
    return ::fdatasync(target) == 0 || errno == EINVAL;  // EINVAL: the file cannot sync
}

// First fit in the free space, else the end of the file. An extent of 0
// bytes at offset 0 when a classic file would pass 4 GiB (errno EFBIG, so
// that the failure's message says why rather than what errno held before).
ekTiffStore::Extent ekTiffStore::allocate(uint64_t bytes) {
    const uint64_t need = ekTiffSpan(bytes);
    for (auto it = freeSpace.begin(); it != freeSpace.end(); ++it) {
        if (it->second < need) continue;
        const uint64_t at = it->first.at, left = it->second - need;
        freeSpace.erase(it);
        if (left > 0) freeSpace.emplace(Offset{at + need}, left);
        return {at, bytes};
    }
    if (!big && eof + need > kClassicLimit) {
        errno = EFBIG;
        return {0, 0};
    }
    const Extent e{eof, bytes};
    eof += need;
    return e;
}

// Gives an extent back to the free space, merged with its neighbours; free
// space at the end of the file is cut off.
void ekTiffStore::release(const Extent& e) {
    if (e.offset == 0 || e.offset == zeroTile.offset) return;
    uint64_t at = e.offset, n = ekTiffSpan(e.bytes);
    auto next = freeSpace.lower_bound(Offset{at});
    if (next != freeSpace.end() && next->first.at == at + n) {
        n += next->second;
        next = freeSpace.erase(next);
    }
    if (next != freeSpace.begin()) {
        auto prev = std::prev(next);
        if (prev->first.at + prev->second == at) {
            at = prev->first.at;
            n += prev->second;
            freeSpace.erase(prev);
        }
    }
    if (at + n == eof) {
        eof = at;
        if (::ftruncate(fd, off_t(eof)) != 0) {
        }  // best effort: the space stays dead
        return;
    }
    try {
        freeSpace.emplace(Offset{at}, n);
    } catch (...) {  // out of memory: the space stays dead until compaction
    }
}

uint64_t ekTiffStore::liveBytes() const {
    uint64_t live = (big ? 16 : 8) + ekTiffSpan(directory.bytes);
    bool zeros = false;
    for (const Extent& e : current) {
        if (e.offset == zeroTile.offset) {
            zeros = true;
        } else {
            live += ekTiffSpan(e.bytes);
        }
    }
    return zeros ? live + ekTiffSpan(zeroTile.bytes) : live;
}

// --- Creating ---------------------------------------------------------------------

ekStatus ekTiffStore::create(const char* path_, const ekSize& size, ekType type, ekOrder order,
                             const ekTiffCreateOptions& options, ekTiffLayout& layout) {
    const int tileW = options.tileWidth, tileH = options.tileHeight;
    const int compression = int(options.compression);
    uint16_t bits = 8, sampleFormat = SAMPLEFORMAT_UINT;
    if (path_ == nullptr) {
        messages.note(true, "no file name");
        return ekBadInput;
    }
    if (size.x < 1 || size.y < 1 || size.c < 1 || size.c > 0xFFFF ||
        !ekTiffTypeTags(type, bits, sampleFormat) ||
        (order != ekInterleaved && order != ekSeparate && order != ekSequential)) {
        messages.note(true, "cannot create a file of this size, type or order");
        return ekBadAttribute;
    }
    if (tileW < 16 || tileH < 16 || tileW % 16 != 0 || tileH % 16 != 0) {
        messages.note(true, "tile size %d x %d is not a positive multiple of 16", tileW, tileH);
        return ekBadAttribute;
    }
    const ekStatus checked = checkCodec(options, type, order, size.c);
    if (checked != ekOkay) return checked;
    const ekTiffPhotometric ph = resolvePhotometric(options.photometric, size.c, type);
    if (ph == ekTiffAutoPhotometric) {
        messages.note(true, "photometric %d does not fit %d channels (RGB needs 3, RGBA 4)",
                      int(options.photometric), size.c);
        return ekBadAttribute;
    }
    if (size.z < 1 || order == ekSequential) {
        messages.note(true,
                      "unsupported: a created file holds slices in interleaved or "
                      "separate order");
        return ekNotImplemented;
    }
    ekTiffLayout l;
    l.width = size.x;
    l.height = size.y;
    l.slices = size.z;
    l.channels = size.c;
    l.type = type;
    l.order = order == ekSeparate && size.c > 1 ? ekSeparate : ekInterleaved;
    l.space = ekUpperLeft;
    l.model = ph == ekTiffMinIsBlack            ? (size.c == 1 ? ekGreyscale : ekMultiSpectral)
              : size.c == 3                     ? ekRGB
              : size.c == 4 && ph == ekTiffRGBA ? ekRGBA
                                                : ekMultiSpectral;
    l.compression = compression;
    l.tiled = true;
    l.pageW = tileW;
    l.pageH = tileH;
    l.pageChans = l.order == ekSeparate ? 1 : l.channels;
    l.planes = l.order == ekSeparate ? l.channels : 1;
    l.pagesAcross = int32_t((int64_t(l.width) + tileW - 1) / tileW);
    l.pagesDown = int32_t((int64_t(l.height) + tileH - 1) / tileH);
    const int64_t pageBytes = ekDataSize(type, 1) == 0
                                  ? int64_t(tileW) * tileH * l.pageChans / 8
                                  : int64_t(ekDataSize(type, 1)) * tileW * tileH * l.pageChans;
    if (pageBytes > (int64_t(1) << 30)) {
        messages.note(true, "a tile of %d x %d x %d samples is too large", tileW, tileH,
                      l.pageChans);
        return ekBadAttribute;
    }
    l.pageBytes = int32_t(pageBytes);
    lay = l;
    format.width = uint32_t(tileW);
    format.height = uint32_t(tileH);
    format.samples = uint16_t(l.pageChans);
    format.bits = bits;
    format.format = sampleFormat;
    format.compression = uint16_t(compression);
    format.predictor = uint16_t(options.predictor);
    format.level = options.level;
    format.quality = options.quality;
    format.maxError = options.maxError;
    photometric = ph == ekTiffMinIsBlack ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB;
    extraAlpha = ph == ekTiffRGBA ? EXTRASAMPLE_UNASSALPHA : EXTRASAMPLE_UNSPECIFIED;
    // The page's own photometric: JPEG stores RGB as YCbCr, WebP takes RGB.
    const bool rgbPage = photometric == PHOTOMETRIC_RGB && l.pageChans >= 3;
    const bool ycbcr = rgbPage && compression == COMPRESSION_JPEG && l.pageChans == 3;
    format.photometric = ycbcr     ? PHOTOMETRIC_YCBCR
                         : rgbPage ? PHOTOMETRIC_RGB
                                   : PHOTOMETRIC_MINISBLACK;
    if (ycbcr) photometric = PHOTOMETRIC_YCBCR;
    // Past 3 GiB of pixels the classic format's 32-bit offsets may not reach.
    big = int64_t(ekDataSize(type, 1)) * size.x * size.y * size.z * size.c > (int64_t(3) << 30);
    cloudOptimized = options.cloudOptimized;

    path = strdup(path_);
    if (path == nullptr) return ekNoMemory;
    fd = ::open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        messages.note(true, "cannot create %s: %s", path, std::strerror(errno));
        return ekBadInput;
    }
    const int64_t perSlice = int64_t(l.pagesAcross) * l.pagesDown * l.planes;
    try {
        current.assign(size_t(perSlice * size.z), Extent{});
        for (int z = 0; z < size.z; ++z)
            levels.push_back({l.width, l.height, l.pagesAcross, l.pagesDown, perSlice * z, false});
        for (int i = 0; i < options.tagCount && options.tags != nullptr; ++i) {
            const ekTiffTag& t = options.tags[i];
            const uint64_t n = ekTiffDirectory::typeBytes(t.type) * t.count;
            if (n == 0 || t.data == nullptr) continue;
            tags.push_back({t.tag, t.type, t.count, std::vector<Byte>(size_t(n))});
            std::memcpy(tags.back().bytes.data(), t.data, size_t(n));
        }
    } catch (...) {
        return ekNoMemory;
    }
    // The header, with no directory yet, then one zero tile that every tile
    // names until it is written.
    const unsigned char classic[8] = {'I', 'I', 42, 0, 0, 0, 0, 0};
    const unsigned char bigHeader[16] = {'I', 'I', 43, 0, 8, 0, 0, 0};
    eof = big ? 16 : 8;
    if (!writeAt(fd, 0, big ? bigHeader : classic, eof)) return fail("cannot write the header");
    ekStatus s = appendZeroTile();
    if (s != ekOkay) return s;
    for (Extent& e : current) e = zeroTile;
    try {
        committed = current;
    } catch (...) {
        return ekNoMemory;
    }
    changed = true;
    s = commit();
    if (s == ekOkay) layout = lay;
    return s;
}

namespace {

struct Codec {
    int value;
    const char* name;
};
constexpr Codec kCodecs[] = {
    {COMPRESSION_NONE, "none"},         {COMPRESSION_LZW, "LZW"},
    {COMPRESSION_JPEG, "JPEG"},         {COMPRESSION_ADOBE_DEFLATE, "Deflate"},
    {COMPRESSION_PACKBITS, "PackBits"}, {COMPRESSION_LERC, "LERC"},
    {COMPRESSION_ZSTD, "ZSTD"},         {COMPRESSION_WEBP, "WebP"}};

const char* codecName(int value) {
    for (const Codec& c : kCodecs)
        if (c.value == value) return c.name;
    return nullptr;
}

}  // namespace

// The codec, its settings and the predictor must suit the data: what cannot
// be written is refused before the file is touched, naming the codec or the
// predictor.
ekStatus ekTiffStore::checkCodec(const ekTiffCreateOptions& o, ekType type, ekOrder order,
                                 int channels) {
    const int c = int(o.compression);
    const char* name = codecName(c);
    if (name == nullptr) {
        messages.note(true,
                      "compression %d is none of none (1), LZW (5), JPEG (7), Deflate (8), "
                      "PackBits (32773), LERC (34887), ZSTD (50000), WebP (50001)",
                      c);
        return ekBadAttribute;
    }
    if (!TIFFIsCODECConfigured(uint16_t(c))) {
        messages.note(true, "unsupported: this libtiff has no %s codec", name);
        return ekNotImplemented;
    }
    const int pageChans = order == ekSeparate ? 1 : channels;
    const bool eightBit = type == ekUChar;
    if (c == COMPRESSION_JPEG && (!eightBit || (pageChans != 1 && pageChans != 3))) {
        messages.note(true,
                      "JPEG takes 8-bit unsigned data of 1 or 3 interleaved channels "
                      "(or separate planes)");
        return ekBadAttribute;
    }
    if (c == COMPRESSION_WEBP &&
        (!eightBit || order == ekSeparate || (channels != 3 && channels != 4))) {
        messages.note(true, "WebP takes 8-bit unsigned data of 3 or 4 interleaved channels");
        return ekBadAttribute;
    }
    if ((c == COMPRESSION_JPEG || c == COMPRESSION_WEBP) && (o.quality < 0 || o.quality > 100)) {
        messages.note(true, "%s quality %d is not 1..100 (0: the default)", name, o.quality);
        return ekBadAttribute;
    }
    if (c == COMPRESSION_LERC && !(o.maxError >= 0)) {
        messages.note(true, "LERC maximum error %g is negative", o.maxError);
        return ekBadAttribute;
    }
    const int maxLevel = c == COMPRESSION_ADOBE_DEFLATE ? 9 : c == COMPRESSION_ZSTD ? 22 : -1;
    if (maxLevel > 0 && (o.level < 0 || o.level > maxLevel)) {
        messages.note(true, "%s level %d is not 1..%d (0: the default)", name, o.level, maxLevel);
        return ekBadAttribute;
    }
    if (o.predictor < 1 || o.predictor > 3) {
        messages.note(true, "predictor %d is not 1 (none), 2 (horizontal) or 3 (floating point)",
                      o.predictor);
        return ekBadAttribute;
    }
    const bool predicts =
        c == COMPRESSION_LZW || c == COMPRESSION_ADOBE_DEFLATE || c == COMPRESSION_ZSTD;
    if (o.predictor != 1 && !predicts) {
        messages.note(true, "predictor %d does not go with %s compression", o.predictor, name);
        return ekBadAttribute;
    }
    if (o.predictor == 3 && type != ekFloat && type != ekDouble) {
        messages.note(true, "predictor 3 (floating point) takes float data");
        return ekBadAttribute;
    }
    if (o.predictor == 2 && type == ekBit) {
        messages.note(true, "predictor 2 (horizontal) does not take 1-bit data");
        return ekBadAttribute;
    }
    return ekOkay;
}

ekStatus ekTiffStore::addLevel(int32_t width, int32_t height, int64_t& first) {
    if (fd < 0 || width < 1 || height < 1) return ekBadInput;
    const int32_t across = int32_t((int64_t(width) + lay.pageW - 1) / lay.pageW);
    const int32_t down = int32_t((int64_t(height) + lay.pageH - 1) / lay.pageH);
    const size_t n = size_t(int64_t(across) * down * lay.planes);
    first = int64_t(current.size());
    try {
        levels.push_back({width, height, across, down, first, true});
        current.resize(current.size() + n, zeroTile);
        committed.resize(committed.size() + n, Extent{});
    } catch (...) {
        if (levels.size() > 0 && levels.back().first == first) levels.pop_back();
        current.resize(size_t(first));
        committed.resize(size_t(first));
        return ekNoMemory;
    }
    changed = true;
    return ekOkay;
}

ekStatus ekTiffStore::appendZeroTile() {
    void* zeros = std::calloc(size_t(lay.pageBytes), 1);
    if (zeros == nullptr) return ekNoMemory;
    ekTiffBytes encoded;
    ekStatus s = ekTiffEncodePage(format, zeros, lay.pageBytes, encoded, messages);
    std::free(zeros);
    if (s != ekOkay) return s;
    zeroTile = allocate(encoded.size);
    if (zeroTile.offset == 0) return fail("the file would pass 4 GiB");
    if (!writeAt(fd, zeroTile.offset, encoded.data, encoded.size))
        return fail("cannot write a tile");
    return ekOkay;
}

// --- Tiles --------------------------------------------------------------------------

ekStatus ekTiffStore::readPage(int64_t index, void* pixels) {
    if (fd < 0 || index < 0 || uint64_t(index) >= current.size()) return ekBadInput;
    const Extent e = current[size_t(index)];
    if (e.offset == zeroTile.offset) {
        std::memset(pixels, 0, size_t(lay.pageBytes));
        return ekOkay;
    }
    void* encoded = std::malloc(size_t(e.bytes == 0 ? 1 : e.bytes));
    if (encoded == nullptr) return ekNoMemory;
    const ekStatus s =
        readAt(fd, e.offset, encoded, e.bytes)
            ? ekTiffDecodePage(format, encoded, e.bytes, pixels, lay.pageBytes, messages)
            : fail("cannot read a tile", kFileEnds);
    std::free(encoded);
    return s;
}

ekStatus ekTiffStore::writePage(int64_t index, const void* pixels) {
    ekTiffBytes encoded;
    const ekStatus s = encode(pixels, encoded);
    return s == ekOkay ? place(index, encoded) : s;
}

ekStatus ekTiffStore::encode(const void* pixels, ekTiffBytes& out) {
    return ekTiffEncodePage(format, pixels, lay.pageBytes, out, messages);
}

ekStatus ekTiffStore::place(int64_t index, const ekTiffBytes& encoded) {
    if (fd < 0 || index < 0 || uint64_t(index) >= current.size()) return ekBadInput;
    const Extent e = allocate(encoded.size);
    if (e.offset == 0) return fail("the file would pass 4 GiB");
    if (!writeAt(fd, e.offset, encoded.data, encoded.size)) {
        const ekStatus f = fail("cannot write a tile");
        release(e);
        return f;
    }
    Extent& slot = current[size_t(index)];
    // A tile written since the last directory is named by nothing on disk.
    if (slot != committed[size_t(index)]) release(slot);
    slot = e;
    changed = true;
    return ekOkay;
}

// --- Directories ----------------------------------------------------------------------

// The tags of one level: its size and tiles, and the file's layout, codec
// and colour; the tags given at creation go with the first directory.
void ekTiffStore::describeLevel(const Level& level, const std::vector<Extent>& tiles,
                                ekTiffDirectory& d) const {
    using Values = ekTiffDirectory::Values;
    using Value = ekTiffDirectory::Value;
    const size_t n = size_t(int64_t(level.across) * level.down * lay.planes);
    Values offsets(n), counts(n);
    for (size_t i = 0; i < n; ++i) {
        offsets[i].v = tiles[size_t(level.first) + i].offset;
        counts[i].v = tiles[size_t(level.first) + i].bytes;
    }
    const int colour = photometric == PHOTOMETRIC_MINISBLACK ? 1 : 3;
    const int extra = lay.channels - colour;
    Values kinds(size_t(extra > 0 ? extra : 0), Value{EXTRASAMPLE_UNSPECIFIED});
    if (!kinds.empty()) kinds[0].v = extraAlpha;
    const uint16_t offsetType = big ? TIFF_LONG8 : TIFF_LONG;
    d.add(TIFFTAG_SUBFILETYPE, TIFF_LONG, level.reduced ? FILETYPE_REDUCEDIMAGE : 0);
    d.add(TIFFTAG_IMAGEWIDTH, TIFF_LONG, uint64_t(level.width));
    d.add(TIFFTAG_IMAGELENGTH, TIFF_LONG, uint64_t(level.height));
    d.add(TIFFTAG_BITSPERSAMPLE, TIFF_SHORT, Values(size_t(lay.channels), Value{format.bits}));
    d.add(TIFFTAG_COMPRESSION, TIFF_SHORT, format.compression);
    d.add(TIFFTAG_PHOTOMETRIC, TIFF_SHORT, photometric);
    d.add(TIFFTAG_ORIENTATION, TIFF_SHORT, ORIENTATION_TOPLEFT);
    d.add(TIFFTAG_SAMPLESPERPIXEL, TIFF_SHORT, uint64_t(lay.channels));
    d.add(TIFFTAG_PLANARCONFIG, TIFF_SHORT,
          lay.order == ekSeparate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    if (format.predictor != 1) d.add(TIFFTAG_PREDICTOR, TIFF_SHORT, format.predictor);
    d.add(TIFFTAG_TILEWIDTH, TIFF_LONG, uint64_t(lay.pageW));
    d.add(TIFFTAG_TILELENGTH, TIFF_LONG, uint64_t(lay.pageH));
    d.add(TIFFTAG_TILEOFFSETS, offsetType, offsets);
    d.add(TIFFTAG_TILEBYTECOUNTS, offsetType, counts);
    if (!kinds.empty()) d.add(TIFFTAG_EXTRASAMPLES, TIFF_SHORT, kinds);
    d.add(TIFFTAG_SAMPLEFORMAT, TIFF_SHORT, Values(size_t(lay.channels), Value{format.format}));
    if (photometric == PHOTOMETRIC_YCBCR) {
        d.add(TIFFTAG_YCBCRSUBSAMPLING, TIFF_SHORT, Values{Value{2}, Value{2}});
        d.add(TIFFTAG_REFERENCEBLACKWHITE, TIFF_RATIONAL,
              Values{Value{0}, Value{1}, Value{255}, Value{1}, Value{128}, Value{1}, Value{255},
                     Value{1}, Value{128}, Value{1}, Value{255}, Value{1}});
    }
    if (format.compression == COMPRESSION_LERC)  // format version 4, no further compression
        d.add(TIFFTAG_LERC_PARAMETERS, TIFF_LONG, Values{Value{4}, Value{0}});
    if (&level == &levels.front())
        for (const Tag& t : tags) d.addRaw(t.tag, t.type, t.count, t.bytes.data());
}

// Every level's directory, one after the other from file offset `at`, each
// naming the next.
bool ekTiffStore::buildDirectory(uint64_t at, const std::vector<Extent>& tiles,
                                 ekTiffBytes& out) const {
    try {
        out.size = 0;
        uint64_t pos = 0;
        for (size_t i = 0; i < levels.size(); ++i) {
            ekTiffDirectory d(big);
            describeLevel(levels[i], tiles, d);
            const uint64_t bytes = d.bytes();
            const uint64_t next = i + 1 < levels.size() ? at + pos + bytes : 0;
            if (!d.write(out, pos, at + pos, next)) return false;
            pos += bytes;
        }
        return true;
    } catch (...) {
        return false;
    }
}

// Writes the directory for `tiles` at `at` of `target`, which must have room
// up to the returned `end`.
ekStatus ekTiffStore::writeDirectory(int target, uint64_t at, const std::vector<Extent>& tiles,
                                     uint64_t& end) {
    ekTiffBytes bytes;
    if (!buildDirectory(at, tiles, bytes)) return ekNoMemory;
    if (!writeAt(target, at, bytes.data, bytes.size)) return fail("cannot write the directory");
    end = at + bytes.size;
    return ekOkay;
}

// The header's pointer to the first directory: one small write, made after
// everything it leads to is on the disk, and synced itself.
ekStatus ekTiffStore::pointHeaderAt(int target, uint64_t dirOffset) {
    unsigned char le[8];
    for (int i = 0; i < 8; ++i) le[i] = static_cast<unsigned char>(dirOffset >> (8 * i));
    if (!syncData(target)) return fail("cannot sync the file");
    if (!writeAt(target, big ? 8 : 4, le, big ? 8 : 4)) return fail("cannot write the header");
    if (!syncData(target)) return fail("cannot sync the file");
    return ekOkay;
}

ekStatus ekTiffStore::commit() {
    if (fd < 0) return ekBadInput;
    if (!changed) return ekOkay;
    ekTiffBytes sizing;
    if (!buildDirectory(0, current, sizing)) return ekNoMemory;
    const Extent dir = allocate(sizing.size);
    if (dir.offset == 0) return fail("the file would pass 4 GiB");
    uint64_t end = 0;
    ekStatus s = writeDirectory(fd, dir.offset, current, end);
    if (s == ekOkay) s = pointHeaderAt(fd, dir.offset);
    if (s != ekOkay) {
        release(dir);  // the old directory still describes the file
        return s;
    }
    // What only the old directory named is free now.
    for (size_t i = 0; i < current.size(); ++i)
        if (current[i] != committed[i]) release(committed[i]);
    release(directory);
    directory = dir;
    committed = current;  // same size: no allocation
    changed = false;
    return ekOkay;
}

// --- Compaction and closing --------------------------------------------------------------

// Writes the file anew beside the original (header, the tiles in order, one
// zero tile at most, the directory), syncs it and renames it over the
// original. The original stays as it was when anything fails.
ekStatus ekTiffStore::compact(bool cloudOptimized) {
    // The new file's name (the original's with a unique suffix) and folder.
    struct Name {
        char* text;
        ~Name() { std::free(text); }
    };
    const size_t length = std::strlen(path);
    const Name tmpPath{static_cast<char*>(std::malloc(length + 8))};
    const Name folder{static_cast<char*>(std::malloc(length + 2))};
    if (tmpPath.text == nullptr || folder.text == nullptr) return ekNoMemory;
    std::snprintf(tmpPath.text, length + 8, "%s.XXXXXX", path);
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr) {
        std::strcpy(folder.text, ".");
    } else {
        const size_t n = slash == path ? 1 : size_t(slash - path);
        std::memcpy(folder.text, path, n);
        folder.text[n] = '\0';
    }
    const int out = ::mkostemp(tmpPath.text, O_CLOEXEC);
    if (out < 0) return fail("cannot create a file to compact into");
    struct stat st {};
    if (::fstat(fd, &st) == 0) ::fchmod(out, st.st_mode & 07777);  // the original's permissions
    std::vector<Extent> moved;
    std::vector<Index> order;
    ekTiffBytes sizing;
    void* buf = nullptr;
    ekStatus s = ekOkay;
    try {
        moved.assign(current.size(), Extent{});
        tileOrder(cloudOptimized, order);
    } catch (...) {
        s = ekNoMemory;
    }
    const uint64_t headerBytes = big ? 16 : 8;
    const unsigned char header[16] = {'I', 'I', uint8_t(big ? 43 : 42), 0, 8, 0, 0, 0};
    if (s == ekOkay && !writeAt(out, 0, header, headerBytes)) s = fail("cannot write the header");
    // A cloud-optimized file has its directories right after the header,
    // then the tiles; another has the directories last.
    if (s == ekOkay && cloudOptimized && !buildDirectory(0, current, sizing)) s = ekNoMemory;
    const uint64_t dirAt = headerBytes;
    uint64_t at = cloudOptimized ? ekTiffSpan(headerBytes + sizing.size) : headerBytes;
    Extent newZero;
    uint64_t bufBytes = 0;
    for (size_t k = 0; s == ekOkay && k < order.size(); ++k) {
        const size_t i = order[k].i;
        const Extent e = current[i];
        // Tiles never written share one zero tile, but in a cloud-optimized
        // file, whose readers expect every level's tiles in order.
        const bool zero = e.offset == zeroTile.offset && !cloudOptimized;
        if (zero && newZero.offset != 0) {
            moved[i] = newZero;
            continue;
        }
        if (e.bytes > bufBytes) {
            std::free(buf);
            buf = std::malloc(size_t(e.bytes));
            bufBytes = buf == nullptr ? 0 : e.bytes;
            if (buf == nullptr) s = ekNoMemory;
        }
        if (s == ekOkay && !readAt(fd, e.offset, buf, e.bytes))
            s = fail("cannot read a tile", kFileEnds);
        if (s == ekOkay && !writeAt(out, at, buf, e.bytes)) s = fail("cannot write a tile");
        moved[i] = {at, e.bytes};
        if (zero) newZero = moved[i];
        at += ekTiffSpan(e.bytes);
    }
    std::free(buf);
    uint64_t end = at, dirEnd = 0;
    const uint64_t dirStart = cloudOptimized ? dirAt : at;
    if (s == ekOkay) s = writeDirectory(out, dirStart, moved, dirEnd);
    if (!cloudOptimized) end = dirEnd;
    if (s == ekOkay) s = pointHeaderAt(out, dirStart);
    if (s == ekOkay && ::rename(tmpPath.text, path) != 0) s = fail("cannot replace the file");
    if (s != ekOkay) {
        ::close(out);
        ::unlink(tmpPath.text);
        return s;
    }
    // The folder's entry for the new file reaches the disk too.
    const int dirFd = ::open(folder.text, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    ::close(fd);
    fd = out;
    eof = end;
    zeroTile = newZero;
    directory = {dirStart, dirEnd - dirStart};
    current.swap(moved);
    committed = current;
    freeSpace.clear();
    return ekOkay;
}

// Every tile, in the order a rewrite writes them: the file's order, or for a
// cloud-optimized file the overviews from the smallest, then the full
// resolution, each level's tiles in order. Throws std::bad_alloc.
void ekTiffStore::tileOrder(bool cloudOptimized, std::vector<Index>& order) const {
    std::vector<const Level*> byLevel;
    for (const Level& level : levels) byLevel.push_back(&level);
    if (cloudOptimized)
        std::stable_sort(byLevel.begin(), byLevel.end(), [](const Level* a, const Level* b) {
            const auto rank = [](const Level* l) {
                return l->reduced ? int64_t(l->width) * l->height : INT64_MAX;
            };
            return rank(a) < rank(b);
        });
    for (const Level* level : byLevel) {
        const int64_t n = int64_t(level->across) * level->down * lay.planes;
        for (int64_t i = 0; i < n; ++i) order.push_back(Index{size_t(level->first + i)});
    }
}

ekStatus ekTiffStore::close() {
    if (fd < 0) return ekOkay;
    const ekStatus s = commit();
    if (s != ekOkay) return s;
    // A file with more than a fifth of dead bytes is rewritten compactly. A
    // failure there loses nothing: the file stays complete, only larger.
    if (cloudOptimized) {
        if (compact(true) != ekOkay)
            messages.note(false, "the file could not be laid out cloud-optimized; it is complete");
    } else if ((eof - liveBytes()) * 5 > eof && compact(false) != ekOkay) {
        messages.note(false, "the file could not be compacted; it is complete but larger");
    }
    errno = 0;
    const int closed = ::close(fd);
    fd = -1;
    return closed == 0 ? ekOkay : fail("cannot close the file");
}
