// Source rows to component planes: B, G, R (or R, G, B) to YCbCr in fixed
// point (BT.601 weights times 128), replication of the last column and row
// into the padding, and the chroma averages: 2 x 1 pairs (the exports'
// 4:2:2) and 2 x 2 squares (4:2:0).
#include <cstring>

#include "encoder/encoder_kernels.h"
#include "encoder/encoder_state.h"

namespace jpg {

void convertStripToPlanes(const EncoderState *state, const uint8_t *stripPixels, uint32_t rows, size_t rowStride,
                          uint32_t bytesPerPixel, bool redFirst, uint8_t *const fullPlanes[], uint8_t *scratch) {
    const uint32_t planeStride = roundUpWide(state->width, 8u * state->maxH);
    for (uint32_t r = 0; r < rows; ++r) {
        const uint8_t *src = stripPixels + r * rowStride;
        const size_t rowStart = static_cast<size_t>(r) * planeStride;
        if (bytesPerPixel == 1) {
            std::memcpy(fullPlanes[0] + rowStart, src, state->width);
        } else if (state->colourMode == 1) {
            rowToYccPlain(src, state->width, bytesPerPixel, redFirst, fullPlanes[0] + rowStart, scratch,
                          scratch + state->width);
        } else {
            rowToYccPlain(src, state->width, bytesPerPixel, redFirst, fullPlanes[0] + rowStart,
                          fullPlanes[1] + rowStart, fullPlanes[2] + rowStart);
        }
    }
}

void padStripEdges(const EncoderState *state, uint32_t paddedStripWidth, uint32_t rows,
                   uint8_t *const fullPlanes[]) {
    for (uint32_t i = 0; i < state->scanComponents; ++i) {
        uint8_t *plane = fullPlanes[i];
        if (paddedStripWidth > state->width) {
            for (uint32_t r = 0; r < rows; ++r) {
                uint8_t *row = plane + static_cast<size_t>(r) * paddedStripWidth;
                std::memset(row + state->width, row[state->width - 1], paddedStripWidth - state->width);
            }
        }
        for (uint32_t r = rows; r < stripHeight(state); ++r)
            std::memcpy(plane + static_cast<size_t>(r) * paddedStripWidth,
                        plane + static_cast<size_t>(r - 1) * paddedStripWidth, paddedStripWidth);
    }
}

void downsampleStrip(const EncoderState *state, uint32_t paddedStripWidth, const uint8_t *const fullPlanes[],
                     uint8_t *const componentPlanes[]) {
    for (uint32_t i = 0; i < state->scanComponents; ++i) {
        const EncoderComponent &c = state->components[i];
        const uint8_t *src = fullPlanes[i];
        uint8_t *dst = componentPlanes[i];
        const uint32_t outRows = kStripHeight * c.vSamp;
        if (c.hSamp == state->maxH && c.vSamp == state->maxV) {
            for (uint32_t r = 0; r < outRows; ++r)
                std::memcpy(dst + static_cast<size_t>(r) * c.paddedWidth,
                            src + static_cast<size_t>(r) * paddedStripWidth, c.paddedWidth);
            continue;
        }
        const uint32_t fx = state->maxH / c.hSamp, fy = state->maxV / c.vSamp;
        for (uint32_t r = 0; r < outRows; ++r) {
            const uint8_t *in = src + static_cast<size_t>(r * fy) * paddedStripWidth;
            uint8_t *out = dst + static_cast<size_t>(r) * c.paddedWidth;
            if (fx == 2 && fy == 1)  // the 4:2:2 chroma: (left + right + 1) / 2
                averagePairsPlain(in, out, c.paddedWidth);
            else  // fx == 2 && fy == 2, the 4:2:0 chroma
                averageSquaresPlain(in, in + paddedStripWidth, out, c.paddedWidth);
        }
    }
}

void rowToYccPlain(const uint8_t *source, uint32_t width, uint32_t bytesPerPixel, bool redFirst, uint8_t *y,
                   uint8_t *cb, uint8_t *cr) {
    const uint32_t blue = redFirst ? 2 : 0, red = 2 - blue;
    for (uint32_t x = 0; x < width; ++x, source += bytesPerPixel) {
        const int32_t b = source[blue], g = source[1], rd = source[red];
        y[x] = static_cast<uint8_t>((38 * rd + 75 * g + 15 * b) >> 7);
        cb[x] = static_cast<uint8_t>(((64 * b - 22 * rd - 42 * g) >> 7) + 128);
        cr[x] = static_cast<uint8_t>(((64 * rd - 54 * g - 10 * b) >> 7) + 128);
    }
}

void averagePairsPlain(const uint8_t *in, uint8_t *out, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>((in[2 * i] + in[2 * i + 1] + 1) >> 1);
}

void averageSquaresPlain(const uint8_t *top, const uint8_t *bottom, uint8_t *out, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t sum = top[2 * i] + top[2 * i + 1] + bottom[2 * i] + bottom[2 * i + 1];
        out[i] = static_cast<uint8_t>((sum + 1 + (i & 1)) >> 2);
    }
}

}  // namespace jpg
