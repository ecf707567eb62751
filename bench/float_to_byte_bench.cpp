// Exhaustive check, over all 2^32 float bit patterns, that the 8-bit
// conversion shortcut of the transfer engine gives the same byte as the
// element rule: truncation toward zero through a signed 64-bit integer (NaN,
// infinities and values whose truncation does not fit giving the pattern
// 0x8000000000000000), low 8 bits kept. The shortcut truncates through 32 bits
// instead, after replacing values outside the 32-bit range by 0; it is right
// because a float of magnitude 2^31 or more is a multiple of 2^8.
//
// Every kernel path is checked: the portable loop and the SSE2, SSSE3 and
// AVX2 kernel tables, each with ordinary and with streaming stores, as far as
// the CPU has them. Prints the time per element of each path as well.
//
//   eks_float_to_byte_bench        (about half a minute)
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "transfer/convert_kernels.h"
#include "transfer/data_block.h"
#include "transfer/simd_kernels.h"

namespace {

double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

struct Path {
    const char* name;
    int level;    // instruction set cap (0: portable loop)
    bool stream;  // streaming stores
    double seconds;
    uint64_t mismatches;
};

}  // namespace

int main() {
    constexpr int64_t kChunk = int64_t(1) << 16;
    std::vector<float> src(kChunk);
    std::vector<unsigned char> want(kChunk), got(kChunk);
    std::vector<Path> paths = {{"portable loop", 0, false, 0, 0}};
    const int savedCap = ekSimdLevelCap;
    const int64_t savedStream = ekStreamBytes;
    const char* names[] = {"", "SSE2", "SSSE3", "AVX2"};
    static char labels[8][32];
    for (int level = 1; level <= ekSimdLevel(); ++level)
        for (int stream = 0; stream < 2; ++stream) {
            char* l = labels[(level - 1) * 2 + stream];
            std::snprintf(l, 32, "%s%s", names[level], stream ? " streaming" : "");
            paths.push_back({l, level, stream != 0, 0, 0});
        }
    uint64_t checked = 0;
    for (uint64_t hi = 0; hi < (uint64_t(1) << 32); hi += uint64_t(kChunk)) {
        for (int64_t i = 0; i < kChunk; ++i) {
            const uint32_t bits = uint32_t(hi + uint64_t(i));
            std::memcpy(&src[size_t(i)], &bits, 4);
            want[size_t(i)] = uint8_t(uint64_t(ekTruncate(double(src[size_t(i)]))));
        }
        ekDataBlock s(src.data(), ekFloat, ekSeparate, 1, nullptr, int(kChunk), 1, 1, 0, 0, 0, 0);
        ekDataBlock d(got.data(), ekUChar, ekSeparate, 1, nullptr, int(kChunk), 1, 1, 0, 0, 0, 0);
        for (Path& p : paths) {
            ekSimdLevelCap = p.level;
            ekStreamBytes = p.stream ? 0 : savedStream;
            std::memset(got.data(), 0x5A, got.size());
            const double t0 = now();
            d.copyFrom(s);
            p.seconds += now() - t0;
            for (int64_t i = 0; i < kChunk; ++i)
                if (got[size_t(i)] != want[size_t(i)] && p.mismatches++ < 5)
                    std::printf("%s: pattern %08x gives %u, the rule %u\n", p.name,
                                unsigned(hi + uint64_t(i)), got[size_t(i)], want[size_t(i)]);
        }
        checked += uint64_t(kChunk);
    }
    ekSimdLevelCap = savedCap;
    ekStreamBytes = savedStream;
    int failed = 0;
    for (const Path& p : paths) {
        std::printf("%-20s %llu patterns, %llu mismatches, %.3f ns per element\n", p.name,
                    (unsigned long long)checked, (unsigned long long)p.mismatches,
                    p.seconds / double(checked) * 1e9);
        failed |= p.mismatches != 0;
    }
    std::printf(failed ? "FAILED\n" : "all float bit patterns agree\n");
    return failed;
}
