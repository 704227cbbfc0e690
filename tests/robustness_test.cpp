// Every export under failing platform operations, and all of them at once on
// many threads.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <thread>

#include "decoder/decoder_internal.h"
#include "encoder/encoder_state.h"
#include "base/platform.h"
#include "base/gdi.h"
#include "jpg.h"
#include "jpg_canvas.h"
#include "jpg_codec.h"
#include "test_util.h"

using jpg::faults::Op;
using testutil::Bytes;
using testutil::TempDir;

namespace {

const char *opName(Op op) {
    switch (op) {
        case Op::Alloc: return "alloc";
        case Op::Open: return "open";
        case Op::Create: return "create";
        case Op::Read: return "read";
        case Op::Write: return "write";
        case Op::Seek: return "seek";
        case Op::Random: return "random";
        case Op::Clash: return "name clash";
        case Op::Mode: return "mode";
        case Op::Thread: return "thread";
        default: return "?";
    }
}

// One export call: it writes `output` (empty for calls that write no file)
// and reports success with `okStatus`.
struct Call {
    std::function<int32_t()> run;
    std::string output;
    int32_t okStatus = 0;
    // For calls without an output file: true when what they made in memory
    // is complete and correct.
    std::function<bool()> check;
    // The status a call must return when the n-th operation of a kind
    // failed, or -1 where it may also succeed (a failure that costs nothing
    // but speed or the file's mode); null: any status but success.
    std::function<int32_t(Op, int)> failedStatus = {};
};

// Makes every operation of every kind fail in turn (the 1st, the 2nd, ...)
// until the call completes without meeting a failure. Each time the status
// is a failure unless the output is complete and correct, nothing stays
// held, no stray file is left beside the output, and a file that was already
// at the output path survives a failure untouched.
void failEveryOperation(const TempDir &dir, const Call &call) {
    jpg::faults::reset();
    const int32_t reference = call.run();
    ASSERT_EQ(reference, call.okStatus) << "the call fails even without injected faults";
    const Bytes expected = call.output.empty() ? Bytes{} : testutil::readFile(call.output);
    const std::vector<std::string> after = dir.entries();
    const Bytes sentinel = {'o', 'l', 'd'};

    for (Op op : {Op::Alloc, Op::Open, Op::Create, Op::Read, Op::Write, Op::Seek, Op::Random, Op::Clash, Op::Mode,
                  Op::Thread}) {
        for (int n = 1;; ++n) {
            ASSERT_LT(n, 100000) << opName(op);
            if (!call.output.empty()) testutil::writeFile(call.output, sentinel);
            const int blocks = jpg::faults::heldBlocks();
            const int files = jpg::faults::heldFiles();
            jpg::faults::reset();
            jpg::faults::failNth(op, n);
            const int32_t status = call.run();
            const bool fired = jpg::faults::fired();
            jpg::faults::reset();
            SCOPED_TRACE(std::string(opName(op)) + " #" + std::to_string(n));
            EXPECT_EQ(jpg::faults::heldBlocks(), blocks);
            EXPECT_EQ(jpg::faults::heldFiles(), files);
            EXPECT_EQ(dir.entries(), after);
            if (fired && call.failedStatus) {
                const int32_t want = call.failedStatus(op, n);
                if (want >= 0) {
                    EXPECT_EQ(status, want);
                }
            }
            if (call.output.empty()) {
                if (status == call.okStatus && call.check) {
                    EXPECT_TRUE(call.check());
                }
            } else if (status == call.okStatus) {
                EXPECT_EQ(testutil::readFile(call.output), expected);
            } else {
                EXPECT_EQ(testutil::readFile(call.output), sentinel);
            }
            if (!fired) break;
        }
    }
}

struct Files {
    TempDir dir;
    std::string bmp = dir.file("in.bmp");
    std::string jpeg = dir.file("in.jpg");
    std::string out = dir.file("out");
    Files() {
        const testutil::Image image = testutil::photoImage(37, 21, 3);
        testutil::writeFile(bmp, testutil::bmpBytes(image));
        EXPECT_EQ(iExportJPG(bmp.c_str(), jpeg.c_str(), 1, 3), 0);
    }
};

}  // namespace

