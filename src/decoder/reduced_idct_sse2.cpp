// The 1/2 transform with SSE2: two blocks at a time.
#include "base/cpu_features.h"
#include "decoder/decoder_kernels.h"

#if JPG_X86_KERNELS
#include "decoder/reduced_idct_simd.h"

namespace jpg {

void idctHalfSse2(int32_t *blocks, uint32_t count, uint8_t *out, ptrdiff_t stride) {
    for (; count >= 2; count -= 2, blocks += 128, out += 8) {
        __m128i z[8];
        halfColumns<Lanes<128>>(blocks, z);
        halfColumns<Lanes<128>>(blocks + 64, z + 4);
        halfRows<Lanes<128>>(z, out, stride);
    }
    if (count == 1) halfSingle(blocks, out, stride);
}

}  // namespace jpg
#endif
