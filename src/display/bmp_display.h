// The BMP display: a BMP file drawn row by row into a device context, with
// its colour table realised as a palette.
#ifndef JPG_DISPLAY_BMP_DISPLAY_H
#define JPG_DISPLAY_BMP_DISPLAY_H

#include <cstdint>

#include "base/gdi.h"

namespace jpg {

// A logical palette (version 0x300) from n colour-table entries of 4 bytes
// (blue, green, red, reserved), or, when n is 0, the 256-entry 3-3-2 colour
// cube (red steps fastest by 32, then green by 32, then blue by 64). Null
// when its temporary block or the palette cannot be made.
HPALETTE createDisplayPalette(const uint8_t *colourTable, uint16_t n);

// Draws a BMP file into a device context (an HDC, or a JpgCanvas elsewhere):
// a JPG_SHOW_* status.
int32_t showBmpFile(void *deviceContext, const char *bmpPath);

}  // namespace jpg

#endif  // JPG_DISPLAY_BMP_DISPLAY_H
