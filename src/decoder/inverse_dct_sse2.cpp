// The narrow inverse DCT with SSE2: one block per transform.
#include "base/cpu_features.h"
#include "decoder/decoder_kernels.h"

#if JPG_X86_KERNELS
#include "decoder/inverse_dct_simd.h"

namespace jpg {

void idctNarrowSse2(int32_t *blocks, uint32_t count, uint8_t *out, ptrdiff_t stride) {
    for (uint32_t b = 0; b < count; ++b) idctNarrowBlocks<Lanes<128>>(blocks + 64 * b, out + 8 * b, stride);
}

}  // namespace jpg
#endif
