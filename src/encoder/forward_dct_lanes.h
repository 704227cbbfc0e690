// The forward DCT's 8-point butterfly on vectors of 16-bit lanes, for the
// SSE2 and AVX2 kernels. Each lane runs the scalar pass of forward_dct.cpp on
// its own 8 values and gives exactly its results, though the samples, the
// butterfly sums and both passes' results are held in 16 bits and every
// product is taken as one of a pair, two 16 x 16-bit products and their sum
// in 32 bits (pmaddwd). Why that is exact:
//
// 1. The scalar pass forms (a + b) * c1 - a * c2 (the shared rotations z1e
//    and z5, and the odd outputs' own weights with z1 and z2). Here it is
//    a * (c1 - c2) + b * c1: the very same integer, since neither form
//    overflows 32 bits. Every folded constant below fits in int16.
// 2. pmaddwd forms both products and their sum exactly in 32 bits: it
//    overflows only when all four factors are -32768, and no constant here
//    is. Neither do the sums of two such results and a rounding constant
//    overflow (the test below checks those too).
// 3. Every value held in a 16-bit lane stays within [-32768, 32767] for every
//    block of 8-bit samples: the level-shifted samples, the sums of the
//    butterfly, both passes' results (outputs 0 and 4 of the first pass
//    scaled by 4, of the second descaled by 5 in 16 bits with their
//    rounding constant added first; the others descaled in 32 bits and
//    packed). The tightest is the second pass's output 0 of a block of
//    zeros: exactly -32768, and -32752 with the rounding constant added.
//    The second pass's results stay within +-1,100, inside the +-4,096
//    that the 16-bit quantisation serves (see QuantReciprocals).
//    ForwardDctLanes.SixteenBitValuesStayInRange (tests/) computes the exact
//    extremes of each value by running these very butterflies on linear
//    forms of the inputs, fails if any value could leave its lane, and
//    checks that both arrangements give the same forms.
//
// Two arrangements of the same butterfly: dctPass16 over eight vectors of
// eight lanes (SSE2; AVX2 with two blocks, one per half), and dctPassPaired
// over four vectors of sixteen lanes, each holding two of the eight as its
// low and high half (AVX2, one block). Included
// only by the kernel files and by that test, each with its own lane
// operations `Ops`:
//   V    8 (or 2 x 8) values in 16-bit lanes: add, sub, shiftLeft2,
//        descale16<N>; for halves also swapHalves, negateHigh
//   P    two V interleaved for the paired products: pair(a, b)
//   W    the same lanes in 32 bits: madd(P, ca, cb) = a * ca + b * cb (for
//        halves madd(P, low ca, low cb, high ca, high cb)), add32,
//        descale<N>, narrow (to V, saturating: never reached)
// Everything here has internal linkage, so the instances compiled for
// different instruction sets never meet at link time.
#ifndef JPG_ENCODER_FORWARD_DCT_LANES_H
#define JPG_ENCODER_FORWARD_DCT_LANES_H

#include <cstdint>

#include "base/dct_constants.h"

