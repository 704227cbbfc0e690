// iImportJPG and its scan loop: headers, BMP headers, then strip by strip
// decoding, upsampling, conversion and writing, and the end-of-image test.
#include <algorithm>
#include <atomic>
#include <cstring>

#include "base/bytes.h"
#include "base/markers.h"
#include "base/memory_blocks.h"
#include "base/output_file.h"
#include "base/threads.h"
#include "decoder/decoder_internal.h"
#include "decoder/decoder_kernels.h"
#include "decoder/strip_writer.h"

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

// What the entropy decoding and the transform work in: `count` MCU rows of
// coefficients, each with, per scan component, its coefficient row (the
// block rows of one MCU row: vSamp of them in an interleaved scan, one in a
// one-component scan) and its blocks' kinds.
struct BlockRowBuffers {
    LockedBlock<int32_t> coefficients[kMaxScanComponents];
    LockedBlock<uint8_t> kinds[kMaxScanComponents];
    size_t coefficientStep[kMaxScanComponents] = {};
    size_t kindStep[kMaxScanComponents] = {};
    uint32_t components = 0;

    bool make(const DecodeContext &ctx, const Stages &stages, uint32_t count = 1) {
        components = ctx.scanComponents;
        for (uint32_t c = 0; c < ctx.scanComponents; ++c) {
            const ComponentLayout &l = ctx.comp[c];
            coefficientStep[c] = size_t{l.mcuHeightBlocks} * l.paddedWidth * 8;
            kindStep[c] = size_t{l.mcuHeightBlocks} * (l.paddedWidth / 8);
            if (!coefficients[c].make({count, l.mcuHeightBlocks, l.paddedWidth, 32})) return false;
            if (stages.kernels != nullptr && !kinds[c].make({count, l.mcuHeightBlocks, l.paddedWidth / 8}))
                return false;
        }
        return true;
    }
    CoefficientRows rows(uint32_t i) const {
        CoefficientRows r;
        for (uint32_t c = 0; c < components; ++c) r.rows[c] = coefficients[c].get() + i * coefficientStep[c];
        return r;
    }
    BlockKinds blockKinds(uint32_t i) const {
        BlockKinds k;
        for (uint32_t c = 0; c < components; ++c)
            k.kinds[c] = kinds[c] ? kinds[c].get() + i * kindStep[c] : nullptr;
        return k;
    }
    // Bytes of one MCU row: per block of 8 samples' width, 64 coefficients
    // and a kind.
    static uint64_t rowBytes(const DecodeContext &ctx) {
        uint64_t bytes = 0;
        for (uint32_t c = 0; c < ctx.scanComponents; ++c)
            bytes += uint64_t{ctx.comp[c].mcuHeightBlocks} * (ctx.comp[c].paddedWidth / 8) * (64 * sizeof(int32_t) + 1);
        return bytes;
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

// The bytes from the file's position to its end, in 64 bits.
bool bytesAfterHeaders(HFILE file, uint64_t &bytes) {
    uint64_t size = 0, position = 0;
    if (!fileSize(file, size) || !filePosition(file, position) || position > size) return false;
    bytes = size - position;
    return true;
}

// Sets the input up at the entropy-coded data: the count of bytes to its
// end, then the first chunk.
Result openInput(DecodeContext &ctx, LockedBlock<uint8_t> &input) {
    uint64_t left = 0;
    if (!bytesAfterHeaders(ctx.jpegFile, left)) return Result::IoError;
    if (left > kMaxDataBytes) return Result::Unsupported;
    ctx.bytesLeft = static_cast<uint32_t>(left);
    if (!input.make({kInputChunkBytes})) return Result::NoMemory;
    startInput(ctx, input.get());
    return ctx.readFailed ? Result::IoError : Result::Ok;
}

inline uint32_t blockRowsPerStrip(const DecodeContext &ctx) {
    return ctx.scanComponents == 1 ? ctx.comp[0].vSamp : 1;
}

// True when the scan is one component whose samples are the pixels (grey).
inline bool samplesArePixels(const DecodeContext &ctx) {
    const ComponentLayout &l = ctx.comp[0];
    return ctx.scanComponents == 1 && l.hSamp == ctx.maxH && l.vSamp == ctx.maxV;
}

// Makes the pixels of the MCU columns [firstMcu, endMcu) of a strip from
// its `mcuRows` MCU rows (coefficient rows `first`, `first` + 1, ... of
// `blocks`): `count` rows at `at` (the last strip may have fewer rows than
// its MCU rows make). A grey scan's blocks that lie wholly inside the
// picture are transformed straight into the rows; everything else goes
// through the thread's own sample rows and planes.
void makeStripColumns(const DecodeContext &ctx, const DecoderKernels &kernels, const BlockRowBuffers &blocks,
                      uint32_t first, uint32_t mcuRows, StripWork &own, ArrangedRows at, uint32_t count,
                      uint32_t firstMcu, uint32_t endMcu) {
    if (count == 0 || !samplesArePixels(ctx)) {
        for (uint32_t r = 0; r < mcuRows; ++r) {
            CoefficientRows rows = blocks.rows(first + r);
            reconstructMcuRowFast(ctx, rows, blocks.blockKinds(first + r), kernels, own.sampleRows, r, firstMcu,
                                  endMcu);
        }
        if (count > 0)
            convertStripFast(ctx, kernels, own.sampleRows, own.planeRows, own.planeStride, at.top, count, at.step,
                             firstMcu, endMcu);
        return;
    }
    const uint32_t width = ctx.state->width;
    const size_t w = ctx.comp[0].paddedWidth;
    // Blocks [firstMcu, inside) lie wholly inside the picture's width.
    const uint32_t inside = std::min(std::max(width / 8, firstMcu), endMcu);
    for (uint32_t r = 0; r < mcuRows; ++r) {
        int32_t *row = blocks.rows(first + r).rows[0];
        const uint8_t *kind = blocks.blockKinds(first + r).kinds[0];
        const uint32_t top = 8 * r;
        uint32_t direct = firstMcu;
        if (top + 8 <= count) {
            direct = inside;
            reconstructBlockRow(row, kind, kernels, at.top + static_cast<ptrdiff_t>(top) * at.step, at.step,
                                firstMcu, direct);
        }
        uint8_t *samples = own.sampleRows[0] + size_t{top} * w;
        reconstructBlockRow(row, kind, kernels, samples, static_cast<ptrdiff_t>(w), direct, endMcu);
        const uint32_t x0 = 8 * direct, x1 = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{8} * endMcu, width));
        if (x0 >= x1 || top >= count) continue;
        uint8_t *out = at.top + static_cast<ptrdiff_t>(top) * at.step + x0;
        for (uint32_t y = 0; y < std::min(8u, count - top); ++y, out += at.step)
            std::memcpy(out, samples + y * w + x0, x1 - x0);
    }
}

