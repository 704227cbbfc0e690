// Helpers shared by the tests: scratch directories, whole-file I/O, BMP
// images made in memory, and running programs.
#ifndef JPG_TESTS_TEST_UTIL_H
#define JPG_TESTS_TEST_UTIL_H

#include <cstdint>
#include <string>
#include <vector>

namespace testutil {

using Bytes = std::vector<uint8_t>;

// A fresh directory under the system's temporary directory, removed with
// its content when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }
    // Names of the entries in the directory, sorted.
    std::vector<std::string> entries() const;

private:
    std::string path_;
};

bool fileExists(const std::string &path);
Bytes readFile(const std::string &path);
void writeFile(const std::string &path, const Bytes &bytes);

// A picture as the tests make it: rows top first, `channels` bytes per pixel
// (1 grey, 3 in the order R, G, B).
struct Image {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t channels = 3;
    Bytes pixels;
    uint8_t *at(uint32_t x, uint32_t y) { return &pixels[(static_cast<size_t>(y) * width + x) * channels]; }
    const uint8_t *at(uint32_t x, uint32_t y) const {
        return &pixels[(static_cast<size_t>(y) * width + x) * channels];
    }
};

// A smooth photo-like test picture (gradients, a few edges and texture).
Image photoImage(uint32_t width, uint32_t height, uint32_t channels, uint32_t seed = 1);

// BMP bytes as this library stores them (top row first, positive height):
// 8-bit with a grey ramp for one channel, 24-bit (B, G, R) for three.
Bytes bmpBytes(const Image &image);
// The picture of a BMP file written by the library (8 or 24 bits, top row
// first); channels 1 or 3 (R, G, B).
Image parseBmp(const Bytes &bytes);

// PPM/PGM bytes (for cjpeg), and a parser for djpeg's output.
Bytes pnmBytes(const Image &image);
Image parsePnm(const Bytes &bytes);

// Runs a shell command; returns its exit status. Output to standard error
// is kept in `errorText` when given.
int run(const std::string &command, std::string *errorText = nullptr);
bool haveProgram(const std::string &name);

// Differences between two pictures of equal size.
struct Difference {
    int maxAbs = 0;
    double psnr = 0;
    double meanAbs = 0;
};
Difference compare(const Image &a, const Image &b);

}  // namespace testutil

#endif
