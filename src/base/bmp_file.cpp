
#include "base/bmp_file.h"

#include "base/bytes.h"

#include <cstring>

namespace jpg {

void putBmpFileHeader(uint8_t *header, uint32_t fileSize, uint32_t pixelOffset) {
    std::memset(header, 0, kBmpFileHeaderBytes);
    header[0] = 'B';
    header[1] = 'M';
    putLe32(header + 2, fileSize);
    putLe32(header + 10, pixelOffset);
}

void putBmpInfoHeader(uint8_t *info, uint32_t width, uint32_t height, uint32_t bitCount, uint32_t sizeImage,
                      uint32_t clrUsed) {
    using namespace bmpinfo;
    std::memset(info, 0, kBmpInfoHeaderBytes);
    putLe32(info + kSize, kBmpInfoHeaderBytes);
    putLe32(info + kWidth, width);
    putLe32(info + kHeight, height);
    putLe16(info + kPlanes, 1);
    putLe16(info + kBitCount, bitCount);
    putLe32(info + kSizeImage, sizeImage);
    putLe32(info + kClrUsed, clrUsed);
}

Result writeBmpHeaders(const OpenFile &file, uint16_t width, uint16_t height, int32_t colourMode,
                       uint32_t &stride, bool topDown) {
    const uint32_t bits = colourMode == 1 ? 8 : 24;
    const uint32_t colours = bits == 8 ? 256 : 0;
    const uint64_t wideStride = bmpStride(bits, width);
    const uint64_t sizeImage = wideStride * height;
    const uint32_t headerBytes = kBmpFileHeaderBytes + kBmpInfoHeaderBytes + 4 * colours;
    const uint64_t fileSize = headerBytes + sizeImage;
    const bool fits = fileSize <= 0xFFFFFFFFu;
    stride = static_cast<uint32_t>(wideStride);

    LockedBlock<uint8_t> info;
    if (!info.make(kBmpInfoHeaderBytes + 4 * colours)) return Result::NoMemory;
    const uint32_t storedHeight = topDown ? static_cast<uint32_t>(-static_cast<int32_t>(height)) : height;
    putBmpInfoHeader(info.get(), width, storedHeight, bits, fits ? static_cast<uint32_t>(sizeImage) : 0, colours);
    for (uint32_t i = 0; i < colours; ++i) {
        uint8_t *entry = info.get() + kBmpInfoHeaderBytes + 4 * i;
        entry[0] = entry[1] = entry[2] = static_cast<uint8_t>(i);
    }

    uint8_t header[kBmpFileHeaderBytes];
    putBmpFileHeader(header, fits ? static_cast<uint32_t>(fileSize) : 0, headerBytes);

    if (!file.writeAll(header, sizeof header) || !file.writeAll(info.get(), kBmpInfoHeaderBytes + 4 * colours))
        return Result::IoError;
    return Result::Ok;
}

Result readBmpHeaders(const OpenFile &file, BmpHeaders &out, uint32_t signatureBytes) {
    const UINT read = _lread(file.get(), out.fileHeader + signatureBytes, kBmpFileHeaderBytes - signatureBytes);
    if (read == HFILE_ERROR_COUNT) return Result::IoError;
    const UINT got = read + signatureBytes;
    if (got < 2 || out.fileHeader[0] != 'B' || out.fileHeader[1] != 'M') return Result::NotFormat;
    if (got != kBmpFileHeaderBytes) return Result::Malformed;
    out.bfOffBits = le32(out.fileHeader + 10);

    uint8_t head[kBmpInfoHeaderBytes];
    const UINT gotInfo = _lread(file.get(), head, kBmpInfoHeaderBytes);
    if (gotInfo == HFILE_ERROR_COUNT) return Result::IoError;
    if (gotInfo != kBmpInfoHeaderBytes) return Result::Malformed;

    using namespace bmpinfo;
    out.infoSize = le32(head + kSize);
    out.width = static_cast<int32_t>(le32(head + kWidth));
    out.height = static_cast<int32_t>(le32(head + kHeight));
    out.bitCount = le16(head + kBitCount);
    out.compression = le32(head + kCompression);
    if (out.infoSize < kBmpInfoHeaderBytes || out.infoSize > kBmpMaxInfoHeaderBytes) return Result::Unsupported;
    if (out.width < 0 || out.height == INT32_MIN) return Result::Malformed;
    out.rows = static_cast<uint32_t>(out.height < 0 ? -static_cast<int64_t>(out.height) : out.height);

    const uint32_t defaultColours = out.bitCount <= 8 ? (1u << out.bitCount) & 0xFFFFu : 0;
    out.stride = bmpStride(out.bitCount, static_cast<uint32_t>(out.width));
    out.sizeImage = le32(head + kSizeImage);
    if (out.sizeImage == 0) out.sizeImage = out.stride * out.rows;
    out.clrUsed = le32(head + kClrUsed);
    if (out.clrUsed == 0) out.clrUsed = defaultColours;
    if (out.clrUsed > kBmpMaxColours) return Result::Unsupported;

    if (!out.info.allocate(out.infoSize + 4 * out.clrUsed)) return Result::NoMemory;
    Locked<uint8_t> info(out.info.handle());
    if (!info) return Result::NoMemory;
    std::memcpy(info.get(), head, kBmpInfoHeaderBytes);
    // The rest of a longer info header, then the colour table right after it.
    const uint32_t rest = out.infoSize - kBmpInfoHeaderBytes + 4 * out.clrUsed;
    const UINT gotRest = rest == 0 ? 0 : _lread(file.get(), info.get() + kBmpInfoHeaderBytes, rest);
    if (gotRest == HFILE_ERROR_COUNT) return Result::IoError;
    if (gotRest != rest) return Result::Malformed;
    return Result::Ok;
}

Result readColourTable(const BmpHeaders &headers, ColourTable &table) {
    table = ColourTable{};
    const uint32_t nameable = headers.bitCount < 8 ? 1u << headers.bitCount : 256u;
    table.entries = headers.clrUsed < nameable ? headers.clrUsed : nameable;
    Locked<uint8_t> info(headers.info.handle());
    if (!info) return Result::NoMemory;
    const uint8_t *entry = info.get() + headers.infoSize;
    bool ramp = true, grey = true;
    for (uint32_t i = 0; i < table.entries; ++i, entry += 4) {
        std::memcpy(table.bgr[i], entry, 3);
        grey = grey && entry[0] == entry[1] && entry[1] == entry[2];
        ramp = ramp && grey && entry[0] == i;
    }
    table.kind = ramp ? ColourTableKind::GreyRamp : grey ? ColourTableKind::Grey : ColourTableKind::Colour;
    return Result::Ok;
}

namespace {

// One loop per depth and output, so that the index extraction is fixed.
template <uint32_t Bits, bool Grey>
void expandRow(const uint8_t *row, uint32_t width, const ColourTable &table, uint8_t *out) {
    for (uint32_t x = 0; x < width; ++x) {
        const uint8_t *colour = table.bgr[bmpIndexAt(row, Bits, x)];
        if (Grey) {
            out[x] = colour[0];
        } else {
            std::memcpy(out + 3 * size_t{x}, colour, 3);
        }
    }
}

template <bool Grey>
void expandRowOfDepth(const uint8_t *row, uint32_t bitCount, uint32_t width, const ColourTable &table,
                      uint8_t *out) {
    switch (bitCount) {
        case 1: return expandRow<1, Grey>(row, width, table, out);
        case 4: return expandRow<4, Grey>(row, width, table, out);
        default: return expandRow<8, Grey>(row, width, table, out);
    }
}

}  // namespace

void expandIndexedRow(const uint8_t *row, uint32_t bitCount, uint32_t width, const ColourTable &table, bool grey,
                      uint8_t *out) {
    if (grey)
        expandRowOfDepth<true>(row, bitCount, width, table, out);
    else
        expandRowOfDepth<false>(row, bitCount, width, table, out);
}

}  // namespace jpg
