#include "jpg.h"

// Not built yet.
extern "C" JPG_API int32_t JPG_CALL iShowMeta(int32_t, void *, const char *) { return 1; }
