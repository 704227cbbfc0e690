// A Windows host of JPG.dll: loads the library with LoadLibraryA, finds each
// export by name and by ordinal, and drives every status of every export
// through the system's own file, memory and GDI functions.
//
// usage: host_test [--fuzz DIR] JPG.dll DATA_DIR [GROUP...]
//
// The checks come in groups, each needing the parts of the library it names:
//   exports   module, export table, WEP, iDecode_Init       (library frame)
//   decoder   iImportJPG 0/1/2/3                            (decoder)
//   encoder   iExportJPG 0/1, the preview segment's header  (encoder)
//   roundtrip export then import gives the picture back     (encoder + decoder)
//   preview   iRead_APP1 0/-1                               (preview reader; picture checks need the encoder)
//   display   iShowMeta 0/1 into a DIB section              (display)
//   corpus    the fuzzing seeds and regressions of DIR       (all of them)
// Without GROUP arguments every group runs. Exit status 0 when every check
// passed, 1 otherwise.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "jpg.h"
#include "jpg_codec.h"
#include "test_images.h"

namespace {

using testutil::Bytes;

// ---- Checks -----------------------------------------------------------------

int failures = 0;
int passes = 0;
std::string group;

bool check(bool ok, const std::string &what, int line) {
    if (ok) {
        ++passes;
    } else {
        ++failures;
        std::printf("FAIL [%s] line %d: %s\n", group.c_str(), line, what.c_str());
    }
    return ok;
}
// A measured figure, printed with the results.
void note(const std::string &text) { std::printf("  [%s] %s\n", group.c_str(), text.c_str()); }

#define CHECK(cond) check((cond), #cond, __LINE__)
#define CHECK_MSG(cond, msg) check((cond), std::string(#cond) + " -- " + (msg), __LINE__)
#define CHECK_EQ(a, b) \
    check((a) == (b), std::string(#a " == " #b " (") + std::to_string(a) + " vs " + std::to_string(b) + ")", __LINE__)

// ---- The library ------------------------------------------------------------

using WepFn = int32_t(WINAPI *)(int32_t);
using DecodeInitFn = int32_t(WINAPI *)(DecoderState *);
using ExportFn = int32_t(WINAPI *)(const char *, const char *, int32_t, int32_t);
using ImportFn = int32_t(WINAPI *)(const char *, const char *);
using ReadApp1Fn = int32_t(WINAPI *)(HGLOBAL, HGLOBAL);
using ShowMetaFn = int32_t(WINAPI *)(int32_t, HDC, const char *);

struct Library {
    HMODULE module = nullptr;
    WepFn wep = nullptr;
    DecodeInitFn decodeInit = nullptr;
    ExportFn exportJpg = nullptr;
    ImportFn importJpg = nullptr;
    ReadApp1Fn readApp1 = nullptr;
    ShowMetaFn showMeta = nullptr;
} lib;

const char *const kExportNames[6] = {"WEP", "iDecode_Init", "iExportJPG", "iImportJPG", "iRead_APP1", "iShowMeta"};

template <typename Fn>
Fn exportByName(const char *name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(lib.module, name)));
}

// ---- Files ------------------------------------------------------------------

std::string workDir;
std::string dataDir;

std::string work(const std::string &name) { return workDir + "\\" + name; }

Bytes readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const std::string &path, const Bytes &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool fileExists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Calls `visit` with the name of every file (not folder) in `dir`.
template <typename Visit>
void forEachFile(const std::string &dir, Visit visit) {
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) visit(std::string(found.cFileName));
    } while (FindNextFileA(h, &found));
    FindClose(h);
}

// Files left in the directory (temporary files of a failed call would show
// up here).
int filesIn(const std::string &dir) {
    int count = 0;
    forEachFile(dir, [&](const std::string &) { ++count; });
    return count;
}

// Deletes every file in the work directory; the number that could not be
// deleted. Windows refuses to delete a file that a handle still holds, so 0
// means the calls closed every input and output file.
int deleteWorkFiles() {
    int held = 0;
    forEachFile(workDir, [&](const std::string &name) {
        if (!DeleteFileA(work(name).c_str())) {
            std::printf("  [%s] still held: %s\n", group.c_str(), name.c_str());
            ++held;
        }
    });
    return held;
}

void clearWorkDir() {
    forEachFile(workDir, [](const std::string &name) { DeleteFileA(work(name).c_str()); });
}

uint32_t le32(const Bytes &b, size_t at) {
    return at + 4 <= b.size() ? static_cast<uint32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
                                                      (static_cast<uint32_t>(b[at + 3]) << 24))
                              : 0;
}
uint16_t le16(const Bytes &b, size_t at) {
    return at + 2 <= b.size() ? static_cast<uint16_t>(b[at] | (b[at + 1] << 8)) : 0;
}
// ---- Pictures ---------------------------------------------------------------
// (tests/test_images.h: the builders and parsers the POSIX tests use too)

using testutil::Difference;
using testutil::Image;
using Picture = testutil::Image;

