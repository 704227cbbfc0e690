// Colour conversion to B, G, R with AVX2, thirty-two pixels at a time: the
// arithmetic of upsample_convert_sse2.cpp in 256-bit registers, and the
// pixels interleaved with byte shuffles, 48 bytes per 128-bit half.
#include "base/cpu_features.h"
#include "decoder/decoder_kernels.h"

#if JPG_X86_KERNELS
#include <immintrin.h>

namespace jpg {

namespace {

// Byte shuffles that place B (channel 0), G (1) and R (2) of sixteen pixels
// into three 16-byte runs of B, G, R triples: for run k, channel c, byte p
// of the run the source byte, or -128 (zero) when p holds another channel.
struct Interleave {
    alignas(32) int8_t mask[3][3][32];
};

constexpr Interleave makeInterleave() {
    Interleave t{};
    for (int k = 0; k < 3; ++k)
        for (int c = 0; c < 3; ++c)
            for (int p = 0; p < 16; ++p) {
                const int q = 16 * k + p;
                const int8_t v = q % 3 == c ? static_cast<int8_t>(q / 3) : int8_t{-128};
                t.mask[k][c][p] = t.mask[k][c][p + 16] = v;
            }
    return t;
}

constexpr Interleave kInterleave = makeInterleave();

inline __m256i mask(int k, int c) {
    return _mm256_load_si256(reinterpret_cast<const __m256i *>(kInterleave.mask[k][c]));
}

inline __m256i pair16(int16_t a, int16_t b) {
    return _mm256_set1_epi32(static_cast<int32_t>((uint32_t(uint16_t(b)) << 16) | uint16_t(a)));
}

inline void convert16(__m256i y, __m256i cb, __m256i cr, __m256i &b, __m256i &g, __m256i &r) {
    b = _mm256_add_epi16(y, _mm256_srai_epi16(_mm256_mullo_epi16(cb, _mm256_set1_epi16(227)), 7));
    r = _mm256_add_epi16(y, _mm256_srai_epi16(_mm256_mullo_epi16(cr, _mm256_set1_epi16(179)), 7));
    const __m256i weights = pair16(183, 88);
    const __m256i lo = _mm256_srai_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(cr, cb), weights), 8);
    const __m256i hi = _mm256_srai_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(cr, cb), weights), 8);
    g = _mm256_sub_epi16(y, _mm256_packs_epi32(lo, hi));
}

// Thirty-two pixels from thirty-two Y, Cb and Cr bytes (96 bytes out).
inline void convert32(__m256i y, __m256i cb, __m256i cr, uint8_t *out) {
    const __m256i zero = _mm256_setzero_si256(), centre = _mm256_set1_epi16(128);
    __m256i b[2], g[2], r[2];
    // Both unpacks take the same bytes of every input, so the lanes agree.
    convert16(_mm256_unpacklo_epi8(y, zero), _mm256_sub_epi16(_mm256_unpacklo_epi8(cb, zero), centre),
              _mm256_sub_epi16(_mm256_unpacklo_epi8(cr, zero), centre), b[0], g[0], r[0]);
    convert16(_mm256_unpackhi_epi8(y, zero), _mm256_sub_epi16(_mm256_unpackhi_epi8(cb, zero), centre),
              _mm256_sub_epi16(_mm256_unpackhi_epi8(cr, zero), centre), b[1], g[1], r[1]);
    const __m256i channel[3] = {_mm256_packus_epi16(b[0], b[1]), _mm256_packus_epi16(g[0], g[1]),
                                _mm256_packus_epi16(r[0], r[1])};
    __m256i run[3];
    for (int k = 0; k < 3; ++k)
        run[k] = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(channel[0], mask(k, 0)),
                                                 _mm256_shuffle_epi8(channel[1], mask(k, 1))),
                                 _mm256_shuffle_epi8(channel[2], mask(k, 2)));
    for (int k = 0; k < 3; ++k) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 16 * k), _mm256_castsi256_si128(run[k]));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 48 + 16 * k), _mm256_extracti128_si256(run[k], 1));
    }
}

inline __m256i load32(const uint8_t *p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)); }

// Sixteen chroma bytes, each doubled.
inline __m256i loadDoubled(const uint8_t *p) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    return _mm256_set_m128i(_mm_unpackhi_epi8(c, c), _mm_unpacklo_epi8(c, c));
}

}  // namespace

void yccToBgrRowAvx2(const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint8_t *out, uint32_t width) {
    uint32_t x = 0;
    for (; x + 32 <= width; x += 32) convert32(load32(y + x), load32(cb + x), load32(cr + x), out + 3 * x);
    yccToBgrRowSse2(y + x, cb + x, cr + x, out + 3 * x, width - x);
}

void yccToBgrHalfRowAvx2(const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint8_t *out, uint32_t width) {
    uint32_t x = 0;
    for (; x + 32 <= width; x += 32)
        convert32(load32(y + x), loadDoubled(cb + x / 2), loadDoubled(cr + x / 2), out + 3 * x);
    yccToBgrHalfRowSse2(y + x, cb + x / 2, cr + x / 2, out + 3 * x, width - x);
}

}  // namespace jpg
#endif
