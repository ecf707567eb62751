// SPDX-License-Identifier: Apache-2.0
// One lock per graph of images. The library serves distinct graphs from
// different threads at once but one graph from one thread at a time (even a
// getter may bring images up to date), so every call into it holds the lock of
// the graph the image belongs to: a view shares its parent's lock, every other
// image has one of its own. Images whose reads are safe from many threads at
// once (a TIFF file opened for reading) take it shared to read.
#ifndef EKS_PYTHON_GRAPH_LOCK_H
#define EKS_PYTHON_GRAPH_LOCK_H

#include <memory>
#include <shared_mutex>

namespace ekpy {

struct GraphLock {
    std::shared_mutex mutex;
};
using GraphLockPtr = std::shared_ptr<GraphLock>;

enum class Access { Shared, Exclusive };

// Holds a graph lock for its lifetime. A thread that holds the GIL never
// waits for the lock with it: it lets the GIL go while the lock is taken by
// someone else, and takes the GIL back before trying again, so that no thread
// ever waits for the GIL while it holds a graph lock. Code that holds a graph
// lock must therefore never release the GIL and take it back inside (release
// it first, as withoutGil does), nor let go of a Python object that may
// destroy an image of the same graph.
class GraphGuard {
public:
    GraphGuard(GraphLock& lock, Access access);
    ~GraphGuard();
    GraphGuard(const GraphGuard&) = delete;
    GraphGuard& operator=(const GraphGuard&) = delete;

private:
    GraphLock* lock_;
    Access access_;
};

// Locks two graphs (one when both are the same), in a fixed order so that two
// threads locking the same pair cannot deadlock; taken without the GIL (a
// thread must not wait for the GIL while it holds the first). The same graph
// taken for two different accesses is taken exclusively.
class PairGuard {
public:
    PairGuard(GraphLock& a, Access accessA, GraphLock& b, Access accessB);

private:
    std::unique_ptr<GraphGuard> first_, second_;
};

}  // namespace ekpy

#endif  // EKS_PYTHON_GRAPH_LOCK_H
