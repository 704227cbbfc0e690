// Arithmetic-coded scans into the coefficient buffer: the QM-coder's
// decoding procedure (ITU-T T.81 Annex D), sequential scans (F.2.4) and the
// four kinds of progressive scans (G.1.3), with the conditioning of the DAC
// segments (defaults L = 0, U = 1, Kx = 5).
//
// The statistics start afresh with each scan and after each restart marker.
// The data is read a byte at a time, in place; at a marker or at the end of
// the data the decoder is fed zero bytes, which is how an arithmetic-coded
// scan legitimately ends (its encoder leaves out trailing zeros).
#include <cstring>

#include "base/markers.h"
#include "decoder/coefficient_decoder.h"

namespace jpg {

namespace {

// Table D.2, the probability estimation state machine: the LPS interval Qe,
// the next state after an MPS and after an LPS, and whether an LPS turns
// the MPS sense over. State 113 is not the standard's: it is the fixed
// even estimate that sign and correction decisions are decoded with.
struct QeState {
    uint16_t qe;
    uint8_t nextMps, nextLps, switchMps;
};
constexpr QeState kStates[114] = {
    {0x5A1D, 1, 1, 1}, {0x2586, 2, 14, 0}, {0x1114, 3, 16, 0}, {0x080B, 4, 18, 0}, {0x03D8, 5, 20, 0},
    {0x01DA, 6, 23, 0}, {0x00E5, 7, 25, 0}, {0x006F, 8, 28, 0}, {0x0036, 9, 30, 0}, {0x001A, 10, 33, 0},
    {0x000D, 11, 35, 0}, {0x0006, 12, 9, 0}, {0x0003, 13, 10, 0}, {0x0001, 13, 12, 0}, {0x5A7F, 15, 15, 1},
    {0x3F25, 16, 36, 0}, {0x2CF2, 17, 38, 0}, {0x207C, 18, 39, 0}, {0x17B9, 19, 40, 0}, {0x1182, 20, 42, 0},
    {0x0CEF, 21, 43, 0}, {0x09A1, 22, 45, 0}, {0x072F, 23, 46, 0}, {0x055C, 24, 48, 0}, {0x0406, 25, 49, 0},
    {0x0303, 26, 51, 0}, {0x0240, 27, 52, 0}, {0x01B1, 28, 54, 0}, {0x0144, 29, 56, 0}, {0x00F5, 30, 57, 0},
    {0x00B7, 31, 59, 0}, {0x008A, 32, 60, 0}, {0x0068, 33, 62, 0}, {0x004E, 34, 63, 0}, {0x003B, 35, 32, 0},
    {0x002C, 9, 33, 0}, {0x5AE1, 37, 37, 1}, {0x484C, 38, 64, 0}, {0x3A0D, 39, 65, 0}, {0x2EF1, 40, 67, 0},
    {0x261F, 41, 68, 0}, {0x1F33, 42, 69, 0}, {0x19A8, 43, 70, 0}, {0x1518, 44, 72, 0}, {0x1177, 45, 73, 0},
    {0x0E74, 46, 74, 0}, {0x0BFB, 47, 75, 0}, {0x09F8, 48, 77, 0}, {0x0861, 49, 78, 0}, {0x0706, 50, 79, 0},
    {0x05CD, 51, 48, 0}, {0x04DE, 52, 50, 0}, {0x040F, 53, 50, 0}, {0x0363, 54, 51, 0}, {0x02D4, 55, 52, 0},
    {0x025C, 56, 53, 0}, {0x01F8, 57, 54, 0}, {0x01A4, 58, 55, 0}, {0x0160, 59, 56, 0}, {0x0125, 60, 57, 0},
    {0x00F6, 61, 58, 0}, {0x00CB, 62, 59, 0}, {0x00AB, 63, 61, 0}, {0x008F, 32, 61, 0}, {0x5B12, 65, 65, 1},
    {0x4D04, 66, 80, 0}, {0x412C, 67, 81, 0}, {0x37D8, 68, 82, 0}, {0x2FE8, 69, 83, 0}, {0x293C, 70, 84, 0},
    {0x2379, 71, 86, 0}, {0x1EDF, 72, 87, 0}, {0x1AA9, 73, 87, 0}, {0x174E, 74, 72, 0}, {0x1424, 75, 72, 0},
    {0x119C, 76, 74, 0}, {0x0F6B, 77, 74, 0}, {0x0D51, 78, 75, 0}, {0x0BB6, 79, 77, 0}, {0x0A40, 48, 77, 0},
    {0x5832, 81, 80, 1}, {0x4D1C, 82, 88, 0}, {0x438E, 83, 89, 0}, {0x3BDD, 84, 90, 0}, {0x34EE, 85, 91, 0},
    {0x2EAE, 86, 92, 0}, {0x299A, 87, 93, 0}, {0x2516, 71, 86, 0}, {0x5570, 89, 88, 1}, {0x4CA9, 90, 95, 0},
    {0x44D9, 91, 96, 0}, {0x3E22, 92, 97, 0}, {0x3824, 93, 99, 0}, {0x32B4, 94, 99, 0}, {0x2E17, 86, 93, 0},
    {0x56A8, 96, 95, 1}, {0x4F46, 97, 101, 0}, {0x47E5, 98, 102, 0}, {0x41CF, 99, 103, 0}, {0x3C3D, 100, 104, 0},
    {0x375E, 93, 99, 0}, {0x5231, 102, 105, 0}, {0x4C0F, 103, 106, 0}, {0x4639, 104, 107, 0}, {0x415E, 99, 103, 0},
    {0x5627, 106, 105, 1}, {0x50E7, 107, 108, 0}, {0x4B85, 103, 109, 0}, {0x5597, 109, 110, 0},
    {0x504F, 107, 111, 0}, {0x5A10, 111, 110, 1}, {0x5522, 109, 112, 0}, {0x59EB, 111, 112, 1},
    {0x5A1D, 113, 113, 0}};
constexpr uint8_t kFixedState = 113;

// A statistics bin: state index in the low 7 bits, the MPS sense in the top bit.
struct QmDecoder {
    const uint8_t *p = nullptr;
    const uint8_t *end = nullptr;
    uint32_t c = 0;        // code register: Cx in the high 16 bits, the next byte's bits below
    uint32_t a = 0x10000;  // interval
    int ct = 0;            // bits of the low byte not yet shifted into Cx
    bool stopped = false;  // at a marker or at the end: zero bytes from here on

