// The forward DCT's 8-point butterfly on vectors of 32-bit lanes, for the
// SSE2 and AVX2 kernels: each lane runs the scalar pass of forward_dct.cpp
// on its own 8 values, with the same constants, products and shifts, so each
// lane's results are the scalar results.
//
// Included only by the kernel files, each with its own lane operations
// `Ops` (V: the vector type; add, sub, mulConst, shiftLeft2, descale<N>).
// Everything here has internal linkage, so the instances compiled for
// different instruction sets never meet at link time.
#ifndef JPG_ENCODER_FORWARD_DCT_LANES_H
#define JPG_ENCODER_FORWARD_DCT_LANES_H

#include <cstdint>

#include "frame/dct_constants.h"

namespace jpg {
namespace {

// d[0..7] in, the pass's outputs in place. The first pass scales the even
// outputs 0 and 4 by 4 and descales the others by 11; the second descales
// 0 and 4 by 5 and the others by 18.
template <class Ops, bool FirstPass>
inline void dctPassLanes(typename Ops::V d[8]) {
    using V = typename Ops::V;
    constexpr int kShift = FirstPass ? dct::kRowShift : dct::kColumnShift;
    const V tmp0 = Ops::add(d[0], d[7]), tmp7 = Ops::sub(d[0], d[7]);
    const V tmp1 = Ops::add(d[1], d[6]), tmp6 = Ops::sub(d[1], d[6]);
    const V tmp2 = Ops::add(d[2], d[5]), tmp5 = Ops::sub(d[2], d[5]);
    const V tmp3 = Ops::add(d[3], d[4]), tmp4 = Ops::sub(d[3], d[4]);

    const V tmp10 = Ops::add(tmp0, tmp3), tmp13 = Ops::sub(tmp0, tmp3);
    const V tmp11 = Ops::add(tmp1, tmp2), tmp12 = Ops::sub(tmp1, tmp2);
    if (FirstPass) {
        d[0] = Ops::shiftLeft2(Ops::add(tmp10, tmp11));
        d[4] = Ops::shiftLeft2(Ops::sub(tmp10, tmp11));
    } else {
        d[0] = Ops::template descale<5>(Ops::add(tmp10, tmp11));
        d[4] = Ops::template descale<5>(Ops::sub(tmp10, tmp11));
    }
    const V z1e = Ops::mulConst(Ops::add(tmp12, tmp13), dct::kFix0_541196100);
    d[2] = Ops::template descale<kShift>(Ops::add(z1e, Ops::mulConst(tmp13, dct::kFix0_765366865)));
    d[6] = Ops::template descale<kShift>(Ops::sub(z1e, Ops::mulConst(tmp12, dct::kFix1_847759065)));

    V z1 = Ops::add(tmp4, tmp7), z2 = Ops::add(tmp5, tmp6), z3 = Ops::add(tmp4, tmp6), z4 = Ops::add(tmp5, tmp7);
    const V z5 = Ops::mulConst(Ops::add(z3, z4), dct::kFix1_175875602);
    const V t4 = Ops::mulConst(tmp4, dct::kFix0_298631336), t5 = Ops::mulConst(tmp5, dct::kFix2_053119869);
    const V t6 = Ops::mulConst(tmp6, dct::kFix3_072711026), t7 = Ops::mulConst(tmp7, dct::kFix1_501321110);
    z1 = Ops::mulConst(z1, -dct::kFix0_899976223);
    z2 = Ops::mulConst(z2, -dct::kFix2_562915447);
    z3 = Ops::sub(z5, Ops::mulConst(z3, dct::kFix1_961570560));
    z4 = Ops::sub(z5, Ops::mulConst(z4, dct::kFix0_390180644));
    d[7] = Ops::template descale<kShift>(Ops::add(Ops::add(t4, z1), z3));
    d[5] = Ops::template descale<kShift>(Ops::add(Ops::add(t5, z2), z4));
    d[3] = Ops::template descale<kShift>(Ops::add(Ops::add(t6, z2), z3));
    d[1] = Ops::template descale<kShift>(Ops::add(Ops::add(t7, z1), z4));
}

}  // namespace
}  // namespace jpg

#endif  // JPG_ENCODER_FORWARD_DCT_LANES_H
