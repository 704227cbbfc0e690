// iExportJPG on arbitrary BMP bytes; the first two bytes choose the preview
// layout and the compression level, and bit 2 of the first the export of
// ordinary files instead: BMP rows in their declared order, PPM and PGM.
#include <cstdio>

#include "encoder/encoder_state.h"
#include "base/platform.h"
#include "fuzz_util.h"
#include "jpg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    const int32_t layout = data[0] % 4;
    const bool ordinary = (data[0] & 4) != 0;
    const int32_t level = static_cast<int8_t>(data[1]);
    data += 2;
    size -= 2;
    if (fuzzutil::bmpPixels(data, size) > fuzzutil::kMaxPixels) return -1;
    static const std::string in = fuzzutil::scratchPath("in.bmp");
    static const std::string out = fuzzutil::scratchPath("out.jpg");
    if (!fuzzutil::writeScratch(in, data, size)) return 0;
    int32_t status;
    if (ordinary) {
        jpg::CallOptions options;
        options.rowOrder = jpg::RowOrder::Standard;
        jpg::SourceOptions source;
        source.netpbm = true;
        const uint16_t codecLevel = jpg::encoderLevel(level);
        status = jpg::exportJpeg(in.c_str(), out.c_str(), static_cast<uint16_t>(layout), codecLevel, options,
                                 source) == jpg::Result::Ok
                     ? 0
                     : 1;
    } else {
        status = iExportJPG(in.c_str(), out.c_str(), layout, level);
    }
    if (status != 0 && status != 1) __builtin_trap();
    if (jpg::faults::heldBlocks() != 0 || jpg::faults::heldFiles() != 0) __builtin_trap();
    FILE *f = std::fopen(out.c_str(), "rb");
    if ((f != nullptr) != (status == 0)) __builtin_trap();
    if (f != nullptr) {
        // Every export starts with SOI and the preview segment.
        unsigned char head[4] = {};
        const size_t n = std::fread(head, 1, 4, f);
        std::fclose(f);
        if (n != 4 || head[0] != 0xFF || head[1] != 0xD8 || head[2] != 0xFF || head[3] != 0xE1) __builtin_trap();
    }
    std::remove(out.c_str());
    return 0;
}
