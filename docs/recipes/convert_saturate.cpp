// SPDX-License-Identifier: Apache-2.0
// Saturating conversions: set ekSaturate in the configuration's reserved word
// and every narrowing conversion of the transfer rounds to nearest (ties to
// even) and clamps to the destination's range.
#include <eks/eks.h>

#include <cmath>
#include <cstdio>

int main() {
    unsigned char bytes[5] = {};
    ekMemoryImg img(bytes, ekSize(5, 1, 1), ekUChar, ekInterleaved);

    float results[5] = {2.7f, 300.0f, -10.0f, 2.5f, std::nanf("")};
    ekConfig asFloat(ekFloat, ekInterleaved, 1);
    asFloat.reserved = ekSaturate;
    img.setTile(0, 0, 5, 1, results, &asFloat);
    std::printf("stored: %d %d %d %d %d\n", bytes[0], bytes[1], bytes[2], bytes[3],
                bytes[4]);  // 3 255 0 2 0

    const unsigned char want[5] = {3, 255, 0, 2, 0};
    for (int i = 0; i < 5; ++i)
        if (bytes[i] != want[i]) return 1;
    return 0;
}
