// The forward DCT and quantisation with AVX2. One block: four vectors of
// sixteen 16-bit lanes, two rows (then two columns) per vector, each pass
// with paired 16-bit products (see forward_dct_lanes.h), and the reciprocal
// quantisation of two rows at once in 16 bits (see QuantReciprocals). Two
// blocks side by side: SSE2's arrangement of eight lanes, one block in each
// half of the vectors, at the cost of one block's instructions; the masks of
// their non-zero coefficients put in zigzag order by byte shuffles.
#include "base/cpu_features.h"

#if JPG_X86_KERNELS

#include <immintrin.h>

#include <array>

#include "base/simd_transpose.h"
#include "base/standard_tables.h"
#include "encoder/encoder_kernels.h"
#include "encoder/forward_dct_lanes.h"

namespace jpg {

namespace {

// Lanes 0..3 and 4..7 of each half of a vector, in two vectors.
struct Halves {
    __m256i lo, hi;
};

// Two blocks side by side, one in each 128-bit half: every operation of
// SSE2's eight lanes, on both halves at once (the unpacks, pmaddwd and packs
// of AVX2 work within each half).
struct TwoBlockLanes {
    using V = __m256i;
    using P = Halves;  // a and b interleaved: (a0, b0, ..., a3, b3), (a4, b4, ..., a7, b7) in each half
    using W = Halves;
    static V add(V a, V b) { return _mm256_add_epi16(a, b); }
    static V sub(V a, V b) { return _mm256_sub_epi16(a, b); }
    static V shiftLeft2(V a) { return _mm256_slli_epi16(a, 2); }
    template <int N>
    static V descale16(V a) {
        return _mm256_srai_epi16(_mm256_add_epi16(a, _mm256_set1_epi16(1 << (N - 1))), N);
    }
    static P pair(V a, V b) { return {_mm256_unpacklo_epi16(a, b), _mm256_unpackhi_epi16(a, b)}; }
    static W madd(const P &p, int32_t ca, int32_t cb) {
        const __m256i c = _mm256_set1_epi32(fdct16::pairedConstants(ca, cb));
        return {_mm256_madd_epi16(p.lo, c), _mm256_madd_epi16(p.hi, c)};
    }
    static W add32(const W &a, const W &b) {
        return {_mm256_add_epi32(a.lo, b.lo), _mm256_add_epi32(a.hi, b.hi)};
    }
    template <int N>
    static W descale(const W &a) {
        const __m256i round = _mm256_set1_epi32(1 << (N - 1));
        return {_mm256_srai_epi32(_mm256_add_epi32(a.lo, round), N),
                _mm256_srai_epi32(_mm256_add_epi32(a.hi, round), N)};
    }
    static V narrow(const W &a) { return _mm256_packs_epi32(a.lo, a.hi); }
    static V lo16(V a, V b) { return _mm256_unpacklo_epi16(a, b); }
    static V hi16(V a, V b) { return _mm256_unpackhi_epi16(a, b); }
    static V lo32(V a, V b) { return _mm256_unpacklo_epi32(a, b); }
    static V hi32(V a, V b) { return _mm256_unpackhi_epi32(a, b); }
    static V lo64(V a, V b) { return _mm256_unpacklo_epi64(a, b); }
    static V hi64(V a, V b) { return _mm256_unpackhi_epi64(a, b); }
};

// One block in four vectors, each holding two of its rows (then columns) as
// its halves: the same operations, and those that move values between the
// halves; the products' constants may differ between the halves.
struct Avx2Lanes : TwoBlockLanes {
    static V swapHalves(V a) { return _mm256_permute4x64_epi64(a, 0x4E); }
    static V negateHigh(V a) {
        return _mm256_sign_epi16(a, _mm256_setr_epi16(1, 1, 1, 1, 1, 1, 1, 1, -1, -1, -1, -1, -1, -1, -1, -1));
    }
    static W madd(const P &p, int32_t lowA, int32_t lowB, int32_t highA, int32_t highB) {
        const int32_t low = fdct16::pairedConstants(lowA, lowB), high = fdct16::pairedConstants(highA, highB);
        const __m256i c = _mm256_setr_epi32(low, low, low, low, high, high, high, high);
        return {_mm256_madd_epi16(p.lo, c), _mm256_madd_epi16(p.hi, c)};
    }
};

// In: v[i] = (x[i] | x[i + 4]) for eight vectors x of 8 lanes. Out: the
// transposed block's vectors y[j] (y[j] lane i = x[i] lane j) as
// (y0 | y1), (y7 | y6), (y3 | y2), (y4 | y5), as dctPassPaired takes them.
inline void transposeToPairs(__m256i v[4]) {
    const __m256i a0 = _mm256_unpacklo_epi16(v[0], v[1]), a1 = _mm256_unpackhi_epi16(v[0], v[1]);
    const __m256i a2 = _mm256_unpacklo_epi16(v[2], v[3]), a3 = _mm256_unpackhi_epi16(v[2], v[3]);
    // 64-bit quarters: y[2k] lanes 0..3, y[2k + 1] lanes 0..3, y[2k] lanes 4..7, y[2k + 1] lanes 4..7
    const __m256i y01 = _mm256_unpacklo_epi32(a0, a2), y23 = _mm256_unpackhi_epi32(a0, a2);
    const __m256i y45 = _mm256_unpacklo_epi32(a1, a3), y67 = _mm256_unpackhi_epi32(a1, a3);
    v[0] = _mm256_permute4x64_epi64(y01, 0xD8);
    v[1] = _mm256_permute4x64_epi64(y67, 0x8D);
    v[2] = _mm256_permute4x64_epi64(y23, 0x8D);
    v[3] = _mm256_permute4x64_epi64(y45, 0xD8);
}

template <class T>
inline __m256i load(const T *p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

// Rows k and k + 4 of coefficients, (row k | row k + 4), quantised in 16
// bits (see QuantReciprocals; the tables hold them in this order).
inline __m256i quantise(__m256i v, const QuantReciprocals &table, int k) {
    const int at = 16 * k;
    const __m256i a = _mm256_add_epi16(_mm256_abs_epi16(v), load(table.half16 + at));
    const __m256i high = _mm256_mulhi_epu16(_mm256_slli_epi16(a, 2), load(table.multiplier16 + at));
    const __m256i q = _mm256_min_epi16(_mm256_mulhi_epu16(high, load(table.scale16 + at)), load(table.limit16 + at));
    return _mm256_sign_epi16(q, v);
}

// Row r of both blocks' coefficients quantised in 16 bits: the table's row
// in both halves.
inline __m256i quantiseRow(__m256i v, const QuantReciprocals &table, int r) {
    const int at = kPairedRow[r] * 8;
    const auto row = [at](const auto *entries) {
        return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(entries + at)));
    };
    const __m256i a = _mm256_add_epi16(_mm256_abs_epi16(v), row(table.half16));
    const __m256i high = _mm256_mulhi_epu16(_mm256_slli_epi16(a, 2), row(table.multiplier16));
    const __m256i q = _mm256_min_epi16(_mm256_mulhi_epu16(high, row(table.scale16)), row(table.limit16));
    return _mm256_sign_epi16(q, v);
}

// The byte shuffles that put a block's 64 bytes, one per coefficient, in
// zigzag order: group g (zigzag 16g .. 16g + 15) is the OR of shuffle s of
// the bytes of rows 2s and 2s + 1; 0x80 makes a zero byte. Both halves of a
// vector alike: a block in each.
constexpr std::array<std::array<std::array<uint8_t, 32>, 4>, 4> zigzagShuffles() {
    std::array<std::array<std::array<uint8_t, 32>, 4>, 4> m{};
    for (int g = 0; g < 4; ++g)
        for (int src = 0; src < 4; ++src)
            for (int i = 0; i < 16; ++i) {
                const int n = kZigzag[16 * g + i];
                const uint8_t byte = n / 16 == src ? static_cast<uint8_t>(n % 16) : 0x80;
                m[g][src][i] = m[g][src][16 + i] = byte;
            }
    return m;
}

}  // namespace

