// SPDX-License-Identifier: Apache-2.0
#include "tiff_test_files.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

#include "eks/tiff.h"

namespace {

// Bytes of one element in the memory layout (1-bit samples: packed).
int elemBytes(int bits) { return bits <= 8 ? 1 : bits <= 16 ? 2 : bits <= 32 ? 4 : 8; }

bool byteSized(int bits) { return bits == 8 || bits == 16 || bits == 32 || bits == 64; }

// Element (x, y, c) of directory image `img` in the memory layout.
uint64_t getElem(const RawTiffSpec& s, const uint8_t* img, int x, int y, int c) {
    const int64_t i = s.separate ? (int64_t(c) * s.height + y) * s.width + x
                                 : (int64_t(y) * s.width + x) * s.channels + c;
    if (s.bits == 1) return (img[i >> 3] >> (7 - (i & 7))) & 1;
    uint64_t v = 0;
    std::memcpy(&v, img + i * elemBytes(s.bits), size_t(elemBytes(s.bits)));
    return v;
}

// Sets element i of a libtiff buffer whose rows are rowBytes long: whole
// bytes in the machine's order, any other size as bits, most significant
// first (as libtiff hands them over).
void putElem(const RawTiffSpec& s, uint8_t* buf, int64_t rowBytes, int row, int64_t i, uint64_t v) {
    uint8_t* p = buf + row * rowBytes;
    if (byteSized(s.bits)) {
        std::memcpy(p + i * (s.bits / 8), &v, size_t(s.bits / 8));
        return;
    }
    for (int b = 0; b < s.bits; ++b)
        if ((v >> (s.bits - 1 - b)) & 1) {
            const int64_t at = i * s.bits + b;
            p[at >> 3] |= uint8_t(0x80 >> (at & 7));
        }
}

template <class T>
void packAs(const std::vector<double>& numbers, std::vector<uint8_t>& out) {
    for (double v : numbers) {
        const T t = T(v);
        const uint8_t* p = reinterpret_cast<const uint8_t*>(&t);
        out.insert(out.end(), p, p + sizeof t);
    }
}

// How libtiff takes the values of each type (rationals as floats); the IFD
// types are not written.
using Packer = void (*)(const std::vector<double>&, std::vector<uint8_t>&);
Packer packerOf(uint16_t type) {
    static const Packer kPackers[] = {
        nullptr,       packAs<uint8_t>,  nullptr,         packAs<uint16_t>, packAs<uint32_t>,
        packAs<float>, packAs<int8_t>,   packAs<uint8_t>, packAs<int16_t>,  packAs<int32_t>,
        packAs<float>, packAs<float>,    packAs<double>,  nullptr,          nullptr,
        nullptr,       packAs<uint64_t>, packAs<int64_t>};
    return kPackers[type];
}

// Tells libtiff of the tag (anew for every directory) and sets it.
void writeTag(TIFF* tif, const RawTag& t) {
    const bool text = t.type == TIFF_ASCII;
    const TIFFFieldInfo info = {t.tag,        -1, -1,    TIFFDataType(t.type),
                                FIELD_CUSTOM, 1,  !text, const_cast<char*>("test tag")};
    TIFFMergeFieldInfo(tif, &info, 1);
    if (text) {
        TIFFSetField(tif, t.tag, t.text.c_str());
        return;
    }
    std::vector<uint8_t> values;
    packerOf(t.type)(t.numbers, values);
    TIFFSetField(tif, t.tag, int(t.numbers.size()), values.data());
}

bool writeDirectory(TIFF* tif, const RawTiffSpec& s, const uint8_t* img) {
    for (const RawTag& t : s.tags) writeTag(tif, t);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(s.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(s.height));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(s.channels));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(s.bits));
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, uint16_t(s.format));
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG,
                 s.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, uint16_t(s.photometric));
    TIFFSetField(tif, TIFFTAG_ORIENTATION, uint16_t(s.orientation));
    TIFFSetField(tif, TIFFTAG_COMPRESSION, uint16_t(s.compression));
    if (s.subfileType != 0) TIFFSetField(tif, TIFFTAG_SUBFILETYPE, uint32_t(s.subfileType));
    const int colours = s.photometric == PHOTOMETRIC_SEPARATED ? 4
                        : s.photometric == PHOTOMETRIC_RGB || s.photometric == PHOTOMETRIC_YCBCR
                            ? 3
                            : 1;
    if (s.channels > colours) {
        std::vector<uint16_t> extra(size_t(s.channels - colours), EXTRASAMPLE_UNSPECIFIED);
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(extra.size()), extra.data());
    }
    if (!s.colormap.empty()) {
        const size_t n = s.colormap.size() / 3;
        TIFFSetField(tif, TIFFTAG_COLORMAP, s.colormap.data(), s.colormap.data() + n,
                     s.colormap.data() + 2 * n);
    }
    if (s.subsampling != 0)
        TIFFSetField(tif, TIFFTAG_YCBCRSUBSAMPLING, uint16_t(s.subsampling),
                     uint16_t(s.subsampling));
    std::vector<toff_t> subIfds(size_t(s.subIfds), 0);
    if (s.subIfds > 0) TIFFSetField(tif, TIFFTAG_SUBIFD, uint16_t(s.subIfds), subIfds.data());
    if (s.tiled) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, uint32_t(s.tileW));
        TIFFSetField(tif, TIFFTAG_TILELENGTH, uint32_t(s.tileH));
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(s.rowsPerStrip));
    }
    const int pw = s.tiled ? s.tileW : s.width, ph = s.tiled ? s.tileH : s.rowsPerStrip;
    const int pc = s.separate ? 1 : s.channels;
    const int64_t rowBits = int64_t(pw) * pc * s.bits;
    const int64_t rowBytes = (rowBits + 7) / 8;
    const int planes = s.separate ? s.channels : 1;
    uint32_t index = 0;
    bool ok = true;
    for (int plane = 0; plane < planes; ++plane)
        for (int y0 = 0; y0 < s.height; y0 += ph)
            for (int x0 = 0; x0 < s.width; x0 += pw, ++index) {
                const int rows = s.tiled ? ph : std::min(ph, s.height - y0);
                std::vector<uint8_t> buf(size_t(rowBytes * rows), 0);
                for (int r = 0; r < rows && y0 + r < s.height; ++r)
                    for (int x = 0; x < pw && x0 + x < s.width; ++x)
                        for (int c = 0; c < pc; ++c)
                            putElem(s, buf.data(), rowBytes, r, int64_t(x) * pc + c,
                                    getElem(s, img, x0 + x, y0 + r, s.separate ? plane : c));
                // Rows of bits end in padding that readers must ignore:
                // ones here, as a careless writer might leave.
                if (rowBits % 8 != 0)
                    for (int r = 0; r < rows; ++r)
                        buf[size_t(r * rowBytes + rowBytes - 1)] |= uint8_t(0xFF >> (rowBits % 8));
                if (s.sparse &&
                    std::all_of(buf.begin(), buf.end(), [](uint8_t b) { return b == 0; }))
                    continue;
                const tmsize_t n = tmsize_t(buf.size());
                ok = ok && (s.tiled ? TIFFWriteEncodedTile(tif, index, buf.data(), n)
                                    : TIFFWriteEncodedStrip(tif, index, buf.data(), n)) >= 0;
            }
    return ok && TIFFWriteDirectory(tif) == 1;
}