// The import of a small file, and of cjpeg's file of several strips, more
// than one input chunk and restart markers: a failure of a file or memory
// operation is status 1 when the file cannot be opened or read at all, else
// 2; nothing else stays behind.
TEST(Robustness, ImportSurvivesEveryFailedOperation) {
    Files f;
    failEveryOperation(f.dir, {[&] { return iImportJPG(f.jpeg.c_str(), f.out.c_str()); }, f.out, 0, {}});
    if (!testutil::haveProgram("cjpeg")) GTEST_SKIP() << "cjpeg not installed";
    TempDir big;
    const std::string pnm = big.file("in.pnm"), jpeg = big.file("in.jpg"), out = big.file("out.bmp");
    testutil::writeFile(pnm, testutil::pnmBytes(testutil::photoImage(400, 300, 3)));
    ASSERT_EQ(testutil::run("cjpeg -quality 100 -sample 2x2,1x1,1x1 -restart 2 -outfile " + jpeg + " " + pnm), 0);
    ASSERT_GT(testutil::readFile(jpeg).size(), 2 * 32768u);
    const auto status = [](Op op, int n) -> int32_t {
        const bool fileOrMemory = op == Op::Alloc || op == Op::Open || op == Op::Create || op == Op::Read ||
                                  op == Op::Write || op == Op::Seek;
        if (!fileOrMemory) return -1;
        return (op == Op::Open || op == Op::Read) && n == 1 ? JPG_IMPORT_NOT_JPEG : JPG_IMPORT_REFUSED;
    };
    failEveryOperation(big, {[&] { return iImportJPG(jpeg.c_str(), out.c_str()); }, out, 0, {}, status});
}

TEST(Robustness, FastAndThreadedImportsSurviveEveryFailedOperation) {
    // Several strips, so that the worker is still decoding when a failure
    // stops the caller, and the other way round; and a narrow, tall picture
    // whose strips fill the whole ring of slots several times, written
    // bottom-up as well.
    Files f;
    const std::string jpeg = f.dir.file("wide.jpg"), tall = f.dir.file("tall.jpg");
    testutil::writeFile(f.bmp, testutil::bmpBytes(testutil::photoImage(300, 40, 3)));
    ASSERT_EQ(iExportJPG(f.bmp.c_str(), jpeg.c_str(), 1, 3), 0);
    testutil::writeFile(f.bmp, testutil::bmpBytes(testutil::photoImage(40, 6000, 3)));
    ASSERT_EQ(iExportJPG(f.bmp.c_str(), tall.c_str(), 1, 3), 0);
    for (const jpg::CallOptions options : {jpg::CallOptions{jpg::KernelSet::Reference, 2},
                                           jpg::CallOptions{jpg::KernelSet::Auto, 1},
                                           jpg::CallOptions{jpg::KernelSet::Auto, 2}}) {
        const Call call{[&] { return jpg::importJpegFile(jpeg.c_str(), f.out.c_str(), options); }, f.out, 0, {}};
        failEveryOperation(f.dir, call);
    }
    jpg::CallOptions standard{jpg::KernelSet::Auto, 2};
    standard.rowOrder = jpg::RowOrder::Standard;
    for (const jpg::CallOptions options : {jpg::CallOptions{jpg::KernelSet::Auto, 2}, standard}) {
        const Call call{[&] { return jpg::importJpegFile(tall.c_str(), f.out.c_str(), options); }, f.out, 0, {}};
        failEveryOperation(f.dir, call);
    }
}

TEST(Robustness, ExportSurvivesEveryFailedOperation) {
    Files f;
    failEveryOperation(f.dir, {[&] { return iExportJPG(f.bmp.c_str(), f.out.c_str(), 1, 3); }, f.out, 0, {}});
}

// The standard row order both ways (bottom-up strips placed in the file and
// read from its end) and netpbm files both ways.
TEST(Robustness, StandardRowsAndNetpbmFilesSurviveEveryFailedOperation) {
    Files f;
    jpg::CallOptions options;
    options.rowOrder = jpg::RowOrder::Standard;
    const std::string ppm = f.dir.file("in.ppm");
    testutil::writeFile(ppm, testutil::pnmBytes(testutil::photoImage(29, 18, 3)));
    for (const auto format : {jpg::PictureFormat::Bmp, jpg::PictureFormat::Netpbm}) {
        jpg::ImportTarget target;
        target.path = f.out.c_str();
        target.format = format;
        failEveryOperation(f.dir, {[&] { return jpg::importJpegFile(f.jpeg.c_str(), target, options); }, f.out, 0, {}});
    }
    jpg::SourceOptions netpbm;
    netpbm.netpbm = true;
    for (const std::string &source : {f.bmp, ppm})
        failEveryOperation(f.dir, {[&] {
                                       return jpg::exportJpeg(source.c_str(), f.out.c_str(), 1, 30, options, netpbm) ==
                                                      jpg::Result::Ok
                                                  ? 0
                                                  : 1;
                                   },
                                   f.out, 0, {}});
    // From a stream: read as it comes, or, bottom-up, through a temporary
    // copy in $TMPDIR (here the test's directory, which must stay clean).
    const char *tmpdir = std::getenv("TMPDIR");
    const std::string saved = tmpdir != nullptr ? tmpdir : "";
    setenv("TMPDIR", f.dir.path().c_str(), 1);
    jpg::SourceOptions stream = netpbm;
    stream.stream = true;
    for (const std::string &source : {f.bmp, ppm})
        failEveryOperation(f.dir, {[&] {
                                       stream.streamFile = _lopen(source.c_str(), OF_READ);
                                       return jpg::exportJpeg(nullptr, f.out.c_str(), 1, 30, options, stream) ==
                                                      jpg::Result::Ok
                                                  ? 0
                                                  : 1;
                                   },
                                   f.out, 0, {}});
    if (tmpdir != nullptr)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
}

