// SPDX-License-Identifier: Apache-2.0
// Indexed access to the entries of a link's parent or child list.
#ifndef EKS_GRAPH_LINK_ENTRIES_H
#define EKS_GRAPH_LINK_ENTRIES_H

#include "eks/graph.h"

// Entry at `position`, or null outside the list. Walks by position (cheap for
// a loop over 0, 1, 2, ... thanks to the list's cache) so that a loop stays
// correct when the callee it runs adds or removes entries.
inline ekLinkEntry* ekEntryAt(ekIndexableList& list, int position) {
    return static_cast<ekLinkEntry*>(list.findLink(position));
}

#endif  // EKS_GRAPH_LINK_ENTRIES_H
