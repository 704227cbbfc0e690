// jpgEncode: its tables against cjpeg's, its layouts decoded by djpeg and by
// our own decoder, the segments it adds, its refusals, and the pixels it
// reads. (Level mode against iExportJPG, every kernel set and thread count:
// tests/differential.)
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "jpg.h"
#include "jpg_codec.h"
#include "test_util.h"

using testutil::Bytes;
using testutil::Image;
using testutil::TempDir;

namespace {

struct Encoded {
    int32_t status = 0;
    Bytes jpeg;
    std::string message;
};

Encoded encode(const void *pixels, uint32_t width, uint32_t height, size_t pitch, const JpgEncodeSettings *settings) {
    void *block = reinterpret_cast<void *>(1);
    size_t size = 1;
    JpgError error{};
    Encoded e;
    e.status = jpgEncode(pixels, width, height, pitch, settings, &block, &size, &error);
    EXPECT_EQ(error.code, e.status);
    e.message = error.message;
    if (e.status == JPG_OK) {
        e.jpeg.assign(static_cast<uint8_t *>(block), static_cast<uint8_t *>(block) + size);
        jpgFree(block);
    } else {
        EXPECT_EQ(block, nullptr);
        EXPECT_EQ(size, 0u);
        EXPECT_NE(e.message, "");
    }
    return e;
}

JpgEncodeSettings settingsOf(int32_t format, int32_t quality, int32_t sampling) {
    JpgEncodeSettings s;
    jpgDefaultEncodeSettings(&s);
    s.format = format;
    s.quality = quality;
    s.sampling = sampling;
    return s;
}

// A test picture (R, G, B or grey) in `format`, rows `pad` bytes longer.
Bytes pixelsOf(const Image &image, int32_t format, size_t &pitch, size_t pad = 0) {
    const uint32_t bytes = format == JPG_FORMAT_GREY ? 1 : format <= JPG_FORMAT_BGR ? 3 : 4;
    pitch = size_t{image.width} * bytes + pad;
    Bytes out(pitch * image.height, 0xEE);
    const bool swap = format == JPG_FORMAT_BGR || format == JPG_FORMAT_BGRA;
    for (uint32_t y = 0; y < image.height; ++y)
        for (uint32_t x = 0; x < image.width; ++x) {
            const uint8_t *p = image.at(x, y);
            uint8_t *q = &out[y * pitch + x * bytes];
            if (bytes == 1) {
                q[0] = p[0];
                continue;
            }
            for (int c = 0; c < 3; ++c) q[c] = p[image.channels == 1 ? 0 : swap ? 2 - c : c];
            if (bytes == 4) q[3] = 0x5A;
        }
    return out;
}

Encoded encodeImage(const Image &image, const JpgEncodeSettings &settings) {
    size_t pitch = 0;
    const Bytes pixels = pixelsOf(image, settings.format, pitch);
    return encode(pixels.data(), image.width, image.height, pitch, &settings);
}

// The marker segments before the scan, in file order: marker and contents.
std::vector<std::pair<uint8_t, Bytes>> segmentList(const Bytes &jpeg) {
    std::vector<std::pair<uint8_t, Bytes>> out;
    for (size_t at = 2; at + 4 <= jpeg.size();) {
        const uint8_t marker = jpeg[at + 1];
        const size_t length = jpeg[at + 2] << 8 | jpeg[at + 3];
        if (at + 2 + length > jpeg.size()) break;
        out.emplace_back(marker, Bytes(jpeg.begin() + at + 4, jpeg.begin() + at + 2 + length));
        if (marker == 0xDA) break;
        at += 2 + length;
    }
    return out;
}

// The contents of the segments of one marker, joined.
Bytes joined(const Bytes &jpeg, uint8_t marker) {
    Bytes out;
    for (const auto &[m, bytes] : segmentList(jpeg))
        if (m == marker) out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
}

std::string markerOrder(const Bytes &jpeg) {
    std::string out = "D8";
    char hex[4];
    for (const auto &segment : segmentList(jpeg)) {
        std::snprintf(hex, sizeof hex, " %02X", segment.first);
        out += hex;
    }
    return out;
}

// The restart markers in the coded data, in order (their low bytes).
std::vector<uint8_t> restartMarkers(const Bytes &jpeg) {
    std::vector<uint8_t> out;
    size_t at = 2;
    for (const auto &segment : segmentList(jpeg)) at += 2 + 2 + segment.second.size();
    for (; at + 1 < jpeg.size(); ++at)
        if (jpeg[at] == 0xFF && jpeg[at + 1] >= 0xD0 && jpeg[at + 1] <= 0xD7) out.push_back(jpeg[at + 1]);
    return out;
}

bool haveOracle() { return testutil::haveProgram("cjpeg") && testutil::haveProgram("djpeg"); }

// djpeg's picture of a file (which it must read without a warning), and ours
// (iImportJPG's, which gives what the memory decoder gives).
Image djpegOf(const TempDir &dir, const Bytes &jpeg) {
    testutil::writeFile(dir.file("d.jpg"), jpeg);
    std::string warnings;
    EXPECT_EQ(testutil::run("djpeg -dct int -nosmooth -pnm -outfile " + dir.file("d.pnm") + " " + dir.file("d.jpg"),
                            &warnings),
              0);
    EXPECT_EQ(warnings, "");
    return testutil::parsePnm(testutil::readFile(dir.file("d.pnm")));
}
Image importOf(const TempDir &dir, const Bytes &jpeg) {
    testutil::writeFile(dir.file("i.jpg"), jpeg);
    EXPECT_EQ(iImportJPG(dir.file("i.jpg").c_str(), dir.file("i.bmp").c_str()), 0);
    return testutil::parseBmp(testutil::readFile(dir.file("i.bmp")));
}

}  // namespace

