// SPDX-License-Identifier: Apache-2.0
// The abstract image: attributes with lazy derivation, the tile access front
// end and the mapping between coordinate spaces.
#ifndef EKS_IMAGE_H
#define EKS_IMAGE_H

#include <cstdint>

#include "eks/core.h"
#include "eks/graph.h"

// Paging types; their definitions live with the page locking code.
class ekPage;
class ekImagePage;
struct ekLockRequest;
struct ekLockedTile;
struct ekPgCB;
class ekTileIter;

// Types the interface names but the library never defines: seekTile passes the
// semaphore on, hwEval always answers null.
class ekSemaphore;
class ekHwPass;

// Kind of image, stored in ekImage::imageType. The library writes only these
// two values; any other 32-bit value may be stored by a class of the host.
enum ekImageType : int32_t {
    ekMemoryImageType = 1,   // ekMemoryImg
    ekGenericImageType = 6,  // every other image
};

// The mirroring part of a mapping between two coordinate spaces, expressed in
// the axes of the target space. A mapping transposes first, then mirrors.
enum ekFlip : int32_t {
    ekNoFlip = 0,
    ekFlipX = 1,   // x = extent - x - 1 (positions) or extent - x - nx (boxes)
    ekFlipY = 2,   // the same on y
    ekFlipXY = 3,  // both
};

// ---------------------------------------------------------------------------
// ekImage: the base of every image and a node of the operator graph (its
// inputs are its parents).
//
// Attributes. Setters never validate: each checks that the class allowed the
// attribute (else ekNotAllowed), records the attribute as chosen by the caller
// in the set mask, and, when the value changed, marks the image (and for most
// attributes its descendants) altered. Getters marked "resets" first run
// resetCheck(), which brings the inputs and then this image up to date; the
// class's reset() derives every attribute the caller did not set, using the
// protected derivation operations in this order: initColorModel/initMinMax
// (or take them from the input), initPageSize, checkColorModel, the class's
// own checks, and last ekImage::reset().
//
// Data. The public tile entry points reduce every 2-D, sub-tile and pixel
// form to one virtual 3-D primitive call and check nothing themselves. A
// concrete class implements getSubTile3D and setSubTile3D (and may override
// the others); each primitive begins with resetCheck() and refuses to move
// data while the status is not ekOkay.
//
// Coordinate spaces. The image stores its pixels in coordSpace; callers may
// address it in any of the eight spaces. A space value of 0 behaves as
// ekLowerLeft in every table lookup; values outside 0..8 are treated as 0.
//
// Images are not copyable. The image owns its fill, minimum and maximum
// pixels; inputs are never owned. Size arithmetic is done in 64 bits; a
// product stored in a 32-bit result (pageBytes, getPageSizePix,
// getPageSizeVal, strides) is clamped to the 32-bit range.
class EKS_API ekImage : public ekLink {
public:
    static ekClassList classList;  // "ekImage", parent ekLink::classList

    // Size (1, 1, 1, 1) or the given size; fill untyped and empty; minimum
    // and maximum one ekDouble element 0.0 each. Data type (ekAnyType), order
    // (ekAnyOrder), colour model and coordinate space (0) and the scale (0.0)
    // are placeholders until the concrete class and the first reset set them.
    ekImage();
    explicit ekImage(const ekSize& size);
    ekImage(const ekImage&) = delete;
    ekImage& operator=(const ekImage&) = delete;
    // Releases what its live locked tiles still hold (releaseLockedTiles,
    // through ekImage's own unlockPageSet by then), destroys the related
    // children, then releases the pixels and detaches the image from the
    // graph.
    ~ekImage() override;

    // Class identity.
    int derivesFrom(ekClassList* c) override;
    char* getClassName(int n) override;
    virtual ekClassList* getClassId();

    // Reference counting: a new image starts at 0; unref() deletes the image
    // (created with new) when the count drops to 0 or below.
    void ref();
    void unref();
    int GetRefCount() const { return refCount; }

