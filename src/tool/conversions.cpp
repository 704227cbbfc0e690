// The conversions with options, and the reasons they would refuse a file:
// the checks the import and the export run themselves.
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

int32_t jpgToolKernelsAvailable(int32_t kernels) {
    if (kernels < 0 || kernels >= jpg::tool::kKernelSetCount) return 0;
    return jpg::kernelSetAvailable(jpg::tool::kKernelSets[kernels]) ? 1 : 0;
}

int32_t jpgToolImport(const char *jpegPath, const char *bmpPath, const JpgToolOptions *options) {
    return jpg::importJpegFile(jpegPath, bmpPath, jpg::tool::callOptions(options));
}

int32_t jpgToolExport(const char *bmpPath, const char *jpegPath, int32_t thumbnailLayout, int32_t compressionLevel,
                      const JpgToolOptions *options) {
    return jpg::exportJpegFile(bmpPath, jpegPath, thumbnailLayout, compressionLevel,
                               jpg::tool::callOptions(options));
}

int32_t jpgToolImportRefusal(const char *jpegPath, char *reason, size_t reasonSize) {
    try {
        jpg::OpenFile jpeg;
        jpg::OwnedDecoderState owned;
        jpg::HeaderFacts headers;
        if (jpg::openJpeg(jpeg, jpegPath, owned, headers) == jpg::Result::Ok) return 0;
        jpg::tool::giveReason(headers.reason, reason, reasonSize);
    } catch (...) {
        jpg::tool::giveReason("out of memory", reason, reasonSize);
    }
    return 1;
}

int32_t jpgToolExportRefusal(const char *bmpPath, char *reason, size_t reasonSize) {
    try {
        std::string why;
        if (jpg::checkExportSource(bmpPath, why) == jpg::Result::Ok) return 0;
        jpg::tool::giveReason(why, reason, reasonSize);
    } catch (...) {
        jpg::tool::giveReason("out of memory", reason, reasonSize);
    }
    return 1;
}

int32_t jpgToolSameFile(const char *a, const char *b) {
    return a != nullptr && b != nullptr && jpg::sameFile(a, b) ? 1 : 0;
}

}  // extern "C"