// cjpeg -quality Q scales the standard tables by 5000 / Q below 50 and
// 200 - 2Q from there; above 255 (Q under 24) the entries take 16 bits and
// the frame is SOF1. The Huffman tables are the standard ones too.
TEST(CodecEncode, QualityTablesAreCjpegs) {
    if (!haveOracle()) GTEST_SKIP() << "cjpeg/djpeg not installed";
    TempDir dir;
    for (const uint32_t channels : {3u, 1u}) {
        const Image image = testutil::photoImage(48, 32, channels);
        testutil::writeFile(dir.file("a.pnm"), testutil::pnmBytes(image));
        for (const int quality : {1, 10, 50, 75, 90, 100}) {
            const std::string what = std::to_string(channels) + " channels, quality " + std::to_string(quality);
            const std::string options = channels == 1 ? " -grayscale" : " -sample 2x1";
            ASSERT_EQ(testutil::run("cjpeg -quality " + std::to_string(quality) + options + " -outfile " +
                                    dir.file("a.jpg") + " " + dir.file("a.pnm")),
                      0);
            const Bytes theirs = testutil::readFile(dir.file("a.jpg"));
            const int32_t format = channels == 1 ? JPG_FORMAT_GREY : JPG_FORMAT_RGB;
            const Encoded ours = encodeImage(image, settingsOf(format, quality, JPG_SAMPLING_422));
            ASSERT_EQ(ours.status, JPG_OK) << what;
            EXPECT_EQ(joined(ours.jpeg, 0xDB), joined(theirs, 0xDB)) << what;
            EXPECT_EQ(joined(ours.jpeg, 0xC4), joined(theirs, 0xC4)) << what;
            EXPECT_EQ(joined(ours.jpeg, 0xC0), joined(theirs, 0xC0)) << what;
            EXPECT_EQ(joined(ours.jpeg, 0xC1), joined(theirs, 0xC1)) << what;
            EXPECT_EQ(joined(ours.jpeg, 0xC1).empty(), quality > 10) << what;
            // Both decoders read the 16-bit tables and the extended frame.
            djpegOf(dir, ours.jpeg);
            EXPECT_EQ(importOf(dir, ours.jpeg).width, image.width) << what;
        }
    }
}

