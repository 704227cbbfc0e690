// The reduced inverse transforms (decoding at 1/2, 1/4 and 1/8 of the size):
// the weights against their definition, every kernel set against the
// reference on extreme and random blocks of every kind, and the scaled grey
// pictures of cjpeg's files against `djpeg -scale 1/N -dct int -nosmooth`.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "decoder/decoder_internal.h"
#include "decoder/decoder_kernels.h"
#include "decoder/reduced_idct.h"
#include "test_util.h"

using namespace jpg;

namespace {

constexpr double kPi = 3.14159265358979323846;

struct NamedKernels {
    const char *name;
    const DecoderKernels *kernels;
};

std::vector<NamedKernels> kernelSets() {
    std::vector<NamedKernels> sets = {{"plain", decoderKernels(KernelSet::Plain)}};
    if (kernelSetAvailable(KernelSet::Sse2)) sets.push_back({"sse2", decoderKernels(KernelSet::Sse2)});
    if (kernelSetAvailable(KernelSet::Avx2)) sets.push_back({"avx2", decoderKernels(KernelSet::Avx2)});
    return sets;
}

struct TestBlock {
    int32_t c[64] = {};
    uint8_t kind = kBlockNarrow;
};

// The kind the entropy decoder notes for a block of its own.
uint8_t kindOf(const int32_t *c) {
    bool ac = false, wide = false;
    for (int i = 0; i < 64; ++i) {
        ac = ac || (i > 0 && c[i] != 0);
        wide = wide || c[i] < -kNarrowLimit || c[i] > kNarrowLimit;
    }
    return !ac ? kBlockDcOnly : wide ? kBlockWide : kBlockNarrow;
}

// Extreme blocks and random ones of every kind.
std::vector<TestBlock> testBlocks() {
    std::vector<TestBlock> blocks;
    auto opposite = [](int32_t v) { return v == INT32_MIN ? INT32_MAX : -v; };
    auto add = [&](const TestBlock &b) { blocks.push_back(b); };
    TestBlock zero;
    add(zero);  // narrow (as if a coded coefficient were zero)
    for (int32_t dc : {kNarrowLimit, -kNarrowLimit}) {
        TestBlock b;
        b.c[0] = dc;
        add(b);  // narrow with the DC alone
    }
    for (int32_t dc : {0, 5, -5, 1023, -1024, INT32_MAX, INT32_MIN, INT32_MAX - 3, INT32_MIN + 4}) {
        TestBlock b;
        b.c[0] = dc;
        b.kind = kBlockDcOnly;
        add(b);
    }
    for (int i = 0; i < 64; ++i)
        for (int32_t v : {kNarrowLimit, -kNarrowLimit}) {
            TestBlock b;
            b.c[i] = v;
            add(b);
        }
    // The largest sums: every coefficient at the limit with the sign of its
    // weights in one output, for every output of every scale.
    for (uint32_t scaleLog2 : {1u, 2u}) {
        const uint32_t size = 8 >> scaleLog2;
        const int32_t(*w)[8] = reduced::weights(scaleLog2);
        for (uint32_t n = 0; n < size; ++n)
            for (uint32_t k = 0; k < size; ++k)
                for (int32_t limit : {kNarrowLimit, -kNarrowLimit, INT32_MAX, INT32_MIN}) {
                    TestBlock b;
                    for (int v = 0; v < 8; ++v)
                        for (int u = 0; u < 8; ++u)
                            b.c[8 * v + u] = (w[n][v] < 0) != (w[k][u] < 0) ? opposite(limit) : limit;
                    b.kind = kindOf(b.c);
                    add(b);
                }
    }
    std::mt19937 rng(11);
    for (int32_t range : {8, 300, kNarrowLimit, 1 << 16, INT32_MAX}) {
        std::uniform_int_distribution<int32_t> value(range == INT32_MAX ? INT32_MIN : -range, range);
        std::uniform_int_distribution<int> count(1, 64), position(0, 63);
        for (int trial = 0; trial < 200; ++trial) {
            TestBlock b;
            const int coded = trial % 2 ? 64 : count(rng);
            for (int i = 0; i < coded; ++i) b.c[position(rng)] = value(rng);
            b.kind = kindOf(b.c);
            if (b.kind == kBlockDcOnly) b.c[1 + trial % 63] = range > kNarrowLimit ? range : 1;
            b.kind = kindOf(b.c);
            add(b);
        }
    }
    return blocks;
}

}  // namespace

