// The library frame: word helpers, checked sizes, the platform layer's files,
// blocks and test hooks, output files, and BMP headers.
#include <gtest/gtest.h>

#include <cstring>

#include "base/bmp_file.h"
#include "base/bytes.h"
#include "base/files.h"
#include "base/memory_blocks.h"
#include "base/output_file.h"
#include "base/result.h"
#include "decoder/decoder_state.h"
#include "jpg.h"
#include "test_util.h"

using namespace jpg;
using testutil::Bytes;
using testutil::TempDir;

namespace {

struct FaultGuard {
    FaultGuard() { faults::reset(); }
    ~FaultGuard() { faults::reset(); }
};

}  // namespace

TEST(Frame, WepReturnsOneWhateverItsArgument) {
    EXPECT_EQ(WEP(0), 1);
    EXPECT_EQ(WEP(-1), 1);
    EXPECT_EQ(WEP(0x7FFFFFFF), 1);
}

TEST(Frame, RoundUpWrapsAt16Bits) {
    EXPECT_EQ(roundUp(0, 8), 0);
    EXPECT_EQ(roundUp(1, 8), 8);
    EXPECT_EQ(roundUp(16, 16), 16);
    EXPECT_EQ(roundUp(101, 16), 112);
    // 65,535 + 15 wraps to 14, and 14 - 14 % 16 = 0.
    EXPECT_EQ(roundUp(65535, 16), 0);
    EXPECT_EQ(roundUpWide(65535, 16), 65536u);
}

TEST(Frame, CheckedProductRefusesWhatWouldWrap) {
    uint32_t out = 0;
    EXPECT_TRUE(checkedProduct({65535, 3, 8}, out));
    EXPECT_EQ(out, 65535u * 24);
    EXPECT_TRUE(checkedProduct({0, 1u << 31, 1u << 31}, out));
    EXPECT_EQ(out, 0u);
    EXPECT_FALSE(checkedProduct({65536, 65536}, out));
    EXPECT_FALSE(checkedProduct({1u << 31, 1u << 31, 1u << 31}, out));
    EXPECT_FALSE(checkedProduct({kMaxBlockBytes + 1}, out));
}

TEST(Platform, FilesReadWriteSeekAndCount) {
    TempDir dir;
    const std::string path = dir.file("a.bin");
    const int held = faults::heldFiles();
    HFILE f = _lcreat(path.c_str(), 0);
    ASSERT_NE(f, HFILE_ERROR);
    EXPECT_EQ(faults::heldFiles(), held + 1);
    EXPECT_EQ(_lwrite(f, "hello world", 11), 11u);
    EXPECT_EQ(_llseek(f, 0, FILE_CURRENT), 11);
    EXPECT_EQ(_lclose(f), 0);
    EXPECT_EQ(faults::heldFiles(), held);

    f = _lopen(path.c_str(), OF_READ);
    ASSERT_NE(f, HFILE_ERROR);
    EXPECT_EQ(_llseek(f, 0, FILE_END), 11);
    EXPECT_EQ(_llseek(f, 6, FILE_BEGIN), 6);
    char buf[16] = {};
    EXPECT_EQ(_lread(f, buf, 16), 5u);  // a short read at the end
    EXPECT_STREQ(buf, "world");
    EXPECT_EQ(_lread(f, buf, 4), 0u);
    _lclose(f);
    EXPECT_EQ(_lopen(dir.file("missing").c_str(), OF_READ), HFILE_ERROR);
    EXPECT_EQ(faults::heldFiles(), held);
}

TEST(Platform, BlocksAreZeroFilledAndCounted) {
    const int held = faults::heldBlocks();
    HGLOBAL h = GlobalAlloc(GHND, 1000);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(faults::heldBlocks(), held + 1);
    auto *p = static_cast<uint8_t *>(GlobalLock(h));
    EXPECT_EQ(p, h);  // a handle is the block's address
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(p[i], 0);
    GlobalUnlock(h);
    EXPECT_EQ(GlobalFree(h), nullptr);
    HLOCAL l = LocalAlloc(LHND, 8);
    EXPECT_EQ(faults::heldBlocks(), held + 1);
    LocalFree(l);
    EXPECT_EQ(faults::heldBlocks(), held);
}

