// Writes the photo-like test picture as PPM (colour) or PGM (grey), for the
// peer tools of bench/compare.sh.
//   make_photo WIDTH HEIGHT CHANNELS OUT.pnm
#include <cstdio>
#include <cstdlib>

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
    testutil::writeFile(argv[4], testutil::pnmBytes(testutil::photoImage(width, height, channels)));
    return 0;
}
