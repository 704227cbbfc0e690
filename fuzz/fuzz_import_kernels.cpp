// The import's fast paths against its reference path on arbitrary JPEG
// bytes: the first byte chooses the kernel set (bits 0-1: plain, sse2, avx2,
// auto) and the thread count (bit 2: 1 or 2). Both paths must give the same
// status and the same bytes.
#include <cstdio>
#include <vector>

#include "decoder/decoder_internal.h"
#include "base/platform.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const jpg::CallOptions fast = fuzzutil::fastOptions(data[0]);
    ++data;
    --size;
    if (fuzzutil::jpegPixels(data, size) > fuzzutil::kMaxDecodedPixels) return -1;
    static const std::string in = fuzzutil::scratchPath("in.jpg");
    static const std::string out = fuzzutil::scratchPath("out.bmp");
    if (!fuzzutil::writeScratch(in, data, size)) return 0;

    std::remove(out.c_str());
    const jpg::CallOptions reference{jpg::KernelSet::Reference, 1};
    const int32_t expected = jpg::importJpegFile(in.c_str(), out.c_str(), reference);
    const std::vector<uint8_t> referenceBytes = fuzzutil::readScratch(out);
    std::remove(out.c_str());
    const int32_t status = jpg::importJpegFile(in.c_str(), out.c_str(), fast);
    if (status != expected || fuzzutil::readScratch(out) != referenceBytes) __builtin_trap();
    if (jpg::faults::heldBlocks() != 0 || jpg::faults::heldFiles() != 0) __builtin_trap();
    std::remove(out.c_str());
    return 0;
}