TEST(Platform, NthOperationFailsOnce) {
    FaultGuard guard;
    faults::failNth(faults::Op::Alloc, 2);
    Block a, b, c;
    EXPECT_TRUE(a.allocate(4));
    EXPECT_FALSE(b.allocate(4));
    EXPECT_TRUE(c.allocate(4));
    EXPECT_TRUE(faults::fired());
    EXPECT_EQ(faults::calls(faults::Op::Alloc), 3);

    TempDir dir;
    faults::reset();
    faults::failNth(faults::Op::Create, 1);
    EXPECT_EQ(_lcreat(dir.file("x").c_str(), 0), HFILE_ERROR);
    faults::failNth(faults::Op::Write, 1);
    HFILE f = _lcreat(dir.file("x").c_str(), 0);
    EXPECT_EQ(_lwrite(f, "ab", 2), HFILE_ERROR_COUNT);
    faults::failNth(faults::Op::Read, 1);
    EXPECT_EQ(_lread(f, nullptr, 0), HFILE_ERROR_COUNT);
    _lclose(f);
}

TEST(Platform, StringCompareAndMessageBox) {
    EXPECT_EQ(lstrcmpA("JFIF", "JFIF"), 0);
    EXPECT_NE(lstrcmpA("JFXX", "JFIF"), 0);
    testing::internal::CaptureStderr();
    MessageBoxA(nullptr, "Not a BMP file ", nullptr, MB_ICONERROR);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Not a BMP file \n");
}

TEST(OutputFileTest, CommitMovesIntoPlaceAndAbandonLeavesOldFile) {
    TempDir dir;
    const std::string dest = dir.file("out.bin");
    testutil::writeFile(dest, {1, 2, 3});
    {
        OutputFile out;
        ASSERT_TRUE(out.create(dest.c_str()));
        EXPECT_TRUE(out.file().writeAll("new", 3));
        // Until the commit the old file is untouched.
        EXPECT_EQ(testutil::readFile(dest), (Bytes{1, 2, 3}));
    }
    EXPECT_EQ(testutil::readFile(dest), (Bytes{1, 2, 3}));
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.bin"});
    {
        OutputFile out;
        ASSERT_TRUE(out.create(dest.c_str()));
        EXPECT_TRUE(out.file().writeAll("new", 3));
        EXPECT_TRUE(out.commit());
    }
    EXPECT_EQ(testutil::readFile(dest), (Bytes{'n', 'e', 'w'}));
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.bin"});
    EXPECT_EQ(faults::heldFiles(), 0);
}

TEST(DecoderStateTest, InitMakesEightZeroTableBlocks) {
    DecoderState state;
    std::memset(&state, 0xA5, sizeof state);
    const int held = faults::heldBlocks();
    EXPECT_EQ(iDecode_Init(&state), 0);
    EXPECT_EQ(faults::heldBlocks(), held + 8);
    for (int t = 0; t < 4; ++t) {
        for (HGLOBAL h : {state.dcTables[t], state.acTables[t]}) {
            ASSERT_NE(h, nullptr);
            const auto *p = static_cast<const uint8_t *>(h);
            for (unsigned i = 0; i < sizeof(HuffmanTableBlock); ++i) ASSERT_EQ(p[i], 0) << i;
        }
    }
    EXPECT_EQ(state.maxH, 1);
    EXPECT_EQ(state.maxV, 1);
    EXPECT_EQ(state.restartInterval, 0);
    EXPECT_EQ(state.restartsToGo, 0);
    EXPECT_EQ(state.endOfData, 0);
    EXPECT_EQ(state.bitCount, 0);
    // Fields the parser fills later start defined.
    EXPECT_EQ(state.colourMode, 0);
    EXPECT_EQ(state.frameComponents, 0);
    EXPECT_EQ(state.width, 0);
    freeDecoderTables(&state);
    EXPECT_EQ(faults::heldBlocks(), held);
}

TEST(DecoderStateTest, InitFailureLeavesNothingHeld) {
    for (int n = 1; n <= 8; ++n) {
        FaultGuard guard;
        faults::failNth(faults::Op::Alloc, n);
        DecoderState state;
        const int held = faults::heldBlocks();
        EXPECT_EQ(initDecoderState(&state), Result::NoMemory);
        EXPECT_EQ(faults::heldBlocks(), held);
        EXPECT_EQ(state.dcTables[0], nullptr);
    }
}

