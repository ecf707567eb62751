// SPDX-License-Identifier: Apache-2.0
// Tile iteration and page locking.
//
// An image is divided into pages: boxes of a fixed size in x, y, z and
// channels on a grid anchored at the origin, each carrying an optional border
// of extra pixels on the three spatial axes. ekTileIter enumerates the pages
// a tile touches; ekImage::lockTile3D uses it to lock them all at once.
#ifndef EKS_PAGING_H
#define EKS_PAGING_H

#include <cstdint>

#include "eks/core.h"
#include "eks/image.h"

// ---------------------------------------------------------------------------
// Enumerates the origins of the pages that cover a tile: x fastest, then y,
// then z, then channel blocks. A plain value object: it allocates nothing and
// refers to no image, but keeps a pointer to the channel list of the
// configuration it was given, which must stay alive while it is used.
//
// The current page after a successful more() is the box (x, y, z) -
// (x + nx, y + ny, z + nz) in channels c .. c + pageC - 1; nx, ny, nz are the
// page size, borders included. Its interior starts at (x + border x, ...) and
// is (page size - 2 x border) large on each axis; interiors fall on multiples
// of that step from the image origin (from the tile origin when unaligned).
//
// Usage: construct (or setTile / setPageSize / setPageBorder), optionally
// getCount(), then `while (it.more())` read x, y, z and c. Any setter makes
// the next more() or getCount() prepare afresh and restart from the first
// page. The tile's own end is kept apart from the end of the page origins, so
// the setters may be called in any order, before or after a preparation.
//
// No pages at all (getCount() 0, more() 0) for: an empty tile; an empty
// channel range (a configuration without a list and a channel count of 0, or
// a list without a non-negative entry); a page size not larger than twice the
// border on some axis; a negative border; fewer than 1 channel per page; a
// page count or a page position that does not fit 32 bits. After more() has answered 0 it keeps
// answering 0 until a setter is called.
class EKS_API ekTileIter : public ekTile {
public:
    // setPageSize, then setTile, then setPageBorder(0, 0, 0, 1).
    ekTileIter(const ekTile& tile, int pageX, int pageY, int pageZ, int pageC, int nc,
               const ekConfig* cfg, int unaligned);
    // setTile, then setPageBorder(0, 0, 0, 1); the page size starts at 0 (no
    // pages) until setPageSize is called.
    ekTileIter(const ekTile& tile, int nc, const ekConfig* cfg, int unaligned);
    ekTileIter(const ekTileIter& it) = default;
    // Copies every field; the channel list pointer is shared.
    ekTileIter& operator=(const ekTileIter& it) = default;

    // Page size, borders included (nx, ny, nz of the current-page box), and
    // channels per page.
    void setPageSize(int pageX, int pageY, int pageZ, int pageC);
    // Border on each spatial axis; borderPages 1 also visits the pages that
    // the tile reaches only with their leading border, 0 only the pages whose
    // interior it reaches.
    void setPageBorder(int bx, int by, int bz, int borderPages);
    // The tile in image coordinates and the channels to cover: with cfg's
    // channel list the page-aligned blocks from its lowest to its highest
    // non-negative entry (blocks without a listed channel are skipped);
    // without a list cfg's channel offset .. offset + channel count - 1;
    // without cfg all nc channels. Unaligned 1 lays the pages from the tile's
    // own origin and the channel blocks from its first channel.
    void setTile(const ekTile& tile, int nc, const ekConfig* cfg, int unaligned);

    // Advances to the next page: 1 while there is one, 0 at the end.
    int more();
    // Number of pages; exact unless a channel list leaves a channel block
    // between its lowest and highest entry without a listed channel (such
    // blocks are counted but skipped). Leaves the iterator before the first
    // page when it had to prepare.
    int getCount();

    int32_t c = 0;  // first channel of the current channel block

private:
    // Prepares from the settings; 1 when at least one page will be visited.
    EKS_LOCAL int reset();
    // Advances c to the next channel block that holds a selected channel.
    EKS_LOCAL int moreChans();

    int32_t firstX = 0, firstY = 0, firstZ = 0;  // origin of the first page on each axis
    int32_t startC = 0;                          // first channel of the first channel block
    int32_t endX = 0, endY = 0, endZ = 0;        // exclusive end of the page origins
    int32_t endC = 0;                            // exclusive end of the channel range
    int32_t pageC = 0;                           // channels per page
    int32_t listCount = 0;                       // entries in chanList
    const int* chanList = nullptr;               // the configuration's list; not owned
    int32_t stepX = 0, stepY = 0, stepZ = 0;     // distance between neighbouring origins
    int32_t borderX = 0, borderY = 0, borderZ = 0;
    int32_t tileX = 0, tileY = 0, tileZ = 0;           // origin of the tile
    int32_t tileEndX = 0, tileEndY = 0, tileEndZ = 0;  // exclusive end of the tile
    int32_t tileStartC = 0, tileEndC = 0;              // channel range as setTile gave it
    int32_t borderPages = 1;  // 1: also pages reached only by their leading border
    int32_t unaligned = 0;    // 1: pages laid from the tile's origin
    int32_t pending = 1;      // the settings changed since the last preparation
    int32_t finished = 0;     // more() has answered 0 since the last preparation
    int32_t count = 0;        // page count of the last preparation
};

