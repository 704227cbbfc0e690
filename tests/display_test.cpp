// The BMP display on a canvas, the software GDI subset under it, and
// jpgtool show.
#if !defined(_WIN32)

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "base/gdi.h"
#include "jpg.h"
#include "jpg_canvas.h"
#include "test_util.h"

using namespace jpg;
using testutil::Bytes;

namespace {

constexpr uint32_t kUntouched = 0x00123456;

// A BMP file as other programs may write it.
struct BmpSpec {
    int32_t width = 0;
    int32_t height = 0;  // as stored: negative for top-down files
    uint16_t bits = 24;
    std::vector<uint32_t> table;  // 0x00RRGGBB
    uint32_t clrUsed = 0;         // as stored
    uint32_t infoSize = 40;
    uint32_t compression = 0;
    std::vector<Bytes> rows;  // in file order, padded here
};

void put32(Bytes &b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

Bytes makeBmp(const BmpSpec &s) {
    const size_t stride = ((s.bits * static_cast<uint32_t>(s.width) + 31) >> 3) & ~3u;
    const size_t offBits = 14 + s.infoSize + 4 * s.table.size();
    Bytes b(std::max<size_t>(offBits, 54), 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 10, static_cast<uint32_t>(offBits));
    put32(b, 14, s.infoSize);
    put32(b, 18, static_cast<uint32_t>(s.width));
    put32(b, 22, static_cast<uint32_t>(s.height));
    b[26] = 1;
    b[28] = static_cast<uint8_t>(s.bits);
    put32(b, 30, s.compression);
    put32(b, 46, s.clrUsed);
    b.resize(offBits);  // a header shorter than 40 bytes keeps only its start
    for (size_t i = 0; i < s.table.size(); ++i) put32(b, 14 + s.infoSize + 4 * i, s.table[i]);
    for (Bytes row : s.rows) {
        row.resize(stride, 0);
        b.insert(b.end(), row.begin(), row.end());
    }
    return b;
}

struct Drawn {
    int32_t status = 0;
    std::vector<uint32_t> pixels;
    uint32_t at(uint32_t x, uint32_t y, uint32_t width) const { return pixels[y * width + x]; }
};

// Draws the file on a fresh canvas and checks that nothing stays held.
Drawn draw(const Bytes &file, uint32_t width, uint32_t height) {
    testutil::TempDir dir;
    testutil::writeFile(dir.file("in.bmp"), file);
    Drawn d;
    d.pixels.assign(static_cast<size_t>(width) * height, kUntouched);
    JpgCanvas canvas{width, height, d.pixels.data()};
    d.status = iShowMeta(0, &canvas, dir.file("in.bmp").c_str());
    EXPECT_EQ(faults::heldGdiObjects(), 0);
    EXPECT_EQ(faults::heldBlocks(), 0);
    EXPECT_EQ(faults::heldFiles(), 0);
    return d;
}

uint32_t rgbOf(const uint8_t *p) { return uint32_t(p[0]) << 16 | p[1] << 8 | p[2]; }

}  // namespace

TEST(Display, ImportedGreyAndColourFilesAreDrawnUpright) {
    for (uint32_t channels : {1u, 3u}) {
        const testutil::Image image = testutil::photoImage(37, 23, channels, 5);
        const Drawn d = draw(testutil::bmpBytes(image), 37, 23);
        ASSERT_EQ(d.status, 0);
        for (uint32_t y = 0; y < 23; ++y)
            for (uint32_t x = 0; x < 37; ++x) {
                const uint8_t *p = image.at(x, y);
                const uint32_t want = channels == 1 ? p[0] * 0x010101u : rgbOf(p);
                ASSERT_EQ(d.at(x, y, 37), want) << x << "," << y;
            }
    }
}

TEST(Display, PalettedFilesOfOneFourAndEightBits) {
    const std::vector<uint32_t> sixteen = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0x123456, 0x808080, 0xFFFFFF, 0xA0B0C0,
                                           0x010203, 0x102030, 0x405060, 0x708090, 0xC0FFEE, 0xBEEF00, 0x00FACE, 0x777777};
    // 8 bits, 16-entry table: values beyond the table draw black.
    BmpSpec eight{19, 2, 8, sixteen, 16, 40, 0, {}};
    Bytes row8(19);
    for (uint8_t x = 0; x < 19; ++x) row8[x] = x < 16 ? 15 - x : (x == 16 ? 16 : 255);
    eight.rows = {row8, Bytes(19, 4)};
    Drawn d = draw(makeBmp(eight), 19, 2);
    ASSERT_EQ(d.status, 0);
    for (uint32_t x = 0; x < 19; ++x) EXPECT_EQ(d.at(x, 0, 19), x < 16 ? sixteen[15 - x] : 0u) << x;
    EXPECT_EQ(d.at(18, 1, 19), 0x123456u);

