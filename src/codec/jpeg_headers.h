// The headers of a JPEG file in memory, read by the decoder's own parser up
// to the first scan, for jpgDecode and jpgReadInfo alike.
#ifndef JPG_CODEC_JPEG_HEADERS_H
#define JPG_CODEC_JPEG_HEADERS_H

#include <cstddef>
#include <cstdint>

#include "decoder/byte_source.h"
#include "decoder/decoder_internal.h"
#include "decoder/decoder_state.h"
#include "jpg_codec.h"

namespace jpg::codec {

struct JpegHeaders {
    ByteSource source;  // at the entropy-coded data (or just after the first FF DA, when buffered)
    OwnedDecoderState owned;
    HeaderFacts facts;
    bool buffered = false;  // the file needs the coefficient buffer (progressive, ...)
};

// Reads the headers of jpeg[0, size) into `headers`: JPG_OK, or the status
// and reason (in `error`) of a file the decoder refuses.
int32_t readJpegHeaders(const void *jpeg, size_t size, JpegHeaders &headers, JpgError *error);

// A side of the picture 1 / 2^scaleLog2 the size, rounded up.
constexpr uint32_t scaledSide(uint32_t side, uint32_t scaleLog2) {
    return (side + (1u << scaleLog2) - 1) >> scaleLog2;
}

}  // namespace jpg::codec

#endif  // JPG_CODEC_JPEG_HEADERS_H
