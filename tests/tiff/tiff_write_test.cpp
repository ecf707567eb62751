// SPDX-License-Identifier: Apache-2.0
// Writing: created files against a memory image, codecs and what is
// refused, the page cache's counters and locks; a failed write keeps the
// file as its last flush made it, and rewrites do not grow the file.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <tiffio.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "eks/eks.h"
#include "eks/tiff.h"
#include "tiff_test_files.h"

namespace {

std::vector<uint8_t> imageBytes(const ekSize& s, ekType t, uint32_t seed) {
    const int n = s.x * s.y * s.z * s.c;
    std::vector<uint8_t> p = randomBytes(ekDataSize(t, n), seed);
    if (t == ekBit && n % 8) p.back() &= uint8_t(0xFF << (8 - n % 8));  // reads leave padding
    if (t == ekFloat || t == ekDouble) {                                // finite values only
        const int w = t == ekFloat ? 4 : 8;
        for (size_t i = 0; i < p.size(); i += size_t(w)) p[i + size_t(w) - 1] &= 0x3F;
    }
    return p;
}

// A view onto a region and two listed channels of the file reads and writes
// as the same view over the memory image.
void compareViews(ekImage& file, ekImage& mem, int channels, std::mt19937& rng) {
    int list[2] = {channels - 1, 0};
    ekConfig pick(ekUShort, ekInterleaved, 2, list, 0, ekLowerRight, ekColorModel(0));
    ekSubImg overFile(&file, 7, 5, 0, 20, 18, 1, &pick), overMem(&mem, 7, 5, 0, 20, 18, 1, &pick);
    for (int trial = 0; trial < 4; ++trial) {
        const int x = int(rng() % 30) - 5, y = int(rng() % 26) - 4;
        const int nx = 1 + int(rng() % 20), ny = 1 + int(rng() % 20);
        const ekConfig cfg(ekFloat, ekSequential, 2, nullptr, 0, ekCoordSpace(rng() % 9),
                           ekColorModel(0));
        std::vector<uint8_t> a(size_t(nx * ny * 2 * 4), 0xCD), b = a;
        ASSERT_EQ(overMem.getTile(x, y, nx, ny, b.data(), &cfg),
                  overFile.getTile(x, y, nx, ny, a.data(), &cfg));
        ASSERT_TRUE(a == b) << "view trial " << trial;
    }
    std::vector<uint16_t> patch(6 * 4 * 2, 777);
    ASSERT_EQ(ekOkay, overFile.setTile(3, 2, 6, 4, patch.data(), nullptr));
    ASSERT_EQ(ekOkay, overMem.setTile(3, 2, 6, 4, patch.data(), nullptr));
}

// Every type with a photometric asked at creation: the colour model the file
// reads with and its extra samples. RGB is automatic for 8- and 16-bit
// unsigned samples only, and a fourth channel is alpha only when asked.
const struct {
    ekType type;
    int channels;
    ekTiffPhotometric photometric;
    ekColorModel model;
    int extras, firstKind;
} kModels[] = {{ekBit, 3, ekTiffAutoPhotometric, ekMultiSpectral, 2, EXTRASAMPLE_UNSPECIFIED},
               {ekUChar, 3, ekTiffAutoPhotometric, ekRGB, 0, 0},
               {ekChar, 2, ekTiffAutoPhotometric, ekMultiSpectral, 1, EXTRASAMPLE_UNSPECIFIED},
               {ekUShort, 4, ekTiffAutoPhotometric, ekMultiSpectral, 1, EXTRASAMPLE_UNSPECIFIED},
               {ekShort, 4, ekTiffRGBA, ekRGBA, 1, EXTRASAMPLE_UNASSALPHA},
               {ekULong, 3, ekTiffMinIsBlack, ekMultiSpectral, 2, EXTRASAMPLE_UNSPECIFIED},
               {ekLong, 1, ekTiffAutoPhotometric, ekGreyscale, 0, 0},
               {ekFloat, 3, ekTiffAutoPhotometric, ekMultiSpectral, 2, EXTRASAMPLE_UNSPECIFIED},
               {ekDouble, 2, ekTiffAutoPhotometric, ekMultiSpectral, 1, EXTRASAMPLE_UNSPECIFIED}};

// Created files of every type, order and photometric, of one or two slices,
// the lossless codecs in turn with a predictor where one applies, random
// tiles: written whole through a seed copy merged into the file, then in
// random windows and caller layouts through a one-page cache (every write
// evicts a dirty page; partial pages are decoded again) and through a view,
// they equal the same writes into a memory image, also once reopened; the
// reopened file refuses writes.
TEST(TiffWrite, RandomWritesMatchMemoryImage) {
    std::mt19937 rng(3);
    const ekTiffCompression comps[] = {ekTiffNone, ekTiffLZW, ekTiffDeflate, ekTiffPackBits,
                                       ekTiffZSTD};
    int file = 0;
    for (const auto& model : kModels)
        for (ekOrder o : {ekInterleaved, ekSeparate}) {
            const ekType t = model.type;
            ekTiffCreateOptions opt;
            opt.photometric = model.photometric;
            opt.compression = comps[file++ % 5];
            opt.tileWidth = 16 << (rng() % 2);
            opt.tileHeight = 16 * (1 + int(rng() % 3));
            // Floats: predictor 2 interleaved, 3 separate (3 of floats: the codec
            // table).
            const bool floats = t == ekFloat || t == ekDouble;
            if (opt.compression != ekTiffNone && opt.compression != ekTiffPackBits && t != ekBit)
                opt.predictor = floats ? 2 + (o == ekSeparate) : 1 + int(rng() % 2);
            SCOPED_TRACE(testing::Message()
                         << "type " << t << " order " << o << " photometric " << opt.photometric
                         << " channels " << model.channels << " comp " << opt.compression
                         << " predictor " << opt.predictor << " tile " << opt.tileWidth << "x"
                         << opt.tileHeight);
            const ekSize size(24 + int(rng() % 30), 20 + int(rng() % 20), 1 + int(rng() % 2),
                              model.channels);
            std::vector<uint8_t> pixels = imageBytes(size, t, rng());
            const std::string path = tempTiffPath("created");
            {
                ekTiffImg img(path.c_str(), size, t, o, opt);
                ASSERT_EQ(ekOkay, img.getStatus()) << img.getMessage();
                EXPECT_EQ(1, img.isWritable());
                EXPECT_EQ(model.model, img.getColorModel());
                img.ref();  // held by the chain below, never released to zero
                ekMemoryImg* copy = new ekMemoryImg(&img, 0);
                ekMemoryImg top(copy, 0);
                ASSERT_EQ(ekOkay,
                          copy->setTile3D(0, 0, 0, size.x, size.y, size.z, pixels.data(), nullptr));
                ASSERT_TRUE(top.CollapseSeed());  // copy merges into the file, and is released
                EXPECT_EQ(&img, top.GetSeedImage());
                ekMemoryImg ref(pixels.data(), size, t, o);
                ref.setCoordSpace(ekUpperLeft);           // a created file's orientation
                ASSERT_EQ(ekOkay, img.setCacheBytes(1));  // keeps only the page in use
                for (int i = 0; i < 8; ++i) {
                    const int x = int(rng() % 70) - 5, y = int(rng() % 50) - 5;
                    const int z = int(rng() % uint32_t(size.z)), nz = 1 + int(rng() % 2);
                    const int nx = 1 + int(rng() % 40), ny = 1 + int(rng() % 30);
                    int list[1] = {int(rng() % uint32_t(size.c))};
                    const bool useList = rng() % 2;
                    const int offset = useList ? 0 : int(rng() % uint32_t(size.c));
                    const int nc = useList ? 1 : 1 + int(rng() % uint32_t(size.c - offset));
                    const ekConfig cfg(kModels[rng() % 9].type, ekInterleaved, nc,
                                       useList ? list : nullptr, offset, ekCoordSpace(rng() % 9),
                                       ekColorModel(0));
                    const int bx = x + int(rng() % 9) - 4, by = y + int(rng() % 9) - 4;
                    const int bnx = 1 + int(rng() % 40), bny = 1 + int(rng() % 30);
                    std::vector<uint8_t> data =
                        randomBytes(ekDataSize(cfg.type, bnx * bny * nz * nc), rng());
                    ASSERT_EQ(ekOkay, img.setSubTile3D(x, y, z, nx, ny, nz, data.data(), bx, by, z,
                                                       bnx, bny, nz, &cfg));
                    ref.setSubTile3D(x, y, z, nx, ny, nz, data.data(), bx, by, z, bnx, bny, nz,
                                     &cfg);
                }
                EXPECT_GT(img.getCacheEvictions(), 0);
                compareViews(img, ref, size.c, rng);
                EXPECT_TRUE(readAll(img, 0) == pixels);
            }  // the destructor writes the dirty pages
            ekTiffImg back(path.c_str());
            ASSERT_EQ(ekOkay, back.getStatus()) << back.getMessage();
            EXPECT_EQ(t, back.getDataType());
            EXPECT_EQ(size.c > 1 ? o : ekInterleaved, back.getOrder());
            EXPECT_EQ(int(opt.compression), int(back.getCompression()));
            EXPECT_EQ(opt.tileHeight, back.getPageSizeY());
            EXPECT_EQ(model.model, back.getColorModel());
            EXPECT_TRUE(readAll(back, 0) == pixels);
            TIFF* tif = TIFFOpen(path.c_str(), "r");
            ASSERT_NE(nullptr, tif);
            uint16_t extra = 0;
            uint16_t* kinds = nullptr;
            TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extra, &kinds);
            EXPECT_EQ(model.extras, int(extra));
            EXPECT_EQ(model.firstKind, extra > 0 ? int(kinds[0]) : 0);
            TIFFClose(tif);
            // Opened for reading: writes are refused with an error, and caller
            // layouts the engine cannot describe as by every image.
            EXPECT_EQ(0, back.isWritable());
            EXPECT_EQ(ekNotAllowed, back.setTile(0, 0, 1, 1, pixels.data(), nullptr));
            EXPECT_EQ(0, std::strncmp(back.getMessage(), "the file", 8)) << back.getMessage();
            EXPECT_EQ(ekOkay, back.flush());
            EXPECT_EQ(ekNotAllowed, back.setDataType(t == ekShort ? ekLong : ekShort));
            const ekConfig mixed(ekType(ekUChar | ekChar), ekInterleaved, 1);
            EXPECT_EQ(ekBadAttribute, back.getTile(0, 0, 16, 16, pixels.data(), &mixed));
            EXPECT_EQ(ekBadAttribute, back.setTile(0, 0, 16, 16, pixels.data(), &mixed));
            EXPECT_EQ(ekBadAttribute, back.getTile(0, 0, 16, 16, nullptr, nullptr));
        }
}

