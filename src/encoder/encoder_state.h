// The encoder's state and the operations of its stages.
//
// One EncoderState belongs to one encode (iExportJPG, jpgEncode). Rows come
// from a RowSource, bytes go to a ByteSink. The pipeline per strip of
// 8 x maxV source rows is: convertStripToPlanes -> padStripEdges ->
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
#include "encoder/byte_sink.h"

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
constexpr uint32_t kStripHeight = 8;         // rows of an MCU row when every vSamp is 1
constexpr uint32_t kMaxStripHeight = 16;     // of an MCU row of 4:2:0 (luma vSamp 2)
constexpr uint32_t kOutBufferBytes = 32768;  // entropy-coded bytes per sink write

// The encoder's level for iExportJPG's compressionLevel: (compressionLevel +
// 2) x 6, in 16 bits as the exports take it (any value is taken).
constexpr uint16_t encoderLevel(int32_t compressionLevel) {
    return static_cast<uint16_t>((static_cast<uint16_t>(compressionLevel) + 2) * 6);
}

// The component layouts an encode writes.
enum class Sampling : uint8_t {
    Grey,    // one component
    Ycc444,  // Y, Cb, Cr, all at full resolution
    Ycc422,  // chroma at half the width: the exports' colour layout
    Ycc420,  // chroma at half the width and half the height
};

// What an encode writes besides the pixels. The defaults are the exports'.
struct EncodeSettings {
    // The tables: cjpeg's scaling of the standard tables when quality is 1 to
    // 100, else the encoder's level ((compressionLevel + 2) x 6).
    int32_t quality = 0;
    uint16_t level = encoderLevel(3);
    Sampling sampling = Sampling::Ycc422;  // a grey source always gives Grey
    uint16_t restartInterval = 0;          // MCUs between restart markers, 0 none
    bool preview = true;                   // the preview segment right after SOI
    uint16_t previewLayout = 1;            // its layout tag, stored as iExportJPG stores it
    const uint8_t *icc = nullptr;          // an ICC profile for APP2 chunks, iccSize bytes
    uint32_t iccSize = 0;
    uint8_t densityUnits = 1;              // JFIF: 0 aspect ratio, 1 per inch, 2 per cm
    uint16_t densityX = 72;
    uint16_t densityY = 72;
    const uint8_t *comment = nullptr;      // a COM segment's text, commentSize bytes, or none
    uint32_t commentSize = 0;
};

// True when the settings' quality decides the tables, not the level.
inline bool scalesByQuality(const EncodeSettings &settings) {
    return settings.quality >= 1 && settings.quality <= 100;
}

// Most ICC profile bytes the APP2 chunks carry: 255 chunks of 65,519.
constexpr uint32_t kIccChunkBytes = 65519;
constexpr uint32_t kMaxIccBytes = 255 * kIccChunkBytes;
// Most bytes of a COM segment's text.
constexpr uint32_t kMaxCommentBytes = 65533;

// The exports' file: the level's tables, 4:2:2 colour or grey, the preview,
// and nothing added. Only it has the comment filler that puts a colour
// file's scan at offset 6,144.
bool isExportLayout(const EncodeSettings &settings);

// Accumulated DC values of the preview grid (see thumbnail_gather.cpp).
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
    uint16_t restartInterval;  // MCUs between restart markers, 0 none
    uint16_t restartsToGo;     // MCUs before the next restart marker
    uint8_t nextRestart;       // its number, 0..7
    ByteSink *sink;            // where the bytes go
};

// Source rows per MCU row: 8 x maxV.
inline uint32_t stripHeight(const EncoderState *state) { return 8u * state->maxV; }

// ---- encoder_tables.cpp --------------------------------------------------

// Quantisation scale of a level: the integer part of pow(level, 0.6) + 0.5.
int32_t qualityScale(uint16_t level);
// The frame's components for a sampling (Grey: colourMode 1, one component;
// else colourMode 3, Y, Cb, Cr), their sample sizes and the scan's MCU
// geometry.
void setupComponents(EncoderState *state, Sampling sampling);
void scaleQuantTables(EncoderState *state, uint16_t level);
// The standard tables scaled as cjpeg -quality scales them (quality 1-100).
void scaleQuantTablesToQuality(EncoderState *state, int32_t quality);
void buildHuffmanCodes(HuffmanCodeTable *table);
void setupHuffmanTables(EncoderState *state);
// Makes the output buffer and the Huffman blocks and fills every table for
// the settings' tables and sampling; width, height and sink must be set.
// On failure the blocks made so far stay in the state until it goes or
// releaseEncoderTables frees them.
Result setupEncoderTables(EncoderState *state, const EncodeSettings &settings);
// Unlocks and frees what setupEncoderTables made; safe to call twice.
void releaseEncoderTables(EncoderState *state);

// ---- row_source.h, picture_encoder.cpp ------------------------------------

struct RowSource;

// Encodes the picture `source` gives, width x height pixels (1 to 65,535 a
// side), into `sink`: headers, scan and preview. The reference strip loop
// or the fast pipeline as the options' kernel set says, on the threads they
// allow.
Result encodePicture(const RowSource &source, uint32_t width, uint32_t height, ByteSink &sink,
                     const EncodeSettings &settings, const CallOptions &options);

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

// iExportJPG with the call's options; `level` is the encoder's level,
// (compressionLevel + 2) x 6 in 16 bits. `refusal`, when given, receives why
// nothing was written.
Result exportJpeg(const char *sourcePath, const char *jpegPath, uint16_t layout, uint16_t level,
                  const CallOptions &options, const SourceOptions &sourceOptions = {}, Refusal *refusal = nullptr);

