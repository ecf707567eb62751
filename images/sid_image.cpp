// SPDX-License-Identifier: Apache-2.0
// ekSIDImage: resource ids, the registry of live seed images, and the seed
// image with its reference counting.
#include <mutex>
#include <new>

#include "eks/images.h"
#include "graph/address_map.h"

namespace {

constexpr uint32_t kLiveMagic = 0xA551354Bu;
constexpr uint32_t kDeadMagic = 0xDEAD051Du;

// The registry of live seed images, by address, with the lock that also
// guards the resource-id counter. Created on first use in static storage and
// never destroyed, so that seed images that outlive static destruction can
// still leave it.
struct SeedRegistry {
    std::mutex mutex;
    ekAddressMap live;  // address as an ekImage* -> the seed image
};

SeedRegistry& seedRegistry() {
    alignas(SeedRegistry) static unsigned char storage[sizeof(SeedRegistry)];
    static SeedRegistry* registry = new (storage) SeedRegistry;
    return *registry;
}

}  // namespace

uint32_t ekSIDImage::SidImgCounter_ = 0;

ekSIDImage::ekSIDImage() : magic(kLiveMagic), resourceId(0), seedImage(nullptr) {
    SeedRegistry& r = seedRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    resourceId = ++SidImgCounter_;  // unsigned: wraps modulo 2^32
    // Out of memory: the image works but is not recognised as a seed image
    // (a seed that is not counted), which is safe.
    r.live.insert(static_cast<ekImage*>(this), uint64_t(reinterpret_cast<uintptr_t>(this)));
}

ekSIDImage::~ekSIDImage() {
    SeedRegistry& r = seedRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.live.erase(static_cast<ekImage*>(this));
    magic = kDeadMagic;
    resourceId = 0;
}

ekSIDImage* ekSIDImage::asSidImage(ekImage* image) {
    if (image == nullptr) return nullptr;
    // Only live objects are read: the candidate is looked up by address, and
    // only a registered one is looked at.
    SeedRegistry& r = seedRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto* owner = reinterpret_cast<ekSIDImage*>(uintptr_t(r.live.find(image, 0)));
    return owner != nullptr && owner->magic == kLiveMagic ? owner : nullptr;
}

void ekSIDImage::SetSeedImage(ekImage* image) {
    // Re-setting the current seed must not drop what may be its only
    // reference before taking it again.
    if (image == seedImage) return;
    // Every change to this image is made before the old seed is released:
    // the release may destroy the old seed, and with it this image when it is
    // one of the old seed's related children.
    ekSIDImage* old = asSidImage(seedImage);
    seedImage = image;
    if (ekSIDImage* fresh = asSidImage(image)) fresh->ref();
    if (old != nullptr) old->unref();
}

bool ekSIDImage::CollapseSeed() {
    ekSIDImage* s1 = asSidImage(GetSeedImage());
    if (s1 == nullptr) return false;
    ekSIDImage* s2 = asSidImage(s1->GetSeedImage());
    if (s2 == nullptr || s2 == this) return false;
    s1->MergeChangesIntoSeed();
    // The exchange may destroy S1 (when this image held its only reference),
    // and with S1 its related children, this image among them: neither is
    // touched after it.
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
