// The differential check of the kernel sets: every conversion through the
// reference kernels and through every other set the processor runs, with one
// and two threads, must give the same bytes and the same status; and
// jpgEncode must give the bytes of the export.
#ifndef JPG_TESTS_DIFFERENTIAL_H
#define JPG_TESTS_DIFFERENTIAL_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/call_options.h"

namespace differential {

// How much to try: Quick keeps to small pictures (the sanitizer build, and
// the 32-bit build under emulation).
enum class Scope { Quick, Full };

struct Tally {
    int cases = 0;
    int failures = 0;
    // Each case's reference outcome by its label: a digest of its status and
    // bytes, to compare runs on other architectures with.
    std::map<std::string, uint64_t> digests;
    void fail(const std::string &what);
    void note(const std::string &label, int32_t status, const std::vector<uint8_t> &bytes);
};

// The files in `directories` and below, each directory's in sorted order.
std::vector<std::string> corpusFiles(const std::vector<std::string> &directories);

// Every option set a conversion is compared under, the reference first.
std::vector<jpg::CallOptions> optionSets();
std::string describe(const jpg::CallOptions &options);

// jpgDecode of `jpeg` at a scale, in a format, under an option set: its
// status and pixels (none when the file is not decodable or the call fails).
struct Decoded {
    int32_t status = -1;
    std::vector<uint8_t> pixels;
    bool operator==(const Decoded &o) const { return status == o.status && pixels == o.pixels; }
};
Decoded decodeWith(const std::vector<uint8_t> &jpeg, const jpg::CallOptions &options, int32_t scale, int32_t format);

// Imports: the JPEG files in `directories` and generated pictures of every
// layout.
void checkImports(const std::vector<std::string> &directories, Scope scope, Tally &tally);

// Exports: the BMP files in `directories` and generated colour and grey
// pictures, at several levels and preview layouts.
void checkExports(const std::vector<std::string> &directories, Scope scope, Tally &tally);

// jpgEncode: with the level, the export's bytes of the BMP files in
// `directories` and of generated pictures in every pixel format; in every
// layout, the same bytes under every option set.
void checkEncodes(const std::vector<std::string> &directories, Scope scope, Tally &tally);

// Transcodings by jpegtran (progressive, arithmetic-coded, multi-scan,
// restart markers) of cjpeg's files of every layout: the same pictures as
// the originals (when cjpeg and jpegtran are installed).
void checkTranscodings(Scope scope, Tally &tally);

}  // namespace differential

#endif
