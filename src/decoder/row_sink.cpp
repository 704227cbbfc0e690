// The row sinks: BMP and netpbm files, and the caller's pixels.
#include "decoder/row_sink.h"

#include <algorithm>
#include <cstring>

#include "base/bmp_file.h"
#include "base/netpbm_file.h"

namespace jpg {

Result startPicture(RowSink &writer, const OpenFile &file, uint16_t width, uint16_t height,
                    int32_t colourMode, PictureLayout layout) {
    const uint32_t channels = colourMode == 1 ? 1 : 3;
    writer.toMemory = false;
    writer.width = width;
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
    uint64_t end = 0;
    if (!filePosition(file.get(), end)) return Result::IoError;
    writer.pixelOffset = end;
    return Result::Ok;
}

void startMemoryPicture(RowSink &sink, uint8_t *pixels, size_t pitch, uint32_t width, uint32_t height,
                        uint32_t channels, PixelFormat format) {
    sink = RowSink{};
    sink.toMemory = true;
    sink.width = width;
    sink.height = height;
    sink.channels = channels;
    sink.rowBytes = width * channels;
    sink.stride = sink.rowBytes;
    sink.pixels = pixels;
    sink.pitch = pitch;
    sink.format = format;
    sink.inPlace = channels == 3 ? format == PixelFormat::Bgr || format == PixelFormat::Rgb : format == PixelFormat::Grey;
}

RowSink madeInBlocks(const RowSink &sink) {
    RowSink blocks = sink;
    blocks.inPlace = false;
    return blocks;
}

namespace {

// BMP rows (B, G, R or grey, padded) to netpbm rows (R, G, B or grey,
// unpadded), in place.
void toNetpbmRows(const RowSink &writer, uint8_t *strip, uint32_t rows) {
    for (uint32_t r = 0; r < rows; ++r) {
        uint8_t *in = strip + static_cast<size_t>(r) * writer.stride;
        uint8_t *out = strip + static_cast<size_t>(r) * writer.rowBytes;
        if (writer.channels == 3)
            for (uint32_t x = 0; x < writer.rowBytes; x += 3) std::swap(in[x], in[x + 2]);
        std::memmove(out, in, writer.rowBytes);
    }
}

}  // namespace

void arrangeStripRows(const RowSink &writer, uint8_t *strip, uint32_t rows) {
    if (rows == 0 || writer.toMemory) return;
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

namespace {

// Native rows (B, G, R, or one grey byte a pixel) `stride` apart to the
// caller's rows in its format.
void convertNativeRows(const RowSink &sink, const uint8_t *block, uint32_t firstRow, uint32_t rows) {
    const uint32_t width = sink.width;
    for (uint32_t r = 0; r < rows; ++r) {
        const uint8_t *in = block + size_t{r} * sink.stride;
        uint8_t *out = sink.pixels + size_t{firstRow + r} * sink.pitch;
        if (sink.channels == 1) {
            switch (sink.format) {
            case PixelFormat::Grey: std::memcpy(out, in, width); break;
            case PixelFormat::Rgb:
            case PixelFormat::Bgr:
                for (uint32_t x = 0; x < width; ++x, out += 3) out[0] = out[1] = out[2] = in[x];
                break;
            default:
                for (uint32_t x = 0; x < width; ++x, out += 4) {
                    out[0] = out[1] = out[2] = in[x];
                    out[3] = 255;
                }
                break;
            }
            continue;
        }
        switch (sink.format) {
        case PixelFormat::Grey:
            // B, G, R as they are (an RGB file): the usual luma weights.
            for (uint32_t x = 0; x < width; ++x, in += 3)
                out[x] = static_cast<uint8_t>((7471 * in[0] + 38470 * in[1] + 19595 * in[2] + 32768) >> 16);
            break;
        case PixelFormat::Bgr: std::memcpy(out, in, size_t{width} * 3); break;
        case PixelFormat::Rgb:
            for (uint32_t x = 0; x < width; ++x, in += 3, out += 3) {
                out[0] = in[2];
                out[1] = in[1];
                out[2] = in[0];
            }
            break;
        case PixelFormat::Bgra:
            for (uint32_t x = 0; x < width; ++x, in += 3, out += 4) {
                out[0] = in[0];
                out[1] = in[1];
                out[2] = in[2];
                out[3] = 255;
            }
            break;
        case PixelFormat::Rgba:
            for (uint32_t x = 0; x < width; ++x, in += 3, out += 4) {
                out[0] = in[2];
                out[1] = in[1];
                out[2] = in[0];
                out[3] = 255;
            }
            break;
        }
    }
}

}  // namespace

Result writeArrangedRows(const RowSink &writer, const uint8_t *strip, uint32_t firstRow, uint32_t rows) {
    if (rows == 0) return Result::Ok;
    if (writer.toMemory) {
        if (!writer.inPlace) convertNativeRows(writer, strip, firstRow, rows);
        return Result::Ok;
    }
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

ArrangedRows arrangedRow(const RowSink &writer, uint8_t *block, uint32_t firstRow, uint32_t rows, uint32_t row) {
    if (writer.toMemory) {
        if (writer.inPlace)
            return {writer.pixels + size_t{firstRow + row} * writer.pitch, static_cast<ptrdiff_t>(writer.pitch)};
        return {block + size_t{row} * writer.stride, static_cast<ptrdiff_t>(writer.stride)};
    }
    if (writer.layout.format == PictureFormat::Netpbm)
        return {block + size_t{row} * writer.rowBytes, static_cast<ptrdiff_t>(writer.rowBytes)};
    const auto stride = static_cast<ptrdiff_t>(writer.stride);
    if (writer.layout.rows == BmpRows::BottomUp) return {block + size_t{rows - 1 - row} * writer.stride, -stride};
    return {block + size_t{row} * writer.stride, stride};
}

void arrangeColumns(const RowSink &writer, ArrangedRows at, uint32_t rows, uint32_t firstPixel,
                    uint32_t endPixel) {
    const bool swap = writer.toMemory ? writer.inPlace && writer.format == PixelFormat::Rgb
                                      : writer.layout.format == PictureFormat::Netpbm && writer.channels == 3;
    if (!swap) return;
    for (uint32_t r = 0; r < rows; ++r, at.top += at.step)
        for (uint32_t x = firstPixel; x < endPixel; ++x) std::swap(at.top[3 * x], at.top[3 * x + 2]);
}

}  // namespace jpg
