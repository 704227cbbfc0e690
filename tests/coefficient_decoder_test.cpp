// The coefficient decoder against the baseline decoder: a file that
// jpegtran transcodes without loss (progressive, arithmetic-coded, several
// sequential scans, unusual scripts, restart markers) holds the same
// quantised coefficients as its baseline original, and the codec API makes
// the same pictures of both at every scale and in every format. Then damaged, hostile
// and invalid files: statuses, limits and held blocks.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "decoder/coefficient_decoder.h"
#include "decoder/decoder_state.h"
#include "decoder_test_util.h"
#include "jpg_codec.h"
#include "base/markers.h"
#include "base/scan_geometry.h"

using namespace jpg;
using testutil::Bytes;

namespace {

// Quantised coefficients per frame component on the buffer's grid, and
// the blocks that hold the component's samples.
struct Coefficients {
    Result result = Result::Ok;
    CoefficientReport report;
    uint32_t components = 0;
    std::vector<int16_t> planes[kMaxFrameComponents];
    PlaneSize size[kMaxFrameComponents];
    PlaneSize used[kMaxFrameComponents];
    int32_t quant[kMaxFrameComponents][64] = {};
};

void describeFrame(const DecoderState &state, Coefficients &out) {
    out.components = state.frameComponents;
    uint32_t maxH = 1, maxV = 1;
    for (uint32_t c = 0; c < out.components; ++c) {
        maxH = std::max<uint32_t>(maxH, state.components[c].hSamp);
        maxV = std::max<uint32_t>(maxV, state.components[c].vSamp);
    }
    for (uint32_t c = 0; c < out.components; ++c) {
        out.size[c] = coefficientPlaneSize(state, c);
        out.used[c].widthBlocks = ceilDiv(componentSamples(state.width, state.components[c].hSamp, maxH), 8);
        out.used[c].heightBlocks = ceilDiv(componentSamples(state.height, state.components[c].vSamp, maxV), 8);
        out.planes[c].assign(size_t{out.size[c].widthBlocks} * out.size[c].heightBlocks * 64, 0);
    }
}

// A file's headers read from memory, with or without the buffered frames.
struct Headers {
    OwnedDecoderState owned;
    HeaderFacts facts;
    ByteSource source;
    Result result = Result::Ok;
    Headers(const Bytes &jpeg, bool buffered) {
        EXPECT_EQ(owned.init(), Result::Ok);
        source = ByteSource::ofMemory(jpeg.data(), jpeg.size());
        source.position = 2;
        facts.acceptBuffered = buffered;
        result = readHeaders(source, &owned.state, facts);
    }
};

// The coefficient decoder on a file in memory.
Coefficients engineDecode(const Bytes &jpeg, const CoefficientLimits &limits = CoefficientLimits{}) {
    Coefficients out;
    Headers headers(jpeg, true);
    OwnedDecoderState &owned = headers.owned;
    HeaderFacts &facts = headers.facts;
    out.result = headers.result;
    if (out.result != Result::Ok) return out;
    EXPECT_TRUE(needsCoefficientBuffer(owned.state, facts) || owned.state.frameComponents == 1);
    CoefficientBuffer buffer;
    out.result = decodeCoefficients(headers.source, &owned.state, facts, limits, buffer, out.report);
    if (out.result == Result::Ok || out.result == Result::Damaged) {
        describeFrame(owned.state, out);
        EXPECT_EQ(owned.state.scanComponents, owned.state.frameComponents);
        for (uint32_t c = 0; c < out.components; ++c) {
            EXPECT_EQ(buffer.planes[c].widthBlocks, out.size[c].widthBlocks);
            EXPECT_EQ(buffer.planes[c].heightBlocks, out.size[c].heightBlocks);
            std::memcpy(out.planes[c].data(), buffer.planes[c].blocks, out.planes[c].size() * sizeof(int16_t));
            std::memcpy(out.quant[c], buffer.quant[c], sizeof out.quant[c]);
        }
    }
    return out;
}

// The baseline decoder's MCUs of a one-scan file, each block put at its
// place on the same grid.
Coefficients baselineDecode(const Bytes &jpeg, bool &damaged) {
    Coefficients out;
    Headers headers(jpeg, false);
    out.result = headers.result;
    if (out.result != Result::Ok) return out;
    DecoderState &state = headers.owned.state;
    const HeaderFacts &facts = headers.facts;
    describeFrame(state, out);
    for (uint32_t c = 0; c < out.components; ++c)
        std::memcpy(out.quant[c], state.quantTables[state.components[c].quantSel], sizeof out.quant[c]);

    DecodeContext ctx;
    ctx.state = &state;
    ctx.headers = facts;
    Locked<HuffmanTableBlock> dc[4] = {Locked<HuffmanTableBlock>(state.dcTables[0]), Locked<HuffmanTableBlock>(state.dcTables[1]),
                                       Locked<HuffmanTableBlock>(state.dcTables[2]), Locked<HuffmanTableBlock>(state.dcTables[3])};
    Locked<HuffmanTableBlock> ac[4] = {Locked<HuffmanTableBlock>(state.acTables[0]), Locked<HuffmanTableBlock>(state.acTables[1]),
                                       Locked<HuffmanTableBlock>(state.acTables[2]), Locked<HuffmanTableBlock>(state.acTables[3])};
    for (int t = 0; t < 4; ++t) {
        ctx.dcBlocks[t] = dc[t].get();
        ctx.acBlocks[t] = ac[t].get();
    }
    layoutDecoderScan(ctx);
    startScan(ctx);
    ctx.readBuffer = const_cast<uint8_t *>(jpeg.data()) + headers.source.position;
    ctx.readPtr = ctx.readBuffer;
    ctx.readEnd = jpeg.data() + jpeg.size();
    ctx.endOfData = true;
    int32_t mcu[64 * kMaxBlocksPerMcu];
    for (uint32_t row = 0; row < ctx.mcuRows; ++row) {
        for (uint32_t column = 0; column < ctx.mcusPerRow; ++column) {
            decodeMcu(ctx, mcu);
            uint32_t nth[kMaxScanComponents] = {};
            for (uint32_t b = 0; b < ctx.blocksPerMcu; ++b) {
                const uint32_t j = ctx.mcuBlockComponent[b];
                const uint32_t c = facts.order[j];
                const ComponentLayout &l = ctx.comp[j];
                const uint32_t y = row * l.mcuHeightBlocks + nth[j] / l.mcuWidthBlocks;
                const uint32_t x = column * l.mcuWidthBlocks + nth[j] % l.mcuWidthBlocks;
                ++nth[j];
                int16_t *to = out.planes[c].data() + (size_t{y} * out.size[c].widthBlocks + x) * 64;
                for (int k = 0; k < 64; ++k) to[k] = static_cast<int16_t>(mcu[64 * b + k]);
            }
        }
    }
    const uint8_t *end = ctx.readPtr;
    damaged = ctx.damaged || ctx.readEnd - end < 2 || end[0] != 0xFF || end[1] != 0xD9;
    return out;
}

// The blocks that hold samples and the latched tables agree.
void expectSameCoefficients(const Coefficients &expected, const Coefficients &actual, const std::string &label) {
    ASSERT_EQ(actual.result, Result::Ok) << label << ": " << (actual.report.reason ? actual.report.reason : "");
    ASSERT_EQ(actual.components, expected.components) << label;
    for (uint32_t c = 0; c < expected.components; ++c) {
        EXPECT_EQ(std::memcmp(actual.quant[c], expected.quant[c], sizeof actual.quant[c]), 0) << label << " table " << c;
        for (uint32_t y = 0; y < expected.used[c].heightBlocks; ++y) {
            for (uint32_t x = 0; x < expected.used[c].widthBlocks; ++x) {
                const size_t at = (size_t{y} * expected.size[c].widthBlocks + x) * 64;
                for (int k = 0; k < 64; ++k)
                    ASSERT_EQ(actual.planes[c][at + k], expected.planes[c][at + k])
                        << label << ": component " << c << " block " << y << "," << x << " coefficient " << k;
            }
        }
    }
}

bool haveTools() {
    return testutil::haveProgram("cjpeg") && testutil::haveProgram("jpegtran");
}

// A transcoding: jpegtran's options and, for -scans, the script.
struct Transcoding {
    std::string options, script;
    std::string label() const { return "jpegtran " + options + (script.empty() ? "" : " -scans " + script); }
};

// jpegtran's output for each transcoding, in one shell; empty where
// jpegtran refuses the file.
std::vector<Bytes> transcode(const testutil::TempDir &dir, const Bytes &jpeg, const std::vector<Transcoding> &list) {
    testutil::writeFile(dir.file("in.jpg"), jpeg);
    std::string command;
    for (size_t i = 0; i < list.size(); ++i) {
        const std::string out = dir.file("out" + std::to_string(i) + ".jpg");
        std::filesystem::remove(out);
        command += "jpegtran " + list[i].options;
        if (!list[i].script.empty()) {
            const std::string script = dir.file("script" + std::to_string(i) + ".txt");
            testutil::writeFile(script, Bytes(list[i].script.begin(), list[i].script.end()));
            command += " -scans " + script;
        }
        command += " -outfile " + out + " " + dir.file("in.jpg") + " 2>/dev/null; ";
    }
    testutil::run(command + "true");
    std::vector<Bytes> files;
    for (size_t i = 0; i < list.size(); ++i) {
        const std::string out = dir.file("out" + std::to_string(i) + ".jpg");
        files.push_back(testutil::fileExists(out) ? testutil::readFile(out) : Bytes{});
    }
    return files;
}

Bytes cjpegFile(const testutil::TempDir &dir, uint32_t width, uint32_t height, uint32_t channels,
                const std::string &options) {
    testutil::writeFile(dir.file("in.pnm"), testutil::pnmBytes(testutil::photoImage(width, height, channels, 5)));
    EXPECT_EQ(testutil::run("cjpeg " + options + " -outfile " + dir.file("base.jpg") + " " + dir.file("in.pnm")), 0);
    return testutil::readFile(dir.file("base.jpg"));
}

// Scripts for jpegtran -scans: several sequential scans with the components
// out of their frame order, and progressive scripts of single-coefficient
// bands, split bands and deep successive approximation.
const char *kSequentialColour = "2: 0 63 0 0; 0: 0 63 0 0; 1: 0 63 0 0;";
const char *kSequentialPair = "1,2: 0 63 0 0; 0: 0 63 0 0;";
const char *kProgressiveColour =
    "0,1,2: 0 0 0 2; 0: 1 1 0 0; 2: 1 63 0 1; 0: 2 9 0 1; 1: 1 63 0 0; 0: 10 63 0 2;"
    "0,1,2: 0 0 2 1; 0,1,2: 0 0 1 0; 0: 10 63 2 1; 0: 10 63 1 0; 0: 2 9 1 0; 2: 1 63 1 0;";
const char *kProgressiveGrey =
    "0: 0 0 0 5; 0: 1 63 0 4; 0: 0 0 5 4; 0: 1 1 4 3; 0: 2 63 4 3; 0: 0 0 4 3; 0: 1 63 3 2; 0: 0 0 3 2;"
    "0: 1 63 2 1; 0: 0 0 2 1; 0: 1 63 1 0; 0: 0 0 1 0;";
const char *kSequentialGrey = "0: 0 63 0 0;";

// The transcodings of a file: all of them (progressive, arithmetic-coded,
// several sequential scans, the unusual scripts, restart markers), or the
// two progressive ones.
std::vector<Transcoding> transcodings(bool grey, bool all) {
    const std::string progressive = grey ? kProgressiveGrey : kProgressiveColour;
    if (!all) return {{"-progressive", ""}, {"-progressive -arithmetic", ""}};
    return {{"-progressive", ""},
            {"-progressive -arithmetic", ""},
            {"-arithmetic", ""},
            {"", grey ? kSequentialGrey : kSequentialColour},
            {"-arithmetic", grey ? kSequentialGrey : kSequentialPair},
            {"", progressive},
            {"-arithmetic", progressive},
            {"-progressive -restart 1B", ""},
            {"-arithmetic -restart 3B", ""},
            {"-progressive -arithmetic -restart 1", ""},
            {"-restart 2B", progressive},
            {"-restart 1B", grey ? kSequentialGrey : kSequentialColour}};
}

// The codec API's pictures of a file at every scale and in every format
// (jpgDecode, the threads and kernels it chooses): status, then pixels.
std::vector<Bytes> pictures(const Bytes &jpeg) {
    std::vector<Bytes> out;
    JpgInfo info{};
    info.size = sizeof info;
    if (jpgReadInfo(jpeg.data(), jpeg.size(), &info, nullptr) != JPG_OK) return out;
    for (const int32_t scale : {1, 2, 4, 8}) {
        for (const int32_t format :
             {JPG_FORMAT_GREY, JPG_FORMAT_RGB, JPG_FORMAT_BGR, JPG_FORMAT_RGBA, JPG_FORMAT_BGRA}) {
            JpgDecodeSettings settings;
            jpgDefaultDecodeSettings(&settings);
            settings.scale = scale;
            settings.format = format;
            uint32_t width = 0, height = 0;
            jpgScaledSize(&info, scale, &width, &height);
            const size_t bytes = format == JPG_FORMAT_GREY ? 1 : format >= JPG_FORMAT_RGBA ? 4 : 3;
            Bytes pixels(size_t{width} * height * bytes + 1);
            const int32_t status =
                jpgDecode(jpeg.data(), jpeg.size(), &settings, pixels.data(), width * bytes, pixels.size(), nullptr);
            pixels.back() = static_cast<uint8_t>(status);
            out.push_back(std::move(pixels));
        }
    }
    return out;
}

// Compares the engine's decode of each transcoding of `original` with the
// baseline decode of the original, and the codec API's pictures of both.
void checkTranscodings(const testutil::TempDir &dir, const Bytes &original, const std::vector<Transcoding> &list,
                       const std::string &label, int &compared) {
    bool damaged = false;
    const Coefficients expected = baselineDecode(original, damaged);
    ASSERT_EQ(expected.result, Result::Ok) << label;
    ASSERT_FALSE(damaged) << label;
    const std::vector<Bytes> originalPictures = pictures(original);
    ASSERT_EQ(originalPictures.size(), 20u) << label;
    const std::vector<Bytes> files = transcode(dir, original, list);
    for (size_t i = 0; i < list.size(); ++i) {
        ASSERT_FALSE(files[i].empty()) << label << ": " << list[i].label() << " failed";
        expectSameCoefficients(expected, engineDecode(files[i]), label + ", " + list[i].label());
        const std::vector<Bytes> transcoded = pictures(files[i]);
        for (size_t p = 0; p < originalPictures.size(); ++p)
            EXPECT_TRUE(p < transcoded.size() && transcoded[p] == originalPictures[p])
                << label << ", " << list[i].label() << ": picture " << p << " (scale 1/" << (1 << (p / 5))
                << ", format " << p % 5 + 1 << ")";
        ++compared;
    }
}

}  // namespace

