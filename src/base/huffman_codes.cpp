#include "base/huffman_codes.h"

namespace jpg {

uint32_t assignHuffmanCodes(const uint8_t counts[17], uint8_t sizes[257], uint16_t codes[256]) {
    uint32_t n = 0;
    for (uint32_t length = 1; length <= 16; ++length)
        for (uint32_t i = 0; i < counts[length] && n < 256; ++i) sizes[n++] = static_cast<uint8_t>(length);
    sizes[n] = 0;

    uint32_t code = 0;
    uint32_t size = sizes[0];
    for (uint32_t k = 0; sizes[k] != 0;) {
        while (sizes[k] == size) codes[k++] = static_cast<uint16_t>(code++);
        code <<= 1;
        ++size;
    }
    return n;
}

}  // namespace jpg
