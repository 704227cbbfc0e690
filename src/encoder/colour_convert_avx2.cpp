// Colour conversion and chroma averaging with AVX2, sixteen pixels at a
// time. The channels are gathered into byte pairs, (B, G) and (R, 0), and
// each component is two multiply-adds of bytes into 16-bit sums:
//   Y  = (15 B + 75 G) + 38 R,  Cb = (64 B - 42 G) - 22 R,  Cr = (-10 B - 54 G) + 64 R,
// the very sums of the plain kernel. No pair sum saturates (the largest,
// 64 * 255 + 42 * 255 = 27,030, is below 2^15) and no total overflows
// (0 <= Y <= 128 * 255 = 32,640; |Cb|, |Cr| <= 64 * 255).
#include "base/cpu_features.h"

#if JPG_X86_KERNELS

#include <immintrin.h>

#include <array>

#include "encoder/encoder_kernels.h"

namespace jpg {

namespace {

// Pixels 0..7 of each 128-bit half come from two loads: A holds the half's
// first 16 bytes, B the 16 bytes from `BytesPerPixel == 3 ? 8 : 16` on
// (the low half starts at pixel 0, the high half at pixel 8).
template <uint32_t BytesPerPixel>
constexpr uint32_t kSecondLoad = BytesPerPixel == 3 ? 8 : 16;

// Shuffles that make, from A and B, the byte pairs (first, second) of the
// half's eight pixels: channel numbers, or 3 for a zero byte.
template <uint32_t BytesPerPixel>
constexpr std::array<std::array<uint8_t, 32>, 2> pairShuffles(uint32_t first, uint32_t second) {
    std::array<std::array<uint8_t, 32>, 2> masks{};
    for (uint32_t i = 0; i < 8; ++i)
        for (uint32_t k = 0; k < 2; ++k) {
            const uint32_t channel = k == 0 ? first : second;
            const uint32_t at = BytesPerPixel * i + channel;
            const bool inA = at < 16 && (BytesPerPixel == 3 || i < 4);
            for (uint32_t half = 0; half < 2; ++half) {
                masks[0][16 * half + 2 * i + k] = channel < 3 && inA ? static_cast<uint8_t>(at) : 0x80;
                masks[1][16 * half + 2 * i + k] =
                    channel < 3 && !inA ? static_cast<uint8_t>(at - kSecondLoad<BytesPerPixel>) : 0x80;
            }
        }
    return masks;
}

inline __m256i load(const std::array<uint8_t, 32> &bytes) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(bytes.data()));
}

inline __m256i loadHalves(const uint8_t *low, const uint8_t *high) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(low))),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i *>(high)), 1);
}

inline __m256i pairs(__m256i a, __m256i b, const std::array<std::array<uint8_t, 32>, 2> &masks) {
    return _mm256_or_si256(_mm256_shuffle_epi8(a, load(masks[0])), _mm256_shuffle_epi8(b, load(masks[1])));
}

// Coefficient bytes for the pairs, repeated.
inline __m256i weights(int8_t first, int8_t second) {
    return _mm256_set1_epi16(static_cast<int16_t>(static_cast<uint8_t>(first) | (static_cast<uint8_t>(second) << 8)));
}

inline void storeBytes(uint8_t *out, __m256i words) {
    const __m128i packed = _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), packed);
}

