#include "decoder/picture_from_coefficients.h"

#include "base/bit_ops.h"
#include "base/standard_tables.h"
#include "decoder/decoder_kernels.h"
#include "decoder/import_pipeline.h"
#include "decoder/nonzero_mask.h"

namespace jpg {

namespace {

// Visits the blocks of the next MCU row: visit(plane block, component, the
// block's place in its coefficient row (in blocks)).
template <typename Visit>
void forEachBlockOfRow(DecodeContext &ctx, Visit visit) {
    const CoefficientBuffer &buffer = *ctx.coefficients;
    const uint32_t row = ctx.loadedMcuRows++;
    for (uint32_t c = 0; c < ctx.scanComponents; ++c) {
        const ComponentLayout &l = ctx.comp[c];
        const CoefficientPlane &plane = buffer.planes[c];
        const uint32_t blocksWide = l.paddedWidth / 8;
        for (uint32_t v = 0; v < l.mcuHeightBlocks; ++v) {
            const uint32_t blockRow = row * l.mcuHeightBlocks + v;
            if (blockRow >= plane.heightBlocks) break;
            for (uint32_t b = 0; b < blocksWide && b < plane.widthBlocks; ++b)
                visit(plane.block(blockRow, b), c, size_t{v} * blocksWide + b);
        }
    }
}

// A dequantised coefficient beyond the narrow transform's reach.
inline bool beyondNarrow(int32_t v) {
    return static_cast<uint32_t>(v + kNarrowLimit) > 2 * static_cast<uint32_t>(kNarrowLimit);
}

}  // namespace

void loadMcuRowDirect(DecodeContext &ctx, CoefficientRows &rows, BlockKinds &kinds) {
    const CoefficientBuffer &buffer = *ctx.coefficients;
    forEachBlockOfRow(ctx, [&](const int16_t *zigzag, uint32_t c, size_t at) {
        const int32_t *table = buffer.quant[c];
        // The block is all zero but its DC (as the transforms leave it): only
        // the DC and the non-zero AC coefficients are written, as the
        // Huffman decoder writes only the coefficients it decodes. The kind
        // as that decoder notes it: an AC coefficient makes the block
        // narrow, one beyond the limit wide, and then the DC too.
        int32_t *block = rows.rows[c] + 64 * at;
        uint8_t kind = kBlockDcOnly;
        uint64_t nonzero = nonzeroMask(zigzag) & ~uint64_t{1};
        if (nonzero != 0) kind = kBlockNarrow;
        for (; nonzero != 0; nonzero &= nonzero - 1) {
            const uint32_t j = countTrailingZeros(nonzero);
            const int32_t d = zigzag[j] * table[j];
            block[kZigzag[j]] = d;
            if (beyondNarrow(d)) kind = kBlockWide;
        }
        block[0] = zigzag[0] * table[0];
        if (kind != kBlockDcOnly && beyondNarrow(block[0])) kind = kBlockWide;
        kinds.kinds[c][at] = kind;
    });
}

void loadMcuRow(DecodeContext &ctx, CoefficientRows &rows) {
    const CoefficientBuffer &buffer = *ctx.coefficients;
    forEachBlockOfRow(ctx, [&](const int16_t *zigzag, uint32_t c, size_t at) {
        int32_t values[64];
        for (int k = 0; k < 64; ++k) values[k] = zigzag[k];
        dequantiseBlock(values, rows.rows[c] + 64 * at, buffer.quant[c]);
    });
}

Result decodeFromCoefficients(ByteSource &source, OwnedDecoderState &owned, HeaderFacts &facts,
                              const CoefficientLimits &limits, const RowSink &sink, const DecodeRequest &request,
                              std::string &reason) {
    CoefficientBuffer buffer;
    CoefficientReport report;
    const Result scans = decodeCoefficients(source, &owned.state, facts, limits, buffer, report);
    if (scans != Result::Ok && scans != Result::Damaged) {
        reason = report.reason != nullptr ? report.reason : "the file cannot be decoded";
        if (report.limit != LimitReached::None) return Result::TooLarge;
        return scans;
    }
    // The record and the facts now describe one scan of every component in
    // frame order: the buffer's layout.
    DecodeContext ctx;
    ctx.state = &owned.state;
    ctx.headers = facts;
    ctx.scaleLog2 = request.scaleLog2;
    ctx.lumaOnly = request.lumaOnly;
    ctx.coefficients = &buffer;
    layoutDecoderScan(ctx);
    const CallOptions &options = request.options;
    const uint32_t threads = resolveThreads(options, uint64_t{owned.state.width} * owned.state.height);
    const Result made = decodeScanStrips(ctx, decoderKernels(options.kernels), threads, sink);
    if (made != Result::Ok) {
        reason = made == Result::NoMemory ? "out of memory" : "the picture could not be written";
        return made;
    }
    return scans;
}

}  // namespace jpg
