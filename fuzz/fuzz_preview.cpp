// iRead_APP1 on arbitrary segment bytes.
#include <cstring>
#include <vector>

#include "base/platform.h"
#include "jpg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The reader needs the file's first 4,820 bytes; shorter inputs are
    // padded with zeros, longer ones cut.
    std::vector<uint8_t> segment(4820, 0);
    std::memcpy(segment.data(), data, size < segment.size() ? size : segment.size());
    std::vector<uint8_t> dib(14440, 0xEE);
    const int32_t status = iRead_APP1(segment.data(), dib.data());
    if (status != 0 && status != -1) __builtin_trap();
    if (jpg::faults::heldBlocks() != 0) __builtin_trap();
    // The header is written either way.
    if (dib[0] != 40 || dib[4] != 80 || dib[8] != 60 || dib[14] != 24) __builtin_trap();
    return 0;
}