// A smooth picture with a few hard edges.
Picture makePicture(int width, int height, int channels) {
    Picture p;
    p.width = static_cast<uint32_t>(width);
    p.height = static_cast<uint32_t>(height);
    p.channels = static_cast<uint32_t>(channels);
    p.pixels.resize(static_cast<size_t>(width) * height * channels);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t *px = &p.pixels[(static_cast<size_t>(y) * width + x) * channels];
            int r = 40 + 170 * x / std::max(1, width - 1);
            int g = 30 + 180 * y / std::max(1, height - 1);
            int b = 128 + static_cast<int>(60 * std::sin((x + 2 * y) / 9.0));
            if (x > width / 3 && x < width / 2 && y > height / 4 && y < height / 2) r = 230, g = 30, b = 40;
            if (channels == 1) {
                px[0] = static_cast<uint8_t>((r * 77 + g * 150 + b * 29) >> 8);
            } else {
                px[0] = static_cast<uint8_t>(r);
                px[1] = static_cast<uint8_t>(g);
                px[2] = static_cast<uint8_t>(b);
            }
        }
    }
    return p;
}

Bytes bmpFile(const Picture &p, int bits, const Bytes &palette = {}) {
    return testutil::bmpBytes(p, static_cast<uint32_t>(bits), palette);
}

Picture parseLibraryBmp(const Bytes &b) { return testutil::parseBmp(b); }

using testutil::compare;
using testutil::describe;
using testutil::parsePnm;

// ---- Memory blocks ----------------------------------------------------------

// A global block made the way a host makes one, freed at scope end.
struct HostBlock {
    HGLOBAL handle;
    explicit HostBlock(size_t bytes) : handle(GlobalAlloc(GHND, bytes)) {}
    ~HostBlock() {
        if (handle) GlobalFree(handle);
    }
    HostBlock(const HostBlock &) = delete;
    HostBlock &operator=(const HostBlock &) = delete;
    void fill(const Bytes &bytes) {
        auto *p = static_cast<uint8_t *>(GlobalLock(handle));
        std::memcpy(p, bytes.data(), std::min(bytes.size(), static_cast<size_t>(GlobalSize(handle))));
        GlobalUnlock(handle);
    }
    Bytes contents() const {
        const auto *p = static_cast<const uint8_t *>(GlobalLock(handle));
        Bytes out(p, p + GlobalSize(handle));
        GlobalUnlock(handle);
        return out;
    }
    // The lock count: 0 once every lock has been undone.
    UINT lockCount() const { return GlobalFlags(handle) & GMEM_LOCKCOUNT; }
};

// =============================================================================
// exports: the module and its table, WEP, iDecode_Init (library frame)
// =============================================================================

void exportsGroup() {
    for (int i = 0; i < 6; ++i) {
        FARPROC byName = GetProcAddress(lib.module, kExportNames[i]);
        FARPROC byOrdinal = GetProcAddress(lib.module, MAKEINTRESOURCEA(i + 1));
        CHECK_MSG(byName != nullptr, kExportNames[i]);
        CHECK_MSG(byName == byOrdinal, std::string(kExportNames[i]) + " has ordinal " + std::to_string(i + 1));
    }
    CHECK(GetProcAddress(lib.module, MAKEINTRESOURCEA(7)) == nullptr);
    CHECK(GetProcAddress(lib.module, "_WEP@4") == nullptr);
    CHECK(GetProcAddress(lib.module, "WEP@4") == nullptr);

    CHECK_EQ(lib.wep(0), 1);
    CHECK_EQ(lib.wep(-12345), 1);

    DecoderState state;
    std::memset(&state, 0xCD, sizeof state);
    CHECK_EQ(lib.decodeInit(&state), 0);
    for (int t = 0; t < 4; ++t) {
        for (HGLOBAL h : {state.dcTables[t], state.acTables[t]}) {
            if (!CHECK(h != nullptr)) continue;
            CHECK(GlobalSize(h) >= sizeof(HuffmanTableBlock));
            CHECK_EQ(GlobalFlags(h) & GMEM_LOCKCOUNT, 0u);
            const auto *p = static_cast<const uint8_t *>(GlobalLock(h));
            bool zero = p != nullptr;
            for (size_t i = 0; zero && i < sizeof(HuffmanTableBlock); ++i) zero = p[i] == 0;
            GlobalUnlock(h);
            CHECK_MSG(zero, "table blocks are zero-filled");
            // The caller owns the blocks: they are ordinary global blocks.
            CHECK(GlobalFree(h) == nullptr);
        }
    }
    CHECK_EQ(state.maxH, 1);
    CHECK_EQ(state.maxV, 1);
    CHECK_EQ(state.restartInterval, 0);
    CHECK_EQ(state.restartsToGo, 0);
    CHECK_EQ(state.endOfData, 0);
    CHECK_EQ(state.bitCount, 0);
}

// =============================================================================
// decoder: iImportJPG 0, 1, 2, 3
// =============================================================================

const char *const kJpegFiles[] = {"grey", "h1v1", "h2v1", "h2v2_restart", "h1v2"};