TEST(CoefficientDecoder, TranscodedFilesHoldTheBaselineOriginalsCoefficients) {
    if (!haveTools()) GTEST_SKIP() << "cjpeg/jpegtran not installed";
    testutil::TempDir dir;
    const struct {
        const char *name;
        uint32_t channels;
        const char *options;
    } layouts[] = {
        {"grey", 1, "-quality 80"},
        {"4:4:4", 3, "-sample 1x1,1x1,1x1 -quality 85"},
        {"4:2:2", 3, "-sample 2x1,1x1,1x1 -quality 75"},
        {"4:2:0", 3, "-sample 2x2,1x1,1x1 -quality 75"},
        {"4:1:1", 3, "-sample 4x1,1x1,1x1 -quality 70"},
        {"4:4:0", 3, "-sample 1x2,1x1,1x1 -quality 90"},
    };
    const struct {
        uint32_t width, height;
    } sizes[] = {{1, 1}, {17, 9}, {333, 257}};
    int compared = 0;
    for (const auto &layout : layouts) {
        for (const auto &size : sizes) {
            // Originals with restart markers are transcoded once: the
            // transcodings have markers of their own.
            for (const char *restart : {"", " -restart 1"}) {
                const std::string label = std::string(layout.name) + " " + std::to_string(size.width) + "x" +
                                          std::to_string(size.height) + restart;
                const Bytes original =
                    cjpegFile(dir, size.width, size.height, layout.channels, std::string(layout.options) + restart);
                const bool all = *restart == 0 && size.width > 1;
                std::vector<Transcoding> list = transcodings(layout.channels == 1, all);
                if (*restart != 0) list.resize(1);
                checkTranscodings(dir, original, list, label, compared);
                if (HasFatalFailure()) return;
            }
        }
    }
    EXPECT_EQ(compared, 6 * (2 * 12 + 2 + 3));
}

