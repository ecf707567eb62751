// SPDX-License-Identifier: Apache-2.0
// copyFrom against the reference mover over seeded random descriptor pairs,
// weighted so that each fast path is hit often, plain and saturating, at every
// instruction-set level: destination buffers, guard bytes included, must match
// byte for byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "reference_mover.h"
#include "transfer/data_block.h"
#include "transfer/simd_kernels.h"

namespace {

const ekType kTypes[] = {ekBit,   ekUChar, ekChar,  ekUShort, ekShort,
                         ekULong, ekLong,  ekFloat, ekDouble};
const ekOrder kOrders[] = {ekInterleaved, ekSequential, ekSeparate};
constexpr size_t kGuard = 24;

struct Rng {
    std::mt19937_64 g;
    explicit Rng(uint64_t seed) : g(seed) {}
    int range(int lo, int hi) { return int(std::uniform_int_distribution<int>(lo, hi)(g)); }
    bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(g) < p; }
    ekType type() { return kTypes[range(0, 8)]; }
    ekOrder order() { return kOrders[range(0, 2)]; }
    uint8_t byte() { return uint8_t(g()); }
};

// Another type that copies bit for bit with t: the other signedness of an
// integer type, or t itself.
ekType compatibleType(Rng& r, ekType t) {
    const ekType pairs[][2] = {{ekUChar, ekChar}, {ekUShort, ekShort}, {ekULong, ekLong}};
    for (const auto& p : pairs)
        if (t == p[0] || t == p[1]) return p[r.range(0, 1)];
    return t;
}

std::string text(const ekTile& b) {
    return testing::PrintToString(std::vector<int>{b.x, b.y, b.z, b.nx, b.ny, b.nz});
}

// A block layout with its own memory (guard bytes on both sides).
struct Layout {
    ekType type = ekUChar;
    ekOrder order = ekInterleaved;
    int nc = 1;
    ekTile box{0, 0, 0, 1, 1, 1};
    int firstChan = 0;
    std::vector<int> list;  // empty: no channel list
    int flip = 0;
    int transpose = 0;
    ekTile clip{0, 0, 0, 0, 0, 0};

    size_t bytes() const {
        const int64_t n = int64_t(nc) * box.nx * box.ny * box.nz;
        return size_t(type == ekBit ? (n + 7) / 8 : n * ekDataSize(type, 1));
    }
    ekDataBlock block(void* data) const {
        ekDataBlock b(data, type, order, nc, list.empty() ? nullptr : list.data(), box.nx, box.ny,
                      box.nz, box.x, box.y, box.z, firstChan);
        b.setClip(clip.x, clip.y, clip.z, clip.nx, clip.ny, clip.nz);
        b.setFlip(flip);
        b.setTranspose(transpose);
        return b;
    }
    std::string describe() const {  // type order nc firstChan flip transpose, box, clip, list
        return testing::PrintToString(
                   std::vector<int>{type, order, nc, firstChan, flip, transpose}) +
               " box " + text(box) + " clip " + text(clip) + " list " +
               testing::PrintToString(list);
    }
};

ekTile randomBox(Rng& r, int maxNx, int maxNy, int maxNz) {
    return ekTile(r.range(-3, 3), r.range(-3, 3), r.range(-1, 1), r.range(1, maxNx),
                  r.range(1, maxNy), r.range(1, maxNz));
}

std::vector<int> randomList(Rng& r, int nc, int maxChan) {
    std::vector<int> l(static_cast<size_t>(nc));
    for (int& c : l) c = r.chance(0.15) ? -1 : r.range(0, maxChan);
    return l;
}

Layout randomLayout(Rng& r) {
    Layout l;
    l.type = r.type();
    l.order = r.order();
    l.nc = r.chance(0.15) ? (r.chance(0.5) ? 8 : 16) : r.range(1, 4);
    l.box = r.chance(0.1) ? randomBox(r, 40, 3, 1) : randomBox(r, 9, 6, 3);
    if (r.chance(0.3)) l.list = randomList(r, l.nc, l.nc);
    if (r.chance(0.2)) l.firstChan = r.range(-1, 2);
    return l;
}

