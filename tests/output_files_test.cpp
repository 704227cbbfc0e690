// Output files: created exclusively under names nobody can plant in advance,
// moved over their destination whole, with the permission bits of the file
// they replace.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <utility>

#include "base/files.h"
#include "jpg.h"
#include "jpg_tool.h"
#include "test_util.h"

using namespace testutil;

namespace {

std::string tool(const std::string &arguments) { return std::string(JPGTOOL_PATH) + " " + arguments; }

bool isLinkTo(const std::string &path, const std::string &target) {
    char buffer[4096];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
    return n > 0 && std::string(buffer, static_cast<size_t>(n)) == target;
}

unsigned modeOf(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 01000000;
}

// Sets the process's umask for one scope.
struct Umask {
    explicit Umask(mode_t mask) : old(::umask(mask)) {}
    ~Umask() { ::umask(old); }
    mode_t old;
};

}  // namespace

// Until now every output went first to `<output>.part<N>`, N counting the
// process's outputs from 0, opened without O_EXCL: a link planted there
// redirected the write, and a file there was truncated and removed.
TEST(OutputFiles, NothingUnderTheOldTemporaryNamesIsTouched) {
    TempDir dir;
    writeFile(dir.file("in.bmp"), bmpBytes(photoImage(35, 19, 3)));
    ASSERT_EQ(iExportJPG(dir.file("in.bmp").c_str(), dir.file("in.jpg").c_str(), 1, 3), 0);
    const struct {
        const char *arguments;
        const char *output;
    } commands[] = {
        {"import in.jpg out.bmp", "out.bmp"},
        {"export in.bmp out.jpg", "out.jpg"},
        {"preview in.jpg preview.bmp", "preview.bmp"},
        {"show in.bmp shown.bmp", "shown.bmp"},
    };
    // What each command writes in a clean directory.
    std::vector<Bytes> expected;
    for (const auto &c : commands) {
        ASSERT_EQ(run("cd " + dir.path() + " && " + tool(c.arguments) + " >/dev/null 2>&1"), 0) << c.arguments;
        expected.push_back(readFile(dir.file(c.output)));
        ::unlink(dir.file(c.output).c_str());
    }
    const Bytes notes = {'n', 'o', 't', 'e', 's'};
    writeFile(dir.file("notes.txt"), notes);

    for (const bool links : {true, false}) {
        SCOPED_TRACE(links ? "links" : "regular files");
        for (size_t i = 0; i < std::size(commands); ++i) {
            const std::string output = dir.file(commands[i].output);
            ::unlink(output.c_str());
            for (int n = 0; n <= 9; ++n) {
                const std::string part = output + ".part" + std::to_string(n);
                ::unlink(part.c_str());
                if (!links) {
                    writeFile(part, {static_cast<uint8_t>(n)});
                } else if (n % 2 == 0) {
                    ASSERT_EQ(::symlink(dir.file("notes.txt").c_str(), part.c_str()), 0);
                } else {  // a dangling link must not bring its target into being
                    ASSERT_EQ(::symlink(dir.file("planted" + std::to_string(n)).c_str(), part.c_str()), 0);
                }
            }
            const std::vector<std::string> before = dir.entries();
            ASSERT_EQ(run("cd " + dir.path() + " && " + tool(commands[i].arguments) + " >/dev/null 2>&1"), 0)
                << commands[i].arguments;
            EXPECT_EQ(readFile(output), expected[i]) << commands[i].arguments;
            std::vector<std::string> now = before;
            if (std::find(now.begin(), now.end(), commands[i].output) == now.end()) {
                now.push_back(commands[i].output);
                std::sort(now.begin(), now.end());
            }
            EXPECT_EQ(dir.entries(), now) << commands[i].arguments;
            EXPECT_EQ(readFile(dir.file("notes.txt")), notes);
            for (int n = 0; n <= 9; ++n) {
                const std::string part = output + ".part" + std::to_string(n);
                if (!links)
                    EXPECT_EQ(readFile(part), Bytes{static_cast<uint8_t>(n)}) << part;
                else
                    EXPECT_TRUE(isLinkTo(part, dir.file(n % 2 == 0 ? "notes.txt" : "planted" + std::to_string(n))))
                        << part;
            }
        }
    }
}

