// Where the encoder takes a picture's rows from: a BMP or netpbm file, read
// a strip at a time (export_driver.cpp), or the caller's pixels, read in
// place (jpgEncode).
#ifndef JPG_ENCODER_ROW_SOURCE_H
#define JPG_ENCODER_ROW_SOURCE_H

#include <cstddef>
#include <cstdint>

#include "base/result.h"

namespace jpg {

struct RowSource {
    // The next `count` rows of the picture (at most kMaxStripHeight), top
    // row first: `rows` receives the first one's pixels, `stride` the
    // distance from a row to the next. The pixels stay valid until the next
    // call.
    Result (*next)(void *context, uint32_t count, const uint8_t *&rows, size_t &stride);
    void *context;
    uint32_t bytesPerPixel;  // 1 grey; 3 B, G, R; 4 B, G, R and a byte not read
    bool redFirst;           // 3 and 4 bytes: R, G, B instead
};

// The rows of a picture in memory: `height` rows of `width` pixels, `pitch`
// bytes apart from `pixels` on. Read in place: nothing beyond
// pixels[0, pitch x (height - 1) + width x bytesPerPixel) is read.
struct PixelRows {
    const uint8_t *pixels = nullptr;
    size_t pitch = 0;
    uint32_t height = 0;
    uint32_t nextRow = 0;

    static Result next(void *context, uint32_t count, const uint8_t *&rows, size_t &stride) {
        auto *self = static_cast<PixelRows *>(context);
        if (count > self->height - self->nextRow) return Result::Malformed;  // never: the encoder asks no more
        rows = self->pixels + self->pitch * self->nextRow;
        stride = self->pitch;
        self->nextRow += count;
        return Result::Ok;
    }
};

}  // namespace jpg

#endif  // JPG_ENCODER_ROW_SOURCE_H
