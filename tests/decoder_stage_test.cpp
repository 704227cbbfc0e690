// The decoder's stages on their own: decode tables, the bit reader, restart
// markers, the inverse DCT against a reference, upsampling and colour
// conversion.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "decoder/decoder_internal.h"
#include "test_util.h"

using namespace jpg;

namespace {

HuffmanTableBlock standardTable(bool ac, int number) {
    HuffmanTableBlock t{};
    loadStandardTable(&t, ac, number);
    buildDecodeTable(&t);
    return t;
}

// A context reading from an in-memory buffer that is the last chunk.
struct MemoryReader {
    DecoderState state{};
    DecodeContext ctx;
    testutil::Bytes data;
    explicit MemoryReader(testutil::Bytes bytes) : data(std::move(bytes)) {
        ctx.state = &state;
        ctx.readBuffer = data.data();
        ctx.readPtr = data.data();
        ctx.readEnd = data.data() + data.size();
        ctx.endOfData = true;
    }
    size_t consumed() const { return static_cast<size_t>(ctx.readPtr - data.data()); }
};

// The kernel as a matrix (output n, input u); the tests derive the expected
// transform from it, independently of the factored code.
constexpr int64_t kKernel[8][8] = {
    {8192, 11363, 10703, 9633, 8192, 6437, 4433, 2260},      {8192, 9633, 4433, -2259, -8192, -11362, -10704, -6436},
    {8192, 6437, -4433, -11362, -8192, 2261, 10704, 9633},   {8192, 2260, -10703, -6436, 8192, 9633, -4433, -11363},
    {8192, -2260, -10703, 6436, 8192, -9633, -4433, 11363},  {8192, -6437, -4433, 11362, -8192, -2261, 10704, -9633},
    {8192, -9633, 4433, 2259, -8192, 11362, -10704, 6436},   {8192, -11363, 10703, -9633, 8192, -6437, 4433, -2260}};

void referenceIdct(const int32_t *in, int64_t *out) {
    int64_t rows[64];
    for (int y = 0; y < 8; ++y)
        for (int n = 0; n < 8; ++n) {
            int64_t s = 0;
            for (int u = 0; u < 8; ++u) s += kKernel[n][u] * in[8 * y + u];
            rows[8 * y + n] = (s + 1024) >> 11;
        }
    for (int x = 0; x < 8; ++x)
        for (int n = 0; n < 8; ++n) {
            int64_t s = 0;
            for (int u = 0; u < 8; ++u) s += kKernel[n][u] * rows[8 * u + x];
            out[8 * n + x] = (s + 131072) >> 18;
        }
}

// Samples of one natural-order block through reconstructMcuRow.
void reconstructOne(const int32_t *block, uint8_t *samples) {
    DecoderState state{};
    DecodeContext ctx;
    ctx.state = &state;
    ctx.scanComponents = 1;
    ctx.comp[0].paddedWidth = 8;
    int32_t copy[64];
    std::memcpy(copy, block, sizeof copy);
    CoefficientRows rows;
    rows.rows[0] = copy;
    uint8_t *out[1] = {samples};
    reconstructMcuRow(ctx, rows, out, 0);
    EXPECT_EQ(std::memcmp(copy, block, sizeof copy), 0) << "the coefficient row is left unchanged";
}

}  // namespace

TEST(HuffmanDecoder, StandardDcLuminanceTable) {
    const HuffmanTableBlock t = standardTable(false, 0);
    const int32_t maxCode[10] = {0, -1, 0, 6, 14, 30, 62, 126, 254, 510};
    for (int l = 1; l <= 9; ++l) EXPECT_EQ(int32_t{t.maxCode[l]}, maxCode[l]) << l;
    for (int l = 10; l <= 16; ++l) EXPECT_EQ(int32_t{t.maxCode[l]}, -1) << l;
    EXPECT_EQ(int32_t{t.maxCode[17]}, 0xFFFFF);
    const int16_t minCode[10] = {0, 0, 0, 2, 14, 30, 62, 126, 254, 510};
    const int32_t valueIndex[10] = {0, 0, 0, 1, 6, 7, 8, 9, 10, 11};
    for (int l = 2; l <= 9; ++l) {
        EXPECT_EQ(int16_t{t.minCode[l]}, minCode[l]) << l;
        EXPECT_EQ(int32_t{t.valueIndex[l]}, valueIndex[l]) << l;
    }

    // 00 | 010 | 1110 | then 16 ones, which match no code.
    MemoryReader r({0x17, 0x7F, 0xFF, 0x00, 0xFF, 0x00});
    DecodeTable table;
    buildLookahead(table, &t);
    EXPECT_EQ(decodeSymbol(r.ctx, table), 0);
    EXPECT_EQ(decodeSymbol(r.ctx, table), 1);
    EXPECT_EQ(decodeSymbol(r.ctx, table), 6);
    EXPECT_FALSE(r.ctx.damaged);
    EXPECT_EQ(r.consumed(), 2u) << "bytes are taken only when bits are needed";
    EXPECT_EQ(decodeSymbol(r.ctx, table), 0);
    EXPECT_TRUE(r.ctx.damaged);
}

