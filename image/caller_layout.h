// SPDX-License-Identifier: Apache-2.0
// Checks of a caller's layout before any pixel moves. Every image class's tile
// primitives (reads, writes, fills, copies) ask these first, so that a layout
// the transfer engine cannot describe is refused with ekBadAttribute instead
// of moving nothing (a read) or losing data (a write) while answering ekOkay.
#ifndef EKS_IMAGE_CALLER_LAYOUT_H
#define EKS_IMAGE_CALLER_LAYOUT_H

#include "eks/core.h"

class ekChannelTable;
class ekImage;

// One of the nine element types / three channel orders.
bool ekIsDataType(ekType t);
bool ekIsOrder(ekOrder o);

// A configuration (null: the image's own layout) is usable when its type is
// one of the nine, 0 or ekAnyType, its order one of the three, 0 or
// ekAnyOrder, and its channel count 0 (the image's) or more. A type that only
// shares bits with the nine (6 = ekUChar | ekChar) is not one of them.
bool ekConfigUsable(const ekConfig* cfg);

// ekOkay when a caller's buffer can take part in a read or write of the
// request box: the configuration is usable, the buffer is not null while
// both the request and the buffer box are non-empty, and the buffer box's
// element strides fit 32 bits for its effective order and channel count
// (the configuration's, falling back to `ownOrder` and `ownChannels`; one
// channel is always ekSeparate, whose channel volume must fit too).
// ekBadAttribute otherwise: nothing may move then.
ekStatus ekCheckCallerBuffer(const ekConfig* cfg, ekOrder ownOrder, int ownChannels,
                             const void* data, const ekTile& request, const ekTile& buffer);

// A read or write of an image: the image's status (which brings it up to
// date), then ekCheckCallerBuffer with the image's order and channel count.
// ekOkay when the request may go ahead.
ekStatus ekCheckRequest(ekImage& image, const ekConfig* cfg, const void* data,
                        const ekTile& request, const ekTile& buffer);

// The layout in which another image sees an image's whole buffer (or a
// temporary buffer in the image's layout) in a copy: the configuration (or
// the image's own layout) with the image's type, order and coordinate space,
// and always the image's channel count, which is what the buffer holds. A
// configuration with another count keeps its selection for the channels it
// names through an explicit table (the rest select nothing), so the buffer
// is never described with channels it does not have. False when the table's
// memory cannot be had. `cfg` must be usable (ekConfigUsable).
bool ekWorkingLayout(const ekConfig* cfg, ekType type, ekOrder order, int channels,
                     ekCoordSpace space, ekConfig& w, ekChannelTable& table);

#endif  // EKS_IMAGE_CALLER_LAYOUT_H
