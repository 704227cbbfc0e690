// The 1/2 transform with AVX2: the columns passes of two blocks at once, one
// in each 128-bit half, and the rows pass of four blocks, A and B in the low
// halves, C and D in the high ones; two blocks, or one, as with SSE2.
#include "base/cpu_features.h"
#include "decoder/decoder_kernels.h"

#if JPG_X86_KERNELS
#include "decoder/reduced_idct_simd.h"

namespace jpg {

void idctHalfAvx2(int32_t *blocks, uint32_t count, uint8_t *out, ptrdiff_t stride) {
    using L = Lanes<256>;
    for (; count >= 4; count -= 4, blocks += 256, out += 16) {
        __m256i ab[4], cd[4];
        halfColumns<L>(blocks, ab);
        halfColumns<L>(blocks + 128, cd);
        __m256i z[8];
        for (int n = 0; n < 4; ++n) {
            z[n] = _mm256_permute2x128_si256(ab[n], cd[n], 0x20);      // A | C
            z[4 + n] = _mm256_permute2x128_si256(ab[n], cd[n], 0x31);  // B | D
        }
        halfRows<L>(z, out, stride);
    }
    if (count >= 2) {
        __m256i ab[4];
        halfColumns<L>(blocks, ab);
        __m128i z[8];
        for (int n = 0; n < 4; ++n) {
            z[n] = _mm256_castsi256_si128(ab[n]);
            z[4 + n] = _mm256_extracti128_si256(ab[n], 1);
        }
        halfRows<Lanes<128>>(z, out, stride);
        count -= 2;
        blocks += 128;
        out += 8;
    }
    if (count == 1) halfSingle(blocks, out, stride);
}

}  // namespace jpg
#endif
