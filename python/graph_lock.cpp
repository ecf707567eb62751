// SPDX-License-Identifier: Apache-2.0
#include "graph_lock.h"

#include <pybind11/pybind11.h>

#include <functional>

namespace ekpy {
namespace {

bool tryTake(std::shared_mutex& m, Access access) {
    return access == Access::Shared ? m.try_lock_shared() : m.try_lock();
}

// Blocks until the lock has been free once, without taking it for long.
void waitFor(std::shared_mutex& m, Access access) {
    if (access == Access::Shared) {
        m.lock_shared();
        m.unlock_shared();
    } else {
        m.lock();
        m.unlock();
    }
}

}  // namespace

GraphGuard::GraphGuard(GraphLock& lock, Access access) : lock_(&lock), access_(access) {
    std::shared_mutex& m = lock.mutex;
    if (tryTake(m, access)) return;
    if (PyGILState_Check() == 0) {
        if (access == Access::Shared)
            m.lock_shared();
        else
            m.lock();
        return;
    }
    // Holding the GIL: wait without it, then try again with it.
    do {
        pybind11::gil_scoped_release nogil;
        waitFor(m, access);
    } while (!tryTake(m, access));
}

GraphGuard::~GraphGuard() {
    if (access_ == Access::Shared)
        lock_->mutex.unlock_shared();
    else
        lock_->mutex.unlock();
}

PairGuard::PairGuard(GraphLock& a, Access accessA, GraphLock& b, Access accessB) {
    if (&a == &b) {
        const Access both = accessA == accessB ? accessA : Access::Exclusive;
        first_ = std::make_unique<GraphGuard>(a, both);
        return;
    }
    const bool aFirst = std::less<GraphLock*>()(&a, &b);
    first_ = std::make_unique<GraphGuard>(aFirst ? a : b, aFirst ? accessA : accessB);
    second_ = std::make_unique<GraphGuard>(aFirst ? b : a, aFirst ? accessB : accessA);
}

}  // namespace ekpy
