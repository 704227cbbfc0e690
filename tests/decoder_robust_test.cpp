// iImportJPG on damaged, hostile and failing input: statuses, output files
// and held resources. The crash corpus under tests/corpus/decoder/ holds
// small files named by the fault they catch and their status (NAME.sN.jpg).
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>

#include "base/platform.h"
#include "base/result.h"
#include "decoder_test_util.h"
#include "jpg.h"

using namespace testutil;
namespace faults = jpg::faults;

namespace {

const Bytes kOldOutput = {'o', 'l', 'd'};

// Runs iImportJPG on `jpeg` into a directory whose output path holds an old
// file; checks what every status promises about the output.
// One directory for all imports, in memory where the system has such a
// file system: replacing an existing file by rename makes ext4 flush it,
// which would dominate thousands of imports.
struct ScratchDir {
    std::string path;
    ScratchDir() {
        std::string pattern = std::filesystem::exists("/dev/shm") ? "/dev/shm/jpgtest-XXXXXX"
                                                                  : std::filesystem::temp_directory_path().string() + "/jpgtest-XXXXXX";
        path = mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string file(const std::string &name) const { return path + "/" + name; }
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto &e : std::filesystem::directory_iterator(path)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

int importChecked(const Bytes &jpeg, const std::string &label) {
    static ScratchDir dir;
    std::filesystem::remove(dir.file("out.bmp"));
    writeFile(dir.file("in.jpg"), jpeg);
    const std::string out = dir.file("out.bmp");
    writeFile(out, kOldOutput);
    const int blocks = faults::heldBlocks(), files = faults::heldFiles();
    const int status = iImportJPG(dir.file("in.jpg").c_str(), out.c_str());
    EXPECT_EQ(faults::heldBlocks(), blocks) << label;
    EXPECT_EQ(faults::heldFiles(), files) << label;
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.jpg", "out.bmp"})) << label;
    const Bytes written = readFile(out);
    if (status == 0 || status == 3) {
        // A complete BMP: the size its header gives, every row present.
        EXPECT_GE(written.size(), 54u) << label;
        if (written.size() >= 54) {
            const uint32_t size = written[2] | written[3] << 8 | written[4] << 16 | uint32_t(written[5]) << 24;
            EXPECT_EQ(size, written.size()) << label;
        }
    } else {
        EXPECT_TRUE(status == 1 || status == 2) << label << " status " << status;
        EXPECT_EQ(written, kOldOutput) << label << ": an existing file is left as it was";
    }
    return status;
}

Bytes cjpegFile(const std::string &options, uint32_t w, uint32_t h, uint32_t channels) {
    TempDir dir;
    writeFile(dir.file("in.pnm"), pnmBytes(photoImage(w, h, channels, 3)));
    EXPECT_EQ(run("cjpeg " + options + " -outfile " + dir.file("out.jpg") + " " + dir.file("in.pnm")), 0);
    return readFile(dir.file("out.jpg"));
}

// Offset of the first byte after the first scan header.
size_t dataStart(const Bytes &jpeg) {
    size_t i = 2;
    while (i + 4 <= jpeg.size()) {
        const size_t length = (jpeg[i + 2] << 8) | jpeg[i + 3];
        if (jpeg[i + 1] == 0xDA) return i + 2 + length;
        i += 2 + length;
    }
    return jpeg.size();
}

}  // namespace

TEST(DecoderRobust, CorpusReplaysWithItsStatus) {
    const std::filesystem::path corpus = std::filesystem::path(JPG_SOURCE_DIR) / "tests/corpus/decoder";
    int replayed = 0;
    for (const auto &entry : std::filesystem::directory_iterator(corpus)) {
        const std::string name = entry.path().filename().string();
        const size_t mark = name.rfind(".s");
        ASSERT_NE(mark, std::string::npos) << name;
        const int expected = name[mark + 2] - '0';
        EXPECT_EQ(importChecked(readFile(entry.path().string()), name), expected) << name;
        ++replayed;
    }
    EXPECT_GE(replayed, 15);
}

TEST(DecoderRobust, StatusesAtTheEndOfTheData) {
    using namespace dectest;
    EXPECT_EQ(importChecked(greyBlockJpeg(), "grey block"), 0);
    EXPECT_EQ(importChecked(colourBlockJpeg(), "colour block"), 0);
    Bytes noEnd = greyBlockJpeg();
    noEnd.resize(noEnd.size() - 2);
    EXPECT_EQ(importChecked(noEnd, "no EOI"), 3);
    Bytes oneByte = greyBlockJpeg();
    oneByte.pop_back();
    EXPECT_EQ(importChecked(oneByte, "FF without D9"), 3);
    EXPECT_EQ(importChecked({0xFF, 0xD8}, "SOI only"), 2);
    EXPECT_EQ(importChecked({0xFF}, "one byte"), 1);
    EXPECT_EQ(importChecked({}, "empty"), 1);
    EXPECT_EQ(iImportJPG("/nonexistent/in.jpg", "/nonexistent/out.bmp"), 1);

    // Blocks of exactly one byte each (DC +1 or -1, end of block), so that
    // the end-of-image marker lands where a test wants it relative to the
    // 32,768-byte chunks: FF D9 straddling two chunks, and wholly in a
    // chunk not yet read.
    auto oneBytePerBlock = [](int blocksWide, int blocksHigh) {
        Bytes file = concat({{0xFF, 0xD8}, quantTable(0), frameHeader(8 * blocksWide, 8 * blocksHigh, {{1, 1, 1, 0}}),
                             scanHeader({{1, 0x00}})});
        for (int i = 0; i < blocksWide * blocksHigh; ++i) file.push_back(i % 2 == 0 ? 0x5A : 0x4A);
        append(file, {0xFF, 0xD9});
        return file;
    };
    EXPECT_EQ(importChecked(oneBytePerBlock(151, 217), "EOI straddles chunks"), 0);  // 32,767 data bytes
    EXPECT_EQ(importChecked(oneBytePerBlock(128, 256), "EOI in the next chunk"), 0);  // 32,768 data bytes
    EXPECT_EQ(importChecked(oneBytePerBlock(100, 80), "one chunk"), 0);
}

TEST(DecoderRobust, TruncatedFlippedAndMarkerRiddenFiles) {
    if (!haveProgram("cjpeg")) GTEST_SKIP() << "cjpeg not installed";
    for (const char *options : {"-sample 2x2,1x1,1x1 -restart 1", "-grayscale -optimize", "-sample 2x1,1x1,1x1"}) {
        const Bytes good = cjpegFile(std::string(options) + " -quality 60", 40, 24, 3);
        ASSERT_EQ(importChecked(good, options), 0);
        const size_t start = dataStart(good);
        for (size_t cut = 0; cut < good.size(); cut += cut < start ? 7 : 3) {
            const Bytes truncated(good.begin(), good.begin() + static_cast<long>(cut));
            const int status = importChecked(truncated, std::string(options) + " cut " + std::to_string(cut));
            if (cut > start) {
                EXPECT_EQ(status, 3) << "cut in the data at " << cut;
            }
        }
        for (size_t at = 2; at < good.size(); at += at < start ? 1 : 5) {
            for (uint8_t value : {uint8_t(good[at] ^ 0xFF), uint8_t(0xFF), uint8_t(good[at] + 1)}) {
                Bytes flipped = good;
                flipped[at] = value;
                importChecked(flipped, std::string(options) + " byte " + std::to_string(at));
            }
        }
        for (size_t at = start; at < good.size(); at += 11) {
            for (int marker : {0xD0, 0xD9, 0xC4, 0xDA}) {
                Bytes inserted = good;
                inserted.insert(inserted.begin() + static_cast<long>(at), {0xFF, static_cast<uint8_t>(marker)});
                importChecked(inserted, std::string(options) + " marker at " + std::to_string(at));
            }
        }
    }
}

namespace {

// Entropy-coded bits ("0" and "1" characters), padded with 1 bits and with
// a 00 stuffed after every FF.
Bytes packBits(const std::string &bits) {
    Bytes out;
    std::string padded = bits + std::string((8 - bits.size() % 8) % 8, '1');
    for (size_t i = 0; i < padded.size(); i += 8) {
        const auto byte = static_cast<uint8_t>(std::stoi(padded.substr(i, 8), nullptr, 2));
        out.push_back(byte);
        if (byte == 0xFF) out.push_back(0);
    }
    return out;
}

// A flat mid-grey frame of the given size and luminance sampling (chroma
// 1x1), coded with the standard tables.
Bytes flatJpeg(int width, int height, int h, int v, bool colour) {
    using namespace dectest;
    // A one-component scan has one block per MCU whatever the sampling.
    const int mcuW = colour ? 8 * h : 8, mcuH = colour ? 8 * v : 8;
    const long mcus = long((width + mcuW - 1) / mcuW) * ((height + mcuH - 1) / mcuH);
    std::string mcu;
    for (int b = 0; b < (colour ? h * v : 1); ++b) mcu += "001010";  // DC 0, end of block
    if (colour) mcu += "00000000";                                    // chroma: DC 0, end of block, twice
    std::string bits;
    for (long m = 0; m < mcus; ++m) bits += mcu;
    const Bytes frame = colour ? frameHeader(width, height, {{1, h, v, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}})
                               : frameHeader(width, height, {{1, h, v, 0}});
    const Bytes scan = colour ? scanHeader({{1, 0x00}, {2, 0x11}, {3, 0x11}}) : scanHeader({{1, 0x00}});
    return concat({{0xFF, 0xD8}, quantTable(0), frame, scan, packBits(bits), {0xFF, 0xD9}});
}

}  // namespace

TEST(DecoderRobust, LargestFramesDecodeWithoutWrapping) {
    const struct {
        int width, height, h, v;
        bool colour;
    } cases[] = {{65535, 17, 1, 1, false}, {65535, 17, 2, 2, true}, {65535, 9, 4, 1, true}, {9, 65535, 2, 2, true},
                 {65535, 8, 2, 2, false}};
    for (const auto &c : cases) {
        TempDir dir;
        writeFile(dir.file("in.jpg"), flatJpeg(c.width, c.height, c.h, c.v, c.colour));
        ASSERT_EQ(iImportJPG(dir.file("in.jpg").c_str(), dir.file("out.bmp").c_str()), 0) << c.width << "x" << c.height;
        const Image image = parseBmp(readFile(dir.file("out.bmp")));
        ASSERT_EQ(image.width, uint32_t(c.width));
        ASSERT_EQ(image.height, uint32_t(c.height));
        for (const uint8_t p : image.pixels) ASSERT_EQ(p, 128) << c.width << "x" << c.height;
    }
}

TEST(DecoderRobust, ImportOverItsOwnInput) {
    TempDir dir;
    const std::string path = dir.file("photo.jpg");
    writeFile(path, dectest::greyBlockJpeg());
    EXPECT_EQ(iImportJPG(path.c_str(), path.c_str()), 0);
    const Bytes bmp = readFile(path);
    ASSERT_GE(bmp.size(), 2u);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"photo.jpg"});
}
