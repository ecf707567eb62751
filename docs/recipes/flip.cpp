// SPDX-License-Identifier: Apache-2.0
// Flip while reading: ask for the tile in another coordinate space. The
// buffer is always filled row 0 first; the space says where row 0 and
// column 0 are in the picture.
#include <eks/eks.h>

#include <cstdio>
#include <cstring>

static void print(const char* title, const unsigned char* p) {
    std::printf("%s\n  %d %d %d\n  %d %d %d\n", title, p[0], p[1], p[2], p[3], p[4], p[5]);
}

int main() {
    unsigned char picture[6] = {1, 2, 3,   // top row
                                4, 5, 6};  // bottom row
    ekMemoryImg img(picture, ekSize(3, 2, 1), ekUChar, ekInterleaved);
    img.setCoordSpace(ekUpperLeft);  // stored top row first

    unsigned char upsideDown[6], mirrored[6];
    ekConfig fromBottom(ekUChar, ekInterleaved, 1, nullptr, 0, ekLowerLeft);
    ekConfig fromRight(ekUChar, ekInterleaved, 1, nullptr, 0, ekUpperRight);
    img.getTile(0, 0, 3, 2, upsideDown, &fromBottom);
    img.getTile(0, 0, 3, 2, mirrored, &fromRight);
    print("upside down (ekLowerLeft):", upsideDown);  // 4 5 6 / 1 2 3
    print("mirrored (ekUpperRight):", mirrored);      // 3 2 1 / 6 5 4

    const unsigned char wantDown[6] = {4, 5, 6, 1, 2, 3}, wantMirror[6] = {3, 2, 1, 6, 5, 4};
    return std::memcmp(upsideDown, wantDown, 6) == 0 && std::memcmp(mirrored, wantMirror, 6) == 0
               ? 0
               : 1;
}
