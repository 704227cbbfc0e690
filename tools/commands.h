// The commands of jpgtool. Each returns the process exit status:
// 0 success, 1 nothing written (refused input, usage error, failure),
// 2 output written with a warning.
#ifndef JPGTOOL_COMMANDS_H
#define JPGTOOL_COMMANDS_H

#include <string>
#include <vector>

namespace jpgtool {

using Args = std::vector<std::string>;

// What the command line says for import and export.
struct ConvertOptions {
    Args files;             // IN OUT, or the inputs of a batch
    std::string outputDir;  // -d: a batch into this directory
    bool topFirst = false;
    std::string format = "bmp";  // import: bmp or pnm where no name says it
    long level = 3;
    long layout = 1;
    long threads = 0;              // 0: as many as help
    std::string kernels = "auto";  // the kernel set by name
    bool sync = false;             // force each new file to the disk before it replaces the old one
};

int convertCommand(const ConvertOptions &options, bool import);
int infoCommand(const Args &args);
int previewCommand(const Args &args);
int showCommand(const Args &args);

// Prints "program: file: reason" on standard error.
void complain(const std::string &file, const std::string &reason);
// Complains about the command line, points to --help, and returns 1.
int usageError(const std::string &message);

}  // namespace jpgtool

#endif
