// The fast strip loop of iExportJPG: the same strips, planes and blocks as
// the reference loop, with the fast kernels, the 64-bit bit writer and, for
// larger pictures, two threads.
//
// The front end reads a strip, converts it to planes, pads and averages
// them, transforms and quantises every block of the MCU row into a row of
// coefficients and adds the MCU's DC values to the preview. The back end
// Huffman-codes a row of coefficients and writes the bytes. On one thread
// they alternate; on two, the front end runs ahead by at most
// kQueuedRows rows.
#include <atomic>
#include <cstring>

#include "encoder/encoder_kernels.h"
#include "encoder/encoder_state.h"
#include "frame/threads.h"

namespace jpg {

namespace {

// One block of quantised coefficients in natural order and the mask of its
// non-zero ones in zigzag order.
struct CoefficientBlock {
    int16_t coefficients[64];
    uint64_t nonzero;
};

// Bytes of entropy-coded data per file write.
constexpr uint32_t kScanBufferBytes = 1u << 17;

// What the front end holds: one strip of source rows, the full-resolution
// planes, the averaged chroma planes, the prepared quantisation tables.
struct FrontEnd {
    const EncoderState *state = nullptr;
    const EncoderKernels *kernels = nullptr;
    const StripSource *source = nullptr;
    ThumbnailGather *gather = nullptr;
    LockedBlock<uint8_t> strip;
    LockedBlock<uint8_t> full[3];
    LockedBlock<uint8_t> averaged[3];
    uint8_t *fullPlanes[3] = {};
    const uint8_t *componentPlanes[3] = {};  // the plane each component's blocks come from
    uint32_t paddedStripWidth = 0;
    uint32_t blocksPerRow = 0;
    QuantReciprocals reciprocals[2];
    uint32_t nextRow = 0;  // first picture row of the next strip

    Result make() {
        const EncoderState &s = *state;
        if (!makeQuantReciprocals(s.quantTables[0], reciprocals[0]) ||
            !makeQuantReciprocals(s.quantTables[1], reciprocals[1]))
            return Result::Unsupported;
        if (!strip.make({kStripHeight, source->rowStride})) return Result::NoMemory;
        paddedStripWidth = roundUpWide(s.width, 8u * s.maxH);
        for (uint32_t i = 0; i < s.scanComponents; ++i) {
            const EncoderComponent &c = s.components[i];
            if (!full[i].make({paddedStripWidth, kStripHeight})) return Result::NoMemory;
            fullPlanes[i] = full[i].get();
            componentPlanes[i] = fullPlanes[i];
            if (c.hSamp == s.maxH && c.vSamp == s.maxV) continue;
            // The encoder's only subsampled layout: 2 x 1 chroma.
            if (s.maxH / c.hSamp != 2 || c.vSamp != s.maxV) return Result::Unsupported;
            if (!averaged[i].make({c.paddedWidth, kStripHeight})) return Result::NoMemory;
            componentPlanes[i] = averaged[i].get();
        }
        blocksPerRow = s.mcusPerRow * s.blocksPerMcu;
        return Result::Ok;
    }

    // Reads, converts and transforms the next strip into `blocks`.
    Result transformNextStrip(CoefficientBlock *blocks) {
        const EncoderState &s = *state;
        const uint32_t y = nextRow;
        const uint32_t rows = s.height - y < kStripHeight ? s.height - y : kStripHeight;
        nextRow += kStripHeight;
        const Result r = source->read(source->context, strip.get(), rows);
        if (r != Result::Ok) return r;
        const bool lastStrip = rows != kStripHeight || y + kStripHeight == s.height;
        convertStrip(rows);
        if (paddedStripWidth > s.width || lastStrip) padStripEdges(&s, paddedStripWidth, rows, fullPlanes);
        averageStrip();
        transformRow(blocks);
        endGatherRow(gather);
        return Result::Ok;
    }

    void convertStrip(uint32_t rows) {
        const EncoderState &s = *state;
        const uint8_t *src = strip.get();
        for (uint32_t r = 0; r < rows; ++r, src += source->rowStride) {
            const size_t at = static_cast<size_t>(r) * paddedStripWidth;
            if (s.colourMode == 1)
                std::memcpy(fullPlanes[0] + at, src, s.width);
            else
                kernels->convertRow(src, s.width, source->bytesPerPixel, fullPlanes[0] + at, fullPlanes[1] + at,
                                    fullPlanes[2] + at);
        }
    }

    void averageStrip() {
        const EncoderState &s = *state;
        for (uint32_t i = 0; i < s.scanComponents; ++i) {
            if (componentPlanes[i] == fullPlanes[i]) continue;
            const uint32_t width = s.components[i].paddedWidth;
            for (uint32_t r = 0; r < kStripHeight; ++r)
                kernels->averagePairs(fullPlanes[i] + static_cast<size_t>(r) * paddedStripWidth,
                                      averaged[i].get() + static_cast<size_t>(r) * width, width);
        }
    }