// The bytes of every raw tag, read (the sanitizer build checks them).
unsigned touchTags(const ekTiffImg& img) {
    static const unsigned kBytes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4, 0, 0, 8, 8, 8};
    unsigned sum = 0;
    for (int i = 0; i < img.getTagCount(); ++i) {
        const ekTiffTag* t = img.getTag(i);
        const uint64_t n = uint64_t(t->count) * (t->type < 19 ? kBytes[t->type] : 0);
        for (uint64_t k = 0; k < n; ++k) sum += static_cast<const uint8_t*>(t->data)[k];
    }
    return sum;
}

// Opens the file (and its last overview) and reads a window in the image's
// layout and in another one; returns the first failure (or ekOkay).
ekStatus openAndRead(const std::string& path, std::string& message, int level = 0) {
    ekTiffOpenOptions options;
    options.level = level;
    ekTiffImg img(path.c_str(), options);
    volatile unsigned sum = touchTags(img);
    (void)sum;
    ekStatus s = img.getStatus();
    if (s == ekOkay) {
        const int nx = std::min(img.getXsize(), 70), ny = std::min(img.getYsize(), 50);
        const int nz = std::min(img.getZsize(), 2), nc = img.getCsize();
        std::vector<double> buf(size_t(nx + 2) * size_t(ny + 2) * size_t(nz) * size_t(nc));
        const ekConfig cfg(ekDouble, ekSeparate, nc, nullptr, 0, ekLowerRight, ekColorModel(0));
        s = img.getTile3D(-1, -1, 0, nx + 2, ny + 2, nz, buf.data(), &cfg);
        const ekStatus again = img.getTile3D(0, 0, 0, nx, ny, nz, buf.data(), nullptr);
        if (s == ekOkay) s = again;
    }
    message = img.getMessage();
    if (s == ekOkay && level == 0 && img.getOverviewCount() > 0)
        s = openAndRead(path, message, img.getOverviewCount());
    return s;
}

}  // namespace

ekType specType(const RawTiffSpec& s) {
    if (s.format == SAMPLEFORMAT_IEEEFP) return s.bits == 32 ? ekFloat : ekDouble;
    const bool sgn = s.format == SAMPLEFORMAT_INT;
    if (s.bits == 1) return ekBit;
    if (s.bits <= 8) return sgn ? ekChar : ekUChar;
    if (s.bits <= 16) return sgn ? ekShort : ekUShort;
    return sgn ? ekLong : ekULong;
}

int64_t rawBytes(const RawTiffSpec& s) {
    const int64_t n = int64_t(s.width) * s.height * s.channels;
    return s.bits == 1 ? (n + 7) / 8 : n * elemBytes(s.bits);
}

