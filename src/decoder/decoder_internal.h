// The decoder's stages and what they share beyond the DecoderState record.
//
// The record (jpg.h) keeps its 16-bit fields for the interface and holds what
// the headers say; sizes derived from a frame of up to 65,535 x 65,535 pixels
// do not fit in them, so the stages work from the wide layout in
// DecodeContext.
#ifndef JPG_DECODER_DECODER_INTERNAL_H
#define JPG_DECODER_DECODER_INTERNAL_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/bit_ops.h"
#include "base/call_options.h"
#include "base/files.h"
#include "base/result.h"
#include "base/scan_geometry.h"
#include "decoder/byte_source.h"
#include "decoder/decoder_state.h"
#include "decoder/row_sink.h"
#include "jpg.h"

namespace jpg {

constexpr uint32_t kInputChunkBytes = 32768;
// The most entropy-coded data and trailing bytes a file may hold after its
// headers: the record counts them in 32 bits.
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFu;
constexpr uint32_t kMaxScanComponents = 4;

// The colours of a decoded frame: one grey component, or three components
// that are Y, Cb, Cr (converted) or R, G, B (taken as they are).
enum class ColourSpace : uint8_t { Grey, YCbCr, Rgb };

// The conditioning of arithmetic-coded scans (DAC segments, ITU-T T.81
// B.2.4.3), per table number: the DC bounds L and U, the AC split Kx. The
// defaults hold until a DAC segment replaces them.
struct ArithmeticConditioning {
    uint8_t dcLower[4] = {0, 0, 0, 0};
    uint8_t dcUpper[4] = {1, 1, 1, 1};
    uint8_t acSplit[4] = {5, 5, 5, 5};
};

// What the marker parser learns beyond the record.
struct HeaderFacts {
    // Input. Off (the import): baseline and extended sequential Huffman
    // frames whose first scan carries every component, and the refusals and
    // reasons as they have always been. On: also progressive and
    // arithmetic-coded frames (C2, C9, CA) and a first scan of some of the
    // components, for the coefficient decoder (coefficient_decoder.h); DAC
    // segments are read, and the first scan header's place noted.
    bool acceptBuffered = false;
    // Frame component index of each scan component, in scan order.
    uint16_t order[kMaxScanComponents] = {};
    // Bit t set: a DQT, DC or AC table with number t was read.
    uint8_t quantDefined = 0;
    uint8_t dcDefined = 0;
    uint8_t acDefined = 0;
    // Marker code of the frame header in force (C0 or C1; with
    // acceptBuffered also C2, C9 or CA), 0 before one.
    uint8_t frameMarker = 0;
    // Marker code of the last frame header of a kind the decoder does not
    // handle (progressive, lossless, arithmetic-coded), 0 when none.
    uint8_t skippedFrameMarker = 0;
    // Transform flag of the last Adobe APP14 segment (0: R, G, B; 1: YCbCr;
    // 2: YCCK), -1 when the file has none.
    int16_t adobeTransform = -1;
    // How the components become colours, and why (set with an accepted scan).
    ColourSpace colourSpace = ColourSpace::Grey;
    const char *colourReason = nullptr;
    // Why the headers were refused, in plain words (null when accepted).
    const char *reason = nullptr;
    // With acceptBuffered: the DAC segments read so far, and, in a memory
    // source, the position just after the first scan's FF DA.
    ArithmeticConditioning conditioning;
    size_t firstScanAt = 0;
};

// ---- marker parser ------------------------------------------------------

// Everything a segment reader works with: the source (just after the marker
// code), the record, the scratch block (large enough for any segment body)
// and the parser's side information.
struct HeaderReader {
    ByteSource *source;
    DecoderState *state;
    uint8_t *scratch;
    HeaderFacts *facts;
};

constexpr uint32_t kScratchBytes = 65536;

// Reads marker segments from just after FF D8 up to and including the first
// scan header. Ok with the source positioned at the entropy-coded data;
// Malformed or Unsupported (facts.reason says why), IoError or NoMemory.
Result readHeaders(ByteSource &source, DecoderState *state, HeaderFacts &facts);

Result readFrameHeader(HeaderReader &r);
Result readHuffmanTables(HeaderReader &r);
Result readQuantTables(HeaderReader &r);
Result readScanHeader(HeaderReader &r);
Result readRestartInterval(HeaderReader &r);
Result readJfifHeader(HeaderReader &r);
Result readAdobeSegment(HeaderReader &r);
Result readConditioning(HeaderReader &r);
Result skipSegment(HeaderReader &r);

// Loads the standard table (loadStandardTable) into every DC (`dc`) and AC
// (`ac`) table that a component of the scan in the record selects and no
// DHT segment defined, and counts it as defined. NoMemory when a block
// cannot be locked.
Result loadMissingTables(DecoderState *state, HeaderFacts &facts, bool dc, bool ac);

// Fills a table block with a standard table of ITU-T T.81 Annex K: table 0
// is the luminance table (K.3 DC, K.5 AC), tables 1 to 3 the chrominance
// table (K.4 DC, K.6 AC).
void loadStandardTable(HuffmanTableBlock *block, bool ac, int number);

// ---- scan layout and entropy decoding -----------------------------------

// Sizes of one scan component, computed without wrapping.
struct ComponentLayout {
    uint32_t hSamp = 1, vSamp = 1;
    uint32_t mcuWidthBlocks = 1, mcuHeightBlocks = 1, mcuBlocks = 1;
    uint32_t sampleWidth = 0, sampleHeight = 0;
    uint32_t paddedWidth = 0, paddedHeight = 0;
    uint32_t dcSel = 0, acSel = 0, quantSel = 0;
};

// A decode table derived from a table block: the block's own arrays plus a
// lookahead table over the first kLookaheadBits bits of a code.
constexpr int kLookaheadBits = 9;
// The fast path also looks up a code together with its value bits.
constexpr int kCombinedBits = 10;
struct DecodeTable {
    const HuffmanTableBlock *block = nullptr;
    // Entry: code length in the high byte (0: longer than the lookahead),
    // symbol in the low byte.
    uint16_t fast[1 << kLookaheadBits] = {};
    // Over the next kCombinedBits bits, for codes whose value bits follow
    // within them (see buildCombined); filled by the fast path when it
    // starts, left unset otherwise.
    uint32_t combined[1 << kCombinedBits];
};

// The running decode of one scan: the record, the wide layout and the bit
// reader's working copies of the record's read position.
struct DecodeContext {
    DecoderState *state = nullptr;
    HeaderFacts headers;
    HFILE jpegFile = HFILE_ERROR;

