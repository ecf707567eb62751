// SPDX-License-Identifier: Apache-2.0
// ekLink: building and querying the parent and child lists.
#include <new>

#include "graph/link_entries.h"

ekLinkEntry* ekLink::findParentEntry(int index) {
    for (ekLinkItem* item = parents.head(); item != nullptr; item = parents.getNext(item))
        if (static_cast<ekLinkEntry*>(item)->inputIndex == index)
            return static_cast<ekLinkEntry*>(item);
    return nullptr;
}

ekLinkEntry* ekLink::findParentEntry(const ekLink* parent) {
    for (ekLinkItem* item = parents.head(); item != nullptr; item = parents.getNext(item))
        if (static_cast<ekLinkEntry*>(item)->link == parent) return static_cast<ekLinkEntry*>(item);
    return nullptr;
}

// Links the child entry made for `parentEntry` into the parent's child list.
void ekLink::pairEntries(ekLinkEntry* parentEntry, ekLinkEntry* childEntry) {
    parentEntry->partner = childEntry;
    childEntry->partner = parentEntry;
    parentEntry->link->children.append(childEntry);
}

void ekLink::addParent(ekLink* parent) {
    // Both entries are allocated before either is linked, so that a failure
    // leaves the two lists consistent with each other.
    ekLinkEntry* entry = new (std::nothrow) ekLinkEntry(parent, 0);
    ekLinkEntry* childEntry = parent ? new (std::nothrow) ekLinkEntry(this, 0) : nullptr;
    if (entry == nullptr || (parent != nullptr && childEntry == nullptr)) {
        delete entry;
        delete childEntry;
        setStatus(ekNoMemory);
        return;
    }
    parents.append(entry);
    if (parent != nullptr) pairEntries(entry, childEntry);
    setAltered(ekGeneralBit);
}

ekStatus ekLink::setParent(ekLink* parent, int index) {
    ekLinkEntry* entry = findParentEntry(index);
    if (entry != nullptr && entry->link == parent) return ekOkay;
    ekLinkEntry* childEntry = parent ? new (std::nothrow) ekLinkEntry(this, 0) : nullptr;
    if (parent != nullptr && childEntry == nullptr) return ekNoMemory;
    if (entry != nullptr) {
        ekLink* old = entry->link;
        ekLinkEntry* oldChildEntry = entry->partner;
        entry->link = parent;
        entry->partner = nullptr;
        if (old != nullptr) old->dropChildEntry(oldChildEntry, this);
    } else {
        entry = new (std::nothrow) ekLinkEntry(parent, index);
        if (entry == nullptr) {
            delete childEntry;
            return ekNoMemory;
        }
        parents.append(entry);
    }
    if (parent != nullptr) pairEntries(entry, childEntry);
    return setAltered(ekGeneralBit);
}

ekStatus ekLink::dropParentEntry(ekLinkEntry* entry) {
    if (entry == nullptr) return ekBadIndex;
    parents.unlink(entry);
    if (entry->link != nullptr) entry->link->dropChildEntry(entry->partner, this);
    delete entry;
    return setAltered(ekGeneralBit);
}

ekStatus ekLink::removeParent(int index) { return dropParentEntry(findParentEntry(index)); }

ekStatus ekLink::removeParent(ekLink* parent) { return dropParentEntry(findParentEntry(parent)); }

ekLinkEntry* ekLink::firstChildEntry(const ekLink* child) {
    for (ekLinkItem* item = children.head(); item != nullptr; item = children.getNext(item))
        if (static_cast<ekLinkEntry*>(item)->link == child) return static_cast<ekLinkEntry*>(item);
    return nullptr;
}

void ekLink::removeChild(ekLink* child) {
    ekLinkEntry* entry = firstChildEntry(child);
    if (entry == nullptr) return;
    if (entry->partner != nullptr) entry->partner->partner = nullptr;
    children.unlink(entry);
    delete entry;
}

void ekLink::dropChildEntry(ekLinkEntry* paired, ekLink* child) {
    // One connection of `child` to this link ends (its parent entry is gone
    // or points elsewhere already): the first child entry of `child` goes.
    // That is the paired entry, found in constant time, unless `child` is
    // connected to this link more than once; then the first one goes and the
    // pairs are mended so that each remaining connection keeps its entry.
    ekLinkEntry* doomed = paired;
    if (child->findParentEntry(this) != nullptr) {
        ekLinkEntry* first = firstChildEntry(child);
        if (first != paired) {
            ekLinkEntry* other = first->partner;  // a parent entry of child that stays
            paired->partner = other;
            if (other != nullptr) other->partner = paired;
            doomed = first;
        }
    }
    children.unlink(doomed);
    delete doomed;
}

ekLink* ekLink::getDirectParent(int index) {
    ekLinkEntry* entry = findParentEntry(index);
    return entry ? entry->link : nullptr;
}

ekLink* ekLink::getParent(int index) { return skipDisabled(getDirectParent(index)); }

ekLink* ekLink::getChild(int position) {
    ekLinkEntry* entry = ekEntryAt(children, position);
    return entry ? entry->link : nullptr;
}

ekLink* ekLink::getRelatedChild(int type) {
    for (ekLinkItem* item = children.head(); item != nullptr; item = children.getNext(item)) {
        ekLink* child = static_cast<ekLinkEntry*>(item)->link;
        if (child != nullptr && child->relatedType == type) return child;
    }
    return nullptr;
}

// Smallest (wantMax false) or largest input index over the parent entries;
// -1 when there are none.
static int extremeIndex(const ekIndexableList& parents, bool wantMax) {
    int result = -1;
    for (ekLinkItem* item = parents.head(); item != nullptr; item = parents.getNext(item)) {
        const int index = static_cast<ekLinkEntry*>(item)->inputIndex;
        if (item == parents.head() || (wantMax ? index > result : index < result)) result = index;
    }
    return result;
}

int ekLink::getMinIndex() { return extremeIndex(parents, false); }

int ekLink::getMaxIndex() { return extremeIndex(parents, true); }
