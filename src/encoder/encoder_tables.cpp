// The tables fixed for a whole encode: components, sampling and the MCU
// geometry, the scaled quantisation tables and the Huffman code tables. All base
// tables are the examples of ITU-T T.81, Annex K.
#include <cmath>
#include <cstring>

#include "encoder/encoder_state.h"
#include "base/huffman_codes.h"
#include "base/standard_tables.h"

namespace jpg {

namespace {

// Tables K.1 and K.2 in natural order (row by row).
constexpr uint8_t kLuminanceBase[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr uint8_t kChrominanceBase[64] = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
    24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// The component table: grey, then Y, Cb, Cr of a colour frame, whose luma
// sampling factors the sampling sets (chroma is always 1 x 1).
constexpr EncoderComponent kGreyComponent = {1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr EncoderComponent kColourComponents[3] = {
    {1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {2, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0},
    {3, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0},
};

void fillTable(HuffmanCodeTable *table, const uint8_t counts[16], const uint8_t *symbols, uint32_t symbolCount) {
    table->counts[0] = 0;
    std::memcpy(table->counts + 1, counts, 16);
    std::memcpy(table->symbols, symbols, symbolCount);
}

}  // namespace

int32_t qualityScale(uint16_t level) { return static_cast<int32_t>(std::pow(double(level), 0.6) + 0.5); }

void setupComponents(EncoderState *state, Sampling sampling) {
    if (sampling == Sampling::Grey) {
        state->frameComponents = 1;
        state->colourMode = 1;
        state->components[0] = kGreyComponent;
    } else {
        state->frameComponents = 3;
        state->colourMode = 3;
        for (int i = 0; i < 3; ++i) state->components[i] = kColourComponents[i];
        state->components[0].hSamp = sampling == Sampling::Ycc444 ? 1 : 2;
        state->components[0].vSamp = sampling == Sampling::Ycc420 ? 2 : 1;
    }
    state->scanComponents = state->frameComponents;
    state->maxH = 1;
    state->maxV = 1;
    for (uint32_t i = 0; i < state->frameComponents; ++i) {
        if (state->components[i].hSamp > state->maxH) state->maxH = state->components[i].hSamp;
        if (state->components[i].vSamp > state->maxV) state->maxV = state->components[i].vSamp;
    }
    for (uint32_t i = 0; i < state->frameComponents; ++i) {
        EncoderComponent &c = state->components[i];
        c.sampleWidth = componentSamples(state->width, c.hSamp, state->maxH);
        c.sampleHeight = componentSamples(state->height, c.vSamp, state->maxV);
    }
    const McuGrid grid =
        layoutScan(state->width, state->height, state->maxH, state->maxV, state->components, state->scanComponents);
    state->mcusPerRow = grid.mcusPerRow;
    state->mcuRows = grid.mcuRows;
    state->blocksPerMcu = static_cast<uint16_t>(grid.blocksPerMcu);
    for (uint32_t b = 0; b < kMaxBlocksPerMcu; ++b) state->mcuBlockComponent[b] = grid.blockComponent[b];
}

void scaleQuantTables(EncoderState *state, uint16_t level) {
    const int32_t s = qualityScale(level);
    for (int k = 0; k < 64; ++k) {
        const int n = kZigzag[k];
        state->quantTables[0][k] = (s * kLuminanceBase[n]) >> 3;
        state->quantTables[1][k] = (s * kChrominanceBase[n]) >> 3;
        // A scale of 0 (level 0) would make every divisor 0: such a table
        // cannot quantise anything, so its divisors become 1.
        if (state->quantTables[0][k] < 1) state->quantTables[0][k] = 1;
        if (state->quantTables[1][k] < 1) state->quantTables[1][k] = 1;
    }
}

void scaleQuantTablesToQuality(EncoderState *state, int32_t quality) {
    // A percentage of the base tables: 5000 / quality below 50, 200 - 2 x
    // quality from 50 on (50 gives the tables themselves, 100 all ones).
    const int32_t percent = quality < 50 ? 5000 / quality : 200 - 2 * quality;
    for (int k = 0; k < 64; ++k) {
        const int n = kZigzag[k];
        const int32_t luma = (kLuminanceBase[n] * percent + 50) / 100;
        const int32_t chroma = (kChrominanceBase[n] * percent + 50) / 100;
        // At least 1; at quality 1 the largest is 121 x 50 = 6,050, well
        // within 16 bits and the reciprocals' reach (no upper limit needed).
        state->quantTables[0][k] = luma < 1 ? 1 : luma;
        state->quantTables[1][k] = chroma < 1 ? 1 : chroma;
    }
}

void buildHuffmanCodes(HuffmanCodeTable *table) {
    uint8_t sizes[257];
    uint16_t codes[256];
    const uint32_t n = assignHuffmanCodes(table->counts, sizes, codes);
    for (uint32_t k = 0; k < n; ++k) {
        const uint8_t v = table->symbols[k];
        table->codes[v] = codes[k];
        table->lengths[v] = sizes[k];
    }
}

void setupHuffmanTables(EncoderState *state) {
    fillTable(state->dcCodes[0], kDcLuminanceCounts, kDcSymbols, sizeof kDcSymbols);
    fillTable(state->dcCodes[1], kDcChrominanceCounts, kDcSymbols, sizeof kDcSymbols);
    fillTable(state->acCodes[0], kAcLuminanceCounts, kAcLuminanceSymbols, sizeof kAcLuminanceSymbols);
    fillTable(state->acCodes[1], kAcChrominanceCounts, kAcChrominanceSymbols, sizeof kAcChrominanceSymbols);
    bool dcBuilt[4] = {}, acBuilt[4] = {};
    for (uint32_t i = 0; i < state->scanComponents; ++i) {
        const EncoderComponent &c = state->components[i];
        if (!dcBuilt[c.dcSel]) {
            buildHuffmanCodes(state->dcCodes[c.dcSel]);
            dcBuilt[c.dcSel] = true;
        }
        if (!acBuilt[c.acSel]) {
            buildHuffmanCodes(state->acCodes[c.acSel]);
            acBuilt[c.acSel] = true;
        }
        state->dcPredictors[i] = 0;
    }
}

Result setupEncoderTables(EncoderState *state, const EncodeSettings &settings) {
    EncoderBlocks &blocks = state->blocks;
    if (!blocks.out.make(kOutBufferBytes)) return Result::NoMemory;
    state->outBuffer = blocks.out.get();
    for (int t = 0; t < 2; ++t) {
        if (!blocks.dc[t].make(sizeof(HuffmanCodeTable)) || !blocks.ac[t].make(sizeof(HuffmanCodeTable)))
            return Result::NoMemory;
        state->dcCodes[t] = blocks.dc[t].get();
        state->acCodes[t] = blocks.ac[t].get();
    }
    state->outCount = 0;
    state->bitBuffer = 0;
    state->bitCount = 0;
    state->restartInterval = settings.restartInterval;
    state->restartsToGo = settings.restartInterval;
    state->nextRestart = 0;
    setupComponents(state, settings.sampling);
    if (scalesByQuality(settings))
        scaleQuantTablesToQuality(state, settings.quality);
    else
        scaleQuantTables(state, settings.level);
    setupHuffmanTables(state);
    return Result::Ok;
}

void releaseEncoderTables(EncoderState *state) {
    for (int t = 0; t < 2; ++t) {
        state->blocks.dc[t].reset();
        state->blocks.ac[t].reset();
    }
    state->blocks.out.reset();
    for (int t = 0; t < 4; ++t) state->dcCodes[t] = state->acCodes[t] = nullptr;
    state->outBuffer = nullptr;
}

}  // namespace jpg
