// jpgtool info: what a file's headers say.
//
// For a JPEG file: the frame, its components and their table selectors, the
// tables defined, the restart interval, every marker segment with its offset
// and length, where the entropy-coded data ends, and whether the decoder
// accepts the file (and why not). For a BMP file: its header fields.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "decoder/decoder_internal.h"
#include "frame/bmp_file.h"
#include "frame/markers.h"

namespace jpgtool {

namespace {

std::string markerName(int code) {
    static const char *const frames[16] = {"SOF0", "SOF1", "SOF2", "SOF3", "DHT",  "SOF5",  "SOF6",  "SOF7",
                                           "JPG",  "SOF9", "SOF10", "SOF11", "DAC", "SOF13", "SOF14", "SOF15"};
    if (code >= 0xC0 && code <= 0xCF) return frames[code - 0xC0];
    if (code >= 0xD0 && code <= 0xD7) return "RST" + std::to_string(code - 0xD0);
    if (code >= 0xE0 && code <= 0xEF) return "APP" + std::to_string(code - 0xE0);
    switch (code) {
        case 0xD8: return "SOI";
        case 0xD9: return "EOI";
        case 0xDA: return "SOS";
        case 0xDB: return "DQT";
        case 0xDC: return "DNL";
        case 0xDD: return "DRI";
        case 0xDE: return "DHP";
        case 0xDF: return "EXP";
        case 0xFE: return "COM";
        case 0x01: return "TEM";
        default: {
            char text[8];
            std::snprintf(text, sizeof text, "FF%02X", code);
            return text;
        }
    }
}

const char *frameKind(int code) {
    switch (code) {
        case 0xC0: return "baseline sequential Huffman";
        case 0xC1: return "extended sequential Huffman";
        case 0xC2: return "progressive Huffman, not supported";
        case 0xC3: return "lossless Huffman, not supported";
        case 0xC5: case 0xC6: case 0xC7: return "differential Huffman, not supported";
        case 0xC9: return "extended sequential arithmetic, not supported";
        case 0xCA: return "progressive arithmetic, not supported";
        case 0xCB: return "lossless arithmetic, not supported";
        default: return "differential arithmetic, not supported";
    }
}

struct Segment {
    long offset;  // of the FF
    int code;
    long length;  // L, or -1 for markers without one
    std::string note;
};

struct Component {
    int id, h, v, tq, td = -1, ta = -1;
};

struct JpegFacts {
    std::vector<Segment> segments;
    int frameCode = -1, precision = 0, width = 0, height = 0;
    std::vector<Component> components;
    std::string quantTables, huffmanTables;
    long restartInterval = -1;
    long dataStart = -1, dataBytes = 0;
    bool endsWithEoi = false;
    std::string problem;  // the walk stopped early
};

class Reader {
public:
    Reader(std::FILE *f, long pos) : f_(f), pos_(pos) {}
    int byte() {
        const int c = std::fgetc(f_);
        if (c != EOF) ++pos_;
        return c;
    }
    bool bytes(std::vector<uint8_t> &out, long n) {
        out.resize(static_cast<size_t>(n));
        const size_t got = n > 0 ? std::fread(out.data(), 1, out.size(), f_) : 0;
        pos_ += static_cast<long>(got);
        return got == out.size();
    }
    long pos() const { return pos_; }

private:
    std::FILE *f_;
    long pos_;
};

void describeSegment(JpegFacts &facts, Segment &seg, const std::vector<uint8_t> &b) {
    const size_t n = b.size();
    const int code = seg.code;
    if (jpg::marker::isFrameMarker(code) && n >= 6) {
        facts.frameCode = code;
        facts.precision = b[0];
        facts.height = (b[1] << 8) | b[2];
        facts.width = (b[3] << 8) | b[4];
        facts.components.clear();
        for (size_t i = 0; i < b[5] && 6 + 3 * i + 2 < n; ++i)
            facts.components.push_back({b[6 + 3 * i], b[7 + 3 * i] >> 4, b[7 + 3 * i] & 15, b[8 + 3 * i]});
        seg.note = frameKind(code);
    } else if (code == 0xC4) {
        for (size_t p = 0; p + 17 <= n;) {
            size_t sum = 0;
            for (int i = 1; i <= 16; ++i) sum += b[p + i];
            const std::string name = std::string((b[p] >> 4) ? "AC " : "DC ") + std::to_string(b[p] & 15);
            seg.note += (seg.note.empty() ? "" : ", ") + name + " (" + std::to_string(sum) + " codes)";
            facts.huffmanTables += (facts.huffmanTables.empty() ? "" : ", ") + name;
            p += 17 + sum;
        }
    } else if (code == 0xDB) {
        for (size_t p = 0; p < n;) {
            const bool wide = (b[p] >> 4) != 0;
            const std::string name = std::to_string(b[p] & 15) + (wide ? " (16-bit)" : " (8-bit)");
            seg.note += (seg.note.empty() ? "table " : ", ") + name;
            facts.quantTables += (facts.quantTables.empty() ? "" : ", ") + name;
            p += wide ? 129 : 65;
        }
    } else if (code == 0xDD && n >= 2) {
        facts.restartInterval = (b[0] << 8) | b[1];
        seg.note = std::to_string(facts.restartInterval) + " MCUs";
    } else if (code == 0xDA && n >= 1) {
        seg.note = std::to_string(b[0]) + " components";
        for (size_t j = 0; j < b[0] && 2 + 2 * j < n; ++j)
            for (Component &c : facts.components)
                if (c.id == b[1 + 2 * j] && c.td < 0) {
                    c.td = b[2 + 2 * j] >> 4;
                    c.ta = b[2 + 2 * j] & 15;
                    break;
                }
    } else if (code >= 0xE0 && code <= 0xEF) {
        std::string id;
        for (size_t i = 0; i < n && i < 16 && b[i] >= 0x20 && b[i] < 0x7F; ++i) id += static_cast<char>(b[i]);
        if (!id.empty()) seg.note = "\"" + id + "\"";
        if (id == "JFIF" && n >= 7) seg.note += " version " + std::to_string(b[5]) + "." + std::to_string(b[6]);
        if (code == jpg::marker::kApp14 && n >= 12 && id.compare(0, 5, "Adobe") == 0)
            seg.note += " transform " + std::to_string(b[11]);
    } else if (code == 0xFE) {
        seg.note = std::to_string(n) + " bytes of comment";
    }
}

// Walks the marker segments up to the first scan header, then the
// entropy-coded data up to the next marker that is not a restart marker.
JpegFacts walkJpeg(std::FILE *f) {
    JpegFacts facts;
    Reader r(f, 2);  // just after FF D8
    facts.segments.push_back({0, 0xD8, -1, ""});
    std::vector<uint8_t> body;
    for (;;) {
        int c;
        while ((c = r.byte()) != EOF && c != 0xFF) {
        }
        while (c == 0xFF) c = r.byte();
        if (c == EOF) {
            facts.problem = "the file ends before the image data";
            return facts;
        }
        if (c == 0x00) continue;
        Segment seg{r.pos() - 2, c, -1, ""};
        if (c == 0xD9 || c == 0x01 || (c >= 0xD0 && c <= 0xD7)) {
            facts.segments.push_back(seg);
            if (c == 0xD9) return facts;
            continue;
        }
        const int hi = r.byte(), lo = r.byte();
        if (lo == EOF) {
            facts.problem = "the file ends inside a marker segment";
            facts.segments.push_back(seg);
            return facts;
        }
        seg.length = (hi << 8) | lo;
        if (seg.length < 2 || !r.bytes(body, seg.length - 2)) {
            facts.problem = seg.length < 2 ? "a segment length is below 2" : "a segment runs past the end of the file";
            facts.segments.push_back(seg);
            return facts;
        }
        describeSegment(facts, seg, body);
        facts.segments.push_back(seg);
        if (c == 0xDA) break;
    }
    // The entropy-coded data: up to the first marker other than RSTn.
    facts.dataStart = r.pos();
    for (;;) {
        int c = r.byte();
        if (c == EOF) break;
        if (c != 0xFF) continue;
        while ((c = r.byte()) == 0xFF) {
        }
        if (c == EOF) break;
        if (c == 0x00 || (c >= 0xD0 && c <= 0xD7)) continue;
        facts.dataBytes = r.pos() - 2 - facts.dataStart;
        facts.segments.push_back({r.pos() - 2, c, -1, ""});
        facts.endsWithEoi = c == 0xD9;
        return facts;
    }
    facts.dataBytes = r.pos() - facts.dataStart;
    return facts;
}

}  // namespace

std::string decoderVerdict(const std::string &path, std::string *colours) {
    jpg::OpenFile file;
    if (!file.open(path.c_str(), OF_READ)) return "the file cannot be read";
    uint8_t soi[2] = {};
    if (_lread(file.get(), soi, 2) != 2 || soi[0] != 0xFF || soi[1] != 0xD8) return "not a JPEG file";
    DecoderState state;
    if (jpg::initDecoderState(&state) != jpg::Result::Ok) return "out of memory";
    jpg::HeaderFacts info;
    const jpg::Result result = jpg::readHeaders(file.get(), &state, info);
    jpg::freeDecoderTables(&state);
    if (result == jpg::Result::Ok) {
        if (colours != nullptr) {
            const jpg::ColourSpace space = info.colourSpace;
            *colours = std::string(space == jpg::ColourSpace::Grey    ? "grey"
                                   : space == jpg::ColourSpace::YCbCr ? "YCbCr"
                                                                      : "RGB") +
                       " (" + info.colourReason + ")";
        }
        return "";
    }
    return info.reason != nullptr ? info.reason : "the headers cannot be read";
}

namespace {

int infoJpeg(const std::string &path, std::FILE *f) {
    const JpegFacts facts = walkJpeg(f);
    std::printf("%s: JPEG file\n", path.c_str());
    if (facts.frameCode >= 0) {
        std::printf("  frame: %s (%s), %d-bit samples, %d x %d pixels, %d component%s\n",
                    markerName(facts.frameCode).c_str(), frameKind(facts.frameCode), facts.precision, facts.width,
                    facts.height, static_cast<int>(facts.components.size()), facts.components.size() == 1 ? "" : "s");
        for (const Component &c : facts.components) {
            std::printf("    component %d: sampling %dx%d, quantisation table %d", c.id, c.h, c.v, c.tq);
            if (c.td >= 0) std::printf(", Huffman tables DC %d, AC %d", c.td, c.ta);
            std::printf("\n");
        }
    } else {
        std::printf("  frame: none found\n");
    }
    std::printf("  quantisation tables: %s\n", facts.quantTables.empty() ? "none" : facts.quantTables.c_str());
    std::printf("  Huffman tables: %s\n",
                facts.huffmanTables.empty() ? "none (the standard tables are used)" : facts.huffmanTables.c_str());
    if (facts.restartInterval > 0)
        std::printf("  restart interval: %ld MCUs\n", facts.restartInterval);
    else
        std::printf("  restart interval: none\n");
    std::printf("  segments:\n");
    for (const Segment &s : facts.segments) {
        std::printf("    offset %-10ld %-6s", s.offset, markerName(s.code).c_str());
        if (s.length >= 0) std::printf(" length %-6ld", s.length);
        if (!s.note.empty()) std::printf(" %s", s.note.c_str());
        std::printf("\n");
    }
    if (facts.dataStart >= 0)
        std::printf("  entropy-coded data: offset %ld, %ld bytes, %s\n", facts.dataStart, facts.dataBytes,
                    facts.endsWithEoi ? "followed by EOI" : "not followed by EOI");

    // What the decoder makes of the headers.
    std::string colours;
    const std::string verdict = decoderVerdict(path, &colours);
    const bool accepted = verdict.empty();
    if (accepted)
        std::printf("  decoder: accepted, colours %s\n", colours.c_str());
    else
        std::printf("  decoder: refused: %s\n", verdict.c_str());
    if (!facts.problem.empty()) std::printf("  problem: %s\n", facts.problem.c_str());
    return 0;
}

int infoBmp(const std::string &path) {
    jpg::OpenFile file;
    if (!file.open(path.c_str(), OF_READ)) {
        complain(path, "cannot be opened");
        return 1;
    }
    jpg::BmpHeaders h;
    const jpg::Result res = jpg::readBmpHeaders(file, h);
    if (res != jpg::Result::Ok) {
        complain(path, res == jpg::Result::Unsupported ? "unsupported BMP header" : "damaged BMP header");
        return 1;
    }
    std::printf("%s: BMP file\n", path.c_str());
    std::printf("  file size field: %u, pixel data offset: %u\n", jpg::le32(h.fileHeader + 2), h.bfOffBits);
    std::printf("  info header: %u bytes\n", h.infoSize);
    std::printf("  size: %d x %d pixels (%s)\n", h.width, static_cast<int>(h.rows),
                h.height < 0 ? "negative height" : "positive height");
    std::printf("  bits per pixel: %u, compression: %u\n", h.bitCount, h.compression);
    std::printf("  row stride: %s bytes, image size: %s bytes\n", std::to_string(h.stride).c_str(),
                std::to_string(h.sizeImage).c_str());
    std::printf("  colours used: %u\n", h.clrUsed);
    if (h.bitCount <= 8) {
        jpg::ColourTable table;
        if (jpg::readColourTable(h, table) != jpg::Result::Ok) {
            complain(path, "out of memory");
            return 1;
        }
        const jpg::ColourTableKind kind = table.kind;
        std::printf("  colour table: %s\n",
                    kind == jpg::ColourTableKind::GreyRamp
                        ? (h.bitCount == 8 ? "the grey ramp (the pixel values are grey levels; exported as grey)"
                                           : "the grey ramp (exported as grey)")
                    : kind == jpg::ColourTableKind::Grey ? "grey levels (exported as grey through the table)"
                                                         : "colours (exported as colour through the table)");
    }
    return 0;
}

}  // namespace

int infoCommand(const Args &args) {
    if (args.size() != 1) {
        complain("", "info needs FILE");
        return 1;
    }
    const std::string &path = args[0];
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        complain(path, "cannot be opened");
        return 1;
    }
    const int a = std::fgetc(f), b = std::fgetc(f);
    int status;
    if (a == 0xFF && b == 0xD8) {
        status = infoJpeg(path, f);
    } else if (a == 'B' && b == 'M') {
        status = infoBmp(path);
    } else {
        complain(path, "not a JPEG file (nor a BMP file)");
        status = 1;
    }
    std::fclose(f);
    return status;
}

}  // namespace jpgtool

