// Pictures for the tests, on every platform the tests run on (the Windows
// host test included): a photo-like picture, BMP and netpbm files of it and
// back, and the difference of two pictures.
#include "test_images.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace testutil {

namespace {

// sin(pi t / 4096) x 1024 for any integer t, by Bhaskara I's rational
// approximation in integers alone: the same pictures on every processor and
// with every compiler (floating point is not: x87's excess precision and
// each C library's sin give other last bits, and other pixels).
int32_t sine(int64_t t) {
    constexpr int64_t kPi = 4096;
    t %= 2 * kPi;
    if (t < 0) t += 2 * kPi;
    const int64_t sign = t < kPi ? 1 : -1;
    const int64_t x = t < kPi ? t : t - kPi;
    const int64_t p = x * (kPi - x);
    return static_cast<int32_t>(sign * (16 * 1024 * p) / (5 * kPi * kPi - 4 * p));
}

}  // namespace

Image photoImage(uint32_t width, uint32_t height, uint32_t channels, uint32_t seed) {
    Image img;
    img.width = width;
    img.height = height;
    img.channels = channels;
    img.pixels.resize(static_cast<size_t>(width) * height * channels);
    uint32_t noise = seed * 2654435761u + 12345u;
    // Positions in 1/4096 of the picture's width and height.
    constexpr int64_t kOne = 4096;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const int64_t fx = width > 1 ? int64_t{x} * kOne / (width - 1) : 0;
            const int64_t fy = height > 1 ? int64_t{y} * kOne / (height - 1) : 0;
            noise = noise * 1103515245u + 12345u;
            const int grain = static_cast<int>((noise >> 16) % 7) - 3;
            // A sky-to-ground gradient, a bright disc and a dark bar; angles
            // in units of pi / 4096 (sine(4096 a / pi) is sin a).
            const int64_t dx = fx - kOne * 6 / 10, dy = fy - kOne * 35 / 100;
            const bool disc = dx * dx + dy * dy < kOne * kOne * 2 / 100;
            const bool bar = fx > kOne * 15 / 100 && fx < kOne / 4 && fy > kOne * 4 / 10;
            const auto angle = [](int64_t radiansTimes4096) { return radiansTimes4096 * 4096 / 12868; };
            int64_t r = 60 + 150 * fy / kOne + 30 * sine(angle(fx * 9)) / 1024;
            int64_t g = 90 + 100 * (kOne - fy) / kOne + 25 * sine(angle(fy * 7 + fx * 3) + 2048) / 1024;
            int64_t b = 200 - 120 * fy / kOne + 20 * sine(angle(fx * 5 + fy * 4)) / 1024;
            if (disc) r = 250, g = 220, b = 90;
            if (bar) r = 30, g = 25, b = 40;
            const int64_t v[3] = {r, g, b};
            uint8_t *p = img.at(x, y);
            if (channels == 1) {
                p[0] = static_cast<uint8_t>(std::clamp<int64_t>((299 * r + 587 * g + 114 * b) / 1000 + grain, 0, 255));
            } else {
                for (int c = 0; c < 3; ++c) p[c] = static_cast<uint8_t>(std::clamp<int64_t>(v[c] + grain, 0, 255));
            }
        }
    }
    return img;
}

