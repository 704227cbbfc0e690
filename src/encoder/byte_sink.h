// Where the encoder writes a JPEG file's bytes: an open file (the export's
// output file) or a block of memory that grows as the bytes come (jpgEncode).
// The header writer, both entropy coders and the preview writer write
// through it, so that every stage serves both.
#ifndef JPG_ENCODER_BYTE_SINK_H
#define JPG_ENCODER_BYTE_SINK_H

#include <cstdint>

#include "base/memory_blocks.h"
#include "base/platform.h"
#include "base/result.h"

namespace jpg {

struct ByteSink {
    HFILE file = HFILE_ERROR;      // a file, unless `inMemory`
    bool inMemory = false;           // or memory: blocks[current], `size` bytes of it used
    LockedBlock<uint8_t> blocks[2];  // the other block is made when it grows
    uint32_t current = 0;
    uint32_t capacity = 0;           // of blocks[current]; doubles as it grows
    uint64_t size = 0;               // bytes written so far
    Result failure = Result::Ok;     // the first failure; nothing is written after it

    // Writes to an open file from its current position (its start).
    void toFile(HFILE handle) { file = handle; }
    // Writes to a block of memory, made when the first bytes come. A block
    // never exceeds kMaxBlockBytes: bytes beyond fail as Unsupported.
    void toMemory() { inMemory = true; }

    // Appends `count` bytes; false (and `failure` set) when they could not be
    // written: IoError for a file, NoMemory when the block could not grow,
    // Unsupported when it would pass kMaxBlockBytes.
    bool write(const void *bytes, uint32_t count);
    // Overwrites `count` bytes written before, from `offset` on; then writing
    // goes on at the end.
    bool patch(uint32_t offset, const void *bytes, uint32_t count);
    bool ok() const { return failure == Result::Ok; }
    // The bytes written to memory.
    const uint8_t *bytes() const { return blocks[current].get(); }
};

}  // namespace jpg

#endif  // JPG_ENCODER_BYTE_SINK_H
