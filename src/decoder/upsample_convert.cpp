// Upsampling of each component to full resolution by replication, and the
// conversion of the planes to BMP rows (B, G, R, or grey).
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "decoder/decoder_internal.h"
#include "decoder/decoder_kernels.h"

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
void interleaveRgbRows(const uint8_t *const plane[3], uint8_t *out, uint32_t rows, ptrdiff_t stride,
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

// Which scan component is Y, Cb and Cr (or R, G and B): frame components 0,
// 1 and 2 (the planes are in scan order).
void colourRoles(const DecodeContext &ctx, uint32_t role[3]) {
    for (uint32_t j = 0; j < 3; ++j) role[ctx.headers.order[j] < 3 ? ctx.headers.order[j] : j] = j;
}

// One byte a pixel: a grey picture, or a colour file's luma alone.
inline bool greyOutput(const DecodeContext &ctx) {
    return ctx.state->colourMode != 3 || ctx.scanComponents < 3 || ctx.lumaOnly;
}

// The scan component whose samples a grey output takes: Y (or the one).
inline uint32_t lumaComponent(const DecodeContext &ctx) {
    if (ctx.scanComponents < 3) return 0;
    uint32_t role[3] = {};
    colourRoles(ctx, role);
    return role[0];
}

void copyGreyRows(const uint8_t *grey, size_t rowLength, uint32_t width, uint8_t *out, uint32_t rows,
                  ptrdiff_t stride) {
    for (uint32_t y = 0; y < rows; ++y, grey += rowLength, out += stride) std::memcpy(out, grey, width);
}

}  // namespace