// Makes the rows of the strip that starts at MCU row `firstMcuRow` in
// `strip`: decodes its MCU rows, then makes its samples, upsamples and
// converts them, the fast path straight into the order and form of the
// file. Returns the strip's image rows (the last strip may have fewer),
// which rowsDone counts.
uint32_t makeStrip(DecodeContext &ctx, const Stages &stages, BlockRowBuffers &b, StripWork &work, uint8_t *strip,
                   uint32_t firstMcuRow, uint32_t &rowsDone, const StripWriter &writer) {
    const uint32_t mcuRows = std::min(blockRowsPerStrip(ctx), ctx.mcuRows - firstMcuRow);
    for (uint32_t r = 0; r < mcuRows; ++r) {
        CoefficientRows rows = b.rows(stages.kernels == nullptr ? 0 : r);
        if (stages.kernels == nullptr) {
            decodeMcuRow(ctx, rows);
            reconstructMcuRow(ctx, rows, work.sampleRows, r);
        } else {
            BlockKinds kinds = b.blockKinds(r);
            decodeMcuRowDirect(ctx, rows, kinds);
        }
    }
    if (ctx.readFailed) return 0;
    const uint32_t height = ctx.state->height;
    const uint32_t count = height > rowsDone ? std::min(height - rowsDone, work.stripHeight) : 0;
    if (stages.kernels == nullptr) {
        upsampleStrip(ctx, work.planeStride, work.sampleRows, work.planeRows);
        convertStripRows(ctx, work.planeRows, strip, count, writer.stride, work.planeStride);
        arrangeStripRows(writer, strip, count);
    } else {
        const ArrangedRows at = count > 0 ? arrangedRow(writer, strip, count, 0) : ArrangedRows{};
        makeStripColumns(ctx, *stages.kernels, b, 0, mcuRows, work, at, count, 0, ctx.mcusPerRow);
        if (count > 0) arrangeColumns(writer, at, count, 0, ctx.state->width);
    }
    rowsDone += count;
    return count;
}

