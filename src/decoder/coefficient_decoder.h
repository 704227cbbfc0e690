// The decoder of the files whose picture needs every block's coefficients
// before its first row can be made: progressive frames (SOF2, SOF10),
// arithmetic-coded frames (SOF9, SOF10) and sequential frames of several
// scans. Their scans are decoded one after the other into one coefficient
// buffer; the picture is then made from it, MCU row by MCU row, with the
// baseline path's transform, upsampling and conversion.
//
// The caller:
//   1. reads the headers from a memory source with HeaderFacts.acceptBuffered
//      set (readHeaders stops after the first scan header, as always);
//   2. when needsCoefficientBuffer() says so, calls decodeCoefficients with
//      the same source, record and facts (else the baseline streaming path
//      decodes the file, the source at its entropy-coded data);
//   3. makes the picture from the buffer: on return the record and the
//      facts describe one scan of every frame component in frame order, so
//      that layoutDecoderScan gives the MCU layout the buffer is laid out in.
#ifndef JPG_DECODER_COEFFICIENT_DECODER_H
#define JPG_DECODER_COEFFICIENT_DECODER_H

#include <cstddef>
#include <cstdint>

#include "base/memory_blocks.h"
#include "decoder/decoder_internal.h"

namespace jpg {

constexpr uint32_t kMaxFrameComponents = 3;

// One frame component's quantised coefficients: blocks row by row,
// `widthBlocks` to a row, each block 64 coefficients in zigzag order (as the
// DQT and the entropy-coded data give them). The grid is the one the
// interleaved MCU layout gives: for several components h x mcusPerRow by
// v x mcuRows blocks, for one component ceil(width / 8) by ceil(height / 8).
// So MCU row r of component c is block rows v_c r to v_c r + v_c - 1, the
// baseline path's coefficient row of that component. Blocks no scan reached
// (the padding of a component coded alone, or data that ran short) are zero.
struct CoefficientPlane {
    LockedBlock<int16_t> memory;
    int16_t *blocks = nullptr;
    uint32_t widthBlocks = 0, heightBlocks = 0;
    int16_t *block(uint32_t row, uint32_t column) const {
        return blocks + (size_t{row} * widthBlocks + column) * 64;
    }
};

struct CoefficientBuffer {
    uint32_t components = 0;
    CoefficientPlane planes[kMaxFrameComponents];
    // Each component's quantisation table (zigzag order), as it stood when
    // the component's first scan started (ITU-T T.81 B.2.4.1); bit c of
    // `latched` is set then. A component no scan reached keeps zeros.
    int32_t quant[kMaxFrameComponents][64] = {};
    uint8_t latched = 0;
};

// Blocks of component c's plane, and the bytes of the whole buffer, from
// the frame in the record; computed before anything is allocated.
struct PlaneSize {
    uint32_t widthBlocks = 0, heightBlocks = 0;
};
PlaneSize coefficientPlaneSize(const DecoderState &state, uint32_t component);
uint64_t coefficientBufferBytes(const DecoderState &state);
// Makes the zero-filled planes; NoMemory when a block cannot be had.
Result makeCoefficientBuffer(const DecoderState &state, CoefficientBuffer &buffer);

// True when the file whose headers were read needs the coefficient buffer:
// a frame other than C0, C1, or a first scan without every component.
bool needsCoefficientBuffer(const DecoderState &state, const HeaderFacts &facts);

// What a decode may cost.
struct CoefficientLimits {
    uint64_t memoryBytes = uint64_t{1} << 30;  // the buffer's bytes at most
    uint32_t maxScans = 1000;                  // scans at most
};

enum class LimitReached : uint8_t { None, Memory, Scans };

struct CoefficientReport {
    uint32_t scans = 0;       // scan headers read, the first included
    bool damaged = false;     // data damaged or short, or not ended by FF D9
    bool endOfImage = false;  // FF D9 was found after the last scan
    LimitReached limit = LimitReached::None;
    const char *reason = nullptr;  // in plain words, whenever the result is not Ok
};

// Decodes every scan from the first on (`source` is the memory source that
// readHeaders read, facts.firstScanAt the first scan's place) into
// `buffer`, which it makes. Scan headers are checked; the segments between
// scans are read (DHT, DQT, DRI, DAC) or skipped (APPn, COM, DNL and any
// other with a length); FF D9 ends the image.
//   Ok        every scan decoded and FF D9 found;
//   Damaged   the buffer holds what the data gave (some data damaged or
//             missing: coefficients it did not reach are left as they are);
//   Malformed an invalid scan script or segment (report.reason says which);
//             the buffer holds the scans before it;
//   Unsupported a limit was reached (report.limit; with Memory nothing was
//             allocated), or the source is not in memory;
//   NoMemory.
Result decodeCoefficients(ByteSource &source, DecoderState *state, HeaderFacts &facts, const CoefficientLimits &limits,
                          CoefficientBuffer &buffer, CoefficientReport &report);

// ---- between the scan loop and the entropy decoders ----------------------

// One scan as its header and the frame give it.
struct ScanSpec {
    uint32_t count = 0;                            // components in the scan
    uint32_t component[kMaxScanComponents] = {};   // frame component of each, in scan order
    uint32_t dcTable[kMaxScanComponents] = {};     // table (or conditioning) selectors
    uint32_t acTable[kMaxScanComponents] = {};
    bool progressive = false;
    uint32_t ss = 0, se = 63, ah = 0, al = 0;      // sequential scans: 0, 63, 0, 0
    uint32_t restartInterval = 0;                  // MCUs, 0: none
};

// Where a scan's blocks lie in the buffer, MCU by MCU (ITU-T T.81 A.2):
// block b of the MCU in row `row`, column `col` is at
// origin[j] + row x rowStep[j] + col x columnStep[j] + blockOffset[b] for
// its scan component j = blockComponent[b]. A scan of one component has
// one block to an MCU and covers its samples' blocks only.
struct McuWalk {
    uint32_t mcusPerRow = 0, mcuRows = 0, blocksPerMcu = 0;
    uint8_t blockComponent[kMaxBlocksPerMcu] = {};
    size_t blockOffset[kMaxBlocksPerMcu] = {};
    int16_t *origin[kMaxScanComponents] = {};
    size_t columnStep[kMaxScanComponents] = {};
    size_t rowStep[kMaxScanComponents] = {};
};

// A scan's entropy-coded data from data + position up to data + size. The
// scan's decoder leaves `position` where its reading stopped (at the marker
// that ended the data, or after the last byte it took) and sets `damaged`
// when the data was damaged or ran short.
struct ScanData {
    const uint8_t *data = nullptr;
    size_t size = 0;
    size_t position = 0;
    bool damaged = false;
};

// Huffman-coded scans; the table blocks are those of the record, locked, of
// which the scan uses those it selects.
void decodeHuffmanScan(const ScanSpec &scan, const McuWalk &walk, HuffmanTableBlock *const dcBlocks[4],
                       HuffmanTableBlock *const acBlocks[4], ScanData &input);
// Arithmetic-coded scans.
void decodeArithmeticScan(const ScanSpec &scan, const McuWalk &walk, const ArithmeticConditioning &conditioning,
                          ScanData &input);

// Where a restart marker is due: passes over the bytes up to the next
// marker. A restart marker (any of RST0 to RST7) is taken, `p` left after
// it, and the result is true; any other marker, or the end of the data,
// leaves `p` at it and gives false.
bool takeRestartMarker(const uint8_t *&p, const uint8_t *end);

// The quantised DC value of a block from its component's prediction and the
// decoded difference (ITU-T T.81 F.2.1.3.1, G.1.2.1): the prediction stays
// within +-32,767 and the value, shifted left by Al, within 16 bits; only
// damaged data reaches either bound, which sets `damaged`.
inline int16_t predictDc(int32_t &prediction, int32_t difference, uint32_t al, bool &damaged) {
    constexpr int32_t kLimit = 32767;
    int32_t v = prediction + difference;
    if (v > kLimit || v < -kLimit) {
        damaged = true;
        v = v > 0 ? kLimit : -kLimit;
    }
    prediction = v;
    int32_t shifted = v * (1 << al);  // al <= 13: within 32 bits
    if (shifted > kLimit || shifted < -kLimit - 1) {
        damaged = true;
        shifted = shifted > 0 ? kLimit : -kLimit - 1;
    }
    return static_cast<int16_t>(shifted);
}

// A coefficient value shifted left by Al into 16 bits: values of damaged
// data that do not fit keep their low 16 bits.
inline int16_t scaledCoefficient(int32_t v, uint32_t al) {
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(v) << al));
}

// Visits the MCUs of a scan in order and hands each block to
// scan.block(coefficients, j). Where a restart interval ends, scan.restart()
// looks for the marker: false ends the scan. While scan.exhausted() (its
// data ran out or broke) the MCUs up to the next restart marker are passed
// over, their coefficients left as they are.
template <class Scan>
void walkScan(const McuWalk &w, uint32_t restartInterval, Scan &scan) {
    uint32_t toGo = restartInterval;
    for (uint32_t row = 0; row < w.mcuRows; ++row) {
        for (uint32_t column = 0; column < w.mcusPerRow; ++column) {
            if (restartInterval != 0) {
                if (toGo == 0) {
                    if (!scan.restart()) return;
                    toGo = restartInterval;
                }
                --toGo;
            }
            if (scan.exhausted()) {
                if (restartInterval == 0) return;
                continue;
            }
            for (uint32_t b = 0; b < w.blocksPerMcu; ++b) {
                const uint32_t j = w.blockComponent[b];
                scan.block(w.origin[j] + row * w.rowStep[j] + column * w.columnStep[j] + w.blockOffset[b], j);
            }
        }
    }
}

}  // namespace jpg

#endif  // JPG_DECODER_COEFFICIENT_DECODER_H
