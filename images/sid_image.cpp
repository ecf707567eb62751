// ekSIDImage: resource ids, the registry of live seed images, and the seed
// image with its reference counting.
#include <new>

#include "eks/images.h"

namespace {

constexpr uint32_t kLiveMagic = 0xA551354Bu;
constexpr uint32_t kDeadMagic = 0xDEAD051Du;

// The registry of live seed images, created on first use in static storage:
// it needs no allocation that could fail and no destructor ever runs on it, so
// seed images that outlive static destruction can still leave it.
ekList* seedRegistry() {
    alignas(ekList) static unsigned char storage[sizeof(ekList)];
    static ekList* registry = new (storage) ekList;
    return registry;
}

}  // namespace

uint32_t ekSIDImage::SidImgCounter_ = 0;

ekSIDImage::ekSIDImage() : magic(kLiveMagic), resourceId(0), seedImage(nullptr) {
    resourceId = ++SidImgCounter_;  // unsigned: wraps modulo 2^32
    registryItem.owner = this;
    seedRegistry()->append(&registryItem);
}

ekSIDImage::~ekSIDImage() {
    seedRegistry()->unlink(&registryItem);
    magic = kDeadMagic;
    resourceId = 0;
}

ekSIDImage* ekSIDImage::asSidImage(ekImage* image) {
    if (image == nullptr) return nullptr;
    // Only live objects are read: the candidate is compared by address with
    // the registered images, and only a registered one is looked at.
    // Newest first: a seed is usually an image made shortly before.
    ekList* registry = seedRegistry();
    for (ekLinkItem* item = registry->tail(); item != nullptr; item = registry->getPrev(item)) {
        ekSIDImage* owner = static_cast<RegistryItem*>(item)->owner;
        if (static_cast<ekImage*>(owner) == image)
            return owner->magic == kLiveMagic ? owner : nullptr;
    }
    return nullptr;
}

void ekSIDImage::SetSeedImage(ekImage* image) {
    // Re-setting the current seed must not drop what may be its only
    // reference before taking it again.
    if (image == seedImage) return;
    if (ekSIDImage* old = asSidImage(seedImage)) old->unref();
    seedImage = image;
    if (ekSIDImage* fresh = asSidImage(image)) fresh->ref();
}

bool ekSIDImage::CollapseSeed() {
    ekSIDImage* s1 = asSidImage(GetSeedImage());
    if (s1 == nullptr) return false;
    ekSIDImage* s2 = asSidImage(s1->GetSeedImage());
    if (s2 == nullptr || s2 == this) return false;
    s1->MergeChangesIntoSeed();
    // The exchange may destroy S1 (when this image held its only reference);
    // S1 is not touched after it.
    SetSeedImage(s2);
    return true;
}

ekTile ekSIDImage::getBounds() { return ekTile(0, 0, 0, size.x, size.y, size.z); }

int ekSIDImage::seedIsAlive() {
    if (seedImage == nullptr) return 0;
    if (asSidImage(seedImage) != nullptr) return 1;
    // Any other image is alive while it is one of this image's inputs: a
    // destroyed input leaves the graph. Only the live parents are read.
    for (int i = 0; i < numInputs; ++i) {
        ekLink* parent = getDirectParent(i);
        if (parent != nullptr && parent->derivesFrom(&ekImage::classList) &&
            static_cast<ekImage*>(parent) == seedImage)
            return 1;
    }
    return 0;
}
