// iImportJPG against libjpeg-turbo: files made by cjpeg (and ImageMagick and
// Pillow) from generated pictures, decoded here and by `djpeg -dct int
// -nosmooth`. Small differences come from the transform order (djpeg does
// columns first) and the colour weights; the bounds below are the largest
// differences measured over these files.
#include <gtest/gtest.h>

#include <iterator>

#include <cstdio>
#include <string>

#include "jpg.h"
#include "test_util.h"

using namespace testutil;

namespace {

// Largest differences measured (grey: transform rounding only; colour: the
// colour weights as well).
constexpr int kGreyBound = 1;
constexpr int kColourBound = 4;

struct Decoded {
    int status = -1;
    Image ours, theirs;
};

bool haveOracle() { return haveProgram("cjpeg") && haveProgram("djpeg"); }

// Decodes `jpeg` with iImportJPG and with djpeg.
Decoded decodeBoth(const TempDir &dir, const std::string &jpeg) {
    Decoded d;
    const std::string bmp = dir.file("ours.bmp"), pnm = dir.file("theirs.pnm");
    d.status = iImportJPG(jpeg.c_str(), bmp.c_str());
    EXPECT_EQ(run("djpeg -dct int -nosmooth -pnm -outfile " + pnm + " " + jpeg), 0);
    if (d.status == 0 || d.status == 3) d.ours = parseBmp(readFile(bmp));
    d.theirs = parsePnm(readFile(pnm));
    return d;
}

// Encodes `image` with cjpeg and the given options, decodes both ways and
// returns the largest difference.
int roundTrip(const Image &image, const std::string &options, int *status = nullptr) {
    TempDir dir;
    writeFile(dir.file("in.pnm"), pnmBytes(image));
    const std::string jpeg = dir.file("in.jpg");
    EXPECT_EQ(run("cjpeg " + options + " -outfile " + jpeg + " " + dir.file("in.pnm") + " 2>/dev/null"), 0) << options;
    const Decoded d = decodeBoth(dir, jpeg);
    if (status != nullptr) *status = d.status;
    EXPECT_EQ(d.status, 0) << options << " " << image.width << "x" << image.height;
    if (d.status != 0) return 255;
    return compare(d.ours, d.theirs).maxAbs;
}

}  // namespace

TEST(DecoderOracle, SamplingLayoutsQualitiesAndOddSizes) {
    if (!haveOracle()) GTEST_SKIP() << "cjpeg/djpeg not installed";
    const struct {
        const char *sample;
        int channels;
    } layouts[] = {{"1x1", 3}, {"2x1", 3}, {"2x2", 3}, {"1x2", 3}, {"grey", 1}};
    const struct {
        uint32_t w, h;
    } sizes[] = {{1, 1}, {7, 9}, {17, 33}, {64, 48}, {333, 217}};
    for (const auto &layout : layouts) {
        int worst = 0;
        for (int quality : {5, 25, 50, 75, 90, 100}) {
            for (const auto &size : sizes) {
                const Image image = photoImage(size.w, size.h, layout.channels, size.w + quality);
                const std::string options = "-quality " + std::to_string(quality) +
                                            (layout.channels == 1 ? std::string(" -grayscale")
                                                                  : " -sample " + std::string(layout.sample) + ",1x1,1x1");
                worst = std::max(worst, roundTrip(image, options));
            }
        }
        std::printf("layout %s: largest difference %d\n", layout.sample, worst);
        EXPECT_LE(worst, layout.channels == 1 ? kGreyBound : kColourBound) << layout.sample;
    }
}

TEST(DecoderOracle, RestartIntervalsOptimisedTablesAndExtendedFrames) {
    if (!haveOracle()) GTEST_SKIP() << "cjpeg/djpeg not installed";
    const Image colour = photoImage(203, 75, 3, 5);
    const Image grey = photoImage(99, 41, 1, 6);
    for (const char *options : {"-restart 1", "-restart 3B", "-restart 1B -sample 2x2,1x1,1x1", "-optimize",
                                "-optimize -restart 2 -sample 2x1,1x1,1x1", "-quality 3", "-quality 100 -optimize"}) {
        EXPECT_LE(roundTrip(colour, options), kColourBound) << options;
        EXPECT_LE(roundTrip(grey, std::string(options) + " -grayscale"), kGreyBound) << options;
    }
}

TEST(DecoderOracle, DataLongerThanOneChunk) {
    if (!haveOracle()) GTEST_SKIP() << "cjpeg/djpeg not installed";
    // Quality 100 with a noisy picture: several 32 KB chunks of data.
    const Image image = photoImage(640, 400, 3, 9);
    EXPECT_LE(roundTrip(image, "-quality 100 -sample 1x1,1x1,1x1"), kColourBound);
    EXPECT_LE(roundTrip(image, "-quality 97 -restart 5"), kColourBound);
}

