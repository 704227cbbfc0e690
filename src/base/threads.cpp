// Threads and semaphores over CreateThread (Windows) or POSIX threads.
#include "base/threads.h"

#if !defined(_WIN32)
#include <sched.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <string>

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
    // The processors this process may run on.
    DWORD_PTR process = 0, system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
        uint32_t count = 0;
        for (; process != 0; process &= process - 1) ++count;
        return count;
    }
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

namespace {

// The CPU quota of the control group the process runs in and of the groups
// above it, rounded up to whole processors; 0 when none is set (or this is
// not Linux). Version 2 keeps it in cpu.max ("quota period" or "max
// period"), version 1 in cpu.cfs_quota_us and cpu.cfs_period_us.
uint32_t cgroupQuota() {
#if defined(__linux__)
    const auto readText = [](const std::string &path) {
        std::string text;
        if (std::FILE *f = std::fopen(path.c_str(), "re")) {
            char buffer[512];
            const size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
            text.assign(buffer, n);
            std::fclose(f);
        }
        return text;
    };
    uint32_t best = 0;
    const auto consider = [&best](long long quota, long long period) {
        if (quota <= 0 || period <= 0) return;
        const long long whole = (quota + period - 1) / period;
        const uint32_t n = whole > 4096 ? 4096 : static_cast<uint32_t>(whole);
        if (best == 0 || n < best) best = n;
    };
    const std::string groups = readText("/proc/self/cgroup");
    size_t at = 0;
    while (at < groups.size()) {
        const size_t end = groups.find('\n', at) == std::string::npos ? groups.size() : groups.find('\n', at);
        const std::string line = groups.substr(at, end - at);
        at = end + 1;
        // hierarchy-id:controllers:path
        const size_t first = line.find(':'), second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos) continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        std::string path = line.substr(second + 1);
        const bool v2 = controllers.empty();
        if (!v2 && ("," + controllers + ",").find(",cpu,") == std::string::npos) continue;
        for (;;) {
            if (v2) {
                long long quota = 0, period = 0;
                if (std::sscanf(readText("/sys/fs/cgroup" + path + "/cpu.max").c_str(), "%lld %lld", &quota,
                                &period) == 2)
                    consider(quota, period);
            } else {
                const std::string base = "/sys/fs/cgroup/cpu" + path;
                long long quota = 0, period = 0;
                if (std::sscanf(readText(base + "/cpu.cfs_quota_us").c_str(), "%lld", &quota) == 1 &&
                    std::sscanf(readText(base + "/cpu.cfs_period_us").c_str(), "%lld", &period) == 1)
                    consider(quota, period);
            }
            if (path.empty() || path == "/") break;
            const size_t slash = path.find_last_of('/');
            path = slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
        }
    }
    return best;
#else
    return 0;
#endif
}

}  // namespace

uint32_t processorCount() {
    uint32_t count = 0;
#if defined(__linux__)
    // The processors this process may run on (taskset, cpusets).
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) count = static_cast<uint32_t>(CPU_COUNT(&set));
#endif
    if (count == 0) {
        const long n = sysconf(_SC_NPROCESSORS_ONLN);
        count = n > 0 ? static_cast<uint32_t>(n) : 1;
    }
    // A CPU quota caps what the processors give, whatever their number (read
    // once: it is set when a container starts).
    static const uint32_t quota = cgroupQuota();
    return quota != 0 && quota < count ? quota : count;
}

#endif

}  // namespace jpg
