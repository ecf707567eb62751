// ekLink: related children, auxiliary links owned by their input-0 parent.
#include "graph/link_entries.h"

void ekLink::deleteRelated(int all) {
    // Walks by position: a destroyed child's destructor removes its entry
    // here, so the same position is examined again.
    int position = 0;
    while (position < children.length()) {
        ekLink* child = ekEntryAt(children, position)->link;
        // A link that is its own child must not be destroyed from within
        // itself; a child in the middle of its own reset is still running.
        const bool doomed = child != nullptr && child != this && child->relatedType != -1 &&
                            (all || (child->relatedDelete && !child->inProgress()));
        if (doomed)
            delete child;
        else
            ++position;
    }
}

void ekLink::setRelatedType(int type, int bypass) {
    relatedType = type;
    bypassDisable = static_cast<int8_t>(bypass);
    // Every ordinary child has type -1: becoming ordinary replaces nobody.
    if (type == -1) return;
    ekLink* parent = getDirectParent(0);
    if (parent == nullptr) return;
    // The new related child replaces its siblings of the same type.
    int position = 0;
    while (position < parent->children.length()) {
        ekLink* sibling = ekEntryAt(parent->children, position)->link;
        const bool doomed = sibling != nullptr && sibling != this && sibling != parent &&
                            sibling->relatedType == type;
        if (doomed)
            delete sibling;
        else
            ++position;
    }
}
