// The BMP display's palette.
#ifndef JPG_THUMBNAIL_BMP_DISPLAY_H
#define JPG_THUMBNAIL_BMP_DISPLAY_H

#include <cstdint>

#include "frame/gdi.h"

namespace jpg {

// A logical palette (version 0x300) from n colour-table entries of 4 bytes
// (blue, green, red, reserved), or, when n is 0, the 256-entry 3-3-2 colour
// cube (red steps fastest by 32, then green by 32, then blue by 64). Null
// when its temporary block or the palette cannot be made.
HPALETTE createDisplayPalette(const uint8_t *colourTable, uint16_t n);

}  // namespace jpg

#endif  // JPG_THUMBNAIL_BMP_DISPLAY_H
