// The encoder's stages one by one: tables, colour conversion and
// downsampling, the forward DCT and quantisation, Huffman coding and the bit
// writer.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "encoder/encoder_kernels.h"
#include "encoder/encoder_state.h"
#include "base/standard_tables.h"
#include "test_util.h"
#include "encoder/forward_dct_lanes.h"

using namespace jpg;
using testutil::Bytes;

namespace {

// An encoder state with its tables set up, writing its scan to a scratch file.
struct Coder {
    testutil::TempDir dir;
    std::string path = dir.file("scan.bin");
    EncoderState state{};
    ByteSink sink;

    explicit Coder(bool grey, uint32_t width = 16, uint32_t height = 8) {
        state.width = width;
        state.height = height;
        sink.toFile(_lcreat(path.c_str(), 0));
        state.sink = &sink;
        EncodeSettings settings;
        settings.sampling = grey ? Sampling::Grey : Sampling::Ycc422;
        EXPECT_EQ(setupEncoderTables(&state, settings), Result::Ok);
    }
    ~Coder() {
        releaseEncoderTables(&state);
        if (sink.file != HFILE_ERROR) _lclose(sink.file);
    }
    // The whole file after finishScan.
    Bytes finished() {
        EXPECT_EQ(finishScan(&state), Result::Ok);
        _lclose(sink.file);
        sink.file = HFILE_ERROR;
        return testutil::readFile(path);
    }
    // The coded bits after finishScan, without stuffed bytes and EOI.
    std::string bits() {
        const Bytes bytes = finished();
        std::string out;
        for (size_t i = 0; i + 2 < bytes.size(); ++i)
            if (i == 0 || bytes[i - 1] != 0xFF || bytes[i] != 0)
                for (int b = 7; b >= 0; --b) out += ((bytes[i] >> b) & 1) ? '1' : '0';
        return out;
    }
    std::string code(bool dc, int symbol) const {
        const HuffmanCodeTable *t = dc ? state.dcCodes[0] : state.acCodes[0];
        std::string s;
        for (int b = t->lengths[symbol] - 1; b >= 0; --b) s += ((t->codes[symbol] >> b) & 1) ? '1' : '0';
        return s;
    }
};

// `bits` is `expected` followed by fewer than 8 one-bits of fill.
::testing::AssertionResult codedAs(const std::string &bits, const std::string &expected) {
    if (bits.compare(0, expected.size(), expected) == 0 && bits.size() - expected.size() < 8 &&
        bits.find('0', expected.size()) == std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << bits << " is not " << expected << " and fill bits";
}

}  // namespace

TEST(EncoderTables, ScaleByLevel) {
    // level ((compressionLevel + 2) x 6), scale, largest luminance and chrominance divisors.
    const int rows[][4] = {{6, 3, 45, 37},    {12, 4, 60, 49},     {30, 8, 121, 99},
                           {72, 13, 196, 160}, {108, 17, 257, 210}, {156, 21, 317, 259}};
    EncoderState state{};
    for (const auto &row : rows) {
        scaleQuantTables(&state, static_cast<uint16_t>(row[0]));
        EXPECT_EQ(qualityScale(static_cast<uint16_t>(row[0])), row[1]);
        EXPECT_EQ(*std::max_element(state.quantTables[0], state.quantTables[0] + 64), row[2]) << row[0];
        EXPECT_EQ(*std::max_element(state.quantTables[1], state.quantTables[1] + 64), row[3]) << row[0];
    }
    scaleQuantTables(&state, 30);  // Tables K.1 and K.2 in zigzag order
    EXPECT_EQ(std::vector<int32_t>(state.quantTables[0], state.quantTables[0] + 8),
              (std::vector<int32_t>{16, 11, 12, 14, 12, 10, 16, 14}));
    EXPECT_EQ(std::vector<int32_t>(state.quantTables[1], state.quantTables[1] + 8),
              (std::vector<int32_t>{17, 18, 18, 24, 21, 24, 47, 26}));
    // Level 1 gives divisors of at least 1; level 0 would give 0, made 1.
    for (uint16_t level : {0, 1}) {
        scaleQuantTables(&state, level);
        EXPECT_EQ(*std::min_element(state.quantTables[0], state.quantTables[0] + 128), 1);
    }
}

TEST(EncoderTables, CodesOfTablesK3AndK5) {
    Coder c(true);
    EXPECT_EQ(c.code(true, 0), "00");
    EXPECT_EQ(c.code(true, 1), "010");
    EXPECT_EQ(c.code(true, 5), "110");
    EXPECT_EQ(c.code(true, 6), "1110");
    EXPECT_EQ(c.code(true, 11), "111111110");
    EXPECT_EQ(c.code(false, 0x00), "1010");
    EXPECT_EQ(c.code(false, 0xF0), "11111111001");
}

TEST(ColourConvert, KnownColours) {
    Coder c(false, 7, 1);
    // B, G, R: white, black, grey 128, red, green, blue, R = 1.
    const uint8_t pixels[] = {255, 255, 255, 0, 0, 0, 128, 128, 128, 0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 1};
    uint8_t planes[3][16] = {};
    uint8_t *full[3] = {planes[0], planes[1], planes[2]};
    convertStripToPlanes(&c.state, pixels, 1, sizeof pixels, 3, false, full, nullptr);
    EXPECT_EQ(Bytes(planes[0], planes[0] + 7), (Bytes{255, 0, 128, 75, 149, 29, 0}));
    EXPECT_EQ(Bytes(planes[1], planes[1] + 7), (Bytes{128, 128, 128, 84, 44, 255, 127}));
    EXPECT_EQ(Bytes(planes[2], planes[2] + 7), (Bytes{128, 128, 128, 255, 20, 108, 128}));
}

TEST(ColourConvert, EdgesAndDownsampling) {
    // A last strip of 3 rows, 100 pixels wide: columns 100..111 repeat
    // column 99, rows 3..7 row 2; chroma averages pairs, halves rounding up.
    Coder c(false, 100, 3);
    std::vector<uint8_t> planes[3], out[3];
    uint8_t *full[3], *comp[3];
    for (int i = 0; i < 3; ++i) {
        planes[i].assign(112 * 8, 0);
        out[i].assign(c.state.components[i].paddedWidth * 8, 0);
        full[i] = planes[i].data();
        comp[i] = out[i].data();
        for (int r = 0; r < 3; ++r)
            for (int x = 0; x < 100; ++x) planes[i][r * 112 + x] = static_cast<uint8_t>(10 + r + x % 2);
    }
    padStripEdges(&c.state, 112, 3, full);
    downsampleStrip(&c.state, 112, full, comp);
    ASSERT_EQ(out[1].size(), 56u * 8);
    for (int r = 0; r < 8; ++r) {
        const int odd = 11 + std::min(r, 2);  // the value of odd columns, and of column 99
        for (int x = 100; x < 112; ++x) EXPECT_EQ(planes[0][r * 112 + x], odd);
        EXPECT_EQ(out[0][r * 112 + 5], odd);    // luminance copied
        EXPECT_EQ(out[1][r * 56], odd);         // (10 + 11 + 1) / 2
        EXPECT_EQ(out[2][r * 56 + 55], odd);    // replicated pair
    }
}

TEST(ForwardDct, FlatBlocksQuantisationAndOrder) {
    uint8_t samples[8 * 24];
    int32_t ones[64], sixteen[64], coefficients[64];
    std::fill(ones, ones + 64, 1);
    std::fill(sixteen, sixteen + 64, 16);
    // All 255 gives DC 1016, all 0 gives -1024, 64 and -64 at divisor 16.
    for (uint8_t value : {255, 0}) {
        std::memset(samples, value, sizeof samples);
        transformBlock(samples, coefficients, ones, 24);
        EXPECT_EQ(coefficients[0], value ? 1016 : -1024);
        EXPECT_TRUE(std::all_of(coefficients + 1, coefficients + 64, [](int32_t v) { return v == 0; }));
        transformBlock(samples, coefficients, sixteen, 24);
        EXPECT_EQ(coefficients[0], value ? 64 : -64);
    }
    // DC -8, 0, 8 at divisor 16: halves round away from zero.
    for (auto [mean, expected] : {std::pair{127, -1}, std::pair{128, 0}, std::pair{129, 1}}) {
        std::memset(samples, mean, sizeof samples);
        transformBlock(samples, coefficients, sixteen, 24);
        EXPECT_EQ(coefficients[0], expected) << mean;
    }
    // A vertical ramp, rows `stride` bytes apart, lands at zigzag entry 2.
    for (int r = 0; r < 8; ++r) std::memset(samples + 24 * r, 100 + 10 * r, 24);
    transformBlock(samples, coefficients, ones, 24);
    EXPECT_LT(coefficients[2], -100);
    EXPECT_EQ(coefficients[1], 0);
}

// Every kernel set's transforms, of one block and of two side by side,
// against the reference transform, with the divisors 1 (the raw
// coefficients) and two levels' tables: all-0 and all-255 blocks, each basis
// function's sign pattern at 0/255 and its reverse (which drive that
// coefficient furthest), and random blocks.
TEST(ForwardDct, EveryKernelSetMatchesTheReference) {
    std::vector<std::array<uint8_t, 64>> blocks;
    blocks.push_back({});
    blocks.emplace_back().fill(255);
    for (int n = 0; n < 64; ++n)
        for (int polarity = 0; polarity < 2; ++polarity) {
            auto &block = blocks.emplace_back();
            for (int i = 0; i < 64; ++i) {
                const double basis = std::cos((2 * (i / 8) + 1) * (n / 8) * M_PI / 16) *
                                     std::cos((2 * (i % 8) + 1) * (n % 8) * M_PI / 16);
                block[i] = (basis > 1e-9) != (polarity == 1) ? 255 : 0;
            }
        }
    std::mt19937 random(12);
    for (int b = 0; b < 3000; ++b) {
        auto &block = blocks.emplace_back();
        const bool extremesOnly = b % 3 == 0;
        for (uint8_t &v : block) v = extremesOnly ? (random() & 1) * 255 : random() & 255;
    }

    std::vector<std::pair<const char *, const EncoderKernels *>> sets = {{"plain", encoderKernels(KernelSet::Plain)}};
    if (kernelSetAvailable(KernelSet::Sse2)) sets.emplace_back("sse2", encoderKernels(KernelSet::Sse2));
    if (kernelSetAvailable(KernelSet::Avx2)) sets.emplace_back("avx2", encoderKernels(KernelSet::Avx2));

    EncoderState state{};
    std::vector<std::array<int32_t, 64>> divisors(1);
    divisors[0].fill(1);
    for (const uint16_t level : {3, 50}) {
        scaleQuantTables(&state, level);
        std::copy(state.quantTables[0], state.quantTables[0] + 64, divisors.emplace_back().begin());
    }
    // Each block is transformed alone, and beside the one before it.
    constexpr uint32_t kStride = 21;
    uint8_t samples[8 * kStride];
    for (const auto &table : divisors) {
        QuantReciprocals reciprocals;
        ASSERT_TRUE(makeQuantReciprocals(table.data(), reciprocals));
        QuantisedBlock expected[2];
        for (size_t b = 0; b < blocks.size(); ++b) {
            for (int r = 0; r < 8; ++r) {
                std::memcpy(samples + r * kStride, blocks[b > 0 ? b - 1 : 0].data() + 8 * r, 8);
                std::memcpy(samples + r * kStride + 8, blocks[b].data() + 8 * r, 8);
            }
            expected[0] = expected[1];
            int32_t zigzag[64];
            transformBlock(samples + 8, zigzag, table.data(), kStride);
            expected[1].nonzero = 0;
            for (int k = 0; k < 64; ++k) {
                expected[1].coefficients[kZigzag[k]] = static_cast<int16_t>(zigzag[k]);
                expected[1].nonzero |= static_cast<uint64_t>(zigzag[k] != 0) << k;
            }
            if (b == 0) expected[0] = expected[1];
            for (const auto &[name, kernels] : sets) {
                QuantisedBlock one, two[2];
                one.nonzero = kernels->transformBlock(samples + 8, kStride, reciprocals, one.coefficients);
                kernels->transformTwoBlocks(samples, kStride, reciprocals, two[0], two[1]);
                for (const auto &[got, want, what] : {std::tuple{&one, &expected[1], "alone"},
                                                      std::tuple{&two[0], &expected[0], "left"},
                                                      std::tuple{&two[1], &expected[1], "right"}}) {
                    ASSERT_TRUE(std::equal(got->coefficients, got->coefficients + 64, want->coefficients))
                        << name << " " << what << ", block " << b << ", divisor " << table[1];
                    ASSERT_EQ(got->nonzero, want->nonzero) << name << " " << what << ", block " << b;
                }
            }
        }
    }
}

namespace {

// A value of the SIMD transform as a linear form of the eight inputs of one
// pass, floor((sum c[i] * x[i] + k) / 2^shift), with each x[i] in inputs[i].
// Its extremes over the box of inputs are exact for the linear part, and the
// shift is monotone, so they bound what the lane can ever hold.
struct Form {
    std::array<int64_t, 8> c{};
    int64_t k = 0;
    int shift = 0;
    bool operator==(const Form &o) const { return c == o.c && k == o.k && shift == o.shift; }
};

struct Range {
    int64_t lo, hi;
};

// The lane operations of dctPass16 on forms, each checking that its result
// fits its lane.
struct FormLanes {
    using V = Form;
    using P = std::pair<Form, Form>;
    using W = Form;
    static inline std::array<Range, 8> inputs{};
    static inline Range widest16{0, 0};