// ---------------------------------------------------------------------------
// Handle of one page of an image: its position (x, y, z: the origin of the
// page including its border; c: its first channel) and a pointer to its pixel
// data. The page does not own the data. The magic word tells a live handle
// (0xFACE1234) from a destroyed one (0xDEADBEEF); getData() answers null for
// a handle that is not valid.
//
// Pages are neither copyable nor assignable, through this class or any class
// derived from it: a copy would stay valid after its image released the page
// (its data pointer dangling), and an assignment between two pages that own
// their buffers would release one buffer twice. Hand pages on by pointer.
class EKS_API ekPage : public ekXYZCstruct<int> {
public:
    static constexpr uint32_t kLiveMagic = 0xFACE1234u;
    static constexpr uint32_t kDeadMagic = 0xDEADBEEFu;

    // Position (-1, -1, -1, -1), no data.
    ekPage();
    ekPage(int x, int y, int z, int c, void* data);
    ekPage(const ekPage&) = delete;
    ekPage& operator=(const ekPage&) = delete;
    // Marks the handle dead: position, data pointer and magic word all become
    // 0xDEADBEEF. The data is not released.
    virtual ~ekPage();

    bool Valid() const { return magic == kLiveMagic; }
    void* getData() const { return Valid() ? data : nullptr; }
    operator void*() const { return getData(); }
    // 1 when the handle is valid and sits at (x, y, z, c), else 0.
    int matches(int x, int y, int z, int c) const;
    void getPos(int& x, int& y, int& z, int& c) const;

    uint32_t magic;  // kLiveMagic while alive
    void* data;      // the page's pixels; not owned
};

// A page that owns its buffer: `size` bytes, uninitialised, allocated by the
// constructor and released by the destructor. When the buffer cannot be had
// (or size < 1) data is null. Not copyable, like every page.
class EKS_API ekImagePage : public ekPage {
public:
    ekImagePage(int x, int y, int z, int c, int size);
    ~ekImagePage() override;
};

// One entry of a page-set lock: the requested position, and what lockPageSet
// wrote back for it. Owns nothing; copies all six fields.
struct EKS_API ekLockRequest {
    int32_t x, y, z, c;  // position of the requested page
    ekStatus status;     // outcome for this request
    ekPage* page;        // the locked page; null when there is none

    // Stores the position; status and page are left as they are.
    void init(int x_, int y_, int z_, int c_) {
        x = x_;
        y = y_;
        z = z_;
        c = c_;
    }
};

// Every page a tile touches, locked at once by ekImage::lockTile3D (only
// ekImage constructs one). The requests are in the iterator's order: x
// fastest, then y, z, channel block; a request outside the image has no page.
// Deleting the locked tile unlocks its pages (also those that a page-set lock
// failing part-way did fill) and releases the request array. An image that is
// destroyed before its locked tiles unlocks their pages itself and leaves the
// tiles empty (image null, no requests, count 0, the status as it was): the
// caller still deletes each tile, and nothing then touches the image. Not
// copyable.
struct EKS_API ekLockedTile {
    ekImage* image;           // the image whose pages are locked
    ekLockRequest* requests;  // one per page the tile touches; owned
    int32_t count;            // requests filled in
    ekStatus status;          // result of the page-set lock

    ekStatus getStatus() const { return status; }
    ~ekLockedTile();
    ekLockedTile(const ekLockedTile&) = delete;
    ekLockedTile& operator=(const ekLockedTile&) = delete;

private:
    friend class ekImage;
    // Fills one request per page of iter and locks them with mode, less its
    // bits 0x400 and 0x800. Without memory for the requests: status
    // ekNoMemory, no request. When wantPages is set and iter has no page (its
    // count does not fit 32 bits, or its geometry lays none): ekBadInput, no
    // request, nothing locked.
    EKS_LOCAL ekLockedTile(ekImage* image, ekTileIter& iter, int mode, bool wantPages);
    // True when some request holds a page.
    EKS_LOCAL bool holdsPages() const;
    // Unlocks the pages through the image, leaves the image's list of live
    // tiles and releases the requests; the tile is then empty. Nothing for a
    // tile that is empty already.
    EKS_LOCAL void release();

    // Neighbours in the image's list of live locked tiles.
    ekLockedTile* prevTile = nullptr;
    ekLockedTile* nextTile = nullptr;
};

// One page position (x, y, z, c) and how much of that page lies inside the
// image, borders included: nx = min(x size + border x - x, page x), likewise
// ny, nz, and nc = min(channel count - c, page c). Read through the image's
// getters, which bring it up to date first; a null image gives extents of 0.
// Nothing in the library constructs one; it is offered to callers.
struct EKS_API ekPgCB {
    int32_t x, y, z, c;
    int32_t nx, ny, nz, nc;

    ekPgCB(ekImage* image, int x, int y, int z, int c);
};

#endif  // EKS_PAGING_H