void decoderGroup() {
    for (const char *name : kJpegFiles) {
        const std::string jpeg = dataDir + "\\" + name + ".jpg";
        const std::string bmp = work(std::string(name) + ".bmp");
        CHECK_MSG(lib.importJpg(jpeg.c_str(), bmp.c_str()) == 0, name);
        const Picture got = parseLibraryBmp(readFile(bmp));
        const Picture want = parsePnm(readFile(dataDir + "\\" + name + ".pnm"));
        CHECK_MSG(got.width == want.width && got.height == want.height && got.channels == want.channels,
                  std::string(name) + ": size and depth");
        // The reference is djpeg's integer decode; colour conversion and
        // rounding differ slightly, row order or channel mix-ups do not pass.
        const Difference d = compare(got, want);
        CHECK_MSG(d.meanAbs <= 2.0 && d.maxAbs <= 24, std::string(name) + ": " + describe(d));
        note(std::string(name) + " against djpeg: " + describe(d));
        if (std::strcmp(name, "grey") == 0) {
            const Bytes b = readFile(bmp);
            CHECK(b.size() >= 1078 && le32(b, 10) == 1078 && le32(b, 46) == 256);
            CHECK(b.size() >= 1078 && b[54 + 4 * 200] == 200 && b[54 + 4 * 200 + 3] == 0);
        }
    }

    // 1: not FF D8 at the start (a BMP file; a missing file); no output made.
    const std::string bmpInput = work("input.bmp");
    writeFile(bmpInput, bmpFile(makePicture(8, 8, 3), 24));
    const std::string out1 = work("status1.bmp");
    CHECK_EQ(lib.importJpg(bmpInput.c_str(), out1.c_str()), 1);
    CHECK(!fileExists(out1));
    CHECK_EQ(lib.importJpg(work("missing.jpg").c_str(), out1.c_str()), 1);
    CHECK(!fileExists(out1));

    // 2: sample precision 12 in the frame header; no output made.
    Bytes jpeg = readFile(dataDir + "\\grey.jpg");
    size_t sof = 0;
    for (size_t i = 2; i + 4 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
            sof = i;
            break;
        }
    }
    if (CHECK(sof != 0)) {
        jpeg[sof + 4] = 12;
        const std::string precision = work("precision12.jpg");
        writeFile(precision, jpeg);
        const std::string out2 = work("status2.bmp");
        CHECK_EQ(lib.importJpg(precision.c_str(), out2.c_str()), 2);
        CHECK(!fileExists(out2));
    }

    // 3: the data does not end at FF D9; the BMP is written all the same.
    Bytes cut = readFile(dataDir + "\\h2v1.jpg");
    if (CHECK(cut.size() > 2 && cut[cut.size() - 2] == 0xFF && cut[cut.size() - 1] == 0xD9)) {
        cut.resize(cut.size() - 2);
        const std::string noEoi = work("no_eoi.jpg");
        writeFile(noEoi, cut);
        const std::string out3 = work("status3.bmp");
        CHECK_EQ(lib.importJpg(noEoi.c_str(), out3.c_str()), 3);
        const Picture got = parseLibraryBmp(readFile(out3));
        CHECK(got.width == 45 && got.height == 30 && got.channels == 3);
    }
    // Only the inputs and the written files are left: no temporary files.
    CHECK_EQ(filesIn(workDir), 9);
    CHECK_EQ(deleteWorkFiles(), 0);
}

// =============================================================================
// encoder: iExportJPG 0, 1 and the file it writes
// =============================================================================

void encoderGroup() {
    struct Source {
        const char *name;
        int channels;
        int bits;
    };
    const Source sources[] = {{"grey8", 1, 8}, {"colour24", 3, 24}, {"colour32", 3, 32}};
    for (const Source &s : sources) {
        const std::string bmp = work(std::string(s.name) + ".bmp");
        writeFile(bmp, bmpFile(makePicture(37, 21, s.channels), s.bits));
        for (int layout : {1, 0, 2}) {
            const std::string jpeg = work(std::string(s.name) + "_" + std::to_string(layout) + ".jpg");
            CHECK_MSG(lib.exportJpg(bmp.c_str(), jpeg.c_str(), layout, 3) == 0, s.name);
            const Bytes b = readFile(jpeg);
            if (!CHECK_MSG(b.size() > 5120, s.name)) continue;
            CHECK(b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF && b[3] == 0xE1);
            CHECK(b[4] == 0x13 && b[5] == 0xFC);
            CHECK(std::memcmp(&b[6], "TALVIRQSD417", 12) == 0);
            const uint8_t want[3][2] = {{0x00, 0x00}, {0x00, 0x01}, {0x02, 0x00}};
            CHECK_MSG(b[18] == want[layout][0] && b[19] == want[layout][1], "layout " + std::to_string(layout));
            CHECK(b[5120] == 0xFF && b[5121] == 0xE0);
            CHECK(b[b.size() - 2] == 0xFF && b[b.size() - 1] == 0xD9);
            // The frame header names the source's component count.
            for (size_t i = 5120; i + 9 < b.size(); ++i) {
                if (b[i] == 0xFF && b[i + 1] == 0xC0) {
                    CHECK_MSG(b[i + 4] == 8 && (b[i + 5] << 8 | b[i + 6]) == 21 && (b[i + 7] << 8 | b[i + 8]) == 37,
                              "frame size");
                    CHECK_EQ(b[i + 9], s.channels);
                    break;
                }
            }
        }
    }

    // 1: not "BM"; no output made. A missing source gives 1 as well.
    const std::string notBmp = work("not_bmp.bmp");
    writeFile(notBmp, readFile(dataDir + "\\grey.jpg"));
    const std::string out = work("status1.jpg");
    CHECK_EQ(lib.exportJpg(notBmp.c_str(), out.c_str(), 1, 3), 1);
    CHECK(!fileExists(out));
    CHECK_EQ(lib.exportJpg(work("missing.bmp").c_str(), out.c_str(), 1, 3), 1);
    CHECK(!fileExists(out));
    CHECK_EQ(filesIn(workDir), 3 + 9 + 1);
    CHECK_EQ(deleteWorkFiles(), 0);
}

// =============================================================================
// roundtrip: iExportJPG then iImportJPG (encoder + decoder)
// =============================================================================

