// SPDX-License-Identifier: Apache-2.0
// Encoding and decoding one page of a file this library writes, away from the
// file: libtiff's codecs run on small in-memory files, so that the writer
// decides alone where encoded bytes go (never over bytes the file's last
// directory still names), and so that pages can be coded on any thread.
#ifndef EKS_TIFF_TIFF_CODEC_H
#define EKS_TIFF_TIFF_CODEC_H

#include <cstddef>
#include <cstdint>

#include "eks/core.h"

class ekTiffFile;

// The tags that decide how one page is coded: a tile of width x height pixels
// of `samples` contiguous samples, and the codec's settings.
struct ekTiffPageFormat {
    uint32_t width = 0, height = 0;
    uint16_t samples = 1, bits = 8, format = 1, compression = 1;
    uint16_t photometric = 1;  // of the page: YCbCr for JPEG-compressed RGB, else RGB or grey
    uint16_t predictor = 1;
    int level = 0;        // Deflate and ZSTD; 0: the codec's default
    int quality = 0;      // JPEG and WebP; 0: JPEG's default, WebP lossless
    double maxError = 0;  // LERC
};

// Bytes of one encoded page, or of a directory being written; malloc-owned.
class ekTiffBytes {
public:
    ekTiffBytes() = default;
    ekTiffBytes(const ekTiffBytes&) = delete;
    ekTiffBytes& operator=(const ekTiffBytes&) = delete;
    ~ekTiffBytes();

    // Writes `n` bytes at `at`, growing (zero-filled) as needed; false when
    // memory runs out.
    bool put(uint64_t at, const void* src, uint64_t n);
    // Keeps bytes [from, from + n) only.
    void keep(uint64_t from, uint64_t n);

    unsigned char* data = nullptr;
    uint64_t size = 0;
    uint64_t capacity = 0;
    uint64_t pos = 0;  // the position libtiff reads or writes next
};

// Encodes a page of `pixels` (ekDataSize of the format's elements) into `out`.
// libtiff's messages go to `messages`. ekBadInput when libtiff fails,
// ekNoMemory when memory runs out.
ekStatus ekTiffEncodePage(const ekTiffPageFormat& f, const void* pixels, int64_t bytes,
                          ekTiffBytes& out, ekTiffFile& messages);
// Decodes `encoded` (n bytes) into `pixels`, which holds `bytes` bytes.
ekStatus ekTiffDecodePage(const ekTiffPageFormat& f, const void* encoded, uint64_t n, void* pixels,
                          int64_t bytes, ekTiffFile& messages);

#endif  // EKS_TIFF_TIFF_CODEC_H
