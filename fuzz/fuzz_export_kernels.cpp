// The export's fast paths against its reference path on arbitrary BMP
// bytes: the first byte chooses the preview layout, the second the
// compression level, the third the kernel set (bits 0-1: plain, sse2, avx2,
// auto) and the thread count (bit 2: 1 or 2). Both paths must give the same
// result and the same bytes.
#include <cstdio>
#include <vector>

#include "encoder/encoder_state.h"
#include "base/platform.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 3) return 0;
    const auto layout = static_cast<uint16_t>(data[0] % 4);
    const uint16_t level = jpg::encoderLevel(static_cast<int8_t>(data[1]));
    const jpg::CallOptions fast = fuzzutil::fastOptions(data[2]);
    data += 3;
    size -= 3;
    if (fuzzutil::bmpPixels(data, size) > fuzzutil::kMaxPixels) return -1;
    static const std::string in = fuzzutil::scratchPath("in.bmp");
    static const std::string out = fuzzutil::scratchPath("out.jpg");
    if (!fuzzutil::writeScratch(in, data, size)) return 0;

    std::remove(out.c_str());
    const jpg::Result expected = jpg::exportJpeg(in.c_str(), out.c_str(), layout, level,
                                                 jpg::CallOptions{jpg::KernelSet::Reference, 1});
    const std::vector<uint8_t> reference = fuzzutil::readScratch(out);
    std::remove(out.c_str());
    const jpg::Result result = jpg::exportJpeg(in.c_str(), out.c_str(), layout, level, fast);
    if (result != expected || fuzzutil::readScratch(out) != reference) __builtin_trap();
    if (jpg::faults::heldBlocks() != 0 || jpg::faults::heldFiles() != 0) __builtin_trap();
    std::remove(out.c_str());
    return 0;
}