// Reading a 4 × 4 grid of tiles row by row with room for two pages: every
// page is a miss each time; a window within one page hits after its miss.
TEST(TiffWrite, CacheCountsHitsMissesAndEvictions) {
    const std::string path = tempTiffPath("count");
    ekTiffImg img(path.c_str(), ekSize(64, 64, 1, 1), ekUChar, ekInterleaved, 16, 16, ekTiffNone);
    ASSERT_EQ(ekOkay, img.setCacheBytes(2 * 16 * 16));
    std::vector<uint8_t> buf(64 * 64);
    for (int pass = 0; pass < 2; ++pass)
        ASSERT_EQ(ekOkay, img.getTile(0, 0, 64, 64, buf.data(), nullptr));
    EXPECT_EQ(0, img.getCacheHits());
    EXPECT_EQ(32, img.getCacheMisses());
    EXPECT_EQ(30, img.getCacheEvictions());
    for (int pass = 0; pass < 3; ++pass)
        ASSERT_EQ(ekOkay, img.getTile(20, 20, 5, 5, buf.data(), nullptr));
    EXPECT_EQ(2, img.getCacheHits());
    EXPECT_EQ(33, img.getCacheMisses());
    EXPECT_EQ(2 * 16 * 16, img.getCacheBytes());
}

