// Resolving the per-call options against the processor.
#include "base/call_options.h"

#include <cstring>

#include "base/cpu_features.h"
#include "base/threads.h"

namespace jpg {

namespace {

constexpr const char *kNames[] = {"reference", "plain", "sse2", "avx2", "auto"};

// Pictures from this size on are worth a second thread.
constexpr uint64_t kThreadedPixels = 1000000;

}  // namespace

bool kernelSetAvailable(KernelSet set) {
    switch (set) {
    case KernelSet::Sse2: return detectCpuFeatures().sse2;
    case KernelSet::Avx2: {
        const CpuFeatures f = detectCpuFeatures();
        return f.sse2 && f.avx2;
    }
    default: return true;
    }
}

KernelSet resolveKernels(KernelSet requested) {
    if (requested == KernelSet::Reference || requested == KernelSet::Plain) return requested;
    const CpuFeatures f = detectCpuFeatures();
    if (requested != KernelSet::Sse2 && f.sse2 && f.avx2) return KernelSet::Avx2;
    return f.sse2 ? KernelSet::Sse2 : KernelSet::Plain;
}

uint32_t resolveThreads(const CallOptions &options, uint64_t pixels) {
    if (options.threads == 1) return 1;
    if (options.threads >= 2) return 2;
    return pixels >= kThreadedPixels && processorCount() > 1 ? 2 : 1;
}

const char *kernelSetName(KernelSet set) {
    const auto i = static_cast<unsigned>(set);
    return i < sizeof kNames / sizeof kNames[0] ? kNames[i] : "?";
}

bool parseKernelSet(const char *name, KernelSet &set) {
    if (name == nullptr) return false;
    for (unsigned i = 0; i < sizeof kNames / sizeof kNames[0]; ++i) {
        if (std::strcmp(name, kNames[i]) == 0) {
            set = static_cast<KernelSet>(i);
            return true;
        }
    }
    return false;
}

}  // namespace jpg
