// iShowMeta on arbitrary BMP bytes, drawn on a small canvas.
#include <vector>

#include "base/gdi.h"
#include "base/platform.h"
#include "fuzz_util.h"
#include "jpg.h"
#include "jpg_canvas.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (fuzzutil::bmpPixels(data, size) > fuzzutil::kMaxPixels) return -1;
    static const std::string in = fuzzutil::scratchPath("show.bmp");
    if (!fuzzutil::writeScratch(in, data, size)) return 0;
    std::vector<uint32_t> pixels(64 * 48, 0x123456);
    JpgCanvas canvas{64, 48, pixels.data()};
    const int32_t status = iShowMeta(0, &canvas, in.c_str());
    if (status != 0 && status != 1) __builtin_trap();
    if (jpg::faults::heldBlocks() != 0 || jpg::faults::heldFiles() != 0 || jpg::faults::heldGdiObjects() != 0)
        __builtin_trap();
    for (uint32_t p : pixels)
        if (p > 0xFFFFFF) __builtin_trap();
    return 0;
}
