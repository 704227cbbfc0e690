// The preview: its 4-bit delta code, iRead_APP1 and jpgtool preview.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <set>

#include "base/platform.h"
#include "base/result.h"
#include "jpg.h"
#include "test_util.h"
#include "thumbnail/thumbnail_codec.h"

using namespace jpg;
using testutil::Bytes;

namespace {

constexpr size_t kSegment = 5120;
constexpr size_t kDib = 40 + 14400;

// A segment as an export writes it, with the given code bytes.
Bytes segmentWith(const Bytes &codes, uint8_t layoutHigh = 0, uint8_t layoutLow = 1) {
    Bytes s(kSegment, 0);
    const uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE1, 0x13, 0xFC};
    std::memcpy(s.data(), head, sizeof head);
    std::memcpy(s.data() + 6, "TALVIRQSD417", 12);
    s[18] = layoutHigh;
    s[19] = layoutLow;
    std::copy(codes.begin(), codes.end(), s.begin() + 20);
    return s;
}

// Codes 2,400 MCUs that all ask for the same four samples.
Bytes uniformCodes(int8_t y0, int8_t y1, int8_t cb, int8_t cr) {
    Bytes samples;
    for (uint32_t i = 0; i < kThumbMcus; ++i)
        for (int8_t v : {y0, y1, cb, cr}) samples.push_back(static_cast<uint8_t>(v));
    Bytes codes(kThumbCodeBytes);
    encodeThumbnail(samples.data(), static_cast<uint32_t>(samples.size()), codes.data());
    return codes;
}

// Codes of `count` steps that move a prediction of 0 to exactly `target`.
bool stepsTo(int target, int count, std::vector<uint8_t> &out, std::set<std::pair<int, int>> &dead) {
    if (count == 0) return target == 0;
    if (dead.count({target, count}) != 0) return false;
    for (uint8_t c = 0; c < 16; ++c) {
        out.push_back(c);
        if (stepsTo(target - thumbSteps[c], count - 1, out, dead)) return true;
        out.pop_back();
    }
    dead.insert({target, count});
    return false;
}

// Code bytes whose MCU 6 decodes to exactly Y0, Cb and Cr.
Bytes codesReaching(int y0, int cb, int cr) {
    constexpr int kMcu = 6;
    std::vector<uint8_t> y, b, r;
    std::set<std::pair<int, int>> dead[3];
    EXPECT_TRUE(stepsTo(y0, 2 * kMcu + 1, y, dead[0]) && stepsTo(cb, kMcu + 1, b, dead[1]) &&
                stepsTo(cr, kMcu + 1, r, dead[2]));
    y.push_back(0);
    Bytes codes(kThumbCodeBytes, 0);
    for (int i = 0; i <= kMcu; ++i) {
        codes[2 * i] = static_cast<uint8_t>(y[2 * i] << 4 | y[2 * i + 1]);
        codes[2 * i + 1] = static_cast<uint8_t>(b[i] << 4 | r[i]);
    }
    return codes;
}

std::vector<int8_t> decoded(const Bytes &codes, uint16_t layout) {
    std::vector<int8_t> out(kThumbSampleBytes);
    EXPECT_TRUE(decodeThumbnail(codes.data(), layout, out.data()));
    return out;
}

Bytes readPreview(Bytes segment, int32_t &status) {
    Bytes dib(kDib, 0xAB);
    status = iRead_APP1(segment.data(), dib.data());
    return dib;
}

// B, G, R of the picture's pixel (x, y), y = 0 at the top.
std::array<int, 3> pixel(const Bytes &dib, uint32_t x, uint32_t y) {
    const uint8_t *p = &dib[40 + (59 - y) * 240 + 3 * x];
    return {p[0], p[1], p[2]};
}

}  // namespace

TEST(ThumbnailCode, AllZeroSamples) {
    const Bytes codes = uniformCodes(0, 0, 0, 0);
    for (uint32_t i = 0; i < kThumbMcus; ++i) {
        ASSERT_EQ(codes[2 * i], 0x01);
        ASSERT_EQ(codes[2 * i + 1], i % 2 == 0 ? 0x00 : 0x11);
    }
    const auto s = decoded(codes, kThumbLayoutSequential);
    for (uint32_t i = 0; i < kThumbMcus; ++i) {
        ASSERT_EQ(s[4 * i], 1);
        ASSERT_EQ(s[4 * i + 1], 0);
        ASSERT_EQ(s[4 * i + 2], i % 2 == 0 ? 1 : 0);
        ASSERT_EQ(s[4 * i + 3], s[4 * i + 2]);
    }
}

