// Threads and semaphores over CreateThread (Windows) or POSIX threads.
#include "frame/threads.h"

#if !defined(_WIN32)
#include <sched.h>
#include <unistd.h>
#endif

namespace jpg {

namespace {

// Rounds of busy waiting before a wait gives the processor up: some tens of
// microseconds, about what the other thread's last chunk or next hand-over
// takes.
constexpr uint32_t kSpinRounds = 1000;

// One round of busy waiting: the processor's spin-wait hint.
inline void pauseProcessor() {
#if defined(_WIN32)
    YieldProcessor();
#elif defined(__i386__) || defined(__x86_64__)
    __asm__ __volatile__("pause");
#endif
}

// Gives the processor up for a moment, to the other thread if it waits.
void yieldProcessor() {
#if defined(_WIN32)
    SwitchToThread();
#else
    sched_yield();
#endif
}

}  // namespace

void SharedWork::waitUntilDone() const {
    for (uint32_t round = 0; done_.load(std::memory_order_acquire) < total_; ++round) {
        if (round < kSpinRounds)
            pauseProcessor();
        else
            yieldProcessor();
    }
}

void Thread::run(Thread *self) {
    faults::adoptPlan(self->plan_);
    self->main_(self->context_);
    faults::adoptPlan(nullptr);
}

#if defined(_WIN32)

DWORD WINAPI Thread::entry(LPVOID self) {
    run(static_cast<Thread *>(self));
    return 0;
}

bool Thread::start(ThreadMain main, void *context) {
    if (started_ || main == nullptr || faults::shouldFail(faults::Op::Thread)) return false;
    main_ = main;
    context_ = context;
    plan_ = faults::currentPlan();
    handle_ = CreateThread(nullptr, 0, entry, this, 0, nullptr);
    started_ = handle_ != nullptr;
    return started_;
}

void Thread::join() {
    if (!started_) return;
    WaitForSingleObject(handle_, INFINITE);
    CloseHandle(handle_);
    handle_ = nullptr;
    started_ = false;
}

Semaphore::Semaphore(uint32_t initial) {
    handle_ = CreateSemaphoreA(nullptr, static_cast<LONG>(initial), 0x7FFFFFFF, nullptr);
    ok_ = handle_ != nullptr;
}

Semaphore::~Semaphore() {
    if (handle_ != nullptr) CloseHandle(handle_);
}

void Semaphore::wait() {
    // Each poll is a call into the kernel, so it polls less often.
    for (uint32_t round = 0; round < kSpinRounds / 16; ++round) {
        if (tryWait()) return;
        for (int i = 0; i < 16; ++i) pauseProcessor();
    }
    WaitForSingleObject(handle_, INFINITE);
}
bool Semaphore::tryWait() { return WaitForSingleObject(handle_, 0) == WAIT_OBJECT_0; }
void Semaphore::post() { ReleaseSemaphore(handle_, 1, nullptr); }

uint32_t processorCount() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
}

#else

void *Thread::entry(void *self) {
    run(static_cast<Thread *>(self));
    return nullptr;
}

bool Thread::start(ThreadMain main, void *context) {
    if (started_ || main == nullptr || faults::shouldFail(faults::Op::Thread)) return false;
    main_ = main;
    context_ = context;
    plan_ = faults::currentPlan();
    started_ = pthread_create(&handle_, nullptr, entry, this) == 0;
    return started_;
}

void Thread::join() {
    if (!started_) return;
    pthread_join(handle_, nullptr);
    started_ = false;
}

Semaphore::Semaphore(uint32_t initial) : count_(initial) {
    if (pthread_mutex_init(&mutex_, nullptr) != 0) return;
    if (pthread_cond_init(&ready_, nullptr) != 0) {
        pthread_mutex_destroy(&mutex_);
        return;
    }
    ok_ = true;
}

Semaphore::~Semaphore() {
    if (!ok_) return;
    pthread_cond_destroy(&ready_);
    pthread_mutex_destroy(&mutex_);
}

void Semaphore::wait() {
    for (uint32_t round = 0; round < kSpinRounds; ++round) {
        if (count_.load(std::memory_order_relaxed) > 0 && tryWait()) return;
        pauseProcessor();
    }
    pthread_mutex_lock(&mutex_);
    while (count_ == 0) pthread_cond_wait(&ready_, &mutex_);
    --count_;
    pthread_mutex_unlock(&mutex_);
}

bool Semaphore::tryWait() {
    pthread_mutex_lock(&mutex_);
    const bool ready = count_ > 0;
    if (ready) --count_;
    pthread_mutex_unlock(&mutex_);
    return ready;
}

void Semaphore::post() {
    pthread_mutex_lock(&mutex_);
    ++count_;
    pthread_cond_signal(&ready_);
    pthread_mutex_unlock(&mutex_);
}

uint32_t processorCount() {
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<uint32_t>(n) : 1;
}

#endif

}  // namespace jpg
