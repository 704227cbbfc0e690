// The encoder's stages one by one: tables, colour conversion and
// downsampling, the forward DCT and quantisation, Huffman coding and the bit
// writer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "encoder/encoder_state.h"
#include "test_util.h"

using namespace jpg;
using testutil::Bytes;
using testutil::TempDir;

namespace {

// An encoder state with its tables set up, writing entropy-coded data to a
// scratch file.
struct CoderFixture {
    TempDir dir;
    std::string path = dir.file("scan.bin");
    EncoderState state{};

    explicit CoderFixture(bool grey, uint32_t width = 16, uint32_t height = 8, uint16_t level = 30) {
        singleComponent = grey ? 1 : 0;
        state.width = width;
        state.height = height;
        state.jpegFile = _lcreat(path.c_str(), 0);
        EXPECT_EQ(setupEncoderTables(&state, level), Result::Ok);
    }
    ~CoderFixture() {
        releaseEncoderTables(&state);
        if (state.jpegFile != HFILE_ERROR) _lclose(state.jpegFile);
        singleComponent = 0;
    }
    // Everything coded so far, after finishScan, as a string of bits.
    std::string finishedBits() {
        EXPECT_EQ(finishScan(&state), Result::Ok);
        _lclose(state.jpegFile);
        state.jpegFile = HFILE_ERROR;
        const Bytes bytes = testutil::readFile(path);
        std::string bits;
        for (size_t i = 0; i + 2 < bytes.size(); ++i) {
            if (i > 0 && bytes[i - 1] == 0xFF && bytes[i] == 0x00) continue;  // stuffed
            for (int b = 7; b >= 0; --b) bits += ((bytes[i] >> b) & 1) ? '1' : '0';
        }
        return bits;
    }
};

// True when `bits` is `expected` followed by fewer than 8 one-bits.
::testing::AssertionResult codedAs(const std::string &bits, const std::string &expected) {
    if (bits.compare(0, expected.size(), expected) != 0 || bits.size() - expected.size() >= 8 ||
        bits.find('0', expected.size()) != std::string::npos)
        return ::testing::AssertionFailure() << bits << " is not " << expected << " plus fill bits";
    return ::testing::AssertionSuccess();
}

std::string codeOf(const HuffmanCodeTable *t, int symbol) {
    std::string s;
    for (int b = t->lengths[symbol] - 1; b >= 0; --b) s += ((t->codes[symbol] >> b) & 1) ? '1' : '0';
    return s;
}

}  // namespace

TEST(EncoderTables, ScaleByLevel) {
    // compressionLevel -> level (c + 2) * 6, s, largest luminance and chrominance divisors.
    const int rows[][4] = {{6, 3, 45, 37},     {12, 4, 60, 49},    {30, 8, 121, 99},   {42, 9, 136, 111},
                           {72, 13, 196, 160}, {108, 17, 257, 210}, {156, 21, 317, 259}};
    for (const auto &row : rows) {
        EncoderState state{};
        scaleQuantTables(&state, static_cast<uint16_t>(row[0]));
        EXPECT_EQ(qualityScale(static_cast<uint16_t>(row[0])), row[1]);
        int maxLuma = 0, maxChroma = 0;
        for (int k = 0; k < 64; ++k) {
            maxLuma = std::max(maxLuma, state.quantTables[0][k]);
            maxChroma = std::max(maxChroma, state.quantTables[1][k]);
        }
        EXPECT_EQ(maxLuma, row[2]) << "level " << row[0];
        EXPECT_EQ(maxChroma, row[3]) << "level " << row[0];
    }
    EncoderState state{};
    scaleQuantTables(&state, 30);
    const int32_t lumaStart[8] = {16, 11, 12, 14, 12, 10, 16, 14};
    const int32_t chromaStart[8] = {17, 18, 18, 24, 21, 24, 47, 26};
    EXPECT_EQ(0, std::memcmp(state.quantTables[0], lumaStart, sizeof lumaStart));
    EXPECT_EQ(0, std::memcmp(state.quantTables[1], chromaStart, sizeof chromaStart));
    // Level 1 gives scale 1 and divisors of at least 1; level 0 would give
    // all-zero divisors, which become 1.
    for (uint16_t level : {0, 1}) {
        scaleQuantTables(&state, level);
        for (int k = 0; k < 64; ++k) EXPECT_GE(state.quantTables[0][k], 1);
    }
    EXPECT_EQ(state.quantTables[0][5], 1);  // (1 x 10) >> 3
}

