// SPDX-License-Identifier: Apache-2.0
// ekMemoryImg: construction, the reset that derives the attributes and owns
// the buffer, synchronisation with the input, page locks and the seed merge.
#include <cstdint>
#include <cstdlib>
#include <new>

#include "core/type_facts.h"
#include "eks/images.h"
#include "eks/paging.h"
#include "image/caller_layout.h"

ekClassList ekMemoryImg::classList = {"ekMemoryImg", &ekImage::classList};

namespace {

// Bytes of the buffer the layout describes, or -1 when it describes none
// (a type or order outside its table, an extent below 1, or more than a
// signed 32-bit count of elements or bytes).
int32_t layoutBytes(const ekSize& s, ekType type, ekOrder order) {
    if (!ekIsDataType(type) || !ekIsOrder(order)) return -1;
    int64_t count = 1;
    const int32_t extents[4] = {s.x, s.y, s.z, s.c};
    for (int32_t e : extents) {
        if (e < 1) return -1;
        count *= e;  // both factors below 2^31: no overflow
        if (count > INT32_MAX) return -1;
    }
    return ekAllocSize(type, count);
}

}  // namespace

// --- Construction ------------------------------------------------------------

ekMemoryImg::ekMemoryImg() { init(ekSize(0, 0, 1, 0), ekAnyType, ekAnyOrder); }

ekMemoryImg::ekMemoryImg(void* data, const ekSize& s, ekType type, ekOrder o) {
    init(s, type, o);
    borrow(data);
}

// The image never writes through the pointer (every write path checks
// readOnly first), so dropping const here is sound.
ekMemoryImg::ekMemoryImg(const void* data, const ekSize& s, ekType type, ekOrder o) {
    init(s, type, o);
    borrow(const_cast<void*>(data));
    readOnly = 1;
}

ekMemoryImg::ekMemoryImg(const ekSize& s, ekType type, ekOrder o) { init(s, type, o); }

ekMemoryImg::ekMemoryImg(ekImage* input, int sync_) {
    if (input == nullptr) {
        init(ekSize(0, 0, 0, 0), ekAnyType, ekAnyOrder);
        setStatus(ekBadInput);
    } else {
        ekSize s;
        input->getSize(s);
        const ekOrder o = input->getOrder();
        const ekType type = input->getDataType();
        init(s, type, o);
        setInput(input, 0);
        inputImg = input;
        SetSeedImage(input);
        if (sync_ == 0) syncData();  // runs the first reset, then copies once
    }
    autoSync = sync_;
}

void ekMemoryImg::init(const ekSize& s, ekType type, ekOrder o) {
    setNumInputs(1);
    allocSize = 0;
    autoSync = 0;
    inputImg = nullptr;
    dataPtr = nullptr;
    page = nullptr;
    borrowedBytes = -1;
    readOnly = 0;
    imageType = ekMemoryImageType;
    size = s;
    dataType = type;
    order = o;
    coordSpace = ekLowerLeft;
    initColorModel(0);
    initMinMax(0);
    initPageSize(size.x, size.y, size.z, size.c);
    setAllowed(ekDataTypeBit | ekOrderBit | ekSizeBits | ekCoordSpaceBit | ekColorModelBit);
}

ekMemoryImg::~ekMemoryImg() {
    releaseLockedTiles();  // while the page they hold is still there
    deleteRelated(1);
    delete page;
    if (allocSize != 0) std::free(dataPtr);
}

// --- Class identity ----------------------------------------------------------

int ekMemoryImg::derivesFrom(ekClassList* c) { return classList.find(c); }

char* ekMemoryImg::getClassName(int n) { return classList.find(n); }

ekClassList* ekMemoryImg::getClassId() { return &classList; }

char* ekMemoryImg::getDefaultDescription() {
    static char description[] = "Memory";
    return description;
}

// --- Buffer ------------------------------------------------------------------

void* ekMemoryImg::getDataPtr() {
    resetCheck();
    return dataPtr;
}

void ekMemoryImg::setDataPtr(void* data) {
    if (allocSize != 0) {
        if (data == dataPtr) return;  // the buffer it owns: nothing changes
        std::free(dataPtr);
    }
    allocSize = 0;
    borrow(data);
    readOnly = 0;
    setAltered(ekGeneralBit);
}

// A borrowed buffer is as large as the layout at the moment it is handed
// over; when that layout describes no buffer (an undecided type, say), the
// first complete layout the image resets with fixes its size.
void ekMemoryImg::borrow(void* data) {
    dataPtr = data;
    borrowedBytes = data != nullptr ? layoutBytes(size, dataType, order) : -1;
}

void ekMemoryImg::markDirty() { setAltered(ekPropagateBit); }

void ekMemoryImg::setAutoSync(int on) {
    if (autoSync == 0 && on != 0) setAltered(ekGeneralBit);
    autoSync = on;
}

void ekMemoryImg::sync() {
    setAltered(ekGeneralBit);
    if (autoSync == 0 && getNumChildren() > 0) syncData();
}

void ekMemoryImg::syncData() {
    if (resetCheck() != ekOkay) return;
    if (inputImg == nullptr || readOnly != 0) return;
    ekConfig cfg(dataType, order, size.c, nullptr, 0, coordSpace, ekColorModel(0));
    inputImg->getTile3D(0, 0, 0, size.x, size.y, size.z, dataPtr, &cfg);
}

