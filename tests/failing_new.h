// SPDX-License-Identifier: Apache-2.0
// Allocation failures on request: the nothrow allocation functions (the only
// ones the library uses for its objects and lists) answer null when a test
// asks. Include it in exactly one source file of a test program.
#ifndef EKS_TESTS_FAILING_NEW_H
#define EKS_TESTS_FAILING_NEW_H

#include <cstddef>
#include <new>

namespace failing_new {
// Nothrow allocations that still succeed before one fails; -1: none fails.
inline int& countdown() {
    static int left = -1;
    return left;
}
inline bool failNow() {
    int& left = countdown();
    if (left < 0) return false;
    return left-- == 0;
}
// The n-th nothrow allocation from now (0: the next one) answers null.
inline void failAllocation(int n) { countdown() = n; }
}  // namespace failing_new

void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    if (failing_new::failNow()) return nullptr;
    try {
        return ::operator new(n);
    } catch (...) {
        return nullptr;
    }
}

void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    if (failing_new::failNow()) return nullptr;
    try {
        return ::operator new[](n);
    } catch (...) {
        return nullptr;
    }
}

#endif  // EKS_TESTS_FAILING_NEW_H
