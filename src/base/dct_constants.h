// The fixed-point constants of the 8-point DCT pair (the Loeffler-Ligtenberg-
// Moschytz factorisation), 13 fractional bits: each is round(x * 8192) for
// the value x it is named after.
//
// The inverse transform folds some products together. A folded constant is
// the sum or difference of two rounded constants, not the rounding of the
// exact sum, so one value can appear with two roundings (sqrt(2) cos(pi/8)
// = 1.306562965 as 10703 and 10704, sqrt(2) (cos(3pi/16) - cos(5pi/16))
// = 0.785694958 as 6437 and 6436). Exact output needs each as it is: they
// are named apart and never merged.
#ifndef JPG_BASE_DCT_CONSTANTS_H
#define JPG_BASE_DCT_CONSTANTS_H

#include <cstdint>

namespace jpg::dct {

constexpr int kConstBits = 13;
constexpr int32_t kOne = 1 << kConstBits;  // 8192: 1.0

// Descaling of the two passes, in both directions: the row pass keeps 2 bits
// of the constants' 13, the column pass drops them and the factor 8 of the
// two-dimensional transform's scale.
constexpr int kRowShift = kConstBits - 2;     // 11
constexpr int kColumnShift = kConstBits + 5;  // 18

constexpr int32_t kFix0_298631336 = 2446;
constexpr int32_t kFix0_390180644 = 3196;
constexpr int32_t kFix0_541196100 = 4433;
constexpr int32_t kFix0_765366865 = 6270;
constexpr int32_t kFix0_899976223 = 7373;
constexpr int32_t kFix1_175875602 = 9633;
constexpr int32_t kFix1_501321110 = 12299;
constexpr int32_t kFix1_847759065 = 15137;
constexpr int32_t kFix1_961570560 = 16069;
constexpr int32_t kFix2_053119869 = 16819;
constexpr int32_t kFix2_562915447 = 20995;
constexpr int32_t kFix3_072711026 = 25172;

// Folded constants of the inverse transform's even part: 1.306562965 from
// the weights of input 2 (rounded down) and of input 6 (rounded up).
constexpr int32_t kEvenFoldDown = kFix0_541196100 + kFix0_765366865;  // 10703
constexpr int32_t kEvenFoldUp = kFix1_847759065 - kFix0_541196100;    // 10704

// Folded constants of the odd part: 0.785694958 from the two rotations.
constexpr int32_t kOddFoldUp = kFix1_175875602 - kFix0_390180644;    // 6437
constexpr int32_t kOddFoldDown = kFix1_961570560 - kFix1_175875602;  // 6436
// The odd outputs' own weights, folded with the shared rotations.
constexpr int32_t kOddWeight5 = kFix2_562915447 - kFix2_053119869;  // 4176
constexpr int32_t kOddWeight7 = kFix0_899976223 - kFix0_298631336;  // 4927

static_assert(kEvenFoldDown == 10703 && kEvenFoldUp == 10704, "two roundings of 1.306562965");
static_assert(kOddFoldUp == 6437 && kOddFoldDown == 6436, "two roundings of 0.785694958");
static_assert(kOddWeight5 == 4176 && kOddWeight7 == 4927, "folded odd weights");

}  // namespace jpg::dct

#endif  // JPG_BASE_DCT_CONSTANTS_H
