/*
 * JPG: the drawing surface of iShowMeta on systems without Windows GDI.
 *
 * On Windows iShowMeta draws into an HDC. Elsewhere its deviceContext
 * argument is a JpgCanvas that the host owns: a plain array of 32-bit pixels
 * on which the library draws exactly what a true-colour Windows display shows
 * for the same file. Drawing starts at the canvas origin (top-left) and is
 * clipped to the canvas; pixels outside the drawn area keep their values.
 */
#ifndef JPG_CANVAS_H
#define JPG_CANVAS_H

#include <stdint.h>

typedef struct JpgCanvas {
    uint32_t  width;   /* pixels per line */
    uint32_t  height;  /* lines */
    uint32_t *pixels;  /* width * height pixels, top line first, each 0x00RRGGBB */
} JpgCanvas;

#endif /* JPG_CANVAS_H */