void roundtripGroup() {
    for (int channels : {1, 3}) {
        const Picture picture = makePicture(61, 35, channels);
        const std::string bmp = work("source.bmp");
        const std::string jpeg = work("roundtrip.jpg");
        const std::string back = work("back.bmp");
        writeFile(bmp, bmpFile(picture, channels == 1 ? 8 : 24));
        CHECK_EQ(lib.exportJpg(bmp.c_str(), jpeg.c_str(), 1, 3), 0);
        CHECK_EQ(lib.importJpg(jpeg.c_str(), back.c_str()), 0);
        const Difference d = compare(parseLibraryBmp(readFile(back)), picture);
        // Standard tables; chroma at half width blurs the red square's edges.
        // A flipped, shifted or channel-swapped picture is far below these.
        CHECK_MSG(d.psnr > (channels == 1 ? 38.0 : 27.0), "channels " + std::to_string(channels) + ": " + describe(d));
        note("round trip, " + std::to_string(channels) + " channel(s): " + describe(d));
    }

    // Outputs are created new (CREATE_NEW) under names nobody can foresee:
    // files under the names the temporary copies once had (the output's name
    // and .part0 to .part9) stay as they are, and no copy is left behind.
    const std::string bmp = work("source.bmp");
    const std::string jpeg = work("roundtrip.jpg");
    const std::string back = work("back.bmp");
    const Bytes wantJpeg = readFile(jpeg);
    const Bytes wantBack = readFile(back);
    DeleteFileA(jpeg.c_str());
    DeleteFileA(back.c_str());
    for (const std::string &out : {jpeg, back})
        for (uint8_t n = 0; n <= 9; ++n) writeFile(out + ".part" + std::to_string(n), {n});
    const int planted = filesIn(workDir);
    for (int round = 0; round < 2; ++round) {  // a new output, then one replacing it
        CHECK_EQ(lib.exportJpg(bmp.c_str(), jpeg.c_str(), 1, 3), 0);
        CHECK_EQ(lib.importJpg(jpeg.c_str(), back.c_str()), 0);
        CHECK(readFile(jpeg) == wantJpeg);
        CHECK(readFile(back) == wantBack);
        CHECK_EQ(filesIn(workDir), planted + 2);
    }
    for (const std::string &out : {jpeg, back})
        for (uint8_t n = 0; n <= 9; ++n) CHECK(readFile(out + ".part" + std::to_string(n)) == Bytes{n});
    CHECK_EQ(deleteWorkFiles(), 0);
}

// =============================================================================
// preview: iRead_APP1 0, -1
// =============================================================================

constexpr size_t kSegmentBytes = 5120;
constexpr size_t kDibBytes = 40 + 80 * 60 * 3;

void checkDibHeader(const Bytes &dib) {
    CHECK_EQ(le32(dib, 0), 40u);
    CHECK_EQ(le32(dib, 4), 80u);
    CHECK_EQ(le32(dib, 8), 60u);
    CHECK_EQ(le16(dib, 12), 1);
    CHECK_EQ(le16(dib, 14), 24);
    CHECK_EQ(le32(dib, 16), 0u);
    CHECK_EQ(le32(dib, 20), 14400u);
}

void previewGroup() {
    // A hand-made segment: statuses and header need no encoder.
    Bytes segment(kSegmentBytes, 0);
    const uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE1, 0x13, 0xFC};
    std::memcpy(segment.data(), head, sizeof head);
    std::memcpy(&segment[6], "TALVIRQSD417", 12);
    struct Case {
        uint8_t tag[2];
        int32_t status;
    };
    const Case cases[] = {{{0, 1}, 0}, {{0, 0}, 0}, {{1, 0}, -1}, {{0, 2}, -1}, {{0xFF, 0xFF}, -1}};
    for (const Case &c : cases) {
        segment[18] = c.tag[0];
        segment[19] = c.tag[1];
        HostBlock seg(kSegmentBytes);
        HostBlock dib(kDibBytes);
        seg.fill(segment);
        Bytes sentinel(kDibBytes, 0xA5);
        dib.fill(sentinel);
        const std::string tag = "tag " + std::to_string(c.tag[0]) + " " + std::to_string(c.tag[1]);
        CHECK_MSG(lib.readApp1(seg.handle, dib.handle) == c.status, tag);
        CHECK_MSG(seg.lockCount() == 0 && dib.lockCount() == 0, tag + ": blocks unlocked");
        CHECK_MSG(seg.contents() == segment, tag + ": segment untouched");
        const Bytes got = dib.contents();
        checkDibHeader(got);
        if (c.status == -1) {
            CHECK_MSG(std::equal(got.begin() + 40, got.end(), sentinel.begin() + 40), tag + ": pixels untouched");
        } else {
            CHECK_MSG(!std::equal(got.begin() + 40, got.end(), sentinel.begin() + 40), tag + ": pixels written");
        }
    }

    // The preview of an exported file (needs the encoder): a 640 x 480 grey
    // picture, dark on the left, bright on the right.
    Picture picture{640, 480, 1, Bytes(640 * 480)};
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) picture.pixels[static_cast<size_t>(y) * 640 + x] = x < 320 ? 40 : 220;
    const std::string bmp = work("preview.bmp");
    const std::string jpeg = work("preview.jpg");
    writeFile(bmp, bmpFile(picture, 8));
    if (!CHECK_EQ(lib.exportJpg(bmp.c_str(), jpeg.c_str(), 1, 3), 0)) return;
    Bytes file = readFile(jpeg);
    file.resize(kSegmentBytes);
    HostBlock seg(kSegmentBytes);
    HostBlock dib(kDibBytes);
    seg.fill(file);
    CHECK_EQ(lib.readApp1(seg.handle, dib.handle), 0);
    const Bytes got = dib.contents();
    checkDibHeader(got);
    // The top row of the picture is the last row of the bottom-up DIB.
    const uint8_t *topLeft = &got[40 + 59 * 240];
    const uint8_t *topRight = &got[40 + 59 * 240 + 79 * 3];
    const uint8_t *bottomRight = &got[40 + 79 * 3];
    CHECK_MSG(topLeft[0] + 60 < topRight[0], "left darker than right: " + std::to_string(topLeft[0]) + " vs " +
                                                 std::to_string(topRight[0]));
    CHECK_MSG(std::abs(topRight[0] - bottomRight[0]) < 16, "uniform right half");
    CHECK_MSG(std::abs(topRight[0] - topRight[2]) < 16 && std::abs(topRight[1] - topRight[2]) < 16, "grey");
}

