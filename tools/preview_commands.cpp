// jpgtool preview and show.
//
// preview hands the first bytes of an exported JPEG file to iRead_APP1 and
// saves the 80 x 60 bitmap it makes; show draws a BMP file with iShowMeta on
// a canvas of the file's size and saves the canvas as a 24-bit BMP file.
#include <cstring>
#include <vector>

#include "commands.h"
#include "frame/bmp_file.h"
#include "frame/conventions.h"
#include "jpg.h"
#include "jpg_canvas.h"

#if defined(_WIN32)
#include "frame/gdi.h"
#endif

namespace jpgtool {

namespace {

using jpg::Block;
using jpg::Locked;

// The preview segment: SOI, APP1 marker and length, the 12-byte identifier,
// the layout tag and the code bytes, which end at offset 4,820.
constexpr uint32_t kSegmentBytes = 5120;
constexpr uint32_t kSegmentNeeded = 4820;
constexpr char kIdentifier[] = "TALVIRQSD417";
constexpr uint32_t kDibBytes = 40 + 80 * 60 * 3;

// Writes a file header and then `body` (an info header and bottom-up rows)
// as a BMP file; `pixelOffset` is where the rows start in the file.
bool writeBmp(const std::string &path, const uint8_t *body, uint32_t bodyBytes, uint32_t pixelOffset) {
    uint8_t header[14] = {'B', 'M'};
    jpg::putLe32(header + 2, 14 + bodyBytes);
    jpg::putLe32(header + 10, pixelOffset);
    jpg::OutputFile out;
    return out.create(path.c_str()) && out.file().writeAll(header, sizeof header) &&
           out.file().writeAll(body, bodyBytes) && out.commit();
}

}  // namespace

int previewCommand(const Args &args) {
    if (args.size() != 2) {
        complain("", "preview needs IN.jpg OUT.bmp");
        return 1;
    }
    Block segment;
    Block dib;
    if (!segment.allocate(kSegmentBytes) || !dib.allocate(kDibBytes)) {
        complain(args[0], "out of memory");
        return 1;
    }
    {
        Locked<uint8_t> bytes(segment.handle());
        jpg::OpenFile in;
        if (!bytes || !in.open(args[0].c_str(), OF_READ)) {
            complain(args[0], "cannot be opened");
            return 1;
        }
        const UINT got = _lread(in.get(), bytes.get(), kSegmentBytes);
        if (got < kSegmentNeeded || got > kSegmentBytes) {  // short, or a failed read
            complain(args[0], "too short to hold a preview");
            return 1;
        }
        if (bytes[0] != 0xFF || bytes[1] != 0xD8 || bytes[2] != 0xFF || bytes[3] != 0xE1 ||
            std::memcmp(bytes.get() + 6, kIdentifier, 12) != 0) {
            complain(args[0], "has no preview segment (not a JPEG file exported by this library)");
            return 1;
        }
    }
    if (iRead_APP1(segment.handle(), dib.handle()) != JPG_PREVIEW_OK) {
        complain(args[0], "the preview has an unknown layout");
        return 1;
    }
    Locked<uint8_t> bitmap(dib.handle());
    if (!bitmap || !writeBmp(args[1], bitmap.get(), kDibBytes, 14 + 40)) {
        complain(args[1], "cannot be written");
        return 1;
    }
    return 0;
}

namespace {

// The size of the picture a BMP file holds, from its headers.
bool pictureSize(const std::string &path, uint32_t &width, uint32_t &height, std::string &reason) {
    jpg::OpenFile in;
    if (!in.open(path.c_str(), OF_READ)) {
        reason = "cannot be opened";
        return false;
    }
    jpg::BmpHeaders headers;
    const jpg::Result result = jpg::readBmpHeaders(in, headers);
    if (result != jpg::Result::Ok) {
        reason = result == jpg::Result::NotFormat ? "not a BMP file" : "unsupported or damaged BMP headers";
        return false;
    }
    width = static_cast<uint32_t>(headers.width);
    height = headers.rows;
    return true;
}

// Draws the file on the canvas with iShowMeta.
bool drawOnCanvas(const std::string &path, JpgCanvas &canvas) {
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
        ok = iShowMeta(0, dc, path.c_str()) == JPG_SHOW_OK;
        GdiFlush();
        std::memcpy(canvas.pixels, bits, static_cast<size_t>(canvas.width) * canvas.height * 4);
        SelectObject(dc, previous);
    }
    if (section != nullptr) DeleteObject(section);
    if (dc != nullptr) DeleteDC(dc);
    return ok;
#else
    return iShowMeta(0, &canvas, path.c_str()) == JPG_SHOW_OK;
#endif
}

}  // namespace

int showCommand(const Args &args) {
    if (args.size() != 2) {
        complain("", "show needs IN.bmp OUT.bmp");
        return 1;
    }
    uint32_t width = 0;
    uint32_t height = 0;
    std::string reason;
    if (!pictureSize(args[0], width, height, reason)) {
        complain(args[0], reason);
        return 1;
    }
    uint32_t canvasBytes = 0;
    uint32_t stride = 0;
    uint32_t imageBytes = 0;
    if (width == 0 || height == 0 || width > 0x7FFFFFFF / 4 || !jpg::checkedProduct({width, height, 4}, canvasBytes) ||
        !jpg::checkedProduct({jpg::bmpStride(24, width)}, stride) ||
        !jpg::checkedProduct({stride, height, 1}, imageBytes)) {
        complain(args[0], "the picture is empty or too large to draw");
        return 1;
    }
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height, 0);
    JpgCanvas canvas{width, height, pixels.data()};
    if (!drawOnCanvas(args[0], canvas)) {
        complain(args[0], "cannot be drawn (compressed, damaged or unsupported)");
        return 1;
    }

    // The canvas as a 24-bit file, bottom row first.
    std::vector<uint8_t> body(40 + static_cast<size_t>(imageBytes), 0);
    jpg::putLe32(&body[0], 40);
    jpg::putLe32(&body[4], width);
    jpg::putLe32(&body[8], height);
    jpg::putLe16(&body[12], 1);
    jpg::putLe16(&body[14], 24);
    jpg::putLe32(&body[20], imageBytes);
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *out = &body[40 + static_cast<size_t>(height - 1 - y) * stride];
        const uint32_t *line = pixels.data() + static_cast<size_t>(y) * width;
        for (uint32_t x = 0; x < width; ++x, out += 3) {
            out[0] = static_cast<uint8_t>(line[x]);
            out[1] = static_cast<uint8_t>(line[x] >> 8);
            out[2] = static_cast<uint8_t>(line[x] >> 16);
        }
    }
    if (!writeBmp(args[1], body.data(), static_cast<uint32_t>(body.size()), 14 + 40)) {
        complain(args[1], "cannot be written");
        return 1;
    }
    return 0;
}

}  // namespace jpgtool
