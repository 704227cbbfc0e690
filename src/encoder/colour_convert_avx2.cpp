// Colour conversion and chroma averaging with AVX2: sixteen pixels at a time
// in 16-bit lanes, where the fixed-point sums of the plain kernel fit
// (|38 R + 75 G + 15 B| and |64 B - 22 R - 42 G| stay below 2^15).
#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)

#include <immintrin.h>

#include <array>

#include "encoder/encoder_kernels.h"

namespace jpg {

namespace {

// Byte shuffles that gather channel `channel` of sixteen pixels of
// `bytesPerPixel` bytes from 16-byte chunk `chunk` (0x80: from another chunk).
template <uint32_t BytesPerPixel>
constexpr std::array<std::array<std::array<uint8_t, 16>, BytesPerPixel>, 3> channelShuffles() {
    std::array<std::array<std::array<uint8_t, 16>, BytesPerPixel>, 3> masks{};
    for (uint32_t channel = 0; channel < 3; ++channel)
        for (uint32_t chunk = 0; chunk < BytesPerPixel; ++chunk)
            for (uint32_t i = 0; i < 16; ++i) {
                const uint32_t at = BytesPerPixel * i + channel;
                masks[channel][chunk][i] = at / 16 == chunk ? static_cast<uint8_t>(at % 16) : 0x80;
            }
    return masks;
}

template <uint32_t BytesPerPixel>
inline __m256i gatherChannel(const __m128i chunks[], uint32_t channel) {
    static constexpr auto kMasks = channelShuffles<BytesPerPixel>();
    __m128i bytes = _mm_setzero_si128();
    for (uint32_t c = 0; c < BytesPerPixel; ++c)
        bytes = _mm_or_si128(bytes, _mm_shuffle_epi8(chunks[c], _mm_loadu_si128(reinterpret_cast<const __m128i *>(
                                                                     kMasks[channel][c].data()))));
    return _mm256_cvtepu8_epi16(bytes);
}

inline void storeBytes(uint8_t *out, __m256i words) {
    const __m128i packed = _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), packed);
}

template <uint32_t BytesPerPixel>
uint32_t convertSixteens(const uint8_t *source, uint32_t width, uint8_t *y, uint8_t *cb, uint8_t *cr) {
    const __m256i offset = _mm256_set1_epi16(128);
    uint32_t x = 0;
    for (; x + 16 <= width; x += 16, source += 16 * BytesPerPixel) {
        __m128i chunks[BytesPerPixel];
        for (uint32_t c = 0; c < BytesPerPixel; ++c)
            chunks[c] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(source + 16 * c));
        const __m256i b = gatherChannel<BytesPerPixel>(chunks, 0);
        const __m256i g = gatherChannel<BytesPerPixel>(chunks, 1);
        const __m256i r = gatherChannel<BytesPerPixel>(chunks, 2);
        const auto times = [](__m256i v, int16_t c) { return _mm256_mullo_epi16(v, _mm256_set1_epi16(c)); };
        const __m256i luma = _mm256_add_epi16(_mm256_add_epi16(times(r, 38), times(g, 75)), times(b, 15));
        const __m256i blue = _mm256_sub_epi16(_mm256_sub_epi16(times(b, 64), times(r, 22)), times(g, 42));
        const __m256i red = _mm256_sub_epi16(_mm256_sub_epi16(times(r, 64), times(g, 54)), times(b, 10));
        storeBytes(y + x, _mm256_srli_epi16(luma, 7));
        storeBytes(cb + x, _mm256_add_epi16(_mm256_srai_epi16(blue, 7), offset));
        storeBytes(cr + x, _mm256_add_epi16(_mm256_srai_epi16(red, 7), offset));
    }
    return x;
}

}  // namespace

void convertRowAvx2(const uint8_t *source, uint32_t width, uint32_t bytesPerPixel, uint8_t *y, uint8_t *cb,
                    uint8_t *cr) {
    const uint32_t done = bytesPerPixel == 4 ? convertSixteens<4>(source, width, y, cb, cr)
                                             : convertSixteens<3>(source, width, y, cb, cr);
    convertRowPlain(source + static_cast<size_t>(done) * bytesPerPixel, width - done, bytesPerPixel, y + done,
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

}  // namespace jpg

#endif
