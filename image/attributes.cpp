// SPDX-License-Identifier: Apache-2.0
// ekImage attribute queries and setters.
#include <cstdint>

#include "eks/image.h"
#include "image/size_math.h"

namespace {

// True for the spaces whose x axis runs vertically (ekLeftUpper ... ekLeftLower).
bool isTransposedSpace(ekCoordSpace cs) { return int(cs) >= ekLeftUpper && int(cs) <= ekLeftLower; }

}  // namespace

// ---------------------------------------------------------------------------
// Queries. Every one that may see derived state runs resetCheck() first; its
// result is not needed here (the status stays readable with getStatus()).

int ekImage::getXsize() {
    resetCheck();
    return size.x;
}

int ekImage::getYsize() {
    resetCheck();
    return size.y;
}

int ekImage::getZsize() {
    resetCheck();
    return size.z;
}

int ekImage::getCsize() {
    resetCheck();
    return size.c;
}

int ekImage::getNumChans() { return getCsize(); }

void ekImage::getSize(ekSize& s) {
    resetCheck();
    s = size;
}

const ekSize& ekImage::getSize() {
    resetCheck();
    return size;
}

ekType ekImage::getDataType() {
    resetCheck();
    return dataType;
}

ekOrder ekImage::getOrder() {
    resetCheck();
    return order;
}

ekColorModel ekImage::getColorModel() {
    resetCheck();
    return colorModel;
}

ekCoordSpace ekImage::getCoordSpace() {
    resetCheck();
    return coordSpace;
}

int ekImage::isSigned() {
    resetCheck();
    return ekDataIsSigned(dataType);
}

void ekImage::getConfig(ekConfig* cfg) {
    resetCheck();
    if (cfg == nullptr) return;
    cfg->type = dataType;
    cfg->order = order;
    cfg->coordSpace = coordSpace;
    cfg->nchans = size.c;
    cfg->chanOffset = 0;
    cfg->chanList = nullptr;
    cfg->colorModel = colorModel;
}

void ekImage::getFill(ekPixel& p) {
    resetCheck();
    p = fill;
}

double ekImage::getFillValue(int ch) {
    resetCheck();
    return fill.getElem(ch);
}

void ekImage::getMinPixel(ekPixel& p) {
    resetCheck();
    p = minValue;
}

void ekImage::getMaxPixel(ekPixel& p) {
    resetCheck();
    p = maxValue;
}

double ekImage::getMinValue(int ch) {
    resetCheck();
    return ch < 0 ? minValue.minElem() : minValue.getElem(ch);
}

double ekImage::getMaxValue(int ch) {
    resetCheck();
    return ch < 0 ? maxValue.maxElem() : maxValue.getElem(ch);
}

double ekImage::getScaleMin() {
    resetCheck();
    return scaleMin;
}

double ekImage::getScaleMax() {
    resetCheck();
    return scaleMax;
}

int ekImage::getPageSize(int& x, int& y, int& z, int& c) {
    resetCheck();
    x = pageSize.x;
    y = pageSize.y;
    z = pageSize.z;
    c = pageSize.c;
    return pageBytes;
}

int ekImage::getPageSize() {
    resetCheck();
    return pageBytes;
}

int ekImage::getPageSizeX() {
    resetCheck();
    return pageSize.x;
}

int ekImage::getPageSizeY() {
    resetCheck();
    return pageSize.y;
}

int ekImage::getPageSizeZ() {
    resetCheck();
    return pageSize.z;
}

int ekImage::getPageSizeC() {
    resetCheck();
    return pageSize.c;
}

int ekImage::getPageSizePix() {
    resetCheck();
    return ekClampedProduct(pageSize.x, pageSize.y, pageSize.z);
}

int ekImage::getPageSizeVal() {
    resetCheck();
    return ekClampedProduct(pageSize.x, pageSize.y, pageSize.z, pageSize.c);
}

void ekImage::getPageDelta(int& dx, int& dy, int& dz, int& dc) {
    resetCheck();
    dx = ekClampToInt32(int64_t(pageSize.x) - 2 * int64_t(pageBorder.x));
    dy = ekClampToInt32(int64_t(pageSize.y) - 2 * int64_t(pageBorder.y));
    dz = ekClampToInt32(int64_t(pageSize.z) - 2 * int64_t(pageBorder.z));
    dc = pageSize.c;
}

void ekImage::getPageBorder(int& x, int& y, int& z) const {
    x = pageBorder.x;
    y = pageBorder.y;
    z = pageBorder.z;
}

int ekImage::hasPageBorder() const {
    return pageBorder.x != 0 || pageBorder.y != 0 || pageBorder.z != 0 ? 1 : 0;
}

int ekImage::getWidth() {
    resetCheck();
    return isTransposedSpace(coordSpace) ? size.y : size.x;
}

int ekImage::getHeight() {
    resetCheck();
    return isTransposedSpace(coordSpace) ? size.x : size.y;
}

// ---------------------------------------------------------------------------
// Setters.

template <class T>
ekStatus ekImage::setField(T& field, const T& value, int bit, int alterBits) {
    if (unalterable(bit)) return ekNotAllowed;
    if (field == value) {
        markSet(bit);  // chosen by the caller from now on, but nothing changed
        return ekOkay;
    }
    field = value;
    return setAltered(alterBits);
}

