// SPDX-License-Identifier: Apache-2.0
// Concrete image classes: the seed-image base, the memory image, the constant
// image and the sub-image view.
#ifndef EKS_IMAGES_H
#define EKS_IMAGES_H

#include <cstddef>
#include <cstdint>

#include "eks/core.h"
#include "eks/graph.h"
#include "eks/image.h"

// ---------------------------------------------------------------------------
// ekSIDImage: the abstract base of images that carry a resource id and may
// have a seed image, the image they were derived from and into which
// MergeChangesIntoSeed writes their contents back.
//
// Resource ids come from SidImgCounter_: each new seed image increments it and
// takes the new value, so the first id is 1; ids are never reused (the counter
// wraps modulo 2^32). Seed images are not copyable, so no two share an id.
//
// Liveness. A live seed image carries the magic word 0xA551354B, a destroyed
// one 0xDEAD051D; but a pointer to a destroyed object must not be read at all.
// Every seed image therefore also sits in a process-wide registry of live seed
// images (a hash table by address, created on first use, never destroyed), and
// asSidImage looks the pointer up there, in constant time, before it reads the
// magic word. A pointer that is not in the registry is never dereferenced.
//
// Threads. The registry and the resource-id counter are guarded by a lock:
// different threads may create, use and destroy their own seed images at the
// same time. One image (and the graph it belongs to) is used by one thread at
// a time.
//
// Seed references. When the seed is itself a seed image, this image holds one
// reference on it (ref/unref of ekImage); other images are stored without
// counting. Dropping the last reference destroys the seed (unref deletes it),
// so seeds that are counted must have been created with new. The destructor
// does not release the reference it holds: the seed stays alive.
class EKS_API ekSIDImage : public ekImage {
public:
    static uint32_t SidImgCounter_;  // last resource id handed out (written under the lock)

    // Draws the next resource id and enters the registry of live seed images.
    ekSIDImage();
    ekSIDImage(const ekSIDImage&) = delete;
    ekSIDImage& operator=(const ekSIDImage&) = delete;
    // Leaves the registry; magic word 0xDEAD051D, resource id 0.
    ~ekSIDImage() override;

    unsigned int ResourceID() const { return resourceId; }  // no reset

    // `image` as a seed image when it is a live one, else null (also for null,
    // for images of other classes and for destroyed seed images). Safe on a
    // dangling pointer: it is compared with the registry, never read.
    static ekSIDImage* asSidImage(ekImage* image);

    // Virtual operations in table order: SetSeedImage, MergeChangesIntoSeed,
    // CollapseSeed, GetSeedImage, getBounds.
protected:
    // Stores `image` as the seed: the new one, when it is a live seed image,
    // gains a reference; then the old seed, when it is a live seed image,
    // loses this image's reference, after every change to this image (the
    // release may destroy this image, as a related child of the old seed).
    // Setting the current seed again changes nothing.
    virtual void SetSeedImage(ekImage* image);
    // Writes this image's contents into its seed.
    virtual void MergeChangesIntoSeed() = 0;

public:
    // Shortens the chain this -> S1 -> S2 to this -> S2 after merging S1's
    // contents into S2. False, with nothing changed, when the seed or the
    // seed's seed is not a live seed image, or when S2 is this image. The only
    // reference accounting is the exchange done by SetSeedImage: S2 gains one
    // reference, then S1 loses this image's (which may destroy S1, and this
    // image with it when it is a related child of S1; neither is touched
    // after that).
    virtual bool CollapseSeed();
    // The seed, as stored (may be null). For a seed that is not a seed image
    // the pointer is only as good as its owner keeps the image alive.
    virtual ekImage* GetSeedImage() { return seedImage; }
    // (0, 0, 0, x size, y size, z size) from the fields as they stand (no reset).
    virtual ekTile getBounds();

protected:
    // 1 when the seed is known to be alive: a live seed image, or one of this
    // image's inputs (inputs leave the graph when they are destroyed).
    int seedIsAlive();

private:
    uint32_t magic;       // 0xA551354B while alive
    uint32_t resourceId;  // from SidImgCounter_; 0 once destroyed
    ekImage* seedImage;   // not owned; referenced when it is a seed image
};

