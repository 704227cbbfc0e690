// The fast paths' quantisation by reciprocals (in 32 bits, and in 16 bits as
// the SIMD kernels do it) against the reference's rounded division, for
// every divisor the levels give. (Whole exports
// through every kernel set are compared in tests/differential.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <vector>

#include "encoder/encoder_kernels.h"
#include "encoder/encoder_state.h"

using namespace jpg;

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

    std::vector<int32_t> divisors = divisorsOfAllLevels();
    EXPECT_GT(divisors.size(), 5000u);
    EXPECT_LE(divisors.back(), kMaxReciprocalDivisor);
    divisors.push_back(kMaxReciprocalDivisor);  // the largest the tables serve
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
            const int slot = ac;  // entries 0 and 1 of row 0, in both layouts
            int mismatches = 0, mismatches16 = 0;
            for (int32_t v = -kRange; v <= kRange; ++v) {
                const int32_t expected = roundedDivision(v, q, ac == 1);
                mismatches += quantiseByReciprocal(v, table.multiplier[ac], table.half[ac], table.limit[ac]) != expected;
                mismatches16 += quantiseIn16Bits(v, table.multiplier16[slot], table.scale16[slot], table.half16[slot],
                                                 table.limit16[slot]) != expected;
            }
            ASSERT_EQ(mismatches, 0) << "divisor " << q;
            ASSERT_EQ(mismatches16, 0) << "divisor " << q << ", 16 bits";
        }
    }
}