void convertStripRows(const DecodeContext &ctx, uint8_t *const *planes, uint8_t *out, uint32_t rows,
                      uint32_t stride, uint32_t planeStride) {
    const uint32_t width = ctx.state->width;
    if (greyOutput(ctx)) {
        copyGreyRows(planes[lumaComponent(ctx)], planeStride, width, out, rows, stride);
        return;
    }
    uint32_t role[3] = {};
    colourRoles(ctx, role);
    const uint8_t *plane[3] = {planes[role[0]], planes[role[1]], planes[role[2]]};
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

namespace {

// Columns (or rows) of full resolution per sample of a component: 1 or 2,
// or 0 when the component is not a plain half or whole of the largest.
inline uint32_t factor(uint32_t samp, uint32_t max) {
    return samp == max ? 1 : 2 * samp == max ? 2 : 0;
}

}  // namespace

// An MCU of an interleaved scan is 8 maxH pixels wide, one of a
// one-component scan is a block (its columns are split only where its
// samples are the pixels).
PixelColumns pixelColumns(const DecodeContext &ctx, uint32_t firstMcu, uint32_t endMcu) {
    const uint32_t width = outputWidth(ctx);
    if (firstMcu == 0 && endMcu >= ctx.mcusPerRow) return {0, width};
    const uint64_t mcuWidth = (ctx.scanComponents == 1 ? 8u : 8u * ctx.maxH) >> ctx.scaleLog2;
    const auto at = [&](uint32_t mcu) { return static_cast<uint32_t>(std::min<uint64_t>(mcu * mcuWidth, width)); };
    return {at(firstMcu), at(endMcu)};
}

namespace {

// Converts straight from the sample rows, which upsampling would only
// replicate: true when the layout allows it.
bool convertFromSamples(const DecodeContext &ctx, const DecoderKernels &kernels, uint8_t *const *sampleRows,
                        uint8_t *out, uint32_t rows, ptrdiff_t step, PixelColumns x) {
    const uint32_t width = x.end - x.first;
    if (greyOutput(ctx)) {
        const uint32_t c = lumaComponent(ctx);
        const ComponentLayout &l = ctx.comp[c];
        if (l.hSamp != ctx.maxH || l.vSamp != ctx.maxV) return false;
        copyGreyRows(sampleRows[c] + x.first, l.paddedWidth, width, out + x.first, rows, step);
        return true;
    }
    if (ctx.scanComponents != 3 || ctx.headers.colourSpace == ColourSpace::Rgb) return false;
    uint32_t role[3] = {};
    colourRoles(ctx, role);
    uint32_t h[3], v[3];
    for (uint32_t r = 0; r < 3; ++r) {
        h[r] = factor(ctx.comp[role[r]].hSamp, ctx.maxH);
        v[r] = factor(ctx.comp[role[r]].vSamp, ctx.maxV);
        if (h[r] == 0 || v[r] == 0) return false;
    }
    if (h[0] != 1 || v[0] != 1 || h[1] != h[2]) return false;
    const auto convert = h[1] == 1 ? kernels.yccToBgrRow : kernels.yccToBgrHalfRow;
    out += size_t{3} * x.first;
    for (uint32_t y = 0; y < rows; ++y, out += step) {
        const uint8_t *row[3];
        for (uint32_t r = 0; r < 3; ++r) {
            const ComponentLayout &l = ctx.comp[role[r]];
            row[r] = sampleRows[role[r]] + size_t{y / v[r]} * l.paddedWidth + x.first / h[r];
        }
        convert(row[0], row[1], row[2], out, width);
    }
    return true;
}

// upsampleStrip for the MCU columns [firstMcu, endMcu) of an interleaved
// scan: each MCU's samples fill its own columns of the planes.
void upsampleColumns(const DecodeContext &ctx, uint32_t planeStride, uint8_t *const *sampleRows,
                     uint8_t *const *planes, uint32_t firstMcu, uint32_t endMcu) {
    const uint32_t maxH = ctx.maxH, maxV = ctx.maxV, mcus = endMcu - firstMcu;
    for (uint32_t c = 0; c < ctx.scanComponents; ++c) {
        const ComponentLayout &l = ctx.comp[c];
        const uint32_t h = l.hSamp, v = l.vSamp, length = 8 * h * mcus;
        const uint8_t *src = sampleRows[c] + size_t{8} * h * firstMcu;
        uint8_t *dst = planes[c] + size_t{8} * maxH * firstMcu;
        if (maxH % h != 0 || maxV % v != 0) {
            for (uint32_t y = 0; y < 8 * maxV; ++y)
                nearestRows(1, length, planeStride, 1, 8 * maxH * mcus, h, maxH, 1, 1,
                            src + size_t{y * v / maxV} * l.paddedWidth, dst + size_t{y} * planeStride);
            continue;
        }
        const uint32_t hFactor = maxH / h, vFactor = maxV / v;
        for (uint32_t y = 0; y < 8 * v; ++y, src += l.paddedWidth, dst += size_t{vFactor} * planeStride) {
            if (hFactor == 1 && vFactor == 1)
                copyRows(1, length, planeStride, src, dst);
            else if (hFactor == 2)
                doubleRows(1, length, planeStride, vFactor, src, dst);
            else
                replicateRows(1, length, planeStride, hFactor, vFactor, src, dst);
        }
    }
}

}  // namespace

void convertStripFast(const DecodeContext &ctx, const DecoderKernels &kernels, uint8_t *const *sampleRows,
                      uint8_t *const *planes, uint32_t planeStride, uint8_t *out, uint32_t rows, ptrdiff_t step,
                      uint32_t firstMcu, uint32_t endMcu) {
    const PixelColumns x = pixelColumns(ctx, firstMcu, endMcu);
    if (x.first >= x.end) return;
    if (convertFromSamples(ctx, kernels, sampleRows, out, rows, step, x)) return;
    if (firstMcu == 0 && endMcu >= ctx.mcusPerRow)
        upsampleStrip(ctx, planeStride, sampleRows, planes);
    else
        upsampleColumns(ctx, planeStride, sampleRows, planes, firstMcu, endMcu);
    const uint32_t width = x.end - x.first;
    if (greyOutput(ctx)) {
        copyGreyRows(planes[lumaComponent(ctx)] + x.first, planeStride, width, out + x.first, rows, step);
        return;
    }
    uint32_t role[3] = {};
    colourRoles(ctx, role);
    const uint8_t *plane[3] = {planes[role[0]] + x.first, planes[role[1]] + x.first, planes[role[2]] + x.first};
    out += size_t{3} * x.first;
    if (ctx.headers.colourSpace == ColourSpace::Rgb) {
        interleaveRgbRows(plane, out, rows, step, planeStride, width);
        return;
    }
    for (uint32_t y = 0; y < rows; ++y, out += step) {
        const size_t at = size_t{y} * planeStride;
        kernels.yccToBgrRow(plane[0] + at, plane[1] + at, plane[2] + at, out, width);
    }
}

}  // namespace jpg