// =============================================================================
// display: iShowMeta 0, 1 into a memory DC holding a DIB section
// =============================================================================

// A 32-bit top-down DIB section selected into a memory DC, with a palette of
// the host's own selected before the call.
struct Canvas {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ oldBitmap = nullptr;
    HPALETTE palette = nullptr;
    HPALETTE oldPalette = nullptr;
    uint32_t *bits = nullptr;
    int width, height;

    Canvas(int w, int h) : width(w), height(h) {
        dc = CreateCompatibleDC(nullptr);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = -h;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void *pixels = nullptr;
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
        bits = static_cast<uint32_t *>(pixels);
        oldBitmap = SelectObject(dc, bitmap);
        std::fill(bits, bits + static_cast<size_t>(w) * h, 0x00123456u);
        struct {
            WORD version, count;
            PALETTEENTRY entries[2];
        } logical = {0x300, 2, {{1, 2, 3, 0}, {4, 5, 6, 0}}};
        palette = CreatePalette(reinterpret_cast<LOGPALETTE *>(&logical));
        oldPalette = SelectPalette(dc, palette, FALSE);
    }
    ~Canvas() {
        SelectPalette(dc, oldPalette, FALSE);
        DeleteObject(palette);
        SelectObject(dc, oldBitmap);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    // R, G, B of the pixel at (x, y), as 0xRRGGBB.
    uint32_t rgb(int x, int y) const { return bits[static_cast<size_t>(y) * width + x] & 0xFFFFFFu; }
    bool untouched() const {
        for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i)
            if (bits[i] != 0x00123456u) return false;
        return true;
    }
};

// Draws `file` into a canvas larger than the picture and compares every
// pixel with `expected(x, y)` (0xRRGGBB); outside the picture nothing changes.
void drawAndCompare(const std::string &label, const Bytes &file, int width, int height,
                    const std::function<uint32_t(int, int)> &expected) {
    const std::string path = work(label + ".bmp");
    writeFile(path, file);
    Canvas canvas(width + 3, height + 2);
    GdiFlush();
    CHECK_MSG(lib.showMeta(0, canvas.dc, path.c_str()) == 0, label);
    GdiFlush();
    CHECK_MSG(GetCurrentObject(canvas.dc, OBJ_PAL) == canvas.palette, label + ": the host's palette is selected again");
    int wrong = 0;
    std::string first;
    for (int y = 0; y < canvas.height; ++y) {
        for (int x = 0; x < canvas.width; ++x) {
            const uint32_t want = x < width && y < height ? expected(x, y) : 0x123456u;
            if (canvas.rgb(x, y) != want && wrong++ == 0) {
                char text[96];
                std::snprintf(text, sizeof text, "(%d, %d) is %06X, expected %06X", x, y,
                              static_cast<unsigned>(canvas.rgb(x, y)), static_cast<unsigned>(want));
                first = text;
            }
        }
    }
    CHECK_MSG(wrong == 0, label + ": " + std::to_string(wrong) + " pixels differ, first " + first);
}

uint32_t rgbOf(uint8_t r, uint8_t g, uint8_t b) { return (static_cast<uint32_t>(r) << 16) | (g << 8) | b; }