TEST(OutputFiles, ModesAreKeptAndOnlyFilesAndLinksAreReplaced) {
    const Umask mask(027);
    TempDir dir;
    const std::string bmp = dir.file("in.bmp");
    const std::string jpeg = dir.file("in.jpg");
    writeFile(bmp, bmpBytes(photoImage(20, 12, 3)));
    ASSERT_EQ(iExportJPG(bmp.c_str(), jpeg.c_str(), 1, 3), 0);
    EXPECT_EQ(modeOf(jpeg), 0640u);

    const std::string out = dir.file("out.bmp");
    writeFile(out, {1});
    ASSERT_EQ(::chmod(out.c_str(), 0600), 0);
    ASSERT_EQ(iImportJPG(jpeg.c_str(), out.c_str()), 0);
    EXPECT_EQ(modeOf(out), 0600u);
    EXPECT_GT(readFile(out).size(), 1u);

    // A destination that is a link is replaced by a regular file with the
    // mode of the file the link named; that file stays as it was.
    const std::string target = dir.file("target.bmp");
    writeFile(target, {2});
    ASSERT_EQ(::chmod(target.c_str(), 0604), 0);
    const std::string link = dir.file("link.bmp");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    ASSERT_EQ(iImportJPG(jpeg.c_str(), link.c_str()), 0);
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_EQ(readFile(link), readFile(out));
    EXPECT_EQ(readFile(target), Bytes{2});

    // Anything else at the destination is refused, not replaced.
    const std::string pipe = dir.file("pipe.bmp");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const std::vector<std::string> entries = dir.entries();
    EXPECT_EQ(iImportJPG(jpeg.c_str(), pipe.c_str()), 2);
    EXPECT_EQ(iExportJPG(dir.file("in.bmp").c_str(), pipe.c_str(), 1, 3), 1);
    ASSERT_EQ(::lstat(pipe.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(dir.entries(), entries);
}

// Two processes export different pictures to one file, 20 times each, while
// this one keeps reading it: every read finds one whole picture.
TEST(OutputFiles, TwoProcessesWritingOneDestination) {
    TempDir dir;
    Bytes reference[2];
    for (int p = 0; p < 2; ++p) {
        const std::string bmp = dir.file("in" + std::to_string(p) + ".bmp");
        writeFile(bmp, bmpBytes(photoImage(120 + 40 * p, 90, 3, p + 1)));
        ASSERT_EQ(iExportJPG(bmp.c_str(), dir.file("ref.jpg").c_str(), 1, 3), 0);
        reference[p] = readFile(dir.file("ref.jpg"));
    }
    ::unlink(dir.file("ref.jpg").c_str());
    const std::string out = dir.file("out.jpg");
    std::string loop[2];
    for (int p = 0; p < 2; ++p)
        loop[p] = "(for i in $(seq 20); do " + tool("export --top-first in" + std::to_string(p) + ".bmp out.jpg") +
                  " || exit 1; done)";
    std::atomic<bool> done{false};
    int status = -1;
    std::thread writers([&] {
        status = run("cd " + dir.path() + " && " + loop[0] + " & a=$!; cd " + dir.path() + " && " + loop[1] +
                     " & b=$!; wait $a && wait $b");
        done = true;
    });
    int reads = 0;
    int bad = 0;
    while (!done) {
        if (!fileExists(out)) continue;
        const Bytes now = readFile(out);
        ++reads;
        if (now != reference[0] && now != reference[1]) ++bad;
    }
    writers.join();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(bad, 0) << "of " << reads << " reads";
    const Bytes last = readFile(out);
    EXPECT_TRUE(last == reference[0] || last == reference[1]);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in0.bmp", "in1.bmp", "out.jpg"}));
}

// The scratch file a caller makes in a directory of its choice.
TEST(OutputFiles, TemporaryFileIsNewPrivateAndGoesWithItsOwner) {
    const Umask mask(022);
    TempDir dir;
    std::string kept;
    {
        jpg::TemporaryFile a;
        jpg::TemporaryFile b;
        ASSERT_TRUE(a.createIn(dir.path(), "copy-"));
        ASSERT_TRUE(b.createIn(dir.path() + "/", "copy-"));
        EXPECT_NE(a.path(), b.path());
        EXPECT_EQ(a.path().rfind(dir.file("copy-"), 0), 0u) << a.path();
        EXPECT_EQ(a.path().size(), dir.file("copy-").size() + 12);
        EXPECT_EQ(modeOf(a.path()), 0600u);
        EXPECT_EQ(modeOf(b.path()), 0600u);
        EXPECT_TRUE(a.file().writeAll("data", 4));
        EXPECT_EQ(readFile(a.path()), (Bytes{'d', 'a', 't', 'a'}));
        kept = b.path();
        b.keep();
        EXPECT_EQ(dir.entries().size(), 2u);
    }
    EXPECT_EQ(dir.entries().size(), 1u);
    EXPECT_TRUE(fileExists(kept));
    // Handed over as a C stream, to copy a stream into (the tool interface).
    char name[512];
    EXPECT_EQ(jpgToolCreateScratchFile(dir.path().c_str(), "stream-", name, dir.path().size() + 20), nullptr);
    EXPECT_STREQ(name, "");
    EXPECT_EQ(dir.entries().size(), 1u);
    std::FILE *stream = jpgToolCreateScratchFile(dir.path().c_str(), "stream-", name, sizeof name);
    ASSERT_NE(stream, nullptr);
    const std::string streamPath = name;
    EXPECT_EQ(streamPath.size(), dir.file("stream-").size() + 12);
    EXPECT_GE(std::fputs("copied", stream), 0);
    std::rewind(stream);
    char back[8] = {};
    EXPECT_EQ(std::fread(back, 1, sizeof back, stream), 6u);
    EXPECT_EQ(std::fclose(stream), 0);
    EXPECT_STREQ(back, "copied");
    EXPECT_EQ(readFile(streamPath), (Bytes{'c', 'o', 'p', 'i', 'e', 'd'}));
    EXPECT_EQ(modeOf(streamPath), 0600u);
    jpg::TemporaryFile missing;
    EXPECT_FALSE(missing.createIn(dir.file("no/such/dir"), "x"));
    EXPECT_EQ(jpg::faults::heldFiles(), 0);
}

namespace {

// What a call's watch saw: every temporary file with its mode at creation,
// and the files still there.
struct Watched {
    std::vector<std::pair<std::string, unsigned>> created;
    std::vector<std::string> open;
    static void note(void *context, const char *path, int32_t exists) {
        auto &w = *static_cast<Watched *>(context);
        if (exists != 0) {
            w.created.emplace_back(path, modeOf(path));
            w.open.push_back(path);
        } else {
            w.open.erase(std::remove(w.open.begin(), w.open.end(), path), w.open.end());
        }
    }
};

// Runs `body` as the unprivileged user `nobody` in a child process (when
// this one is root), and returns the child's exit status.
template <typename Body>
int asUnprivileged(Body body) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(99);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}

}  // namespace

// A temporary output is its owner's alone from the moment it exists, takes
// its final mode just before it replaces the destination, fits beside any
// name that fits, and a file the caller may not write is never replaced.
TEST(OutputFiles, PrivateUntilInPlaceAndNeverOverAWriteProtectedFile) {
    const Umask mask(022);
    TempDir dir;
    const std::string bmp = dir.file("in.bmp");
    writeFile(bmp, bmpBytes(photoImage(40, 30, 3)));
    ASSERT_EQ(iExportJPG(bmp.c_str(), dir.file("in.jpg").c_str(), 1, 3), 0);

    JpgToolOptions options;
    jpgToolDefaultOptions(&options);
    Watched watched;
    options.temporaryFile = &Watched::note;
    options.temporaryFileContext = &watched;
    const std::string longName = dir.file(std::string(245, 'n') + ".bmp");
    writeFile(dir.file("private.jpg"), {1});
    ASSERT_EQ(::chmod(dir.file("private.jpg").c_str(), 0600), 0);
    const struct {
        int32_t direction;
        std::string input, output;
        unsigned mode;
    } cases[] = {
        {JPG_TOOL_IMPORT, dir.file("in.jpg"), dir.file("new.bmp"), 0644},
        {JPG_TOOL_EXPORT, bmp, dir.file("private.jpg"), 0600},
        {JPG_TOOL_IMPORT, dir.file("in.jpg"), longName, 0644},
    };
    for (const auto &c : cases) {
        JpgToolConversion conversion{};
        conversion.direction = c.direction;
        conversion.input = c.input.c_str();
        conversion.output = c.output.c_str();
        conversion.thumbnailLayout = 1;
        conversion.compressionLevel = 3;
        JpgToolOutcome outcome;
        watched.created.clear();
        EXPECT_EQ(jpgToolConvert(&conversion, &options, &outcome), 0) << c.output << ": " << outcome.message;
        ASSERT_EQ(watched.created.size(), 1u) << c.output;
        EXPECT_EQ(watched.created[0].second, 0600u) << c.output;
        EXPECT_TRUE(watched.open.empty());
        EXPECT_EQ(modeOf(c.output), c.mode) << c.output;
    }

    // A write-protected destination, for a caller that may not write it: the
    // import says 2, the export 1, and nothing changes. A link to such a
    // file is judged by itself, and replaced.
    TempDir shared;
    ASSERT_EQ(::chmod(shared.path().c_str(), 0777), 0);
    const std::string jpeg = shared.file("in.jpg"), protectedFile = shared.file("protected.bmp");
    ASSERT_EQ(run("cp " + dir.file("in.jpg") + " " + bmp + " " + shared.path()), 0);
    writeFile(protectedFile, {7});
    ASSERT_EQ(::chmod(protectedFile.c_str(), 0444), 0);
    ASSERT_EQ(::symlink(protectedFile.c_str(), shared.file("link.bmp").c_str()), 0);
    const int child = asUnprivileged([&] {
        if (iImportJPG(jpeg.c_str(), protectedFile.c_str()) != JPG_IMPORT_REFUSED) return 1;
        if (iExportJPG(shared.file("in.bmp").c_str(), protectedFile.c_str(), 1, 3) != JPG_EXPORT_FAILED) return 2;
        if (iImportJPG(jpeg.c_str(), shared.file("link.bmp").c_str()) != JPG_IMPORT_OK) return 3;
        return 0;
    });
    EXPECT_EQ(child, 0);
    EXPECT_EQ(readFile(protectedFile), Bytes{7});
    struct stat st {};
    ASSERT_EQ(::lstat(shared.file("link.bmp").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(shared.entries(), (std::vector<std::string>{"in.bmp", "in.jpg", "link.bmp", "protected.bmp"}));
}

// Sources are sized in 64 bits: a file over 2 GiB (sparse: trailing bytes
// the conversions never read) is converted; a JPEG file over 4 GiB, more
// than the decoder's record counts, is refused with its reason.
TEST(OutputFiles, FilesOverTwoGigabytes) {
    TempDir dir;
    writeFile(dir.file("in.ppm"), pnmBytes(photoImage(24, 16, 3)));
    ASSERT_EQ(run(std::string(JPGTOOL_PATH) + " export " + dir.file("in.ppm") + " " + dir.file("in.jpg")), 0);
    const Bytes jpeg = readFile(dir.file("in.jpg"));
    ASSERT_EQ(iImportJPG(dir.file("in.jpg").c_str(), dir.file("small.bmp").c_str()), JPG_IMPORT_OK);
    const auto grow = [](const std::string &path, off_t size) { return ::truncate(path.c_str(), size) == 0; };
    ASSERT_TRUE(grow(dir.file("in.ppm"), (off_t{1} << 31) + 4096));
    ASSERT_TRUE(grow(dir.file("in.jpg"), (off_t{1} << 31) + 4096));
    std::string error;
    EXPECT_EQ(run(tool("export " + dir.file("in.ppm") + " " + dir.file("out.jpg")), &error), 0) << error;
    EXPECT_EQ(readFile(dir.file("out.jpg")), jpeg);
    EXPECT_EQ(iImportJPG(dir.file("in.jpg").c_str(), dir.file("out.bmp").c_str()), JPG_IMPORT_OK);
    EXPECT_EQ(readFile(dir.file("out.bmp")), readFile(dir.file("small.bmp")));
    ASSERT_TRUE(grow(dir.file("in.jpg"), (off_t{1} << 32) + (off_t{1} << 20)));
    EXPECT_EQ(iImportJPG(dir.file("in.jpg").c_str(), dir.file("big.bmp").c_str()), JPG_IMPORT_REFUSED);
    EXPECT_EQ(run(tool("import " + dir.file("in.jpg") + " " + dir.file("big.bmp")), &error), 1);
    EXPECT_NE(error.find("in.jpg: JPEG files of more than 4 GiB are not supported"), std::string::npos) << error;
    EXPECT_FALSE(fileExists(dir.file("big.bmp")));
}
