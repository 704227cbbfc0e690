// Descriptions of a file's headers, as `jpgtool info` prints them.
//
// For a JPEG file: the frame, its components and their table selectors, the
// tables defined, the restart interval, every marker segment with its offset
// and length, where the entropy-coded data ends, and whether the decoder
// accepts the file (and why not). For a BMP file: its header fields.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "decoder/decoder_internal.h"
#include "base/bmp_file.h"
#include "base/markers.h"
#include "tool/tool_internal.h"

namespace jpg::tool {

namespace {

std::string markerName(int code) {
    static const char *const frames[16] = {"SOF0", "SOF1", "SOF2", "SOF3", "DHT",  "SOF5",  "SOF6",  "SOF7",
                                           "JPG",  "SOF9", "SOF10", "SOF11", "DAC", "SOF13", "SOF14", "SOF15"};
    if (code >= marker::kSof0 && code <= marker::kSof15) return frames[code - marker::kSof0];
    if (marker::isRestartMarker(code)) return "RST" + std::to_string(code - marker::kRst0);
    if (code >= marker::kApp0 && code <= marker::kApp15) return "APP" + std::to_string(code - marker::kApp0);
    switch (code) {
        case marker::kSoi: return "SOI";
        case marker::kEoi: return "EOI";
        case marker::kSos: return "SOS";
        case marker::kDqt: return "DQT";
        case marker::kDnl: return "DNL";
        case marker::kDri: return "DRI";
        case marker::kDhp: return "DHP";
        case marker::kExp: return "EXP";
        case marker::kCom: return "COM";
        case marker::kTem: return "TEM";
        default: {
            char text[8];
            std::snprintf(text, sizeof text, "FF%02X", code);
            return text;
        }
    }
}

const char *frameKind(int code) {
    switch (code) {
        case marker::kSof0: return "baseline sequential Huffman";
        case marker::kSof1: return "extended sequential Huffman";
        case marker::kSof2: return "progressive Huffman";
        case marker::kSof3: return "lossless Huffman, not supported";
        case marker::kSof9: return "extended sequential arithmetic";
        case marker::kSof10: return "progressive arithmetic";
        case marker::kSof11: return "lossless arithmetic, not supported";
        default:
            return code >= marker::kSof5 && code <= marker::kSof7 ? "differential Huffman, not supported"
                                                                  : "differential arithmetic, not supported";
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

// A scan: its header's fields and the entropy-coded data after it.
struct Scan {
    int components = 0;
    int ss = 0, se = 63, ah = 0, al = 0;
    long dataStart = 0, dataBytes = 0;
};

struct JpegFacts {
    std::vector<Segment> segments;
    std::vector<Scan> scans;
    int frameCode = -1, precision = 0, width = 0, height = 0;
    std::vector<Component> components;
    std::string quantTables, huffmanTables;
    long restartInterval = -1;
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
    } else if (code == marker::kDht) {
        for (size_t p = 0; p + 17 <= n;) {
            size_t sum = 0;
            for (int i = 1; i <= 16; ++i) sum += b[p + i];
            const std::string name = std::string((b[p] >> 4) ? "AC " : "DC ") + std::to_string(b[p] & 15);
            seg.note += (seg.note.empty() ? "" : ", ") + name + " (" + std::to_string(sum) + " codes)";
            facts.huffmanTables += (facts.huffmanTables.empty() ? "" : ", ") + name;
            p += 17 + sum;
        }
    } else if (code == marker::kDqt) {
        for (size_t p = 0; p < n;) {
            const bool wide = (b[p] >> 4) != 0;
            const std::string name = std::to_string(b[p] & 15) + (wide ? " (16-bit)" : " (8-bit)");
            seg.note += (seg.note.empty() ? "table " : ", ") + name;
            facts.quantTables += (facts.quantTables.empty() ? "" : ", ") + name;
            p += wide ? 129 : 65;
        }
    } else if (code == marker::kDri && n >= 2) {
        facts.restartInterval = (b[0] << 8) | b[1];
        seg.note = std::to_string(facts.restartInterval) + " MCUs";
    } else if (code == marker::kSos && n >= 1) {
        seg.note = std::to_string(b[0]) + " components";
        Scan scan;
        scan.components = b[0];
        if (n >= 1 + 2 * size_t{b[0]} + 3) {
            const uint8_t *tail = b.data() + 1 + 2 * b[0];
            scan.ss = tail[0];
            scan.se = tail[1];
            scan.ah = tail[2] >> 4;
            scan.al = tail[2] & 15;
        }
        facts.scans.push_back(scan);
        for (size_t j = 0; j < b[0] && 2 + 2 * j < n; ++j)
            for (Component &c : facts.components)
                if (c.id == b[1 + 2 * j] && c.td < 0) {
                    c.td = b[2 + 2 * j] >> 4;
                    c.ta = b[2 + 2 * j] & 15;
                    break;
                }
    } else if (code >= marker::kApp0 && code <= marker::kApp15) {
        std::string id;
        for (size_t i = 0; i < n && i < 16 && b[i] >= 0x20 && b[i] < 0x7F; ++i) id += static_cast<char>(b[i]);
        if (!id.empty()) seg.note = "\"" + id + "\"";
        if (id == "JFIF" && n >= 7) seg.note += " version " + std::to_string(b[5]) + "." + std::to_string(b[6]);
        if (code == marker::kApp14 && n >= 12 && id.compare(0, 5, "Adobe") == 0)
            seg.note += " transform " + std::to_string(b[11]);
    } else if (code == marker::kCom) {
        seg.note = std::to_string(n) + " bytes of comment";
    }
}

// Walks the marker segments and, after each scan header, the entropy-coded
// data up to the next marker that is not a restart marker; until EOI or the
// end of the file.
JpegFacts walkJpeg(std::FILE *f) {
    JpegFacts facts;
    Reader r(f, 2);  // just after FF D8
    facts.segments.push_back({0, marker::kSoi, -1, ""});
    std::vector<uint8_t> body;
    int pending = -1;  // a marker code met at the end of a scan's data
    for (;;) {
        int c = pending;
        pending = -1;
        if (c < 0) {
            while ((c = r.byte()) != EOF && c != marker::kPrefix) {
            }
            while (c == marker::kPrefix) c = r.byte();
            if (c == EOF) {
                if (facts.scans.empty()) facts.problem = "the file ends before the image data";
                return facts;
            }
            if (c == marker::kStuffed) continue;
        }
        Segment seg{r.pos() - 2, c, -1, ""};
        if (c == marker::kEoi || c == marker::kTem || marker::isRestartMarker(c)) {
            facts.segments.push_back(seg);
            if (c == marker::kEoi) {
                facts.endsWithEoi = true;
                return facts;
            }
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
        if (c != marker::kSos || facts.scans.empty()) continue;
        // The scan's entropy-coded data: up to the first marker other than RSTn.
        Scan &scan = facts.scans.back();
        scan.dataStart = r.pos();
        for (;;) {
            int d = r.byte();
            if (d == EOF) {
                scan.dataBytes = r.pos() - scan.dataStart;
                return facts;
            }
            if (d != marker::kPrefix) continue;
            while ((d = r.byte()) == marker::kPrefix) {
            }
            if (d == EOF) {
                scan.dataBytes = r.pos() - scan.dataStart;
                return facts;
            }
            if (d == marker::kStuffed || marker::isRestartMarker(d)) continue;
            scan.dataBytes = r.pos() - 2 - scan.dataStart;
            pending = d;
            break;
        }
    }
}

int describeJpeg(const char *path, std::FILE *f, std::FILE *out) {
    const JpegFacts facts = walkJpeg(f);
    std::fprintf(out, "%s: JPEG file\n", path);
    if (facts.frameCode >= 0) {
        std::fprintf(out, "  frame: %s (%s), %d-bit samples, %d x %d pixels, %d component%s\n",
                     markerName(facts.frameCode).c_str(), frameKind(facts.frameCode), facts.precision, facts.width,
                     facts.height, static_cast<int>(facts.components.size()), facts.components.size() == 1 ? "" : "s");
        for (const Component &c : facts.components) {
            std::fprintf(out, "    component %d: sampling %dx%d, quantisation table %d", c.id, c.h, c.v, c.tq);
            if (c.td >= 0) std::fprintf(out, ", Huffman tables DC %d, AC %d", c.td, c.ta);
            std::fprintf(out, "\n");
        }
    } else {
        std::fprintf(out, "  frame: none found\n");
    }
    std::fprintf(out, "  quantisation tables: %s\n", facts.quantTables.empty() ? "none" : facts.quantTables.c_str());
    std::fprintf(out, "  Huffman tables: %s\n",
                 facts.huffmanTables.empty() ? "none (the standard tables are used)" : facts.huffmanTables.c_str());
    if (facts.restartInterval > 0)
        std::fprintf(out, "  restart interval: %ld MCUs\n", facts.restartInterval);
    else
        std::fprintf(out, "  restart interval: none\n");
    std::fprintf(out, "  segments:\n");
    for (const Segment &s : facts.segments) {
        std::fprintf(out, "    offset %-10ld %-6s", s.offset, markerName(s.code).c_str());
        if (s.length >= 0) std::fprintf(out, " length %-6ld", s.length);
        if (!s.note.empty()) std::fprintf(out, " %s", s.note.c_str());
        std::fprintf(out, "\n");
    }
    if (facts.scans.size() == 1) {
        std::fprintf(out, "  entropy-coded data: offset %ld, %ld bytes, %s\n", facts.scans[0].dataStart,
                     facts.scans[0].dataBytes, facts.endsWithEoi ? "followed by EOI" : "not followed by EOI");
    } else if (!facts.scans.empty()) {
        std::fprintf(out, "  scans: %zu, %s\n", facts.scans.size(),
                     facts.endsWithEoi ? "the last followed by EOI" : "the last not followed by EOI");
        for (size_t i = 0; i < facts.scans.size(); ++i) {
            const Scan &sc = facts.scans[i];
            std::fprintf(out, "    scan %zu: %d component%s, coefficients %d-%d, bits %d/%d, data at %ld, %ld bytes\n",
                         i + 1, sc.components, sc.components == 1 ? "" : "s", sc.ss, sc.se, sc.ah, sc.al,
                         sc.dataStart, sc.dataBytes);
        }
    }

    // What the decoders make of the headers: the import's own checks, and
    // those of jpgtool and the codec API, which take every kind of file.
    OpenFile jpeg;
    OwnedDecoderState owned;
    HeaderFacts headers;
    const Result imported = openJpeg(jpeg, path, owned, headers);
    OpenFile again;
    OwnedDecoderState ownedAll;
    HeaderFacts all;
    all.acceptBuffered = true;
    const bool everyKind = imported != Result::Ok && openJpeg(again, path, ownedAll, all) == Result::Ok;
    const HeaderFacts &accepted = imported == Result::Ok ? headers : all;
    if (imported == Result::Ok || everyKind) {
        const ColourSpace space = accepted.colourSpace;
        std::fprintf(out, "  decoder: accepted%s, colours %s (%s)\n", everyKind ? " by jpgtool and the codec API" : "",
                     space == ColourSpace::Grey    ? "grey"
                     : space == ColourSpace::YCbCr ? "YCbCr"
                                                   : "RGB",
                     accepted.colourReason != nullptr ? accepted.colourReason : "");
        if (everyKind) std::fprintf(out, "  iImportJPG: refuses it: %s\n", headers.reason);
    } else {
        std::fprintf(out, "  decoder: refused: %s\n", headers.reason);
    }
    if (!facts.problem.empty()) std::fprintf(out, "  problem: %s\n", facts.problem.c_str());
    return 0;
}

int describeBmp(const char *path, std::FILE *out, std::string &reason) {
    OpenFile file;
    if (!file.open(path, OF_READ)) {
        reason = "cannot be opened";
        return 1;
    }
    BmpHeaders h;
    const Result res = readBmpHeaders(file, h);
    if (res != Result::Ok) {
        reason = res == Result::Unsupported ? "unsupported BMP header" : "damaged BMP header";
        return 1;
    }
    std::fprintf(out, "%s: BMP file\n", path);
    std::fprintf(out, "  file size field: %u, pixel data offset: %u\n", le32(h.fileHeader + 2), h.bfOffBits);
    std::fprintf(out, "  info header: %u bytes\n", h.infoSize);
    std::fprintf(out, "  size: %d x %d pixels (%s)\n", h.width, static_cast<int>(h.rows),
                 h.height < 0 ? "negative height" : "positive height");
    std::fprintf(out, "  bits per pixel: %u, compression: %u\n", h.bitCount, h.compression);
    std::fprintf(out, "  row stride: %s bytes, image size: %s bytes\n", std::to_string(h.stride).c_str(),
                 std::to_string(h.sizeImage).c_str());
    std::fprintf(out, "  colours used: %u\n", h.clrUsed);
    if (h.bitCount <= 8) {
        ColourTable table;
        if (readColourTable(h, table) != Result::Ok) {
            reason = "out of memory";
            return 1;
        }
        const ColourTableKind kind = table.kind;
        std::fprintf(out, "  colour table: %s\n",
                     kind == ColourTableKind::GreyRamp
                         ? (h.bitCount == 8 ? "the grey ramp (the pixel values are grey levels; exported as grey)"
                                            : "the grey ramp (exported as grey)")
                     : kind == ColourTableKind::Grey ? "grey levels (exported as grey through the table)"
                                                     : "colours (exported as colour through the table)");
    }
    return 0;
}

int describe(const char *path, std::FILE *out, std::string &reason) {
    std::FILE *f = path != nullptr ? std::fopen(path, "rb") : nullptr;
    if (f == nullptr) {
        reason = "cannot be opened";
        return 1;
    }
    const int a = std::fgetc(f), b = std::fgetc(f);
    int status;
    if (a == marker::kPrefix && b == marker::kSoi) {
        status = describeJpeg(path, f, out);
    } else if (a == 'B' && b == 'M') {
        status = describeBmp(path, out, reason);
    } else {
        reason = "not a JPEG file (nor a BMP file)";
        status = 1;
    }
    std::fclose(f);
    return status;
}

}  // namespace

}  // namespace jpg::tool

extern "C" int32_t jpgToolDescribe(const char *path, FILE *out, char *reason, size_t reasonSize) {
    try {
        std::string why;
        if (jpg::tool::describe(path, out != nullptr ? out : stdout, why) == 0) return 0;
        jpg::tool::giveReason(why, reason, reasonSize);
    } catch (...) {
        jpg::tool::giveReason("out of memory", reason, reasonSize);
    }
    return 1;
}
