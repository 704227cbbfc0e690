// The fast strip loop of the encoder: the same strips, planes and blocks as
// the reference loop, with the fast kernels, the 64-bit bit writer and, for
// larger pictures, two threads.
//
// A row slot holds one MCU row: its component planes and its coefficients.
// The front end takes a strip from the row source and converts it into the
// slot's planes (padding and averaging as the reference does). The back end
// adds every MCU's DC values to the preview, Huffman-codes the row (with its
// restart markers) and writes the bytes. On one thread each row is
// transformed and coded a few MCUs at a time over a slot of its own.
//
// Two threads share the work in one of two ways:
// - A source that reads its rows in order (a file) feeds a queue: the front
//   end runs ahead by at most kQueuedRows slots; the row's transforms are
//   claimed a few MCUs at a time by whichever thread is free: the back end
//   transforms each row it comes to, and the front end, when it finds no
//   free slot, helps with the oldest rows' transforms. The import's pipeline
//   (src/decoder/import_pipeline.cpp) mirrors it.
// - A source that gives any rows (the caller's pixels) is cut into two bands
//   of MCU rows, each coded whole by a thread of its own, so that nothing
//   passes between the threads' caches but the second band's bits. That
//   band starts with the DC predictions and restart count the first band
//   ends with, and its writer keeps its bits raw (unstuffed) and notes
//   where its restart markers go; at the end the first band's writer codes
//   them on, stuffing them and filling before each marker as it would have
//   had it coded them itself. So the file is the same, bit for bit.
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
    // A raw writer's: where its restart markers go, in raw bits.
    uint64_t *restartBits = nullptr;
    uint32_t restartsNoted = 0;

    bool averaged(uint32_t i) const {
        const EncoderComponent &c = state->components[i];
        return c.hSamp != state->maxH || c.vSamp != state->maxV;
    }

    // Sets the pipeline up to write through `sink`.
    Result make(ByteSink &sink) {
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
        startScanWriter(writer, sink);
        if (!sink.ok()) return sink.failure;
        restartsToGo = s.restartInterval;
        for (uint32_t i = 0; i < s.scanComponents; ++i) {
            const EncoderComponent &c = s.components[i];
            prepareBlockCodes(*s.dcCodes[c.dcSel & 1], *s.acCodes[c.acSel & 1], codes[i]);
        }
        return Result::Ok;
    }

    // Front end: the strip of MCU row `mcuRow` into the slot's planes; a
    // source that reads its rows in order is asked for the next strip.
    Result fillSlot(RowSlot &slot, uint32_t mcuRow) {
        const EncoderState &s = *state;
        const uint32_t height = stripHeight(&s);
        const uint32_t y = mcuRow * height;
        const uint32_t rows = s.height - y < height ? s.height - y : height;
        const uint8_t *src = nullptr;
        size_t stride = 0;
        const Result r = source->rowsAt != nullptr ? source->rowsAt(source->context, y, rows, src, stride)
                                                   : source->next(source->context, rows, src, stride);
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
                    if (writer.raw)
                        restartBits[restartsNoted++] = rawBitsWritten(writer);
                    else
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

    // Codes MCU rows [first, end) over `slot`, a few MCUs at a time.
    Result codeRows(RowSlot &slot, uint32_t first, uint32_t end) {
        const uint32_t mcus = state->mcusPerRow;
        for (uint32_t row = first; row < end; ++row) {
            if (const Result r = fillSlot(slot, row); r != Result::Ok) return r;
            for (uint32_t m = 0; m < mcus; m += kMcusPerClaim) {
                const uint32_t stop = mcus - m < kMcusPerClaim ? mcus : m + kMcusPerClaim;
                transformMcus(slot, m, stop, slot.blocks);
                codeMcus(slot.blocks, m, stop);
            }
            endRow();
            if (!writer.sink->ok()) return writer.sink->failure;
        }
        return Result::Ok;
    }

    // Makes the pipeline code on from MCU row `row` > 0: the DC predictions
    // of the last MCU of the row before (transformed over `slot`), and the
    // restart count of the MCUs before.
    Result continueAt(RowSlot &slot, uint32_t row) {
        const EncoderState &s = *state;
        const uint32_t last = s.mcusPerRow - 1;
        if (const Result r = fillSlot(slot, row - 1); r != Result::Ok) return r;
        transformMcus(slot, last, last + 1, slot.blocks);
        for (uint32_t b = 0; b < s.blocksPerMcu; ++b) predictors[s.mcuBlockComponent[b]] = slot.blocks[b].coefficients[0];
        if (s.restartInterval != 0) {
            // A marker comes before MCU k > 0 when k is a multiple of the interval.
            const uint64_t k = uint64_t{row} * s.mcusPerRow;
            restartsToGo = k % s.restartInterval == 0 ? 0 : s.restartInterval - k % s.restartInterval;
            nextRestart = static_cast<uint32_t>((k - 1) / s.restartInterval % 8);
        }
        return Result::Ok;
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
            slot.result = writeFailed.load() ? Result::IoError : p.fillSlot(slot, n);
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
Result runOnOneThread(Pipeline &pipeline) {
    RowSlots own;
    if (!own.make(pipeline, 1, kMcusPerClaim)) return Result::NoMemory;
    const Result r = pipeline.codeRows(own.slots[0], 0, pipeline.state->mcuRows);
    return r != Result::Ok ? r : finishScanFast(pipeline.writer);
}

// The second band: its own pipeline, slot, raw bits and preview record.
struct SecondBand {
    Pipeline pipeline;
    RowSlots slot;
    ByteSink bits;
    LockedBlock<uint64_t> restarts;
    LockedBlock<uint8_t> gather;
    uint32_t firstRow = 0;
    uint32_t firstRestart = 0;  // the number of its first restart marker
    uint64_t bitCount = 0;
    Result result = Result::Ok;

    Result make(const Pipeline &first, uint32_t row) {
        const EncoderState &s = *first.state;
        firstRow = row;
        pipeline.state = first.state;
        pipeline.kernels = first.kernels;
        pipeline.source = first.source;
        // Room for 1 bit a pixel of the band at first.
        bits.toMemory(uint64_t{s.width} * (s.height - row * stripHeight(&s)) / 8);
        if (first.gather != nullptr) {
            if (!gather.make(thumbnailGatherBytes())) return Result::NoMemory;
            pipeline.gather = reinterpret_cast<ThumbnailGather *>(gather.get());
        }
        if (const Result r = pipeline.make(bits); r != Result::Ok) return r;
        pipeline.writer.raw = true;
        if (!slot.make(pipeline, 1, kMcusPerClaim)) return Result::NoMemory;
        if (s.restartInterval != 0) {
            const uint64_t before = (uint64_t{row} * s.mcusPerRow - 1) / s.restartInterval;
            const uint64_t all = (uint64_t{s.mcuRows} * s.mcusPerRow - 1) / s.restartInterval;
            if (!restarts.make({all - before + 1, sizeof(uint64_t)})) return Result::NoMemory;
            pipeline.restartBits = restarts.get();
            firstRestart = static_cast<uint32_t>(before % 8);
        }
        return Result::Ok;
    }

    static void code(void *context) {
        auto &band = *static_cast<SecondBand *>(context);
        Pipeline &p = band.pipeline;
        RowSlot &own = band.slot.slots[0];
        band.result = p.continueAt(own, band.firstRow);
        if (band.result == Result::Ok) band.result = p.codeRows(own, band.firstRow, p.state->mcuRows);
        if (band.result == Result::Ok) band.bitCount = finishRawScan(p.writer);
        if (band.result == Result::Ok) band.result = band.bits.failure;
    }

    // The first band's pipeline codes on with this band's bits and preview.
    void joinTo(Pipeline &first) const {
        uint64_t at = 0;
        uint32_t n = firstRestart;
        for (uint32_t i = 0; i < pipeline.restartsNoted; ++i, n = (n + 1) & 7) {
            appendRawBits(first.writer, bits.bytes(), at, pipeline.restartBits[i]);
            restartScanFast(first.writer, n);
            at = pipeline.restartBits[i];
        }
        appendRawBits(first.writer, bits.bytes(), at, bitCount);
        if (first.gather != nullptr) addThumbnailGather(first.gather, pipeline.gather);
    }
};

// The picture in two bands of MCU rows, the first on the caller's thread,
// the second on a worker; false in `started` when the worker could not be
// started (nothing was coded then).
Result runInTwoBands(Pipeline &pipeline, bool &started) {
    started = false;
    const EncoderState &s = *pipeline.state;
    SecondBand second;
    RowSlots own;
    const uint32_t split = s.mcuRows / 2;
    Result r = second.make(pipeline, split);
    if (r == Result::Ok && !own.make(pipeline, 1, kMcusPerClaim)) r = Result::NoMemory;
    if (r != Result::Ok) return r;
    if (pipeline.gather != nullptr) startThumbnailGatherLike(second.pipeline.gather, pipeline.gather, split);
    Thread worker;
    started = worker.start(&SecondBand::code, &second);
    if (!started) return Result::Ok;
    r = pipeline.codeRows(own.slots[0], 0, split);
    worker.join();
    if (r != Result::Ok) return r;
    if (second.result != Result::Ok) return second.result;
    second.joinTo(pipeline);
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
    if (const Result r = pipeline.make(*state->sink); r != Result::Ok) return r;
    if (threads > 1 && state->mcuRows > 1) {
        // Without a second thread the call runs on one thread.
        bool started = false;
        const Result r = source.rowsAt != nullptr ? runInTwoBands(pipeline, started)
                                                  : runOnTwoThreads(pipeline, state->mcuRows, started);
        if (started) return r;
    }
    return runOnOneThread(pipeline);
}

}  // namespace jpg