// Locked pages are the cached pages, hold the pixels of their box, and stay
// while locked even when the budget is cut to nothing; a page locked by hand
// keeps the file open; an image destroyed before its locked tile writes what
// was written into the tile's pages and leaves the tile empty.
TEST(TiffWrite, PageLocksAndLockedTiles) {
    const std::string path = tempTiffPath("lock");
    const ekSize size(40, 40, 1, 2);
    const std::vector<uint8_t> pixels = imageBytes(size, ekUChar, 5);
    ekLockedTile* outlives = nullptr;
    {
        ekTiffImg img(path.c_str(), size, ekUChar, ekInterleaved, 16, 16, ekTiffNone);
        ASSERT_EQ(ekOkay, img.setTile(0, 0, 40, 40, const_cast<uint8_t*>(pixels.data()), nullptr));
        ekLockRequest req[5];
        req[0].init(16, 32, 0, 0);  // a partial page at the bottom edge
        req[1].init(0, 0, 0, 0);
        req[2].init(40, 0, 0, 0);  // outside: no page, ekOkay
        req[3].init(8, 0, 0, 0);   // off the page grid
        req[4].init(0, 0, 0, 1);   // interleaved pages hold every channel from 0
        EXPECT_EQ(ekBadIndex, img.lockPageSet(req, 0, 5));
        ASSERT_NE(nullptr, req[0].page);
        EXPECT_EQ(ekOkay, req[2].status);
        EXPECT_EQ(nullptr, req[2].page);
        EXPECT_EQ(ekBadIndex, req[3].status);
        EXPECT_EQ(ekBadIndex, req[4].status);
        const int64_t evicted = img.getCacheEvictions();
        img.setCacheBytes(0);
        EXPECT_EQ(evicted + 7,
                  img.getCacheEvictions());  // the 3 x 3 pages but the two locked
        const uint8_t* page = static_cast<const uint8_t*>(req[0].page->getData());
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 32; ++x)
                ASSERT_EQ(pixels[size_t((32 + y) * 80 + 32 + x)], page[y * 32 + x]);
        img.unlockPageSet(req, 5);  // trims to the budget: both pages go
        EXPECT_EQ(evicted + 9, img.getCacheEvictions());
        EXPECT_EQ(ekOkay, img.lockPageSet(req + 1, 0, 1));
        ekLockedTile* tile = img.lockTile(0, 0, 20, 20, nullptr, 0);
        EXPECT_EQ(ekNotAllowed, img.close());
        EXPECT_EQ(nullptr, tile->image);  // released by the close
        delete tile;                      // empty: touches nothing
        img.unlockPageSet(req + 1, 1);
        EXPECT_EQ(ekOkay, img.flush());
        outlives = img.lockTile(0, 0, 40, 16, nullptr, 0);
        ASSERT_NE(nullptr, outlives);
        ASSERT_EQ(3, outlives->count);
        static_cast<uint8_t*>(outlives->requests[1].page->getData())[0] = 77;  // pixel (16, 0)
    }
    EXPECT_EQ(nullptr, outlives->image);
    EXPECT_EQ(0, outlives->count);
    delete outlives;
    ekTiffImg reopened(path.c_str());
    uint8_t pixel[2] = {0, 0};
    ASSERT_EQ(ekOkay, reopened.getTile(16, 0, 1, 1, pixel, nullptr));
    EXPECT_EQ(77, pixel[0]);
}