TEST(ThumbnailCode, IntervalsNotNearestStep) {
    const Bytes codes = uniformCodes(127, 127, 0, 0);
    EXPECT_EQ(codes[0], 0xE4);  // 127 after 0: +120, then 127 after 120: +7
    const std::pair<int, int> cases[] = {{0, 0},   {1, 0},   {-1, 1},  {-2, 1},   {2, 2},   {4, 2},  {-3, 3},
                                         {-5, 3},  {5, 4},   {8, 4},   {9, 6},    {14, 6},  {15, 8}, {-15, 7},
                                         {-16, 9}, {44, 10}, {45, 12}, {-45, 11}, {-46, 13}, {98, 12}, {99, 14},
                                         {300, 14}, {-99, 13}, {-100, 15}};
    for (auto [d, code] : cases) EXPECT_EQ(thumbCode(d), code) << "difference " << d;
}

TEST(ThumbnailCode, PredictionsAreNotClampedButSamplesAre) {
    Bytes codes(kThumbCodeBytes, 0);
    codes[0] = 0xEE;  // Y: +120, +120: prediction 240, samples 120, 127
    codes[2] = 0xF0;  // Y: -120 gives 120 (a clamped prediction would give 7), then +1
    const auto s = decoded(codes, kThumbLayoutSequential);
    EXPECT_EQ(s[0], 120);
    EXPECT_EQ(s[1], 127);
    EXPECT_EQ(s[4], 120);
    EXPECT_EQ(s[5], 121);
}

TEST(ThumbnailCode, GroupedLayoutPlacesGroupsOfFourMcus) {
    // Every code +1: predictions count up through the groups' order.
    const auto s = decoded(Bytes(kThumbCodeBytes, 0), kThumbLayoutGrouped);
    auto y = [&](uint32_t row, uint32_t mcu, int k) { return s[4 * (40 * row + mcu) + k]; };
    // Group 0: Y of (row 0, MCU 0), (1, 0), (0, 1), (1, 1); chroma (0, 0), (0, 1), (1, 0), (1, 1).
    EXPECT_EQ(y(0, 0, 0), 1);
    EXPECT_EQ(y(0, 0, 1), 2);
    EXPECT_EQ(y(1, 0, 0), 3);
    EXPECT_EQ(y(0, 1, 0), 5);
    EXPECT_EQ(y(1, 1, 1), 8);
    EXPECT_EQ(y(0, 0, 2), 1);
    EXPECT_EQ(y(0, 1, 2), 2);
    EXPECT_EQ(y(1, 0, 3), 3);
    EXPECT_EQ(y(1, 1, 3), 4);
    EXPECT_EQ(y(0, 2, 0), 9);  // group 1 follows on the right
    EXPECT_EQ(y(1, 3, 1), 16);
    EXPECT_EQ(y(2, 0, 0), 127);  // the next row pair: predictions go on, samples clamp
}

