// Source rows to component planes: BGR to YCbCr in fixed point (BT.601
// weights times 128), replication of the last column and row into the
// padding, and the 2 x 1 box average of the chroma planes.
#include <cstring>

#include "encoder/encoder_kernels.h"
#include "encoder/encoder_state.h"

namespace jpg {

void convertStripToPlanes(const EncoderState *state, const uint8_t *stripPixels, uint32_t rows,
                          uint32_t rowStride, uint32_t bytesPerPixel, uint8_t *const fullPlanes[]) {
    const uint32_t planeStride = roundUpWide(state->width, 8u * state->maxH);
    for (uint32_t r = 0; r < rows; ++r) {
        const uint8_t *src = stripPixels + static_cast<size_t>(r) * rowStride;
        const size_t rowStart = static_cast<size_t>(r) * planeStride;
        if (state->colourMode == 1) {
            std::memcpy(fullPlanes[0] + rowStart, src, state->width);
            continue;
        }
        bgrToYccRowPlain(src, state->width, bytesPerPixel, fullPlanes[0] + rowStart, fullPlanes[1] + rowStart,
                        fullPlanes[2] + rowStart);
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
        for (uint32_t r = rows; r < kStripHeight; ++r)
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
        const uint32_t area = fx * fy;
        if (fx == 2 && fy == 1) {  // the 4:2:2 chroma: (left + right + 1) / 2
            for (uint32_t r = 0; r < outRows; ++r)
                averagePairsPlain(src + static_cast<size_t>(r) * paddedStripWidth,
                                  dst + static_cast<size_t>(r) * c.paddedWidth, c.paddedWidth);
            continue;
        }
        for (uint32_t r = 0; r < outRows; ++r) {
            uint8_t *out = dst + static_cast<size_t>(r) * c.paddedWidth;
            for (uint32_t col = 0; col < c.paddedWidth; ++col) {
                uint32_t sum = 0;
                for (uint32_t dy = 0; dy < fy; ++dy) {
                    const uint8_t *in = src + static_cast<size_t>(r * fy + dy) * paddedStripWidth + col * fx;
                    for (uint32_t dx = 0; dx < fx; ++dx) sum += in[dx];
                }
                out[col] = static_cast<uint8_t>((sum + area / 2) / area);
            }
        }
    }
}

void bgrToYccRowPlain(const uint8_t *source, uint32_t width, uint32_t bytesPerPixel, uint8_t *y, uint8_t *cb,
                     uint8_t *cr) {
    for (uint32_t x = 0; x < width; ++x, source += bytesPerPixel) {
        const int32_t b = source[0], g = source[1], rd = source[2];
        y[x] = static_cast<uint8_t>((38 * rd + 75 * g + 15 * b) >> 7);
        cb[x] = static_cast<uint8_t>(((64 * b - 22 * rd - 42 * g) >> 7) + 128);
        cr[x] = static_cast<uint8_t>(((64 * rd - 54 * g - 10 * b) >> 7) + 128);
    }
}

void averagePairsPlain(const uint8_t *in, uint8_t *out, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>((in[2 * i] + in[2 * i + 1] + 1) >> 1);
}

}  // namespace jpg