    uint32_t scanComponents = 0;
    ComponentLayout comp[kMaxScanComponents];
    uint32_t maxH = 1, maxV = 1;
    uint32_t mcusPerRow = 0, mcuRows = 0, blocksPerMcu = 0;
    uint8_t mcuBlockComponent[kMaxBlocksPerMcu] = {};

    // The eight table blocks, locked for the scan (DC 0 to 3, AC 0 to 3).
    HuffmanTableBlock *dcBlocks[4] = {}, *acBlocks[4] = {};
    DecodeTable dcTable[4], acTable[4];

    // Input: the chunk in readBuffer, and the bit reader.
    uint8_t *readBuffer = nullptr;
    const uint8_t *readPtr = nullptr;
    const uint8_t *readEnd = nullptr;
    uint32_t bytesLeft = 0;
    uint16_t chunkSize = 0;
    bool endOfData = false;
    uint32_t bitBuffer = 0;
    int bitCount = 0;
    uint32_t restartsToGo = 0;
    int32_t dcPredictors[kMaxScanComponents] = {};

    // What is made: the picture 1 / 2^scaleLog2 the size, a colour file's
    // luma alone (see DecodeRequest).
    uint32_t scaleLog2 = 0;
    bool lumaOnly = false;

    // Where the MCU rows come from when the scans were decoded beforehand
    // (picture_from_coefficients.h), and how many were taken: null, the
    // entropy-coded data.
    const struct CoefficientBuffer *coefficients = nullptr;
    uint32_t loadedMcuRows = 0;