    // --- Attribute queries (all reset first unless noted) -----------------
    int getXsize();
    int getYsize();
    int getZsize();
    int getCsize();
    int getNumChans();
    void getSize(ekSize& s);
    const ekSize& getSize();
    // The size with x and y exchanged when cs and the image's own space differ
    // in transposition; cs = 0 counts as untransposed (it is not replaced).
    void getSize(ekSize& s, ekCoordSpace cs);
    ekType getDataType();
    ekOrder getOrder();
    ekColorModel getColorModel();
    ekCoordSpace getCoordSpace();
    ekCompress getCompression() const { return compression; }  // no reset
    ekImageType getImageType() const { return imageType; }     // no reset
    int isSigned();
    // Data type, order, coordinate space, channel count and colour model;
    // channel offset 0, no channel list; the reserved field is left alone.
    // A null cfg is ignored.
    void getConfig(ekConfig* cfg);
    void getFill(ekPixel& p);
    double getFillValue(int ch);  // clamped index
    void getMinPixel(ekPixel& p);
    void getMaxPixel(ekPixel& p);
    double getMinValue(int ch);  // ch < 0: the smallest element
    double getMaxValue(int ch);  // ch < 0: the largest element
    double getScaleMin();
    double getScaleMax();
    // Writes pageSize; returns pageBytes.
    int getPageSize(int& x, int& y, int& z, int& c);
    // The same with x and y exchanged under the rule of getSize(s, cs).
    int getPageSize(int& x, int& y, int& z, int& c, ekCoordSpace cs);
    int getPageSize();  // pageBytes
    int getPageSizeX();
    int getPageSizeY();
    int getPageSizeZ();
    int getPageSizeC();
    int getPageSizePix();  // x*y*z of the page, clamped to 32 bits
    int getPageSizeVal();  // x*y*z*c of the page, clamped to 32 bits
    // Distance between the origins of neighbouring pages: the page size less
    // the border on both sides (channels: the page's channel count).
    void getPageDelta(int& dx, int& dy, int& dz, int& dc);
    void getPageBorder(int& x, int& y, int& z) const;  // no reset
    int hasPageBorder() const;                         // no reset
    int getPriority() const { return priority; }       // no reset
    // Extent along the displayed horizontal / vertical axis: size.x / size.y,
    // exchanged in the transposed spaces.
    int getWidth();
    int getHeight();
    int getCacheSize() const { return 0; }  // no reset

    // --- Attribute setters ---------------------------------------------------
    ekStatus setXsize(int x);
    ekStatus setYsize(int y);
    ekStatus setZsize(int z);
    ekStatus setCsize(int c);
    ekStatus setNumChans(int n) { return setCsize(n); }
    ekStatus setSize(const ekSize& s);
    // setXsize, then setYsize only when that succeeded.
    ekStatus setSize(int x, int y);
    ekStatus setDataType(ekType type);
    ekStatus setOrder(ekOrder order);
    ekStatus setCoordSpace(ekCoordSpace space);
    ekStatus setColorModel(ekColorModel model);
    // Page size, page border and compression make this image reset but do not
    // alter its descendants. setPageSize also recomputes pageBytes.
    ekStatus setCompression(ekCompress compress);
    ekStatus setPageSize(int x, int y, int z, int c);
    ekStatus setPageBorder(int x, int y, int z);
    // An unchanged fill answers ekOkay without marking the fill as set.
    virtual ekStatus setFill(const ekPixel& p);
    // Sets one element of the fill, growing it as ekPixel::setElem does.
    ekStatus setFillValue(double v, int ch);
    ekStatus setMinPixel(const ekPixel& p);
    ekStatus setMaxPixel(const ekPixel& p);
    // ch < 0 sets every channel below the channel count and answers ekOkay.
    ekStatus setMinValue(double v, int ch);
    ekStatus setMaxValue(double v, int ch);
    // The scale alters the descendants but not the image: the new values are
    // visible at once. setScaleType(0) uses the image's data type.
    ekStatus setScaleMinMax(double min, double max);
    ekStatus setScaleType(ekType type);
    void setPriority(int p) { priority = p; }
    // There is no cache: these do nothing and answer ekNotAllowed.
    ekStatus setCacheSize(int, int) { return ekNotAllowed; }
    ekStatus setCacheWindow(int, int, int, int, int) { return ekNotAllowed; }
    ekStatus setCacheWindowCopy(int, int, int) { return ekNotAllowed; }

    // Derives the display scale from the minimum and maximum pixels unless the
    // caller set it; clear != 0 forgets the caller's scale first.
    void initScaleMinMax(int clear);

    // --- Inputs ----------------------------------------------------------------
    // ekBadIndex for an index below 0 or at or above the class's input count.
    ekStatus setInput(ekImage* img, int index);
    // Connects img at the index after the highest one in use.
    ekStatus addInput(ekImage* img);
    // The input at index, seeing through disabled links; null when there is
    // none or when that parent is not an image.
    ekImage* getInput(int index);
    ekStatus removeInput(int index);  // ekBadIndex when no input has the index
    // One more than the highest input index in use (0 without inputs).
    int getNumInputs();

