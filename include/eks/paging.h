// Tile iteration and page locking.
#ifndef EKS_PAGING_H
#define EKS_PAGING_H

#include <cstdint>

#include "eks/core.h"
#include "eks/image.h"

// ---------------------------------------------------------------------------
// Handle of one page of an image: its position (x, y, z: the origin of the
// page including its border; c: its first channel) and a pointer to its pixel
// data. The page does not own the data. The magic word tells a live handle
// (0xFACE1234) from a destroyed one (0xDEADBEEF); getData() answers null for
// a handle that is not valid.
class EKS_API ekPage : public ekXYZCstruct<int> {
public:
    static constexpr uint32_t kLiveMagic = 0xFACE1234u;
    static constexpr uint32_t kDeadMagic = 0xDEADBEEFu;

    // Position (-1, -1, -1, -1), no data.
    ekPage();
    ekPage(int x, int y, int z, int c, void* data);
    // Copies position, magic word and data pointer (the data stays shared).
    ekPage(const ekPage& p);
    ekPage& operator=(const ekPage& p);
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

// One entry of a page-set lock: the requested position, and what lockPageSet
// wrote back for it.
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

#endif  // EKS_PAGING_H
