// The integer forward DCT (Loeffler-Ligtenberg-Moschytz factorisation, 13
// fractional bits) and quantisation into zigzag order.
#include "encoder/encoder_kernels.h"
#include "encoder/encoder_state.h"
#include "base/dct_constants.h"
#include "base/standard_tables.h"

namespace jpg {

namespace {

// Largest quantised AC magnitude the standard AC tables can code (size 10).
constexpr int32_t kMaxAcValue = 1023;

constexpr int32_t descale(int32_t x, int n) { return (x + (1 << (n - 1))) >> n; }

// One 8-point pass over the values d[0], d[step], ..., d[7 * step]. The even
// outputs 0 and 4 are either scaled up by 4 (first pass) or descaled by 5
// (second pass); the others are descaled by `shift`.
template <bool FirstPass>
inline void dctPass(int32_t *d, int step, int shift) {
    using namespace dct;
    const int32_t tmp0 = d[0] + d[7 * step], tmp7 = d[0] - d[7 * step];
    const int32_t tmp1 = d[step] + d[6 * step], tmp6 = d[step] - d[6 * step];
    const int32_t tmp2 = d[2 * step] + d[5 * step], tmp5 = d[2 * step] - d[5 * step];
    const int32_t tmp3 = d[3 * step] + d[4 * step], tmp4 = d[3 * step] - d[4 * step];

    const int32_t tmp10 = tmp0 + tmp3, tmp13 = tmp0 - tmp3;
    const int32_t tmp11 = tmp1 + tmp2, tmp12 = tmp1 - tmp2;
    if (FirstPass) {
        d[0] = (tmp10 + tmp11) * 4;
        d[4 * step] = (tmp10 - tmp11) * 4;
    } else {
        d[0] = descale(tmp10 + tmp11, 5);
        d[4 * step] = descale(tmp10 - tmp11, 5);
    }
    const int32_t z1e = (tmp12 + tmp13) * kFix0_541196100;
    d[2 * step] = descale(z1e + tmp13 * kFix0_765366865, shift);
    d[6 * step] = descale(z1e - tmp12 * kFix1_847759065, shift);

    int32_t z1 = tmp4 + tmp7, z2 = tmp5 + tmp6, z3 = tmp4 + tmp6, z4 = tmp5 + tmp7;
    const int32_t z5 = (z3 + z4) * kFix1_175875602;
    const int32_t t4 = tmp4 * kFix0_298631336, t5 = tmp5 * kFix2_053119869, t6 = tmp6 * kFix3_072711026,
                  t7 = tmp7 * kFix1_501321110;
    z1 *= -kFix0_899976223;
    z2 *= -kFix2_562915447;
    z3 = z5 - z3 * kFix1_961570560;
    z4 = z5 - z4 * kFix0_390180644;
    d[7 * step] = descale(t4 + z1 + z3, shift);
    d[5 * step] = descale(t5 + z2 + z4, shift);
    d[3 * step] = descale(t6 + z2 + z3, shift);
    d[step] = descale(t7 + z1 + z4, shift);
}

// The 8 x 8 samples at `samples` (rows `stride` apart) minus 128.
void levelShift(const uint8_t *samples, uint32_t stride, int32_t work[64]) {
    for (int r = 0; r < 8; ++r) {
        const uint8_t *row = samples + static_cast<size_t>(r) * stride;
        for (int c = 0; c < 8; ++c) work[8 * r + c] = static_cast<int32_t>(row[c]) - 128;
    }
}

}  // namespace

void forwardDct(int32_t block[64]) {
    for (int row = 0; row < 8; ++row) dctPass<true>(block + 8 * row, 1, dct::kRowShift);
    for (int col = 0; col < 8; ++col) dctPass<false>(block + col, 8, dct::kColumnShift);
}

void transformBlock(const uint8_t *samples, int32_t coefficients[64], const int32_t quantTable[64],
                    uint32_t stride) {
    int32_t work[64];
    levelShift(samples, stride, work);
    forwardDct(work);
    for (int k = 0; k < 64; ++k) {
        int32_t v = work[kZigzag[k]];
        const int32_t q = quantTable[k];
        const int32_t h = q >> 1;
        v = v > 0 ? v + h : v - h;
        v /= q;
        // Never reached with 8-bit samples and divisors of at least 1; it
        // keeps every coefficient codable with the standard tables.
        if (k > 0) v = v > kMaxAcValue ? kMaxAcValue : v < -kMaxAcValue ? -kMaxAcValue : v;
        coefficients[k] = v;
    }
}

bool makeQuantReciprocals(const int32_t zigzagDivisors[64], QuantReciprocals &out) {
    for (int k = 0; k < 64; ++k) {
        const int32_t q = zigzagDivisors[k];
        if (q < 1 || q > kMaxReciprocalDivisor) return false;
        const int n = kZigzag[k];
        out.multiplier[n] = static_cast<uint32_t>(((uint64_t(1) << 31) + static_cast<uint32_t>(q) - 1) / static_cast<uint32_t>(q));
        out.half[n] = q >> 1;
        // The DC value is never limited: 65,536 is beyond any it can take.
        out.limit[n] = k == 0 ? 65536 : kMaxAcValue;

        const uint64_t reach = 4096 + static_cast<uint64_t>(q >> 1);  // the largest a served
        int shift = 15;
        uint64_t m = ((uint64_t(1) << shift) + q - 1) / q;
        while (reach * (m * q - (uint64_t(1) << shift)) >= (uint64_t(1) << shift)) {
            ++shift;
            m = ((uint64_t(1) << shift) + q - 1) / q;
        }
        if (m > 0xFFFF || shift > 28) return false;  // never: see QuantReciprocals
        const int slot = kPairedRow[n / 8] * 8 + n % 8;
        out.multiplier16[slot] = static_cast<uint16_t>(m);
        out.scale16[slot] = static_cast<uint16_t>(1u << (30 - shift));
        out.half16[slot] = static_cast<int16_t>(q >> 1);
        out.limit16[slot] = static_cast<int16_t>(k == 0 ? 32767 : kMaxAcValue);
    }
    return true;
}

// The plain kernel: the reference transform, quantised by reciprocals.
uint64_t transformBlockPlain(const uint8_t *samples, uint32_t stride, const QuantReciprocals &table,
                             int16_t coefficients[64]) {
    int32_t work[64];
    levelShift(samples, stride, work);
    forwardDct(work);
    uint64_t nonzero = 0;
    for (int n = 0; n < 64; ++n) {
        coefficients[n] =
            static_cast<int16_t>(quantiseByReciprocal(work[n], table.multiplier[n], table.half[n], table.limit[n]));
        nonzero |= static_cast<uint64_t>(coefficients[n] != 0) << n;
    }
    return naturalToZigzagMask(nonzero);
}

void transformTwoBlocksPlain(const uint8_t *samples, uint32_t stride, const QuantReciprocals &table,
                             QuantisedBlock &left, QuantisedBlock &right) {
    left.nonzero = transformBlockPlain(samples, stride, table, left.coefficients);
    right.nonzero = transformBlockPlain(samples + 8, stride, table, right.coefficients);
}

}  // namespace jpg
