// The tables fixed for a whole encode: components and sampling, the scaled
// quantisation tables, the Huffman code tables and the MCU geometry. All base
// tables are the examples of ITU-T T.81, Annex K.
#include <cmath>
#include <cstring>

#include "encoder/encoder_state.h"
#include "frame/huffman_codes.h"
#include "frame/standard_tables.h"

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

// The component table: grey, then Y, Cb, Cr of the 4:2:2 colour frame.
constexpr EncoderComponent kGreyComponent = {1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr EncoderComponent kColourComponents[3] = {
    {1, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {2, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0},
    {3, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0},
};

Result fillTable(HGLOBAL handle, const uint8_t counts[16], const uint8_t *symbols, uint32_t symbolCount) {
    Locked<HuffmanCodeTable> table(handle);
    if (!table) return Result::NoMemory;
    table->counts[0] = 0;
    std::memcpy(table->counts + 1, counts, 16);
    std::memcpy(table->symbols, symbols, symbolCount);
    return Result::Ok;
}

}  // namespace

int32_t qualityScale(uint16_t level) { return static_cast<int32_t>(std::pow(double(level), 0.6) + 0.5); }

void setupComponents(EncoderState *state) {
    if (singleComponent) {
        state->frameComponents = 1;
        state->colourMode = 1;
        state->components[0] = kGreyComponent;
    } else {
        state->frameComponents = 3;
        state->colourMode = 3;
        for (int i = 0; i < 3; ++i) state->components[i] = kColourComponents[i];
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
        c.sampleWidth = (state->width * c.hSamp + state->maxH - 1) / state->maxH;
        c.sampleHeight = (state->height * c.vSamp + state->maxV - 1) / state->maxV;
    }
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

Result buildHuffmanCodes(HGLOBAL handle) {
    Locked<HuffmanCodeTable> table(handle);
    if (!table) return Result::NoMemory;
    uint8_t sizes[257];
    uint16_t codes[256];
    const uint32_t n = assignHuffmanCodes(table->counts, sizes, codes);
    for (uint32_t k = 0; k < n; ++k) {
        const uint8_t v = table->symbols[k];
        table->codes[v] = codes[k];
        table->lengths[v] = sizes[k];
    }
    return Result::Ok;
}

Result setupHuffmanTables(EncoderState *state) {
    Result r;
    if ((r = fillTable(state->dcTables[0], kDcLuminanceCounts, kDcSymbols, 12)) != Result::Ok) return r;
    if ((r = fillTable(state->dcTables[1], kDcChrominanceCounts, kDcSymbols, 12)) != Result::Ok) return r;
    if ((r = fillTable(state->acTables[0], kAcLuminanceCounts, kAcLuminanceSymbols, 162)) != Result::Ok) return r;
    if ((r = fillTable(state->acTables[1], kAcChrominanceCounts, kAcChrominanceSymbols, 162)) != Result::Ok)
        return r;
    bool dcBuilt[4] = {}, acBuilt[4] = {};
    for (uint32_t i = 0; i < state->scanComponents; ++i) {
        const EncoderComponent &c = state->components[i];
        if (!dcBuilt[c.dcSel]) {
            if ((r = buildHuffmanCodes(state->dcTables[c.dcSel])) != Result::Ok) return r;
            dcBuilt[c.dcSel] = true;
        }
        if (!acBuilt[c.acSel]) {
            if ((r = buildHuffmanCodes(state->acTables[c.acSel])) != Result::Ok) return r;
            acBuilt[c.acSel] = true;
        }
        state->dcPredictors[i] = 0;
    }
    return Result::Ok;
}

void layoutEncoderScan(EncoderState *state) {
    if (state->scanComponents == 1) {
        EncoderComponent &c = state->components[0];
        c.mcuWidthBlocks = c.mcuHeightBlocks = c.mcuBlocks = 1;
        c.paddedWidth = roundUpWide(c.sampleWidth, 8);
        c.paddedHeight = roundUpWide(c.sampleHeight, 8);
        state->mcusPerRow = c.paddedWidth / 8;
        state->mcuRows = c.paddedHeight / 8;
        state->blocksPerMcu = 1;
        state->mcuBlockComponent[0] = 0;
        return;
    }
    state->mcusPerRow = (state->width + 8u * state->maxH - 1) / (8u * state->maxH);
    state->mcuRows = (state->height + 8u * state->maxV - 1) / (8u * state->maxV);
    state->blocksPerMcu = 0;
    for (uint16_t i = 0; i < state->scanComponents; ++i) {
        EncoderComponent &c = state->components[i];
        c.mcuWidthBlocks = c.hSamp;
        c.mcuHeightBlocks = c.vSamp;
        c.mcuBlocks = static_cast<uint16_t>(c.hSamp * c.vSamp);
        c.paddedWidth = roundUpWide(c.sampleWidth, 8u * c.hSamp);
        c.paddedHeight = roundUpWide(c.sampleHeight, 8u * c.vSamp);
        for (uint32_t b = 0; b < c.mcuBlocks && state->blocksPerMcu < kMaxBlocksPerMcu; ++b)
            state->mcuBlockComponent[state->blocksPerMcu++] = i;
    }
}

Result setupEncoderTables(EncoderState *state, uint16_t level) {
    if (!(state->outBufferHandle = GlobalAlloc(GHND, kOutBufferBytes))) return Result::NoMemory;
    if (!(state->outBuffer = static_cast<uint8_t *>(GlobalLock(state->outBufferHandle)))) return Result::NoMemory;
    for (int t = 0; t < 4; ++t) {
        if (!(state->dcTables[t] = GlobalAlloc(GHND, sizeof(HuffmanCodeTable)))) return Result::NoMemory;
        if (!(state->acTables[t] = GlobalAlloc(GHND, sizeof(HuffmanCodeTable)))) return Result::NoMemory;
    }
    state->maxH = state->maxV = 1;
    state->outCount = 0;
    state->bitBuffer = 0;
    state->bitCount = 0;
    state->writeFailed = false;
    setupComponents(state);
    scaleQuantTables(state, level);
    const Result r = setupHuffmanTables(state);
    if (r != Result::Ok) return r;
    layoutEncoderScan(state);
    // The coder reads the tables for every block: keep them locked.
    for (int t = 0; t < 2; ++t) {
        state->dcCodes[t] = static_cast<HuffmanCodeTable *>(GlobalLock(state->dcTables[t]));
        state->acCodes[t] = static_cast<HuffmanCodeTable *>(GlobalLock(state->acTables[t]));
        if (!state->dcCodes[t] || !state->acCodes[t]) return Result::NoMemory;
    }
    return Result::Ok;
}

void releaseEncoderTables(EncoderState *state) {
    for (int t = 0; t < 4; ++t) {
        if (state->dcCodes[t]) GlobalUnlock(state->dcTables[t]);
        if (state->acCodes[t]) GlobalUnlock(state->acTables[t]);
        if (state->dcTables[t]) GlobalFree(state->dcTables[t]);
        if (state->acTables[t]) GlobalFree(state->acTables[t]);
        state->dcCodes[t] = state->acCodes[t] = nullptr;
        state->dcTables[t] = state->acTables[t] = nullptr;
    }
    if (state->outBuffer) GlobalUnlock(state->outBufferHandle);
    if (state->outBufferHandle) GlobalFree(state->outBufferHandle);
    state->outBuffer = nullptr;
    state->outBufferHandle = nullptr;
}

}  // namespace jpg
