// jpgtool info: what a file's headers say (the library describes them).
#include <cstdio>

#include "commands.h"
#include "jpg_tool.h"

namespace jpgtool {

int infoCommand(const Args &args) {
    if (args.size() != 1) {
        complain("", "info needs FILE");
        return 1;
    }
    char reason[256] = "";
    if (jpgToolDescribe(args[0].c_str(), stdout, reason, sizeof reason) == 0) return 0;
    complain(args[0], reason);
    return 1;
}

}  // namespace jpgtool
