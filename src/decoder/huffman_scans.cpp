// Huffman-coded scans into the coefficient buffer: sequential scans of one
// or several components, and the four kinds of progressive scans (ITU-T
// T.81 G.1.2): DC first and refinement, AC first and refinement, with their
// end-of-band runs.
//
// The data is read in place through a 64-bit bit buffer, eight bytes at a
// time where none of them is FF. The reader stops at a marker (an FF not
// followed by a stuffed 00) and at the end of the data, and feeds zero bits
// from there on; a scan that takes any of those has run out of data, and
// its MCUs up to the next restart marker are passed over, as libjpeg-turbo
// leaves them.
#include <algorithm>

#include "base/markers.h"
#include "decoder/coefficient_decoder.h"
#include "decoder/nonzero_mask.h"

namespace jpg {

namespace {

struct BitReader {
    const uint8_t *p = nullptr;
    const uint8_t *end = nullptr;
    uint64_t bits = 0;  // the next `count` bits from the top, zeros below
    int count = 0;
    int padding = 0;       // of the `count` bits, the zeros fed after the data stopped (the lowest)
    bool stopped = false;  // the data stopped: p rests at the marker, or at the end
    bool dry = false;      // bits were taken past the data

    void start(const uint8_t *from, const uint8_t *to) {
        p = from;
        end = to;
        bits = 0;
        count = padding = 0;
        stopped = dry = false;
    }
    bool exhausted() const { return dry || count < padding; }

    // At least `need` bits (at most 32) at hand afterwards.
    void ensure(int need) {
        if (count < need) fill();
    }

    void fill() {
        if (!stopped && end - p >= 8 && fillWithoutFf(p, bits, count)) return;
        fillBytes();
    }

    // Byte by byte: an FF followed by fill FFs and 00 is a data FF; followed
    // by anything else it starts a marker, where the data stops.
    void fillBytes() {
        while (count <= 56) {
            if (!stopped && p < end) {
                const uint8_t byte = *p;
                if (byte != marker::kPrefix) {
                    ++p;
                    push(byte);
                    continue;
                }
                const uint8_t *q = p + 1;
                while (q < end && *q == marker::kPrefix) ++q;
                if (q < end && *q == marker::kStuffed) {
                    p = q + 1;
                    push(byte);
                    continue;
                }
            }
            stopped = true;
            if (count < padding) {
                dry = true;
                padding = count;
            }
            padding += 64 - count;
            count = 64;
        }
    }
    void push(uint8_t byte) {
        bits |= uint64_t{byte} << (56 - count);
        count += 8;
    }

    void skip(int n) {
        bits <<= n;
        count -= n;
    }
    // The next n (1 to 32) bits as a number.
    uint32_t take(uint32_t n) {
        const auto v = static_cast<uint32_t>(bits >> (64 - n));
        skip(static_cast<int>(n));
        return v;
    }
    uint32_t bit() {
        if (count == 0) fill();
        return take(1);
    }
    // The next symbol of the table; needs 16 bits at hand. A pattern that
    // no code matches gives symbol 0 and sets `broken`.
    uint32_t symbol(const DecodeTable &table, bool &broken) {
        const uint32_t entry = table.fast[bits >> (64 - kLookaheadBits)];
        if (entry != 0) {
            skip(static_cast<int>(entry >> 8));
            return entry & 0xFF;
        }
        uint8_t symbol = 0;
        uint32_t length = matchCode(table.block, static_cast<uint32_t>(bits >> 48), 16, symbol);
        if (length == 0) {
            broken = true;
            length = 16;
        }
        skip(static_cast<int>(length));
        return symbol;
    }
};

enum class Kind { Sequential, DcFirst, DcRefine, AcFirst, AcRefine };

template <Kind kKind>
struct HuffmanScan {
    BitReader in;
    ScanData &data;
    const DecodeTable *dc[kMaxScanComponents] = {};
    const DecodeTable *ac[kMaxScanComponents] = {};
    uint32_t ss, se, al;
    int32_t prediction[kMaxScanComponents] = {};
    uint32_t eobRun = 0;
    bool broken = false;

    HuffmanScan(ScanData &input, const ScanSpec &scan) : data(input), ss(scan.ss), se(scan.se), al(scan.al) {
        in.start(input.data + input.position, input.data + input.size);
    }

    bool exhausted() const { return in.exhausted(); }

