// jpgtool info: what a file's headers say.
#include "commands.h"

namespace jpgtool {

int infoCommand(const Args &args) {
    if (args.size() != 1) {
        complain("", "info needs FILE");
        return 1;
    }
    complain(args[0], "info is not built yet");
    return 1;
}

}  // namespace jpgtool