// ---------------------------------------------------------------------------
// ekMemoryImg: an image whose pixels live in one contiguous buffer.
//
// Buffer layout: the whole image, x*y*z*c elements of the data type, in the
// image's own coordinate space and order. Element (x, y, z, channel k) lies at
//   ekInterleaved  k + nc*(x + nx*(y + ny*z))
//   ekSequential   x + nx*(k + nc*(y + ny*z))
//   ekSeparate     x + nx*(y + ny*(z + nz*k))
// (ekBit: bit index, eight to a byte, most significant bit first, no padding).
//
// Ownership. No buffer (null pointer), owned (allocated by a reset; allocSize
// bytes) or borrowed (handed over by the caller, who keeps it alive, at least
// ekDataSize(type, x*y*z*c) bytes large, and releases it). A borrowed buffer is
// never resized or freed. The image remembers its byte size as the layout
// described it when it was handed over (when that layout was incomplete, as the
// first complete layout at a reset describes it): a later layout that needs
// more bytes records ekNoMemory, so that nothing reads or writes past the
// buffer; a new buffer, or a smaller layout and clearStatus, recover. An owned
// buffer is reallocated at a reset only when its byte size changes (new memory
// is uninitialised, nothing is carried over); an unchanged size keeps it and
// its contents. Allocation never throws.
//
// Reset statuses, in the order of their steps (a later one overwrites an
// earlier one; a status stays until clearStatus): ekBadInput (the input is not
// ekOkay), ekNoMemory (no buffer: the allocation failed, there was nothing to
// allocate, or the element count or byte size does not fit a signed 32-bit
// integer, in which case nothing is allocated, also for a borrowed buffer),
// ekBadAttribute (data type or order not one of the nine types / three
// orders, or any extent or the channel count below 1). Data operations return
// a status other than ekOkay unchanged and touch no buffer.
//
// Caller layouts (ekConfig): an ekAnyType or 0 type and an ekAnyOrder or 0
// order mean the image's own; any other type or order outside its table, a
// negative channel count, a null buffer for a non-empty request and buffer box,
// or a buffer box whose element strides do not fit 32 bits is refused with
// ekBadAttribute and nothing moves (reads, writes, fills and copies); a channel
// count of 0 means the image's count; a channel list is indexed by the buffer
// channel alone (entry k for buffer channel k; it needs nchans entries and is
// never read past them), and the channel offset applies only without a list
// (buffer channel k is image channel offset + k). Buffer channels that select
// no image channel are left untouched inside the image; outside it a read gives
// them the last fill value, the fill pixel being widened to the buffer's
// channel count. An empty request box (any extent below 1) moves nothing and
// answers ekOkay. Boxes are mapped between spaces and clipped in 64 bits, so
// a box anywhere up to the 32-bit limits moves exactly the pixels it covers.
// With ekSaturate in the reserved word (core.h), every narrowing conversion
// of a read (its outside fill included), write, fill value or copy rounds
// and clamps instead of casting.
//
// Memory images are not copyable.
class EKS_API ekMemoryImg : public ekSIDImage {
public:
    static ekClassList classList;  // "ekMemoryImg", parent ekImage::classList

    // Size (0, 0, 1, 0), ekAnyType, ekAnyOrder: ekBadAttribute until set up.
    ekMemoryImg();
    // Borrows `data`; the caller keeps it alive and large enough.
    ekMemoryImg(void* data, const ekSize& size, ekType type, ekOrder order);
    // Borrows `data` read-only: the image never writes it. Writes, fills and
    // copies into the image answer ekNotAllowed (reads and copies out of it
    // work as usual), and so does the copy from an input; the page a lock
    // hands out and getDataPtr point into the caller's buffer all the same
    // and must not be written through. setDataPtr makes the image writable.
    ekMemoryImg(const void* data, const ekSize& size, ekType type, ekOrder order);
    // No buffer yet (the first reset allocates one); keeps a literal null
    // from being ambiguous between the two borrowing constructors.
    ekMemoryImg(std::nullptr_t, const ekSize& size, ekType type, ekOrder order)
        : ekMemoryImg(static_cast<void*>(nullptr), size, type, order) {}
    // The buffer is allocated by the first reset.
    ekMemoryImg(const ekSize& size, ekType type, ekOrder order);
    // Materialises `input` (which also becomes the seed image): its attributes
    // at every reset, its pixels once now (autoSync 0) or at every reset
    // (autoSync non-zero). A null input gives an empty image and ekBadInput.
    ekMemoryImg(ekImage* input, int autoSync);
    ekMemoryImg(const ekMemoryImg&) = delete;
    ekMemoryImg& operator=(const ekMemoryImg&) = delete;
    // Releases the page object and an owned buffer; a borrowed one stays.
    ~ekMemoryImg() override;