TEST(EncoderTables, StandardHuffmanCodes) {
    CoderFixture f(false);
    const HuffmanCodeTable *dc = f.state.dcCodes[0];
    EXPECT_EQ(codeOf(dc, 0), "00");
    EXPECT_EQ(codeOf(dc, 1), "010");
    EXPECT_EQ(codeOf(dc, 5), "110");
    EXPECT_EQ(codeOf(dc, 6), "1110");
    EXPECT_EQ(codeOf(dc, 11), "111111110");
    const HuffmanCodeTable *ac = f.state.acCodes[0];
    EXPECT_EQ(codeOf(ac, 0x00), "1010");
    EXPECT_EQ(codeOf(ac, 0xF0), "11111111001");
    EXPECT_EQ(codeOf(ac, 0x01), "00");
    // Every AC symbol of both tables (EOB, ZRL, runs 0..15 x sizes 1..10) has a code.
    for (const HuffmanCodeTable *t : {f.state.acCodes[0], f.state.acCodes[1]})
        for (int run = 0; run < 16; ++run)
            for (int size = 1; size <= 10; ++size) EXPECT_GT(int{t->lengths[run * 16 + size]}, 0);
    for (int s = 0; s <= 11; ++s) EXPECT_GT(int{f.state.dcCodes[1]->lengths[s]}, 0);
}

TEST(EncoderTables, Geometry) {
    struct Case {
        bool grey;
        uint32_t w, h, yPadded, yPaddedHeight, cWidth, cPadded, mcusPerRow, mcuRows;
    };
    const Case cases[] = {{false, 640, 480, 640, 480, 320, 320, 40, 60},
                          {false, 100, 50, 112, 56, 50, 56, 7, 7},
                          {true, 100, 50, 104, 56, 0, 0, 13, 7},
                          {false, 65535, 65535, 65536, 65536, 32768, 32768, 4096, 8192}};
    for (const Case &c : cases) {
        CoderFixture f(c.grey, c.w, c.h);
        const EncoderState &s = f.state;
        EXPECT_EQ(s.components[0].paddedWidth, c.yPadded);
        EXPECT_EQ(s.components[0].paddedHeight, c.yPaddedHeight);
        EXPECT_EQ(s.mcusPerRow, c.mcusPerRow);
        EXPECT_EQ(s.mcuRows, c.mcuRows);
        EXPECT_EQ(s.blocksPerMcu, c.grey ? 1 : 4);
        if (!c.grey) {
            EXPECT_EQ(s.components[1].sampleWidth, c.cWidth);
            EXPECT_EQ(s.components[2].paddedWidth, c.cPadded);
            const uint16_t order[4] = {0, 0, 1, 2};
            EXPECT_EQ(0, std::memcmp(s.mcuBlockComponent, order, sizeof order));
        }
    }
}

TEST(ColourConvert, KnownColours) {
    CoderFixture f(false, 7, 1);
    // B, G, R pixels: white, black, grey 128, red, green, blue, R = 1.
    const uint8_t pixels[] = {255, 255, 255, 0, 0, 0, 128, 128, 128, 0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 1};
    uint8_t planes[3][16] = {};
    uint8_t *full[3] = {planes[0], planes[1], planes[2]};
    convertStripToPlanes(&f.state, pixels, 1, sizeof pixels, 3, full);
    const uint8_t y[7] = {255, 0, 128, 75, 149, 29, 0}, cb[7] = {128, 128, 128, 84, 44, 255, 127},
                  cr[7] = {128, 128, 128, 255, 20, 108, 128};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(planes[0][i], y[i]) << i;
        EXPECT_EQ(planes[1][i], cb[i]) << i;
        EXPECT_EQ(planes[2][i], cr[i]) << i;
    }
}

