// SPDX-License-Identifier: Apache-2.0
// Raw tags: libtiff is told of the GeoTIFF and GDAL tags, and the tags a
// directory holds beside the pixels' layout are read from the file as stored,
// every value checked against the file before it is read.
#include "tiff/tiff_tags.h"

#include <tiffio.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "tiff/tiff_file.h"

namespace {

// --- Registration with libtiff ------------------------------------------------------

// As the GeoTIFF and GDAL programs declare them, so that a process that
// registers them too declares the same fields.
const TIFFFieldInfo kFields[] = {
    {33550, -1, -1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, const_cast<char*>("ModelPixelScaleTag")},
    {33922, -1, -1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, const_cast<char*>("ModelTiepointTag")},
    {34264, -1, -1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, const_cast<char*>("ModelTransformationTag")},
    {34735, -1, -1, TIFF_SHORT, FIELD_CUSTOM, 1, 1, const_cast<char*>("GeoKeyDirectoryTag")},
    {34736, -1, -1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, const_cast<char*>("GeoDoubleParamsTag")},
    {34737, -1, -1, TIFF_ASCII, FIELD_CUSTOM, 1, 0, const_cast<char*>("GeoASCIIParamsTag")},
    {42112, -1, -1, TIFF_ASCII, FIELD_CUSTOM, 1, 0, const_cast<char*>("GDALMetadata")},
    {42113, -1, -1, TIFF_ASCII, FIELD_CUSTOM, 1, 0, const_cast<char*>("GDALNoDataValue")},
};

TIFFExtendProc previousExtender = nullptr;

// Called by libtiff for every directory of every handle, on any thread.
void extend(TIFF* tif) {
    TIFFMergeFieldInfo(tif, kFields, sizeof kFields / sizeof kFields[0]);
    if (previousExtender != nullptr) previousExtender(tif);
}

// --- Reading a directory's tags -------------------------------------------------------

constexpr int kNodataTag = 42113;
constexpr uint16_t kAscii = 2;
// The tags of one directory are kept up to this many bytes: a tag claiming
// gigabytes is more likely corrupt than meant.
constexpr uint64_t kMaxTagBytes = uint64_t(64) << 20;

// Tags that lay out the pixels, which the image reads and answers for itself.
const uint16_t kInterpreted[] = {
    254,  // NewSubfileType
    256,  // ImageWidth
    257,  // ImageLength
    258,  // BitsPerSample
    259,  // Compression
    262,  // PhotometricInterpretation
    266,  // FillOrder
    273,  // StripOffsets
    274,  // Orientation
    277,  // SamplesPerPixel
    278,  // RowsPerStrip
    279,  // StripByteCounts
    284,  // PlanarConfiguration
    317,  // Predictor
    322,  // TileWidth
    323,  // TileLength
    324,  // TileOffsets
    325,  // TileByteCounts
    330,  // SubIFDs
    339,  // SampleFormat
    347,  // JPEGTables
    530,  // YCbCrSubSampling
};

bool interpreted(uint16_t tag) {
    for (uint16_t t : kInterpreted)
        if (t == tag) return true;
    return false;
}

// Bytes of one value of a TIFF field type, and the size of the words a
// swapped byte order reverses (a rational is two words); 0 for a type of
// unknown size.
struct TypeSize {
    uint8_t bytes, word;
};
TypeSize sizeOf(uint16_t type) {
    static const TypeSize kSizes[] = {
        {0, 0},  // 0: none
        {1, 1},  // BYTE
        {1, 1},  // ASCII
        {2, 2},  // SHORT
        {4, 4},  // LONG
        {8, 4},  // RATIONAL
        {1, 1},  // SBYTE
        {1, 1},  // UNDEFINED
        {2, 2},  // SSHORT
        {4, 4},  // SLONG
        {8, 4},  // SRATIONAL
        {4, 4},  // FLOAT
        {8, 8},  // DOUBLE
        {4, 4},  // IFD
        {0, 0},  // 14: none
        {0, 0},  // 15: none
        {8, 8},  // LONG8
        {8, 8},  // SLONG8
        {8, 8},  // IFD8
    };
    return type < sizeof kSizes / sizeof kSizes[0] ? kSizes[type] : TypeSize{0, 0};
}

void swapWords(uint8_t* p, uint64_t bytes, int word) {
    if (word < 2) return;
    for (uint64_t i = 0; i + uint64_t(word) <= bytes; i += uint64_t(word))
        for (int a = 0, b = word - 1; a < b; ++a, --b) {
            const uint8_t t = p[i + uint64_t(a)];
            p[i + uint64_t(a)] = p[i + uint64_t(b)];
            p[i + uint64_t(b)] = t;
        }
}

constexpr bool kHostBigEndian = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;

// An unsigned integer of `bytes` bytes at p, in the machine's byte order or,
// when `swapped`, the other one.
uint64_t readUint(const uint8_t* p, int bytes, bool swapped) {
    const bool bigEndian = swapped != kHostBigEndian;
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v = v << 8 | p[bigEndian ? i : bytes - 1 - i];
    return v;
}

bool readAt(int fd, void* buf, uint64_t n, uint64_t at) {
    char* p = static_cast<char*>(buf);
    while (n > 0) {
        const ssize_t got = ::pread(fd, p, size_t(n), off_t(at));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got;
        n -= uint64_t(got);
        at += uint64_t(got);
    }
    return true;
}

}  // namespace

void ekTiffRegisterTags() {
    static std::once_flag once;
    std::call_once(once, [] { previousExtender = TIFFSetTagExtender(extend); });
}

void ekTiffTagSet::clear() {
    for (Entry& e : tags) std::free(const_cast<void*>(e.tag.data));
    tags.clear();
}

