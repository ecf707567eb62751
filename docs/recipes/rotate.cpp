// SPDX-License-Identifier: Apache-2.0
// Rotate by a quarter turn: a transposed coordinate space exchanges the axes,
// so reading a w x h picture in one gives an h x w buffer. ekLeftLower turns
// the picture clockwise, ekRightUpper counter-clockwise.
#include <eks/eks.h>

#include <cstdio>
#include <cstring>

int main() {
    unsigned char picture[6] = {1, 2, 3,   // top row
                                4, 5, 6};  // bottom row
    ekMemoryImg img(picture, ekSize(3, 2, 1), ekUChar, ekInterleaved);
    img.setCoordSpace(ekUpperLeft);

    // In a transposed space x runs vertically: the box is 2 wide and 3 high.
    unsigned char clockwise[6], counter[6];
    ekConfig cw(ekUChar, ekInterleaved, 1, nullptr, 0, ekLeftLower);
    ekConfig ccw(ekUChar, ekInterleaved, 1, nullptr, 0, ekRightUpper);
    img.getTile(0, 0, 2, 3, clockwise, &cw);
    img.getTile(0, 0, 2, 3, counter, &ccw);
    std::printf("clockwise:          %d %d / %d %d / %d %d\n", clockwise[0], clockwise[1],
                clockwise[2], clockwise[3], clockwise[4], clockwise[5]);  // 4 1 / 5 2 / 6 3
    std::printf("counter-clockwise:  %d %d / %d %d / %d %d\n", counter[0], counter[1], counter[2],
                counter[3], counter[4], counter[5]);  // 3 6 / 2 5 / 1 4

    const unsigned char wantCw[6] = {4, 1, 5, 2, 6, 3}, wantCcw[6] = {3, 6, 2, 5, 1, 4};
    return std::memcmp(clockwise, wantCw, 6) == 0 && std::memcmp(counter, wantCcw, 6) == 0 ? 0 : 1;
}
