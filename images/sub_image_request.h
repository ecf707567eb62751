// SPDX-License-Identifier: Apache-2.0
// ekSubImg::Request: a caller's read or write translated for the view's
// parent: the composed layout, its channel lists and the boxes.
#ifndef EKS_IMAGES_SUB_IMAGE_REQUEST_H
#define EKS_IMAGES_SUB_IMAGE_REQUEST_H

#include <cstdint>

#include "eks/images.h"
#include "image/channel_table.h"

// 1 when list[k] = list[0] + k for every k < n, all of them 0 or more: the
// selection is an offset and the engine may take its whole-row paths.
inline bool isChannelRun(const int* list, int n) {
    for (int k = 0; k < n; ++k)
        if (list[k] < 0 || int64_t(list[k]) != int64_t(list[0]) + k) return false;
    return true;
}

struct ekSubImg::Request {
    ekConfig parentCfg;              // the caller's buffer as the parent sees it
    ekChannelTable parentList;       // buffer channel -> parent channel (-1: none)
    ekChannelTable viewList;         // storage of viewChans
    const int* viewChans = nullptr;  // buffer channel -> view channel (-1: none)
    int viewFirst = 0;               // without viewChans: view channel of buffer channel 0
    int nc = 0;                      // channels of the caller's buffer; 0: nothing moves
    ekType type = ekAnyType;         // the caller's element type and order
    ekOrder order = ekAnyOrder;
    // Boxes in the view's space, cut to the buffer box and placed for the
    // engine (ekPlaceRequest: a request far outside the view may have been
    // moved, with the buffer box, to just before its origin).
    ekTile request;          // the request, for the fill of its part outside the view
    ekTile buffer;           // the buffer box
    ekFlip flip = ekNoFlip;  // mapping of the caller's space onto the view's
    int trans = 0;
    ekTile inside{0, 0, 0, 0, 0, 0};  // the request clipped to the view (empty: none)
    bool outside = false;             // the request reaches beyond the view
    bool toParent = false;            // the parent moves data: parentR and parentB are set
    ekTile parentR;                   // request and buffer box handed to the parent
    ekTile parentB;
};

#endif  // EKS_IMAGES_SUB_IMAGE_REQUEST_H
