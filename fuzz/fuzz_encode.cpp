// jpgEncode on random sizes, pitches and settings. The first 12 bytes
// choose them (out of range now and then), the rest are the pixels, repeated
// to fill rows that end exactly where the pixels end. The status must be the
// one the settings call for; a file must start with SOI and end with EOI,
// and be the very bytes of the reference kernels on one thread; nothing may
// stay held.
#include <cstring>
#include <vector>

#include "base/platform.h"
#include "fuzz_util.h"
#include "jpg_codec.h"

namespace {

uint32_t le16(const uint8_t *p) { return p[0] | p[1] << 8; }

struct Result {
    int32_t status;
    std::vector<uint8_t> jpeg;
};

Result encode(const std::vector<uint8_t> &pixels, uint32_t width, uint32_t height, size_t pitch,
              const JpgEncodeSettings &settings) {
    void *jpeg = reinterpret_cast<void *>(1);
    size_t size = 1;
    JpgError error;
    Result r;
    r.status = jpgEncode(pixels.data(), width, height, pitch, &settings, &jpeg, &size, &error);
    if (error.code != r.status || (r.status == JPG_OK) != (error.message[0] == '\0')) __builtin_trap();
    if ((r.status == JPG_OK) != (jpeg != nullptr) || (r.status != JPG_OK && size != 0)) __builtin_trap();
    if (jpeg != nullptr) r.jpeg.assign(static_cast<uint8_t *>(jpeg), static_cast<uint8_t *>(jpeg) + size);
    jpgFree(jpeg);
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 12) return 0;
    const uint8_t *c = data;
    data += 12;
    size -= 12;
    const uint32_t width = 1 + le16(c + 5) % 2048, height = 1 + le16(c + 7) % 2048;
    if (uint64_t{width} * height > fuzzutil::kMaxPixels / 4) return -1;

    JpgEncodeSettings s;
    jpgDefaultEncodeSettings(&s);
    s.format = c[0] % 6;  // 0: out of range
    s.sampling = c[1] % 6;  // 0 and 5: out of range
    s.useLevel = (c[1] >> 3) % 3 == 0 ? 1 : (c[1] >> 3) % 11 == 1 ? 2 : 0;
    s.quality = c[2] % 103;  // 0, 101 and 102: out of range unless the level decides
    s.level = static_cast<int8_t>(c[2]);
    s.restartInterval = c[3] % 4 == 0 ? c[3] >> 2 : c[3] == 0xFF ? 70000 : 0;
    s.preview = (c[4] & 1) != 0;
    s.previewLayout = (c[4] >> 1) & 3;
    s.threads = (c[4] >> 3) & 3;
    s.kernels = (c[4] >> 5) % 6;  // 5: out of range
    const size_t bytes = s.format == JPG_FORMAT_GREY ? 1 : s.format <= JPG_FORMAT_BGR ? 3 : 4;
    size_t pitch = width * bytes + c[9] % 17;
    if (c[9] == 0xFF) pitch = width * bytes - 1;  // too small
    const bool older = c[10] % 8 == 0;
    if (older) s.size = c[10] % 112;
    s.densityUnits = (c[11] >> 2) & 3;  // 3: out of range
    s.densityX = (c[11] & 0x40) != 0 ? 0 : 300;
    std::vector<char> comment;
    if (c[11] & 1) {
        comment.assign(data, data + (size < 300 ? size : 300));
        comment.push_back('\0');
        s.comment = comment.data();
    }
    if (c[11] & 2) {
        s.icc = data;
        s.iccSize = static_cast<uint32_t>(size);
    }

    // Exactly the pixels the call may read.
    std::vector<uint8_t> pixels(pitch * (height - 1) + width * bytes);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = size != 0 ? data[i % size] : static_cast<uint8_t>(i);

    // What the settings call for, as far as a shorter record reaches.
    JpgEncodeSettings read;
    jpgDefaultEncodeSettings(&read);
    const bool sizeOk = !older || (s.size >= 4 && s.size <= sizeof s);
    if (sizeOk) std::memcpy(&read, &s, older ? s.size : sizeof s);
    const bool valid = sizeOk && read.format >= 1 && read.format <= 5 && read.sampling >= 1 && read.sampling <= 4 &&
                       (read.useLevel == 1 || (read.useLevel == 0 && read.quality >= 1 && read.quality <= 100)) &&
                       read.restartInterval <= 65535 && read.kernels <= 4 && read.densityUnits <= 2 &&
                       read.densityX != 0 && read.densityY != 0 && (read.iccSize == 0 || read.icc != nullptr) &&
                       pitch >= width * (read.format == JPG_FORMAT_GREY ? 1 : read.format <= JPG_FORMAT_BGR ? 3 : 4);
    if (!valid || read.format != s.format) {
        // Another format reads other pixels: only the status is known.
        const int32_t status = encode(pixels, width, height, pitch, s).status;
        if (valid ? status != JPG_OK : status != JPG_ERR_ARGUMENT) __builtin_trap();
    } else {
        const Result fast = encode(pixels, width, height, pitch, s);
        if (fast.status != JPG_OK || fast.jpeg.size() < 4 || fast.jpeg[0] != 0xFF || fast.jpeg[1] != 0xD8 ||
            fast.jpeg[fast.jpeg.size() - 2] != 0xFF || fast.jpeg.back() != 0xD9)
            __builtin_trap();
        JpgEncodeSettings reference = s;
        reference.kernels = JPG_KERNELS_REFERENCE;
        reference.threads = 1;
        if (!older && encode(pixels, width, height, pitch, reference).jpeg != fast.jpeg) __builtin_trap();
    }
    if (jpg::faults::heldBlocks() != 0) __builtin_trap();
    return 0;
}
