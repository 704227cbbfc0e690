// iExportJPG end to end: the bytes of the file, the preview segment,
// refusals and failures, and libjpeg-turbo's djpeg as the oracle.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>

#include "encoder/encoder_state.h"
#include "jpg.h"
#include "test_util.h"
#include "thumbnail/thumbnail_codec.h"

using namespace jpg;
using testutil::Bytes;
using testutil::Image;
using testutil::TempDir;

namespace {

void put16(Bytes &b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(Bytes &b, size_t at, uint32_t v) {
    put16(b, at, v);
    put16(b, at + 2, v >> 16);
}

// A BMP file in other shapes than the library writes: 8, 24 or 32 bits, an
// info header of `infoSize` bytes, optionally top-down; rows top first.
Bytes bmpVariant(const Image &image, uint32_t bits, uint32_t infoSize = 40, bool topDown = false) {
    const uint32_t colours = bits == 8 ? 256 : 0;
    const uint32_t stride = ((bits * image.width + 31) >> 3) & ~3u;
    const uint32_t offBits = 14 + infoSize + 4 * colours;
    Bytes b(offBits + static_cast<size_t>(stride) * image.height, 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, static_cast<uint32_t>(b.size()));
    put32(b, 10, offBits);
    put32(b, 14, infoSize);
    put32(b, 18, image.width);
    put32(b, 22, topDown ? static_cast<uint32_t>(-static_cast<int32_t>(image.height)) : image.height);
    put16(b, 26, 1);
    put16(b, 28, bits);
    for (uint32_t i = 0; i < colours; ++i)
        for (int c = 0; c < 3; ++c) b[14 + infoSize + 4 * i + c] = static_cast<uint8_t>(i);
    for (uint32_t y = 0; y < image.height; ++y)
        for (uint32_t x = 0; x < image.width; ++x) {
            const uint8_t *p = image.at(x, y);
            uint8_t *q = &b[offBits + static_cast<size_t>(y) * stride + x * (bits / 8)];
            if (bits == 8) {
                q[0] = image.channels == 1 ? p[0] : p[1];
            } else {
                q[0] = p[image.channels == 1 ? 0 : 2];
                q[1] = p[image.channels == 1 ? 0 : 1];
                q[2] = p[0];
            }
        }
    return b;
}

// A 1-, 4- or 8-bit BMP file (rows top first) of the pixel values `indexes`
// (width x height, one per byte) with the colour table `table` (B, G, R, 0
// per entry; biClrUsed is its entry count).
Bytes indexedBmp(uint32_t width, uint32_t height, uint32_t bits, const Bytes &indexes, const Bytes &table) {
    const uint32_t stride = ((bits * width + 31) >> 3) & ~3u;
    const uint32_t offBits = 54 + static_cast<uint32_t>(table.size());
    Bytes b(offBits + static_cast<size_t>(stride) * height, 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, static_cast<uint32_t>(b.size()));
    put32(b, 10, offBits);
    put32(b, 14, 40);
    put32(b, 18, width);
    put32(b, 22, height);
    put16(b, 26, 1);
    put16(b, 28, bits);
    put32(b, 46, static_cast<uint32_t>(table.size() / 4));
    std::copy(table.begin(), table.end(), b.begin() + 54);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t bit = x * bits;
            b[offBits + static_cast<size_t>(y) * stride + bit / 8] |=
                static_cast<uint8_t>(indexes[static_cast<size_t>(y) * width + x] << (8 - bits - bit % 8));
        }
    return b;
}

struct Exported {
    int32_t status = -1;
    Bytes jpeg;
};

Exported exportBytes(const Bytes &bmp, int32_t level = 3, int32_t layout = 1) {
    TempDir dir;
    testutil::writeFile(dir.file("in.bmp"), bmp);
    Exported e;
    e.status = iExportJPG(dir.file("in.bmp").c_str(), dir.file("out.jpg").c_str(), layout, level);
    if (testutil::fileExists(dir.file("out.jpg"))) e.jpeg = testutil::readFile(dir.file("out.jpg"));
    return e;
}

// Exports `bmp` at `level` and decodes the file with djpeg, which must not
// warn; the decoded picture compared with `image`.
testutil::Difference throughDjpeg(const Image &image, const Bytes &bmp, int32_t level = 3) {
    const Exported e = exportBytes(bmp, level);
    EXPECT_EQ(e.status, 0);
    TempDir dir;
    testutil::writeFile(dir.file("a.jpg"), e.jpeg);
    std::string warnings;
    const int rc = testutil::run("djpeg -pnm -outfile " + dir.file("a.pnm") + " " + dir.file("a.jpg"), &warnings);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(warnings, "");
    if (rc != 0) return {};
    return testutil::compare(image, testutil::parsePnm(testutil::readFile(dir.file("a.pnm"))));
}

// `n` bytes from `at` as "FF D8 ...".
std::string hexAt(const Bytes &b, size_t at, size_t n) {
    std::string out;
    char digits[4];
    for (size_t i = at; i < at + n && i < b.size(); ++i) {
        std::snprintf(digits, sizeof digits, "%02X", b[i]);
        out += (out.empty() ? "" : " ") + std::string(digits);
    }
    return out;
}

// The contents of the marker segments up to SOS, those of equal markers
// joined in file order.
std::map<uint8_t, Bytes> segments(const Bytes &jpeg) {
    std::map<uint8_t, Bytes> out;
    for (size_t at = 2; at + 4 <= jpeg.size();) {
        const uint8_t marker = jpeg[at + 1];
        const size_t length = jpeg[at + 2] << 8 | jpeg[at + 3];
        out[marker].insert(out[marker].end(), jpeg.begin() + at + 4, jpeg.begin() + at + 2 + length);
        if (marker == 0xDA) break;
        at += 2 + length;
    }
    return out;
}

// The preview code bytes for the given 9,600 samples.
Bytes previewCodes(const std::vector<uint8_t> &samples) {
    Bytes codes(kThumbCodeBytes);
    encodeThumbnail(samples.data(), kThumbSampleBytes, codes.data());
    return codes;
}

// The code bytes of an export's preview.
Bytes previewOf(const Bytes &bmp) {
    const Bytes jpeg = exportBytes(bmp).jpeg;
    return jpeg.size() < 20 + kThumbCodeBytes ? Bytes{} : Bytes(jpeg.begin() + 20, jpeg.begin() + 20 + kThumbCodeBytes);
}

// Quantised DC of a flat block of value v with divisor q.
int quantisedDc(int v, int q) {
    const int dc = 8 * (v - 128);
    return dc > 0 ? (dc + q / 2) / q : (dc - q / 2) / q;
}

bool haveDjpeg() { return testutil::haveProgram("djpeg"); }

}  // namespace

