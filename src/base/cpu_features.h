// What the processor offers the SIMD kernels, asked of CPUID once per call.
#ifndef JPG_BASE_CPU_FEATURES_H
#define JPG_BASE_CPU_FEATURES_H

// The x86 kernel files (*_sse2.cpp, *_avx2.cpp) hold code only where this
// is 1: on x86 and x86-64, where cmake/simd.cmake compiles each for its
// instruction set. Elsewhere they compile to nothing, and the dispatchers
// (decoderKernels, encoderKernels) name no x86 kernel. Every kernel file and
// dispatcher tests this one macro.
#if defined(__i386__) || defined(__x86_64__) || defined(_M_IX86) || defined(_M_X64)
#define JPG_X86_KERNELS 1
#else
#define JPG_X86_KERNELS 0
#endif

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
