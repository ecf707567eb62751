// SPDX-License-Identifier: Apache-2.0
// Convert on the fly: the caller's ekConfig names the element type (and order)
// of its buffer, and every read or write converts between it and the image.
#include <eks/eks.h>

#include <cstdio>

int main() {
    unsigned char bytes[4] = {0, 100, 200, 255};
    ekMemoryImg img(bytes, ekSize(4, 1, 1), ekUChar, ekInterleaved);

    // Read the 8-bit image as floats: widening is exact.
    float wide[4];
    ekConfig asFloat(ekFloat, ekInterleaved, 1);
    img.getTile(0, 0, 4, 1, wide, &asFloat);
    std::printf("as float: %g %g %g %g\n", wide[0], wide[1], wide[2], wide[3]);

    // Write floats into the 8-bit image: narrowing is a plain cast by default,
    // truncated toward zero and wrapped to the low 8 bits.
    float results[4] = {2.7f, 300.0f, -10.0f, 128.0f};
    img.setTile(0, 0, 4, 1, results, &asFloat);
    std::printf("stored:   %d %d %d %d\n", bytes[0], bytes[1], bytes[2], bytes[3]);  // 2 44 246 128

    return wide[2] == 200.0f && bytes[0] == 2 && bytes[1] == 44 && bytes[2] == 246 ? 0 : 1;
}
