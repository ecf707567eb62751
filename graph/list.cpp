// SPDX-License-Identifier: Apache-2.0
// ekList: the four primitives of the intrusive circular list; everything else
// in the header is built on them.
#include "eks/graph.h"

void ekList::insertBefore(ekLinkItem* item, ekLinkItem* position) {
    item->prev = position->prev;
    item->next = position;
    position->prev->next = item;
    position->prev = item;
}

void ekList::insertAfter(ekLinkItem* item, ekLinkItem* position) {
    insertBefore(item, position->next);
}

void ekList::unlink(ekLinkItem* item) {
    // An unlinked node has no neighbours to join; following its null
    // pointers would crash.
    if (item == nullptr || !item->isLinked()) return;
    item->prev->next = item->next;
    item->next->prev = item->prev;
    item->initLinks();
}

// Splices the whole chain of `other` between `before` and `before->next`.
static void spliceAfter(ekLinkItem* before, ekList* other) {
    ekLinkItem* first = other->next;
    ekLinkItem* last = other->prev;
    ekLinkItem* after = before->next;
    first->prev = before;
    last->next = after;
    before->next = first;
    after->prev = last;
    other->next = other->prev = other;
}

void ekList::appendList(ekList* other) {
    if (other == nullptr || other == this || other->next == other) return;
    spliceAfter(prev, other);
}

void ekList::insertList(ekList* other) {
    if (other == nullptr || other == this || other->next == other) return;
    spliceAfter(this, other);
}
