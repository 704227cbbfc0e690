// The narrow inverse DCT with AVX2: two blocks per transform, one in each
// 128-bit half of the registers.
#include "base/cpu_features.h"
#include "decoder/decoder_kernels.h"

#if JPG_X86_KERNELS
#include "decoder/inverse_dct_simd.h"

namespace jpg {

void idctNarrowAvx2(int32_t *blocks, uint32_t count, uint8_t *out, ptrdiff_t stride) {
    if (count == 2)
        idctNarrowBlocks<Lanes<256>>(blocks, out, stride);
    else
        idctNarrowBlocks<Lanes<128>>(blocks, out, stride);
}

}  // namespace jpg
#endif
