// ekMemoryImg: construction, the reset that derives the attributes and owns
// the buffer, synchronisation with the input, page locks and the seed merge.
#include <cstdint>
#include <cstdlib>
#include <new>

#include "core/type_facts.h"
#include "eks/images.h"
#include "eks/paging.h"

ekClassList ekMemoryImg::classList = {"ekMemoryImg", &ekImage::classList};

namespace {

bool isDataType(ekType t) {
    switch (t) {
        case ekBit:
        case ekUChar:
        case ekChar:
        case ekUShort:
        case ekShort:
        case ekULong:
        case ekLong:
        case ekFloat:
        case ekDouble:
            return true;
        default:
            return false;
    }
}

bool isOrder(ekOrder o) { return o == ekInterleaved || o == ekSequential || o == ekSeparate; }

}  // namespace

// --- Construction ------------------------------------------------------------

ekMemoryImg::ekMemoryImg() { init(ekSize(0, 0, 1, 0), ekAnyType, ekAnyOrder); }

ekMemoryImg::ekMemoryImg(void* data, const ekSize& s, ekType type, ekOrder o) {
    init(s, type, o);
    dataPtr = data;  // borrowed: allocSize stays 0
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
    if (allocSize != 0) std::free(dataPtr);
    allocSize = 0;
    dataPtr = data;
    setAltered(ekGeneralBit);
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
    if (inputImg == nullptr) return;
    ekConfig cfg(dataType, order, size.c, nullptr, 0, coordSpace, ekColorModel(0));
    inputImg->getTile3D(0, 0, 0, size.x, size.y, size.z, dataPtr, &cfg);
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
// attributes; a borrowed one is never touched. Sizes are formed in 64 bits: an
// element count or byte size beyond the 32-bit range allocates nothing.
void ekMemoryImg::allocateBuffer(bool sizeValid) {
    int64_t count = 0;
    bool fits = true;
    if (sizeValid && isDataType(dataType)) {
        count = 1;
        const int32_t extents[4] = {size.x, size.y, size.z, size.c};
        for (int32_t e : extents) {
            count *= e;  // both factors below 2^31: no overflow
            if (count > INT32_MAX) {
                fits = false;
                break;
            }
        }
    }
    const int32_t needed = fits ? ekAllocSize(dataType, count) : -1;
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
    if (!sizeValid || !isDataType(dataType) || !isOrder(order)) setStatus(ekBadAttribute);
    if (getStatus() != ekOkay) return;
    ekImage::reset();
    if (autoSync != 0) syncData();
}

// --- Pages -------------------------------------------------------------------

ekStatus ekMemoryImg::lockPageSet(ekLockRequest* requests, int, int count) {
    const ekStatus s = resetCheck();
    if (s != ekOkay) return s;
    ekStatus result = ekOkay;
    for (int i = 0; requests != nullptr && i < count; ++i) {
        ekLockRequest& r = requests[i];
        r.status = ekOkay;
        r.page = nullptr;
        if (!isValidPage(r.x, r.y, r.z, r.c)) continue;
        // One page for the whole image, pointing straight into the buffer.
        if (page == nullptr)
            page = new (std::nothrow) ekPage(size.x, size.y, size.z, size.c, dataPtr);
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
