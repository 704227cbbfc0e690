// The transpose of 8 x 8 16-bit values held one row per vector of eight
// lanes, or in each 128-bit half of a wider vector (one block per half), by
// the unpacks of 16-, 32- and 64-bit pieces that SSE2 and AVX2 both have.
// For the SIMD kernels of both directions; `L` gives the unpacks:
//   lo16, hi16, lo32, hi32, lo64, hi64 (unpacklo/unpackhi_epi16/32/64).
#ifndef JPG_BASE_SIMD_TRANSPOSE_H
#define JPG_BASE_SIMD_TRANSPOSE_H

namespace jpg {

template <class L, class V = typename L::V>
inline void transpose8x8(V r[8]) {
    const V a0 = L::lo16(r[0], r[1]), a1 = L::hi16(r[0], r[1]);
    const V a2 = L::lo16(r[2], r[3]), a3 = L::hi16(r[2], r[3]);
    const V a4 = L::lo16(r[4], r[5]), a5 = L::hi16(r[4], r[5]);
    const V a6 = L::lo16(r[6], r[7]), a7 = L::hi16(r[6], r[7]);
    const V b0 = L::lo32(a0, a2), b1 = L::hi32(a0, a2), b2 = L::lo32(a1, a3), b3 = L::hi32(a1, a3);
    const V b4 = L::lo32(a4, a6), b5 = L::hi32(a4, a6), b6 = L::lo32(a5, a7), b7 = L::hi32(a5, a7);
    r[0] = L::lo64(b0, b4);
    r[1] = L::hi64(b0, b4);
    r[2] = L::lo64(b1, b5);
    r[3] = L::hi64(b1, b5);
    r[4] = L::lo64(b2, b6);
    r[5] = L::hi64(b2, b6);
    r[6] = L::lo64(b3, b7);
    r[7] = L::hi64(b3, b7);
}

}  // namespace jpg

#endif  // JPG_BASE_SIMD_TRANSPOSE_H
