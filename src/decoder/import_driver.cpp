// iImportJPG and its scan loop: headers, BMP headers, then strip by strip
// decoding, upsampling, conversion and writing, and the end-of-image test.
#include <algorithm>
#include <atomic>
#include <cstring>

#include "decoder/decoder_internal.h"
#include "decoder/decoder_kernels.h"
#include "decoder/strip_writer.h"
#include "frame/threads.h"
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

// The stages of one call: the reference stages, or the fast path with the
// kernels of its set.
struct Stages {
    const DecoderKernels *kernels = nullptr;  // null: the reference stages
};

// What the entropy decoding and the transform work in: per scan component a
// coefficient row (the block rows of one MCU row: vSamp of them in an
// interleaved scan, one in a one-component scan) and its blocks' kinds.
struct BlockRowBuffers {
    LockedBlock<int32_t> coefficients[kMaxScanComponents];
    LockedBlock<uint8_t> kinds[kMaxScanComponents];
    CoefficientRows rows;
    BlockKinds blockKinds;

    bool make(const DecodeContext &ctx, const Stages &stages) {
        for (uint32_t c = 0; c < ctx.scanComponents; ++c) {
            const ComponentLayout &l = ctx.comp[c];
            if (!coefficients[c].make({l.mcuHeightBlocks, l.paddedWidth, 32})) return false;
            if (stages.kernels != nullptr && !kinds[c].make({l.mcuHeightBlocks, l.paddedWidth / 8})) return false;
            rows.rows[c] = coefficients[c].get();
            blockKinds.kinds[c] = kinds[c].get();
        }
        return true;
    }
};

// What a strip is made in, on the thread that makes it: per scan component
// its sample rows and its full-resolution plane.
struct StripWork {
    LockedBlock<uint8_t> samples[kMaxScanComponents];
    LockedBlock<uint8_t> planes[kMaxScanComponents];
    uint8_t *sampleRows[kMaxScanComponents] = {};
    uint8_t *planeRows[kMaxScanComponents] = {};
    uint32_t stripHeight = 0;
    uint32_t planeStride = 0;

