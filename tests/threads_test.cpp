// The thread helper, the per-call options, and the fault plan that follows a
// call onto its worker thread.
#include <gtest/gtest.h>
#include <sched.h>

#include <atomic>

#include "base/call_options.h"
#include "base/cpu_features.h"
#include "base/platform.h"
#include "base/result.h"
#include "base/threads.h"

using namespace jpg;

namespace {

struct FaultGuard {
    FaultGuard() { faults::reset(); }
    ~FaultGuard() { faults::reset(); }
};

// A worker that allocates a block the caller frees, and makes one more
// allocation that the plan may fail.
struct WorkerJob {
    HGLOBAL made = nullptr;
    bool secondFailed = false;
    static void run(void *context) {
        auto *job = static_cast<WorkerJob *>(context);
        job->made = GlobalAlloc(GHND, 16);
        HGLOBAL second = GlobalAlloc(GHND, 16);
        job->secondFailed = second == nullptr;
        if (second != nullptr) GlobalFree(second);
    }
};

}  // namespace

TEST(Threads, WorkerFollowsItsCallersFaultPlan) {
    FaultGuard guard;
    const int held = faults::heldBlocks();
    // The caller plans the second allocation to fail: it happens on the worker.
    faults::failNth(faults::Op::Alloc, 2);
    WorkerJob job;
    {
        Thread worker;
        ASSERT_TRUE(worker.start(WorkerJob::run, &job));
    }
    EXPECT_TRUE(faults::fired());
    EXPECT_TRUE(job.secondFailed);
    EXPECT_EQ(faults::calls(faults::Op::Alloc), 2);
    // Made on the worker, freed here: the call's count balances.
    ASSERT_NE(job.made, nullptr);
    EXPECT_EQ(faults::heldBlocks(), held + 1);
    GlobalFree(job.made);
    EXPECT_EQ(faults::heldBlocks(), held);
}

TEST(Threads, AFailedStartIsReportedAndTheQueueHandsOverInOrder) {
    FaultGuard guard;
    faults::failNth(faults::Op::Thread, 1);
    Thread refused;
    EXPECT_FALSE(refused.start(WorkerJob::run, nullptr));
    EXPECT_FALSE(refused.started());
    refused.join();  // nothing to wait for

    // Producer and consumer through two semaphores and a ring of two slots.
    struct Ring {
        Semaphore free{2}, full{0};
        int slots[2] = {};
        std::atomic<int> sum{0};
    } ring;
    ASSERT_TRUE(ring.free.ok() && ring.full.ok());
    Thread consumer;
    ASSERT_TRUE(consumer.start(
        [](void *context) {
            auto *r = static_cast<Ring *>(context);
            for (int i = 0; i < 1000; ++i) {
                r->full.wait();
                // Each value must arrive in its turn.
                r->sum += r->slots[i % 2] == i ? 1 : 0;
                r->free.post();
            }
        },
        &ring));
    for (int i = 0; i < 1000; ++i) {
        ring.free.wait();
        ring.slots[i % 2] = i;
        ring.full.post();
    }
    consumer.join();
    EXPECT_EQ(ring.sum, 1000);
}

TEST(Threads, SharedWorkGivesEveryItemToOneThreadAndPublishesIt) {
    // Rows of 1,000 items (chunks of 7: a short last one), shared by a
    // worker and the caller; the caller reads every item after the wait.
    struct Rows {
        SharedWork work;
        Semaphore ready{0}, taken{0};
        uint32_t items[1000] = {};
        std::atomic<bool> stop{false};
        static void share(Rows &r, uint32_t tag) {
            uint32_t first = 0, end = 0;
            while (r.work.claim(first, end)) {
                for (uint32_t i = first; i < end; ++i) r.items[i] += tag;
                r.work.finish(end - first);
            }
        }
    } rows;
    ASSERT_TRUE(rows.ready.ok() && rows.taken.ok());
    Thread worker;
    ASSERT_TRUE(worker.start(
        [](void *context) {
            auto *r = static_cast<Rows *>(context);
            for (;;) {
                r->ready.wait();
                if (r->stop) return;
                Rows::share(*r, 1);
                r->taken.post();
            }
        },
        &rows));
    for (uint32_t round = 0; round < 200; ++round) {
        for (uint32_t &item : rows.items) item = 0;
        rows.work.reset(1000, 7);
        rows.ready.post();
        Rows::share(rows, 1);
        rows.work.waitUntilDone();
        uint32_t once = 0;
        for (uint32_t item : rows.items) once += item == 1 ? 1 : 0;
        ASSERT_EQ(once, 1000u) << round;
        rows.taken.wait();
    }
    rows.stop = true;
    rows.ready.post();
}

TEST(CallOptions, KernelSetsResolveToWhatTheProcessorRuns) {
    const CpuFeatures cpu = detectCpuFeatures();
    EXPECT_EQ(resolveKernels(KernelSet::Reference), KernelSet::Reference);
    EXPECT_EQ(resolveKernels(KernelSet::Plain), KernelSet::Plain);
    const KernelSet best = cpu.avx2 && cpu.sse2 ? KernelSet::Avx2 : cpu.sse2 ? KernelSet::Sse2 : KernelSet::Plain;
    EXPECT_EQ(resolveKernels(KernelSet::Auto), best);
    EXPECT_EQ(resolveKernels(KernelSet::Avx2), best);
    EXPECT_TRUE(kernelSetAvailable(resolveKernels(KernelSet::Sse2)));
    for (const char *name : {"reference", "plain", "sse2", "avx2", "auto"}) {
        KernelSet set{};
        ASSERT_TRUE(parseKernelSet(name, set)) << name;
        EXPECT_STREQ(kernelSetName(set), name);
    }
    KernelSet set{};
    EXPECT_FALSE(parseKernelSet("avx512", set));
    EXPECT_EQ(resolveThreads(CallOptions{KernelSet::Auto, 1}, 50000000), 1u);
    EXPECT_EQ(resolveThreads(CallOptions{KernelSet::Auto, 2}, 100), 2u);
    EXPECT_EQ(resolveThreads(CallOptions{}, 100), 1u);

    // Only the processors the process may run on count: under a mask of one,
    // a large picture keeps to one thread.
    cpu_set_t all, one;
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    CPU_ZERO(&one);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &all)) {
            CPU_SET(cpu, &one);
            break;
        }
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    EXPECT_EQ(processorCount(), 1u);
    EXPECT_EQ(resolveThreads(CallOptions{}, 50000000), 1u);
    ASSERT_EQ(sched_setaffinity(0, sizeof all, &all), 0);
}