static void put32(Bytes &b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

static uint32_t get32(const Bytes &b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}

Bytes bmpBytes(const Image &image, uint32_t bits, const Bytes &palette) {
    if (bits == 0) bits = image.channels == 1 ? 8 : 24;
    const uint32_t colours = bits == 8 ? (palette.empty() ? 256 : static_cast<uint32_t>(palette.size() / 4)) : 0;
    const uint32_t stride = ((bits * image.width + 31) >> 3) & ~3u;
    const uint32_t offBits = 54 + 4 * colours;
    Bytes b(offBits + static_cast<size_t>(stride) * image.height, 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, static_cast<uint32_t>(b.size()));
    put32(b, 10, offBits);
    put32(b, 14, 40);
    put32(b, 18, image.width);
    put32(b, 22, image.height);
    b[26] = 1;
    b[28] = static_cast<uint8_t>(bits);
    put32(b, 34, stride * image.height);
    put32(b, 46, colours);
    for (uint32_t i = 0; i < colours; ++i)
        for (uint32_t c = 0; c < 4; ++c)
            b[54 + 4 * i + c] = palette.empty() ? (c < 3 ? static_cast<uint8_t>(i) : 0) : palette[4 * i + c];
    const uint32_t n = bits / 8;
    for (uint32_t y = 0; y < image.height; ++y) {
        uint8_t *row = &b[offBits + static_cast<size_t>(y) * stride];
        for (uint32_t x = 0; x < image.width; ++x) {
            const uint8_t *p = image.at(x, y);
            if (bits == 8) {
                row[x] = p[0];
            } else {
                row[n * x] = p[image.channels == 1 ? 0 : 2];
                row[n * x + 1] = p[image.channels == 1 ? 0 : 1];
                row[n * x + 2] = p[0];
            }
        }
    }
    return b;
}

Image parseBmp(const Bytes &b) {
    Image img;
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') return Image{};
    img.width = get32(b, 18);
    img.height = get32(b, 22);
    const uint32_t bits = b[28] | (b[29] << 8);
    img.channels = bits == 8 ? 1 : 3;
    const uint32_t offBits = get32(b, 10);
    const uint32_t stride = ((bits * img.width + 31) >> 3) & ~3u;
    if ((bits != 8 && bits != 24) || static_cast<int32_t>(img.height) <= 0 ||
        b.size() < offBits + static_cast<size_t>(stride) * img.height)
        return Image{};
    img.pixels.resize(static_cast<size_t>(img.width) * img.height * img.channels);
    for (uint32_t y = 0; y < img.height; ++y) {
        const uint8_t *row = &b[offBits + static_cast<size_t>(y) * stride];
        for (uint32_t x = 0; x < img.width; ++x) {
            uint8_t *p = img.at(x, y);
            if (bits == 8) {
                p[0] = row[x];
            } else {
                p[0] = row[3 * x + 2];
                p[1] = row[3 * x + 1];
                p[2] = row[3 * x];
            }
        }
    }
    return img;
}

Bytes pnmBytes(const Image &image) {
    const std::string head = std::string(image.channels == 1 ? "P5" : "P6") + "\n" + std::to_string(image.width) +
                             " " + std::to_string(image.height) + "\n255\n";
    Bytes b(head.begin(), head.end());
    b.insert(b.end(), image.pixels.begin(), image.pixels.end());
    return b;
}

Image parsePnm(const Bytes &b) {
    size_t pos = 0;
    auto token = [&]() {
        while (pos < b.size() && (std::isspace(b[pos]) || b[pos] == '#')) {
            if (b[pos] == '#')
                while (pos < b.size() && b[pos] != '\n') ++pos;
            else
                ++pos;
        }
        std::string t;
        while (pos < b.size() && !std::isspace(b[pos])) t += static_cast<char>(b[pos++]);
        return t;
    };
    const std::string magic = token();
    Image img;
    img.channels = magic == "P5" ? 1 : 3;
    if (magic != "P5" && magic != "P6") return Image{};
    img.width = static_cast<uint32_t>(std::strtoul(token().c_str(), nullptr, 10));
    img.height = static_cast<uint32_t>(std::strtoul(token().c_str(), nullptr, 10));
    token();
    ++pos;
    const size_t n = static_cast<size_t>(img.width) * img.height * img.channels;
    if (b.size() < pos + n) return Image{};
    img.pixels.assign(b.begin() + static_cast<long>(pos), b.begin() + static_cast<long>(pos + n));
    return img;
}

Difference compare(const Image &a, const Image &b) {
    Difference d;
    if (a.width != b.width || a.height != b.height || a.channels != b.channels) {
        d.maxAbs = 255;
        d.meanAbs = 255;
        d.psnr = 0;
        return d;
    }
    double sum = 0, sq = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        const int e = std::abs(int(a.pixels[i]) - int(b.pixels[i]));
        d.maxAbs = std::max(d.maxAbs, e);
        sum += e;
        sq += double(e) * e;
    }
    d.meanAbs = a.pixels.empty() ? 0 : sum / a.pixels.size();
    const double mse = a.pixels.empty() ? 0 : sq / a.pixels.size();
    d.psnr = mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
    return d;
}


std::string describe(const Difference &d) {
    char text[96];
    std::snprintf(text, sizeof text, "max %d, mean %.3f, PSNR %.1f dB", d.maxAbs, d.meanAbs, d.psnr);
    return text;
}

}  // namespace testutil
