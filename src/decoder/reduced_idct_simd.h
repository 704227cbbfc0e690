// The 1/2 transform of reduced_idct.cpp in 16-bit lanes, for the SSE2 file
// and the AVX2 file, on the register operations of inverse_dct_simd.h (the
// same rules: only those two files include it, everything has internal
// linkage).
//
// The columns pass works on a block's rows as they lie in memory (one column
// per lane; with AVX2 two blocks, one per 128-bit half) and gives the
// block's four intermediate rows. The eight such rows of two blocks,
// transposed, hold one intermediate column each, block A's four rows in the
// low lanes and B's in the high ones (with AVX2, blocks C and D in the high
// half); the rows pass then gives one output column of those blocks per
// register, and a last small transpose makes the output rows, A's four
// samples and B's side by side. reduced_idct.h shows that no lane wraps.
#ifndef JPG_DECODER_REDUCED_IDCT_SIMD_H
#define JPG_DECODER_REDUCED_IDCT_SIMD_H

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "decoder/inverse_dct_simd.h"
#include "decoder/reduced_idct.h"

namespace jpg {
namespace {

// One pass of the 1/2 transform across the four lines (in the register's
// 32-bit lanes) of the low (High false) or high half of eight lines side by
// side: input u of each line in r[u] (r[4] weighs nothing and is not read),
// output n in o[n], descaled by Shift with rounding. The butterfly is that of
// halfLine in reduced_idct.cpp.
template <class L, int Shift, bool High, class V = typename L::V>
inline void halfPassLanes(const V r[8], V o[4]) {
    using reduced::kHalfWeights;
    const V p00 = High ? L::hi16(r[0], r[0]) : L::lo16(r[0], r[0]);
    const V p26 = High ? L::hi16(r[2], r[6]) : L::lo16(r[2], r[6]);
    const V p13 = High ? L::hi16(r[1], r[3]) : L::lo16(r[1], r[3]);
    const V p57 = High ? L::hi16(r[5], r[7]) : L::lo16(r[5], r[7]);
    const V a = L::add32(L::madd(p00, L::pair(dct::kOne, 0)), L::set32(1 << (Shift - 1)));
    const V e = L::madd(p26, L::pair(kHalfWeights[0][2], kHalfWeights[0][6]));
    const V o0 = L::add32(L::madd(p13, L::pair(kHalfWeights[0][1], kHalfWeights[0][3])),
                          L::madd(p57, L::pair(kHalfWeights[0][5], kHalfWeights[0][7])));
    const V o1 = L::add32(L::madd(p13, L::pair(kHalfWeights[1][1], kHalfWeights[1][3])),
                          L::madd(p57, L::pair(kHalfWeights[1][5], kHalfWeights[1][7])));
    const V e0 = L::add32(a, e), e1 = L::sub32(a, e);
    o[0] = L::template sra32<Shift>(L::add32(e0, o0));
    o[3] = L::template sra32<Shift>(L::sub32(e0, o0));
    o[1] = L::template sra32<Shift>(L::add32(e1, o1));
    o[2] = L::template sra32<Shift>(L::sub32(e1, o1));
}

// The pass across all eight lines: output n in z[n], in 16 bits.
template <class L, int Shift, class V = typename L::V>
inline void halfPass(const V r[8], V z[4]) {
    V low[4], high[4];
    halfPassLanes<L, Shift, false>(r, low);
    halfPassLanes<L, Shift, true>(r, high);
    // Written out: compilers keep short loops over registers as loops
    // through memory.
    z[0] = L::packs32(low[0], high[0]);
    z[1] = L::packs32(low[1], high[1]);
    z[2] = L::packs32(low[2], high[2]);
    z[3] = L::packs32(low[3], high[3]);
}

// The columns pass of the block(s) at `blocks` (one, or two side by side in
// 256-bit registers), which are then cleared.
template <class L, class V = typename L::V>
inline void halfColumns(int32_t *blocks, V z[4]) {
    const V r[8] = {L::loadRow(blocks, 0), L::loadRow(blocks, 1), L::loadRow(blocks, 2), L::loadRow(blocks, 3),
                    V{},                   L::loadRow(blocks, 5), L::loadRow(blocks, 6), L::loadRow(blocks, 7)};
    L::clear(blocks);
    halfPass<L, reduced::kFirstShift>(r, z);
}

// The rows pass of two blocks from their columns passes (z[0..3] block A's
// four rows, z[4..7] B's), level shift and clamp: four output rows of A's
// four samples, then B's unless Single. In 256-bit registers, the same for
// blocks A and B in the low halves and C and D in the high ones, whose
// samples follow B's.
template <class L, bool Single = false, class V = typename L::V>
inline void halfRows(V z[8], uint8_t *out, ptrdiff_t stride) {
    transpose<L>(z);
    V c[4];
    halfPass<L, reduced::kSecondShift>(z, c);  // c[k]: column k of A (low lanes) and B
    const V shift = L::set16(128);
    const V c0 = L::add16(c[0], shift), c1 = L::add16(c[1], shift);
    const V c2 = L::add16(c[2], shift), c3 = L::add16(c[3], shift);
    const V a01 = L::lo16(c0, c1), a23 = L::lo16(c2, c3);
    const V b01 = L::hi16(c0, c1), b23 = L::hi16(c2, c3);
    const V aRows01 = L::lo32(a01, a23), aRows23 = L::hi32(a01, a23);
    const V bRows01 = L::lo32(b01, b23), bRows23 = L::hi32(b01, b23);
    // Bytes: row 0 of A, of B, row 1 of A, of B (then rows 2 and 3).
    const V rows01 = L::packus16(L::lo64(aRows01, bRows01), L::hi64(aRows01, bRows01));
    const V rows23 = L::packus16(L::lo64(aRows23, bRows23), L::hi64(aRows23, bRows23));
    if constexpr (!Single) {
        L::storeRows(rows01, out, stride);
        L::storeRows(rows23, out + 2 * stride, stride);
    } else {
        const int32_t rows[4] = {_mm_cvtsi128_si32(rows01), _mm_cvtsi128_si32(_mm_srli_si128(rows01, 8)),
                                 _mm_cvtsi128_si32(rows23), _mm_cvtsi128_si32(_mm_srli_si128(rows23, 8))};
        for (int n = 0; n < 4; ++n) std::memcpy(out + n * stride, &rows[n], 4);
    }
}

// The last block of an odd count, with SSE2 or AVX2 alike.
inline void halfSingle(int32_t *block, uint8_t *out, ptrdiff_t stride) {
    __m128i z[8] = {};
    halfColumns<Lanes<128>>(block, z);
    halfRows<Lanes<128>, true>(z, out, stride);
}

}  // namespace
}  // namespace jpg

#endif  // JPG_DECODER_REDUCED_IDCT_SIMD_H
