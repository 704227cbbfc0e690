// Conventions shared by every stage: internal results, byte-order helpers,
// checked size arithmetic, the sample clamp, and scope guards for memory
// blocks and files.
#ifndef JPG_BASE_CONVENTIONS_H
#define JPG_BASE_CONVENTIONS_H

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <utility>

#include "base/platform.h"

namespace jpg {

// What an internal operation reports. Only the exports turn these into the
// statuses of the interface; nothing else ever crosses an export.
enum class Result {
    Ok = 0,
    NotFormat,    // the file does not start with the expected signature
    Malformed,    // the file breaks the format's rules
    Unsupported,  // valid, but beyond what the codec handles
    IoError,      // a file could not be opened, created, read or written
    WriteFailed,  // an output could not be written (IoError's case, when the output is known to be at fault)
    NoMemory,     // a block could not be allocated or locked
    Damaged,      // output complete, but the input was damaged (a warning)
};

// Why a conversion wrote nothing (or what it warns of), in plain words, and
// whether the output rather than the input is at fault.
struct Refusal {
    std::string reason;
    bool aboutOutput = false;
    void set(std::string text, bool output) {
        reason = std::move(text);
        aboutOutput = output;
    }
};

// `value` rounded up to a multiple of `multiple`, in unsigned 16-bit
// arithmetic: t = value + multiple - 1 wraps at 65,536.
uint16_t roundUp(uint16_t value, uint16_t multiple);

// The same rounding without any wrap, for sizes that may exceed 16 bits.
constexpr uint32_t roundUpWide(uint32_t value, uint32_t multiple) {
    return (value + multiple - 1) / multiple * multiple;
}

// Most blocks in one MCU, in the decoder and the encoder alike.
constexpr uint32_t kMaxBlocksPerMcu = 10;

// Largest block the library ever asks for.
constexpr uint64_t kMaxBlockBytes = 0x7FFF0000u;

// Product of the factors into `out`; false when it exceeds kMaxBlockBytes.
// Every buffer size derived from file data goes through here.
bool checkedProduct(std::initializer_list<uint64_t> factors, uint32_t &out);

// Reads a little-endian or big-endian field from a byte buffer.
inline uint16_t le16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t le32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
inline uint16_t be16(const uint8_t *p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline void putLe16(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void putLe32(uint8_t *p, uint32_t v) {
    putLe16(p, v);
    putLe16(p + 2, v >> 16);
}
inline void putBe16(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

// A value limited to the sample range 0..255.
constexpr uint8_t clampToByte(int32_t v) { return static_cast<uint8_t>(v <= 0 ? 0 : v >= 255 ? 255 : v); }

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

// An open file handle owned by one scope.
class OpenFile {
public:
    OpenFile() = default;
    explicit OpenFile(HFILE file) : file_(file) {}
    ~OpenFile() { close(); }
    OpenFile(const OpenFile &) = delete;
    OpenFile &operator=(const OpenFile &) = delete;

    bool open(const char *path, int mode) {
        close();
        file_ = _lopen(path, mode);
        return file_ != HFILE_ERROR;
    }
    // Closes the file; false when closing reported a failure.
    bool close() {
        if (file_ == HFILE_ERROR) return true;
        const bool ok = _lclose(file_) != HFILE_ERROR;
        file_ = HFILE_ERROR;
        return ok;
    }
    // Takes ownership of an already open handle.
    void adopt(HFILE file) {
        close();
        file_ = file;
    }
    // Gives up ownership of the handle, which stays open.
    HFILE release() {
        const HFILE file = file_;
        file_ = HFILE_ERROR;
        return file;
    }
    HFILE get() const { return file_; }
    bool isOpen() const { return file_ != HFILE_ERROR; }

    // Reads exactly `count` bytes; false on a short read.
    bool readExact(void *buffer, uint32_t count) const {
        return count == 0 || _lread(file_, buffer, count) == count;
    }
    // Writes all `count` bytes; false when the write fell short.
    bool writeAll(const void *buffer, uint32_t count) const {
        return count == 0 || _lwrite(file_, static_cast<LPCCH>(buffer), count) == count;
    }

private:
    HFILE file_ = HFILE_ERROR;
};

// Who is told of the temporary files a call makes: `notify(context, path,
// 1)` right after one is created, `notify(context, path, 0)` once it
// is gone (removed, or moved into place). A program that removes
// temporary files when a signal ends it keeps its list this way; the library
// itself keeps none. Called on the thread that made the file.
struct TemporaryFileWatch {
    void (*notify)(void *context, const char *path, int32_t exists) = nullptr;
    void *context = nullptr;
    void tell(const std::string &path, bool exists) const {
        if (notify != nullptr) notify(context, path.c_str(), exists ? 1 : 0);
    }
};

// What a call asks of the files it writes.
struct FileOptions {
    TemporaryFileWatch watch;
    // Durable outputs: the new file's data is forced to the disk before it
    // replaces the old one, and the directory after, so that a power cut
    // leaves the old file or the whole new one.
    bool durable = false;
};

// A new file under a name nobody can foresee, readable and writable by its
// owner alone, removed with its content when the object goes unless kept.
// It is created exclusively, so it never follows a link planted under its
// name nor truncates a file that is there.
class TemporaryFile {
public:
    // Tries this many names before giving up.
    static constexpr int kAttempts = 100;
    // Random characters of a name.
    static constexpr size_t kRandomCharacters = 12;

    TemporaryFile() = default;
    ~TemporaryFile() { remove(); }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    // Creates a new, empty file named `prefix` followed by 12 random
    // characters (a-z, 2-7), open for reading and writing. A name in use is
    // passed over for another. `watch` (may be null) is told of the file.
    bool create(const std::string &prefix, const TemporaryFileWatch *watch = nullptr);
    // The same, in `directory` (the current one when empty), the name
    // starting with `stem`.
    bool createIn(const std::string &directory, const std::string &stem, const TemporaryFileWatch *watch = nullptr);
    // Closes the file and keeps its name, still to be removed.
    bool close() { return file_.close(); }
    // Closes the file and removes it.
    void remove();
    // Closes the file; it stays on disk (or has been moved) and is no longer
    // this object's.
    void keep();
    // Hands the open file over as a C stream for reading and writing, at its
    // current position; the file stays on disk and is no longer this
    // object's. Null when that failed (the file is then removed).
    std::FILE *keepAsStream();

    const std::string &path() const { return path_; }
    HFILE get() const { return file_.get(); }
    const OpenFile &file() const { return file_; }
    bool exists() const { return !path_.empty(); }

private:
    void forget();

    OpenFile file_;
    std::string path_;
    TemporaryFileWatch watch_;
};

// Copies what is left of `from` to `to`, through one 64 KB block; false when
// a read, a write or the block failed.
bool copyToEnd(HFILE from, HFILE to);

// Why an output file could not be made or moved into place.
enum class OutputProblem : uint8_t {
    None,
    NoName,          // no destination was given
    NotAFile,        // the destination is a directory, a device, a pipe or a socket
    WriteProtected,  // the destination exists and may not be written by the caller
    NotCreated,      // no temporary file could be made beside it
    NotFinished,     // closing, syncing or the move into place failed
};

// An output file written under a temporary name beside its destination and
// moved into place by commit(), so that a reader of the destination never
// sees a half-written file and a failed call leaves an existing file as it
// was. Without commit() the temporary file is removed. The temporary file is
// its owner's alone until commit() gives it the access of the file it
// replaces (or of any new file) just before the move. It replaces only a
// regular file or a link, never a directory, a device or a pipe, and never
// a file the caller may not write.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { abandon(); }
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    bool create(const char *destination, const FileOptions &options = FileOptions{});
    // Closes the file and moves it over the destination.
    bool commit();
    void abandon() { temporary_.remove(); }

    HFILE get() const { return temporary_.get(); }
    const OpenFile &file() const { return temporary_.file(); }
    // Why create() or commit() failed, and the system's words for it ("" when
    // it has none).
    OutputProblem problem() const { return problem_; }
    const std::string &systemReason() const { return systemReason_; }
    // A sentence for a failure of create() or commit(), about the destination.
    std::string explain() const;

private:
    bool fail(OutputProblem problem, bool withSystemReason);

    TemporaryFile temporary_;
    std::string destination_;
    bool durable_ = false;
    OutputProblem problem_ = OutputProblem::None;
    std::string systemReason_;
};

// The name stem of the temporary files made beside `destination`: its
// directory and a short fixed prefix, so that the name fits wherever the
// destination's does.
std::string temporaryStemBeside(const std::string &destination);

}  // namespace jpg

#endif  // JPG_BASE_CONVENTIONS_H