void displayGroup() {
    // 8-bit grey ramp, odd width (row padding), the first stored row on top.
    const Picture grey = makePicture(13, 7, 1);
    drawAndCompare("grey8", bmpFile(grey, 8), 13, 7, [&](int x, int y) {
        const uint8_t v = grey.at(x, y)[0];
        return rgbOf(v, v, v);
    });

    // 8-bit with a 16-entry colour table (biClrUsed 16).
    Bytes palette(16 * 4, 0);
    for (int i = 0; i < 16; ++i) {
        palette[4 * i] = static_cast<uint8_t>(255 - 16 * i);   // blue
        palette[4 * i + 1] = static_cast<uint8_t>(i * 7 + 3);  // green
        palette[4 * i + 2] = static_cast<uint8_t>(16 * i);     // red
    }
    Picture indexed{11, 6, 1, Bytes(66)};
    for (int i = 0; i < 66; ++i) indexed.pixels[i] = static_cast<uint8_t>((i * 5) % 16);
    drawAndCompare("palette16", bmpFile(indexed, 8, palette), 11, 6, [&](int x, int y) {
        const uint8_t i = indexed.at(x, y)[0];
        return rgbOf(palette[4 * i + 2], palette[4 * i + 1], palette[4 * i]);
    });

    // 24-bit.
    const Picture colour = makePicture(10, 9, 3);
    drawAndCompare("colour24", bmpFile(colour, 24), 10, 9, [&](int x, int y) {
        const uint8_t *p = colour.at(x, y);
        return rgbOf(p[0], p[1], p[2]);
    });

    // No rows: nothing drawn, status 0.
    drawAndCompare("empty", bmpFile(Picture{5, 0, 3, {}}, 24), 0, 0, [](int, int) { return 0u; });

    // 1: a JPEG file; nothing drawn, the host's palette stays.
    {
        Canvas canvas(8, 8);
        const std::string jpeg = dataDir + "\\grey.jpg";
        CHECK_EQ(lib.showMeta(0, canvas.dc, jpeg.c_str()), 1);
        GdiFlush();
        CHECK(canvas.untouched());
        CHECK(GetCurrentObject(canvas.dc, OBJ_PAL) == canvas.palette);
        CHECK_EQ(lib.showMeta(0, canvas.dc, work("missing.bmp").c_str()), 1);
        CHECK(canvas.untouched());
    }

    // Every GDI object made by a call is gone again. The process's GDI object
    // table is filled with bitmaps until no more can be made, then 3,000 are
    // freed: 4,000 calls that each left an object behind would use that room
    // up, and the drawing after them would fail.
    std::vector<HBITMAP> fillers;
    {
        Canvas canvas(4, 4);
        const std::string path = work("tiny.bmp");
        writeFile(path, bmpFile(makePicture(2, 2, 3), 24));
        for (HBITMAP b; fillers.size() < 200000 && (b = CreateBitmap(1, 1, 1, 1, nullptr)) != nullptr;)
            fillers.push_back(b);
        CHECK_MSG(fillers.size() > 3000 && fillers.size() < 200000, "the table has a limit");
        note("GDI objects the process could still make: " + std::to_string(fillers.size()));
        for (size_t i = 0; i < 3000 && !fillers.empty(); ++i) {
            DeleteObject(fillers.back());
            fillers.pop_back();
        }
        int failedCalls = 0;
        const DWORD start = GetTickCount();
        for (int i = 0; i < 4000; ++i) failedCalls += lib.showMeta(0, canvas.dc, path.c_str()) != 0;
        note("4000 calls in " + std::to_string(GetTickCount() - start) + " ms");
        CHECK_EQ(failedCalls, 0);
    }
    drawAndCompare("after_many_calls", bmpFile(colour, 24), 10, 9, [&](int x, int y) {
        const uint8_t *p = colour.at(x, y);
        return rgbOf(p[0], p[1], p[2]);
    });
    for (HBITMAP b : fillers) DeleteObject(b);
    CHECK_EQ(deleteWorkFiles(), 0);
}

// =============================================================================
// corpus: the fuzzing seeds and the inputs that once failed, through every
// export on the system's own files, memory and GDI (all parts)
// =============================================================================

std::string fuzzDir;  // the fuzz/ directory of the sources; empty: group skipped

std::vector<std::string> filesOf(const std::string &dir) {
    std::vector<std::string> paths;
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return paths;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) paths.push_back(dir + "\\" + found.cFileName);
    } while (FindNextFileA(h, &found));
    FindClose(h);
    return paths;
}

void corpusGroup() {
    if (fuzzDir.empty()) {
        note("no fuzz directory given (--fuzz DIR): skipped");
        return;
    }
    int inputs = 0;
    // Each input is copied into the work directory, so that afterwards every
    // file there must be deletable (closed).
    auto copyIn = [](const std::string &from, const char *name) {
        const std::string to = work(name);
        writeFile(to, readFile(from));
        return to;
    };
    for (const char *dir : {"corpus\\import", "corpus\\headers"}) {
        for (const std::string &file : filesOf(fuzzDir + "\\" + dir)) {
            ++inputs;
            const std::string in = copyIn(file, "in.jpg");
            const std::string out = work("out.bmp");
            const int32_t status = lib.importJpg(in.c_str(), out.c_str());
            CHECK_MSG(status >= 0 && status <= 3, file);
            CHECK_MSG((status == 1 || status == 2) != fileExists(out), file + ": output only on 0 and 3");
            CHECK_MSG(deleteWorkFiles() == 0, file);
        }
    }
    for (const std::string &file : filesOf(fuzzDir + "\\corpus\\export")) {
        ++inputs;
        const std::string in = copyIn(file, "in.bmp");
        const std::string out = work("out.jpg");
        const int32_t status = lib.exportJpg(in.c_str(), out.c_str(), 1, 3);
        CHECK_MSG(status == 0 || status == 1, file);
        CHECK_MSG((status == 0) == fileExists(out), file + ": output only on 0");
        CHECK_MSG(deleteWorkFiles() == 0, file);
    }
    for (const std::string &file : filesOf(fuzzDir + "\\corpus\\preview")) {
        ++inputs;
        Bytes bytes = readFile(file);
        bytes.resize(kSegmentBytes);
        HostBlock seg(kSegmentBytes);
        HostBlock dib(kDibBytes);
        seg.fill(bytes);
        const int32_t status = lib.readApp1(seg.handle, dib.handle);
        CHECK_MSG(status == 0 || status == -1, file);
        CHECK_MSG(seg.lockCount() == 0 && dib.lockCount() == 0, file);
    }
    for (const char *dir : {"corpus\\show", "regressions\\show"}) {
        for (const std::string &file : filesOf(fuzzDir + "\\" + dir)) {
            ++inputs;
            const std::string in = copyIn(file, "in.bmp");
            Canvas canvas(64, 48);
            const int32_t status = lib.showMeta(0, canvas.dc, in.c_str());
            CHECK_MSG(status == 0 || status == 1, file);
            CHECK_MSG(GetCurrentObject(canvas.dc, OBJ_PAL) == canvas.palette, file + ": the host's palette");
            CHECK_MSG(deleteWorkFiles() == 0, file);
        }
    }
    note(std::to_string(inputs) + " inputs");
    CHECK(inputs > 0);
}