TEST(ExportFile, HeaderBytes) {
    const Exported e = exportBytes(testutil::bmpBytes(testutil::photoImage(640, 480, 3)));
    ASSERT_EQ(e.status, 0);
    const Bytes &j = e.jpeg;
    EXPECT_EQ(hexAt(j, 0, 6), "FF D8 FF E1 13 FC");
    EXPECT_EQ(std::string(j.begin() + 6, j.begin() + 18), "TALVIRQSD417");
    EXPECT_EQ(hexAt(j, 18, 2), "00 01");
    EXPECT_TRUE(std::all_of(j.begin() + 20 + kThumbCodeBytes, j.begin() + 5120, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(hexAt(j, 5120, 18), "FF E0 00 10 4A 46 49 46 00 01 00 01 00 48 00 48 00 00");
    EXPECT_EQ(hexAt(j, 5138, 6), "FF DB 00 84 00 10");
    EXPECT_EQ(hexAt(j, 5272, 19), "FF C0 00 11 08 01 E0 02 80 03 01 21 00 02 11 01 03 11 01");
    EXPECT_EQ(hexAt(j, 5291, 4), "FF C4 01 A2");
    EXPECT_EQ(hexAt(j, 5711, 4), "FF FE 01 A1");
    EXPECT_EQ(hexAt(j, 6130, 14), "FF DA 00 0C 03 01 00 02 11 03 11 00 3F 00");  // data from 6144
    EXPECT_EQ(hexAt(j, j.size() - 2, 2), "FF D9");

    // Level 16: (17 x 16) >> 3 = 34, the luminance table goes 16-bit.
    const Bytes wide = exportBytes(testutil::bmpBytes(testutil::photoImage(64, 16, 3)), 16).jpeg;
    EXPECT_EQ(hexAt(wide, 5138, 8), "FF DB 00 C4 10 00 22 00");
    EXPECT_EQ(hexAt(wide, 5138 + 4 + 129, 1), "01");
    EXPECT_EQ(hexAt(wide, 6144 + 64 - 14, 2), "FF DA");

    // Grey: one table, one component, DHT tables 00 and 10, data from 5861.
    const auto grey = segments(exportBytes(testutil::bmpBytes(testutil::photoImage(64, 16, 1))).jpeg);
    EXPECT_EQ(grey.at(0xDB).size(), 65u);
    EXPECT_EQ(hexAt(grey.at(0xC0), 5, 4), "01 01 11 00");
    EXPECT_EQ(grey.at(0xC4).size(), 208u);
    EXPECT_EQ(hexAt(grey.at(0xC4), 0, 1) + hexAt(grey.at(0xC4), 29, 1), "0010");
    EXPECT_EQ(hexAt(grey.at(0xDA), 0, 6), "01 01 00 00 3F 00");
}

TEST(ExportFile, TablesAreThoseOfTheStandard) {
    // cjpeg's quality 50 tables are the unscaled Annex K tables, as are ours at level 3.
    if (!testutil::haveProgram("cjpeg")) GTEST_SKIP() << "cjpeg not installed";
    const Image image = testutil::photoImage(32, 16, 3);
    TempDir dir;
    testutil::writeFile(dir.file("a.ppm"), testutil::pnmBytes(image));
    ASSERT_EQ(testutil::run("cjpeg -quality 50 -baseline -outfile " + dir.file("a.jpg") + " " + dir.file("a.ppm")), 0);
    const auto theirs = segments(testutil::readFile(dir.file("a.jpg")));
    const auto ours = segments(exportBytes(testutil::bmpBytes(image)).jpeg);
    EXPECT_EQ(ours.at(0xDB), theirs.at(0xDB));
    EXPECT_EQ(ours.at(0xC4), theirs.at(0xC4));
}

TEST(ExportFile, LayoutCode) {
    const Bytes bmp = testutil::bmpBytes(testutil::photoImage(16, 8, 3));
    for (const auto &[layout, bytes] : {std::pair{0, "00 00"}, {1, "00 01"}, {2, "02 00"}, {0x10203, "03 02"}})
        EXPECT_EQ(hexAt(exportBytes(bmp, 3, layout).jpeg, 18, 2), bytes);
}

TEST(ExportPreview, SamplesAreTheDcValuesOfA640x480Image) {
    // Flat 8 x 8 blocks: grey levels in the luminance blocks of some MCUs,
    // pure colours filling others, so every DC value is known.
    Image image{640, 480, 3, Bytes(640 * 480 * 3)};
    std::vector<uint8_t> expected(kThumbSampleBytes);
    const uint8_t colours[3][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    const int ycbcr[3][3] = {{75, 84, 255}, {149, 44, 20}, {29, 255, 108}};
    for (uint32_t my = 0; my < 60; ++my)
        for (uint32_t mx = 0; mx < 40; ++mx) {
            const uint32_t kind = (mx + 2 * my) % 4;
            const int a = static_cast<int>((mx * 7 + my * 3) % 256), b = static_cast<int>((mx * 5 + my * 11) % 256);
            for (uint32_t y = 0; y < 8; ++y)
                for (uint32_t x = 0; x < 16; ++x) {
                    uint8_t *p = image.at(16 * mx + x, 8 * my + y);
                    if (kind == 3) {
                        p[0] = p[1] = p[2] = static_cast<uint8_t>(x < 8 ? a : b);
                    } else {
                        std::memcpy(p, colours[kind], 3);
                    }
                }
            uint8_t *s = &expected[4 * (40 * my + mx)];
            const int y0 = kind == 3 ? a : ycbcr[kind][0], y1 = kind == 3 ? b : ycbcr[kind][0];
            s[0] = static_cast<uint8_t>(quantisedDc(y0, 16));
            s[1] = static_cast<uint8_t>(quantisedDc(y1, 16));
            s[2] = static_cast<uint8_t>(quantisedDc(kind == 3 ? 128 : ycbcr[kind][1], 17));
            s[3] = static_cast<uint8_t>(quantisedDc(kind == 3 ? 128 : ycbcr[kind][2], 17));
        }
    EXPECT_EQ(previewOf(testutil::bmpBytes(image)), previewCodes(expected));
}

TEST(ExportPreview, OtherSizesAverageTheBlocksOfEachCell) {
    // Left half black, right half white: at twice the grid (1280 x 960) each
    // cell averages four equal blocks; at 16 x 8 (one MCU) every cell takes
    // the nearest block. A grey 640 x 480 image has 80 x 60 blocks; its
    // chroma samples are 0.
    struct Case {
        uint32_t w, h, channels;
    };
    for (const Case c : {Case{1280, 960, 3}, Case{16, 8, 3}, Case{640, 480, 1}, Case{333, 97, 1}}) {
        const uint32_t blocksWide = c.channels == 3 ? 2 * ((c.w + 15) / 16) : (c.w + 7) / 8;
        const uint32_t whiteFrom = 8 * (blocksWide / 2);  // a block boundary
        Image image{c.w, c.h, c.channels, Bytes(size_t(c.w) * c.h * c.channels)};
        for (uint32_t y = 0; y < c.h; ++y)
            for (uint32_t x = 0; x < c.w; ++x) std::memset(image.at(x, y), x < whiteFrom ? 0 : 255, c.channels);
        std::vector<uint8_t> expected(kThumbSampleBytes);  // chroma DC 0: black and white have Cb = Cr = 128
        for (uint32_t i = 0; i < kThumbMcus; ++i)
            for (uint32_t k = 0; k < 2; ++k) {
                const uint32_t cell = (i % 40) * 2 + k;
                const uint32_t block = blocksWide >= 80 ? cell * blocksWide / 80 : (2 * cell + 1) * blocksWide / 160;
                expected[4 * i + k] = static_cast<uint8_t>(quantisedDc(block < blocksWide / 2 ? 0 : 255, 16));
            }
        EXPECT_EQ(previewOf(testutil::bmpBytes(image)), previewCodes(expected)) << c.w << "x" << c.h;
    }
}

TEST(ExportOracle, DjpegReadsEveryLevelWithoutWarnings) {
    if (!haveDjpeg()) GTEST_SKIP() << "djpeg not installed";
    // compressionLevel, lowest PSNR (dB) of the grey and of the colour
    // source, as measured less about half a decibel. -2 and 10920 give table
    // scales 0 and 779: the divisors of scale 0 become 1.
    const struct {
        int32_t level;
        double grey, colour;
    } levels[] = {{-2, 58, 37.4},  {-1, 39.5, 34},  {0, 38.6, 33.2},  {1, 37.4, 32.2}, {2, 36.8, 32},
                  {3, 36.5, 31.7}, {4, 36.4, 31.6}, {5, 36.4, 31.6},  {6, 36.2, 31.4}, {7, 35.9, 31.2},
                  {8, 35.6, 31},   {9, 35.6, 31},   {10, 35.4, 30.7}, {40, 32.3, 28.2}, {10920, 18, 14.2}};
    const Image colour = testutil::photoImage(203, 77, 3, 5), grey = testutil::photoImage(203, 77, 1, 5);
    for (const auto &l : levels)
        for (uint32_t bits : {8, 24, 32}) {
            const Image &image = bits == 8 ? grey : colour;
            EXPECT_GE(throughDjpeg(image, bmpVariant(image, bits), l.level).psnr, bits == 8 ? l.grey : l.colour)
                << "level " << l.level << ", " << bits << " bits";
        }
}

TEST(ExportOracle, OddAndExtremeSizes) {
    if (!haveDjpeg()) GTEST_SKIP() << "djpeg not installed";
    // djpeg reads up to 65,500 pixels a side. Tiny pictures of the photo
    // pattern are all edges, hence the low floor.
    const std::pair<uint32_t, uint32_t> sizes[] = {{1, 1}, {15, 7}, {17, 9}, {641, 483}, {65500, 8}, {8, 65500}};
    for (const auto &[w, h] : sizes)
        for (uint32_t bits : {8, 24, 32}) {
            if (size_t(w) * h > 100000 && bits == 32) continue;
            const Image image = testutil::photoImage(w, h, bits == 8 ? 1 : 3, w + h);
            EXPECT_GE(throughDjpeg(image, bmpVariant(image, bits)).psnr, 20) << w << "x" << h << ", " << bits;
        }
    // Stripes and checks of 0 and 255 give the largest AC coefficients an
    // 8-bit block can have; at divisor 1 (compressionLevel -2) they must
    // still be codable.
    const uint8_t stripe[8] = {255, 0, 0, 255, 255, 0, 0, 255};
    for (int pattern = 0; pattern < 3; ++pattern) {
        Image image{64, 32, 1, Bytes(64 * 32)};
        for (uint32_t y = 0; y < 32; ++y)
            for (uint32_t x = 0; x < 64; ++x)
                image.at(x, y)[0] = pattern == 0   ? stripe[x % 8]
                                    : pattern == 1 ? stripe[x % 8] ^ stripe[y % 8]
                                                   : ((x + y) % 2 ? 255 : 0);
        EXPECT_LE(throughDjpeg(image, testutil::bmpBytes(image), -2).maxAbs, 2) << pattern;
    }
    // The largest sides pad to 65,536 without wrapping (beyond djpeg's reach).
    for (const auto &[w, h] : {std::pair<uint32_t, uint32_t>{65535, 9}, {9, 65535}}) {
        const Bytes jpeg = exportBytes(testutil::bmpBytes(testutil::photoImage(w, h, 1))).jpeg;
        const Bytes sof{8, uint8_t(h >> 8), uint8_t(h), uint8_t(w >> 8), uint8_t(w), 1, 1, 0x11, 0};
        EXPECT_EQ(segments(jpeg)[0xC0], sof);
        EXPECT_EQ(hexAt(jpeg, jpeg.size() - 2, 2), "FF D9");
    }
}

TEST(ExportSource, OtherShapesOfTheSamePictureGiveTheSameFile) {
    // 32-bit pixels, a 124-byte (V5) info header and a top-down file change
    // nothing in the output.
    const Image colour = testutil::photoImage(37, 21, 3), grey = testutil::photoImage(37, 21, 1);
    const Bytes colourJpeg = exportBytes(testutil::bmpBytes(colour)).jpeg;
    const Bytes greyJpeg = exportBytes(testutil::bmpBytes(grey)).jpeg;
    ASSERT_FALSE(colourJpeg.empty());
    EXPECT_EQ(exportBytes(bmpVariant(colour, 24)).jpeg, colourJpeg);
    EXPECT_EQ(exportBytes(bmpVariant(colour, 32)).jpeg, colourJpeg);
    EXPECT_EQ(exportBytes(bmpVariant(colour, 32, 124, true)).jpeg, colourJpeg);
    EXPECT_EQ(exportBytes(bmpVariant(colour, 24, 108, true)).jpeg, colourJpeg);
    EXPECT_EQ(exportBytes(bmpVariant(grey, 8)).jpeg, greyJpeg);
    EXPECT_EQ(exportBytes(bmpVariant(grey, 8, 124, true)).jpeg, greyJpeg);
    // Rows where the file header says, after a gap.
    Bytes gap = bmpVariant(colour, 32, 124, true);
    gap.insert(gap.begin() + 138, 16, 0xEE);
    put32(gap, 10, 138 + 16);
    EXPECT_EQ(exportBytes(gap).jpeg, colourJpeg);
    // A 16-entry colour table: the rows start at offset 118.
    Bytes shortTable = bmpVariant(grey, 8);
    shortTable.erase(shortTable.begin() + 118, shortTable.begin() + 1078);
    put32(shortTable, 10, 118);
    put32(shortTable, 46, 16);
    EXPECT_EQ(exportBytes(shortTable).jpeg, greyJpeg);
    // The last row may come without its padding bytes.
    Bytes shortPadding = testutil::bmpBytes(colour);
    shortPadding.resize(shortPadding.size() - 1);
    EXPECT_EQ(exportBytes(shortPadding).jpeg, colourJpeg);
}

TEST(ExportSource, ColourTablesGiveThePictureTheyDescribe) {
    // Each file exports to exactly the bytes of its picture stored as a
    // 24-bit or a grey-ramp 8-bit file; values past the table are black.
    const uint32_t w = 37, h = 21;
    const Image photo = testutil::photoImage(w, h, 3, 7);
    struct Case {
        const char *name;
        uint32_t bits;
        Bytes table;  // B, G, R, 0 per entry
    };
    Bytes colours256, grey128, colours16, grey2;
    for (uint32_t i = 0; i < 256; ++i)  // a 3-3-2 colour cube
        colours256.insert(colours256.end(), {uint8_t((i >> 6) * 85), uint8_t(((i >> 3) & 7) * 36),
                                             uint8_t((i & 7) * 36), 0});
    for (uint32_t i = 0; i < 128; ++i) grey128.insert(grey128.end(), {uint8_t(255 - 2 * i), uint8_t(255 - 2 * i),
                                                                      uint8_t(255 - 2 * i), 0});
    for (uint32_t i = 0; i < 16; ++i)
        colours16.insert(colours16.end(), {uint8_t(255 - 16 * i), uint8_t(7 * i + 3), uint8_t(16 * i), 0});
    grey2 = {10, 10, 10, 0, 200, 200, 200, 0};
    const Case cases[] = {{"8-bit colour", 8, colours256},
                          {"8-bit grey, not the ramp, 128 entries", 8, grey128},
                          {"4-bit colour", 4, colours16},
                          {"1-bit grey", 1, grey2}};
    for (const Case &c : cases) {
        const uint32_t entries = static_cast<uint32_t>(c.table.size() / 4);
        bool grey = true;
        for (uint32_t i = 0; i < entries; ++i)
            grey = grey && c.table[4 * i] == c.table[4 * i + 1] && c.table[4 * i + 1] == c.table[4 * i + 2];
        Bytes indexes(size_t{w} * h);
        Image picture{w, h, grey ? 1u : 3u, Bytes(size_t{w} * h * (grey ? 1 : 3))};
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                const uint8_t *p = photo.at(x, y);
                const uint32_t index = (p[0] ^ p[1] * 3 ^ p[2] * 7) & ((1u << c.bits) - 1);
                indexes[size_t{y} * w + x] = static_cast<uint8_t>(index);
                for (uint32_t k = 0; k < picture.channels; ++k)  // R, G, B from B, G, R
                    picture.at(x, y)[k] = index < entries ? c.table[4 * index + 2 - (grey ? 0 : k)] : 0;
            }
        const Exported expected = exportBytes(testutil::bmpBytes(picture));
        ASSERT_EQ(expected.status, 0) << c.name;
        EXPECT_EQ(exportBytes(indexedBmp(w, h, c.bits, indexes, c.table)).jpeg, expected.jpeg) << c.name;
    }
    // A grey ramp, however short, keeps the pixel values as grey levels.
    Bytes ramp16;
    for (uint32_t i = 0; i < 16; ++i) ramp16.insert(ramp16.end(), {uint8_t(i), uint8_t(i), uint8_t(i), 0});
    const Image grey = testutil::photoImage(w, h, 1, 7);
    EXPECT_EQ(exportBytes(indexedBmp(w, h, 8, grey.pixels, ramp16)).jpeg, exportBytes(testutil::bmpBytes(grey)).jpeg);
}

TEST(ExportSource, Refusals) {
    const Bytes good = testutil::bmpBytes(testutil::photoImage(20, 10, 3));
    auto with = [&](size_t at, uint32_t value, int bytes = 4) {
        Bytes b = good;
        for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<uint8_t>(value >> (8 * i));
        return b;
    };
    const std::pair<const char *, Bytes> cases[] = {
        {"not BM", with(0, 'B' | 'X' << 8, 2)},
        {"2 bits", with(28, 2, 2)},
        {"4 bits, colour table past the end", [&] {
             Bytes b(good.begin(), good.begin() + 80);
             b[28] = 4;
             return b;
         }()},
        {"16 bits", with(28, 16, 2)},
        {"RLE", with(30, 1)},
        {"bit fields", with(30, 3)},
        {"core header", with(14, 12)},
        {"width 0", with(18, 0)},
        {"height 0", with(22, 0)},
        {"width 65536", with(18, 65536)},
        {"height -65536", with(22, static_cast<uint32_t>(-65536))},
        {"rows missing", Bytes(good.begin(), good.end() - 61)},
        {"headers only", Bytes(good.begin(), good.begin() + 54)},
        {"empty", Bytes{}},
    };
    for (const auto &[name, bmp] : cases) {
        const Exported e = exportBytes(bmp);
        EXPECT_EQ(e.status, 1) << name;
        EXPECT_TRUE(e.jpeg.empty()) << name;
    }
    TempDir dir;
    EXPECT_EQ(iExportJPG(dir.file("missing.bmp").c_str(), dir.file("out.jpg").c_str(), 1, 3), 1);
    EXPECT_EQ(iExportJPG(nullptr, dir.file("out.jpg").c_str(), 1, 3), 1);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{});
    // The source named as the output (by another path too) stays as it was.
    testutil::writeFile(dir.file("in.bmp"), good);
    EXPECT_EQ(iExportJPG(dir.file("in.bmp").c_str(), dir.file("in.bmp").c_str(), 1, 3), 1);
    EXPECT_EQ(iExportJPG(dir.file("in.bmp").c_str(), (dir.path() + "/./in.bmp").c_str(), 1, 3), 1);
    EXPECT_EQ(testutil::readFile(dir.file("in.bmp")), good);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.bmp"});
}

TEST(ExportFailures, EveryFailingOperationLeavesTheOutputAsItWas) {
    TempDir dir;
    const std::string in = dir.file("in.bmp"), out = dir.file("out.jpg");
    testutil::writeFile(in, testutil::bmpBytes(testutil::photoImage(40, 20, 3)));
    const Bytes before{'o', 'l', 'd'};
    using faults::Op;
    for (Op op : {Op::Alloc, Op::Open, Op::Create, Op::Read, Op::Write, Op::Seek}) {
        for (int n = 1;; ++n) {
            testutil::writeFile(out, before);
            faults::reset();
            const int blocks = faults::heldBlocks(), files = faults::heldFiles();
            faults::failNth(op, n);
            const int32_t status = iExportJPG(in.c_str(), out.c_str(), 1, 3);
            const bool fired = faults::fired();
            faults::reset();
            EXPECT_EQ(faults::heldBlocks(), blocks) << int(op) << " #" << n;
            EXPECT_EQ(faults::heldFiles(), files) << int(op) << " #" << n;
            EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.bmp", "out.jpg"})) << int(op) << " #" << n;
            if (!fired) {
                EXPECT_EQ(status, 0) << int(op) << " #" << n;
                EXPECT_NE(testutil::readFile(out), before);
                break;
            }
            EXPECT_EQ(status, 1) << int(op) << " #" << n;
            EXPECT_EQ(testutil::readFile(out), before) << int(op) << " #" << n;
        }
    }
}

TEST(ExportThreads, ConcurrentExportsDoNotDisturbEachOther) {
    const Bytes grey = testutil::bmpBytes(testutil::photoImage(300, 200, 1));
    const Bytes colour = testutil::bmpBytes(testutil::photoImage(300, 200, 3));
    const Bytes greyJpeg = exportBytes(grey).jpeg, colourJpeg = exportBytes(colour).jpeg;
    std::vector<Bytes> results(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < results.size(); ++i)
        threads.emplace_back([&, i] { results[i] = exportBytes(i % 2 ? colour : grey).jpeg; });
    for (auto &t : threads) t.join();
    for (size_t i = 0; i < results.size(); ++i) EXPECT_EQ(results[i], i % 2 ? colourJpeg : greyJpeg) << i;
}