    bool combinedBuilt = false;  // the decode tables' combined lookups are filled
    bool damaged = false;    // the entropy-coded data was damaged or short
    bool pastEnd = false;    // the reader stepped past the last byte of the file
    bool readFailed = false; // a read reported an I/O failure
};

// readChunk: reads the next chunk of `file` into `buffer`. Ok when exactly
// chunkSize bytes were read; Damaged on a short read (chunkSize then holds the
// count read and endOfData is set); IoError when the read failed.
Result readChunk(HFILE file, uint16_t &chunkSize, uint32_t &bytesLeft, uint8_t *buffer, bool &endOfData);

// The sampling maxima, the scan components' sizes and tables, and the MCU
// grid, from the record and the parser's facts.
void layoutDecoderScan(DecodeContext &ctx);
// Builds the decode tables the scan selects and resets the predictions.
void startScan(DecodeContext &ctx);
// Reads the first chunk of entropy-coded data (the file is positioned at it,
// `bytesLeft` counts it and everything after it).
void startInput(DecodeContext &ctx, uint8_t *buffer);

// Derives minCode, maxCode and valueIndex of a table block.
void buildDecodeTable(HuffmanTableBlock *block);
// Builds the lookahead table of a derived block.
void buildLookahead(DecodeTable &table, const HuffmanTableBlock *block);
// Builds the combined lookup of a table with its lookahead built. A DC entry
// gives the bits to take (low byte) and the extended difference (high 16
// bits); an AC entry the bits to take, the run, end of block or sixteen
// zeros (second byte) and the extended coefficient. Codes that need more
// than kCombinedBits bits, or that no symbol answers, are left to the
// symbol-by-symbol path.
void buildCombined(DecodeTable &table, bool ac);
// The second byte's other values, each more than a run can be.
constexpr uint32_t kCombinedEob = 0x40;        // end of block
constexpr uint32_t kCombinedZeros = 0x50;      // sixteen zeros
constexpr uint32_t kCombinedElsewhere = 0xFF;  // not in this lookup

// The code at the top of the `width` bits `bits`, as the bit-serial search
// finds it: its length (0 when no code of `width` bits or less matches, or
// the table gives no symbol for it) and its symbol.
uint32_t matchCode(const HuffmanTableBlock *block, uint32_t bits, uint32_t width, uint8_t &symbol);

// The signed value of s (1 to 16) received bits.
inline int32_t extend(uint32_t v, uint32_t s) {
    const int32_t value = static_cast<int32_t>(v);
    return value >= (1 << (s - 1)) ? value : value - (1 << s) + 1;
}

// The wide readers' bulk step. With the next `count` bits (fewer than 56)
// at the top of `bits`, takes as many whole bytes of the eight at p as fit
// when none of the eight is FF (a stuffed byte or a marker's); false, and
// nothing taken, when one is.
inline bool fillWithoutFf(const uint8_t *&p, uint64_t &bits, int &count) {
    const uint64_t word = loadBigEndian64(p);
    if (hasFfByte(word)) return false;
    const int n = (63 - count) >> 3;
    bits |= (word >> (64 - 8 * n)) << (64 - 8 * n - count);
    count += 8 * n;
    p += n;
    return true;
}

// Decodes one symbol (the bit-serial search, or the lookahead where the bits
// are already at hand). Damaged data gives symbol 0 and sets ctx.damaged.
int decodeSymbol(DecodeContext &ctx, const DecodeTable &table);
// Decodes one MCU: blocksPerMcu blocks of 64 zigzag-order coefficients.
void decodeMcu(DecodeContext &ctx, int32_t *mcu);
void processRestart(DecodeContext &ctx);

// ---- coefficients and samples -------------------------------------------

// destination[Z(k)] = input[k] x table[k]. The decoder keeps every input
// within 32,767 and every table entry within 65,535, so no product wraps.
void dequantiseBlock(const int32_t *input, int32_t *destination, const int32_t *table);
// In-place integer inverse DCT, rows first, then columns.
void inverseDct(int32_t *block);
// The same transform computed in 64 bits, for coefficients large enough to
// overflow the 32-bit one (only damaged or hostile data has them).
void inverseDctWide(int32_t *block);

// The reduced transform (reduced_idct.h) of one natural-order block at
// 1/2^scaleLog2 of the size (scaleLog2 1, 2 or 3), level shift and clamp:
// 8 >> scaleLog2 rows of as many samples, `stride` apart. Computed in 64
// bits, it takes any coefficients; the block is left unchanged.
void reducedIdct(const int32_t *block, uint32_t scaleLog2, uint8_t *out, ptrdiff_t stride);

// One MCU row of coefficients (each scan component's coefficient row).
struct CoefficientRows {
    int32_t *rows[kMaxScanComponents] = {};
};

void decodeMcuRow(DecodeContext &ctx, CoefficientRows &coefficients);
void reconstructMcuRow(const DecodeContext &ctx, const CoefficientRows &coefficients, uint8_t *const *sampleRows,
                       uint32_t stripRow);

// The fast path notes what each block of a coefficient row holds, so that
// the transform can take the short way where it gives the same samples.
constexpr uint8_t kBlockDcOnly = 0;  // no AC coefficient was coded
constexpr uint8_t kBlockNarrow = 1;  // every coefficient within kNarrowLimit
constexpr uint8_t kBlockWide = 2;    // needs the 64-bit transform
struct BlockKinds {
    uint8_t *kinds[kMaxScanComponents] = {};  // one per block of each coefficient row
};

// decodeMcuRow for the fast path: each block is dequantised in natural order
// straight at its place, and its kind noted. The blocks must be all zero but
// the DC value (reconstructMcuRowFast leaves them so).
void decodeMcuRowDirect(DecodeContext &ctx, CoefficientRows &coefficients, BlockKinds &kinds);
struct DecoderKernels;
// The samples of the blocks [first, end) of one block row, with the given
// kernels: block j's 8 rows of 8 at out + 8 j, `stride` apart. The blocks
// are left all zero but the DC value.
void reconstructBlockRow(int32_t *row, const uint8_t *kind, const DecoderKernels &kernels, uint8_t *out,
                         ptrdiff_t stride, size_t first, size_t end);
// reconstructBlockRow at 1/2^scaleLog2 of the size (scaleLog2 0 to 3; 0 is
// reconstructBlockRow itself): block j's 8 >> scaleLog2 rows of as many
// samples at out + (8 >> scaleLog2) j, `stride` apart. The blocks are left
// the same way: all zero but the DC value.
void reconstructBlockRowReduced(int32_t *row, const uint8_t *kind, const DecoderKernels &kernels,
                                uint32_t scaleLog2, uint8_t *out, ptrdiff_t stride, size_t first, size_t end);
// reconstructMcuRow for the fast path, with the given kernels, of the MCU
// columns [firstMcu, endMcu) (in a one-component scan an MCU is one block).
// The blocks are left as decodeMcuRowDirect needs them: all zero but the DC
// value.
void reconstructMcuRowFast(const DecodeContext &ctx, CoefficientRows &coefficients, const BlockKinds &kinds,
                           const DecoderKernels &kernels, uint8_t *const *sampleRows, uint32_t stripRow,
                           uint32_t firstMcu, uint32_t endMcu);

// ---- upsampling and colour conversion -----------------------------------

void upsampleStrip(const DecodeContext &ctx, uint32_t planeStride, uint8_t *const *sampleRows, uint8_t *const *planes);
void copyRows(uint32_t rows, uint32_t length, uint32_t destStride, const uint8_t *src, uint8_t *dst);
void doubleRows(uint32_t rows, uint32_t length, uint32_t destStride, uint32_t vFactor, const uint8_t *src,
                uint8_t *dst);
void replicateRows(uint32_t rows, uint32_t length, uint32_t destStride, uint32_t hFactor, uint32_t vFactor,
                   const uint8_t *src, uint8_t *dst);
// Nearest-neighbour expansion for factors that do not divide the largest.
void nearestRows(uint32_t rows, uint32_t length, uint32_t destStride, uint32_t destRows, uint32_t destLength,
                 uint32_t h, uint32_t maxH, uint32_t v, uint32_t maxV, const uint8_t *src, uint8_t *dst);
// Converts `rows` plane rows into BMP rows (B, G, R or grey).
void convertStripRows(const DecodeContext &ctx, uint8_t *const *planes, uint8_t *out, uint32_t rows,
                      uint32_t stride, uint32_t planeStride);

// convertStripRows for the fast path: straight from the sample rows where
// upsampling would only replicate samples (Y whole, chroma whole or halved
// each way), else through the planes. It makes the pixels of the MCU
// columns [firstMcu, endMcu) alone, which need no other columns' samples:
// the whole row, or (where an MCU is split off) those of an interleaved
// scan, or of a one-component scan whose samples are the pixels. Row y goes
// to out + y x step (a negative step puts the rows bottom first).
void convertStripFast(const DecodeContext &ctx, const DecoderKernels &kernels, uint8_t *const *sampleRows,
                      uint8_t *const *planes, uint32_t planeStride, uint8_t *out, uint32_t rows, ptrdiff_t step,
                      uint32_t firstMcu, uint32_t endMcu);
// The pixel columns [first, end) that the MCU columns [firstMcu, endMcu)
// make (see convertStripFast), at the call's scale.
struct PixelColumns {
    uint32_t first = 0, end = 0;
};
PixelColumns pixelColumns(const DecodeContext &ctx, uint32_t firstMcu, uint32_t endMcu);

// The picture a decode makes: 1 / 2^scaleLog2 the frame's size, rounded up.
inline uint32_t outputWidth(const DecodeContext &ctx) {
    return (ctx.state->width + (1u << ctx.scaleLog2) - 1) >> ctx.scaleLog2;
}
inline uint32_t outputHeight(const DecodeContext &ctx) {
    return (ctx.state->height + (1u << ctx.scaleLog2) - 1) >> ctx.scaleLog2;
}

// A strip's MCU columns [firstMcu, endMcu) at 1/2, 1/4 or 1/8 of the size
// (reduced_strip.cpp): the blocks of its `mcuRows` MCU rows (`rows`, with
// their kinds) through the reduced transforms into the thread's own
// `sampleRows`, then `count` rows of pixels (native: B, G, R, or grey or
// luma) at out, out + step, ...; `scratch` holds three rows of the picture.
// The blocks are left as the transforms leave them.
void makeReducedStripColumns(const DecodeContext &ctx, const DecoderKernels &kernels, CoefficientRows *rows,
                             const BlockKinds *kinds, uint32_t mcuRows, uint8_t *const *sampleRows, uint8_t *scratch,
                             uint8_t *out, uint32_t count, ptrdiff_t step, uint32_t firstMcu, uint32_t endMcu);

// ---- the import -----------------------------------------------------------

// Opens a JPEG file and reads its headers up to the first scan, the checks
// the import makes before it writes anything: IoError when the file cannot be
// opened or read, NotFormat when it does not start with SOI, NoMemory, or the
// header parser's verdict. headers.reason says why whenever it is not Ok.
Result openJpeg(OpenFile &jpeg, const char *jpegPath, OwnedDecoderState &owned, HeaderFacts &headers);

// Where an import writes the picture: a file made at `path` (beside it, moved
// into place when complete), or, when `path` is null, the open `stream`,
// written from start to end and closed by the import (whatever its outcome). A BMP file's rows are
// in the call's row order: the library's, or bottom-up (top-down with a
// negative height on a stream).
struct ImportTarget {
    const char *path = nullptr;
    HFILE stream = HFILE_ERROR;
    PictureFormat format = PictureFormat::Bmp;
};

// The same checks of a JPEG file in memory: the source is left at the
// entropy-coded data (see readHeaders).
Result openJpegInMemory(const uint8_t *data, size_t size, ByteSource &source, OwnedDecoderState &owned,
                        HeaderFacts &headers);

// What an import reads: a file named by `path`, or, when it is null, the
// bytes [data, data + size).
struct JpegInput {
    const char *path = nullptr;
    const uint8_t *data = nullptr;
    size_t size = 0;
};

// The import of a JPEG file into a BMP or netpbm file: a JPG_IMPORT_* status,
// and, when nothing is written, why (`reason` may be null). With
// options.acceptBuffered a progressive, arithmetic-coded or multi-scan file
// is decoded too (a file named by path is then read whole).
int32_t importJpegFile(const JpegInput &input, const ImportTarget &target, const CallOptions &options,
                       Refusal *reason = nullptr);
// The same of a file named by path.
int32_t importJpegFile(const char *jpegPath, const ImportTarget &target, const CallOptions &options,
                       Refusal *reason = nullptr);
// The same into a BMP file named by path.
int32_t importJpegFile(const char *jpegPath, const char *bmpPath, const CallOptions &options);

// What a decode makes of the picture, beyond the per-call options.
struct DecodeRequest {
    CallOptions options;
    // The picture 1 / 2^scaleLog2 the size (0 to 3), by reduced transforms.
    uint32_t scaleLog2 = 0;
    // A colour file's luma alone, as one byte a pixel.
    bool lumaOnly = false;
};

// Decodes the scan, strip by strip, from `source` (positioned at the
// entropy-coded data) into `sink` (its headers written). Ok; Damaged when
// the data was damaged or not followed by FF D9 (the picture is complete
// all the same); IoError, WriteFailed, NoMemory.
Result decodeImage(ByteSource &source, const RowSink &sink, DecoderState *state, const HeaderFacts &headers,
                   const DecodeRequest &request);

}  // namespace jpg

#endif  // JPG_DECODER_DECODER_INTERNAL_H
