// SPDX-License-Identifier: Apache-2.0
// The registry of live links: every ekLink sits in it from its constructor to
// its destructor, in order of construction (for the reset-callback settings
// that apply to every link) and by address (to tell whether a link is still
// alive). Guarded by a mutex: links may be created and destroyed by any
// thread.
#ifndef EKS_GRAPH_LINK_REGISTRY_H
#define EKS_GRAPH_LINK_REGISTRY_H

#include <cstdint>

#include "eks/graph.h"

// Enters `link`, with its list node, and gives it the next serial number.
void ekEnterLinkRegistry(ekLink* link, ekLinkItem* item);
void ekLeaveLinkRegistry(ekLink* link, ekLinkItem* item);
// Serial number of a live link, 0 for anything else. Only the address is
// looked at: safe on a dangling pointer. Serials are never reused, so a new
// link at the address of a destroyed one is told apart from it.
uint64_t ekLiveLinkSerial(const void* address);
// Runs `visit` on the list node of every live link, in order of construction,
// under the lock: `visit` must not create or destroy links.
void ekForEachLiveLink(void (*visit)(ekLinkItem* item, void* arg), void* arg);

#endif  // EKS_GRAPH_LINK_REGISTRY_H
