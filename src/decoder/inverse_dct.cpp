// From decoded coefficients to 8-bit samples: dequantisation with de-zigzag,
// the integer inverse DCT (rows first, then columns) and the level shift.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "base/bytes.h"
#include "base/dct_constants.h"
#include "base/standard_tables.h"
#include "decoder/decoder_internal.h"
#include "decoder/decoder_kernels.h"

namespace jpg {

void dequantiseBlock(const int32_t *input, int32_t *destination, const int32_t *table) {
    for (int k = 0; k < 64; ++k) destination[kZigzag[k]] = input[k] * table[k];
}

namespace {

// The one-dimensional kernel with 13-bit constants. T is int32_t for the
// usual path and int64_t for coefficients that could overflow 32 bits; both
// compute the same integer weights.
template <typename T>
inline void kernel(T i0, T i1, T i2, T i3, T i4, T i5, T i6, T i7, T *o) {
    using namespace dct;
    const T e0 = (i0 + i4) * kOne;
    const T e1 = (i0 - i4) * kOne;
    const T e3 = kEvenFoldDown * i2 + kFix0_541196100 * i6;
    const T e2 = kFix0_541196100 * i2 - kEvenFoldUp * i6;
    const T a0 = e0 + e3, a3 = e0 - e3, a1 = e1 + e2, a2 = e1 - e2;

    const T p = kFix1_175875602 * (i3 + i7) + kOddFoldUp * (i1 + i5);
    const T q = kFix1_175875602 * (i1 + i5) - kOddFoldDown * (i3 + i7);
    const T b3 = p + kFix1_501321110 * i1 - kFix0_899976223 * (i1 + i7);
    const T b2 = q + kFix3_072711026 * i3 - kFix2_562915447 * (i3 + i5);
    const T b1 = p - kOddWeight5 * i5 - kFix2_562915447 * i3;
    const T b0 = q - kOddWeight7 * i7 - kFix0_899976223 * i1;

    o[0] = a0 + b3;
    o[7] = a0 - b3;
    o[1] = a1 + b2;
    o[6] = a1 - b2;
    o[2] = a2 + b1;
    o[5] = a2 - b1;
    o[3] = a3 + b0;
    o[4] = a3 - b0;
}

// Rounding terms of the two passes' descaling.
constexpr int32_t kRowRound = 1 << (dct::kRowShift - 1);        // 1024
constexpr int32_t kColumnRound = 1 << (dct::kColumnShift - 1);  // 131072

}  // namespace

void inverseDct(int32_t *block) {
    int32_t o[8];
    for (int y = 0; y < 8; ++y) {
        int32_t *r = block + 8 * y;
        if ((r[1] | r[2] | r[3] | r[4] | r[5] | r[6] | r[7]) == 0) {
            // Only i0: every output is 8192 x i0, and (8192 i0 + 1024) >> 11 = 4 i0.
            const int32_t v = r[0] * 4;
            for (int n = 0; n < 8; ++n) r[n] = v;
            continue;
        }
        kernel<int32_t>(r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7], o);
        for (int n = 0; n < 8; ++n) r[n] = (o[n] + kRowRound) >> dct::kRowShift;
    }
    for (int x = 0; x < 8; ++x) {
        int32_t *c = block + x;
        if ((c[8] | c[16] | c[24] | c[32] | c[40] | c[48] | c[56]) == 0) {
            // (8192 i0 + 131072) >> 18 = (i0 + 16) >> 5.
            const int32_t v = (c[0] + 16) >> 5;
            for (int n = 0; n < 8; ++n) c[8 * n] = v;
            continue;
        }
        kernel<int32_t>(c[0], c[8], c[16], c[24], c[32], c[40], c[48], c[56], o);
        for (int n = 0; n < 8; ++n) c[8 * n] = (o[n] + kColumnRound) >> dct::kColumnShift;
    }
}

void inverseDctWide(int32_t *block) {
    int64_t rows[64];
    int64_t o[8];
    for (int y = 0; y < 8; ++y) {
        const int32_t *r = block + 8 * y;
        kernel<int64_t>(r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7], o);
        for (int n = 0; n < 8; ++n) rows[8 * y + n] = (o[n] + kRowRound) >> dct::kRowShift;
    }
    constexpr int64_t kLimit = int64_t{1} << 24;  // far outside every sample value
    for (int x = 0; x < 8; ++x) {
        const int64_t *c = rows + x;
        kernel<int64_t>(c[0], c[8], c[16], c[24], c[32], c[40], c[48], c[56], o);
        for (int n = 0; n < 8; ++n) {
            const int64_t v = (o[n] + kColumnRound) >> dct::kColumnShift;
            block[x + 8 * n] = static_cast<int32_t>(v > kLimit ? kLimit : v < -kLimit ? -kLimit : v);
        }
    }
}