TEST(ReducedIdct, WeightsAreTheMeansOfTheFullSizeBasis) {
    for (uint32_t scaleLog2 : {1u, 2u, 3u}) {
        const uint32_t size = 8 >> scaleLog2, group = 8 / size;
        const int32_t(*w)[8] = reduced::weights(scaleLog2);
        for (uint32_t k = 0; k < size; ++k)
            for (int u = 0; u < 8; ++u) {
                double mean = 0;
                for (uint32_t n = k * group; n < (k + 1) * group; ++n)
                    mean += (u == 0 ? 1.0 : std::sqrt(2.0) * std::cos((2 * n + 1) * u * kPi / 16)) / group;
                EXPECT_EQ(w[k][u], std::lround(mean * 8192))
                    << "scale 1/" << group << " output " << k << " input " << u;
            }
    }
}

// Rows of blocks of every kind, in runs of narrow blocks of every length up
// to seven, through reconstructBlockRowReduced with every kernel set: each
// block's samples are the reference's, nothing outside the blocks' samples
// is written, and the blocks are left as the entropy decoder needs them.
TEST(ReducedIdct, EveryKernelSetMatchesTheReferenceAndLeavesTheBlocks) {
    const std::vector<TestBlock> blocks = testBlocks();
    // The row: runs of 1 to 7 narrow blocks, each followed by one that is
    // DC-only or wide when there is one left.
    std::vector<TestBlock> narrow, other;
    for (const TestBlock &b : blocks) (b.kind == kBlockNarrow ? narrow : other).push_back(b);
    ASSERT_GT(other.size(), 20u);
    std::vector<TestBlock> row;
    for (size_t i = 0, o = 0, run = 1; i < narrow.size(); run = run % 7 + 1) {
        for (size_t r = 0; r < run && i < narrow.size(); ++r) row.push_back(narrow[i++]);
        if (o < other.size()) row.push_back(other[o++]);
    }
    for (size_t o = row.size() - narrow.size(); o < other.size(); ++o) row.push_back(other[o]);
    const size_t count = row.size();
    std::vector<uint8_t> kinds(count);
    for (size_t j = 0; j < count; ++j) kinds[j] = row[j].kind;

    for (const NamedKernels &set : kernelSets()) {
        for (uint32_t scaleLog2 : {1u, 2u, 3u}) {
            SCOPED_TRACE(std::string(set.name) + " scale 1/" + std::to_string(1 << scaleLog2));
            const size_t size = 8 >> scaleLog2;
            // Blocks [1, count - 1) are made; 3 bytes of margin right.
            const ptrdiff_t stride = static_cast<ptrdiff_t>(size * count + 3);
            std::vector<uint8_t> expected(size * stride, 0xA5), samples(size * stride, 0xA5);
            std::vector<int32_t> coefficients(64 * count);
            for (size_t j = 0; j < count; ++j) {
                std::memcpy(&coefficients[64 * j], row[j].c, sizeof row[j].c);
                if (j > 0 && j + 1 < count) reducedIdct(row[j].c, scaleLog2, &expected[size * j], stride);
            }
            reconstructBlockRowReduced(coefficients.data(), kinds.data(), *set.kernels, scaleLog2, samples.data(),
                                       stride, 1, count - 1);
            for (size_t j = 0; j < count; ++j) {
                for (size_t y = 0; y < size; ++y)
                    for (size_t x = 0; x < size; ++x) {
                        const size_t at = y * stride + size * j + x;
                        ASSERT_EQ(samples[at], expected[at]) << "block " << j << " sample " << y << "," << x;
                    }
                const bool made = j > 0 && j + 1 < count;
                const int32_t *c = &coefficients[64 * j];
                for (int i = 0; i < 64; ++i) {
                    const int32_t left = !made ? row[j].c[i] : row[j].kind == kBlockDcOnly && i == 0 ? row[j].c[0] : 0;
                    ASSERT_EQ(c[i], left) << "block " << j << " coefficient " << i;
                }
            }
            for (size_t y = 0; y < size; ++y)
                for (size_t x = size * count; x < static_cast<size_t>(stride); ++x)
                    ASSERT_EQ(samples[y * stride + x], 0xA5);
        }
    }
}

