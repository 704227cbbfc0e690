// jpgtool preview and show.
#include "commands.h"

namespace jpgtool {

int previewCommand(const Args &) {
    complain("", "preview is not built yet");
    return 1;
}

int showCommand(const Args &) {
    complain("", "show is not built yet");
    return 1;
}

}  // namespace jpgtool
