// Marker codes of ITU-T T.81 (Table B.1): the byte after FF that names a
// marker, as both directions and the header description use them.
#ifndef JPG_BASE_MARKERS_H
#define JPG_BASE_MARKERS_H

#include <cstdint>

namespace jpg::marker {

constexpr uint8_t kPrefix = 0xFF;      // every marker starts with it
constexpr uint8_t kStuffed = 0x00;     // FF 00: an FF data byte in coded data
constexpr uint8_t kTem = 0x01;         // temporary private use, no length
constexpr uint8_t kSof0 = 0xC0;        // baseline sequential Huffman
constexpr uint8_t kSof1 = 0xC1;        // extended sequential Huffman
constexpr uint8_t kSof2 = 0xC2;        // progressive Huffman
constexpr uint8_t kSof3 = 0xC3;        // lossless Huffman
constexpr uint8_t kDht = 0xC4;         // Huffman tables
constexpr uint8_t kSof5 = 0xC5;        // first differential frame (C5..C7 Huffman)
constexpr uint8_t kSof7 = 0xC7;
constexpr uint8_t kJpg = 0xC8;         // reserved extension
constexpr uint8_t kSof9 = 0xC9;        // extended sequential arithmetic
constexpr uint8_t kSof10 = 0xCA;       // progressive arithmetic
constexpr uint8_t kSof11 = 0xCB;       // lossless arithmetic
constexpr uint8_t kDac = 0xCC;         // arithmetic conditioning
constexpr uint8_t kSof15 = 0xCF;       // last frame marker
constexpr uint8_t kRst0 = 0xD0;        // restart markers D0..D7
constexpr uint8_t kRst7 = 0xD7;
constexpr uint8_t kSoi = 0xD8;
constexpr uint8_t kEoi = 0xD9;
constexpr uint8_t kSos = 0xDA;
constexpr uint8_t kDqt = 0xDB;
constexpr uint8_t kDnl = 0xDC;
constexpr uint8_t kDri = 0xDD;
constexpr uint8_t kDhp = 0xDE;
constexpr uint8_t kExp = 0xDF;
constexpr uint8_t kApp0 = 0xE0;        // JFIF
constexpr uint8_t kApp1 = 0xE1;        // the preview segment of exported files
constexpr uint8_t kApp2 = 0xE2;        // ICC profile chunks
constexpr uint8_t kApp14 = 0xEE;       // Adobe: the colour transform of three components
constexpr uint8_t kApp15 = 0xEF;
constexpr uint8_t kCom = 0xFE;

// A start-of-frame marker of any process: C0..CF except DHT, JPG and DAC.
constexpr bool isFrameMarker(int code) {
    return code >= kSof0 && code <= kSof15 && code != kDht && code != kJpg && code != kDac;
}

// A restart marker RST0..RST7.
constexpr bool isRestartMarker(int code) { return code >= kRst0 && code <= kRst7; }

}  // namespace jpg::marker

#endif  // JPG_BASE_MARKERS_H
