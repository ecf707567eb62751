// SPDX-License-Identifier: Apache-2.0
// ekTiffThreadPool: the worker threads that decode and encode pages for TIFF
// images. One pool serves the whole process. It is created by the first
// request for more than one thread, and grows, one thread at a time, to the
// largest number any request has asked for; a program that never asks starts
// no thread. Jobs are owned by their submitter, which waits for each one.
// The workers are ended and joined when the process exits.
#ifndef EKS_TIFF_THREAD_POOL_H
#define EKS_TIFF_THREAD_POOL_H

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

// A unit of work. run() is called once, on a worker or on the submitter's
// thread; finish() is then called so that wait() returns.
class ekTiffJob {
public:
    ekTiffJob() = default;
    ekTiffJob(const ekTiffJob&) = delete;
    ekTiffJob& operator=(const ekTiffJob&) = delete;

    // Blocks until run() has returned.
    void wait();
    bool isDone();
    // Makes a finished job ready to be submitted again.
    void reset();

protected:
    ~ekTiffJob() = default;
    virtual void run() = 0;

private:
    friend class ekTiffThreadPool;
    void finish();

    ekTiffJob* next = nullptr;
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::atomic<bool> finished{false};  // done, readable without the lock
};

class ekTiffThreadPool {
public:
    // The pool with at least `workers` threads (started now as needed), or
    // null when `workers` is below 1 or no thread could be started.
    static ekTiffThreadPool* get(int workers);

    // Queues `job` for a worker. The submitter completes it before the job
    // goes out of scope.
    void submit(ekTiffJob& job);
    // Runs `job` on this thread when no worker has taken it yet; false when
    // a worker has (or it ran already).
    bool tryRun(ekTiffJob& job);
    // Returns once `job` has run (here, when no worker has taken it); while a
    // worker runs it, this thread runs the jobs in `ahead` (n of them, null
    // entries skipped) that no worker has taken, instead of waiting idle.
    void completeHelping(ekTiffJob& job, ekTiffJob* const* ahead, int n);

    // Ends the workers when the process exits (no job is under way then:
    // every submitter completes its jobs before it returns).
    static void shutDown();

private:
    static constexpr int kMaxThreads = 1024;

    ekTiffThreadPool() = default;
    bool grow(int workers);
    void work();

    std::mutex m;
    std::condition_variable cv;
    ekTiffJob* head = nullptr;
    ekTiffJob* tail = nullptr;
    std::atomic<int> queued{0};  // jobs in the queue, readable without the lock
    bool stopping = false;
    int threads = 0;
    std::thread workerThreads[kMaxThreads];
};

// The number of threads a new image uses: EKS_NUM_THREADS when it is a
// positive number, else the number of cores.
int ekTiffDefaultThreads();
// `n` as setThreads takes it: 0 is the number of cores; at least 1.
int ekTiffResolveThreads(int n);

#endif  // EKS_TIFF_THREAD_POOL_H