std::vector<uint8_t> randomPixels(const RawTiffSpec& s, uint32_t seed) {
    std::vector<uint8_t> p = randomBytes(rawBytes(s) * s.directories, seed);
    std::mt19937 rng(seed);
    const size_t step = size_t(elemBytes(s.bits));
    for (size_t i = 0; s.bits != 1 && i + step <= p.size(); i += step) {
        if (s.format == SAMPLEFORMAT_IEEEFP) {  // finite, so that conversions compare
            const double v = double(int(rng() % 2001) - 1000) / 8.0;
            const float f = float(v);
            std::memcpy(&p[i], s.bits == 32 ? static_cast<const void*>(&f) : &v, step);
        } else if (!byteSized(s.bits)) {
            uint64_t v = 0;
            std::memcpy(&v, &p[i], step);
            v &= (uint64_t(1) << s.bits) - 1;
            std::memcpy(&p[i], &v, step);
        }
    }
    return p;
}

std::vector<uint8_t> randomBytes(int64_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(static_cast<size_t>(n));
    for (auto& b : v) b = uint8_t(rng());
    return v;
}

std::string tempTiffPath(const std::string& name) {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string file =
        std::string("eks_") + info->test_suite_name() + "_" + info->name() + "_" + name;
    for (char& ch : file)
        if (ch == '/') ch = '_';
    return testing::TempDir() + file + ".tif";
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

bool writeRawTiff(const std::string& path, const RawTiffSpec& s,
                  const std::vector<uint8_t>& pixels) {
    std::vector<std::vector<uint8_t>> images;
    for (int64_t d = 0, n = rawBytes(s); d < s.directories; ++d)
        images.emplace_back(pixels.begin() + d * n, pixels.begin() + (d + 1) * n);
    return writeRawTiffs(path, std::vector<RawTiffSpec>(images.size(), s), images);
}

bool writeRawTiffs(const std::string& path, const std::vector<RawTiffSpec>& specs,
                   const std::vector<std::vector<uint8_t>>& pixels) {
    TIFF* tif = TIFFOpen(path.c_str(), specs.empty() ? "w" : specs[0].mode);
    if (tif == nullptr) return false;
    bool ok = true;
    for (size_t d = 0; d < specs.size() && ok; ++d)
        ok = writeDirectory(tif, specs[d], pixels[d].data());
    TIFFClose(tif);
    return ok;
}

std::vector<uint8_t> readAll(ekImage& img, uint8_t before) {
    const int n = img.getXsize() * img.getYsize() * img.getZsize() * img.getCsize();
    std::vector<uint8_t> out(size_t(ekDataSize(img.getDataType(), n)), before);
    EXPECT_EQ(ekOkay, img.getTile3D(0, 0, 0, img.getXsize(), img.getYsize(), img.getZsize(),
                                    out.data(), nullptr));
    return out;
}

LibtiffDirectory readWithLibtiff(const std::string& path, int directory) {
    LibtiffDirectory d;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (tif == nullptr) return d;
    std::vector<uint32_t> abgr;
    if (TIFFSetDirectory(tif, tdir_t(directory)) == 1) {
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &d.width);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &d.height);
        TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &d.subfileType);
        abgr.resize(size_t(d.width) * d.height);
        if (TIFFReadRGBAImageOriented(tif, d.width, d.height, abgr.data(), ORIENTATION_TOPLEFT,
                                      1) != 1)
            abgr.clear();
    }
    TIFFClose(tif);
    for (uint32_t p : abgr)
        for (int k = 0; k < 3; ++k) d.pixels.push_back(uint8_t(p >> (8 * k)));
    return d;
}

void expectDamageHandled(const std::string& path, int cuts, int flips, std::mt19937& rng,
                         int failed[2]) {
    const std::vector<uint8_t> file = readFile(path);
    const std::string damaged = path + ".damaged.tif";
    for (int trial = 0; trial < cuts + flips; ++trial) {
        const bool cut = trial < cuts;
        std::vector<uint8_t> bad = file;
        if (cut) bad.resize(rng() % file.size());
        for (int f = 0, n = cut ? 0 : 1 + int(rng() % 8); f < n; ++f) {
            size_t at = rng() % bad.size();
            if (trial % 2 == 0) at = rng() % 2 ? at % 64 : bad.size() - 1 - at % 256;
            bad[at] ^= uint8_t(1u << (rng() % 8));
        }
        writeFile(damaged, bad);
        testing::internal::CaptureStderr();
        std::string message;
        const ekStatus s = openAndRead(damaged, message);
        EXPECT_EQ("", testing::internal::GetCapturedStderr()) << "trial " << trial;
        if (s == ekOkay) continue;
        ++failed[cut ? 0 : 1];
        EXPECT_NE("", message) << "status " << s;
        EXPECT_NE(0, message.rfind("warning", 0)) << message;  // an error, not a warning
    }
    std::remove(damaged.c_str());
}
