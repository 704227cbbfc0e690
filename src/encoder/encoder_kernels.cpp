// The encoder's kernel sets and the choice among them.
#include "encoder/encoder_kernels.h"

namespace jpg {

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
