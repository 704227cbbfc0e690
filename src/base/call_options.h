// Per-call options of the codec: which kernel set computes the pixels and
// how many threads a call may use. The exports pass the defaults (auto and
// auto); the tool interface lets its callers choose. There is no global
// switch and no environment variable: every call says what it wants.
#ifndef JPG_BASE_CALL_OPTIONS_H
#define JPG_BASE_CALL_OPTIONS_H

#include <cstdint>

#include "base/files.h"

namespace jpg {

// Every kernel set produces the same bytes; they differ in speed only.
enum class KernelSet : uint8_t {
    Reference,  // the original scalar code, kept as the yardstick
    Plain,      // the fast path without SIMD instructions
    Sse2,       // the fast path with SSE2 kernels
    Avx2,       // the fast path with AVX2 kernels (SSE2 where AVX2 has none)
    Auto,       // the best set the processor runs
};

// The row order of BMP files.
enum class RowOrder : uint8_t {
    TopFirst,  // the library's own (the exports'): the first stored row is the top, the height positive
    Standard,  // other programs': written bottom-up (top-down, negative height, on a stream), read as
               // the height declares
};

struct CallOptions {
    KernelSet kernels = KernelSet::Auto;
    // 1: everything on the caller's thread; 0: as many as help (auto).
    uint32_t threads = 0;
    RowOrder rowOrder = RowOrder::TopFirst;
    FileOptions files = {};
    // Imports: progressive, arithmetic-coded and multi-scan files too,
    // through the coefficient buffer. The exports leave it off: iImportJPG
    // refuses them as it always has.
    bool acceptBuffered = false;
};

// The set a call runs with: Auto becomes the best set the processor runs,
// and a set it cannot run falls back to the best one below it.
KernelSet resolveKernels(KernelSet requested);
// The table of kernels a call runs with, of those a stage has: null for the
// reference set (the stage's original code), the plain table where the set
// resolves to one the stage has no table for (null sse2 and avx2 off x86).
template <typename Kernels>
const Kernels *chooseKernels(KernelSet requested, const Kernels *plain, const Kernels *sse2, const Kernels *avx2) {
    switch (resolveKernels(requested)) {
    case KernelSet::Reference: return nullptr;
    case KernelSet::Sse2: return sse2 != nullptr ? sse2 : plain;
    case KernelSet::Avx2: return avx2 != nullptr ? avx2 : plain;
    default: return plain;
    }
}
// True when the processor runs the set (Reference, Plain and Auto always).
bool kernelSetAvailable(KernelSet set);
// The threads a call uses for `pixels` pixels: 1 or 2. Auto uses a second
// thread on a machine of more than one processor for pictures of about a
// megapixel or more.
uint32_t resolveThreads(const CallOptions &options, uint64_t pixels);

// Names as the tool takes them: reference, plain, sse2, avx2, auto.
const char *kernelSetName(KernelSet set);
// False when `name` names no set.
bool parseKernelSet(const char *name, KernelSet &set);

}  // namespace jpg

#endif  // JPG_BASE_CALL_OPTIONS_H
