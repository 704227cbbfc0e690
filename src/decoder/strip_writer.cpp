
#include "decoder/strip_writer.h"

#include <algorithm>
#include <cstring>

#include "base/bmp_file.h"
#include "base/netpbm_file.h"

namespace jpg {

Result startPicture(StripWriter &writer, const OpenFile &file, uint16_t width, uint16_t height,
                    int32_t colourMode, PictureLayout layout) {
    const uint32_t channels = colourMode == 1 ? 1 : 3;
    writer.file = file.get();
    writer.layout = layout;
    writer.height = height;
    writer.channels = channels;
    writer.stride = static_cast<uint32_t>(bmpStride(8 * channels, width));
    writer.rowBytes = width * channels;
    if (layout.format == PictureFormat::Netpbm) return writeNetpbmHeader(file, width, height, channels);
    const Result r = writeBmpHeaders(file, width, height, colourMode, writer.stride, layout.rows == BmpRows::TopDown);
    if (r != Result::Ok || layout.rows != BmpRows::BottomUp) return r;
    // The rows start where the headers end.
    const LONG end = _llseek(file.get(), 0, FILE_CURRENT);
    if (end < 0) return Result::IoError;
    writer.pixelOffset = static_cast<uint64_t>(end);
    return Result::Ok;
}

namespace {

// BMP rows (B, G, R or grey, padded) to netpbm rows (R, G, B or grey,
// unpadded), in place.
void toNetpbmRows(const StripWriter &writer, uint8_t *strip, uint32_t rows) {
    for (uint32_t r = 0; r < rows; ++r) {
        uint8_t *in = strip + static_cast<size_t>(r) * writer.stride;
        uint8_t *out = strip + static_cast<size_t>(r) * writer.rowBytes;
        if (writer.channels == 3)
            for (uint32_t x = 0; x < writer.rowBytes; x += 3) std::swap(in[x], in[x + 2]);
        std::memmove(out, in, writer.rowBytes);
    }
}

}  // namespace

void arrangeStripRows(const StripWriter &writer, uint8_t *strip, uint32_t rows) {
    if (rows == 0) return;
    if (writer.layout.format == PictureFormat::Netpbm) {
        toNetpbmRows(writer, strip, rows);
    } else if (writer.layout.rows == BmpRows::BottomUp) {
        // The strip's rows, bottom first, as they lie in the file.
        for (uint32_t top = 0, bottom = rows - 1; top < bottom; ++top, --bottom)
            std::swap_ranges(strip + static_cast<size_t>(top) * writer.stride,
                             strip + static_cast<size_t>(top + 1) * writer.stride,
                             strip + static_cast<size_t>(bottom) * writer.stride);
    }
}

Result writeArrangedRows(const StripWriter &writer, const uint8_t *strip, uint32_t firstRow, uint32_t rows) {
    if (rows == 0) return Result::Ok;
    if (writer.layout.format == PictureFormat::Netpbm) {
        const uint32_t bytes = rows * writer.rowBytes;
        return _lwrite(writer.file, reinterpret_cast<LPCCH>(strip), bytes) == bytes ? Result::Ok : Result::IoError;
    }
    const uint32_t bytes = rows * writer.stride;
    if (writer.layout.rows == BmpRows::BottomUp) {
        // The strip goes where it ends up in the file.
        const uint64_t offset = writer.pixelOffset + uint64_t{writer.height - firstRow - rows} * writer.stride;
        if (!seekFile(writer.file, offset)) return Result::IoError;
    }
    return _lwrite(writer.file, reinterpret_cast<LPCCH>(strip), bytes) == bytes ? Result::Ok : Result::IoError;
}

ArrangedRows arrangedRow(const StripWriter &writer, uint8_t *block, uint32_t rows, uint32_t row) {
    if (writer.layout.format == PictureFormat::Netpbm)
        return {block + size_t{row} * writer.rowBytes, static_cast<ptrdiff_t>(writer.rowBytes)};
    const auto stride = static_cast<ptrdiff_t>(writer.stride);
    if (writer.layout.rows == BmpRows::BottomUp) return {block + size_t{rows - 1 - row} * writer.stride, -stride};
    return {block + size_t{row} * writer.stride, stride};
}

void arrangeColumns(const StripWriter &writer, ArrangedRows at, uint32_t rows, uint32_t firstPixel,
                    uint32_t endPixel) {
    if (writer.layout.format != PictureFormat::Netpbm || writer.channels != 3) return;
    for (uint32_t r = 0; r < rows; ++r, at.top += at.step)
        for (uint32_t x = firstPixel; x < endPixel; ++x) std::swap(at.top[3 * x], at.top[3 * x + 2]);
}

}  // namespace jpg
