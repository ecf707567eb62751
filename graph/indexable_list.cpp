// SPDX-License-Identifier: Apache-2.0
// ekIndexableList: the counted list with its one-entry position cache.
//
// Invariant: when cachedIndex >= 0, cachedItem is the element at cachedIndex.
// Every operation either keeps the pair right or empties it (cachedIndex -1).
#include "eks/graph.h"

ekLinkItem* ekIndexableList::walkForward(ekLinkItem* from, int steps) const {
    for (; steps > 0; --steps) from = from->next;
    return from;
}

ekLinkItem* ekIndexableList::walkBackward(ekLinkItem* from, int steps) const {
    for (; steps > 0; --steps) from = from->prev;
    return from;
}

ekLinkItem* ekIndexableList::findLink(int index) {
    // Outside the list there is no element; walking there would hand out the
    // head sentinel or wrap around.
    if (index < 0 || index >= count) return nullptr;
    if (index == 0) return next;
    if (index == count - 1) return prev;
    if (index == cachedIndex) return cachedItem;
    if (cachedIndex < 0) {
        cachedIndex = 0;
        cachedItem = next;
    }
    // Start from whichever of first, cached and last is nearest; a tie goes to
    // the far end (the first or the last node).
    const int c = cachedIndex;
    const int last = count - 1;
    ekLinkItem* found;
    if (index > c)
        found = index - c < last - index ? walkForward(cachedItem, index - c)
                                         : walkBackward(prev, last - index);
    else
        found = index < c - index ? walkForward(next, index) : walkBackward(cachedItem, c - index);
    cachedIndex = index;
    cachedItem = found;
    return found;
}

void ekIndexableList::append(ekLinkItem* item) {
    ekList::append(item);
    ++count;
}

void ekIndexableList::insert(ekLinkItem* item) {
    ekList::insert(item);
    if (cachedIndex >= 0) ++cachedIndex;  // the cached element moved one down
    ++count;
}

void ekIndexableList::insertAt(int index, ekLinkItem* item) {
    if (index < 0) index = 0;
    if (index >= count) {
        append(item);
        return;
    }
    ekLinkItem* position = findLink(index);
    ekList::insertBefore(item, position);
    if (cachedIndex >= index) ++cachedIndex;
    ++count;
}

void ekIndexableList::unlink(ekLinkItem* item) {
    if (item == nullptr || !item->isLinked()) return;
    ekList::unlink(item);
    --count;
    cachedIndex = -1;
    cachedItem = nullptr;
}

int ekIndexableList::isValid() const {
    if (count == 0 && next == this && prev == this) return 1;
    if (count <= 0 || next == nullptr || prev == nullptr || next == this || prev == this) return 0;
    if (cachedIndex >= count) return 0;
    const ekLinkItem* before = this;
    const ekLinkItem* item = next;
    for (int i = 0; i < count; ++i) {
        if (item->prev != before) return 0;
        if (i == cachedIndex && item != cachedItem) return 0;
        if (i < count - 1) {
            if (item->next == nullptr || item->next == item || item->next == this) return 0;
        } else if (item->next != this || prev != item) {
            return 0;
        }
        before = item;
        item = item->next;
    }
    return 1;
}
