// Writes the photo-like test picture as PPM (colour) or PGM (grey), or, for
// a name ending in .bmp, as a BMP file in the library's row order (8-bit
// grey ramp or 24-bit), for bench/compare.sh.
//   make_photo WIDTH HEIGHT CHANNELS OUT.pnm|OUT.bmp
#include <cstdio>
#include <cstdlib>
#include <string>

#include "test_util.h"

int main(int argc, char **argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: make_photo WIDTH HEIGHT CHANNELS(1|3) OUT\n");
        return 2;
    }
    const auto width = static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10));
    const auto height = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    const auto channels = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10));
    if (width == 0 || height == 0 || (channels != 1 && channels != 3)) return 2;
    const testutil::Image image = testutil::photoImage(width, height, channels);
    const std::string out = argv[4];
    const bool bmp = out.size() > 4 && out.compare(out.size() - 4, 4, ".bmp") == 0;
    testutil::writeFile(out, bmp ? testutil::bmpBytes(image) : testutil::pnmBytes(image));
    return 0;
}
