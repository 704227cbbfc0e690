// jpgtool's exit statuses and its messages: the file and the reason.
#include <gtest/gtest.h>

#include "test_util.h"

using namespace testutil;

namespace {

struct ToolRun {
    int status;
    std::string error;
};

ToolRun tool(const std::string &arguments) {
    ToolRun r{};
    r.status = run(std::string(JPGTOOL_PATH) + " " + arguments + " >/dev/null", &r.error);
    return r;
}

}  // namespace

TEST(Jpgtool, ConvertsBothWaysAndWarnsOnDamagedData) {
    TempDir dir;
    writeFile(dir.file("in.bmp"), bmpBytes(photoImage(33, 17, 3)));
    EXPECT_EQ(tool("export " + dir.file("in.bmp") + " " + dir.file("a.jpg") + " --level 5 --layout 1").status, 0);
    EXPECT_EQ(tool("import " + dir.file("a.jpg") + " " + dir.file("a.bmp")).status, 0);
    // Without its end-of-image marker the picture is still written: status 2.
    Bytes jpeg = readFile(dir.file("a.jpg"));
    jpeg.resize(jpeg.size() - 2);
    writeFile(dir.file("cut.jpg"), jpeg);
    const ToolRun damaged = tool("import " + dir.file("cut.jpg") + " " + dir.file("cut.bmp"));
    EXPECT_EQ(damaged.status, 2);
    EXPECT_NE(damaged.error.find("warning"), std::string::npos) << damaged.error;
    EXPECT_TRUE(fileExists(dir.file("cut.bmp")));
}

TEST(Jpgtool, KernelSetsAndThreadsWriteTheSameBytes) {
    TempDir dir;
    writeFile(dir.file("in.bmp"), bmpBytes(photoImage(70, 41, 3)));
    ASSERT_EQ(tool("export " + dir.file("in.bmp") + " " + dir.file("a.jpg") + " --kernels reference").status, 0);
    ASSERT_EQ(tool("export --threads 2 --kernels auto " + dir.file("in.bmp") + " " + dir.file("b.jpg")).status, 0);
    EXPECT_EQ(readFile(dir.file("a.jpg")), readFile(dir.file("b.jpg")));
    ASSERT_EQ(tool("import " + dir.file("a.jpg") + " " + dir.file("a.bmp") + " --kernels reference --threads 1").status, 0);
    ASSERT_EQ(tool("import --threads 2 " + dir.file("a.jpg") + " " + dir.file("b.bmp")).status, 0);
    EXPECT_EQ(readFile(dir.file("a.bmp")), readFile(dir.file("b.bmp")));
    const ToolRun unknown = tool("import " + dir.file("a.jpg") + " " + dir.file("c.bmp") + " --kernels mmx");
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.error.find("--kernels"), std::string::npos) << unknown.error;
    EXPECT_EQ(tool("import " + dir.file("a.jpg") + " " + dir.file("c.bmp") + " --threads many").status, 1);
    EXPECT_FALSE(fileExists(dir.file("c.bmp")));
}

TEST(Jpgtool, RefusalsNameTheFileAndTheReason) {
    TempDir dir;
    const std::string bmp = dir.file("in.bmp");
    writeFile(bmp, bmpBytes(photoImage(8, 8, 1)));
    Bytes sixteenBit = readFile(bmp);
    sixteenBit[28] = 16;
    writeFile(dir.file("sixteen.bmp"), sixteenBit);

    const struct {
        std::string arguments;
        std::string expected;
    } cases[] = {
        {"import " + bmp + " " + dir.file("x.bmp"), bmp + ": not a JPEG file"},
        {"import " + dir.file("missing.jpg") + " " + dir.file("x.bmp"), "missing.jpg: cannot be opened"},
        {"export " + dir.file("sixteen.bmp") + " " + dir.file("x.jpg"), "sixteen.bmp: 16-bit BMP files are not supported"},
        {"export " + bmp + " " + bmp, "is the source itself"},
        {"export " + bmp + " " + dir.file("no/such/dir.jpg"), "dir.jpg: cannot be written"},
        {"export " + bmp, "usage"},
        {"export " + bmp + " " + dir.file("x.jpg") + " --level", "--level"},
        {"frobnicate", "unknown command"},
    };
    for (const auto &c : cases) {
        const ToolRun r = tool(c.arguments);
        EXPECT_EQ(r.status, 1) << c.arguments;
        EXPECT_NE(r.error.find(c.expected), std::string::npos) << c.arguments << "\n" << r.error;
    }
    EXPECT_FALSE(fileExists(dir.file("x.bmp")));
    EXPECT_FALSE(fileExists(dir.file("x.jpg")));
    EXPECT_EQ(tool("--version").status, 0);
    EXPECT_EQ(tool("--help").status, 0);
}
