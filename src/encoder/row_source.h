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
    // Rows [first, first + count) in any order, from any thread, for a
    // source that can give them so; else null.
    Result (*rowsAt)(const void *context, uint32_t first, uint32_t count, const uint8_t *&rows, size_t &stride);
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

    static Result rowsAt(const void *context, uint32_t first, uint32_t count, const uint8_t *&rows, size_t &stride) {
        const auto *self = static_cast<const PixelRows *>(context);
        if (first > self->height || count > self->height - first) return Result::Malformed;  // never asked
        rows = self->pixels + self->pitch * first;
        stride = self->pitch;
        return Result::Ok;
    }
    static Result next(void *context, uint32_t count, const uint8_t *&rows, size_t &stride) {
        auto *self = static_cast<PixelRows *>(context);
        const Result r = rowsAt(context, self->nextRow, count, rows, stride);
        self->nextRow += count;
        return r;
    }
};

}  // namespace jpg

#endif  // JPG_ENCODER_ROW_SOURCE_H