ekStatus ekTiffTagSet::read(ekTiffFile& file, uint64_t offset, bool bigTiff, bool swapped) {
    clear();
    const int countBytes = bigTiff ? 8 : 2, entryBytes = bigTiff ? 20 : 12;
    const uint64_t fileBytes = file.bytes();
    uint8_t head[8];
    if (offset > fileBytes || fileBytes - offset < uint64_t(countBytes) ||
        !readAt(file.descriptor(), head, uint64_t(countBytes), offset)) {
        file.note(false, "the tags of the directory at %llu cannot be read",
                  static_cast<unsigned long long>(offset));
        return ekOkay;
    }
    // libtiff read this directory already; only as many entries as the file
    // holds are looked at.
    const uint64_t first = offset + uint64_t(countBytes);
    uint64_t n = readUint(head, countBytes, swapped);
    if (n > (fileBytes - first) / uint64_t(entryBytes))
        n = (fileBytes - first) / uint64_t(entryBytes);
    if (n > 65535) n = 65535;
    uint8_t* entries = static_cast<uint8_t*>(std::malloc(size_t(n * uint64_t(entryBytes)) + 1));
    if (entries == nullptr) return ekNoMemory;
    ekStatus s = ekOkay;
    if (!readAt(file.descriptor(), entries, n * uint64_t(entryBytes), first)) n = 0;
    uint64_t budget = kMaxTagBytes;
    uint64_t seen[65536 / 64] = {0};  // a bit per tag number: a tag is kept once, as libtiff does
    for (uint64_t i = 0; i < n && s == ekOkay; ++i) {
        const uint8_t* e = entries + i * uint64_t(entryBytes);
        const uint16_t tag = uint16_t(readUint(e, 2, swapped));
        const uint16_t type = uint16_t(readUint(e + 2, 2, swapped));
        const uint64_t count = readUint(e + 4, bigTiff ? 8 : 4, swapped);
        const uint64_t bit = uint64_t(1) << (tag % 64);
        if (interpreted(tag) || (seen[tag / 64] & bit) != 0) continue;
        seen[tag / 64] |= bit;
        if (!keep(file, tag, type, count, e + (bigTiff ? 12 : 8), bigTiff, swapped, budget))
            s = ekNoMemory;
    }
    std::free(entries);
    if (s != ekOkay) clear();
    return s;
}

// Reads one tag's values; false only when memory runs out.
bool ekTiffTagSet::keep(ekTiffFile& file, uint16_t tag, uint16_t type, uint64_t count,
                        const uint8_t* field, bool bigTiff, bool swapped, uint64_t& budget) {
    const TypeSize size = sizeOf(type);
    if (size.bytes == 0) {
        file.note(false, "tag %u of unknown type %u is not kept", unsigned(tag), unsigned(type));
        return true;
    }
    if (count > budget / size.bytes || count > UINT32_MAX - 1) {
        file.note(false, "tag %u is not kept: a directory's tags are kept up to 64 MiB",
                  unsigned(tag));
        return true;
    }
    const uint64_t bytes = count * size.bytes;
    const uint64_t inlineBytes = bigTiff ? 8 : 4;
    const uint64_t at = bytes <= inlineBytes ? 0 : readUint(field, int(inlineBytes), swapped);
    if (bytes > inlineBytes && (at > file.bytes() || file.bytes() - at < bytes)) {
        file.note(false, "tag %u is not kept: its values lie outside the file", unsigned(tag));
        return true;
    }
    // An ASCII value gets the terminating zero a careless writer left out.
    const bool terminate = type == kAscii;
    uint8_t* data = static_cast<uint8_t*>(std::malloc(size_t(bytes) + 1));
    if (data == nullptr) return false;
    if (bytes <= inlineBytes) {
        std::memcpy(data, field, size_t(bytes));
    } else if (!readAt(file.descriptor(), data, bytes, at)) {
        std::free(data);
        file.note(false, "tag %u is not kept: its values cannot be read", unsigned(tag));
        return true;
    }
    if (swapped) swapWords(data, bytes, size.word);
    uint64_t kept = count;
    if (terminate && (count == 0 || data[count - 1] != 0)) data[kept++] = 0;
    try {
        tags.push_back(Entry{ekTiffTag{tag, type, uint32_t(kept), data}});
    } catch (...) {
        std::free(data);
        return false;
    }
    budget -= bytes;
    return true;
}

const ekTiffTag* ekTiffTagSet::find(int tag) const {
    for (const Entry& e : tags)
        if (e.tag.tag == tag) return &e.tag;
    return nullptr;
}

const ekTiffTag* ekTiffTagSet::at(int i) const {
    return i >= 0 && size_t(i) < tags.size() ? &tags[size_t(i)].tag : nullptr;
}

// GDAL writes the value as text: "-9999", "nan", "-inf", "1e+20". Parsed
// whatever the process's locale (from_chars takes no decimal comma).
bool ekTiffTagSet::nodata(double& value) const {
    const ekTiffTag* t = find(kNodataTag);
    if (t == nullptr || t->type != kAscii || t->count == 0) return false;
    const char* text = static_cast<const char*>(t->data);
    const char* end = text + std::strlen(text);  // the value ends in a zero
    while (text < end && (*text == ' ' || *text == '\t')) ++text;
    while (end > text && (end[-1] == ' ' || end[-1] == '\t' || end[-1] == '\n')) --end;
    if (end - text > 1 && *text == '+' && text[1] != '-') ++text;
    double v = 0;
    const std::from_chars_result r = std::from_chars(text, end, v);
    if (r.ec != std::errc() || r.ptr != end || text == end) return false;
    value = v;
    return true;
}
