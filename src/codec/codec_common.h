// What the codec API's calls share: their error records, the reading of the
// caller's settings records (which may be older, shorter versions of ours),
// the status of an internal result, and the blocks handed to callers.
#ifndef JPG_CODEC_CODEC_COMMON_H
#define JPG_CODEC_CODEC_COMMON_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/call_options.h"
#include "base/result.h"
#include "jpg_codec.h"

namespace jpg::codec {

// Fills the caller's error record (may be null) and returns `code`.
int32_t report(JpgError *error, int32_t code, const std::string &message = std::string());

// The status for an internal result, when nothing more specific is known.
int32_t statusOf(Result result);

// Reads a caller's record of type T into `out`, which holds the defaults:
// as far as the caller's `size` says (at least the size field itself), the
// rest keeping the defaults. False (JPG_ERR_ARGUMENT) when the size is
// smaller than the field or larger than today's record.
template <typename T>
bool readRecord(const T *given, T &out) {
    if (given == nullptr) return true;
    const uint32_t size = given->size;
    if (size < sizeof(uint32_t) || size > sizeof(T)) return false;
    std::memcpy(&out, given, size);
    out.size = sizeof(T);
    return true;
}

// The kernel set of a JPG_KERNELS_* value; false for a value out of range.
bool kernelSetOf(int32_t kernels, KernelSet &set);

// The threads a call may use, from a settings record's `threads`: 0 auto, 1
// the caller's alone, N at most N (the pipelines use two at most). False
// for a negative count.
bool threadsOf(int32_t threads, uint32_t &out);

// Bytes a pixel of a JPG_FORMAT_* format takes, 0 for a format out of range.
uint32_t bytesPerPixel(int32_t format);

// Blocks handed to callers, freed with jpgFree: from the C library's heap,
// so that any caller's jpgFree frees what any call made.
void *allocateForCaller(size_t bytes);

}  // namespace jpg::codec

#endif  // JPG_CODEC_CODEC_COMMON_H