    static Range extremes(const Form &f) {
        Range r{f.k, f.k};
        for (int i = 0; i < 8; ++i) {
            r.lo += std::min(f.c[i] * inputs[i].lo, f.c[i] * inputs[i].hi);
            r.hi += std::max(f.c[i] * inputs[i].lo, f.c[i] * inputs[i].hi);
        }
        return {r.lo >> f.shift, r.hi >> f.shift};  // arithmetic shifts: floors
    }
    static Form fits(const Form &f, int bits) {
        const Range r = extremes(f);
        const int64_t limit = int64_t{1} << (bits - 1);
        EXPECT_TRUE(r.lo >= -limit && r.hi < limit) << bits << "-bit value in [" << r.lo << ", " << r.hi << "]";
        if (bits == 16) widest16 = {std::min(widest16.lo, r.lo), std::max(widest16.hi, r.hi)};
        return f;
    }
    static Form combine(const Form &a, int64_t ca, const Form &b, int64_t cb) {
        EXPECT_TRUE(a.shift == 0 && b.shift == 0) << "a descaled value reused";
        Form f;
        for (int i = 0; i < 8; ++i) f.c[i] = a.c[i] * ca + b.c[i] * cb;
        f.k = a.k * ca + b.k * cb;
        return f;
    }
    template <int N>
    static Form rounded(Form f, int bits) {
        f.k += 1 << (N - 1);
        fits(f, bits);
        f.shift = N;
        return fits(f, bits);
    }

