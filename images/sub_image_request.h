// SPDX-License-Identifier: Apache-2.0
// ekSubImg::Request: a caller's read or write translated for the view's
// parent: the composed layout, its channel lists and the boxes.
#ifndef EKS_IMAGES_SUB_IMAGE_REQUEST_H
#define EKS_IMAGES_SUB_IMAGE_REQUEST_H

#include <cstdint>
#include <new>

#include "eks/images.h"

// An int array of n entries that lives as long as its owner: local storage
// for the usual few channels, the heap beyond.
class ekChannelArray {
public:
    ekChannelArray() : entries(local), heap(nullptr) {}
    ekChannelArray(const ekChannelArray&) = delete;
    ekChannelArray& operator=(const ekChannelArray&) = delete;
    ~ekChannelArray() { delete[] heap; }
    // Null when the memory cannot be had.
    int* make(int n) {
        if (n <= kLocal) return entries = local;
        delete[] heap;
        heap = new (std::nothrow) int[size_t(n)];
        return entries = heap;
    }
    int* get() const { return entries; }

private:
    static const int kLocal = 16;
    int* entries;
    int* heap;
    int local[kLocal];
};

// 1 when list[k] = list[0] + k for every k < n, all of them 0 or more: the
// selection is an offset and the engine may take its whole-row paths.
inline bool isChannelRun(const int* list, int n) {
    for (int k = 0; k < n; ++k)
        if (list[k] < 0 || int64_t(list[k]) != int64_t(list[0]) + k) return false;
    return true;
}

struct ekSubImg::Request {
    ekConfig parentCfg;              // the caller's buffer as the parent sees it
    ekChannelArray parentList;       // buffer channel -> parent channel (-1: none)
    ekChannelArray viewList;         // storage of viewChans
    const int* viewChans = nullptr;  // buffer channel -> view channel (-1: none)
    int viewFirst = 0;               // without viewChans: view channel of buffer channel 0
    int nc = 0;                      // channels of the caller's buffer; 0: nothing moves
    ekType type = ekAnyType;         // the caller's element type and order
    ekOrder order = ekAnyOrder;
    ekTile request;          // the request in the view's space, not clipped
    ekTile buffer;           // the buffer box in the view's space
    ekFlip flip = ekNoFlip;  // mapping of the caller's space onto the view's
    int trans = 0;
    ekTile inside;         // the request clipped to the view (view space)
    bool outside = false;  // the request reaches beyond the view
    ekTile parentR;        // request and buffer box handed to the parent
    ekTile parentB;
};

#endif  // EKS_IMAGES_SUB_IMAGE_REQUEST_H
