// The forward DCT and quantisation with AVX2: the block in eight vectors of
// eight 16-bit lanes as with SSE2 (see forward_dct_lanes.h), each paired
// product of eight lanes in one 256-bit pmaddwd, the 32-bit descaling and
// the reciprocal quantisation eight lanes at once.
#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)

#include <immintrin.h>

#include "encoder/encoder_kernels.h"
#include "encoder/forward_dct_lanes.h"

namespace jpg {

namespace {

struct Avx2Lanes {
    using V = __m128i;
    using P = __m256i;  // a and b interleaved: (a0, b0, ..., a7, b7)
    using W = __m256i;
    static V add(V a, V b) { return _mm_add_epi16(a, b); }
    static V sub(V a, V b) { return _mm_sub_epi16(a, b); }
    static V shiftLeft2(V a) { return _mm_slli_epi16(a, 2); }
    template <int N>
    static V descale16(V a) {
        return _mm_srai_epi16(_mm_add_epi16(a, _mm_set1_epi16(1 << (N - 1))), N);
    }
    static P pair(V a, V b) {
        return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi16(a, b)), _mm_unpackhi_epi16(a, b), 1);
    }
    static W madd(P p, int32_t ca, int32_t cb) {
        return _mm256_madd_epi16(p, _mm256_set1_epi32(fdct16::pairedConstants(ca, cb)));
    }
    static W add32(W a, W b) { return _mm256_add_epi32(a, b); }
    template <int N>
    static W descale(W a) {
        return _mm256_srai_epi32(_mm256_add_epi32(a, _mm256_set1_epi32(1 << (N - 1))), N);
    }
    static V narrow(W a) { return _mm_packs_epi32(_mm256_castsi256_si128(a), _mm256_extracti128_si256(a, 1)); }
    static W widen(V a) { return _mm256_cvtepi16_epi32(a); }
};

// sign(v) * min((|v| + half) * multiplier >> 31, limit), eight at a time.
inline __m256i quantise(__m256i v, const QuantReciprocals &table, int at) {
    const __m256i multiplier = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(table.multiplier + at));
    const __m256i half = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(table.half + at));
    const __m256i limit = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(table.limit + at));
    const __m256i a = _mm256_add_epi32(_mm256_abs_epi32(v), half);
    const __m256i even = _mm256_srli_epi64(_mm256_mul_epu32(a, multiplier), 31);
    const __m256i odd = _mm256_slli_epi64(
        _mm256_mul_epu32(_mm256_srli_epi64(a, 32), _mm256_srli_epi64(multiplier, 32)), 1);
    const __m256i q = _mm256_min_epi32(_mm256_blend_epi32(even, odd, 0xAA), limit);
    return _mm256_sign_epi32(q, v);
}

}  // namespace

uint64_t transformBlockAvx2(const uint8_t *samples, uint32_t stride, const QuantReciprocals &table,
                            int16_t coefficients[64]) {
    const __m128i centre = _mm_set1_epi16(128);
    __m128i v[8];
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r) {
        const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(samples + static_cast<size_t>(r) * stride));
        v[r] = _mm_sub_epi16(_mm_cvtepu8_epi16(bytes), centre);
    }
    __m256i out[8];
    transpose8x8(v);  // v[c]: column c of every row
    dctPass16<Avx2Lanes, true>(v, out);
    transpose8x8(v);  // v[r]: row r of the row pass's results
    dctPass16<Avx2Lanes, false>(v, out);
    const __m256i zero = _mm256_setzero_si256();
    uint64_t zeros = 0;
    for (int k = 0; k < 8; k += 2) {
        const __m256i upper = quantise(out[k], table, 8 * k), lower = quantise(out[k + 1], table, 8 * k + 8);
        const __m256i packed = _mm256_packs_epi32(upper, lower);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(coefficients + 8 * k), _mm256_permute4x64_epi64(packed, 0xD8));
        const auto rowZeros = [&](__m256i q) {
            return static_cast<uint64_t>(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(q, zero))));
        };
        zeros |= (rowZeros(upper) | rowZeros(lower) << 8) << (8 * k);
    }
    return naturalToZigzagMask(~zeros);
}

}  // namespace jpg

#endif