// The strips of the scan on the caller's thread.
Result decodeStrips(DecodeContext &ctx, const Stages &stages, BlockRowBuffers &blocks, StripWork &work,
                    uint8_t *strip, const StripWriter &writer) {
    const uint32_t perStrip = blockRowsPerStrip(ctx);
    uint32_t rowsDone = 0;
    for (uint32_t mcuRowsDone = 0; mcuRowsDone < ctx.mcuRows; mcuRowsDone += perStrip) {
        const uint32_t firstRow = rowsDone;
        const uint32_t rows = makeStrip(ctx, stages, blocks, work, strip, mcuRowsDone, rowsDone, writer);
        if (ctx.readFailed) return Result::IoError;
        if (writeArrangedRows(writer, strip, firstRow, rows) != Result::Ok) return Result::WriteFailed;
    }
    return Result::Ok;
}

// One slot of the ring: the coefficients of a run of strips as the worker
// decoded them, and the strips' rows, made at their places in the form of
// the file. The reconstruction of the strips is cut into items (a strip's
// group of MCU columns, or the whole strip where its columns cannot be
// split) that both threads claim.
struct Slot {
    LockedBlock<uint8_t> rows;
    BlockRowBuffers blocks;
    SharedWork items;
    uint32_t firstStrip = 0, strips = 0;
    uint32_t firstRow = 0, rowCount = 0;
    bool readFailed = false;
};

// Two threads: a worker decodes the entropy-coded data a slot at a time into
// a ring of four slots and hands each over; the caller reconstructs what is
// left of the strips of the slot it comes to, item by item, and writes the
// slots in order. The worker reconstructs a slot it has just decoded itself
// while the caller is busy (its coefficients are at hand), and leaves it to
// a caller that waits for it; while the ring is full it reconstructs items of
// the slots handed over, oldest first. So the two threads share the work as
// the time each part takes dictates. A slot holds as many whole strips as
// fit, with their coefficients, in about 512 KB, so that narrow strips do
// not cost a hand-over each. Memory stays that of a few strips whatever the
// height.
struct StripRing {
    static constexpr uint32_t kSlots = 4;
    static constexpr uint64_t kSlotBytes = 512 * 1024;
    // Items of a strip at most, and pixels an item claim covers at least.
    static constexpr uint32_t kGroupsPerStrip = 8;
    static constexpr uint64_t kClaimPixels = 16384;
    Slot slots[kSlots];
    StripWork work[2];  // the caller's, the worker's
    uint32_t stripsPerSlot = 1;
    uint32_t stripCount = 0;
    uint32_t slotCount = 0;  // slots the scan fills, in turn
    uint32_t mcusPerGroup = 1, groupsPerStrip = 1, itemsPerClaim = 1;
    Semaphore free{kSlots}, full{0};
    std::atomic<bool> cancelled{false};
    std::atomic<bool> callerWaiting{false};  // for the next slot: the caller has nothing else to do

    DecodeContext *ctx = nullptr;
    const DecoderKernels *kernels = nullptr;
    const StripWriter *writer = nullptr;

