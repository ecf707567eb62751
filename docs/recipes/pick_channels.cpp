// SPDX-License-Identifier: Apache-2.0
// Pick, reorder and separate channels: the configuration's channel count,
// channel offset and channel list choose which image channel lands in each
// channel of the buffer, and its order how the buffer arranges them.
#include <eks/eks.h>

#include <cstdio>
#include <cstring>

int main() {
    unsigned char rgb[2][3] = {{10, 20, 30}, {11, 21, 31}};  // two RGB pixels
    ekMemoryImg img(rgb, ekSize(2, 1, 3), ekUChar, ekInterleaved);

    // Blue, green, red: buffer channel k holds image channel swap[k].
    int swap[3] = {2, 1, 0};
    ekConfig bgr(ekUChar, ekInterleaved, 3, swap);
    unsigned char asBgr[6];
    img.getTile(0, 0, 2, 1, asBgr, &bgr);

    // Green alone: one buffer channel, starting at image channel 1.
    ekConfig green(ekUChar, ekInterleaved, 1, nullptr, 1);
    unsigned char greens[2];
    img.getTile(0, 0, 2, 1, greens, &green);

    // All three as separate planes: every red, then every green, then every blue.
    ekConfig planes(ekUChar, ekSeparate, 3);
    unsigned char planar[6];
    img.getTile(0, 0, 2, 1, planar, &planes);

    std::printf("bgr:    %d %d %d  %d %d %d\n", asBgr[0], asBgr[1], asBgr[2], asBgr[3], asBgr[4],
                asBgr[5]);
    std::printf("green:  %d %d\n", greens[0], greens[1]);
    std::printf("planes: %d %d | %d %d | %d %d\n", planar[0], planar[1], planar[2], planar[3],
                planar[4], planar[5]);

    const unsigned char wantBgr[6] = {30, 20, 10, 31, 21, 11},
                        wantPlanes[6] = {10, 11, 20, 21, 30, 31};
    return std::memcmp(asBgr, wantBgr, 6) == 0 && greens[0] == 20 && greens[1] == 21 &&
                   std::memcmp(planar, wantPlanes, 6) == 0
               ? 0
               : 1;
}
