// SPDX-License-Identifier: Apache-2.0
// Operator graph: intrusive lists, per-class identity records and ekLink, the
// node from which every image derives.
#ifndef EKS_GRAPH_H
#define EKS_GRAPH_H

#include "eks/core.h"

// ---------------------------------------------------------------------------
// Intrusive circular doubly linked lists. The element embeds its node and the
// list head is itself a node (a sentinel). No list operation allocates, and no
// list owns its elements: the caller allocates and frees them and unlinks an
// element before freeing it. Neither list heads nor elements can be copied: a
// copy would share neighbours with its source and corrupt the list.

// List node; unlinked when both pointers are null.
class EKS_API ekLinkItem {
public:
    ekLinkItem() : next(nullptr), prev(nullptr) {}
    ekLinkItem(const ekLinkItem&) = delete;
    ekLinkItem& operator=(const ekLinkItem&) = delete;
    ~ekLinkItem() {}

    void initLinks() { next = prev = nullptr; }
    int isLinked() const { return next != nullptr && prev != nullptr; }

    ekLinkItem* next;  // following node (the head after the last element)
    ekLinkItem* prev;  // preceding node (the head before the first element)
};

// Plain list. The head never escapes: head(), tail(), getNext() and getPrev()
// answer null at the ends.
class EKS_API ekList : public ekLinkItem {
public:
    ekList() { next = prev = this; }
    ekList(const ekList&) = delete;
    ekList& operator=(const ekList&) = delete;
    ~ekList() {}

    void append(ekLinkItem* item) { insertBefore(item, this); }
    void insert(ekLinkItem* item) { insertAfter(item, this); }
    // Links item directly after / before the linked node position.
    void insertAfter(ekLinkItem* item, ekLinkItem* position);
    void insertBefore(ekLinkItem* item, ekLinkItem* position);
    // Joins the neighbours of item and nulls its pointers; item must be in this
    // list (an unlinked or null item is ignored).
    void unlink(ekLinkItem* item);
    // Moves every element of other behind the last / before the first element
    // of this list, in order, and leaves other empty (other == this: nothing).
    void appendList(ekList* other);
    void insertList(ekList* other);

    ekLinkItem* head() const { return next == this ? nullptr : next; }
    ekLinkItem* tail() const { return prev == this ? nullptr : prev; }
    ekLinkItem* getNext(const ekLinkItem* item) const {
        return item->next == this ? nullptr : item->next;
    }
    ekLinkItem* getPrev(const ekLinkItem* item) const {
        return item->prev == this ? nullptr : item->prev;
    }
};

// List with an element count and a one-entry position cache, so that indexed
// access walks as few nodes as possible (a loop over [i] costs one step per
// element). Indices are 0-based. An index outside 0 .. length()-1 finds null
// (unlinkAt then does nothing) and insertAt below 0 inserts at the front.
// appendList, insertList, insertAfter and insertBefore bypass the count: do
// not use them on an indexable list.
class EKS_API ekIndexableList : public ekList {
public:
    ekIndexableList() : cachedItem(nullptr), cachedIndex(-1), count(0) {}
    ekIndexableList(const ekIndexableList&) = delete;
    ekIndexableList& operator=(const ekIndexableList&) = delete;
    ~ekIndexableList() {}

    int length() const { return count; }
    ekLinkItem* head() const { return count == 0 ? nullptr : next; }
    ekLinkItem* tail() const { return count == 0 ? nullptr : prev; }
    ekLinkItem* operator[](int index) { return findLink(index); }
    ekLinkItem* findLink(int index);

    void append(ekLinkItem* item);
    void insert(ekLinkItem* item);
    // The new element ends at position index (appended when index >= count).
    void insertAt(int index, ekLinkItem* item);
    // The new element ends directly after position index.
    // (index + 1 computed only below count, so INT32_MAX cannot overflow).
    void appendAt(int index, ekLinkItem* item) {
        insertAt(index < count ? index + 1 : count, item);
    }
    void unlink(ekLinkItem* item);
    void unlinkAt(int index) { unlink(findLink(index)); }
    // Structural check of the links, the count, the ends and the cache: 1
    // when sound, else 0.
    int isValid() const;

private:
    EKS_LOCAL ekLinkItem* walkForward(ekLinkItem* from, int steps) const;
    EKS_LOCAL ekLinkItem* walkBackward(ekLinkItem* from, int steps) const;

    ekLinkItem* cachedItem;  // element found by the last indexed lookup
    int32_t cachedIndex;     // its index; -1 = cache empty
    int32_t count;           // number of elements
};

// Per-class identity record: the class name and the record of its base class.
class EKS_API ekClassList {
public:
    const char* name;     // class name
    ekClassList* parent;  // record of the base class; null at the root

