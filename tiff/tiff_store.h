// SPDX-License-Identifier: Apache-2.0
// ekTiffStore: a tiled file this library creates and writes. It decides where
// every encoded tile goes, and it never lets the file lose what its last
// directory describes:
//   - a tile is always written to space that the last directory does not
//     name (free space or the end of the file), never over the bytes it
//     replaces, which stay valid until the next directory is in place;
//   - a directory is written only when every tile before it was, to new
//     space, and takes effect by one small write of the header's pointer to
//     it, after the data it names has reached the disk;
//   - space the last directory no longer names is reused for later tiles,
//     and closing a file whose dead bytes exceed a fifth of it rewrites it
//     compactly beside the original and renames it over the original.
// A failed write therefore leaves the file as its last directory describes
// it, readable by any reader, while the caller keeps the pages that failed.
#ifndef EKS_TIFF_TIFF_STORE_H
#define EKS_TIFF_TIFF_STORE_H

#include <cstdint>
#include <map>
#include <vector>

#include "eks/tiff.h"
#include "tiff/tiff_codec.h"
#include "tiff/tiff_directory.h"
#include "tiff/tiff_file.h"

class ekTiffStore {
public:
    explicit ekTiffStore(ekTiffFile& messages_) : messages(messages_) {}
    ekTiffStore(const ekTiffStore&) = delete;
    ekTiffStore& operator=(const ekTiffStore&) = delete;
    ~ekTiffStore();

    // Creates `path` (replacing it) with every tile zero, and describes it in
    // `layout`. The arguments are checked first (ekBadAttribute,
    // ekNotImplemented), with the reason in the messages.
    ekStatus create(const char* path, const ekSize& size, ekType type, ekOrder order,
                    const ekTiffCreateOptions& options, ekTiffLayout& layout);
    // Adds a reduced-resolution level (an overview of slice 0) of `width` x
    // `height` pixels, its tiles all zero until written; its tiles are
    // numbered after those of every level before it. The index of its first
    // tile goes to `first`.
    ekStatus addLevel(int32_t width, int32_t height, int64_t& first);
    // Levels: the slices first, then the overviews in the order added.
    int levelCount() const { return int(levels.size()); }
    // Decodes tile `index` (in the file's order of tiles) into `pixels`.
    ekStatus readPage(int64_t index, void* pixels);
    // Encodes `pixels` as tile `index` into space the directory does not name.
    ekStatus writePage(int64_t index, const void* pixels);
    // The two halves of writePage: encoding, which any number of threads may
    // do at once, and placing the bytes in the file, one thread at a time.
    ekStatus encode(const void* pixels, ekTiffBytes& out);
    ekStatus place(int64_t index, const ekTiffBytes& encoded);
    // Makes the file describe every tile written so far (a no-op when none
    // was): the directory goes to new space, then the header points to it.
    ekStatus commit();
    // Commits, compacts the file when a fifth of it is dead, and closes it.
    // A failed commit leaves the file open.
    ekStatus close();
    bool isOpen() const { return fd >= 0; }
    bool hasUncommitted() const { return changed; }

    // Bytes of the file, and bytes the current state needs (header, tiles,
    // directory); the difference is dead space waiting for reuse.
    uint64_t fileBytes() const { return eof; }
    uint64_t liveBytes() const;

private:
    struct Extent {
        uint64_t offset = 0, bytes = 0;
        bool operator!=(const Extent& e) const { return offset != e.offset || bytes != e.bytes; }
    };

    // A slice or an overview: its size, and where its tiles start in the
    // file's order of tiles (tiles across x down x planes of them).
    struct Level {
        int32_t width, height, across, down;
        int64_t first;
        bool reduced;
    };
    struct Byte {
        unsigned char b;
    };
    struct Tag {  // a tag given at creation, copied
        uint16_t tag, type;
        uint32_t count;
        std::vector<Byte> bytes;
    };

    ekStatus checkCodec(const ekTiffCreateOptions& o, ekType type, ekOrder order, int channels);
    bool writeAt(int target, uint64_t offset, const void* src, uint64_t n);
    bool syncData(int target);
    Extent allocate(uint64_t bytes);
    void release(const Extent& e);
    ekStatus appendZeroTile();
    ekStatus writeDirectory(int target, uint64_t at, const std::vector<Extent>& tiles,
                            uint64_t& end);
    bool buildDirectory(uint64_t at, const std::vector<Extent>& tiles, ekTiffBytes& out) const;
    void describeLevel(const Level& level, const std::vector<Extent>& tiles,
                       ekTiffDirectory& d) const;
    ekStatus pointHeaderAt(int target, uint64_t dirOffset);
    struct Index {  // a tile's place in the file's order
        size_t i;
    };
    ekStatus compact(bool cloudOptimized);
    void tileOrder(bool cloudOptimized, std::vector<Index>& order) const;
    // A failure of `what`, recorded as an error with the system's reason
    // (errno, which readAt and writeAt clear first), else `otherwise`.
    ekStatus fail(const char* what, const char* otherwise = "failed");

    ekTiffFile& messages;
    char* path = nullptr;
    int fd = -1;
    bool big = false;  // 64-bit offsets
    ekTiffLayout lay;
    ekTiffPageFormat format;
    uint16_t photometric = 1;
    uint16_t extraAlpha = 0;  // the first extra sample is unassociated alpha
    std::vector<Level> levels;
    std::vector<Tag> tags;
    std::vector<Extent> committed;  // what the directory on disk names
    std::vector<Extent> current;    // what the next directory will name
    Extent zeroTile;                // shared by every tile never written
    Extent directory;               // the directory on disk
    struct Offset {                 // a library type, so that the map's code stays internal
        uint64_t at;
        bool operator<(const Offset& o) const { return at < o.at; }
    };
    std::map<Offset, uint64_t> freeSpace;  // offset -> bytes, not named by the directory
    uint64_t eof = 0;
    bool changed = false;
    bool cloudOptimized = false;  // close() lays the file out for reading by ranges
};

#endif  // EKS_TIFF_TIFF_STORE_H
