// iRead_APP1: the preview segment of an exported file as an 80 x 60, 24-bit
// bottom-up DIB.

#include "thumbnail/preview_reader.h"

#include "base/bmp_file.h"
#include "base/bytes.h"
#include "jpg.h"
#include "thumbnail/thumbnail_codec.h"

namespace jpg {
namespace {

// Rounds a value to double precision. On an x87 FPU intermediate values keep
// 64-bit mantissas unless stored, and a few sums would then truncate to a
// different integer than on every other machine.
inline double exact(double value) {
    volatile double stored = value;
    return stored;
}

// A channel value truncated toward zero, then limited to 0..255.
uint8_t toByte(double value) {
    return clampToByte(static_cast<int32_t>(value));
}

// YCbCr samples (Y0, Y1, Cb, Cr per MCU, raster order) to B, G, R pixels,
// top row first. The chroma pair of an MCU serves both of its pixels.
void convertPreview(const int8_t *samples, uint8_t *picture) {
    for (uint32_t i = 0; i < kThumbMcus; ++i) {
        const int8_t *s = samples + 4 * i;
        const double cb = s[2];
        const double cr = s[3];
        const double bTerm = exact(1.772 * cb);
        const double gTerm = exact(exact(-0.71414 * cr) - exact(0.34414 * cb));
        const double rTerm = exact(1.402 * cr);
        uint8_t *p = picture + 6 * i;
        for (int k = 0; k < 2; ++k, p += 3) {
            const int luma = s[k] + 128;
            p[0] = toByte(exact(luma + bTerm));
            p[1] = toByte(exact(luma + gTerm));
            p[2] = toByte(exact(luma + rTerm));
        }
    }
}

}  // namespace
}  // namespace jpg

namespace jpg {

bool previewPixels(const uint8_t *fileStart, int8_t *samples, uint8_t *pixels) {
    // The length field and the identifier are not needed: the code bytes are
    // always at kPreviewCodeOffset.
    const uint16_t layout = be16(fileStart + kPreviewLayoutOffset);
    if (layout != kThumbLayoutSequential && layout != kThumbLayoutGrouped) return false;
    decodeThumbnail(fileStart + kPreviewCodeOffset, layout, samples);
    convertPreview(samples, pixels);
    return true;
}

int32_t readPreview(MemHandle segment, MemHandle dib) {
    Locked<uint8_t> codes(static_cast<HGLOBAL>(segment));
    if (!codes) return JPG_PREVIEW_BAD_LAYOUT;

    LockedBlock<uint8_t> picture;
    LockedBlock<int8_t> samples;
    if (!picture.make(kPreviewPixelBytes) || !samples.make(kThumbSampleBytes)) return JPG_PREVIEW_BAD_LAYOUT;
    Locked<uint8_t> out(static_cast<HGLOBAL>(dib));
    if (!out) return JPG_PREVIEW_BAD_LAYOUT;

    putBmpInfoHeader(out.get(), kPreviewWidth, kPreviewHeight, 24, kPreviewPixelBytes, 0);
    if (!previewPixels(codes.get(), samples.get(), picture.get())) return JPG_PREVIEW_BAD_LAYOUT;
    // Bottom-up: the picture's last row first.
    uint8_t *pixels = out.get() + kPreviewDibHeaderBytes;
    for (uint32_t row = 0; row < kPreviewHeight; ++row) {
        const uint8_t *from = picture.get() + (kPreviewHeight - 1 - row) * kPreviewRowBytes;
        for (uint32_t b = 0; b < kPreviewRowBytes; ++b) pixels[row * kPreviewRowBytes + b] = from[b];
    }
    return JPG_PREVIEW_OK;
}

}  // namespace jpg
