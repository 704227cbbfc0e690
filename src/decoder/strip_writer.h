// Where the import's decoded strips go: a BMP file in one of three row
// orders, or a binary netpbm file. The decoder makes BMP rows (B, G, R or
// grey, each row padded to the BMP stride) and arranges them into the order
// and form of the file, in place or as it makes them; then they are written.
#ifndef JPG_DECODER_STRIP_WRITER_H
#define JPG_DECODER_STRIP_WRITER_H

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

struct StripWriter {
    HFILE file = HFILE_ERROR;
    PictureLayout layout;
    uint32_t height = 0;
    uint32_t channels = 0;     // 1 grey, 3 colour
    uint32_t stride = 0;       // length of a strip row (the BMP stride)
    uint32_t rowBytes = 0;     // pixel bytes of a row (width x channels)
    uint64_t pixelOffset = 0;  // where the first stored row starts
};

// Writes the headers of the picture to `file` (positioned at its start) and
// sets up `writer`; `writer.stride` is the strip row length the decoder fills.
Result startPicture(StripWriter &writer, const OpenFile &file, uint16_t width, uint16_t height,
                    int32_t colourMode, PictureLayout layout);

// Writes `rows` arranged rows of the picture (in the order and form of the
// file), `firstRow` (from the top) the first.
Result writeArrangedRows(const StripWriter &writer, const uint8_t *strip, uint32_t firstRow, uint32_t rows);
// Arranges a strip of BMP rows, top row first, in place: bottom row first,
// or netpbm rows.
void arrangeStripRows(const StripWriter &writer, uint8_t *strip, uint32_t rows);

// Rows made straight into their arranged places: row r of a block of
// `rows` rows that writeArrangedRows takes lies at top + r x step.
struct ArrangedRows {
    uint8_t *top = nullptr;
    ptrdiff_t step = 0;
};
// Where row `row` of the `rows` rows at `block` goes, and the step to the next.
ArrangedRows arrangedRow(const StripWriter &writer, uint8_t *block, uint32_t rows, uint32_t row);
// Puts the pixels [firstPixel, endPixel) of `rows` BMP rows made at their
// arranged places into the file's form (netpbm: R, G, B).
void arrangeColumns(const StripWriter &writer, ArrangedRows at, uint32_t rows, uint32_t firstPixel,
                    uint32_t endPixel);

}  // namespace jpg

#endif  // JPG_DECODER_STRIP_WRITER_H