// --- Codecs
// ----------------------------------------------------------------------

// Smooth values within every type's range: lossy codecs keep them close.
double valueAt(size_t i, ekType type) {
    const double v = 100 + 50 * std::sin(double(i) * 0.01);
    return type == ekBit ? double(i / 7 % 2) : type == ekFloat || type == ekDouble ? v / 3 : v;
}

// Codec settings written (two slices, partial tiles) and read back with 1 and
// 4 threads, lossy ones within their error (JPEG's YCbCr decoded as RGB on
// every thread's handle); settings that cannot be written (also tile sizes,
// types and orders) are refused by name, with an error.
TEST(TiffCodecs, WrittenFilesReadBackOrAreRefusedByName) {
    struct Row {
        ekTiffCompression codec;
        int predictor;
        ekType type;
        int channels;
        const char* refused;  // a word of the message; nullptr: written
        double tolerance = 0;
        int quality = 0;
        double maxError = 0;
        ekOrder order = ekInterleaved;
        int tileWidth = 32;
        ekStatus status = ekBadAttribute;
    };
    const Row rows[] = {
        {ekTiffZSTD, 3, ekFloat, 1, nullptr},
        {ekTiffPackBits, 1, ekBit, 1, nullptr},
        {ekTiffLERC, 1, ekUShort, 2, nullptr},
        {ekTiffLERC, 1, ekFloat, 1, nullptr, 0.0101, 0, 0.01},
        {ekTiffWebP, 1, ekUChar, 3, nullptr},
        {ekTiffWebP, 1, ekUChar, 4, nullptr, 24, 90},
        {ekTiffJPEG, 1, ekUChar, 3, nullptr, 20, 90},  // stored as YCbCr
        {ekTiffJPEG, 1, ekUChar, 1, nullptr, 20},
        {ekTiffJPEG, 1, ekUChar, 3, nullptr, 20, 0, 0, ekSeparate},
        {ekTiffJPEG, 1, ekUShort, 3, "JPEG"},
        {ekTiffWebP, 1, ekUChar, 1, "WebP"},
        {ekTiffWebP, 1, ekFloat, 3, "WebP"},
        {ekTiffNone, 2, ekUChar, 1, "predictor 2"},
        {ekTiffPackBits, 2, ekUChar, 1, "predictor 2"},
        {ekTiffJPEG, 2, ekUChar, 1, "predictor 2"},
        {ekTiffLERC, 3, ekFloat, 1, "predictor 3"},
        {ekTiffDeflate, 3, ekUShort, 1, "predictor 3"},
        {ekTiffCompression(6), 1, ekUChar, 1, "compression 6"},
        {ekTiffNone, 1, ekUChar, 1, "", 0, 0, 0, ekInterleaved, 20},
        {ekTiffNone, 1, ekAnyType, 1, ""},
        {ekTiffNone, 1, ekUChar, 1, "", 0, 0, 0, ekSequential, 32, ekNotImplemented},
        {ekTiffJPEG, 1, ekUChar, 1, "quality 101", 0, 101}};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "codec " << r.codec << " predictor " << r.predictor
                                        << " type " << r.type << " channels " << r.channels);
        const ekSize size(70, 50, 2, r.channels);
        std::vector<double> pixels(size_t(70 * 50 * 2 * r.channels));
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = valueAt(i, r.type);
        const ekConfig asDoubles(ekDouble, r.order, r.channels, nullptr, 0, ekCoordSpace(0),
                                 ekColorModel(0));
        ekTiffCreateOptions options;
        options.tileWidth = r.tileWidth;
        options.tileHeight = 32;
        options.compression = r.codec;
        options.predictor = r.predictor;
        options.quality = r.quality;
        options.maxError = r.maxError;
        const std::string path = tempTiffPath("codec");
        {
            ekTiffImg img(path.c_str(), size, r.type, r.order, options);
            if (r.refused != nullptr) {
                EXPECT_EQ(r.status, img.getStatus());
                EXPECT_NE(nullptr, std::strstr(img.getMessage(), r.refused)) << img.getMessage();
                EXPECT_NE(0, std::strncmp(img.getMessage(), "warning", 7)) << img.getMessage();
                continue;
            }
            ASSERT_EQ(ekOkay, img.getStatus()) << img.getMessage();
            ASSERT_EQ(ekOkay, img.setTile3D(0, 0, 0, 70, 50, 2, pixels.data(), &asDoubles));
            ASSERT_EQ(ekOkay, img.close()) << img.getMessage();
        }
        for (int threads : {1, 4}) {
            ekTiffImg back(path.c_str());
            ASSERT_EQ(ekOkay, back.getStatus()) << back.getMessage();
            ASSERT_EQ(ekOkay, back.setThreads(threads));
            EXPECT_EQ(2, back.getZsize());
            EXPECT_EQ(int(r.codec), int(back.getCompression()));
            std::vector<double> got(pixels.size());
            ASSERT_EQ(ekOkay, back.getTile3D(0, 0, 0, 70, 50, 2, got.data(), &asDoubles))
                << back.getMessage();
            double worst = 0;
            for (size_t i = 0; i < got.size(); ++i) {
                // The written value as the file's type holds it.
                const double held = r.type == ekFloat    ? double(float(pixels[i]))
                                    : r.type == ekDouble ? pixels[i]
                                                         : std::trunc(pixels[i]);
                worst = std::max(worst, std::fabs(held - got[i]));
            }
            EXPECT_LE(worst, r.tolerance) << threads << " threads";
        }
    }
}