// Every layout, with and without restart markers: djpeg decodes the file to
// what our decoder makes of it, give or take the colour conversions' few
// levels, and both to the picture.
TEST(CodecEncode, LayoutsDecodeWithDjpegAsWithOurDecoder) {
    if (!haveOracle()) GTEST_SKIP() << "cjpeg/djpeg not installed";
    struct Case {
        int32_t sampling, format, quality;
        uint32_t restart;
        const char *factors;  // the frame's sampling factors
    } cases[] = {
        {JPG_SAMPLING_444, JPG_FORMAT_RGB, 90, 0, "11 11 11"},  {JPG_SAMPLING_420, JPG_FORMAT_BGRA, 90, 0, "22 11 11"},
        {JPG_SAMPLING_GREY, JPG_FORMAT_RGB, 90, 0, "11"},       {JPG_SAMPLING_422, JPG_FORMAT_BGR, 75, 5, "21 11 11"},
        {JPG_SAMPLING_420, JPG_FORMAT_RGBA, 95, 1, "22 11 11"}, {JPG_SAMPLING_444, JPG_FORMAT_RGB, 98, 7, "11 11 11"},
        {JPG_SAMPLING_GREY, JPG_FORMAT_GREY, 90, 3, "11"},
    };
    TempDir dir;
    for (const Case &c : cases)
        for (const auto &[width, height] : {std::pair{203u, 117u}, std::pair{64u, 48u}}) {
            const std::string what = "sampling " + std::to_string(c.sampling) + " restart " +
                                     std::to_string(c.restart) + " " + std::to_string(width) + "x" +
                                     std::to_string(height);
            const Image image = testutil::photoImage(width, height, c.format == JPG_FORMAT_GREY ? 1 : 3, 5);
            JpgEncodeSettings settings = settingsOf(c.format, c.quality, c.sampling);
            settings.restartInterval = c.restart;
            const Encoded e = encodeImage(image, settings);
            ASSERT_EQ(e.status, JPG_OK) << what;

            const Bytes frame = joined(e.jpeg, 0xC0);
            ASSERT_GE(frame.size(), 9u) << what;
            std::string factors;
            for (size_t i = 7; i < frame.size(); i += 3) {
                char hex[4];
                std::snprintf(hex, sizeof hex, "%s%02X", factors.empty() ? "" : " ", frame[i]);
                factors += hex;
            }
            EXPECT_EQ(factors, c.factors) << what;
            // One RSTn before every restart interval's first MCU but the first, numbered 0..7 in turn.
            const uint32_t luma = c.sampling == JPG_SAMPLING_420 ? 16 : 8;
            const uint32_t across = c.sampling == JPG_SAMPLING_422 || c.sampling == JPG_SAMPLING_420 ? 16 : 8;
            const uint32_t mcus = ((width + across - 1) / across) * ((height + luma - 1) / luma);
            const std::vector<uint8_t> restarts = restartMarkers(e.jpeg);
            EXPECT_EQ(restarts.size(), c.restart == 0 ? 0 : (mcus - 1) / c.restart) << what;
            for (size_t i = 0; i < restarts.size(); ++i) ASSERT_EQ(restarts[i], 0xD0 + i % 8) << what;
            EXPECT_EQ(joined(e.jpeg, 0xDD), c.restart == 0 ? Bytes{} : (Bytes{0, static_cast<uint8_t>(c.restart)}))
                << what;

            const Image theirs = djpegOf(dir, e.jpeg), ours = importOf(dir, e.jpeg);
            const testutil::Difference d = testutil::compare(theirs, ours);
            EXPECT_LE(d.meanAbs, 0.75) << what << ": " << testutil::describe(d);
            EXPECT_GE(d.psnr, 45) << what << ": " << testutil::describe(d);
            Image source = image;
            if (c.sampling == JPG_SAMPLING_GREY && image.channels == 3) source = ours;  // its luma: ours is the oracle
            EXPECT_GE(testutil::compare(source, theirs).psnr, 30) << what;
        }
}

// A grey encode of colour pixels takes the luma the colour conversion
// computes: the same file as for the luma as grey pixels.
TEST(CodecEncode, GreyOfColourIsTheColourConversionsLuma) {
    const Image image = testutil::photoImage(37, 21, 3, 4);
    Image luma{image.width, image.height, 1, Bytes(size_t{image.width} * image.height)};
    for (uint32_t y = 0; y < image.height; ++y)
        for (uint32_t x = 0; x < image.width; ++x) {
            const uint8_t *p = image.at(x, y);
            luma.at(x, y)[0] = static_cast<uint8_t>((38 * p[0] + 75 * p[1] + 15 * p[2]) >> 7);
        }
    const Encoded grey = encodeImage(luma, settingsOf(JPG_FORMAT_GREY, 80, JPG_SAMPLING_422));
    ASSERT_EQ(grey.status, JPG_OK);
    for (const int32_t format : {JPG_FORMAT_RGB, JPG_FORMAT_BGR, JPG_FORMAT_RGBA, JPG_FORMAT_BGRA})
        for (const int32_t kernels : {JPG_KERNELS_REFERENCE, JPG_KERNELS_AUTO}) {
            JpgEncodeSettings settings = settingsOf(format, 80, JPG_SAMPLING_GREY);
            settings.kernels = kernels;
            EXPECT_EQ(encodeImage(image, settings).jpeg, grey.jpeg) << format << " " << kernels;
        }
}

