// SPDX-License-Identifier: Apache-2.0
// Locking pages of a view and of a constant image: both lock by copy through
// their own tile readers.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "test_images.h"

namespace {

TEST(LockTileOverView, PagesAreCopiesOfTheViewsPageBoxes) {
    Pixels3D src;
    int list[2] = {2, 0};
    ekConfig swap(ekUShort, ekInterleaved, 2, list);
    const struct {
        const char* name;
        ekConfig* cfg;
        int channels;
    } cases[] = {{"all channels", nullptr, 3}, {"two channels swapped", &swap, 2}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        ekSubImg view(&src.img, 4, 2, 0, 10, 6, 1, k.cfg);
        EXPECT_EQ(view.hasPages(), src.img.hasPages());
        std::unique_ptr<ekLockedTile> lt(view.lockTile(0, 0, 10, 6, nullptr, 0));
        ASSERT_NE(lt, nullptr);
        ASSERT_EQ(lt->getStatus(), ekOkay);
        // The view's page is its parent's: the whole parent, so one page.
        ASSERT_EQ(lt->count, 1);
        const ekPage* p = lt->requests[0].page;
        ASSERT_NE(p, nullptr);
        EXPECT_NE(p->getData(), static_cast<void*>(src.data.data()));  // a copy
        EXPECT_TRUE(holdsPageBox(view, p));
        // Pixel (1, 1) of the view is pixel (5, 3) of the parent.
        const uint16_t* d = static_cast<const uint16_t*>(p->getData());
        const int px = view.getPageSizeX();
        for (int ch = 0; ch < k.channels; ++ch) {
            const int parentCh = k.cfg ? list[ch] : ch;
            EXPECT_EQ(d[(1 * px + 1) * k.channels + ch],
                      src.data[size_t((3 * Pixels3D::kX + 5) * Pixels3D::kC + parentCh)]);
        }
    }
}

TEST(LockTileOverConstImage, EveryPageHoldsTheValue) {
    ekPixel value(ekUShort, 2);
    value.setElem(7, 0);
    value.setElem(9, 1);
    ekConstImg img(value);
    ASSERT_EQ(img.setSize(ekSize(300, 200, 1, 2)), ekOkay);
    std::unique_ptr<ekLockedTile> lt(img.lockTile(0, 0, 300, 200, nullptr, 0));
    ASSERT_NE(lt, nullptr);
    ASSERT_EQ(lt->getStatus(), ekOkay);
    ASSERT_EQ(lt->count, 6);  // 128 x 128 pages: 3 across, 2 down
    EXPECT_EQ(img.hasPages(), 0);
    for (int i = 0; i < lt->count; ++i) {
        const uint16_t* d = static_cast<const uint16_t*>(lt->requests[i].page->getData());
        for (int e = 0; e < 128 * 128 * 2; e += 2) {
            ASSERT_EQ(d[e], 7);
            ASSERT_EQ(d[e + 1], 9);
        }
    }
}

}  // namespace
