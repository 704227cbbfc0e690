// The forward DCT and quantisation with SSE2: the block in eight vectors of
// eight 16-bit lanes, each pass over all eight rows (then columns) at once
// with paired 16-bit products (see forward_dct_lanes.h), and the reciprocal
// quantisation of a row at once in 16 bits (see QuantReciprocals).
#include "base/cpu_features.h"

#if JPG_X86_KERNELS

#include <emmintrin.h>

#include "encoder/encoder_kernels.h"
#include "base/simd_transpose.h"
#include "encoder/forward_dct_lanes.h"

namespace jpg {

namespace {

// Eight 32-bit values: lanes 0..3 and 4..7 of a row.
struct Halves {
    __m128i lo, hi;
};

struct Sse2Lanes {
    using V = __m128i;
    using P = Halves;  // a and b interleaved: (a0, b0, ..., a3, b3), (a4, b4, ..., a7, b7)
    using W = Halves;
    static V add(V a, V b) { return _mm_add_epi16(a, b); }
    static V sub(V a, V b) { return _mm_sub_epi16(a, b); }
    static V shiftLeft2(V a) { return _mm_slli_epi16(a, 2); }
    template <int N>
    static V descale16(V a) {
        return _mm_srai_epi16(_mm_add_epi16(a, _mm_set1_epi16(1 << (N - 1))), N);
    }
    static P pair(V a, V b) { return {_mm_unpacklo_epi16(a, b), _mm_unpackhi_epi16(a, b)}; }
    static W madd(const P &p, int32_t ca, int32_t cb) {
        const __m128i c = _mm_set1_epi32(fdct16::pairedConstants(ca, cb));
        return {_mm_madd_epi16(p.lo, c), _mm_madd_epi16(p.hi, c)};
    }
    static W add32(const W &a, const W &b) { return {_mm_add_epi32(a.lo, b.lo), _mm_add_epi32(a.hi, b.hi)}; }
    template <int N>
    static W descale(const W &a) {
        const __m128i round = _mm_set1_epi32(1 << (N - 1));
        return {_mm_srai_epi32(_mm_add_epi32(a.lo, round), N), _mm_srai_epi32(_mm_add_epi32(a.hi, round), N)};
    }
    static V narrow(const W &a) { return _mm_packs_epi32(a.lo, a.hi); }
    static V lo16(V a, V b) { return _mm_unpacklo_epi16(a, b); }
    static V hi16(V a, V b) { return _mm_unpackhi_epi16(a, b); }
    static V lo32(V a, V b) { return _mm_unpacklo_epi32(a, b); }
    static V hi32(V a, V b) { return _mm_unpackhi_epi32(a, b); }
    static V lo64(V a, V b) { return _mm_unpacklo_epi64(a, b); }
    static V hi64(V a, V b) { return _mm_unpackhi_epi64(a, b); }
};

template <class T>
inline __m128i load(const T *p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

// Row `row` of coefficients quantised in 16 bits (see QuantReciprocals).
inline __m128i quantise(__m128i v, const QuantReciprocals &table, int row) {
    const int at = kPairedRow[row] * 8;
    const __m128i sign = _mm_srai_epi16(v, 15);
    const __m128i a = _mm_add_epi16(_mm_sub_epi16(_mm_xor_si128(v, sign), sign), load(table.half16 + at));
    const __m128i high = _mm_mulhi_epu16(_mm_slli_epi16(a, 2), load(table.multiplier16 + at));
    const __m128i q = _mm_min_epi16(_mm_mulhi_epu16(high, load(table.scale16 + at)), load(table.limit16 + at));
    return _mm_sub_epi16(_mm_xor_si128(q, sign), sign);
}

}  // namespace

uint64_t transformBlockSse2(const uint8_t *samples, uint32_t stride, const QuantReciprocals &table,
                            int16_t coefficients[64]) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i centre = _mm_set1_epi16(128);
    __m128i v[8];
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r) {
        const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(samples + static_cast<size_t>(r) * stride));
        v[r] = _mm_sub_epi16(_mm_unpacklo_epi8(bytes, zero), centre);
    }
    transpose8x8<Sse2Lanes>(v);  // v[c]: column c of every row
    dctPass16<Sse2Lanes, true>(v);
    transpose8x8<Sse2Lanes>(v);  // v[r]: row r of the row pass's results
    dctPass16<Sse2Lanes, false>(v);
    uint64_t zeros = 0;
#pragma GCC unroll 4
    for (int r = 0; r < 8; r += 2) {
        const __m128i upper = quantise(v[r], table, r), lower = quantise(v[r + 1], table, r + 1);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(coefficients + 8 * r), upper);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(coefficients + 8 * r + 8), lower);
        const __m128i rowZeros = _mm_packs_epi16(_mm_cmpeq_epi16(upper, zero), _mm_cmpeq_epi16(lower, zero));
        zeros |= static_cast<uint64_t>(_mm_movemask_epi8(rowZeros)) << (8 * r);
    }
    return naturalToZigzagMask(~zeros);
}

void transformTwoBlocksSse2(const uint8_t *samples, uint32_t stride, const QuantReciprocals &table,
                            QuantisedBlock &left, QuantisedBlock &right) {
    left.nonzero = transformBlockSse2(samples, stride, table, left.coefficients);
    right.nonzero = transformBlockSse2(samples + 8, stride, table, right.coefficients);
}

}  // namespace jpg

#endif
