// The fast strip loop of the encoder: the same strips, planes and blocks as
// the reference loop, with the fast kernels, the 64-bit bit writer and, for
// larger pictures, two threads.
//
// A row slot holds one MCU row: its component planes and its coefficients.
// The front end takes a strip from the row source and converts it into the
// slot's planes (padding and averaging as the reference does). The row's transforms are
// then claimed a few MCUs at a time by whichever thread is free. The back
// end adds every MCU's DC values to the preview, Huffman-codes the row
// (with its restart markers) and writes the bytes. On one thread the steps alternate over a slot of its
// own; on two, the front end runs ahead by at most kQueuedRows slots, and
// the back end transforms each row it comes to; when the front end finds no
// free slot it helps with the oldest rows' transforms, so the transforms go
// to whichever thread has time for them. The import's pipeline
// (src/decoder/import_pipeline.cpp) mirrors it.
#include <atomic>
#include <cstring>

#include "base/threads.h"
#include "encoder/encoder_kernels.h"
#include "encoder/encoder_state.h"
#include "encoder/row_source.h"

namespace jpg {

namespace {

// Rows in flight between the two threads.
constexpr uint32_t kQueuedRows = 4;

// MCUs a thread claims at a time: small enough that neither waits long for
// the other's last chunk, large enough that claiming costs nothing.
constexpr uint32_t kMcusPerClaim = 8;

struct RowSlot {
    uint8_t *planes[3] = {};  // each component's MCU row, rows paddedWidth apart
    QuantisedBlock *blocks = nullptr;
    Result result = Result::Ok;
    bool last = false;  // the front end's last row: the final strip or a failure
    SharedWork transforms;  // the row's MCUs, once its planes are filled
};

// What both ends share, and each end's own buffers; the row slots are made
// apart (RowSlots), by the one-thread loop or by the queue.
struct Pipeline {
    EncoderState *state = nullptr;
    const EncoderKernels *kernels = nullptr;
    const RowSource *source = nullptr;
    ThumbnailGather *gather = nullptr;
    QuantReciprocals reciprocals[2];
    uint32_t paddedStripWidth = 0;
    uint64_t planeBytes = 0;  // of one slot's component planes
    uint32_t nextRow = 0;

    // The front end's own: the full-resolution planes of the averaged
    // components, and two rows for the chroma a grey encode of a colour
    // source does not keep.
    LockedBlock<uint8_t> wide[3];
    LockedBlock<uint8_t> scratch;
    // The back end's own.
    ScanWriter writer;
    BlockCodes codes[4];  // per scan component
    int32_t predictors[4] = {};
    uint32_t restartsToGo = 0;
    uint32_t nextRestart = 0;

    bool averaged(uint32_t i) const {
        const EncoderComponent &c = state->components[i];
        return c.hSamp != state->maxH || c.vSamp != state->maxV;
    }

    Result make() {
        const EncoderState &s = *state;
        if (!makeQuantReciprocals(s.quantTables[0], reciprocals[0]) ||
            !makeQuantReciprocals(s.quantTables[1], reciprocals[1]))
            return Result::Unsupported;
        paddedStripWidth = roundUpWide(s.width, 8u * s.maxH);
        planeBytes = 0;
        for (uint32_t i = 0; i < s.scanComponents; ++i) {
            const EncoderComponent &c = s.components[i];
            // The averaged layouts are 2 x 1 and 2 x 2.
            if (averaged(i) && (s.maxH / c.hSamp != 2 || s.maxV / c.vSamp > 2)) return Result::Unsupported;
            if (averaged(i) && !wide[i].make({paddedStripWidth, stripHeight(&s)})) return Result::NoMemory;
            planeBytes += uint64_t{c.paddedWidth} * 8 * c.vSamp;
        }
        if (s.colourMode == 1 && source->bytesPerPixel != 1 && !scratch.make({2, s.width})) return Result::NoMemory;
        startScanWriter(writer, *s.sink);
        if (!s.sink->ok()) return s.sink->failure;
        restartsToGo = s.restartInterval;
        for (uint32_t i = 0; i < s.scanComponents; ++i) {
            const EncoderComponent &c = s.components[i];
            prepareBlockCodes(*s.dcCodes[c.dcSel & 1], *s.acCodes[c.acSel & 1], codes[i]);
        }
        return Result::Ok;
    }

