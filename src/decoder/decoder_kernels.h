// The pixel kernels of the decoder's fast path, one set per instruction set
// (plain C++, SSE2, AVX2). Each computes exactly the integers of the scalar
// stages in inverse_dct.cpp and upsample_convert.cpp; only the speed
// differs.
#ifndef JPG_DECODER_DECODER_KERNELS_H
#define JPG_DECODER_DECODER_KERNELS_H

#include <cstddef>
#include <cstdint>

#include "base/call_options.h"

namespace jpg {

// Coefficients within this magnitude keep both passes of the transform in
// 32 bits, and the row pass's results in 16 bits: the largest sum of the
// kernel's weights is 61,214, and 61,214 x 1,024 / 2,048 < 32,768.
constexpr int32_t kNarrowLimit = 1024;

struct DecoderKernels {
    // Inverse DCT, level shift and clamp of `count` (1 or 2) natural-order
    // blocks, 64 coefficients apart, all within kNarrowLimit: each gives 8
    // rows of 8 samples `stride` apart, the second block's 8 bytes right of
    // the first's. The blocks are left all zero, ready for the next row.
    void (*idctNarrow)(int32_t *blocks, uint32_t count, uint8_t *out, ptrdiff_t stride);
    // One BMP row (B, G, R) from Y, Cb and Cr samples of the same resolution.
    void (*yccToBgrRow)(const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint8_t *out, uint32_t width);
    // The same from chroma of half the horizontal resolution: chroma sample
    // i covers pixels 2i and 2i + 1.
    void (*yccToBgrHalfRow)(const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint8_t *out, uint32_t width);
    // The reduced transforms (reduced_idct.h) at 1/2, 1/4 and 1/8 of the
    // size (index scaleLog2 - 1), level shift and clamp of `count`
    // natural-order blocks, 64 coefficients apart, all within kNarrowLimit:
    // each gives 8 >> scaleLog2 rows of as many samples `stride` apart, block
    // b's at out + (8 >> scaleLog2) b. They read the coefficients of rows and
    // columns 0 to 7 but 4 (1/2), 0, 1, 3, 5 and 7 (1/4), the DC (1/8), and
    // leave the blocks all zero, ready for the next row.
    void (*idctReduced[3])(int32_t *blocks, uint32_t count, uint8_t *out, ptrdiff_t stride);
};

// The kernels of a set as the processor runs it (see resolveKernels); null
// for the reference set, whose stages are the original ones.
const DecoderKernels *decoderKernels(KernelSet requested);

// The kernels of each file, for decoderKernels.
void idctNarrowPlain(int32_t *blocks, uint32_t count, uint8_t *out, ptrdiff_t stride);
void idctNarrowSse2(int32_t *blocks, uint32_t count, uint8_t *out, ptrdiff_t stride);
void idctNarrowAvx2(int32_t *blocks, uint32_t count, uint8_t *out, ptrdiff_t stride);
void idctHalfPlain(int32_t *blocks, uint32_t count, uint8_t *out, ptrdiff_t stride);
void idctHalfSse2(int32_t *blocks, uint32_t count, uint8_t *out, ptrdiff_t stride);
void idctHalfAvx2(int32_t *blocks, uint32_t count, uint8_t *out, ptrdiff_t stride);
void idctQuarterPlain(int32_t *blocks, uint32_t count, uint8_t *out, ptrdiff_t stride);
void idctEighthPlain(int32_t *blocks, uint32_t count, uint8_t *out, ptrdiff_t stride);
void yccToBgrRowPlain(const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint8_t *out, uint32_t width);
void yccToBgrHalfRowPlain(const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint8_t *out, uint32_t width);
void yccToBgrRowSse2(const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint8_t *out, uint32_t width);
void yccToBgrHalfRowSse2(const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint8_t *out, uint32_t width);
void yccToBgrRowAvx2(const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint8_t *out, uint32_t width);
void yccToBgrHalfRowAvx2(const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint8_t *out, uint32_t width);

}  // namespace jpg

#endif  // JPG_DECODER_DECODER_KERNELS_H