// The header's segments for each choice, in their order; the ICC profile in
// numbered chunks that djpeg joins back; the exports' filler only in their
// layout.
TEST(CodecEncode, SegmentsAndTheirOrder) {
    const Image image = testutil::photoImage(40, 24, 3);
    Bytes profile(140000);
    for (size_t i = 0; i < profile.size(); ++i) profile[i] = static_cast<uint8_t>(i * 7 + i / 251);
    const char comment[] = "made by the encoder test";

    JpgEncodeSettings settings = settingsOf(JPG_FORMAT_RGB, 85, JPG_SAMPLING_420);
    settings.preview = 0;
    settings.icc = profile.data();
    settings.iccSize = static_cast<uint32_t>(profile.size());
    settings.comment = comment;
    settings.densityUnits = 2;
    settings.densityX = 300;
    settings.densityY = 150;
    settings.restartInterval = 2;
    const Encoded full = encodeImage(image, settings);
    ASSERT_EQ(full.status, JPG_OK);
    EXPECT_EQ(markerOrder(full.jpeg), "D8 E0 E2 E2 E2 FE DB C0 C4 DD DA");
    EXPECT_EQ(joined(full.jpeg, 0xE0), (Bytes{'J', 'F', 'I', 'F', 0, 1, 0, 2, 1, 44, 0, 150, 0, 0}));
    EXPECT_EQ(joined(full.jpeg, 0xFE), Bytes(comment, comment + sizeof comment - 1));
    Bytes chunks;
    int chunk = 0;
    for (const auto &[marker, bytes] : segmentList(full.jpeg)) {
        if (marker != 0xE2) continue;
        ++chunk;
        ASSERT_GT(bytes.size(), 14u);
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 12), std::string("ICC_PROFILE\0", 12));
        EXPECT_EQ(bytes[12], chunk);
        EXPECT_EQ(bytes[13], 3);
        EXPECT_EQ(bytes.size() - 14, chunk < 3 ? 65519u : profile.size() - 2 * 65519u);
        chunks.insert(chunks.end(), bytes.begin() + 14, bytes.end());
    }
    EXPECT_EQ(chunks, profile);
    if (haveOracle()) {
        TempDir dir;
        testutil::writeFile(dir.file("a.jpg"), full.jpeg);
        std::string warnings;
        EXPECT_EQ(testutil::run("djpeg -icc " + dir.file("a.icc") + " -outfile " + dir.file("a.pnm") + " " +
                                    dir.file("a.jpg"),
                                &warnings),
                  0);
        EXPECT_EQ(warnings, "");
        EXPECT_EQ(testutil::readFile(dir.file("a.icc")), profile);
    }

    // The preview first; the level's tables keep SOF0 even with 16-bit
    // entries; the filler belongs to the exports' layout alone.
    JpgEncodeSettings level = settingsOf(JPG_FORMAT_RGB, 0, JPG_SAMPLING_422);
    level.useLevel = 1;
    level.level = 20;
    const Encoded exportLike = encodeImage(image, level);
    EXPECT_EQ(markerOrder(exportLike.jpeg), "D8 E1 E0 DB C0 C4 FE DA");
    EXPECT_EQ(joined(exportLike.jpeg, 0xFE), Bytes(415, 0));
    EXPECT_EQ(joined(exportLike.jpeg, 0xDB)[0], 0x10);
    level.comment = comment;
    EXPECT_EQ(markerOrder(encodeImage(image, level).jpeg), "D8 E1 E0 FE DB C0 C4 DA");
    level.comment = nullptr;
    level.sampling = JPG_SAMPLING_444;
    EXPECT_EQ(markerOrder(encodeImage(image, level).jpeg), "D8 E1 E0 DB C0 C4 DA");
    settings.preview = 1;
    settings.icc = nullptr;
    settings.iccSize = 0;
    EXPECT_EQ(markerOrder(encodeImage(image, settings).jpeg), "D8 E1 E0 FE DB C0 C4 DD DA");
}

