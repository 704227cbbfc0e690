// The forward DCT and quantisation with SSE2: the block in eight vectors of
// eight 16-bit lanes, each pass over all eight rows (then columns) at once
// with paired 16-bit products (see forward_dct_lanes.h), and the reciprocal
// quantisation of four coefficients at once.
#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)

#include <emmintrin.h>

#include "encoder/encoder_kernels.h"
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
    static W widen(V a) {
        return {_mm_srai_epi32(_mm_unpacklo_epi16(a, a), 16), _mm_srai_epi32(_mm_unpackhi_epi16(a, a), 16)};
    }
};

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
    __m128i v[8];
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r) {
        const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(samples + static_cast<size_t>(r) * stride));
        v[r] = _mm_sub_epi16(_mm_unpacklo_epi8(bytes, zero), centre);
    }
    Halves out[8];
    transpose8x8(v);  // v[c]: column c of every row
    dctPass16<Sse2Lanes, true>(v, out);
    transpose8x8(v);  // v[r]: row r of the row pass's results
    dctPass16<Sse2Lanes, false>(v, out);
    uint64_t zeros = 0;
    for (int k = 0; k < 8; ++k) {
        const __m128i packed = _mm_packs_epi32(quantise(out[k].lo, table, 8 * k), quantise(out[k].hi, table, 8 * k + 4));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(coefficients + 8 * k), packed);
        const int rowZeros = _mm_movemask_epi8(_mm_packs_epi16(_mm_cmpeq_epi16(packed, zero), zero));
        zeros |= static_cast<uint64_t>(rowZeros & 0xFF) << (8 * k);
    }
    return naturalToZigzagMask(~zeros);
}

}  // namespace jpg

#endif