TEST(ColourConvert, EdgesAndDownsampling) {
    // A 100-pixel-wide last strip of 3 rows: columns 100..111 repeat column
    // 99, rows 3..7 repeat row 2, chroma averages pairs rounding halves up.
    CoderFixture f(false, 100, 3);
    std::vector<uint8_t> planes[3], out[3];
    uint8_t *full[3], *comp[3];
    for (int i = 0; i < 3; ++i) {
        planes[i].assign(112 * 8, 0);
        out[i].assign(f.state.components[i].paddedWidth * 8, 0);
        full[i] = planes[i].data();
        comp[i] = out[i].data();
        for (int r = 0; r < 3; ++r)
            for (int x = 0; x < 100; ++x) planes[i][r * 112 + x] = static_cast<uint8_t>(10 + r + (x % 2));
    }
    padStripEdges(&f.state, 112, 3, full);
    downsampleStrip(&f.state, 112, full, comp);
    for (int r = 0; r < 8; ++r) {
        const int rr = r < 3 ? r : 2;
        for (int x = 100; x < 112; ++x) EXPECT_EQ(planes[0][r * 112 + x], 10 + rr + 1);
        EXPECT_EQ(out[0][r * 112 + 5], 10 + rr + 1);                     // luminance copied
        EXPECT_EQ(out[1][r * 56 + 0], (10 + rr + 11 + rr + 1) / 2);      // (10 + 11 + 1) / 2 = 11
        EXPECT_EQ(out[2][r * 56 + 55], 10 + rr + 1);                      // replicated pair
    }
    ASSERT_EQ(out[1].size(), 56u * 8);
}

TEST(ForwardDct, FlatBlocksAndQuantisation) {
    uint8_t samples[8 * 24];
    int32_t ones[64], sixteen[64], coefficients[64];
    for (int k = 0; k < 64; ++k) ones[k] = 1, sixteen[k] = 16;
    for (uint8_t value : {255, 0}) {
        std::memset(samples, value, sizeof samples);
        transformBlock(samples, coefficients, ones, 24);
        EXPECT_EQ(coefficients[0], value ? 1016 : -1024);
        for (int k = 1; k < 64; ++k) EXPECT_EQ(coefficients[k], 0);
        transformBlock(samples, coefficients, sixteen, 24);
        EXPECT_EQ(coefficients[0], value ? 64 : -64);
    }
    // Halves round away from zero: DC -8 / 16 = -1, 7 / 16 = 0, 8 / 16 = 1.
    // A flat block of mean m has DC 8 (m - 128).
    for (auto [mean, expected] : {std::pair{127, -1}, std::pair{128, 0}, std::pair{129, 1}}) {
        std::memset(samples, mean, sizeof samples);
        transformBlock(samples, coefficients, sixteen, 24);
        EXPECT_EQ(coefficients[0], expected) << mean;
    }
    // A vertical ramp lands at zigzag entry 2 (natural 8); rows are read
    // `stride` bytes apart, not 8.
    for (int r = 0; r < 8; ++r) std::memset(samples + 24 * r, 100 + 10 * r, 24);
    transformBlock(samples, coefficients, ones, 24);
    EXPECT_LT(coefficients[2], -100);
    EXPECT_EQ(coefficients[1], 0);
}

TEST(ForwardDct, MatchesTheTransformWithinHalfAUnit) {
    uint32_t seed = 7;
    int32_t block[64];
    double f[64];
    for (int k = 0; k < 64; ++k) {
        seed = seed * 1103515245u + 12345u;
        block[k] = static_cast<int32_t>((seed >> 16) % 256) - 128;
        f[k] = block[k];
    }
    forwardDct(block);
    const double pi = 3.14159265358979323846;
    for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u) {
            double sum = 0;
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    sum += f[8 * y + x] * std::cos((2 * x + 1) * u * pi / 16) * std::cos((2 * y + 1) * v * pi / 16);
            const double cu = u ? 1 : 1 / std::sqrt(2.0), cv = v ? 1 : 1 / std::sqrt(2.0);
            EXPECT_NEAR(block[8 * v + u], 0.25 * cu * cv * sum, 1.0) << u << "," << v;
        }
}