    uint32_t nextByte() {
        if (!stopped && p < end) {
            const uint8_t byte = *p;
            if (byte != marker::kPrefix) {
                ++p;
                return byte;
            }
            const uint8_t *q = p + 1;
            while (q < end && *q == marker::kPrefix) ++q;
            if (q < end && *q == marker::kStuffed) {
                p = q + 1;
                return byte;
            }
        }
        stopped = true;
        return 0;
    }

    // INITDEC (D.2.7): the first two bytes into Cx.
    void start(const uint8_t *from, const uint8_t *to) {
        p = from;
        end = to;
        stopped = false;
        c = nextByte() << 24;
        c |= nextByte() << 16;
        ct = 0;
        a = 0x10000;
    }

    // DECODE (D.2.2 to D.2.6). Cx < A holds whatever the data, so Cx never
    // overflows its 16 bits.
    uint32_t decode(uint8_t &bin) {
        const QeState &s = kStates[bin & 0x7F];
        const uint32_t mps = bin >> 7;
        uint32_t d;
        a -= s.qe;
        if ((c >> 16) < a) {
            if (a >= 0x8000) return mps;
            // Conditional MPS exchange.
            d = a < s.qe ? mps ^ 1 : mps;
        } else {
            // Conditional LPS exchange.
            c -= a << 16;
            d = a < s.qe ? mps : mps ^ 1;
            a = s.qe;
        }
        bin = d == mps ? static_cast<uint8_t>(mps << 7 | s.nextMps)
                       : static_cast<uint8_t>((mps ^ s.switchMps) << 7 | s.nextLps);
        do {
            if (ct == 0) {
                c |= nextByte() << 8;
                ct = 8;
            }
            a <<= 1;
            c <<= 1;
            --ct;
        } while (a < 0x8000);
        return d;
    }
};

enum class Kind { Sequential, DcFirst, DcRefine, AcFirst, AcRefine };

// Bins of the statistics areas (Tables F.4 and F.5): for DC, S0, SS, SP and
// SN at the conditioning category (0, 4, 8, 12, 16), X1 to X15 from 20 and
// M2 to M15 14 beyond; for AC, SE, S0 and SP/X1 at 3 (k - 1), X2 to X15
// from 189 (k <= Kx) or 217, M2 to M15 14 beyond.
constexpr uint32_t kDcBins = 64, kAcBins = 256;
constexpr uint32_t kDcFirstX = 20, kAcLowX = 189, kAcHighX = 217, kMagnitudeBits = 14;

template <Kind kKind>
struct ArithmeticScan {
    QmDecoder in;
    ScanData &data;
    uint32_t ss, se, al;
    uint8_t dcStats[4][kDcBins], acStats[4][kAcBins];
    uint8_t fixed = kFixedState;
    uint8_t *dcTable[kMaxScanComponents] = {};
    uint8_t *acTable[kMaxScanComponents] = {};
    uint32_t dcLower[kMaxScanComponents] = {}, dcUpper[kMaxScanComponents] = {};
    uint32_t acSplit[kMaxScanComponents] = {};
    uint32_t context[kMaxScanComponents] = {};
    int32_t prediction[kMaxScanComponents] = {};
    bool broken = false;  // a value too large or a run past the band: the rest of the interval is passed over

