// The codec API's speed on one file, measured as tjbench measures
// libjpeg-turbo's (the file held in memory, a warm-up, then as many calls as
// fit in the bench time), for bench/compare_codec.py:
//   codec_api_bench decode FILE.jpg [--scale N] [--threads N] [--format bgr|rgb|grey]
//   codec_api_bench encode FILE.ppm [--quality Q] [--sampling 444|422|420|grey] [--threads N]
//   (both: [--benchtime SECONDS] [--warmup SECONDS])
// Prints the megapixels per second of the full-size picture (as tjbench
// counts them, scaled decodes included), and the calls made.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "jpg_codec.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<uint8_t> readFile(const char *path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs `call` for `warmup` seconds, then for at least `benchtime`; the calls
// per second of the timed part.
template <typename Call>
double callsPerSecond(Call call, double warmup, double benchtime, long &calls) {
    const auto seconds = [](Clock::time_point from) {
        return std::chrono::duration<double>(Clock::now() - from).count();
    };
    for (const Clock::time_point start = Clock::now(); seconds(start) < warmup;) call();
    calls = 0;
    const Clock::time_point start = Clock::now();
    double elapsed = 0;
    do {
        call();
        ++calls;
    } while ((elapsed = seconds(start)) < benchtime);
    return calls / elapsed;
}

struct Options {
    std::string mode, file, format = "bgr", sampling = "422";
    int scale = 1, threads = 1, quality = 75;
    double benchtime = 5.0, warmup = 1.0;
};

bool parse(int argc, char **argv, Options &o) {
    if (argc < 3) return false;
    o.mode = argv[1];
    o.file = argv[2];
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "--scale") o.scale = std::atoi(value.c_str());
        else if (name == "--threads") o.threads = std::atoi(value.c_str());
        else if (name == "--format") o.format = value;
        else if (name == "--quality") o.quality = std::atoi(value.c_str());
        else if (name == "--sampling") o.sampling = value;
        else if (name == "--benchtime") o.benchtime = std::atof(value.c_str());
        else if (name == "--warmup") o.warmup = std::atof(value.c_str());
        else return false;
    }
    return o.mode == "decode" || o.mode == "encode";
}

int32_t formatOf(const std::string &name) {
    return name == "rgb" ? JPG_FORMAT_RGB : name == "grey" ? JPG_FORMAT_GREY : JPG_FORMAT_BGR;
}

int decode(const Options &o) {
    const std::vector<uint8_t> jpeg = readFile(o.file.c_str());
    JpgInfo info{};
    info.size = sizeof info;
    JpgError error;
    if (jpgReadInfo(jpeg.data(), jpeg.size(), &info, &error) != JPG_OK || !info.decodable) {
        std::fprintf(stderr, "%s: %s\n", o.file.c_str(), error.message);
        return 1;
    }
    JpgDecodeSettings settings;
    jpgDefaultDecodeSettings(&settings);
    settings.scale = o.scale;
    settings.threads = o.threads;
    settings.format = formatOf(o.format);
    uint32_t width = 0, height = 0;
    if (jpgScaledSize(&info, o.scale, &width, &height) != JPG_OK) return 1;
    const size_t bytes = settings.format == JPG_FORMAT_GREY ? 1 : 3;
    std::vector<uint8_t> pixels(size_t{width} * height * bytes);
    int32_t status = JPG_OK;
    long calls = 0;
    const double rate = callsPerSecond(
        [&] {
            status = jpgDecode(jpeg.data(), jpeg.size(), &settings, pixels.data(), width * bytes, pixels.size(), &error);
        },
        o.warmup, o.benchtime, calls);
    if (status < JPG_OK) {
        std::fprintf(stderr, "%s: %s\n", o.file.c_str(), error.message);
        return 1;
    }
    std::printf("%.2f Mpixels/sec (%ld calls)\n", rate * info.width * info.height / 1e6, calls);
    return 0;
}

// A binary PPM or PGM file's picture.
bool readNetpbm(const std::vector<uint8_t> &file, uint32_t &width, uint32_t &height, uint32_t &channels,
                const uint8_t *&pixels) {
    int w = 0, h = 0, maxval = 0, used = 0;
    char kind = 0;
    if (std::sscanf(reinterpret_cast<const char *>(file.data()), "P%c %d %d %d%n", &kind, &w, &h, &maxval, &used) != 4)
        return false;
    channels = kind == '6' ? 3 : kind == '5' ? 1 : 0;
    width = static_cast<uint32_t>(w);
    height = static_cast<uint32_t>(h);
    const size_t start = static_cast<size_t>(used) + 1;
    if (channels == 0 || maxval != 255 || file.size() < start + size_t{width} * height * channels) return false;
    pixels = file.data() + start;
    return true;
}

int encode(const Options &o) {
    const std::vector<uint8_t> file = readFile(o.file.c_str());
    uint32_t width = 0, height = 0, channels = 0;
    const uint8_t *rgb = nullptr;
    if (!readNetpbm(file, width, height, channels, rgb)) {
        std::fprintf(stderr, "%s: not a binary PPM or PGM file of maxval 255\n", o.file.c_str());
        return 1;
    }
    // tjbench compresses from B, G, R: so does this.
    std::vector<uint8_t> pixels(rgb, rgb + size_t{width} * height * channels);
    if (channels == 3)
        for (size_t i = 0; i < pixels.size(); i += 3) std::swap(pixels[i], pixels[i + 2]);
    JpgEncodeSettings settings;
    jpgDefaultEncodeSettings(&settings);
    settings.format = channels == 1 ? JPG_FORMAT_GREY : JPG_FORMAT_BGR;
    settings.quality = o.quality;
    settings.threads = o.threads;
    settings.preview = 0;
    settings.sampling = o.sampling == "444"   ? JPG_SAMPLING_444
                        : o.sampling == "420" ? JPG_SAMPLING_420
                        : o.sampling == "grey" ? JPG_SAMPLING_GREY
                                               : JPG_SAMPLING_422;
    JpgError error;
    int32_t status = JPG_OK;
    long calls = 0;
    const double rate = callsPerSecond(
        [&] {
            void *jpeg = nullptr;
            size_t size = 0;
            status = jpgEncode(pixels.data(), width, height, size_t{width} * channels, &settings, &jpeg, &size, &error);
            jpgFree(jpeg);
        },
        o.warmup, o.benchtime, calls);
    if (status != JPG_OK) {
        std::fprintf(stderr, "%s: %s\n", o.file.c_str(), error.message);
        return 1;
    }
    std::printf("%.2f Mpixels/sec (%ld calls)\n", rate * width * height / 1e6, calls);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: codec_api_bench decode FILE.jpg [--scale N] [--threads N] [--format bgr|rgb|grey]\n"
                     "       codec_api_bench encode FILE.ppm [--quality Q] [--sampling 444|422|420|grey] [--threads N]\n"
                     "       (both: [--benchtime SECONDS] [--warmup SECONDS])\n");
        return 2;
    }
    return o.mode == "decode" ? decode(o) : encode(o);
}