TEST(HuffmanDecoder, StuffedBytesAcrossAChunkBoundaryAndTheReadPosition) {
    // A table whose 8-bit codes 00 to FE are their own symbols; FF needs a
    // ninth bit (0) and stands for FF.
    HuffmanTableBlock t{};
    t.counts[8] = 255;
    t.counts[9] = 1;
    for (int i = 0; i < 256; ++i) t.symbols[i] = static_cast<uint8_t>(i);
    buildDecodeTable(&t);
    DecodeTable table;
    buildLookahead(table, &t);

    testutil::TempDir dir;
    testutil::Bytes file(kInputChunkBytes - 1, 0x12);
    for (int b : {0xFF, 0x00, 0x00, 0xFF, 0xD9}) file.push_back(static_cast<uint8_t>(b));  // FF 00 straddles the chunks
    testutil::writeFile(dir.file("data"), file);
    OpenFile f;
    ASSERT_TRUE(f.open(dir.file("data").c_str(), OF_READ));
    DecoderState state{};
    DecodeContext ctx;
    ctx.state = &state;
    ctx.jpegFile = f.get();
    testutil::Bytes buffer(kInputChunkBytes);
    ctx.readBuffer = buffer.data();
    ctx.bytesLeft = static_cast<uint32_t>(file.size());
    ctx.chunkSize = kInputChunkBytes;
    ASSERT_EQ(readChunk(f.get(), ctx.chunkSize, ctx.bytesLeft, ctx.readBuffer, ctx.endOfData), Result::Ok);
    EXPECT_FALSE(ctx.endOfData);
    ctx.readPtr = ctx.readBuffer;
    ctx.readEnd = ctx.readBuffer + ctx.chunkSize;
    for (uint32_t i = 0; i + 1 < kInputChunkBytes; ++i) ASSERT_EQ(decodeSymbol(ctx, table), 0x12);
    // FF then 00 (dropped unseen), then 00: the 9-bit code 1111 1111 0.
    EXPECT_EQ(decodeSymbol(ctx, table), 0xFF);
    EXPECT_TRUE(ctx.endOfData);
    EXPECT_EQ(ctx.chunkSize, 4);
    EXPECT_EQ(ctx.readPtr, ctx.readBuffer + 2) << "resting on FF D9";
    EXPECT_FALSE(ctx.damaged);
}

TEST(HuffmanDecoder, RestartMarkersAreFoundWhereDue) {
    MemoryReader r({0x12, 0xFF, 0x00, 0x34, 0xFF, 0xFF, 0xD3, 0x56});
    r.state.restartInterval = 4;
    r.ctx.scanComponents = 2;
    r.ctx.dcPredictors[0] = 7;
    r.ctx.dcPredictors[1] = -3;
    r.ctx.bitCount = 5;
    processRestart(r.ctx);
    EXPECT_EQ(r.consumed(), 7u);
    EXPECT_EQ(r.ctx.bitCount, 0);
    EXPECT_EQ(r.ctx.dcPredictors[0], 0);
    EXPECT_EQ(r.ctx.dcPredictors[1], 0);
    EXPECT_EQ(r.ctx.restartsToGo, 4u);
    EXPECT_FALSE(r.ctx.damaged);

    MemoryReader none({0x12, 0x34, 0xFF});
    processRestart(none.ctx);  // the data ends before any marker
    EXPECT_TRUE(none.ctx.damaged);
}

TEST(InverseDct, MatchesTheKernelMatrixRowsFirst) {
    std::mt19937 rng(7);
    for (int range : {4, 64, 1024, 2048, 70000, 1 << 30}) {
        std::uniform_int_distribution<int32_t> value(-range, range);
        for (int trial = 0; trial < 300; ++trial) {
            int32_t block[64];
            for (int i = 0; i < 64; ++i) block[i] = (trial % 3 == 0 && i > 10) ? 0 : value(rng);
            int64_t expected[64];
            referenceIdct(block, expected);
            uint8_t samples[64];
            reconstructOne(block, samples);
            for (int i = 0; i < 64; ++i) {
                const int64_t v = expected[i] + 128;
                ASSERT_EQ(samples[i], v < 0 ? 0 : v > 255 ? 255 : v) << "range " << range << " entry " << i;
            }
            if (range <= 1024) {
                inverseDct(block);
                for (int i = 0; i < 64; ++i) ASSERT_EQ(block[i], expected[i]);
            }
        }
    }
}

