// SPDX-License-Identifier: Apache-2.0
// ekLockedTile: every page a tile touches, locked at once, and the image's
// list of its live locked tiles, which an image that dies first releases.
#include <mutex>
#include <new>

#include "eks/paging.h"

namespace {

// Mode bits that lockTile3D keeps to itself and never hands to lockPageSet.
constexpr int kTileOnlyModeBits = 0x400 | 0x800;

// Guards every image's list of live locked tiles: an image that serves many
// threads at once (a TIFF image opened for reading) has tiles locked and
// unlocked on all of them.
std::mutex& tileListMutex() {
    static std::mutex m;
    return m;
}

}  // namespace

ekLockedTile::ekLockedTile(ekImage* image_, ekTileIter& iter, int mode, bool wantPages)
    : image(image_), requests(nullptr), count(0), status(ekOkay) {
    {  // entered at the head of the image's list of live tiles
        std::lock_guard<std::mutex> lock(tileListMutex());
        nextTile = image->lockedTiles;
        if (nextTile != nullptr) nextTile->prevTile = this;
        image->lockedTiles = this;
    }
    const int n = iter.getCount();
    if (n < 1 && wantPages) {
        // The page count does not fit 32 bits, or the page geometry lays no
        // pages: the lock cannot be made, and an empty tile would pass for
        // one that lies outside the image.
        status = ekBadInput;
        return;
    }
    if (n > 0) {
        // Value-initialised: a request the lock never reaches holds no page.
        requests = new (std::nothrow) ekLockRequest[n]();
        if (requests == nullptr) {
            status = ekNoMemory;
            return;
        }
    }
    while (count < n && iter.more()) {
        requests[count].init(iter.x, iter.y, iter.z, iter.c);
        ++count;
    }
    status = image->lockPageSet(requests, mode & ~kTileOnlyModeBits, count);
}

ekLockedTile::~ekLockedTile() { release(); }

void ekLockedTile::release() {
    if (image != nullptr) {
        // After a lock that failed part-way the pages that were filled are
        // released too; a lock that filled nothing is not undone.
        if (status == ekOkay || holdsPages()) image->unlockPageSet(requests, count);
        std::lock_guard<std::mutex> lock(tileListMutex());
        if (prevTile != nullptr)
            prevTile->nextTile = nextTile;
        else
            image->lockedTiles = nextTile;
        if (nextTile != nullptr) nextTile->prevTile = prevTile;
        prevTile = nextTile = nullptr;
        image = nullptr;
    }
    delete[] requests;
    requests = nullptr;
    count = 0;
}

void ekImage::releaseLockedTiles() {
    for (;;) {
        ekLockedTile* tile;
        {
            std::lock_guard<std::mutex> lock(tileListMutex());
            tile = lockedTiles;
        }
        if (tile == nullptr) return;
        tile->release();
    }
}

bool ekLockedTile::holdsPages() const {
    for (int i = 0; i < count; ++i)
        if (requests[i].page != nullptr) return true;
    return false;
}