// --- Durability
// ------------------------------------------------------------------

uint64_t fileBytes(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? uint64_t(st.st_size) : 0;
}

// While alive, no file of this process may grow past `limit` bytes (as on a
// full disk).
class FileSizeLimit {
public:
    explicit FileSizeLimit(uint64_t limit) {
        std::signal(SIGXFSZ,
                    SIG_IGN);  // a write past the limit fails with EFBIG instead
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit l = saved;
        l.rlim_cur = rlim_t(limit);
        setrlimit(RLIMIT_FSIZE, &l);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved); }

private:
    rlimit saved{};
};

std::vector<uint8_t> onDisk(const std::string& path) { return readWithLibtiff(path, 0).pixels; }

// A flush, a close and, on the second file, the destructor that fail for lack
// of space leave the file as flushed and keep the pages; then space again.
TEST(TiffDurability, AFailedWriteKeepsTheFlushedFileAndThePages) {
    const ekSize size(128, 128, 1, 3);  // 16 tiles of 32 x 32
    for (bool destructor : {false, true}) {
        const std::string path = tempTiffPath("full");
        const std::vector<uint8_t> first = randomBytes(128 * 128 * 3, 1 + destructor);
        std::vector<uint8_t> second = randomBytes(128 * 128 * 3, 3 + destructor);
        auto img = std::make_unique<ekTiffImg>(path.c_str(), size, ekUChar,
                                               destructor ? ekSeparate : ekInterleaved, 32, 32,
                                               destructor ? ekTiffLZW : ekTiffDeflate);
        ASSERT_EQ(ekOkay,
                  img->setTile(0, 0, 128, 128, const_cast<uint8_t*>(first.data()), nullptr));
        ASSERT_EQ(ekOkay, img->flush());
        const std::vector<uint8_t> flushed = onDisk(path);
        ASSERT_FALSE(flushed.empty());
        ASSERT_EQ(ekOkay, img->setTile(0, 0, 128, 128, second.data(), nullptr));
        {
            FileSizeLimit full(fileBytes(path) + (destructor ? 0 : 20000));  // a few tiles' room
            if (destructor) {
                img.reset();  // its pages cannot be written
                EXPECT_TRUE(onDisk(path) == flushed);
                continue;
            }
            EXPECT_EQ(ekBadInput, img->flush());
            EXPECT_NE(std::string(), img->getMessage());
            EXPECT_EQ(ekBadInput, img->close());  // still open, pages kept
            EXPECT_EQ(1, img->hasUnwrittenData());
            EXPECT_TRUE(onDisk(path) == flushed);
        }
        // Space again: everything written is there.
        ASSERT_EQ(ekOkay, img->close()) << img->getMessage();
        EXPECT_EQ(ekNotAllowed, img->close());
        EXPECT_EQ(ekNotAllowed, img->flush());
        EXPECT_EQ(ekNotAllowed, img->getTile(0, 0, 2, 2, second.data(), nullptr));
        EXPECT_TRUE(onDisk(path) == second);
    }
}

