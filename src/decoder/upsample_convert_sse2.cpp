// Colour conversion to B, G, R with SSE2, sixteen pixels at a time, with the
// integers of convertStripRows: 16-bit lanes for the blue and red terms
// (|227 x 128| and |179 x 128| fit), PMADDWD for the green term's sum
// (183 x 127 + 88 x 127 does not), arithmetic shifts, and the byte clamp of
// PACKUSWB.
#include "base/cpu_features.h"
#include "decoder/decoder_kernels.h"

#if JPG_X86_KERNELS
#include <emmintrin.h>

#include <cstring>

namespace jpg {

namespace {

inline __m128i pair16(int16_t a, int16_t b) {
    return _mm_set1_epi32(static_cast<int32_t>((uint32_t(uint16_t(b)) << 16) | uint16_t(a)));
}

// B, G and R of eight pixels from 16-bit Y and centred chroma.
inline void convert8(__m128i y, __m128i cb, __m128i cr, __m128i &b, __m128i &g, __m128i &r) {
    b = _mm_add_epi16(y, _mm_srai_epi16(_mm_mullo_epi16(cb, _mm_set1_epi16(227)), 7));
    r = _mm_add_epi16(y, _mm_srai_epi16(_mm_mullo_epi16(cr, _mm_set1_epi16(179)), 7));
    const __m128i weights = pair16(183, 88);
    const __m128i lo = _mm_srai_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(cr, cb), weights), 8);
    const __m128i hi = _mm_srai_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(cr, cb), weights), 8);
    g = _mm_sub_epi16(y, _mm_packs_epi32(lo, hi));
}

// Stores four pixels given as B, G, R, 0 in 32-bit lanes as 12 bytes.
inline void store4(uint8_t *out, __m128i px) {
    const __m128i low = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
    const __m128i high = _mm_set_epi32(0x0000FFFF, static_cast<int32_t>(0xFF000000u), 0x0000FFFF,
                                       static_cast<int32_t>(0xFF000000u));
    // Each 64-bit half: its two pixels as six bytes.
    const __m128i six = _mm_or_si128(_mm_and_si128(px, low), _mm_and_si128(_mm_srli_epi64(px, 8), high));
    const __m128i twelve = _mm_or_si128(_mm_move_epi64(six), _mm_slli_si128(_mm_srli_si128(six, 8), 6));
    _mm_storel_epi64(reinterpret_cast<__m128i *>(out), twelve);
    const int32_t last = _mm_cvtsi128_si32(_mm_srli_si128(twelve, 8));
    std::memcpy(out + 8, &last, 4);
}

// Sixteen pixels from sixteen Y, Cb and Cr bytes.
inline void convert16(__m128i y, __m128i cb, __m128i cr, uint8_t *out) {
    const __m128i zero = _mm_setzero_si128(), centre = _mm_set1_epi16(128);
    __m128i b[2], g[2], r[2];
    convert8(_mm_unpacklo_epi8(y, zero), _mm_sub_epi16(_mm_unpacklo_epi8(cb, zero), centre),
             _mm_sub_epi16(_mm_unpacklo_epi8(cr, zero), centre), b[0], g[0], r[0]);
    convert8(_mm_unpackhi_epi8(y, zero), _mm_sub_epi16(_mm_unpackhi_epi8(cb, zero), centre),
             _mm_sub_epi16(_mm_unpackhi_epi8(cr, zero), centre), b[1], g[1], r[1]);
    const __m128i blue = _mm_packus_epi16(b[0], b[1]), green = _mm_packus_epi16(g[0], g[1]);
    const __m128i red = _mm_packus_epi16(r[0], r[1]);
    const __m128i bgLo = _mm_unpacklo_epi8(blue, green), bgHi = _mm_unpackhi_epi8(blue, green);
    const __m128i r0Lo = _mm_unpacklo_epi8(red, zero), r0Hi = _mm_unpackhi_epi8(red, zero);
    store4(out, _mm_unpacklo_epi16(bgLo, r0Lo));
    store4(out + 12, _mm_unpackhi_epi16(bgLo, r0Lo));
    store4(out + 24, _mm_unpacklo_epi16(bgHi, r0Hi));
    store4(out + 36, _mm_unpackhi_epi16(bgHi, r0Hi));
}

inline __m128i load16(const uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }

// Eight chroma bytes, each doubled.
inline __m128i loadDoubled(const uint8_t *p) {
    const __m128i c = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p));
    return _mm_unpacklo_epi8(c, c);
}

}  // namespace

void yccToBgrRowSse2(const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint8_t *out, uint32_t width) {
    uint32_t x = 0;
    for (; x + 16 <= width; x += 16) convert16(load16(y + x), load16(cb + x), load16(cr + x), out + 3 * x);
    yccToBgrRowPlain(y + x, cb + x, cr + x, out + 3 * x, width - x);
}

void yccToBgrHalfRowSse2(const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint8_t *out, uint32_t width) {
    uint32_t x = 0;
    for (; x + 16 <= width; x += 16)
        convert16(load16(y + x), loadDoubled(cb + x / 2), loadDoubled(cr + x / 2), out + 3 * x);
    yccToBgrHalfRowPlain(y + x, cb + x / 2, cr + x / 2, out + 3 * x, width - x);
}

}  // namespace jpg
#endif
