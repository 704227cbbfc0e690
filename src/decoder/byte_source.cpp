
#include "decoder/byte_source.h"

#include <cstring>

namespace jpg {

UINT readSource(ByteSource &source, void *out, UINT count) {
    if (!source.inMemory()) return _lread(source.file, out, count);
    const size_t left = source.size - source.position;
    const UINT n = left < count ? static_cast<UINT>(left) : count;
    if (n != 0) std::memcpy(out, source.data + source.position, n);
    source.position += n;
    return n;
}

}  // namespace jpg
