// The start of every exported file, SOI to SOS: the reserved preview segment
// first (so the preview lands at fixed offsets), then JFIF, DQT, SOF0, DHT, a
// comment filler that brings a colour header to 6,144 bytes, and SOS.
#include <cstring>

#include "encoder/encoder_state.h"
#include "base/markers.h"
#include "thumbnail/preview_layout.h"

namespace jpg {

namespace {

constexpr uint32_t kCommentPayload = 415;
// Largest header: two 16-bit quantisation tables.
constexpr uint32_t kMaxHeaderBytes = kPreviewSegmentEnd + 18 + (4 + 2 * 129) + 19 + 420 + 419 + 14;

// Appends bytes to the header being assembled.
struct HeaderBytes {
    uint8_t *p;
    void byte(uint32_t v) { *p++ = static_cast<uint8_t>(v); }
    void marker(uint8_t code) {
        byte(marker::kPrefix);
        byte(code);
    }
    void word(uint32_t v) {
        putBe16(p, v);
        p += 2;
    }
    void bytes(const uint8_t *src, uint32_t n) {
        std::memcpy(p, src, n);
        p += n;
    }
    void zeros(uint32_t n) {
        std::memset(p, 0, n);
        p += n;
    }
};

bool wideTable(const int32_t table[64]) {
    for (int k = 0; k < 64; ++k)
        if (table[k] > 255) return true;
    return false;
}

uint32_t symbolCount(const HuffmanCodeTable *table) {
    uint32_t n = 0;
    for (int length = 1; length <= 16; ++length) n += table->counts[length];
    return n;
}

// Which tables the components select.
struct TableUse {
    bool quant[4] = {};
    bool dc[4] = {};
    bool ac[4] = {};
};

TableUse tablesInUse(const EncoderState *state) {
    TableUse use;
    for (uint32_t i = 0; i < state->frameComponents; ++i) use.quant[state->components[i].quantSel & 3] = true;
    for (uint32_t i = 0; i < state->scanComponents; ++i) {
        use.dc[state->components[i].dcSel & 3] = true;
        use.ac[state->components[i].acSel & 3] = true;
    }
    return use;
}

uint32_t dqtLength(const EncoderState *state, const TableUse &use) {
    uint32_t length = 2;
    for (int t = 0; t < 4; ++t)
        if (use.quant[t]) length += wideTable(state->quantTables[t]) ? 129 : 65;
    return length;
}

uint32_t dhtLength(const EncoderState *state, const TableUse &use) {
    uint32_t length = 2;
    for (int t = 0; t < 4; ++t) {
        if (use.dc[t]) length += 17 + symbolCount(state->dcCodes[t]);
        if (use.ac[t]) length += 17 + symbolCount(state->acCodes[t]);
    }
    return length;
}

void putHuffmanTable(HeaderBytes &out, uint32_t classAndNumber, const HuffmanCodeTable *table) {
    out.byte(classAndNumber);
    out.bytes(table->counts + 1, 16);
    out.bytes(table->symbols, symbolCount(table));
}

}  // namespace

Result writeHeaders(HFILE jpegFile, const EncoderState *state) {
    const TableUse use = tablesInUse(state);
    LockedBlock<uint8_t> start;
    if (!start.make(kMaxHeaderBytes)) return Result::NoMemory;
    HeaderBytes out{start.get()};

    out.marker(marker::kSoi);
    // The reserved segment: the preview is written into it at the end.
    out.marker(marker::kApp1);
    out.word(2 + kPreviewPayloadBytes);
    out.zeros(kPreviewPayloadBytes);

    // JFIF version 1.00, 72 x 72 dots per inch, no thumbnail.
    static constexpr uint8_t kJfif[14] = {'J', 'F', 'I', 'F', 0x00, 0x01, 0x00, 0x01, 0x00, 0x48, 0x00, 0x48, 0x00, 0x00};
    out.marker(marker::kApp0);
    out.word(2 + sizeof kJfif);
    out.bytes(kJfif, sizeof kJfif);

    out.marker(marker::kDqt);
    out.word(dqtLength(state, use));
    for (uint32_t t = 0; t < 4; ++t) {
        if (!use.quant[t]) continue;
        const int32_t *table = state->quantTables[t];
        const bool wide = wideTable(table);
        out.byte((wide ? 0x10 : 0x00) | t);
        for (int k = 0; k < 64; ++k) wide ? out.word(static_cast<uint32_t>(table[k])) : out.byte(table[k]);
    }

    out.marker(marker::kSof0);
    out.word(8 + 3u * state->frameComponents);
    out.byte(8);
    out.word(state->height);
    out.word(state->width);
    out.byte(state->frameComponents);
    for (uint32_t i = 0; i < state->frameComponents; ++i) {
        const EncoderComponent &c = state->components[i];
        out.byte(c.id);
        out.byte(c.hSamp * 16u + c.vSamp);
        out.byte(c.quantSel);
    }

    out.marker(marker::kDht);
    out.word(dhtLength(state, use));
    for (uint32_t t = 0; t < 4; ++t) {
        if (use.dc[t]) putHuffmanTable(out, t, state->dcCodes[t]);
        if (use.ac[t]) putHuffmanTable(out, 16 + t, state->acCodes[t]);
    }

    out.marker(marker::kCom);
    out.word(2 + kCommentPayload);
    out.zeros(kCommentPayload);

    out.marker(marker::kSos);
    out.word(6 + 2u * state->scanComponents);
    out.byte(state->scanComponents);
    for (uint32_t i = 0; i < state->scanComponents; ++i) {
        const EncoderComponent &c = state->components[i];
        out.byte(c.id);
        out.byte(c.dcSel * 16u + c.acSel);
    }
    out.byte(0);
    out.byte(63);
    out.byte(0);

    const auto count = static_cast<uint32_t>(out.p - start.get());
    if (_lwrite(jpegFile, reinterpret_cast<LPCCH>(start.get()), count) != count) return Result::IoError;
    return Result::Ok;
}

}  // namespace jpg
