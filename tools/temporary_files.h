// The temporary files the library makes for jpgtool (outputs being written,
// copies of standard streams), kept in a list that a signal handler can
// read, so that SIGINT, SIGTERM, SIGHUP or SIGPIPE leaves none behind.
#ifndef JPGTOOL_TEMPORARY_FILES_H
#define JPGTOOL_TEMPORARY_FILES_H

#include <cstdint>

namespace jpgtool {

// Installs the handlers: each removes every listed file, then lets the
// signal end the process as it would have (a closed pipe: silently, status
// 141). A signal the process was started with ignored stays ignored.
void removeTemporaryFilesOnSignal();

// The tool options' temporaryFile callback: lists a file that now exists,
// and drops it once it is gone.
void noteTemporaryFile(void *context, const char *path, int32_t exists);

}  // namespace jpgtool

#endif
