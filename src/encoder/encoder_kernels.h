// The encoder's fast kernels: colour conversion, chroma averaging, and the
// forward DCT with quantisation, in plain C++ and in SSE2 and AVX2.
//
// Every kernel computes exactly what the reference stages compute
// (convertStripToPlanes, downsampleStrip, transformBlock): the same integer
// arithmetic, so the same bytes. Only the quantisation is done differently,
// by a reciprocal multiply that equals the reference's rounded division for
// every coefficient the transform can produce (see QuantReciprocals).
#ifndef JPG_ENCODER_ENCODER_KERNELS_H
#define JPG_ENCODER_ENCODER_KERNELS_H

#include <array>
#include <cstdint>

#include "base/call_options.h"

namespace jpg {

// A quantisation table prepared for division by multiplication, in natural
// order (row by row), for a divisor q of 1 to 16,384:
//   multiplier = ceil(2^31 / q), half = q >> 1, limit = 1023 (AC) or a
//   bound no DC value reaches.
// The reference computes sign(v) * floor((|v| + half) / q). With
// a = |v| + half and e = multiplier * q - 2^31 (0 <= e < q), the product
// a * multiplier / 2^31 exceeds a / q by a * e / (q * 2^31), which stays
// below the distance 1/q to the next multiple whenever a * q < 2^31; with
// q <= 2^14 that holds for every a < 2^17, far beyond the |v| <= 1,100 that
// the transform of 8-bit samples can produce. So
//   floor(a / q) = (a * multiplier) >> 31.
//
// The SIMD kernels take the same quotients in 16-bit lanes: with a <= 12,288
// (so 4a < 2^16), the high half of 4a * multiplier16, then the high half of
// that times scale16 = 2^(16 - s), a shift right by s:
//   floor(floor(4a * m / 2^16) * 2^(16 - s) / 2^16) = floor(a * m / 2^S),
// S = 14 + s, m = ceil(2^S / q). With e = m * q - 2^S (0 <= e < q) and
// a = n * q + r, a * m / 2^S = n + (r + a * e / 2^S) / q, which stays below
// n + 1 whenever a * e < 2^S. makeQuantReciprocals takes the least S >= 15
// with (4,096 + half) * e < 2^S: exact for every |v| <= 4,096. Then
// m <= 2 * 12,288 when S > 15 (S - 1 failed, so 2^S < 2 (4,096 + half) q),
// m <= 2^15 when S = 15, and 1 <= s <= 14. The 16-bit tables hold their rows
// in the order 0, 4, 1, 5, 2, 6, 3, 7 (row r at kPairedRow[r] * 8), as the
// AVX2 kernel holds them, two rows per vector.
struct QuantReciprocals {
    uint32_t multiplier[64];
    int32_t half[64];
    int32_t limit[64];
    uint16_t multiplier16[64];
    uint16_t scale16[64];
    int16_t half16[64];
    int16_t limit16[64];
};

// The slot of row r in the 16-bit tables.
inline constexpr int kPairedRow[8] = {0, 2, 4, 6, 1, 3, 5, 7};

// Largest divisor the reciprocal method serves (levels give at most ~11,900).
constexpr int32_t kMaxReciprocalDivisor = 16384;

// Fills `out` from a table of divisors in zigzag order (EncoderState's
// quantTables); false when a divisor lies outside 1..kMaxReciprocalDivisor.
bool makeQuantReciprocals(const int32_t zigzagDivisors[64], QuantReciprocals &out);

// The quantised value of coefficient v with divisor data at index k.
inline int32_t quantiseByReciprocal(int32_t v, uint32_t multiplier, int32_t half, int32_t limit) {
    const uint32_t a = static_cast<uint32_t>(v < 0 ? -v : v) + static_cast<uint32_t>(half);
    int32_t q = static_cast<int32_t>((static_cast<uint64_t>(a) * multiplier) >> 31);
    if (q > limit) q = limit;
    return v < 0 ? -q : q;
}

// The same by the 16-bit data (|v| <= 4,096).
inline int32_t quantiseIn16Bits(int32_t v, uint16_t multiplier, uint16_t scale, int32_t half, int32_t limit) {
    const uint32_t a = static_cast<uint32_t>(v < 0 ? -v : v) + static_cast<uint32_t>(half);
    const uint32_t high = (4 * a * multiplier) >> 16;
    int32_t q = static_cast<int32_t>((high * scale) >> 16);
    if (q > limit) q = limit;
    return v < 0 ? -q : q;
}

// kZigzagBits[r][m]: for the byte m of flags of the coefficients of row r
// (bit c: column c), the same flags at their zigzag positions.
extern const std::array<std::array<uint64_t, 256>, 8> kZigzagBits;

// A mask of coefficients in natural order (bit 8r + c) in zigzag order.
inline uint64_t naturalToZigzagMask(uint64_t natural) {
    uint64_t zigzag = 0;
    for (int r = 0; r < 8; ++r) zigzag |= kZigzagBits[r][(natural >> (8 * r)) & 0xFF];
    return zigzag;
}

// One block of quantised coefficients in natural order and the mask of its
// non-zero ones in zigzag order (bit k: the k-th coefficient in zigzag
// order).
struct QuantisedBlock {
    int16_t coefficients[64];
    uint64_t nonzero;
};

struct EncoderKernels {
    // One source row of `width` pixels (B, G, R, or R, G, B when redFirst,
    // in 3 or 4 bytes) to full resolution Y, Cb and Cr samples.
    void (*rowToYcc)(const uint8_t *source, uint32_t width, uint32_t bytesPerPixel, bool redFirst, uint8_t *y,
                     uint8_t *cb, uint8_t *cr);
    // out[i] = (in[2i] + in[2i + 1] + 1) >> 1 for i < count.
    void (*averagePairs)(const uint8_t *in, uint8_t *out, uint32_t count);
    // out[i] = (top[2i] + top[2i + 1] + bottom[2i] + bottom[2i + 1] + 1 +
    // (i & 1)) >> 2 for i < count: the 2 x 2 mean with halves rounded down
    // and up in turn, so that the rounding adds no drift over a row (as
    // libjpeg averages 4:2:0 chroma).
    void (*averageSquares)(const uint8_t *top, const uint8_t *bottom, uint8_t *out, uint32_t count);
    // Level shift, forward DCT and quantisation of the 8 x 8 samples at
    // `samples` (rows `stride` apart) into 64 coefficients in natural order.
    // Returns the mask of the non-zero ones in zigzag order (bit k: the k-th
    // coefficient in zigzag order).
    uint64_t (*transformBlock)(const uint8_t *samples, uint32_t stride, const QuantReciprocals &table,
                               int16_t coefficients[64]);
    // The same for two blocks side by side: `left` from samples, `right`
    // from samples + 8.
    void (*transformTwoBlocks)(const uint8_t *samples, uint32_t stride, const QuantReciprocals &table,
                               QuantisedBlock &left, QuantisedBlock &right);
};

// The plain kernels; the SIMD kernels use them for what is left of a row.
void rowToYccPlain(const uint8_t *source, uint32_t width, uint32_t bytesPerPixel, bool redFirst, uint8_t *y,
                   uint8_t *cb, uint8_t *cr);
void averagePairsPlain(const uint8_t *in, uint8_t *out, uint32_t count);
void averageSquaresPlain(const uint8_t *top, const uint8_t *bottom, uint8_t *out, uint32_t count);
uint64_t transformBlockPlain(const uint8_t *samples, uint32_t stride, const QuantReciprocals &table,
                             int16_t coefficients[64]);
void transformTwoBlocksPlain(const uint8_t *samples, uint32_t stride, const QuantReciprocals &table,
                             QuantisedBlock &left, QuantisedBlock &right);

// The x86 kernels (colour_convert_sse2.cpp, forward_dct_sse2.cpp and the
// _avx2 files), for processors that have the instructions.
void rowToYccSse2(const uint8_t *source, uint32_t width, uint32_t bytesPerPixel, bool redFirst, uint8_t *y,
                  uint8_t *cb, uint8_t *cr);
void averagePairsSse2(const uint8_t *in, uint8_t *out, uint32_t count);
void averageSquaresSse2(const uint8_t *top, const uint8_t *bottom, uint8_t *out, uint32_t count);
uint64_t transformBlockSse2(const uint8_t *samples, uint32_t stride, const QuantReciprocals &table,
                            int16_t coefficients[64]);
void transformTwoBlocksSse2(const uint8_t *samples, uint32_t stride, const QuantReciprocals &table,
                            QuantisedBlock &left, QuantisedBlock &right);
void rowToYccAvx2(const uint8_t *source, uint32_t width, uint32_t bytesPerPixel, bool redFirst, uint8_t *y,
                  uint8_t *cb, uint8_t *cr);
void averagePairsAvx2(const uint8_t *in, uint8_t *out, uint32_t count);
void averageSquaresAvx2(const uint8_t *top, const uint8_t *bottom, uint8_t *out, uint32_t count);
uint64_t transformBlockAvx2(const uint8_t *samples, uint32_t stride, const QuantReciprocals &table,
                            int16_t coefficients[64]);
void transformTwoBlocksAvx2(const uint8_t *samples, uint32_t stride, const QuantReciprocals &table,
                            QuantisedBlock &left, QuantisedBlock &right);

// The kernels of a set as the processor runs it (see resolveKernels); null
// for the reference set, whose strip loop is the original one.
const EncoderKernels *encoderKernels(KernelSet requested);

}  // namespace jpg

#endif  // JPG_ENCODER_ENCODER_KERNELS_H
