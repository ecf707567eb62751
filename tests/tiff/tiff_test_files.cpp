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

namespace {

// Element (x, y, c) of directory image `img` in the memory layout, as bits.
uint64_t getElem(const RawTiffSpec& s, const uint8_t* img, int x, int y, int c) {
    const int64_t i = s.separate ? (int64_t(c) * s.height + y) * s.width + x
                                 : (int64_t(y) * s.width + x) * s.channels + c;
    if (s.bits == 1) return (img[i >> 3] >> (7 - (i & 7))) & 1;
    uint64_t v = 0;
    std::memcpy(&v, img + i * (s.bits / 8), size_t(s.bits / 8));
    return v;
}

// Sets element i of a libtiff buffer whose rows are rowBits bits, padded.
void putElem(const RawTiffSpec& s, uint8_t* buf, int64_t rowBytes, int row, int64_t i, uint64_t v) {
    if (s.bits == 1) {
        if (v != 0) buf[row * rowBytes + (i >> 3)] |= uint8_t(0x80 >> (i & 7));
        return;
    }
    std::memcpy(buf + row * rowBytes + i * (s.bits / 8), &v, size_t(s.bits / 8));
}

}  // namespace

ekType specType(const RawTiffSpec& s) {
    if (s.format == SAMPLEFORMAT_IEEEFP) return s.bits == 32 ? ekFloat : ekDouble;
    const bool sgn = s.format == SAMPLEFORMAT_INT;
    switch (s.bits) {
        case 1:
            return ekBit;
        case 8:
            return sgn ? ekChar : ekUChar;
        case 16:
            return sgn ? ekShort : ekUShort;
        default:
            return sgn ? ekLong : ekULong;
    }
}

int64_t rawBytes(const RawTiffSpec& s) {
    return (int64_t(s.width) * s.height * s.channels * s.bits + 7) / 8;
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
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (tif == nullptr) return false;
    bool ok = true;
    const int64_t dirBytes = rawBytes(s);
    for (int d = 0; d < s.directories && ok; ++d) {
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
        if (s.photometric == PHOTOMETRIC_RGB && s.channels > 3) {
            std::vector<uint16_t> extra(size_t(s.channels - 3), EXTRASAMPLE_UNSPECIFIED);
            TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(extra.size()), extra.data());
        }
        if (s.tiled) {
            TIFFSetField(tif, TIFFTAG_TILEWIDTH, uint32_t(s.tileW));
            TIFFSetField(tif, TIFFTAG_TILELENGTH, uint32_t(s.tileH));
        } else {
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(s.rowsPerStrip));
        }
        const uint8_t* img = pixels.data() + d * dirBytes;
        const int pw = s.tiled ? s.tileW : s.width, ph = s.tiled ? s.tileH : s.rowsPerStrip;
        const int pc = s.separate ? 1 : s.channels;
        const int64_t rowBytes = (int64_t(pw) * pc * s.bits + 7) / 8;
        const int planes = s.separate ? s.channels : 1;
        uint32_t index = 0;
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
                    const int64_t rowBits = int64_t(pw) * pc * s.bits;
                    if (rowBits % 8 != 0)
                        for (int r = 0; r < rows; ++r)
                            buf[size_t(r * rowBytes + rowBytes - 1)] |=
                                uint8_t(0xFF >> (rowBits % 8));
                    const tmsize_t n = tmsize_t(buf.size());
                    ok = ok && (s.tiled ? TIFFWriteEncodedTile(tif, index, buf.data(), n)
                                        : TIFFWriteEncodedStrip(tif, index, buf.data(), n)) >= 0;
                }
        ok = ok && TIFFWriteDirectory(tif) == 1;
    }
    TIFFClose(tif);
    return ok;
}