// The fast strip loop, on one thread and on two (a thread that cannot start
// leaves the call on one), for colour and grey.
TEST(Robustness, FastExportPathsSurviveEveryFailedOperation) {
    Files f;
    const std::string grey = f.dir.file("grey.bmp");
    testutil::writeFile(grey, testutil::bmpBytes(testutil::photoImage(21, 19, 1)));
    for (const std::string &source : {f.bmp, grey})
        for (const jpg::KernelSet kernels : {jpg::KernelSet::Plain, jpg::KernelSet::Auto})
            for (const uint32_t threads : {1u, 2u}) {
                const jpg::CallOptions options{kernels, threads};
                SCOPED_TRACE(source + " " + jpg::kernelSetName(kernels) + " threads " + std::to_string(threads));
                failEveryOperation(f.dir, {[&] {
                                               return jpg::exportJpeg(source.c_str(), f.out.c_str(), 1, 30, options) ==
                                                              jpg::Result::Ok
                                                          ? 0
                                                          : 1;
                                           },
                                           f.out, 0, {}});
            }
}

TEST(Robustness, GreyExportAndImportSurviveEveryFailedOperation) {
    Files f;
    const std::string grey = f.dir.file("grey.bmp");
    const std::string greyJpeg = f.dir.file("grey.jpg");
    testutil::writeFile(grey, testutil::bmpBytes(testutil::photoImage(9, 17, 1)));
    failEveryOperation(f.dir, {[&] { return iExportJPG(grey.c_str(), greyJpeg.c_str(), 0, 7); }, greyJpeg, 0, {}});
    failEveryOperation(f.dir, {[&] { return iImportJPG(greyJpeg.c_str(), f.out.c_str()); }, f.out, 0, {}});
}

// jpgEncode on both paths, one thread and two, with restart markers and
// without: a failing allocation is JPG_ERR_NO_MEMORY with no block handed
// over and nothing held, but where the second thread's memory or the thread
// itself cannot be had, the call runs on one thread and gives the same bytes.
TEST(Robustness, EncodeSurvivesEveryFailedOperation) {
    TempDir dir;
    const testutil::Image image = testutil::photoImage(45, 37, 3, 2);
    struct Case {
        int32_t sampling, quality, kernels, threads;
        uint32_t restart;
    } cases[] = {
        {JPG_SAMPLING_422, 0, JPG_KERNELS_AUTO, 2, 0},
        {JPG_SAMPLING_420, 60, JPG_KERNELS_AUTO, 1, 2},
        {JPG_SAMPLING_444, 90, JPG_KERNELS_REFERENCE, 1, 1},
        {JPG_SAMPLING_GREY, 30, JPG_KERNELS_PLAIN, 2, 5},
    };
    for (const Case &c : cases) {
        JpgEncodeSettings settings;
        jpgDefaultEncodeSettings(&settings);
        settings.useLevel = c.quality == 0;
        settings.quality = c.quality;
        settings.sampling = c.sampling;
        settings.kernels = c.kernels;
        settings.threads = c.threads;
        settings.restartInterval = c.restart;
        Bytes expected, got;
        // The status negated: the failures' statuses are positive then.
        const auto run = [&] {
            void *jpeg = nullptr;
            size_t size = 0;
            const int32_t status =
                jpgEncode(image.pixels.data(), image.width, image.height, 3 * image.width, &settings, &jpeg, &size, nullptr);
            got.assign(static_cast<uint8_t *>(jpeg), static_cast<uint8_t *>(jpeg) + size);
            if ((jpeg != nullptr) != (status == JPG_OK)) return int32_t{100};
            jpgFree(jpeg);
            return -status;
        };
        ASSERT_EQ(run(), JPG_OK);
        expected = got;
        SCOPED_TRACE("sampling " + std::to_string(c.sampling) + " threads " + std::to_string(c.threads));
        const auto failed = [&](Op op, int) { return op == Op::Alloc && c.threads == 1 ? -JPG_ERR_NO_MEMORY : -1; };
        failEveryOperation(dir, {run, "", JPG_OK, [&] { return got == expected; }, failed});
    }
}