template <uint32_t BytesPerPixel, bool RedFirst>
uint32_t convertSixteens(const uint8_t *source, uint32_t width, uint8_t *y, uint8_t *cb, uint8_t *cr) {
    static constexpr auto kBlueGreen = pairShuffles<BytesPerPixel>(RedFirst ? 2 : 0, 1);
    static constexpr auto kRedZero = pairShuffles<BytesPerPixel>(RedFirst ? 0 : 2, 3);
    constexpr uint32_t kHigh = 8 * BytesPerPixel, kSecond = kSecondLoad<BytesPerPixel>;
    const __m256i offset = _mm256_set1_epi16(128);
    uint32_t x = 0;
    // The second load of the high half ends 16 * BytesPerPixel bytes on.
    for (; x + 16 <= width; x += 16, source += 16 * BytesPerPixel) {
        const __m256i a = loadHalves(source, source + kHigh);
        const __m256i b = loadHalves(source + kSecond, source + kHigh + kSecond);
        const __m256i blueGreen = pairs(a, b, kBlueGreen);
        const __m256i red = pairs(a, b, kRedZero);
        const __m256i luma =
            _mm256_add_epi16(_mm256_maddubs_epi16(blueGreen, weights(15, 75)), _mm256_maddubs_epi16(red, weights(38, 0)));
        const __m256i blue = _mm256_add_epi16(_mm256_maddubs_epi16(blueGreen, weights(64, -42)),
                                              _mm256_maddubs_epi16(red, weights(-22, 0)));
        const __m256i redDiff = _mm256_add_epi16(_mm256_maddubs_epi16(blueGreen, weights(-10, -54)),
                                                 _mm256_maddubs_epi16(red, weights(64, 0)));
        storeBytes(y + x, _mm256_srli_epi16(luma, 7));
        storeBytes(cb + x, _mm256_add_epi16(_mm256_srai_epi16(blue, 7), offset));
        storeBytes(cr + x, _mm256_add_epi16(_mm256_srai_epi16(redDiff, 7), offset));
    }
    return x;
}

}  // namespace

void rowToYccAvx2(const uint8_t *source, uint32_t width, uint32_t bytesPerPixel, bool redFirst, uint8_t *y,
                  uint8_t *cb, uint8_t *cr) {
    const uint32_t done = bytesPerPixel == 4 ? (redFirst ? convertSixteens<4, true>(source, width, y, cb, cr)
                                                         : convertSixteens<4, false>(source, width, y, cb, cr))
                                             : (redFirst ? convertSixteens<3, true>(source, width, y, cb, cr)
                                                         : convertSixteens<3, false>(source, width, y, cb, cr));
    rowToYccPlain(source + static_cast<size_t>(done) * bytesPerPixel, width - done, bytesPerPixel, redFirst, y + done,
                  cb + done, cr + done);
}

void averagePairsAvx2(const uint8_t *in, uint8_t *out, uint32_t count) {
    const __m256i low = _mm256_set1_epi16(0xFF);
    uint32_t i = 0;
    for (; i + 32 <= count; i += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + 2 * i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + 2 * i + 32));
        const __m256i averageA = _mm256_avg_epu16(_mm256_and_si256(a, low), _mm256_srli_epi16(a, 8));
        const __m256i averageB = _mm256_avg_epu16(_mm256_and_si256(b, low), _mm256_srli_epi16(b, 8));
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(averageA, averageB), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i), packed);
    }
    averagePairsPlain(in + 2 * i, out + i, count - i);
}

void averageSquaresAvx2(const uint8_t *top, const uint8_t *bottom, uint8_t *out, uint32_t count) {
    const __m256i ones = _mm256_set1_epi8(1);
    const __m256i bias = _mm256_set1_epi32(0x00020001);  // 1, 2, 1, 2, ... in 16-bit lanes
    // The sums of the sixteen squares of 32 bytes of both rows, plus the bias.
    const auto sums = [&](const uint8_t *t, const uint8_t *b) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(t));
        const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(b));
        const __m256i pairs = _mm256_add_epi16(_mm256_maddubs_epi16(x, ones), _mm256_maddubs_epi16(y, ones));
        return _mm256_srli_epi16(_mm256_add_epi16(pairs, bias), 2);
    };
    uint32_t i = 0;
    for (; i + 32 <= count; i += 32) {
        const __m256i a = sums(top + 2 * i, bottom + 2 * i), b = sums(top + 2 * i + 32, bottom + 2 * i + 32);
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i), packed);
    }
    averageSquaresPlain(top + 2 * i, bottom + 2 * i, out + i, count - i);
}

}  // namespace jpg

#endif
