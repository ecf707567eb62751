// SPDX-License-Identifier: Apache-2.0
// ekConstImg reads: the value for every requested pixel, by memset and 64-bit
// stores for 8-bit pixels of one or four channels, else by the transfer engine.
#include <cstdint>
#include <cstring>

#include "core/type_facts.h"
#include "eks/images.h"
#include "image/caller_layout.h"
#include "transfer/data_block.h"

namespace {

bool given(ekType t) { return t != 0 && t != ekAnyType; }
bool given(ekOrder o) { return o != 0 && o != ekAnyOrder; }

// count 32-bit words of value v from dst on: zero by memset; long rows with
// two words per 64-bit store from an 8-byte boundary on, eight per pass.
void fillWords(unsigned char* dst, int64_t count, uint32_t v) {
    if (v == 0 && count > 7) {
        std::memset(dst, 0, size_t(count) * 4);
        return;
    }
    if (count > 16) {
        if ((reinterpret_cast<uintptr_t>(dst) & 7) != 0) {
            std::memcpy(dst, &v, 4);
            dst += 4;
            --count;
        }
        const uint64_t twice = (uint64_t(v) << 32) | v;
        for (; count > 7; count -= 8, dst += 32) {
            std::memcpy(dst, &twice, 8);
            std::memcpy(dst + 8, &twice, 8);
            std::memcpy(dst + 16, &twice, 8);
            std::memcpy(dst + 24, &twice, 8);
        }
    }
    for (; count > 0; --count, dst += 4) std::memcpy(dst, &v, 4);
}

}  // namespace

ekStatus ekConstImg::getSubTile3D(int x, int y, int z, int nx, int ny, int nz, void* data, int bx,
                                  int by, int bz, int bnx, int bny, int bnz, const ekConfig* cfg) {
    const ekStatus s = ekCheckRequest(*this, cfg, data, ekTile(x, y, z, nx, ny, nz),
                                      ekTile(bx, by, bz, bnx, bny, bnz));
    if (s != ekOkay) return s;
    if (nx < 1 || ny < 1 || nz < 1) return ekOkay;
    const int n = cfg != nullptr && cfg->nchans != 0 ? cfg->nchans : size.c;
    if (n < 1) return ekOkay;

    // The direct path: the image's own 8-bit layout of one or four channels
    // (the value holding them all), into the request's slice of a one-slice
    // buffer. Positions need no mapping between spaces: request and buffer
    // box are given in the same one, and every pixel is the same.
    const bool ownLayout =
        cfg == nullptr || (n == size.c && (!given(cfg->type) || cfg->type == ekUChar) &&
                           (!given(cfg->order) || cfg->order == order) &&
                           cfg->chanList == nullptr && cfg->chanOffset == 0);
    if (data != nullptr && bnz == 1 && int64_t(bz) >= z && int64_t(bz) < int64_t(z) + nz &&
        dataType == ekUChar && fill.type() == ekUChar && (size.c == 1 || size.c == 4) &&
        fill.nc() == size.c && ownLayout) {
        const ekTile rows(
            ekTile(ekClampToInt32(int64_t(x) - bx), ekClampToInt32(int64_t(y) - by), 0, nx, ny, 1),
            ekTile(0, 0, 0, bnx, bny, 1));
        if (rows.empty()) return ekOkay;
        unsigned char* base = static_cast<unsigned char*>(data);
        const unsigned char* value = static_cast<const unsigned char*>(fill.elems());
        uint32_t word = 0;
        std::memcpy(&word, value, size_t(size.c));
        for (int row = rows.y; row < rows.y + rows.ny; ++row) {
            const int64_t first = int64_t(row) * bnx + rows.x;
            if (size.c == 1)
                std::memset(base + first, value[0], size_t(rows.nx));
            else
                fillWords(base + first * 4, rows.nx, word);
        }
        return ekOkay;
    }

    // The engine path: the value, in the caller's type when it differs, one
    // element per image channel, numbered like the image's channels. With
    // ekSaturate the engine converts it, saturating.
    const bool saturate = cfg != nullptr && (cfg->reserved & ekSaturate) != 0;
    ekPixel converted;
    const ekPixel* value = &fill;
    if (cfg != nullptr && given(cfg->type) && cfg->type != fill.type() && !saturate) {
        converted.convert(fill, cfg->type, fill.nc());
        value = &converted;
    }
    const ekType type = cfg != nullptr && given(cfg->type) ? cfg->type : dataType;
    const ekOrder o = cfg != nullptr && given(cfg->order) ? cfg->order : order;
    const int* list = cfg != nullptr ? cfg->chanList : nullptr;
    const int first = cfg != nullptr && list == nullptr ? cfg->chanOffset : 0;
    ekDataBlock dst(data, type, o, n, list, bnx, bny, bnz, bx, by, bz, first);
    dst.setClip(x, y, z, nx, ny, nz);
    dst.saturate = saturate;
    dst.copyFrom(ekDataBlock(*value, nullptr, nullptr, 0));
    return ekOkay;
}