// Every argument out of range is refused with JPG_ERR_ARGUMENT (sizes past
// 65,535 with JPG_ERR_TOO_LARGE), and records of an older, shorter size are
// read as far as they go.
TEST(CodecEncode, BadArgumentsAndRecordSizes) {
    const Image image = testutil::photoImage(20, 10, 3);
    size_t pitch = 0;
    const Bytes pixels = pixelsOf(image, JPG_FORMAT_RGB, pitch);
    const JpgEncodeSettings good = settingsOf(JPG_FORMAT_RGB, 75, JPG_SAMPLING_422);
    const auto status = [&](const JpgEncodeSettings &s, uint32_t w = 20, uint32_t h = 10, size_t p = 60) {
        return encode(pixels.data(), w, h, p, &s).status;
    };
    ASSERT_EQ(status(good), JPG_OK);
    const auto with = [&](auto change) {
        JpgEncodeSettings s = good;
        change(s);
        return status(s);
    };
    EXPECT_EQ(with([](JpgEncodeSettings &s) { s.format = 0; }), JPG_ERR_ARGUMENT);
    EXPECT_EQ(with([](JpgEncodeSettings &s) { s.format = 6; }), JPG_ERR_ARGUMENT);
    EXPECT_EQ(with([](JpgEncodeSettings &s) { s.quality = 0; }), JPG_ERR_ARGUMENT);
    EXPECT_EQ(with([](JpgEncodeSettings &s) { s.quality = 101; }), JPG_ERR_ARGUMENT);
    EXPECT_EQ(with([](JpgEncodeSettings &s) { s.useLevel = 2; }), JPG_ERR_ARGUMENT);
    EXPECT_EQ(with([](JpgEncodeSettings &s) { s.useLevel = 1, s.quality = 0, s.level = -70000; }), JPG_OK);
    EXPECT_EQ(with([](JpgEncodeSettings &s) { s.sampling = 0; }), JPG_ERR_ARGUMENT);
    EXPECT_EQ(with([](JpgEncodeSettings &s) { s.sampling = 5; }), JPG_ERR_ARGUMENT);
    EXPECT_EQ(with([](JpgEncodeSettings &s) { s.restartInterval = 65536; }), JPG_ERR_ARGUMENT);
    EXPECT_EQ(with([](JpgEncodeSettings &s) { s.restartInterval = 65535; }), JPG_OK);
    EXPECT_EQ(with([](JpgEncodeSettings &s) { s.preview = 2; }), JPG_ERR_ARGUMENT);
    EXPECT_EQ(with([](JpgEncodeSettings &s) { s.previewLayout = -5; }), JPG_OK);
    EXPECT_EQ(with([](JpgEncodeSettings &s) { s.iccSize = 10; }), JPG_ERR_ARGUMENT);
    EXPECT_EQ(with([&](JpgEncodeSettings &s) { s.icc = pixels.data(), s.iccSize = 255 * 65519 + 1; }),
              JPG_ERR_ARGUMENT);
    EXPECT_EQ(with([](JpgEncodeSettings &s) { s.threads = -1; }), JPG_ERR_ARGUMENT);
    EXPECT_EQ(with([](JpgEncodeSettings &s) { s.threads = 9; }), JPG_OK);
    EXPECT_EQ(with([](JpgEncodeSettings &s) { s.kernels = 5; }), JPG_ERR_ARGUMENT);
    EXPECT_EQ(with([](JpgEncodeSettings &s) { s.densityUnits = 3; }), JPG_ERR_ARGUMENT);
    EXPECT_EQ(with([](JpgEncodeSettings &s) { s.densityY = 0; }), JPG_ERR_ARGUMENT);
    const std::string longest(65533, 'c'), tooLong(65534, 'c');
    EXPECT_EQ(with([&](JpgEncodeSettings &s) { s.comment = longest.c_str(); }), JPG_OK);
    EXPECT_EQ(with([&](JpgEncodeSettings &s) { s.comment = tooLong.c_str(); }), JPG_ERR_ARGUMENT);

    EXPECT_EQ(status(good, 0, 10), JPG_ERR_ARGUMENT);
    EXPECT_EQ(status(good, 20, 0), JPG_ERR_ARGUMENT);
    EXPECT_EQ(status(good, 20, 10, 59), JPG_ERR_ARGUMENT);
    EXPECT_EQ(status(good, 65536, 1, 3 * 65536), JPG_ERR_TOO_LARGE);
    EXPECT_EQ(status(good, 1, 65536, 3), JPG_ERR_TOO_LARGE);
    EXPECT_EQ(status(good, 20, 10, SIZE_MAX / 4), JPG_ERR_ARGUMENT);  // pitch x 9 wraps
    void *block = nullptr;
    size_t size = 0;
    EXPECT_EQ(jpgEncode(nullptr, 20, 10, 60, &good, &block, &size, nullptr), JPG_ERR_ARGUMENT);
    EXPECT_EQ(jpgEncode(pixels.data(), 20, 10, 60, &good, nullptr, &size, nullptr), JPG_ERR_ARGUMENT);
    EXPECT_EQ(jpgEncode(pixels.data(), 20, 10, 60, &good, &block, nullptr, nullptr), JPG_ERR_ARGUMENT);

    // Null settings are the defaults; a larger record is refused; a smaller
    // one is read as far as it goes, even when it ends inside a pointer.
    const Encoded defaults = encode(pixels.data(), 20, 10, 60, nullptr);
    ASSERT_EQ(defaults.status, JPG_OK);
    EXPECT_EQ(with([](JpgEncodeSettings &s) { s.size = sizeof s + 4; }), JPG_ERR_ARGUMENT);
    EXPECT_EQ(with([](JpgEncodeSettings &s) { s.size = 2; }), JPG_ERR_ARGUMENT);
    JpgEncodeSettings older = good;
    older.size = offsetof(JpgEncodeSettings, restartInterval);
    older.restartInterval = 3;  // beyond its size: not read
    older.comment = "beyond";
    EXPECT_EQ(encode(pixels.data(), 20, 10, 60, &older).jpeg, defaults.jpeg);
    older.size = offsetof(JpgEncodeSettings, comment) + sizeof(void *) / 2;
    older.restartInterval = 0;
    EXPECT_EQ(encode(pixels.data(), 20, 10, 60, &older).jpeg, defaults.jpeg);
    older.size = 4;
    EXPECT_EQ(encode(pixels.data(), 20, 10, 60, &older).jpeg, defaults.jpeg);
}

