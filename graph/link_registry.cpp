// The registry of live links and the static reset-callback settings.
#include "graph/link_registry.h"

#include <new>

ekList* ekLinkRegistry() {
    // Constructed in place in static storage: it needs no allocation that
    // could fail, and no destructor ever runs on it.
    alignas(ekList) static unsigned char storage[sizeof(ekList)];
    static ekList* registry = new (storage) ekList;
    return registry;
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
    ekList* registry = ekLinkRegistry();
    for (ekLinkItem* item = registry->head(); item != nullptr; item = registry->getNext(item))
        static_cast<RegistryItem*>(item)->owner->enableResetCallback(mask);
}
