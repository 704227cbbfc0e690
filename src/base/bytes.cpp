// Rounding sizes in 16 bits.
#include "base/bytes.h"

namespace jpg {

uint16_t roundUp(uint16_t value, uint16_t multiple) {
    const auto t = static_cast<uint16_t>(value + multiple - 1);
    return static_cast<uint16_t>(t - t % multiple);
}

}  // namespace jpg
