// Checked size arithmetic for memory blocks.
#include "base/memory_blocks.h"

namespace jpg {

bool checkedProduct(std::initializer_list<uint64_t> factors, uint32_t &out) {
    uint64_t product = 1;
    for (const uint64_t f : factors) {
        if (f != 0 && product > kMaxBlockBytes / f) return false;
        product *= f;
    }
    if (product > kMaxBlockBytes) return false;
    out = static_cast<uint32_t>(product);
    return true;
}

}  // namespace jpg
