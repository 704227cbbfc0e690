// The coefficient decoder on arbitrary JPEG bytes read in memory, the
// headers parsed with the buffered frames accepted: progressive,
// arithmetic-coded and multi-scan files, and any other the parser takes.
#include "decoder/coefficient_decoder.h"
#include "decoder/decoder_state.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (fuzzutil::jpegPixels(data, size) > fuzzutil::kMaxPixels) return -1;
    if (size < 2 || data[0] != 0xFF || data[1] != 0xD8) return 0;
    {
        jpg::OwnedDecoderState owned;
        if (owned.init() != jpg::Result::Ok) return 0;
        jpg::ByteSource source = jpg::ByteSource::ofMemory(data, size);
        source.position = 2;
        jpg::HeaderFacts facts;
        facts.acceptBuffered = true;
        if (jpg::readHeaders(source, &owned.state, facts) == jpg::Result::Ok) {
            // Fewer scans than the default, so that an input of many empty
            // arithmetic-coded scans over a large picture stays quick.
            jpg::CoefficientLimits limits;
            limits.maxScans = 64;
            jpg::CoefficientBuffer buffer;
            jpg::CoefficientReport report;
            const jpg::Result r = jpg::decodeCoefficients(source, &owned.state, facts, limits, buffer, report);
            if (r != jpg::Result::Ok && report.reason == nullptr) __builtin_trap();
            if ((r == jpg::Result::Ok) == report.damaged && (r == jpg::Result::Ok || r == jpg::Result::Damaged))
                __builtin_trap();
            if (r == jpg::Result::Ok || r == jpg::Result::Damaged) {
                if (owned.state.scanComponents != owned.state.frameComponents || report.scans == 0) __builtin_trap();
                // Every coefficient is there to be read.
                int32_t sum = 0;
                for (uint32_t c = 0; c < buffer.components; ++c) {
                    const jpg::CoefficientPlane &p = buffer.planes[c];
                    for (size_t i = 0; i < size_t{p.widthBlocks} * p.heightBlocks * 64; i += 61) sum += p.blocks[i];
                }
                volatile int32_t sink = sum;
                (void)sink;
            }
        }
    }
    if (jpg::faults::heldBlocks() != 0) __builtin_trap();
    return 0;
}
