// The inverse DCT of inverse_dct.cpp in 16-bit lanes, written once for the
// SSE2 file (one block per call, 128-bit registers) and the AVX2 file (two
// blocks side by side, one per 128-bit half). Only those two files include
// it, each compiled for its instruction set; everything here has internal
// linkage so the two builds never meet in the linker.
//
// The transform is the fixed integer matrix of the scalar kernel. Each
// output is the sum of eight products, paired with PMADDWD: (i0, i4) and
// (i2, i6) give the even part, (i1, i3) and (i5, i7) the odd part. With
// every coefficient within kNarrowLimit, the row pass's sums stay within
// 61,214 x 1,024 and its rounded results within 16 bits, the column pass's
// sums within 61,214 x 30,607 < 2^31: no lane ever wraps, so the result is
// the scalar transform's, integer for integer.
#ifndef JPG_DECODER_INVERSE_DCT_SIMD_H
#define JPG_DECODER_INVERSE_DCT_SIMD_H

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "base/dct_constants.h"
#include "base/simd_transpose.h"

namespace jpg {
namespace {

// The operations the transform needs, for one register width.
template <int Bits>
struct Lanes;

template <>
struct Lanes<128> {
    using V = __m128i;
    static V pair(int16_t a, int16_t b) {
        return _mm_set1_epi32(static_cast<int32_t>((uint32_t(uint16_t(b)) << 16) | uint16_t(a)));
    }
    static V set32(int32_t v) { return _mm_set1_epi32(v); }
    static V set16(int16_t v) { return _mm_set1_epi16(v); }
    static V lo16(V a, V b) { return _mm_unpacklo_epi16(a, b); }
    static V hi16(V a, V b) { return _mm_unpackhi_epi16(a, b); }
    static V lo32(V a, V b) { return _mm_unpacklo_epi32(a, b); }
    static V hi32(V a, V b) { return _mm_unpackhi_epi32(a, b); }
    static V lo64(V a, V b) { return _mm_unpacklo_epi64(a, b); }
    static V hi64(V a, V b) { return _mm_unpackhi_epi64(a, b); }
    static V madd(V a, V b) { return _mm_madd_epi16(a, b); }
    static V add32(V a, V b) { return _mm_add_epi32(a, b); }
    static V sub32(V a, V b) { return _mm_sub_epi32(a, b); }
    static V add16(V a, V b) { return _mm_add_epi16(a, b); }
    template <int S>
    static V sra32(V a) { return _mm_srai_epi32(a, S); }
    static V packs32(V a, V b) { return _mm_packs_epi32(a, b); }
    static V packus16(V a, V b) { return _mm_packus_epi16(a, b); }

    // Row y of the block(s) as eight 16-bit lanes.
    static V loadRow(const int32_t *blocks, int y) {
        const auto *p = reinterpret_cast<const __m128i *>(blocks + 8 * y);
        return _mm_packs_epi32(_mm_loadu_si128(p), _mm_loadu_si128(p + 1));
    }
    static void clear(int32_t *block) {
        for (int i = 0; i < 64; i += 4) _mm_storeu_si128(reinterpret_cast<__m128i *>(block + i), _mm_setzero_si128());
    }
    // Stores rows n and n + 1 (packed bytes) of the block(s).
    static void storeRows(V packed, uint8_t *out, ptrdiff_t stride) {
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out), packed);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + stride), _mm_unpackhi_epi64(packed, packed));
    }
};

#if defined(__AVX2__)
template <>
struct Lanes<256> {
    using V = __m256i;
    static V pair(int16_t a, int16_t b) {
        return _mm256_set1_epi32(static_cast<int32_t>((uint32_t(uint16_t(b)) << 16) | uint16_t(a)));
    }
    static V set32(int32_t v) { return _mm256_set1_epi32(v); }
    static V set16(int16_t v) { return _mm256_set1_epi16(v); }
    static V lo16(V a, V b) { return _mm256_unpacklo_epi16(a, b); }
    static V hi16(V a, V b) { return _mm256_unpackhi_epi16(a, b); }
    static V lo32(V a, V b) { return _mm256_unpacklo_epi32(a, b); }
    static V hi32(V a, V b) { return _mm256_unpackhi_epi32(a, b); }
    static V lo64(V a, V b) { return _mm256_unpacklo_epi64(a, b); }
    static V hi64(V a, V b) { return _mm256_unpackhi_epi64(a, b); }
    static V madd(V a, V b) { return _mm256_madd_epi16(a, b); }
    static V add32(V a, V b) { return _mm256_add_epi32(a, b); }
    static V sub32(V a, V b) { return _mm256_sub_epi32(a, b); }
    static V add16(V a, V b) { return _mm256_add_epi16(a, b); }
    template <int S>
    static V sra32(V a) { return _mm256_srai_epi32(a, S); }
    static V packs32(V a, V b) { return _mm256_packs_epi32(a, b); }
    static V packus16(V a, V b) { return _mm256_packus_epi16(a, b); }

    // Row y of the first block in the low half, of the second in the high.
    static V loadRow(const int32_t *blocks, int y) {
        const auto *a = reinterpret_cast<const __m128i *>(blocks + 8 * y);
        const auto *b = reinterpret_cast<const __m128i *>(blocks + 64 + 8 * y);
        const V left = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(a)), _mm_loadu_si128(b), 1);
        const V right =
            _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(a + 1)), _mm_loadu_si128(b + 1), 1);
        return _mm256_packs_epi32(left, right);
    }
    static void clear(int32_t *blocks) {
        for (int i = 0; i < 128; i += 8)
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(blocks + i), _mm256_setzero_si256());
    }
    // Rows n and n + 1 of both blocks: the second block's 8 bytes right of
    // the first's.
    static void storeRows(V packed, uint8_t *out, ptrdiff_t stride) {
        const V ordered = _mm256_permute4x64_epi64(packed, 0xD8);  // rows n of both, then rows n + 1
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm256_castsi256_si128(ordered));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + stride), _mm256_extracti128_si256(ordered, 1));
    }
};
#endif

