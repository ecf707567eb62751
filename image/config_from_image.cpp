// SPDX-License-Identifier: Apache-2.0
// ekConfig built from an image's own layout.
#include "eks/core.h"
#include "eks/image.h"

// Each getter brings the image up to date first; without an image every
// field stays zero.
ekConfig::ekConfig(ekImage* image) : ekConfig() {
    if (image == nullptr) return;
    type = image->getDataType();
    order = image->getOrder();
    coordSpace = image->getCoordSpace();
    nchans = image->getCsize();
    colorModel = image->getColorModel();
}
