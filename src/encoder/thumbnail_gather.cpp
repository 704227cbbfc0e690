// The preview's samples, gathered from the quantised DC values while the
// scan is coded.
//
// The preview always has the grid that the reader decodes: 40 x 60 MCUs of
// two luminance samples and one Cb and one Cr sample, i.e. an 80 x 60
// luminance grid and a 40 x 60 chroma grid. Every block of the image adds
// its DC value to the preview cells it falls in, the luminance blocks to
// the luminance grid and the chroma blocks to the chroma grid, whatever the
// sampling: along an axis with at least as many blocks as cells, block b
// belongs to cell b * cells / blocks; along a shorter axis each cell takes
// its nearest block. A preview sample is the rounded average of its cell,
// taken as the low 8 bits of that value, signed. A grey image gives Cb and
// Cr samples of 0.
//
// The exports add the quantised DC values themselves: when the image's grid
// is exactly the preview's (a 4:2:2 colour image 625..640 x 473..480, or a
// grey image 633..640 x 473..480) every cell holds one block and the
// samples are the blocks' DC bytes. With block means, each DC value is
// first scaled back to its block's mean (times its divisor, / 8), so that
// the preview shows the picture at its own contrast whatever the tables.
#include "encoder/encoder_state.h"
#include "thumbnail/thumbnail_codec.h"