TEST(DecoderOracle, ImageMagickAndPillowFiles) {
    if (!haveOracle()) GTEST_SKIP() << "cjpeg/djpeg not installed";
    TempDir dir;
    const Image image = photoImage(121, 67, 3, 11);
    writeFile(dir.file("in.ppm"), pnmBytes(image));
    std::vector<std::string> files;
    if (haveProgram("convert")) {
        for (const char *sampling : {"4:2:0", "4:2:2", "4:4:4"}) {
            const std::string out = dir.file(std::string("magick") + sampling[2] + sampling[4] + ".jpg");
            ASSERT_EQ(run("convert " + dir.file("in.ppm") + " -sampling-factor " + sampling + " -quality 88 " + out), 0);
            files.push_back(out);
        }
        const std::string greyOut = dir.file("magick-grey.jpg");
        ASSERT_EQ(run("convert " + dir.file("in.ppm") + " -colorspace Gray " + greyOut), 0);
        files.push_back(greyOut);
    }
    if (run("/usr/bin/python3 -c 'import PIL' 2>/dev/null") == 0) {
        for (int subsampling : {0, 1, 2}) {
            const std::string out = dir.file("pil" + std::to_string(subsampling) + ".jpg");
            ASSERT_EQ(run("/usr/bin/python3 -c \"from PIL import Image; Image.open('" + dir.file("in.ppm") +
                          "').save('" + out + "', quality=80, subsampling=" + std::to_string(subsampling) + ")\""),
                      0);
            files.push_back(out);
        }
    }
    if (files.empty()) GTEST_SKIP() << "neither ImageMagick nor Pillow installed";
    for (const std::string &file : files) {
        const Decoded d = decodeBoth(dir, file);
        ASSERT_EQ(d.status, 0) << file;
        EXPECT_LE(compare(d.ours, d.theirs).maxAbs, d.ours.channels == 1 ? kGreyBound : kColourBound) << file;
    }
}

TEST(DecoderOracle, RgbFilesKeepTheirColours) {
    if (!haveOracle()) GTEST_SKIP() << "cjpeg/djpeg not installed";
    for (const char *sample : {"1x1", "2x2"}) {
        TempDir dir;
        writeFile(dir.file("in.pnm"), pnmBytes(photoImage(45, 27, 3, 4)));
        const std::string rgb = dir.file("rgb.jpg");
        ASSERT_EQ(run("cjpeg -rgb -sample " + std::string(sample) + ",1x1,1x1 -outfile " + rgb + " " + dir.file("in.pnm")),
                  0);
        const Decoded d = decodeBoth(dir, rgb);
        ASSERT_EQ(d.status, 0) << sample;
        EXPECT_LE(compare(d.ours, d.theirs).maxAbs, kColourBound) << sample;

        // The same data told apart by the identifiers and the Adobe segment
        // (cjpeg writes 'R', 'G', 'B' and Adobe transform 0, no JFIF).
        const Bytes file = readFile(rgb);
        ASSERT_TRUE(file[2] == 0xFF && file[3] == 0xEE) << sample;
        const size_t adobeEnd = 4 + (file[4] << 8 | file[5]);
        ASSERT_LT(adobeEnd, file.size());
        Bytes noAdobe(file.begin(), file.begin() + 2);
        std::copy(file.begin() + static_cast<long>(adobeEnd), file.end(), std::back_inserter(noAdobe));
        // Renames the components in the frame and scan headers.
        auto renamed = [](Bytes b, const uint8_t ids[3]) {
            for (size_t at = 2; at + 4 <= b.size();) {
                const size_t length = b[at + 2] << 8 | b[at + 3];
                if (b[at + 1] == 0xC0)
                    for (int i = 0; i < 3; ++i) b[at + 10 + 3 * i] = ids[i];
                if (b[at + 1] == 0xDA) {
                    for (int i = 0; i < 3; ++i) b[at + 5 + 2 * i] = ids[i];
                    break;
                }
                at += 2 + length;
            }
            return b;
        };
        const uint8_t others[3] = {4, 5, 6}, ycc[3] = {1, 2, 3};
        auto decoded = [&](const Bytes &bytes) {
            writeFile(dir.file("v.jpg"), bytes);
            EXPECT_EQ(iImportJPG(dir.file("v.jpg").c_str(), dir.file("v.bmp").c_str()), 0);
            return readFile(dir.file("v.bmp"));
        };
        const Bytes asRgb = decoded(file);
        EXPECT_EQ(decoded(noAdobe), asRgb) << sample << ": 'R', 'G', 'B' without an Adobe segment";
        EXPECT_EQ(decoded(renamed(file, others)), asRgb) << sample << ": 4, 5, 6 with Adobe transform 0";
        const Bytes asYcc = decoded(renamed(noAdobe, ycc));
        EXPECT_NE(asYcc, asRgb);
        EXPECT_EQ(decoded(renamed(noAdobe, others)), asYcc) << sample << ": 4, 5, 6 without an Adobe segment";
        EXPECT_EQ(decoded(renamed(file, ycc)), asYcc) << sample << ": 1, 2, 3 with Adobe transform 0";
    }
}

