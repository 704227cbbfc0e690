// Memory blocks, the platform's movable global blocks owned by one scope:
// made zero-filled, locked for use, freed when their owner goes; and the
// checked size arithmetic every block size derived from a file goes through.
#ifndef JPG_BASE_MEMORY_BLOCKS_H
#define JPG_BASE_MEMORY_BLOCKS_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "base/platform.h"

namespace jpg {

// Largest block the library ever asks for.
constexpr uint64_t kMaxBlockBytes = 0x7FFF0000u;

// Product of the factors into `out`; false when it exceeds kMaxBlockBytes.
// Every buffer size derived from file data goes through here.
bool checkedProduct(std::initializer_list<uint64_t> factors, uint32_t &out);

// A zero-filled movable global block owned by one scope: freed when the
// scope ends unless released.
class Block {
public:
    Block() = default;
    ~Block() { reset(); }
    Block(const Block &) = delete;
    Block &operator=(const Block &) = delete;
    Block(Block &&other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    Block &operator=(Block &&other) noexcept {
        if (this != &other) {
            reset();
            handle_ = other.handle_;
            other.handle_ = nullptr;
        }
        return *this;
    }

    // Makes a block of `bytes` zero bytes (flags 0x42); false when it fails.
    bool allocate(uint32_t bytes) {
        reset();
        handle_ = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
        return handle_ != nullptr;
    }
    void reset() {
        if (handle_ != nullptr) GlobalFree(handle_);
        handle_ = nullptr;
    }
    HGLOBAL handle() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    HGLOBAL handle_ = nullptr;
};

// Locks a block for one scope. `get()` is null when the lock failed.
template <typename T = uint8_t>
class Locked {
public:
    explicit Locked(HGLOBAL handle) : handle_(handle), ptr_(handle ? static_cast<T *>(GlobalLock(handle)) : nullptr) {}
    ~Locked() {
        if (ptr_ != nullptr) GlobalUnlock(handle_);
    }
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;
    T *get() const { return ptr_; }
    T *operator->() const { return ptr_; }
    T &operator[](std::size_t i) const { return ptr_[i]; }
    explicit operator bool() const { return ptr_ != nullptr; }

private:
    HGLOBAL handle_;
    T *ptr_;
};

// A zero-filled block made and locked by one owner, unlocked and freed when
// the owner goes: the working buffers and tables of a call.
template <typename T = uint8_t>
class LockedBlock {
public:
    LockedBlock() = default;
    ~LockedBlock() { reset(); }
    LockedBlock(const LockedBlock &) = delete;
    LockedBlock &operator=(const LockedBlock &) = delete;

    // Makes and locks a block of `bytes` zero bytes; false when it fails.
    bool make(uint32_t bytes) {
        reset();
        if (!block_.allocate(bytes)) return false;
        ptr_ = static_cast<T *>(GlobalLock(block_.handle()));
        return ptr_ != nullptr;
    }
    // The same for a size given as factors, refused when it exceeds
    // kMaxBlockBytes.
    bool make(std::initializer_list<uint64_t> factors) {
        uint32_t bytes = 0;
        return checkedProduct(factors, bytes) && make(bytes);
    }
    void reset() {
        if (ptr_ != nullptr) GlobalUnlock(block_.handle());
        ptr_ = nullptr;
        block_.reset();
    }
    T *get() const { return ptr_; }
    T *operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }

private:
    Block block_;
    T *ptr_ = nullptr;
};

}  // namespace jpg

#endif  // JPG_BASE_MEMORY_BLOCKS_H