void transformTwoBlocksAvx2(const uint8_t *samples, uint32_t stride, const QuantReciprocals &table,
                            QuantisedBlock &left, QuantisedBlock &right) {
    const __m256i centre = _mm256_set1_epi16(128);
    __m256i v[8];
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(samples + static_cast<size_t>(r) * stride));
        v[r] = _mm256_sub_epi16(_mm256_cvtepu8_epi16(bytes), centre);
    }
    transpose8x8<TwoBlockLanes>(v);  // v[c]: column c of every row
    dctPass16<TwoBlockLanes, true>(v);
    transpose8x8<TwoBlockLanes>(v);  // v[r]: row r of the row pass's results
    dctPass16<TwoBlockLanes, false>(v);
    // The coefficients as bytes, rows 2s and 2s + 1 of each block in a
    // vector: the saturating packs keep every non-zero one non-zero.
    __m256i bytes[4];
#pragma GCC unroll 4
    for (int r = 0; r < 8; r += 2) {
        const __m256i upper = quantiseRow(v[r], table, r), lower = quantiseRow(v[r + 1], table, r + 1);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(left.coefficients + 8 * r), _mm256_castsi256_si128(upper));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(left.coefficients + 8 * r + 8), _mm256_castsi256_si128(lower));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(right.coefficients + 8 * r), _mm256_extracti128_si256(upper, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(right.coefficients + 8 * r + 8),
                         _mm256_extracti128_si256(lower, 1));
        bytes[r / 2] = _mm256_packs_epi16(upper, lower);
    }
    static constexpr auto kShuffles = zigzagShuffles();
    const __m256i zero = _mm256_setzero_si256();
    uint64_t leftZeros = 0, rightZeros = 0;
