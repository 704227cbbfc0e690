// The one thread helper of the library: start a worker running a function
// with a context pointer and join it, and a counting semaphore, enough for
// the bounded queue between a call's two threads. CreateThread and Windows
// semaphores on Windows (the win32 thread model has no std::thread), POSIX
// threads elsewhere. A worker adopts its caller's fault plan (platform.h).
#ifndef JPG_BASE_THREADS_H
#define JPG_BASE_THREADS_H

#include <atomic>
#include <cstdint>

#if !defined(_WIN32)
#include <pthread.h>
#endif

#include "base/platform.h"

namespace jpg {

using ThreadMain = void (*)(void *context);

// One worker thread, joined at the latest when the object goes away.
class Thread {
public:
    Thread() = default;
    ~Thread() { join(); }
    Thread(const Thread &) = delete;
    Thread &operator=(const Thread &) = delete;

    // Starts `main(context)` on a new thread; false when no thread could be
    // started, and the caller then does the work on its own thread.
    bool start(ThreadMain main, void *context);
    // Waits until the thread has returned; nothing when none was started.
    void join();
    bool started() const { return started_; }

private:
    static void run(Thread *self);
#if defined(_WIN32)
    static DWORD WINAPI entry(LPVOID self);
    HANDLE handle_ = nullptr;
#else
    static void *entry(void *self);
    pthread_t handle_{};
#endif
    bool started_ = false;
    ThreadMain main_ = nullptr;
    void *context_ = nullptr;
    faults::Plan *plan_ = nullptr;
};

// A counting semaphore. `ok()` is false when it could not be made; then it
// must not be used.
class Semaphore {
public:
    explicit Semaphore(uint32_t initial);
    ~Semaphore();
    Semaphore(const Semaphore &) = delete;
    Semaphore &operator=(const Semaphore &) = delete;

    bool ok() const { return ok_; }
    // Waits until the count is positive, then lowers it by one. The other
    // thread usually posts within microseconds, so it spins for a moment
    // before it sleeps: a sleep and a wake-up cost more than that.
    void wait();
    // Lowers the count by one when it is positive, without waiting: false
    // when it was zero.
    bool tryWait();
    // Raises the count by one, waking one waiter.
    void post();

private:
#if defined(_WIN32)
    HANDLE handle_ = nullptr;
#else
    pthread_mutex_t mutex_;
    pthread_cond_t ready_;
    std::atomic<uint32_t> count_{0};  // changed under the mutex, read outside it while spinning
#endif
    bool ok_ = false;
};

// Work on one row that a call's two threads share: `items` items, claimed a
// chunk at a time by whichever thread is free, and finished when every
// claimed chunk is done. One thread resets it while no other can see it
// (before handing the row over through a Semaphore); then both may claim.
class SharedWork {
public:
    void reset(uint32_t items, uint32_t chunk) {
        total_ = items;
        chunk_ = chunk > 0 ? chunk : 1;
        next_.store(0, std::memory_order_relaxed);
        done_.store(0, std::memory_order_relaxed);
    }
    // The next chunk [first, end) when one is left.
    bool claim(uint32_t &first, uint32_t &end) {
        if (next_.load(std::memory_order_relaxed) >= total_) return false;
        first = next_.fetch_add(chunk_, std::memory_order_relaxed);
        if (first >= total_) return false;
        end = total_ - first < chunk_ ? total_ : first + chunk_;
        return true;
    }
    // Marks `count` claimed items done, publishing what was made for them.
    void finish(uint32_t count) { done_.fetch_add(count, std::memory_order_release); }
    // Waits until every item is done; what was made for them is then seen.
    // The other thread has at most one chunk left, so this spins briefly.
    void waitUntilDone() const;

private:
    std::atomic<uint32_t> next_{0};
    std::atomic<uint32_t> done_{0};
    uint32_t total_ = 0;
    uint32_t chunk_ = 1;
};

// Processors available to this process (at least 1).
uint32_t processorCount();

}  // namespace jpg

#endif  // JPG_BASE_THREADS_H
