#include "frame/conventions.h"

#include <utility>

namespace jpg {

uint16_t roundUp(uint16_t value, uint16_t multiple) {
    const auto t = static_cast<uint16_t>(value + multiple - 1);
    return static_cast<uint16_t>(t - t % multiple);
}

bool checkedProduct(std::initializer_list<uint64_t> factors, uint32_t &out) {
    uint64_t product = 1;
    for (const uint64_t f : factors) {
        if (f != 0 && product > kMaxBlockBytes / f) return false;
        product *= f;
    }
    if (product > kMaxBlockBytes) return false;
    out = static_cast<uint32_t>(product);
    return true;
}

bool TemporaryFile::create(const std::string &prefix, bool ownerOnly) {
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz234567";
    remove();
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        uint8_t random[12];
        if (!unguessableBytes(random, sizeof random)) return false;
        std::string name = prefix;
        for (const uint8_t byte : random) name += kAlphabet[byte & 31];
        bool taken = false;
        const HFILE file = createNewFile(name.c_str(), ownerOnly, taken);
        if (file != HFILE_ERROR) {
            file_.adopt(file);
            path_ = std::move(name);
            return true;
        }
        if (!taken) return false;
    }
    return false;
}

bool TemporaryFile::createIn(const std::string &directory, const std::string &stem, bool ownerOnly) {
    if (directory.empty()) return create(stem, ownerOnly);
    const char last = directory.back();
    const bool separated = last == '/' || last == '\\';
    return create(directory + (separated ? "" : "/") + stem, ownerOnly);
}

void TemporaryFile::remove() {
    file_.close();
    if (!path_.empty()) removeFile(path_.c_str());
    path_.clear();
}

void TemporaryFile::keep() {
    file_.close();
    path_.clear();
}

std::FILE *TemporaryFile::keepAsStream() {
    std::FILE *stream = fileToStream(file_.release());
    if (stream == nullptr) {
        remove();
        return nullptr;
    }
    path_.clear();
    return stream;
}

bool OutputFile::create(const char *destination) {
    abandon();
    if (destination == nullptr || *destination == '\0' || isSpecialFile(destination)) return false;
    destination_ = destination;
    if (!temporary_.create(destination_ + ".part-")) return false;
    // An existing destination lends its permission bits at once, so the
    // data is never readable more widely than the file it replaces. Without
    // them the file keeps the mode it was created with.
    copyPermissions(destination, temporary_.get());
    return true;
}

bool OutputFile::commit() {
    if (!temporary_.exists() || !temporary_.file().isOpen()) return false;
    if (!temporary_.close() || !replaceFile(temporary_.path().c_str(), destination_.c_str())) {
        abandon();
        return false;
    }
    temporary_.keep();
    return true;
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
