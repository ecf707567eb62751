// SPDX-License-Identifier: Apache-2.0
// ekSubImg: construction, start position, own configuration and the reset
// that derives the view's attributes from its parent.
#include <cstdint>
#include <cstring>
#include <new>

#include "eks/images.h"

ekClassList ekSubImg::classList = {"ekSubImg", &ekImage::classList};

ekSubImg::ekSubImg(ekImage* parent, int x, int y, int z, int c, int nx, int ny, int nz, int nc,
                   ekConfig* cfg) {
    init(parent, x, y, z, c, cfg);
    setSize(nx, ny);
    setZsize(nz);
    setCsize(nc);
}

ekSubImg::ekSubImg(ekImage* parent, int x, int y, int z, int nx, int ny, int nz, ekConfig* cfg) {
    init(parent, x, y, z, 0, cfg);
    setSize(nx, ny);
    setZsize(nz);
}

ekSubImg::ekSubImg(ekImage* parent, int x, int y, int nx, int ny, ekConfig* cfg) {
    init(parent, x, y, 0, 0, cfg);
    setSize(nx, ny);
}

ekSubImg::ekSubImg(ekImage* parent, ekConfig* cfg) { init(parent, 0, 0, 0, 0, cfg); }

void ekSubImg::init(ekImage* parent, int x, int y, int z, int c, ekConfig* cfg) {
    setAllowed(ekDataTypeBit | ekOrderBit | ekSizeBits | ekCoordSpaceBit | ekColorModelBit |
               ekFillBit | ekConfigBit);
    setNumInputs(1);
    setInput(parent, 0);
    startX = x;
    startY = y;
    startZ = z;
    startC = cfg == nullptr ? c : (cfg->chanList != nullptr ? 0 : cfg->chanOffset);
    ownedList = nullptr;
    listLength = 0;
    listLost = false;
    parentImg = nullptr;
    parentChans = 0;
    parentSpace = ekCoordSpace(0);
    setConfig(cfg);
}

ekSubImg::~ekSubImg() {
    releaseLockedTiles();
    releaseList();
}

int ekSubImg::derivesFrom(ekClassList* c) { return classList.find(c); }

char* ekSubImg::getClassName(int n) { return classList.find(n); }

ekClassList* ekSubImg::getClassId() { return &classList; }

char* ekSubImg::getDefaultDescription() {
    static char description[] = "Sub Image";
    return description;
}

int ekSubImg::hasPages() {
    ekImage* parent = getInput(0);
    return parent != nullptr ? parent->hasPages() : 0;
}

// --- Start and configuration -------------------------------------------------

void ekSubImg::getStart(int& x, int& y, int& z) {
    x = startX;
    y = startY;
    z = startZ;
}

void ekSubImg::getStart(int& x, int& y, int& z, int& c) {
    getStart(x, y, z);
    c = startC;
}

void ekSubImg::setStart(int x, int y, int z) { setStart(x, y, z, 0); }

void ekSubImg::setStart(int x, int y, int z, int c) {
    startX = x;
    startY = y;
    startZ = z;
    startC = c;
    setAltered(ekGeneralBit);
}

// The configuration never points at a released list.
void ekSubImg::releaseList() {
    delete[] ownedList;
    ownedList = nullptr;
    listLength = 0;
    config.chanList = nullptr;
}

void ekSubImg::setConfig(ekConfig* cfg) {
    releaseList();
    listLost = false;
    if (cfg == nullptr) {
        clearSet(ekConfigBit);
        return;
    }
    config = *cfg;
    config.chanList = nullptr;
    if (cfg->chanList != nullptr && cfg->nchans > 0) {
        ownedList = new (std::nothrow) int[size_t(cfg->nchans)];
        if (ownedList != nullptr) {
            std::memcpy(ownedList, cfg->chanList, sizeof(int) * size_t(cfg->nchans));
            listLength = cfg->nchans;
            config.chanList = ownedList;
        } else {
            listLost = true;
        }
    }
    setAltered(ekConfigBit);
}

