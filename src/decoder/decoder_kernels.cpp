// The plain C++ kernels of the fast path, and the choice of a kernel set.

#include "decoder/decoder_kernels.h"

#include <cstring>

#include "base/bytes.h"
#include "base/cpu_features.h"
#include "decoder/decoder_internal.h"

namespace jpg {

void idctNarrowPlain(int32_t *blocks, uint32_t count, uint8_t *out, ptrdiff_t stride) {
    for (uint32_t b = 0; b < count; ++b) {
        int32_t work[64];
        std::memcpy(work, blocks + 64 * b, sizeof work);
        std::memset(blocks + 64 * b, 0, sizeof work);
        inverseDct(work);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) out[y * stride + 8 * b + x] = clampToByte(work[8 * y + x] + 128);
    }
}

namespace {

inline void convertPixel(int32_t luma, int32_t cb, int32_t cr, uint8_t *o) {
    cb -= 128;
    cr -= 128;
    o[0] = clampToByte(luma + ((227 * cb) >> 7));
    o[1] = clampToByte(luma - ((183 * cr + 88 * cb) >> 8));
    o[2] = clampToByte(luma + ((179 * cr) >> 7));
}

}  // namespace

void yccToBgrRowPlain(const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint8_t *out, uint32_t width) {
    for (uint32_t x = 0; x < width; ++x, out += 3) convertPixel(y[x], cb[x], cr[x], out);
}

void yccToBgrHalfRowPlain(const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint8_t *out, uint32_t width) {
    for (uint32_t x = 0; x < width; ++x, out += 3) convertPixel(y[x], cb[x / 2], cr[x / 2], out);
}

const DecoderKernels *decoderKernels(KernelSet requested) {
    static const DecoderKernels plain{idctNarrowPlain,
                                      yccToBgrRowPlain,
                                      yccToBgrHalfRowPlain,
                                      {idctHalfPlain, idctQuarterPlain, idctEighthPlain}};
#if JPG_X86_KERNELS
    static const DecoderKernels sse2{idctNarrowSse2,
                                     yccToBgrRowSse2,
                                     yccToBgrHalfRowSse2,
                                     {idctHalfSse2, idctQuarterPlain, idctEighthPlain}};
    static const DecoderKernels avx2{idctNarrowAvx2,
                                     yccToBgrRowAvx2,
                                     yccToBgrHalfRowAvx2,
                                     {idctHalfAvx2, idctQuarterPlain, idctEighthPlain}};
    return chooseKernels(requested, &plain, &sse2, &avx2);
#else
    return chooseKernels<DecoderKernels>(requested, &plain, nullptr, nullptr);
#endif
}

}  // namespace jpg
