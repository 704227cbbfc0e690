// Files owned by one scope: an open file, and a temporary file under a name
// nobody can foresee, readable by its owner alone; who is told of temporary
// files, and what a call asks of the files it writes.
#ifndef JPG_BASE_FILES_H
#define JPG_BASE_FILES_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "base/platform.h"

namespace jpg {

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

}  // namespace jpg

#endif  // JPG_BASE_FILES_H