    // --- Colour conversion hooks (none in this library) --------------------
    int isColorImg() { return 0; }
    int isDisplayImg() { return 0; }
    // The image itself: no image of the library converts colour models.
    ekImage* getColorImg(ekColorModel model, ekImage* hint);

    // --- Tile primitives (virtual) -----------------------------------------
    // Box (x, y, z, nx, ny, nz) in image coordinates (or in cfg's coordinate
    // space when it names one); the caller's buffer holds the dense box
    // (bx, by, bz, bnx, bny, bnz); cfg describes the buffer (null: the
    // image's own layout).
    virtual ekStatus getSubTile3D(int x, int y, int z, int nx, int ny, int nz, void* data, int bx,
                                  int by, int bz, int bnx, int bny, int bnz,
                                  const ekConfig* cfg) = 0;
    virtual ekStatus setSubTile3D(int x, int y, int z, int nx, int ny, int nz, void* data, int bx,
                                  int by, int bz, int bnx, int bny, int bnz,
                                  const ekConfig* cfg) = 0;
    // Copies the box between this image (origin x, y, z) and other (origin
    // ox, oy, oz); direction != 0 reads other and writes this image, 0 the
    // reverse. cfg is applied on other's side. The base copies through a
    // temporary buffer: ekNoMemory when it cannot be had (or its byte size
    // does not fit 32 bits), ekBadInput for a null other, and
    // ekNotImplemented (nothing moved) between different colour models.
    virtual ekStatus copyTileCfg(int x, int y, int z, int nx, int ny, int nz, ekImage* other,
                                 int ox, int oy, int oz, const ekConfig* cfg, int direction);
    // Sets the box, less the keep-out box, to one value. Base: ekNotImplemented.
    virtual ekStatus fillTile3D(int x, int y, int z, int nx, int ny, int nz, void* value,
                                const ekConfig* cfg, const ekTile* keepOut);
    // Base (and every class of the library): ekNotAllowed.
    virtual ekStatus seekTile3D(int x, int y, int z, int nx, int ny, int nz, const ekConfig* cfg,
                                ekSemaphore* sem, ekImage* other);
    // Locks every page whose interior the box (in cfg's coordinate space,
    // clipped to the image) touches, in the channels cfg selects (clipped to
    // the image's channels: list entries and offsets beyond them select
    // nothing); the caller deletes the result to unlock. Null when the
    // image's status is not ekOkay or memory is short. A box that reaches
    // the image in some channel but whose pages cannot be listed (their count
    // does not fit 32 bits, or the page geometry lays none) gives a tile with
    // status ekBadInput and no request. Bits 0x400 and 0x800 of mode are not
    // handed to lockPageSet.
    virtual ekLockedTile* lockTile3D(int x, int y, int z, int nx, int ny, int nz,
                                     const ekConfig* cfg, int mode);
    // Point of this image -> point of its input (evalXY) and back (evalUV).
    // Base: the identity.
    virtual void evalXY(ekXYstruct<float>& out, const ekXYstruct<float>& in);
    virtual void evalUV(ekXYstruct<float>& out, const ekXYstruct<float>& in);
    virtual int hasPages() { return 0; }
    // Fills each request's status and page. Base: a fresh buffer per valid
    // position (isValidPage), filled by getTile3D with the page box in the
    // image's own type and order (channels past the last one zeroed); no
    // page and ekOkay outside the image.
    // Returns the reset's status (no request touched), else ekOkay or the
    // status of the last request that failed. mode is not interpreted.
    virtual ekStatus lockPageSet(ekLockRequest* requests, int mode, int count);
    // Base: destroys every non-null page (the pointers are left as they are).
    virtual void unlockPageSet(ekLockRequest* requests, int count);
    virtual ekHwPass* hwEval(int) { return nullptr; }  // always null

    // --- Tile entry points: exactly one primitive call each -----------------
    ekStatus getTile3D(int x, int y, int z, int nx, int ny, int nz, void* data,
                       const ekConfig* cfg);
    ekStatus setTile3D(int x, int y, int z, int nx, int ny, int nz, void* data,
                       const ekConfig* cfg);
    ekStatus getTile(int x, int y, int nx, int ny, void* data, const ekConfig* cfg);
    ekStatus setTile(int x, int y, int nx, int ny, void* data, const ekConfig* cfg);
    ekStatus getSubTile(int x, int y, int nx, int ny, void* data, int bx, int by, int bnx, int bny,
                        const ekConfig* cfg);
    ekStatus setSubTile(int x, int y, int nx, int ny, void* data, int bx, int by, int bnx, int bny,
                        const ekConfig* cfg);
    ekStatus fillTile(int x, int y, int nx, int ny, void* value, const ekConfig* cfg,
                      const ekTile* keepOut);
    ekStatus seekTile(int x, int y, int nx, int ny, const ekConfig* cfg, ekSemaphore* sem);
    ekLockedTile* lockTile(int x, int y, int nx, int ny, const ekConfig* cfg, int mode);
    ekStatus copyTile(int x, int y, int nx, int ny, ekImage* other, int ox, int oy, int* chanList,
                      int direction);
    ekStatus getPixel(int x, int y, ekPixel& p);
    ekStatus setPixel(int x, int y, ekPixel& p);

