// The picture of a file whose scans were decoded into the coefficient
// buffer (progressive, arithmetic-coded, multi-scan sequential): the same
// strip loop, transforms, upsampling and conversion as the baseline path,
// its front end taking each MCU row from the buffer instead of decoding it.
#ifndef JPG_DECODER_PICTURE_FROM_COEFFICIENTS_H
#define JPG_DECODER_PICTURE_FROM_COEFFICIENTS_H

#include <string>

#include "decoder/coefficient_decoder.h"
#include "decoder/decoder_internal.h"
#include "decoder/row_sink.h"

namespace jpg {

// Decodes every scan of the file whose headers `facts` describes (read with
// acceptBuffered from the memory `source`) into a coefficient buffer within
// `limits`, then makes the picture into `sink`. Ok; Damaged (the picture
// complete all the same); TooLarge (a limit: `reason` says which),
// Malformed, NoMemory, WriteFailed, with `reason`.
Result decodeFromCoefficients(ByteSource &source, OwnedDecoderState &owned, HeaderFacts &facts,
                              const CoefficientLimits &limits, const RowSink &sink, const DecodeRequest &request,
                              std::string &reason);

// The next MCU row of the buffer (ctx.coefficients, row ctx.loadedMcuRows)
// into `rows`, as decodeMcuRowDirect (with the kinds) or decodeMcuRow
// leaves a decoded row.
void loadMcuRowDirect(DecodeContext &ctx, CoefficientRows &rows, BlockKinds &kinds);
void loadMcuRow(DecodeContext &ctx, CoefficientRows &rows);

}  // namespace jpg

#endif  // JPG_DECODER_PICTURE_FROM_COEFFICIENTS_H