    ArithmeticScan(ScanData &input, const ScanSpec &scan, const ArithmeticConditioning &conditioning)
        : data(input), ss(scan.ss), se(scan.se), al(scan.al) {
        for (uint32_t j = 0; j < scan.count; ++j) {
            const uint32_t d = scan.dcTable[j] & 3, a = scan.acTable[j] & 3;
            dcTable[j] = dcStats[d];
            acTable[j] = acStats[a];
            dcLower[j] = conditioning.dcLower[d];
            dcUpper[j] = conditioning.dcUpper[d];
            acSplit[j] = conditioning.acSplit[a];
        }
        reset();
        in.start(input.data + input.position, input.data + input.size);
    }

    void reset() {
        std::memset(dcStats, 0, sizeof dcStats);
        std::memset(acStats, 0, sizeof acStats);
        for (uint32_t &v : context) v = 0;
        for (int32_t &v : prediction) v = 0;
        broken = false;
    }

    bool exhausted() const { return broken; }

    bool restart() {
        const uint8_t *p = in.p;
        if (!takeRestartMarker(p, in.end)) {
            in.p = p;
            data.damaged = true;
            return false;
        }
        reset();
        in.start(p, in.end);
        return true;
    }

    void finish() { data.position = static_cast<size_t>(in.p - data.data); }

    void fail() {
        broken = true;
        data.damaged = true;
    }

    void block(int16_t *coefficients, uint32_t j) {
        if constexpr (kKind == Kind::Sequential) {
            dcFirst(coefficients, j);
            if (!broken) acFirst(coefficients, j, 1, 63, 0);
        } else if constexpr (kKind == Kind::DcFirst) {
            dcFirst(coefficients, j);
        } else if constexpr (kKind == Kind::DcRefine) {
            if (in.decode(fixed) != 0) coefficients[0] = static_cast<int16_t>(coefficients[0] | (1 << al));
        } else if constexpr (kKind == Kind::AcFirst) {
            acFirst(coefficients, 0, ss, se, al);
        } else {
            acRefine(coefficients);
        }
    }

    // The rest of a magnitude |v| - 1 of at least m (F.2.4.3.1, Figures F.23
    // and F.24): X decisions from `bin` on double it while they say so,
    // then the bits below its top bit come from the M bins 14 beyond the
    // last X bin, to give `value`. False (and the scan broken) past 15 bits.
    bool widen(uint8_t *bin, uint32_t &m, uint32_t &value) {
        while (in.decode(*bin) != 0) {
            m <<= 1;
            if (m == 0x8000) {
                fail();
                return false;
            }
            ++bin;
        }
        value = m;
        for (uint32_t b = m >> 1; b != 0; b >>= 1)
            if (in.decode(bin[kMagnitudeBits]) != 0) value |= b;
        return true;
    }

