// Files owned by one scope, and temporary files.
#include "base/files.h"

#include <utility>

#include "base/memory_blocks.h"

namespace jpg {

bool TemporaryFile::create(const std::string &prefix, const TemporaryFileWatch *watch) {
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz234567";
    remove();
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        uint8_t random[kRandomCharacters];
        if (!unguessableBytes(random, sizeof random)) return false;
        std::string name = prefix;
        for (const uint8_t byte : random) name += kAlphabet[byte & 31];
        bool taken = false;
        const HFILE file = createNewFile(name.c_str(), taken);
        if (file != HFILE_ERROR) {
            file_.adopt(file);
            path_ = std::move(name);
            watch_ = watch != nullptr ? *watch : TemporaryFileWatch{};
            watch_.tell(path_, true);
            return true;
        }
        if (!taken) return false;
    }
    return false;
}

bool TemporaryFile::createIn(const std::string &directory, const std::string &stem, const TemporaryFileWatch *watch) {
    if (directory.empty()) return create(stem, watch);
    const char last = directory.back();
    const bool separated = last == '/' || last == '\\';
    return create(directory + (separated ? "" : "/") + stem, watch);
}

void TemporaryFile::forget() {
    if (!path_.empty()) watch_.tell(path_, false);
    watch_ = TemporaryFileWatch{};
    path_.clear();
}

void TemporaryFile::remove() {
    file_.close();
    if (!path_.empty()) removeFile(path_.c_str());
    forget();
}

void TemporaryFile::keep() {
    file_.close();
    forget();
}

std::FILE *TemporaryFile::keepAsStream() {
    std::FILE *stream = fileToStream(file_.release());
    if (stream == nullptr) {
        remove();
        return nullptr;
    }
    forget();
    return stream;
}

bool copyToEnd(HFILE from, HFILE to) {
    constexpr uint32_t kBytes = 65536;
    LockedBlock<uint8_t> buffer;
    if (!buffer.make(kBytes)) return false;
    for (;;) {
        const UINT got = _lread(from, buffer.get(), kBytes);
        if (got == HFILE_ERROR_COUNT) return false;
        if (got == 0) return true;
        if (_lwrite(to, reinterpret_cast<LPCCH>(buffer.get()), got) != got) return false;
    }
}

}  // namespace jpg
