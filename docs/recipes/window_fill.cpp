// SPDX-License-Identifier: Apache-2.0
// Read a window that reaches past the edge: the part inside comes from the
// image, every pixel outside gets the image's fill value. The read still
// answers ekOkay.
#include <eks/eks.h>

#include <cstdio>

int main() {
    unsigned char grey[3][3] = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
    ekMemoryImg img(grey, ekSize(3, 3, 1), ekUChar, ekInterleaved);
    img.setCoordSpace(ekUpperLeft);
    img.setFillValue(99, 0);  // channel 0's value outside the image

    // A 3 x 3 window one pixel up and to the left of the image's corner.
    unsigned char window[3][3];
    ekStatus s = img.getTile(-1, -1, 3, 3, window, nullptr);
    std::printf("status: %s\n", ekStatusName(s));
    for (auto& row : window) std::printf("  %2d %2d %2d\n", row[0], row[1], row[2]);
    // 99 99 99 / 99 1 2 / 99 4 5

    return s == ekOkay && window[0][0] == 99 && window[1][0] == 99 && window[1][1] == 1 &&
                   window[2][2] == 5
               ? 0
               : 1;
}
