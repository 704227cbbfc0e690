// jpgtool on ordinary files: standard BMP row order both ways, netpbm files,
// standard streams and batches, through the built tool.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>

#include "jpg.h"
#include "jpg_tool.h"
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

// Entries of a directory (. and .. aside).
size_t directoryEntries(const char *path) {
    size_t n = 0;
    if (DIR *d = ::opendir(path)) {
        while (const dirent *e = ::readdir(d)) n += e->d_name[0] != '.';
        ::closedir(d);
    }
    return n;
}

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

namespace {

// Starts jpgtool with `arguments`, its standard input the read end of a
// pipe that the caller writes and its environment's TMPDIR `tmp`; returns
// its process id, and the pipe's write end in `input`.
pid_t startTool(const std::vector<std::string> &arguments, const std::string &tmp, int &input) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(fds[0], 0);
        ::close(fds[0]);
        ::close(fds[1]);
        ::setenv("TMPDIR", tmp.c_str(), 1);
        std::vector<char *> argv{const_cast<char *>(kTool.c_str())};
        for (const std::string &a : arguments) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(kTool.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(fds[0]);
    input = fds[1];
    return child;
}

// Waits (at most about 10 s) until `dir` holds an entry whose name starts
// with `prefix`.
bool appears(const TempDir &dir, const std::string &prefix) {
    for (int i = 0; i < 1000; ++i) {
        for (const std::string &name : dir.entries())
            if (name.rfind(prefix, 0) == 0) return true;
        ::usleep(10000);
    }
    return false;
}

}  // namespace

// Whatever signal ends jpgtool while it writes, no temporary file stays
// behind, in $TMPDIR or beside the output, and it dies of that signal as
// cjpeg and djpeg do (a closed pipe: status 141 in a shell).
TEST(JpgtoolFiles, SignalsLeaveNoTemporaryFileBehind) {
    TempDir dir, tmp;
    // Noise: a JPEG file far larger than a pipe holds.
    Image noise = photoImage(1200, 900, 3);
    uint32_t random = 1;
    for (uint8_t &v : noise.pixels) v = static_cast<uint8_t>((random = random * 1103515245u + 12345u) >> 24);
    const Bytes ppm = pnmBytes(noise);
    writeFile(dir.file("big.ppm"), ppm);
    ASSERT_EQ(tool("export " + dir.file("big.ppm") + " " + dir.file("big.jpg")), 0);
    const std::vector<std::string> inputs = dir.entries();
    const std::string env = "TMPDIR=" + tmp.path() + " ";
    for (const std::string &pipeline :
         {env + kTool + " export " + dir.file("big.ppm") + " - | head -c 10 >/dev/null; exit ${PIPESTATUS[0]}",
          "cat " + dir.file("big.jpg") + " | " + env + kTool + " import - - | head -c 10 >/dev/null; exit ${PIPESTATUS[1]}"}) {
        EXPECT_EQ(run("bash -c '" + pipeline + "'"), 141) << pipeline;
        EXPECT_TRUE(tmp.entries().empty()) << pipeline;
        EXPECT_EQ(dir.entries(), inputs) << pipeline;
    }
    // A picture that arrives slowly on standard input: the output is being
    // written (its temporary file exists) when the signal comes.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        int input = -1;
        const pid_t child = startTool({"export", "-", dir.file("out.jpg")}, tmp.path(), input);
        ASSERT_GT(child, 0);
        ASSERT_EQ(::write(input, ppm.data(), ppm.size() / 2), static_cast<ssize_t>(ppm.size() / 2));
        EXPECT_TRUE(appears(dir, ".jpg-part-")) << signal;
        ::kill(child, signal);
        // A second one on its heels, as `timeout` sends one to the process
        // and one to its group: it may reach the other thread while the
        // first one's handler is removing the files.
        if (signal == SIGTERM) ::kill(child, signal);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(input);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal << " " << status;
        EXPECT_EQ(dir.entries(), inputs) << signal;
        EXPECT_TRUE(tmp.entries().empty()) << signal;
    }
}