TEST(HuffmanEncoder, DcDifferences) {
    // Differences 0, +1, -1, -2, +3 with the luminance DC table.
    const std::pair<int, std::string> cases[] = {{0, "00"}, {1, "010" "1"}, {-1, "010" "0"}, {-2, "011" "01"},
                                                 {3, "011" "11"}};
    for (const auto &[diff, expected] : cases) {
        CoderFixture f(true);
        int32_t blocks[1][64] = {};
        blocks[0][0] = diff;
        encodeMcu(&f.state, blocks);
        EXPECT_EQ(blocks[0][0], diff);  // entry 0 is replaced by the difference
        EXPECT_TRUE(codedAs(f.finishedBits(), expected + "1010")) << diff;
    }
}

TEST(HuffmanEncoder, RunsOfZeros) {
    CoderFixture probe(true);
    const HuffmanCodeTable *ac = probe.state.acCodes[0];
    const std::string eob = codeOf(ac, 0x00), zrl = codeOf(ac, 0xF0);
    // 15 zeros -> run 15; 16 -> ZRL, run 0; 35 -> 2 ZRL, run 3; a last
    // non-zero coefficient -> no EOB.
    const std::pair<int, std::string> cases[] = {{15, codeOf(ac, 0xF1) + "1" + eob},
                                                 {16, zrl + codeOf(ac, 0x01) + "1" + eob},
                                                 {35, zrl + zrl + codeOf(ac, 0x31) + "1" + eob},
                                                 {62, zrl + zrl + zrl + codeOf(ac, 0xE1) + "1"}};
    for (const auto &[zeros, expected] : cases) {
        CoderFixture f(true);
        int32_t blocks[1][64] = {};
        blocks[0][1 + zeros] = 1;
        encodeMcu(&f.state, blocks);
        EXPECT_TRUE(codedAs(f.finishedBits(), "00" + expected)) << zeros;
    }
}

TEST(HuffmanEncoder, StuffingFillBitsAndBufferPieces) {
    {
        // 0xFF data bytes are followed by 0x00; a byte-aligned end gets no fill.
        CoderFixture f(true);
        putBits(&f.state, 0xFFFF, 16);
        EXPECT_EQ(finishScan(&f.state), Result::Ok);
        _lclose(f.state.jpegFile);
        f.state.jpegFile = HFILE_ERROR;
        EXPECT_EQ(testutil::readFile(f.path), (Bytes{0xFF, 0x00, 0xFF, 0x00, 0xFF, 0xD9}));
    }
    {
        // 3 pending bits 101 are completed with 1s: 10111111.
        CoderFixture f(true);
        putBits(&f.state, 5, 3);
        EXPECT_EQ(finishScan(&f.state), Result::Ok);
        _lclose(f.state.jpegFile);
        f.state.jpegFile = HFILE_ERROR;
        EXPECT_EQ(testutil::readFile(f.path), (Bytes{0xBF, 0xFF, 0xD9}));
    }
    {
        // The buffer goes out in 32,768-byte pieces, only when a byte arrives
        // at a full buffer; a stuffed 0x00 may open the next piece.
        CoderFixture f(true);
        for (uint32_t i = 0; i < kOutBufferBytes - 1; ++i) putBits(&f.state, 0x12, 8);
        EXPECT_EQ(f.state.outCount, kOutBufferBytes - 1);
        putBits(&f.state, 0xFF, 8);
        EXPECT_EQ(testutil::readFile(f.path).size(), kOutBufferBytes);
        EXPECT_EQ(f.state.outCount, 1u);
        EXPECT_EQ(f.state.outBuffer[0], 0x00);
        putBits(&f.state, 0x34, 8);
        EXPECT_EQ(finishScan(&f.state), Result::Ok);
        EXPECT_EQ(testutil::readFile(f.path).size(), kOutBufferBytes + 4);  // + 00 34 FF D9
    }
}
