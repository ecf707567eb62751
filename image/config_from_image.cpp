// ekConfig built from an image's own layout.
#include "eks/core.h"
#include "eks/image.h"

// Each getter brings the image up to date first.
ekConfig::ekConfig(ekImage* image) {
    if (image == nullptr) return;
    type = image->getDataType();
    order = image->getOrder();
    coordSpace = image->getCoordSpace();
    nchans = image->getCsize();
    chanOffset = 0;
    chanList = nullptr;
    colorModel = image->getColorModel();
    reserved = 0;
}