namespace {

// A grey JPEG file decoded at 1/2^scaleLog2 of its size, cropped to the
// scaled size rounded up: each MCU row's blocks dequantised in natural order
// with their kinds noted (decodeMcuRowDirect), then made with the reference
// transform and, in place, with every kernel set, whose samples must be the
// same, the blocks they leave taking the next row.
testutil::Image decodeScaled(const std::string &path, uint32_t scaleLog2) {
    testutil::Image picture;
    for (const NamedKernels &set : kernelSets()) {
        OpenFile jpeg;
        OwnedDecoderState owned;
        HeaderFacts headers;
        EXPECT_EQ(openJpeg(jpeg, path.c_str(), owned, headers), Result::Ok) << path;
        DecodeContext ctx;
        ctx.state = &owned.state;
        ctx.headers = headers;
        ctx.jpegFile = jpeg.get();
        for (int t = 0; t < 4; ++t) {
            ctx.dcBlocks[t] = static_cast<HuffmanTableBlock *>(GlobalLock(owned.state.dcTables[t]));
            ctx.acBlocks[t] = static_cast<HuffmanTableBlock *>(GlobalLock(owned.state.acTables[t]));
        }
        layoutDecoderScan(ctx);
        startScan(ctx);
        const LONG pos = _llseek(ctx.jpegFile, 0, FILE_CURRENT), end = _llseek(ctx.jpegFile, 0, FILE_END);
        _llseek(ctx.jpegFile, pos, FILE_BEGIN);
        ctx.bytesLeft = static_cast<uint32_t>(end - pos);
        std::vector<uint8_t> input(kInputChunkBytes);
        startInput(ctx, input.data());

        const size_t blocks = ctx.comp[0].paddedWidth / 8, size = 8 >> scaleLog2, stride = size * blocks;
        std::vector<int32_t> coefficients(64 * blocks);
        std::vector<uint8_t> kinds(blocks), reference(stride * size * ctx.mcuRows), samples(reference.size());
        CoefficientRows rows;
        rows.rows[0] = coefficients.data();
        BlockKinds rowKinds;
        rowKinds.kinds[0] = kinds.data();
        for (uint32_t r = 0; r < ctx.mcuRows; ++r) {
            decodeMcuRowDirect(ctx, rows, rowKinds);
            uint8_t *made = &reference[r * size * stride];
            for (size_t j = 0; j < blocks; ++j) reducedIdct(&coefficients[64 * j], scaleLog2, made + size * j, stride);
            reconstructBlockRowReduced(coefficients.data(), kinds.data(), *set.kernels, scaleLog2,
                                       &samples[r * size * stride], stride, 0, blocks);
        }
        EXPECT_FALSE(ctx.damaged) << path;
        EXPECT_TRUE(samples == reference) << set.name;
        const uint32_t n = 1u << scaleLog2;
        picture = {(owned.state.width + n - 1) / n, (owned.state.height + n - 1) / n, 1, {}};
        for (uint32_t y = 0; y < picture.height; ++y)
            picture.pixels.insert(picture.pixels.end(), &reference[y * stride], &reference[y * stride] + picture.width);
    }
    return picture;
}

}  // namespace

TEST(ReducedIdct, ScaledGreyPicturesMatchLibjpegTurbo) {
    if (!testutil::haveProgram("cjpeg") || !testutil::haveProgram("djpeg")) GTEST_SKIP() << "cjpeg/djpeg not installed";
    testutil::TempDir dir;
    const struct {
        uint32_t w, h;
    } sizes[] = {{333, 217}, {101, 77}, {9, 1003}};
    double worstMean[4] = {}, worstPsnr[4] = {1e9, 1e9, 1e9, 1e9};
    for (const auto &size : sizes) {
        const testutil::Image image = testutil::photoImage(size.w, size.h, 1, size.w);
        testutil::writeFile(dir.file("in.pgm"), testutil::pnmBytes(image));
        for (int quality : {30, 85, 100}) {
            const std::string jpeg = dir.file("in.jpg");
            ASSERT_EQ(testutil::run("cjpeg -grayscale -quality " + std::to_string(quality) + " -outfile " + jpeg + " " +
                                    dir.file("in.pgm")),
                      0);
            for (uint32_t scaleLog2 : {1u, 2u, 3u}) {
                const std::string n = std::to_string(1 << scaleLog2);
                SCOPED_TRACE(std::to_string(size.w) + "x" + std::to_string(size.h) + " quality " +
                             std::to_string(quality) + " scale 1/" + n);
                const std::string theirsPath = dir.file("theirs.pgm");
                ASSERT_EQ(testutil::run("djpeg -grayscale -scale 1/" + n + " -dct int -nosmooth -pnm -outfile " +
                                        theirsPath + " " + jpeg),
                          0);
                const testutil::Image theirs = testutil::parsePnm(testutil::readFile(theirsPath));
                const testutil::Image ours = decodeScaled(jpeg, scaleLog2);
                ASSERT_EQ(ours.width, theirs.width);
                ASSERT_EQ(ours.height, theirs.height);
                const testutil::Difference d = testutil::compare(ours, theirs);
                worstMean[scaleLog2] = std::max(worstMean[scaleLog2], d.meanAbs);
                worstPsnr[scaleLog2] = std::min(worstPsnr[scaleLog2], d.psnr);
                EXPECT_LE(d.meanAbs, 1.0);
                EXPECT_GE(d.psnr, 40.0);
            }
        }
    }
    for (uint32_t scaleLog2 : {1u, 2u, 3u})
        std::printf("scale 1/%d: largest mean difference %.4f, lowest PSNR %.1f dB\n", 1 << scaleLog2,
                    worstMean[scaleLog2], worstPsnr[scaleLog2]);
}