// Values at the limits of 32 and 64 bits, and of 8 and 16 bits, where the
// truncating and saturating conversions (and the kernels' shortcuts) turn.
// clang-format off
const double kLimits[] = {2147483648.0, 2147483520.0, 4294967296.0, 4294967040.0, 1099511627776.0,
                          9223371487098961920.0, 9223372036854775808.0, 18446744073709551616.0,
                          1e-40, 255.99998, 65535.996, 2147483904.0, 3e9, 1e10};
// clang-format on

// Random bytes (for floating types: NaNs, infinities, huge and tiny values),
// or for floating types often values where conversions keep meaningful bits,
// sprinkled with the limits above, or ties and values just past 8 and 16 bits.
void fillSource(Rng& r, const Layout& l, unsigned char* p, size_t n) {
    for (size_t i = 0; i < n; ++i) p[i] = r.byte();
    if ((l.type != ekFloat && l.type != ekDouble) || !r.chance(0.7)) return;
    const size_t es = size_t(ekDataSize(l.type, 1));
    const int kind = r.range(0, 2);
    for (size_t i = 0; i + es <= n; i += es) {
        double v = std::uniform_real_distribution<double>(-70000, 70000)(r.g) /
                   (r.chance(0.5) ? 1.0 : 300.0);
        if (kind == 1 && r.chance(0.5)) v = kLimits[r.range(0, 13)] * (r.chance(0.5) ? 1 : -1);
        if (kind == 2) v = r.range(-70000, 70000) * (r.chance(0.5) ? 0.5 : 0.0039);
        const float f = float(v);
        std::memcpy(p + i, es == 4 ? static_cast<const void*>(&f) : &v, es);
    }
}

struct Case {
    Layout dst, src;
    bool saturate = false;  // saturating conversions, flagged on one of the blocks
    bool constant = false;
    ekType pixelType = ekUChar;
    std::vector<unsigned char> pixelBytes;
    int pixelNc = 1;
    ekTile keepOut{0, 0, 0, 0, 0, 0};

    std::string describe() const {
        if (!constant) return "dst: " + dst.describe() + "\nsrc: " + src.describe();
        return "dst: " + dst.describe() + "\nsrc: pixel type " + std::to_string(pixelType) +
               " nc " + std::to_string(pixelNc) + " first " + std::to_string(src.firstChan) +
               " keepOut " + text(keepOut) + " list " + testing::PrintToString(src.list);
    }
};