TEST(CoefficientDecoder, TranscodedCorpusFilesHoldTheirCoefficients) {
    if (!haveTools()) GTEST_SKIP() << "cjpeg/jpegtran not installed";
    testutil::TempDir dir;
    const std::filesystem::path root(JPG_SOURCE_DIR);
    int originals = 0, compared = 0;
    for (const char *corpus : {"tests/corpus/decoder", "fuzz/corpus/import"}) {
        for (const auto &entry : std::filesystem::directory_iterator(root / corpus)) {
            const std::string name = entry.path().filename().string();
            const Bytes original = testutil::readFile(entry.path().string());
            // The files the baseline path decodes without damage.
            bool damaged = true;
            const Coefficients expected = baselineDecode(original, damaged);
            if (expected.result != Result::Ok || damaged) continue;
            ++originals;
            const std::vector<Transcoding> list = {
                {"-progressive", ""}, {"-arithmetic", ""}, {"-progressive -arithmetic -restart 1B", ""}};
            const std::vector<Bytes> files = transcode(dir, original, list);
            for (size_t i = 0; i < list.size(); ++i) {
                // libjpeg refuses three of the hostile files (a Huffman
                // table of codes it does not take, a scan out of frame order).
                if (files[i].empty()) continue;
                expectSameCoefficients(expected, engineDecode(files[i]), name + ", " + list[i].label());
                ++compared;
            }
        }
    }
    EXPECT_GE(originals, 15);
    EXPECT_GE(compared, 3 * (originals - 3));
}

