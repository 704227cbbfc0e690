// The forward DCT and quantisation with AVX2: eight rows (then eight
// columns) at once, one per 32-bit lane, and the reciprocal quantisation of
// eight coefficients at once.
#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)

#include <immintrin.h>

#include "encoder/encoder_kernels.h"
#include "encoder/forward_dct_lanes.h"

namespace jpg {

namespace {

struct Avx2Lanes {
    using V = __m256i;
    static V add(V a, V b) { return _mm256_add_epi32(a, b); }
    static V sub(V a, V b) { return _mm256_sub_epi32(a, b); }
    static V mulConst(V a, int32_t c) { return _mm256_mullo_epi32(a, _mm256_set1_epi32(c)); }
    static V shiftLeft2(V a) { return _mm256_slli_epi32(a, 2); }
    template <int N>
    static V descale(V a) {
        return _mm256_srai_epi32(_mm256_add_epi32(a, _mm256_set1_epi32(1 << (N - 1))), N);
    }
};

// Rows to columns: v[i] lane j becomes v[j] lane i.
inline void transpose8x8(__m256i v[8]) {
    const __m256i a0 = _mm256_unpacklo_epi32(v[0], v[1]), a1 = _mm256_unpackhi_epi32(v[0], v[1]);
    const __m256i a2 = _mm256_unpacklo_epi32(v[2], v[3]), a3 = _mm256_unpackhi_epi32(v[2], v[3]);
    const __m256i a4 = _mm256_unpacklo_epi32(v[4], v[5]), a5 = _mm256_unpackhi_epi32(v[4], v[5]);
    const __m256i a6 = _mm256_unpacklo_epi32(v[6], v[7]), a7 = _mm256_unpackhi_epi32(v[6], v[7]);
    const __m256i b0 = _mm256_unpacklo_epi64(a0, a2), b1 = _mm256_unpackhi_epi64(a0, a2);
    const __m256i b2 = _mm256_unpacklo_epi64(a1, a3), b3 = _mm256_unpackhi_epi64(a1, a3);
    const __m256i b4 = _mm256_unpacklo_epi64(a4, a6), b5 = _mm256_unpackhi_epi64(a4, a6);
    const __m256i b6 = _mm256_unpacklo_epi64(a5, a7), b7 = _mm256_unpackhi_epi64(a5, a7);
    v[0] = _mm256_permute2x128_si256(b0, b4, 0x20);
    v[1] = _mm256_permute2x128_si256(b1, b5, 0x20);
    v[2] = _mm256_permute2x128_si256(b2, b6, 0x20);
    v[3] = _mm256_permute2x128_si256(b3, b7, 0x20);
    v[4] = _mm256_permute2x128_si256(b0, b4, 0x31);
    v[5] = _mm256_permute2x128_si256(b1, b5, 0x31);
    v[6] = _mm256_permute2x128_si256(b2, b6, 0x31);
    v[7] = _mm256_permute2x128_si256(b3, b7, 0x31);
}

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
    const __m256i centre = _mm256_set1_epi32(128);
    __m256i v[8];
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r) {
        const __m128i row = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(samples + static_cast<size_t>(r) * stride));
        v[r] = _mm256_sub_epi32(_mm256_cvtepu8_epi32(row), centre);
    }
    transpose8x8(v);  // v[c]: column c of every row
    dctPassLanes<Avx2Lanes, true>(v);
    transpose8x8(v);  // v[r]: row r of the row pass's results
    dctPassLanes<Avx2Lanes, false>(v);
    const __m256i zero = _mm256_setzero_si256();
    uint64_t zeros = 0;
    for (int k = 0; k < 8; k += 2) {
        const __m256i upper = quantise(v[k], table, 8 * k), lower = quantise(v[k + 1], table, 8 * k + 8);
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