namespace jpgtool {

std::string encoderVerdict(const std::string &path) {
    jpg::OpenFile file;
    if (!file.open(path.c_str(), OF_READ)) return "cannot be opened";
    jpg::BmpHeaders headers;
    switch (jpg::readBmpHeaders(file, headers)) {
        case jpg::Result::Ok:
            break;
        case jpg::Result::NotFormat:
            return "not a BMP file";
        case jpg::Result::Unsupported:
            return "unsupported BMP header (info header size or colour table)";
        default:
            return "the BMP headers are damaged or cut short";
    }
    if (headers.compression != 0) return "compressed BMP files are not supported";
    const uint16_t bits = headers.bitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)
        return std::to_string(bits) + "-bit BMP files are not supported (1, 4, 8, 24 and 32 bits are)";
    if (headers.width < 1 || headers.rows < 1) return "the picture is empty";
    if (headers.width > 65535 || headers.rows > 65535) return "pictures over 65,535 pixels a side are not supported";
    const uint64_t needed = uint64_t{headers.bfOffBits} + headers.stride * (headers.rows - 1) +
                            (uint64_t{bits} * static_cast<uint32_t>(headers.width) + 7) / 8;
    const LONG size = _llseek(file.get(), 0, FILE_END);
    if (size >= 0 && static_cast<uint64_t>(size) < needed) return "the file ends before its last row";
    return "";
}

}  // namespace jpgtool
