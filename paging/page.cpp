// SPDX-License-Identifier: Apache-2.0
// ekPage: the handle of one page of an image.
#include <cstdint>

#include "eks/paging.h"

namespace {

// The dead marker in each field type: the position fields are signed, so the
// bit pattern is carried over explicitly.
const int kDeadInt = static_cast<int>(int64_t(ekPage::kDeadMagic) - (int64_t(1) << 32));

}  // namespace

ekPage::ekPage() : ekXYZCstruct<int>(-1, -1, -1, -1), magic(kLiveMagic), data(nullptr) {}

ekPage::ekPage(int x_, int y_, int z_, int c_, void* data_)
    : ekXYZCstruct<int>(x_, y_, z_, c_), magic(kLiveMagic), data(data_) {}

ekPage::~ekPage() {
    x = y = z = c = kDeadInt;
    data = reinterpret_cast<void*>(uintptr_t(kDeadMagic));
    magic = kDeadMagic;
}

int ekPage::matches(int x_, int y_, int z_, int c_) const {
    return Valid() && x == x_ && y == y_ && z == z_ && c == c_ ? 1 : 0;
}

void ekPage::getPos(int& x_, int& y_, int& z_, int& c_) const {
    x_ = x;
    y_ = y;
    z_ = z;
    c_ = c;
}
