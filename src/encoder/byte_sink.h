// Where the encoder writes a JPEG file's bytes: an open file (the export's
// output file) or a block of memory that grows as the bytes come (jpgEncode).
// The header writer, both entropy coders and the preview writer write
// through it, so that every stage serves both.
//
// Bytes are either written (write, patch), or coded straight into the
// sink's window: the free end of the memory block, or, for a file, a
// staging buffer that goes to the file when it is handed back. This is how
// the fast coder writes, without a buffer of its own and, into memory,
// without a copy.
#ifndef JPG_ENCODER_BYTE_SINK_H
#define JPG_ENCODER_BYTE_SINK_H

#include <cstdint>

#include "base/memory_blocks.h"
#include "base/platform.h"
#include "base/result.h"

namespace jpg {

struct ByteSink {
    HFILE file = HFILE_ERROR;        // a file, unless `inMemory`
    bool inMemory = false;           // or memory: blocks[current], `size` bytes of it used
    LockedBlock<uint8_t> blocks[2];  // for a file, blocks[0] is the staging buffer
    uint32_t current = 0;
    uint32_t capacity = 0;           // of blocks[current]; doubles as it grows
    uint32_t firstCapacity = 0;      // of the first block
    uint64_t size = 0;               // bytes written so far
    Result failure = Result::Ok;     // the first failure; nothing is written after it

    // Writes to an open file from its current position (its start).
    void toFile(HFILE handle) { file = handle; }
    // Writes to a block of memory, made when the first bytes come, of
    // `expected` bytes (at least 64 KB). A block never exceeds
    // kMaxBlockBytes: bytes beyond fail as Unsupported.
    void toMemory(uint64_t expected);

    // Appends `count` bytes; false (and `failure` set) when they could not be
    // written: IoError for a file, NoMemory when the block could not grow,
    // Unsupported when it would pass kMaxBlockBytes.
    bool write(const void *bytes, uint32_t count);
    // Overwrites `count` bytes written before, from `offset` on; then writing
    // goes on at the end.
    bool patch(uint32_t offset, const void *bytes, uint32_t count);
    // Room for at least `least` bytes (at most 64 KB) at the end: their first
    // byte, and in `room` how many there are. Null after a failure.
    uint8_t *window(uint32_t least, uint32_t &room);
    // The first `count` bytes of the last window are the file's next bytes.
    bool commit(uint32_t count);

    bool ok() const { return failure == Result::Ok; }
    // The bytes written to memory.
    const uint8_t *bytes() const { return blocks[current].get(); }
};

}  // namespace jpg

#endif  // JPG_ENCODER_BYTE_SINK_H