namespace {

// Offsets of the files' scan headers (their FF DA).
std::vector<size_t> scanHeaders(const Bytes &jpeg) {
    std::vector<size_t> at;
    for (size_t i = 2; i + 3 < jpeg.size();) {
        if (jpeg[i] != 0xFF || jpeg[i + 1] == 0x00 || jpeg[i + 1] == 0xFF || (jpeg[i + 1] >= 0xD0 && jpeg[i + 1] <= 0xD7)) {
            ++i;
            continue;
        }
        if (jpeg[i + 1] == 0xD9) break;
        if (jpeg[i + 1] == 0xDA) at.push_back(i);
        i += 2 + (jpeg[i + 2] << 8 | jpeg[i + 3]);
    }
    return at;
}

// The transcodings of a cjpeg file of the photo-like picture.
std::vector<Bytes> photoTranscodings(const testutil::TempDir &dir, uint32_t width, uint32_t height,
                                     uint32_t channels, const std::string &cjpegOptions,
                                     const std::vector<Transcoding> &list) {
    const std::vector<Bytes> files = transcode(dir, cjpegFile(dir, width, height, channels, cjpegOptions), list);
    for (const Bytes &file : files) EXPECT_FALSE(file.empty());
    return files;
}

}  // namespace

TEST(CoefficientDecoder, ShortFilesKeepWhatTheirScansGave) {
    if (!haveTools()) GTEST_SKIP() << "cjpeg/jpegtran not installed";
    testutil::TempDir dir;
    const std::vector<Bytes> files = photoTranscodings(
        dir, 201, 133, 3, "-sample 2x2,1x1,1x1",
        {{"-progressive", ""}, {"-progressive -restart 2B", ""}, {"-progressive -arithmetic -restart 1", ""},
         {"-arithmetic", ""}, {"", kSequentialColour}});
    int cuts = 0;
    for (const Bytes &file : files) {
        const int blocks = faults::heldBlocks();
        // From the first scan's data on (the header parser has its own
        // verdict on files that end before).
        const size_t first = scanHeaders(file).front();
        const size_t data = first + 2 + (file[first + 2] << 8 | file[first + 3]);
        for (size_t size = data; size < file.size(); size += size < data + 40 ? 3 : 97) {
            const Coefficients cut = engineDecode(Bytes(file.begin(), file.begin() + static_cast<ptrdiff_t>(size)));
            ASSERT_EQ(cut.result, Result::Damaged) << "cut at " << size;
            EXPECT_TRUE(cut.report.damaged);
            EXPECT_FALSE(cut.report.endOfImage);
            ++cuts;
        }
        EXPECT_EQ(faults::heldBlocks(), blocks);
    }
    EXPECT_GT(cuts, 200);

    // Cut before its last scan (the luminance's last AC refinement), the
    // default progressive file holds every coefficient but that last bit.
    const Bytes &progressive = files[0];
    const Coefficients whole = engineDecode(progressive);
    const std::vector<size_t> scans = scanHeaders(progressive);
    const Coefficients cut = engineDecode(Bytes(progressive.begin(), progressive.begin() + static_cast<ptrdiff_t>(scans.back())));
    ASSERT_EQ(whole.result, Result::Ok);
    ASSERT_EQ(cut.result, Result::Damaged);
    EXPECT_EQ(whole.report.scans, scans.size());
    EXPECT_EQ(cut.report.scans, scans.size() - 1);
    for (uint32_t c = 0; c < 3; ++c) {
        int refined = 0;
        for (size_t i = 0; i < whole.planes[c].size(); ++i) {
            const int difference = whole.planes[c][i] - cut.planes[c][i];
            if (c != 0 || i % 64 == 0) {
                ASSERT_EQ(difference, 0) << "component " << c << " coefficient " << i;
            } else {
                ASSERT_LE(std::abs(difference), 1) << "coefficient " << i;
                refined += difference != 0;
            }
        }
        if (c == 0) {
            EXPECT_GT(refined, 100);
        }
    }
}

