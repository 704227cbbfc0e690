// Shared by the fuzz targets: the exports take paths, so each input is
// written to a scratch file in memory-backed storage first.
#ifndef JPG_FUZZ_UTIL_H
#define JPG_FUZZ_UTIL_H

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/call_options.h"
#include "base/markers.h"

namespace fuzzutil {

// The scratch files of this process, removed when it exits (libFuzzer ends
// a run of -runs inputs or -max_total_time with exit).
inline std::vector<std::string> &scratchPaths() {
    static std::vector<std::string> paths;
    return paths;
}

inline void removeScratchFiles() {
    for (const std::string &path : scratchPaths()) std::remove(path.c_str());
}

inline std::string scratchPath(const char *name) {
    static const std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    // The list exists before the handler is registered, so that it is
    // destroyed after the handler has run.
    static const bool registered = (scratchPaths(), std::atexit(removeScratchFiles) == 0);
    (void)registered;
    std::string path = dir + "/jpgfuzz-" + std::to_string(getpid()) + "-" + name;
    scratchPaths().push_back(path);
    return path;
}

inline bool writeScratch(const std::string &path, const uint8_t *data, size_t size) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// The whole content of a file (empty when it cannot be read).
inline std::vector<uint8_t> readScratch(const std::string &path) {
    std::vector<uint8_t> bytes;
    if (FILE *f = std::fopen(path.c_str(), "rb")) {
        uint8_t chunk[65536];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
        std::fclose(f);
    }
    return bytes;
}

// Options of a fast path from one input byte: bits 0-1 choose the kernel set
// (plain, sse2, avx2, auto), bit 2 the thread count (1 or 2).
inline jpg::CallOptions fastOptions(uint8_t byte) {
    static constexpr jpg::KernelSet kSets[] = {jpg::KernelSet::Plain, jpg::KernelSet::Sse2, jpg::KernelSet::Avx2,
                                               jpg::KernelSet::Auto};
    return jpg::CallOptions{kSets[byte & 3], (byte & 4) != 0 ? 2u : 1u};
}

// Images past this many pixels take too long per input to be worth fuzzing;
// they exercise the same code as smaller ones.
constexpr uint64_t kMaxPixels = 1u << 20;
// Decoding writes a BMP file per input, so its limit is lower still.
constexpr uint64_t kMaxDecodedPixels = 1u << 16;

inline uint32_t le32(const uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

// Pixels a BMP header claims (0 when the header is too short to say).
inline uint64_t bmpPixels(const uint8_t *data, size_t size) {
    if (size < 26) return 0;
    const int32_t w = static_cast<int32_t>(le32(data + 18));
    const int32_t h = static_cast<int32_t>(le32(data + 22));
    return uint64_t(w < 0 ? -int64_t(w) : w) * uint64_t(h < 0 ? -int64_t(h) : h);
}

// Largest number of pixels any frame header in the data claims.
inline uint64_t jpegPixels(const uint8_t *data, size_t size) {
    uint64_t most = 0;
    for (size_t i = 0; i + 9 <= size; ++i) {
        if (data[i] == jpg::marker::kPrefix && jpg::marker::isFrameMarker(data[i + 1])) {
            const uint64_t y = data[i + 5] << 8 | data[i + 6];
            const uint64_t x = data[i + 7] << 8 | data[i + 8];
            if (x * y > most) most = x * y;
        }
    }
    return most;
}

}  // namespace fuzzutil

#endif
