// The marker parser: what it stores, what it skips, and every refusal.
#include <gtest/gtest.h>

#include <cstring>

#include "decoder/coefficient_decoder.h"
#include "decoder/decoder_internal.h"
#include "decoder_test_util.h"
#include "jpg.h"

using namespace dectest;
using jpg::Result;
using testutil::TempDir;

namespace {

struct Parsed {
    Result result = Result::Ok;
    DecoderState state{};
    jpg::HeaderFacts info;
    HuffmanTableBlock dc[4]{}, ac[4]{};
    long position = 0;  // file position afterwards
};

Parsed parse(const Bytes &file) {
    TempDir dir;
    testutil::writeFile(dir.file("in.jpg"), file);
    Parsed p;
    jpg::OpenFile f;
    EXPECT_TRUE(f.open(dir.file("in.jpg").c_str(), OF_READ));
    uint8_t soi[2];
    _lread(f.get(), soi, 2);
    EXPECT_EQ(jpg::initDecoderState(&p.state), Result::Ok);
    jpg::ByteSource source = jpg::ByteSource::ofFile(f.get());
    p.result = jpg::readHeaders(source, &p.state, p.info);
    for (int t = 0; t < 4; ++t) {
        std::memcpy(&p.dc[t], p.state.dcTables[t], sizeof p.dc[t]);
        std::memcpy(&p.ac[t], p.state.acTables[t], sizeof p.ac[t]);
    }
    p.position = _llseek(f.get(), 0, FILE_CURRENT);
    jpg::freeDecoderTables(&p.state);

    // The same bytes read in place from memory give the same verdict, the
    // same record and the same position.
    DecoderState fromMemory{};
    jpg::HeaderFacts memoryInfo;
    EXPECT_EQ(jpg::initDecoderState(&fromMemory), Result::Ok);
    jpg::ByteSource memory = jpg::ByteSource::ofMemory(file.data(), file.size());
    memory.position = 2;
    EXPECT_EQ(jpg::readHeaders(memory, &fromMemory, memoryInfo), p.result);
    EXPECT_STREQ(memoryInfo.reason != nullptr ? memoryInfo.reason : "", p.info.reason != nullptr ? p.info.reason : "");
    EXPECT_EQ(static_cast<long>(memory.position), p.position);
    EXPECT_EQ(std::memcmp(&fromMemory, &p.state, offsetof(DecoderState, dcTables)), 0);
    jpg::freeDecoderTables(&fromMemory);
    return p;
}

const Bytes kSoi = {0xFF, 0xD8};

Bytes greyHeaders(const Bytes &beforeFrame, const Bytes &frame, const Bytes &scan) {
    return concat({kSoi, quantTable(0), beforeFrame, frame, scan, {0x2B, 0xFF, 0xD9}});
}

Bytes greyFrame() { return frameHeader(8, 8, {{1, 1, 1, 0}}); }
Bytes colourFrame() { return frameHeader(16, 8, {{1, 2, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}}); }

}  // namespace

TEST(Parser, AcceptsGreyAndColourFramesAndStopsAfterTheScanHeader) {
    const Bytes grey = greyBlockJpeg();
    Parsed p = parse(grey);
    ASSERT_EQ(p.result, Result::Ok);
    EXPECT_EQ(p.state.colourMode, 1);
    EXPECT_EQ(p.state.width, 8);
    EXPECT_EQ(p.state.frameComponents, 1);
    EXPECT_EQ(p.state.scanComponents, 1);
    EXPECT_EQ(p.state.restartInterval, 0);
    EXPECT_EQ(p.position, static_cast<long>(grey.size() - 3));  // the data byte, FF D9

    p = parse(colourBlockJpeg());
    ASSERT_EQ(p.result, Result::Ok);
    EXPECT_EQ(p.state.colourMode, 3);
    EXPECT_EQ(p.state.components[1].dcSel, 1);
    EXPECT_EQ(p.state.components[2].acSel, 1);

    // Encoders that number components from 0 make YCbCr files too.
    p = parse(colourBlockJpeg(0, 1, 2));
    ASSERT_EQ(p.result, Result::Ok);
    EXPECT_EQ(p.state.colourMode, 3);
}

