// SPDX-License-Identifier: Apache-2.0
// Exhaustive check, over all 2^32 float bit patterns, that the float to
// integer kernels of the transfer engine give the element rule's result:
// truncation toward zero through a signed 64-bit integer (NaN, infinities and
// values whose truncation does not fit giving the pattern 0x8000000000000000),
// low 8, 16 or 32 bits kept.
//
// The 8-bit kernels truncate through 32 bits instead: outside the 32-bit
// range the vector instruction gives 0x80000000, whose low 8 bits are 0, as
// are those of the rule's result, because a float of magnitude 2^31 or more
// is a multiple of 2^8. The 16- and 32-bit kernels rebuild the low bits of
// such values from the mantissa.
//
// The saturating mode (ekSaturate) is checked against its own rule, written
// independently here: NaN gives 0, anything else is rounded with
// std::nearbyint (the default rounding mode: to nearest, ties to even) and
// clamped to the destination's range; both signednesses of each width.
//
// Every kernel path is checked: the portable loop and the SSE2, SSSE3 and
// AVX2 kernel tables, each with ordinary and with streaming stores, as far as
// the CPU has them. Prints the time per element of each path as well.
//
//   eks_float_to_int_bench [8|16|32|0] [plain|saturate]
//       a width checks only that one (0: all three), a mode only that one;
//       everything takes about twenty-five minutes
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "transfer/convert_kernels.h"
#include "transfer/data_block.h"
#include "transfer/simd_kernels.h"

namespace {

double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// The saturating rule for a destination of type t, as the low 32 bits.
uint32_t saturated(ekType t, float f) {
    double lo = 0, hi = 0;
    switch (t) {
        case ekUChar:
            hi = 255;
            break;
        case ekChar:
            lo = -128, hi = 127;
            break;
        case ekUShort:
            hi = 65535;
            break;
        case ekShort:
            lo = -32768, hi = 32767;
            break;
        case ekULong:
            hi = 4294967295.0;
            break;
        default:
            lo = -2147483648.0, hi = 2147483647.0;
            break;
    }
    if (std::isnan(f)) return 0;
    const double r = std::nearbyint(double(f));
    return uint32_t(int64_t(r < lo ? lo : (r > hi ? hi : r)));
}

struct Path {
    char name[64];
    ekType dst;
    bool saturate;
    int level;    // instruction set cap (0: portable loop)
    bool stream;  // streaming stores
    double seconds;
    uint64_t mismatches;
};

}  // namespace

int main(int argc, char** argv) {
    const int only = argc > 1 ? std::atoi(argv[1]) : 0;
    const std::string mode = argc > 2 ? argv[2] : "";
    constexpr int64_t kChunk = int64_t(1) << 16;
    std::vector<float> src(kChunk);
    std::vector<uint32_t> want(kChunk);
    std::vector<unsigned char> got(size_t(kChunk) * 4);
    const int savedCap = ekSimdLevelCap;
    const int64_t savedStream = ekStreamBytes;
    const char* levels[] = {"portable", "SSE2", "SSSE3", "AVX2", "AVX-512"};
    // Plain casts keep the same low bits in both signednesses: one of each
    // width is checked. Saturation differs: all six.
    const struct {
        ekType type;
        const char* name;
        bool saturate;
    } dsts[] = {{ekUChar, "8-bit", false},
                {ekUShort, "16-bit", false},
                {ekULong, "32-bit", false},
                {ekUChar, "saturating 8-bit", true},
                {ekChar, "saturating signed 8-bit", true},
                {ekUShort, "saturating 16-bit", true},
                {ekShort, "saturating signed 16-bit", true},
                {ekULong, "saturating 32-bit", true},
                {ekLong, "saturating signed 32-bit", true}};
    std::vector<Path> paths;
    for (const auto& t : dsts) {
        if (only && 8 * ekDataSize(t.type, 1) != only) continue;
        if ((mode == "plain" && t.saturate) || (mode == "saturate" && !t.saturate)) continue;
        for (int level = 0; level <= ekSimdLevel(); ++level)
            for (int stream = 0; stream < (level ? 2 : 1); ++stream) {
                Path p{{}, t.type, t.saturate, level, stream != 0, 0, 0};
                std::snprintf(p.name, sizeof p.name, "%s %s%s", t.name, levels[level],
                              stream ? " streaming" : "");
                paths.push_back(p);
            }
    }

    uint64_t checked = 0;
    for (uint64_t hi = 0; hi < (uint64_t(1) << 32); hi += uint64_t(kChunk)) {
        for (int64_t i = 0; i < kChunk; ++i) {
            const uint32_t bits = uint32_t(hi + uint64_t(i));
            std::memcpy(&src[size_t(i)], &bits, 4);
        }
        ekDataBlock s(src.data(), ekFloat, ekSeparate, 1, nullptr, int(kChunk), 1, 1, 0, 0, 0, 0);
        // The rule's results, computed once per destination (its paths follow
        // each other).
        ekType wantType = ekAnyType;
        bool wantSaturate = false;
        for (Path& p : paths) {
            if (p.dst != wantType || p.saturate != wantSaturate) {
                wantType = p.dst;
                wantSaturate = p.saturate;
                for (int64_t i = 0; i < kChunk; ++i) {
                    const float f = src[size_t(i)];
                    want[size_t(i)] = p.saturate ? saturated(p.dst, f)
                                                 : uint32_t(uint64_t(ekTruncate(double(f))));
                }
            }
            ekSimdLevelCap = p.level;
            ekStreamBytes = p.stream ? 0 : savedStream;
            ekDataBlock d(got.data(), p.dst, ekSeparate, 1, nullptr, int(kChunk), 1, 1, 0, 0, 0, 0);
            d.saturate = p.saturate;
            const int bytes = ekDataSize(p.dst, 1);
            const uint32_t mask = bytes == 4 ? 0xFFFFFFFFu : (1u << (8 * bytes)) - 1;
            std::memset(got.data(), 0x5A, got.size());
            const double t0 = now();
            d.copyFrom(s);
            p.seconds += now() - t0;
            for (int64_t i = 0; i < kChunk; ++i) {
                uint32_t v = 0;
                std::memcpy(&v, got.data() + i * bytes, size_t(bytes));
                const uint32_t w = want[size_t(i)] & mask;
                if (v != w && p.mismatches++ < 5)
                    std::printf("%s: pattern %08x gives %u, the rule %u\n", p.name,
                                unsigned(hi + uint64_t(i)), v, w);
            }
        }
        checked += uint64_t(kChunk);
    }
    ekSimdLevelCap = savedCap;
    ekStreamBytes = savedStream;
    int failed = 0;
    for (const Path& p : paths) {
        std::printf("%-44s %llu patterns, %llu mismatches, %.3f ns per element\n", p.name,
                    (unsigned long long)checked, (unsigned long long)p.mismatches,
                    p.seconds / double(checked) * 1e9);
        failed |= p.mismatches != 0;
    }
    std::printf(failed ? "FAILED\n" : "all float bit patterns agree\n");
    return failed;
}
