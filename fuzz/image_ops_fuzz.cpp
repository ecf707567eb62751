// SPDX-License-Identifier: Apache-2.0
// Fuzz target: the input is decoded into a sequence of operations on a few
// small images (memory images over owned or borrowed buffers, constant
// images, views of any of them with random starts and channel selections):
// tile reads, writes, fills and copies in random caller layouts, pixel reads
// and writes, page and tile locks. Every checked read is compared with a
// reference of the same read taken element by element from what the image
// shows: a memory image's own buffer, a constant image's value, a view's
// parent at the shifted position. A mismatch aborts.
//
// The decoder only produces enumeration values inside their tables, so that
// every checked read has a layout the reference can describe; values outside
// them are the hostile-input tests' business.
// Writes, fills, copies and locks are not compared with a reference: they run
// under the sanitizers, and every later checked read must still agree with
// whatever they left in the images. Only reads of boxes inside the image with
// the image's own coordinate space are checked element by element. Boxes
// anywhere, at the 32-bit limits too, in every pair of image and caller
// space, are held to what holds whatever the spaces: a read changes no
// buffer position outside its request, and a write or fill whose box reaches
// no pixel of a memory image leaves its buffer as it was.
#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "eks/paging.h"
#include "test_images.h"

namespace {

// Reads the input a byte at a time; past its end every value is 0.
class Input {
public:
    Input(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
    bool done() const { return p_ >= end_; }
    unsigned byte() { return p_ < end_ ? *p_++ : 0u; }
    int range(int lo, int hi) { return lo + int(byte() % unsigned(hi - lo + 1)); }
    // A position in lo..hi, or, for the top eight byte values, one at the
    // 32-bit limits.
    int coord(int lo, int hi) {
        const unsigned b = byte();
        if (b < 248) return lo + int(b % unsigned(hi - lo + 1));
        static const int kLimits[8] = {INT32_MIN,     INT32_MIN + 1, INT32_MIN + 2, -INT32_MAX / 2,
                                       INT32_MAX / 2, INT32_MAX - 2, INT32_MAX - 1, INT32_MAX};
        return kLimits[b - 248];
    }
    // An extent in lo..hi, or, for the top four byte values, one near
    // INT32_MAX (a box that the caller's buffer cannot hold whole).
    int extent(int lo, int hi) {
        const unsigned b = byte();
        if (b < 252) return lo + int(b % unsigned(hi - lo + 1));
        return INT32_MAX - int(b - 252);
    }
    void bytes(void* out, size_t n) {
        auto* o = static_cast<uint8_t*>(out);
        for (size_t i = 0; i < n; ++i) o[i] = uint8_t(byte());
    }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

ekType pickType(Input& in) { return kTypes[in.byte() % 9]; }
ekOrder pickOrder(Input& in) { return kOrders[in.byte() % 3]; }

[[noreturn]] void mismatch() { std::abort(); }

// One image of the session and what the reference needs to know about it.
// Slots never move: a memory image may point into `borrowed`.
struct Slot {
    Slot() = default;
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
    enum Kind { kMemory, kConst, kView } kind = kMemory;
    ekImage* img = nullptr;
    std::vector<uint8_t> borrowed;  // the memory image's buffer when borrowed
    ekPixel value;                  // the constant image's value
    int parent = -1;                // the view's parent slot
    int sx = 0, sy = 0, sz = 0;     // the view's start
    std::vector<int> list;          // the view's channel list (empty: start channel)
    int sc = 0;                     // the view's start channel
};

// Whether the part of request r inside buffer box b reaches a pixel of img,
// with both boxes in cfg's space: the image's extent there, in 64 bits.
bool reaches(ekImage* img, const ekConfig& cfg, const ekTile& r, const ekTile& b) {
    ekSize s = img->getSize();
    if (cfg.coordSpace != 0) img->getSize(s, cfg.coordSpace);
    const int64_t lo[3] = {std::max<int64_t>({r.x, b.x, 0}), std::max<int64_t>({r.y, b.y, 0}),
                           std::max<int64_t>({r.z, b.z, 0})};
    const int64_t hi[3] = {std::min<int64_t>({int64_t(r.x) + r.nx, int64_t(b.x) + b.nx, s.x}),
                           std::min<int64_t>({int64_t(r.y) + r.ny, int64_t(b.y) + b.ny, s.y}),
                           std::min<int64_t>({int64_t(r.z) + r.nz, int64_t(b.z) + b.nz, s.z})};
    return lo[0] < hi[0] && lo[1] < hi[1] && lo[2] < hi[2];
}

// A memory image's buffer as it stands (empty for other images).
std::vector<uint8_t> bufferOf(ekImage* img) {
    if (img->getClassId() != &ekMemoryImg::classList) return {};
    auto* m = static_cast<ekMemoryImg*>(img);
    const ekSize sz = m->getSize();
    const auto* p = static_cast<const uint8_t*>(m->getDataPtr());
    if (p == nullptr || m->getStatus() != ekOkay) return {};
    const int64_t n = int64_t(sz.x) * sz.y * sz.z * sz.c;
    return std::vector<uint8_t>(p, p + bufferBytes(m->getDataType(), n));
}

// Whether element i of two buffers of type t is the same, bit for bit.
bool sameElement(ekType t, const uint8_t* a, const uint8_t* b, int64_t i) {
    if (t == ekBit) return ((a[i >> 3] ^ b[i >> 3]) & (0x80 >> (i & 7))) == 0;
    const int size = ekDataSize(t, 1);
    return std::memcmp(a + i * size, b + i * size, size_t(size)) == 0;
}

class Session {
public:
    explicit Session(Input& in) : in_(in) {}
    ~Session() {
        for (auto it = slots_.rbegin(); it != slots_.rend(); ++it) delete (*it)->img;
    }
    void step();

private:
    static constexpr size_t kMaxSlots = 6;

    void addMemory(bool borrow);
    void addConst();
    void addView();
    ekImage* pick() { return slots_[in_.byte() % slots_.size()]->img; }
    // The element image channel ch shows at (x, y, z) in its own space, as
    // the reference sees it, ready to be stored in type t; false where the
    // reference makes no claim.
    bool truth(size_t s, int x, int y, int z, int ch, ekType t, ref::Value& v);
    ekTile insideBox(ekImage* img);
    ekConfig randomConfig(ekImage* img, std::vector<int>& list, bool withSpace);
    void checkedRead();
    void checkedPixel();
    void randomWrite();
    void randomFill();
    void randomCopy();
    void locks();

    Input& in_;
    std::vector<std::unique_ptr<Slot>> slots_;
};

void Session::addMemory(bool borrow) {
    const ekSize size(in_.range(1, 6), in_.range(1, 5), in_.range(1, 2), in_.range(1, 4));
    const ekType type = pickType(in_);
    const ekOrder order = pickOrder(in_);
    auto owned = std::make_unique<Slot>();
    Slot& s = *owned;
    if (borrow) {
        const int64_t n = int64_t(size.x) * size.y * size.z * size.c;
        s.borrowed.resize(bufferBytes(type, n));
        in_.bytes(s.borrowed.data(), s.borrowed.size());
        s.img = new ekMemoryImg(static_cast<void*>(s.borrowed.data()), size, type, order);
    } else {
        s.img = new ekMemoryImg(size, type, order);
    }
    s.img->setCoordSpace(ekCoordSpace(in_.range(1, 8)));
    slots_.push_back(std::move(owned));
}

void Session::addConst() {
    auto owned = std::make_unique<Slot>();
    Slot& s = *owned;
    s.kind = Slot::kConst;
    const ekType type = pickType(in_);
    const int nc = in_.range(1, 4);
    std::vector<uint8_t> raw(ekDataSize(type, nc) + 8);
    in_.bytes(raw.data(), raw.size());
    s.value.set(type, nc, raw.data());
    s.img = new ekConstImg(s.value);
    const int extent = in_.range(0, 6);  // 0: the image's default extent
    if (extent > 0) s.img->setSize(ekSize(extent, in_.range(1, 5), in_.range(1, 2), nc));
    slots_.push_back(std::move(owned));
}

void Session::addView() {
    auto owned = std::make_unique<Slot>();
    Slot& s = *owned;
    s.kind = Slot::kView;
    s.parent = int(in_.byte() % slots_.size());
    ekImage* parent = slots_[size_t(s.parent)]->img;
    const ekSize ps = parent->getSize();
    s.sx = in_.range(-2, 6);
    s.sy = in_.range(-2, 6);
    s.sz = in_.range(-1, 1);
    ekConfig cfg;
    if (in_.byte() & 1) {
        s.list.resize(size_t(in_.range(1, 4)));
        for (int& e : s.list) e = in_.range(-1, ps.c);
        cfg.nchans = int32_t(s.list.size());
        cfg.chanList = s.list.data();
    } else {
        s.sc = in_.range(0, ps.c);
        cfg.chanOffset = s.sc;
    }
    s.img = new ekSubImg(parent, s.sx, s.sy, s.sz, in_.range(1, 6), in_.range(1, 5),
                         in_.range(1, 2), &cfg);
    slots_.push_back(std::move(owned));
}

bool Session::truth(size_t i, int x, int y, int z, int ch, ekType t, ref::Value& v) {
    const Slot& s = *slots_[i];
    const ekSize size = s.img->getSize();
    if (s.img->getStatus() != ekOkay || ch < 0 || ch >= size.c || x < 0 || y < 0 || z < 0 ||
        x >= size.x || y >= size.y || z >= size.z)
        return false;
    switch (s.kind) {
        case Slot::kMemory: {
            auto* m = static_cast<ekMemoryImg*>(s.img);
            const int64_t e =
                elementIndex(m->getOrder(), size.c, size.x, size.y, size.z, x, y, z, ch);
            v = ref::readElem(m->getDataType(), m->getDataPtr(), e);
            return true;
        }
        case Slot::kConst: {
            // The value in another type is converted as a pixel (ekBit: any of
            // the low 32 bits set gives 1), not by the element loops; in its
            // own type it is delivered bit for bit.
            ekPixel converted = s.value;
            if (t != s.value.type()) converted.convert(s.value, t);
            v = ref::readElem(t, converted.elems(), ch);
            return true;
        }
        case Slot::kView: {
            const int pc =
                s.list.empty() ? s.sc + ch : (size_t(ch) < s.list.size() ? s.list[size_t(ch)] : -1);
            return truth(size_t(s.parent), s.sx + x, s.sy + y, s.sz + z, pc, t, v);
        }
    }
    return false;
}

// A random box that lies inside the image (empty for an empty image).
ekTile Session::insideBox(ekImage* img) {
    const ekSize size = img->getSize();
    ekTile b;
    b.x = size.x > 0 ? in_.range(0, size.x - 1) : 0;
    b.y = size.y > 0 ? in_.range(0, size.y - 1) : 0;
    b.z = size.z > 0 ? in_.range(0, size.z - 1) : 0;
    b.nx = size.x > 0 ? in_.range(1, size.x - b.x) : 0;
    b.ny = size.y > 0 ? in_.range(1, size.y - b.y) : 0;
    b.nz = size.z > 0 ? in_.range(1, size.z - b.z) : 0;
    return b;
}

ekConfig Session::randomConfig(ekImage* img, std::vector<int>& list, bool withSpace) {
    ekConfig cfg(pickType(in_), pickOrder(in_), in_.range(1, 4));
    if (in_.byte() & 1) {
        list.resize(size_t(cfg.nchans));
        for (int& e : list) e = in_.range(-1, img->getNumChans());
        cfg.chanList = list.data();
    } else {
        cfg.chanOffset = in_.range(0, 2);
    }
    if (withSpace) cfg.coordSpace = ekCoordSpace(in_.range(0, 8));
    return cfg;
}

void Session::checkedRead() {
    const size_t i = in_.byte() % slots_.size();
    ekImage* img = slots_[i]->img;
    std::vector<int> list;
    const ekConfig cfg = randomConfig(img, list, false);
    const ekTile b = insideBox(img);
    const int64_t n = int64_t(b.nx) * b.ny * b.nz * cfg.nchans;
    std::vector<uint8_t> got(bufferBytes(cfg.type, n) + 1);
    in_.bytes(got.data(), got.size());
    std::vector<uint8_t> want = got;
    if (img->getTile3D(b.x, b.y, b.z, b.nx, b.ny, b.nz, got.data(), &cfg) != ekOkay) return;
    for (int k = 0; k < cfg.nchans; ++k)
        for (int z = 0; z < b.nz; ++z)
            for (int y = 0; y < b.ny; ++y)
                for (int x = 0; x < b.nx; ++x) {
                    ref::Value v;
                    if (!truth(i, b.x + x, b.y + y, b.z + z, cfg.mapChan(k), cfg.type, v)) {
                        // The reference makes no claim here: take the engine's.
                        const int64_t e =
                            elementIndex(cfg.order, cfg.nchans, b.nx, b.ny, b.nz, x, y, z, k);
                        ref::writeElem(cfg.type, want.data(), e,
                                       ref::readElem(cfg.type, got.data(), e));
                        continue;
                    }
                    ref::writeElem(
                        cfg.type, want.data(),
                        elementIndex(cfg.order, cfg.nchans, b.nx, b.ny, b.nz, x, y, z, k), v);
                }
    if (want != got) mismatch();
}

void Session::checkedPixel() {
    const size_t i = in_.byte() % slots_.size();
    ekImage* img = slots_[i]->img;
    const ekTile b = insideBox(img);
    ekPixel p(pickType(in_), in_.range(0, 4));
    if (img->getPixel3D(b.x, b.y, b.z, p) != ekOkay) return;
    std::vector<uint8_t> want(size_t(ekDataSize(p.type(), p.nc())) + 1);
    std::memcpy(want.data(), p.elems(), want.size() - 1);
    for (int k = 0; k < p.nc(); ++k) {
        ref::Value v;
        if (truth(i, b.x, b.y, b.z, k, p.type(), v)) ref::writeElem(p.type(), want.data(), k, v);
    }
    if (std::memcmp(want.data(), p.elems(), want.size() - 1) != 0) mismatch();
}

// A buffer box near the image (at the 32-bit limits now and then), and a
// request that is the buffer box, or reaches a limit from it, or lies apart
// from it, in a random caller space.
void Session::randomWrite() {
    ekImage* img = pick();
    std::vector<int> list;
    const ekConfig cfg = randomConfig(img, list, true);
    const int nx = in_.range(0, 7), ny = in_.range(0, 6), nz = in_.range(0, 2);
    std::vector<uint8_t> data(bufferBytes(cfg.type, int64_t(nx) * ny * nz * cfg.nchans) + 1);
    in_.bytes(data.data(), data.size());
    const ekTile b(in_.coord(-3, 6), in_.coord(-3, 6), in_.coord(-1, 2), nx, ny, nz);
    const unsigned how = in_.byte();
    ekTile r = b;
    switch ((how >> 1) % 4) {
        case 1:  // reaching a limit
            r.nx = in_.extent(1, 7);
            r.ny = in_.extent(1, 6);
            break;
        case 2:  // anywhere
            r = ekTile(in_.coord(-3, 6), in_.coord(-3, 6), in_.coord(-1, 2), in_.extent(0, 7),
                       in_.extent(0, 6), in_.extent(0, 2));
            break;
        default:
            break;
    }
    if (how & 1) {
        const std::vector<uint8_t> before = bufferOf(img);
        img->setSubTile3D(r.x, r.y, r.z, r.nx, r.ny, r.nz, data.data(), b.x, b.y, b.z, b.nx, b.ny,
                          b.nz, &cfg);
        if (!reaches(img, cfg, r, b) && bufferOf(img) != before) mismatch();
        return;
    }
    // A read: unchecked inside its request (clipped and filled), but no
    // buffer position outside it changes.
    const std::vector<uint8_t> before = data;
    img->getSubTile3D(r.x, r.y, r.z, r.nx, r.ny, r.nz, data.data(), b.x, b.y, b.z, b.nx, b.ny, b.nz,
                      &cfg);
    if (data.back() != before.back()) mismatch();
    for (int l = 0; l < nz; ++l)
        for (int j = 0; j < ny; ++j)
            for (int i = 0; i < nx; ++i) {
                const int64_t X = int64_t(b.x) + i, Y = int64_t(b.y) + j, Z = int64_t(b.z) + l;
                if (X >= r.x && X < int64_t(r.x) + r.nx && Y >= r.y && Y < int64_t(r.y) + r.ny &&
                    Z >= r.z && Z < int64_t(r.z) + r.nz)
                    continue;
                for (int k = 0; k < cfg.nchans; ++k)
                    if (!sameElement(cfg.type, data.data(), before.data(),
                                     elementIndex(cfg.order, cfg.nchans, nx, ny, nz, i, j, l, k)))
                        mismatch();
            }
}

void Session::randomFill() {
    ekImage* img = pick();
    std::vector<int> list;
    const ekConfig cfg = randomConfig(img, list, true);
    std::vector<uint8_t> value(size_t(ekDataSize(cfg.type, cfg.nchans)) + 8);
    in_.bytes(value.data(), value.size());
    ekTile keep;
    keep.x = in_.coord(-1, 4), keep.y = in_.coord(-1, 4), keep.z = 0;
    keep.nx = in_.extent(0, 3), keep.ny = in_.extent(0, 3), keep.nz = 1;
    const ekTile r(in_.coord(-2, 5), in_.coord(-2, 5), in_.coord(-1, 1), in_.extent(0, 7),
                   in_.extent(0, 6), in_.extent(0, 2));
    const std::vector<uint8_t> before = bufferOf(img);
    img->fillTile3D(r.x, r.y, r.z, r.nx, r.ny, r.nz, value.data(), &cfg,
                    (in_.byte() & 1) ? &keep : nullptr);
    if (!reaches(img, cfg, r, r) && bufferOf(img) != before) mismatch();
}

void Session::randomCopy() {
    ekImage* img = pick();
    ekImage* other = pick();
    std::vector<int> list(size_t(img->getNumChans() > 0 ? img->getNumChans() : 1));
    for (int& e : list) e = in_.range(-1, other->getNumChans());
    // Boxes of a few pixels (a copy within one image holds its box whole),
    // anywhere.
    img->copyTile3D(in_.coord(-2, 5), in_.coord(-2, 5), in_.coord(-1, 1), in_.range(0, 6),
                    in_.range(0, 5), in_.range(0, 2), other, in_.coord(-2, 5), in_.coord(-2, 5),
                    in_.coord(-1, 1), (in_.byte() & 1) ? list.data() : nullptr, in_.byte() & 1);
}

void Session::locks() {
    ekImage* img = pick();
    if (in_.byte() & 1) {
        ekStatus status = ekOkay;
        ekPage* page = img->lockPage(in_.range(-1, 6), in_.range(-1, 5), in_.range(-1, 2),
                                     in_.range(-1, 4), status, int(in_.byte()));
        if (page != nullptr) img->unlockPage(page);
        return;
    }
    std::vector<int> list;
    const ekConfig cfg = randomConfig(img, list, true);
    delete img->lockTile3D(in_.coord(-2, 5), in_.coord(-2, 5), in_.coord(-1, 1), in_.extent(0, 7),
                           in_.extent(0, 6), in_.extent(0, 2), &cfg, int(in_.byte()) & 0xC03);
}

void Session::step() {
    const unsigned op = in_.byte() % 11;
    if (slots_.empty() || (op < 4 && slots_.size() < kMaxSlots)) {
        switch (slots_.empty() ? 0 : op) {
            case 0:
                return addMemory(false);
            case 1:
                return addMemory(true);
            case 2:
                return addConst();
            default:
                return addView();
        }
    }
    switch (op) {
        case 4:
            return checkedRead();
        case 5:
            return checkedPixel();
        case 6:
            return randomWrite();
        case 7:
            return randomFill();
        case 8:
            return randomCopy();
        case 9:
            return locks();
        default: {
            ekPixel p(pickType(in_), in_.range(0, 4));
            in_.bytes(p.elems(), size_t(ekDataSize(p.type(), p.nc())));
            pick()->setPixel3D(in_.range(-1, 6), in_.range(-1, 5), in_.range(-1, 2), p);
            return checkedRead();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    Session session(in);
    for (int steps = 0; steps < 64 && !in.done(); ++steps) session.step();
    return 0;
}
