// The preview reader: the preview segment of an exported file to an 80 x 60,
// 24-bit device-independent bitmap.
#ifndef JPG_THUMBNAIL_PREVIEW_READER_H
#define JPG_THUMBNAIL_PREVIEW_READER_H

#include <cstdint>

#include "jpg.h"

namespace jpg {

// `segment` holds the file from its first byte (at least kPreviewBytesNeeded
// bytes); `dib` receives the header and the bottom-up rows: a JPG_PREVIEW_*
// status.
int32_t readPreview(MemHandle segment, MemHandle dib);

// The preview of the file that starts at `fileStart` (at least
// kPreviewBytesNeeded bytes) as 80 x 60 B, G, R pixels, top row first, into
// `pixels` (kPreviewPixelBytes), through `samples` (kThumbSampleBytes);
// false for an unknown layout tag.
bool previewPixels(const uint8_t *fileStart, int8_t *samples, uint8_t *pixels);

}  // namespace jpg

#endif  // JPG_THUMBNAIL_PREVIEW_READER_H