// ---- BMP headers ----------------------------------------------------------

namespace {

Bytes writeHeaders(uint16_t width, uint16_t height, int32_t colourMode, uint32_t &stride) {
    TempDir dir;
    const std::string path = dir.file("h.bmp");
    OpenFile f(_lcreat(path.c_str(), 0));
    EXPECT_EQ(writeBmpHeaders(f, width, height, colourMode, stride), Result::Ok);
    f.close();
    return testutil::readFile(path);
}

uint32_t field32(const Bytes &b, size_t at) { return le32(&b[at]); }

}  // namespace

TEST(BmpHeaders, GreyOneByOne) {
    uint32_t stride = 0;
    const Bytes b = writeHeaders(1, 1, 1, stride);
    EXPECT_EQ(stride, 4u);
    ASSERT_EQ(b.size(), 1078u);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(field32(b, 2), 1082u);  // with the 4 bytes of the one row to come
    EXPECT_EQ(field32(b, 10), 1078u);
    EXPECT_EQ(field32(b, 14), 40u);
    EXPECT_EQ(le16(&b[26]), 1);
    EXPECT_EQ(le16(&b[28]), 8);
    EXPECT_EQ(field32(b, 34), 4u);
    EXPECT_EQ(field32(b, 46), 256u);
    EXPECT_EQ(b[54 + 4 * 200], 0xC8);
    EXPECT_EQ(b[55 + 4 * 200], 0xC8);
    EXPECT_EQ(b[56 + 4 * 200], 0xC8);
    EXPECT_EQ(b[57 + 4 * 200], 0x00);
}

TEST(BmpHeaders, ColourThreeWide) {
    uint32_t stride = 0;
    const Bytes b = writeHeaders(3, 5, 3, stride);
    EXPECT_EQ(stride, 12u);
    ASSERT_EQ(b.size(), 54u);
    EXPECT_EQ(field32(b, 10), 54u);
    EXPECT_EQ(field32(b, 2), 54u + 60u);
    EXPECT_EQ(le16(&b[28]), 24);
    EXPECT_EQ(field32(b, 46), 0u);
    EXPECT_EQ(field32(b, 34), 60u);
}

TEST(BmpHeaders, WideImagesDoNotWrap) {
    uint32_t stride = 0;
    Bytes b = writeHeaders(65535, 2, 3, stride);
    EXPECT_EQ(stride, 196608u);  // 65,535 x 3 rounded up to a multiple of 4
    EXPECT_EQ(field32(b, 34), 2 * 196608u);
    // 65,535 x 65,535 x 3 does not fit a 32-bit field: written as 0.
    b = writeHeaders(65535, 65535, 3, stride);
    EXPECT_EQ(field32(b, 34), 0u);
    EXPECT_EQ(field32(b, 2), 0u);
    EXPECT_EQ(field32(b, 10), 54u);
}

TEST(BmpHeaders, ReadBackWhatWasWritten) {
    TempDir dir;
    const std::string path = dir.file("g.bmp");
    uint32_t stride = 0;
    {
        OpenFile f(_lcreat(path.c_str(), 0));
        ASSERT_EQ(writeBmpHeaders(f, 13, 7, 1, stride), Result::Ok);
    }
    OpenFile f;
    ASSERT_TRUE(f.open(path.c_str(), OF_READ));
    BmpHeaders h;
    ASSERT_EQ(readBmpHeaders(f, h), Result::Ok);
    EXPECT_EQ(h.stride, stride);
    EXPECT_EQ(h.clrUsed, 256u);
    EXPECT_EQ(h.bitCount, 8);
    EXPECT_EQ(h.rows, 7u);
    EXPECT_EQ(h.sizeImage, 16u * 7);
    Locked<uint8_t> info(h.info.handle());
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(info[40 + 4 * i], i);
        ASSERT_EQ(info[43 + 4 * i], 0);
    }
    EXPECT_EQ(_llseek(f.get(), 0, FILE_CURRENT), 1078);
}

