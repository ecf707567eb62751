// ekLink: recording alterations, pushing them down the graph, and the lazy
// reset that brings a link up to date, parents first.
#include <cstdint>

#include "graph/link_entries.h"

ekStatus ekLink::setAltered(int argument) {
    uint32_t bits = static_cast<uint32_t>(argument);
    if (bits == 0) return ekOkay;
    const bool noPropagate = (bits & ekNoPropagateBit) != 0;
    const bool childrenOnly = (bits & ekPropagateBit) != 0;
    if (noPropagate || childrenOnly) {
        bits &= ~uint32_t(ekNoPropagateBit | ekPropagateBit);
        if (bits == 0) bits = ekGeneralBit;
    }
    if (unalterable(static_cast<int>(bits))) return ekNotAllowed;
    markSet(static_cast<int>(bits));

    if (!childrenOnly) {
        if (alteredMask == 0) alterAction();
        alteredMask |= bits;
    } else if (alteredMask == 0 && isResetCallbackEnabled(2)) {
        sendEvent('a');  // altered in place: the link itself stays clean
    }

    // ekPropagateBit in the mask: the children were told since the last reset,
    // and everything below them is marked already. A disabled link tells them
    // every time, because what they see through it may have changed.
    if ((alteredMask & ekPropagateBit) != 0 && enabled) return ekOkay;
    if (noPropagate) return ekOkay;
    // A reset in progress absorbs the alterations its own class makes.
    if ((alteredMask & ekInProgressBit) != 0) return ekOkay;
    // A clean link that only passes an alteration on stays clean and unmarked.
    if (alteredMask != 0) alteredMask |= ekPropagateBit;
    propagateToChildren(bits);
    return ekOkay;
}

void ekLink::propagateToChildren(uint32_t bits) {
    // Guard for loops of links: coming back here while this loop still runs
    // means the graph closed on itself. The running loop tells every child, so
    // a second round adds nothing, and through a loop of disabled links (which
    // propagate every time) it would recurse without end.
    if (propagating) return;
    propagating = 1;
    // A change of the enabled state is invisible to children that see through
    // disabled links anyway.
    const bool enabledOnly = bits == ekEnabledBit;
    for (int position = 0; position < children.length(); ++position) {
        ekLink* child = ekEntryAt(children, position)->link;
        if (child == nullptr || (enabledOnly && child->bypassDisable)) continue;
        child->setAltered(ekGeneralBit);
    }
    propagating = 0;
}

ekStatus ekLink::resetCheck() {
    // ekInProgressBit guards against loops: a query that comes back to this
    // link during its reset, through a cycle of links or from the class's own
    // reset, returns at once with the current status.
    if (anyAltered() && !inProgress()) {
        disableAltered();
        calcDepth();     // brings every effective parent up to date first
        reset();         // the class's own derivation; it reads isAltered(bit)
        resetAltered();  // clean: pending, propagated and in-progress bits cleared
        reportReset(neverReset() != 0);
        clearNeverReset();
    }
    return status;
}

void ekLink::reportReset(bool firstReset) {
    if (!isResetCallbackEnabled(3)) return;
    if (firstReset)
        sendEvent('i');
    else if (isResetCallbackEnabled(2))
        sendEvent('a');
}

void ekLink::calcDepth() {
    int32_t result = 0;
    for (int position = 0; position < parents.length(); ++position) {
        ekLink* parent = skipDisabled(ekEntryAt(parents, position)->link);
        if (parent == nullptr) continue;
        const int32_t parentDepth = parent->getDepth();  // resets the parent first
        // Saturates: around a loop of links each reset could add one more.
        if (parentDepth >= result) result = parentDepth < INT32_MAX ? parentDepth + 1 : INT32_MAX;
    }
    depth = result;
}

int ekLink::getDepth() {
    resetCheck();
    return depth;
}
