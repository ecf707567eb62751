// SPDX-License-Identifier: Apache-2.0
// A constant image: one value everywhere, delivered in whatever layout the
// caller asks for. It stores no pixels and refuses writes; as the source of a
// copy it fills the destination.
#include <eks/eks.h>

#include <cstdio>

int main() {
    unsigned char orangeValue[3] = {255, 128, 0};
    ekConstImg orange(ekPixel(ekUChar, 3, orangeValue));
    orange.setSize(ekSize(640, 480, 3));  // any size; every pixel is the value

    // Read it as floats, anywhere.
    float px[3];
    ekConfig asFloat(ekFloat, ekInterleaved, 3);
    orange.getTile(100, 100, 1, 1, px, &asFloat);
    std::printf("as float: %g %g %g\n", px[0], px[1], px[2]);

    // Paint a memory image with it: << copies the whole extent of the target.
    ekMemoryImg canvas(ekSize(4, 2, 3), ekUChar, ekInterleaved);
    canvas << orange;
    unsigned char rgb[3];
    canvas.getTile(3, 1, 1, 1, rgb, nullptr);
    std::printf("canvas (3, 1): %d %d %d, status %s\n", rgb[0], rgb[1], rgb[2],
                ekStatusName(canvas.getStatus()));

    // Writes are refused.
    ekStatus s = orange.setTile(0, 0, 1, 1, rgb, nullptr);
    std::printf("writing into it: %s\n", ekStatusName(s));  // not allowed

    return px[1] == 128.0f && rgb[0] == 255 && rgb[2] == 0 && s == ekNotAllowed ? 0 : 1;
}
