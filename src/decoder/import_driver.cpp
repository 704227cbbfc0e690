// iImportJPG and its scan loop: headers, BMP headers, then strip by strip
// decoding, upsampling, conversion and writing, and the end-of-image test.
#include <algorithm>
#include <cstring>

#include "decoder/decoder_internal.h"
#include "frame/bmp_file.h"
#include "frame/markers.h"

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
    return have == 2 && bytes[0] == marker::kPrefix && bytes[1] == marker::kEoi;
}

// The working rows of one strip, made once per scan: per scan component a
// coefficient row (the block rows of one MCU row: vSamp of them in an
// interleaved scan, one in a one-component scan), its sample rows and its
// full-resolution plane; and the strip of BMP rows.
struct StripBuffers {
    LockedBlock<int32_t> coefficients[kMaxScanComponents];
    LockedBlock<uint8_t> samples[kMaxScanComponents];
    LockedBlock<uint8_t> planes[kMaxScanComponents];
    LockedBlock<uint8_t> strip;
    uint32_t stripHeight = 0;
    uint32_t planeStride = 0;
    CoefficientRows coefficientRows;
    uint8_t *sampleRows[kMaxScanComponents] = {};
    uint8_t *planeRows[kMaxScanComponents] = {};

    bool make(const DecodeContext &ctx, uint32_t stride) {
        stripHeight = 8 * ctx.maxV;
        planeStride = roundUpWide(ctx.state->width, 8 * ctx.maxH);
        for (uint32_t c = 0; c < ctx.scanComponents; ++c)
            if (!coefficients[c].make({ctx.comp[c].mcuHeightBlocks, ctx.comp[c].paddedWidth, 32})) return false;
        for (uint32_t c = 0; c < ctx.scanComponents; ++c)
            if (!samples[c].make({ctx.comp[c].vSamp, ctx.comp[c].paddedWidth, 8})) return false;
        for (uint32_t c = 0; c < ctx.scanComponents; ++c)
            if (!planes[c].make({stripHeight, planeStride})) return false;
        if (!strip.make({stride, stripHeight})) return false;
        for (uint32_t c = 0; c < ctx.scanComponents; ++c) {
            coefficientRows.rows[c] = coefficients[c].get();
            sampleRows[c] = samples[c].get();
            planeRows[c] = planes[c].get();
        }
        return true;
    }
};

// Sets the input up at the entropy-coded data: the count of bytes to its
// end, then the first chunk.
Result openInput(DecodeContext &ctx, LockedBlock<uint8_t> &input) {
    const LONG pos = _llseek(ctx.jpegFile, 0, FILE_CURRENT);
    const LONG end = pos < 0 ? -1 : _llseek(ctx.jpegFile, 0, FILE_END);
    if (pos < 0 || end < pos || _llseek(ctx.jpegFile, pos, FILE_BEGIN) != pos) return Result::IoError;
    ctx.bytesLeft = static_cast<uint32_t>(end - pos);
    if (!input.make({kInputChunkBytes})) return Result::NoMemory;
    startInput(ctx, input.get());
    return ctx.readFailed ? Result::IoError : Result::Ok;
}

// Decodes the MCU rows of one strip, upsamples and converts them, and writes
// the strip's BMP rows.
Result decodeStrip(DecodeContext &ctx, StripBuffers &b, uint32_t firstMcuRow, uint32_t &rowsDone, HFILE bmpFile,
                   uint32_t stride) {
    const uint32_t blockRowsPerStrip = ctx.scanComponents == 1 ? ctx.comp[0].vSamp : 1;
    for (uint32_t stripRow = 0; stripRow < blockRowsPerStrip && firstMcuRow + stripRow < ctx.mcuRows; ++stripRow) {
        decodeMcuRow(ctx, b.coefficientRows);
        reconstructMcuRow(ctx, b.coefficientRows, b.sampleRows, stripRow);
    }
    if (ctx.readFailed) return Result::IoError;
    upsampleStrip(ctx, b.planeStride, b.sampleRows, b.planeRows);
    const uint32_t height = ctx.state->height;
    const uint32_t rows = height > rowsDone ? std::min(height - rowsDone, b.stripHeight) : 0;
    convertStripRows(ctx, b.planeRows, b.strip.get(), rows, stride, b.planeStride);
    rowsDone += rows;
    if (_lwrite(bmpFile, reinterpret_cast<LPCCH>(b.strip.get()), rows * stride) != rows * stride)
        return Result::IoError;
    return Result::Ok;
}

}  // namespace

