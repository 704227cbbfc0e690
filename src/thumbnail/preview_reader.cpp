// iRead_APP1: the preview segment of an exported file as an 80 x 60, 24-bit
// bottom-up DIB.
#include "jpg.h"
#include "thumbnail/thumbnail_codec.h"

namespace jpg {
namespace {

constexpr uint32_t kPreviewWidth = 2 * kThumbMcusPerRow;   // 80
constexpr uint32_t kPreviewHeight = kThumbMcuRows;         // 60
constexpr uint32_t kPreviewRowBytes = 3 * kPreviewWidth;   // 240, a multiple of 4
constexpr uint32_t kPreviewPixelBytes = kPreviewRowBytes * kPreviewHeight;  // 14,400
constexpr uint32_t kDibHeaderBytes = 40;
// Offsets in the segment: the layout tag, then the code bytes.
constexpr uint32_t kLayoutOffset = 18;
constexpr uint32_t kCodeOffset = 20;

void writeDibHeader(uint8_t *dib) {
    for (uint32_t i = 0; i < kDibHeaderBytes; ++i) dib[i] = 0;
    putLe32(dib + 0, kDibHeaderBytes);
    putLe32(dib + 4, kPreviewWidth);
    putLe32(dib + 8, kPreviewHeight);
    putLe16(dib + 12, 1);
    putLe16(dib + 14, 24);
    putLe32(dib + 20, kPreviewPixelBytes);
}

// Rounds a value to double precision. On an x87 FPU intermediate values keep
// 64-bit mantissas unless stored, and a few sums would then truncate to a
// different integer than on every other machine.
inline double exact(double value) {
    volatile double stored = value;
    return stored;
}

// A channel value truncated toward zero, then limited to 0..255.
uint8_t toByte(double value) {
    const int v = static_cast<int>(value);
    return static_cast<uint8_t>(v >= 255 ? 255 : v <= 0 ? 0 : v);
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

extern "C" JPG_API int32_t JPG_CALL iRead_APP1(MemHandle segment, MemHandle dib) {
    using namespace jpg;
    Locked<uint8_t> codes(static_cast<HGLOBAL>(segment));
    if (!codes) return JPG_PREVIEW_BAD_LAYOUT;
    // The length field and the identifier are not needed: the code bytes are
    // always the 4,800 from offset 20.
    const uint16_t layout = be16(codes.get() + kLayoutOffset);

    Block pictureBlock;
    Block sampleBlock;
    if (!pictureBlock.allocate(kPreviewPixelBytes) || !sampleBlock.allocate(kThumbSampleBytes))
        return JPG_PREVIEW_BAD_LAYOUT;
    Locked<uint8_t> picture(pictureBlock.handle());
    Locked<int8_t> samples(sampleBlock.handle());
    Locked<uint8_t> out(static_cast<HGLOBAL>(dib));
    if (!picture || !samples || !out) return JPG_PREVIEW_BAD_LAYOUT;

    writeDibHeader(out.get());
    if (layout != kThumbLayoutSequential && layout != kThumbLayoutGrouped) return JPG_PREVIEW_BAD_LAYOUT;

    decodeThumbnail(codes.get() + kCodeOffset, layout, samples.get());
    convertPreview(samples.get(), picture.get());
    // Bottom-up: the picture's last row first.
    uint8_t *pixels = out.get() + kDibHeaderBytes;
    for (uint32_t row = 0; row < kPreviewHeight; ++row) {
        const uint8_t *from = picture.get() + (kPreviewHeight - 1 - row) * kPreviewRowBytes;
        for (uint32_t b = 0; b < kPreviewRowBytes; ++b) pixels[row * kPreviewRowBytes + b] = from[b];
    }
    return JPG_PREVIEW_OK;
}
