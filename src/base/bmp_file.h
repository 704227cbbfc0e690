// BMP files as the library writes and reads them.
//
// The library stores the top row of the picture first, although biHeight is
// positive: the import writes rows in decoding order, the export encodes the
// first stored row as the top row and the display draws it at y = 0.
#ifndef JPG_BASE_BMP_FILE_H
#define JPG_BASE_BMP_FILE_H

#include <cstdint>

#include "base/files.h"
#include "base/memory_blocks.h"
#include "base/result.h"

namespace jpg {

constexpr uint32_t kBmpFileHeaderBytes = 14;
constexpr uint32_t kBmpInfoHeaderBytes = 40;
// Longest info header accepted (BITMAPV5HEADER is 124 bytes).
constexpr uint32_t kBmpMaxInfoHeaderBytes = 1024;
// Largest colour table accepted.
constexpr uint32_t kBmpMaxColours = 256;

// Offsets of the info header fields.
namespace bmpinfo {
constexpr int kSize = 0, kWidth = 4, kHeight = 8, kPlanes = 12, kBitCount = 14, kCompression = 16,
              kSizeImage = 20, kXPelsPerMeter = 24, kYPelsPerMeter = 28, kClrUsed = 32, kClrImportant = 36;
}

// Row length in bytes of a row of `width` pixels at `bitCount` bits, rounded
// up to a multiple of 4; computed wide, so it never wraps.
constexpr uint64_t bmpStride(uint32_t bitCount, uint32_t width) {
    return ((static_cast<uint64_t>(bitCount) * width + 31) >> 3) & ~static_cast<uint64_t>(3);
}

// Fills the 14-byte file header: "BM", the file size, the offset of the rows.
void putBmpFileHeader(uint8_t *header, uint32_t fileSize, uint32_t pixelOffset);

// Fills a 40-byte BITMAPINFOHEADER of one plane, uncompressed rows and no
// resolution; fields not named are 0.
void putBmpInfoHeader(uint8_t *info, uint32_t width, uint32_t height, uint32_t bitCount, uint32_t sizeImage,
                      uint32_t clrUsed);

// Creates nothing: writes the file header, the 40-byte info header and, for
// grey images (colourMode 1), the 256-entry grey ramp to `file`, which is
// positioned at its start. `stride` receives the row length. Fields that a
// 32-bit BMP field cannot hold (the image and file sizes of images over
// 4 GB) are written as 0, which BMP readers take as "compute it". With
// `topDown` the height is stored negative: rows top first, the standard way.
Result writeBmpHeaders(const OpenFile &file, uint16_t width, uint16_t height, int32_t colourMode,
                       uint32_t &stride, bool topDown = false);

// What readBmpHeaders learns from a file.
struct BmpHeaders {
    uint8_t fileHeader[kBmpFileHeaderBytes] = {};
    uint32_t bfOffBits = 0;
    // The info header as stored (biSize bytes) followed, at offset biSize, by
    // the colour table (4 x clrUsed bytes).
    Block info;
    uint32_t infoSize = 0;   // biSize
    int32_t width = 0;       // biWidth
    int32_t height = 0;      // biHeight as stored (negative: top-down)
    uint32_t rows = 0;       // |biHeight|
    uint16_t bitCount = 0;
    uint32_t compression = 0;
    uint64_t stride = 0;     // row length in bytes
    uint64_t sizeImage = 0;  // biSizeImage, or stride x rows when the file gives 0
    uint32_t clrUsed = 0;    // biClrUsed, or the default colour count when 0
};

// Pixel value x of a row of 1-, 4- or 8-bit palette indexes; the leftmost
// pixel of a byte is in its high bits.
inline uint32_t bmpIndexAt(const uint8_t *row, uint32_t bitCount, uint32_t x) {
    switch (bitCount) {
        case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1u;
        case 4: return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15u;
        default: return row[x];
    }
}

// What the colour table of a 1-, 4- or 8-bit file holds: the grey ramp
// (entry i is i, i, i, however many entries there are), other grey levels
// only, or colours.
enum class ColourTableKind : uint8_t { GreyRamp, Grey, Colour };

// The colours that the pixel values of a 1-, 4- or 8-bit file name, as
// B, G, R; values beyond the table are black.
struct ColourTable {
    uint8_t bgr[256][3] = {};
    uint32_t entries = 0;  // those that a pixel value can name
    ColourTableKind kind = ColourTableKind::GreyRamp;
};

// The colour table of a file read by readBmpHeaders (bitCount 1, 4 or 8).
Result readColourTable(const BmpHeaders &headers, ColourTable &table);

// Looks `width` pixel values of a stored row up in `table`: one grey byte
// (the blue entry, all three being equal) or B, G, R per pixel.
void expandIndexedRow(const uint8_t *row, uint32_t bitCount, uint32_t width, const ColourTable &table, bool grey,
                      uint8_t *out);

// Reads the file header, the info header and the colour table from `file`,
// positioned at offset 0, or at `signatureBytes` when the caller has read
// that many bytes already into out.fileHeader. Afterwards the file is positioned right after the
// colour table. Results: NotFormat when the file does not start with "BM";
// Malformed when it ends inside the headers or gives a negative width;
// Unsupported for an info header shorter than 40 or longer than 1,024 bytes
// or a colour table of more than 256 entries; IoError, NoMemory.
Result readBmpHeaders(const OpenFile &file, BmpHeaders &out, uint32_t signatureBytes = 0);

}  // namespace jpg

#endif  // JPG_BASE_BMP_FILE_H
