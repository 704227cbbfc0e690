// Batches: many conversions, one per processor, each on one thread, through
// the library's thread helper.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "base/threads.h"
#include "tool/tool_internal.h"

namespace jpg::tool {

namespace {

struct BatchWork {
    const JpgToolConversion *conversions = nullptr;
    JpgToolOutcome *outcomes = nullptr;
    size_t count = 0;
    CallOptions options;
    std::atomic<size_t> next{0};
    // Indices of the finished conversions, in the order they finished; -1
    // where a worker has claimed the place but not written it yet.
    std::unique_ptr<std::atomic<long long>[]> finished;
    std::atomic<size_t> finishedCount{0};
    Semaphore done{0};

    void convertOne(size_t i) {
        const JpgToolConversion &c = conversions[i];
        // A record without both names is refused as jpgToolConvert refuses it.
        const bool stream = c.input != nullptr && c.output != nullptr &&
                            (std::string(c.input) == JPG_TOOL_STANDARD_STREAM ||
                             std::string(c.output) == JPG_TOOL_STANDARD_STREAM);
        if (stream) {
            outcomes[i] = JpgToolOutcome{};
            outcomes[i].status = 1;
            giveReason(c.input, outcomes[i].file, sizeof outcomes[i].file);
            giveReason("standard streams cannot be part of a batch", outcomes[i].message, sizeof outcomes[i].message);
        } else {
            convertFile(&c, options, &outcomes[i]);
        }
    }
};

void batchWorker(void *context) {
    auto &work = *static_cast<BatchWork *>(context);
    for (size_t i; (i = work.next.fetch_add(1)) < work.count;) {
        work.convertOne(i);
        work.finished[work.finishedCount.fetch_add(1)].store(static_cast<long long>(i));
        work.done.post();
    }
}

}  // namespace

}  // namespace jpg::tool

extern "C" void jpgToolConvertBatch(const JpgToolConversion *conversions, JpgToolOutcome *outcomes, size_t count,
                                    const JpgToolOptions *options, JpgToolProgress progress, void *context) {
    using namespace jpg;
    using namespace jpg::tool;
    if (conversions == nullptr || outcomes == nullptr || count == 0) return;
    BatchWork work;
    work.conversions = conversions;
    work.outcomes = outcomes;
    work.count = count;
    // The files share the processors: each conversion keeps to one thread.
    work.options = callOptions(options);
    work.options.threads = 1;
    work.finished.reset(new std::atomic<long long>[count]);
    for (size_t i = 0; i < count; ++i) work.finished[i].store(-1);

    std::vector<std::unique_ptr<Thread>> threads;
    const size_t workers = processorCount() < count ? processorCount() : count;
    if (work.done.ok()) {
        for (size_t t = 0; t < workers; ++t) {
            threads.emplace_back(new Thread);
            if (!threads.back()->start(batchWorker, &work)) break;
        }
    }
    if (threads.empty() || !threads.front()->started()) {
        // No worker could be started: every file on this thread.
        for (size_t i = 0; i < count; ++i) {
            work.convertOne(i);
            if (progress != nullptr) progress(context, i);
        }
        return;
    }
    for (size_t reported = 0; reported < count;) {
        work.done.wait();
        long long index;
        while (reported < count && (index = work.finished[reported].load()) >= 0) {
            if (progress != nullptr) progress(context, static_cast<size_t>(index));
            ++reported;
        }
    }
    for (auto &thread : threads) thread->join();
}
