// Runs the differential checks.
//   jpg_differential [--quick] DIRECTORY...
// DIRECTORY: corpora of input files (JPEG files are imported, BMP files
// exported). Exit status 0
// when every case agreed.
#include <cstdio>
#include <cstring>

#include "differential.h"
#include "base/call_options.h"

namespace differential {

void Tally::fail(const std::string &what) {
    ++failures;
    if (failures <= 50) std::fprintf(stderr, "MISMATCH %s\n", what.c_str());
}

std::vector<jpg::CallOptions> optionSets() {
    using jpg::KernelSet;
    std::vector<jpg::CallOptions> sets;
    for (KernelSet k : {KernelSet::Reference, KernelSet::Plain, KernelSet::Sse2, KernelSet::Avx2}) {
        if (!jpg::kernelSetAvailable(k)) continue;
        for (uint32_t threads : {1u, 2u}) sets.push_back(jpg::CallOptions{k, threads});
    }
    return sets;
}

std::string describe(const jpg::CallOptions &options) {
    return std::string(jpg::kernelSetName(options.kernels)) + "/" + std::to_string(options.threads);
}

}  // namespace differential

int main(int argc, char **argv) {
    differential::Scope scope = differential::Scope::Full;
    std::vector<std::string> directories;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            scope = differential::Scope::Quick;
        else
            directories.emplace_back(argv[i]);
    }
    std::string sets;
    for (const jpg::CallOptions &o : differential::optionSets()) sets += " " + differential::describe(o);
    std::printf("option sets:%s\n", sets.c_str());
    differential::Tally tally;
    differential::checkImports(directories, scope, tally);
    differential::checkExports(directories, scope, tally);
    std::printf("%d cases, %d mismatches\n", tally.cases, tally.failures);
    return tally.failures == 0 && tally.cases > 0 ? 0 : 1;
}
