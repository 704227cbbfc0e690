// The promise every output of the library keeps: written beside its
// destination, private until complete, and moved into place whole, or not
// at all.
#ifndef JPG_BASE_OUTPUT_FILE_H
#define JPG_BASE_OUTPUT_FILE_H

#include <cstdint>
#include <string>

#include "base/files.h"

namespace jpg {

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

#endif  // JPG_BASE_OUTPUT_FILE_H
