#include "codec/codec_common.h"

#include <cstdlib>

namespace jpg::codec {

int32_t report(JpgError *error, int32_t code, const std::string &message) {
    if (error != nullptr) {
        error->code = code;
        const size_t n = message.size() < sizeof error->message - 1 ? message.size() : sizeof error->message - 1;
        std::memcpy(error->message, message.data(), n);
        error->message[n] = '\0';
    }
    return code;
}

int32_t statusOf(Result result) {
    switch (result) {
    case Result::Ok: return JPG_OK;
    case Result::Damaged: return JPG_WARNING;
    case Result::NotFormat: return JPG_ERR_NOT_JPEG;
    case Result::Unsupported: return JPG_ERR_UNSUPPORTED;
    case Result::Malformed: return JPG_ERR_MALFORMED;
    case Result::NoMemory: return JPG_ERR_NO_MEMORY;
    case Result::TooLarge: return JPG_ERR_TOO_LARGE;
    default: return JPG_ERR_MALFORMED;
    }
}

bool kernelSetOf(int32_t kernels, KernelSet &set) {
    switch (kernels) {
    case JPG_KERNELS_AUTO: set = KernelSet::Auto; return true;
    case JPG_KERNELS_REFERENCE: set = KernelSet::Reference; return true;
    case JPG_KERNELS_PLAIN: set = KernelSet::Plain; return true;
    case JPG_KERNELS_SSE2: set = KernelSet::Sse2; return true;
    case JPG_KERNELS_AVX2: set = KernelSet::Avx2; return true;
    default: return false;
    }
}

bool threadsOf(int32_t threads, uint32_t &out) {
    if (threads < 0) return false;
    out = static_cast<uint32_t>(threads);
    return true;
}

uint32_t bytesPerPixel(int32_t format) {
    switch (format) {
    case JPG_FORMAT_GREY: return 1;
    case JPG_FORMAT_RGB:
    case JPG_FORMAT_BGR: return 3;
    case JPG_FORMAT_RGBA:
    case JPG_FORMAT_BGRA: return 4;
    default: return 0;
    }
}

void *allocateForCaller(size_t bytes) {
    void *block = std::malloc(bytes == 0 ? 1 : bytes);
    preferLargePages(block, bytes);
    return block;
}

}  // namespace jpg::codec

extern "C" {

JPG_CODEC_API void jpgFree(void *block) { std::free(block); }

JPG_CODEC_API const char *jpgVersion(void) {
#ifdef JPG_VERSION
    return JPG_VERSION;
#else
    return "0.0.0";
#endif
}

}  // extern "C"
