// iImportJPG and its scan loop: headers, BMP headers, then strip by strip
// decoding, upsampling, conversion and writing, and the end-of-image test.
#include <algorithm>
#include <cstring>

#include "decoder/decoder_internal.h"
#include "frame/bmp_file.h"

namespace jpg {

namespace {

// Locks the eight table blocks for one scan.
class TableLocks {
public:
    TableLocks(DecoderState *state, DecodeContext &ctx) : state_(state) {
        for (int t = 0; t < 4; ++t) {
            ctx.dcBlocks[t] = static_cast<HuffmanTableBlock *>(GlobalLock(state->dcTables[t]));
            ctx.acBlocks[t] = static_cast<HuffmanTableBlock *>(GlobalLock(state->acTables[t]));
            ok_ = ok_ && ctx.dcBlocks[t] != nullptr && ctx.acBlocks[t] != nullptr;
            dc_[t] = ctx.dcBlocks[t] != nullptr;
            ac_[t] = ctx.acBlocks[t] != nullptr;
        }
    }
    ~TableLocks() {
        for (int t = 0; t < 4; ++t) {
            if (ac_[t]) GlobalUnlock(state_->acTables[t]);
            if (dc_[t]) GlobalUnlock(state_->dcTables[t]);
        }
    }
    TableLocks(const TableLocks &) = delete;
    TableLocks &operator=(const TableLocks &) = delete;
    bool ok() const { return ok_; }

private:
    DecoderState *state_;
    bool ok_ = true;
    bool dc_[4] = {}, ac_[4] = {};
};

// A zero-filled block locked for the whole scan.
struct Buffer {
    Block block;
    uint8_t *data = nullptr;
    ~Buffer() {
        if (data != nullptr) GlobalUnlock(block.handle());
    }
    bool make(std::initializer_list<uint64_t> factors) {
        uint32_t bytes = 0;
        if (!checkedProduct(factors, bytes) || !block.allocate(bytes)) return false;
        data = static_cast<uint8_t *>(GlobalLock(block.handle()));
        return data != nullptr;
    }
};

// True when the two bytes that follow the last MCU in the file are FF D9,
// wherever they lie: in the current chunk, across its end, or beyond it.
bool endMarkerFollows(DecodeContext &ctx) {
    if (ctx.pastEnd) return false;
    uint8_t bytes[2];
    uint32_t have = 0;
    for (const uint8_t *p = ctx.readPtr; p < ctx.readEnd && have < 2; ++p) bytes[have++] = *p;
    if (have < 2 && !ctx.endOfData) {
        const UINT need = 2 - have;
        const UINT got = _lread(ctx.jpegFile, bytes + have, need);
        if (got == HFILE_ERROR_COUNT) {
            ctx.readFailed = true;
            return false;
        }
        have += got;
    }
    return have == 2 && bytes[0] == 0xFF && bytes[1] == 0xD9;
}

}  // namespace

Result decodeImage(HFILE jpegFile, HFILE bmpFile, DecoderState *state, const ScanInfo &info, uint32_t stride) {
    DecodeContext ctx;
    ctx.state = state;
    ctx.info = info;
    ctx.jpegFile = jpegFile;
    TableLocks locks(state, ctx);
    if (!locks.ok()) return Result::NoMemory;

    computeFrameLayout(ctx);
    startScan(ctx);
    setupScanLayout(ctx);
    const uint32_t blockRowsPerStrip = ctx.scanComponents == 1 ? ctx.comp[0].vSamp : 1;
    const uint32_t stripHeight = 8 * ctx.maxV;
    const uint32_t planeStride = roundUpWide(state->width, 8 * ctx.maxH);

    Buffer coefficientRows[kMaxScanComponents], sampleRows[kMaxScanComponents], planes[kMaxScanComponents];
    // A coefficient row holds the block rows of one MCU row: vSamp of them in
    // an interleaved scan, one in a one-component scan.
    for (uint32_t c = 0; c < ctx.scanComponents; ++c)
        if (!coefficientRows[c].make({ctx.comp[c].mcuHeightBlocks, ctx.comp[c].paddedWidth, 32}))
            return Result::NoMemory;
    for (uint32_t c = 0; c < ctx.scanComponents; ++c)
        if (!sampleRows[c].make({ctx.comp[c].vSamp, ctx.comp[c].paddedWidth, 8})) return Result::NoMemory;
    for (uint32_t c = 0; c < ctx.scanComponents; ++c)
        if (!planes[c].make({stripHeight, planeStride})) return Result::NoMemory;
    Buffer strip;
    if (!strip.make({stride, stripHeight})) return Result::NoMemory;

    // The entropy-coded data and everything after it.
    const LONG pos = _llseek(jpegFile, 0, FILE_CURRENT);
    const LONG end = pos < 0 ? -1 : _llseek(jpegFile, 0, FILE_END);
    if (pos < 0 || end < pos || _llseek(jpegFile, pos, FILE_BEGIN) != pos) return Result::IoError;
    ctx.bytesLeft = static_cast<uint32_t>(end - pos);

    Buffer input;
    if (!input.make({kInputChunkBytes})) return Result::NoMemory;
    ctx.readBuffer = input.data;
    ctx.chunkSize = static_cast<uint16_t>(kInputChunkBytes);
    const Result first = readChunk(jpegFile, ctx.chunkSize, ctx.bytesLeft, ctx.readBuffer, ctx.endOfData);
    if (first == Result::IoError) return Result::IoError;
    if (first == Result::Damaged) ctx.damaged = true;
    ctx.readPtr = ctx.readBuffer;
    ctx.readEnd = ctx.readBuffer + ctx.chunkSize;

    CoefficientRows coefficients;
    uint8_t *samplePtrs[kMaxScanComponents] = {};
    uint8_t *planePtrs[kMaxScanComponents] = {};
    for (uint32_t c = 0; c < ctx.scanComponents; ++c) {
        coefficients.rows[c] = reinterpret_cast<int32_t *>(coefficientRows[c].data);
        samplePtrs[c] = sampleRows[c].data;
        planePtrs[c] = planes[c].data;
    }

    uint32_t rowsDone = 0;
    for (uint32_t mcuRowsDone = 0; mcuRowsDone < ctx.mcuRows; mcuRowsDone += blockRowsPerStrip) {
        for (uint32_t stripRow = 0; stripRow < blockRowsPerStrip && mcuRowsDone + stripRow < ctx.mcuRows; ++stripRow) {
            decodeMcuRow(ctx, coefficients);
            reconstructMcuRow(ctx, coefficients, samplePtrs, stripRow);
        }
        if (ctx.readFailed) return Result::IoError;
        upsampleStrip(ctx, planeStride, samplePtrs, planePtrs);
        const uint32_t rows = state->height > rowsDone ? std::min(state->height - rowsDone, stripHeight) : 0;
        convertStripRows(ctx, planePtrs, strip.data, rows, stride, planeStride);
        rowsDone += rows;
        if (_lwrite(bmpFile, reinterpret_cast<LPCCH>(strip.data), rows * stride) != rows * stride)
            return Result::IoError;
    }

    const bool ended = endMarkerFollows(ctx);
    if (ctx.readFailed) return Result::IoError;

    // Leave the record as the scan left it (the input block goes away).
    state->bytesLeft = ctx.bytesLeft;
    state->chunkSize = ctx.chunkSize;
    state->endOfData = ctx.endOfData ? 1 : 0;
    state->bitBuffer = static_cast<int32_t>(ctx.bitBuffer);
    state->bitCount = ctx.bitCount;
    state->restartsToGo = static_cast<uint16_t>(ctx.restartsToGo);
    for (uint32_t c = 0; c < ctx.scanComponents; ++c) state->dcPredictors[c] = ctx.dcPredictors[c];
    state->readPtr = state->readEnd = state->readBuffer = nullptr;

    return ended && !ctx.damaged ? Result::Ok : Result::Damaged;
}

namespace {

int32_t importJpeg(const char *jpegPath, const char *bmpPath) {
    OpenFile jpeg;
    if (jpegPath == nullptr || !jpeg.open(jpegPath, OF_READ)) return JPG_IMPORT_NOT_JPEG;
    uint8_t soi[2] = {};
    if (_lread(jpeg.get(), soi, 2) != 2 || soi[0] != 0xFF || soi[1] != 0xD8) return JPG_IMPORT_NOT_JPEG;

    DecoderState state;
    if (initDecoderState(&state) != Result::Ok) return JPG_IMPORT_REFUSED;
    struct TablesGuard {
        DecoderState *s;
        ~TablesGuard() { freeDecoderTables(s); }
    } tables{&state};

    ScanInfo info;
    if (readHeaders(jpeg.get(), &state, info) != Result::Ok) return JPG_IMPORT_REFUSED;

    OutputFile bmp;
    if (bmpPath == nullptr || !bmp.create(bmpPath)) return JPG_IMPORT_REFUSED;
    uint32_t stride = 0;
    if (writeBmpHeaders(bmp.file(), state.width, state.height, state.colourMode, stride) != Result::Ok)
        return JPG_IMPORT_REFUSED;
    const Result decoded = decodeImage(jpeg.get(), bmp.get(), &state, info, stride);
    if (decoded != Result::Ok && decoded != Result::Damaged) return JPG_IMPORT_REFUSED;
    // Closed first, so that the BMP may replace the JPEG file itself (Windows
    // does not replace a file that is open).
    jpeg.close();
    if (!bmp.commit()) return JPG_IMPORT_REFUSED;
    return decoded == Result::Ok ? JPG_IMPORT_OK : JPG_IMPORT_DAMAGED;
}

}  // namespace

}  // namespace jpg

extern "C" JPG_API int32_t JPG_CALL iImportJPG(const char *jpegPath, const char *bmpPath) {
    try {
        return jpg::importJpeg(jpegPath, bmpPath);
    } catch (...) {
        return JPG_IMPORT_REFUSED;
    }
}
