// Where a block's coefficients are nonzero, as one 64-bit mask: for the
// refinement scans, which correct the nonzero ones, and for making the
// picture, which dequantises only those.
#ifndef JPG_DECODER_NONZERO_MASK_H
#define JPG_DECODER_NONZERO_MASK_H

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#elif defined(__aarch64__)
#include <arm_neon.h>
#endif

namespace jpg {

// Bit k set where coefficient k of the block is nonzero: sixteen lanes
// compared with zero at a time where the processor always has the vectors
// (the result is the same on every path), else four at a time: the top bit
// of each 16-bit lane is set where the lane is not zero, and one
// multiplication gathers the four top bits.
inline uint64_t nonzeroMask(const int16_t *coefficients) {
    uint64_t mask = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (uint32_t j = 0; j < 4; ++j) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(coefficients + 16 * j));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(coefficients + 16 * j + 8));
        const __m128i zeros = _mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero));
        mask |= uint64_t{~static_cast<uint32_t>(_mm_movemask_epi8(zeros)) & 0xFFFFu} << (16 * j);
    }
#elif defined(__aarch64__)
    static const uint8_t kWeights[8] = {1, 2, 4, 8, 16, 32, 64, 128};
    const uint8x8_t weights = vld1_u8(kWeights);
    for (uint32_t j = 0; j < 8; ++j) {
        const int16x8_t v = vld1q_s16(coefficients + 8 * j);
        const uint8x8_t set = vmovn_u16(vtstq_s16(v, v));
        mask |= uint64_t{vaddv_u8(vand_u8(set, weights))} << (8 * j);
    }
#else
    const auto *u = reinterpret_cast<const uint16_t *>(coefficients);
    for (uint32_t j = 0; j < 16; ++j, u += 4) {
        const uint64_t w = uint64_t{u[0]} | uint64_t{u[1]} << 16 | uint64_t{u[2]} << 32 | uint64_t{u[3]} << 48;
        const uint64_t top = (((w & 0x7FFF7FFF7FFF7FFFu) + 0x7FFF7FFF7FFF7FFFu) | w) & 0x8000800080008000u;
        mask |= ((top >> 15) * 0x0001000200040008u) >> 48 << (4 * j);
    }
#endif
    return mask;
}

}  // namespace jpg

#endif  // JPG_DECODER_NONZERO_MASK_H
