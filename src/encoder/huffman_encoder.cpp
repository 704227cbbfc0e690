// Sequential Huffman coding of one scan (ITU-T T.81, F.1.2) and the bit
// writer: byte stuffing, a 32,768-byte output buffer, fill bits and EOI.
#include "encoder/encoder_state.h"
#include "frame/markers.h"

namespace jpg {

namespace {

// Number of significant bits of |v| (0 for 0).
inline int32_t magnitudeBits(int32_t v) {
    uint32_t a = static_cast<uint32_t>(v < 0 ? -v : v);
    int32_t n = 0;
    while (a != 0) {
        ++n;
        a >>= 1;
    }
    return n;
}

void flushOutBuffer(EncoderState *state, uint32_t count) {
    if (_lwrite(state->jpegFile, reinterpret_cast<LPCCH>(state->outBuffer), count) != count)
        state->writeFailed = true;
    state->outCount = 0;
}

inline void storeByte(EncoderState *state, uint8_t byte) {
    if (state->outCount == kOutBufferBytes) flushOutBuffer(state, kOutBufferBytes);
    state->outBuffer[state->outCount++] = byte;
}

inline void putCode(EncoderState *state, const HuffmanCodeTable *table, uint32_t symbol) {
    putBits(state, table->codes[symbol], table->lengths[symbol]);
}

}  // namespace

void putBits(EncoderState *state, uint32_t value, int32_t count) {
    int32_t total = state->bitCount + count;
    state->bitBuffer |= (value & ((1u << count) - 1)) << (24 - total);
    while (total >= 8) {
        const auto byte = static_cast<uint8_t>(state->bitBuffer >> 16);
        storeByte(state, byte);
        if (byte == marker::kPrefix) storeByte(state, marker::kStuffed);
        state->bitBuffer <<= 8;
        total -= 8;
    }
    state->bitCount = total;
}

void encodeMcu(EncoderState *state, int32_t blocks[][64]) {
    for (uint32_t b = 0; b < state->blocksPerMcu; ++b) {
        int32_t *block = blocks[b];
        const uint32_t c = state->mcuBlockComponent[b];
        const HuffmanCodeTable *dc = state->dcCodes[state->components[c].dcSel];
        const HuffmanCodeTable *ac = state->acCodes[state->components[c].acSel];

        const int32_t diff = block[0] - state->dcPredictors[c];
        state->dcPredictors[c] = block[0];
        block[0] = diff;
        const int32_t dcSize = magnitudeBits(diff);
        putCode(state, dc, static_cast<uint32_t>(dcSize));
        if (dcSize > 0) putBits(state, static_cast<uint32_t>(diff >= 0 ? diff : diff - 1), dcSize);

        uint32_t run = 0;
        for (int k = 1; k < 64; ++k) {
            const int32_t v = block[k];
            if (v == 0) {
                ++run;
                continue;
            }
            for (; run > 15; run -= 16) putCode(state, ac, 0xF0);
            const int32_t size = magnitudeBits(v);
            putCode(state, ac, run * 16 + static_cast<uint32_t>(size));
            putBits(state, static_cast<uint32_t>(v >= 0 ? v : v - 1), size);
            run = 0;
        }
        if (run > 0) putCode(state, ac, 0x00);
    }
}

void encodeMcuRow(EncoderState *state, ThumbnailGather *gather, const uint8_t *const componentPlanes[]) {
    int32_t blockBuffer[kMaxBlocksPerMcu][64];
    for (uint32_t i = 0; i < state->mcusPerRow; ++i) {
        uint32_t blockNumber = 0;
        for (uint32_t j = 0; j < state->scanComponents; ++j) {
            const EncoderComponent &c = state->components[j];
            const int32_t *table = state->quantTables[c.quantSel & 3];
            const uint8_t *origin = componentPlanes[j] + static_cast<size_t>(c.mcuWidthBlocks) * i * 8;
            for (uint32_t k = 0; k < c.mcuHeightBlocks; ++k)
                for (uint32_t l = 0; l < c.mcuWidthBlocks && blockNumber < kMaxBlocksPerMcu; ++l)
                    transformBlock(origin + static_cast<size_t>(k) * 8 * c.paddedWidth + l * 8,
                                   blockBuffer[blockNumber++], table, c.paddedWidth);
        }
        if (gather != nullptr) gatherMcuDc(gather, i, blockBuffer);
        encodeMcu(state, blockBuffer);
    }
}

Result finishScan(EncoderState *state) {
    putBits(state, 0x7F, 7);
    if (state->outCount != 0) flushOutBuffer(state, state->outCount);
    static constexpr uint8_t kEoi[2] = {marker::kPrefix, marker::kEoi};
    if (_lwrite(state->jpegFile, reinterpret_cast<LPCCH>(kEoi), 2) != 2) state->writeFailed = true;
    return state->writeFailed ? Result::IoError : Result::Ok;
}

}  // namespace jpg
