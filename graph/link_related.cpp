// SPDX-License-Identifier: Apache-2.0
// ekLink: related children, auxiliary links owned by their input-0 parent.
#include "graph/link_entries.h"

bool ekLink::running() const { return inProgress() || (guards & kDestroyingRelated) != 0; }

void ekLink::deleteRelated(int all) {
    // While this link destroys its related children it is not destroyed as
    // one of theirs: two links that are each other's related child would
    // otherwise delete each other twice.
    const uint8_t saved = guards;
    guards |= kDestroyingRelated;
    // Walks by position: a destroyed child's destructor removes its entry
    // here, so the same position is examined again.
    int position = 0;
    while (position < children.length()) {
        ekLink* child = ekEntryAt(children, position)->link;
        // A link that is its own child must not be destroyed from within
        // itself, nor one that is running (its reset or its own teardown of
        // related children is on the stack).
        const bool doomed = child != nullptr && child != this && child->relatedType != -1 &&
                            !child->running() && (all || child->relatedDelete);
        if (doomed)
            delete child;
        else
            ++position;
    }
    guards = saved;
}

void ekLink::setRelatedType(int type, int bypass) {
    relatedType = type;
    bypassDisable = static_cast<int8_t>(bypass);
    // Every ordinary child has type -1: becoming ordinary replaces nobody.
    if (type == -1) return;
    ekLink* parent = getDirectParent(0);
    if (parent == nullptr) return;
    // The new related child replaces its siblings of the same type. A
    // sibling's destruction may reach back to this link or to the parent (as
    // one of the sibling's own related children): both are kept from being
    // destroyed while the walk runs.
    const uint8_t savedOwn = guards, savedParent = parent->guards;
    guards |= kDestroyingRelated;
    parent->guards |= kDestroyingRelated;
    int position = 0;
    while (position < parent->children.length()) {
        ekLink* sibling = ekEntryAt(parent->children, position)->link;
        const bool doomed = sibling != nullptr && sibling != this && sibling != parent &&
                            sibling->relatedType == type && !sibling->running();
        if (doomed)
            delete sibling;
        else
            ++position;
    }
    parent->guards = savedParent;
    guards = savedOwn;
}