// Statuses and messages say what happened: a standard output that cannot
// be written, a stream that ends early, a directory among the inputs, a
// netpbm comment anywhere in the header, batch records without names, and
// no descriptor left open by a failed import to standard output.
TEST(JpgtoolFiles, StatusesAndMessagesSayWhatHappened) {
    TempDir dir;
    const Image picture = photoImage(40, 24, 3);
    writeFile(dir.file("in.ppm"), pnmBytes(picture));
    ASSERT_EQ(tool("export " + dir.file("in.ppm") + " " + dir.file("in.jpg")), 0);
    std::string error;
    EXPECT_EQ(tool("info " + dir.file("in.jpg") + " >/dev/full", &error), 1);
    EXPECT_NE(error.find("standard output: cannot be written"), std::string::npos) << error;
    EXPECT_EQ(run("head -c 1000 " + dir.file("in.ppm") + " | " + kTool + " export - " + dir.file("cut.jpg"), &error), 1);
    EXPECT_NE(error.find("standard input: the file ends before its last row"), std::string::npos) << error;
    EXPECT_FALSE(fileExists(dir.file("cut.jpg")));

    TempDir out;
    ASSERT_EQ(::mkdir(dir.file("folder.ppm").c_str(), 0700), 0);
    EXPECT_EQ(tool("export -d " + out.path() + " " + dir.file("folder.ppm") + " " + dir.file("in.ppm"), &error), 1);
    EXPECT_NE(error.find("folder.ppm: is a directory"), std::string::npos) << error;
    EXPECT_NE(error.find("1 of 2 files converted"), std::string::npos) << error;
    EXPECT_EQ(error.find("-nan"), std::string::npos) << error;
    EXPECT_EQ(readFile(out.file("in.jpg")), readFile(dir.file("in.jpg")));
    EXPECT_EQ(tool("export " + dir.file("folder.ppm") + " " + dir.file("x.jpg"), &error), 1);
    EXPECT_NE(error.find("folder.ppm: is a directory"), std::string::npos) << error;

    // Comments anywhere before the raster, inside a number too.
    const Bytes plain = pnmBytes(photoImage(1, 1, 3));
    std::string header = "P6\n1#width\n 1\n#maxval next\n255#end\n";
    Bytes commented(header.begin(), header.end());
    commented.insert(commented.end(), plain.end() - 3, plain.end());
    writeFile(dir.file("plain.ppm"), plain);
    writeFile(dir.file("commented.ppm"), commented);
    ASSERT_EQ(tool("export " + dir.file("plain.ppm") + " " + dir.file("plain.jpg")), 0);
    EXPECT_EQ(tool("export " + dir.file("commented.ppm") + " " + dir.file("commented.jpg"), &error), 0) << error;
    EXPECT_EQ(readFile(dir.file("commented.jpg")), readFile(dir.file("plain.jpg")));

    JpgToolConversion records[2] = {};
    records[0].output = "x.bmp";
    records[1].input = "x.jpg";
    JpgToolOutcome outcomes[2];
    jpgToolConvertBatch(records, outcomes, 2, nullptr, nullptr, nullptr);
    for (const JpgToolOutcome &o : outcomes) {
        EXPECT_EQ(o.status, 1);
        EXPECT_STREQ(o.message, "nothing to convert");
    }

    // Ten failed imports to standard output leave no descriptor open.
    const auto openDescriptors = [] { return directoryEntries("/proc/self/fd"); };
    writeFile(dir.file("bad.jpg"), {0xFF, 0xD8, 0xFF, 0x00});
    const size_t before = openDescriptors();
    for (int i = 0; i < 10; ++i) {
        JpgToolConversion c{};
        c.direction = JPG_TOOL_IMPORT;
        const std::string bad = dir.file("bad.jpg");
        c.input = bad.c_str();
        c.output = JPG_TOOL_STANDARD_STREAM;
        JpgToolOutcome outcome;
        EXPECT_EQ(jpgToolConvert(&c, nullptr, &outcome), 1);
    }
    EXPECT_EQ(openDescriptors(), before);
}
