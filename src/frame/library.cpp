// The module's exit procedure.
#include "jpg.h"

extern "C" JPG_API int32_t JPG_CALL WEP(int32_t /*reserved*/) { return 1; }
