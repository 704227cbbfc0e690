// jpgEncode: pixels to a JPEG file in memory. The caller's pixels are the
// encoder's row source, a growing block its byte sink; the stages are the
// export's (src/encoder/). This file checks the arguments, turns the
// settings record into the encoder's, and the result into a status.
#include <cstddef>

#include "codec/codec_common.h"
#include "encoder/encoder_state.h"
#include "encoder/row_source.h"

namespace jpg::codec {

namespace {

// The settings as the caller gave them, read as far as their size goes. A
// pointer field that the size cuts short keeps its default (null): only
// whole pointers are followed.
bool readSettings(const JpgEncodeSettings *given, JpgEncodeSettings &out) {
    jpgDefaultEncodeSettings(&out);
    if (!readRecord(given, out)) return false;
    if (given == nullptr) return true;
    const auto whole = [given](size_t offset, size_t bytes) { return given->size >= offset + bytes; };
    if (!whole(offsetof(JpgEncodeSettings, icc), sizeof out.icc)) out.icc = nullptr;
    if (!whole(offsetof(JpgEncodeSettings, comment), sizeof out.comment)) out.comment = nullptr;
    return true;
}

// Bytes of a comment before its terminating zero; more than
// kMaxCommentBytes when it is longer (no byte past that is read).
uint32_t commentLength(const char *text) {
    uint32_t n = 0;
    while (n <= kMaxCommentBytes && text[n] != '\0') ++n;
    return n;
}

// The encoder's settings for the caller's; a status and a message when a
// setting is out of range.
int32_t translate(const JpgEncodeSettings &given, EncodeSettings &out, CallOptions &options, JpgError *error) {
    if (given.useLevel != 0 && given.useLevel != 1) return report(error, JPG_ERR_ARGUMENT, "useLevel must be 0 or 1");
    if (given.useLevel == 1) {
        out.quality = 0;
        out.level = encoderLevel(given.level);
    } else if (given.quality < 1 || given.quality > 100) {
        return report(error, JPG_ERR_ARGUMENT, "quality must be 1 to 100");
    } else {
        out.quality = given.quality;
    }
    switch (given.sampling) {
    case JPG_SAMPLING_444: out.sampling = Sampling::Ycc444; break;
    case JPG_SAMPLING_422: out.sampling = Sampling::Ycc422; break;
    case JPG_SAMPLING_420: out.sampling = Sampling::Ycc420; break;
    case JPG_SAMPLING_GREY: out.sampling = Sampling::Grey; break;
    default: return report(error, JPG_ERR_ARGUMENT, "sampling must be one of the JPG_SAMPLING_* values");
    }
    if (given.restartInterval > 0xFFFF)
        return report(error, JPG_ERR_ARGUMENT, "restartInterval must be at most 65,535 MCUs");
    out.restartInterval = static_cast<uint16_t>(given.restartInterval);
    if (given.preview != 0 && given.preview != 1) return report(error, JPG_ERR_ARGUMENT, "preview must be 0 or 1");
    out.preview = given.preview == 1;
    out.previewLayout = static_cast<uint16_t>(given.previewLayout);  // the low 16 bits, as iExportJPG takes them
    if (given.iccSize != 0) {
        if (given.icc == nullptr) return report(error, JPG_ERR_ARGUMENT, "iccSize is not 0 but icc is null");
        if (given.iccSize > kMaxIccBytes)
            return report(error, JPG_ERR_ARGUMENT, "an ICC profile may have at most 16,707,345 bytes (255 chunks)");
        out.icc = static_cast<const uint8_t *>(given.icc);
        out.iccSize = given.iccSize;
    }
    if (given.densityUnits < 0 || given.densityUnits > 2)
        return report(error, JPG_ERR_ARGUMENT, "densityUnits must be 0, 1 or 2");
    if (given.densityX == 0 || given.densityY == 0)
        return report(error, JPG_ERR_ARGUMENT, "densityX and densityY must be at least 1");
    out.densityUnits = static_cast<uint8_t>(given.densityUnits);
    out.densityX = given.densityX;
    out.densityY = given.densityY;
    if (given.comment != nullptr) {
        const uint32_t n = commentLength(given.comment);
        if (n > kMaxCommentBytes) return report(error, JPG_ERR_ARGUMENT, "a comment may have at most 65,533 bytes");
        out.comment = reinterpret_cast<const uint8_t *>(given.comment);
        out.commentSize = n;
    }
    if (!kernelSetOf(given.kernels, options.kernels))
        return report(error, JPG_ERR_ARGUMENT, "kernels must be one of the JPG_KERNELS_* values");
    if (!threadsOf(given.threads, options.threads)) return report(error, JPG_ERR_ARGUMENT, "threads must not be negative");
    return JPG_OK;
}

int32_t encode(const void *pixels, uint32_t width, uint32_t height, size_t pitch, const JpgEncodeSettings *given,
               void **jpeg, size_t *size, JpgError *error) {
    if (jpeg == nullptr || size == nullptr) return report(error, JPG_ERR_ARGUMENT, "jpeg and size must not be null");
    if (pixels == nullptr) return report(error, JPG_ERR_ARGUMENT, "pixels must not be null");
    JpgEncodeSettings record;
    if (!readSettings(given, record))
        return report(error, JPG_ERR_ARGUMENT, "settings->size must be at least 4 and at most sizeof(JpgEncodeSettings)");
    const uint32_t bytes = bytesPerPixel(record.format);
    if (bytes == 0) return report(error, JPG_ERR_ARGUMENT, "format must be one of the JPG_FORMAT_* values");
    EncodeSettings settings;
    CallOptions options;
    if (const int32_t status = translate(record, settings, options, error); status != JPG_OK) return status;
    if (width == 0 || height == 0) return report(error, JPG_ERR_ARGUMENT, "the picture is empty");
    if (width > kMaxImageSide || height > kMaxImageSide)
        return report(error, JPG_ERR_TOO_LARGE, "pictures of at most 65,535 pixels a side can be encoded");
    const size_t rowBytes = size_t{width} * bytes;
    if (pitch < rowBytes) return report(error, JPG_ERR_ARGUMENT, "pitch is less than width x bytes per pixel");
    if ((SIZE_MAX - rowBytes) / pitch < height - 1)
        return report(error, JPG_ERR_ARGUMENT, "pitch x (height - 1) passes the end of the address space");

    PixelRows rows;
    rows.pixels = static_cast<const uint8_t *>(pixels);
    rows.pitch = pitch;
    rows.height = height;
    const RowSource source{&PixelRows::next, &PixelRows::rowsAt, &rows, bytes,
                           record.format == JPG_FORMAT_RGB || record.format == JPG_FORMAT_RGBA};
    // Room for 1 bit a pixel at first (64 MB at most): the block is made
    // zero-filled, so a larger one costs time; it doubles when it is full.
    ByteSink sink;
    const uint64_t expected = uint64_t{width} * height / 8;
    sink.toMemory(expected < (uint64_t{1} << 26) ? expected : uint64_t{1} << 26);
    switch (encodePicture(source, width, height, sink, settings, options)) {
    case Result::Ok: break;
    case Result::NoMemory: return report(error, JPG_ERR_NO_MEMORY, "out of memory");
    case Result::Unsupported:
        return report(error, JPG_ERR_TOO_LARGE, "the JPEG file would pass the largest block the library makes (2 GiB)");
    default: return report(error, JPG_ERR_MALFORMED, "the picture could not be encoded");
    }
    void *block = allocateForCaller(static_cast<size_t>(sink.size));
    if (block == nullptr) return report(error, JPG_ERR_NO_MEMORY, "out of memory for the JPEG file");
    std::memcpy(block, sink.bytes(), static_cast<size_t>(sink.size));
    *jpeg = block;
    *size = static_cast<size_t>(sink.size);
    return report(error, JPG_OK);
}

}  // namespace

}  // namespace jpg::codec

extern "C" {

JPG_CODEC_API void jpgDefaultEncodeSettings(JpgEncodeSettings *settings) {
    if (settings == nullptr) return;
    *settings = JpgEncodeSettings{};
    settings->size = sizeof *settings;
    settings->format = JPG_FORMAT_RGB;
    settings->quality = 75;
    settings->sampling = JPG_SAMPLING_422;
    settings->preview = 1;
    settings->previewLayout = 1;
    settings->densityUnits = 1;
    settings->densityX = settings->densityY = 72;
}

JPG_CODEC_API int32_t jpgEncode(const void *pixels, uint32_t width, uint32_t height, size_t pitch,
                                const JpgEncodeSettings *settings, void **jpeg, size_t *size, JpgError *error) {
    if (jpeg != nullptr) *jpeg = nullptr;
    if (size != nullptr) *size = 0;
    try {
        return jpg::codec::encode(pixels, width, height, pitch, settings, jpeg, size, error);
    } catch (...) {
        return jpg::codec::report(error, JPG_ERR_NO_MEMORY, "out of memory");
    }
}

}  // extern "C"
