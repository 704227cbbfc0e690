// jpgReadInfo, jpgReadIcc, jpgReadPreview and the scale helpers: what a JPEG
// file in memory holds, read without decoding it.
//
// A walk over the file's segments (and over the entropy-coded data between
// scans, to count them) gathers the frame, the restart interval, the Exif
// orientation, the ICC profile's chunks and this library's preview; the
// decoder's own header parser says whether jpgDecode takes the file.
#include <algorithm>
#include <cstring>
#include <vector>

#include "base/bytes.h"
#include "base/markers.h"
#include "codec/codec_common.h"
#include "codec/jpeg_headers.h"
#include "thumbnail/preview_layout.h"
#include "thumbnail/preview_reader.h"
#include "thumbnail/thumbnail_codec.h"

namespace jpg::codec {

namespace {

// An ICC profile's chunk: APP2 "ICC_PROFILE\0", its sequence number (1 to
// count) and its part of the profile.
struct IccChunk {
    uint32_t sequence = 0;
    const uint8_t *bytes = nullptr;
    size_t size = 0;
};

constexpr char kIccTag[] = "ICC_PROFILE";
constexpr size_t kIccHeaderBytes = sizeof kIccTag + 2;  // the tag, its NUL, sequence and count

struct Walk {
    bool frame = false;
    uint8_t frameMarker = 0;
    uint32_t width = 0, height = 0;
    int32_t components = 0;
    int32_t samplingH[4] = {}, samplingV[4] = {};
    uint32_t restartInterval = 0;
    bool restartSeen = false;
    int32_t orientation = 0;
    int32_t previewLayout = -1;
    uint32_t scans = 0;
    std::vector<IccChunk> icc;
    uint32_t iccCount = 0;  // chunks the profile says it has
};

// The orientation tag (0x0112) of an Exif segment's first directory, 0 when
// it has none.
int32_t exifOrientation(const uint8_t *p, size_t n) {
    if (n < 6 + 8 || std::memcmp(p, "Exif\0\0", 6) != 0) return 0;
    const uint8_t *tiff = p + 6;
    const size_t size = n - 6;
    const bool little = tiff[0] == 'I' && tiff[1] == 'I';
    if (!little && !(tiff[0] == 'M' && tiff[1] == 'M')) return 0;
    const auto u16 = [&](size_t at) -> uint32_t { return little ? le16(tiff + at) : be16(tiff + at); };
    const auto u32 = [&](size_t at) -> uint32_t {
        return little ? le32(tiff + at) : (uint32_t{be16(tiff + at)} << 16 | be16(tiff + at + 2));
    };
    const uint32_t directory = u32(4);
    if (directory > size - 2 || directory < 8) return 0;
    const uint32_t entries = u16(directory);
    for (uint32_t i = 0; i < entries; ++i) {
        const size_t at = directory + 2 + size_t{12} * i;
        if (at + 12 > size) return 0;
        if (u16(at) != 0x0112) continue;
        const uint32_t value = u16(at + 8);  // a SHORT, left-justified in the value field
        return u16(at + 2) == 3 && value >= 1 && value <= 8 ? static_cast<int32_t>(value) : 0;
    }
    return 0;
}

// Passes over a scan's entropy-coded data: `at` ends at the marker that
// follows it (or at the end).
size_t skipEntropyData(const uint8_t *data, size_t size, size_t at) {
    while (at + 1 < size) {
        if (data[at] != marker::kPrefix) {
            ++at;
            continue;
        }
        const uint8_t next = data[at + 1];
        if (next == marker::kStuffed || marker::isRestartMarker(next) || next == marker::kPrefix) {
            at += next == marker::kPrefix ? 1 : 2;
            continue;
        }
        return at;
    }
    return size;
}

void readFrame(Walk &w, uint8_t code, const uint8_t *body, size_t n) {
    if (w.frame || n < 6) return;
    w.frame = true;
    w.frameMarker = code;
    w.height = be16(body + 1);
    w.width = be16(body + 3);
    w.components = body[5];
    for (int32_t c = 0; c < w.components && c < 4 && 6 + 3 * size_t(c) + 2 <= n; ++c) {
        w.samplingH[c] = body[6 + 3 * c + 1] >> 4;
        w.samplingV[c] = body[6 + 3 * c + 1] & 15;
    }
}

// Walks the segments from SOI to EOI (or the end of the data).
Walk walkSegments(const uint8_t *data, size_t size) {
    Walk w;
    size_t at = 2;
    bool first = true;
    while (at + 4 <= size) {
        if (data[at] != marker::kPrefix) {
            ++at;  // stray bytes between segments are passed over, as decoders do
            continue;
        }
        const uint8_t code = data[at + 1];
        if (code == marker::kPrefix) {
            ++at;
            continue;
        }
        if (code == marker::kEoi) break;
        if (code == marker::kStuffed || marker::isRestartMarker(code) || code == marker::kTem) {
            at += 2;
            continue;
        }
        const size_t length = be16(data + at + 2);
        if (length < 2 || at + 2 + length > size) break;
        const uint8_t *body = data + at + 4;
        const size_t n = length - 2;
        if (marker::isFrameMarker(code)) {
            readFrame(w, code, body, n);
        } else if (code == marker::kDri && n >= 2 && !w.restartSeen && w.scans == 0) {
            w.restartInterval = be16(body);
        } else if (code == marker::kApp1) {
            if (first && at == 2 && size >= kPreviewBytesNeeded &&
                std::memcmp(data + kPreviewIdentifierOffset, kPreviewIdentifier, kPreviewIdentifierBytes) == 0)
                w.previewLayout = be16(data + kPreviewLayoutOffset);
            else if (w.orientation == 0)
                w.orientation = exifOrientation(body, n);
        } else if (code == marker::kApp2 && n > kIccHeaderBytes && std::memcmp(body, kIccTag, sizeof kIccTag) == 0) {
            w.icc.push_back({body[sizeof kIccTag], body + kIccHeaderBytes, n - kIccHeaderBytes});
            w.iccCount = std::max<uint32_t>(w.iccCount, body[sizeof kIccTag + 1]);
        }
        first = false;
        at += 2 + length;
        if (code == marker::kSos) {
            ++w.scans;
            at = skipEntropyData(data, size, at);
        }
    }
    return w;
}

// The profile's chunks in order, or none when some are missing or repeated.
std::vector<IccChunk> iccInOrder(const Walk &w) {
    std::vector<IccChunk> chunks = w.icc;
    std::sort(chunks.begin(), chunks.end(), [](const IccChunk &a, const IccChunk &b) { return a.sequence < b.sequence; });
    for (size_t i = 0; i < chunks.size(); ++i)
        if (chunks[i].sequence != i + 1 || chunks.size() != w.iccCount) return {};
    return chunks;
}

int32_t codingOf(uint8_t frameMarker) {
    switch (frameMarker) {
    case marker::kSof0: return JPG_CODING_BASELINE;
    case marker::kSof1: return JPG_CODING_EXTENDED;
    case marker::kSof2: return JPG_CODING_PROGRESSIVE;
    case marker::kSof3:
    case marker::kSof11: return JPG_CODING_LOSSLESS;
    case marker::kSof9: return JPG_CODING_ARITHMETIC;
    case marker::kSof10: return JPG_CODING_ARITHMETIC_PROGRESSIVE;
    default: return JPG_CODING_HIERARCHICAL;
    }
}

}  // namespace

}  // namespace jpg::codec