namespace jpg {

namespace {

constexpr uint32_t kLumaCellsWide = 2 * kThumbMcusPerRow;  // 80
constexpr uint32_t kChromaCellsWide = kThumbMcusPerRow;    // 40
constexpr uint32_t kCellsHigh = kThumbMcuRows;             // 60
// Most blocks across of a component: a 65,535-pixel line in MCUs of 16.
constexpr uint32_t kMaxBlocksWide = 2 * ((kMaxImageSide + 15) / 16);

// The cells of an axis that one block feeds, first to last.
struct CellRange {
    uint8_t first;
    uint8_t last;
};

// Where the picture's blocks fall in the grid, and how their values count.
struct GatherGrid {
    bool colour;
    uint32_t lumaAcross, lumaDown;  // luma blocks of an MCU
    uint32_t lumaBlocksHigh, chromaBlocksHigh;
    int32_t scale[2];   // what each luma and chroma DC value is multiplied by
    uint32_t divisor;   // and the sum divided by, beside the count
    CellRange lumaColumns[kMaxBlocksWide];
    CellRange chromaColumns[kMaxBlocksWide];
};

}  // namespace

struct ThumbnailGather {
    GatherGrid grid;
    uint32_t mcuRow;
    CellRange lumaRows[2];  // the cells of the current MCU row's block rows
    CellRange chromaRows;
    // Sums fit 32 bits: at most 103 x 137 blocks of |DC x scale| <= 1,100 per cell.
    int32_t lumaSum[kCellsHigh][kLumaCellsWide];
    uint32_t lumaCount[kCellsHigh][kLumaCellsWide];
    int32_t cbSum[kCellsHigh][kChromaCellsWide];
    int32_t crSum[kCellsHigh][kChromaCellsWide];
    uint32_t chromaCount[kCellsHigh][kChromaCellsWide];
};

namespace {

// The cells of an axis of `cells` cells that block b of `blocks` blocks feeds.
CellRange cellsOfBlock(uint32_t b, uint32_t blocks, uint32_t cells) {
    if (blocks >= cells) {
        const auto c = static_cast<uint8_t>(uint64_t(b) * cells / blocks);
        return {c, c};
    }
    // Cell c's nearest block is ((2c + 1) * blocks) / (2 * cells).
    CellRange range{static_cast<uint8_t>(cells), 0};
    for (uint32_t c = 0; c < cells; ++c) {
        if ((2 * c + 1) * blocks / (2 * cells) != b) continue;
        if (range.first == cells) range.first = static_cast<uint8_t>(c);
        range.last = static_cast<uint8_t>(c);
    }
    return range;
}

int32_t roundedAverage(int32_t sum, uint32_t count) {
    if (count == 0) return 0;
    const int64_t twice = 2 * int64_t(sum);
    const auto n = static_cast<int64_t>(count);
    return static_cast<int32_t>((twice + (twice < 0 ? -n : n)) / (2 * n));
}

void addBlock(int32_t (*sums)[kLumaCellsWide], uint32_t (*counts)[kLumaCellsWide], CellRange rows,
              CellRange columns, int32_t value) {
    for (uint32_t y = rows.first; y <= rows.last; ++y)
        for (uint32_t x = columns.first; x <= columns.last; ++x) {
            sums[y][x] += value;
            ++counts[y][x];
        }
}

// The cells of the current MCU row's blocks.
void findRowCells(ThumbnailGather *g) {
    const GatherGrid &grid = g->grid;
    if (g->mcuRow * grid.lumaDown >= grid.lumaBlocksHigh) return;
    for (uint32_t k = 0; k < grid.lumaDown; ++k)
        g->lumaRows[k] = cellsOfBlock(g->mcuRow * grid.lumaDown + k, grid.lumaBlocksHigh, kCellsHigh);
    g->chromaRows = cellsOfBlock(g->mcuRow, grid.chromaBlocksHigh, kCellsHigh);
}

void addChroma(ThumbnailGather *g, CellRange rows, CellRange columns, int32_t cb, int32_t cr) {
    for (uint32_t y = rows.first; y <= rows.last; ++y)
        for (uint32_t x = columns.first; x <= columns.last; ++x) {
            g->cbSum[y][x] += cb;
            g->crSum[y][x] += cr;
            ++g->chromaCount[y][x];
        }
}

}  // namespace

uint32_t thumbnailGatherBytes() { return sizeof(ThumbnailGather); }

void startThumbnailGather(ThumbnailGather *gather, const EncoderState *state, bool blockMeans) {
    GatherGrid &grid = gather->grid;
    grid.colour = state->colourMode == 3;
    grid.lumaAcross = state->scanComponents == 1 ? 1 : state->components[0].hSamp;
    grid.lumaDown = state->scanComponents == 1 ? 1 : state->components[0].vSamp;
    const uint32_t lumaBlocksWide = grid.lumaAcross * state->mcusPerRow;
    grid.lumaBlocksHigh = grid.lumaDown * state->mcuRows;
    grid.chromaBlocksHigh = state->mcuRows;
    for (uint32_t b = 0; b < lumaBlocksWide && b < kMaxBlocksWide; ++b)
        grid.lumaColumns[b] = cellsOfBlock(b, lumaBlocksWide, kLumaCellsWide);
    for (uint32_t b = 0; b < state->mcusPerRow && b < kMaxBlocksWide; ++b)
        grid.chromaColumns[b] = cellsOfBlock(b, state->mcusPerRow, kChromaCellsWide);
    grid.divisor = blockMeans ? 8 : 1;
    for (uint32_t i = 0; i < 2; ++i)
        grid.scale[i] = blockMeans && i < state->scanComponents
                            ? state->quantTables[state->components[i].quantSel & 3][0]
                            : 1;
    gather->mcuRow = 0;
    findRowCells(gather);
}

void startThumbnailGatherLike(ThumbnailGather *gather, const ThumbnailGather *like, uint32_t firstRow) {
    gather->grid = like->grid;
    gather->mcuRow = firstRow;
    findRowCells(gather);
}

void addThumbnailGather(ThumbnailGather *into, const ThumbnailGather *from) {
    for (uint32_t y = 0; y < kCellsHigh; ++y) {
        for (uint32_t x = 0; x < kLumaCellsWide; ++x) {
            into->lumaSum[y][x] += from->lumaSum[y][x];
            into->lumaCount[y][x] += from->lumaCount[y][x];
        }
        for (uint32_t x = 0; x < kChromaCellsWide; ++x) {
            into->cbSum[y][x] += from->cbSum[y][x];
            into->crSum[y][x] += from->crSum[y][x];
            into->chromaCount[y][x] += from->chromaCount[y][x];
        }
    }
}

void gatherMcuDc(ThumbnailGather *gather, uint32_t mcuColumn, const int32_t dc[]) {
    ThumbnailGather *g = gather;
    const GatherGrid &grid = g->grid;
    if (g->mcuRow * grid.lumaDown >= grid.lumaBlocksHigh || mcuColumn * grid.lumaAcross >= kMaxBlocksWide) return;
    for (uint32_t k = 0; k < grid.lumaDown; ++k)
        for (uint32_t l = 0; l < grid.lumaAcross; ++l)
            addBlock(g->lumaSum, g->lumaCount, g->lumaRows[k], grid.lumaColumns[mcuColumn * grid.lumaAcross + l],
                     grid.scale[0] * dc[k * grid.lumaAcross + l]);
    if (!grid.colour) return;
    const uint32_t chroma = grid.lumaAcross * grid.lumaDown;  // Cb's block, then Cr's
    addChroma(g, g->chromaRows, grid.chromaColumns[mcuColumn], grid.scale[1] * dc[chroma],
              grid.scale[1] * dc[chroma + 1]);
}

void endGatherRow(ThumbnailGather *gather) {
    ++gather->mcuRow;
    findRowCells(gather);
}

void thumbnailSamples(const ThumbnailGather *g, uint8_t *samples) {
    for (uint32_t y = 0; y < kCellsHigh; ++y)
        for (uint32_t x = 0; x < kChromaCellsWide; ++x) {
            uint8_t *s = samples + 4 * (y * kChromaCellsWide + x);
            const uint32_t d = g->grid.divisor;
            s[0] = static_cast<uint8_t>(roundedAverage(g->lumaSum[y][2 * x], d * g->lumaCount[y][2 * x]));
            s[1] = static_cast<uint8_t>(roundedAverage(g->lumaSum[y][2 * x + 1], d * g->lumaCount[y][2 * x + 1]));
            s[2] = static_cast<uint8_t>(roundedAverage(g->cbSum[y][x], d * g->chromaCount[y][x]));
            s[3] = static_cast<uint8_t>(roundedAverage(g->crSum[y][x], d * g->chromaCount[y][x]));
        }
}

}  // namespace jpg