#pragma GCC unroll 4
    for (int g = 0; g < 4; ++g) {
        // The first group takes nothing from rows 6 and 7, the last nothing from rows 0 and 1.
        __m256i ordered = zero;
        for (int src = g == 3 ? 1 : 0; src < (g == 0 ? 3 : 4); ++src)
            ordered = _mm256_or_si256(ordered, _mm256_shuffle_epi8(bytes[src], load(kShuffles[g][src].data())));
        // Bits 0..15: the left block's zigzag group g; 16..31: the right's.
        const auto zeros = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(ordered, zero)));
        leftZeros |= uint64_t{zeros & 0xFFFFu} << (16 * g);
        rightZeros |= uint64_t{zeros >> 16} << (16 * g);
    }
    left.nonzero = ~leftZeros;
    right.nonzero = ~rightZeros;
}

uint64_t transformBlockAvx2(const uint8_t *samples, uint32_t stride, const QuantReciprocals &table,
                            int16_t coefficients[64]) {
    const __m256i centre = _mm256_set1_epi16(128);
    const auto row = [&](int r) {
        return _mm_loadl_epi64(reinterpret_cast<const __m128i *>(samples + static_cast<size_t>(r) * stride));
    };
    __m256i v[4];
#pragma GCC unroll 4
    for (int r = 0; r < 4; ++r)
        v[r] = _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_unpacklo_epi64(row(r), row(r + 4))), centre);
    transposeToPairs(v);  // columns, in pairs
    dctPassPaired<Avx2Lanes, true>(v);
    transposeToPairs(v);  // rows of the row pass's results, in pairs
    dctPassPaired<Avx2Lanes, false>(v);
    const __m256i zero = _mm256_setzero_si256();
    __m256i q[4];
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k) {
        q[k] = quantise(v[k], table, k);  // (row k | row k + 4)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(coefficients + 8 * k), _mm256_castsi256_si128(q[k]));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(coefficients + 8 * k + 32), _mm256_extracti128_si256(q[k], 1));
    }
    // Bytes of rows (0, 1 | 4, 5) and (2, 3 | 6, 7).
    const auto zeroBytes = [&](__m256i a, __m256i b) {
        return static_cast<uint32_t>(_mm256_movemask_epi8(
            _mm256_packs_epi16(_mm256_cmpeq_epi16(a, zero), _mm256_cmpeq_epi16(b, zero))));
    };
    const uint32_t rows0145 = zeroBytes(q[0], q[1]), rows2367 = zeroBytes(q[2], q[3]);
    const uint64_t zeros = (rows0145 & 0xFFFFu) | static_cast<uint64_t>(rows2367 & 0xFFFFu) << 16 |
                           static_cast<uint64_t>(rows0145 >> 16) << 32 | static_cast<uint64_t>(rows2367 >> 16) << 48;
    return naturalToZigzagMask(~zeros);
}

}  // namespace jpg

#endif
