// Where the decoder reads a JPEG file's bytes: an open file, read as it goes
// (the headers a segment at a time, the entropy-coded data in 32 KB chunks),
// or a block of the caller's memory, read in place.
#ifndef JPG_DECODER_BYTE_SOURCE_H
#define JPG_DECODER_BYTE_SOURCE_H

#include <cstddef>
#include <cstdint>

#include "base/platform.h"

namespace jpg {

struct ByteSource {
    HFILE file = HFILE_ERROR;       // a file, when `data` is null
    const uint8_t *data = nullptr;  // or the bytes [data, data + size)
    size_t size = 0;
    size_t position = 0;            // of the next byte in `data`

    static ByteSource ofFile(HFILE file) {
        ByteSource s;
        s.file = file;
        return s;
    }
    static ByteSource ofMemory(const uint8_t *bytes, size_t count) {
        ByteSource s;
        s.data = bytes;
        s.size = bytes != nullptr ? count : 0;
        return s;
    }
    bool inMemory() const { return data != nullptr; }
};

// Reads up to `count` bytes, as _lread does: the number read (fewer at the
// end of the data), or HFILE_ERROR_COUNT when a file read failed.
UINT readSource(ByteSource &source, void *out, UINT count);

}  // namespace jpg

#endif  // JPG_DECODER_BYTE_SOURCE_H