    // 4 bits, odd width: high nibble first.
    BmpSpec four{7, 1, 4, sixteen, 0, 40, 0, {{0x01, 0x23, 0x45, 0x6F}}};
    d = draw(makeBmp(four), 7, 1);
    for (uint32_t x = 0; x < 7; ++x) EXPECT_EQ(d.at(x, 0, 7), sixteen[x]) << x;

    // 1 bit: most significant bit first, across a byte boundary.
    BmpSpec one{13, 1, 1, {0xFF0000, 0x0000FF}, 0, 40, 0, {{0xA5, 0x80}}};
    d = draw(makeBmp(one), 13, 1);
    const int bitsSet[13] = {1, 0, 1, 0, 0, 1, 0, 1, 1, 0, 0, 0, 0};
    for (uint32_t x = 0; x < 13; ++x) EXPECT_EQ(d.at(x, 0, 13), bitsSet[x] ? 0x0000FFu : 0xFF0000u) << x;
}

TEST(Display, SixteenAndThirtyTwoBitFiles) {
    BmpSpec sixteen{2, 1, 16, {}, 0, 40, 0, {{0x00, 0x7C, 0x1F, 0x00}}};  // 5-5-5 red, blue
    Drawn d = draw(makeBmp(sixteen), 2, 1);
    EXPECT_EQ(d.at(0, 0, 2), 0xFF0000u);
    EXPECT_EQ(d.at(1, 0, 2), 0x0000FFu);
    BmpSpec wide{1, 1, 32, {}, 0, 40, 0, {{0x11, 0x22, 0x33, 0xFF}}};
    EXPECT_EQ(draw(makeBmp(wide), 1, 1).pixels[0], 0x332211u);
}

TEST(Display, RowOrderClippingAndTopDownFiles) {
    BmpSpec three{2, 3, 24, {}, 0, 40, 0, {{1, 2, 3, 1, 2, 3}, {4, 5, 6, 4, 5, 6}, {7, 8, 9, 7, 8, 9}}};
    for (int32_t height : {3, -3}) {
        three.height = height;
        const Drawn d = draw(makeBmp(three), 3, 4);  // a wider and taller canvas
        ASSERT_EQ(d.status, 0);
        EXPECT_EQ(d.at(0, 0, 3), 0x030201u);
        EXPECT_EQ(d.at(1, 1, 3), 0x060504u);
        EXPECT_EQ(d.at(1, 2, 3), 0x090807u);
        EXPECT_EQ(d.at(2, 0, 3), kUntouched);
        EXPECT_EQ(d.at(0, 3, 3), kUntouched);
    }
    // A canvas smaller than the picture shows its top-left corner.
    const testutil::Image image = testutil::photoImage(50, 40, 3, 9);
    const Drawn d = draw(testutil::bmpBytes(image), 20, 10);
    for (uint32_t y = 0; y < 10; ++y)
        for (uint32_t x = 0; x < 20; ++x) ASSERT_EQ(d.at(x, y, 20), rgbOf(image.at(x, y)));

    for (auto [w, h] : {std::pair{4, 0}, {0, 0x7FFFFFFF}}) {
        const Drawn none = draw(makeBmp(BmpSpec{w, h, 24, {}, 0, 40, 0, {}}), 4, 2);
        EXPECT_EQ(none.status, 0);
        EXPECT_EQ(none.pixels, std::vector<uint32_t>(8, kUntouched));
    }
}