bool randomCase(Rng& r, Case& c) {
    c.dst = randomLayout(r);
    const double kind = r.range(0, 99) / 100.0;
    if (kind < 0.2) {
        // Constant source: a fill, with or without a keep-out box.
        c.constant = true;
        c.pixelType = r.chance(0.5) ? c.dst.type : r.type();
        c.pixelNc = r.chance(0.6) ? c.dst.nc : r.range(1, 5);
        c.pixelBytes.resize(size_t(ekDataSize(c.pixelType, c.pixelNc)));
        for (auto& b : c.pixelBytes) b = r.byte();
        if (r.chance(0.3)) c.dst.list = randomList(r, c.dst.nc, c.pixelNc);
        if (r.chance(0.6)) {
            const ekTile& b = c.dst.box;
            c.keepOut =
                ekTile(b.x + r.range(-2, b.nx), b.y + r.range(-2, b.ny), b.z + r.range(-1, b.nz),
                       r.range(0, b.nx + 2), r.range(0, b.ny + 2), r.range(0, b.nz + 1));
        }
        c.src.list = r.chance(0.2) ? randomList(r, c.pixelNc, c.dst.nc) : std::vector<int>();
        c.src.firstChan = r.chance(0.2) ? r.range(-1, 2) : 0;
    } else if (kind < 0.65) {
        // Same layout on both sides (the fast paths), sometimes with a
        // compatible type, another order, a partial box or a mirror in y.
        c.dst.list.clear();
        c.dst.firstChan = 0;
        c.src = c.dst;
        c.src.type = compatibleType(r, c.dst.type);
        if (r.chance(0.25)) c.src.order = r.order();
        if (r.chance(0.3))
            c.src.box = randomBox(r, 9, 6, 3);
        else if (r.chance(0.1))
            c.src.box.ny = r.range(1, 6);  // whole rows, but slices of another height
        if (r.chance(0.15)) c.dst.flip = 2;
        if (r.chance(0.1)) c.dst.list = randomList(r, c.dst.nc, c.dst.nc);
    } else {
        c.src = randomLayout(r);
        if (r.chance(0.4)) c.src.box = c.dst.box;
        if (r.chance(0.3)) c.src.nc = c.dst.nc, c.src.list = c.dst.list;
        if (r.chance(0.3)) c.src.type = compatibleType(r, c.dst.type);
    }
    if (r.chance(0.3)) c.dst.flip = r.range(0, 3);
    if (r.chance(0.2)) c.dst.transpose = 1;
    if (!c.constant && r.chance(0.1)) c.src.flip = r.range(1, 3);
    if (!c.constant && r.chance(0.08)) c.src.transpose = 1;
    if (c.src.flip == c.dst.flip && c.dst.flip && r.chance(0.5)) c.src.flip = c.dst.flip = 0;
    if (r.chance(0.3)) c.dst.clip = randomBox(r, 8, 6, 2);
    if (!c.constant && r.chance(0.15)) c.src.clip = randomBox(r, 8, 6, 2);
    return true;
}

// Runs one case through the engine and the reference; empty string if equal.
std::string runCase(const Case& c, Rng& r) {
    std::vector<unsigned char> got(c.dst.bytes() + 2 * kGuard);
    for (auto& b : got) b = r.byte();
    std::vector<unsigned char> want = got;
    // Both blocks at any byte offset: a caller's buffer need not be aligned
    // for its type, and the streaming stores need alignment.
    const size_t lead = kGuard - size_t(r.range(0, 7)), srcLead = kGuard - size_t(r.range(0, 7));
    ekDataBlock dBlock = c.dst.block(got.data() + lead), rBlock = c.dst.block(want.data() + lead);
    std::vector<unsigned char> srcMem(c.constant ? 0 : c.src.bytes() + 2 * kGuard);
    ekPixel pixel;
    if (c.constant)
        pixel.set(c.pixelType, c.pixelNc, c.pixelBytes.data());
    else
        fillSource(r, c.src, srcMem.data() + srcLead, srcMem.size() - srcLead);
    const int* srcList = c.src.list.empty() ? nullptr : c.src.list.data();
    const ekTile* keepOut = c.keepOut.nx || c.keepOut.ny ? &c.keepOut : nullptr;
    ekDataBlock sBlock = c.constant ? ekDataBlock(pixel, keepOut, srcList, c.src.firstChan)
                                    : c.src.block(srcMem.data() + srcLead);
    // The flag on either block makes the transfer saturate.
    if (c.saturate) (r.chance(0.5) ? dBlock : sBlock).saturate = true;
    rBlock.saturate = dBlock.saturate;
    const std::vector<unsigned char> srcCopy = srcMem;
    dBlock.copyFrom(sBlock);
    ref::move(rBlock, sBlock);
    if (srcMem != srcCopy) return "source changed";
    for (size_t i = 0; i < got.size(); ++i)
        if (got[i] != want[i]) {
            char buf[128];
            std::snprintf(buf, sizeof buf,
                          "byte %zd of the destination (guard %zu): got %02x want %02x",
                          ptrdiff_t(i) - ptrdiff_t(lead), lead, got[i], want[i]);
            return buf;
        }
    return "";
}