// =============================================================================

// ---- The codec API (jpgcodec.dll beside JPG.dll) ------------------------------

using CodecReadInfoFn = int32_t (*)(const void *, size_t, JpgInfo *, JpgError *);
using CodecDefaultDecodeFn = void (*)(JpgDecodeSettings *);
using CodecDecodeFn = int32_t (*)(const void *, size_t, const JpgDecodeSettings *, void *, size_t, size_t, JpgError *);
using CodecDefaultEncodeFn = void (*)(JpgEncodeSettings *);
using CodecEncodeFn = int32_t (*)(const void *, uint32_t, uint32_t, size_t, const JpgEncodeSettings *, void **,
                                  size_t *, JpgError *);
using CodecFreeFn = void (*)(void *);
using CodecVersionFn = const char *(*)();

std::string codecPath;

// The import's BMP rows without their padding, top first.
Bytes bmpRowsOf(const Bytes &bmp, uint32_t &width, uint32_t &height, uint32_t &channels) {
    width = le32(bmp, 18);
    height = le32(bmp, 22);
    channels = le16(bmp, 28) / 8u;
    const size_t stride = (size_t{width} * channels + 3) & ~size_t{3};
    const size_t offset = le32(bmp, 10);
    Bytes rows;
    for (uint32_t y = 0; y < height && offset + (y + 1) * stride <= bmp.size(); ++y)
        rows.insert(rows.end(), bmp.begin() + offset + y * stride, bmp.begin() + offset + y * stride + width * channels);
    return rows;
}

// The codec API's differential check on Windows: jpgDecode makes the
// import's rows and status, jpgEncode with a level the export's bytes,
// under every kernel set and thread count.
void codecGroup() {
    HMODULE codec = LoadLibraryA(codecPath.c_str());
    if (!CHECK_MSG(codec != nullptr, "LoadLibraryA(" + codecPath + ")")) return;
    const auto fn = [codec](const char *name) { return reinterpret_cast<void *>(GetProcAddress(codec, name)); };
    const auto readInfo = reinterpret_cast<CodecReadInfoFn>(fn("jpgReadInfo"));
    const auto defaultDecode = reinterpret_cast<CodecDefaultDecodeFn>(fn("jpgDefaultDecodeSettings"));
    const auto decode = reinterpret_cast<CodecDecodeFn>(fn("jpgDecode"));
    const auto defaultEncode = reinterpret_cast<CodecDefaultEncodeFn>(fn("jpgDefaultEncodeSettings"));
    const auto encode = reinterpret_cast<CodecEncodeFn>(fn("jpgEncode"));
    const auto freeBlock = reinterpret_cast<CodecFreeFn>(fn("jpgFree"));
    const auto version = reinterpret_cast<CodecVersionFn>(fn("jpgVersion"));
    if (!CHECK(readInfo && defaultDecode && decode && defaultEncode && encode && freeBlock && version)) {
        FreeLibrary(codec);
        return;
    }
    note(std::string("jpgcodec ") + version());
    int decodes = 0, encodes = 0;
    const int32_t kernelSets[] = {JPG_KERNELS_REFERENCE, JPG_KERNELS_PLAIN, JPG_KERNELS_SSE2, JPG_KERNELS_AVX2};
    std::vector<std::string> jpegs;
    if (!fuzzDir.empty()) jpegs = filesOf(fuzzDir + "\\corpus\\import");
    for (const std::string &file : jpegs) {
        const std::string in = work("in.jpg"), out = work("out.bmp");
        const Bytes jpeg = readFile(file);
        writeFile(in, jpeg);
        const int32_t imported = lib.importJpg(in.c_str(), out.c_str());
        if (imported != 0 && imported != 3) {
            deleteWorkFiles();
            continue;
        }
        uint32_t width = 0, height = 0, channels = 0;
        const Bytes rows = bmpRowsOf(readFile(out), width, height, channels);
        deleteWorkFiles();
        for (const int32_t kernels : kernelSets) {
            for (const int32_t threads : {1, 2}) {
                JpgDecodeSettings settings;
                defaultDecode(&settings);
                settings.format = channels == 1 ? JPG_FORMAT_GREY : JPG_FORMAT_BGR;
                settings.kernels = kernels;
                settings.threads = threads;
                Bytes pixels(rows.size());
                JpgError error;
                const int32_t status = decode(jpeg.data(), jpeg.size(), &settings, pixels.data(), size_t{width} * channels,
                                              pixels.size(), &error);
                CHECK_MSG(status == (imported == 0 ? JPG_OK : JPG_WARNING) && pixels == rows,
                          file + ": kernels " + std::to_string(kernels) + ", threads " + std::to_string(threads) +
                              ": status " + std::to_string(status) + " " + error.message);
                ++decodes;
            }
        }
    }
    for (const int channels : {1, 3}) {
        for (const int size : {1, 37, 640}) {
            const Picture picture = makePicture(size, size * 3 / 4 + 1, channels);
            const std::string bmp = work("in.bmp"), jpg = work("out.jpg");
            writeFile(bmp, bmpFile(picture, channels == 1 ? 8 : 24));
            Bytes bgr = picture.pixels;
            if (channels == 3)
                for (size_t i = 0; i < bgr.size(); i += 3) std::swap(bgr[i], bgr[i + 2]);
            for (const int level : {1, 3, 10}) {
                const int layout = level == 3 ? 1 : 0;
                CHECK_EQ(lib.exportJpg(bmp.c_str(), jpg.c_str(), layout, level), 0);
                const Bytes exported = readFile(jpg);
                for (const int32_t kernels : kernelSets) {
                    for (const int32_t threads : {1, 2}) {
                        JpgEncodeSettings settings;
                        defaultEncode(&settings);
                        settings.format = channels == 1 ? JPG_FORMAT_GREY : JPG_FORMAT_BGR;
                        settings.useLevel = 1;
                        settings.level = level;
                        settings.previewLayout = layout;
                        settings.kernels = kernels;
                        settings.threads = threads;
                        void *block = nullptr;
                        size_t bytes = 0;
                        JpgError error;
                        const int32_t status = encode(bgr.data(), picture.width, picture.height,
                                                      size_t{picture.width} * channels, &settings, &block, &bytes, &error);
                        const auto *made = static_cast<const uint8_t *>(block);
                        CHECK_MSG(status == JPG_OK && Bytes(made, made + bytes) == exported,
                                  std::to_string(size) + " x " + std::to_string(channels) + " at level " +
                                      std::to_string(level) + ": kernels " + std::to_string(kernels) + ", threads " +
                                      std::to_string(threads) + ": " + error.message);
                        freeBlock(block);
                        ++encodes;
                    }
                }
            }
            deleteWorkFiles();
        }
    }
    note(std::to_string(decodes) + " decodes equal to the import, " + std::to_string(encodes) +
         " encodes equal to the export");
    CHECK(decodes > 0 && encodes > 0);
    FreeLibrary(codec);
}