TEST(PreviewReader, HeaderAndLayoutTag) {
    const Bytes codes = uniformCodes(10, 9, 0, 0);
    int32_t status = 0;
    const Bytes sequential = readPreview(segmentWith(codes, 0, 1), status);
    EXPECT_EQ(status, 0);
    const uint8_t header[40] = {40, 0, 0, 0, 80, 0, 0, 0, 60, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 0x40, 0x38};
    EXPECT_EQ(0, std::memcmp(sequential.data(), header, 40));

    // Neither the length field nor the identifier is looked at.
    Bytes other = segmentWith(codes, 0, 1);
    other[4] = other[5] = 0;
    std::memcpy(&other[6], "SOMETHINGELS", 12);
    EXPECT_EQ(readPreview(other, status), sequential);

    const Bytes grouped = readPreview(segmentWith(codes, 0, 0), status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(grouped, sequential);

    for (auto [high, low] : {std::pair{1, 0}, {0, 2}, {0xFF, 0xFF}}) {
        const Bytes dib = readPreview(segmentWith(codes, high, low), status);
        EXPECT_EQ(status, -1);
        EXPECT_EQ(0, std::memcmp(dib.data(), header, 40));  // the header is still written
        EXPECT_EQ(dib[40], 0xAB);                            // the pixels are not
        EXPECT_EQ(dib[kDib - 1], 0xAB);
    }
}

TEST(PreviewReader, ColourConversionTruncatesThenLimits) {
    struct Case {
        int y0, cb, cr;
        std::array<int, 3> bgr;
    } cases[] = {
        {-128, 0, 0, {0, 0, 0}},       // black
        {127, 0, 0, {255, 255, 255}},  // white
        {0, 127, 0, {255, 84, 128}},   // 128 + 225.044, 128 - 43.706
        {0, 0, 2, {128, 126, 130}},    // 126.57 and 130.80 truncate
        {-128, 0, -128, {0, 91, 0}},   // red -179.456 is limited to 0
    };
    for (const Case &c : cases) {
        const Bytes codes = codesReaching(c.y0, c.cb, c.cr);
        const auto s = decoded(codes, kThumbLayoutSequential);
        ASSERT_EQ(s[24], c.y0);
        ASSERT_EQ(s[26], c.cb);
        ASSERT_EQ(s[27], c.cr);
        int32_t status = 0;
        const Bytes dib = readPreview(segmentWith(codes), status);
        ASSERT_EQ(status, 0);
        EXPECT_EQ(pixel(dib, 12, 0), c.bgr) << c.y0 << " " << c.cb << " " << c.cr;
    }
}

TEST(PreviewReader, RowsAreStoredBottomUp) {
    Bytes codes(kThumbCodeBytes, 0xFF);  // everything dark after the first MCU
    codes[0] = 0xE4;                     // Y0 120, Y1 127
    codes[1] = 0xEE;                     // Cb 120, Cr 120
    int32_t status = 0;
    const Bytes dib = readPreview(segmentWith(codes), status);
    ASSERT_EQ(status, 0);
    // The top-left pixel opens the last row of the bitmap; the bottom-left pixel the first.
    EXPECT_EQ(dib[14200], 255);
    EXPECT_EQ(dib[14201], 121);  // 248 - 126.9936
    EXPECT_EQ(dib[14202], 255);
    EXPECT_EQ(dib[40], 0);
    EXPECT_EQ(dib[41], 135);  // 0 + 91.41 + 44.05
    EXPECT_EQ(dib[42], 0);
}

TEST(PreviewReader, BlocksAreReleasedAndFailuresReported) {
    const Bytes segment = segmentWith(uniformCodes(5, 4, 3, 2));
    int32_t status = 0;
    const Bytes good = readPreview(segment, status);
    EXPECT_EQ(faults::heldBlocks(), 0);
    Bytes dib(kDib, 0);
    EXPECT_EQ(iRead_APP1(nullptr, dib.data()), -1);
    EXPECT_EQ(iRead_APP1(const_cast<uint8_t *>(segment.data()), nullptr), -1);
    for (int n = 1; n <= 2; ++n) {
        faults::reset();
        faults::failNth(faults::Op::Alloc, n);
        Bytes seg = segment;
        EXPECT_EQ(iRead_APP1(seg.data(), dib.data()), -1);
        EXPECT_EQ(faults::heldBlocks(), 0);
    }
    faults::reset();
    EXPECT_EQ(readPreview(segment, status), good);
}

TEST(PreviewTool, WritesAnOrdinaryBmpAndRefusesOtherFiles) {
    testutil::TempDir dir;
    Bytes file = segmentWith(uniformCodes(30, 29, -20, 40));
    file.insert(file.end(), {0xFF, 0xD9});
    testutil::writeFile(dir.file("in.jpg"), file);
    const std::string tool = JPGTOOL_PATH;
    ASSERT_EQ(testutil::run(tool + " preview " + dir.file("in.jpg") + " " + dir.file("out.bmp")), 0);
    const Bytes bmp = testutil::readFile(dir.file("out.bmp"));
    ASSERT_EQ(bmp.size(), 14u + kDib);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[10], 54);
    int32_t status = 0;
    const Bytes dib = readPreview(segmentWith(uniformCodes(30, 29, -20, 40)), status);
    EXPECT_TRUE(std::equal(dib.begin(), dib.end(), bmp.begin() + 14));

    std::string err;
    file[19] = 7;
    testutil::writeFile(dir.file("odd.jpg"), file);
    testutil::writeFile(dir.file("short.jpg"), Bytes(file.begin(), file.begin() + 4000));
    for (const char *name : {"odd.jpg", "short.jpg", "missing.jpg"}) {
        EXPECT_EQ(testutil::run(tool + " preview " + dir.file(name) + " " + dir.file("x.bmp"), &err), 1);
        EXPECT_NE(err.find(name), std::string::npos) << err;
    }
    EXPECT_FALSE(testutil::fileExists(dir.file("x.bmp")));
}
