// SPDX-License-Identifier: Apache-2.0
// ekBuffer: a typed buffer of up to four dimensions over memory it owns or
// wraps. Sizes are computed in 64 bits; a byte size that does not fit 32 bits,
// a negative dimension or a failed allocation leaves the buffer without memory.
#include <algorithm>
#include <cstdint>
#include <new>

#include "core/type_facts.h"
#include "eks/core.h"

namespace {

// a*b, saturated to the int64_t range instead of overflowing.
int64_t mulSaturated(int64_t a, int64_t b) {
    int64_t r;
    if (!__builtin_mul_overflow(a, b, &r)) return r;
    return ((a < 0) != (b < 0)) ? INT64_MIN : INT64_MAX;
}

// Product of the first n dimensions (1 for n = 0), saturated.
int64_t dimProduct(const int32_t* dims, int n) {
    int64_t p = 1;
    for (int k = 0; k < n; ++k) p = mulSaturated(p, dims[k]);
    return p;
}

}  // namespace

ekBuffer::ekBuffer() {
    init();
    checkSize();
}

ekBuffer::ekBuffer(int d0, int slack) {
    init();
    dims_[0] = d0;
    slack_ = slack;
    checkSize();
}

ekBuffer::ekBuffer(ekType type, int d0, int d1, int d2, int d3) {
    init();
    type_ = type;
    dims_[0] = d0, dims_[1] = d1, dims_[2] = d2, dims_[3] = d3;
    checkSize();
}

ekBuffer::ekBuffer(void* data, ekType type, int d0, int d1, int d2, int d3) {
    init();
    type_ = type;
    dims_[0] = d0, dims_[1] = d1, dims_[2] = d2, dims_[3] = d3;
    // Null caller memory is not wrapped: checkSize then allocates our own.
    const bool negative = d0 < 0 || d1 < 0 || d2 < 0 || d3 < 0;
    const int32_t bytes = negative ? -1 : ekAllocSize(type, dimProduct(dims_, 4));
    if (data && bytes >= 0) {
        data_ = static_cast<unsigned char*>(data);
        allocated_ = bytes;
    }
    checkSize();  // keeps the caller memory: it is exactly the size needed
}

ekBuffer::ekBuffer(const ekBuffer& b)
    : type_(b.type_),
      owned_(nullptr),  // the source keeps ownership; this buffer only wraps
      slack_(b.slack_),
      allocated_(b.allocated_),
      data_(b.data_) {
    std::copy(b.dims_, b.dims_ + 4, dims_);
    std::copy(b.strides_, b.strides_ + 4, strides_);
}

ekBuffer& ekBuffer::operator=(const ekBuffer& b) {
    if (this == &b) return *this;
    // When b wraps the memory this buffer owns (b was assigned from this
    // buffer), releasing it would leave both buffers dangling: keep owning it.
    if (!(owned_ && b.data_ == owned_)) {
        delete[] owned_;
        owned_ = nullptr;
    }
    type_ = b.type_;
    std::copy(b.dims_, b.dims_ + 4, dims_);
    std::copy(b.strides_, b.strides_ + 4, strides_);
    slack_ = b.slack_;
    allocated_ = b.allocated_;
    data_ = b.data_;
    return *this;
}

ekBuffer::~ekBuffer() { delete[] owned_; }

void* ekBuffer::resize(int d0) {
    dims_[0] = d0;
    checkSize();
    return data_;
}

void* ekBuffer::resize(int d0, int d1, int d2, int d3) {
    dims_[0] = d0, dims_[1] = d1, dims_[2] = d2, dims_[3] = d3;
    checkSize();
    return data_;
}

void ekBuffer::init() {
    type_ = ekUChar;
    dims_[0] = 16384, dims_[1] = 1, dims_[2] = 1, dims_[3] = 1;
    std::fill(strides_, strides_ + 4, 0);
    owned_ = nullptr;
    slack_ = 4096;
    allocated_ = 0;
    data_ = nullptr;
}

void ekBuffer::checkSize() {
    // Stride k is the byte size of the first k dimensions (ekBit: rounded up
    // to whole bytes, so stride 0 is one byte).
    for (int k = 0; k < 4; ++k)
        strides_[k] = ekClampToInt32(ekDataSize64(type_, k == 0 ? 1 : dimProduct(dims_, k)));

    const bool negative = dims_[0] < 0 || dims_[1] < 0 || dims_[2] < 0 || dims_[3] < 0;
    const int32_t needed = negative ? -1 : ekAllocSize(type_, dimProduct(dims_, 4));
    if (needed >= 0 && needed <= allocated_ && (!owned_ || allocated_ - needed < slack_))
        return;  // caller memory large enough, or own memory within the slack

    delete[] owned_;
    owned_ = nullptr;
    data_ = nullptr;
    allocated_ = 0;
    if (needed < 0) return;  // no size we can allocate: stay without memory
    owned_ = new (std::nothrow) unsigned char[needed];
    if (owned_) {
        data_ = owned_;
        allocated_ = needed;
    }
}