Result decodeImage(HFILE jpegFile, HFILE bmpFile, DecoderState *state, const HeaderFacts &headers, uint32_t stride) {
    DecodeContext ctx;
    ctx.state = state;
    ctx.headers = headers;
    ctx.jpegFile = jpegFile;
    TableLocks locks(state, ctx);
    if (!locks.ok()) return Result::NoMemory;

    layoutDecoderScan(ctx);
    startScan(ctx);
    StripBuffers buffers;
    if (!buffers.make(ctx, stride)) return Result::NoMemory;
    LockedBlock<uint8_t> input;
    if (const Result r = openInput(ctx, input); r != Result::Ok) return r;

    const uint32_t blockRowsPerStrip = ctx.scanComponents == 1 ? ctx.comp[0].vSamp : 1;
    uint32_t rowsDone = 0;
    for (uint32_t mcuRowsDone = 0; mcuRowsDone < ctx.mcuRows; mcuRowsDone += blockRowsPerStrip)
        if (const Result r = decodeStrip(ctx, buffers, mcuRowsDone, rowsDone, bmpFile, stride); r != Result::Ok)
            return r;

    const bool ended = endMarkerFollows(ctx);
    if (ctx.readFailed) return Result::IoError;
    return ended && !ctx.damaged ? Result::Ok : Result::Damaged;
}

Result openJpeg(OpenFile &jpeg, const char *jpegPath, OwnedDecoderState &owned, HeaderFacts &headers) {
    if (jpegPath == nullptr || !jpeg.open(jpegPath, OF_READ)) {
        headers.reason = "the file cannot be read";
        return Result::IoError;
    }
    if (!startsWithSoi(jpeg)) {
        headers.reason = "not a JPEG file";
        return Result::NotFormat;
    }
    if (owned.init() != Result::Ok) {
        headers.reason = "out of memory";
        return Result::NoMemory;
    }
    const Result read = readHeaders(jpeg.get(), &owned.state, headers);
    if (read != Result::Ok && headers.reason == nullptr) headers.reason = "the headers cannot be read";
    return read;
}

namespace {

int32_t importJpeg(const char *jpegPath, const char *bmpPath, const CallOptions & /*options*/) {
    OpenFile jpeg;
    OwnedDecoderState owned;
    HeaderFacts headers;
    const Result opened = openJpeg(jpeg, jpegPath, owned, headers);
    if (opened == Result::IoError && !jpeg.isOpen()) return JPG_IMPORT_NOT_JPEG;
    if (opened == Result::NotFormat) return JPG_IMPORT_NOT_JPEG;
    if (opened != Result::Ok) return JPG_IMPORT_REFUSED;
    DecoderState &state = owned.state;

    OutputFile bmp;
    if (bmpPath == nullptr || !bmp.create(bmpPath)) return JPG_IMPORT_REFUSED;
    uint32_t stride = 0;
    if (writeBmpHeaders(bmp.file(), state.width, state.height, state.colourMode, stride) != Result::Ok)
        return JPG_IMPORT_REFUSED;
    const Result decoded = decodeImage(jpeg.get(), bmp.get(), &state, headers, stride);
    if (decoded != Result::Ok && decoded != Result::Damaged) return JPG_IMPORT_REFUSED;
    // Closed first, so that the BMP may replace the JPEG file itself (Windows
    // does not replace a file that is open).
    jpeg.close();
    if (!bmp.commit()) return JPG_IMPORT_REFUSED;
    return decoded == Result::Ok ? JPG_IMPORT_OK : JPG_IMPORT_DAMAGED;
}

}  // namespace

int32_t importJpegFile(const char *jpegPath, const char *bmpPath, const CallOptions &options) {
    try {
        return importJpeg(jpegPath, bmpPath, options);
    } catch (...) {
        return JPG_IMPORT_REFUSED;
    }
}

}  // namespace jpg

extern "C" JPG_API int32_t JPG_CALL iImportJPG(const char *jpegPath, const char *bmpPath) {
    return jpg::importJpegFile(jpegPath, bmpPath, jpg::CallOptions{});
}
