// The tool options: kernel sets by name, and the codec's per-call options of
// a tool's record.
#include <cstring>

#include "decoder/decoder_internal.h"
#include "encoder/encoder_state.h"
#include "tool/tool_internal.h"

namespace jpg::tool {

void giveReason(const std::string &text, char *reason, size_t size) {
    if (reason == nullptr || size == 0) return;
    const size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(reason, text.data(), n);
    reason[n] = '\0';
}

namespace {

// JPG_TOOL_KERNELS_* and the kernel sets, in the order of their values.
constexpr KernelSet kKernelSets[] = {KernelSet::Auto, KernelSet::Reference, KernelSet::Plain, KernelSet::Sse2,
                                     KernelSet::Avx2};
constexpr int32_t kKernelSetCount = sizeof kKernelSets / sizeof kKernelSets[0];

}  // namespace

CallOptions callOptions(const JpgToolOptions *options) {
    CallOptions call;
    if (options == nullptr) return call;
    if (options->kernels >= 0 && options->kernels < kKernelSetCount) call.kernels = kKernelSets[options->kernels];
    call.threads = options->threads < 0 ? 0 : static_cast<uint32_t>(options->threads);
    if (options->rowOrder == JPG_TOOL_ROWS_STANDARD) call.rowOrder = RowOrder::Standard;
    call.files.durable = options->sync != 0;
    call.files.watch.notify = options->temporaryFile;
    call.files.watch.context = options->temporaryFileContext;
    return call;
}

}  // namespace jpg::tool

extern "C" {

void jpgToolDefaultOptions(JpgToolOptions *options) {
    if (options != nullptr) *options = JpgToolOptions{};
}

int32_t jpgToolKernelsByName(const char *name) {
    jpg::KernelSet set{};
    if (!jpg::parseKernelSet(name, set)) return -1;
    for (int32_t i = 0; i < jpg::tool::kKernelSetCount; ++i)
        if (jpg::tool::kKernelSets[i] == set) return i;
    return -1;
}

const char *jpgToolKernelsName(int32_t kernels) {
    if (kernels < 0 || kernels >= jpg::tool::kKernelSetCount) return nullptr;
    return jpg::kernelSetName(jpg::tool::kKernelSets[kernels]);
}

int32_t jpgToolKernelsAvailable(int32_t kernels) {
    if (kernels < 0 || kernels >= jpg::tool::kKernelSetCount) return 0;
    return jpg::kernelSetAvailable(jpg::tool::kKernelSets[kernels]) ? 1 : 0;
}

}  // extern "C"
