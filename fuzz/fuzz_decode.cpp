// jpgReadInfo and jpgDecode on arbitrary bytes held in memory. The first
// byte chooses the settings: bits 0-2 the format (GREY to BGRA), bits 3-4
// the scale (1, 2, 4, 8), bit 5 the threads (1 or 2), bits 6-7 a limit on
// memory and scans (none, the defaults, tight). The picture is decoded into
// a block of exactly its size; the reference kernels must give the same
// status and bytes as the fast ones.
#include <cstring>
#include <vector>

#include "base/platform.h"
#include "fuzz_util.h"
#include "jpg_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const uint8_t choice = data[0];
    ++data;
    --size;
    if (fuzzutil::jpegPixels(data, size) > fuzzutil::kMaxDecodedPixels) return -1;
    JpgInfo info{};
    info.size = sizeof info;
    JpgError error;
    const int32_t read = jpgReadInfo(data, size, &info, &error);
    if (read != JPG_OK) {
        if (error.message[0] == '\0' || error.code != read) __builtin_trap();
        return 0;
    }
    JpgDecodeSettings settings;
    jpgDefaultDecodeSettings(&settings);
    settings.format = 1 + (choice & 7) % 5;
    settings.scale = 1 << ((choice >> 3) & 3);
    settings.threads = (choice & 32) != 0 ? 2 : 1;
    switch (choice >> 6) {
    case 0: settings.memoryLimit = 0, settings.maxScans = 0; break;
    case 2: settings.memoryLimit = 1 << 16, settings.maxScans = 4; break;
    default: break;
    }
    uint32_t width = 0, height = 0;
    if (jpgScaledSize(&info, settings.scale, &width, &height) != JPG_OK) __builtin_trap();
    const size_t bytes = settings.format == JPG_FORMAT_GREY ? 1 : settings.format >= JPG_FORMAT_RGBA ? 4 : 3;
    const size_t pitch = width * bytes;
    std::vector<uint8_t> fast(pitch * height + (height == 0 ? 1 : 0)), reference(fast.size());
    const int32_t status = jpgDecode(data, size, &settings, fast.data(), pitch, fast.size(), &error);
    if (status < JPG_ERR_NO_MEMORY || status > JPG_WARNING || error.code != status) __builtin_trap();
    if ((status == JPG_OK) != (error.message[0] == '\0')) __builtin_trap();
    if (!info.decodable && status >= JPG_OK) __builtin_trap();
    if (jpg::faults::heldBlocks() != 0 || jpg::faults::heldFiles() != 0) __builtin_trap();
    settings.kernels = JPG_KERNELS_REFERENCE;
    const int32_t again = jpgDecode(data, size, &settings, reference.data(), pitch, reference.size(), &error);
    if (again != status || (status >= JPG_OK && fast != reference)) __builtin_trap();
    return 0;
}
