// Samples of a picture decoded at 1/2, 1/4 or 1/8 of its size straight from
// the blocks' coefficients (see reduced_idct.h): the reference transform,
// the plain kernels of the narrow blocks, and a block row's samples.

#include "decoder/reduced_idct.h"

#include <cstring>

#include "decoder/decoder_internal.h"
#include "decoder/decoder_kernels.h"

namespace jpg {

namespace {

using reduced::kHalfWeights;
using reduced::kQuarterWeights;

constexpr int32_t kFirstRound = 1 << (reduced::kFirstShift - 1);
constexpr int32_t kSecondRound = 1 << (reduced::kSecondShift - 1);

// The plain kernels below (and the SIMD ones) compute the weights' sums with
// butterflies, which hold for these symmetries of the tables.
constexpr bool halfWeightsSymmetric() {
    for (int u = 0; u < 8; ++u) {
        const int32_t sign = u % 2 ? -1 : 1;
        if (kHalfWeights[3][u] != sign * kHalfWeights[0][u] || kHalfWeights[2][u] != sign * kHalfWeights[1][u])
            return false;
    }
    return kHalfWeights[0][0] == dct::kOne && kHalfWeights[1][0] == dct::kOne && kHalfWeights[0][4] == 0 &&
           kHalfWeights[1][4] == 0 && kHalfWeights[1][2] == -kHalfWeights[0][2] &&
           kHalfWeights[1][6] == -kHalfWeights[0][6];
}
static_assert(halfWeightsSymmetric(), "outputs 3 and 2 mirror outputs 0 and 1; input 2 and 6 change sign");

constexpr bool quarterWeightsSymmetric() {
    for (int u = 0; u < 8; ++u) {
        if (kQuarterWeights[1][u] != (u % 2 ? -1 : 1) * kQuarterWeights[0][u]) return false;
        if (u > 0 && u % 2 == 0 && kQuarterWeights[0][u] != 0) return false;
    }
    return kQuarterWeights[0][0] == dct::kOne;
}
static_assert(quarterWeightsSymmetric(), "output 1 mirrors output 0; even inputs but the DC do not count");

// One line of the 1/2 transform: four outputs from the inputs 0 to 7 (but
// 4) `step` apart, rounded and shifted by Shift.
template <int Shift>
inline void halfLine(const int32_t *in, ptrdiff_t step, int32_t *o) {
    const int32_t a = in[0] * dct::kOne + (1 << (Shift - 1));
    const int32_t e = kHalfWeights[0][2] * in[2 * step] + kHalfWeights[0][6] * in[6 * step];
    const int32_t o0 = kHalfWeights[0][1] * in[step] + kHalfWeights[0][3] * in[3 * step] +
                       kHalfWeights[0][5] * in[5 * step] + kHalfWeights[0][7] * in[7 * step];
    const int32_t o1 = kHalfWeights[1][1] * in[step] + kHalfWeights[1][3] * in[3 * step] +
                       kHalfWeights[1][5] * in[5 * step] + kHalfWeights[1][7] * in[7 * step];
    o[0] = (a + e + o0) >> Shift;
    o[3] = (a + e - o0) >> Shift;
    o[1] = (a - e + o1) >> Shift;
    o[2] = (a - e - o1) >> Shift;
}

// One line of the 1/4 transform: two outputs from inputs 0, 1, 3, 5 and 7.
template <int Shift>
inline void quarterLine(const int32_t *in, ptrdiff_t step, int32_t *o) {
    const int32_t a = in[0] * dct::kOne + (1 << (Shift - 1));
    const int32_t odd = kQuarterWeights[0][1] * in[step] + kQuarterWeights[0][3] * in[3 * step] +
                        kQuarterWeights[0][5] * in[5 * step] + kQuarterWeights[0][7] * in[7 * step];
    o[0] = (a + odd) >> Shift;
    o[1] = (a - odd) >> Shift;
}

// The sample of a block whose outputs all equal (dc + 4) >> 3: the DC
// alone, or the 1/8 transform of any block. 64 bits keep every int32 DC
// from wrapping.
inline uint8_t dcSample(int32_t dc) {
    return clampToByte(static_cast<int32_t>(((int64_t{dc} + 4) >> 3) + 128));
}

// Clears a block of 64 coefficients. In pieces of 32 bytes, which compilers
// store with a few vector moves: a single memset of the whole block tends to
// become a string instruction that costs more than the 1/8 transform itself.
inline void clearBlock(int32_t *block) {
    for (int i = 0; i < 64; i += 8) std::memset(block + i, 0, 8 * sizeof *block);
}

inline uint8_t clampWide(int64_t v) { return static_cast<uint8_t>(v <= 0 ? 0 : v >= 255 ? 255 : v); }

}  // namespace

void reducedIdct(const int32_t *block, uint32_t scaleLog2, uint8_t *out, ptrdiff_t stride) {
    const uint32_t size = 8 >> scaleLog2;
    const int32_t(*w)[8] = reduced::weights(scaleLog2);
    int64_t first[4][8];  // output row n of the columns pass, column u
    for (uint32_t n = 0; n < size; ++n)
        for (int u = 0; u < 8; ++u) {
            int64_t s = 0;
            for (int v = 0; v < 8; ++v) s += int64_t{w[n][v]} * block[8 * v + u];
            first[n][u] = (s + kFirstRound) >> reduced::kFirstShift;
        }
    for (uint32_t n = 0; n < size; ++n)
        for (uint32_t k = 0; k < size; ++k) {
            int64_t s = 0;
            for (int u = 0; u < 8; ++u) s += w[k][u] * first[n][u];
            out[n * stride + k] = clampWide(((s + kSecondRound) >> reduced::kSecondShift) + 128);
        }
}

void idctHalfPlain(int32_t *blocks, uint32_t count, uint8_t *out, ptrdiff_t stride) {
    for (uint32_t b = 0; b < count; ++b, blocks += 64, out += 4) {
        int32_t first[4][8];  // column 4 weighs nothing in the rows pass and is left unset
        for (int u : {0, 1, 2, 3, 5, 6, 7}) {
            int32_t o[4];
            halfLine<reduced::kFirstShift>(blocks + u, 8, o);
            for (int n = 0; n < 4; ++n) first[n][u] = o[n];
        }
        clearBlock(blocks);
        for (int n = 0; n < 4; ++n) {
            int32_t o[4];
            halfLine<reduced::kSecondShift>(first[n], 1, o);
            for (int k = 0; k < 4; ++k) out[n * stride + k] = clampToByte(o[k] + 128);
        }
    }
}

void idctQuarterPlain(int32_t *blocks, uint32_t count, uint8_t *out, ptrdiff_t stride) {
    for (uint32_t b = 0; b < count; ++b, blocks += 64, out += 2) {
        // The columns pass: columns 0, 1, 3, 5 and 7 of its two rows.
        int32_t top[8], bottom[8], o[2];
        for (int u : {0, 1, 3, 5, 7}) {
            quarterLine<reduced::kFirstShift>(blocks + u, 8, o);
            top[u] = o[0];
            bottom[u] = o[1];
        }
        clearBlock(blocks);
        quarterLine<reduced::kSecondShift>(top, 1, o);
        out[0] = clampToByte(o[0] + 128);
        out[1] = clampToByte(o[1] + 128);
        quarterLine<reduced::kSecondShift>(bottom, 1, o);
        out[stride] = clampToByte(o[0] + 128);
        out[stride + 1] = clampToByte(o[1] + 128);
    }
}

void idctEighthPlain(int32_t *blocks, uint32_t count, uint8_t *out, ptrdiff_t) {
    for (uint32_t b = 0; b < count; ++b, blocks += 64) {
        out[b] = dcSample(blocks[0]);
        clearBlock(blocks);
    }
}

void reconstructBlockRowReduced(int32_t *row, const uint8_t *kind, const DecoderKernels &kernels, uint32_t scaleLog2,
                                uint8_t *out, ptrdiff_t stride, size_t first, size_t end) {
    if (scaleLog2 == 0) {
        reconstructBlockRow(row, kind, kernels, out, stride, first, end);
        return;
    }
    const uint32_t size = 8 >> scaleLog2;
    for (size_t j = first; j < end;) {
        int32_t *block = row + 64 * j;
        uint8_t *at = out + size * j;
        if (kind[j] == kBlockDcOnly) {
            const uint8_t sample = dcSample(block[0]);
            for (uint32_t y = 0; y < size; ++y) std::memset(at + y * stride, sample, size);
            ++j;
        } else if (kind[j] == kBlockWide) {
            reducedIdct(block, scaleLog2, at, stride);
            clearBlock(block);
            ++j;
        } else {
            size_t run = j + 1;
            while (run < end && kind[run] == kBlockNarrow) ++run;
            kernels.idctReduced[scaleLog2 - 1](block, static_cast<uint32_t>(run - j), at, stride);
            j = run;
        }
    }
}

}  // namespace jpg