// A temporary name found taken is passed over for another, 100 names at
// most; when no source of randomness answers there is no name at all. Either
// way the call fails with its own failure status and leaves nothing behind.
TEST(Robustness, OutputsGiveUpAfterAHundredTakenNames) {
    Files f;
    const struct {
        std::function<int32_t()> run;
        int32_t failure;
    } calls[] = {
        {[&] { return iImportJPG(f.jpeg.c_str(), f.out.c_str()); }, 2},
        {[&] { return iExportJPG(f.bmp.c_str(), f.out.c_str(), 1, 3); }, 1},
    };
    for (const auto &call : calls) {
        const Bytes sentinel = {'o', 'l', 'd'};
        testutil::writeFile(f.out, sentinel);
        const std::vector<std::string> entries = f.dir.entries();
        jpg::faults::reset();
        jpg::faults::failNth(Op::Clash, 1, 99);
        EXPECT_EQ(call.run(), 0);
        EXPECT_EQ(jpg::faults::calls(Op::Clash), 100);
        EXPECT_NE(testutil::readFile(f.out), sentinel);
        for (const auto &[op, times] : {std::pair{Op::Clash, 100}, std::pair{Op::Random, 2}}) {
            testutil::writeFile(f.out, sentinel);
            jpg::faults::reset();
            jpg::faults::failNth(op, 1, times);
            EXPECT_EQ(call.run(), call.failure) << opName(op);
            EXPECT_EQ(jpg::faults::calls(op), times) << opName(op);
            EXPECT_EQ(testutil::readFile(f.out), sentinel);
            EXPECT_EQ(f.dir.entries(), entries);
        }
        jpg::faults::reset();
        EXPECT_EQ(jpg::faults::heldFiles(), 0);
        EXPECT_EQ(jpg::faults::heldBlocks(), 0);
    }
}

TEST(Robustness, PreviewSurvivesEveryFailedAllocation) {
    Files f;
    Bytes segment = testutil::readFile(f.jpeg);
    segment.resize(4820);
    Bytes dib(14440);
    failEveryOperation(f.dir, {[&] { return iRead_APP1(segment.data(), dib.data()); }, "", 0, {}});
}

TEST(Robustness, DisplaySurvivesEveryFailedOperation) {
    Files f;
    const std::string grey = f.dir.file("grey.bmp");
    testutil::writeFile(grey, testutil::bmpBytes(testutil::photoImage(13, 9, 1)));
    for (const std::string &path : {f.bmp, grey}) {
        const testutil::Image image = testutil::parseBmp(testutil::readFile(path));
        std::vector<uint32_t> pixels(image.width * image.height);
        JpgCanvas canvas{image.width, image.height, pixels.data()};
        auto drawnCorrectly = [&] {
            for (uint32_t y = 0; y < image.height; ++y) {
                for (uint32_t x = 0; x < image.width; ++x) {
                    const uint8_t *p = image.at(x, y);
                    const uint32_t rgb = image.channels == 1 ? p[0] * 0x010101u : (p[0] << 16 | p[1] << 8 | p[2]);
                    if (pixels[y * image.width + x] != rgb) return false;
                }
            }
            return true;
        };
        const int gdi = jpg::faults::heldGdiObjects();
        failEveryOperation(f.dir, {[&] {
                                       std::fill(pixels.begin(), pixels.end(), 0xABCDEFu);
                                       return iShowMeta(0, &canvas, path.c_str());
                                   },
                                   "", 0, drawnCorrectly});
        EXPECT_EQ(jpg::faults::heldGdiObjects(), gdi);
    }
}