    // Locks one page through lockPageSet: null with ekOkay outside the image,
    // null with the failure when the lock failed. unlockPage releases it
    // through unlockPageSet.
    ekPage* lockPage(int x, int y, int z, int c, ekStatus& status, int mode);
    void unlockPage(ekPage* page);

    // --- Pixels, copies, clipping, strides ---------------------------------
    // Reads one pixel in p's type; an untyped or empty p first takes the
    // image's type and channel count. ekNoMemory if p cannot be sized.
    ekStatus getPixel3D(int x, int y, int z, ekPixel& p);
    // Writes one pixel; an untyped or empty p is first sized as above and
    // zeroed, so the write is deterministic.
    ekStatus setPixel3D(int x, int y, int z, ekPixel& p);
    // Copies the box between this image and other through copyTileCfg; a
    // channel list names, for each channel of this image, other's channel.
    ekStatus copyTile3D(int x, int y, int z, int nx, int ny, int nz, ekImage* other, int ox, int oy,
                        int oz, int* chanList, int direction);
    // Copies the whole of src (this image's extent) into this image; the
    // result is left as this image's status. When bringing this image up to
    // date destroys src (a related child with related delete set), nothing is
    // copied and the status is ekBadInput.
    void operator<<(ekImage& src);
    // Clips the box to the image (widened by the page border when withBorder
    // is non-zero), in place: ekOkay when nothing changed, else ekOutOfBounds.
    // A box wholly outside comes back with an extent of 0 or less.
    ekStatus clipTile(int& x, int& y, int& z, int& nx, int& ny, int& nz, int withBorder);
    // Element strides of a row-major box nx (by ny) pixels wide in the given
    // order (ekAnyOrder: the image's own); another order leaves the outputs.
    void getStrides(int nx, int& xStride, int& yStride, int& chanStride, int& planeChans,
                    ekOrder order = ekAnyOrder);
    void getStrides3D(int nx, int ny, int& xStride, int& yStride, int& zStride, int& chanStride,
                      int& planeChans, ekOrder order = ekAnyOrder);

    // --- Coordinate spaces ---------------------------------------------------
    // In every mapping `from` is the space of the given values and `to` the
    // space they are mapped into; to = 0 means the image's own space.
    // The image's space mirrored in x, then in y, then with the axes exchanged.
    ekCoordSpace mapSpace(int mirrorX, int mirrorY, int exchange);
    // Flip and transposition of the mapping; returns `to` after substitution.
    ekCoordSpace mapFlipTrans(ekCoordSpace from, ekFlip& flip, int& trans, ekCoordSpace to);
    // Maps a box in place (z and nz untouched); mirroring uses the image's
    // extent in the target space. The first form writes flip and trans.
    void mapTile(ekCoordSpace from, ekTile& t, ekFlip& flip, int& trans, ekCoordSpace to);
    void mapTile(ekCoordSpace from, ekTile& t, ekCoordSpace to);
    void mapTile(ekCoordSpace from, ekTileFloat& t, ekCoordSpace to);
    // Maps a pixel position in place: the first pixel maps to the last. The
    // integer form goes through float and truncates (exact below 2^24).
    void mapXY(ekCoordSpace from, float& x, float& y, ekCoordSpace to);
    void mapXY(ekCoordSpace from, int& x, int& y, ekCoordSpace to);
    // Maps a direction: exchanged and negated, no extent involved.
    void mapXYSign(ekCoordSpace from, float& dx, float& dy, ekCoordSpace to);
    // Exchanges w and h when the two spaces differ in transposition.
    void mapSize(ekCoordSpace from, int& w, int& h, ekCoordSpace to);
    // 1 when mapping between a and b (0: the image's own) reverses orientation.
    int isMirrorSpace(ekCoordSpace a, ekCoordSpace b);
    // Carry a point up the chain of input-0 images to its first image, and
    // down from there to this image. Each image of the chain is visited once,
    // even when the inputs form a cycle.
    void mapToSource(ekXYstruct<float>& out, const ekXYstruct<float>& in);
    void mapFromSource(ekXYstruct<float>& out, const ekXYstruct<float>& in);

protected:
    // ekImage's part of every reset: pageBytes follows the page size and data
    // type; an unset fill is adapted to the data type and channel count (the
    // last value repeated, converted, or the minimum values); the scale is
    // derived; then ekLink::reset().
    void reset() override;
    char* getDefaultDescription() override;  // "Image"