TEST(CoefficientDecoder, InvalidScanScriptsAreMalformed) {
    if (!haveTools()) GTEST_SKIP() << "cjpeg/jpegtran not installed";
    testutil::TempDir dir;
    // Grey: DC 0/1, AC 1-5 0/2, AC 6-63 0/2, AC 1-63 2/1, DC 1/0, AC 1-63 1/0.
    // Colour: several sequential scans; progressive, DC of all three first.
    const std::vector<Bytes> files = photoTranscodings(
        dir, 40, 24, 1, "", {{"-progressive", ""}});
    const std::vector<Bytes> colour = photoTranscodings(
        dir, 40, 24, 3, "", {{"", kSequentialColour}, {"-progressive", ""}, {"-arithmetic -progressive", ""}});
    const Bytes &grey = files[0];
    ASSERT_EQ(scanHeaders(grey).size(), 6u);
    // Field `field` (0: the first component's id, 1: Ss, 2: Se, 3: Ah and Al)
    // of scan `scan` set to `value`.
    auto edit = [](const Bytes &jpeg, size_t scan, int field, int value) {
        Bytes b = jpeg;
        const size_t at = scanHeaders(jpeg)[scan];
        const size_t ns = b[at + 4];
        b[field == 0 ? at + 5 : at + 5 + 2 * ns + static_cast<size_t>(field - 1)] = static_cast<uint8_t>(value);
        return b;
    };
    const struct {
        const char *name;
        Bytes file;
        uint32_t scans;  // counted, the invalid one included
    } cases[] = {
        {"refinement before any first scan", edit(grey, 0, 3, 0x10), 1},
        {"DC scan ending at 5", edit(grey, 0, 2, 5), 1},
        {"AC scan before the DC scan", edit(edit(grey, 0, 1, 1), 0, 2, 5), 1},
        {"band ending at 64", edit(grey, 1, 2, 64), 2},
        {"band 6 to 5", edit(grey, 1, 1, 6), 2},
        {"Al 14", edit(grey, 1, 3, 0x0E), 2},
        {"refinement by two bits", edit(grey, 3, 3, 0x20), 4},
        {"refinement of bits not coded", edit(grey, 2, 3, 0x32), 3},
        {"first scan again", edit(grey, 3, 3, 0x01), 4},
        {"component not in the frame", edit(grey, 3, 0, 9), 4},
        {"sequential component twice", edit(colour[0], 1, 0, 3), 2},
        {"AC scan of three components", edit(edit(colour[1], 0, 1, 1), 0, 2, 1), 1},
        {"arithmetic refinement before any first scan", edit(colour[2], 0, 3, 0x10), 1},
    };
    for (const auto &c : cases) {
        const Coefficients d = engineDecode(c.file);
        EXPECT_EQ(d.result, Result::Malformed) << c.name;
        EXPECT_NE(d.report.reason, nullptr) << c.name;
        EXPECT_EQ(d.report.scans, c.scans) << c.name;
    }
    // The unedited files decode.
    for (const Bytes *file : {&grey, &colour[0], &colour[1], &colour[2]}) EXPECT_EQ(engineDecode(*file).result, Result::Ok);
}

