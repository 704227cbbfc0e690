// Imports under every option set: corpora, and pictures of every layout made
// by cjpeg (when it is installed) and by the library's own export.
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "decoder/decoder_internal.h"
#include "decoder_test_util.h"
#include "differential.h"
#include "jpg.h"
#include "jpg_codec.h"
#include "test_util.h"

namespace differential {

namespace {

namespace fs = std::filesystem;
using testutil::Bytes;

struct Outcome {
    int32_t status = -1;
    Bytes bmp;
    bool operator==(const Outcome &o) const { return status == o.status && bmp == o.bmp; }
};

// The forms an import writes: the library's BMP rows (top first), a
// standard bottom-up BMP file (each strip written at its place), netpbm.
enum class Form { TopFirst, BottomUp, Netpbm };

Outcome importWith(const std::string &jpeg, const std::string &out, jpg::CallOptions options, Form form) {
    std::remove(out.c_str());
    Outcome o;
    jpg::ImportTarget target;
    target.path = out.c_str();
    if (form == Form::Netpbm) target.format = jpg::PictureFormat::Netpbm;
    if (form == Form::BottomUp) options.rowOrder = jpg::RowOrder::Standard;
    o.status = jpg::importJpegFile(jpeg.c_str(), target, options);
    if (testutil::fileExists(out)) o.bmp = testutil::readFile(out);
    return o;
}

// The import's BMP rows (top first), without their padding.
Bytes bmpRows(const Bytes &bmp) {
    if (bmp.size() < 54) return {};
    const uint32_t offset = bmp[10] | bmp[11] << 8 | bmp[12] << 16 | uint32_t(bmp[13]) << 24;
    const uint32_t width = bmp[18] | bmp[19] << 8 | bmp[20] << 16 | uint32_t(bmp[21]) << 24;
    const uint32_t height = bmp[22] | bmp[23] << 8 | bmp[24] << 16 | uint32_t(bmp[25]) << 24;
    const uint32_t bytes = bmp[28] / 8u;
    const size_t stride = (size_t{width} * bytes + 3) & ~size_t{3};
    Bytes rows;
    for (uint32_t y = 0; y < height && offset + (y + 1) * stride <= bmp.size(); ++y)
        rows.insert(rows.end(), bmp.begin() + offset + y * stride, bmp.begin() + offset + y * stride + width * bytes);
    return rows;
}

// The codec API's decodes of the file: at full size in the import's own
// form (B, G, R, or grey) the import's rows and status, under every option
// set; at 1/2, 1/4 and 1/8 and in other formats, every set the same bytes.
void checkDecodes(const std::string &path, const std::string &label, const Outcome &imported, Tally &tally) {
    const Bytes jpeg = testutil::readFile(path);
    const std::vector<jpg::CallOptions> sets = optionSets();
    const bool grey = imported.bmp.size() > 28 && imported.bmp[28] == 8;
    if (imported.status == JPG_IMPORT_OK || imported.status == JPG_IMPORT_DAMAGED) {
        const Bytes rows = bmpRows(imported.bmp);
        const int32_t status = imported.status == JPG_IMPORT_OK ? JPG_OK : JPG_WARNING;
        for (const jpg::CallOptions &options : sets) {
            ++tally.cases;
            const Decoded decoded = decodeWith(jpeg, options, 1, grey ? JPG_FORMAT_GREY : JPG_FORMAT_BGR);
            if (decoded.status != status || decoded.pixels != rows)
                tally.fail("decode of " + label + " under " + describe(options) + ": status " +
                           std::to_string(decoded.status) + ", not the import's " + std::to_string(imported.status) +
                           (decoded.pixels != rows ? ", other pixels" : ""));
        }
    }
    for (const int32_t scale : {1, 2, 4, 8}) {
        const int32_t format = scale == 1 ? JPG_FORMAT_RGBA : scale == 8 ? JPG_FORMAT_GREY : JPG_FORMAT_RGB;
        const Decoded reference = decodeWith(jpeg, sets.front(), scale, format);
        tally.note("decode " + label + " 1/" + std::to_string(scale), reference.status, reference.pixels);
        for (size_t i = 1; i < sets.size(); ++i) {
            ++tally.cases;
            if (!(decodeWith(jpeg, sets[i], scale, format) == reference))
                tally.fail("decode of " + label + " at 1/" + std::to_string(scale) + " under " + describe(sets[i]) +
                           " differs from " + describe(sets.front()));
        }
    }
}

void checkOne(const std::string &jpeg, const std::string &label, const testutil::TempDir &dir, Tally &tally,
              std::initializer_list<Form> forms = {Form::TopFirst}) {
    const std::string out = dir.file("out.bmp");
    const std::vector<jpg::CallOptions> sets = optionSets();
    for (const Form form : forms) {
        const Outcome reference = importWith(jpeg, out, sets.front(), form);
        if (form == Form::TopFirst) checkDecodes(jpeg, label, reference, tally);
        tally.note("import " + label + " form " + std::to_string(int(form)), reference.status, reference.bmp);
        for (size_t i = 1; i < sets.size(); ++i) {
            ++tally.cases;
            const Outcome other = importWith(jpeg, out, sets[i], form);
            if (!(other == reference))
                tally.fail(label + " (form " + std::to_string(int(form)) + ") under " + describe(sets[i]) +
                           ": status " + std::to_string(other.status) + " (reference " +
                           std::to_string(reference.status) + "), " + std::to_string(other.bmp.size()) +
                           " bytes (reference " + std::to_string(reference.bmp.size()) + ")");
        }
    }
}

// Pictures of every layout cjpeg makes, at sizes that leave partial MCUs and
// SIMD tails, with and without restart markers.
void checkGenerated(Scope scope, const testutil::TempDir &dir, Tally &tally) {
    struct Size {
        uint32_t w, h;
    };
    // On two threads: a slot of one strip or two (wide), of many with a
    // short last slot (narrow and tall), and of a few MCU columns.
    std::vector<Size> sizes = {{1, 1}, {17, 9}, {37, 23}, {333, 201}, {2000, 40}, {24, 2000}};
    if (scope == Scope::Full) sizes.push_back({3001, 2001});
    const char *layouts[] = {"-sample 2x2", "-sample 2x1", "-sample 1x1", "-sample 1x2", "-sample 4x1",
                             "-grayscale", "-rgb", "-sample 2x2 -restart 1", "-sample 2x1 -restart 3B -quality 95"};
    const bool cjpeg = testutil::haveProgram("cjpeg");
    for (const Size &s : sizes) {
        for (uint32_t channels : {1u, 3u}) {
            const testutil::Image image = testutil::photoImage(s.w, s.h, channels, s.w + s.h);
            const std::string name = std::to_string(s.w) + "x" + std::to_string(s.h) + "-" + std::to_string(channels);
            // The library's own export (one grey or 2x1 colour layout).
            testutil::writeFile(dir.file("in.bmp"), testutil::bmpBytes(image));
            if (iExportJPG(dir.file("in.bmp").c_str(), dir.file("own.jpg").c_str(), 1, 3) == 0)
                checkOne(dir.file("own.jpg"), "own " + name, dir, tally);
            if (!cjpeg) continue;
            testutil::writeFile(dir.file("in.pnm"), testutil::pnmBytes(image));
            for (const char *layout : layouts) {
                if (channels == 1 && std::string(layout) != "-grayscale") continue;
                const std::string out = dir.file("peer.jpg");
                if (testutil::run(std::string("cjpeg -dct int ") + layout + " -outfile " + out + " " +
                                  dir.file("in.pnm")) != 0) {
                    tally.fail(std::string("cjpeg ") + layout + " failed");
                    continue;
                }
                checkOne(out, "cjpeg " + std::string(layout) + " " + name, dir, tally,
                         {Form::TopFirst, Form::BottomUp, Form::Netpbm});
            }
        }
    }
}

// Hand-made scans of pseudo-random data, long enough for the fast path's
// wide reader, under Huffman tables no encoder would write: a complete table
// whose last code is all ones, an incomplete one with codes of two lengths
// only, a table of one code, and one shaped like the usual tables with long
// codes for large values. The data decodes to every kind of symbol: values
// of every size, runs past the block's end, DC categories above 16, patterns
// no code matches; with stuffed bytes, stray markers and restart markers.
void checkCraftedScans(const testutil::TempDir &dir, Tally &tally) {
    using dectest::Bytes;
    auto append = [](Bytes &to, const Bytes &part) { to.insert(to.end(), part.begin(), part.end()); };
    struct Shape {
        const char *name;
        uint8_t counts[16];
    };
    const Shape shapes[] = {
        {"all-ones", {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2}},
        {"two-lengths", {0, 0, 6, 0, 0, 0, 0, 0, 0, 0, 0, 100, 0, 0, 0, 0}},
        {"one-code", {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"usual", {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d}},
    };
    // DC symbols run through the categories (17 is damaged data), AC symbols
    // put large sizes, sixteen zeros and end of block among the short codes.
    auto table = [](const Shape &shape, int cls, int number) {
        Bytes body = {static_cast<uint8_t>(cls << 4 | number)};
        body.insert(body.end(), shape.counts, shape.counts + 16);
        int total = 0;
        for (uint8_t c : shape.counts) total += c;
        for (int k = 0; k < total; ++k) {
            const int symbol = cls == 0 ? (17 - k % 18 + number) % 18 : (k * 0x35 + 0x0A + number * 0x11) & 0xFF;
            body.push_back(static_cast<uint8_t>(k == 1 && cls == 1 ? 0xF0 : k == 2 && cls == 1 ? 0x00 : symbol));
        }
        return dectest::segment(0xC4, body);
    };
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 16;
    };
    const size_t shapeCount = sizeof shapes / sizeof shapes[0];
    for (size_t v = 0; v < shapeCount; ++v) {
        for (int colour = 0; colour < 2; ++colour) {
            for (int restart = 0; restart < 2; ++restart) {
                const Shape &a = shapes[v], &b = shapes[(v + 1) % shapeCount];
                Bytes file = {0xFF, 0xD8};
                append(file, dectest::quantTable(0, restart ? 3 : 1));
                if (colour) {
                    append(file, dectest::frameHeader(203, 141, {{1, 2, 2, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}}));
                } else {
                    append(file, dectest::frameHeader(203, 141, {{1, 1, 1, 0}}));
                }
                append(file, table(a, 0, 0));
                append(file, table(a, 1, 0));
                append(file, table(b, 0, 1));
                append(file, table(b, 1, 1));
                if (restart) append(file, dectest::segment(0xDD, {0, 2}));
                append(file, colour ? dectest::scanHeader({{1, 0x00}, {2, 0x11}, {3, 0x10}})
                                    : dectest::scanHeader({{1, 0x00}}));
                // About 40 KB, more than one input chunk.
                for (int i = 0; i < 40000; ++i) {
                    const uint32_t r = next();
                    const uint8_t byte = static_cast<uint8_t>(r & 0xFF);
                    file.push_back(byte);
                    if (byte != 0xFF) continue;
                    const uint32_t what = (r >> 8) % 64;
                    // Mostly a stuffed zero; now and then a restart or another marker.
                    file.push_back(static_cast<uint8_t>(what < 56 ? 0x00 : what < 62 ? 0xD0 + what % 8 : 0xC4));
                }
                append(file, {0xFF, 0xD9});
                const std::string name = dir.file("crafted.jpg");
                testutil::writeFile(name, file);
                checkOne(name,
                         std::string("crafted ") + a.name + "/" + b.name + (colour ? " colour" : " grey") +
                             (restart ? " restarts" : ""),
                         dir, tally);
            }
        }
    }
}

}  // namespace

Decoded decodeWith(const Bytes &jpeg, const jpg::CallOptions &options, int32_t scale, int32_t format) {
    JpgDecodeSettings settings;
    jpgDefaultDecodeSettings(&settings);
    settings.scale = scale;
    settings.format = format;
    settings.threads = static_cast<int32_t>(options.threads);
    settings.kernels = options.kernels == jpg::KernelSet::Reference ? JPG_KERNELS_REFERENCE
                       : options.kernels == jpg::KernelSet::Plain   ? JPG_KERNELS_PLAIN
                       : options.kernels == jpg::KernelSet::Sse2    ? JPG_KERNELS_SSE2
                                                                    : JPG_KERNELS_AVX2;
    Decoded o;
    JpgInfo info{};
    info.size = sizeof info;
    if (jpgReadInfo(jpeg.data(), jpeg.size(), &info, nullptr) != JPG_OK || !info.decodable) return o;
    uint32_t width = 0, height = 0;
    jpgScaledSize(&info, scale, &width, &height);
    const size_t bytes = format == JPG_FORMAT_GREY ? 1 : format == JPG_FORMAT_RGBA || format == JPG_FORMAT_BGRA ? 4 : 3;
    if (uint64_t{width} * height * bytes > (uint64_t{1} << 28)) return o;
    o.pixels.assign(size_t{width} * height * bytes, 0xA5);
    o.status = jpgDecode(jpeg.data(), jpeg.size(), &settings, o.pixels.data(), width * bytes, o.pixels.size(), nullptr);
    if (o.status < 0) o.pixels.clear();
    return o;
}

void checkImports(const std::vector<std::string> &directories, Scope scope, Tally &tally) {
    testutil::TempDir dir;
    for (const std::string &d : directories) {
        std::error_code ec;
        std::vector<fs::path> files;
        for (const auto &e : fs::recursive_directory_iterator(d, ec))
            if (e.is_regular_file()) files.push_back(e.path());
        std::sort(files.begin(), files.end());
        for (const fs::path &f : files) {
            // Corpora hold other inputs too; anything may be tried as a JPEG file.
            if (f.extension() == ".bmp" || f.extension() == ".log") continue;
            checkOne(f.string(), f.string(), dir, tally);
        }
    }
    checkGenerated(scope, dir, tally);
    checkCraftedScans(dir, tally);
}

}  // namespace differential