// Transposes the 8 x 8 16-bit matrix in r (in each 128-bit half).
template <class L, class V = typename L::V>
inline void transpose(V r[8]) {
    transpose8x8<L>(r);
}

// One pass of the kernel across the eight registers (input u in r[u], one
// line per lane), descaled by Shift with rounding, back to 16 bits.
template <class L, int Shift, class V = typename L::V>
inline void kernelPass(V r[8]) {
    using namespace dct;
    const V round = L::set32(1 << (Shift - 1));
    V out[2][8];
    for (int half = 0; half < 2; ++half) {
        const V p04 = half ? L::hi16(r[0], r[4]) : L::lo16(r[0], r[4]);
        const V p26 = half ? L::hi16(r[2], r[6]) : L::lo16(r[2], r[6]);
        const V p13 = half ? L::hi16(r[1], r[3]) : L::lo16(r[1], r[3]);
        const V p57 = half ? L::hi16(r[5], r[7]) : L::lo16(r[5], r[7]);
        const V e0 = L::madd(p04, L::pair(kOne, kOne));
        const V e1 = L::madd(p04, L::pair(kOne, -kOne));
        const V e3 = L::madd(p26, L::pair(kEvenFoldDown, kFix0_541196100));
        const V e2 = L::madd(p26, L::pair(kFix0_541196100, -kEvenFoldUp));
        const V a0 = L::add32(e0, e3), a3 = L::sub32(e0, e3), a1 = L::add32(e1, e2), a2 = L::sub32(e1, e2);
        // The odd part's weights of i1, i3, i5 and i7, expanded from the
        // scalar kernel's factorisation.
        constexpr int32_t w31 = kOddFoldUp + kFix1_501321110 - kFix0_899976223;       // 11363
        constexpr int32_t w37 = kFix1_175875602 - kFix0_899976223;                    // 2260
        constexpr int32_t w23 = kFix3_072711026 - kFix2_562915447 - kOddFoldDown;     // -2259
        constexpr int32_t w25 = kFix1_175875602 - kFix2_562915447;                    // -11362
        constexpr int32_t w15 = kOddFoldUp - kOddWeight5;                             // 2261
        constexpr int32_t w03 = -kOddFoldDown;                                        // -6436
        constexpr int32_t w07 = -kOddFoldDown - kOddWeight7;                          // -11363
        static_assert(w31 == 11363 && w37 == 2260 && w23 == -2259 && w25 == -11362 &&
                          w15 == 2261 && w03 == -6436 && w07 == -11363,
                      "odd weights of the inverse kernel");
        const V b3 = L::add32(L::madd(p13, L::pair(w31, kFix1_175875602)), L::madd(p57, L::pair(kOddFoldUp, w37)));
        const V b2 = L::add32(L::madd(p13, L::pair(kFix1_175875602, w23)), L::madd(p57, L::pair(w25, -kOddFoldDown)));
        const V b1 = L::add32(L::madd(p13, L::pair(kOddFoldUp, w25)), L::madd(p57, L::pair(w15, kFix1_175875602)));
        const V b0 = L::add32(L::madd(p13, L::pair(w37, w03)), L::madd(p57, L::pair(kFix1_175875602, w07)));
        out[half][0] = L::template sra32<Shift>(L::add32(L::add32(a0, b3), round));
        out[half][7] = L::template sra32<Shift>(L::add32(L::sub32(a0, b3), round));
        out[half][1] = L::template sra32<Shift>(L::add32(L::add32(a1, b2), round));
        out[half][6] = L::template sra32<Shift>(L::add32(L::sub32(a1, b2), round));
        out[half][2] = L::template sra32<Shift>(L::add32(L::add32(a2, b1), round));
        out[half][5] = L::template sra32<Shift>(L::add32(L::sub32(a2, b1), round));
        out[half][3] = L::template sra32<Shift>(L::add32(L::add32(a3, b0), round));
        out[half][4] = L::template sra32<Shift>(L::add32(L::sub32(a3, b0), round));
    }
    for (int n = 0; n < 8; ++n) r[n] = L::packs32(out[0][n], out[1][n]);
}

// The whole transform of the block(s) at `blocks`, level shift and clamp;
// the blocks are cleared.
template <class L>
inline void idctNarrowBlocks(int32_t *blocks, uint8_t *out, ptrdiff_t stride) {
    using V = typename L::V;
    V r[8];
    for (int y = 0; y < 8; ++y) r[y] = L::loadRow(blocks, y);
    L::clear(blocks);
    // Rows first: each register then holds one column, one row per lane.
    transpose<L>(r);
    kernelPass<L, dct::kRowShift>(r);
    // Columns next: each register holds one row of the intermediate.
    transpose<L>(r);
    kernelPass<L, dct::kColumnShift>(r);
    const V shift = L::set16(128);
    for (int n = 0; n < 8; n += 2)
        L::storeRows(L::packus16(L::add16(r[n], shift), L::add16(r[n + 1], shift)), out + n * stride, stride);
}

}  // namespace
}  // namespace jpg

#endif  // JPG_DECODER_INVERSE_DCT_SIMD_H