TEST(Display, LongInfoHeaderAndShortFile) {
    BmpSpec v5{3, 1, 8, {0x112233, 0x445566, 0x778899}, 3, 124, 0, {{2, 0, 1}}};
    const Drawn d = draw(makeBmp(v5), 3, 1);
    EXPECT_EQ(d.pixels, (std::vector<uint32_t>{0x778899, 0x112233, 0x445566}));

    // A file that ends inside its fourth row draws three rows.
    const testutil::Image image = testutil::photoImage(4, 6, 3, 2);
    Bytes file = testutil::bmpBytes(image);
    file.resize(54 + 3 * 12 + 5);
    const Drawn cut = draw(file, 4, 6);
    EXPECT_EQ(cut.status, 0);
    EXPECT_EQ(cut.at(3, 2, 4), rgbOf(image.at(3, 2)));
    EXPECT_EQ(cut.at(0, 3, 4), kUntouched);
}

TEST(Display, RefusalsAndTheMessageBox) {
    struct Case {
        const char *name;
        Bytes file;
        bool message;
    };
    BmpSpec compressed{4, 4, 8, {}, 0, 40, 1, {}};
    BmpSpec coreHeader{4, 4, 8, {}, 0, 12, 0, {}};
    BmpSpec hugeTable{4, 4, 8, {}, 300, 40, 0, {}};
    BmpSpec twoBits{4, 4, 2, {0, 0, 0, 0}, 0, 40, 0, {{0}}};
    const Case cases[] = {
        {"jpeg", {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0}, true},
        {"empty", {}, true},
        {"compressed", makeBmp(compressed), false},
        {"core header", makeBmp(coreHeader), false},
        {"300 colours", makeBmp(hugeTable), false},
        {"2 bits", makeBmp(twoBits), false},
        {"cut in the header", Bytes{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0}, false},
    };
    for (const Case &c : cases) {
        testing::internal::CaptureStderr();
        const Drawn d = draw(c.file, 4, 4);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(d.status, 1) << c.name;
        EXPECT_EQ(err.find("Not a BMP file \n") != std::string::npos, c.message) << c.name << ": " << err;
        EXPECT_EQ(d.pixels, std::vector<uint32_t>(16, kUntouched)) << c.name;
    }
    JpgCanvas noPixels{4, 4, nullptr};
    EXPECT_EQ(iShowMeta(0, nullptr, "/nonexistent.bmp"), 1);
    EXPECT_EQ(iShowMeta(0, &noPixels, "/nonexistent.bmp"), 1);
    uint32_t one = 0;
    JpgCanvas canvas{1, 1, &one};
    EXPECT_EQ(iShowMeta(0, &canvas, "/nonexistent.bmp"), 1);
    EXPECT_EQ(faults::heldFiles(), 0);
}

TEST(Display, EveryFailureReleasesEverything) {
    const Bytes file = testutil::bmpBytes(testutil::photoImage(6, 5, 1, 3));
    const Drawn good = draw(file, 6, 5);
    for (auto op : {faults::Op::Alloc, faults::Op::Gdi, faults::Op::Open, faults::Op::Read, faults::Op::Seek}) {
        for (int n = 1;; ++n) {
            faults::reset();
            faults::failNth(op, n);
            const Drawn d = draw(file, 6, 5);
            const bool fired = faults::fired();
            faults::reset();
            if (!fired) {
                EXPECT_EQ(d.pixels, good.pixels);
                break;
            }
            // Only a row that cannot be read still leaves the rows before it drawn.
            if (d.status == 0) {
                EXPECT_EQ(op, faults::Op::Read) << n;
            }
        }
    }
}

