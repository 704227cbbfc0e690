// The encoder's state and the operations of its stages.
//
// One EncoderState belongs to one call of iExportJPG. The pipeline per strip
// of 8 source rows is: convertStripToPlanes -> padStripEdges ->
// downsampleStrip -> encodeMcuRow (transformBlock, gatherMcuDc, encodeMcu,
// putBits); finishScan closes the scan after the last strip.
#ifndef JPG_ENCODER_ENCODER_STATE_H
#define JPG_ENCODER_ENCODER_STATE_H

#include <cstdint>
#include <string>

#include "base/call_options.h"
#include "base/files.h"
#include "base/memory_blocks.h"
#include "base/result.h"
#include "base/scan_geometry.h"

namespace jpg {

// One Huffman code table: the BITS and HUFFVAL lists of ITU-T T.81 and the
// code and length of every symbol. 1,297 bytes, no padding.
#pragma pack(push, 1)
struct HuffmanCodeTable {
    uint8_t counts[17];    // counts[L]: codes of length L (1..16); counts[0] is 0
    uint8_t symbols[256];  // symbols in order of increasing code
    uint16_t codes[256];   // code of symbol v, right-aligned
    uint16_t lengths[256]; // its length in bits; 0 when v has no code
};
#pragma pack(pop)
static_assert(sizeof(HuffmanCodeTable) == 1297, "HuffmanCodeTable is 1297 bytes");

// One frame component. The fields of ComponentSpec, with the sample and
// padded sizes held in 32 bits: a 65,535-pixel line pads to 65,536.
struct EncoderComponent {
    uint16_t id;
    uint16_t hSamp;
    uint16_t vSamp;
    uint16_t quantSel;
    uint16_t dcSel;
    uint16_t acSel;
    uint16_t mcuWidthBlocks;
    uint16_t mcuHeightBlocks;
    uint16_t mcuBlocks;
    uint32_t sampleWidth;
    uint32_t sampleHeight;
    uint32_t paddedWidth;
    uint32_t paddedHeight;
};

constexpr uint32_t kMaxImageSide = 65535;
constexpr uint32_t kStripHeight = 8;         // one MCU row: every vSamp is 1
constexpr uint32_t kOutBufferBytes = 32768;  // entropy-coded bytes per file write

// Accumulated quantised DC values of the preview grid (see thumbnail_gather.cpp).
struct ThumbnailGather;

// The encoder's blocks, locked for the whole encode: the code tables of
// the two table slots it uses (0 luminance, 1 chrominance) and the output
// buffer.
struct EncoderBlocks {
    LockedBlock<HuffmanCodeTable> dc[2];
    LockedBlock<HuffmanCodeTable> ac[2];
    LockedBlock<uint8_t> out;
};

struct EncoderState {
    int32_t colourMode;  // 1 grey, 3 YCbCr
    EncoderComponent components[4];
    int32_t quantTables[4][64];  // divisors in zigzag order; 0 luminance, 1 chrominance
    EncoderBlocks blocks;
    HuffmanCodeTable *dcCodes[4];  // blocks.dc; slots 2 and 3 stay null
    HuffmanCodeTable *acCodes[4];
    uint8_t *outBuffer;  // blocks.out
    uint16_t frameComponents;
    uint16_t scanComponents;
    uint32_t width;
    uint32_t height;
    uint16_t maxH;
    uint16_t maxV;
    uint32_t mcusPerRow;
    uint32_t mcuRows;
    uint16_t blocksPerMcu;
    uint16_t mcuBlockComponent[kMaxBlocksPerMcu];
    uint32_t outCount;   // bytes waiting in outBuffer, 0..32768
    uint32_t bitBuffer;  // bits 23..16 hold the next byte to go out
    int32_t bitCount;    // bits pending, 0..7 between calls
    int32_t dcPredictors[4];
    HFILE jpegFile;      // where full output buffers go
    bool writeFailed;    // a write of the output buffer fell short
};

// ---- encoder_tables.cpp --------------------------------------------------

// The encoder's level for iExportJPG's compressionLevel: (compressionLevel +
// 2) x 6, in 16 bits as the exports take it (any value is taken).
constexpr uint16_t encoderLevel(int32_t compressionLevel) {
    return static_cast<uint16_t>((static_cast<uint16_t>(compressionLevel) + 2) * 6);
}

// Quantisation scale of a level: the integer part of pow(level, 0.6) + 0.5.
int32_t qualityScale(uint16_t level);
// The frame's components for colourMode 1 (one grey component) or 3 (Y, Cb,
// Cr at 4:2:2), their sample sizes and the scan's MCU geometry.
void setupComponents(EncoderState *state, int32_t colourMode);
void scaleQuantTables(EncoderState *state, uint16_t level);
void buildHuffmanCodes(HuffmanCodeTable *table);
void setupHuffmanTables(EncoderState *state);
// Makes the output buffer and the Huffman blocks and fills every table for
// an image of colourMode 1 (grey) or 3 (colour); width and height must be
// set. On failure the blocks made so far stay in the state until it goes or
// releaseEncoderTables frees them.
Result setupEncoderTables(EncoderState *state, uint16_t level, int32_t colourMode);
// Unlocks and frees what setupEncoderTables made; safe to call twice.
void releaseEncoderTables(EncoderState *state);

// ---- export_driver.cpp ---------------------------------------------------

// What an export reads beyond iExportJPG's BMP files named by path.
struct SourceOptions {
    bool netpbm = false;             // binary PPM and PGM files too, told by their signature
    bool stream = false;             // `streamFile` read from start to end instead of a path
    HFILE streamFile = HFILE_ERROR;  // closed by the export
    const TemporaryFileWatch *watch = nullptr;  // told of a stream's temporary copy
};

// The export of a BMP file to a JPEG file: JPG_EXPORT_OK or
// JPG_EXPORT_FAILED, the output path untouched on failure.
int32_t exportJpegFile(const char *bmpPath, const char *jpegPath, int32_t thumbnailLayout, int32_t compressionLevel,
                       const CallOptions &options);

// ---- header_writer.cpp ---------------------------------------------------

// Writes SOI, the reserved preview segment, JFIF, DQT, SOF0, DHT, the
// comment filler and SOS at the start of `jpegFile`.
Result writeHeaders(HFILE jpegFile, const EncoderState *state);

// ---- colour_convert.cpp --------------------------------------------------

// Source rows to full-resolution planes (rows paddedStripWidth apart).
// bytesPerPixel is 1 (grey), 3 (B, G, R) or 4 (B, G, R, unused).
void convertStripToPlanes(const EncoderState *state, const uint8_t *stripPixels, uint32_t rows,
                          uint32_t rowStride, uint32_t bytesPerPixel, uint8_t *const fullPlanes[]);
void padStripEdges(const EncoderState *state, uint32_t paddedStripWidth, uint32_t rows,
                   uint8_t *const fullPlanes[]);
void downsampleStrip(const EncoderState *state, uint32_t paddedStripWidth, const uint8_t *const fullPlanes[],
                     uint8_t *const componentPlanes[]);

// ---- forward_dct.cpp -----------------------------------------------------

void forwardDct(int32_t block[64]);
void transformBlock(const uint8_t *samples, int32_t coefficients[64], const int32_t quantTable[64],
                    uint32_t stride);

// ---- huffman_encoder.cpp -------------------------------------------------

// Codes one MCU row of the component planes (rows paddedWidth apart) and
// hands every MCU's quantised DC values to `gather` (may be null).
void encodeMcuRow(EncoderState *state, ThumbnailGather *gather, const uint8_t *const componentPlanes[]);
void encodeMcu(EncoderState *state, int32_t blocks[][64]);
void putBits(EncoderState *state, uint32_t value, int32_t count);
// Fill bits, the last buffer, EOI.
Result finishScan(EncoderState *state);

// The fast coder: a 64-bit bit buffer, emptied eight bytes at a time into a
// large output buffer. Its bytes are those of putBits and finishScan.
struct ScanWriter {
    uint64_t bits = 0;  // pending bits, right-aligned; bits above them are already out
    int32_t free = 64;  // bits still free in `bits`, 1..64
    uint8_t *buffer = nullptr;
    uint32_t used = 0;
    uint32_t capacity = 0;  // at least 16
    HFILE file = HFILE_ERROR;
    bool failed = false;  // a write fell short
};

// The codes of one component's DC and AC tables, code and length together.
struct BlockCodes {
    uint32_t dcCode[16];
    uint8_t dcLength[16];
    uint32_t acCode[256];
    uint8_t acLength[256];
};

void prepareBlockCodes(const HuffmanCodeTable &dc, const HuffmanCodeTable &ac, BlockCodes &codes);
// Codes one block of quantised coefficients in natural order, whose non-zero
// ones `nonzero` marks in zigzag order (bit k: the k-th in zigzag order);
// `predictor` is the component's previous DC value and receives this
// block's.
void encodeBlockFast(ScanWriter &writer, const BlockCodes &codes, const int16_t coefficients[64], uint64_t nonzero,
                     int32_t &predictor);
// Writes out the whole bytes the writer holds and its buffer.
void flushScanWriter(ScanWriter &writer);
// Fill bits, the buffer, EOI.
Result finishScanFast(ScanWriter &writer);

// ---- export_driver.cpp --------------------------------------------------

// iExportJPG with the call's options; `level` is the encoder's level,
// (compressionLevel + 2) x 6 in 16 bits. `refusal`, when given, receives why
// nothing was written.
Result exportJpeg(const char *sourcePath, const char *jpegPath, uint16_t layout, uint16_t level,
                  const CallOptions &options, const SourceOptions &sourceOptions = {}, Refusal *refusal = nullptr);

// ---- export_pipeline.cpp ------------------------------------------------

struct EncoderKernels;

// Where the strips come from: `read` fills `strip` with the next `rows`
// source rows, `rowStride` bytes apart.
struct StripSource {
    Result (*read)(void *context, uint8_t *strip, uint32_t rows);
    void *context;
    uint32_t rowStride;
    uint32_t bytesPerPixel;  // 1 grey; 3 B, G, R; 4 B, G, R, unused
};

// Codes every strip of the picture with `kernels` on `threads` threads (1 or
// 2) and closes the scan: the bytes of the reference strip loop and
// finishScan. The headers are written and the tables set up.
Result encodeScanFast(EncoderState *state, ThumbnailGather *gather, const StripSource &source,
                      const EncoderKernels &kernels, uint32_t threads);

// ---- thumbnail_gather.cpp ------------------------------------------------

// Bytes of the fixed-size gather record (allocate a zero-filled block).
uint32_t thumbnailGatherBytes();
// Prepares an all-zero record for the state's block grid.
void startThumbnailGather(ThumbnailGather *gather, const EncoderState *state);
// Adds the quantised DC values of the first blocks (up to 4) of MCU
// `mcuColumn` of the current MCU row.
void gatherMcuDc(ThumbnailGather *gather, uint32_t mcuColumn, const int32_t dc[4]);
// Moves on to the next MCU row.
void endGatherRow(ThumbnailGather *gather);
// The 9,600 preview samples (Y0, Y1, Cb, Cr per preview MCU) of a finished image.
void thumbnailSamples(const ThumbnailGather *gather, uint8_t *samples);

}  // namespace jpg

#endif  // JPG_ENCODER_ENCODER_STATE_H