extern "C" {

JPG_CODEC_API int32_t jpgReadInfo(const void *jpeg, size_t size, JpgInfo *info, JpgError *error) {
    using namespace jpg;
    using namespace jpg::codec;
    try {
        JpgInfo out{};
        if (info == nullptr) return report(error, JPG_ERR_ARGUMENT, "a null pointer");
        if (!readRecord(info, out))
            return report(error, JPG_ERR_ARGUMENT, "the info record's size is not one this library knows");
        const uint32_t callersSize = info->size;
        if (jpeg == nullptr) return report(error, JPG_ERR_ARGUMENT, "a null pointer");
        const auto *data = static_cast<const uint8_t *>(jpeg);
        if (size < 2 || data[0] != marker::kPrefix || data[1] != marker::kSoi)
            return report(error, JPG_ERR_NOT_JPEG, "not a JPEG file");
        const Walk w = walkSegments(data, size);
        if (!w.frame) return report(error, JPG_ERR_MALFORMED, "the file has no frame header");
        out.width = w.width;
        out.height = w.height;
        out.components = w.components;
        out.coding = codingOf(w.frameMarker);
        for (int c = 0; c < 4; ++c) {
            out.samplingH[c] = w.samplingH[c];
            out.samplingV[c] = w.samplingV[c];
        }
        out.restartInterval = w.restartInterval;
        out.orientation = w.orientation;
        out.previewLayout = w.previewLayout;
        for (const IccChunk &chunk : iccInOrder(w)) out.iccSize += static_cast<uint32_t>(chunk.size);
        out.scans = w.scans;
        out.colourSpace = w.components == 1 ? JPG_COLOURS_GREY : w.components == 3 ? JPG_COLOURS_YCBCR : JPG_COLOURS_OTHER;

        // What the decoder makes of the headers.
        JpegHeaders headers;
        JpgError verdict{};
        const int32_t status = readJpegHeaders(jpeg, size, headers, &verdict);
        out.decodable = status == JPG_OK ? 1 : 0;
        if (status == JPG_OK && w.components == 3)
            out.colourSpace = headers.facts.colourSpace == ColourSpace::Rgb ? JPG_COLOURS_RGB : JPG_COLOURS_YCBCR;
        std::memcpy(info, &out, callersSize);
        info->size = callersSize;
        report(error, JPG_OK);
        // The reason jpgDecode would give, beside a successful call.
        if (status != JPG_OK && error != nullptr) *error = verdict;
        return JPG_OK;
    } catch (...) {
        return report(error, JPG_ERR_NO_MEMORY, "out of memory");
    }
}

JPG_CODEC_API int32_t jpgReadIcc(const void *jpeg, size_t size, void *profile, size_t profileSize, JpgError *error) {
    using namespace jpg;
    using namespace jpg::codec;
    try {
        if (jpeg == nullptr || profile == nullptr) return report(error, JPG_ERR_ARGUMENT, "a null pointer");
        const auto *data = static_cast<const uint8_t *>(jpeg);
        if (size < 2 || data[0] != marker::kPrefix || data[1] != marker::kSoi)
            return report(error, JPG_ERR_NOT_JPEG, "not a JPEG file");
        const std::vector<IccChunk> chunks = iccInOrder(walkSegments(data, size));
        size_t total = 0;
        for (const IccChunk &c : chunks) total += c.size;
        if (chunks.empty()) return report(error, JPG_ERR_ARGUMENT, "the file holds no ICC profile");
        if (profileSize < total)
            return report(error, JPG_ERR_ARGUMENT, "the profile needs " + std::to_string(total) + " bytes");
        auto *out = static_cast<uint8_t *>(profile);
        for (const IccChunk &c : chunks) out = static_cast<uint8_t *>(std::memcpy(out, c.bytes, c.size)) + c.size;
        return report(error, JPG_OK);
    } catch (...) {
        return report(error, JPG_ERR_NO_MEMORY, "out of memory");
    }
}

JPG_CODEC_API int32_t jpgReadPreview(const void *jpeg, size_t size, int32_t format, void *pixels, size_t pixelsSize,
                                     JpgError *error) {
    using namespace jpg;
    using namespace jpg::codec;
    try {
        const uint32_t bytes = bytesPerPixel(format);
        if (jpeg == nullptr || pixels == nullptr) return report(error, JPG_ERR_ARGUMENT, "a null pointer");
        if (bytes == 0) return report(error, JPG_ERR_ARGUMENT, "the pixel format is out of range");
        if (pixelsSize < size_t{JPG_PREVIEW_WIDTH} * JPG_PREVIEW_HEIGHT * bytes)
            return report(error, JPG_ERR_ARGUMENT, "the pixels' block is smaller than the preview");
        const auto *data = static_cast<const uint8_t *>(jpeg);
        if (size < 2 || data[0] != marker::kPrefix || data[1] != marker::kSoi)
            return report(error, JPG_ERR_NOT_JPEG, "not a JPEG file");
        if (size < kPreviewBytesNeeded || data[2] != marker::kPrefix || data[3] != marker::kApp1 ||
            std::memcmp(data + kPreviewIdentifierOffset, kPreviewIdentifier, kPreviewIdentifierBytes) != 0)
            return report(error, JPG_ERR_UNSUPPORTED, "the file has no preview segment of this library");
        std::vector<int8_t> samples(kThumbSampleBytes);
        std::vector<uint8_t> bgr(kPreviewPixelBytes);
        if (!previewPixels(data, samples.data(), bgr.data()))
            return report(error, JPG_ERR_UNSUPPORTED, "the preview's layout is not one this library knows");
        RowSink sink;
        startMemoryPicture(sink, static_cast<uint8_t *>(pixels), size_t{JPG_PREVIEW_WIDTH} * bytes, kPreviewWidth,
                           kPreviewHeight, 3, static_cast<PixelFormat>(format));
        sink.inPlace = false;
        writeArrangedRows(sink, bgr.data(), 0, kPreviewHeight);
        return report(error, JPG_OK);
    } catch (...) {
        return report(error, JPG_ERR_NO_MEMORY, "out of memory");
    }
}

JPG_CODEC_API int32_t jpgScaledSize(const JpgInfo *info, int32_t scale, uint32_t *width, uint32_t *height) {
    if (info == nullptr || width == nullptr || height == nullptr) return JPG_ERR_ARGUMENT;
    uint32_t log2 = 0;
    switch (scale) {
    case 1: log2 = 0; break;
    case 2: log2 = 1; break;
    case 4: log2 = 2; break;
    case 8: log2 = 3; break;
    default: return JPG_ERR_ARGUMENT;
    }
    *width = jpg::codec::scaledSide(info->width, log2);
    *height = jpg::codec::scaledSide(info->height, log2);
    return JPG_OK;
}

JPG_CODEC_API int32_t jpgScaleFor(const JpgInfo *info, uint32_t minWidth, uint32_t minHeight) {
    if (info == nullptr) return 1;
    for (uint32_t log2 = 3; log2 > 0; --log2)
        if (jpg::codec::scaledSide(info->width, log2) >= minWidth && jpg::codec::scaledSide(info->height, log2) >= minHeight)
            return 1 << log2;
    return 1;
}

}  // extern "C"
