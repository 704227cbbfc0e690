// Huffman decoding of the entropy-coded data: decode tables, the bit reader,
// symbols, MCUs, restart markers, and an MCU row's blocks at their places
// (the reference path's and the fast path's).
//
// The bit reader takes a byte only when it needs bits, treats every FF as
// data and drops the byte after it; restart markers are searched for only
// where one is due. That leaves the read position exactly after the last
// byte the scan used, where the end-of-image test looks.
#include <cstddef>
#include <cstring>

#include "base/huffman_codes.h"
#include "base/markers.h"
#include "base/standard_tables.h"
#include "decoder/decoder_internal.h"
#include "decoder/decoder_kernels.h"

namespace jpg {

void buildDecodeTable(HuffmanTableBlock *block) {
    uint8_t sizes[257];
    uint16_t codes[256];
    const uint32_t n = assignHuffmanCodes(block->counts, sizes, codes);

    uint32_t k = 0;
    for (uint32_t length = 1; length <= 16; ++length) {
        const uint32_t count = block->counts[length];
        if (count > 0 && k + count <= n) {
            block->valueIndex[length] = static_cast<int32_t>(k);
            block->minCode[length] = static_cast<int16_t>(codes[k]);
            k += count;
            block->maxCode[length] = codes[k - 1];
        } else {
            block->maxCode[length] = -1;
        }
    }
    block->maxCode[17] = 0xFFFFF;
}

namespace {

// Index into `symbols` of the code `code` of length `length` (1 to 16).
inline uint32_t symbolIndex(const HuffmanTableBlock *t, uint32_t length, int32_t code) {
    return static_cast<uint32_t>(t->valueIndex[length] - t->minCode[length] + code) & 0xFFFFu;
}

}  // namespace

uint32_t matchCode(const HuffmanTableBlock *block, uint32_t bits, uint32_t width, uint8_t &symbol) {
    int32_t code = 0;
    for (uint32_t length = 1; length <= width; ++length) {
        code = (code << 1) | static_cast<int32_t>((bits >> (width - length)) & 1);
        if (block->maxCode[length] >= code) {
            const uint32_t index = symbolIndex(block, length, code);
            if (index >= 256) return 0;
            symbol = block->symbols[index];
            return length;
        }
    }
    return 0;
}

void buildLookahead(DecodeTable &table, const HuffmanTableBlock *block) {
    table.block = block;
    for (uint32_t bits = 0; bits < (1u << kLookaheadBits); ++bits) {
        uint8_t symbol = 0;
        const uint32_t length = matchCode(block, bits, kLookaheadBits, symbol);
        table.fast[bits] = static_cast<uint16_t>(length == 0 ? 0 : (length << 8) | symbol);
    }
}

void buildCombined(DecodeTable &table, bool ac) {
    constexpr uint32_t width = kCombinedBits;
    static_assert(width >= kLookaheadBits && width <= 11, "the combined lookup extends the lookahead");
    static_assert(kCombinedEob > 62 && kCombinedZeros > 62 && kCombinedElsewhere > 62, "no run reaches them");
    for (uint32_t bits = 0; bits < (1u << width); ++bits) {
        // The lookahead has the codes it covers; only the others are searched.
        const uint32_t fast = table.fast[bits >> (width - kLookaheadBits)];
        uint8_t symbol = static_cast<uint8_t>(fast & 0xFF);
        const uint32_t length = fast != 0 ? fast >> 8 : matchCode(table.block, bits, width, symbol);
        const uint32_t size = ac ? symbol & 15u : symbol;
        uint32_t entry = kCombinedElsewhere << 8;
        if (length == 0 || (!ac && size > 16)) {
            // Longer codes and damaged data take the symbol-by-symbol path.
        } else if (ac && size == 0) {
            entry = length | (symbol == 0xF0 ? kCombinedZeros : kCombinedEob) << 8;
        } else if (size == 0) {
            entry = length;
        } else if (length + size <= width) {
            const uint32_t raw = (bits >> (width - length - size)) & ((1u << size) - 1);
            const uint32_t run = ac ? symbol >> 4 : 0;
            entry = (length + size) | run << 8 | static_cast<uint32_t>(extend(raw, size)) << 16;
        }
        table.combined[bits] = entry;
    }
}

Result readChunk(HFILE file, uint16_t &chunkSize, uint32_t &bytesLeft, uint8_t *buffer, bool &endOfData) {
    if (chunkSize < bytesLeft) {
        bytesLeft -= chunkSize;
    } else {
        chunkSize = static_cast<uint16_t>(bytesLeft);
        endOfData = true;
    }
    const UINT got = chunkSize == 0 ? 0 : _lread(file, buffer, chunkSize);
    if (got == HFILE_ERROR_COUNT) {
        chunkSize = 0;
        endOfData = true;
        return Result::IoError;
    }
    if (got != chunkSize) {
        chunkSize = static_cast<uint16_t>(got);
        endOfData = true;
        return Result::Damaged;
    }
    return Result::Ok;
}

namespace {

void refill(DecodeContext &ctx) {
    const Result res = readChunk(ctx.jpegFile, ctx.chunkSize, ctx.bytesLeft, ctx.readBuffer, ctx.endOfData);
    if (res == Result::IoError) ctx.readFailed = true;
    if (res == Result::Damaged) ctx.damaged = true;
    ctx.readPtr = ctx.readBuffer;
    ctx.readEnd = ctx.readBuffer + ctx.chunkSize;
}

}  // namespace

void startInput(DecodeContext &ctx, uint8_t *buffer) {
    ctx.readBuffer = buffer;
    ctx.chunkSize = static_cast<uint16_t>(kInputChunkBytes);
    refill(ctx);
}

namespace {

inline bool exhausted(const DecodeContext &ctx) { return ctx.readPtr >= ctx.readEnd; }

// Takes one raw byte and refills the buffer once its last byte is taken.
// Past the end of the data the bytes read as zero and the data is damaged.
inline uint8_t fetchRaw(DecodeContext &ctx) {
    if (exhausted(ctx)) {
        ctx.damaged = true;
        return 0;
    }
    const uint8_t byte = *ctx.readPtr++;
    if (ctx.readPtr == ctx.readEnd && !ctx.endOfData) refill(ctx);
    return byte;
}

// Takes one byte into the bit buffer; after an FF the next byte (the stuffed
// 00 of valid data) is dropped unseen.
inline void fetchByte(DecodeContext &ctx) {
    const uint8_t byte = fetchRaw(ctx);
    ctx.bitBuffer = (ctx.bitBuffer << 8) | byte;
    ctx.bitCount += 8;
    if (byte == marker::kPrefix) {
        if (exhausted(ctx)) {
            ctx.pastEnd = true;
            return;
        }
        ++ctx.readPtr;
        if (ctx.readPtr == ctx.readEnd && !ctx.endOfData) refill(ctx);
    }
}

inline uint32_t takeBit(DecodeContext &ctx) {
    if (ctx.bitCount == 0) fetchByte(ctx);
    --ctx.bitCount;
    return (ctx.bitBuffer >> ctx.bitCount) & 1u;
}

// The bit-serial search of ITU-T T.81 (F.2.2.3), one bit from `nextBit` at a
// time until the code is within the largest code of its length. Damaged data
// gives symbol 0 and sets ctx.damaged.
template <typename NextBit>
inline int searchSymbol(DecodeContext &ctx, const HuffmanTableBlock *t, NextBit nextBit) {
    int32_t code = static_cast<int32_t>(nextBit());
    uint32_t length = 1;
    while (t->maxCode[length] < code) {
        code = (code << 1) | static_cast<int32_t>(nextBit());
        ++length;
    }
    // Length 17 is the sentinel: no code of 16 bits or less matched.
    const uint32_t index = length <= 16 ? symbolIndex(t, length, code) : 256;
    if (index >= 256) {
        ctx.damaged = true;
        return 0;
    }
    return t->symbols[index];
}

// Receives s bits (1 to 16) and extends them to a signed value.
inline int32_t receiveExtend(DecodeContext &ctx, uint32_t s) {
    while (ctx.bitCount < static_cast<int>(s)) fetchByte(ctx);
    ctx.bitCount -= static_cast<int>(s);
    return extend((ctx.bitBuffer >> ctx.bitCount) & ((1u << s) - 1), s);
}

// The next kLookaheadBits bits without taking them; false when they are not
// at hand without a refill.
inline bool peekBits(const DecodeContext &ctx, uint32_t &bits) {
    if (ctx.bitCount >= kLookaheadBits) {
        bits = (ctx.bitBuffer >> (ctx.bitCount - kLookaheadBits)) & ((1u << kLookaheadBits) - 1);
        return true;
    }
    const uint8_t *p = ctx.readPtr;
    if (ctx.readEnd - p < 4) return false;
    const uint32_t first = p[0];
    const uint32_t second = first == marker::kPrefix ? p[2] : p[1];
    const uint32_t all = (ctx.bitBuffer << 16) | (first << 8) | second;
    bits = (all >> (ctx.bitCount + 16 - kLookaheadBits)) & ((1u << kLookaheadBits) - 1);
    return true;
}

inline int nextSymbol(DecodeContext &ctx, const DecodeTable &table) {
    uint32_t bits;
    if (peekBits(ctx, bits)) {
        const uint32_t entry = table.fast[bits];
        if (entry != 0) {
            const int length = static_cast<int>(entry >> 8);
            while (ctx.bitCount < length) fetchByte(ctx);
            ctx.bitCount -= length;
            return static_cast<int>(entry & 0xFF);
        }
    }
    return searchSymbol(ctx, table.block, [&ctx] { return takeBit(ctx); });
}

// The reader of the reference path, byte by byte on the record's state.
struct ChunkReader {
    static constexpr bool kCombined = false;
    DecodeContext &ctx;
    void prepare() {}
    void prepareCombined() {}
    int symbol(const DecodeTable &table) { return nextSymbol(ctx, table); }
    int32_t value(uint32_t s) { return receiveExtend(ctx, s); }
};

// The fast path's reader: the same bits through a 64-bit buffer filled up
// to eight bytes at a time, the next bit at its top. It runs only where the
// chunk holds at least kMargin more bytes, so no refill, end of data or
// marker search can happen inside a block; it may take up to seven bytes
// more than the bits used, and gives them back when it is done, leaving the
// read position, the count and the low bits of the buffer exactly where the
// byte-by-byte reader leaves them (which takes a byte only when it needs its
// bits).
struct WideReader {
    static constexpr bool kCombined = true;
    // The most one block can take: the DC code and value (17 + 16 bits; 17
    // for a pattern no code matches) and 63 AC codes and values (17 + 15),
    // 2,049 bits; with the 63 bits the buffer may hold ahead, 264 bytes, each
    // possibly doubled by its stuffed zero; and the eight bytes a fill looks
    // at.
    static constexpr ptrdiff_t kMargin = 2 * ((17 + 16 + 63 * (17 + 15) + 63 + 7) / 8) + 8;
    static_assert(kMargin == 536, "the margin of one block");
    // Bits the next symbol and its value can take.
    static constexpr int kNeed = 17 + 16;

