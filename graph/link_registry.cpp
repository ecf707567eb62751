// SPDX-License-Identifier: Apache-2.0
// The registry of live links and the static reset-callback settings.
#include "graph/link_registry.h"

#include <mutex>
#include <new>

#include "graph/address_map.h"

namespace {

struct LinkRegistry {
    std::mutex mutex;
    ekList order;          // list nodes of the live links, in order of construction
    ekAddressMap serials;  // link address -> serial number
    uint64_t lastSerial = 0;
};

// Constructed in place in static storage on first use and never destroyed,
// so that links that outlive static destruction can still leave it.
LinkRegistry& registry() {
    alignas(LinkRegistry) static unsigned char storage[sizeof(LinkRegistry)];
    static LinkRegistry* instance = new (storage) LinkRegistry;
    return *instance;
}

}  // namespace

void ekEnterLinkRegistry(ekLink* link, ekLinkItem* item) {
    LinkRegistry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.order.append(item);
    // Out of memory: the link still works but is not known to be alive, so
    // that a copy from it is refused.
    r.serials.insert(link, ++r.lastSerial);
}

void ekLeaveLinkRegistry(ekLink* link, ekLinkItem* item) {
    LinkRegistry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.order.unlink(item);
    r.serials.erase(link);
}

uint64_t ekLiveLinkSerial(const void* address) {
    LinkRegistry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.serials.find(address, 0);
}

void ekForEachLiveLink(void (*visit)(ekLinkItem* item, void* arg), void* arg) {
    LinkRegistry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (ekLinkItem* item = r.order.head(); item != nullptr; item = r.order.getNext(item))
        visit(item, arg);
}

// Default reset callback: reports nothing.
static void ekIgnoreReset(ekLink*, int, void*) {}

ekResetCallback ekLink::rcbFunc = ekIgnoreReset;
void* ekLink::rcbArg = nullptr;
int ekLink::rcbDefaultEnabled = 0;

void ekLink::setResetCallback(ekResetCallback func, void* arg) {
    rcbFunc = func;
    rcbArg = arg;
}

void ekLink::setResetCallbackDefaultEnabled(int mask, int applyToAll) {
    rcbDefaultEnabled = mask;
    if (!applyToAll) return;
    ekForEachLiveLink(
        [](ekLinkItem* item, void* arg) {
            static_cast<RegistryItem*>(item)->owner->enableResetCallback(*static_cast<int*>(arg));
        },
        &mask);
}
