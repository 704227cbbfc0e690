// The encoder's kernel sets and the choice among them.
#include "encoder/encoder_kernels.h"

#include <array>

#include "base/cpu_features.h"
#include "base/standard_tables.h"

namespace jpg {

namespace {

constexpr std::array<std::array<uint64_t, 256>, 8> zigzagBits() {
    std::array<std::array<uint64_t, 256>, 8> bits{};
    for (int k = 0; k < 64; ++k) {
        const int row = kZigzag[k] / 8, column = kZigzag[k] % 8;
        for (int m = 0; m < 256; ++m)
            if (m & (1 << column)) bits[row][m] |= uint64_t(1) << k;
    }
    return bits;
}

}  // namespace

extern const std::array<std::array<uint64_t, 256>, 8> kZigzagBits;
constexpr std::array<std::array<uint64_t, 256>, 8> kZigzagBits = zigzagBits();

const EncoderKernels *encoderKernels(KernelSet requested) {
    static const EncoderKernels plain{rowToYccPlain, averagePairsPlain, averageSquaresPlain, transformBlockPlain,
                                      transformTwoBlocksPlain};
#if JPG_X86_KERNELS
    static const EncoderKernels sse2{rowToYccSse2, averagePairsSse2, averageSquaresSse2, transformBlockSse2,
                                     transformTwoBlocksSse2};
    static const EncoderKernels avx2{rowToYccAvx2, averagePairsAvx2, averageSquaresAvx2, transformBlockAvx2,
                                     transformTwoBlocksAvx2};
    return chooseKernels(requested, &plain, &sse2, &avx2);
#else
    return chooseKernels<EncoderKernels>(requested, &plain, nullptr, nullptr);
#endif
}

}  // namespace jpg
