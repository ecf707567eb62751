// SPDX-License-Identifier: Apache-2.0
// ekImage lifecycle: construction, destruction, class identity, reference
// counting and inputs.
#include "eks/image.h"

#include <cstdint>

ekClassList ekImage::classList = {"ekImage", &ekLink::classList};

ekImage::ekImage() : size(1, 1, 1, 1), fill(), minValue(ekDouble, 1), maxValue(ekDouble, 1) {
    init();
}

ekImage::ekImage(const ekSize& s) : size(s), fill(), minValue(ekDouble, 1), maxValue(ekDouble, 1) {
    init();
}

// Defaults every image starts with. The data type, order, colour model,
// coordinate space and scale belong to the concrete class and the first reset;
// they get inert placeholders so that nothing reads an indeterminate value.
void ekImage::init() {
    refCount = 0;
    lockedTiles = nullptr;
    setAllowed(ekMinValueBit | ekMaxValueBit | ekScaleBit | ekFillBit);
    pageBytes = 0;
    pageSize = ekXYZCstruct<int32_t>(0, 0, 0, 0);
    pageBorder = ekPageBorder{0, 0, 0};
    priority = 0;
    numInputs = 0;
    compression = ekNoCompression;
    imageType = ekGenericImageType;
    dataType = ekAnyType;
    order = ekAnyOrder;
    colorModel = ekColorModel(0);
    coordSpace = ekCoordSpace(0);
    scaleMin = scaleMax = 0.0;
    minValue.setElem(0.0, 0);
    maxValue.setElem(0.0, 0);
}

// Locked tiles that outlive the image give up their pages first (a class
// with pages of its own has released its tiles already). The related
// children go next, while this image is still whole; the pixels are released
// by their destructors, then ekLink detaches the node.
ekImage::~ekImage() {
    releaseLockedTiles();
    deleteRelated(1);
}

int ekImage::derivesFrom(ekClassList* c) { return classList.find(c); }

char* ekImage::getClassName(int n) { return classList.find(n); }

ekClassList* ekImage::getClassId() { return &classList; }

char* ekImage::getDefaultDescription() {
    static char description[] = "Image";
    return description;
}

void ekImage::ref() {
    if (refCount < INT32_MAX) ++refCount;
}

void ekImage::unref() {
    if (refCount > INT32_MIN) --refCount;
    if (refCount <= 0) delete this;
}

ekStatus ekImage::setInput(ekImage* img, int index) {
    if (index < 0 || index >= numInputs) return ekBadIndex;
    return setParent(img, index);
}

ekStatus ekImage::addInput(ekImage* img) { return setInput(img, getNumInputs()); }

ekImage* ekImage::getInput(int index) {
    ekLink* parent = getParent(index);
    // A parent connected through the link interface need not be an image.
    if (parent == nullptr || !parent->derivesFrom(&ekImage::classList)) return nullptr;
    return static_cast<ekImage*>(parent);
}

ekStatus ekImage::removeInput(int index) { return removeParent(index); }

int ekImage::getNumInputs() {
    int highest = getMaxIndex();  // -1 without parent entries
    return highest == INT32_MAX ? INT32_MAX : highest + 1;
}

ekImage* ekImage::getColorImg(ekColorModel, ekImage*) { return this; }

void ekImage::evalXY(ekXYstruct<float>& out, const ekXYstruct<float>& in) { out = in; }

void ekImage::evalUV(ekXYstruct<float>& out, const ekXYstruct<float>& in) { out = in; }
