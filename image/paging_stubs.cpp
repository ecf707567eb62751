// Page locking entry points of ekImage until page locking is built: no image
// hands out pages yet, so every lock answers "not implemented". The paging
// code takes these five definitions over, and this file goes away then.
#include "eks/image.h"

ekLockedTile* ekImage::lockTile3D(int, int, int, int, int, int, const ekConfig*, int) {
    return nullptr;
}

ekStatus ekImage::lockPageSet(ekLockRequest*, int, int) { return ekNotImplemented; }

void ekImage::unlockPageSet(ekLockRequest*, int) {}

ekPage* ekImage::lockPage(int, int, int, int, ekStatus& status, int) {
    status = ekNotImplemented;
    return nullptr;
}

void ekImage::unlockPage(ekPage*) {}