TEST(DecoderOracle, InfoDescribesJpegAndBmpFilesAndJpgtoolImportsProgressiveOnes) {
    if (!haveOracle()) GTEST_SKIP() << "cjpeg/djpeg not installed";
    TempDir dir;
    writeFile(dir.file("in.pnm"), pnmBytes(photoImage(40, 30, 3, 2)));
    ASSERT_EQ(run("cjpeg -restart 2B -outfile " + dir.file("a.jpg") + " " + dir.file("in.pnm")), 0);
    ASSERT_EQ(run("cjpeg -progressive -outfile " + dir.file("p.jpg") + " " + dir.file("in.pnm")), 0);
    ASSERT_EQ(run("cjpeg -rgb -outfile " + dir.file("rgb.jpg") + " " + dir.file("in.pnm")), 0);
    ASSERT_EQ(run("cjpeg -grayscale -outfile " + dir.file("g.jpg") + " " + dir.file("in.pnm")), 0);
    ASSERT_EQ(iImportJPG(dir.file("a.jpg").c_str(), dir.file("a.bmp").c_str()), 0);
    ASSERT_EQ(iImportJPG(dir.file("g.jpg").c_str(), dir.file("g.bmp").c_str()), 0);
    Bytes tinted = readFile(dir.file("g.bmp"));
    tinted[54 + 4 * 7 + 2] = 255;  // entry 7 red
    writeFile(dir.file("tinted.bmp"), tinted);
    const std::string tool = JPGTOOL_PATH;
    const std::string out = dir.file("out.txt");
    auto info = [&](const std::string &file) {
        const int status = run(tool + " info " + file + " >" + out);
        return std::make_pair(status, std::string(reinterpret_cast<const char *>(readFile(out).data()), readFile(out).size()));
    };
    auto [status, text] = info(dir.file("a.jpg"));
    EXPECT_EQ(status, 0);
    for (const char *expected : {"40 x 30 pixels", "component 1: sampling 2x2, quantisation table 0, Huffman tables DC 0, AC 0",
                                 "restart interval: 2 MCUs", "SOF0", "DRI", "followed by EOI",
                                 "decoder: accepted, colours YCbCr (the components are 1, 2, 3)"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
    const std::pair<std::string, std::string> colours[] = {
        {"rgb.jpg", "colours RGB (the components are 'R', 'G', 'B')"},
        {"rgb.jpg", "\"Adobe\" transform 0"},
        {"g.jpg", "colours grey"},
        {"g.bmp", "colour table: the grey ramp"},
        {"tinted.bmp", "colour table: colours"},
    };
    for (const auto &[file, expected] : colours) {
        std::tie(status, text) = info(dir.file(file));
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
    }
    std::tie(status, text) = info(dir.file("p.jpg"));
    EXPECT_NE(text.find("progressive JPEG files are not supported"), std::string::npos) << text;
    // What iImportJPG refuses jpgtool imports, from a path and from standard
    // input: the progressive file's picture is the sequential one's.
    EXPECT_EQ(iImportJPG(dir.file("p.jpg").c_str(), dir.file("p.bmp").c_str()), 2);
    ASSERT_EQ(run(tool + " import " + dir.file("a.jpg") + " " + dir.file("a.ppm")), 0);
    ASSERT_EQ(run(tool + " import " + dir.file("p.jpg") + " " + dir.file("p.ppm")), 0);
    ASSERT_EQ(run(tool + " import --format pnm - - <" + dir.file("p.jpg") + " >" + dir.file("s.ppm")), 0);
    EXPECT_EQ(readFile(dir.file("p.ppm")), readFile(dir.file("a.ppm")));
    EXPECT_EQ(readFile(dir.file("s.ppm")), readFile(dir.file("a.ppm")));
    std::tie(status, text) = info(dir.file("a.bmp"));
    EXPECT_NE(text.find("bits per pixel: 24"), std::string::npos) << text;
    std::string error;
    EXPECT_EQ(run(tool + " info " + dir.file("in.pnm") + " >/dev/null", &error), 1);
    EXPECT_NE(error.find("in.pnm: not a JPEG file"), std::string::npos) << error;
}
