// SPDX-License-Identifier: Apache-2.0
// ekImage derivation operations: what a concrete class's reset() uses to fill
// in the attributes the caller did not set, and ekImage's own part of a reset.
#include <cstdint>

#include "eks/image.h"
#include "image/size_math.h"

namespace {

// Channel count a colour model implies; 0 for ekMultiSpectral and for values
// outside the table (the count is then left as it is).
int channelsOfModel(ekColorModel model) {
    switch (model) {
        case ekMinWhite:
        case ekGreyscale:
        case ekColorIndex:
            return 1;
        case ekRGB:
        case ekHSV:
        case ekCMY:
        case ekBGR:
        case ekYCC:
            return 3;
        case ekRGBA:
        case ekCMYK:
        case ekABGR:
            return 4;
        default:
            return 0;
    }
}

// Whether the model fits the channel count: the counts 1, 3 and 4 take their
// own models, every other count ekMultiSpectral only.
bool modelFits(ekColorModel model, int channels) {
    if (channels == 1 || channels == 3 || channels == 4) return channelsOfModel(model) == channels;
    return model == ekMultiSpectral;
}

// Writes v into elements 0..n-1 of p, growing it once rather than per element.
// Elements beyond n are kept.
void setElements(ekPixel& p, int n, double v) {
    if (n < 1) return;
    p.setElem(v, n - 1);
    if (p.nc() < n) return;  // the pixel could not grow
    for (int i = 0; i < n - 1; ++i) p.setElem(v, i);
}

}  // namespace

void ekImage::updatePageBytes() {
    int64_t count =
        ekProduct64(ekProduct64(ekProduct64(pageSize.x, pageSize.y), pageSize.z), pageSize.c);
    pageBytes = ekClampToInt32(ekDataSize64(dataType, count));
}

void ekImage::initColorModel(int flag) {
    if (isSet(ekColorModelBit)) return;
    switch (size.c) {
        case 1:
            colorModel = ekGreyscale;
            break;
        case 3:
            colorModel = ekRGB;
            break;
        case 4:
            colorModel = flag == 0 ? ekRGBA : ekMultiSpectral;
            break;
        default:
            colorModel = ekMultiSpectral;
            break;
    }
}

void ekImage::checkColorModel() {
    if (!modelFits(colorModel, size.c)) {
        if (!isSet(ekCsizeBit)) {
            // Derived count: follows the model, without recording an alteration.
            int implied = channelsOfModel(colorModel);
            if (implied != 0) size.c = implied;
        } else {
            setStatus(ekBadColorModel);
        }
    }
    if (order == ekInterleaved || order == ekSequential)
        pageSize.c = size.c;
    else if (order == ekSeparate)
        pageSize.c = 1;
}

void ekImage::initPageSize(int x, int y, int z, int c) {
    if (isSet(ekPageSizeBit)) return;
    pageSize.x = x;
    pageSize.y = y;
    pageSize.z = z;
    if (c >= 1)
        pageSize.c = c;
    else
        pageSize.c = order == ekSeparate ? 1 : size.c;
    updatePageBytes();
}

void ekImage::initMinMax(int clear) {
    if (clear != 0) clearSet(ekMinValueBit | ekMaxValueBit);
    // A count of 0 still gets one element; the pixels grow but never shrink.
    int n = size.c == 0 ? 1 : size.c;
    if (!isSet(ekMinValueBit)) setElements(minValue, n, ekDataMin(dataType));
    if (!isSet(ekMaxValueBit)) setElements(maxValue, n, ekDataMax(dataType));
    initScaleMinMax(clear);
}

void ekImage::initScaleMinMax(int clear) {
    if (clear != 0) clearSet(ekScaleBit);
    if (isSet(ekScaleBit)) return;
    scaleMin = minValue.minElem();
    scaleMax = maxValue.maxElem();
}

void ekImage::reset() {
    // The page size may have been set by the caller, or its channel count
    // changed by checkColorModel, since pageBytes was last computed; a page
    // buffer must never be smaller than the box written into it.
    updatePageBytes();

    if (!isSet(ekFillBit)) {
        const int channels = size.c;
        if (fill.type() == dataType) {
            // a. Same type: repeat the last value up to the channel count (0.0
            // from an empty pixel); extra elements stay.
            if (channels > fill.nc()) {
                ekPixel grown(dataType, channels);
                for (int i = 0; i < grown.nc(); ++i) grown.setElem(fill.getElem(i), i);
                if (grown.nc() == channels) fill = grown;
            }
        } else if (fill.nc() > 0) {
            // b. Another type: convert element by element through double; channels
            // beyond the old pixel repeat its last value.
            ekPixel old(fill);
            fill.set(dataType, channels, nullptr);
            for (int i = 0; i < fill.nc(); ++i) fill.setElem(old.getElem(i), i);
        } else {
            // c. No fill yet: the minimum value of each channel.
            fill.set(dataType, channels, nullptr);
            for (int i = 0; i < fill.nc(); ++i) fill.setElem(minValue.getElem(i), i);
        }
    }
    initScaleMinMax(0);
    ekLink::reset();
}