namespace {

// A block of DC alone: the transform gives (d + 4) >> 3 everywhere, in 32
// bits and in 64 alike, whatever d.
inline void fillDcOnly(int32_t dc, uint8_t *out, ptrdiff_t stride) {
    const uint8_t sample = clampToByte(((dc + 4) >> 3) + 128);
    for (int y = 0; y < 8; ++y) std::memset(out + y * stride, sample, 8);
}

// Level shift and clamp of a transformed block into 8 sample rows.
inline void storeSamples(const int32_t *work, uint8_t *out, ptrdiff_t stride) {
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) out[y * stride + x] = clampToByte(work[8 * y + x] + 128);
}

}  // namespace

void reconstructMcuRow(const DecodeContext &ctx, const CoefficientRows &coefficients, uint8_t *const *sampleRows,
                       uint32_t stripRow) {
    for (uint32_t c = 0; c < ctx.scanComponents; ++c) {
        const ComponentLayout &l = ctx.comp[c];
        const size_t w = l.paddedWidth;
        const size_t blocks = w / 8;
        uint8_t *dest = sampleRows[c] + static_cast<size_t>(stripRow) * w * 8;
        for (uint32_t r = 0; r < l.mcuHeightBlocks; ++r) {
            for (size_t j = 0; j < blocks; ++j) {
                int32_t work[64];
                std::memcpy(work, coefficients.rows[c] + r * w * 8 + j * 64, sizeof work);
                uint8_t *out = dest + r * 8 * w + 8 * j;

                int32_t largest = work[0] < 0 ? -work[0] : work[0];
                int32_t ac = 0;
                for (int i = 1; i < 64; ++i) {
                    const int32_t a = work[i] < 0 ? -work[i] : work[i];
                    ac |= work[i];
                    if (a > largest) largest = a;
                }
                if (ac == 0 && largest <= kNarrowLimit) {
                    fillDcOnly(work[0], out, w);
                    continue;
                }
                if (largest <= kNarrowLimit)
                    inverseDct(work);
                else
                    inverseDctWide(work);
                storeSamples(work, out, w);
            }
        }
    }
}

void reconstructBlockRow(int32_t *row, const uint8_t *kind, const DecoderKernels &kernels, uint8_t *out,
                         ptrdiff_t stride, size_t first, size_t end) {
    for (size_t j = first; j < end;) {
        int32_t *block = row + 64 * j;
        if (kind[j] == kBlockDcOnly) {
            fillDcOnly(block[0], out + 8 * j, stride);
            ++j;
        } else if (kind[j] == kBlockWide) {
            int32_t work[64];
            std::memcpy(work, block, sizeof work);
            std::memset(block, 0, sizeof work);
            inverseDctWide(work);
            storeSamples(work, out + 8 * j, stride);
            ++j;
        } else {
            const uint32_t count = j + 1 < end && kind[j + 1] == kBlockNarrow ? 2 : 1;
            kernels.idctNarrow(block, count, out + 8 * j, stride);
            j += count;
        }
    }
}

void reconstructMcuRowFast(const DecodeContext &ctx, CoefficientRows &coefficients, const BlockKinds &kinds,
                           const DecoderKernels &kernels, uint8_t *const *sampleRows, uint32_t stripRow,
                           uint32_t firstMcu, uint32_t endMcu) {
    for (uint32_t c = 0; c < ctx.scanComponents; ++c) {
        const ComponentLayout &l = ctx.comp[c];
        const size_t w = l.paddedWidth;
        const size_t blocks = w / 8;
        const size_t first = size_t{firstMcu} * l.mcuWidthBlocks;
        const size_t end = std::min(size_t{endMcu} * l.mcuWidthBlocks, blocks);
        uint8_t *dest = sampleRows[c] + static_cast<size_t>(stripRow) * w * 8;
        for (uint32_t r = 0; r < l.mcuHeightBlocks; ++r)
            reconstructBlockRow(coefficients.rows[c] + r * w * 8, kinds.kinds[c] + r * blocks, kernels,
                                dest + r * 8 * w, static_cast<ptrdiff_t>(w), first, end);
    }
}

}  // namespace jpg