    bool make(DecodeContext &context, const Stages &stages, const StripWriter &out, uint32_t stripBytes,
              uint32_t strips) {
        ctx = &context;
        kernels = stages.kernels;
        writer = &out;
        if (!free.ok() || !full.ok()) return false;
        const uint32_t perStrip = blockRowsPerStrip(context);
        const uint64_t stripAll = stripBytes + perStrip * BlockRowBuffers::rowBytes(context);
        stripsPerSlot = static_cast<uint32_t>(std::min<uint64_t>(std::max<uint64_t>(kSlotBytes / stripAll, 1), strips));
        stripCount = strips;
        slotCount = (strips + stripsPerSlot - 1) / stripsPerSlot;
        // The columns of a one-component scan are split only where its
        // samples are the pixels.
        const bool split = context.scanComponents > 1 || samplesArePixels(context);
        // A group is a whole number of the conversion kernels' 32 pixels
        // where the MCU width allows.
        const uint32_t mcus = context.mcusPerRow;
        const uint32_t mcuWidth = context.scanComponents == 1 ? 8 : 8 * context.maxH;
        const uint32_t unit = 32 % mcuWidth == 0 ? 32 / mcuWidth : 1;
        mcusPerGroup = split ? (mcus + kGroupsPerStrip * unit - 1) / (kGroupsPerStrip * unit) * unit : mcus;
        groupsPerStrip = (mcus + mcusPerGroup - 1) / mcusPerGroup;
        const uint64_t groupPixels = uint64_t{mcuWidth} * 8 * context.maxV * mcusPerGroup;
        itemsPerClaim = static_cast<uint32_t>(std::max<uint64_t>(1, kClaimPixels / groupPixels));
        for (Slot &slot : slots) {
            if (!slot.rows.make({stripBytes, stripsPerSlot})) return false;
            if (!slot.blocks.make(context, stages, stripsPerSlot * perStrip)) return false;
        }
        return work[0].make(context) && work[1].make(context);
    }

    // Decodes the MCU rows of slot n's strips and readies its items.
    void decodeSlot(uint32_t n) {
        DecodeContext &c = *ctx;
        Slot &slot = slots[n % kSlots];
        const uint32_t perStrip = blockRowsPerStrip(c);
        const uint32_t stripHeight = work[0].stripHeight;
        slot.firstStrip = n * stripsPerSlot;
        slot.strips = std::min(stripsPerSlot, stripCount - slot.firstStrip);
        for (uint32_t i = 0; i < slot.strips * perStrip && !c.readFailed; ++i) {
            if (slot.firstStrip * perStrip + i >= c.mcuRows) break;
            CoefficientRows rows = slot.blocks.rows(i);
            BlockKinds kinds = slot.blocks.blockKinds(i);
            decodeMcuRowDirect(c, rows, kinds);
        }
        slot.readFailed = c.readFailed;
        const uint32_t height = c.state->height;
        const uint64_t firstRow = uint64_t{slot.firstStrip} * stripHeight;
        slot.firstRow = static_cast<uint32_t>(std::min<uint64_t>(firstRow, height));
        slot.rowCount = static_cast<uint32_t>(std::min<uint64_t>(height - slot.firstRow, uint64_t{slot.strips} * stripHeight));
        slot.items.reset(slot.readFailed ? 0 : slot.strips * groupsPerStrip, itemsPerClaim);
    }

    // Claims items of a slot and reconstructs them, with the thread's own
    // sample rows and planes: false when none was left.
    bool reconstructClaim(Slot &slot, StripWork &own) {
        const DecodeContext &c = *ctx;
        const uint32_t perStrip = blockRowsPerStrip(c);
        uint32_t first = 0, end = 0;
        if (!slot.items.claim(first, end)) return false;
        for (uint32_t item = first; item < end; ++item) {
            const uint32_t s = item / groupsPerStrip, group = item % groupsPerStrip;
            const uint32_t firstMcu = group * mcusPerGroup;
            const uint32_t endMcu = std::min(firstMcu + mcusPerGroup, c.mcusPerRow);
            const uint32_t firstMcuRow = (slot.firstStrip + s) * perStrip;
            const uint32_t top = s * own.stripHeight;
            const uint32_t count = top < slot.rowCount ? std::min(own.stripHeight, slot.rowCount - top) : 0;
            const ArrangedRows at =
                count > 0 ? arrangedRow(*writer, slot.rows.get(), slot.rowCount, top) : ArrangedRows{};
            makeStripColumns(c, *kernels, slot.blocks, s * perStrip, std::min(perStrip, c.mcuRows - firstMcuRow), own,
                             at, count, firstMcu, endMcu);
            if (count == 0) continue;
            const PixelColumns x = pixelColumns(c, firstMcu, endMcu);
            arrangeColumns(*writer, at, count, x.first, x.end);
        }
        slot.items.finish(end - first);
        return true;
    }

