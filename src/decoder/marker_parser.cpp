// The marker parser: reads the segments from just after FF D8 up to and
// including the first scan header, fills the header fields of the state, and
// refuses what the decoder cannot decode safely.
#include <cstring>

#include "base/bytes.h"
#include "base/markers.h"
#include "base/memory_blocks.h"
#include "base/standard_tables.h"
#include "decoder/decoder_internal.h"

namespace jpg {

namespace {

Result refuse(HeaderReader &r, Result result, const char *reason) {
    r.facts->reason = reason;
    return result;
}

// Reads one byte; Malformed at the end of the file.
Result readByte(HeaderReader &r, uint8_t &byte) {
    const UINT got = readSource(*r.source, &byte, 1);
    if (got == HFILE_ERROR_COUNT) return refuse(r, Result::IoError, "the file cannot be read");
    if (got != 1) return refuse(r, Result::Malformed, "the file ends before the image data");
    return Result::Ok;
}

// Reads the segment's length L and its L - 2 body bytes into the scratch
// block (which holds any legal body).
Result readBody(HeaderReader &r, uint32_t &bodyLength) {
    uint8_t length[2];
    const UINT got = readSource(*r.source, length, 2);
    if (got == HFILE_ERROR_COUNT) return refuse(r, Result::IoError, "the file cannot be read");
    if (got != 2) return refuse(r, Result::Malformed, "the file ends inside a marker segment");
    const uint32_t l = be16(length);
    if (l < 2) return refuse(r, Result::Malformed, "a marker segment has a length below 2");
    bodyLength = l - 2u;
    if (bodyLength == 0) return Result::Ok;
    const UINT body = readSource(*r.source, r.scratch, bodyLength);
    if (body == HFILE_ERROR_COUNT) return refuse(r, Result::IoError, "the file cannot be read");
    if (body != bodyLength) return refuse(r, Result::Malformed, "a marker segment runs past the end of the file");
    return Result::Ok;
}

// A Huffman table's code lengths fit in 16 bits (Kraft's inequality for a
// canonical code): after the codes of length L the next code stays within
// L bits.
bool codeLengthsFit(const uint8_t *counts) {
    uint32_t code = 0;
    for (int length = 1; length <= 16; ++length) {
        code += counts[length - 1];
        if (code > (1u << length)) return false;
        code <<= 1;
    }
    return true;
}

// Three components are Y, Cb, Cr unless the file says R, G, B: by the
// identifiers 'R', 'G', 'B' or by an Adobe segment's transform 0. The
// identifiers 1, 2, 3 are Y, Cb, Cr whatever else the file carries.
void decideColourSpace(const DecoderState &s, HeaderFacts &facts) {
    if (s.frameComponents == 1) {
        facts.colourSpace = ColourSpace::Grey;
        facts.colourReason = "one component";
        return;
    }
    const ComponentSpec *c = s.components;
    if (c[0].id == 1 && c[1].id == 2 && c[2].id == 3) {
        facts.colourSpace = ColourSpace::YCbCr;
        facts.colourReason = "the components are 1, 2, 3";
    } else if (c[0].id == 'R' && c[1].id == 'G' && c[2].id == 'B') {
        facts.colourSpace = ColourSpace::Rgb;
        facts.colourReason = "the components are 'R', 'G', 'B'";
    } else if (facts.adobeTransform == 0) {
        facts.colourSpace = ColourSpace::Rgb;
        facts.colourReason = "an Adobe segment says transform 0 (no colour conversion)";
    } else {
        facts.colourSpace = ColourSpace::YCbCr;
        facts.colourReason = "neither 'R', 'G', 'B' components nor an Adobe segment with transform 0";
    }
}

}  // namespace

Result readFrameHeader(HeaderReader &r) {
    uint32_t n = 0;
    if (const Result res = readBody(r, n); res != Result::Ok) return res;
    const uint8_t *b = r.scratch;
    if (n < 6) return refuse(r, Result::Malformed, "the frame header is too short");
    const uint16_t y = be16(b + 1);
    const uint16_t x = be16(b + 3);
    DecoderState *s = r.state;
    s->height = y;
    s->width = x;
    const uint32_t nf = b[5];
    r.facts->frameMarker = 0;
    if (b[0] != 8) return refuse(r, Result::Unsupported, "the sample precision is not 8 bits");
    if (x == 0 || y == 0) return refuse(r, Result::Unsupported, "the image has no width or no height");
    if (nf != 1 && nf != 3)
        return refuse(r, nf == 0 ? Result::Malformed : Result::Unsupported,
                      "the frame has a number of components other than 1 or 3");
    if (n != 6 + 3 * nf) return refuse(r, Result::Malformed, "the frame header's length does not match its components");
    s->frameComponents = static_cast<uint16_t>(nf);
    uint32_t blocks = 0;
    for (uint32_t i = 0; i < nf; ++i) {
        ComponentSpec &c = s->components[i];
        const uint8_t *p = b + 6 + 3 * i;
        c.id = p[0];
        c.hSamp = p[1] >> 4;
        c.vSamp = p[1] & 15;
        c.quantSel = p[2];
        if (c.hSamp == 0 || c.vSamp == 0 || c.hSamp > 4 || c.vSamp > 4)
            return refuse(r, Result::Malformed, "a component has a sampling factor of 0 or above 4");
        if (c.quantSel > 3) return refuse(r, Result::Malformed, "a component selects a quantisation table above 3");
        blocks += static_cast<uint32_t>(c.hSamp) * c.vSamp;
    }
    if (nf == 1) {
        s->colourMode = 1;
    } else {
        const uint16_t *ids[3] = {&s->components[0].id, &s->components[1].id, &s->components[2].id};
        if (*ids[0] == 1 && *ids[1] == 4 && *ids[2] == 5)
            return refuse(r, Result::Unsupported, "the components 1, 4, 5 are not YCbCr");
        if (blocks > kMaxBlocksPerMcu) return refuse(r, Result::Malformed, "an MCU would hold more than 10 blocks");
        s->colourMode = 3;
    }
    return Result::Ok;
}

Result readHuffmanTables(HeaderReader &r) {
    uint32_t remaining = 0;
    if (const Result res = readBody(r, remaining); res != Result::Ok) return res;
    const uint8_t *p = r.scratch;
    while (remaining > 0) {
        if (remaining < 17) return refuse(r, Result::Malformed, "a Huffman table segment does not add up");
        const uint8_t classAndNumber = p[0];
        const bool ac = (classAndNumber & 0x10) != 0;
        const uint32_t number = ac ? classAndNumber - 0x10u : classAndNumber;
        if (number > 3) return refuse(r, Result::Malformed, "a Huffman table has a class or number out of range");
        uint32_t sum = 0;
        for (int i = 1; i <= 16; ++i) sum += p[i];
        if (sum > 256) return refuse(r, Result::Malformed, "a Huffman table has more than 256 codes");
        if (!codeLengthsFit(p + 1)) return refuse(r, Result::Malformed, "a Huffman table's codes do not fit in 16 bits");
        if (remaining < 17 + sum) return refuse(r, Result::Malformed, "a Huffman table segment does not add up");
        Locked<HuffmanTableBlock> block(ac ? r.state->acTables[number] : r.state->dcTables[number]);
        if (!block) return refuse(r, Result::NoMemory, "out of memory");
        block->counts[0] = 0;
        std::memcpy(block->counts + 1, p + 1, 16);
        std::memcpy(block->symbols, p + 17, sum);
        (ac ? r.facts->acDefined : r.facts->dcDefined) |= static_cast<uint8_t>(1u << number);
        p += 17 + sum;
        remaining -= 17 + sum;
    }
    return Result::Ok;
}

Result readQuantTables(HeaderReader &r) {
    uint32_t remaining = 0;
    if (const Result res = readBody(r, remaining); res != Result::Ok) return res;
    uint8_t *p = r.scratch;
    while (remaining > 0) {
        const uint32_t precision = p[0] >> 4;
        const uint32_t number = p[0] & 15;
        const uint32_t tableBytes = precision == 0 ? 65 : 129;
        if (number > 3) return refuse(r, Result::Malformed, "a quantisation table number is above 3");
        if (remaining < tableBytes) return refuse(r, Result::Malformed, "a quantisation table segment does not add up");
        int32_t *table = r.state->quantTables[number];
        if (precision == 0) {
            for (int k = 0; k < 64; ++k) table[k] = p[1 + k];
        } else {
            for (int k = 0; k < 64; ++k) table[k] = be16(p + 1 + 2 * k);
        }
        r.facts->quantDefined |= static_cast<uint8_t>(1u << number);
        p += tableBytes;
        remaining -= tableBytes;
    }
    return Result::Ok;
}

Result readScanHeader(HeaderReader &r) {
    uint32_t n = 0;
    if (const Result res = readBody(r, n); res != Result::Ok) return res;
    DecoderState *s = r.state;
    if (r.facts->frameMarker == 0) {
        const uint8_t kind = r.facts->skippedFrameMarker;
        return refuse(r, Result::Unsupported,
                      kind == 0                        ? "a scan header comes before any frame header"
                      : kind == marker::kSof2 || kind == marker::kSof10 ? "progressive JPEG files are not supported"
                      : kind == marker::kSof3 || kind == marker::kSof11 ? "lossless JPEG files are not supported"
                      : kind == marker::kSof9 ? "arithmetic-coded JPEG files are not supported"
                                                       : "hierarchical JPEG files are not supported");
    }
    const uint8_t *b = r.scratch;
    const uint32_t ns = n > 0 ? b[0] : 0;
    if (ns == 0 || ns > kMaxScanComponents) return refuse(r, Result::Malformed, "the scan has no components or more than 4");
    if (n != 1 + 2 * ns + 3) return refuse(r, Result::Malformed, "the scan header's length does not match its components");
    s->scanComponents = static_cast<uint16_t>(ns);
    uint32_t used = 0;
    for (uint32_t j = 0; j < ns; ++j) {
        const uint8_t id = b[1 + 2 * j];
        const uint8_t tables = b[2 + 2 * j];
        uint32_t k = 0;
        while (k < s->frameComponents && (s->components[k].id != id || (used & (1u << k)) != 0)) ++k;
        if (k == s->frameComponents) return refuse(r, Result::Malformed, "the scan names a component the frame does not have");
        used |= 1u << k;
        ComponentSpec &c = s->components[k];
        c.dcSel = tables >> 4;
        c.acSel = tables & 15;
        if (c.dcSel > 3 || c.acSel > 3) return refuse(r, Result::Malformed, "the scan selects a Huffman table above 3");
        if ((r.facts->quantDefined & (1u << c.quantSel)) == 0)
            return refuse(r, Result::Malformed, "the scan uses a quantisation table that no DQT segment defined");
        r.facts->order[j] = static_cast<uint16_t>(k);
    }
    if (ns != s->frameComponents && !r.facts->acceptBuffered)
        return refuse(r, Result::Unsupported, "the first scan does not carry every component (not interleaved)");
    return Result::Ok;
}

Result readRestartInterval(HeaderReader &r) {
    uint8_t field[4];
    const UINT got = readSource(*r.source, field, 4);
    if (got == HFILE_ERROR_COUNT) return refuse(r, Result::IoError, "the file cannot be read");
    if (got != 4) return refuse(r, Result::Malformed, "the file ends inside a marker segment");
    if (be16(field) != 4) return refuse(r, Result::Malformed, "the restart interval segment's length is not 4");
    r.state->restartInterval = be16(field + 2);
    return Result::Ok;
}

Result readJfifHeader(HeaderReader &r) {
    uint32_t n = 0;
    if (const Result res = readBody(r, n); res != Result::Ok) return res;
    char identifier[6] = {};
    std::memcpy(identifier, r.scratch, n < 5 ? n : 5);
    if (n < 6 || lstrcmpA(identifier, "JFIF") != 0 || r.scratch[5] != 1)
        return refuse(r, Result::Unsupported, "an APP0 segment is not a JFIF version 1 header");
    return Result::Ok;
}

// An APP14 segment is Adobe's when it starts with "Adobe" and holds the
// version, two flag words and the transform byte; any other APP14 segment,
// or a shorter one, is skipped like any segment.
Result readAdobeSegment(HeaderReader &r) {
    uint32_t n = 0;
    if (const Result res = readBody(r, n); res != Result::Ok) return res;
    constexpr uint32_t kAdobeBodyBytes = 12;
    if (n >= kAdobeBodyBytes && std::memcmp(r.scratch, "Adobe", 5) == 0) r.facts->adobeTransform = r.scratch[11];
    return Result::Ok;
}

// A DAC segment: pairs of the table class and number and its value, the DC
// bounds (0 <= L <= U <= 15) or the AC split (1 to 63).
Result readConditioning(HeaderReader &r) {
    uint32_t n = 0;
    if (const Result res = readBody(r, n); res != Result::Ok) return res;
    if (n % 2 != 0) return refuse(r, Result::Malformed, "an arithmetic conditioning segment does not add up");
    ArithmeticConditioning &c = r.facts->conditioning;
    for (const uint8_t *p = r.scratch; p < r.scratch + n; p += 2) {
        const uint32_t tableClass = p[0] >> 4, number = p[0] & 15, value = p[1];
        if (tableClass > 1 || number > 3)
            return refuse(r, Result::Malformed, "an arithmetic conditioning table has a class or number out of range");
        if (tableClass == 0) {
            if ((value & 15) > (value >> 4))
                return refuse(r, Result::Malformed, "an arithmetic DC conditioning has its lower bound above the upper");
            c.dcLower[number] = static_cast<uint8_t>(value & 15);
            c.dcUpper[number] = static_cast<uint8_t>(value >> 4);
        } else {
            if (value < 1 || value > 63)
                return refuse(r, Result::Malformed, "an arithmetic AC conditioning is outside 1 to 63");
            c.acSplit[number] = static_cast<uint8_t>(value);
        }
    }
    return Result::Ok;
}

Result skipSegment(HeaderReader &r) {
    uint32_t n = 0;
    return readBody(r, n);
}

Result readHeaders(ByteSource &source, DecoderState *state, HeaderFacts &facts) {
    LockedBlock<uint8_t> bytes;
    if (!bytes.make(kScratchBytes)) {
        facts.reason = "out of memory";
        return Result::NoMemory;
    }
    HeaderReader r{&source, state, bytes.get(), &facts};
    for (;;) {
        // Find the next marker: an FF, any fill FFs, then a code other than 00.
        uint8_t code = 0;
        do {
            do {
                if (const Result res = readByte(r, code); res != Result::Ok) return res;
            } while (code != marker::kPrefix);
            do {
                if (const Result res = readByte(r, code); res != Result::Ok) return res;
            } while (code == marker::kPrefix);
        } while (code == marker::kStuffed);

        Result res;
        switch (code) {
            case marker::kSof2:
            case marker::kSof9:
            case marker::kSof10:
                if (!facts.acceptBuffered) {
                    facts.skippedFrameMarker = code;
                    res = skipSegment(r);
                    break;
                }
                [[fallthrough]];
            case marker::kSof0:
            case marker::kSof1:
                res = readFrameHeader(r);
                if (res == Result::Ok) facts.frameMarker = code;
                break;
            case marker::kDht: res = readHuffmanTables(r); break;
            case marker::kSos:
                facts.firstScanAt = source.position;
                res = readScanHeader(r);
                break;
            case marker::kDac: res = facts.acceptBuffered ? readConditioning(r) : skipSegment(r); break;
            case marker::kDqt: res = readQuantTables(r); break;
            case marker::kDri: res = readRestartInterval(r); break;
            case marker::kApp0: res = readJfifHeader(r); break;
            case marker::kApp14: res = readAdobeSegment(r); break;
            default:
                if (marker::isFrameMarker(code)) facts.skippedFrameMarker = code;
                res = skipSegment(r);
                break;
        }
        if (res != Result::Ok) return res;
        if (code == marker::kSos) break;
    }
    decideColourSpace(*state, facts);
    return loadMissingTables(state, facts, true, true);
}

Result loadMissingTables(DecoderState *state, HeaderFacts &facts, bool dc, bool ac) {
    for (uint32_t j = 0; j < state->scanComponents; ++j) {
        const ComponentSpec &c = state->components[facts.order[j]];
        for (int isAc = 0; isAc < 2; ++isAc) {
            if (!(isAc ? ac : dc)) continue;
            const uint32_t number = isAc ? c.acSel : c.dcSel;
            uint8_t &defined = isAc ? facts.acDefined : facts.dcDefined;
            if ((defined & (1u << number)) != 0) continue;
            Locked<HuffmanTableBlock> block(isAc ? state->acTables[number] : state->dcTables[number]);
            if (!block) {
                facts.reason = "out of memory";
                return Result::NoMemory;
            }
            loadStandardTable(block.get(), isAc != 0, static_cast<int>(number));
            defined |= static_cast<uint8_t>(1u << number);
        }
    }
    return Result::Ok;
}

// ---- the standard Huffman tables of ITU-T T.81 Annex K --------------------

void loadStandardTable(HuffmanTableBlock *block, bool ac, int number) {
    const bool luminance = number == 0;
    const uint8_t *counts = ac ? (luminance ? kAcLuminanceCounts : kAcChrominanceCounts)
                               : (luminance ? kDcLuminanceCounts : kDcChrominanceCounts);
    const uint8_t *symbols = ac ? (luminance ? kAcLuminanceSymbols : kAcChrominanceSymbols) : kDcSymbols;
    const size_t count = ac ? sizeof kAcLuminanceSymbols : sizeof kDcSymbols;
    std::memset(block, 0, sizeof *block);
    std::memcpy(block->counts + 1, counts, 16);
    std::memcpy(block->symbols, symbols, count);
}

}  // namespace jpg
