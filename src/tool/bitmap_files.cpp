// BMP files a tool writes: the preview of an exported file, a canvas, and a
// BMP file drawn by the display onto a canvas. Each goes through the atomic
// writer.
#include <cstring>
#include <vector>

#include "base/bmp_file.h"
#include "base/files.h"
#include "base/gdi.h"
#include "base/markers.h"
#include "base/memory_blocks.h"
#include "base/output_file.h"
#include "base/result.h"
#include "thumbnail/preview_layout.h"
#include "tool/tool_internal.h"

namespace jpg::tool {

namespace {

// Writes a file header and then `body` (an info header and bottom-up rows)
// as a BMP file whose rows follow a 40-byte info header.
bool writeBmp(const char *path, const uint8_t *body, uint32_t bodyBytes) {
    uint8_t header[kBmpFileHeaderBytes];
    putBmpFileHeader(header, kBmpFileHeaderBytes + bodyBytes, kBmpFileHeaderBytes + kBmpInfoHeaderBytes);
    OutputFile out;
    return path != nullptr && out.create(path) && out.file().writeAll(header, sizeof header) &&
           out.file().writeAll(body, bodyBytes) && out.commit();
}

int32_t writePreview(const char *jpegPath, const char *bmpPath) {
    Block segment;
    Block dib;
    if (!segment.allocate(kPreviewSegmentEnd) || !dib.allocate(kPreviewDibBytes)) return JPG_TOOL_NO_MEMORY;
    {
        Locked<uint8_t> bytes(segment.handle());
        OpenFile in;
        if (!bytes || jpegPath == nullptr || !in.open(jpegPath, OF_READ)) return JPG_TOOL_UNREADABLE;
        const UINT got = _lread(in.get(), bytes.get(), kPreviewSegmentEnd);
        if (got < kPreviewBytesNeeded || got > kPreviewSegmentEnd) return JPG_TOOL_NOT_FORMAT;  // short, or failed
        if (bytes[0] != marker::kPrefix || bytes[1] != marker::kSoi || bytes[2] != marker::kPrefix ||
            bytes[3] != marker::kApp1 ||
            std::memcmp(bytes.get() + kPreviewIdentifierOffset, kPreviewIdentifier, kPreviewIdentifierBytes) != 0)
            return JPG_TOOL_UNSUPPORTED;
    }
    if (iRead_APP1(segment.handle(), dib.handle()) != JPG_PREVIEW_OK) return JPG_TOOL_BAD_LAYOUT;
    Locked<uint8_t> bitmap(dib.handle());
    if (!bitmap || !writeBmp(bmpPath, bitmap.get(), kPreviewDibBytes)) return JPG_TOOL_UNWRITABLE;
    return JPG_TOOL_OK;
}

int32_t writeCanvas(const JpgCanvas *canvas, const char *bmpPath) {
    if (canvas == nullptr || canvas->pixels == nullptr) return JPG_TOOL_TOO_LARGE;
    const uint32_t width = canvas->width, height = canvas->height;
    uint32_t stride = 0;
    uint32_t imageBytes = 0;
    uint32_t fileBytes = 0;
    if (width == 0 || height == 0 || !checkedProduct({bmpStride(24, width)}, stride) ||
        !checkedProduct({stride, height}, imageBytes) ||
        !checkedProduct({uint64_t{kBmpFileHeaderBytes} + kBmpInfoHeaderBytes + imageBytes}, fileBytes))
        return JPG_TOOL_TOO_LARGE;
    // The canvas as a 24-bit file, bottom row first.
    std::vector<uint8_t> body(kBmpInfoHeaderBytes + static_cast<size_t>(imageBytes), 0);
    putBmpInfoHeader(body.data(), width, height, 24, imageBytes, 0);
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *out = &body[kBmpInfoHeaderBytes + static_cast<size_t>(height - 1 - y) * stride];
        const uint32_t *line = canvas->pixels + static_cast<size_t>(y) * width;
        for (uint32_t x = 0; x < width; ++x, out += 3) {
            out[0] = static_cast<uint8_t>(line[x]);
            out[1] = static_cast<uint8_t>(line[x] >> 8);
            out[2] = static_cast<uint8_t>(line[x] >> 16);
        }
    }
    return writeBmp(bmpPath, body.data(), static_cast<uint32_t>(body.size())) ? JPG_TOOL_OK : JPG_TOOL_UNWRITABLE;
}

// Draws the file on the canvas with iShowMeta.
bool drawOnCanvas(const char *path, JpgCanvas &canvas) {
#if defined(_WIN32)
    // On Windows iShowMeta draws into a device context: a memory context
    // holding a top-down 32-bit DIB section over which the canvas is copied.
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = static_cast<LONG>(canvas.width);
    info.bmiHeader.biHeight = -static_cast<LONG>(canvas.height);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP section = dc ? CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
    bool ok = false;
    if (section != nullptr && bits != nullptr) {
        HGDIOBJ previous = SelectObject(dc, section);
        ok = iShowMeta(0, dc, path) == JPG_SHOW_OK;
        GdiFlush();
        std::memcpy(canvas.pixels, bits, static_cast<size_t>(canvas.width) * canvas.height * 4);
        SelectObject(dc, previous);
    }
    if (section != nullptr) DeleteObject(section);
    if (dc != nullptr) DeleteDC(dc);
    return ok;
#else
    return iShowMeta(0, &canvas, path) == JPG_SHOW_OK;
#endif
}

int32_t writeDrawing(const char *bmpPath, const char *outPath) {
    OpenFile in;
    if (bmpPath == nullptr || !in.open(bmpPath, OF_READ)) return JPG_TOOL_UNREADABLE;
    BmpHeaders headers;
    const Result result = readBmpHeaders(in, headers);
    if (result != Result::Ok) return result == Result::NotFormat ? JPG_TOOL_NOT_FORMAT : JPG_TOOL_UNSUPPORTED;
    in.close();
    const auto width = static_cast<uint32_t>(headers.width);
    const uint32_t height = headers.rows;
    uint32_t canvasBytes = 0;
    uint32_t stride = 0;
    uint32_t imageBytes = 0;
    if (width == 0 || height == 0 || width > 0x7FFFFFFF / 4 || !checkedProduct({width, height, 4}, canvasBytes) ||
        !checkedProduct({bmpStride(24, width)}, stride) || !checkedProduct({stride, height, 1}, imageBytes))
        return JPG_TOOL_TOO_LARGE;
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height, 0);
    JpgCanvas canvas{width, height, pixels.data()};
    if (!drawOnCanvas(bmpPath, canvas)) return JPG_TOOL_NOT_DRAWN;
    return writeCanvas(&canvas, outPath);
}

}  // namespace

}  // namespace jpg::tool

extern "C" {

int32_t jpgToolWritePreview(const char *jpegPath, const char *bmpPath) {
    try {
        return jpg::tool::writePreview(jpegPath, bmpPath);
    } catch (...) {
        return JPG_TOOL_NO_MEMORY;
    }
}

int32_t jpgToolWriteDrawing(const char *bmpPath, const char *outPath) {
    try {
        return jpg::tool::writeDrawing(bmpPath, outPath);
    } catch (...) {
        return JPG_TOOL_NO_MEMORY;
    }
}

}  // extern "C"
