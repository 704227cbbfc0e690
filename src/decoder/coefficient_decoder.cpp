// The coefficient decoder's scan loop: each scan header, checked against the
// scan script so far; the scan's entropy-coded data, decoded into the
// buffer; then the segments up to the next scan or the end of the image.

#include "decoder/coefficient_decoder.h"

#include <algorithm>
#include <cstring>

#include "base/markers.h"
#include "base/scan_geometry.h"

namespace jpg {

namespace {

// A marker in the entropy-coded data or after it: its first FF (fill FFs
// included), its code and the byte after the code; code 0 and `at` = the
// end when the data ends first.
struct FoundMarker {
    const uint8_t *at;
    uint8_t code;
    const uint8_t *after;
};

FoundMarker findMarker(const uint8_t *p, const uint8_t *end) {
    for (; p < end; ++p) {
        if (*p != marker::kPrefix) continue;
        const uint8_t *q = p + 1;
        while (q < end && *q == marker::kPrefix) ++q;
        if (q == end) break;
        if (*q != marker::kStuffed) return {p, *q, q + 1};
        p = q;
    }
    return {end, 0, end};
}

// What the scans so far have coded: per component and coefficient the
// successive approximation bit position reached (-1 before a first scan),
// and the components a sequential frame's scans have carried.
struct Script {
    int8_t bits[kMaxFrameComponents][64];
    uint8_t sequentialDone = 0;
    Script() { std::memset(bits, -1, sizeof bits); }
};

// Checks the scan in the record (its header's body in `body`) against the
// script and notes it there; the reason when it is invalid. A sequential
// frame's scans carry each component once, their spectral selection and
// successive approximation fields unread as the baseline path leaves them.
// A progressive frame's scans follow ITU-T T.81 G.1.1.1.1: a DC scan (Ss 0,
// Se 0) of any components, an AC scan (1 <= Ss <= Se <= 63) of one
// component whose DC scan came first; Al up to 13, a refinement (Ah != 0)
// with Al = Ah - 1 and Ah where the scans before left the coefficients.
const char *checkScan(const DecoderState &state, const HeaderFacts &facts, const uint8_t *body, bool progressive,
                      Script &script, ScanSpec &scan) {
    scan.count = state.scanComponents;
    for (uint32_t j = 0; j < scan.count; ++j) {
        const uint32_t c = facts.order[j];
        scan.component[j] = c;
        scan.dcTable[j] = state.components[c].dcSel & 3u;
        scan.acTable[j] = state.components[c].acSel & 3u;
    }
    if (!progressive) {
        for (uint32_t j = 0; j < scan.count; ++j)
            if ((script.sequentialDone & 1u << scan.component[j]) != 0)
                return "a component is in more than one scan of a sequential frame";
        for (uint32_t j = 0; j < scan.count; ++j) script.sequentialDone |= static_cast<uint8_t>(1u << scan.component[j]);
        return nullptr;
    }
    const uint8_t *fields = body + 1 + 2 * scan.count;
    const uint32_t ss = fields[0], se = fields[1], ah = fields[2] >> 4, al = fields[2] & 15u;
    if (ss == 0 ? se != 0 : se < ss || se > 63) return "a progressive scan's spectral selection is out of range";
    if (ss != 0 && scan.count != 1) return "a progressive AC scan has more than one component";
    if (al > 13 || (ah != 0 && al + 1 != ah)) return "a progressive scan's successive approximation is out of range";
    for (uint32_t j = 0; j < scan.count; ++j) {
        const int8_t *bits = script.bits[scan.component[j]];
        if (ss != 0 && bits[0] < 0) return "an AC scan comes before its component's first DC scan";
        for (uint32_t k = ss; k <= se; ++k) {
            const uint32_t expected = bits[k] < 0 ? 0 : static_cast<uint32_t>(bits[k]);
            if (ah != expected)
                return ah != 0 ? "a refinement scan does not follow the scan it refines"
                               : "a first scan comes again for coefficients already coded";
        }
    }
    for (uint32_t j = 0; j < scan.count; ++j)
        for (uint32_t k = ss; k <= se; ++k) script.bits[scan.component[j]][k] = static_cast<int8_t>(al);
    scan.progressive = true;
    scan.ss = ss;
    scan.se = se;
    scan.ah = ah;
    scan.al = al;
    return nullptr;
}

McuWalk layoutWalk(const DecoderState &state, const ScanSpec &scan, const CoefficientBuffer &buffer) {
    uint32_t maxH = 1, maxV = 1;
    for (uint32_t c = 0; c < buffer.components; ++c) {
        maxH = std::max<uint32_t>(maxH, state.components[c].hSamp);
        maxV = std::max<uint32_t>(maxV, state.components[c].vSamp);
    }
    ComponentLayout layout[kMaxScanComponents];
    for (uint32_t j = 0; j < scan.count; ++j) {
        const ComponentSpec &c = state.components[scan.component[j]];
        layout[j].hSamp = c.hSamp;
        layout[j].vSamp = c.vSamp;
        layout[j].sampleWidth = componentSamples(state.width, c.hSamp, maxH);
        layout[j].sampleHeight = componentSamples(state.height, c.vSamp, maxV);
    }
    const McuGrid grid = layoutScan(state.width, state.height, maxH, maxV, layout, scan.count);
    McuWalk walk;
    walk.mcusPerRow = grid.mcusPerRow;
    walk.mcuRows = grid.mcuRows;
    walk.blocksPerMcu = grid.blocksPerMcu;
    std::copy(grid.blockComponent, grid.blockComponent + kMaxBlocksPerMcu, walk.blockComponent);
    uint32_t b = 0;
    for (uint32_t j = 0; j < scan.count; ++j) {
        const CoefficientPlane &plane = buffer.planes[scan.component[j]];
        const size_t stride = size_t{plane.widthBlocks} * 64;
        walk.origin[j] = plane.blocks;
        walk.columnStep[j] = size_t{layout[j].mcuWidthBlocks} * 64;
        walk.rowStep[j] = layout[j].mcuHeightBlocks * stride;
        for (uint32_t y = 0; y < layout[j].mcuHeightBlocks; ++y)
            for (uint32_t x = 0; x < layout[j].mcuWidthBlocks && b < kMaxBlocksPerMcu; ++x)
                walk.blockOffset[b++] = y * stride + size_t{x} * 64;
    }
    return walk;
}

// Latches the quantisation table of each component whose first scan this is.
void latchQuantTables(const DecoderState &state, const ScanSpec &scan, CoefficientBuffer &buffer) {
    for (uint32_t j = 0; j < scan.count; ++j) {
        const uint32_t c = scan.component[j];
        if ((buffer.latched & 1u << c) != 0) continue;
        std::memcpy(buffer.quant[c], state.quantTables[state.components[c].quantSel & 3u], sizeof buffer.quant[c]);
        buffer.latched |= static_cast<uint8_t>(1u << c);
    }
}

Result decodeHuffman(DecoderState *state, HeaderFacts &facts, const ScanSpec &scan, const McuWalk &walk,
                     ScanData &data) {
    const bool dc = !scan.progressive || (scan.ss == 0 && scan.ah == 0);
    const bool ac = !scan.progressive || scan.ss != 0;
    if (const Result r = loadMissingTables(state, facts, dc, ac); r != Result::Ok) return r;
    Locked<HuffmanTableBlock> dcLocks[4] = {Locked<HuffmanTableBlock>(state->dcTables[0]),
                                            Locked<HuffmanTableBlock>(state->dcTables[1]),
                                            Locked<HuffmanTableBlock>(state->dcTables[2]),
                                            Locked<HuffmanTableBlock>(state->dcTables[3])};
    Locked<HuffmanTableBlock> acLocks[4] = {Locked<HuffmanTableBlock>(state->acTables[0]),
                                            Locked<HuffmanTableBlock>(state->acTables[1]),
                                            Locked<HuffmanTableBlock>(state->acTables[2]),
                                            Locked<HuffmanTableBlock>(state->acTables[3])};
    HuffmanTableBlock *dcBlocks[4], *acBlocks[4];
    for (int t = 0; t < 4; ++t) {
        dcBlocks[t] = dcLocks[t].get();
        acBlocks[t] = acLocks[t].get();
        if (dcBlocks[t] == nullptr || acBlocks[t] == nullptr) {
            facts.reason = "out of memory";
            return Result::NoMemory;
        }
    }
    decodeHuffmanScan(scan, walk, dcBlocks, acBlocks, data);
    return Result::Ok;
}

enum class Next { Scan, End };

// Reads the segments after a scan up to the next scan header (the source
// then just after its FF DA) or the end of the image. Bytes between a
// Huffman-coded scan's data and the marker after it (`strict`) are damage;
// so is the end of the data before FF D9. A frame header or a second SOI is
// Malformed, as is a segment that breaks its rules (not one that the data
// cuts short).
Result readBetweenScans(HeaderReader &r, bool strict, CoefficientReport &report, Next &next) {
    ByteSource &source = *r.source;
    next = Next::End;
    for (bool first = true;; first = false) {
        const FoundMarker found = findMarker(source.data + source.position, source.data + source.size);
        if (first && strict && found.at != source.data + source.position) report.damaged = true;
        source.position = static_cast<size_t>(found.after - source.data);
        Result res = Result::Ok;
        switch (found.code) {
            case 0: report.damaged = true; return Result::Ok;
            case marker::kEoi: report.endOfImage = true; return Result::Ok;
            case marker::kSos: next = Next::Scan; return Result::Ok;
            case marker::kDht: res = readHuffmanTables(r); break;
            case marker::kDqt: res = readQuantTables(r); break;
            case marker::kDri: res = readRestartInterval(r); break;
            case marker::kDac: res = readConditioning(r); break;
            case marker::kSoi: r.facts->reason = "a second start of image follows the scans"; return Result::Malformed;
            case marker::kTem: break;
            default:
                if (marker::isRestartMarker(found.code)) break;
                if (marker::isFrameMarker(found.code)) {
                    r.facts->reason = "a frame header follows the scans";
                    return Result::Malformed;
                }
                res = skipSegment(r);
                break;
        }
        if (res != Result::Ok) {
            if (source.position < source.size) return res;
            report.damaged = true;  // the data ends inside the segment
            return Result::Ok;
        }
    }
}

Result decodeScans(ByteSource &source, DecoderState *state, HeaderFacts &facts, const CoefficientLimits &limits,
                   CoefficientBuffer &buffer, CoefficientReport &report) {
    LockedBlock<uint8_t> scratch;
    if (!scratch.make(kScratchBytes)) {
        facts.reason = "out of memory";
        return Result::NoMemory;
    }
    HeaderReader r{&source, state, scratch.get(), &facts};
    const uint8_t kind = facts.frameMarker;
    const bool arithmetic = kind == marker::kSof9 || kind == marker::kSof10;
    const bool progressive = kind == marker::kSof2 || kind == marker::kSof10;
    Script script;
    source.position = facts.firstScanAt;
    for (;;) {
        if (++report.scans > limits.maxScans) {
            report.limit = LimitReached::Scans;
            facts.reason = "the file has more scans than the limit allows";
            return Result::Unsupported;
        }
        if (const Result res = readScanHeader(r); res != Result::Ok) {
            if (source.position < source.size) return res;
            report.damaged = true;  // the data ends inside the scan header
            return Result::Ok;
        }
        ScanSpec scan;
        if (const char *why = checkScan(*state, facts, scratch.get(), progressive, script, scan)) {
            facts.reason = why;
            return Result::Malformed;
        }
        scan.restartInterval = state->restartInterval;
        latchQuantTables(*state, scan, buffer);
        const McuWalk walk = layoutWalk(*state, scan, buffer);
        ScanData data;
        data.data = source.data;
        data.size = source.size;
        data.position = source.position;
        if (arithmetic) {
            decodeArithmeticScan(scan, walk, facts.conditioning, data);
        } else if (const Result res = decodeHuffman(state, facts, scan, walk, data); res != Result::Ok) {
            return res;
        }
        report.damaged = report.damaged || data.damaged;
        source.position = data.position;
        Next next = Next::End;
        if (const Result res = readBetweenScans(r, !arithmetic, report, next); res != Result::Ok) return res;
        if (next == Next::End) return Result::Ok;
    }
}

}  // namespace

bool takeRestartMarker(const uint8_t *&p, const uint8_t *end) {
    const FoundMarker found = findMarker(p, end);
    if (!marker::isRestartMarker(found.code)) {
        p = found.at;
        return false;
    }
    p = found.after;
    return true;
}

Result decodeCoefficients(ByteSource &source, DecoderState *state, HeaderFacts &facts, const CoefficientLimits &limits,
                          CoefficientBuffer &buffer, CoefficientReport &report) {
    report = CoefficientReport{};
    if (!source.inMemory()) {
        report.reason = "the coefficient decoder reads from memory only";
        return Result::Unsupported;
    }
    if (coefficientBufferBytes(*state) > limits.memoryBytes) {
        report.limit = LimitReached::Memory;
        report.reason = "the picture's coefficients would take more memory than the limit allows";
        return Result::Unsupported;
    }
    if (makeCoefficientBuffer(*state, buffer) != Result::Ok) {
        report.reason = "out of memory";
        return Result::NoMemory;
    }
    facts.reason = nullptr;
    const Result result = decodeScans(source, state, facts, limits, buffer, report);
    // From here on the record and the facts describe the buffer's layout:
    // one scan of every frame component, in frame order.
    state->scanComponents = state->frameComponents;
    for (uint32_t c = 0; c < kMaxScanComponents; ++c) facts.order[c] = static_cast<uint16_t>(c);
    if (result != Result::Ok) {
        report.reason = facts.reason != nullptr ? facts.reason : "the scans cannot be decoded";
        return result;
    }
    if (report.endOfImage && !report.damaged) return Result::Ok;
    report.damaged = true;
    report.reason = report.endOfImage ? "the entropy-coded data is damaged" : "the data ends before the end of the image";
    return Result::Damaged;
}

}  // namespace jpg
