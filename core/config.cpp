// SPDX-License-Identifier: Apache-2.0
// ekConfig: the caller's layout of a transfer and its channel mapping. The
// constructor from an image belongs with the image class.
#include <cstdint>

#include "eks/core.h"

ekConfig::ekConfig()
    : type(ekType(0)),
      order(ekOrder(0)),
      coordSpace(ekCoordSpace(0)),
      nchans(0),
      chanOffset(0),
      chanList(nullptr),
      colorModel(ekColorModel(0)),
      reserved(0) {}

ekConfig::ekConfig(ekType type_, ekOrder order_, int nchans_, int* chanList_, int chanOffset_,
                   ekCoordSpace coordSpace_, ekColorModel colorModel_)
    : type(type_),
      order(order_),
      coordSpace(coordSpace_),
      nchans(nchans_),
      chanOffset(chanOffset_),
      chanList(chanList_),
      colorModel(colorModel_),
      reserved(0) {}

int ekConfig::mapChan(int i) const {
    if (i < 0 || i >= nchans) return -1;
    // In 64 bits: a large offset must not overflow the index or the result.
    const int64_t k = int64_t(i) + chanOffset;
    if (chanList) return chanList[k];
    return k > INT32_MAX ? INT32_MAX : int(k);  // k >= INT32_MIN as i >= 0
}

void ekConfig::invert(int n, int* out) const {
    for (int m = 0; m < n; ++m) out[m] = -1;
    // Ascending k: when two buffer channels hold one image channel, the later wins.
    for (int k = 0; k < nchans; ++k) {
        const int m = mapChan(k);
        if (m >= 0 && m < n) out[m] = k;
    }
}

int ekConfig::isInvertable() const {
    for (int j = 0; j < nchans; ++j)
        for (int k = j + 1; k < nchans; ++k)
            if (mapChan(j) == mapChan(k)) return 0;
    return 1;
}

void ekConfig::compose(int n, const int* in, int* out) const {
    for (int k = 0; k < n; ++k) out[k] = mapChan(in[k]);
}
