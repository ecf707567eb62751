// SPDX-License-Identifier: Apache-2.0
// Wrap a buffer you already have: the image borrows it, reads and writes go
// straight to it, and it is never freed or resized by the image.
#include <eks/eks.h>

#include <cstdio>

int main() {
    // A 4 x 2 RGB picture, stored top row first, three bytes per pixel.
    unsigned char pixels[2][4][3] = {
        {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}},  // top row
        {{10, 10, 10}, {20, 20, 20}, {30, 30, 30}, {40, 40, 40}},  // bottom row
    };
    ekMemoryImg img(pixels, ekSize(4, 2, 3), ekUChar, ekInterleaved);
    img.setCoordSpace(ekUpperLeft);  // row 0 is the top row, as stored

    if (img.getStatus() != ekOkay) {
        std::printf("cannot use the buffer: %s\n", ekStatusName(img.getStatus()));
        return 1;
    }

    ekPixel p;  // an empty pixel takes the image's type and channel count
    img.getPixel(2, 0, p);
    std::printf("pixel (2, 0): %g %g %g\n", p[0], p[1], p[2]);  // 0 0 255: blue

    // Writes land in the caller's array.
    p.setElem(128, 0);
    img.setPixel(0, 1, p);
    std::printf("pixels[1][0][0] is now %d\n", pixels[1][0][0]);  // 128

    return p[2] == 255 && pixels[1][0][0] == 128 && pixels[1][0][2] == 255 ? 0 : 1;
}
