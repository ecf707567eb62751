// SPDX-License-Identifier: Apache-2.0
// The keep-out classification of a fill: which boxes of a region a constant
// block with a keep-out box moves, and in which order.
#ifndef EKS_TRANSFER_KEEP_OUT_H
#define EKS_TRANSFER_KEEP_OUT_H

#include "eks/core.h"

// Writes the boxes of r (non-empty) that lie outside keepOut into out and
// returns their count: r whole when keepOut is empty or misses r; none when
// keepOut contains r; otherwise up to six slabs around the intersection I, in
// this order, each only when not empty: z before I, y before, x before,
// x after, y after, z after.
int ekKeepOutBoxes(const ekTile& r, const ekTile& keepOut, ekTile out[6]);

#endif  // EKS_TRANSFER_KEEP_OUT_H
