// Runs the differential checks.
//   jpg_differential [--quick] [--write-digests FILE | --check-digests FILE] DIRECTORY...
// DIRECTORY: corpora of input files (JPEG files are imported, BMP files
// exported). --write-digests keeps a digest of every case's reference
// outcome; --check-digests compares this run's with those another run wrote
// (on another architecture: the same bytes everywhere). Exit status 0 when
// every case agreed.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "differential.h"
#include "base/call_options.h"

namespace differential {

void Tally::fail(const std::string &what) {
    ++failures;
    if (failures <= 50) std::fprintf(stderr, "MISMATCH %s\n", what.c_str());
}

void Tally::note(const std::string &label, int32_t status, const std::vector<uint8_t> &bytes) {
    // FNV-1a over the status and the bytes.
    uint64_t h = 0xCBF29CE484222325u;
    const auto mix = [&h](uint8_t b) { h = (h ^ b) * 0x100000001B3u; };
    for (int i = 0; i < 4; ++i) mix(static_cast<uint8_t>(static_cast<uint32_t>(status) >> (8 * i)));
    for (const uint8_t b : bytes) mix(b);
    digests[label] = h;
}

namespace {

bool writeDigests(const std::string &path, const Tally &tally) {
    std::ofstream out(path);
    for (const auto &d : tally.digests) out << std::hex << d.second << std::dec << ' ' << d.first << '\n';
    return static_cast<bool>(out);
}

// Compares this run's digests with a file's: each label found must agree.
bool checkDigests(const std::string &path, Tally &tally) {
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "%s: cannot be read\n", path.c_str());
        return false;
    }
    std::map<std::string, uint64_t> theirs;
    std::string line;
    while (std::getline(in, line)) {
        const size_t space = line.find(' ');
        if (space != std::string::npos) theirs[line.substr(space + 1)] = std::stoull(line.substr(0, space), nullptr, 16);
    }
    int agree = 0, differ = 0, absent = 0;
    for (const auto &d : tally.digests) {
        const auto found = theirs.find(d.first);
        if (found == theirs.end()) {
            ++absent;
        } else if (found->second == d.second) {
            ++agree;
        } else {
            ++differ;
            tally.fail(d.first + ": not the bytes of " + path);
        }
    }
    std::printf("digests: %d cases the same as in %s, %d different, %d not there\n", agree, path.c_str(), differ,
                absent);
    return differ == 0 && absent == 0 && agree > 0;
}

}  // namespace

std::vector<std::string> corpusFiles(const std::vector<std::string> &directories) {
    std::vector<std::string> all;
    for (const std::string &d : directories) {
        std::error_code ec;
        std::vector<std::filesystem::path> files;
        for (const auto &e : std::filesystem::recursive_directory_iterator(d, ec))
            if (e.is_regular_file()) files.push_back(e.path());
        std::sort(files.begin(), files.end());
        for (const auto &f : files) all.push_back(f.string());
    }
    return all;
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
    std::string writeTo, checkWith;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            scope = differential::Scope::Quick;
        else if (std::strcmp(argv[i], "--write-digests") == 0 && i + 1 < argc)
            writeTo = argv[++i];
        else if (std::strcmp(argv[i], "--check-digests") == 0 && i + 1 < argc)
            checkWith = argv[++i];
        else
            directories.emplace_back(argv[i]);
    }
    std::string sets;
    for (const jpg::CallOptions &o : differential::optionSets()) sets += " " + differential::describe(o);
    std::printf("option sets:%s\n", sets.c_str());
    differential::Tally tally;
    // Each part's count on a line of its own, for the logs.
    const auto part = [&](const char *name, auto check) {
        const int before = tally.cases, failedBefore = tally.failures;
        check();
        std::printf("  %s: %d cases, %d mismatches\n", name, tally.cases - before, tally.failures - failedBefore);
    };
    part("imports (every option set) and codec decodes equal to them", [&] {
        differential::checkImports(directories, scope, tally);
    });
    part("exports (every option set)", [&] { differential::checkExports(directories, scope, tally); });
    part("codec encodes equal to the exports and across option sets", [&] {
        differential::checkEncodes(directories, scope, tally);
    });
    part("transcodings equal to their baseline original", [&] { differential::checkTranscodings(scope, tally); });
    std::printf("%d cases, %d mismatches\n", tally.cases, tally.failures);
    bool ok = tally.failures == 0 && tally.cases > 0;
    if (!writeTo.empty() && !differential::writeDigests(writeTo, tally)) {
        std::fprintf(stderr, "%s: cannot be written\n", writeTo.c_str());
        ok = false;
    }
    if (!checkWith.empty()) ok = differential::checkDigests(checkWith, tally) && ok;
    return ok ? 0 : 1;
}
