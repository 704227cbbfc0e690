// The preview's samples, gathered from the quantised DC values while the
// scan is coded.
//
// The preview always has the grid that the reader decodes: 40 x 60 MCUs of
// two luminance samples and one Cb and one Cr sample, i.e. an 80 x 60
// luminance grid and a 40 x 60 chroma grid. Every block of the image adds
// its quantised DC value to the preview cells it falls in: along an axis
// with at least as many blocks as cells, block b belongs to cell
// b * cells / blocks; along a shorter axis each cell takes its nearest
// block. A preview sample is the rounded average of its cell, taken as the
// low 8 bits of that value, signed. When the image's grid is exactly the
// preview's (a colour image 625..640 x 473..480, or a grey image 633..640 x
// 473..480) every cell holds one block and the samples are the blocks' DC
// bytes. A grey image gives Cb and Cr samples of 0.
#include "encoder/encoder_state.h"
#include "thumbnail/thumbnail_codec.h"

namespace jpg {

constexpr uint32_t kLumaCellsWide = 2 * kThumbMcusPerRow;  // 80
constexpr uint32_t kChromaCellsWide = kThumbMcusPerRow;    // 40
constexpr uint32_t kCellsHigh = kThumbMcuRows;             // 60

struct ThumbnailGather {
    bool colour;
    uint32_t lumaBlocksWide;
    uint32_t chromaBlocksWide;
    uint32_t blocksHigh;
    uint32_t mcuRow;
    // Sums fit 32 bits: at most 103 x 137 blocks of |DC| <= 1,024 per cell.
    int32_t lumaSum[kCellsHigh][kLumaCellsWide];
    uint32_t lumaCount[kCellsHigh][kLumaCellsWide];
    int32_t cbSum[kCellsHigh][kChromaCellsWide];
    int32_t crSum[kCellsHigh][kChromaCellsWide];
    uint32_t chromaCount[kCellsHigh][kChromaCellsWide];
};

namespace {

struct CellRange {
    uint32_t first;
    uint32_t last;  // inclusive
};

// The cells of an axis of `cells` cells that block b of `blocks` blocks feeds.
CellRange cellsOfBlock(uint32_t b, uint32_t blocks, uint32_t cells) {
    if (blocks >= cells) {
        const auto c = static_cast<uint32_t>(uint64_t(b) * cells / blocks);
        return {c, c};
    }
    // Cell c's nearest block is ((2c + 1) * blocks) / (2 * cells).
    CellRange range{cells, 0};
    for (uint32_t c = 0; c < cells; ++c) {
        if ((2 * c + 1) * blocks / (2 * cells) != b) continue;
        if (range.first == cells) range.first = c;
        range.last = c;
    }
    return range;
}

int32_t roundedAverage(int32_t sum, uint32_t count) {
    if (count == 0) return 0;
    const int64_t twice = 2 * int64_t(sum);
    const auto n = static_cast<int64_t>(count);
    return static_cast<int32_t>((twice + (twice < 0 ? -n : n)) / (2 * n));
}

}  // namespace

uint32_t thumbnailGatherBytes() { return sizeof(ThumbnailGather); }

void startThumbnailGather(ThumbnailGather *gather, const EncoderState *state) {
    gather->colour = state->colourMode == 3;
    gather->chromaBlocksWide = state->mcusPerRow;
    gather->lumaBlocksWide = gather->colour ? 2 * state->mcusPerRow : state->mcusPerRow;
    gather->blocksHigh = state->mcuRows;
    gather->mcuRow = 0;
}

void gatherMcuDc(ThumbnailGather *gather, uint32_t mcuColumn, const int32_t dc[4]) {
    if (gather->mcuRow >= gather->blocksHigh) return;
    const CellRange rows = cellsOfBlock(gather->mcuRow, gather->blocksHigh, kCellsHigh);
    const uint32_t lumaBlocks = gather->colour ? 2 : 1;
    for (uint32_t l = 0; l < lumaBlocks; ++l) {
        const CellRange cols = cellsOfBlock(lumaBlocks * mcuColumn + l, gather->lumaBlocksWide, kLumaCellsWide);
        for (uint32_t y = rows.first; y <= rows.last; ++y)
            for (uint32_t x = cols.first; x <= cols.last; ++x) {
                gather->lumaSum[y][x] += dc[l];
                ++gather->lumaCount[y][x];
            }
    }
    if (!gather->colour) return;
    const CellRange cols = cellsOfBlock(mcuColumn, gather->chromaBlocksWide, kChromaCellsWide);
    for (uint32_t y = rows.first; y <= rows.last; ++y)
        for (uint32_t x = cols.first; x <= cols.last; ++x) {
            gather->cbSum[y][x] += dc[2];
            gather->crSum[y][x] += dc[3];
            ++gather->chromaCount[y][x];
        }
}

void endGatherRow(ThumbnailGather *gather) { ++gather->mcuRow; }

void thumbnailSamples(const ThumbnailGather *g, uint8_t *samples) {
    for (uint32_t y = 0; y < kCellsHigh; ++y)
        for (uint32_t x = 0; x < kChromaCellsWide; ++x) {
            uint8_t *s = samples + 4 * (y * kChromaCellsWide + x);
            s[0] = static_cast<uint8_t>(roundedAverage(g->lumaSum[y][2 * x], g->lumaCount[y][2 * x]));
            s[1] = static_cast<uint8_t>(roundedAverage(g->lumaSum[y][2 * x + 1], g->lumaCount[y][2 * x + 1]));
            s[2] = static_cast<uint8_t>(roundedAverage(g->cbSum[y][x], g->chromaCount[y][x]));
            s[3] = static_cast<uint8_t>(roundedAverage(g->crSum[y][x], g->chromaCount[y][x]));
        }
}

}  // namespace jpg
