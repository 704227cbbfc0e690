// Sequential Huffman coding of one scan (ITU-T T.81, F.1.2) and the bit
// writer: byte stuffing, a 32,768-byte output buffer, restart markers, fill
// bits and EOI.
#include "base/bit_ops.h"
#include "base/markers.h"
#include "base/standard_tables.h"
#include "encoder/encoder_state.h"

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
    state->sink->write(state->outBuffer, count);
    state->outCount = 0;
}

// The end-of-image marker, after the last coded byte.
bool writeEoi(ByteSink &sink) {
    static constexpr uint8_t kEoi[2] = {marker::kPrefix, marker::kEoi};
    return sink.write(kEoi, 2);
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

namespace {

// Completes the last byte with 1-bits, writes RSTn and resets the DC
// predictions.
void restartScan(EncoderState *state) {
    putBits(state, 0x7F, 7);  // fill bits: at most 7 stay pending, and are dropped
    state->bitBuffer = 0;
    state->bitCount = 0;
    storeByte(state, marker::kPrefix);
    storeByte(state, static_cast<uint8_t>(marker::kRst0 + state->nextRestart));
    state->nextRestart = (state->nextRestart + 1) & 7;
    for (int32_t &p : state->dcPredictors) p = 0;
}

}  // namespace

void encodeMcuRow(EncoderState *state, ThumbnailGather *gather, const uint8_t *const componentPlanes[]) {
    int32_t blockBuffer[kMaxBlocksPerMcu][64];
    for (uint32_t i = 0; i < state->mcusPerRow; ++i) {
        if (state->restartInterval != 0) {
            if (state->restartsToGo == 0) {
                restartScan(state);
                state->restartsToGo = state->restartInterval;
            }
            --state->restartsToGo;
        }
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
        if (gather != nullptr) {
            int32_t dc[kMaxBlocksPerMcu] = {};
            for (uint32_t b = 0; b < blockNumber; ++b) dc[b] = blockBuffer[b][0];
            gatherMcuDc(gather, i, dc);
        }
        encodeMcu(state, blockBuffer);
    }
}

Result finishScan(EncoderState *state) {
    putBits(state, 0x7F, 7);
    if (state->outCount != 0) flushOutBuffer(state, state->outCount);
    writeEoi(*state->sink);
    return state->sink->failure;
}

namespace {

// Number of significant bits of a non-zero magnitude.
inline uint32_t significantBits(uint32_t a) {
#if defined(__GNUC__)
    return 32u - static_cast<uint32_t>(__builtin_clz(a));
#else
    return static_cast<uint32_t>(magnitudeBits(static_cast<int32_t>(a)));
#endif
}

// The least room a window must have: the bytes of one full bit buffer with
// stuffing, a restart marker, or the last bytes.
constexpr uint32_t kLeastRoom = 32;
static_assert(sizeof(ScanWriter::spill) >= kLeastRoom, "the spill area is a window");

// A window of the sink to code into: after a failure, the spill area.
void openWindow(ScanWriter &w) {
    w.used = 0;
    w.buffer = w.sink->window(kLeastRoom, w.capacity);
    if (w.buffer == nullptr) {
        w.buffer = w.spill;
        w.capacity = sizeof w.spill;
    }
}

// Hands the coded bytes to the sink and opens the next window.
void writeBuffer(ScanWriter &w) {
    if (w.buffer != w.spill) w.sink->commit(w.used);
    openWindow(w);
}

// Stores the eight bytes of a full bit buffer, most significant first, each
// 0xFF followed by a stuffed 0 (raw bits: none).
inline void emitWord(ScanWriter &w, uint64_t word) {
    if (w.capacity - w.used < 16) writeBuffer(w);
    uint8_t *out = w.buffer + w.used;
    if (w.raw || !hasFfByte(word)) {
        for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(word >> (56 - 8 * i));
        w.used += 8;
        return;
    }
    uint32_t n = 0;
    for (int i = 0; i < 8; ++i) {
        const auto byte = static_cast<uint8_t>(word >> (56 - 8 * i));
        out[n++] = byte;
        if (byte == marker::kPrefix) out[n++] = marker::kStuffed;
    }
    w.used += n;
}

// Appends the low `count` bits of `value` (no bits above them set), count <= 32.
inline void put(ScanWriter &w, uint32_t value, uint32_t count) {
    if (static_cast<int32_t>(count) < w.free) {
        w.bits = (w.bits << count) | value;
        w.free -= static_cast<int32_t>(count);
        return;
    }
    const uint32_t rest = count - static_cast<uint32_t>(w.free);
    emitWord(w, (w.bits << w.free) | (value >> rest));
    w.bits = value;
    w.free = 64 - static_cast<int32_t>(rest);
}

// The size category and the bits of a non-zero value.
inline void valueBits(int32_t v, uint32_t &size, uint32_t &bits) {
    const uint32_t magnitude = static_cast<uint32_t>(v < 0 ? -v : v);
    size = significantBits(magnitude);
    bits = static_cast<uint32_t>(v < 0 ? v - 1 : v) & ((1u << size) - 1);
}

}  // namespace

void startScanWriter(ScanWriter &w, ByteSink &sink) {
    w.sink = &sink;
    openWindow(w);
}

void prepareBlockCodes(const HuffmanCodeTable &dc, const HuffmanCodeTable &ac, BlockCodes &codes) {
    for (int s = 0; s < 16; ++s) {
        codes.dcLength[s] = static_cast<uint8_t>(dc.lengths[s]);
        codes.dcCode[s] = codes.dcLength[s] == 0 ? 0 : dc.codes[s] & ((1u << codes.dcLength[s]) - 1);
    }
    for (int s = 0; s < 256; ++s) {
        codes.acLength[s] = static_cast<uint8_t>(ac.lengths[s]);
        codes.acCode[s] = codes.acLength[s] == 0 ? 0 : ac.codes[s] & ((1u << codes.acLength[s]) - 1);
    }
}

void encodeBlockFast(ScanWriter &w, const BlockCodes &codes, const int16_t coefficients[64], uint64_t nonzero,
                     int32_t &predictor) {
    const int32_t diff = coefficients[0] - predictor;
    predictor = coefficients[0];
    nonzero &= ~uint64_t(1);  // the AC coefficients
    if (diff == 0) {
        put(w, codes.dcCode[0], codes.dcLength[0]);
    } else {
        uint32_t size, bits;
        valueBits(diff, size, bits);
        put(w, (codes.dcCode[size] << size) | bits, codes.dcLength[size] + size);
    }

    uint32_t last = 0;
    while (nonzero != 0) {
        const uint32_t k = countTrailingZeros(nonzero);
        nonzero &= nonzero - 1;
        uint32_t run = k - last - 1;
        for (; run > 15; run -= 16) put(w, codes.acCode[0xF0], codes.acLength[0xF0]);
        uint32_t size, bits;
        valueBits(coefficients[kZigzag[k]], size, bits);
        const uint32_t symbol = run * 16 + size;
        put(w, (codes.acCode[symbol] << size) | bits, codes.acLength[symbol] + size);
        last = k;
    }
    if (last != 63) put(w, codes.acCode[0x00], codes.acLength[0x00]);
}

namespace {

// Moves the whole pending bytes into the buffer, which has room for 16.
void storePendingBytes(ScanWriter &w) {
    const uint32_t pending = static_cast<uint32_t>(64 - w.free);
    const uint32_t n = pending / 8;
    for (uint32_t i = 0; i < n; ++i) {
        const auto byte = static_cast<uint8_t>(w.bits >> (pending - 8 * (i + 1)));
        w.buffer[w.used++] = byte;
        if (byte == marker::kPrefix && !w.raw) w.buffer[w.used++] = marker::kStuffed;
    }
    w.free += static_cast<int32_t>(8 * n);
}

// Completes the last byte with 1-bits.
void putFillBits(ScanWriter &w) {
    const uint32_t pending = static_cast<uint32_t>(64 - w.free) % 8;
    if (pending != 0) put(w, (1u << (8 - pending)) - 1, 8 - pending);
}

}  // namespace

uint64_t rawBitsWritten(const ScanWriter &w) {
    return 8 * (w.sink->size + w.used) + static_cast<uint64_t>(64 - w.free);
}

uint64_t finishRawScan(ScanWriter &w) {
    const uint64_t total = rawBitsWritten(w);
    const uint32_t pending = static_cast<uint32_t>(64 - w.free) % 8;
    if (pending != 0) put(w, 0, 8 - pending);  // the last bits' byte, completed with zeros
    if (w.capacity - w.used < 16) writeBuffer(w);
    storePendingBytes(w);
    if (w.buffer != w.spill) w.sink->commit(w.used);
    w.used = 0;
    return total;
}

void appendRawBits(ScanWriter &w, const uint8_t *bits, uint64_t from, uint64_t to) {
    uint64_t at = from;
    if (at % 8 != 0 && at < to) {  // up to a byte boundary
        const auto n = static_cast<uint32_t>(to - at < 8 - at % 8 ? to - at : 8 - at % 8);
        put(w, (bits[at / 8] >> (8 - at % 8 - n)) & ((1u << n) - 1), n);
        at += n;
    }
    for (; to - at >= 32; at += 32) {
        const uint8_t *p = bits + at / 8;
        put(w, uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3], 32);
    }
    for (; to - at >= 8; at += 8) put(w, bits[at / 8], 8);
    if (at < to) {
        const auto n = static_cast<uint32_t>(to - at);
        put(w, bits[at / 8] >> (8 - n), n);
    }
}

void restartScanFast(ScanWriter &w, uint32_t n) {
    putFillBits(w);
    if (w.capacity - w.used < 18) writeBuffer(w);
    storePendingBytes(w);
    w.buffer[w.used++] = marker::kPrefix;
    w.buffer[w.used++] = static_cast<uint8_t>(marker::kRst0 + n);
}

Result finishScanFast(ScanWriter &w) {
    putFillBits(w);
    if (w.capacity - w.used < 16) writeBuffer(w);
    storePendingBytes(w);
    if (w.buffer != w.spill) w.sink->commit(w.used);
    w.used = 0;
    writeEoi(*w.sink);
    return w.sink->failure;
}

}  // namespace jpg