TEST(Robustness, AllExportsRunConcurrently) {
    TempDir dir;
    constexpr int kThreads = 8;
    constexpr int kRounds = 25;  // 8 x 25 x 4 = 800 calls
    // Different pictures per thread, each of a different kind.
    std::vector<std::string> sources;
    for (int t = 0; t < kThreads; ++t) {
        const testutil::Image image = testutil::photoImage(40 + 9 * t, 30 + 5 * t, t % 3 == 2 ? 1 : 3, t + 1);
        sources.push_back(dir.file("src" + std::to_string(t) + ".bmp"));
        testutil::writeFile(sources.back(), testutil::bmpBytes(image));
    }
    // Single-threaded reference outputs.
    std::vector<Bytes> refJpeg, refBmp, refDib;
    std::vector<std::vector<uint32_t>> refCanvas;
    // Each thread draws its imported BMP on a canvas of its own.
    auto draw = [&](int t, const std::string &bmp, std::vector<uint32_t> &pixels) {
        const uint32_t w = 40 + 9 * t, h = 30 + 5 * t;
        pixels.assign(w * h, 0);
        JpgCanvas canvas{w, h, pixels.data()};
        return iShowMeta(0, &canvas, bmp.c_str());
    };
    for (int t = 0; t < kThreads; ++t) {
        const std::string j = dir.file("ref" + std::to_string(t) + ".jpg");
        const std::string b = dir.file("ref" + std::to_string(t) + ".bmp");
        ASSERT_EQ(iExportJPG(sources[t].c_str(), j.c_str(), 1, t), 0);
        ASSERT_EQ(iImportJPG(j.c_str(), b.c_str()), 0);
        refJpeg.push_back(testutil::readFile(j));
        refBmp.push_back(testutil::readFile(b));
        Bytes segment = refJpeg.back();
        segment.resize(4820);
        Bytes dib(14440);
        ASSERT_EQ(iRead_APP1(segment.data(), dib.data()), 0);
        refDib.push_back(dib);
        refCanvas.emplace_back();
        ASSERT_EQ(draw(t, b, refCanvas.back()), 0);
    }
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const std::string j = dir.file("t" + std::to_string(t) + ".jpg");
            const std::string b = dir.file("t" + std::to_string(t) + ".bmp");
            for (int r = 0; r < kRounds; ++r) {
                if (iExportJPG(sources[t].c_str(), j.c_str(), 1, t) != 0 || testutil::readFile(j) != refJpeg[t])
                    ++mismatches[t];
                if (iImportJPG(j.c_str(), b.c_str()) != 0 || testutil::readFile(b) != refBmp[t]) ++mismatches[t];
                Bytes segment = refJpeg[t];
                segment.resize(4820);
                Bytes dib(14440);
                if (iRead_APP1(segment.data(), dib.data()) != 0 || dib != refDib[t]) ++mismatches[t];
                std::vector<uint32_t> pixels;
                if (draw(t, b, pixels) != 0 || pixels != refCanvas[t]) ++mismatches[t];
            }
        });
    }
    for (auto &th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

// jpgDecode of a baseline file (on one thread and two) and of a progressive
// one at 1/2 under failing memory: JPG_ERR_NO_MEMORY, or the whole picture;
// nothing stays held.
TEST(Robustness, MemoryDecodeSurvivesEveryFailedAllocation) {
    Files f;
    const Bytes baseline = testutil::readFile(f.jpeg);
    std::vector<Bytes> files = {baseline};
    if (testutil::haveProgram("jpegtran")) {
        ASSERT_EQ(testutil::run("jpegtran -progressive -outfile " + f.dir.file("p.jpg") + " " + f.jpeg), 0);
        files.push_back(testutil::readFile(f.dir.file("p.jpg")));
        std::remove(f.dir.file("p.jpg").c_str());
    }
    for (const Bytes &jpeg : files) {
        for (const int32_t scale : {1, 2}) {
            for (const int32_t threads : {1, 2}) {
                JpgDecodeSettings settings;
                jpgDefaultDecodeSettings(&settings);
                settings.scale = scale;
                settings.threads = threads;
                const size_t width = (37 + scale - 1) / scale, height = (21 + scale - 1) / scale;
                Bytes expected(width * height * 3), pixels(width * height * 3);
                ASSERT_EQ(jpgDecode(jpeg.data(), jpeg.size(), &settings, expected.data(), width * 3, expected.size(),
                                    nullptr),
                          JPG_OK);
                const auto decode = [&] {
                    const int32_t r =
                        jpgDecode(jpeg.data(), jpeg.size(), &settings, pixels.data(), width * 3, pixels.size(), nullptr);
                    return r == JPG_ERR_NO_MEMORY ? 1 : r;
                };
                failEveryOperation(f.dir, {decode, "", JPG_OK, [&] { return pixels == expected; },
                                           [](Op op, int) { return op == Op::Alloc ? 1 : -1; }});
            }
        }
    }
}