    int derivesFrom(ekClassList* c) override;
    char* getClassName(int n) override;
    ekClassList* getClassId() override;

    // Brings the image up to date, then the buffer (null when there is none).
    void* getDataPtr();
    // Releases an owned buffer and borrows `data` from now on (null: the next
    // reset allocates), with the byte size the current layout describes.
    // Alters the image. The buffer the image owns changes nothing.
    void setDataPtr(void* data);
    // Tells the consumers that the pixels changed; the image itself stays clean.
    void markDirty();
    // Turning auto-sync on alters the image, so the next reset copies the
    // input; turning it off alters nothing.
    void setAutoSync(int on);
    int getAutoSync() const { return autoSync; }
    // Alters the image; with auto-sync off and at least one consumer, copies
    // the input at once (with auto-sync on, the reset that follows copies).
    void sync();

    // Tile primitives: see the class comment for the caller's layout.
    // A read fills the part of the box outside the image with the fill value
    // of the image channel each buffer channel selects.
    ekStatus getSubTile3D(int x, int y, int z, int nx, int ny, int nz, void* data, int bx, int by,
                          int bz, int bnx, int bny, int bnz, const ekConfig* cfg) override;
    // A write drops the part of the box outside the image.
    ekStatus setSubTile3D(int x, int y, int z, int nx, int ny, int nz, void* data, int bx, int by,
                          int bz, int bnx, int bny, int bnz, const ekConfig* cfg) override;
    // Copies straight between this buffer and other; coordinates in this
    // image's space, the configuration on other's side. Reading other
    // (direction != 0) covers the box clipped to this image; writing other
    // also fills the part of other's box that this image does not cover with
    // this image's fill value (zeros when the fill does not have one element
    // per channel). Returns the status of the last inner call that ran
    // (ekOkay when nothing had to move), ekBadInput for a null other, and
    // ekNotImplemented between different colour models.
    ekStatus copyTileCfg(int x, int y, int z, int nx, int ny, int nz, ekImage* other, int ox,
                         int oy, int oz, const ekConfig* cfg, int direction) override;
    // Sets the box, less the keep-out box, to one pixel value given in cfg's
    // layout (null value: zeros). Both boxes are in cfg's coordinate space when
    // it names one. The value holds one element per buffer channel; one of
    // another type than the image's is converted from as many elements (cfg's
    // channel count, 0 meaning the image's). Only the selected channels are
    // written, except that a value with fewer elements than the image, selected
    // from channel 0 without a list, is widened over every channel by repeating
    // its last element. The value is never read past its elements, nor the
    // channel list past its nchans entries.
    ekStatus fillTile3D(int x, int y, int z, int nx, int ny, int nz, void* value,
                        const ekConfig* cfg, const ekTile* keepOut) override;
    // Every valid request gets the same page, at position (0, 0, 0, 0), which
    // points straight into the buffer; it lives until the next reset or the
    // destructor. ekNoMemory when the page object cannot be had.
    ekStatus lockPageSet(ekLockRequest* requests, int mode, int count) override;
    void unlockPageSet(ekLockRequest* requests, int count) override;  // nothing to undo

protected:
    void reset() override;
    char* getDefaultDescription() override;  // "Memory"

    // The seed reads this image's whole extent into its own box at the origin;
    // only into a seed known to be alive. Statuses are not reported.
    void MergeChangesIntoSeed() override;

    void init(const ekSize& size, ekType type, ekOrder order);
    // Copies the whole input into the buffer, converted to this image's
    // layout. Does nothing while the status is not ekOkay or without input.
    void syncData();

private:
    // What a data operation answers before it touches the buffer: the status
    // after bringing the image up to date, or ekNotAllowed while a reset of
    // this image is still running and the query came back to it (through a
    // cycle of images): its size may then be new and its buffer still old.
    EKS_LOCAL ekStatus dataStatus();
    EKS_LOCAL void takeFromInput();
    EKS_LOCAL void allocateBuffer(bool sizeValid);
    EKS_LOCAL void borrow(void* data);

    void* dataPtr;          // the pixel buffer: owned when allocSize != 0, else borrowed
    ekPage* page;           // the one page handed out by lockPageSet; owned
    int32_t allocSize;      // bytes this image allocated; 0 = not owned
    int32_t autoSync;       // copy the input at every successful reset
    ekImage* inputImg;      // input 0 as found at the last reset; not owned
    int32_t borrowedBytes;  // size of a borrowed buffer; -1 while not known
    int32_t readOnly;       // the borrowed buffer must not be written
};