ekStatus ekMemoryImg::dataStatus() {
    const ekStatus s = resetCheck();
    return s == ekOkay && inProgress() ? ekNotAllowed : s;
}

// --- Reset -------------------------------------------------------------------

// Attributes from the input (steps 3 to 7 of the reset): whatever the caller
// did not set follows the input.
void ekMemoryImg::takeFromInput() {
    if (isSet(ekColorModelBit)) {
        if (inputImg->getColorModel() != colorModel) {
            // Read the input through an image of this colour model (within the
            // library that is the input itself, so nothing changes).
            setInput(inputImg->getColorImg(colorModel, nullptr), 0);
            inputImg = getInput(0);
            if (inputImg == nullptr) {
                setStatus(ekBadInput);
                return;
            }
        }
    } else {
        colorModel = inputImg->getColorModel();
    }
    if (!isSet(ekDataTypeBit)) dataType = inputImg->getDataType();
    if (!isSet(ekOrderBit)) order = inputImg->getOrder();
    if (!isSet(ekCoordSpaceBit)) coordSpace = inputImg->getCoordSpace();
    if (!isSet(ekMinValueBit)) inputImg->getMinPixel(minValue);
    if (!isSet(ekMaxValueBit)) inputImg->getMaxPixel(maxValue);
    if (!isSet(ekFillBit)) inputImg->getFill(fill);

    ekSize s;
    inputImg->getSize(s, coordSpace);
    if (!isSet(ekSizeBits)) {
        size = s;
    } else {
        if (!isSet(ekXsizeBit)) size.x = s.x;
        if (!isSet(ekYsizeBit)) size.y = s.y;
        if (!isSet(ekZsizeBit)) size.z = s.z;
        if (!isSet(ekCsizeBit)) size.c = s.c;
    }
    initPageSize(size.x, size.y, size.z, size.c);
    if (inputImg->getStatus() != ekOkay) setStatus(ekBadInput);
}

// Steps 10 and 11: an owned (or absent) buffer follows the byte size of the
// attributes; a borrowed one is never touched, and a layout that needs more
// bytes than it holds records ekNoMemory, so that nothing reads or writes
// past it. Sizes are formed in 64 bits: an element count or byte size beyond
// the 32-bit range allocates nothing.
void ekMemoryImg::allocateBuffer(bool sizeValid) {
    int32_t needed = 0;
    if (sizeValid && ekIsDataType(dataType)) {
        const ekOrder any = ekIsOrder(order) ? order : ekInterleaved;  // bytes do not depend on it
        needed = layoutBytes(size, dataType, any);
    }
    if (dataPtr == nullptr || allocSize != 0) {
        if (needed < 0) {
            if (allocSize != 0) std::free(dataPtr);
            dataPtr = nullptr;
            allocSize = 0;
        } else if (needed != allocSize) {
            if (allocSize != 0) std::free(dataPtr);
            allocSize = needed;
            dataPtr = needed > 0 ? std::malloc(size_t(needed)) : nullptr;
        }
    } else if (borrowedBytes < 0 && needed > 0 && ekIsOrder(order)) {
        borrowedBytes = needed;  // the first layout that describes the buffer
    } else if (needed > borrowedBytes && borrowedBytes >= 0) {
        needed = -1;  // the borrowed buffer is too small for this layout
    }
    if (dataPtr == nullptr || needed < 0) setStatus(ekNoMemory);
}

void ekMemoryImg::reset() {
    inputImg = getInput(0);
    if (inputImg == nullptr) {
        initColorModel(0);
        initMinMax(0);
        initPageSize(size.x, size.y, size.z, size.c);
    } else {
        takeFromInput();
    }
    checkColorModel();
    delete page;
    page = nullptr;
    const bool sizeValid = size.x >= 1 && size.y >= 1 && size.z >= 1 && size.c >= 1;
    allocateBuffer(sizeValid);
    if (!sizeValid || !ekIsDataType(dataType) || !ekIsOrder(order)) setStatus(ekBadAttribute);
    if (getStatus() != ekOkay) return;
    ekImage::reset();
    if (autoSync != 0) syncData();
}

// --- Pages -------------------------------------------------------------------

ekStatus ekMemoryImg::lockPageSet(ekLockRequest* requests, int, int count) {
    const ekStatus s = dataStatus();
    if (s != ekOkay) return s;
    ekStatus result = ekOkay;
    for (int i = 0; requests != nullptr && i < count; ++i) {
        ekLockRequest& r = requests[i];
        r.status = ekOkay;
        r.page = nullptr;
        if (!isValidPage(r.x, r.y, r.z, r.c)) continue;
        // One page for the whole image, pointing straight into the buffer:
        // its origin is that of the buffer's first element.
        if (page == nullptr) page = new (std::nothrow) ekPage(0, 0, 0, 0, dataPtr);
        if (page == nullptr) {
            r.status = result = ekNoMemory;
            continue;
        }
        r.page = page;
    }
    return result;
}

void ekMemoryImg::unlockPageSet(ekLockRequest*, int) {}

// --- Seed --------------------------------------------------------------------

void ekMemoryImg::MergeChangesIntoSeed() {
    ekImage* seed = GetSeedImage();
    if (seed == nullptr || !seedIsAlive()) return;
    seed->copyTileCfg(0, 0, 0, size.x, size.y, size.z, this, 0, 0, 0, nullptr, 1);
}
