// The reduced inverse transforms: the samples of a picture decoded at 1/2,
// 1/4 or 1/8 of its size, 4 x 4, 2 x 2 or 1 sample from each block.
//
// Each output is the mean of the N x N outputs of the full-size transform it
// stands for (N = 2, 4, 8), taken in exact arithmetic: the 8-point kernel's
// basis functions averaged over N neighbours give the weights below. The
// mean of two neighbours of basis function 4, of four of basis functions 2,
// 4 and 6, of eight of every AC basis function, is zero, so the 1/2
// transform reads 49 coefficients, the 1/4 one 25 and the 1/8 one the DC.
// The high frequencies' share of the means matters: a transform of the low
// frequencies alone (the top-left 4 x 4 or 2 x 2 coefficients) differs from
// libjpeg-turbo's scaled pictures by up to 0.9 level on average over
// photo-like pictures, these means by a few thousandths of a level
// (libjpeg's reduced transforms take the same means).
//
// Integer definition (the reference, reducedIdct in reduced_idct.cpp): the
// weights have 13 fractional bits like the full-size kernel's; the columns
// pass comes first (as in libjpeg-turbo: rows first, ten times as many
// samples differ from its by one), its sums rounded and shifted by
// dct::kRowShift (11), then the rows pass, rounded and shifted by
// dct::kColumnShift (18); then the level shift and the clamp.
#ifndef JPG_DECODER_REDUCED_IDCT_H
#define JPG_DECODER_REDUCED_IDCT_H

#include <cstdint>

#include "decoder/decoder_kernels.h"
#include "base/dct_constants.h"

namespace jpg::reduced {

// Descaling of the two passes: the same as the full-size transform's.
constexpr int kFirstShift = dct::kRowShift;
constexpr int kSecondShift = dct::kColumnShift;

// Weight of input u in output k: round(8192 x the mean of the full-size
// kernel's basis function u over outputs 2k and 2k + 1), where basis
// function 0 is 1 and u > 0 is sqrt(2) cos((2n + 1) u pi / 16).
constexpr int32_t kHalfWeights[4][8] = {
    {8192, 10498, 7568, 3686, 0, -2463, -3135, -2088},
    {8192, 4348, -7568, -8900, 0, 5946, 3135, -865},
    {8192, -4348, -7568, 8900, 0, -5946, 3135, 865},
    {8192, -10498, 7568, -3686, 0, 2463, -3135, 2088}};

// The same over outputs 4k to 4k + 3: only inputs 0, 1, 3, 5 and 7 count.
constexpr int32_t kQuarterWeights[2][8] = {{8192, 7423, 0, -2607, 0, 1742, 0, -1477},
                                           {8192, -7423, 0, 2607, 0, -1742, 0, 1477}};

// Over all eight outputs: the DC alone.
constexpr int32_t kEighthWeights[1][8] = {{8192, 0, 0, 0, 0, 0, 0, 0}};

// The rows above by scale (scaleLog2 1, 2, 3): 8 >> scaleLog2 rows of 8.
inline const int32_t (*weights(uint32_t scaleLog2))[8] {
    return scaleLog2 == 1 ? kHalfWeights : scaleLog2 == 2 ? kQuarterWeights : kEighthWeights;
}

// The largest sum of a row's weight magnitudes (38,954, row 1 of
// kHalfWeights).
constexpr int64_t largestWeightSum() {
    int64_t largest = 0;
    for (const auto &row : kHalfWeights) {
        int64_t sum = 0;
        for (int32_t w : row) sum += w < 0 ? -w : w;
        largest = sum > largest ? sum : largest;
    }
    return largest;
}
// With every coefficient within kNarrowLimit the first pass's sums stay
// within 38,954 x 1,024, its results within 16 bits, and the second
// pass's sums within 32 bits: the narrow kernels work in 32 bits, the SIMD
// ones in 16-bit lanes with 32-bit sums.
constexpr int64_t kFirstPassLargest = (largestWeightSum() * kNarrowLimit + (1 << (kFirstShift - 1))) >> kFirstShift;
static_assert(kFirstPassLargest <= 32767, "first pass results fit in 16 bits");
static_assert(largestWeightSum() * kFirstPassLargest + (1 << (kSecondShift - 1)) < (int64_t{1} << 31),
              "second pass sums fit in 32 bits");

}  // namespace jpg::reduced

#endif  // JPG_DECODER_REDUCED_IDCT_H