    // Front end: the next strip into the slot's planes.
    Result fillSlot(RowSlot &slot) {
        const EncoderState &s = *state;
        const uint32_t height = stripHeight(&s);
        const uint32_t y = nextRow;
        const uint32_t rows = s.height - y < height ? s.height - y : height;
        nextRow += height;
        const uint8_t *src = nullptr;
        size_t stride = 0;
        const Result r = source->next(source->context, rows, src, stride);
        if (r != Result::Ok) return r;
        uint8_t *full[3] = {};
        for (uint32_t i = 0; i < s.scanComponents; ++i) full[i] = averaged(i) ? wide[i].get() : slot.planes[i];
        uint8_t *unused = scratch.get();
        for (uint32_t row = 0; row < rows; ++row, src += stride) {
            const size_t at = size_t{row} * paddedStripWidth;
            if (source->bytesPerPixel == 1)
                std::memcpy(full[0] + at, src, s.width);
            else if (s.colourMode == 1)
                kernels->rowToYcc(src, s.width, source->bytesPerPixel, source->redFirst, full[0] + at, unused,
                                  unused + s.width);
            else
                kernels->rowToYcc(src, s.width, source->bytesPerPixel, source->redFirst, full[0] + at, full[1] + at,
                                  full[2] + at);
        }
        const bool lastStrip = rows != height || y + height == s.height;
        if (paddedStripWidth > s.width || lastStrip) padStripEdges(&s, paddedStripWidth, rows, full);
        for (uint32_t i = 0; i < s.scanComponents; ++i) {
            if (!averaged(i)) continue;
            const EncoderComponent &c = s.components[i];
            const uint32_t width = c.paddedWidth;
            for (uint32_t row = 0; row < 8u * c.vSamp; ++row) {
                uint8_t *out = slot.planes[i] + size_t{row} * width;
                if (c.vSamp == s.maxV) {
                    kernels->averagePairs(full[i] + size_t{row} * paddedStripWidth, out, width);
                } else {
                    const uint8_t *top = full[i] + size_t{2 * row} * paddedStripWidth;
                    kernels->averageSquares(top, top + paddedStripWidth, out, width);
                }
            }
        }
        return Result::Ok;
    }

    // The blocks of MCUs [first, end) of the slot's row, in coding order,
    // into `out` on (slot.blocks + first x blocksPerMcu for a whole row).
    // Each component's blocks are taken a block row at a time, two side by
    // side where they can.
    void transformMcus(const RowSlot &slot, uint32_t first, uint32_t end, QuantisedBlock *out) const {
        const EncoderState &s = *state;
        uint32_t offset = 0;  // of the component's first block in an MCU
        for (uint32_t j = 0; j < s.scanComponents; ++j) {
            const EncoderComponent &c = s.components[j];
            const QuantReciprocals &table = reciprocals[c.quantSel & 1];
            const uint32_t across = c.mcuWidthBlocks, blocks = (end - first) * across;
            for (uint32_t k = 0; k < c.mcuHeightBlocks; ++k) {
                const uint8_t *row = slot.planes[j] + size_t{k} * 8 * c.paddedWidth + size_t{first} * across * 8;
                // Block b of the block row: of MCU first + b / across, the
                // component's block (k, b % across) in it.
                const auto at = [&](uint32_t b) -> QuantisedBlock & {
                    return out[size_t{b / across} * s.blocksPerMcu + offset + k * across + b % across];
                };
                uint32_t b = 0;
                for (; b + 2 <= blocks; b += 2)
                    kernels->transformTwoBlocks(row + size_t{b} * 8, c.paddedWidth, table, at(b), at(b + 1));
                if (b < blocks) {
                    QuantisedBlock &block = at(b);
                    block.nonzero =
                        kernels->transformBlock(row + size_t{b} * 8, c.paddedWidth, table, block.coefficients);
                }
            }
            offset += c.mcuBlocks;
        }
    }
    void transformRowPart(const RowSlot &slot, uint32_t first, uint32_t end) const {
        transformMcus(slot, first, end, slot.blocks + size_t{first} * state->blocksPerMcu);
    }