// Runs `count` seeded cases from seed `first`: make(r, c) builds each case
// (false: skip it). A failure prints its seed; EKS_TRANSFER_SEED=<seed> with
// --gtest_filter=<the test> runs that one case again.
using Make = bool (*)(Rng&, Case&);
void runCases(const char* what, Make make, uint64_t first, int count, bool saturate = false) {
    if (const char* env = std::getenv("EKS_TRANSFER_SEED")) {
        first = std::strtoull(env, nullptr, 10);
        count = 1;
    }
    for (uint64_t seed = first; seed < first + uint64_t(count); ++seed) {
        Rng r(seed);
        Case c;
        if (!make(r, c)) continue;
        c.saturate = c.saturate || saturate;
        const std::string err = runCase(c, r);
        if (!err.empty()) {
            ADD_FAILURE() << "seed " << seed << " (" << what << "): " << err << "\n"
                          << c.describe();
            return;
        }
    }
}

// Rows long enough for the vector loops' bodies and tails, and rows of more
// than 2 KB for the row copies of large boxes.
bool largerRows(Rng& r, Case& c) {
    randomCase(r, c);
    c.dst.box.nx = r.range(17, r.chance(0.2) ? 700 : 150);
    if (c.constant) return true;
    if (r.chance(0.6))
        c.src.box = c.dst.box;
    else
        c.src.box.nx = r.range(17, c.dst.box.nx + 20);
    return true;
}

// Same-width copies over boxes large enough for the blocked, shuffling and
// converting kernels (16 x 16 blocks, 16-pixel chunks), with transposition,
// mirrors and order changes on either side.
bool kernelShapes(Rng& r, Case& c) {
    randomCase(r, c);
    if (c.constant) return false;
    auto box = [&r] {
        return ekTile(r.range(-2, 2), r.range(-2, 2), 0, r.range(1, 70), r.range(1, 40),
                      r.range(1, 2));
    };
    c.dst.box = box();
    c.dst.nc = c.src.nc = r.chance(0.1) ? r.range(5, 7) : r.range(1, 4);  // odd pixel sizes
    c.dst.type = r.chance(0.7) ? (r.chance(0.5) ? ekUChar : ekChar) : r.type();
    c.dst.list.clear();
    c.src.list.clear();
    c.dst.firstChan = c.src.firstChan = 0;
    c.src.type =
        r.chance(0.8) ? compatibleType(r, c.dst.type) : (r.chance(0.5) ? ekFloat : r.type());
    c.src.box = r.chance(0.7) ? c.dst.box : box();
    c.src.transpose = r.chance(0.2);
    c.src.flip = r.chance(0.2) ? r.range(1, 3) : 0;
    return true;
}

// Boxes of whole slices of nx columns and about `bytes` bytes each (rounded up).
ekTile slices(Rng& r, int nx, int64_t bytes, int elemBytes) {
    return ekTile(0, 0, 0, nx, int(bytes / elemBytes / nx) + 1, r.range(1, 2));
}

