// The preview segment of exported files, in one place: where it lies in the
// file, what it holds, the preview's MCU grid, and the bitmap the reader
// makes of it.
//
// Every exported file starts with SOI and an APP1 segment of 5,114 payload
// bytes, so the segment ends at offset 5,120. The encoder writes into it,
// from offset 6, the 12-byte identifier, the layout tag (offset 18, read
// big-endian) and the 4,800 code bytes (offset 20); the rest stays zero. The
// reader needs the file's first 4,820 bytes and makes an 80 x 60, 24-bit
// bottom-up DIB of 14,440 bytes.
#ifndef JPG_THUMBNAIL_PREVIEW_LAYOUT_H
#define JPG_THUMBNAIL_PREVIEW_LAYOUT_H

#include <cstdint>

namespace jpg {

// The preview grid: 40 x 60 MCUs of 2 x 1 luminance blocks and one Cb and
// one Cr block, four samples per MCU, a 4-bit code per sample.
constexpr uint32_t kThumbMcusPerRow = 40;
constexpr uint32_t kThumbMcuRows = 60;
constexpr uint32_t kThumbMcus = kThumbMcusPerRow * kThumbMcuRows;  // 2400
constexpr uint32_t kThumbSampleBytes = 4 * kThumbMcus;             // 9600
constexpr uint32_t kThumbCodeBytes = 2 * kThumbMcus;               // 4800

// Layout tags stored at kPreviewLayoutOffset.
constexpr uint16_t kThumbLayoutGrouped = 0;
constexpr uint16_t kThumbLayoutSequential = 1;

// The segment in the file (offsets from the file's first byte).
constexpr uint32_t kPreviewPayloadBytes = 5114;                      // after the APP1 length field
constexpr uint32_t kPreviewSegmentEnd = 2 + 2 + 2 + kPreviewPayloadBytes;  // 5120: SOI, marker, length
constexpr uint32_t kPreviewIdentifierOffset = 6;
constexpr char kPreviewIdentifier[] = "TALVIRQSD417";
constexpr uint32_t kPreviewIdentifierBytes = sizeof kPreviewIdentifier - 1;                  // 12, no NUL
constexpr uint32_t kPreviewLayoutOffset = kPreviewIdentifierOffset + kPreviewIdentifierBytes;  // 18
constexpr uint32_t kPreviewCodeOffset = kPreviewLayoutOffset + 2;                             // 20
// Bytes of the file the reader needs: through the last code byte.
constexpr uint32_t kPreviewBytesNeeded = kPreviewCodeOffset + kThumbCodeBytes;  // 4820

// The reader's bitmap: a 40-byte BITMAPINFOHEADER and 60 bottom-up rows of
// 80 B, G, R pixels.
constexpr uint32_t kPreviewWidth = 2 * kThumbMcusPerRow;                    // 80
constexpr uint32_t kPreviewHeight = kThumbMcuRows;                          // 60
constexpr uint32_t kPreviewRowBytes = 3 * kPreviewWidth;                    // 240, a multiple of 4
constexpr uint32_t kPreviewPixelBytes = kPreviewRowBytes * kPreviewHeight;  // 14,400
constexpr uint32_t kPreviewDibHeaderBytes = 40;
constexpr uint32_t kPreviewDibBytes = kPreviewDibHeaderBytes + kPreviewPixelBytes;  // 14,440

static_assert(kPreviewSegmentEnd == 5120 && kPreviewBytesNeeded == 4820 && kPreviewDibBytes == 14440,
              "the preview segment's layout is fixed by the files already written");

}  // namespace jpg

#endif  // JPG_THUMBNAIL_PREVIEW_LAYOUT_H