    void setNumInputs(int n) { numInputs = n; }

    // Unlocks the pages of every locked tile of this image that is still
    // alive (through the virtual unlockPageSet, as deleting the tile would)
    // and leaves each tile empty: no image, no requests, count 0. The caller
    // still deletes the tiles; their destructors then do nothing. A class
    // calls this first in its destructor, while its own unlockPageSet still
    // works; a class whose lockPageSet hands out pages of its own must, as
    // by the time ekImage's destructor releases the remaining tiles only
    // ekImage::unlockPageSet (which destroys the pages) is left.
    void releaseLockedTiles();

    // Derivation operations for the concrete classes' reset(). None of them
    // touches an attribute that the caller set.
    // Colour model from the channel count (4 channels: ekRGBA when flag is 0).
    void initColorModel(int flag);
    // Reconciles colour model and channel count: an unset count follows the
    // model; a set count that does not fit records ekBadColorModel. Then the
    // page's channel count follows the order.
    void checkColorModel();
    // Default page geometry; c < 1 means all channels (1 in ekSeparate order).
    void initPageSize(int x, int y, int z, int c);
    // Minimum and maximum pixels from the data type (one element per channel,
    // at least one); clear != 0 forgets the caller's values first.
    void initMinMax(int clear);

    // Tools for the primitives; they read the fields directly (no reset).
    int outOfBound(int x, int y);
    int outOfBound(int x, int y, int z);
    // A page origin is valid inside the image widened by the border on the
    // low side, with a channel below the channel count.
    int isValidPage(int x, int y, int z, int c);
    // 1 when a page at that origin reaches beyond the image on any axis.
    int isPartialPage(int x, int y, int z, int c);
    // Whether a copy with other needs a colour-model conversion; a cfg that
    // selects channels explicitly never does. direction is not used.
    int needColorConv(ekImage* other, int direction, const ekConfig* cfg);
    // The copy taken when needColorConv is true. No image of the library
    // converts colour models: answers ekNotImplemented and moves nothing.
    ekStatus copyConverted(int x, int y, int z, int nx, int ny, int nz, ekImage* other, int ox,
                           int oy, int oz, const ekConfig* cfg, int direction);

    // Page border: extra pixels each page carries on both sides of each axis.
    struct ekPageBorder {
        int32_t x, y, z;
    };

    ekSize size;              // width, height, depth, channels
    ekType dataType;          // element type; set by the concrete class
    ekOrder order;            // channel order of the image's own storage
    ekColorModel colorModel;  // derived by initColorModel unless set
    ekImageType imageType;    // ekGenericImageType; the memory image sets 1
    ekCoordSpace coordSpace;  // space of the image's own x and y
    ekCompress compression;   // recorded only
    ekPixel fill;             // value of pixels outside the image; owned
    ekPixel minValue;         // per-channel minimum; owned
    ekPixel maxValue;         // per-channel maximum; owned
    double scaleMin;          // display scale
    double scaleMax;
    int32_t pageBytes;               // bytes of one page (clamped to 32 bits)
    ekXYZCstruct<int32_t> pageSize;  // page extent and channels per page
    ekPageBorder pageBorder;         // border on both sides of each axis
    int32_t priority;                // stored and returned only
    int32_t numInputs;               // input slots the class accepts
    int32_t refCount;                // ref / unref
    ekLockedTile* lockedTiles;       // live locked tiles of this image; not owned

private:
    friend struct ekLockedTile;  // enters and leaves the list of live tiles

    EKS_LOCAL void init();
    // Common setter protocol: refuse unless allowed; an unchanged value only
    // marks the attribute as set; otherwise store and alter.
    template <class T>
    EKS_LOCAL ekStatus setField(T& field, const T& value, int bit, int alterBits);
    // pageBytes from the page size and data type, in 64 bits, clamped.
    EKS_LOCAL void updatePageBytes();
    EKS_LOCAL ekStatus setMinMaxValue(ekPixel& pixel, int bit, double v, int ch);
};

#endif  // EKS_IMAGE_H