// ---------------------------------------------------------------------------
// ekConstImg: an image every pixel of which has one value, its fill pixel. It
// stores no pixels and has no inputs. The value's data type and channel count
// become the image's at the reset that follows a change of the value (setFill
// or setFillValue); size, coordinate space and colour model may be set, data
// type and order follow the value (ekNotAllowed). Pages are 128 x 128 x 1.
//
// Reads deliver the value for every requested pixel, never clipped to the
// nominal size, in the caller's layout; buffer parts outside the request stay
// as they were. A channel count of 0 in the caller's layout means the image's
// count, as everywhere else in the library. 8-bit values of one or four
// channels, read in the image's own layout into the request's slice of a
// single-slice buffer, are written with memset and 64-bit stores; every other
// read goes through the transfer engine. An empty request box moves nothing
// and answers ekOkay.
//
// Writes are refused with ekNotAllowed (nothing is written, no reset runs).
// As the source of a copy it fills the other image's box with the value, one
// element per channel of the other's layout (the value's last element repeated
// when that layout has more channels than the value).
//
// Constant images are not copyable.
class EKS_API ekConstImg : public ekImage {
public:
    static ekClassList classList;  // "ekConstImg", parent ekImage::classList

    // One ekUChar channel of value 0.
    ekConstImg();
    explicit ekConstImg(const ekPixel& value);
    ekConstImg(const ekConstImg&) = delete;
    ekConstImg& operator=(const ekConstImg&) = delete;
    ~ekConstImg() override;

    int derivesFrom(ekClassList* c) override;
    char* getClassName(int n) override;
    ekClassList* getClassId() override;

    ekStatus getSubTile3D(int x, int y, int z, int nx, int ny, int nz, void* data, int bx, int by,
                          int bz, int bnx, int bny, int bnz, const ekConfig* cfg) override;
    // Always ekNotAllowed.
    ekStatus setSubTile3D(int x, int y, int z, int nx, int ny, int nz, void* data, int bx, int by,
                          int bz, int bnx, int bny, int bnz, const ekConfig* cfg) override;
    // direction 0: other's fillTile3D over (ox, oy, oz, nx, ny, nz) with the
    // value, cfg selecting other's channels; any other direction ekNotAllowed.
    ekStatus copyTileCfg(int x, int y, int z, int nx, int ny, int nz, ekImage* other, int ox,
                         int oy, int oz, const ekConfig* cfg, int direction) override;

protected:
    void reset() override;
    char* getDefaultDescription() override;  // "Constant"

private:
    EKS_LOCAL void init(const ekPixel& value);
    void purgeFillPixels() {}  // nothing is cached

    void* fillPixels;  // cache of prepared fill pixels; owned, never filled
};

// ---------------------------------------------------------------------------
// ekSubImg: a view of its input 0 (the parent): a window that starts at
// (start x, y, z) in the parent, measured in the view's coordinate space, and
// shows parent channels from a start channel on, or through its own channel
// list. It stores no pixels: reads and writes are handed to the parent with
// shifted boxes and a composed layout. Attributes the caller does not set
// (size, data type, order, coordinate space, channel count, colour model,
// fill, minimum, maximum) follow the parent at every reset; an unset extent is
// the parent's whole extent, whatever the start. The view's fill, minimum and
// maximum are those of the parent channels it shows.
//
// Own configuration (setConfig, ekConfigBit): its coordinate space, data type,
// order, channel count and colour model, where above 0 (ekAnyType and
// ekAnyOrder count as not given), are applied through the setters at each
// reset and then no longer follow the parent. Its channel list (copied; as
// many entries as its channel count) names the parent channel of each view
// channel (negative: none); view channels past the list show nothing. Its
// channel offset is taken as the start channel only by the constructors; later
// the start channel is changed with setStart.
//
// Caller layouts. A null configuration means the view's own layout (its data
// type, order, channel count and coordinate space). Otherwise type, order,
// channel count and coordinate space of 0 (or ekAnyType / ekAnyOrder) mean the
// view's own. Buffer channel k shows view channel list[k] (the caller's list
// is indexed by the buffer channel alone) or offset + k; view channel v is
// parent channel start channel + v, or entry v of the view's list. Buffer
// channels that select no view channel, or a view channel with no parent
// channel, are left untouched by a read and ignored by a write.
//
// Boxes in the caller's coordinate space are mapped into the view's, clipped
// there (reads), shifted by the start and handed to the parent. A read fills
// the part of the request outside the view with the view's fill value (the
// rest of the buffer stays as it was); the part inside the view but outside
// the parent gets what the parent's read gives there. A write is not clipped
// to the view: what lies outside the view but inside the parent is written to
// the parent. An empty request box moves nothing and answers ekOkay. Boxes
// go through the window in 64 bits; what lies beyond the parent's 32-bit
// range after the shift is outside it: a read there gets what the parent
// gives outside itself, a write lands nowhere.
//
// Statuses: ekBadInput without a parent, when the parent is not ekOkay, or
// once the parent was destroyed (the link to it is cut); ekNoMemory when the
// view's own channel list could not be copied. A copy with copyTileCfg answers
// ekNoMemory when the view's list names one parent channel twice.
//
// Views are not copyable; a view owns its copy of its channel list.
class EKS_API ekSubImg : public ekImage {
public:
    static ekClassList classList;  // "ekSubImg", parent ekImage::classList