ekStatus ekImage::setXsize(int x) { return setField(size.x, int32_t(x), ekXsizeBit, ekXsizeBit); }

ekStatus ekImage::setYsize(int y) { return setField(size.y, int32_t(y), ekYsizeBit, ekYsizeBit); }

ekStatus ekImage::setZsize(int z) { return setField(size.z, int32_t(z), ekZsizeBit, ekZsizeBit); }

ekStatus ekImage::setCsize(int c) { return setField(size.c, int32_t(c), ekCsizeBit, ekCsizeBit); }

ekStatus ekImage::setSize(const ekSize& s) {
    if (unalterable(ekSizeBits)) return ekNotAllowed;
    if (size.x == s.x && size.y == s.y && size.z == s.z && size.c == s.c) {
        markSet(ekSizeBits);
        return ekOkay;
    }
    size = s;
    return setAltered(ekSizeBits);
}

ekStatus ekImage::setSize(int x, int y) {
    ekStatus s = setXsize(x);
    if (s != ekOkay) return s;
    return setYsize(y);
}

ekStatus ekImage::setDataType(ekType type) {
    return setField(dataType, type, ekDataTypeBit, ekDataTypeBit);
}

ekStatus ekImage::setOrder(ekOrder o) { return setField(order, o, ekOrderBit, ekOrderBit); }

ekStatus ekImage::setCoordSpace(ekCoordSpace space) {
    return setField(coordSpace, space, ekCoordSpaceBit, ekCoordSpaceBit);
}

ekStatus ekImage::setColorModel(ekColorModel model) {
    return setField(colorModel, model, ekColorModelBit, ekColorModelBit);
}

ekStatus ekImage::setCompression(ekCompress compress) {
    return setField(compression, compress, ekCompressionBit, ekCompressionBit | ekNoPropagateBit);
}

// pageBytes follows the new page size at once, so a page buffer sized from it
// always holds the page.
ekStatus ekImage::setPageSize(int x, int y, int z, int c) {
    if (unalterable(ekPageSizeBit)) return ekNotAllowed;
    if (pageSize.x == x && pageSize.y == y && pageSize.z == z && pageSize.c == c) {
        markSet(ekPageSizeBit);
        updatePageBytes();
        return ekOkay;
    }
    pageSize = ekXYZCstruct<int32_t>(x, y, z, c);
    updatePageBytes();
    return setAltered(ekPageSizeBit | ekNoPropagateBit);
}

ekStatus ekImage::setPageBorder(int x, int y, int z) {
    if (unalterable(ekPageBorderBit)) return ekNotAllowed;
    if (pageBorder.x == x && pageBorder.y == y && pageBorder.z == z) {
        markSet(ekPageBorderBit);
        return ekOkay;
    }
    pageBorder = ekPageBorder{x, y, z};
    return setAltered(ekPageBorderBit | ekNoPropagateBit);
}

// An unchanged fill is not marked as set: the next reset still adapts it.
ekStatus ekImage::setFill(const ekPixel& p) {
    if (unalterable(ekFillBit)) return ekNotAllowed;
    if (fill == p) return ekOkay;
    fill = p;
    return setAltered(ekFillBit);
}

ekStatus ekImage::setFillValue(double v, int ch) {
    if (unalterable(ekFillBit)) return ekNotAllowed;
    if (ch < fill.nc() && fill.getElem(ch) == v) return ekOkay;
    fill.setElem(v, ch);
    return setAltered(ekFillBit);
}

ekStatus ekImage::setMinPixel(const ekPixel& p) {
    if (unalterable(ekMinValueBit)) return ekNotAllowed;
    minValue = p;
    return setAltered(ekMinValueBit);
}

ekStatus ekImage::setMaxPixel(const ekPixel& p) {
    if (unalterable(ekMaxValueBit)) return ekNotAllowed;
    maxValue = p;
    return setAltered(ekMaxValueBit);
}

ekStatus ekImage::setMinMaxValue(ekPixel& pixel, int bit, double v, int ch) {
    if (unalterable(bit)) return ekNotAllowed;
    if (ch < 0) {
        for (int i = 0; i < size.c; ++i) setMinMaxValue(pixel, bit, v, i);
        return ekOkay;
    }
    if (pixel.getElem(ch) == v) return ekOkay;  // clamped read: the last element repeats
    pixel.setElem(v, ch);
    return setAltered(bit);
}

ekStatus ekImage::setMinValue(double v, int ch) {
    return setMinMaxValue(minValue, ekMinValueBit, v, ch);
}

ekStatus ekImage::setMaxValue(double v, int ch) {
    return setMinMaxValue(maxValue, ekMaxValueBit, v, ch);
}

// The scale is visible at once, so only the descendants need a reset.
ekStatus ekImage::setScaleMinMax(double min, double max) {
    if (unalterable(ekScaleBit)) return ekNotAllowed;
    scaleMin = min;
    scaleMax = max;
    return setAltered(ekScaleBit | ekPropagateBit);
}

ekStatus ekImage::setScaleType(ekType type) {
    if (unalterable(ekScaleBit)) return ekNotAllowed;
    if (type == 0) {
        resetCheck();
        type = dataType;
    }
    scaleMin = ekDataMin(type);
    scaleMax = ekDataMax(type);
    return setAltered(ekScaleBit | ekPropagateBit);
}
