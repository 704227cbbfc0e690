// A strip of the picture at 1/2, 1/4 or 1/8 of its size: each block through
// a reduced transform (reduced_idct.h), then the samples upsampled where a
// component still has fewer than the pixels, and converted.
//
// As libjpeg does, a subsampled component is scaled up by its transform
// rather than by upsampling where it can: a component of half the largest
// sampling factor each way takes the transform of the next larger size
// (4:2:0 chroma at 1/2 the full 8 x 8 one), so that its samples already
// have the picture's resolution. What is left (4:2:2 chroma, whose vertical
// factor is the largest, or factors that are not powers of two) is
// replicated, the nearest sample as at full size.
#include <algorithm>
#include <cstring>

#include "base/bytes.h"
#include "decoder/decoder_internal.h"
#include "decoder/decoder_kernels.h"

namespace jpg {

namespace {

// How a component is made at the call's scale.
struct ReducedComponent {
    uint32_t scaleLog2 = 0;  // of its transform
    uint32_t block = 8;      // samples a block gives along each axis
    uint32_t h = 1, v = 1;   // pixels each sample covers (1, 2, ...), or 0: nearest by the factors
};

ReducedComponent reducedComponent(const DecodeContext &ctx, uint32_t c) {
    const ComponentLayout &l = ctx.comp[c];
    ReducedComponent r;
    const uint32_t s = ctx.scaleLog2;
    const bool divides = ctx.maxH % l.hSamp == 0 && ctx.maxV % l.vSamp == 0;
    uint32_t larger = 0;  // steps by which the transform grows
    if (ctx.scanComponents > 1 && divides) {
        const uint32_t hRatio = ctx.maxH / l.hSamp, vRatio = ctx.maxV / l.vSamp;
        while (larger < s && hRatio % (2u << larger) == 0 && vRatio % (2u << larger) == 0) ++larger;
        r.h = hRatio >> larger;
        r.v = vRatio >> larger;
    } else if (ctx.scanComponents > 1) {
        r.h = r.v = 0;
    }
    r.scaleLog2 = s - larger;
    r.block = 8u >> r.scaleLog2;
    return r;
}

// Which scan component is Y, Cb and Cr (or R, G and B).
void roles(const DecodeContext &ctx, uint32_t role[3]) {
    for (uint32_t j = 0; j < 3; ++j) role[ctx.headers.order[j] < 3 ? ctx.headers.order[j] : j] = j;
}

}  // namespace

void makeReducedStripColumns(const DecodeContext &ctx, const DecoderKernels &kernels, CoefficientRows *rows,
                             const BlockKinds *kinds, uint32_t mcuRows, uint8_t *const *sampleRows, uint8_t *scratch,
                             uint8_t *out, uint32_t count, ptrdiff_t step, uint32_t firstMcu, uint32_t endMcu) {
    ReducedComponent rc[kMaxScanComponents];
    for (uint32_t c = 0; c < ctx.scanComponents; ++c) rc[c] = reducedComponent(ctx, c);

    // The samples of the MCU columns [firstMcu, endMcu), each component's
    // rows at its own resolution, paddedWidth apart.
    for (uint32_t r = 0; r < mcuRows; ++r) {
        for (uint32_t c = 0; c < ctx.scanComponents; ++c) {
            const ComponentLayout &l = ctx.comp[c];
            const size_t w = l.paddedWidth;
            const size_t blocks = w / 8;
            const size_t first = size_t{firstMcu} * l.mcuWidthBlocks;
            const size_t end = std::min(size_t{endMcu} * l.mcuWidthBlocks, blocks);
            const uint32_t b = rc[c].block;
            for (uint32_t v = 0; v < l.mcuHeightBlocks; ++v) {
                uint8_t *dest = sampleRows[c] + (size_t{r} * l.mcuHeightBlocks + v) * b * w;
                reconstructBlockRowReduced(rows[r].rows[c] + v * w * 8, kinds[r].kinds[c] + v * blocks, kernels,
                                           rc[c].scaleLog2, dest, static_cast<ptrdiff_t>(w), first, end);
            }
        }
    }
    if (count == 0) return;

    const PixelColumns x = pixelColumns(ctx, firstMcu, endMcu);
    if (x.first >= x.end) return;
    const uint32_t width = x.end - x.first;
    // Row y of component c's samples at the picture's resolution, columns
    // [x.first, x.end): the samples themselves, or replicated into `into`.
    const auto pixelsOf = [&](uint32_t c, uint32_t y, uint8_t *into) -> const uint8_t * {
        const ComponentLayout &l = ctx.comp[c];
        const ReducedComponent &p = rc[c];
        if (p.h == 1 && p.v == 1) return sampleRows[c] + size_t{y} * l.paddedWidth + x.first;
        if (p.h != 0) {
            const uint8_t *row = sampleRows[c] + size_t{y / p.v} * l.paddedWidth;
            for (uint32_t i = 0; i < width; ++i) into[i] = row[(x.first + i) / p.h];
            return into;
        }
        // Factors that do not divide: the nearest sample, as at full size.
        const uint32_t rowsMade = l.mcuHeightBlocks * mcuRows * p.block;
        const uint32_t sy = std::min(static_cast<uint32_t>(uint64_t{y} * l.vSamp / ctx.maxV), rowsMade - 1);
        const uint8_t *row = sampleRows[c] + size_t{sy} * l.paddedWidth;
        for (uint32_t i = 0; i < width; ++i)
            into[i] = row[std::min<uint64_t>(uint64_t{x.first + i} * l.hSamp / ctx.maxH, l.paddedWidth - 1)];
        return into;
    };

    const bool grey = ctx.state->colourMode != 3 || ctx.scanComponents < 3 || ctx.lumaOnly;
    uint32_t role[3] = {0, 1, 2};
    if (ctx.scanComponents >= 3) roles(ctx, role);
    uint8_t *temp[3] = {scratch, scratch + width, scratch + 2 * size_t{width}};
    for (uint32_t y = 0; y < count; ++y, out += step) {
        if (grey) {
            const uint8_t *luma = pixelsOf(role[0], y, temp[0]);
            std::memcpy(out + x.first, luma, width);
            continue;
        }
        const uint8_t *p0 = pixelsOf(role[0], y, temp[0]);
        uint8_t *o = out + size_t{3} * x.first;
        if (ctx.headers.colourSpace == ColourSpace::Rgb) {
            const uint8_t *p1 = pixelsOf(role[1], y, temp[1]), *p2 = pixelsOf(role[2], y, temp[2]);
            for (uint32_t i = 0; i < width; ++i, o += 3) {
                o[0] = p2[i];
                o[1] = p1[i];
                o[2] = p0[i];
            }
            continue;
        }
        // Chroma of half the resolution across, whole down: the half kernel
        // reads it as it is.
        const ReducedComponent &cb = rc[role[1]], &cr = rc[role[2]];
        if (cb.h == 2 && cr.h == 2 && cb.v == cr.v && cb.v != 0 && x.first % 2 == 0) {
            const uint8_t *pb = sampleRows[role[1]] + size_t{y / cb.v} * ctx.comp[role[1]].paddedWidth + x.first / 2;
            const uint8_t *pr = sampleRows[role[2]] + size_t{y / cr.v} * ctx.comp[role[2]].paddedWidth + x.first / 2;
            kernels.yccToBgrHalfRow(p0, pb, pr, o, width);
            continue;
        }
        const uint8_t *p1 = pixelsOf(role[1], y, temp[1]), *p2 = pixelsOf(role[2], y, temp[2]);
        kernels.yccToBgrRow(p0, p1, p2, o, width);
    }
}

}  // namespace jpg
