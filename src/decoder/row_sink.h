// Where the decoder's rows go: a BMP file in one of three row orders, a
// binary netpbm file, or the caller's pixels in memory in a pixel format of
// its choice. The decoder makes native rows (B, G, R, or one byte of grey or
// luma a pixel) and arranges them into the order and form of the sink, in
// place or as it makes them; then they are written (files) or converted
// into the caller's format (memory, where the rows could not be made at
// their places).
#ifndef JPG_DECODER_ROW_SINK_H
#define JPG_DECODER_ROW_SINK_H

#include <cstddef>
#include <cstdint>

#include "base/files.h"
#include "base/result.h"

namespace jpg {

enum class PictureFormat : uint8_t { Bmp, Netpbm };

// Row order of a BMP file.
enum class BmpRows : uint8_t {
    TopFirst,  // the library's convention (iImportJPG): top row first, positive height
    BottomUp,  // a standard file: bottom row first, positive height; each strip is
               // written at its final place, so the output must be seekable
    TopDown,   // a standard file that streams: top row first, negative height
};

struct PictureLayout {
    PictureFormat format = PictureFormat::Bmp;
    BmpRows rows = BmpRows::TopFirst;
};

// The caller's pixel formats (the values of jpg_codec.h's JPG_FORMAT_*).
enum class PixelFormat : uint8_t { Grey = 1, Rgb = 2, Bgr = 3, Rgba = 4, Bgra = 5 };

// Bytes a pixel of the format takes.
constexpr uint32_t pixelBytes(PixelFormat format) {
    return format == PixelFormat::Grey ? 1 : format == PixelFormat::Rgb || format == PixelFormat::Bgr ? 3 : 4;
}

struct RowSink {
    bool toMemory = false;
    // Files.
    HFILE file = HFILE_ERROR;
    PictureLayout layout;
    uint64_t pixelOffset = 0;  // where the first stored row starts
    // Both: the picture made, and the rows the decoder makes.
    uint32_t width = 0, height = 0;
    uint32_t channels = 0;  // of the native rows: 1 grey or luma, 3 B, G, R
    uint32_t stride = 0;    // of a made row in a block (files: the BMP stride)
    uint32_t rowBytes = 0;  // pixel bytes of a native row (width x channels)
    // Memory: the caller's pixels, rows `pitch` bytes apart.
    uint8_t *pixels = nullptr;
    size_t pitch = 0;
    PixelFormat format = PixelFormat::Bgr;
    // The rows are made at their places in the caller's pixels (native rows,
    // or B, G, R rows swapped in place to R, G, B); otherwise they are made
    // in a block and converted when written.
    bool inPlace = false;
};

// Writes the headers of the picture to `file` (positioned at its start) and
// sets up `sink`; `sink.stride` is the row length the decoder fills.
Result startPicture(RowSink &sink, const OpenFile &file, uint16_t width, uint16_t height, int32_t colourMode,
                    PictureLayout layout);

// Sets up `sink` for the caller's pixels: a width x height picture whose
// native rows have `channels` bytes a pixel, delivered in `format`.
void startMemoryPicture(RowSink &sink, uint8_t *pixels, size_t pitch, uint32_t width, uint32_t height,
                        uint32_t channels, PixelFormat format);

// The sink for a strip loop that cannot make rows at their places (the
// reference stages make whole native rows in a block).
RowSink madeInBlocks(const RowSink &sink);

// Writes `rows` arranged rows of the picture (in the order and form of the
// file), `firstRow` (from the top) the first; for memory, converts them from
// the block into the caller's pixels unless they were made in place.
Result writeArrangedRows(const RowSink &sink, const uint8_t *block, uint32_t firstRow, uint32_t rows);
// Arranges a strip of native rows, top row first, in place: bottom row
// first, or netpbm rows (files only).
void arrangeStripRows(const RowSink &sink, uint8_t *strip, uint32_t rows);

// Rows made straight into their arranged places: row r of a block of
// `rows` rows that writeArrangedRows takes lies at top + r x step.
struct ArrangedRows {
    uint8_t *top = nullptr;
    ptrdiff_t step = 0;
};
// Where row `row` of the `rows` rows at `block`, the first of which is
// picture row `firstRow`, goes, and the step to the next.
ArrangedRows arrangedRow(const RowSink &sink, uint8_t *block, uint32_t firstRow, uint32_t rows, uint32_t row);
// Puts the pixels [firstPixel, endPixel) of `rows` native rows made at their
// arranged places into the sink's form (netpbm and R, G, B: swapped).
void arrangeColumns(const RowSink &sink, ArrangedRows at, uint32_t rows, uint32_t firstPixel, uint32_t endPixel);

}  // namespace jpg

#endif  // JPG_DECODER_ROW_SINK_H