TEST(InverseDct, DcOnlyBlocksAndOneCoefficient) {
    const struct {
        int32_t dc;
        uint8_t sample;
    } cases[] = {{0, 128}, {-1024, 0}, {1016, 255}, {-4, 128}, {-5, 127}, {3, 128}, {4, 129}};
    for (const auto &c : cases) {
        int32_t block[64] = {c.dc};
        uint8_t samples[64];
        reconstructOne(block, samples);
        for (int i = 0; i < 64; ++i) ASSERT_EQ(samples[i], c.sample) << c.dc;
    }
    const uint8_t ramp[8] = {142, 140, 136, 131, 125, 120, 116, 114};
    int32_t across[64] = {0, 80};
    int32_t down[64] = {};
    down[8] = 80;
    uint8_t a[64], d[64];
    reconstructOne(across, a);
    reconstructOne(down, d);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            ASSERT_EQ(a[8 * y + x], ramp[x]);
            ASSERT_EQ(d[8 * y + x], ramp[y]);
        }
}

TEST(Dequantise, ZigzagToNaturalOrder) {
    int32_t zigzag[64], table[64], natural[64];
    for (int k = 0; k < 64; ++k) zigzag[k] = k + 1, table[k] = 2;
    dequantiseBlock(zigzag, natural, table);
    EXPECT_EQ(natural[0], 2);
    EXPECT_EQ(natural[1], 4);
    EXPECT_EQ(natural[8], 6);
    EXPECT_EQ(natural[16], 8);
    EXPECT_EQ(natural[63], 128);
}

TEST(ColourConversion, EdgeCases) {
    DecoderState state{};
    state.width = 1;
    state.colourMode = 3;
    DecodeContext ctx;
    ctx.state = &state;
    ctx.scanComponents = 3;
    ctx.headers.order[1] = 1;
    ctx.headers.order[2] = 2;
    const struct {
        uint8_t y, cb, cr, b, g, r;
    } cases[] = {{128, 128, 128, 128, 128, 128}, {0, 128, 255, 0, 0, 177}, {255, 255, 128, 255, 212, 255},
                 {240, 0, 128, 13, 255, 240},    {240, 128, 0, 240, 255, 61}};
    for (const auto &c : cases) {
        uint8_t y = c.y, cb = c.cb, cr = c.cr;
        uint8_t *planes[3] = {&y, &cb, &cr};
        uint8_t out[4] = {9, 9, 9, 9};
        convertStripRows(ctx, planes, out, 1, 4, 1);
        EXPECT_EQ(out[0], c.b);
        EXPECT_EQ(out[1], c.g);
        EXPECT_EQ(out[2], c.r);
        EXPECT_EQ(out[3], 9) << "the padding is not written";
    }
    // Scan order Cr, Y, Cb: the planes are found by component.
    ctx.headers.order[0] = 2;
    ctx.headers.order[1] = 0;
    ctx.headers.order[2] = 1;
    uint8_t y = 0, cb = 128, cr = 255;
    uint8_t *planes[3] = {&cr, &y, &cb};
    uint8_t out[3];
    convertStripRows(ctx, planes, out, 1, 3, 1);
    EXPECT_EQ(out[2], 177);
}

TEST(Upsampling, ReplicationAndNearestNeighbour) {
    DecoderState state{};
    DecodeContext ctx;
    ctx.state = &state;
    ctx.scanComponents = 3;
    ctx.maxH = 3;
    ctx.maxV = 2;
    // 3x2 (copied), 1x1 (replicated 3 x 2) and 2x1 (nearest neighbour).
    const uint32_t h[3] = {3, 1, 2}, v[3] = {2, 1, 1};
    const uint32_t planeStride = 24;
    std::vector<uint8_t> samples[3], planes[3];
    uint8_t *s[3], *p[3];
    for (int c = 0; c < 3; ++c) {
        ctx.comp[c].hSamp = h[c];
        ctx.comp[c].vSamp = v[c];
        ctx.comp[c].paddedWidth = 8 * h[c];
        samples[c].resize(8 * v[c] * 8 * h[c]);
        for (size_t i = 0; i < samples[c].size(); ++i) samples[c][i] = static_cast<uint8_t>(i);
        planes[c].assign(16 * planeStride, 0xEE);
        s[c] = samples[c].data();
        p[c] = planes[c].data();
    }
    upsampleStrip(ctx, planeStride, s, p);
    EXPECT_EQ(planes[0], std::vector<uint8_t>(samples[0].begin(), samples[0].end()));
    for (uint32_t y = 0; y < 16; ++y)
        for (uint32_t x = 0; x < 24; ++x) {
            ASSERT_EQ(planes[1][y * 24 + x], samples[1][(y / 2) * 8 + x / 3]) << x << "," << y;
            ASSERT_EQ(planes[2][y * 24 + x], samples[2][(y / 2) * 16 + (2 * x) / 3]) << x << "," << y;
        }

    // 2:1 horizontal with vertical factor 2: every sample covers 2 x 2.
    const uint8_t src[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint8_t dst[2 * 20] = {};
    doubleRows(1, 8, 20, 2, src, dst);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(dst[i], src[i / 2]);
        EXPECT_EQ(dst[20 + i], src[i / 2]);
    }
    EXPECT_EQ(dst[16], 0);
}
