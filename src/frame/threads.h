// The one thread helper of the library: start a worker running a function
// with a context pointer and join it, and a counting semaphore, enough for
// the bounded queue between a call's two threads. CreateThread and Windows
// semaphores on Windows (the win32 thread model has no std::thread), POSIX
// threads elsewhere. A worker adopts its caller's fault plan (platform.h).
#ifndef JPG_FRAME_THREADS_H
#define JPG_FRAME_THREADS_H

#include <cstdint>

#if !defined(_WIN32)
#include <pthread.h>
#endif

#include "frame/platform.h"

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
    // Waits until the count is positive, then lowers it by one.
    void wait();
    // Raises the count by one, waking one waiter.
    void post();

private:
#if defined(_WIN32)
    HANDLE handle_ = nullptr;
#else
    pthread_mutex_t mutex_;
    pthread_cond_t ready_;
    uint32_t count_ = 0;
#endif
    bool ok_ = false;
};

// Processors available to this process (at least 1).
uint32_t processorCount();

}  // namespace jpg

#endif  // JPG_FRAME_THREADS_H
