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
        if (old != nullptr) old->dropChildEntry(oldChildEntry);
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
    if (entry->link != nullptr) entry->link->dropChildEntry(entry->partner);
    delete entry;
    return setAltered(ekGeneralBit);
}

ekStatus ekLink::removeParent(int index) { return dropParentEntry(findParentEntry(index)); }

ekStatus ekLink::removeParent(ekLink* parent) { return dropParentEntry(findParentEntry(parent)); }

void ekLink::removeChild(ekLink* child) {
    for (ekLinkItem* item = children.head(); item != nullptr; item = children.getNext(item)) {
        if (static_cast<ekLinkEntry*>(item)->link == child) {
            dropChildEntry(static_cast<ekLinkEntry*>(item));
            return;
        }
    }
}

void ekLink::dropChildEntry(ekLinkEntry* childEntry) {
    if (childEntry == nullptr) return;
    if (childEntry->partner != nullptr) childEntry->partner->partner = nullptr;
    children.unlink(childEntry);
    delete childEntry;
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
