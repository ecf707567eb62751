// SPDX-License-Identifier: Apache-2.0
// The directories of a file: the full-resolution ones that are slices of the
// image, the reduced-resolution ones that are its overviews (in the chain, as
// GDAL writes them, or as SubIFDs of the first directory, as tifffile
// writes them), the level a caller opens, and the raw tags of that level.
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "tiff/tiff_file.h"
#include "tiff/tiff_geometry.h"

namespace {

constexpr int kNodataTag = 42113;
// SubIFDs looked at for overviews: more levels than a pyramid of 2^64 pixels
// has, and few enough that a hostile list of offsets costs little.
constexpr int kMaxSubIfds = 64;

}  // namespace

// Level 0 is the first directory with its slices; level k the k-th
// overview, one slice of its own size and pages.
ekStatus ekTiffFile::openLevel(int level) {
    const uint64_t firstDir = TIFFCurrentDirOffset(tif);
    ekStatus s = level == 0 ? describe() : keepFirstMap();
    if (s == ekOkay) s = walk(level == 0);
    if (s != ekOkay) return s;
    if (level != 0) {
        if (level < 0 || level > overviewCount()) {
            note(true, "no overview level %d: the file has %d overviews", level, overviewCount());
            return ekBadInput;
        }
        const uint64_t at = overviews[size_t(level - 1)].at;
        if (!TIFFSetSubDirectory(tif, at)) {
            note(true, "cannot read overview %d", level);
            return ekBadInput;
        }
        s = describe();
        if (s != ekOkay) return s;
        dirOffsets[0].at = at;  // the walk left exactly one
    }
    return readTags(level, firstDir);
}

// The colour map of a palette image's full resolution (the current
// directory), for overviews that have none.
ekStatus ekTiffFile::keepFirstMap() {
    const ekTiffGeometry g(tif);
    uint16_t *r = nullptr, *gr = nullptr, *b = nullptr;
    const bool palette = g.photometric == PHOTOMETRIC_PALETTE && g.spp == 1 && g.bits <= 16 &&
                         TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &gr, &b);
    return palette ? readMap(g.bits, firstMap) : ekOkay;
}

// Walks the chain from the first directory (the current one): reduced-
// resolution directories are overviews; when `slices`, the full-resolution
// ones that follow become slices while they agree with the first (masks and
// whatever differs end them). Each directory's offset is kept, so that
// switching slices reads one directory, not the chain up to it.
ekStatus ekTiffFile::walk(bool slices) {
    const ekTiffGeometry first(tif);
    std::vector<DirOffset> subs;
    bool slicing = slices;
    try {
        dirOffsets.assign(1, DirOffset{TIFFCurrentDirOffset(tif)});
        overviews.clear();
        uint16_t n = 0;
        uint64_t* offsets = nullptr;
        if (TIFFGetField(tif, TIFFTAG_SUBIFD, &n, &offsets) && offsets != nullptr)
            for (int i = 0; i < n && i < kMaxSubIfds; ++i) subs.push_back(DirOffset{offsets[i]});
        int index = 0;
        while (index < INT32_MAX && TIFFReadDirectory(tif) == 1) {
            ++index;
            if (ekTiffGeometry(tif).isOverview()) {
                overviews.push_back(DirOffset{TIFFCurrentDirOffset(tif)});
            } else if (slicing) {
                slicing = isSlice(first, index);
                if (slicing) dirOffsets.push_back(DirOffset{TIFFCurrentDirOffset(tif)});
            }
        }
        findSubOverviews(subs);
    } catch (...) {
        note(true, "out of memory");
        return ekNoMemory;
    }
    lay.slices = int32_t(dirOffsets.size());
    return ekOkay;
}

// Whether the current directory, number `index` of the chain, is a slice:
// it passes the first one's checks and agrees with it. When not, the
// message says why the image ends before it.
bool ekTiffFile::isSlice(const ekTiffGeometry& first, int index) {
    const char* tag = ekTiffGeometry(tif).firstDifference(first);
    if (tag != nullptr) {
        note(false, "directory %d differs in %s; the image ends before it", index, tag);
        return false;
    }
    Format f;
    if (check(f) != ekOkay) {
        char why[sizeof msg];
        std::snprintf(why, sizeof why, "%s", msg);
        messageIsError = false;
        note(false, "directory %d: %s; the image ends before it", index, why);
        return false;
    }
    // Pixels of palette images are colours only through their own map.
    if (f.palette.size() != fmt.palette.size() ||
        (!f.palette.empty() && std::memcmp(f.palette.data(), fmt.palette.data(),
                                           f.palette.size() * sizeof(ekTiffColor)) != 0)) {
        note(false, "directory %d differs in ColorMap; the image ends before it", index);
        return false;
    }
    return true;
}

// SubIFDs of the first directory flagged as its reduced-resolution copies,
// unless the chain holds them already.
void ekTiffFile::findSubOverviews(const std::vector<DirOffset>& subs) {
    for (const DirOffset& d : subs) {
        bool known = false;
        for (const DirOffset& o : overviews) known = known || o.at == d.at;
        if (!known && TIFFSetSubDirectory(tif, d.at) && ekTiffGeometry(tif).isOverview())
            overviews.push_back(d);
    }
}

// The raw tags of the directory shown, and its nodata value. An overview
// whose directory has no GDAL_NODATA takes the full resolution's: the value
// marks the same pixels at every level.
ekStatus ekTiffFile::readTags(int level, uint64_t firstDir) {
    const bool big = TIFFIsBigTIFF(tif) != 0, swapped = TIFFIsByteSwapped(tif) != 0;
    ekStatus s = tagSet.read(*this, dirOffsets[0].at, big, swapped);
    if (s != ekOkay) return s;
    const ekTiffTag* text = tagSet.find(kNodataTag);
    hasNodata = tagSet.nodata(nodataValue);
    if (text != nullptr && !hasNodata) {
        note(false, "GDAL_NODATA is not a number: \"%.40s\"",
             text->type == 2 ? static_cast<const char*>(text->data) : "(not text)");
    } else if (text == nullptr && level != 0) {
        ekTiffTagSet full;
        s = full.read(*this, firstDir, big, swapped);
        hasNodata = s == ekOkay && full.nodata(nodataValue);
    }
    return s;
}

namespace {

// A nodata value as an integer type holds it, converted as GDAL converts it:
// rounded half away from zero and clamped to the type's range (NaN: 0), so
// that -9999 in an 8-bit file is 0, not the low byte of -9999. Floating types
// take the value as it is.
double asHeldBy(ekType type, double v) {
    if (type == ekFloat || type == ekDouble) return v;
    return std::isnan(v) ? 0 : std::min(ekDataMax(type), std::max(ekDataMin(type), std::round(v)));
}

}  // namespace

bool ekTiffFile::nodataElement(int c, double& value) const {
    if (!hasNodata) return false;
    value = nodataValue;
    const bool colour = fmt.unpack.kind == ekTiffUnpack::kPalette && value >= 0 &&
                        value < double(fmt.palette.size()) && value == double(int64_t(value));
    if (colour) {
        const ekTiffColor& col = fmt.palette[size_t(value)];
        value = c == 0 ? col.r : c == 1 ? col.g : col.b;
        if (lay.type == ekUChar) value /= 257;
    }
    value = asHeldBy(lay.type, value);
    return true;
}
