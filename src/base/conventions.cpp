#include "base/conventions.h"

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

std::string temporaryStemBeside(const std::string &destination) {
    size_t cut = destination.find_last_of('/');
#if defined(_WIN32)
    const size_t back = destination.find_last_of("\\:");
    if (back != std::string::npos && (cut == std::string::npos || back > cut)) cut = back;
#endif
    const std::string directory = cut == std::string::npos ? "" : destination.substr(0, cut + 1);
    return directory + ".jpg-part-";
}

bool OutputFile::fail(OutputProblem problem, bool withSystemReason) {
    problem_ = problem;
    systemReason_ = withSystemReason ? systemErrorText() : std::string();
    return false;
}

bool OutputFile::create(const char *destination, const FileOptions &options) {
    abandon();
    problem_ = OutputProblem::None;
    systemReason_.clear();
    durable_ = options.durable;
    if (destination == nullptr || *destination == '\0') return fail(OutputProblem::NoName, false);
    if (isSpecialFile(destination)) return fail(OutputProblem::NotAFile, false);
    if (isWriteProtected(destination)) return fail(OutputProblem::WriteProtected, false);
    destination_ = destination;
    if (!temporary_.create(temporaryStemBeside(destination_), &options.watch))
        return fail(OutputProblem::NotCreated, true);
    return true;
}

bool OutputFile::commit() {
    if (!temporary_.exists() || !temporary_.file().isOpen()) return fail(OutputProblem::NotFinished, false);
    // The final access only now, so that the data is never readable more
    // widely than its owner before it is complete. Failing to set it keeps
    // the file private, which fails nothing.
    setFinalAccess(temporary_.get(), temporary_.path().c_str(), destination_.c_str());
    const bool durable = durable_;
    if ((durable && !syncFile(temporary_.get())) || !temporary_.close() ||
        !replaceFile(temporary_.path().c_str(), destination_.c_str())) {
        fail(OutputProblem::NotFinished, true);
        abandon();
        return false;
    }
    temporary_.keep();
    // The new file is whole on the disk and in place; a directory that
    // cannot be synced leaves the rename to the file system's own schedule.
    if (durable) syncDirectoryOf(destination_.c_str());
    return true;
}

std::string OutputFile::explain() const {
    std::string text;
    switch (problem_) {
        case OutputProblem::None: return "";
        case OutputProblem::NoName: return "no output file was named";
        case OutputProblem::NotAFile: return "is not a regular file (a directory, a device or a pipe); nothing was written";
        case OutputProblem::WriteProtected: return "is write-protected; it was not replaced";
        case OutputProblem::NotCreated: text = "cannot be written: no temporary file can be made beside it"; break;
        case OutputProblem::NotFinished: text = "cannot be written: the finished file could not be moved into place"; break;
    }
    if (!systemReason_.empty()) text += " (" + systemReason_ + ")";
    return text;
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