    // The worker's wait for a slot to decode slot n into: meanwhile it
    // reconstructs items of the slots handed over before, oldest first.
    // True when it got a free slot, false when nothing was left to help with.
    bool helpUntilFree(uint32_t n) {
        for (uint32_t h = n > kSlots ? n - kSlots : 0; h < n; ++h) {
            do {
                if (free.tryWait()) return true;
            } while (reconstructClaim(slots[h % kSlots], work[1]));
        }
        return false;
    }

    // The worker: decodes every slot in order, as long as the caller wants
    // them.
    static void decodeSlots(void *context) {
        auto *ring = static_cast<StripRing *>(context);
        const uint32_t slotCount = ring->slotCount;
        for (uint32_t n = 0; n < slotCount; ++n) {
            if (!ring->helpUntilFree(n)) ring->free.wait();
            if (ring->cancelled) return;
            ring->decodeSlot(n);
            Slot &slot = ring->slots[n % kSlots];
            const bool failed = slot.readFailed;
            const bool callerIdle = ring->callerWaiting.load(std::memory_order_relaxed);
            ring->full.post();
            if (failed) return;
            // A caller still busy with the slots before finds this one made:
            // its coefficients are at hand on this thread now.
            if (!callerIdle)
                while (ring->reconstructClaim(slot, ring->work[1])) {
                }
        }
        // Then it helps with the last slots.
        for (uint32_t h = slotCount > kSlots ? slotCount - kSlots : 0; h < slotCount; ++h)
            while (ring->reconstructClaim(ring->slots[h % kSlots], ring->work[1])) {
            }
    }
};

// Stops the worker when the caller leaves early: it finishes the slot in
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
    started = worker.start(StripRing::decodeSlots, &ring);
    if (!started) return Result::Ok;
    // Declared after the worker, so it runs first: the worker is told to stop
    // before it is joined.
    CancelOnExit cancel{ring};
    for (uint32_t n = 0; n < ring.slotCount; ++n) {
        ring.callerWaiting.store(true, std::memory_order_relaxed);
        ring.full.wait();
        ring.callerWaiting.store(false, std::memory_order_relaxed);
        Slot &slot = ring.slots[n % StripRing::kSlots];
        if (slot.readFailed) return Result::IoError;
        while (ring.reconstructClaim(slot, ring.work[0])) {
        }
        slot.items.waitUntilDone();
        const Result written = writeArrangedRows(writer, slot.rows.get(), slot.firstRow, slot.rowCount);
        ring.free.post();
        if (written != Result::Ok) return Result::WriteFailed;
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
    // The reference stages keep to the caller's thread.
    const bool threaded = stages.kernels != nullptr &&
                          resolveThreads(options, uint64_t{state->width} * state->height) > 1 && ctx.mcuRows > 1;

    uint32_t stripBytes = 0;
    if (!checkedProduct({writer.stride, 8 * ctx.maxV}, stripBytes)) return Result::NoMemory;
    // The ring's first slot and the caller's strip work serve the caller's
    // thread alone when no worker starts.
    StripRing ring;
    Slot &single = ring.slots[0];
    const uint32_t stripCount = (ctx.mcuRows + blockRowsPerStrip(ctx) - 1) / blockRowsPerStrip(ctx);
    const bool made = threaded ? ring.make(ctx, stages, writer, stripBytes, stripCount)
                               : single.blocks.make(ctx, stages, blockRowsPerStrip(ctx)) && ring.work[0].make(ctx) &&
                                     single.rows.make(stripBytes);
    if (!made) return Result::NoMemory;
    LockedBlock<uint8_t> input;
    if (const Result r = openInput(ctx, input); r != Result::Ok) return r;

    bool started = false;
    Result decoded = Result::Ok;
    if (threaded) decoded = decodeStripsThreaded(ring, writer, started);
    if (!started) decoded = decodeStrips(ctx, stages, single.blocks, ring.work[0], single.rows.get(), writer);
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
    ByteSource source = ByteSource::ofFile(jpeg.get());
    const Result read = readHeaders(source, &owned.state, headers);
    if (read != Result::Ok && headers.reason == nullptr) headers.reason = "the headers cannot be read";
    uint64_t left = 0;
    if (read != Result::Ok) return read;
    if (!bytesAfterHeaders(jpeg.get(), left)) {
        headers.reason = "the file cannot be read";
        return Result::IoError;
    }
    if (left > kMaxDataBytes) {
        // The record counts the data in 32 bits.
        headers.reason = "JPEG files of more than 4 GiB are not supported";
        return Result::Unsupported;
    }
    return Result::Ok;
}

