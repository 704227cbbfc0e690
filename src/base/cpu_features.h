// What the processor offers the SIMD kernels, asked of CPUID once per call.
#ifndef JPG_BASE_CPU_FEATURES_H
#define JPG_BASE_CPU_FEATURES_H

namespace jpg {

struct CpuFeatures {
    bool sse2 = false;
    // AVX2 instructions, and an operating system that saves the 256-bit
    // registers across context switches (XGETBV).
    bool avx2 = false;
};

// The features of the running processor; nothing on processors other than
// x86 and x86-64, or with compilers that have no CPUID intrinsic.
CpuFeatures detectCpuFeatures();

}  // namespace jpg

#endif  // JPG_BASE_CPU_FEATURES_H
