// SPDX-License-Identifier: Apache-2.0
// A view: a window onto another image that stores no pixels. Reads and
// writes go through to the parent, shifted by the window's start.
#include <eks/eks.h>

#include <cstdio>

int main() {
    unsigned char grey[3][4] = {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}};
    ekMemoryImg parent(grey, ekSize(4, 3, 1), ekUChar, ekInterleaved);
    parent.setCoordSpace(ekUpperLeft);

    // The 2 x 2 window whose first pixel is the parent's (1, 1); the view takes
    // the parent's type, order, channels and coordinate space.
    ekSubImg view(&parent, 1, 1, 2, 2, nullptr);
    unsigned char window[2][2];
    view.getTile(0, 0, 2, 2, window, nullptr);
    std::printf("window: %d %d / %d %d\n", window[0][0], window[0][1], window[1][0],
                window[1][1]);  // 6 7 / 10 11

    // Writing through the view writes the parent.
    ekPixel zero(ekUChar, 1);  // one 8-bit element, 0
    view.setPixel(1, 1, zero);
    std::printf("parent (2, 2) is now %d\n", grey[2][2]);  // 0

    // The view has a size of its own; past its edge a read gives the view's fill.
    std::printf("view: %d x %d\n", view.getXsize(), view.getYsize());

    return window[0][0] == 6 && window[1][1] == 11 && grey[2][2] == 0 && view.getXsize() == 2 ? 0
                                                                                              : 1;
}
