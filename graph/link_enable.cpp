// SPDX-License-Identifier: Apache-2.0
// ekLink: enabling and disabling, and how children see through disabled links.
#include "eks/graph.h"

void ekLink::setEnabled(int flag) {
    const int8_t value = static_cast<int8_t>(flag);
    if (value == enabled || unalterable(ekEnabledBit)) return;
    enabled = value;
    if (enabled) resetCheck();
    // Recorded as set but not an alteration of this link: only the children,
    // which now see a different parent, must reset.
    const uint32_t before = alteredMask;
    setAltered(ekPropagateBit | ekEnabledBit);
    // A clean link that came out altered is its own ancestor: the change came
    // back to it around a loop, so it sees its own parents differently and
    // may derive something else. Then even the children that see through
    // disabled links (skipped above) must reset.
    if (before == 0 && alteredMask != 0) propagateToChildren(ekGeneralBit);
}

void ekLink::setDisabledIndex(int index) {
    if (index == disabledIndex) return;
    disabledIndex = index;
    if (!enabled) setAltered(ekPropagateBit);
}

ekLink* ekLink::skipDisabled(ekLink* parent) {
    if (bypassDisable || parent == nullptr || parent->enabled) return parent;
    // Follows the chain of disabled links: a disabled link shows its parent at
    // its disabled index, judged with that link's own bypass flag. Each step
    // depends only on the link reached, so the chain either ends or closes into
    // a loop of disabled links with no enabled end. The second walker (two
    // steps per turn) meets the first exactly in that case, which bounds the
    // walk; such a loop shows no parent at all.
    auto step = [](ekLink*& link) {  // true when `link` became the answer
        ekLink* seen = link->getDirectParent(link->disabledIndex);
        const bool done = link->bypassDisable || seen == nullptr || seen->enabled;
        link = seen;
        return done;
    };
    ekLink* slow = parent;
    ekLink* fast = parent;
    for (;;) {
        if (step(fast) || step(fast)) return fast;
        step(slow);  // stays behind fast on the same chain of disabled links
        if (slow == fast) return nullptr;
    }
}
