// SPDX-License-Identifier: Apache-2.0
// ekLink: recording alterations, pushing them down the graph, and the lazy
// reset that brings a link up to date, parents first.
//
// Both walks visit links in the order of the plain recursive definition
// (depth first, lists in order) but keep their frames on an explicit stack,
// so that their depth is bounded by memory, not by the thread's stack.
#include <cstdint>

#include "graph/link_entries.h"
#include "graph/walk_stack.h"

namespace {

// Bits a caller may pass besides the alteration bits 0-29: the two controls.
constexpr uint32_t kControlBits = ekNoPropagateBit | ekPropagateBit;
constexpr uint32_t kAlterationBits = 0x3FFFFFFFu & ~kControlBits;

// Depth of a link seen through one more parent; saturates, because around a
// loop of links each reset could add one more.
int32_t deeperThan(int32_t result, int32_t parentDepth) {
    if (parentDepth < result) return result;
    return parentDepth < INT32_MAX ? parentDepth + 1 : INT32_MAX;
}

}  // namespace

ekStatus ekLink::setAltered(int argument) {
    uint32_t bits = static_cast<uint32_t>(argument);
    if (bits == 0) return ekOkay;
    const bool noPropagate = (bits & ekNoPropagateBit) != 0;
    const bool childrenOnly = (bits & ekPropagateBit) != 0;
    if (noPropagate || childrenOnly) {
        bits &= ~kControlBits;
        if (bits == 0) bits = ekGeneralBit;
    }
    // Bit 31 shares its place with the never-reset mark of the allowed mask:
    // accepting it would store a reset in progress that never ends.
    if ((bits & ~kAlterationBits) != 0 || unalterable(static_cast<int>(bits))) return ekNotAllowed;
    markSet(static_cast<int>(bits));

    if (!childrenOnly) {
        if (alteredMask == 0) alterAction();
        alteredMask |= bits;
    } else if (alteredMask == 0 && isResetCallbackEnabled(2)) {
        sendEvent('a');  // altered in place: the link itself stays clean
    }
    if (noPropagate || !mustTellChildren()) return ekOkay;
    propagateToChildren(bits);
    return ekOkay;
}

bool ekLink::mustTellChildren() {
    // ekPropagateBit in the mask: the children were told since the last reset,
    // and everything below them is marked already. A disabled link tells them
    // every time, because what they see through it may have changed.
    if ((alteredMask & ekPropagateBit) != 0 && enabled) return false;
    // A reset in progress absorbs the alterations its own class makes.
    if ((alteredMask & ekInProgressBit) != 0) return false;
    // A clean link that only passes an alteration on stays clean and unmarked.
    if (alteredMask != 0) alteredMask |= ekPropagateBit;
    return true;
}

bool ekLink::alterFromParent() {
    // setAltered(ekGeneralBit) on a child, without its walk to the children.
    if (unalterable(ekGeneralBit)) return false;
    markSet(ekGeneralBit);
    if (alteredMask == 0) alterAction();
    alteredMask |= ekGeneralBit;
    return mustTellChildren();
}

void ekLink::propagateToChildren(uint32_t bits) {
    // Guard for loops of links: coming back to a link whose children are being
    // told means the graph closed on itself. The running loop tells every
    // child, so a second round adds nothing, and through a loop of disabled
    // links (which propagate every time) it would never end.
    if (guards & kPropagating) return;
    struct Frame {
        ekLink* link;
        int32_t position;  // next child to tell
        bool enabledOnly;  // only the enabled state changed
    };
    ekWalkStack<Frame> stack;
    guards |= kPropagating;
    stack.push({this, 0, bits == ekEnabledBit});  // the inline frames never fail
    while (!stack.empty()) {
        Frame& frame = stack.top();
        ekLink* link = frame.link;
        if (frame.position >= link->children.length()) {
            link->guards &= ~kPropagating;
            stack.pop();
            continue;
        }
        ekLink* child = ekEntryAt(link->children, frame.position++)->link;
        // A change of the enabled state is invisible to children that see
        // through disabled links anyway.
        if (child == nullptr || (frame.enabledOnly && child->bypassDisable)) continue;
        if (!child->alterFromParent() || (child->guards & kPropagating)) continue;
        child->guards |= kPropagating;
        if (!stack.push({child, 0, false})) {
            child->guards &= ~kPropagating;
            child->propagateToChildren(ekGeneralBit);  // out of memory: recurse
        }
    }
}

ekStatus ekLink::resetCheck() {
    // ekInProgressBit guards against loops: a query that comes back to a link
    // during its reset, through a cycle of links or from the class's own
    // reset, returns at once with the current status.
    if (anyAltered() == 0 || inProgress()) return status;
    struct Frame {
        ekLink* link;
        int32_t position;  // next parent to bring up to date
        int32_t depth;     // depth so far, from the parents already seen
    };
    ekWalkStack<Frame> stack;
    disableAltered();
    stack.push({this, 0, 0});
    while (!stack.empty()) {
        Frame& frame = stack.top();
        ekLink* link = frame.link;
        if (frame.position < link->parents.length()) {
            ekLink* parent = link->skipDisabled(ekEntryAt(link->parents, frame.position++)->link);
            if (parent == nullptr) continue;
            if (parent->anyAltered() != 0 && !parent->inProgress()) {
                if (stack.push({parent, 0, 0})) {
                    parent->disableAltered();  // its own parents come first
                    continue;
                }
                parent->resetCheck();  // out of memory: recurse
            }
            frame.depth = deeperThan(frame.depth, parent->depth);
            continue;
        }
        link->depth = frame.depth;
        link->finishReset();
        stack.pop();
        if (!stack.empty()) stack.top().depth = deeperThan(stack.top().depth, link->depth);
    }
    return status;
}

void ekLink::finishReset() {
    reset();         // the class's own derivation; it reads isAltered(bit)
    resetAltered();  // clean: pending, propagated and in-progress bits cleared
    if (isResetCallbackEnabled(3)) {
        if (neverReset())
            sendEvent('i');
        else if (isResetCallbackEnabled(2))
            sendEvent('a');
    }
    clearNeverReset();
}

int ekLink::getDepth() {
    resetCheck();
    return depth;
}
