// SPDX-License-Identifier: Apache-2.0
// ekTiffDirectory: building and serializing one directory.
#include "tiff/tiff_directory.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>

namespace {

bool put(ekTiffBytes& out, uint64_t& pos, uint64_t v, uint64_t bytes) {
    unsigned char le[8];
    for (uint64_t i = 0; i < bytes; ++i) le[i] = static_cast<unsigned char>(v >> (8 * i));
    if (!out.put(pos, le, bytes)) return false;
    pos += bytes;
    return true;
}

}  // namespace

uint64_t ekTiffDirectory::typeBytes(uint16_t type) {
    switch (type) {
        case TIFF_BYTE:
        case TIFF_ASCII:
        case TIFF_SBYTE:
        case TIFF_UNDEFINED:
            return 1;
        case TIFF_SHORT:
        case TIFF_SSHORT:
            return 2;
        case TIFF_LONG:
        case TIFF_SLONG:
        case TIFF_FLOAT:
        case TIFF_IFD:
            return 4;
        case TIFF_RATIONAL:
        case TIFF_SRATIONAL:
        case TIFF_DOUBLE:
        case TIFF_LONG8:
        case TIFF_SLONG8:
        case TIFF_IFD8:
            return 8;
        default:
            return 0;
    }
}

void ekTiffDirectory::add(uint16_t tag, uint16_t type, const Values& values) {
    const bool rational = type == TIFF_RATIONAL || type == TIFF_SRATIONAL;
    const uint64_t each = rational ? 4 : typeBytes(type);
    Entry e{tag, type, rational ? values.size() / 2 : values.size(), {}};
    e.data.resize(size_t(each * values.size()));
    for (size_t i = 0; i < values.size(); ++i)
        for (uint64_t k = 0; k < each; ++k)
            e.data[size_t(i * each + k)].b = static_cast<unsigned char>(values[i].v >> (8 * k));
    entries.push_back(std::move(e));
}

void ekTiffDirectory::addRaw(uint16_t tag, uint16_t type, uint32_t count, const void* data) {
    if (has(tag) || typeBytes(type) == 0 || (count != 0 && data == nullptr)) return;
    Entry e{tag, type, count, {}};
    e.data.resize(size_t(typeBytes(type) * count));
    if (!e.data.empty()) std::memcpy(e.data.data(), data, e.data.size());
    entries.push_back(std::move(e));
}

bool ekTiffDirectory::has(uint16_t tag) const {
    return std::any_of(entries.begin(), entries.end(),
                       [tag](const Entry& e) { return e.tag == tag; });
}

uint64_t ekTiffDirectory::bytes() const {
    const uint64_t n = entries.size();
    const uint64_t inlineBytes = big ? 8 : 4;
    uint64_t total = ekTiffSpan(big ? 8 + 20 * n + 8 : 2 + 12 * n + 4);
    for (const Entry& e : entries)
        if (e.data.size() > inlineBytes) total += ekTiffSpan(e.data.size());
    return total;
}

bool ekTiffDirectory::write(ekTiffBytes& out, uint64_t pos, uint64_t at, uint64_t next) const {
    std::vector<const Entry*> sorted;
    try {
        for (const Entry& e : entries) sorted.push_back(&e);
    } catch (...) {
        return false;
    }
    std::sort(sorted.begin(), sorted.end(),
              [](const Entry* a, const Entry* b) { return a->tag < b->tag; });
    const uint64_t n = sorted.size();
    const uint64_t inlineBytes = big ? 8 : 4;
    uint64_t extra = ekTiffSpan(big ? 8 + 20 * n + 8 : 2 + 12 * n + 4);  // out-of-line values
    const uint64_t start = pos;
    bool ok = put(out, pos, n, big ? 8 : 2);
    for (const Entry* e : sorted) {
        const uint64_t bytes = e->data.size();
        ok = ok && put(out, pos, e->tag, 2) && put(out, pos, e->type, 2) &&
             put(out, pos, e->count, big ? 8 : 4);
        if (bytes <= inlineBytes) {
            ok = ok && out.put(pos, e->data.data(), bytes) && out.put(pos + bytes, nullptr, 0);
            uint64_t pad = pos + bytes;
            ok = ok && put(out, pad, 0, inlineBytes - bytes);
        } else {
            ok = ok && out.put(start + extra, e->data.data(), bytes);
            uint64_t q = pos;
            ok = ok && put(out, q, at + extra, inlineBytes);
            extra = ekTiffSpan(extra + bytes);
        }
        pos += inlineBytes;
    }
    return ok && put(out, pos, next, big ? 8 : 4) && out.put(start + extra, nullptr, 0);
}