    static V add(const V &a, const V &b) { return fits(combine(a, 1, b, 1), 16); }
    static V sub(const V &a, const V &b) { return fits(combine(a, 1, b, -1), 16); }
    static V shiftLeft2(const V &a) { return fits(combine(a, 4, a, 0), 16); }
    template <int N>
    static V descale16(const V &a) {
        return rounded<N>(a, 16);
    }
    static P pair(const V &a, const V &b) { return {a, b}; }
    static W madd(const P &p, int32_t ca, int32_t cb) {
        EXPECT_TRUE(ca >= -32767 && ca <= 32767 && cb >= -32767 && cb <= 32767);
        return fits(combine(p.first, ca, p.second, cb), 32);
    }
    static W add32(const W &a, const W &b) { return fits(combine(a, 1, b, 1), 32); }
    template <int N>
    static W descale(const W &a) {
        return rounded<N>(a, 32);
    }
    static V narrow(const W &a) { return fits(a, 16); }
};

// The lane operations of dctPassPaired: each vector two forms (low and
// high half).
struct FormPairLanes {
    using F = FormLanes;
    using V = std::pair<Form, Form>;
    using P = std::pair<V, V>;
    using W = V;
    static V add(const V &a, const V &b) { return {F::add(a.first, b.first), F::add(a.second, b.second)}; }
    static V sub(const V &a, const V &b) { return {F::sub(a.first, b.first), F::sub(a.second, b.second)}; }
    static V shiftLeft2(const V &a) { return {F::shiftLeft2(a.first), F::shiftLeft2(a.second)}; }
    template <int N>
    static V descale16(const V &a) {
        return {F::descale16<N>(a.first), F::descale16<N>(a.second)};
    }
    static V swapHalves(const V &a) { return {a.second, a.first}; }
    static V negateHigh(const V &a) { return {a.first, F::fits(F::combine(a.second, -1, a.second, 0), 16)}; }
    static P pair(const V &a, const V &b) { return {a, b}; }
    static W madd(const P &p, int32_t lowA, int32_t lowB, int32_t highA, int32_t highB) {
        return {F::madd({p.first.first, p.second.first}, lowA, lowB),
                F::madd({p.first.second, p.second.second}, highA, highB)};
    }
    static W add32(const W &a, const W &b) { return {F::add32(a.first, b.first), F::add32(a.second, b.second)}; }
    template <int N>
    static W descale(const W &a) {
        return {F::descale<N>(a.first), F::descale<N>(a.second)};
    }
    static V narrow(const W &a) { return {F::narrow(a.first), F::narrow(a.second)}; }
};

// Runs one pass of both SIMD butterflies on forms, its eight inputs each
// within `input`; expects the same forms from both and returns the ranges of
// the eight results.
template <bool FirstPass>
std::array<Range, 8> passRanges(Range input) {
    FormLanes::inputs.fill(input);
    Form d[8];
    for (int i = 0; i < 8; ++i) d[i].c[i] = 1;
    FormPairLanes::V paired[4] = {{d[0], d[1]}, {d[7], d[6]}, {d[3], d[2]}, {d[4], d[5]}};
    dctPass16<FormLanes, FirstPass>(d);
    dctPassPaired<FormPairLanes, FirstPass>(paired);
    std::array<Range, 8> ranges;
    for (int i = 0; i < 8; ++i) {
        ranges[i] = FormLanes::extremes(d[i]);
        const Form &other = i < 4 ? paired[i].first : paired[i - 4].second;
        EXPECT_TRUE(other == d[i]) << "output " << i << " differs between the arrangements";
    }
    return ranges;
}

}  // namespace

// The SIMD transforms hold samples, butterfly sums and both passes' results
// in 16-bit lanes: every one of them fits for every block of 8-bit samples.
// The row pass's inputs are the level-shifted samples; the column pass's
// inputs in column k are the row pass's results k of eight rows, which vary
// independently, so their ranges bound the column pass's values.
TEST(ForwardDctLanes, SixteenBitValuesStayInRange) {
    FormLanes::widest16 = {0, 0};
    const std::array<Range, 8> rows = passRanges<true>({-128, 127});
    EXPECT_EQ(rows[0].lo, -4096);
    EXPECT_EQ(rows[0].hi, 4064);
    for (int k = 0; k < 8; ++k) {
        const std::array<Range, 8> columns = passRanges<false>(rows[k]);
        // Within the range the 16-bit quantisation serves (|v| <= 4,096).
        for (const Range &r : columns) EXPECT_TRUE(r.lo >= -1100 && r.hi <= 1100) << k;
        if (k == 0) {
            EXPECT_EQ(columns[0].lo, -1024);  // the DC of a block of zeros
        }
    }
    // The column pass's DC sum of a block of zeros is -32768 exactly.
    EXPECT_EQ(FormLanes::widest16.lo, -32768);
    EXPECT_LE(FormLanes::widest16.hi, 32767);
}

TEST(HuffmanEncoder, DcDifferencesAndRunsOfZeros) {
    // DC differences 0, +1, -1, -2, +3, each followed by EOB.
    for (const auto &[diff, bits] : {std::pair{0, "00"}, std::pair{1, "0101"}, std::pair{-1, "0100"},
                                     std::pair{-2, "01101"}, std::pair{3, "01111"}}) {
        Coder c(true);
        int32_t blocks[1][64] = {{diff}};
        encodeMcu(&c.state, blocks);
        EXPECT_EQ(blocks[0][0], diff);  // entry 0 now holds the difference
        EXPECT_TRUE(codedAs(c.bits(), bits + c.code(false, 0x00))) << diff;
    }
    // 15 zeros: run 15; 16: ZRL then run 0; 35: two ZRL, run 3; a non-zero
    // last coefficient: no EOB.
    for (int zeros : {15, 16, 35, 62}) {
        Coder c(true);
        int32_t blocks[1][64] = {};
        blocks[0][1 + zeros] = 1;
        encodeMcu(&c.state, blocks);
        std::string expected = "00";
        for (int z = 0; z < zeros / 16; ++z) expected += c.code(false, 0xF0);
        expected += c.code(false, (zeros % 16) * 16 + 1) + "1" + (zeros < 62 ? c.code(false, 0x00) : "");
        EXPECT_TRUE(codedAs(c.bits(), expected)) << zeros;
    }
}

TEST(HuffmanEncoder, StuffingFillBitsAndBufferPieces) {
    {
        Coder c(true);  // 0xFF data bytes get a 0x00; a byte-aligned end no fill
        putBits(&c.state, 0xFFFF, 16);
        EXPECT_EQ(c.finished(), (Bytes{0xFF, 0x00, 0xFF, 0x00, 0xFF, 0xD9}));
    }
    {
        Coder c(true);  // pending bits 101 are completed with ones
        putBits(&c.state, 5, 3);
        EXPECT_EQ(c.finished(), (Bytes{0xBF, 0xFF, 0xD9}));
    }
    // The buffer goes out in 32,768-byte pieces when a byte arrives at a full
    // buffer; a stuffed 0x00 may open the next piece.
    Coder c(true);
    for (uint32_t i = 0; i < kOutBufferBytes - 1; ++i) putBits(&c.state, 0x12, 8);
    putBits(&c.state, 0xFF, 8);
    EXPECT_EQ(testutil::readFile(c.path).size(), kOutBufferBytes);
    EXPECT_EQ(c.state.outCount, 1u);
    putBits(&c.state, 0x34, 8);
    const Bytes file = c.finished();
    EXPECT_EQ(Bytes(file.end() - 5, file.end()), (Bytes{0xFF, 0x00, 0x34, 0xFF, 0xD9}));
    EXPECT_EQ(file.size(), kOutBufferBytes + 4);
}
