// SPDX-License-Identifier: Apache-2.0
// ekTiffPageMemory: a slab holds its own record in its first 64 bytes, then
// buffers, each preceded by a 64-byte header, so that a buffer given back
// finds its slab without a lookup.
#include "tiff/page_memory.h"

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <new>

namespace {

constexpr int64_t kAlign = 64;
constexpr int64_t kHugePage = int64_t(2) << 20;
constexpr int64_t kSmallPage = 4096;
constexpr int64_t kSlabTarget = int64_t(4) << 20;  // the size of a slab of small buffers
constexpr int64_t kMaxBuffer = int64_t(1) << 46;

int64_t roundUp(int64_t n, int64_t to) { return (n + to - 1) / to * to; }

}  // namespace

struct ekTiffPageMemory::Slab {
    int64_t bytes;
    int count;  // buffers in the slab
    int out;    // buffers in use
    Slab* prev;
    Slab* next;
};

struct ekTiffPageMemory::Header {
    Slab* slab;
    Header* prev;  // the free list, while the buffer is free
    Header* next;
    bool backed;  // free, and its memory may still be resident
};

void ekTiffPageMemory::checkSizes() {
    static_assert(sizeof(Slab) <= kAlign && sizeof(Header) <= kAlign,
                  "a slab's record and a buffer's header take 64 bytes each");
}


ekTiffPageMemory::~ekTiffPageMemory() {
    for (Slab* s = slabs; s != nullptr;) {
        Slab* const next = s->next;
        munmap(s, size_t(s->bytes));
        s = next;
    }
}

void ekTiffPageMemory::setBufferBytes(int64_t bytes) {
    if (bytes < 1) bytes = 1;
    if (bytes == bufferBytes) return;
    dropFree();
    bufferBytes = bytes;
    if (bytes > kMaxBuffer) {  // no such buffer can be had
        perSlab = 0;
        return;
    }
    stride = roundUp(bytes, kAlign) + kAlign;
    if (stride + kAlign > kSlabTarget) {
        slabBytes = roundUp(stride + kAlign, kHugePage);
        perSlab = 1;
    } else {
        slabBytes = kSlabTarget;
        perSlab = int((kSlabTarget - kAlign) / stride);
    }
}

ekTiffPageMemory::Plan ekTiffPageMemory::plan() const {
    const int n = slabCount < 30 && (int64_t(1) << slabCount) < perSlab ? 1 << slabCount : perSlab;
    const int64_t bytes = n == perSlab ? slabBytes : roundUp(kAlign + n * stride, kSmallPage);
    return Plan{bufferBytes, stride, bytes, n};
}

void* ekTiffPageMemory::take() {
    if (freeList == nullptr) {
        void* const slab = mapSlab(plan());
        if (slab == nullptr) return nullptr;
        adopt(slab, plan());
    }
    Header* h = freeList;
    unlinkFree(h);
    ++h->slab->out;
    return reinterpret_cast<char*>(h) + kAlign;
}

void ekTiffPageMemory::give(void* buffer) {
    if (buffer == nullptr) return;
    char* const b = static_cast<char*>(buffer);
    Header* h = reinterpret_cast<Header*>(b - kAlign);
    Slab* s = h->slab;
    --s->out;
    h->prev = nullptr;
    h->next = freeList;
    if (freeList != nullptr) freeList->prev = h;
    freeList = h;
    h->backed = true;
    freeBytes += bufferBytes;
    if (freeBytes <= kKeepBytes) return;
    if (s->out == 0) {
        unmapSlab(s);
        return;
    }
    // The whole small pages inside the buffer go back to the system; the
    // header's page stays, and so does the next buffer's.
    const uintptr_t first = uintptr_t(roundUp(int64_t(uintptr_t(b)), kSmallPage));
    const uintptr_t last = (uintptr_t(b) + uintptr_t(bufferBytes)) / kSmallPage * kSmallPage;
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
    h->backed = false;
    freeBytes -= bufferBytes;
}

void ekTiffPageMemory::dropFree() {
    for (Slab* s = slabs; s != nullptr;) {
        Slab* const next = s->next;
        if (s->out == 0) unmapSlab(s);
        s = next;
    }
}

// Maps a slab, aligned to 2 MiB when it is that large (so that the kernel
// can back it with huge pages), and writes its record and the buffers'
// headers.
void* ekTiffPageMemory::mapSlab(const Plan& plan) {
    if (plan.perSlab < 1) return nullptr;
    const bool huge = plan.slabBytes >= kHugePage;
    const size_t mapped = size_t(plan.slabBytes + (huge ? kHugePage : 0));
    void* m = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) return nullptr;
    char* const start = static_cast<char*>(m);
    char* base = start;
    if (huge) {
        base += roundUp(int64_t(uintptr_t(start)), kHugePage) - int64_t(uintptr_t(start));
        if (base > start) munmap(start, size_t(base - start));
        char* const end = base + plan.slabBytes;
        if (end < start + mapped) munmap(end, size_t(start + mapped - end));
#ifdef MADV_HUGEPAGE
        madvise(base, size_t(plan.slabBytes), MADV_HUGEPAGE);  // a hint: no huge pages is fine
#endif
    }
    Slab* const s = new (base) Slab{plan.slabBytes, plan.perSlab, 0, nullptr, nullptr};
    for (int i = 0; i < plan.perSlab; ++i)
        new (base + kAlign + int64_t(i) * plan.stride) Header{s, nullptr, nullptr, false};
    return base;
}

void ekTiffPageMemory::adopt(void* slab, const Plan& plan) {
    char* const base = static_cast<char*>(slab);
    Slab* const s = reinterpret_cast<Slab*>(base);
    if (plan.bufferBytes != bufferBytes) {
        munmap(base, size_t(s->bytes));
        return;
    }
    s->next = slabs;
    if (slabs != nullptr) slabs->prev = s;
    slabs = s;
    ++slabCount;
    // Pushed last first, so that buffers are taken in address order.
    for (int i = s->count - 1; i >= 0; --i) {
        Header* const h = reinterpret_cast<Header*>(base + kAlign + int64_t(i) * stride);
        h->next = freeList;
        if (freeList != nullptr) freeList->prev = h;
        freeList = h;
    }
}

void ekTiffPageMemory::unlinkFree(Header* h) {
    (h->prev != nullptr ? h->prev->next : freeList) = h->next;
    if (h->next != nullptr) h->next->prev = h->prev;
    h->prev = h->next = nullptr;
    if (h->backed) freeBytes -= bufferBytes;
    h->backed = false;
}

// Unmaps a slab, taking its free buffers off the free list first.
void ekTiffPageMemory::unmapSlab(Slab* s) {
    char* const base = reinterpret_cast<char*>(s);
    for (int i = 0; i < s->count && s->out == 0; ++i)
        unlinkFree(reinterpret_cast<Header*>(base + kAlign + int64_t(i) * stride));
    (s->prev != nullptr ? s->prev->next : slabs) = s->next;
    if (s->next != nullptr) s->next->prev = s->prev;
    --slabCount;
    munmap(base, size_t(s->bytes));
}
