// jpgDecode: a JPEG file in memory to the caller's pixels, through the
// import's stages (the memory byte source, the row sink of the caller's
// pixels) or, for files that need every coefficient first, the coefficient
// decoder.
#include <algorithm>

#include "codec/codec_common.h"
#include "codec/jpeg_headers.h"
#include "decoder/decoder_internal.h"
#include "decoder/picture_from_coefficients.h"

namespace jpg::codec {

namespace {

// The settings of a call, checked.
struct DecodeCall {
    JpgDecodeSettings settings{};
    PixelFormat format = PixelFormat::Rgb;
    uint32_t scaleLog2 = 0;
    CallOptions options;
};

int32_t readSettings(const JpgDecodeSettings *given, DecodeCall &call, JpgError *error) {
    jpgDefaultDecodeSettings(&call.settings);
    if (!readRecord(given, call.settings))
        return report(error, JPG_ERR_ARGUMENT, "the settings record's size is not one this library knows");
    const JpgDecodeSettings &s = call.settings;
    if (bytesPerPixel(s.format) == 0) return report(error, JPG_ERR_ARGUMENT, "the pixel format is out of range");
    call.format = static_cast<PixelFormat>(s.format);
    switch (s.scale) {
    case 1: call.scaleLog2 = 0; break;
    case 2: call.scaleLog2 = 1; break;
    case 4: call.scaleLog2 = 2; break;
    case 8: call.scaleLog2 = 3; break;
    default: return report(error, JPG_ERR_ARGUMENT, "the scale is not 1, 2, 4 or 8");
    }
    if (!kernelSetOf(s.kernels, call.options.kernels))
        return report(error, JPG_ERR_ARGUMENT, "the kernel set is out of range");
    if (!threadsOf(s.threads, call.options.threads))
        return report(error, JPG_ERR_ARGUMENT, "the thread count is negative");
    return JPG_OK;
}

// Working memory of the streaming path: a few strips of every kind, at most
// about 80 bytes per pixel of a strip (coefficients, samples, planes and
// rows of four slots and two threads), and the tables.
uint64_t streamingBytes(const DecoderState &state) {
    uint32_t maxH = 1, maxV = 1;
    for (uint32_t c = 0; c < state.frameComponents; ++c) {
        maxH = std::max<uint32_t>(maxH, state.components[c].hSamp);
        maxV = std::max<uint32_t>(maxV, state.components[c].vSamp);
    }
    const uint64_t stripPixels = uint64_t{roundUpWide(state.width, 8 * maxH)} * 8 * maxV;
    return stripPixels * 80 + (uint64_t{1} << 20);
}

}  // namespace

}  // namespace jpg::codec

extern "C" {

JPG_CODEC_API void jpgDefaultDecodeSettings(JpgDecodeSettings *settings) {
    if (settings == nullptr) return;
    *settings = JpgDecodeSettings{};
    settings->size = sizeof *settings;
    settings->format = JPG_FORMAT_RGB;
    settings->scale = 1;
    settings->memoryLimit = JPG_DEFAULT_MEMORY_LIMIT;
    settings->maxScans = JPG_DEFAULT_MAX_SCANS;
}

JPG_CODEC_API int32_t jpgDecode(const void *jpeg, size_t size, const JpgDecodeSettings *settings, void *pixels,
                                size_t pitch, size_t pixelsSize, JpgError *error) {
    using namespace jpg;
    using namespace jpg::codec;
    try {
        DecodeCall call;
        if (const int32_t s = readSettings(settings, call, error); s != JPG_OK) return s;
        if (jpeg == nullptr || pixels == nullptr) return report(error, JPG_ERR_ARGUMENT, "a null pointer");
        JpegHeaders headers;
        if (const int32_t s = readJpegHeaders(jpeg, size, headers, error); s != JPG_OK) return s;
        const DecoderState &state = headers.owned.state;
        const uint32_t width = scaledSide(state.width, call.scaleLog2), height = scaledSide(state.height, call.scaleLog2);
        const uint32_t bytes = pixelBytes(call.format);
        if (pitch < uint64_t{width} * bytes) return report(error, JPG_ERR_ARGUMENT, "the pitch is smaller than a row");
        const uint64_t needed = uint64_t{pitch} * (height - 1) + uint64_t{width} * bytes;
        if (pitch > SIZE_MAX / height || pixelsSize < needed)
            return report(error, JPG_ERR_ARGUMENT,
                          "the pixels' block holds fewer than the " + std::to_string(needed) + " bytes the picture needs");

        // A colour file's luma as it is, for a grey picture.
        DecodeRequest request;
        request.options = call.options;
        request.scaleLog2 = call.scaleLog2;
        request.lumaOnly = state.colourMode == 3 && call.format == PixelFormat::Grey &&
                           headers.facts.colourSpace == ColourSpace::YCbCr;
        const uint32_t channels = state.colourMode == 1 || request.lumaOnly ? 1 : 3;
        RowSink sink;
        startMemoryPicture(sink, static_cast<uint8_t *>(pixels), pitch, width, height, channels, call.format);

        const uint64_t limit = call.settings.memoryLimit;
        Result r;
        if (headers.buffered) {
            CoefficientLimits limits;
            limits.memoryBytes = limit == 0 ? UINT64_MAX : limit;
            limits.maxScans = call.settings.maxScans == 0 ? UINT32_MAX : call.settings.maxScans;
            std::string reason;
            r = decodeFromCoefficients(headers.source, headers.owned, headers.facts, limits, sink, request, reason);
            if (r != Result::Ok && r != Result::Damaged) return report(error, statusOf(r), reason);
        } else {
            if (limit != 0 && streamingBytes(state) > limit)
                return report(error, JPG_ERR_TOO_LARGE, "decoding the picture needs more working memory than the limit");
            r = decodeImage(headers.source, sink, &headers.owned.state, headers.facts, request);
            if (r != Result::Ok && r != Result::Damaged)
                return report(error, statusOf(r), r == Result::NoMemory ? "out of memory" : "the file cannot be decoded");
        }
        if (r == Result::Damaged)
            return report(error, JPG_WARNING, "the image data is damaged or incomplete; the picture was decoded anyway");
        return report(error, JPG_OK);
    } catch (...) {
        return report(error, JPG_ERR_NO_MEMORY, "out of memory");
    }
}

}  // extern "C"
