// Transcodings: a file jpegtran transcodes without loss (progressive,
// arithmetic-coded, several sequential scans, restart markers) must give
// exactly the pictures of its baseline original, at every scale, in every
// format, under every option set, on every architecture.
#include <cstdio>
#include <string>
#include <vector>

#include "differential.h"
#include "jpg_codec.h"
#include "test_util.h"

namespace differential {

using testutil::Bytes;

void checkTranscodings(Scope scope, Tally &tally) {
    if (!testutil::haveProgram("cjpeg") || !testutil::haveProgram("jpegtran")) {
        std::printf("transcodings: cjpeg or jpegtran not installed, skipped\n");
        return;
    }
    testutil::TempDir dir;
    const struct {
        const char *name, *options;
        uint32_t channels;
    } layouts[] = {{"grey", "-grayscale", 1},      {"4:4:4", "-sample 1x1", 3}, {"4:2:2", "-sample 2x1", 3},
                   {"4:2:0", "-sample 2x2", 3},    {"4:1:1", "-sample 4x1", 3}, {"4:4:0", "-sample 1x2", 3}};
    std::vector<std::pair<uint32_t, uint32_t>> sizes = {{17, 9}, {333, 257}};
    if (scope == Scope::Full) sizes.push_back({1001, 751});
    const char *kinds[] = {"-progressive", "-arithmetic", "-progressive -arithmetic", "-progressive -restart 2",
                           "-arithmetic -restart 1B"};
    const std::vector<jpg::CallOptions> sets = optionSets();
    int transcoded = 0;
    for (const auto &layout : layouts) {
        for (const auto &[w, h] : sizes) {
            const std::string label = std::string(layout.name) + " " + std::to_string(w) + "x" + std::to_string(h);
            testutil::writeFile(dir.file("in.pnm"),
                                testutil::pnmBytes(testutil::photoImage(w, h, layout.channels, w + h)));
            if (testutil::run(std::string("cjpeg -quality 85 ") + layout.options + " -outfile " +
                              dir.file("base.jpg") + " " + dir.file("in.pnm")) != 0) {
                tally.fail("cjpeg failed for " + label);
                continue;
            }
            const Bytes base = testutil::readFile(dir.file("base.jpg"));
            // Multi-scan sequential: the components in scans of their own.
            const std::string script = layout.channels == 1 ? "0: 0 63 0 0;" : "2: 0 63 0 0; 0: 0 63 0 0; 1: 0 63 0 0;";
            testutil::writeFile(dir.file("scans.txt"), Bytes(script.begin(), script.end()));
            std::vector<std::string> commands;
            for (const char *kind : kinds) commands.push_back(kind);
            commands.push_back("-scans " + dir.file("scans.txt"));
            for (const std::string &command : commands) {
                if (testutil::run("jpegtran " + command + " -outfile " + dir.file("t.jpg") + " " +
                                  dir.file("base.jpg")) != 0) {
                    tally.fail("jpegtran " + command + " failed for " + label);
                    continue;
                }
                const Bytes transcoding = testutil::readFile(dir.file("t.jpg"));
                ++transcoded;
                for (const int32_t scale : {1, 2, 4, 8}) {
                    for (const int32_t format : {JPG_FORMAT_GREY, JPG_FORMAT_RGB, JPG_FORMAT_BGRA}) {
                        const Decoded expected = decodeWith(base, sets.back(), scale, format);
                        for (const jpg::CallOptions &options : sets) {
                            ++tally.cases;
                            if (!(decodeWith(transcoding, options, scale, format) == expected))
                                tally.fail("jpegtran " + command + " of " + label + " at 1/" + std::to_string(scale) +
                                           " in format " + std::to_string(format) + " under " + describe(options) +
                                           ": not the picture of the baseline original");
                        }
                        // The original's picture, the same for every transcoding.
                        tally.note("transcoded original " + label + " 1/" +
                                       std::to_string(scale) + " format " + std::to_string(format),
                                   expected.status, expected.pixels);
                    }
                }
            }
        }
    }
    std::printf("transcodings: %d files of %zu layouts and %zu sizes, each at 4 scales in 3 formats\n", transcoded,
                sizeof layouts / sizeof layouts[0], sizes.size());
}

}  // namespace differential
