// The registry of live links: every ekLink sits in it, in order of
// construction, through its own list node.
#ifndef EKS_GRAPH_LINK_REGISTRY_H
#define EKS_GRAPH_LINK_REGISTRY_H

#include "eks/graph.h"

// The registry, created on first use and never destroyed, so that links that
// outlive static destruction can still leave it.
ekList* ekLinkRegistry();

#endif  // EKS_GRAPH_LINK_REGISTRY_H
