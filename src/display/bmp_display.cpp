// iShowMeta: draws a BMP file into a device context one row at a time, its
// colour table realised as a palette in the target and in a memory context.
//
// Only one pixel row is held: each is read from the file, set into a bitmap
// one row high and copied to its line of the target. The first stored row
// goes to the top line.

#include "display/bmp_display.h"

#include <cstring>

#include "base/bmp_file.h"
#include "base/bytes.h"
#include "base/gdi.h"
#include "jpg.h"

namespace jpg {

namespace {

constexpr char kNotBmpText[] = "Not a BMP file ";
constexpr WORD kPaletteVersion = 0x300;
constexpr uint16_t kCubeColours = 256;

// Every object of one drawing, released in a fixed order whatever the path:
// the bitmap, the memory context (after its own palette is back), the row
// buffer and header block (their owners), the target's palette put back,
// then the palette itself.
struct Drawing {
    HDC target = nullptr;
    HPALETTE palette = nullptr;
    HPALETTE targetPalette = nullptr;  // selected in the target before the call
    HDC memory = nullptr;
    HPALETTE memoryPalette = nullptr;  // selected in the memory context before
    HBITMAP bitmap = nullptr;

    Drawing() = default;
    Drawing(const Drawing &) = delete;
    Drawing &operator=(const Drawing &) = delete;
    ~Drawing() {
        if (bitmap != nullptr) DeleteObject(bitmap);
        if (memory != nullptr) {
            if (memoryPalette != nullptr) SelectPalette(memory, memoryPalette, FALSE);
            DeleteDC(memory);
        }
        if (targetPalette != nullptr) SelectPalette(target, targetPalette, FALSE);
        if (palette != nullptr) DeleteObject(palette);
    }
};

bool drawableDepth(uint16_t bitCount) {
    return bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16 || bitCount == 24 || bitCount == 32;
}

// Reads the file's rows and draws them; the objects are all made. A file
// that ends early draws the rows it has; a read that fails is an IoError.
Result drawRows(const OpenFile &file, const BmpHeaders &headers, const Drawing &d, const BITMAPINFO *info,
              uint8_t *row, uint32_t stride, int width) {
    const UINT usage = headers.bitCount == 24 ? DIB_RGB_COLORS : DIB_PAL_COLORS;
    if (stride == 0) return Result::Ok;  // rows of width 0 show nothing, however many there are
    for (uint32_t i = 0; i < headers.rows; ++i) {
        const UINT got = _lread(file.get(), row, stride);
        if (got == HFILE_ERROR_COUNT) return Result::IoError;
        if (got != stride) break;
        SetDIBits(d.memory, d.bitmap, 0, 1, row, info, usage);
        const HGDIOBJ previous = SelectObject(d.memory, d.bitmap);
        BitBlt(d.target, 0, static_cast<int>(i), width, 1, d.memory, 0, 0, SRCCOPY);
        SelectObject(d.memory, previous);
    }
    return Result::Ok;
}

// Draws the file; NotFormat when it does not start with "BM", any other
// failure when nothing could be drawn.
Result showBmp(HDC target, const char *bmpPath) {
    OpenFile file;
    if (!file.open(bmpPath, OF_READ)) return Result::IoError;
    BmpHeaders headers;
    const Result read = readBmpHeaders(file, headers);
    if (read != Result::Ok) return read;

    // Files that cannot be drawn safely: compressed rows, unknown depths,
    // rows or bitmaps too wide for a block.
    uint32_t stride = 0;
    uint32_t bitmapBytes = 0;
    if (headers.compression != BI_RGB || !drawableDepth(headers.bitCount)) return Result::Unsupported;
    if (!checkedProduct({headers.stride}, stride) ||
        !checkedProduct({static_cast<uint64_t>(headers.width), 4}, bitmapBytes))
        return Result::Unsupported;
    const int width = headers.width;
    const auto n = static_cast<uint16_t>(headers.clrUsed);  // at most 256

    Locked<uint8_t> info(headers.info.handle());
    if (!info) return Result::NoMemory;
    uint8_t *colourTable = info.get() + headers.infoSize;

    Drawing d;
    d.target = target;
    d.palette = createDisplayPalette(colourTable, n);
    if (d.palette == nullptr) return Result::NoMemory;
    d.targetPalette = SelectPalette(target, d.palette, FALSE);
    if (d.targetPalette == nullptr) return Result::NoMemory;
    RealizePalette(target);

    // The colour table now names palette entries: indexes 0..n-1.
    for (uint16_t i = 0; i < n; ++i) std::memcpy(colourTable + 2 * i, &i, sizeof i);

    d.bitmap = CreateCompatibleBitmap(target, width, 1);
    d.memory = CreateCompatibleDC(target);
    if (d.bitmap == nullptr || d.memory == nullptr) return Result::NoMemory;
    d.memoryPalette = SelectPalette(d.memory, d.palette, FALSE);
    if (d.memoryPalette == nullptr) return Result::NoMemory;
    RealizePalette(d.memory);

    Block rowBlock;
    if (!rowBlock.allocate(stride == 0 ? 4 : stride)) return Result::NoMemory;
    Locked<uint8_t> row(rowBlock.handle());
    if (!row) return Result::NoMemory;

    // The header now describes one row: that is all SetDIBits is given.
    putLe32(info.get() + bmpinfo::kHeight, 1);
    putLe32(info.get() + bmpinfo::kSizeImage, stride);
    if (_llseek(file.get(), static_cast<LONG>(headers.bfOffBits), FILE_BEGIN) == HFILE_ERROR)
        return Result::IoError;
    return drawRows(file, headers, d, reinterpret_cast<const BITMAPINFO *>(info.get()), row.get(), stride, width);
}

}  // namespace

HPALETTE createDisplayPalette(const uint8_t *colourTable, uint16_t n) {
    const uint16_t entries = n > 0 ? n : kCubeColours;
    const HLOCAL block = LocalAlloc(LHND, 4u * entries + 8);
    if (block == nullptr) return nullptr;
    auto *palette = static_cast<LOGPALETTE *>(LocalLock(block));
    HPALETTE handle = nullptr;
    if (palette != nullptr) {
        palette->palVersion = kPaletteVersion;
        palette->palNumEntries = entries;
        PALETTEENTRY *e = palette->palPalEntry;
        for (uint32_t i = 0; i < entries; ++i) {
            if (n > 0) {
                e[i] = {colourTable[4 * i + 2], colourTable[4 * i + 1], colourTable[4 * i], 0};
            } else {
                e[i] = {static_cast<BYTE>(32 * (i % 8)), static_cast<BYTE>(32 * ((i / 8) % 8)),
                        static_cast<BYTE>(64 * (i / 64)), 0};
            }
        }
        handle = CreatePalette(palette);
        LocalUnlock(block);
    }
    LocalFree(block);
    return handle;
}

namespace {

int32_t showMeta(void *deviceContext, const char *bmpPath) {
    const HDC target = openTargetDc(deviceContext);
    if (target == nullptr) return JPG_SHOW_FAILED;
    struct TargetGuard {
        HDC dc;
        ~TargetGuard() { closeTargetDc(dc); }
    } guard{target};
    const Result result = showBmp(target, bmpPath);
    if (result == Result::NotFormat) MessageBoxA(nullptr, kNotBmpText, nullptr, MB_ICONERROR);
    return result == Result::Ok ? JPG_SHOW_OK : JPG_SHOW_FAILED;
}

}  // namespace

int32_t showBmpFile(void *deviceContext, const char *bmpPath) {
    try {
        return showMeta(deviceContext, bmpPath);
    } catch (...) {
        return JPG_SHOW_FAILED;
    }
}

}  // namespace jpg
