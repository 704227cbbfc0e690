// Scratch files for data without a file of its own: created exclusively
// under an unforeseeable name, readable by their owner alone.
#include <cstring>

#include "base/files.h"
#include "jpg_tool.h"

FILE *jpgToolCreateScratchFile(const char *directory, const char *stem, char *path, size_t pathSize) {
    if (path == nullptr || pathSize == 0) return nullptr;
    path[0] = '\0';
    try {
        jpg::TemporaryFile scratch;
        if (!scratch.createIn(directory != nullptr ? directory : jpg::temporaryDirectory(),
                              stem != nullptr ? stem : "jpg-"))
            return nullptr;
        const std::string name = scratch.path();
        if (name.size() >= pathSize) return nullptr;  // the file goes with `scratch`
        FILE *stream = scratch.keepAsStream();
        if (stream != nullptr) std::memcpy(path, name.c_str(), name.size() + 1);
        return stream;
    } catch (...) {  // no exception leaves the interface
        return nullptr;
    }
}