    // Transforms the slot's MCUs that are left to claim.
    void shareTransforms(RowSlot &slot) const {
        uint32_t first = 0, end = 0;
        while (slot.transforms.claim(first, end)) {
            transformRowPart(slot, first, end);
            slot.transforms.finish(end - first);
        }
    }

    // Back end: the preview's DC values and the Huffman codes of MCUs
    // [first, end) of the current row, whose blocks are `blocks` on; then
    // endRow at the end of the row.
    void codeMcus(const QuantisedBlock *blocks, uint32_t first, uint32_t end) {
        const EncoderState &s = *state;
        const QuantisedBlock *block = blocks;
        if (gather != nullptr) {
            for (uint32_t m = first; m < end; ++m, block += s.blocksPerMcu) {
                int32_t dc[kMaxBlocksPerMcu] = {};
                for (uint32_t i = 0; i < s.blocksPerMcu; ++i) dc[i] = block[i].coefficients[0];
                gatherMcuDc(gather, m, dc);
            }
        }
        block = blocks;
        for (uint32_t m = first; m < end; ++m) {
            if (s.restartInterval != 0) {
                if (restartsToGo == 0) {
                    restartScanFast(writer, nextRestart);
                    nextRestart = (nextRestart + 1) & 7;
                    for (int32_t &p : predictors) p = 0;
                    restartsToGo = s.restartInterval;
                }
                --restartsToGo;
            }
            for (uint32_t b = 0; b < s.blocksPerMcu; ++b, ++block) {
                const uint32_t c = s.mcuBlockComponent[b];
                encodeBlockFast(writer, codes[c], block->coefficients, block->nonzero, predictors[c]);
            }
        }
    }
    void endRow() {
        if (gather != nullptr) endGatherRow(gather);
    }
    // A row whose blocks are all transformed.
    void codeSlot(const RowSlot &slot) {
        codeMcus(slot.blocks, 0, state->mcusPerRow);
        endRow();
    }
};

// `count` row slots and their storage, with room for the blocks of
// `blocksPerSlot` MCUs each.
struct RowSlots {
    LockedBlock<uint8_t> planeStore;
    LockedBlock<QuantisedBlock> blockStore;
    RowSlot slots[kQueuedRows];

    bool make(const Pipeline &p, uint32_t count, uint32_t mcusPerSlot) {
        const EncoderState &s = *p.state;
        const uint32_t blocksPerSlot = mcusPerSlot * s.blocksPerMcu;
        if (!planeStore.make({count, p.planeBytes}) || !blockStore.make({count, blocksPerSlot, sizeof(QuantisedBlock)}))
            return false;
        for (uint32_t n = 0; n < count; ++n) {
            uint8_t *plane = planeStore.get() + n * p.planeBytes;
            for (uint32_t i = 0; i < s.scanComponents; ++i) {
                slots[n].planes[i] = plane;
                plane += size_t{s.components[i].paddedWidth} * 8 * s.components[i].vSamp;
            }
            slots[n].blocks = blockStore.get() + size_t{n} * blocksPerSlot;
        }
        return true;
    }
};

// The two threads' meeting point: the front end fills a slot when it is
// empty, the back end codes it when it is filled.
struct RowQueue {
    Pipeline *pipeline = nullptr;
    RowSlots rows;
    Semaphore filled{0};
    Semaphore empty{kQueuedRows};
    std::atomic<bool> writeFailed{false};

    // The back end's thread: codes filled rows until the last; after a
    // failed write it only empties them.
    static void codeRows(void *context) {
        auto *queue = static_cast<RowQueue *>(context);
        Pipeline &p = *queue->pipeline;
        for (uint32_t n = 0;; ++n) {
            queue->filled.wait();
            RowSlot &slot = queue->rows.slots[n % kQueuedRows];
            if (slot.result == Result::Ok && !queue->writeFailed.load(std::memory_order_relaxed)) {
                p.shareTransforms(slot);
                slot.transforms.waitUntilDone();
                p.codeSlot(slot);
                if (!p.writer.sink->ok()) queue->writeFailed.store(true);
            }
            const bool last = slot.last;
            queue->empty.post();
            if (last) return;
        }
    }