TEST(CoefficientDecoder, LimitsOnMemoryAndScans) {
    using namespace dectest;
    const int blocks = faults::heldBlocks();
    // A progressive header of 65,535 x 65,535 with a few bytes of data: its
    // buffer is refused before anything is allocated.
    auto progressiveHeader = [](int width, int height, const Bytes &between) {
        return concat({{0xFF, 0xD8}, quantTable(0), frameHeader(width, height, {{1, 1, 1, 0}}, 0xC2), between,
                       segment(0xDA, {1, 1, 0x00, 0, 0, 0}), {0x12, 0x34, 0x56}});
    };
    Coefficients huge = engineDecode(progressiveHeader(65535, 65535, {}));
    EXPECT_EQ(huge.result, Result::Unsupported);
    EXPECT_EQ(huge.report.limit, LimitReached::Memory);
    EXPECT_NE(huge.report.reason, nullptr);
    // Within the limit, a picture of 4,096 x 4,096 whose data ends at once
    // completes damaged, with or without restart markers due in every MCU.
    for (const Bytes &between : {Bytes{}, segment(0xDD, {0, 1})}) {
        const Coefficients large = engineDecode(progressiveHeader(4096, 4096, between));
        EXPECT_EQ(large.result, Result::Damaged);
        EXPECT_EQ(large.report.scans, 1u);
    }

    // 1,001 scans (a DC scan of full precision coded again and again, as
    // libjpeg allows) pass the default limit of 1,000.
    Bytes many = concat({{0xFF, 0xD8}, quantTable(0), frameHeader(8, 8, {{1, 1, 1, 0}}, 0xC2)});
    for (int i = 0; i < 1001; ++i) many = concat({many, segment(0xDA, {1, 1, 0x00, 0, 0, 0}), {0x00}});
    append(many, {0xFF, 0xD9});
    const Coefficients tooMany = engineDecode(many);
    EXPECT_EQ(tooMany.result, Result::Unsupported);
    EXPECT_EQ(tooMany.report.limit, LimitReached::Scans);
    EXPECT_EQ(tooMany.report.scans, 1001u);
    CoefficientLimits limits;
    limits.maxScans = 1001;
    EXPECT_EQ(engineDecode(many, limits).result, Result::Ok);
    EXPECT_EQ(faults::heldBlocks(), blocks);
}