// Transpositions and order changes of a few hundred pixels a side, rows often
// a multiple of 64 bytes (the 64 x 64 transposition blocks, the whole-line
// stores of splits and merges); now and then a transposition of several staged
// tiles, a copy of more than a megabyte, or a conversion or order change whose
// runs (whole slices) take more than 256 KB each.
bool largeBlocks(Rng& r, Case& c) {
    const int nx = r.chance(0.5) ? 64 * r.range(1, 4) : r.range(60, 260);
    c.dst.box = c.src.box = ekTile(0, 0, 0, nx, r.range(60, 200), 1);
    c.dst.nc = c.src.nc = r.chance(0.5) ? 1 : r.range(2, 4);
    c.dst.type = ekUChar;
    c.src.type = compatibleType(r, ekUChar);
    c.dst.order = r.chance(0.7) ? ekInterleaved : ekSeparate;
    c.src.order = r.chance(0.7) ? ekInterleaved : r.order();
    if (r.chance(0.6)) (r.chance(0.5) ? c.dst : c.src).transpose = 1;
    if (r.chance(0.2)) c.src.flip = r.range(1, 3);
    const bool staged = r.chance(0.1), copy = !staged && r.chance(0.1),
               convert = !staged && !copy && r.chance(0.1),
               split = !staged && !copy && !convert && r.chance(0.1);
    if (staged || copy || convert || split) c.dst.transpose = c.src.transpose = c.src.flip = 0;
    if (staged) {
        // One-byte transpositions larger than one 256 x 256 staged tile, with
        // partial tiles at the right and the bottom (the staged kernel takes
        // rows a multiple of 64 bytes apart).
        auto side = [&r] { return r.chance(0.7) ? 64 * r.range(5, 9) : r.range(257, 600); };
        c.dst.box = c.src.box = ekTile(0, 0, 0, side(), side(), 1);
        c.dst.nc = c.src.nc = c.dst.transpose = 1;
    } else if (copy) {  // more than a megabyte: the four-stream copy
        c.dst.box = c.src.box = ekTile(0, 0, 0, r.range(500, 700), r.range(380, 420), 1);
        c.dst.nc = c.src.nc = 4;
        c.dst.order = c.src.order = ekInterleaved;
    } else if (convert) {
        // Vector conversions as runs of four streams, the second slice's run
        // starting at another alignment.
        const ekType pairs[][2] = {{ekUChar, ekFloat},
                                   {ekShort, ekFloat},
                                   {ekLong, ekFloat},
                                   {ekChar, ekUShort},
                                   {ekFloat, ekUChar}};
        const auto& p = pairs[r.range(0, 4)];
        c.dst.type = p[0], c.src.type = p[1];
        c.dst.nc = c.src.nc = r.range(1, 3);
        c.dst.box = c.src.box =
            slices(r, r.range(500, 640), r.range(265000, 300000), ekDataSize(p[0], c.dst.nc));
        c.dst.order = c.src.order = ekInterleaved;
        c.saturate = r.chance(0.3);
    } else if (split) {  // splits of whole slices, in regions, and merges of the same
        c.dst.nc = c.src.nc = r.range(2, 4);
        c.dst.box = c.src.box = slices(r, r.range(500, 640), r.range(265000, 300000), c.dst.nc);
        c.dst.order = r.chance(0.5) ? ekInterleaved : ekSeparate;
        c.src.order = c.dst.order == ekInterleaved ? ekSeparate : ekInterleaved;
    }
    return true;
}

// A tile of an image of the same layout, the image wide enough that the tile
// has a neighbour to its right (the short-row copies prefetch its part of each
// row), rows from one byte to a few hundred, sometimes mirrored in y.
bool tileReads(Rng& r, Case& c) {
    c.dst.type = compatibleType(r, kTypes[r.range(1, 8)]);
    c.dst.order = r.order();
    c.dst.nc = r.range(1, 4);
    const int nx = r.range(1, 48), ny = r.range(1, 12);
    c.dst.box = ekTile(r.range(0, 2 * nx), r.range(0, 3), 0, nx, ny, r.range(1, 2));
    c.src = c.dst;
    c.src.type = compatibleType(r, c.dst.type);
    c.src.box =
        ekTile(0, 0, 0, c.dst.box.x + r.range(2, 3) * nx, c.dst.box.y + ny + 3, c.dst.box.nz);
    if (r.chance(0.2)) c.dst.flip = 2;
    return true;
}

// Saturating conversions over long runs, mostly the pairs with vector kernels
// (float and wider integers into 8-, 16- and 32-bit integers).
bool saturatingKernels(Rng& r, Case& c) {
    const ekType dstTypes[] = {ekUChar, ekChar, ekUShort, ekShort, ekULong, ekLong, ekBit};
    const ekType srcTypes[] = {ekFloat, ekFloat, ekUShort, ekShort, ekULong, ekLong, ekDouble};
    c.saturate = true;
    c.dst.type = dstTypes[r.range(0, 6)];
    c.dst.order = r.order();
    c.dst.nc = r.range(1, 4);
    c.dst.box =
        ekTile(r.range(-2, 2), r.range(-2, 2), 0, r.range(1, 150), r.range(1, 6), r.range(1, 2));
    c.src = c.dst;
    c.src.type = srcTypes[r.range(0, 6)];
    if (r.chance(0.2)) c.src.box.nx = r.range(1, 150);
    if (r.chance(0.2)) c.dst.flip = r.range(1, 3);
    if (r.chance(0.1)) c.dst.transpose = 1;
    return true;
}

