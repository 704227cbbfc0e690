// CPUID and XGETBV on x86 and x86-64 with GCC, Clang and MinGW.
#include "base/cpu_features.h"

#if (defined(__i386__) || defined(__x86_64__)) && (defined(__GNUC__) || defined(__clang__))
#define JPG_HAVE_CPUID 1
#include <cpuid.h>
#endif

namespace jpg {

#if defined(JPG_HAVE_CPUID)

namespace {

// The low word of extended control register 0: which register states the
// operating system saves (bit 1 SSE, bit 2 AVX).
unsigned readXcr0() {
    unsigned eax = 0, edx = 0;
    __asm__ volatile("xgetbv" : "=a"(eax), "=d"(edx) : "c"(0));
    return eax;
}

}  // namespace

CpuFeatures detectCpuFeatures() {
    CpuFeatures f;
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    // __get_cpuid also checks that CPUID exists at all (a 486 lacks it).
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return f;
    f.sse2 = (edx & bit_SSE2) != 0;
    const bool osxsave = (ecx & bit_OSXSAVE) != 0, avx = (ecx & bit_AVX) != 0;
    if (!osxsave || !avx || (readXcr0() & 6u) != 6u) return f;
    if (__get_cpuid_max(0, nullptr) < 7) return f;
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    f.avx2 = (ebx & bit_AVX2) != 0;
    return f;
}

#else

CpuFeatures detectCpuFeatures() { return CpuFeatures{}; }

#endif

}  // namespace jpg
