// Imports under every option set: corpora, and pictures of every layout made
// by cjpeg (when it is installed) and by the library's own export.
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "decoder/decoder_internal.h"
#include "differential.h"
#include "jpg.h"
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

void checkOne(const std::string &jpeg, const std::string &label, const testutil::TempDir &dir, Tally &tally,
              std::initializer_list<Form> forms = {Form::TopFirst}) {
    const std::string out = dir.file("out.bmp");
    const std::vector<jpg::CallOptions> sets = optionSets();
    for (const Form form : forms) {
        const Outcome reference = importWith(jpeg, out, sets.front(), form);
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
    std::vector<Size> sizes = {{1, 1}, {17, 9}, {37, 23}, {333, 201}};
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

}  // namespace

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
}

}  // namespace differential