    void dcFirst(int16_t *coefficients, uint32_t j) {
        uint8_t *stats = dcTable[j];
        uint8_t *s = stats + context[j];
        int32_t difference = 0;
        if (in.decode(s[0]) == 0) {
            context[j] = 0;
        } else {
            const uint32_t sign = in.decode(s[1]);
            uint32_t m = in.decode(s[2 + sign]), v = m;
            if (m != 0 && !widen(stats + kDcFirstX, m, v)) return;
            // The difference's size (m, the top bit of |v| - 1) conditions
            // the component's next one.
            if (m < (1u << dcLower[j]) >> 1)
                context[j] = 0;
            else if (m > (1u << dcUpper[j]) >> 1)
                context[j] = 12 + 4 * sign;
            else
                context[j] = 4 + 4 * sign;
            const auto value = static_cast<int32_t>(v + 1);
            difference = sign != 0 ? -value : value;
        }
        coefficients[0] = predictDc(prediction[j], difference, al, data.damaged);
    }

    void acFirst(int16_t *coefficients, uint32_t j, uint32_t first, uint32_t last, uint32_t shift) {
        uint8_t *stats = acTable[j];
        for (uint32_t k = first; k <= last; ++k) {
            uint8_t *s = stats + 3 * (k - 1);
            if (in.decode(s[0]) != 0) break;  // end of band
            while (in.decode(s[1]) == 0) {
                s += 3;
                if (++k > last) {
                    fail();
                    return;
                }
            }
            const uint32_t sign = in.decode(fixed);
            // Two decisions in the SP bin: is |v| - 1 at least 1, then at
            // least 2; the X bins go on from X2.
            uint32_t m = in.decode(s[2]), v = m;
            if (m != 0 && in.decode(s[2]) != 0) {
                m = 2;
                if (!widen(stats + (k <= acSplit[j] ? kAcLowX : kAcHighX), m, v)) return;
            }
            const auto value = static_cast<int32_t>(v + 1);
            coefficients[k] = scaledCoefficient(sign != 0 ? -value : value, shift);
        }
    }

    // G.1.3.3: past the band's last coefficient already nonzero an end-of-
    // band decision comes first; a nonzero coefficient takes a correction
    // decision, a zero one may become +-2^Al.
    void acRefine(int16_t *coefficients) {
        uint8_t *stats = acTable[0];
        const int32_t p1 = 1 << al;
        uint32_t lastNonzero = se;
        while (lastNonzero > 0 && coefficients[lastNonzero] == 0) --lastNonzero;
        for (uint32_t k = ss; k <= se; ++k) {
            uint8_t *s = stats + 3 * (k - 1);
            if (k > lastNonzero && in.decode(s[0]) != 0) break;
            for (;;) {
                int16_t &c = coefficients[k];
                if (c != 0) {
                    if (in.decode(s[2]) != 0) c = static_cast<int16_t>(c < 0 ? c - p1 : c + p1);
                    break;
                }
                if (in.decode(s[1]) != 0) {
                    c = static_cast<int16_t>(in.decode(fixed) != 0 ? -p1 : p1);
                    break;
                }
                s += 3;
                if (++k > se) {
                    fail();
                    return;
                }
            }
        }
    }
};

template <Kind kKind>
void runScan(const ScanSpec &scan, const McuWalk &walk, const ArithmeticConditioning &conditioning, ScanData &input) {
    ArithmeticScan<kKind> s(input, scan, conditioning);
    walkScan(walk, scan.restartInterval, s);
    s.finish();
}

}  // namespace

void decodeArithmeticScan(const ScanSpec &scan, const McuWalk &walk, const ArithmeticConditioning &conditioning,
                          ScanData &input) {
    if (!scan.progressive) {
        runScan<Kind::Sequential>(scan, walk, conditioning, input);
    } else if (scan.ss == 0) {
        if (scan.ah == 0)
            runScan<Kind::DcFirst>(scan, walk, conditioning, input);
        else
            runScan<Kind::DcRefine>(scan, walk, conditioning, input);
    } else if (scan.ah == 0) {
        runScan<Kind::AcFirst>(scan, walk, conditioning, input);
    } else {
        runScan<Kind::AcRefine>(scan, walk, conditioning, input);
    }
}

}  // namespace jpg