    bool restart() {
        if (in.exhausted()) data.damaged = true;
        const uint8_t *p = in.p;
        const bool found = takeRestartMarker(p, in.end);
        in.start(p, in.end);
        if (!found) {
            data.damaged = true;
            return false;
        }
        for (int32_t &v : prediction) v = 0;
        eobRun = 0;
        return true;
    }

    void finish() {
        if (in.exhausted() || broken) data.damaged = true;
        data.position = static_cast<size_t>(in.p - data.data);
    }

    void block(int16_t *coefficients, uint32_t j) {
        if constexpr (kKind == Kind::Sequential) {
            dcFirst(coefficients, j);
            acFirst<false>(coefficients, *ac[j], 1, 63, 0);
        } else if constexpr (kKind == Kind::DcFirst) {
            dcFirst(coefficients, j);
        } else if constexpr (kKind == Kind::DcRefine) {
            if (in.bit() != 0) coefficients[0] = static_cast<int16_t>(coefficients[0] | (1 << al));
        } else if constexpr (kKind == Kind::AcFirst) {
            acFirst<true>(coefficients, *ac[0], ss, se, al);
        } else {
            acRefine(coefficients, *ac[0]);
        }
    }

    void dcFirst(int16_t *coefficients, uint32_t j) {
        in.ensure(32);
        int32_t difference = 0;
        const uint32_t entry = dc[j]->combined[in.bits >> (64 - kCombinedBits)];
        if (((entry >> 8) & 0xFF) != kCombinedElsewhere) {
            in.skip(static_cast<int>(entry & 0xFF));
            difference = static_cast<int32_t>(entry) >> 16;
        } else {
            uint32_t s = in.symbol(*dc[j], broken);
            if (s > 16) {
                broken = true;
                s = 0;
            }
            if (s != 0) difference = extend(in.take(s), s);
        }
        coefficients[0] = predictDc(prediction[j], difference, al, data.damaged);
    }

    // The coefficients ss to se of a sequential block (end of block for
    // every zero-size symbol but ZRL) or of a progressive first scan (whose
    // zero-size symbols other than ZRL start end-of-band runs), scaled by
    // Al. The buffer's block is zero where no scan has set a value.
    template <bool kProgressive>
    void acFirst(int16_t *coefficients, const DecodeTable &table, uint32_t first, uint32_t last, uint32_t shift) {
        if (kProgressive && eobRun > 0) {
            --eobRun;
            return;
        }
        for (uint32_t k = first; k <= last;) {
            in.ensure(32);
            // Most codes and their values are in the combined lookup; a run
            // past the band's end, end of block and longer codes take the
            // symbol's own path.
            const uint32_t entry = table.combined[in.bits >> (64 - kCombinedBits)];
            const uint32_t step = (entry >> 8) & 0xFF;
            if (k + step <= last) {
                in.skip(static_cast<int>(entry & 0xFF));
                k += step;
                coefficients[k++] = scaledCoefficient(static_cast<int32_t>(entry) >> 16, shift);
                continue;
            }
            if (step == kCombinedZeros) {
                in.skip(static_cast<int>(entry & 0xFF));
                k += 16;
                continue;
            }
            const uint32_t rs = in.symbol(table, broken);
            const uint32_t run = rs >> 4, size = rs & 15;
            if (size != 0) {
                k += run;
                if (k > last) {
                    broken = true;
                    break;
                }
                coefficients[k++] = scaledCoefficient(extend(in.take(size), size), shift);
            } else if (run == 15) {
                k += 16;
            } else {
                if (kProgressive) {
                    // This band and 2^run - 1 + (run bits) more end here.
                    eobRun = (1u << run) - 1;
                    if (run != 0) eobRun += in.take(run);
                }
                break;
            }
        }
    }

    // Correction bits for the coefficients of `mask` (nonzero ones), in
    // coefficient order (ITU-T T.81 G.1.2.3): each set bit adds 2^Al away
    // from zero where that bit is not set yet. Up to 32 bits at a time.
    void correct(int16_t *coefficients, uint64_t mask, int32_t p1) {
        while (mask != 0) {
            in.ensure(32);
            const uint32_t n = std::min<uint32_t>(popCount(mask), 32);
            const uint32_t taken = in.take(n);
            for (uint32_t i = n; i-- > 0;) {
                const uint32_t k = countTrailingZeros(mask);
                mask &= mask - 1;
                const int32_t c = coefficients[k];
                const int32_t apply = static_cast<int32_t>((taken >> i) & 1u) & static_cast<int32_t>((c & p1) == 0);
                const int32_t step = c >= 0 ? p1 : -p1;
                coefficients[k] = static_cast<int16_t>(c + (step & -apply));
            }
        }
    }

