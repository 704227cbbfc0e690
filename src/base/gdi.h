// The drawing operations of the BMP display, by their Windows names.
//
// On Windows these are the real GDI functions. Everywhere else the library
// provides the small subset the display uses, drawing in software: a device
// context is either a canvas that the host owns (JpgCanvas, made into a
// device context for one call by openTargetDc) or a memory context holding a
// bitmap. Devices are true colour, so palettes only matter to DIB_PAL_COLORS
// indexes, which name entries of the palette selected into the context, as
// on a true-colour Windows display.
#ifndef JPG_BASE_GDI_H
#define JPG_BASE_GDI_H

#include <cstdint>

#include "base/platform.h"

#if !defined(_WIN32)

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;

struct HDC__;
struct HPALETTE__;
struct HBITMAP__;
using HDC = HDC__ *;
using HPALETTE = HPALETTE__ *;
using HBITMAP = HBITMAP__ *;
using HGDIOBJ = void *;

struct PALETTEENTRY {
    BYTE peRed;
    BYTE peGreen;
    BYTE peBlue;
    BYTE peFlags;
};

struct LOGPALETTE {
    WORD palVersion;
    WORD palNumEntries;
    PALETTEENTRY palPalEntry[1];
};

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

constexpr UINT DIB_RGB_COLORS = 0;
constexpr UINT DIB_PAL_COLORS = 1;
constexpr DWORD BI_RGB = 0;
constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;

HPALETTE CreatePalette(const LOGPALETTE *palette);
HPALETTE SelectPalette(HDC dc, HPALETTE palette, BOOL forceBackground);
UINT RealizePalette(HDC dc);
HDC CreateCompatibleDC(HDC dc);
HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
int SetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, const void *bits, const BITMAPINFO *info,
              UINT usage);
BOOL BitBlt(HDC target, int x, int y, int width, int height, HDC source, int sourceX, int sourceY, DWORD rop);
BOOL DeleteObject(HGDIOBJ object);
BOOL DeleteDC(HDC dc);

#endif  // !_WIN32

namespace jpg {

#if defined(_WIN32)
// The host's device context.
inline HDC openTargetDc(void *deviceContext) { return static_cast<HDC>(deviceContext); }
inline void closeTargetDc(HDC) {}
#else
// A device context drawing on the host's JpgCanvas, for one call; null when
// the canvas is unusable (no pixels for a non-empty size) or the context
// cannot be made.
HDC openTargetDc(void *canvas);
void closeTargetDc(HDC dc);
#endif

}  // namespace jpg

namespace jpg::faults {

// Palettes, device contexts and bitmaps currently held by this thread (0 on
// Windows, where the real GDI runs).
int heldGdiObjects();

}  // namespace jpg::faults

#endif  // JPG_BASE_GDI_H
