// The BMP header reader on its own.
#include "frame/bmp_file.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::string in = fuzzutil::scratchPath("hdr.bmp");
    if (!fuzzutil::writeScratch(in, data, size)) return 0;
    {
        jpg::OpenFile file;
        if (!file.open(in.c_str(), OF_READ)) return 0;
        jpg::BmpHeaders headers;
        if (jpg::readBmpHeaders(file, headers) == jpg::Result::Ok) {
            jpg::Locked<uint8_t> info(headers.info.handle());
            // The block holds the whole info header and the table.
            volatile uint8_t last = info[headers.infoSize + 4 * headers.clrUsed - 1];
            (void)last;
        }
    }
    if (jpg::faults::heldBlocks() != 0 || jpg::faults::heldFiles() != 0) __builtin_trap();
    return 0;
}