struct Group {
    const char *name;
    const char *needs;
    void (*run)();
};

const Group kGroups[] = {
    {"exports", "library frame", exportsGroup},
    {"decoder", "decoder", decoderGroup},
    {"encoder", "encoder", encoderGroup},
    {"roundtrip", "encoder and decoder", roundtripGroup},
    {"preview", "preview reader (picture checks: encoder)", previewGroup},
    {"display", "display", displayGroup},
    {"corpus", "decoder, encoder, preview reader and display", corpusGroup},
    {"codec", "codec API: jpgcodec.dll beside JPG.dll", codecGroup},
};

// Absolute Unix paths (as CTest passes them under Wine) name drive Z:.
std::string windowsPath(std::string path) {
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char &c : path)
        if (c == '/') c = '\\';
    return path;
}

}  // namespace

int main(int argc, char **argv) {
    // --fuzz DIR names the fuzz/ directory of the sources (corpus group).
    if (argc >= 3 && std::strcmp(argv[1], "--fuzz") == 0) {
        fuzzDir = windowsPath(argv[2]);
        argc -= 2;
        argv += 2;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: host_test [--fuzz DIR] JPG.dll DATA_DIR [GROUP...]\n");
        return 2;
    }
    const std::string dllPath = windowsPath(argv[1]);
    const size_t slash = dllPath.find_last_of('\\');
    codecPath = (slash == std::string::npos ? std::string() : dllPath.substr(0, slash + 1)) + "jpgcodec.dll";
    dataDir = windowsPath(argv[2]);

    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    workDir = std::string(temp) + "jpg_host_test_" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(workDir.c_str(), nullptr);

    lib.module = LoadLibraryA(dllPath.c_str());
    if (lib.module == nullptr) {
        std::printf("FAIL: LoadLibraryA(%s) failed, error %lu\n", dllPath.c_str(), GetLastError());
        return 1;
    }
    lib.wep = exportByName<WepFn>("WEP");
    lib.decodeInit = exportByName<DecodeInitFn>("iDecode_Init");
    lib.exportJpg = exportByName<ExportFn>("iExportJPG");
    lib.importJpg = exportByName<ImportFn>("iImportJPG");
    lib.readApp1 = exportByName<ReadApp1Fn>("iRead_APP1");
    lib.showMeta = exportByName<ShowMetaFn>("iShowMeta");
    if (!lib.wep || !lib.decodeInit || !lib.exportJpg || !lib.importJpg || !lib.readApp1 || !lib.showMeta) {
        std::printf("FAIL: an export is missing\n");
        return 1;
    }

    int failedGroups = 0;
    for (const Group &g : kGroups) {
        bool wanted = argc == 3;
        for (int i = 3; i < argc; ++i) wanted = wanted || std::strcmp(argv[i], g.name) == 0;
        if (!wanted) continue;
        group = g.name;
        const int failedBefore = failures;
        const int passedBefore = passes;
        clearWorkDir();
        g.run();
        const int failed = failures - failedBefore;
        std::printf("%-9s %s: %d checks passed, %d failed (needs the %s)\n", g.name, failed ? "FAILED" : "ok",
                    passes - passedBefore, failed, g.needs);
        if (failed) ++failedGroups;
    }
    clearWorkDir();
    RemoveDirectoryA(workDir.c_str());
    FreeLibrary(lib.module);
    std::printf("%d checks passed, %d failed\n", passes, failures);
    return failedGroups == 0 ? 0 : 1;
}