namespace {

Bytes infoFile(uint32_t biSize, int32_t width, int32_t height, uint16_t bits, uint32_t clrUsed, uint32_t sizeImage,
               uint32_t tableEntries) {
    Bytes b(14 + biSize + 4 * tableEntries + 64, 0);
    b[0] = 'B';
    b[1] = 'M';
    putLe32(&b[10], 14 + biSize + 4 * tableEntries);
    putLe32(&b[14], biSize);
    putLe32(&b[18], static_cast<uint32_t>(width));
    putLe32(&b[22], static_cast<uint32_t>(height));
    putLe16(&b[26], 1);
    putLe16(&b[28], bits);
    putLe32(&b[34], sizeImage);
    putLe32(&b[46], clrUsed);
    for (uint32_t i = 0; i < tableEntries; ++i) b[14 + biSize + 4 * i] = static_cast<uint8_t>(i + 1);
    return b;
}

Result readFrom(const Bytes &bytes, BmpHeaders &h, long *position = nullptr) {
    TempDir dir;
    const std::string path = dir.file("in.bmp");
    testutil::writeFile(path, bytes);
    OpenFile f;
    if (!f.open(path.c_str(), OF_READ)) return Result::IoError;
    const Result r = readBmpHeaders(f, h);
    if (position != nullptr) *position = _llseek(f.get(), 0, FILE_CURRENT);
    return r;
}

}  // namespace

TEST(BmpHeaders, DefaultsAreCompleted) {
    BmpHeaders h;
    long pos = 0;
    ASSERT_EQ(readFrom(infoFile(40, 10, 3, 24, 0, 0, 0), h, &pos), Result::Ok);
    EXPECT_EQ(h.stride, 32u);
    EXPECT_EQ(h.sizeImage, 96u);
    EXPECT_EQ(h.clrUsed, 0u);
    EXPECT_EQ(pos, 54);

    BmpHeaders h16;
    ASSERT_EQ(readFrom(infoFile(40, 10, 3, 8, 16, 0, 16), h16, &pos), Result::Ok);
    EXPECT_EQ(h16.clrUsed, 16u);
    EXPECT_EQ(pos, 118);  // rows follow the 64-byte table
    Locked<uint8_t> info(h16.info.handle());
    EXPECT_EQ(info[40], 1);
    EXPECT_EQ(info[40 + 60], 16);

    BmpHeaders h4;
    ASSERT_EQ(readFrom(infoFile(40, 9, 2, 4, 0, 0, 16), h4, &pos), Result::Ok);
    EXPECT_EQ(h4.clrUsed, 16u);
    EXPECT_EQ(h4.stride, 8u);
}

TEST(BmpHeaders, LongInfoHeaderTableFollowsIt) {
    BmpHeaders h;
    long pos = 0;
    ASSERT_EQ(readFrom(infoFile(124, 4, -2, 8, 2, 0, 2), h, &pos), Result::Ok);
    EXPECT_EQ(h.infoSize, 124u);
    EXPECT_EQ(h.rows, 2u);
    EXPECT_EQ(h.height, -2);
    EXPECT_EQ(pos, 14 + 124 + 8);
    Locked<uint8_t> info(h.info.handle());
    EXPECT_EQ(info[124], 1);
    EXPECT_EQ(info[128], 2);
}

TEST(BmpHeaders, Refusals) {
    BmpHeaders h;
    Bytes notBmp = infoFile(40, 1, 1, 24, 0, 0, 0);
    notBmp[0] = 0xFF;
    notBmp[1] = 0xD8;
    EXPECT_EQ(readFrom(notBmp, h), Result::NotFormat);
    EXPECT_EQ(readFrom(Bytes{'B'}, h), Result::NotFormat);
    EXPECT_EQ(readFrom(Bytes{'B', 'M', 0, 0}, h), Result::Malformed);
    BmpHeaders h2;
    EXPECT_EQ(readFrom(infoFile(12, 1, 1, 24, 0, 0, 0), h2), Result::Unsupported);
    BmpHeaders h3;
    EXPECT_EQ(readFrom(infoFile(40, 1, 1, 8, 100000, 0, 0), h3), Result::Unsupported);
    BmpHeaders h4;
    EXPECT_EQ(readFrom(infoFile(40, -5, 1, 24, 0, 0, 0), h4), Result::Malformed);
    // A colour table that the file does not hold.
    Bytes shortTable = infoFile(40, 1, 1, 8, 256, 0, 0);
    shortTable.resize(54 + 100);
    BmpHeaders h5;
    EXPECT_EQ(readFrom(shortTable, h5), Result::Malformed);
    EXPECT_EQ(faults::heldFiles(), 0);
}
