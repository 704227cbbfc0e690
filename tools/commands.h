// The commands of jpgtool. Each returns the process exit status:
// 0 success, 1 nothing written (refused input, usage error, failure),
// 2 output written with a warning.
#ifndef JPGTOOL_COMMANDS_H
#define JPGTOOL_COMMANDS_H

#include <string>
#include <vector>

namespace jpgtool {

using Args = std::vector<std::string>;

int importCommand(const Args &args);
int exportCommand(const Args &args);
int infoCommand(const Args &args);
int previewCommand(const Args &args);
int showCommand(const Args &args);

// Prints "program: file: reason" on standard error.
void complain(const std::string &file, const std::string &reason);

}  // namespace jpgtool

#endif
