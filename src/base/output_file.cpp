// Output files written beside their destination and moved into place whole.
#include "base/output_file.h"

namespace jpg {

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

}  // namespace jpg