    DecodeContext &ctx;
    const uint8_t *p = nullptr;
    uint64_t buffer = 0;  // the next `count` bits from the top, zeros below
    int count = 0;

    explicit WideReader(DecodeContext &c) : ctx(c) {}

    // Takes the state over from the record (fewer than 32 bits at hand).
    void start() {
        p = ctx.readPtr;
        count = ctx.bitCount;
        buffer = count == 0 ? 0 : uint64_t{ctx.bitBuffer} << (64 - count);
    }
    // True when the chunk has room for one more block from the record's
    // position, or from this reader's.
    static bool fits(const DecodeContext &c) { return c.readEnd - c.readPtr >= kMargin; }
    bool hasRoom() const { return ctx.readEnd - p >= kMargin; }

    void prepare() {
        if (count < kNeed) fill();
    }
    // Enough for a lookup in the combined table, and whatever its entry
    // takes; a fill then serves several codes.
    void prepareCombined() {
        if (count < kCombinedBits) fill();
    }

    // Adds whole bytes until 57 or more bits are at hand (count is below
    // 33 here).
    void fill() {
        if (fillWithoutFf(p, buffer, count)) return;
        while (count <= 56) {
            const uint8_t byte = *p++;
            buffer |= uint64_t{byte} << (56 - count);
            count += 8;
            if (byte == marker::kPrefix) ++p;  // the stuffed byte, unseen
        }
    }

