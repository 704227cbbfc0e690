// The JPEG marker parser and the BMP header reader on their own; the first
// byte chooses which.
#include "decoder/decoder_internal.h"
#include "base/bmp_file.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const bool jpeg = data[0] & 1;
    static const std::string in = fuzzutil::scratchPath("headers");
    if (!fuzzutil::writeScratch(in, data + 1, size - 1)) return 0;
    {
        jpg::OpenFile file;
        if (!file.open(in.c_str(), OF_READ)) return 0;
        if (jpeg) {
            DecoderState state;
            if (jpg::initDecoderState(&state) == jpg::Result::Ok) {
                jpg::HeaderFacts info;
                jpg::ByteSource source = jpg::ByteSource::ofFile(file.get());
                const jpg::Result r = jpg::readHeaders(source, &state, info);
                if (r == jpg::Result::Ok && (state.frameComponents == 0 || state.scanComponents == 0))
                    __builtin_trap();
                jpg::freeDecoderTables(&state);
            }
        } else {
            jpg::BmpHeaders headers;
            if (jpg::readBmpHeaders(file, headers) == jpg::Result::Ok) {
                jpg::Locked<uint8_t> info(headers.info.handle());
                // The block holds the whole info header and the table.
                volatile uint8_t last = info[headers.infoSize + 4 * headers.clrUsed - 1];
                (void)last;
            }
        }
    }
    if (jpg::faults::heldBlocks() != 0 || jpg::faults::heldFiles() != 0) __builtin_trap();
    return 0;
}