namespace {

// What the import says when it writes nothing, besides its status.
void explainImport(Refusal *refusal, const std::string &text, bool aboutOutput) {
    if (refusal != nullptr) refusal->set(text, aboutOutput);
}

int32_t importJpeg(const char *jpegPath, const ImportTarget &target, const CallOptions &options, OpenFile &stream,
                   Refusal *reason) {
    OpenFile jpeg;
    OwnedDecoderState owned;
    HeaderFacts headers;
    const Result opened = openJpeg(jpeg, jpegPath, owned, headers);
    if (opened != Result::Ok)
        explainImport(reason, opened == Result::IoError && !jpeg.isOpen() ? "cannot be opened" : headers.reason, false);
    if (opened == Result::IoError && !jpeg.isOpen()) return JPG_IMPORT_NOT_JPEG;
    if (opened == Result::NotFormat) return JPG_IMPORT_NOT_JPEG;
    if (opened != Result::Ok) return JPG_IMPORT_REFUSED;
    DecoderState &state = owned.state;

    // A file is made beside its destination and moved into place at the
    // end; a stream is written as it goes.
    OutputFile file;
    const bool toStream = target.path == nullptr;
    if (!toStream && !file.create(target.path, options.files)) {
        explainImport(reason, file.explain(), true);
        return JPG_IMPORT_REFUSED;
    }
    PictureLayout layout;
    layout.format = target.format;
    if (options.rowOrder == RowOrder::Standard) layout.rows = toStream ? BmpRows::TopDown : BmpRows::BottomUp;
    StripWriter writer;
    const std::string notWritten = "the picture could not be written";
    if (startPicture(writer, toStream ? stream : file.file(), state.width, state.height, state.colourMode, layout) !=
        Result::Ok) {
        explainImport(reason, notWritten, true);
        return JPG_IMPORT_REFUSED;
    }
    const Result decoded = decodeImage(jpeg.get(), writer, &state, headers, options);
    if (decoded != Result::Ok && decoded != Result::Damaged) {
        explainImport(reason,
                      decoded == Result::WriteFailed ? notWritten
                      : decoded == Result::NoMemory  ? "out of memory"
                                                     : "the file cannot be read",
                      decoded == Result::WriteFailed);
        return JPG_IMPORT_REFUSED;
    }
    // Closed first, so that the BMP may replace the JPEG file itself (Windows
    // does not replace a file that is open).
    jpeg.close();
    if (toStream ? !stream.close() : !file.commit()) {
        explainImport(reason, toStream ? notWritten : file.explain(), true);
        return JPG_IMPORT_REFUSED;
    }
    return decoded == Result::Ok ? JPG_IMPORT_OK : JPG_IMPORT_DAMAGED;
}

}  // namespace

int32_t importJpegFile(const char *jpegPath, const ImportTarget &target, const CallOptions &options,
                       Refusal *reason) {
    // The stream is the import's from the start, whatever happens.
    OpenFile stream(target.path == nullptr ? target.stream : HFILE_ERROR);
    try {
        if (target.path == nullptr && target.stream == HFILE_ERROR) return JPG_IMPORT_REFUSED;
        return importJpeg(jpegPath, target, options, stream, reason);
    } catch (...) {
        explainImport(reason, "out of memory", false);
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