    void skip(int bits) {
        buffer <<= bits;
        count -= bits;
    }

    int symbol(const DecodeTable &table) {
        const uint32_t entry = table.fast[buffer >> (64 - kLookaheadBits)];
        if (entry != 0) {
            skip(static_cast<int>(entry >> 8));
            return static_cast<int>(entry & 0xFF);
        }
        // One length at a time, as the byte-by-byte reader does.
        return searchSymbol(ctx, table.block, [this] {
            const auto bit = static_cast<uint32_t>(buffer >> 63);
            skip(1);
            return bit;
        });
    }

    int32_t value(uint32_t s) {
        const auto v = static_cast<uint32_t>(buffer >> (64 - s));
        skip(static_cast<int>(s));
        return extend(v, s);
    }

    // The entry of the combined lookup for the next bits; the caller takes
    // its bits with take().
    uint32_t combined(const DecodeTable &table) const { return table.combined[buffer >> (64 - kCombinedBits)]; }
    void take(uint32_t entry) { skip(static_cast<int>(entry & 0xFF)); }

    // Gives back the whole bytes not needed yet, newest first (an FF took
    // its stuffed byte along), and leaves the state in the record.
    void finish() {
        uint64_t rest = count == 0 ? 0 : buffer >> (64 - count);
        while (count >= 8) {
            p -= (rest & 0xFF) == marker::kPrefix ? 2 : 1;
            rest >>= 8;
            count -= 8;
        }
        ctx.readPtr = p;
        ctx.bitBuffer = static_cast<uint32_t>(rest);
        ctx.bitCount = count;
    }
};

}  // namespace

int decodeSymbol(DecodeContext &ctx, const DecodeTable &table) { return nextSymbol(ctx, table); }

void processRestart(DecodeContext &ctx) {
    ctx.bitCount = 0;
    for (;;) {
        uint8_t byte = 0;
        while (!exhausted(ctx) && (byte = fetchRaw(ctx)) != marker::kPrefix) {
        }
        if (byte != marker::kPrefix) {
            ctx.damaged = true;  // the data ended before the marker
            break;
        }
        while (!exhausted(ctx) && (byte = fetchRaw(ctx)) == marker::kPrefix) {
        }
        if (byte == marker::kPrefix) {
            ctx.damaged = true;
            break;
        }
        if (byte != marker::kStuffed) break;
    }
    for (uint32_t j = 0; j < ctx.scanComponents; ++j) ctx.dcPredictors[j] = 0;
    ctx.restartsToGo = ctx.state->restartInterval;
}

namespace {

// Restart handling once per MCU, before its first block.
inline void startMcu(DecodeContext &ctx) {
    if (ctx.state->restartInterval != 0) {
        if (ctx.restartsToGo == 0) processRestart(ctx);
        --ctx.restartsToGo;
    }
}

// Decodes one block of component c (scan order). The sink receives each
// coded AC coefficient (zigzag index 1 to 63, value) and, last, the DC value
// after prediction.
template <class Reader, class Sink>
inline void decodeBlock(DecodeContext &ctx, Reader &reader, uint32_t c, Sink &sink) {
    // Quantised DC values beyond this occur only in damaged data; it keeps
    // every later product within 32 bits.
    constexpr int32_t kDcLimit = 32767;
    const ComponentLayout &l = ctx.comp[c];
    const DecodeTable &dcTable = ctx.dcTable[l.dcSel];
    int32_t dc = 0;
    bool dcDone = false;
    if constexpr (Reader::kCombined) {
        reader.prepareCombined();
        const uint32_t entry = reader.combined(dcTable);
        if (((entry >> 8) & 0xFF) != kCombinedElsewhere) {
            reader.take(entry);
            dc = static_cast<int32_t>(entry) >> 16;
            dcDone = true;
        }
    }
    if (!dcDone) {
        reader.prepare();
        uint32_t s = static_cast<uint32_t>(reader.symbol(dcTable));
        if (s > 16) {
            ctx.damaged = true;
            s = 0;
        }
        dc = s != 0 ? reader.value(s) : 0;
    }

    const DecodeTable &ac = ctx.acTable[l.acSel];
    for (uint32_t k = 1; k < 64;) {
        if constexpr (Reader::kCombined) {
            reader.prepareCombined();
            // Most codes and their values are in the combined lookup; a run
            // past the block's end is left to the symbol's own path. One
            // test finds a coefficient: the other kinds are past 63.
            const uint32_t entry = reader.combined(ac);
            const uint32_t step = (entry >> 8) & 0xFF;
            if (k + step <= 63) {
                reader.take(entry);
                k += step;
                sink.ac(k++, static_cast<int32_t>(entry) >> 16);
                continue;
            }
            if (step == kCombinedEob) {
                reader.take(entry);
                break;
            }
            if (step == kCombinedZeros) {
                reader.take(entry);
                k += 16;
                continue;
            }
        }
        reader.prepare();
        const uint32_t rs = static_cast<uint32_t>(reader.symbol(ac));
        const uint32_t run = rs >> 4, size = rs & 15;
        if (size != 0) {
            k += run;
            if (k > 63) {
                ctx.damaged = true;
                break;
            }
            sink.ac(k++, reader.value(size));
        } else if (run == 15) {
            k += 16;
        } else {
            break;
        }
    }

    dc += ctx.dcPredictors[c];
    if (dc > kDcLimit || dc < -kDcLimit) {
        ctx.damaged = true;
        dc = dc > 0 ? kDcLimit : -kDcLimit;
    }
    ctx.dcPredictors[c] = dc;
    sink.dc(dc);
}

// Quantised coefficients in zigzag order.
struct ZigzagSink {
    int32_t *block;
    void ac(uint32_t k, int32_t v) { block[k] = v; }
    void dc(int32_t v) { block[0] = v; }
};

// Dequantised coefficients in natural order, and the block's kind.
struct NaturalSink {
    int32_t *block;
    const int32_t *table;
    uint8_t kind = kBlockDcOnly;
    void note(int32_t v) {
        if (static_cast<uint32_t>(v + kNarrowLimit) > 2 * static_cast<uint32_t>(kNarrowLimit)) kind = kBlockWide;
    }
    void ac(uint32_t k, int32_t v) {
        const int32_t d = v * table[k];
        block[kZigzag[k]] = d;
        if (kind == kBlockDcOnly) kind = kBlockNarrow;
        note(d);
    }
    void dc(int32_t v) {
        block[0] = v * table[0];
        // A block of DC alone transforms to one value whatever its size.
        if (kind != kBlockDcOnly) note(block[0]);
    }
};

}  // namespace

void decodeMcu(DecodeContext &ctx, int32_t *mcu) {
    startMcu(ctx);
    for (uint32_t b = 0; b < ctx.blocksPerMcu; ++b) {
        ZigzagSink sink{mcu + 64 * b};
        std::memset(sink.block, 0, 64 * sizeof *sink.block);
        ChunkReader reader{ctx};
        decodeBlock(ctx, reader, ctx.mcuBlockComponent[b], sink);
    }
}

// The reference path's MCU row: every block decoded in zigzag order, then
// dequantised and put in natural order at its place in its component's row.
void decodeMcuRow(DecodeContext &ctx, CoefficientRows &coefficients) {
    int32_t mcu[kMaxBlocksPerMcu * 64];
    if (ctx.scanComponents == 1) {
        const int32_t *table = ctx.state->quantTables[ctx.comp[0].quantSel & 3];
        for (uint32_t j = 0; j < ctx.mcusPerRow; ++j) {
            decodeMcu(ctx, mcu);
            dequantiseBlock(mcu, coefficients.rows[0] + static_cast<size_t>(j) * 64, table);
        }
        return;
    }
    for (uint32_t m = 0; m < ctx.mcusPerRow; ++m) {
        decodeMcu(ctx, mcu);
        uint32_t k = 0;
        for (uint32_t c = 0; c < ctx.scanComponents; ++c) {
            const ComponentLayout &l = ctx.comp[c];
            const int32_t *table = ctx.state->quantTables[l.quantSel & 3];
            for (uint32_t v = 0; v < l.mcuHeightBlocks; ++v) {
                for (uint32_t h = 0; h < l.mcuWidthBlocks && k < ctx.blocksPerMcu; ++h, ++k) {
                    const size_t at = static_cast<size_t>(v) * l.paddedWidth * 8 +
                                      (static_cast<size_t>(m) * l.mcuWidthBlocks + h) * 64;
                    dequantiseBlock(mcu + 64 * k, coefficients.rows[c] + at, table);
                }
            }
        }
    }
}

void decodeMcuRowDirect(DecodeContext &ctx, CoefficientRows &coefficients, BlockKinds &kinds) {
    // Where block b of MCU m goes: its component's row at offset[b] + m x step.
    size_t offset[kMaxBlocksPerMcu] = {}, step[kMaxScanComponents] = {};
    uint32_t k = 0;
    for (uint32_t c = 0; c < ctx.scanComponents; ++c) {
        const ComponentLayout &l = ctx.comp[c];
        step[c] = l.mcuWidthBlocks;
        for (uint32_t v = 0; v < l.mcuHeightBlocks; ++v)
            for (uint32_t h = 0; h < l.mcuWidthBlocks && k < ctx.blocksPerMcu; ++h, ++k)
                offset[k] = static_cast<size_t>(v) * (l.paddedWidth / 8) + h;
    }
    // The combined lookups, once per scan.
    if (!ctx.combinedBuilt) {
        uint32_t built = 0;  // bit t: DC table t; bit 4 + t: AC table t
        for (uint32_t c = 0; c < ctx.scanComponents; ++c) {
            const uint32_t dc = ctx.comp[c].dcSel, ac = ctx.comp[c].acSel;
            if ((built & 1u << dc) == 0) buildCombined(ctx.dcTable[dc], false);
            if ((built & 16u << ac) == 0) buildCombined(ctx.acTable[ac], true);
            built |= 1u << dc | 16u << ac;
        }
        ctx.combinedBuilt = true;
    }
    // The wide reader stays in charge from block to block while the chunk
    // has room; the record's reader takes over near the chunk's end and for
    // a restart marker.
    WideReader wide(ctx);
    bool wideActive = false;
    for (uint32_t m = 0; m < ctx.mcusPerRow; ++m) {
        if (wideActive && ctx.state->restartInterval != 0 && ctx.restartsToGo == 0) {
            wide.finish();
            wideActive = false;
        }
        startMcu(ctx);
        for (uint32_t b = 0; b < ctx.blocksPerMcu; ++b) {
            const uint32_t c = ctx.mcuBlockComponent[b];
            const size_t at = offset[b] + m * step[c];
            NaturalSink sink{coefficients.rows[c] + 64 * at, ctx.state->quantTables[ctx.comp[c].quantSel & 3]};
            if (wideActive && !wide.hasRoom()) {
                wide.finish();
                wideActive = false;
            }
            if (!wideActive && WideReader::fits(ctx)) {
                wide.start();
                wideActive = true;
            }
            if (wideActive) {
                decodeBlock(ctx, wide, c, sink);
            } else {
                ChunkReader reader{ctx};
                decodeBlock(ctx, reader, c, sink);
            }
            kinds.kinds[c][at] = sink.kind;
        }
    }
    if (wideActive) wide.finish();
}

}  // namespace jpg
