// SPDX-License-Identifier: Apache-2.0
// ekTiffPageMemory: the buffers of a page cache, all of one size, carved from
// large mappings ("slabs") that the kernel may back with huge pages.
//
// Why: a page buffer of a few hundred kilobytes from malloc is a mapping of
// its own, and every 4 KiB of it faults on first touch. Filling a 64 MiB
// cache that way cost as much time as decoding its pages did, and the faults
// of several decoding threads wait on each other. A slab is aligned to
// 2 MiB and advised for huge pages, so one fault maps 2 MiB where available;
// without huge pages it still saves the mapping and unmapping per page.
//
// Slabs grow: the first holds one buffer, each next one twice as many, up to
// a full slab of about 4 MiB, so that an image that uses a few pages maps
// only a few pages' worth (a huge page is mapped whole on its first touch);
// only slabs of 2 MiB or more are aligned and advised for huge pages.
//
// Memory given back is kept for reuse up to kKeepBytes; beyond that a slab
// left with no buffer in use is unmapped, and a free buffer in a slab still
// in use is returned to the system (its contents are then lost, which is
// fine: a taken buffer's contents are undefined). Not thread-safe: the cache
// calls it with its mutex held.
#ifndef EKS_TIFF_PAGE_MEMORY_H
#define EKS_TIFF_PAGE_MEMORY_H

#include <cstdint>

class ekTiffPageMemory {
public:
    static constexpr int64_t kKeepBytes = int64_t(8) << 20;

    ekTiffPageMemory() = default;
    ekTiffPageMemory(const ekTiffPageMemory&) = delete;
    ekTiffPageMemory& operator=(const ekTiffPageMemory&) = delete;
    // Unmaps every slab: every buffer must have been given back.
    ~ekTiffPageMemory();

    // The size of every buffer. Changing it drops the free memory; it may
    // only change while no buffer is out.
    void setBufferBytes(int64_t bytes);
    // A buffer of the set size, aligned to 64 bytes, contents undefined; null
    // when no memory can be had.
    void* take();
    // Gives back a buffer that take() returned.
    void give(void* buffer);
    // Unmaps the slabs with no buffer in use.
    void dropFree();

    // A slab can also be mapped without the caller's lock, since touching it
    // (its record and headers) zeroes megabytes that other threads need not
    // wait for: under the lock take a plan, map the slab from it without the
    // lock, and adopt the slab under the lock again.
    struct Plan {
        int64_t bufferBytes, stride, slabBytes;
        int perSlab;
    };
    bool hasFree() const { return freeList != nullptr; }
    Plan plan() const;
    // A slab with its record and headers written, or null when no memory can
    // be had.
    static void* mapSlab(const Plan& plan);
    // Puts a mapped slab's buffers on the free list; unmaps it when the size
    // has changed since the plan.
    void adopt(void* slab, const Plan& plan);

private:
    struct Slab;
    struct Header;  // precedes each buffer: its slab, and the free-list links

    static void checkSizes();
    void unlinkFree(Header* h);
    void unmapSlab(Slab* s);

    int64_t bufferBytes = 0;
    int64_t stride = 0;  // header and buffer, rounded up to 64 bytes
    int64_t slabBytes = 0;  // of a full slab
    int perSlab = 0;        // buffers in a full slab
    int slabCount = 0;      // slabs mapped now
    int64_t freeBytes = 0;  // in buffers on the free list still backed by memory
    Header* freeList = nullptr;
    Slab* slabs = nullptr;
};

#endif  // EKS_TIFF_PAGE_MEMORY_H
