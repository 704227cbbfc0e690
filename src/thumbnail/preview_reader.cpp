#include "jpg.h"

// Not built yet.
extern "C" JPG_API int32_t JPG_CALL iRead_APP1(MemHandle, MemHandle) { return -1; }
