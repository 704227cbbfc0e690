#include "encoder/byte_sink.h"

#include <cstring>

#include "base/files.h"

namespace jpg {

namespace {

constexpr uint32_t kLeastCapacity = 1u << 16;
// A file's staging buffer: the bytes of one file write.
constexpr uint32_t kStagingBytes = 1u << 17;

// Makes room for `needed` bytes in all: the capacity doubles (at least to
// `needed`), up to kMaxBlockBytes.
bool grow(ByteSink &sink, uint64_t needed) {
    if (needed <= sink.capacity) return true;
    if (needed > kMaxBlockBytes) {
        sink.failure = Result::Unsupported;
        return false;
    }
    uint64_t capacity = sink.capacity == 0 ? sink.firstCapacity : 2 * uint64_t{sink.capacity};
    if (capacity < needed) capacity = needed;
    if (capacity > kMaxBlockBytes) capacity = kMaxBlockBytes;
    LockedBlock<uint8_t> &larger = sink.blocks[1 - sink.current];
    if (!larger.make(static_cast<uint32_t>(capacity))) {
        sink.failure = Result::NoMemory;
        return false;
    }
    if (sink.size != 0) std::memcpy(larger.get(), sink.bytes(), static_cast<size_t>(sink.size));
    sink.blocks[sink.current].reset();
    sink.current = 1 - sink.current;
    sink.capacity = static_cast<uint32_t>(capacity);
    return true;
}

}  // namespace

void ByteSink::toMemory(uint64_t expected) {
    inMemory = true;
    firstCapacity = static_cast<uint32_t>(expected < kLeastCapacity  ? kLeastCapacity
                                          : expected > kMaxBlockBytes ? kMaxBlockBytes
                                                                      : expected);
}

bool ByteSink::write(const void *bytes, uint32_t count) {
    if (!ok()) return false;
    if (count == 0) return true;
    if (inMemory) {
        if (!grow(*this, size + count)) return false;
        std::memcpy(blocks[current].get() + size, bytes, count);
    } else if (_lwrite(file, static_cast<LPCCH>(bytes), count) != count) {
        failure = Result::IoError;
        return false;
    }
    size += count;
    return true;
}

bool ByteSink::patch(uint32_t offset, const void *bytes, uint32_t count) {
    if (!ok()) return false;
    if (uint64_t{offset} + count > size) {
        failure = Result::Unsupported;  // never: only bytes written are patched
        return false;
    }
    if (inMemory) {
        std::memcpy(blocks[current].get() + offset, bytes, count);
        return true;
    }
    if (!seekFile(file, offset) || _lwrite(file, static_cast<LPCCH>(bytes), count) != count ||
        !seekFile(file, size)) {
        failure = Result::IoError;
        return false;
    }
    return true;
}

uint8_t *ByteSink::window(uint32_t least, uint32_t &room) {
    room = 0;
    if (!ok()) return nullptr;
    if (inMemory) {
        if (!grow(*this, size + least)) return nullptr;
        room = static_cast<uint32_t>(capacity - size);
        return blocks[current].get() + size;
    }
    if (!blocks[0] && !blocks[0].make(kStagingBytes)) {
        failure = Result::NoMemory;
        return nullptr;
    }
    room = kStagingBytes;
    return blocks[0].get();
}

bool ByteSink::commit(uint32_t count) {
    if (!ok()) return false;
    if (inMemory) {
        size += count;
        return true;
    }
    return count == 0 || write(blocks[0].get(), count);
}

}  // namespace jpg