    // Name of the record n steps up the chain (0: own name); null past the root
    // and for n < 0.
    char* find(int n) const;
    // 1-based position of c in the chain from this record (1: this record);
    // 0 when c is not in the chain. Records compare by address.
    int find(const ekClassList* c) const;
};

class ekLink;

// A parent or child entry of a link: the link (may be null) and its input
// index (always 0 for child entries). Owned by the list's link. A parent entry
// and the child entry it made on its parent name each other as partners, so
// that either side drops the other in constant time, whatever the number of
// siblings.
class ekLinkEntry : public ekLinkItem {
public:
    ekLinkEntry(ekLink* l, int index) : link(l), inputIndex(index), partner(nullptr) {}
    ekLink* link;
    int32_t inputIndex;
    ekLinkEntry* partner;  // the entry on the other side; null for a null link
};

// The reset callback: (link, event code, the host's argument). Events: 'i'
// (105) first reset, 'a' (97) later reset or in-place alteration, 'd' (100)
// deletion.
typedef void (*ekResetCallback)(ekLink* link, int event, void* arg);

// ---------------------------------------------------------------------------
// Node of the lazily evaluated operator graph and base of every image.
//
// Changing something records what changed in the altered mask (alteration
// bits) and pushes ekGeneralBit down to every descendant (setAltered). Nothing
// is recomputed until somebody asks the link for its status, its depth or, in
// an image, an attribute or data: resetCheck() then brings every effective
// parent up to date (parents first, in parent-list order), runs the class's
// virtual reset() while the pending bits are still readable with isAltered(),
// and clears the mask. A disabled link is invisible to its children, which see
// its parent at its disabled index instead. Related children are auxiliary
// links owned by their input-0 parent.
//
// Links are not copyable. Inputs are never owned.
//
// Threads. The registry of live links is guarded by a lock, so different
// threads may create, use and destroy distinct links and images (distinct
// graphs) at the same time. One graph is used by one thread at a time: even a
// getter may reset links, and nothing inside a graph is locked. The reset
// callback and its default enable mask are process-wide: set them while no
// other thread uses the library (setResetCallbackDefaultEnabled with
// applyToAll also writes every live link, of every thread).
//
// Long graphs. Propagating an alteration and bringing a link up to date walk
// the graph with an explicit stack on the heap, not by recursion, so a chain
// of a million links costs memory, not thread stack. A class whose reset
// queries another link that is still out of date starts a walk of its own.
// Destruction keeps its order by recursion: a link destroys its related
// children from within its destructor, so a chain of related children (each
// owned by the one before) must stay within 20 000 links on an 8 MB stack.
class EKS_API ekLink {
public:
    static ekClassList classList;  // "ekLink", no parent record

    ekLink();
    ekLink(const ekLink&) = delete;
    ekLink& operator=(const ekLink&) = delete;

    virtual int derivesFrom(ekClassList* c);
    virtual char* getClassName(int n);
    virtual ~ekLink();

    // Graph building.
    void addParent(ekLink* parent);
    ekStatus setParent(ekLink* parent, int index);
    ekStatus removeParent(int index);
    ekStatus removeParent(ekLink* parent);

    // Graph queries.
    int getNumParents() const { return parents.length(); }
    int getNumChildren() const { return children.length(); }
    // Link of the first parent entry at input index `index` (null if none).
    ekLink* getDirectParent(int index);
    // The same seen through disabled links: a disabled parent is replaced by
    // its own parent at its disabled index, down a chain of disabled links. A
    // chain that closes into a loop of disabled links shows no parent (null).
    ekLink* getParent(int index);
    // Child at list position `position`; null outside 0 .. getNumChildren()-1.
    ekLink* getChild(int position);
    ekLink* getRelatedChild(int type);
    int getDepth();

    // Enabling.
    void setEnabled(int flag);
    int isEnabled() const { return enabled; }
    void setDisabledIndex(int index);
    int getDisabledIndex() const { return disabledIndex; }

    // Related children. setRelatedType(type, bypass) makes this link a related
    // child of that type (owned by its input-0 parent, which then destroys every
    // other child of the same type); type -1 makes it an ordinary child again
    // and destroys nothing. A non-zero bypass lets it see disabled parents.
    // A link whose reset or whose clean-up of related children (or siblings)
    // is running is never destroyed as a related child, as that would destroy
    // it from within itself: links that are each other's related child are
    // each destroyed once, and one destroyed by the other's reset leaves the
    // other alive.
    void setRelatedType(int type, int bypass);
    int getRelatedType() const { return relatedType; }
    void setRelatedDelete(int flag) { relatedDelete = static_cast<int8_t>(flag); }
    int getRelatedDelete() const { return relatedDelete; }

