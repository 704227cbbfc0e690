// The import's strip loop: the entropy-coded data decoded, reconstructed
// and written strip by strip, on one thread or two (import_pipeline.cpp).
#ifndef JPG_DECODER_IMPORT_PIPELINE_H
#define JPG_DECODER_IMPORT_PIPELINE_H

#include <cstdint>

#include "base/result.h"
#include "decoder/decoder_internal.h"
#include "decoder/decoder_kernels.h"
#include "decoder/row_sink.h"

namespace jpg {

// Decodes every strip of the scan into `writer` (its headers written), with
// `kernels` (null: the reference stages, on the caller's thread alone) on
// `threads` threads (1 or 2; one when no second one starts). The scan is
// laid out and started and its input open. Ok; IoError when the input could
// not be read, WriteFailed when the output could not be written, NoMemory.
Result decodeScanStrips(DecodeContext &ctx, const DecoderKernels *kernels, uint32_t threads,
                        const RowSink &writer);

}  // namespace jpg

#endif  // JPG_DECODER_IMPORT_PIPELINE_H