// ---- header_writer.cpp ---------------------------------------------------

// Writes everything from SOI through SOS: the reserved preview segment
// (when the settings ask for a preview), JFIF, the ICC profile's APP2
// chunks, the comment, DQT, the frame, DHT, DRI, the exports' comment
// filler and SOS (see header_writer.cpp for the order).
Result writeHeaders(ByteSink &sink, const EncoderState *state, const EncodeSettings &settings);

// ---- colour_convert.cpp --------------------------------------------------

// Source rows to full-resolution planes (rows paddedStripWidth apart).
// bytesPerPixel is 1 (grey), 3 (B, G, R, or R, G, B when redFirst) or 4
// (the same and an unused byte). A colour source of a grey encode gives its
// luma; `scratch` holds two rows of width bytes for its unused chroma.
void convertStripToPlanes(const EncoderState *state, const uint8_t *stripPixels, uint32_t rows, size_t rowStride,
                          uint32_t bytesPerPixel, bool redFirst, uint8_t *const fullPlanes[], uint8_t *scratch);
// Repeats the last column into the padding and the last row into the rows
// of a strip the picture does not fill.
void padStripEdges(const EncoderState *state, uint32_t paddedStripWidth, uint32_t rows,
                   uint8_t *const fullPlanes[]);
void downsampleStrip(const EncoderState *state, uint32_t paddedStripWidth, const uint8_t *const fullPlanes[],
                     uint8_t *const componentPlanes[]);

// ---- forward_dct.cpp -----------------------------------------------------

void forwardDct(int32_t block[64]);
void transformBlock(const uint8_t *samples, int32_t coefficients[64], const int32_t quantTable[64],
                    uint32_t stride);

// ---- huffman_encoder.cpp -------------------------------------------------

// Codes one MCU row of the component planes (rows paddedWidth apart),
// with a restart marker before every restartInterval-th MCU, and hands
// every MCU's quantised DC values to `gather` (may be null).
void encodeMcuRow(EncoderState *state, ThumbnailGather *gather, const uint8_t *const componentPlanes[]);
void encodeMcu(EncoderState *state, int32_t blocks[][64]);
void putBits(EncoderState *state, uint32_t value, int32_t count);
// Fill bits, the last buffer, EOI.
Result finishScan(EncoderState *state);

// The fast coder: a 64-bit bit buffer, emptied eight bytes at a time into
// the sink's window. Its bytes are those of putBits and finishScan.
struct ScanWriter {
    uint64_t bits = 0;  // pending bits, right-aligned; bits above them are already out
    int32_t free = 64;  // bits still free in `bits`, 1..64
    uint8_t *buffer = nullptr;  // the window
    uint32_t used = 0;
    uint32_t capacity = 0;  // at least 32
    ByteSink *sink = nullptr;
    bool raw = false;   // bits as they are, without stuffing: a part of a scan to be joined to another
    uint8_t spill[64];  // the window after the sink failed: its bytes are dropped
};

// Opens the writer's first window of `sink`.
void startScanWriter(ScanWriter &writer, ByteSink &sink);

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
// Completes the last byte with 1-bits and writes restart marker RSTn
// (n = 0..7); the caller resets the DC predictions.
void restartScanFast(ScanWriter &writer, uint32_t n);
// Fill bits, the buffer, EOI.
Result finishScanFast(ScanWriter &writer);

// Raw bits: the bits a raw writer has coded so far; its last bits written
// out (the last byte completed with zeros), and their number; and bits
// [from, to) of such bits, most significant first, coded by a writer as if
// it had coded them itself.
uint64_t rawBitsWritten(const ScanWriter &writer);
uint64_t finishRawScan(ScanWriter &writer);
void appendRawBits(ScanWriter &writer, const uint8_t *bits, uint64_t from, uint64_t to);

// ---- export_pipeline.cpp ------------------------------------------------

struct EncoderKernels;

// Codes every strip of the picture with `kernels` on `threads` threads (1 or
// 2) and closes the scan: the bytes of the reference strip loop and
// finishScan. The headers are written and the tables set up.
Result encodeScanFast(EncoderState *state, ThumbnailGather *gather, const RowSource &source,
                      const EncoderKernels &kernels, uint32_t threads);

// ---- thumbnail_gather.cpp ------------------------------------------------

// Bytes of the fixed-size gather record (allocate a zero-filled block).
uint32_t thumbnailGatherBytes();
// Prepares an all-zero record for the state's block grid. `blockMeans`:
// the preview shows each block's mean (its DC value times its divisor / 8)
// instead of the quantised DC value itself, as the exports do.
void startThumbnailGather(ThumbnailGather *gather, const EncoderState *state, bool blockMeans);
// Prepares an all-zero record to gather the MCU rows of the same picture as
// `like` from `firstRow` on.
void startThumbnailGatherLike(ThumbnailGather *gather, const ThumbnailGather *like, uint32_t firstRow);
// Adds what `from` gathered (other MCU rows of the same picture) to `into`.
void addThumbnailGather(ThumbnailGather *into, const ThumbnailGather *from);
// Adds the quantised DC values of the blocks of MCU `mcuColumn` of the
// current MCU row (blocksPerMcu of them, in MCU order).
void gatherMcuDc(ThumbnailGather *gather, uint32_t mcuColumn, const int32_t dc[]);
// Moves on to the next MCU row.
void endGatherRow(ThumbnailGather *gather);
// The 9,600 preview samples (Y0, Y1, Cb, Cr per preview MCU) of a finished image.
void thumbnailSamples(const ThumbnailGather *gather, uint8_t *samples);

}  // namespace jpg

#endif  // JPG_ENCODER_ENCODER_STATE_H