    // Transforms one chunk of the oldest of the `filledRows` rows filled so
    // far that has MCUs left to claim; false when none has. A row that was
    // coded has none, and only this thread refills a slot.
    bool helpTransform(uint32_t filledRows) {
        Pipeline &p = *pipeline;
        for (uint32_t back = filledRows < kQueuedRows ? filledRows : kQueuedRows; back > 0; --back) {
            RowSlot &slot = rows.slots[(filledRows - back) % kQueuedRows];
            uint32_t first = 0, end = 0;
            if (!slot.transforms.claim(first, end)) continue;
            p.transformRowPart(slot, first, end);
            slot.transforms.finish(end - first);
            return true;
        }
        return false;
    }

    // The front end, on the caller's thread: fills rows until the last
    // strip or a failure. It transforms only while no slot is free: the
    // back end, which transforms each row it codes, has fallen behind.
    Result fillRows(uint32_t strips) {
        Pipeline &p = *pipeline;
        for (uint32_t n = 0;; ++n) {
            while (!empty.tryWait())
                if (!helpTransform(n)) {
                    empty.wait();
                    break;
                }
            RowSlot &slot = rows.slots[n % kQueuedRows];
            slot.result = writeFailed.load() ? Result::IoError : p.fillSlot(slot);
            slot.last = slot.result != Result::Ok || n + 1 == strips;
            slot.transforms.reset(slot.result == Result::Ok ? p.state->mcusPerRow : 0, kMcusPerClaim);
            const Result result = slot.result;
            const bool last = slot.last;
            filled.post();
            if (last) {
                while (helpTransform(n + 1)) {
                }
                return result;
            }
        }
    }
};

// Both ends on the caller's thread, over a row slot of its own: each row
// is transformed and coded a few MCUs at a time, so that the blocks stay in
// the cache between the two.
Result runOnOneThread(Pipeline &pipeline, uint32_t strips) {
    RowSlots own;
    if (!own.make(pipeline, 1, kMcusPerClaim)) return Result::NoMemory;
    RowSlot &slot = own.slots[0];
    const uint32_t mcus = pipeline.state->mcusPerRow;
    for (uint32_t n = 0; n < strips; ++n) {
        const Result r = pipeline.fillSlot(slot);
        if (r != Result::Ok) return r;
        for (uint32_t first = 0; first < mcus; first += kMcusPerClaim) {
            const uint32_t end = mcus - first < kMcusPerClaim ? mcus : first + kMcusPerClaim;
            pipeline.transformMcus(slot, first, end, slot.blocks);
            pipeline.codeMcus(slot.blocks, first, end);
        }
        pipeline.endRow();
        if (!pipeline.writer.sink->ok()) return pipeline.writer.sink->failure;
    }
    return finishScanFast(pipeline.writer);
}

// The two ends on two threads; false in `started` when the worker could not
// be started (nothing was read then).
Result runOnTwoThreads(Pipeline &pipeline, uint32_t strips, bool &started) {
    started = false;
    RowQueue queue;
    queue.pipeline = &pipeline;
    if (!queue.filled.ok() || !queue.empty.ok() || !queue.rows.make(pipeline, kQueuedRows, pipeline.state->mcusPerRow)) return Result::NoMemory;
    Thread coder;
    started = coder.start(&RowQueue::codeRows, &queue);
    if (!started) return Result::Ok;
    const Result r = queue.fillRows(strips);
    coder.join();
    if (!pipeline.writer.sink->ok()) return pipeline.writer.sink->failure;
    if (r != Result::Ok) return r;
    return finishScanFast(pipeline.writer);
}

}  // namespace

Result encodeScanFast(EncoderState *state, ThumbnailGather *gather, const RowSource &source,
                      const EncoderKernels &kernels, uint32_t threads) {
    Pipeline pipeline;
    pipeline.state = state;
    pipeline.kernels = &kernels;
    pipeline.source = &source;
    pipeline.gather = gather;
    const uint32_t strips = ceilDiv(state->height, stripHeight(state));
    if (const Result r = pipeline.make(); r != Result::Ok) return r;
    if (threads > 1) {
        // Without the queue or a second thread the call runs on one thread.
        bool started = false;
        const Result r = runOnTwoThreads(pipeline, strips, started);
        if (started) return r;
    }
    return runOnOneThread(pipeline, strips);
}

}  // namespace jpg
