// Bit operations the entropy coders share: bit counts of 64-bit masks, and
// the eight-byte words that their wide readers and writers move.
#ifndef JPG_BASE_BIT_OPS_H
#define JPG_BASE_BIT_OPS_H

#include <cstdint>

namespace jpg {

// Index of the lowest set bit of a nonzero value.
inline uint32_t countTrailingZeros(uint64_t v) {
#if defined(__GNUC__)
    return static_cast<uint32_t>(__builtin_ctzll(v));
#else
    uint32_t n = 0;
    while ((v & 1) == 0) v >>= 1, ++n;
    return n;
#endif
}

// Number of set bits.
inline uint32_t popCount(uint64_t v) {
#if defined(__GNUC__)
    return static_cast<uint32_t>(__builtin_popcountll(v));
#else
    uint32_t n = 0;
    for (; v != 0; v &= v - 1) ++n;
    return n;
#endif
}

// Eight bytes as one big-endian word.
inline uint64_t loadBigEndian64(const uint8_t *p) {
    return uint64_t{p[0]} << 56 | uint64_t{p[1]} << 48 | uint64_t{p[2]} << 40 | uint64_t{p[3]} << 32 |
           uint64_t{p[4]} << 24 | uint64_t{p[5]} << 16 | uint64_t{p[6]} << 8 | uint64_t{p[7]};
}

// True when one of the eight bytes is FF (a byte that entropy-coded data
// stuffs, or a marker's first).
inline bool hasFfByte(uint64_t word) {
    const uint64_t inverted = ~word;
    return ((inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull) != 0;
}

}  // namespace jpg

#endif  // JPG_BASE_BIT_OPS_H
