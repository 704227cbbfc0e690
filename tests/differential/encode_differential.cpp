// jpgEncode under every option set. With the level, from the pixels of every
// BMP file of the corpora and of generated pictures (in every pixel format,
// rows padded or not): exactly the bytes iExportJPG writes. In every layout
// (4:4:4, 4:2:0, grey of colour pixels, restart markers, quality tables of
// 16 bits, the added segments): the same bytes through the reference loop
// and every kernel set on one thread and two.
#include <algorithm>
#include <cstring>

#include "differential.h"
#include "jpg.h"
#include "jpg_codec.h"
#include "test_util.h"

namespace differential {

namespace {

using testutil::Bytes;

// Pixels as jpgEncode takes them.
struct Pixels {
    uint32_t width = 0, height = 0;
    int32_t format = JPG_FORMAT_RGB;
    size_t pitch = 0;
    Bytes bytes;
};

uint32_t le32(const Bytes &b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// The pixels the export encodes from a BMP file, as it reads them: the
// first stored row is the top; 24 bits are B, G, R, 32 bits B, G, R and a
// byte; 1, 4 and 8 bits are looked up in the colour table (an index past
// its entries is black), one grey byte when every entry is grey, else
// B, G, R; but an 8-bit file whose table is the grey ramp gives its values
// as they are. False for a file the export refuses.
bool exportPixels(const Bytes &bmp, Pixels &out) {
    if (bmp.size() < 54 || bmp[0] != 'B' || bmp[1] != 'M') return false;
    const uint32_t infoSize = le32(bmp, 14), bits = bmp[28] | bmp[29] << 8;
    const auto width = static_cast<int32_t>(le32(bmp, 18)), height = static_cast<int32_t>(le32(bmp, 22));
    if (infoSize < 40 || infoSize > 1024 || le32(bmp, 30) != 0 || width < 1 || width > 65535 || height == 0 ||
        height < -65535 || height > 65535 || (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32))
        return false;
    uint32_t colours = le32(bmp, 46);
    if (colours == 0 && bits <= 8) colours = 1u << bits;
    if (colours > 256) return false;
    const size_t table = 14 + infoSize, afterTable = table + 4 * size_t{colours};
    const size_t offset = std::max<size_t>(le32(bmp, 10), afterTable);
    out.width = static_cast<uint32_t>(width);
    out.height = static_cast<uint32_t>(height < 0 ? -height : height);
    const size_t stride = ((bits * size_t{out.width} + 31) / 32) * 4, rowBytes = (bits * size_t{out.width} + 7) / 8;
    if (bmp.size() < afterTable || bmp.size() < offset + stride * (out.height - 1) + rowBytes) return false;

    const uint32_t entries = std::min(colours, bits < 8 ? 1u << bits : 256u);
    bool grey = true, ramp = true;
    for (uint32_t i = 0; i < entries && bits <= 8; ++i) {
        const uint8_t *e = &bmp[table + 4 * i];
        grey = grey && e[0] == e[1] && e[1] == e[2];
        ramp = ramp && grey && e[0] == i;
    }
    const uint32_t bytes = bits == 32 ? 4 : bits == 24 || !grey ? 3 : 1;
    out.format = bytes == 1 ? JPG_FORMAT_GREY : bytes == 3 ? JPG_FORMAT_BGR : JPG_FORMAT_BGRA;
    out.pitch = size_t{out.width} * bytes;
    out.bytes.assign(out.pitch * out.height, 0);
    for (uint32_t y = 0; y < out.height; ++y) {
        const uint8_t *row = &bmp[offset + y * stride];
        uint8_t *to = &out.bytes[y * out.pitch];
        if (bits > 8 || (bits == 8 && ramp)) {
            std::memcpy(to, row, out.pitch);
            continue;
        }
        for (uint32_t x = 0; x < out.width; ++x) {
            const uint32_t at = x * bits;
            const uint32_t index = (row[at / 8] >> (8 - bits - at % 8)) & ((1u << bits) - 1);
            for (uint32_t c = 0; c < bytes; ++c) to[x * bytes + c] = index < entries ? bmp[table + 4 * index + c] : 0;
        }
    }
    return true;
}

// A generated picture's pixels in `format`, each row `pad` bytes longer.
Pixels pixelsOf(const testutil::Image &image, int32_t format, size_t pad) {
    Pixels p;
    p.width = image.width;
    p.height = image.height;
    p.format = format;
    const uint32_t bytes = format == JPG_FORMAT_GREY ? 1 : format <= JPG_FORMAT_BGR ? 3 : 4;
    const bool swap = format == JPG_FORMAT_BGR || format == JPG_FORMAT_BGRA;
    p.pitch = size_t{image.width} * bytes + pad;
    p.bytes.assign(p.pitch * image.height, 0x77);
    for (uint32_t y = 0; y < image.height; ++y)
        for (uint32_t x = 0; x < image.width; ++x) {
            const uint8_t *from = image.at(x, y);
            uint8_t *to = &p.bytes[y * p.pitch + x * bytes];
            for (uint32_t c = 0; c < bytes && c < 3; ++c) to[c] = from[image.channels == 1 ? 0 : swap ? 2 - c : c];
        }
    return p;
}

int32_t kernelsOf(jpg::KernelSet set) {
    switch (set) {
    case jpg::KernelSet::Reference: return JPG_KERNELS_REFERENCE;
    case jpg::KernelSet::Plain: return JPG_KERNELS_PLAIN;
    case jpg::KernelSet::Sse2: return JPG_KERNELS_SSE2;
    case jpg::KernelSet::Avx2: return JPG_KERNELS_AVX2;
    default: return JPG_KERNELS_AUTO;
    }
}

struct Outcome {
    int32_t status = 0;
    Bytes jpeg;
    bool operator==(const Outcome &o) const { return status == o.status && jpeg == o.jpeg; }
};

Outcome encodeWith(const Pixels &p, JpgEncodeSettings settings, const jpg::CallOptions &options) {
    settings.format = p.format;
    settings.kernels = kernelsOf(options.kernels);
    settings.threads = static_cast<int32_t>(options.threads);
    void *jpeg = nullptr;
    size_t size = 0;
    Outcome o;
    o.status = jpgEncode(p.bytes.data(), p.width, p.height, p.pitch, &settings, &jpeg, &size, nullptr);
    if (jpeg != nullptr) o.jpeg.assign(static_cast<uint8_t *>(jpeg), static_cast<uint8_t *>(jpeg) + size);
    jpgFree(jpeg);
    return o;
}

std::string sizeName(const Outcome &o) { return std::to_string(o.status) + ", " + std::to_string(o.jpeg.size()) + " bytes"; }

// With the level: the export's bytes of `bmp` under every option set.
void checkAgainstExport(const std::string &bmp, const Pixels &pixels, const std::string &label,
                        const testutil::TempDir &dir, Tally &tally) {
    const std::string jpeg = dir.file("export.jpg");
    for (const int32_t compressionLevel : {1, 3, 10}) {
        const int32_t layout = compressionLevel == 3 ? 1 : compressionLevel - 1;
        std::remove(jpeg.c_str());
        if (iExportJPG(bmp.c_str(), jpeg.c_str(), layout, compressionLevel) != 0) continue;
        const Outcome exported{JPG_OK, testutil::readFile(jpeg)};
        JpgEncodeSettings settings;
        jpgDefaultEncodeSettings(&settings);
        settings.useLevel = 1;
        settings.level = compressionLevel;
        settings.previewLayout = layout;
        for (const jpg::CallOptions &options : optionSets()) {
            ++tally.cases;
            const Outcome encoded = encodeWith(pixels, settings, options);
            if (!(encoded == exported))
                tally.fail("encode of " + label + " at level " + std::to_string(compressionLevel) + " under " +
                           describe(options) + ": " + sizeName(encoded) + ", the export " + sizeName(exported));
        }
    }
}

// One layout of the settings: the same bytes under every option set.
void checkLayout(const Pixels &pixels, const JpgEncodeSettings &settings, const std::string &label, Tally &tally) {
    const std::vector<jpg::CallOptions> sets = optionSets();
    const Outcome reference = encodeWith(pixels, settings, sets.front());
    tally.note("encode " + label, reference.status, reference.jpeg);
    if (reference.status != JPG_OK) tally.fail("encode " + label + ": status " + std::to_string(reference.status));
    for (size_t i = 1; i < sets.size(); ++i) {
        ++tally.cases;
        const Outcome other = encodeWith(pixels, settings, sets[i]);
        if (!(other == reference))
            tally.fail("encode " + label + " under " + describe(sets[i]) + ": " + sizeName(other) + ", the reference " +
                       sizeName(reference));
    }
}

struct Layout {
    const char *name;
    int32_t format, quality, sampling;  // quality 0: level 3
    uint32_t restart;
    bool preview, segments;  // segments: an ICC profile of two chunks and a comment
};
constexpr Layout kLayouts[] = {
    {"444 q75", JPG_FORMAT_RGB, 75, JPG_SAMPLING_444, 0, true, false},
    {"420 q90 restart 3", JPG_FORMAT_BGRA, 90, JPG_SAMPLING_420, 3, true, false},
    {"grey of colour q50", JPG_FORMAT_RGBA, 50, JPG_SAMPLING_GREY, 0, true, false},
    {"422 q10 restart 1", JPG_FORMAT_RGB, 10, JPG_SAMPLING_422, 1, true, false},
    {"420 level 3", JPG_FORMAT_BGR, 0, JPG_SAMPLING_420, 0, true, false},
    {"444 q100 restart 7 segments", JPG_FORMAT_BGR, 100, JPG_SAMPLING_444, 7, false, true},
    {"grey q30 restart 2", JPG_FORMAT_GREY, 30, JPG_SAMPLING_422, 2, true, false},
};

}  // namespace

void checkEncodes(const std::vector<std::string> &directories, Scope scope, Tally &tally) {
    testutil::TempDir dir;
    // The corpora's BMP files; the export fuzz targets' seeds start with two
    // bytes of settings.
    for (const std::string &f : corpusFiles(directories)) {
        Bytes bytes = testutil::readFile(f);
        if (bytes.size() > 4 && bytes[0] != 'B' && bytes[2] == 'B' && bytes[3] == 'M')
            bytes.erase(bytes.begin(), bytes.begin() + 2);
        Pixels pixels;
        if (!exportPixels(bytes, pixels)) continue;
        const std::string bmp = dir.file("corpus.bmp");
        testutil::writeFile(bmp, bytes);
        checkAgainstExport(bmp, pixels, f, dir, tally);
    }

    struct Size {
        uint32_t w, h;
    };
    std::vector<Size> sizes = {{1, 1}, {17, 9}, {37, 23}, {640, 480}};
    sizes.push_back(scope == Scope::Full ? Size{3001, 2001} : Size{3001, 17});
    for (size_t i = 0; i < sizes.size(); ++i)
        for (const uint32_t channels : {1u, 3u}) {
            const Size &s = sizes[i];
            const testutil::Image image = testutil::photoImage(s.w, s.h, channels, s.w + s.h);
            const std::string bmp = dir.file("generated.bmp");
            testutil::writeFile(bmp, testutil::bmpBytes(image));
            static constexpr int32_t kColourFormats[] = {JPG_FORMAT_RGB, JPG_FORMAT_BGR, JPG_FORMAT_RGBA,
                                                         JPG_FORMAT_BGRA};
            const int32_t format = channels == 1 ? JPG_FORMAT_GREY : kColourFormats[i % 4];
            checkAgainstExport(bmp, pixelsOf(image, format, i % 3), std::to_string(s.w) + "x" + std::to_string(s.h) +
                                   "-" + std::to_string(channels), dir, tally);
        }

    Bytes profile(70000);
    for (size_t i = 0; i < profile.size(); ++i) profile[i] = static_cast<uint8_t>(i % 253);
    sizes = {{1, 1}, {17, 9}, {37, 23}, {77, 45}, {640, 480}};
    sizes.push_back(scope == Scope::Full ? Size{2001, 1001} : Size{1001, 33});
    for (const Size &s : sizes) {
        const testutil::Image colour = testutil::photoImage(s.w, s.h, 3, s.w * 3 + s.h);
        const testutil::Image grey = testutil::photoImage(s.w, s.h, 1, s.w * 3 + s.h);
        for (const Layout &l : kLayouts) {
            JpgEncodeSettings settings;
            jpgDefaultEncodeSettings(&settings);
            settings.useLevel = l.quality == 0;
            settings.level = 3;
            settings.quality = l.quality;
            settings.sampling = l.sampling;
            settings.restartInterval = l.restart;
            settings.preview = l.preview;
            settings.previewLayout = l.quality == 0 ? 0 : 1;
            if (l.segments) {
                settings.icc = profile.data();
                settings.iccSize = static_cast<uint32_t>(profile.size());
                settings.comment = "a comment";
            }
            const Pixels pixels = pixelsOf(l.format == JPG_FORMAT_GREY ? grey : colour, l.format, s.w % 5);
            checkLayout(pixels, settings, std::to_string(s.w) + "x" + std::to_string(s.h) + " " + l.name, tally);
        }
    }
}

}  // namespace differential
