// iImportJPG on arbitrary JPEG bytes.
#include <cstdio>

#include "base/platform.h"
#include "fuzz_util.h"
#include "jpg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (fuzzutil::jpegPixels(data, size) > fuzzutil::kMaxDecodedPixels) return -1;
    static const std::string in = fuzzutil::scratchPath("in.jpg");
    static const std::string out = fuzzutil::scratchPath("out.bmp");
    if (!fuzzutil::writeScratch(in, data, size)) return 0;
    const int32_t status = iImportJPG(in.c_str(), out.c_str());
    if (status < 0 || status > 3) __builtin_trap();
    if (jpg::faults::heldBlocks() != 0 || jpg::faults::heldFiles() != 0) __builtin_trap();
    // Statuses 1 and 2 leave no output; 0 and 3 a complete one.
    FILE *f = std::fopen(out.c_str(), "rb");
    if ((f != nullptr) != (status == 0 || status == 3)) __builtin_trap();
    if (f != nullptr) std::fclose(f);
    std::remove(out.c_str());
    return 0;
}