TEST(CoefficientDecoder, AllocationFailuresLeaveNothingHeld) {
    if (!haveTools()) GTEST_SKIP() << "cjpeg/jpegtran not installed";
    testutil::TempDir dir;
    const Bytes file = photoTranscodings(dir, 40, 24, 3, "", {{"-progressive", ""}})[0];
    Headers parsed(file, true);
    ASSERT_EQ(parsed.result, Result::Ok);
    const DecoderState state = parsed.owned.state;
    const HeaderFacts headers = parsed.facts;
    ByteSource source = parsed.source;
    const int blocks = faults::heldBlocks();
    for (int n = 1;; ++n) {
        DecoderState copy = state;
        HeaderFacts copyFacts = headers;
        faults::reset();
        faults::failNth(faults::Op::Alloc, n);
        Result result;
        {
            CoefficientBuffer buffer;
            CoefficientReport report;
            result = decodeCoefficients(source, &copy, copyFacts, CoefficientLimits{}, buffer, report);
        }
        const bool fired = faults::fired();
        faults::reset();
        EXPECT_EQ(faults::heldBlocks(), blocks) << n;
        if (!fired) {
            EXPECT_EQ(result, Result::Ok);
            EXPECT_GE(n, 5) << "three planes and a scratch block";
            break;
        }
        EXPECT_EQ(result, Result::NoMemory) << n;
    }
}
