// The forward DCT and quantisation with SSE2: four rows (then four
// columns) at once, one per 32-bit lane, and the reciprocal quantisation of
// four coefficients at once. SSE2 has no 32-bit multiply that keeps the low
// half, so it is made of two 32 x 32 -> 64-bit products, whose low halves are
// the same for signed and unsigned operands.
#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)

#include <emmintrin.h>

#include "encoder/encoder_kernels.h"
#include "encoder/forward_dct_lanes.h"

namespace jpg {

namespace {

// The low 32 bits of each lane's product.
inline __m128i multiplyLow(__m128i a, __m128i b) {
    const __m128i even = _mm_mul_epu32(a, b);
    const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(a, 32), _mm_srli_epi64(b, 32));
    return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                              _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
}

struct Sse2Lanes {
    using V = __m128i;
    static V add(V a, V b) { return _mm_add_epi32(a, b); }
    static V sub(V a, V b) { return _mm_sub_epi32(a, b); }
    static V mulConst(V a, int32_t c) { return multiplyLow(a, _mm_set1_epi32(c)); }
    static V shiftLeft2(V a) { return _mm_slli_epi32(a, 2); }
    template <int N>
    static V descale(V a) {
        return _mm_srai_epi32(_mm_add_epi32(a, _mm_set1_epi32(1 << (N - 1))), N);
    }
};

inline void transpose4x4(__m128i &v0, __m128i &v1, __m128i &v2, __m128i &v3) {
    const __m128i a0 = _mm_unpacklo_epi32(v0, v1), a1 = _mm_unpackhi_epi32(v0, v1);
    const __m128i a2 = _mm_unpacklo_epi32(v2, v3), a3 = _mm_unpackhi_epi32(v2, v3);
    v0 = _mm_unpacklo_epi64(a0, a2);
    v1 = _mm_unpackhi_epi64(a0, a2);
    v2 = _mm_unpacklo_epi64(a1, a3);
    v3 = _mm_unpackhi_epi64(a1, a3);
}

// An 8 x 8 block as two halves of four lanes: left[i] holds lanes 0..3 of
// row i, right[i] lanes 4..7. After the transpose left[j] holds row j's
// lanes 0..3 of the transposed block, and so on.
inline void transpose8x8(__m128i left[8], __m128i right[8]) {
    transpose4x4(left[0], left[1], left[2], left[3]);
    transpose4x4(left[4], left[5], left[6], left[7]);
    transpose4x4(right[0], right[1], right[2], right[3]);
    transpose4x4(right[4], right[5], right[6], right[7]);
    for (int i = 0; i < 4; ++i) {
        const __m128i t = right[i];  // rows 0..3, columns 4..7 -> rows 4..7, columns 0..3
        right[i] = left[i + 4];
        left[i + 4] = t;
    }
}

inline __m128i select(__m128i mask, __m128i a, __m128i b) {
    return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

// sign(v) * min((|v| + half) * multiplier >> 31, limit), four at a time.
inline __m128i quantise(__m128i v, const QuantReciprocals &table, int at) {
    const __m128i multiplier = _mm_loadu_si128(reinterpret_cast<const __m128i *>(table.multiplier + at));
    const __m128i half = _mm_loadu_si128(reinterpret_cast<const __m128i *>(table.half + at));
    const __m128i limit = _mm_loadu_si128(reinterpret_cast<const __m128i *>(table.limit + at));
    const __m128i sign = _mm_srai_epi32(v, 31);
    const __m128i a = _mm_add_epi32(_mm_sub_epi32(_mm_xor_si128(v, sign), sign), half);
    const __m128i even = _mm_srli_epi64(_mm_mul_epu32(a, multiplier), 31);
    const __m128i odd = _mm_slli_epi64(_mm_mul_epu32(_mm_srli_epi64(a, 32), _mm_srli_epi64(multiplier, 32)), 1);
    const __m128i highHalves = _mm_set_epi32(-1, 0, -1, 0);
    __m128i q = select(highHalves, odd, even);
    q = select(_mm_cmpgt_epi32(q, limit), limit, q);
    return _mm_sub_epi32(_mm_xor_si128(q, sign), sign);
}

}  // namespace

uint64_t transformBlockSse2(const uint8_t *samples, uint32_t stride, const QuantReciprocals &table,
                            int16_t coefficients[64]) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i centre = _mm_set1_epi16(128);
    __m128i left[8], right[8];
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r) {
        const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(samples + static_cast<size_t>(r) * stride));
        const __m128i words = _mm_sub_epi16(_mm_unpacklo_epi8(bytes, zero), centre);
        const __m128i sign = _mm_cmpgt_epi16(zero, words);
        left[r] = _mm_unpacklo_epi16(words, sign);
        right[r] = _mm_unpackhi_epi16(words, sign);
    }
    transpose8x8(left, right);  // left[c], right[c]: column c of rows 0..3, 4..7
    dctPassLanes<Sse2Lanes, true>(left);
    dctPassLanes<Sse2Lanes, true>(right);
    transpose8x8(left, right);  // row r of the row pass's results
    dctPassLanes<Sse2Lanes, false>(left);
    dctPassLanes<Sse2Lanes, false>(right);
    uint64_t zeros = 0;
    for (int k = 0; k < 8; ++k) {
        const __m128i packed = _mm_packs_epi32(quantise(left[k], table, 8 * k), quantise(right[k], table, 8 * k + 4));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(coefficients + 8 * k), packed);
        const int rowZeros = _mm_movemask_epi8(_mm_packs_epi16(_mm_cmpeq_epi16(packed, zero), zero));
        zeros |= static_cast<uint64_t>(rowZeros & 0xFF) << (8 * k);
    }
    return naturalToZigzagMask(~zeros);
}

}  // namespace jpg

#endif
