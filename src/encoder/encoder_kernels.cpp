// The encoder's kernel sets and the choice among them.
#include "encoder/encoder_kernels.h"

#include <array>

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

const EncoderKernels kPlainEncoderKernels = {convertRowPlain, averagePairsPlain, transformBlockPlain};
const EncoderKernels kSse2EncoderKernels = {convertRowSse2, averagePairsSse2, transformBlockSse2};
const EncoderKernels kAvx2EncoderKernels = {convertRowAvx2, averagePairsAvx2, transformBlockAvx2};

const EncoderKernels *encoderKernels(KernelSet requested) {
    switch (resolveKernels(requested)) {
    case KernelSet::Reference: return nullptr;
    case KernelSet::Sse2: return &kSse2EncoderKernels;
    case KernelSet::Avx2: return &kAvx2EncoderKernels;
    default: return &kPlainEncoderKernels;
    }
}

}  // namespace jpg
