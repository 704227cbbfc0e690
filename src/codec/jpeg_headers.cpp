#include "codec/jpeg_headers.h"

#include "base/markers.h"
#include "codec/codec_common.h"
#include "decoder/coefficient_decoder.h"

namespace jpg::codec {

int32_t readJpegHeaders(const void *jpeg, size_t size, JpegHeaders &headers, JpgError *error) {
    if (jpeg == nullptr) return report(error, JPG_ERR_ARGUMENT, "a null pointer");
    const auto *bytes = static_cast<const uint8_t *>(jpeg);
    if (size < 2 || bytes[0] != marker::kPrefix || bytes[1] != marker::kSoi)
        return report(error, JPG_ERR_NOT_JPEG, "not a JPEG file");
    if (headers.owned.init() != Result::Ok) return report(error, JPG_ERR_NO_MEMORY, "out of memory");
    headers.source = ByteSource::ofMemory(bytes, size);
    headers.source.position = 2;
    headers.facts.acceptBuffered = true;
    const Result r = readHeaders(headers.source, &headers.owned.state, headers.facts);
    if (r != Result::Ok) {
        const char *reason = headers.facts.reason != nullptr ? headers.facts.reason : "the headers cannot be read";
        return report(error, r == Result::IoError ? JPG_ERR_MALFORMED : statusOf(r), reason);
    }
    headers.buffered = needsCoefficientBuffer(headers.owned.state, headers.facts);
    return JPG_OK;
}

}  // namespace jpg::codec
