// Colour conversion and chroma averaging with SSE2: eight pixels at a time
// in 16-bit lanes, where the fixed-point sums of the plain kernel fit (and
// the sums of four samples).
// Without a byte shuffle the channels are gathered one sample at a time.
#include "base/cpu_features.h"

#if JPG_X86_KERNELS

#include <emmintrin.h>

#include "encoder/encoder_kernels.h"

namespace jpg {

namespace {

inline __m128i channel(const uint8_t *p, uint32_t step) {
    return _mm_setr_epi16(p[0], p[step], p[2 * step], p[3 * step], p[4 * step], p[5 * step], p[6 * step],
                          p[7 * step]);
}

inline __m128i times(__m128i v, int16_t c) { return _mm_mullo_epi16(v, _mm_set1_epi16(c)); }

inline void storeEight(uint8_t *out, __m128i words) {
    _mm_storel_epi64(reinterpret_cast<__m128i *>(out), _mm_packus_epi16(words, words));
}

}  // namespace

void rowToYccSse2(const uint8_t *source, uint32_t width, uint32_t bytesPerPixel, bool redFirst, uint8_t *y,
                  uint8_t *cb, uint8_t *cr) {
    const __m128i offset = _mm_set1_epi16(128);
    const uint32_t blue = redFirst ? 2 : 0, red = 2 - blue;
    uint32_t x = 0;
    for (; x + 8 <= width; x += 8, source += 8 * bytesPerPixel) {
        const __m128i b = channel(source + blue, bytesPerPixel);
        const __m128i g = channel(source + 1, bytesPerPixel);
        const __m128i r = channel(source + red, bytesPerPixel);
        const __m128i luma = _mm_add_epi16(_mm_add_epi16(times(r, 38), times(g, 75)), times(b, 15));
        const __m128i blue = _mm_sub_epi16(_mm_sub_epi16(times(b, 64), times(r, 22)), times(g, 42));
        const __m128i red = _mm_sub_epi16(_mm_sub_epi16(times(r, 64), times(g, 54)), times(b, 10));
        storeEight(y + x, _mm_srli_epi16(luma, 7));
        storeEight(cb + x, _mm_add_epi16(_mm_srai_epi16(blue, 7), offset));
        storeEight(cr + x, _mm_add_epi16(_mm_srai_epi16(red, 7), offset));
    }
    rowToYccPlain(source, width - x, bytesPerPixel, redFirst, y + x, cb + x, cr + x);
}

void averagePairsSse2(const uint8_t *in, uint8_t *out, uint32_t count) {
    const __m128i low = _mm_set1_epi16(0xFF);
    uint32_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 2 * i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 2 * i + 16));
        const __m128i averageA = _mm_avg_epu16(_mm_and_si128(a, low), _mm_srli_epi16(a, 8));
        const __m128i averageB = _mm_avg_epu16(_mm_and_si128(b, low), _mm_srli_epi16(b, 8));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_packus_epi16(averageA, averageB));
    }
    averagePairsPlain(in + 2 * i, out + i, count - i);
}

void averageSquaresSse2(const uint8_t *top, const uint8_t *bottom, uint8_t *out, uint32_t count) {
    const __m128i low = _mm_set1_epi16(0xFF);
    const __m128i bias = _mm_setr_epi16(1, 2, 1, 2, 1, 2, 1, 2);
    // The sums of the eight squares of 16 bytes of both rows, plus the bias.
    const auto sums = [&](const uint8_t *t, const uint8_t *b) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(t));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b));
        const __m128i pairs = _mm_add_epi16(_mm_add_epi16(_mm_and_si128(x, low), _mm_srli_epi16(x, 8)),
                                            _mm_add_epi16(_mm_and_si128(y, low), _mm_srli_epi16(y, 8)));
        return _mm_srli_epi16(_mm_add_epi16(pairs, bias), 2);
    };
    uint32_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i a = sums(top + 2 * i, bottom + 2 * i), b = sums(top + 2 * i + 16, bottom + 2 * i + 16);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_packus_epi16(a, b));
    }
    averageSquaresPlain(top + 2 * i, bottom + 2 * i, out + i, count - i);
}

}  // namespace jpg

#endif
