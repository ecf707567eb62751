// SPDX-License-Identifier: Apache-2.0
// ekTiffThreadPool: a FIFO of jobs served by worker threads that live until
// the process exits, when a static object's destructor ends and joins them.
#include "tiff/thread_pool.h"

#include <chrono>
#include <cstdlib>
#include <new>
#include <system_error>
#include <thread>

namespace {

std::mutex poolMutex;                 // guards the creation, growth and end of the pool
ekTiffThreadPool* thePool = nullptr;  // created once, ended at exit
bool poolEnded = false;               // after the end, work stays on the calling thread

// Ends the pool's workers when static objects are destroyed at exit, so that
// no thread outlives what it waits on.
struct PoolEnd {
    ~PoolEnd() { ekTiffThreadPool::shutDown(); }
} poolEnd;

// Lets the other hyperthread of the core run while this one waits; a
// system call per look (yield) would cost more than the look itself.
inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
    for (int k = 0; k < 64; ++k) __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

// A page decodes in a tenth of a millisecond or so, about as long as a
// sleeping thread takes to wake up. So a thread about to wait for a job, or
// for work, first looks again for that long (pausing between looks, and
// yielding the core every sixteenth look for a thread that may need it) and
// only then sleeps.
template <class Ready>
bool spinUntil(Ready ready) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(100);
    for (int i = 0;; ++i) {
        if (ready()) return true;
        if ((i & 15) == 15) {
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::yield();
        } else {
            relax();
        }
    }
}

int cores() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : n > 1024 ? 1024 : int(n);
}

}  // namespace

void ekTiffJob::wait() {
    if (spinUntil([this] { return finished.load(std::memory_order_acquire); })) {
        std::lock_guard<std::mutex> lock(m);  // finish() has let go of the job
        return;
    }
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [this] { return done; });
}

bool ekTiffJob::isDone() {
    std::lock_guard<std::mutex> lock(m);
    return done;
}

void ekTiffJob::reset() {
    std::lock_guard<std::mutex> lock(m);
    done = false;
    finished.store(false, std::memory_order_relaxed);
}

void ekTiffJob::finish() {
    std::lock_guard<std::mutex> lock(m);
    done = true;
    finished.store(true, std::memory_order_release);
    cv.notify_all();
}

ekTiffThreadPool* ekTiffThreadPool::get(int workers) {
    if (workers < 1) return nullptr;
    std::lock_guard<std::mutex> lock(poolMutex);
    if (poolEnded) return nullptr;  // an image flushed by a static destructor
    if (thePool == nullptr) thePool = new (std::nothrow) ekTiffThreadPool;
    if (thePool == nullptr) return nullptr;
    return thePool->grow(workers) || thePool->threads > 0 ? thePool : nullptr;
}

// Called with poolMutex held. False when not one more thread could start.
bool ekTiffThreadPool::grow(int workers) {
    if (workers > kMaxThreads) workers = kMaxThreads;
    while (threads < workers) {
        try {
            workerThreads[threads] = std::thread([this] { work(); });
        } catch (...) {  // no thread to be had: the pool keeps what it has
            return false;
        }
        std::lock_guard<std::mutex> lock(m);
        ++threads;
    }
    return true;
}

void ekTiffThreadPool::shutDown() {
    std::lock_guard<std::mutex> lock(poolMutex);
    poolEnded = true;
    if (thePool == nullptr) return;
    {
        std::lock_guard<std::mutex> stop(thePool->m);
        thePool->stopping = true;
    }
    thePool->cv.notify_all();
    for (int i = 0; i < thePool->threads; ++i) thePool->workerThreads[i].join();
    delete thePool;
    thePool = nullptr;
}

void ekTiffThreadPool::submit(ekTiffJob& job) {
    {
        std::lock_guard<std::mutex> lock(m);
        job.next = nullptr;
        (tail != nullptr ? tail->next : head) = &job;
        tail = &job;
        queued.fetch_add(1, std::memory_order_release);
    }
    cv.notify_one();
}

bool ekTiffThreadPool::tryRun(ekTiffJob& job) {
    {
        std::lock_guard<std::mutex> lock(m);
        ekTiffJob* previous = nullptr;
        ekTiffJob* j = head;
        while (j != nullptr && j != &job) {
            previous = j;
            j = j->next;
        }
        if (j == nullptr) return false;
        (previous != nullptr ? previous->next : head) = j->next;
        if (tail == j) tail = previous;
        queued.fetch_sub(1, std::memory_order_relaxed);
    }
    job.run();
    job.finish();
    return true;
}

void ekTiffThreadPool::completeHelping(ekTiffJob& job, ekTiffJob* const* ahead, int n) {
    if (tryRun(job)) return;
    for (int k = 0; k < n && !job.isDone(); ++k)
        if (ahead[k] != nullptr) tryRun(*ahead[k]);
    job.wait();
}

void ekTiffThreadPool::work() {
    for (;;) {
        ekTiffJob* job;
        spinUntil([this] { return queued.load(std::memory_order_acquire) > 0; });
        {
            std::unique_lock<std::mutex> lock(m);
            cv.wait(lock, [this] { return head != nullptr || stopping; });
            if (head == nullptr) return;  // stopping, and nothing left
            job = head;
            head = job->next;
            if (head == nullptr) tail = nullptr;
            queued.fetch_sub(1, std::memory_order_relaxed);
        }
        job->run();
        job->finish();
    }
}

int ekTiffDefaultThreads() {
    const char* env = std::getenv("EKS_NUM_THREADS");
    if (env != nullptr) {
        char* end = nullptr;
        const long n = std::strtol(env, &end, 10);
        if (end != env && *end == '\0' && n > 0) return n > 1024 ? 1024 : int(n);
    }
    return cores();
}

int ekTiffResolveThreads(int n) { return n <= 0 ? cores() : n > 1024 ? 1024 : n; }
