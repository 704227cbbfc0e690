// Exports under every option set: the BMP files of the corpora, and
// generated colour and grey pictures (odd sizes too, so that SIMD tails,
// edge padding and the threaded row queue meet), at levels 1, 3 and 10 with
// several preview layouts.
#include <algorithm>
#include <cstdio>

#include "differential.h"
#include "encoder/encoder_state.h"
#include "test_util.h"

namespace differential {

namespace {

using testutil::Bytes;

struct Outcome {
    jpg::Result result = jpg::Result::Ok;
    Bytes jpeg;
    bool operator==(const Outcome &o) const { return result == o.result && jpeg == o.jpeg; }
};

Outcome exportWith(const std::string &bmp, const std::string &jpeg, uint16_t layout, uint16_t level,
                   const jpg::CallOptions &options) {
    std::remove(jpeg.c_str());
    Outcome o;
    o.result = jpg::exportJpeg(bmp.c_str(), jpeg.c_str(), layout, level, options);
    if (testutil::fileExists(jpeg)) o.jpeg = testutil::readFile(jpeg);
    return o;
}

void checkOne(const std::string &bmp, const std::string &label, const testutil::TempDir &dir, Tally &tally) {
    const std::string jpeg = dir.file("out.jpg");
    const std::vector<jpg::CallOptions> sets = optionSets();
    for (const int32_t compressionLevel : {1, 3, 10}) {
        const auto layout = static_cast<uint16_t>(compressionLevel == 3 ? 1 : compressionLevel - 1);
        const uint16_t level = jpg::encoderLevel(compressionLevel);
        const Outcome reference = exportWith(bmp, jpeg, layout, level, sets.front());
        tally.note("export " + label + " level " + std::to_string(compressionLevel),
                   static_cast<int32_t>(reference.result), reference.jpeg);
        for (size_t i = 1; i < sets.size(); ++i) {
            ++tally.cases;
            const Outcome other = exportWith(bmp, jpeg, layout, level, sets[i]);
            if (!(other == reference))
                tally.fail("export of " + label + " at level " + std::to_string(compressionLevel) + " under " +
                           describe(sets[i]) + ": result " + std::to_string(static_cast<int>(other.result)) +
                           " (reference " + std::to_string(static_cast<int>(reference.result)) + "), " +
                           std::to_string(other.jpeg.size()) + " bytes (reference " +
                           std::to_string(reference.jpeg.size()) + ")");
        }
    }
}

void checkGenerated(Scope scope, const testutil::TempDir &dir, Tally &tally) {
    struct Size {
        uint32_t w, h;
    };
    std::vector<Size> sizes = {{1, 1}, {17, 9}, {37, 23}, {640, 480}};
    sizes.push_back(scope == Scope::Full ? Size{3001, 2001} : Size{3001, 17});
    for (const Size &s : sizes)
        for (const uint32_t channels : {1u, 3u}) {
            const testutil::Image image = testutil::photoImage(s.w, s.h, channels, s.w + s.h);
            const std::string bmp = dir.file("in.bmp");
            testutil::writeFile(bmp, testutil::bmpBytes(image));
            checkOne(bmp, std::to_string(s.w) + "x" + std::to_string(s.h) + "-" + std::to_string(channels), dir,
                     tally);
        }
}

bool isBmp(const std::string &path) {
    FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    char magic[2] = {};
    const bool bm = std::fread(magic, 1, 2, f) == 2 && magic[0] == 'B' && magic[1] == 'M';
    std::fclose(f);
    return bm;
}

}  // namespace

void checkExports(const std::vector<std::string> &directories, Scope scope, Tally &tally) {
    testutil::TempDir dir;
    for (const std::string &f : corpusFiles(directories))
        if (isBmp(f)) checkOne(f, f, dir, tally);
    checkGenerated(scope, dir, tally);
}

}  // namespace differential