    void clearSet(int bits) { setMask &= ~static_cast<uint32_t>(bits); }
    ekStatus getStatus() { return resetCheck(); }
    void clearStatus() { status = ekOkay; }

    // Reset callback.
    static void setResetCallback(ekResetCallback func, void* arg);
    static ekResetCallback getResetCallback() { return rcbFunc; }
    static void* getResetCallbackArg() { return rcbArg; }
    static int getResetCallbackDefaultEnabled() { return rcbDefaultEnabled; }
    static void setResetCallbackDefaultEnabled(int mask, int applyToAll);
    void enableResetCallback(int mask) { callbackMask = mask; }
    int isResetCallbackEnabled(int mask) const {
        return (callbackMask & mask) != 0 && rcbFunc != nullptr;
    }

    static ekResetCallback rcbFunc;  // null switches every callback off
    static void* rcbArg;             // third argument of every callback
    static int rcbDefaultEnabled;    // enable mask given to each new link

protected:
    virtual void reset();
    virtual void alterAction() {}
    virtual char* getDefaultDescription();

    int getMinIndex();
    int getMaxIndex();
    void deleteRelated(int all);

    // Alteration state.
    ekStatus setAltered(int bits);
    int isAltered(int bits) const { return static_cast<int>(alteredMask & uint32_t(bits)); }
    int anyAltered() const { return static_cast<int>(alteredMask & 0x3FFFFFFFu); }
    void disableAltered() { alteredMask |= ekInProgressBit; }
    void resetAltered() { alteredMask = 0; }
    int inProgress() const { return (alteredMask & ekInProgressBit) != 0; }
    void markSet(int bits) { setMask |= uint32_t(bits); }
    int isSet(int bits) const { return static_cast<int>(setMask & uint32_t(bits)); }
    void setAllowed(int bits) { allowedMask |= uint32_t(bits); }
    void clearAllowed(int bits) { allowedMask &= ~uint32_t(bits); }
    int unalterable(int bits) const { return (allowedMask & uint32_t(bits)) != uint32_t(bits); }
    ekStatus resetCheck();
    ekStatus setStatus(ekStatus s) { return status = s; }

    void mpLock(int, int) {}
    void mpUnlock() {}

private:
    EKS_LOCAL void removeChild(ekLink* child);
    EKS_LOCAL ekLinkEntry* firstChildEntry(const ekLink* child);
    EKS_LOCAL void dropChildEntry(ekLinkEntry* paired, ekLink* child);
    EKS_LOCAL static void pairEntries(ekLinkEntry* parentEntry, ekLinkEntry* childEntry);
    EKS_LOCAL ekLink* skipDisabled(ekLink* parent);
    int neverReset() const { return (allowedMask & ekNeverResetBit) != 0; }
    void clearNeverReset() { allowedMask &= ~uint32_t(ekNeverResetBit); }
    void sendEvent(int event) { rcbFunc(this, event, rcbArg); }
    EKS_LOCAL ekLinkEntry* findParentEntry(int index);
    EKS_LOCAL ekLinkEntry* findParentEntry(const ekLink* parent);
    EKS_LOCAL ekStatus dropParentEntry(ekLinkEntry* entry);
    EKS_LOCAL bool mustTellChildren();
    EKS_LOCAL bool alterFromParent();
    EKS_LOCAL void propagateToChildren(uint32_t bits);
    EKS_LOCAL void finishReset();
    // A reset of this link, or its destruction of related children (its own,
    // or a new related child's siblings), is on the stack: it must not be
    // destroyed as somebody's related child.
    EKS_LOCAL bool running() const;

    static constexpr uint8_t kPropagating = 1;        // telling its children
    static constexpr uint8_t kDestroyingRelated = 2;  // destroying related children or siblings

    // Node by which a link sits in the registry of live links.
    struct RegistryItem : ekLinkItem {
        ekLink* owner;
    };

    ekStatus status;
    int32_t depth;
    ekIndexableList parents;   // ekLinkEntry: parent link and input index; owned
    ekIndexableList children;  // ekLinkEntry: child link, index 0; owned
    uint32_t alteredMask;
    uint32_t setMask;
    uint32_t allowedMask;
    int32_t disabledIndex;
    int8_t enabled;
    int8_t bypassDisable;
    int8_t relatedDelete;
    uint8_t guards;  // kPropagating, kDestroyingRelated: what runs on this link now
    int32_t relatedType;
    int32_t callbackMask;
    RegistryItem registryItem;
};

#endif  // EKS_GRAPH_H