    // Every block of the MCU row, in coding order, and the preview's DCs.
    void transformRow(CoefficientBlock *blocks) {
        const EncoderState &s = *state;
        for (uint32_t m = 0; m < s.mcusPerRow; ++m) {
            CoefficientBlock *mcu = blocks + static_cast<size_t>(m) * s.blocksPerMcu;
            uint32_t b = 0;
            for (uint32_t j = 0; j < s.scanComponents; ++j) {
                const EncoderComponent &c = s.components[j];
                const QuantReciprocals &table = reciprocals[c.quantSel & 1];
                const uint8_t *origin = componentPlanes[j] + static_cast<size_t>(c.mcuWidthBlocks) * m * 8;
                for (uint32_t k = 0; k < c.mcuHeightBlocks; ++k)
                    for (uint32_t l = 0; l < c.mcuWidthBlocks; ++l, ++b)
                        mcu[b].nonzero = kernels->transformBlock(
                            origin + static_cast<size_t>(k) * 8 * c.paddedWidth + l * 8, c.paddedWidth, table,
                            mcu[b].coefficients);
            }
            int32_t dc[4] = {};
            for (uint32_t i = 0; i < 4 && i < b; ++i) dc[i] = mcu[i].coefficients[0];
            gatherMcuDc(gather, m, dc);
        }
    }
};

// What the back end holds: the bit writer, its buffer, the codes.
struct BackEnd {
    const EncoderState *state = nullptr;
    LockedBlock<uint8_t> buffer;
    ScanWriter writer;
    BlockCodes codes[4];  // per scan component
    int32_t predictors[4] = {};

    Result make(HFILE file) {
        if (!buffer.make({kScanBufferBytes})) return Result::NoMemory;
        writer.buffer = buffer.get();
        writer.capacity = kScanBufferBytes;
        writer.file = file;
        for (uint32_t i = 0; i < state->scanComponents; ++i) {
            const EncoderComponent &c = state->components[i];
            prepareBlockCodes(*state->dcCodes[c.dcSel & 1], *state->acCodes[c.acSel & 1], codes[i]);
        }
        return Result::Ok;
    }

    void codeRow(const CoefficientBlock *blocks) {
        const EncoderState &s = *state;
        for (uint32_t m = 0; m < s.mcusPerRow; ++m)
            for (uint32_t b = 0; b < s.blocksPerMcu; ++b) {
                const uint32_t c = s.mcuBlockComponent[b];
                encodeBlockFast(writer, codes[c], blocks->coefficients, blocks->nonzero, predictors[c]);
                ++blocks;
            }
    }
};

// Rows of coefficients between the two threads: the front end fills a slot
// when it is empty, the back end codes it when it is filled. A slot marked
// `last` ends the scan, with the front end's result.
constexpr uint32_t kQueuedRows = 4;

struct RowQueue {
    struct Slot {
        CoefficientBlock *blocks = nullptr;
        Result result = Result::Ok;
        bool last = false;
    };
    LockedBlock<CoefficientBlock> rows;
    Slot slots[kQueuedRows];
    Semaphore filled{0};
    Semaphore empty{kQueuedRows};
    std::atomic<bool> writeFailed{false};
    BackEnd *back = nullptr;

    bool make(uint32_t blocksPerRow) {
        if (!filled.ok() || !empty.ok()) return false;
        if (!rows.make({kQueuedRows, blocksPerRow, sizeof(CoefficientBlock)})) return false;
        for (uint32_t i = 0; i < kQueuedRows; ++i) slots[i].blocks = rows.get() + static_cast<size_t>(i) * blocksPerRow;
        return true;
    }

    // The back end's thread: codes filled rows until the last; after a
    // failed write it only empties them.
    static void codeRows(void *context) {
        auto *queue = static_cast<RowQueue *>(context);
        for (uint32_t n = 0;; ++n) {
            queue->filled.wait();
            const Slot &slot = queue->slots[n % kQueuedRows];
            if (slot.result == Result::Ok && !queue->writeFailed.load(std::memory_order_relaxed)) {
                queue->back->codeRow(slot.blocks);
                if (queue->back->writer.failed) queue->writeFailed.store(true);
            }
            const bool last = slot.last;
            queue->empty.post();
            if (last) return;
        }
    }

    // The front end, on the caller's thread: fills rows until the last strip
    // or a failure.
    Result transformRows(FrontEnd &front, uint32_t strips) {
        for (uint32_t n = 0;; ++n) {
            empty.wait();
            Slot &slot = slots[n % kQueuedRows];
            slot.result = writeFailed.load() ? Result::IoError : front.transformNextStrip(slot.blocks);
            slot.last = slot.result != Result::Ok || n + 1 == strips;
            const Result result = slot.result;
            const bool last = slot.last;
            filled.post();
            if (last) return result;
        }
    }
};

}  // namespace

Result encodeScanFast(EncoderState *state, ThumbnailGather *gather, const StripSource &source,
                      const EncoderKernels &kernels, uint32_t threads) {
    FrontEnd front;
    front.state = state;
    front.kernels = &kernels;
    front.source = &source;
    front.gather = gather;
    Result r = front.make();
    if (r != Result::Ok) return r;
    BackEnd back;
    back.state = state;
    if ((r = back.make(state->jpegFile)) != Result::Ok) return r;
    const uint32_t strips = (state->height + kStripHeight - 1) / kStripHeight;

    if (threads > 1) {
        RowQueue queue;
        queue.back = &back;
        Thread coder;
        // Without a queue or a second thread the call runs on one thread.
        if (queue.make(front.blocksPerRow) && coder.start(&RowQueue::codeRows, &queue)) {
            r = queue.transformRows(front, strips);
            coder.join();
            if (r != Result::Ok) return r;
            if (back.writer.failed) return Result::IoError;
            return finishScanFast(back.writer);
        }
    }

    LockedBlock<CoefficientBlock> row;
    if (!row.make({front.blocksPerRow, sizeof(CoefficientBlock)})) return Result::NoMemory;
    for (uint32_t n = 0; n < strips; ++n) {
        if ((r = front.transformNextStrip(row.get())) != Result::Ok) return r;
        back.codeRow(row.get());
        if (back.writer.failed) return Result::IoError;
    }
    return finishScanFast(back.writer);
}

}  // namespace jpg
