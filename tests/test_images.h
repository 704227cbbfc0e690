// Pictures for the tests, on every platform the tests run on (the Windows
// host test, built with MinGW, included): nothing here calls the system.
#ifndef JPG_TESTS_TEST_IMAGES_H
#define JPG_TESTS_TEST_IMAGES_H

#include <cstdint>
#include <string>
#include <vector>

namespace testutil {

using Bytes = std::vector<uint8_t>;

// A picture as the tests make it: rows top first, `channels` bytes per pixel
// (1 grey, 3 in the order R, G, B).
struct Image {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t channels = 3;
    Bytes pixels;
    uint8_t *at(uint32_t x, uint32_t y) { return &pixels[(static_cast<size_t>(y) * width + x) * channels]; }
    const uint8_t *at(uint32_t x, uint32_t y) const {
        return &pixels[(static_cast<size_t>(y) * width + x) * channels];
    }
};

// A smooth photo-like test picture (gradients, a few edges and texture).
Image photoImage(uint32_t width, uint32_t height, uint32_t channels, uint32_t seed = 1);

// BMP bytes as this library stores them (top row first, positive height):
// `bits` 8 (the grey ramp, or `palette`, biClrUsed entries of B, G, R, 0,
// with the picture's bytes as indexes), 24 or 32 (B, G, R and a zero byte);
// 0: 8 for one channel, 24 for three.
Bytes bmpBytes(const Image &image, uint32_t bits = 0, const Bytes &palette = {});
// The picture of a BMP file written by the library (8 or 24 bits, top row
// first); channels 1 or 3 (R, G, B). An empty picture (width 0) when the
// bytes are not such a file.
Image parseBmp(const Bytes &bytes);

// PPM/PGM bytes (for cjpeg), and a parser for djpeg's output (an empty
// picture when the bytes are not binary PPM or PGM).
Bytes pnmBytes(const Image &image);
Image parsePnm(const Bytes &bytes);

// Differences between two pictures (the largest possible when their sizes
// differ), and a line that says them.
struct Difference {
    int maxAbs = 0;
    double psnr = 0;
    double meanAbs = 0;
};
Difference compare(const Image &a, const Image &b);
std::string describe(const Difference &d);

}  // namespace testutil

#endif
