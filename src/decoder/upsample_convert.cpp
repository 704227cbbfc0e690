// Upsampling of each component to full resolution by replication, and the
// conversion of the planes to BMP rows (B, G, R, or grey).
#include <cstring>

#include "decoder/decoder_internal.h"

namespace jpg {

void copyRows(uint32_t rows, uint32_t length, uint32_t destStride, const uint8_t *src, uint8_t *dst) {
    for (uint32_t y = 0; y < rows; ++y, src += length, dst += destStride) std::memcpy(dst, src, length);
}

void doubleRows(uint32_t rows, uint32_t length, uint32_t destStride, uint32_t vFactor, const uint8_t *src,
                uint8_t *dst) {
    for (uint32_t y = 0; y < rows; ++y, src += length) {
        uint8_t *first = dst;
        for (uint32_t i = 0; i < length; ++i) first[2 * i] = first[2 * i + 1] = src[i];
        dst += destStride;
        for (uint32_t r = 1; r < vFactor; ++r, dst += destStride) std::memcpy(dst, first, 2 * size_t{length});
    }
}

void replicateRows(uint32_t rows, uint32_t length, uint32_t destStride, uint32_t hFactor, uint32_t vFactor,
                   const uint8_t *src, uint8_t *dst) {
    const size_t out = size_t{length} * hFactor;
    for (uint32_t y = 0; y < rows; ++y, src += length) {
        uint8_t *first = dst;
        for (uint32_t i = 0; i < length; ++i) std::memset(first + size_t{i} * hFactor, src[i], hFactor);
        dst += destStride;
        for (uint32_t r = 1; r < vFactor; ++r, dst += destStride) std::memcpy(dst, first, out);
    }
}

void nearestRows(uint32_t rows, uint32_t length, uint32_t destStride, uint32_t destRows, uint32_t destLength,
                 uint32_t h, uint32_t maxH, uint32_t v, uint32_t maxV, const uint8_t *src, uint8_t *dst) {
    for (uint32_t y = 0; y < destRows; ++y, dst += destStride) {
        const uint32_t sy = static_cast<uint32_t>(uint64_t{y} * v / maxV);
        if (sy >= rows) break;
        const uint8_t *row = src + size_t{sy} * length;
        for (uint32_t x = 0; x < destLength; ++x) {
            const uint32_t sx = static_cast<uint32_t>(uint64_t{x} * h / maxH);
            dst[x] = sx < length ? row[sx] : row[length - 1];
        }
    }
}

void upsampleStrip(const DecodeContext &ctx, uint32_t planeStride, uint8_t *const *sampleRows,
                   uint8_t *const *planes) {
    const uint32_t maxH = ctx.maxH, maxV = ctx.maxV;
    for (uint32_t c = 0; c < ctx.scanComponents; ++c) {
        const ComponentLayout &l = ctx.comp[c];
        const uint32_t h = l.hSamp, v = l.vSamp, rows = 8 * v, length = l.paddedWidth;
        const uint8_t *src = sampleRows[c];
        uint8_t *dst = planes[c];
        const bool divides = maxH % h == 0 && maxV % v == 0 && uint64_t{length} * (maxH / h) <= planeStride;
        if (divides && h == maxH && v == maxV)
            copyRows(rows, length, planeStride, src, dst);
        else if (divides && 2 * h == maxH)
            doubleRows(rows, length, planeStride, maxV / v, src, dst);
        else if (divides)
            replicateRows(rows, length, planeStride, maxH / h, maxV / v, src, dst);
        else
            nearestRows(rows, length, planeStride, 8 * maxV, planeStride, h, maxH, v, maxV, src, dst);
    }
}

namespace {

// R, G, B planes to B, G, R pixels, the samples as they are.
void interleaveRgbRows(const uint8_t *const plane[3], uint8_t *out, uint32_t rows, uint32_t stride,
                       uint32_t planeStride, uint32_t width) {
    for (uint32_t y = 0; y < rows; ++y, out += stride) {
        const size_t at = size_t{y} * planeStride;
        const uint8_t *pr = plane[0] + at, *pg = plane[1] + at, *pb = plane[2] + at;
        uint8_t *o = out;
        for (uint32_t x = 0; x < width; ++x, o += 3) {
            o[0] = pb[x];
            o[1] = pg[x];
            o[2] = pr[x];
        }
    }
}

}  // namespace

void convertStripRows(const DecodeContext &ctx, uint8_t *const *planes, uint8_t *out, uint32_t rows,
                      uint32_t stride, uint32_t planeStride) {
    const uint32_t width = ctx.state->width;
    if (ctx.state->colourMode != 3 || ctx.scanComponents < 3) {
        const uint8_t *grey = planes[0];
        for (uint32_t y = 0; y < rows; ++y, grey += planeStride, out += stride) std::memcpy(out, grey, width);
        return;
    }
    // The planes are in scan order; Y, Cb and Cr (or R, G and B) are frame
    // components 0, 1, 2.
    const uint8_t *plane[3] = {};
    for (uint32_t j = 0; j < 3; ++j) plane[ctx.headers.order[j] < 3 ? ctx.headers.order[j] : j] = planes[j];
    if (ctx.headers.colourSpace == ColourSpace::Rgb) {
        interleaveRgbRows(plane, out, rows, stride, planeStride, width);
        return;
    }
    for (uint32_t y = 0; y < rows; ++y, out += stride) {
        const size_t at = size_t{y} * planeStride;
        const uint8_t *py = plane[0] + at, *pb = plane[1] + at, *pr = plane[2] + at;
        uint8_t *o = out;
        for (uint32_t x = 0; x < width; ++x, o += 3) {
            const int32_t luma = py[x], cb = pb[x] - 128, cr = pr[x] - 128;
            o[0] = clampToByte(luma + ((227 * cb) >> 7));
            o[1] = clampToByte(luma - ((183 * cr + 88 * cb) >> 8));
            o[2] = clampToByte(luma + ((179 * cr) >> 7));
        }
    }
}

}  // namespace jpg
