// SPDX-License-Identifier: Apache-2.0
// Lock pages: instead of copying a tile into a buffer, lock the pages it
// touches and read the image's own data in place. A memory image is one page
// that points straight into its buffer; other images hand out copies.
#include <eks/eks.h>

#include <cstdio>

int main() {
    unsigned char grey[4][6];
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) grey[y][x] = static_cast<unsigned char>(10 * y + x);
    ekMemoryImg img(grey, ekSize(6, 4, 1), ekUChar, ekInterleaved);

    int pageX, pageY, pageZ, pageC;
    img.getPageSize(pageX, pageY, pageZ, pageC);  // the whole image: 6 x 4 x 1 x 1

    // Lock the pages of the 2 x 2 tile at (1, 1) and add up its pixels, read
    // in the page: positions relative to the page's origin, the image's type
    // and order. Deleting the locked tile unlocks its pages.
    ekLockedTile* tile = img.lockTile(1, 1, 2, 2, nullptr, 0);
    if (!tile || tile->status != ekOkay) return 1;
    int sum = 0;
    for (int i = 0; i < tile->count; ++i) {
        const ekLockRequest& r = tile->requests[i];
        if (!r.page) continue;  // a position outside the image
        auto* data = static_cast<unsigned char*>(r.page->getData());
        for (int y = 1; y < 3; ++y)
            for (int x = 1; x < 3; ++x)
                if (x >= r.x && x < r.x + pageX && y >= r.y && y < r.y + pageY)
                    sum += data[(y - r.y) * pageX + (x - r.x)];
    }
    std::printf("%d page(s), sum of the tile %d\n", tile->count, sum);  // 1 page, 11+12+21+22
    const bool zeroCopy = tile->count == 1 && tile->requests[0].page->getData() == grey;
    delete tile;

    // Which pages of a 64 x 64 grid does an 80 x 80 tile at (30, 30) touch?
    ekTileIter pages(ekTile(30, 30, 0, 80, 80, 1), 64, 64, 1, 1, 1, nullptr, 0);
    std::printf("%d pages:", pages.getCount());
    while (pages.more()) std::printf(" (%d, %d)", pages.x, pages.y);
    std::printf("\n");  // (0, 0) (64, 0) (0, 64) (64, 64)

    return sum == 66 && zeroCopy ? 0 : 1;
}