TEST(Parser, ThreeComponentsAreRgbByTheirIdentifiersOrAnAdobeSegment) {
    using jpg::ColourSpace;
    auto adobe = [](int transform, size_t length = 12) {
        Bytes body = {'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, static_cast<uint8_t>(transform)};
        body.resize(length, 0);
        return segment(0xEE, body);
    };
    auto withSegment = [](const Bytes &file, const Bytes &extra) {  // right after SOI
        return concat({Bytes(file.begin(), file.begin() + 2), extra, Bytes(file.begin() + 2, file.end())});
    };
    auto beforeScan = [](const Bytes &file, const Bytes &extra) {
        size_t at = 2;
        while (!(file[at] == 0xFF && file[at + 1] == 0xDA)) at += 2 + (file[at + 2] << 8 | file[at + 3]);
        return concat({Bytes(file.begin(), file.begin() + at), extra, Bytes(file.begin() + at, file.end())});
    };
    const Bytes rgbIds = colourBlockJpeg('R', 'G', 'B'), otherIds = colourBlockJpeg(0, 1, 2),
                ycc = colourBlockJpeg();
    const struct {
        const char *name;
        Bytes file;
        ColourSpace expected;
    } cases[] = {
        {"grey", greyBlockJpeg(), ColourSpace::Grey},
        {"1, 2, 3", ycc, ColourSpace::YCbCr},
        {"1, 2, 3 with Adobe transform 0", withSegment(ycc, adobe(0)), ColourSpace::YCbCr},
        {"R, G, B", rgbIds, ColourSpace::Rgb},
        {"R, G, B with Adobe transform 1", withSegment(rgbIds, adobe(1)), ColourSpace::Rgb},
        {"0, 1, 2", otherIds, ColourSpace::YCbCr},
        {"0, 1, 2 with Adobe transform 0", withSegment(otherIds, adobe(0, 14)), ColourSpace::Rgb},
        {"0, 1, 2 with Adobe transform 1", withSegment(otherIds, adobe(1)), ColourSpace::YCbCr},
        {"0, 1, 2 with an Adobe segment after the frame", beforeScan(otherIds, adobe(0)), ColourSpace::Rgb},
        {"0, 1, 2 with a short Adobe segment", withSegment(otherIds, adobe(0, 11)), ColourSpace::YCbCr},
        {"0, 1, 2 with an empty APP14", withSegment(otherIds, segment(0xEE, {})), ColourSpace::YCbCr},
        {"0, 1, 2 with another APP14", withSegment(otherIds, segment(0xEE, {'A', 'd', 'o', 'b', 'x', 0, 0, 0, 0, 0, 0, 0})),
         ColourSpace::YCbCr},
    };
    for (const auto &c : cases) {
        const Parsed p = parse(c.file);
        ASSERT_EQ(p.result, Result::Ok) << c.name;
        EXPECT_EQ(p.info.colourSpace, c.expected) << c.name;
        EXPECT_NE(p.info.colourReason, nullptr) << c.name;
    }
}

TEST(Parser, FillBytesStrayZerosAndForeignSegmentsOfAnySizeAreSkipped) {
    Bytes app1(40000, 0xAB);
    Bytes big(65533, 0x11);
    const Bytes file = concat({kSoi, {0xFF, 0x00, 0x12}, segment(0xE1, app1), segment(0xE2, big),
                               segment(0xFE, {'h', 'i'}), {0xFF, 0xFF, 0xFF}, segment(0xC2, {1, 2, 3}),
                               quantTable(0), greyFrame(), scanHeader({{1, 0x00}}), {0x2B, 0xFF, 0xD9}});
    const Parsed p = parse(file);
    EXPECT_EQ(p.result, Result::Ok) << (p.info.reason ? p.info.reason : "");
}

TEST(Parser, JfifVersionOneOnly) {
    EXPECT_EQ(parse(greyHeaders(jfif(1, 2), greyFrame(), scanHeader({{1, 0}}))).result, Result::Ok);
    EXPECT_EQ(parse(greyHeaders(jfif(2, 0), greyFrame(), scanHeader({{1, 0}}))).result, Result::Unsupported);
    const Bytes jfxx = segment(0xE0, {'J', 'F', 'X', 'X', 0, 0x10});
    EXPECT_EQ(parse(greyHeaders(jfxx, greyFrame(), scanHeader({{1, 0}}))).result, Result::Unsupported);
    EXPECT_EQ(parse(greyHeaders(segment(0xE0, {'J', 'F', 'I', 'F', 0}), greyFrame(), scanHeader({{1, 0}}))).result,
              Result::Unsupported);
}

TEST(Parser, QuantisationTables) {
    Bytes two = {0x00};
    two.insert(two.end(), 64, 7);
    two.push_back(0x03);
    for (int k = 0; k < 64; ++k) two.push_back(static_cast<uint8_t>(k));
    Bytes wide = {0x11};
    for (int k = 0; k < 64; ++k) append(wide, {0xFF, k});
    ASSERT_EQ(segment(0xDB, two).size(), 134u);  // L = 132
    const Parsed p = parse(greyHeaders(concat({segment(0xDB, two), segment(0xDB, wide)}), greyFrame(),
                                       scanHeader({{1, 0}})));
    ASSERT_EQ(p.result, Result::Ok);
    EXPECT_EQ(p.state.quantTables[0][63], 7);
    EXPECT_EQ(p.state.quantTables[3][5], 5);
    EXPECT_EQ(p.state.quantTables[1][0], 0xFF00);  // 16-bit, zero-extended
    EXPECT_EQ(p.state.quantTables[1][63], 0xFF3F);
    EXPECT_EQ(p.info.quantDefined, 0x0B);
}

TEST(Parser, HuffmanTablesAndTheStandardFallback) {
    // Four tables in one segment, then table DC 1 defined again.
    Bytes body;
    for (int cls : {0x00, 0x01, 0x10, 0x11}) {
        body.push_back(static_cast<uint8_t>(cls));
        Bytes counts(16, 0);
        counts[1] = 2;  // two codes of length 2
        body.insert(body.end(), counts.begin(), counts.end());
        append(body, {cls + 1, cls + 2});
    }
    Bytes again = {0x01, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x42};
    const Parsed p = parse(greyHeaders(concat({segment(0xC4, body), segment(0xC4, again)}), greyFrame(),
                                       scanHeader({{1, 0x00}})));
    ASSERT_EQ(p.result, Result::Ok);
    EXPECT_EQ(p.dc[0].counts[2], 2);
    EXPECT_EQ(p.dc[0].symbols[1], 2);
    EXPECT_EQ(p.ac[1].symbols[0], 0x12);
    EXPECT_EQ(p.dc[1].counts[1], 1);
    EXPECT_EQ(p.dc[1].symbols[0], 0x42);

    // No DHT at all: table 0 gets K.3 and K.5, tables 1 to 3 K.4 and K.6.
    const Parsed s = parse(colourBlockJpeg());
    ASSERT_EQ(s.result, Result::Ok);
    const uint8_t k3[17] = {0, 0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(s.dc[0].counts, k3, 17), 0);
    EXPECT_EQ(s.dc[1].counts[2], 3);
    EXPECT_EQ(s.ac[0].counts[16], 0x7D);
    EXPECT_EQ(s.ac[1].counts[16], 0x77);
    EXPECT_EQ(s.ac[1].symbols[161], 0xFA);
    EXPECT_EQ(s.dc[2].counts[2], 0);  // not selected: untouched
}

TEST(Parser, RestartIntervalAndLaterSegmentsReplaceEarlierOnes) {
    Parsed p = parse(greyHeaders(segment(0xDD, {0, 0}), greyFrame(), scanHeader({{1, 0}})));
    ASSERT_EQ(p.result, Result::Ok);
    EXPECT_EQ(p.state.restartInterval, 0);
    p = parse(greyHeaders(concat({segment(0xDD, {0, 9}), segment(0xDD, {1, 2}), frameHeader(99, 7, {{1, 1, 1, 0}})}),
                          greyFrame(), scanHeader({{1, 0}})));
    ASSERT_EQ(p.result, Result::Ok);
    EXPECT_EQ(p.state.restartInterval, 0x102);
    EXPECT_EQ(p.state.width, 8);
}

TEST(Parser, ScanComponentsAreMatchedByIdentifierInScanOrder) {
    const Parsed p =
        parse(concat({kSoi, quantTable(0), colourFrame(), scanHeader({{2, 0x11}, {3, 0x11}, {1, 0x00}}), {0xFF, 0xD9}}));
    ASSERT_EQ(p.result, Result::Ok);
    EXPECT_EQ(p.info.order[0], 1);
    EXPECT_EQ(p.info.order[1], 2);
    EXPECT_EQ(p.info.order[2], 0);
    EXPECT_EQ(p.state.components[0].dcSel, 0);
    EXPECT_EQ(p.state.components[1].dcSel, 1);
}

TEST(Parser, Refusals) {
    const Bytes s1 = scanHeader({{1, 0}});
    Bytes manyCodes = {0x00};
    for (int i = 0; i < 16; ++i) manyCodes.push_back(i < 8 ? 0 : 40);  // 320 codes
    manyCodes.resize(manyCodes.size() + 320, 0);
    Bytes kraft = {0x00, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3};  // three 1-bit codes
    Bytes shortDht = {0x00, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};     // two symbols promised
    Bytes longDqt(66, 1);
    longDqt[0] = 0;
    struct Case {
        const char *name;
        Bytes file;
        Result expected;
    } cases[] = {
        {"precision 12", greyHeaders({}, frameHeader(8, 8, {{1, 1, 1, 0}}, 0xC0, 12), s1), Result::Unsupported},
        {"width 0", greyHeaders({}, frameHeader(0, 8, {{1, 1, 1, 0}}), s1), Result::Unsupported},
        {"height 0", greyHeaders({}, frameHeader(8, 0, {{1, 1, 1, 0}}), s1), Result::Unsupported},
        {"two components", greyHeaders({}, frameHeader(8, 8, {{1, 1, 1, 0}, {2, 1, 1, 0}}), s1), Result::Unsupported},
        {"four components",
         greyHeaders({}, frameHeader(8, 8, {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}, {4, 1, 1, 0}}), s1),
         Result::Unsupported},
        {"five components",
         greyHeaders({}, frameHeader(8, 8, {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}, {4, 1, 1, 0}, {5, 1, 1, 0}}), s1),
         Result::Unsupported},
        {"no components", greyHeaders({}, frameHeader(8, 8, {}), s1), Result::Malformed},
        {"ids 1 4 5", greyHeaders({}, frameHeader(8, 8, {{1, 1, 1, 0}, {4, 1, 1, 0}, {5, 1, 1, 0}}), s1),
         Result::Unsupported},
        {"sampling 0", greyHeaders({}, frameHeader(8, 8, {{1, 0, 1, 0}}), s1), Result::Malformed},
        {"sampling 5", greyHeaders({}, frameHeader(8, 8, {{1, 1, 5, 0}}), s1), Result::Malformed},
        {"14 blocks per MCU", greyHeaders({}, frameHeader(8, 8, {{1, 4, 3, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}}), s1),
         Result::Malformed},
        {"frame table 4", greyHeaders({}, frameHeader(8, 8, {{1, 1, 1, 4}}), s1), Result::Malformed},
        {"frame length", greyHeaders({}, segment(0xC0, {8, 0, 8, 0, 8, 1, 1, 0x11, 0, 0}), s1), Result::Malformed},
        {"DHT class 2", greyHeaders(segment(0xC4, {0x20, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
                                    greyFrame(), s1),
         Result::Malformed},
        {"DHT number 4", greyHeaders(segment(0xC4, {0x14, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
                                     greyFrame(), s1),
         Result::Malformed},
        {"DHT 320 codes", greyHeaders(segment(0xC4, manyCodes), greyFrame(), s1), Result::Malformed},
        {"DHT lengths overflow", greyHeaders(segment(0xC4, kraft), greyFrame(), s1), Result::Malformed},
        {"DHT does not add up", greyHeaders(segment(0xC4, shortDht), greyFrame(), s1), Result::Malformed},
        {"DQT number 4", greyHeaders(quantTable(4), greyFrame(), s1), Result::Malformed},
        {"DQT does not add up", greyHeaders(segment(0xDB, longDqt), greyFrame(), s1), Result::Malformed},
        {"DRI length 5", greyHeaders(segment(0xDD, {0, 1, 0}), greyFrame(), s1), Result::Malformed},
        {"scan of 0", greyHeaders({}, greyFrame(), segment(0xDA, {0, 0, 63, 0})), Result::Malformed},
        {"scan of 5", greyHeaders({}, greyFrame(), scanHeader({{1, 0}, {1, 0}, {1, 0}, {1, 0}, {1, 0}})),
         Result::Malformed},
        {"scan id unknown", greyHeaders({}, greyFrame(), scanHeader({{9, 0}})), Result::Malformed},
        {"scan DC table 4", greyHeaders({}, greyFrame(), scanHeader({{1, 0x40}})), Result::Malformed},
        {"scan AC table 4", greyHeaders({}, greyFrame(), scanHeader({{1, 0x04}})), Result::Malformed},
        {"scan length", greyHeaders({}, greyFrame(), segment(0xDA, {1, 1, 0, 0, 63})), Result::Malformed},
        {"colour scan not interleaved", greyHeaders({}, colourFrame(), scanHeader({{1, 0}})), Result::Unsupported},
        {"scan before frame", concat({kSoi, quantTable(0), s1, greyFrame()}), Result::Unsupported},
        {"progressive only", greyHeaders({}, frameHeader(8, 8, {{1, 1, 1, 0}}, 0xC2), s1), Result::Unsupported},
        {"arithmetic only", greyHeaders({}, frameHeader(8, 8, {{1, 1, 1, 0}}, 0xC9), s1), Result::Unsupported},
        {"undefined quant table", greyHeaders({}, frameHeader(8, 8, {{1, 1, 1, 2}}), s1), Result::Malformed},
        {"length below 2", concat({kSoi, {0xFF, 0xFE, 0x00, 0x01}, greyFrame()}), Result::Malformed},
        {"segment past the end", concat({kSoi, quantTable(0), {0xFF, 0xE1, 0x10, 0x00, 1, 2, 3}}), Result::Malformed},
        {"ends before the scan", concat({kSoi, quantTable(0), greyFrame()}), Result::Malformed},
        {"ends inside a length", concat({kSoi, quantTable(0), {0xFF, 0xC4, 0x00}}), Result::Malformed},
        {"ends after fill bytes", concat({kSoi, quantTable(0), {0xFF, 0xFF}}), Result::Malformed},
    };
    for (const Case &c : cases) {
        const Parsed p = parse(c.file);
        EXPECT_EQ(p.result, c.expected) << c.name;
        EXPECT_NE(p.info.reason, nullptr) << c.name;
    }
}

TEST(Parser, BufferedFramesOnlyWhenAskedWithTheirConditioning) {
    // From memory, with or without acceptBuffered.
    auto parseBuffered = [](const Bytes &file, bool buffered, jpg::HeaderFacts &facts, DecoderState &state) {
        EXPECT_EQ(jpg::initDecoderState(&state), Result::Ok);
        jpg::ByteSource source = jpg::ByteSource::ofMemory(file.data(), file.size());
        source.position = 2;
        facts.acceptBuffered = buffered;
        const Result r = jpg::readHeaders(source, &state, facts);
        jpg::freeDecoderTables(&state);
        return r;
    };
    const Bytes s1 = scanHeader({{1, 0}});
    const Bytes dac = segment(0xCC, {0x01, 0x52, 0x12, 0x20});
    const struct {
        const char *name;
        Bytes file;
        Result ordinary, buffered;
    } cases[] = {
        {"progressive", greyHeaders({}, frameHeader(8, 8, {{1, 1, 1, 0}}, 0xC2), s1), Result::Unsupported, Result::Ok},
        {"arithmetic", greyHeaders(dac, frameHeader(8, 8, {{1, 1, 1, 0}}, 0xC9), s1), Result::Unsupported, Result::Ok},
        {"progressive arithmetic", greyHeaders({}, frameHeader(8, 8, {{1, 1, 1, 0}}, 0xCA), s1), Result::Unsupported,
         Result::Ok},
        {"one component of three first", greyHeaders({}, colourFrame(), s1), Result::Unsupported, Result::Ok},
        {"lossless", greyHeaders({}, frameHeader(8, 8, {{1, 1, 1, 0}}, 0xC3), s1), Result::Unsupported,
         Result::Unsupported},
        {"progressive precision 12", greyHeaders({}, frameHeader(8, 8, {{1, 1, 1, 0}}, 0xC2, 12), s1),
         Result::Unsupported, Result::Unsupported},
        {"arithmetic, 14 blocks per MCU",
         greyHeaders({}, frameHeader(8, 8, {{1, 4, 3, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}}, 0xCA), s1), Result::Unsupported,
         Result::Malformed},
        {"DAC L above U", greyHeaders(segment(0xCC, {0x00, 0x12}), greyFrame(), s1), Result::Ok, Result::Malformed},
        {"DAC Kx 0", greyHeaders(segment(0xCC, {0x10, 0x00}), greyFrame(), s1), Result::Ok, Result::Malformed},
        {"DAC class 2", greyHeaders(segment(0xCC, {0x20, 0x01}), greyFrame(), s1), Result::Ok, Result::Malformed},
        {"DAC odd length", greyHeaders(segment(0xCC, {0x10}), greyFrame(), s1), Result::Ok, Result::Malformed},
    };
    for (const auto &c : cases) {
        jpg::HeaderFacts ordinary, buffered;
        DecoderState state{};
        EXPECT_EQ(parseBuffered(c.file, false, ordinary, state), c.ordinary) << c.name;
        EXPECT_EQ(parseBuffered(c.file, true, buffered, state), c.buffered) << c.name;
        if (c.buffered != Result::Ok) {
            EXPECT_NE(buffered.reason, nullptr) << c.name;
            continue;
        }
        // The first scan header's place: just after its FF DA.
        size_t at = 0;
        while (c.file[at] != 0xFF || c.file[at + 1] != 0xDA) ++at;
        EXPECT_EQ(buffered.firstScanAt, at + 2) << c.name;
    }
    jpg::HeaderFacts facts;
    DecoderState state{};
    ASSERT_EQ(parseBuffered(cases[1].file, true, facts, state), Result::Ok);
    EXPECT_EQ(facts.frameMarker, 0xC9);
    EXPECT_EQ(facts.conditioning.dcLower[1], 2);
    EXPECT_EQ(facts.conditioning.dcUpper[1], 5);
    EXPECT_EQ(facts.conditioning.acSplit[2], 0x20);
    EXPECT_EQ(facts.conditioning.dcUpper[0], 1);  // the defaults elsewhere
    EXPECT_EQ(facts.conditioning.acSplit[0], 5);
    ASSERT_EQ(parseBuffered(cases[3].file, true, facts, state), Result::Ok);
    EXPECT_EQ(state.scanComponents, 1);
    EXPECT_TRUE(jpg::needsCoefficientBuffer(state, facts));
}