    // ITU-T T.81 G.1.2.3: every nonzero coefficient of the band takes a
    // correction bit; a new coefficient of +-2^Al goes to the zero one its
    // run of zeros leads to (ZRL passes over sixteen). Worked on a mask of
    // the band's nonzero coefficients.
    void acRefine(int16_t *coefficients, const DecodeTable &table) {
        const int32_t p1 = 1 << al;
        const uint64_t band = (~uint64_t{0} >> (63 - se)) & (~uint64_t{0} << ss);
        uint64_t nonzero = nonzeroMask(coefficients) & band;
        uint32_t k = ss;
        if (eobRun == 0) {
            while (k <= se) {
                in.ensure(32);
                const uint32_t rs = in.symbol(table, broken);
                const uint32_t run = rs >> 4;
                int32_t value = 0;
                if ((rs & 15) != 0) {
                    // The size is 1 in valid data: one bit for the sign.
                    value = in.take(1) != 0 ? p1 : -p1;
                } else if (run != 15) {
                    eobRun = 1u << run;
                    if (run != 0) eobRun += in.take(run);
                    break;
                }
                uint64_t zeros = band & ~nonzero & ~uint64_t{0} << k;
                for (uint32_t i = 0; i < run; ++i) zeros &= zeros - 1;
                const uint64_t from = ~uint64_t{0} << k;
                if (zeros == 0) {
                    // The run goes past the band.
                    correct(coefficients, nonzero & from, p1);
                    if (value != 0) broken = true;
                    k = se + 1;
                    break;
                }
                const uint32_t target = countTrailingZeros(zeros);
                correct(coefficients, nonzero & from & ((uint64_t{1} << target) - 1), p1);
                if (value != 0) {
                    coefficients[target] = static_cast<int16_t>(value);
                    nonzero |= uint64_t{1} << target;
                }
                k = target + 1;
            }
        }
        if (eobRun > 0) {
            // The band's end: correction bits for the nonzero coefficients.
            if (k <= se) correct(coefficients, nonzero & ~uint64_t{0} << k, p1);
            --eobRun;
        }
    }
};

template <Kind kKind>
void runScan(const ScanSpec &scan, const McuWalk &walk, const DecodeTable *dc, const DecodeTable *ac,
             ScanData &input) {
    HuffmanScan<kKind> s(input, scan);
    for (uint32_t j = 0; j < scan.count; ++j) {
        s.dc[j] = dc + scan.dcTable[j];
        s.ac[j] = ac + scan.acTable[j];
    }
    walkScan(walk, scan.restartInterval, s);
    s.finish();
}

}  // namespace

void decodeHuffmanScan(const ScanSpec &scan, const McuWalk &walk, HuffmanTableBlock *const dcBlocks[4],
                       HuffmanTableBlock *const acBlocks[4], ScanData &input) {
    const bool dcFirst = !scan.progressive || (scan.ss == 0 && scan.ah == 0);
    const bool acScan = !scan.progressive || scan.ss != 0;
    DecodeTable dc[4], ac[4];
    uint32_t built = 0;  // bit t: DC table t; bit 4 + t: AC table t
    for (uint32_t j = 0; j < scan.count; ++j) {
        const uint32_t d = scan.dcTable[j] & 3, a = scan.acTable[j] & 3;
        if (dcFirst && (built & 1u << d) == 0) {
            buildDecodeTable(dcBlocks[d]);
            buildLookahead(dc[d], dcBlocks[d]);
            buildCombined(dc[d], false);
            built |= 1u << d;
        }
        if (acScan && (built & 16u << a) == 0) {
            buildDecodeTable(acBlocks[a]);
            buildLookahead(ac[a], acBlocks[a]);
            buildCombined(ac[a], true);
            built |= 16u << a;
        }
    }
    if (!scan.progressive) {
        runScan<Kind::Sequential>(scan, walk, dc, ac, input);
    } else if (scan.ss == 0) {
        if (scan.ah == 0)
            runScan<Kind::DcFirst>(scan, walk, dc, ac, input);
        else
            runScan<Kind::DcRefine>(scan, walk, dc, ac, input);
    } else if (scan.ah == 0) {
        runScan<Kind::AcFirst>(scan, walk, dc, ac, input);
    } else {
        runScan<Kind::AcRefine>(scan, walk, dc, ac, input);
    }
}

}  // namespace jpg