namespace jpg {
namespace {

namespace fdct16 {
using namespace dct;
// d2 = tmp13 * kEven2 + tmp12 * kFix0_541196100
// d6 = tmp13 * kFix0_541196100 + tmp12 * kEven6
constexpr int32_t kEven2 = kFix0_541196100 + kFix0_765366865;  // 10703
constexpr int32_t kEven6 = kFix0_541196100 - kFix1_847759065;  // -10704
// z3 = z5 - z3 * 1.961570560 = z3 * kRotate3 + z4 * kFix1_175875602
// z4 = z5 - z4 * 0.390180644 = z3 * kFix1_175875602 + z4 * kRotate4
constexpr int32_t kRotate3 = kFix1_175875602 - kFix1_961570560;  // -6436
constexpr int32_t kRotate4 = kFix1_175875602 - kFix0_390180644;  // 6437
// The odd outputs' own parts, t + z1 or t + z2, from (tmp4, tmp7) and
// (tmp5, tmp6).
constexpr int32_t kOdd7From4 = kFix0_298631336 - kFix0_899976223;  // -4927
constexpr int32_t kOdd1From7 = kFix1_501321110 - kFix0_899976223;  // 4926
constexpr int32_t kOdd5From5 = kFix2_053119869 - kFix2_562915447;  // -4176
constexpr int32_t kOdd3From6 = kFix3_072711026 - kFix2_562915447;  // 4177

// The 32-bit lane of constants that pmaddwd multiplies the pair (a, b) by.
constexpr int32_t pairedConstants(int32_t ca, int32_t cb) {
    return static_cast<int32_t>((static_cast<uint32_t>(cb) << 16) | (static_cast<uint32_t>(ca) & 0xFFFFu));
}

constexpr bool fitsInt16(int32_t c) { return c >= -32768 && c <= 32767; }
static_assert(fitsInt16(kEven2) && fitsInt16(kEven6) && fitsInt16(kRotate3) && fitsInt16(kRotate4) &&
                  fitsInt16(kOdd7From4) && fitsInt16(kOdd1From7) && fitsInt16(kOdd5From5) &&
                  fitsInt16(kOdd3From6) && fitsInt16(kFix0_541196100) && fitsInt16(kFix1_175875602) &&
                  fitsInt16(-kFix0_899976223) && fitsInt16(-kFix2_562915447),
              "every constant of a paired product fits in 16 bits");
}  // namespace fdct16

// One pass over d[0..7], results in place in 16 bits. The first pass scales
// outputs 0 and 4 by 4 and descales the others by 11; the second descales 0
// and 4 by 5 and the others by 18.
template <class Ops, bool FirstPass>
inline void dctPass16(typename Ops::V d[8]) {
    using namespace fdct16;
    using V = typename Ops::V;
    using W = typename Ops::W;
    using P = typename Ops::P;
    constexpr int kShift = FirstPass ? kRowShift : kColumnShift;
    const V tmp0 = Ops::add(d[0], d[7]), tmp7 = Ops::sub(d[0], d[7]);
    const V tmp1 = Ops::add(d[1], d[6]), tmp6 = Ops::sub(d[1], d[6]);
    const V tmp2 = Ops::add(d[2], d[5]), tmp5 = Ops::sub(d[2], d[5]);
    const V tmp3 = Ops::add(d[3], d[4]), tmp4 = Ops::sub(d[3], d[4]);

    const V tmp10 = Ops::add(tmp0, tmp3), tmp13 = Ops::sub(tmp0, tmp3);
    const V tmp11 = Ops::add(tmp1, tmp2), tmp12 = Ops::sub(tmp1, tmp2);
    const V sum = Ops::add(tmp10, tmp11), difference = Ops::sub(tmp10, tmp11);

    const P even = Ops::pair(tmp13, tmp12);
    const W out2 = Ops::madd(even, kEven2, kFix0_541196100);
    const W out6 = Ops::madd(even, kFix0_541196100, kEven6);

    const P rotate = Ops::pair(Ops::add(tmp4, tmp6), Ops::add(tmp5, tmp7));
    const W z3 = Ops::madd(rotate, kRotate3, kFix1_175875602);
    const W z4 = Ops::madd(rotate, kFix1_175875602, kRotate4);
    const P odd47 = Ops::pair(tmp4, tmp7), odd56 = Ops::pair(tmp5, tmp6);
    const W out7 = Ops::add32(Ops::madd(odd47, kOdd7From4, -kFix0_899976223), z3);
    const W out1 = Ops::add32(Ops::madd(odd47, -kFix0_899976223, kOdd1From7), z4);
    const W out5 = Ops::add32(Ops::madd(odd56, kOdd5From5, -kFix2_562915447), z4);
    const W out3 = Ops::add32(Ops::madd(odd56, -kFix2_562915447, kOdd3From6), z3);

    if constexpr (FirstPass) {
        d[0] = Ops::shiftLeft2(sum);
        d[4] = Ops::shiftLeft2(difference);
    } else {
        d[0] = Ops::template descale16<5>(sum);
        d[4] = Ops::template descale16<5>(difference);
    }
    d[1] = Ops::narrow(Ops::template descale<kShift>(out1));
    d[2] = Ops::narrow(Ops::template descale<kShift>(out2));
    d[3] = Ops::narrow(Ops::template descale<kShift>(out3));
    d[5] = Ops::narrow(Ops::template descale<kShift>(out5));
    d[6] = Ops::narrow(Ops::template descale<kShift>(out6));
    d[7] = Ops::narrow(Ops::template descale<kShift>(out7));
}

// The same pass with the eight vectors in halves, (x | y) holding x in its
// low eight lanes and y in its high eight. In: v[0] = (d0 | d1),
// v[1] = (d7 | d6), v[2] = (d3 | d2), v[3] = (d4 | d5); out, in place:
// (o0 | o4), (o1 | o5), (o2 | o6), (o3 | o7). The names give the halves:
// tmp76 holds (tmp7 | tmp6) of dctPass16.
template <class Ops, bool FirstPass>
inline void dctPassPaired(typename Ops::V v[4]) {
    using namespace fdct16;
    using V = typename Ops::V;
    constexpr int kShift = FirstPass ? kRowShift : kColumnShift;
    const V tmp01 = Ops::add(v[0], v[1]), tmp76 = Ops::sub(v[0], v[1]);
    const V tmp32 = Ops::add(v[2], v[3]), tmp45 = Ops::sub(v[2], v[3]);
    const V tmp10and11 = Ops::add(tmp01, tmp32), tmp13and12 = Ops::sub(tmp01, tmp32);
    // (tmp11 + tmp10 | tmp10 - tmp11)
    const V sum = Ops::add(Ops::swapHalves(tmp10and11), Ops::negateHigh(tmp10and11));

    const auto even = Ops::pair(tmp13and12, Ops::swapHalves(tmp13and12));  // (tmp13, tmp12 | tmp12, tmp13)
    const auto out26 = Ops::madd(even, kEven2, kFix0_541196100, kEven6, kFix0_541196100);

    const V tmp67 = Ops::swapHalves(tmp76), tmp54 = Ops::swapHalves(tmp45);
    // (z3, z4 | z4, z3) of tmp4 + tmp6 and tmp5 + tmp7
    const auto rotate = Ops::pair(Ops::add(tmp45, tmp67), Ops::add(tmp54, tmp76));
    const auto z3 = Ops::madd(rotate, kRotate3, kFix1_175875602, kFix1_175875602, kRotate3);  // (z3 | z3)
    const auto z4 = Ops::madd(rotate, kFix1_175875602, kRotate4, kRotate4, kFix1_175875602);  // (z4 | z4)
    const auto odd15 = Ops::pair(tmp45, tmp76);  // (tmp4, tmp7 | tmp5, tmp6)
    const auto odd37 = Ops::pair(tmp54, tmp67);  // (tmp5, tmp6 | tmp4, tmp7)
    const auto out15 = Ops::add32(Ops::madd(odd15, -kFix0_899976223, kOdd1From7, kOdd5From5, -kFix2_562915447), z4);
    const auto out37 = Ops::add32(Ops::madd(odd37, -kFix2_562915447, kOdd3From6, kOdd7From4, -kFix0_899976223), z3);

    if constexpr (FirstPass)
        v[0] = Ops::shiftLeft2(sum);
    else
        v[0] = Ops::template descale16<5>(sum);
    v[1] = Ops::narrow(Ops::template descale<kShift>(out15));
    v[2] = Ops::narrow(Ops::template descale<kShift>(out26));
    v[3] = Ops::narrow(Ops::template descale<kShift>(out37));
}

}  // namespace
}  // namespace jpg

#endif  // JPG_ENCODER_FORWARD_DCT_LANES_H