#if defined(__SANITIZE_ADDRESS__)
const int kCases = 12000;
#else
const int kCases = 40000;
#endif

// Runs f(salt) at every instruction-set level from `top` down to `lowest`, for
// each CPU family's tuning when `tunings`, with ordinary stores and, when
// `streaming`, with every box counted as large (the streaming-store variants:
// aligned heads, bypassing stores, the final fence); restores the settings.
template <class F>
void atLevels(int top, int lowest, bool streaming, bool tunings, F f) {
    const int savedCap = ekSimdLevelCap, savedTuning = ekSimdTuning;
    const int64_t savedStream = ekStreamBytes;
    const std::vector<int> families =
        tunings ? std::vector<int>{ekTuneAmd, ekTuneIntel} : std::vector<int>{savedTuning};
    for (int t : families) {
        ekSimdTuning = t;
        EXPECT_TRUE(!tunings || ekSimdTune() == t);
        for (int level = top; level >= lowest; --level) {
            ekSimdLevelCap = level;
            EXPECT_EQ(ekSimdLevel(), level);
            for (int pass = 0; pass < (streaming ? 2 : 1); ++pass) {
                ekStreamBytes = pass ? 0 : savedStream;
                f(uint64_t(t + 1) * 1000000 + uint64_t(level) * 100000 + uint64_t(pass) * 50000);
            }
        }
    }
    ekSimdLevelCap = savedCap;
    ekSimdTuning = savedTuning;
    ekStreamBytes = savedStream;
}

}  // namespace

TEST(TransferDifferential, RandomDescriptorPairsMatchReference) {
    runCases("random", randomCase, 1, kCases);
    runCases("larger rows", largerRows, 1000000, kCases / 20);
}

TEST(TransferDifferential, KernelShapesMatchReference) {
    runCases("kernel shapes", kernelShapes, 2000000, kCases / 10);
    runCases("large blocks", largeBlocks, 2500000, kCases / 200);
}

TEST(TransferDifferential, StreamingStoreKernelsMatchReference) {
    const int64_t saved = ekStreamBytes;
    ekStreamBytes = 0;  // every box counts as large
    runCases("kernel shapes", kernelShapes, 3000000, kCases / 10);
    runCases("random", randomCase, 4000000, kCases / 10);
    runCases("larger rows", largerRows, 5000000, kCases / 20);
    atLevels(ekSimdLevel(), ekSimdLevel(), false, true, [](uint64_t salt) {
        runCases("large blocks", largeBlocks, 5500000 + salt, kCases / 200);
    });
    ekStreamBytes = saved;
}

TEST(TransferDifferential, EveryInstructionSetLevelMatchesReference) {
    // The other tests run the best level; here every level below it, each
    // with ordinary and with streaming stores.
    atLevels(ekSimdLevel() - 1, 0, true, false, [](uint64_t salt) {
        runCases("kernel shapes", kernelShapes, 6000000 + salt, kCases / 20);
        runCases("larger rows", largerRows, 7000000 + salt, kCases / 40);
    });
}

TEST(TransferDifferential, TileReadsMatchReference) {
    atLevels(ekSimdLevel(), 0, false, true,
             [](uint64_t salt) { runCases("tile reads", tileReads, 8000000 + salt, kCases / 40); });
}

TEST(TransferDifferential, SaturatingConversionsMatchReference) {
    // Random layouts, then the kernels' pairs on every level.
    runCases("random", randomCase, 9000000, kCases / 4, true);
    runCases("larger rows", largerRows, 9500000, kCases / 40, true);
    atLevels(ekSimdLevel(), 0, true, false, [](uint64_t salt) {
        runCases("saturating", saturatingKernels, 10000000 + salt, kCases / 40);
    });
}
