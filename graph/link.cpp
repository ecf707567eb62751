// SPDX-License-Identifier: Apache-2.0
// ekLink: construction, destruction and class identity.
#include "graph/link_registry.h"

ekClassList ekLink::classList = {"ekLink", nullptr};

ekLink::ekLink()
    : status(ekOkay),
      depth(0),
      alteredMask(ekGeneralBit),  // born altered: the first query resets it
      setMask(0),
      allowedMask(ekNeverResetBit | ekGeneralBit | ekEnabledBit),
      disabledIndex(0),
      enabled(1),
      bypassDisable(0),
      relatedDelete(0),
      guards(0),
      relatedType(-1),
      callbackMask(rcbDefaultEnabled) {
    registryItem.owner = this;
    ekEnterLinkRegistry(this, &registryItem);
}

ekLink::~ekLink() {
    deleteRelated(1);
    // Each former child drops its entry for this link and is altered.
    while (children.length() > 0) {
        ekLink* child = static_cast<ekLinkEntry*>(children.head())->link;
        // A child that has no matching parent entry would keep its entry here
        // for ever; drop it directly so that the loop always ends.
        if (child == nullptr || child->removeParent(this) == ekBadIndex) removeChild(child);
    }
    while (parents.length() > 0) removeParent(static_cast<ekLinkEntry*>(parents.head())->link);
    if (isResetCallbackEnabled(1)) sendEvent('d');
    ekLeaveLinkRegistry(this, &registryItem);
}

int ekLink::derivesFrom(ekClassList* c) { return classList.find(c); }

char* ekLink::getClassName(int n) { return classList.find(n); }

char* ekLink::getDefaultDescription() {
    static char description[] = "Link";
    return description;
}

void ekLink::reset() { deleteRelated(0); }