TEST(Gdi, PaletteIndexesWrapAndValuesBeyondTheTableAreBlack) {
    const LOGPALETTE base{0x300, 3, {{10, 20, 30, 0}}};
    struct {
        LOGPALETTE head;
        PALETTEENTRY more[2];
    } three{base, {{40, 50, 60, 0}, {70, 80, 90, 0}}};
    HPALETTE palette = CreatePalette(&three.head);
    HDC memory = CreateCompatibleDC(nullptr);
    uint32_t canvasPixels[5] = {};
    JpgCanvas canvas{5, 1, canvasPixels};
    HDC target = openTargetDc(&canvas);
    HBITMAP bitmap = CreateCompatibleBitmap(target, 5, 1);
    EXPECT_EQ(faults::heldGdiObjects(), 4);

    struct {
        BITMAPINFOHEADER header;
        uint16_t indexes[4];
    } info{{40, 5, 1, 1, 8, 0, 0, 0, 0, 4, 0}, {0, 1, 2, 4}};
    const uint8_t row[8] = {0, 1, 2, 3, 5};
    const auto *bmi = reinterpret_cast<const BITMAPINFO *>(&info);
    // A fresh memory context names entries of the 20-colour default palette.
    EXPECT_EQ(SetDIBits(memory, bitmap, 0, 1, row, bmi, DIB_PAL_COLORS), 1);
    HGDIOBJ stock = SelectObject(memory, bitmap);
    BitBlt(target, 0, 0, 5, 1, memory, 0, 0, SRCCOPY);
    EXPECT_EQ(canvasPixels[1], 0x800000u);
    EXPECT_EQ(canvasPixels[2], 0x008000u);
    EXPECT_EQ(canvasPixels[3], 0u);  // index 4 wraps to entry 0 of the four it may name
    std::fill(canvasPixels, canvasPixels + 5, kUntouched);

    HPALETTE previous = SelectPalette(memory, palette, FALSE);
    EXPECT_EQ(SelectObject(memory, stock), bitmap);
    EXPECT_EQ(SetDIBits(memory, bitmap, 0, 1, row, bmi, DIB_PAL_COLORS), 1);
    SelectObject(memory, bitmap);
    EXPECT_TRUE(BitBlt(target, -1, 0, 9, 9, memory, 0, 0, SRCCOPY));  // clipped on every side
    EXPECT_EQ(canvasPixels[0], 0x28323Cu);                            // entry 1
    EXPECT_EQ(canvasPixels[2], 0x28323Cu);                            // index 4 wraps to entry 1
    EXPECT_EQ(canvasPixels[3], 0u);                                   // value 5: beyond the table
    EXPECT_EQ(canvasPixels[4], kUntouched);                           // not covered by the source

    // Selected objects cannot be deleted; stale handles are refused.
    EXPECT_FALSE(DeleteObject(bitmap));
    EXPECT_FALSE(DeleteObject(palette));
    SelectObject(memory, stock);
    SelectPalette(memory, previous, FALSE);
    EXPECT_TRUE(DeleteObject(bitmap));
    EXPECT_FALSE(DeleteObject(bitmap));
    EXPECT_EQ(SelectObject(memory, bitmap), nullptr);
    EXPECT_TRUE(DeleteObject(palette));
    EXPECT_TRUE(DeleteDC(memory));
    closeTargetDc(target);
    EXPECT_EQ(faults::heldGdiObjects(), 0);
}

TEST(ShowTool, SavesTheCanvasAsABottomUpFile) {
    testutil::TempDir dir;
    const testutil::Image image = testutil::photoImage(9, 7, 3, 4);
    testutil::writeFile(dir.file("in.bmp"), testutil::bmpBytes(image));
    const std::string tool = JPGTOOL_PATH;
    ASSERT_EQ(testutil::run(tool + " show " + dir.file("in.bmp") + " " + dir.file("out.bmp")), 0);
    const Bytes out = testutil::readFile(dir.file("out.bmp"));
    // Bottom-up: the picture's top row is the last stored row.
    ASSERT_EQ(out.size(), 54u + 7 * 28);
    EXPECT_EQ(rgbOf(&out[54 + 6 * 28]), (uint32_t(image.at(0, 0)[2]) << 16 | image.at(0, 0)[1] << 8 | image.at(0, 0)[0]));

    std::string err;
    testutil::writeFile(dir.file("in.jpg"), Bytes{0xFF, 0xD8, 0xFF, 0xD9});
    EXPECT_EQ(testutil::run(tool + " show " + dir.file("in.jpg") + " " + dir.file("x.bmp"), &err), 1);
    EXPECT_NE(err.find("in.jpg"), std::string::npos);
    EXPECT_FALSE(testutil::fileExists(dir.file("x.bmp")));
}

#endif  // !_WIN32
