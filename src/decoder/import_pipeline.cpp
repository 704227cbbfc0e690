// The import's strip loop, on one thread or two. Mirror of the export's
// pipeline (src/encoder/export_pipeline.cpp), in the same words:
//
// - the front end takes the input in: it decodes the entropy-coded data,
//   which only one thread can, into rows of coefficients;
// - the back end makes the output: it reconstructs the strips (inverse DCT,
//   upsampling and conversion, straight into the order and form of the
//   file) and writes them.
//
// On one thread the two alternate strip by strip over buffers of their own.
// On two, the front end runs on a worker, ahead by at most kSlots slots of a
// ring, and the back end on the caller's thread; the reconstruction of each
// slot is cut into pieces that either thread may claim, so that whichever
// has time takes them (see SlotRing and the rules beside it).

#include "decoder/import_pipeline.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "base/bytes.h"
#include "base/memory_blocks.h"
#include "base/threads.h"
#include "decoder/decoder_kernels.h"
#include "decoder/picture_from_coefficients.h"

namespace jpg {

namespace {

// The front end's next MCU row: decoded from the entropy-coded data, or
// taken from the scans decoded beforehand.
inline void takeMcuRowDirect(DecodeContext &ctx, CoefficientRows &rows, BlockKinds &kinds) {
    if (ctx.coefficients != nullptr)
        loadMcuRowDirect(ctx, rows, kinds);
    else
        decodeMcuRowDirect(ctx, rows, kinds);
}

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