// A file cut short under the image: the pages gone fail to read, and the
// close's compaction (half the file is dead after a rewrite) does not copy
// bytes it never read: the file is left as it was.
TEST(TiffDurability, AFileCutShortIsNeitherReadNorCopied) {
    const std::string path = tempTiffPath("cut");
    ekTiffImg img(path.c_str(), ekSize(64, 64, 1, 1), ekUChar, ekInterleaved, 16, 16, ekTiffNone);
    ASSERT_EQ(ekOkay, img.setCacheBytes(16 * 16));  // reads come from the file
    for (uint32_t seed : {5, 6}) {
        std::vector<uint8_t> pixels = randomBytes(64 * 64, seed);
        ASSERT_EQ(ekOkay, img.setTile(0, 0, 64, 64, pixels.data(), nullptr));
        ASSERT_EQ(ekOkay, img.flush());
    }
    const uint64_t cut = fileBytes(path) * 3 / 4;
    ASSERT_EQ(0, truncate(path.c_str(), off_t(cut)));
    std::vector<uint8_t> back(64 * 64);
    EXPECT_EQ(ekBadInput, img.getTile(0, 0, 64, 64, back.data(), nullptr));
    EXPECT_STREQ("cannot read a tile: the file ends before it", img.getMessage());
    EXPECT_EQ(ekOkay,
              img.close());  // the directory is committed: nothing is lost by it
    EXPECT_EQ(cut, fileBytes(path));
}

