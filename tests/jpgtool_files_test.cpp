// jpgtool on ordinary files: standard BMP row order both ways, netpbm files,
// standard streams and batches, through the built tool.
#include <gtest/gtest.h>

#include <algorithm>

#include "jpg.h"
#include "test_util.h"

using namespace testutil;

namespace {

const std::string kTool = JPGTOOL_PATH;

int tool(const std::string &arguments, std::string *error = nullptr) {
    return run(kTool + " " + arguments, error);
}

bool haveOracle() { return haveProgram("cjpeg") && haveProgram("djpeg"); }

int32_t heightField(const Bytes &bmp) {
    return static_cast<int32_t>(bmp[22] | bmp[23] << 8 | bmp[24] << 16 | static_cast<uint32_t>(bmp[25]) << 24);
}

Image flipped(Image image) {
    const size_t row = static_cast<size_t>(image.width) * image.channels;
    for (uint32_t top = 0, bottom = image.height - 1; top < bottom; ++top, --bottom)
        std::swap_ranges(image.pixels.begin() + top * row, image.pixels.begin() + (top + 1) * row,
                         image.pixels.begin() + bottom * row);
    return image;
}

// The picture of any uncompressed 8- or 24-bit BMP file, in the order its
// height declares (positive: bottom row first).
Image parseStandardBmp(Bytes bmp) {
    const int32_t height = heightField(bmp);
    if (height > 0) return flipped(parseBmp(bmp));
    const uint32_t rows = static_cast<uint32_t>(-height);
    for (int i = 0; i < 4; ++i) bmp[22 + i] = static_cast<uint8_t>(rows >> (8 * i));
    return parseBmp(bmp);
}

// A standard BMP file of the picture: bottom row first, or top-down with a
// negative height.
Bytes standardBmp(const Image &image, bool topDown) {
    Bytes bmp = bmpBytes(topDown ? image : flipped(image));
    if (topDown) {
        const uint32_t negative = static_cast<uint32_t>(-static_cast<int32_t>(image.height));
        for (int i = 0; i < 4; ++i) bmp[22 + i] = static_cast<uint8_t>(negative >> (8 * i));
    }
    return bmp;
}

// The decoded picture is much closer to the source than to its mirror image.
testing::AssertionResult rightWayUp(const Image &decoded, const Image &source) {
    const double right = compare(decoded, source).psnr, mirrored = compare(decoded, flipped(source)).psnr;
    if (right > 24 && right > mirrored + 6) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "PSNR " << right << " dB against the source, " << mirrored
                                       << " dB against it upside down";
}

std::string text(const Bytes &bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace

// The import writes a bottom-up BMP file that shows what djpeg shows; the
// export reads BMP files in their declared order; --top-first gives exactly
// the bytes of the exports.
TEST(JpgtoolFiles, StandardBmpRowOrderBothWaysAndTopFirstAsTheExports) {
    if (!haveOracle()) GTEST_SKIP() << "cjpeg/djpeg not installed";
    TempDir dir;
    for (const uint32_t channels : {3u, 1u}) {
        SCOPED_TRACE(channels);
        const Image source = photoImage(37, 29, channels, 5);
        writeFile(dir.file("source.pnm"), pnmBytes(source));
        ASSERT_EQ(run("cjpeg -outfile " + dir.file("a.jpg") + " " + dir.file("source.pnm")), 0);

        // Import: the same picture as djpeg's BMP file, bottom-up like it.
        ASSERT_EQ(tool("import " + dir.file("a.jpg") + " " + dir.file("a.bmp")), 0);
        ASSERT_EQ(run("djpeg -dct int -nosmooth -bmp -outfile " + dir.file("djpeg.bmp") + " " + dir.file("a.jpg")), 0);
        const Bytes ours = readFile(dir.file("a.bmp"));
        EXPECT_GT(heightField(ours), 0);
        EXPECT_LE(compare(parseStandardBmp(ours), parseStandardBmp(readFile(dir.file("djpeg.bmp")))).maxAbs, 4);
        EXPECT_TRUE(rightWayUp(parseStandardBmp(ours), source));

        // --top-first: the bytes of iImportJPG.
        ASSERT_EQ(tool("import --top-first " + dir.file("a.jpg") + " " + dir.file("top.bmp")), 0);
        ASSERT_EQ(iImportJPG(dir.file("a.jpg").c_str(), dir.file("export.bmp").c_str()), JPG_IMPORT_OK);
        EXPECT_EQ(readFile(dir.file("top.bmp")), readFile(dir.file("export.bmp")));

        // Export: bottom-up and top-down files of one picture give one JPEG
        // file, the right way up, and the one iExportJPG makes of the
        // library's top-first file.
        writeFile(dir.file("up.bmp"), standardBmp(source, false));
        writeFile(dir.file("down.bmp"), standardBmp(source, true));
        writeFile(dir.file("library.bmp"), bmpBytes(source));
        ASSERT_EQ(tool("export " + dir.file("up.bmp") + " " + dir.file("up.jpg")), 0);
        ASSERT_EQ(tool("export " + dir.file("down.bmp") + " " + dir.file("down.jpg")), 0);
        ASSERT_EQ(iExportJPG(dir.file("library.bmp").c_str(), dir.file("library.jpg").c_str(), 1, 3), JPG_EXPORT_OK);
        const Bytes jpeg = readFile(dir.file("library.jpg"));
        EXPECT_EQ(readFile(dir.file("up.jpg")), jpeg);
        EXPECT_EQ(readFile(dir.file("down.jpg")), jpeg);
        ASSERT_EQ(run("djpeg -pnm -outfile " + dir.file("up.pnm") + " " + dir.file("up.jpg")), 0);
        EXPECT_TRUE(rightWayUp(parsePnm(readFile(dir.file("up.pnm"))), source));

        // --top-first reads rows as iExportJPG does, whatever the height says.
        ASSERT_EQ(tool("export --top-first " + dir.file("library.bmp") + " " + dir.file("t1.jpg")), 0);
        EXPECT_EQ(readFile(dir.file("t1.jpg")), jpeg);
        ASSERT_EQ(tool("export --top-first " + dir.file("up.bmp") + " " + dir.file("t2.jpg")), 0);
        ASSERT_EQ(iExportJPG(dir.file("up.bmp").c_str(), dir.file("t2-export.jpg").c_str(), 1, 3), JPG_EXPORT_OK);
        EXPECT_EQ(readFile(dir.file("t2.jpg")), readFile(dir.file("t2-export.jpg")));
    }
}

// Netpbm files out (P6 or P5 by the picture, whatever the ending) and in
// (the JPEG file of a PPM is the one of the same picture as BMP).
TEST(JpgtoolFiles, NetpbmInAndOut) {
    TempDir dir;
    for (const uint32_t channels : {3u, 1u}) {
        SCOPED_TRACE(channels);
        const Image source = photoImage(21, 13, channels, 7);
        writeFile(dir.file("in.bmp"), bmpBytes(source));
        ASSERT_EQ(tool("export --top-first " + dir.file("in.bmp") + " " + dir.file("a.jpg")), 0);
        ASSERT_EQ(tool("import " + dir.file("a.jpg") + " " + dir.file("a.bmp")), 0);
        ASSERT_EQ(tool("import " + dir.file("a.jpg") + " " + dir.file("a.pnm")), 0);
        const Bytes pnm = readFile(dir.file("a.pnm"));
        EXPECT_EQ(text(Bytes(pnm.begin(), pnm.begin() + 2)), channels == 1 ? "P5" : "P6");
        EXPECT_EQ(parsePnm(pnm).pixels, parseStandardBmp(readFile(dir.file("a.bmp"))).pixels);

        writeFile(dir.file("in.pnm"), pnmBytes(source));
        ASSERT_EQ(tool("export " + dir.file("in.pnm") + " " + dir.file("b.jpg")), 0);
        EXPECT_EQ(readFile(dir.file("b.jpg")), readFile(dir.file("a.jpg")));
    }
    std::string error;
    const std::string plain = "P3\n1 1\n255\n1 2 3\n";
    writeFile(dir.file("plain.ppm"), Bytes(plain.begin(), plain.end()));
    EXPECT_EQ(tool("export " + dir.file("plain.ppm") + " " + dir.file("x.jpg"), &error), 1);
    EXPECT_NE(error.find("plain.ppm: plain (ASCII) netpbm files are not supported"), std::string::npos) << error;
    const std::string wide = "P5\n1 1\n65535\n\x01\x02";
    writeFile(dir.file("wide.pgm"), Bytes(wide.begin(), wide.end()));
    EXPECT_EQ(tool("export " + dir.file("wide.pgm") + " " + dir.file("x.jpg"), &error), 1);
    EXPECT_NE(error.find("wide.pgm: only a maxval of 255 is supported"), std::string::npos) << error;
    EXPECT_FALSE(fileExists(dir.file("x.jpg")));
}

// "-" reads standard input and writes standard output: a top-down BMP file
// (or netpbm) out, any BMP or netpbm file in; a bottom-up BMP file from a
// stream passes through a temporary file in $TMPDIR, removed after. A
// failure writes nothing to standard output.
TEST(JpgtoolFiles, StandardStreamsBothWays) {
    TempDir dir, scratch;
    const Image source = photoImage(27, 19, 3, 9);
    writeFile(dir.file("up.bmp"), standardBmp(source, false));
    ASSERT_EQ(tool("export " + dir.file("up.bmp") + " " + dir.file("a.jpg")), 0);
    ASSERT_EQ(tool("import " + dir.file("a.jpg") + " " + dir.file("a.bmp")), 0);
    ASSERT_EQ(tool("import " + dir.file("a.jpg") + " " + dir.file("a.ppm")), 0);
    const std::string tmp = "TMPDIR=" + scratch.path() + " ";

    ASSERT_EQ(run("cat " + dir.file("a.jpg") + " | " + tmp + kTool + " import - - >" + dir.file("s.bmp")), 0);
    const Bytes streamed = readFile(dir.file("s.bmp"));
    EXPECT_EQ(heightField(streamed), -19);
    EXPECT_EQ(parseStandardBmp(streamed).pixels, parseStandardBmp(readFile(dir.file("a.bmp"))).pixels);
    ASSERT_EQ(run(tmp + kTool + " import --format pnm - - <" + dir.file("a.jpg") + " >" + dir.file("s.ppm")), 0);
    EXPECT_EQ(readFile(dir.file("s.ppm")), readFile(dir.file("a.ppm")));

    const Bytes jpeg = readFile(dir.file("a.jpg"));
    writeFile(dir.file("down.bmp"), standardBmp(source, true));
    writeFile(dir.file("source.ppm"), pnmBytes(source));
    for (const char *input : {"up.bmp", "down.bmp", "source.ppm"}) {
        ASSERT_EQ(run("cat " + dir.file(input) + " | " + tmp + kTool + " export - - >" + dir.file("s.jpg")), 0) << input;
        EXPECT_EQ(readFile(dir.file("s.jpg")), jpeg) << input;
    }
    EXPECT_TRUE(scratch.entries().empty());

    std::string error;
    writeFile(dir.file("broken.jpg"), Bytes{0xFF, 0xD8, 0xFF, 0xC2, 0x00, 0x02});
    EXPECT_EQ(run(tmp + kTool + " import - - <" + dir.file("broken.jpg") + " >" + dir.file("nothing"), &error), 1);
    EXPECT_TRUE(readFile(dir.file("nothing")).empty());
    EXPECT_NE(error.find("standard input"), std::string::npos) << error;
    EXPECT_EQ(run(tmp + kTool + " export - - <" + dir.file("broken.jpg") + " >" + dir.file("nothing"), &error), 1);
    EXPECT_TRUE(readFile(dir.file("nothing")).empty());
    EXPECT_TRUE(scratch.entries().empty());
}

// A batch converts every good file, each identical to converting it alone,
// names each failure with its reason, refuses a second input that would give
// the same output name, and ends with a summary and the worst status.
TEST(JpgtoolFiles, BatchWithBrokenFilesAmongGoodOnes) {
    TempDir in, out, alone;
    std::string inputs;
    for (uint32_t i = 0; i < 5; ++i) {
        const std::string name = "p" + std::to_string(i);
        writeFile(in.file(name + ".bmp"), standardBmp(photoImage(16 + 7 * i, 9 + 3 * i, i == 2 ? 1 : 3, i), false));
        inputs += " " + in.file(name + ".bmp");
    }
    writeFile(in.file("broken.bmp"), Bytes{'B', 'M', 1, 2, 3});
    ASSERT_EQ(run("mkdir " + in.file("again") + " && cp " + in.file("p1.bmp") + " " + in.file("again/p1.bmp")), 0);
    std::string error;
    EXPECT_EQ(tool("export -d " + out.path() + inputs + " " + in.file("broken.bmp") + " " + in.file("again/p1.bmp"), &error),
              1);
    EXPECT_NE(error.find("broken.bmp: "), std::string::npos) << error;
    EXPECT_NE(error.find("again/p1.bmp: gives the same output name as"), std::string::npos) << error;
    EXPECT_NE(error.find("5 of 7 files converted"), std::string::npos) << error;
    std::string jpegs;
    for (uint32_t i = 0; i < 5; ++i) {
        const std::string name = "p" + std::to_string(i);
        ASSERT_EQ(tool("export " + in.file(name + ".bmp") + " " + alone.file(name + ".jpg")), 0);
        EXPECT_EQ(readFile(out.file(name + ".jpg")), readFile(alone.file(name + ".jpg"))) << name;
        jpegs += " " + out.file(name + ".jpg");
    }
    EXPECT_EQ(out.entries().size(), 5u);

    // Back again, into netpbm files named by the picture; a JPEG file cut
    // short is written with a warning: status 2.
    Bytes cut = readFile(out.file("p4.jpg"));
    cut.resize(cut.size() - 2);
    writeFile(out.file("cut.jpg"), cut);
    TempDir back;
    EXPECT_EQ(tool("import --format pnm -d " + back.path() + jpegs + " " + out.file("cut.jpg"), &error), 2);
    EXPECT_NE(error.find("cut.jpg: warning"), std::string::npos) << error;
    EXPECT_EQ(back.entries(), (std::vector<std::string>{"cut.ppm", "p0.ppm", "p1.ppm", "p2.pgm", "p3.ppm", "p4.ppm"}));
    ASSERT_EQ(tool("import " + out.file("p2.jpg") + " " + alone.file("p2.pgm")), 0);
    EXPECT_EQ(readFile(back.file("p2.pgm")), readFile(alone.file("p2.pgm")));
}