    bool make(const DecodeContext &ctx) {
        stripHeight = 8 * ctx.maxV;
        planeStride = roundUpWide(ctx.state->width, 8 * ctx.maxH);
        for (uint32_t c = 0; c < ctx.scanComponents; ++c) {
            if (!samples[c].make({ctx.comp[c].vSamp, ctx.comp[c].paddedWidth, 8})) return false;
            sampleRows[c] = samples[c].get();
        }
        for (uint32_t c = 0; c < ctx.scanComponents; ++c) {
            if (!planes[c].make({stripHeight, planeStride})) return false;
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

inline uint32_t blockRowsPerStrip(const DecodeContext &ctx) {
    return ctx.scanComponents == 1 ? ctx.comp[0].vSamp : 1;
}

// Makes the BMP rows of the strip that starts at MCU row `firstMcuRow` in
// `strip`: decodes its MCU rows into the sample rows, then upsamples and
// converts them. Returns the strip's image rows (the last strip may have
// fewer), which rowsDone counts.
uint32_t makeStrip(DecodeContext &ctx, const Stages &stages, BlockRowBuffers &b, StripWork &work, uint8_t *strip,
                   uint32_t firstMcuRow, uint32_t &rowsDone, uint32_t stride) {
    const uint32_t perStrip = blockRowsPerStrip(ctx);
    for (uint32_t stripRow = 0; stripRow < perStrip && firstMcuRow + stripRow < ctx.mcuRows; ++stripRow) {
        if (stages.kernels == nullptr) {
            decodeMcuRow(ctx, b.rows);
            reconstructMcuRow(ctx, b.rows, work.sampleRows, stripRow);
        } else {
            decodeMcuRowDirect(ctx, b.rows, b.blockKinds);
            reconstructMcuRowFast(ctx, b.rows, b.blockKinds, *stages.kernels, work.sampleRows, stripRow);
        }
    }
    if (ctx.readFailed) return 0;
    const uint32_t height = ctx.state->height;
    const uint32_t rows = height > rowsDone ? std::min(height - rowsDone, work.stripHeight) : 0;
    if (stages.kernels == nullptr) {
        upsampleStrip(ctx, work.planeStride, work.sampleRows, work.planeRows);
        convertStripRows(ctx, work.planeRows, strip, rows, stride, work.planeStride);
    } else {
        convertStripFast(ctx, *stages.kernels, work.sampleRows, work.planeRows, work.planeStride, strip, rows,
                         stride);
    }
    rowsDone += rows;
    return rows;
}

// The strips of the scan on the caller's thread.
Result decodeStrips(DecodeContext &ctx, const Stages &stages, BlockRowBuffers &blocks, StripWork &work,
                    uint8_t *strip, const StripWriter &writer) {
    const uint32_t perStrip = blockRowsPerStrip(ctx);
    uint32_t rowsDone = 0;
    for (uint32_t mcuRowsDone = 0; mcuRowsDone < ctx.mcuRows; mcuRowsDone += perStrip) {
        const uint32_t firstRow = rowsDone;
        const uint32_t rows = makeStrip(ctx, stages, blocks, work, strip, mcuRowsDone, rowsDone, writer.stride);
        if (ctx.readFailed) return Result::IoError;
        if (writePictureRows(writer, strip, firstRow, rows) != Result::Ok) return Result::IoError;
    }
    return Result::Ok;
}

// Two threads: a worker makes the strips' rows in a ring of four slots, in
// the order and form of the file, while the caller writes them, in order. A
// slot holds as many whole strips as fit in about 256 KB, so that narrow
// strips do not cost a hand-over each. Memory stays that of a few strips
// whatever the height.
struct StripRing {
    static constexpr uint32_t kSlots = 4;
    static constexpr uint32_t kSlotBytes = 256 * 1024;
    LockedBlock<uint8_t> strips[kSlots];
    uint32_t stripsPerSlot = 1;
    uint32_t slotCount = 0;  // slots the scan fills, in turn
    uint32_t rows[kSlots] = {};
    bool readFailed[kSlots] = {};
    Semaphore free{kSlots}, full{0};
    std::atomic<bool> cancelled{false};

    DecodeContext *ctx = nullptr;
    const Stages *stages = nullptr;
    BlockRowBuffers *blocks = nullptr;
    StripWork *work = nullptr;
    const StripWriter *writer = nullptr;

    bool make(uint32_t stripBytes, uint32_t stripCount) {
        if (!free.ok() || !full.ok()) return false;
        stripsPerSlot = stripBytes > 0 && stripBytes < kSlotBytes ? kSlotBytes / stripBytes : 1;
        slotCount = (stripCount + stripsPerSlot - 1) / stripsPerSlot;
        for (LockedBlock<uint8_t> &strip : strips)
            if (!strip.make({stripBytes, stripsPerSlot})) return false;
        return true;
    }

    // The worker: every strip in order, as long as the caller wants them.
    static void makeStrips(void *context) {
        auto *ring = static_cast<StripRing *>(context);
        DecodeContext &ctx = *ring->ctx;
        const uint32_t perStrip = blockRowsPerStrip(ctx);
        const size_t stride = ring->writer->stride;
        uint32_t rowsDone = 0, s = 0;
        for (uint32_t n = 0; n < ring->slotCount; ++n) {
            ring->free.wait();
            if (ring->cancelled) return;
            const uint32_t slot = n % kSlots;
            uint8_t *rows = ring->strips[slot].get();
            uint32_t count = 0;
            for (uint32_t i = 0; i < ring->stripsPerSlot && s * perStrip < ctx.mcuRows && !ctx.readFailed; ++i, ++s)
                count += makeStrip(ctx, *ring->stages, *ring->blocks, *ring->work, rows + count * stride,
                                   s * perStrip, rowsDone, ring->writer->stride);
            arrangeStripRows(*ring->writer, rows, count);
            ring->rows[slot] = count;
            ring->readFailed[slot] = ctx.readFailed;
            ring->full.post();
        }
    }
};

// Stops the worker when the caller leaves early: it finishes the strip in
// hand, then finds the ring cancelled.
struct CancelOnExit {
    StripRing &ring;
    ~CancelOnExit() {
        ring.cancelled = true;
        ring.free.post();
    }
};

// The strips of the scan on two threads; false in `started` when the worker
// could not be started (nothing was decoded then).
Result decodeStripsThreaded(StripRing &ring, const StripWriter &writer, bool &started) {
    Thread worker;
    started = worker.start(StripRing::makeStrips, &ring);
    if (!started) return Result::Ok;
    // Declared after the worker, so it runs first: the worker is told to stop
    // before it is joined.
    CancelOnExit cancel{ring};
    uint32_t rowsDone = 0;
    for (uint32_t n = 0; n < ring.slotCount; ++n) {
        ring.full.wait();
        const uint32_t slot = n % StripRing::kSlots;
        if (ring.readFailed[slot]) return Result::IoError;
        const Result written = writeArrangedRows(writer, ring.strips[slot].get(), rowsDone, ring.rows[slot]);
        rowsDone += ring.rows[slot];
        ring.free.post();
        if (written != Result::Ok) return Result::IoError;
    }
    return Result::Ok;
}

}  // namespace

Result decodeImage(HFILE jpegFile, const StripWriter &writer, DecoderState *state, const HeaderFacts &headers,
                   const CallOptions &options) {
    DecodeContext ctx;
    ctx.state = state;
    ctx.headers = headers;
    ctx.jpegFile = jpegFile;
    TableLocks locks(state, ctx);
    if (!locks.ok()) return Result::NoMemory;

    layoutDecoderScan(ctx);
    startScan(ctx);
    const KernelSet kernels = resolveKernels(options.kernels);
    Stages stages;
    if (kernels != KernelSet::Reference) stages.kernels = &decoderKernels(kernels);
    const bool threaded = resolveThreads(options, uint64_t{state->width} * state->height) > 1 && ctx.mcuRows > 1;

    BlockRowBuffers blocks;
    if (!blocks.make(ctx, stages)) return Result::NoMemory;
    StripWork work;
    if (!work.make(ctx)) return Result::NoMemory;
    uint32_t stripBytes = 0;
    if (!checkedProduct({writer.stride, work.stripHeight}, stripBytes)) return Result::NoMemory;
    // The ring's first strip serves the caller's thread when no worker starts.
    StripRing ring;
    const uint32_t stripCount = (ctx.mcuRows + blockRowsPerStrip(ctx) - 1) / blockRowsPerStrip(ctx);
    if (threaded ? !ring.make(stripBytes, stripCount) : !ring.strips[0].make(stripBytes)) return Result::NoMemory;
    LockedBlock<uint8_t> input;
    if (const Result r = openInput(ctx, input); r != Result::Ok) return r;

    bool started = false;
    Result decoded = Result::Ok;
    if (threaded) {
        ring.ctx = &ctx;
        ring.stages = &stages;
        ring.blocks = &blocks;
        ring.work = &work;
        ring.writer = &writer;
        decoded = decodeStripsThreaded(ring, writer, started);
    }
    if (!started) decoded = decodeStrips(ctx, stages, blocks, work, ring.strips[0].get(), writer);
    if (decoded != Result::Ok) return decoded;

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

int32_t importJpeg(const char *jpegPath, const ImportTarget &target, const CallOptions &options) {
    OpenFile jpeg;
    OwnedDecoderState owned;
    HeaderFacts headers;
    const Result opened = openJpeg(jpeg, jpegPath, owned, headers);
    if (opened == Result::IoError && !jpeg.isOpen()) return JPG_IMPORT_NOT_JPEG;
    if (opened == Result::NotFormat) return JPG_IMPORT_NOT_JPEG;
    if (opened != Result::Ok) return JPG_IMPORT_REFUSED;
    DecoderState &state = owned.state;

    // A file is made beside its destination and moved into place at the
    // end; a stream is written as it goes.
    OutputFile file;
    OpenFile stream(target.stream);
    const bool toStream = target.path == nullptr;
    if (!toStream && !file.create(target.path)) return JPG_IMPORT_REFUSED;
    PictureLayout layout;
    layout.format = target.format;
    if (options.rowOrder == RowOrder::Standard) layout.rows = toStream ? BmpRows::TopDown : BmpRows::BottomUp;
    StripWriter writer;
    if (startPicture(writer, toStream ? stream : file.file(), state.width, state.height, state.colourMode, layout) !=
        Result::Ok)
        return JPG_IMPORT_REFUSED;
    const Result decoded = decodeImage(jpeg.get(), writer, &state, headers, options);
    if (decoded != Result::Ok && decoded != Result::Damaged) return JPG_IMPORT_REFUSED;
    // Closed first, so that the BMP may replace the JPEG file itself (Windows
    // does not replace a file that is open).
    jpeg.close();
    if (toStream ? !stream.close() : !file.commit()) return JPG_IMPORT_REFUSED;
    return decoded == Result::Ok ? JPG_IMPORT_OK : JPG_IMPORT_DAMAGED;
}

}  // namespace

int32_t importJpegFile(const char *jpegPath, const ImportTarget &target, const CallOptions &options) {
    try {
        if (target.path == nullptr && target.stream == HFILE_ERROR) return JPG_IMPORT_REFUSED;
        return importJpeg(jpegPath, target, options);
    } catch (...) {
        return JPG_IMPORT_REFUSED;
    }
}

int32_t importJpegFile(const char *jpegPath, const char *bmpPath, const CallOptions &options) {
    if (bmpPath == nullptr) return JPG_IMPORT_REFUSED;
    ImportTarget target;
    target.path = bmpPath;
    return importJpegFile(jpegPath, target, options);
}

}  // namespace jpg

extern "C" JPG_API int32_t JPG_CALL iImportJPG(const char *jpegPath, const char *bmpPath) {
    return jpg::importJpegFile(jpegPath, bmpPath, jpg::CallOptions{});
}
