// The encoder's fast paths against the reference path: the reciprocal
// quantisation for every divisor the levels give, and whole exports through
// every kernel set and thread count, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <dirent.h>
#include <set>
#include <string>
#include <vector>

#include "encoder/encoder_kernels.h"
#include "encoder/encoder_state.h"
#include "test_util.h"

using namespace jpg;
using testutil::Bytes;
using testutil::TempDir;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// Every divisor some level gives (levels 0..65535, both tables).
std::vector<int32_t> divisorsOfAllLevels() {
    std::set<int32_t> divisors;
    EncoderState state{};
    int32_t lastScale = -1;
    for (uint32_t level = 0; level <= 0xFFFF; ++level) {
        const int32_t scale = qualityScale(static_cast<uint16_t>(level));
        if (scale == lastScale) continue;
        lastScale = scale;
        scaleQuantTables(&state, static_cast<uint16_t>(level));
        for (int t = 0; t < 2; ++t) divisors.insert(state.quantTables[t], state.quantTables[t] + 64);
    }
    return {divisors.begin(), divisors.end()};
}

int32_t roundedDivision(int32_t v, int32_t q, bool ac) {
    const int32_t h = q >> 1;
    v = (v > 0 ? v + h : v - h) / q;
    return ac ? std::clamp(v, -1023, 1023) : v;
}

}  // namespace

// The transform of 8-bit samples stays within |v| <= 1,100: the blocks that
// drive each coefficient furthest (255 where its basis function is
// positive, 0 elsewhere, and the reverse) reach about 1,024.
TEST(Quantisation, ReciprocalEqualsRoundedDivisionForEveryDivisorOfEveryLevel) {
    int32_t largest = 0;
    for (int n = 0; n < 64; ++n)
        for (int polarity = 0; polarity < 2; ++polarity) {
            int32_t block[64];
            for (int i = 0; i < 64; ++i) {
                const double basis = std::cos((2 * (i / 8) + 1) * (n / 8) * M_PI / 16) *
                                     std::cos((2 * (i % 8) + 1) * (n % 8) * M_PI / 16);
                block[i] = ((basis > 0) != (polarity == 1) ? 255 : 0) - 128;
            }
            forwardDct(block);
            for (const int32_t v : block) largest = std::max(largest, std::abs(v));
        }
    EXPECT_LE(largest, 1100);

    const std::vector<int32_t> divisors = divisorsOfAllLevels();
    EXPECT_GT(divisors.size(), 5000u);
    EXPECT_LE(divisors.back(), kMaxReciprocalDivisor);
    // Four times the largest magnitude; the sanitizer build takes every 17th divisor.
    constexpr int32_t kRange = 4096;
    const size_t step = kSanitized ? 17 : 1;
    for (size_t d = 0; d < divisors.size(); d += step) {
        const int32_t q = divisors[d];
        const uint32_t multiplier = static_cast<uint32_t>(((uint64_t(1) << 31) + q - 1) / q);
        for (int ac = 0; ac < 2; ++ac) {
            QuantReciprocals table{};
            int32_t zigzag[64];
            std::fill(zigzag, zigzag + 64, q);
            ASSERT_TRUE(makeQuantReciprocals(zigzag, table));
            ASSERT_EQ(table.multiplier[ac], multiplier);
            int mismatches = 0;
            for (int32_t v = -kRange; v <= kRange; ++v)
                mismatches += quantiseByReciprocal(v, table.multiplier[ac], table.half[ac], table.limit[ac]) !=
                              roundedDivision(v, q, ac == 1);
            ASSERT_EQ(mismatches, 0) << "divisor " << q;
        }
    }
}

namespace {

// The kernel sets other than the reference that this processor runs.
std::vector<KernelSet> fastKernelSets() {
    std::vector<KernelSet> sets;
    for (const KernelSet set : {KernelSet::Plain, KernelSet::Sse2, KernelSet::Avx2})
        if (kernelSetAvailable(set)) sets.push_back(set);
    return sets;
}

struct Outcome {
    Result result;
    Bytes bytes;
};

Outcome exportWith(const TempDir &dir, const std::string &bmp, uint16_t layout, uint16_t level, KernelSet kernels,
                   uint32_t threads) {
    const std::string out = dir.file("out.jpg");
    std::remove(out.c_str());
    Outcome o{exportJpeg(bmp.c_str(), out.c_str(), layout, level, CallOptions{kernels, threads}), {}};
    if (testutil::fileExists(out)) o.bytes = testutil::readFile(out);
    return o;
}

std::vector<std::string> filesIn(const std::string &dir) {
    std::vector<std::string> files;
    if (DIR *d = opendir(dir.c_str())) {
        while (const dirent *e = readdir(d))
            if (e->d_name[0] != '.') files.push_back(dir + "/" + e->d_name);
        closedir(d);
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

// Every BMP of the corpora and generated colour and grey pictures (odd sizes
// included, so the SIMD tails and the edge padding meet), through every
// kernel set and both thread counts: the reference path's bytes and result.
TEST(EncoderFastPaths, EveryKernelSetAndThreadCountGivesTheReferenceBytes) {
    TempDir dir;
    std::vector<std::string> sources = filesIn(JPG_SOURCE_DIR "/fuzz/corpus/export");
    struct Size {
        uint32_t width, height;
    };
    std::vector<Size> sizes = {{1, 1}, {17, 9}, {33, 15}, {640, 480}};
    sizes.push_back(kSanitized ? Size{3001, 17} : Size{3001, 2001});
    int made = 0;
    for (const Size &size : sizes)
        for (const uint32_t channels : {1u, 3u}) {
            const std::string path = dir.file("picture" + std::to_string(made++) + ".bmp");
            testutil::writeFile(path, testutil::bmpBytes(testutil::photoImage(size.width, size.height, channels)));
            sources.push_back(path);
        }
    const std::vector<KernelSet> sets = fastKernelSets();
    for (const std::string &bmp : sources)
        for (const uint16_t level : {1, 3, 10}) {
            const uint16_t layout = static_cast<uint16_t>(level == 3 ? 1 : level);
            const uint16_t encoderLevel = static_cast<uint16_t>((level + 2) * 6);
            const Outcome reference = exportWith(dir, bmp, layout, encoderLevel, KernelSet::Reference, 1);
            for (const KernelSet kernels : sets)
                for (const uint32_t threads : {1u, 2u}) {
                    const Outcome fast = exportWith(dir, bmp, layout, encoderLevel, kernels, threads);
                    EXPECT_EQ(fast.result, reference.result) << bmp << " " << kernelSetName(kernels) << " " << threads;
                    EXPECT_TRUE(fast.bytes == reference.bytes)
                        << bmp << " level " << level << " " << kernelSetName(kernels) << " threads " << threads;
                }
        }
}