// The last pixel of the last row lies right before a page the process may
// not read: no format, width, kernel set or thread count reads past it.
TEST(CodecEncode, ReadsNoPixelPastTheLastRow) {
    const long page = sysconf(_SC_PAGESIZE);
    const size_t area = 16 * static_cast<size_t>(page);
    auto *map = static_cast<uint8_t *>(mmap(nullptr, area + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                                            -1, 0));
    ASSERT_NE(map, MAP_FAILED);
    ASSERT_EQ(mprotect(map + area, page, PROT_NONE), 0);
    for (uint8_t *p = map; p < map + area; ++p) *p = static_cast<uint8_t>((p - map) * 37 >> 3);
    for (const int32_t format : {JPG_FORMAT_GREY, JPG_FORMAT_RGB, JPG_FORMAT_BGR, JPG_FORMAT_RGBA, JPG_FORMAT_BGRA})
        for (uint32_t width = 1; width <= 70; width += width < 40 ? 1 : 29)
            for (const uint32_t height : {1u, 3u, 17u}) {
                const size_t bytes = format == JPG_FORMAT_GREY ? 1 : format <= JPG_FORMAT_BGR ? 3 : 4;
                const size_t pitch = width * bytes + (height % 2);
                const size_t extent = pitch * (height - 1) + width * bytes;
                for (const int32_t sampling : {JPG_SAMPLING_422, JPG_SAMPLING_420, JPG_SAMPLING_444, JPG_SAMPLING_GREY})
                    for (const int32_t kernels : {JPG_KERNELS_REFERENCE, JPG_KERNELS_PLAIN, JPG_KERNELS_SSE2, JPG_KERNELS_AVX2})
                        for (const int32_t threads : {1, 2}) {
                            JpgEncodeSettings s = settingsOf(format, 75, sampling);
                            s.kernels = kernels;
                            s.threads = threads;
                            ASSERT_EQ(encode(map + area - extent, width, height, pitch, &s).status, JPG_OK)
                                << format << " " << width << "x" << height;
                        }
            }
    munmap(map, area + page);
}
