// SPDX-License-Identifier: Apache-2.0
// Reads a fuzz input as a stream of bytes; past its end every byte is 0, so a
// target can decode operands without checking the length each time.
#ifndef EKS_FUZZ_FUZZ_INPUT_H
#define EKS_FUZZ_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>
#include <cstring>

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size), at_(0) {}
    bool done() const { return at_ >= size_; }
    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    // A little-endian 32-bit value.
    int32_t int32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= uint32_t(byte()) << (8 * i);
        int32_t out;
        std::memcpy(&out, &v, sizeof out);
        return out;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_;
};

#endif  // EKS_FUZZ_FUZZ_INPUT_H