    // Each constructor sets the extents it is given (they stop following the
    // parent). A configuration's channel offset is the start channel (0 when
    // it has a channel list); without one the start channel is c (or 0).
    ekSubImg(ekImage* parent, int x, int y, int z, int c, int nx, int ny, int nz, int nc,
             ekConfig* config);
    ekSubImg(ekImage* parent, int x, int y, int z, int nx, int ny, int nz, ekConfig* config);
    ekSubImg(ekImage* parent, int x, int y, int nx, int ny, ekConfig* config);
    ekSubImg(ekImage* parent, ekConfig* config);
    ekSubImg(const ekSubImg&) = delete;
    ekSubImg& operator=(const ekSubImg&) = delete;
    ~ekSubImg() override;

    int derivesFrom(ekClassList* c) override;
    char* getClassName(int n) override;
    ekClassList* getClassId() override;

    void getStart(int& x, int& y, int& z);
    void getStart(int& x, int& y, int& z, int& c);
    // The first form also sets the start channel to 0. Both alter the view.
    void setStart(int x, int y, int z);
    void setStart(int x, int y, int z, int c);
    // Copies config (and its list) as the view's own configuration and alters
    // the view. Null releases the list and stops applying the configuration
    // from the next reset on (it does not alter the view by itself).
    void setConfig(ekConfig* config);

    ekStatus getSubTile3D(int x, int y, int z, int nx, int ny, int nz, void* data, int bx, int by,
                          int bz, int bnx, int bny, int bnz, const ekConfig* cfg) override;
    ekStatus setSubTile3D(int x, int y, int z, int nx, int ny, int nz, void* data, int bx, int by,
                          int bz, int bnx, int bny, int bnz, const ekConfig* cfg) override;
    // The parent's copyTileCfg over the box shifted by the start (the box is
    // in the view's own space, or in cfg's when it names one; not clipped),
    // with cfg's selection of other's channels carried over to the parent
    // channels the view shows. A box that, shifted and mapped into the
    // parent's space, starts beyond the 32-bit range moves nothing.
    ekStatus copyTileCfg(int x, int y, int z, int nx, int ny, int nz, ekImage* other, int ox,
                         int oy, int oz, const ekConfig* cfg, int direction) override;
    // The parent's hasPages; 0 without a parent.
    int hasPages() override;

protected:
    void reset() override;
    char* getDefaultDescription() override;  // "Sub Image"

private:
    struct Request;  // a caller's request translated for the parent

    EKS_LOCAL void init(ekImage* parent, int x, int y, int z, int c, ekConfig* config);
    EKS_LOCAL void releaseList();
    EKS_LOCAL void takeFromParent(ekImage* parent);
    EKS_LOCAL void deriveValues(ekImage* parent);
    // Parent channel that view channel v shows, or -1.
    EKS_LOCAL int parentChannel(int v, int parentChannels) const;
    EKS_LOCAL ekStatus translate(const ekConfig* cfg, ekTile r, ekTile b, bool clip, Request& q);

    int32_t startX, startY, startZ;  // origin in the parent, in the view's space
    int32_t startC;                  // parent channel of view channel 0 without a list
    ekConfig config;                 // own configuration; chanList is ownedList or null
    int* ownedList;                  // the copy of the caller's list; owned
    int32_t listLength;              // entries of ownedList
    bool listLost;                   // the list could not be copied: ekNoMemory
    // The parent as the last reset found it; valid while the status is
    // ekOkay (any change of the parent alters the view first).
    ekImage* parentImg;
    int32_t parentChans;
    ekCoordSpace parentSpace;
};

#endif  // EKS_IMAGES_H
