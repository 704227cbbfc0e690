// Byte-level helpers shared by every stage: rounding sizes, byte order of
// fields, and the sample clamp.
#ifndef JPG_BASE_BYTES_H
#define JPG_BASE_BYTES_H

#include <cstdint>

namespace jpg {

// `value` rounded up to a multiple of `multiple`, in unsigned 16-bit
// arithmetic: t = value + multiple - 1 wraps at 65,536.
uint16_t roundUp(uint16_t value, uint16_t multiple);

// The same rounding without any wrap, for sizes that may exceed 16 bits.
constexpr uint32_t roundUpWide(uint32_t value, uint32_t multiple) {
    return (value + multiple - 1) / multiple * multiple;
}

// Reads a little-endian or big-endian field from a byte buffer.
inline uint16_t le16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t le32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
inline uint16_t be16(const uint8_t *p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline void putLe16(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void putLe32(uint8_t *p, uint32_t v) {
    putLe16(p, v);
    putLe16(p + 2, v >> 16);
}
inline void putBe16(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

// A value limited to the sample range 0..255.
constexpr uint8_t clampToByte(int32_t v) { return static_cast<uint8_t>(v <= 0 ? 0 : v >= 255 ? 255 : v); }

}  // namespace jpg

#endif  // JPG_BASE_BYTES_H
