// The start of every file the encoder writes, SOI to SOS, in this order:
//
//   SOI
//   APP1  the reserved preview segment, when there is a preview: first, so
//         that the preview lands at fixed offsets (iRead_APP1 and readers
//         of the file's first 4,820 bytes rely on it)
//   APP0  JFIF 1.00 with the settings' density, no thumbnail
//   APP2  the ICC profile, in "ICC_PROFILE" chunks of up to 65,519 bytes
//         numbered from 1, when there is one
//   COM   the settings' comment, when there is one
//   DQT   the tables the components use, 16-bit entries for a table that
//         needs them
//   SOF0  or SOF1 (extended) for the standard-scaled tables when one has
//         16-bit entries, as libjpeg writes them; the level's tables keep
//         the exports' SOF0
//   DHT   the standard Huffman tables the components use
//   DRI   the restart interval, when there is one
//   COM   415 zero bytes: the exports' filler, which brings a colour
//         export's header to 6,144 bytes; in their layout alone
//   SOS
#include <cstring>

#include "encoder/encoder_state.h"
#include "base/markers.h"
#include "thumbnail/preview_layout.h"

namespace jpg {

namespace {

constexpr uint32_t kFillerPayload = 415;
constexpr uint8_t kIccIdentifier[12] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};

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

bool isExportLayout(const EncodeSettings &s) {
    return !scalesByQuality(s) && s.preview && (s.sampling == Sampling::Ycc422 || s.sampling == Sampling::Grey) &&
           s.iccSize == 0 && s.comment == nullptr && s.restartInterval == 0;
}

Result writeHeaders(ByteSink &sink, const EncoderState *state, const EncodeSettings &settings) {
    const TableUse use = tablesInUse(state);
    const bool filler = isExportLayout(settings);
    const uint32_t iccChunks = (settings.iccSize + kIccChunkBytes - 1) / kIccChunkBytes;
    bool wide = false;
    for (uint32_t t = 0; t < 4; ++t) wide = wide || (use.quant[t] && wideTable(state->quantTables[t]));

    // Every segment's bytes, then one block for them all.
    const uint32_t previewBytes = settings.preview ? 2 + 2 + kPreviewPayloadBytes : 0;
    const uint32_t commentBytes = settings.comment != nullptr ? 4 + settings.commentSize : 0;
    const uint32_t frameBytes = 2 + 8 + 3u * state->frameComponents;
    const uint32_t scanBytes = 2 + 6 + 2u * state->scanComponents;
    uint32_t total = 0;
    if (!checkedProduct({uint64_t{2} + previewBytes + 18 + 18 * uint64_t{iccChunks} + settings.iccSize + commentBytes +
                             2 + dqtLength(state, use) + frameBytes + 2 + dhtLength(state, use) +
                             (state->restartInterval != 0 ? 6 : 0) + (filler ? 4 + kFillerPayload : 0) + scanBytes},
                        total))
        return Result::Unsupported;
    LockedBlock<uint8_t> start;
    if (!start.make(total)) return Result::NoMemory;
    HeaderBytes out{start.get()};

    out.marker(marker::kSoi);
    if (settings.preview) {
        // The reserved segment: the preview is written into it at the end.
        out.marker(marker::kApp1);
        out.word(2 + kPreviewPayloadBytes);
        out.zeros(kPreviewPayloadBytes);
    }

    // JFIF version 1.00, no thumbnail.
    static constexpr uint8_t kJfif[7] = {'J', 'F', 'I', 'F', 0x00, 0x01, 0x00};
    out.marker(marker::kApp0);
    out.word(2 + 14);
    out.bytes(kJfif, sizeof kJfif);
    out.byte(settings.densityUnits);
    out.word(settings.densityX);
    out.word(settings.densityY);
    out.byte(0);
    out.byte(0);

    for (uint32_t chunk = 0; chunk < iccChunks; ++chunk) {
        const uint32_t at = chunk * kIccChunkBytes;
        const uint32_t n = settings.iccSize - at < kIccChunkBytes ? settings.iccSize - at : kIccChunkBytes;
        out.marker(marker::kApp2);
        out.word(2 + sizeof kIccIdentifier + 2 + n);
        out.bytes(kIccIdentifier, sizeof kIccIdentifier);
        out.byte(chunk + 1);
        out.byte(iccChunks);
        out.bytes(settings.icc + at, n);
    }

    if (settings.comment != nullptr) {
        out.marker(marker::kCom);
        out.word(2 + settings.commentSize);
        out.bytes(settings.comment, settings.commentSize);
    }

    out.marker(marker::kDqt);
    out.word(dqtLength(state, use));
    for (uint32_t t = 0; t < 4; ++t) {
        if (!use.quant[t]) continue;
        const int32_t *table = state->quantTables[t];
        const bool wideEntries = wideTable(table);
        out.byte((wideEntries ? 0x10 : 0x00) | t);
        for (int k = 0; k < 64; ++k) wideEntries ? out.word(static_cast<uint32_t>(table[k])) : out.byte(table[k]);
    }

    out.marker(wide && scalesByQuality(settings) ? marker::kSof1 : marker::kSof0);
    out.word(frameBytes - 2);
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

    if (state->restartInterval != 0) {
        out.marker(marker::kDri);
        out.word(4);
        out.word(state->restartInterval);
    }

    if (filler) {
        out.marker(marker::kCom);
        out.word(2 + kFillerPayload);
        out.zeros(kFillerPayload);
    }

    out.marker(marker::kSos);
    out.word(scanBytes - 2);
    out.byte(state->scanComponents);
    for (uint32_t i = 0; i < state->scanComponents; ++i) {
        const EncoderComponent &c = state->components[i];
        out.byte(c.id);
        out.byte(c.dcSel * 16u + c.acSel);
    }
    out.byte(0);
    out.byte(63);
    out.byte(0);

    return sink.write(start.get(), total) ? Result::Ok : sink.failure;
}

}  // namespace jpg