    bool make(const DecodeContext &ctx, const DecoderKernels *kernels, uint32_t count = 1) {
        components = ctx.scanComponents;
        for (uint32_t c = 0; c < ctx.scanComponents; ++c) {
            const ComponentLayout &l = ctx.comp[c];
            coefficientStep[c] = size_t{l.mcuHeightBlocks} * l.paddedWidth * 8;
            kindStep[c] = size_t{l.mcuHeightBlocks} * (l.paddedWidth / 8);
            if (!coefficients[c].make({count, l.mcuHeightBlocks, l.paddedWidth, 32})) return false;
            if (kernels != nullptr && !kinds[c].make({count, l.mcuHeightBlocks, l.paddedWidth / 8}))
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
        stripHeight = (8 * ctx.maxV) >> ctx.scaleLog2;
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

// MCU rows of a strip at most: a one-component scan's vertical factor.
constexpr uint32_t kMaxStripMcuRows = 4;

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
    if (ctx.scaleLog2 != 0) {
        CoefficientRows rows[kMaxStripMcuRows];
        BlockKinds kinds[kMaxStripMcuRows];
        for (uint32_t r = 0; r < mcuRows; ++r) {
            rows[r] = blocks.rows(first + r);
            kinds[r] = blocks.blockKinds(first + r);
        }
        makeReducedStripColumns(ctx, kernels, rows, kinds, mcuRows, own.sampleRows, own.planeRows[0], at.top, count,
                                at.step, firstMcu, endMcu);
        return;
    }
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
uint32_t makeStrip(DecodeContext &ctx, const DecoderKernels *kernels, BlockRowBuffers &b, StripWork &work,
                   uint8_t *strip, uint32_t firstMcuRow, uint32_t &rowsDone, const RowSink &writer) {
    const uint32_t mcuRows = std::min(blockRowsPerStrip(ctx), ctx.mcuRows - firstMcuRow);
    for (uint32_t r = 0; r < mcuRows; ++r) {
        CoefficientRows rows = b.rows(kernels == nullptr ? 0 : r);
        if (kernels == nullptr) {
            if (ctx.coefficients != nullptr)
                loadMcuRow(ctx, rows);
            else
                decodeMcuRow(ctx, rows);
            reconstructMcuRow(ctx, rows, work.sampleRows, r);
        } else {
            BlockKinds kinds = b.blockKinds(r);
            takeMcuRowDirect(ctx, rows, kinds);
        }
    }
    if (ctx.readFailed) return 0;
    const uint32_t height = outputHeight(ctx);
    const uint32_t count = height > rowsDone ? std::min(height - rowsDone, work.stripHeight) : 0;
    if (kernels == nullptr) {
        upsampleStrip(ctx, work.planeStride, work.sampleRows, work.planeRows);
        convertStripRows(ctx, work.planeRows, strip, count, writer.stride, work.planeStride);
        arrangeStripRows(writer, strip, count);
    } else {
        const ArrangedRows at = count > 0 ? arrangedRow(writer, strip, rowsDone, count, 0) : ArrangedRows{};
        makeStripColumns(ctx, *kernels, b, 0, mcuRows, work, at, count, 0, ctx.mcusPerRow);
        if (count > 0) arrangeColumns(writer, at, count, 0, outputWidth(ctx));
    }
    rowsDone += count;
    return count;
}

// Both ends on the caller's thread, strip by strip, over buffers of their
// own: one strip's coefficients (one MCU row's for the reference stages),
// its samples and planes, and its rows.
Result runOnOneThread(DecodeContext &ctx, const DecoderKernels *kernels, const RowSink &writer,
                      uint32_t stripBytes) {
    const uint32_t perStrip = blockRowsPerStrip(ctx);
    BlockRowBuffers blocks;
    StripWork work;
    LockedBlock<uint8_t> strip;
    if (!blocks.make(ctx, kernels, perStrip) || !work.make(ctx) || !strip.make(stripBytes)) return Result::NoMemory;
    uint32_t rowsDone = 0;
    for (uint32_t mcuRowsDone = 0; mcuRowsDone < ctx.mcuRows; mcuRowsDone += perStrip) {
        const uint32_t firstRow = rowsDone;
        const uint32_t rows = makeStrip(ctx, kernels, blocks, work, strip.get(), mcuRowsDone, rowsDone, writer);
        if (ctx.readFailed) return Result::IoError;
        if (writeArrangedRows(writer, strip.get(), firstRow, rows) != Result::Ok) return Result::WriteFailed;
    }
    return Result::Ok;
}

// One slot of the ring: the coefficients of a run of strips as the front end
// decoded them, and the strips' rows, made at their places in the form of
// the file. The reconstruction of the strips is cut into pieces (a strip's
// group of MCU columns, or the whole strip where its columns cannot be
// split) that both threads claim.
struct Slot {
    LockedBlock<uint8_t> rows;
    BlockRowBuffers blocks;
    SharedWork reconstruction;
    uint32_t firstStrip = 0, strips = 0;
    uint32_t firstRow = 0, rowCount = 0;
    bool readFailed = false;
};

// The two threads and their ring of slots.
//
// The front end (the worker) decodes slot after slot and hands each over;
// the back end (the caller) reconstructs what is left of the slot it comes
// to, piece by piece, writes it and gives the slot back. The front end
// reconstructs a slot it has just decoded itself while the back end is busy
// (its coefficients are at hand on its thread), and leaves it to a back end
// that waits for it; while no slot is free it reconstructs pieces of the
// slots handed over, oldest first. So the two share the work as the time
// each part takes dictates. A slot holds as many whole strips as fit, with
// their coefficients, in about 512 KB, so that narrow strips do not cost a
// hand-over each. Memory stays that of a few strips whatever the height.
//
// The rules that keep it sound:
// - The decode context belongs to the front end while it runs: the bit
//   reader, the predictions and the restart count are its alone.
//   Reconstruction, on either thread, reads `layout`, the ring's copy of
//   the context made before the worker started (the scan's layout, comp[],
//   maxH, maxV, mcusPerRow, mcuRows, the picture's size), never the live
//   context.
// - A slot's fields (its coefficients, rows, firstStrip, strips, firstRow,
//   rowCount, readFailed) change hands only through the ring's semaphores:
//   the front end writes them between taking an empty slot and posting it
//   filled; the back end reads them after taking it filled, and writes the
//   rows until it posts it empty. The pieces of its reconstruction are the
//   exception: either thread claims them through SharedWork, which gives
//   each piece to one thread and publishes what it made (finish, then
//   waitUntilDone on the back end before it writes).
// - helpUntilEmpty ends: it claims pieces of the slots handed over before,
//   and claim() fails on a slot whose pieces are all taken; a slot the back
//   end has written and given back has none left, so after at most every
//   piece of the four slots it either finds an empty slot or returns false,
//   and the front end then sleeps until one is given back.
// - A back end that leaves early (a failed write) cancels the ring and
//   gives a slot back, so the front end finishes the slot in hand, finds
//   the ring cancelled and returns before it is joined.
struct SlotRing {
    static constexpr uint32_t kSlots = 4;
    static constexpr uint64_t kSlotBytes = 512 * 1024;
    // In memory no write waits for a slot: slots small enough that what the
    // front end decodes is still in a cache when the back end takes it.
    static constexpr uint64_t kMemorySlotBytes = 128 * 1024;
    // Pieces of a strip at most, and pixels a claim covers at least.
    static constexpr uint32_t kGroupsPerStrip = 8;
    static constexpr uint64_t kClaimPixels = 16384;
    Slot slots[kSlots];
    StripWork work[2];  // the back end's, the front end's
    uint32_t stripsPerSlot = 1;
    uint32_t stripCount = 0;
    uint32_t slotCount = 0;  // slots the scan fills, in turn
    uint32_t mcusPerGroup = 1, groupsPerStrip = 1, piecesPerClaim = 1;
    Semaphore empty{kSlots}, filled{0};
    std::atomic<bool> cancelled{false};
    std::atomic<bool> backEndWaiting{false};  // for the next slot: the back end has nothing else to do

    DecodeContext *ctx = nullptr;
    // The context as it was when the worker started, for reconstruction on
    // either thread: the front end keeps writing its reader's fields in
    // *ctx, and a cache line of them read by the other processor would make
    // the next write wait.
    DecodeContext layout;
    const DecoderKernels *kernels = nullptr;
    const RowSink *writer = nullptr;

    bool make(DecodeContext &context, const DecoderKernels &k, const RowSink &out, uint32_t stripBytes,
              uint32_t strips) {
        ctx = &context;
        layout = context;
        kernels = &k;
        writer = &out;
        if (!empty.ok() || !filled.ok()) return false;
        const uint32_t perStrip = blockRowsPerStrip(context);
        const uint64_t stripAll = stripBytes + perStrip * BlockRowBuffers::rowBytes(context);
        const uint64_t slotBytes = out.toMemory ? kMemorySlotBytes : kSlotBytes;
        stripsPerSlot = static_cast<uint32_t>(std::min<uint64_t>(std::max<uint64_t>(slotBytes / stripAll, 1), strips));
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
        piecesPerClaim = static_cast<uint32_t>(std::max<uint64_t>(1, kClaimPixels / groupPixels));
        for (Slot &slot : slots) {
            // Rows made in place in the caller's pixels need no block.
            if (!(out.toMemory && out.inPlace) && !slot.rows.make({stripBytes, stripsPerSlot})) return false;
            if (!slot.blocks.make(context, kernels, stripsPerSlot * perStrip)) return false;
        }
        return work[0].make(context) && work[1].make(context);
    }

    // Front end: decodes the MCU rows of slot n's strips and readies its
    // reconstruction.
    void fillSlot(uint32_t n) {
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
            takeMcuRowDirect(c, rows, kinds);
        }
        slot.readFailed = c.readFailed;
        const uint32_t height = outputHeight(c);
        const uint64_t firstRow = uint64_t{slot.firstStrip} * stripHeight;
        slot.firstRow = static_cast<uint32_t>(std::min<uint64_t>(firstRow, height));
        slot.rowCount = static_cast<uint32_t>(std::min<uint64_t>(height - slot.firstRow, uint64_t{slot.strips} * stripHeight));
        slot.reconstruction.reset(slot.readFailed ? 0 : slot.strips * groupsPerStrip, piecesPerClaim);
    }

    // Claims pieces of a slot's reconstruction and makes them, with the
    // thread's own sample rows and planes: false when none was left.
    bool reconstructClaim(Slot &slot, StripWork &own) {
        const DecodeContext &c = layout;
        const uint32_t perStrip = blockRowsPerStrip(c);
        uint32_t first = 0, end = 0;
        if (!slot.reconstruction.claim(first, end)) return false;
        for (uint32_t piece = first; piece < end; ++piece) {
            const uint32_t s = piece / groupsPerStrip, group = piece % groupsPerStrip;
            const uint32_t firstMcu = group * mcusPerGroup;
            const uint32_t endMcu = std::min(firstMcu + mcusPerGroup, c.mcusPerRow);
            const uint32_t firstMcuRow = (slot.firstStrip + s) * perStrip;
            const uint32_t top = s * own.stripHeight;
            const uint32_t count = top < slot.rowCount ? std::min(own.stripHeight, slot.rowCount - top) : 0;
            const ArrangedRows at =
                count > 0 ? arrangedRow(*writer, slot.rows.get(), slot.firstRow, slot.rowCount, top) : ArrangedRows{};
            makeStripColumns(c, *kernels, slot.blocks, s * perStrip, std::min(perStrip, c.mcuRows - firstMcuRow), own,
                             at, count, firstMcu, endMcu);
            if (count == 0) continue;
            const PixelColumns x = pixelColumns(c, firstMcu, endMcu);
            arrangeColumns(*writer, at, count, x.first, x.end);
        }
        slot.reconstruction.finish(end - first);
        return true;
    }

    // Front end: waits for an empty slot to fill slot n into, meanwhile
    // reconstructing pieces of the slots handed over before, oldest first.
    // True when it got an empty slot, false when nothing was left to help
    // with (see the rules above).
    bool helpUntilEmpty(uint32_t n) {
        for (uint32_t h = n > kSlots ? n - kSlots : 0; h < n; ++h) {
            do {
                if (empty.tryWait()) return true;
            } while (reconstructClaim(slots[h % kSlots], work[1]));
        }
        return false;
    }

    // The front end's thread: fills every slot in order, as long as the back
    // end wants them.
    static void fillSlots(void *context) {
        auto *ring = static_cast<SlotRing *>(context);
        const uint32_t slotCount = ring->slotCount;
        for (uint32_t n = 0; n < slotCount; ++n) {
            if (!ring->helpUntilEmpty(n)) ring->empty.wait();
            if (ring->cancelled) return;
            ring->fillSlot(n);
            Slot &slot = ring->slots[n % kSlots];
            const bool failed = slot.readFailed;
            const bool backEndIdle = ring->backEndWaiting.load(std::memory_order_relaxed);
            ring->filled.post();
            if (failed) return;
            // A back end still busy with the slots before finds this one
            // made: its coefficients are at hand on this thread now.
            if (!backEndIdle && !ring->writer->toMemory)
                while (ring->reconstructClaim(slot, ring->work[1])) {
                }
        }
        // Then it helps with the last slots.
        for (uint32_t h = slotCount > kSlots ? slotCount - kSlots : 0; h < slotCount; ++h)
            while (ring->reconstructClaim(ring->slots[h % kSlots], ring->work[1])) {
            }
    }

    // The back end, on the caller's thread: empties every slot in order.
    Result emptySlots() {
        for (uint32_t n = 0; n < slotCount; ++n) {
            backEndWaiting.store(true, std::memory_order_relaxed);
            filled.wait();
            backEndWaiting.store(false, std::memory_order_relaxed);
            Slot &slot = slots[n % kSlots];
            if (slot.readFailed) return Result::IoError;
            while (reconstructClaim(slot, work[0])) {
            }
            slot.reconstruction.waitUntilDone();
            const Result written = writeArrangedRows(*writer, slot.rows.get(), slot.firstRow, slot.rowCount);
            empty.post();
            if (written != Result::Ok) return Result::WriteFailed;
        }
        return Result::Ok;
    }
};

// Stops the front end when the back end leaves early: it finishes the slot
// in hand, then finds the ring cancelled.
struct CancelOnExit {
    SlotRing &ring;
    ~CancelOnExit() {
        ring.cancelled = true;
        ring.empty.post();
    }
};

// The two ends on two threads; false in `started` when the worker could not
// be started (nothing was decoded then).
Result runOnTwoThreads(DecodeContext &ctx, const DecoderKernels &kernels, const RowSink &writer,
                       uint32_t stripBytes, bool &started) {
    started = false;
    SlotRing ring;
    const uint32_t stripCount = (ctx.mcuRows + blockRowsPerStrip(ctx) - 1) / blockRowsPerStrip(ctx);
    if (!ring.make(ctx, kernels, writer, stripBytes, stripCount)) return Result::NoMemory;
    Thread worker;
    started = worker.start(SlotRing::fillSlots, &ring);
    if (!started) return Result::Ok;
    // Declared after the worker, so it runs first: the worker is told to stop
    // before it is joined.
    CancelOnExit cancel{ring};
    return ring.emptySlots();
}

}  // namespace

Result decodeScanStrips(DecodeContext &ctx, const DecoderKernels *kernels, uint32_t threads,
                        const RowSink &writer) {
    // Scaled pictures have no reference stages of their own: the plain
    // kernels, which the reduced transforms' tests hold to their 64-bit
    // definition, make them.
    if (ctx.scaleLog2 != 0 && kernels == nullptr) kernels = decoderKernels(KernelSet::Plain);
    uint32_t stripBytes = 0;
    if (!checkedProduct({writer.stride, 8 * ctx.maxV}, stripBytes)) return Result::NoMemory;
    // The reference stages keep to the caller's thread.
    if (kernels != nullptr && threads > 1 && ctx.mcuRows > 1) {
        bool started = false;
        const Result r = runOnTwoThreads(ctx, *kernels, writer, stripBytes, started);
        if (started || r != Result::Ok) return r;
    }
    // The reference stages make whole native rows in a block.
    return runOnOneThread(ctx, kernels, kernels == nullptr ? madeInBlocks(writer) : writer, stripBytes);
}

}  // namespace jpg
