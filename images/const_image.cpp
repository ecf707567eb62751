// SPDX-License-Identifier: Apache-2.0
// ekConstImg: construction, the reset that follows the value, and the copy
// that fills another image with the value.
#include <cstdlib>

#include "eks/images.h"
#include "image/caller_layout.h"

ekClassList ekConstImg::classList = {"ekConstImg", &ekImage::classList};

ekConstImg::ekConstImg() { init(ekPixel(ekUChar, 1, nullptr)); }

ekConstImg::ekConstImg(const ekPixel& value) { init(value); }

void ekConstImg::init(const ekPixel& value) {
    fillPixels = nullptr;
    // The fill pixel is the value; recording it as altered lets the first
    // reset take the type and channel count from it.
    setFill(value);
    size = ekSize(1, 1, 1, value.nc());
    dataType = value.type();
    order = ekInterleaved;
    coordSpace = ekLowerLeft;
    colorModel = ekABGR;
    setAllowed(ekSizeBits | ekCoordSpaceBit | ekColorModelBit);
}

ekConstImg::~ekConstImg() {
    releaseLockedTiles();
    if (fillPixels != nullptr) {
        purgeFillPixels();
        std::free(fillPixels);
    }
}

int ekConstImg::derivesFrom(ekClassList* c) { return classList.find(c); }

char* ekConstImg::getClassName(int n) { return classList.find(n); }

ekClassList* ekConstImg::getClassId() { return &classList; }

char* ekConstImg::getDefaultDescription() {
    static char description[] = "Constant";
    return description;
}

void ekConstImg::reset() {
    if (isAltered(ekFillBit)) {
        size.c = fill.nc();
        dataType = fill.type();
    }
    initColorModel(0);
    initMinMax(0);
    initPageSize(128, 128, 1, 0);
    checkColorModel();
    ekImage::reset();
}

ekStatus ekConstImg::setSubTile3D(int, int, int, int, int, int, void*, int, int, int, int, int, int,
                                  const ekConfig*) {
    return ekNotAllowed;
}

ekStatus ekConstImg::copyTileCfg(int, int, int, int nx, int ny, int nz, ekImage* other, int ox,
                                 int oy, int oz, const ekConfig* cfg, int direction) {
    const ekStatus s = resetCheck();
    if (s != ekOkay) return s;
    if (direction != 0) return ekNotAllowed;
    if (other == nullptr) return ekBadInput;
    if (!ekConfigUsable(cfg)) return ekBadAttribute;

    ekConfig w(dataType, order, size.c, nullptr, 0, ekCoordSpace(0), colorModel);
    if (cfg != nullptr) {
        w = *cfg;
        w.type = dataType;
        w.order = order;
        w.coordSpace = coordSpace;
    }
    // The other image reads one element per channel of w (0: its own count);
    // the value is widened (or cut) to exactly that many, so it is never read
    // past its elements.
    const int channels = w.nchans != 0 ? w.nchans : other->getCsize();
    ekPixel value;
    if (channels > 0) value.convert(fill, fill.type(), channels);
    w.type = value.type();
    w.nchans = value.nc();
    return other->fillTile3D(ox, oy, oz, nx, ny, nz, value.elems(), &w, nullptr);
}
