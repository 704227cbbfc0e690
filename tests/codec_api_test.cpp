// The codec API on memory (jpg_codec.h): scaled pictures against djpeg's,
// what jpgReadInfo and its companions read, and arguments and files that
// must be refused. (That jpgDecode makes the import's pixels, under every
// kernel set and thread count, is the differential check's; progressive and
// other transcodings, the coefficient decoder's test.)
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "jpg.h"
#include "jpg_codec.h"
#include "test_util.h"

using namespace testutil;

namespace {

bool haveOracle() { return haveProgram("cjpeg") && haveProgram("djpeg") && haveProgram("jpegtran"); }

Bytes cjpeg(const TempDir &dir, const Image &image, const std::string &options) {
    writeFile(dir.file("in.pnm"), pnmBytes(image));
    EXPECT_EQ(run("cjpeg " + options + " -outfile " + dir.file("in.jpg") + " " + dir.file("in.pnm")), 0);
    return readFile(dir.file("in.jpg"));
}

JpgInfo infoOf(const Bytes &jpeg, JpgError *error = nullptr) {
    JpgInfo info{};
    info.size = sizeof info;
    EXPECT_EQ(jpgReadInfo(jpeg.data(), jpeg.size(), &info, error), JPG_OK);
    return info;
}

// The picture jpgDecode makes, and its status.
struct Decoded {
    int32_t status = 0;
    Image image;
    std::string message;
};

Decoded decode(const Bytes &jpeg, int32_t scale, uint32_t channels, JpgDecodeSettings settings = {}) {
    if (settings.size == 0) jpgDefaultDecodeSettings(&settings);
    settings.scale = scale;
    settings.format = channels == 1 ? JPG_FORMAT_GREY : JPG_FORMAT_RGB;
    const JpgInfo info = infoOf(jpeg);
    Decoded d;
    jpgScaledSize(&info, scale, &d.image.width, &d.image.height);
    d.image.channels = channels;
    d.image.pixels.resize(size_t{d.image.width} * d.image.height * channels);
    JpgError error;
    d.status = jpgDecode(jpeg.data(), jpeg.size(), &settings, d.image.pixels.data(), d.image.width * channels,
                         d.image.pixels.size(), &error);
    d.message = error.message;
    return d;
}

// A segment: FF code, length, body.
Bytes segment(uint8_t code, const Bytes &body) {
    Bytes s = {0xFF, code, static_cast<uint8_t>((body.size() + 2) >> 8), static_cast<uint8_t>(body.size() + 2)};
    s.insert(s.end(), body.begin(), body.end());
    return s;
}

// `jpeg` with `segments` after its SOI.
Bytes withSegments(const Bytes &jpeg, const Bytes &segments) {
    Bytes out(jpeg.begin(), jpeg.begin() + 2);
    out.insert(out.end(), segments.begin(), segments.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

// An Exif segment whose first directory holds the orientation tag.
Bytes exifSegment(bool littleEndian, uint16_t orientation) {
    const auto u16 = [&](uint16_t v) {
        return littleEndian ? Bytes{uint8_t(v), uint8_t(v >> 8)} : Bytes{uint8_t(v >> 8), uint8_t(v)};
    };
    Bytes body = {'E', 'x', 'i', 'f', 0, 0};
    const auto put = [&body](const Bytes &b) { body.insert(body.end(), b.begin(), b.end()); };
    put(littleEndian ? Bytes{'I', 'I'} : Bytes{'M', 'M'});
    put(u16(42));
    put(littleEndian ? Bytes{8, 0, 0, 0} : Bytes{0, 0, 0, 8});
    put(u16(1));                                          // one entry
    put(u16(0x0112));                                     // orientation
    put(u16(3));                                          // SHORT
    put(littleEndian ? Bytes{1, 0, 0, 0} : Bytes{0, 0, 0, 1});  // one value
    put(u16(orientation));
    put({0, 0, 0, 0, 0, 0});                              // padding, no next directory
    return segment(0xE1, body);
}

}  // namespace

// At 1/2, 1/4 and 1/8 the pictures are close to djpeg's reduced pictures
// (libjpeg's reduced transforms, nearest upsampling) in every layout.
TEST(CodecApi, ScaledPicturesAreCloseToDjpegs) {
    if (!haveOracle()) GTEST_SKIP() << "cjpeg/djpeg not installed";
    TempDir dir;
    const struct {
        const char *options;
        uint32_t channels;
    } layouts[] = {{"-grayscale", 1},        {"-sample 1x1", 3}, {"-sample 2x1", 3},
                   {"-sample 2x2", 3},       {"-sample 4x1", 3}, {"-sample 1x2", 3},
                   {"-sample 2x2 -restart 1", 3}};
    for (const auto &layout : layouts) {
        const Bytes jpeg = cjpeg(dir, photoImage(333, 257, layout.channels, 3), std::string("-quality 85 ") + layout.options);
        for (const int32_t scale : {2, 4, 8}) {
            const std::string label = std::string(layout.options) + " at 1/" + std::to_string(scale);
            ASSERT_EQ(run("djpeg -dct int -nosmooth -scale 1/" + std::to_string(scale) + " -outfile " +
                          dir.file("peer.pnm") + " " + dir.file("in.jpg")),
                      0);
            const Image peer = parsePnm(readFile(dir.file("peer.pnm")));
            const Decoded ours = decode(jpeg, scale, layout.channels);
            ASSERT_EQ(ours.status, JPG_OK) << label << ": " << ours.message;
            const Difference d = compare(ours.image, peer);
            EXPECT_LE(d.meanAbs, 1.0) << label << ": " << describe(d);
            EXPECT_GE(d.psnr, 40.0) << label << ": " << describe(d);
        }
    }
}

// What a file holds, read without decoding it: the frame, the coding and
// scans, the restart interval, the Exif orientation in either byte order,
// the ICC profile's chunks joined, this library's preview as iRead_APP1
// shows it, the smallest scale for a thumbnail, and the decoder's verdict.
TEST(CodecApi, InfoReadsWhatTheFileHolds) {
    if (!haveOracle()) GTEST_SKIP() << "cjpeg/jpegtran not installed";
    TempDir dir;
    const Bytes baseline = cjpeg(dir, photoImage(333, 257, 3, 4), "-sample 2x2 -restart 2");
    JpgInfo info = infoOf(baseline);
    EXPECT_EQ(info.width, 333u);
    EXPECT_EQ(info.height, 257u);
    EXPECT_EQ(info.components, 3);
    EXPECT_EQ(info.colourSpace, JPG_COLOURS_YCBCR);
    EXPECT_EQ(info.coding, JPG_CODING_BASELINE);
    EXPECT_EQ(info.samplingH[0] * 10 + info.samplingV[0], 22);
    EXPECT_EQ(info.samplingH[1] * 10 + info.samplingV[1], 11);
    EXPECT_EQ(info.restartInterval, 2u * ((333 + 15) / 16));
    EXPECT_EQ(info.orientation, 0);
    EXPECT_EQ(info.previewLayout, -1);
    EXPECT_EQ(info.iccSize, 0u);
    EXPECT_EQ(info.decodable, 1);
    EXPECT_EQ(info.scans, 1u);
    EXPECT_EQ(jpgScaleFor(&info, 80, 60), 4);
    EXPECT_EQ(jpgScaleFor(&info, 0, 0), 8);
    EXPECT_EQ(jpgScaleFor(&info, 333, 1), 1);

    ASSERT_EQ(run("jpegtran -progressive -arithmetic -outfile " + dir.file("prog.jpg") + " " + dir.file("in.jpg")), 0);
    info = infoOf(readFile(dir.file("prog.jpg")));
    EXPECT_EQ(info.coding, JPG_CODING_ARITHMETIC_PROGRESSIVE);
    EXPECT_GT(info.scans, 5u);
    EXPECT_EQ(info.decodable, 1);

    Bytes profile(70000);
    for (size_t i = 0; i < profile.size(); ++i) profile[i] = static_cast<uint8_t>(i * 7 + i / 256);
    Bytes chunks;
    for (uint8_t n = 0; n < 2; ++n) {  // stored last chunk first: the sequence numbers order them
        const size_t first = n == 0 ? 65519 : 0, end = n == 0 ? profile.size() : 65519;
        Bytes body = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, static_cast<uint8_t>(2 - n), 2};
        body.insert(body.end(), profile.begin() + first, profile.begin() + end);
        const Bytes s = segment(0xE2, body);
        chunks.insert(chunks.end(), s.begin(), s.end());
    }
    for (const bool little : {true, false}) {
        Bytes extra = exifSegment(little, 6);
        extra.insert(extra.end(), chunks.begin(), chunks.end());
        const Bytes tagged = withSegments(baseline, extra);
        info = infoOf(tagged);
        EXPECT_EQ(info.orientation, 6) << (little ? "II" : "MM");
        ASSERT_EQ(info.iccSize, profile.size());
        Bytes read(info.iccSize);
        EXPECT_EQ(jpgReadIcc(tagged.data(), tagged.size(), read.data(), read.size(), nullptr), JPG_OK);
        EXPECT_EQ(read, profile);
        EXPECT_EQ(jpgReadIcc(tagged.data(), tagged.size(), read.data(), read.size() - 1, nullptr), JPG_ERR_ARGUMENT);
    }

    // An exported file's preview, as iRead_APP1 shows it, top row first.
    writeFile(dir.file("in.bmp"), bmpBytes(photoImage(640, 480, 3, 9)));
    ASSERT_EQ(iExportJPG(dir.file("in.bmp").c_str(), dir.file("exported.jpg").c_str(), 0, 3), 0);
    const Bytes exported = readFile(dir.file("exported.jpg"));
    EXPECT_EQ(infoOf(exported).previewLayout, 0);
    Bytes dib(40 + 14400), bgr(14400);
    ASSERT_EQ(iRead_APP1(const_cast<uint8_t *>(exported.data()), dib.data()), 0);
    ASSERT_EQ(jpgReadPreview(exported.data(), exported.size(), JPG_FORMAT_BGR, bgr.data(), bgr.size(), nullptr), JPG_OK);
    for (uint32_t y = 0; y < 60; ++y)
        EXPECT_EQ(0, std::memcmp(bgr.data() + y * 240, dib.data() + 40 + (59 - y) * 240, 240)) << "row " << y;
    EXPECT_EQ(jpgReadPreview(baseline.data(), baseline.size(), JPG_FORMAT_BGR, bgr.data(), bgr.size(), nullptr),
              JPG_ERR_UNSUPPORTED);

    // Four components: read, but not decodable, with the reason.
    Bytes four = readFile(std::string(JPG_SOURCE_DIR) + "/tests/corpus/decoder/four-components.s2.jpg");
    JpgError error;
    info = infoOf(four, &error);
    EXPECT_EQ(info.components, 4);
    EXPECT_EQ(info.colourSpace, JPG_COLOURS_OTHER);
    EXPECT_EQ(info.decodable, 0);
    EXPECT_EQ(error.code, JPG_ERR_UNSUPPORTED);
    EXPECT_NE(std::string(error.message).find("components"), std::string::npos) << error.message;
}

// Arguments out of range are refused with JPG_ERR_ARGUMENT and touch
// nothing; records of an older, shorter size are read with the defaults for
// the rest; hostile and broken files end with a status, never a fault; the
// limits on memory and scans end a decode before it costs them.
TEST(CodecApi, RefusesWhatItMustAndSurvivesAnyBytes) {
    if (!haveOracle()) GTEST_SKIP() << "cjpeg/jpegtran not installed";
    TempDir dir;
    const Bytes jpeg = cjpeg(dir, photoImage(40, 30, 3, 2), "-sample 2x2");
    JpgDecodeSettings s;
    jpgDefaultDecodeSettings(&s);
    Bytes pixels(40 * 30 * 3, 0x5A);
    const Bytes untouched = pixels;
    JpgError e;
    const auto status = [&](const JpgDecodeSettings *settings, size_t pitch, size_t size, const void *data = nullptr) {
        return jpgDecode(data != nullptr ? data : jpeg.data(), jpeg.size(), settings, pixels.data(), pitch, size, &e);
    };
    EXPECT_EQ(jpgDecode(nullptr, jpeg.size(), &s, pixels.data(), 120, pixels.size(), &e), JPG_ERR_ARGUMENT);
    EXPECT_EQ(jpgDecode(jpeg.data(), jpeg.size(), &s, nullptr, 120, pixels.size(), &e), JPG_ERR_ARGUMENT);
    EXPECT_EQ(status(&s, 119, pixels.size()), JPG_ERR_ARGUMENT);
    EXPECT_EQ(status(&s, 120, pixels.size() - 1), JPG_ERR_ARGUMENT);
    EXPECT_NE(std::string(e.message).find("3600"), std::string::npos) << e.message;
    for (const int32_t scale : {0, 3, 16}) {
        JpgDecodeSettings bad = s;
        bad.scale = scale;
        EXPECT_EQ(status(&bad, 120, pixels.size()), JPG_ERR_ARGUMENT) << scale;
    }
    for (const int32_t format : {0, 6}) {
        JpgDecodeSettings bad = s;
        bad.format = format;
        EXPECT_EQ(status(&bad, 120, pixels.size()), JPG_ERR_ARGUMENT) << format;
    }
    JpgDecodeSettings larger = s;
    larger.size = sizeof larger + 4;
    EXPECT_EQ(status(&larger, 120, pixels.size()), JPG_ERR_ARGUMENT);
    EXPECT_EQ(pixels, untouched);
    JpgDecodeSettings older = s;
    older.format = JPG_FORMAT_RGB;
    older.size = offsetof(JpgDecodeSettings, memoryLimit);  // a record of before the limits
    EXPECT_EQ(status(&older, 120, pixels.size()), JPG_OK) << e.message;
    EXPECT_EQ(std::string(e.message), "");
    EXPECT_EQ(jpgDecode(jpeg.data(), 1, &s, pixels.data(), 120, pixels.size(), &e), JPG_ERR_NOT_JPEG);
    EXPECT_EQ(jpgDecode(jpeg.data(), 0, &s, pixels.data(), 120, pixels.size(), &e), JPG_ERR_NOT_JPEG);

    // A progressive header of 65,535 x 65,535 pixels and a few bytes of data:
    // its coefficients alone would take 12 GB.
    ASSERT_EQ(run("jpegtran -progressive -outfile " + dir.file("prog.jpg") + " " + dir.file("in.jpg")), 0);
    Bytes huge = readFile(dir.file("prog.jpg"));
    for (size_t at = 2; at + 8 < huge.size(); ++at)
        if (huge[at] == 0xFF && huge[at + 1] == 0xC2) {
            huge[at + 5] = huge[at + 6] = huge[at + 7] = huge[at + 8] = 0xFF;
            break;
        }
    Bytes big(64);
    EXPECT_EQ(jpgDecode(huge.data(), huge.size(), &s, big.data(), 65535 * 3, SIZE_MAX, &e), JPG_ERR_TOO_LARGE);
    EXPECT_NE(std::string(e.message), "");
    // A limit on scans, and on working memory.
    JpgDecodeSettings limited = s;
    limited.maxScans = 3;
    const Bytes progressive = readFile(dir.file("prog.jpg"));
    EXPECT_EQ(status(&limited, 120, pixels.size(), progressive.data()), JPG_ERR_TOO_LARGE) << e.message;
    limited = s;
    limited.memoryLimit = 1000;
    EXPECT_EQ(status(&limited, 120, pixels.size()), JPG_ERR_TOO_LARGE) << e.message;
    EXPECT_EQ(status(&limited, 120, pixels.size(), progressive.data()), JPG_ERR_TOO_LARGE) << e.message;

    // Every cut of both files, and bytes changed at random: a status from
    // the list, a message whenever it is not JPG_OK.
    std::mt19937 random(7);
    for (const Bytes *file : {&jpeg, &progressive}) {
        for (size_t cut = 0; cut <= file->size(); cut += 7) {
            const Bytes part(file->begin(), file->begin() + static_cast<long>(cut));
            const int32_t r = jpgDecode(part.data(), part.size(), &s, pixels.data(), 120, pixels.size(), &e);
            EXPECT_TRUE(r >= JPG_ERR_NO_MEMORY && r <= JPG_WARNING) << cut;
            EXPECT_EQ(r == JPG_OK, std::string(e.message).empty()) << cut;
        }
        for (int round = 0; round < 300; ++round) {
            Bytes bent = *file;
            for (int k = 0; k < 4; ++k) bent[random() % bent.size()] = static_cast<uint8_t>(random());
            JpgInfo info{};
            info.size = sizeof info;
            jpgReadInfo(bent.data(), bent.size(), &info, nullptr);
            const int32_t r = jpgDecode(bent.data(), bent.size(), &s, pixels.data(), 120, pixels.size(), &e);
            EXPECT_TRUE(r >= JPG_ERR_NO_MEMORY && r <= JPG_WARNING) << round;
        }
    }
}
