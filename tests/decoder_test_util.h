// Hand-made JPEG files for the decoder tests: segments put together byte by
// byte, so that every header field can be set to what a test needs.
#ifndef JPG_TESTS_DECODER_TEST_UTIL_H
#define JPG_TESTS_DECODER_TEST_UTIL_H

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "test_util.h"

namespace dectest {

using testutil::Bytes;

inline void append(Bytes &b, std::initializer_list<int> values) {
    for (int v : values) b.push_back(static_cast<uint8_t>(v));
}

// FF code, the 2-byte length, then the body.
inline Bytes segment(int code, const Bytes &body) {
    const size_t l = body.size() + 2;
    Bytes b(l + 2);
    b[0] = 0xFF;
    b[1] = static_cast<uint8_t>(code);
    b[2] = static_cast<uint8_t>(l >> 8);
    b[3] = static_cast<uint8_t>(l & 0xFF);
    std::copy(body.begin(), body.end(), b.begin() + 4);
    return b;
}

struct FrameComponent {
    int id, h, v, tq;
};

inline Bytes frameHeader(int width, int height, const std::vector<FrameComponent> &components, int code = 0xC0,
                         int precision = 8) {
    Bytes body;
    append(body, {precision, height >> 8, height & 0xFF, width >> 8, width & 0xFF,
                  static_cast<int>(components.size())});
    for (const auto &c : components) append(body, {c.id, (c.h << 4) | c.v, c.tq});
    return segment(code, body);
}

// One 8-bit table of all ones (or `value`) per number.
inline Bytes quantTable(int number, int value = 1) {
    Bytes body = {static_cast<uint8_t>(number)};
    body.insert(body.end(), 64, static_cast<uint8_t>(value));
    return segment(0xDB, body);
}

// A scan header: (id, Td << 4 | Ta) pairs.
inline Bytes scanHeader(const std::vector<std::pair<int, int>> &components) {
    Bytes body = {static_cast<uint8_t>(components.size())};
    for (const auto &c : components) append(body, {c.first, c.second});
    append(body, {0, 63, 0});
    return segment(0xDA, body);
}

inline Bytes jfif(int major = 1, int minor = 1) {
    return segment(0xE0, {'J', 'F', 'I', 'F', 0, static_cast<uint8_t>(major), static_cast<uint8_t>(minor), 0, 0, 1,
                          0, 1, 0, 0});
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// An 8 x 8 grey image of one flat block (standard tables: DC category 0,
// end of block), complete with FF D9.
inline Bytes greyBlockJpeg() {
    return concat({{0xFF, 0xD8}, quantTable(0), frameHeader(8, 8, {{1, 1, 1, 0}}), scanHeader({{1, 0x00}}),
                   {0x2B, 0xFF, 0xD9}});
}

// An 8 x 8 colour image (1x1 sampling) of flat grey blocks.
inline Bytes colourBlockJpeg(int id0 = 1, int id1 = 2, int id2 = 3) {
    return concat({{0xFF, 0xD8}, quantTable(0), quantTable(1),
                   frameHeader(8, 8, {{id0, 1, 1, 0}, {id1, 1, 1, 1}, {id2, 1, 1, 1}}),
                   scanHeader({{id0, 0x00}, {id1, 0x11}, {id2, 0x11}}), {0x28, 0x03, 0xFF, 0xD9}});
}

}  // namespace dectest

#endif