// Rewritten and flushed 40 times, a file stays near its live size; closed, it
// holds little more than its tiles and directory.
TEST(TiffDurability, RewritesReuseSpaceAndCloseCompacts) {
    const std::string path = tempTiffPath("grow");
    const ekSize size(512, 512, 1, 1);
    ekTiffImg img(path.c_str(), size, ekUChar, ekInterleaved, 64, 64, ekTiffDeflate);
    std::vector<uint8_t> pixels;
    uint64_t largest = 0;
    for (uint32_t round = 0; round < 40; ++round) {
        pixels = randomBytes(512 * 512, 10 + round);
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] &= round % 2 ? 0xFF : 0x0F;
        ASSERT_EQ(ekOkay, img.setTile(0, 0, 512, 512, pixels.data(), nullptr));
        ASSERT_EQ(ekOkay, img.flush());
        largest = std::max(largest, fileBytes(path));
    }
    EXPECT_LT(largest, 3 * 512 * 512);
    ASSERT_EQ(ekOkay, img.close());
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(nullptr, tif);
    uint64_t tiles = 0;
    for (uint32_t t = 0; t < TIFFNumberOfTiles(tif); ++t) tiles += TIFFGetStrileByteCount(tif, t);
    TIFFClose(tif);
    EXPECT_LE(fileBytes(path), tiles * 5 / 4 + 4096);
    ekTiffImg back(path.c_str());
    std::vector<uint8_t> all(pixels.size());
    ASSERT_EQ(ekOkay, back.getTile(0, 0, 512, 512, all.data(), nullptr));
    EXPECT_TRUE(all == pixels);
}

}  // namespace