int ekSubImg::parentChannel(int v, int parentChannels) const {
    if (v < 0) return -1;
    int64_t p;
    if (config.chanList != nullptr)
        p = v < listLength ? config.chanList[v] : -1;
    else
        p = int64_t(startC) + v;
    return p >= 0 && p < parentChannels ? int(p) : -1;
}

// --- Reset -------------------------------------------------------------------

// Steps 4 to 7: the own configuration, then whatever the caller did not set
// follows the parent.
void ekSubImg::takeFromParent(ekImage* parent) {
    if (isSet(ekConfigBit)) {
        // ekAnyType and ekAnyOrder give no type or order: they would make the
        // view unusable rather than follow anything.
        if (config.coordSpace > 0) setCoordSpace(config.coordSpace);
        if (config.type > 0 && config.type != ekAnyType) setDataType(config.type);
        if (config.order > 0 && config.order != ekAnyOrder) setOrder(config.order);
        if (config.nchans > 0) setCsize(config.nchans);
        if (config.colorModel > 0) setColorModel(config.colorModel);
    } else {
        parent->getConfig(&config);
        config.nchans = size.c;
        config.chanOffset = startC;
    }
    if (!isSet(ekCoordSpaceBit)) coordSpace = parent->getCoordSpace();
    if (!isSet(ekDataTypeBit)) dataType = parent->getDataType();
    if (!isSet(ekOrderBit)) order = parent->getOrder();

    ekSize s;
    parent->getSize(s, coordSpace);
    if (!isSet(ekXsizeBit)) size.x = s.x;
    if (!isSet(ekYsizeBit)) size.y = s.y;
    if (!isSet(ekZsizeBit)) size.z = s.z;
    if (!isSet(ekCsizeBit)) size.c = s.c;
    if (!isSet(ekConfigBit)) config.nchans = size.c;
    if (!isSet(ekColorModelBit)) {
        if (size.c == s.c)
            colorModel = parent->getColorModel();
        else
            initColorModel(0);
    }
    int px, py, pz, pc;
    parent->getPageSize(px, py, pz, pc, coordSpace);
    pageSize = ekXYZCstruct<int32_t>(px, py, pz, pc);
}

// Fill, minimum and maximum of the parent channels the view shows; a view
// channel that shows none gets 0.
void ekSubImg::deriveValues(ekImage* parent) {
    struct Value {
        int bit;
        ekPixel* pixel;
        void (ekImage::*get)(ekPixel&);
    };
    const Value values[3] = {{ekFillBit, &fill, &ekImage::getFill},
                             {ekMinValueBit, &minValue, &ekImage::getMinPixel},
                             {ekMaxValueBit, &maxValue, &ekImage::getMaxPixel}};
    const int parentChannels = parent->getCsize();
    for (const Value& v : values) {
        if (isSet(v.bit)) continue;
        ekPixel p;
        (parent->*v.get)(p);
        if (p.nc() < 1 || size.c < 1) {
            *v.pixel = p;
            continue;
        }
        ekPixel shown(p.type(), size.c, nullptr);
        for (int k = 0; k < size.c; ++k) {
            const int m = parentChannel(k, parentChannels);
            if (m >= 0 && m < p.nc()) shown.setElem(p.getElem(m), k);
        }
        *v.pixel = shown;
    }
}

void ekSubImg::reset() {
    clearStatus();
    ekImage* parent = parentImg = getInput(0);
    if (parent == nullptr || parent->getStatus() != ekOkay) {
        setStatus(ekBadInput);
        return;
    }
    if (listLost) {
        setStatus(ekNoMemory);
        return;
    }
    takeFromParent(parent);
    deriveValues(parent);
    parentChans = parent->getCsize();
    parentSpace = parent->getCoordSpace();
    checkColorModel();
    if (getStatus() == ekOkay) ekImage::reset();
}
