// Windows side of the GDI layer: the real GDI runs, and the test hook has
// nothing to count.
#if defined(_WIN32)

#include "base/gdi.h"

namespace jpg::faults {

int heldGdiObjects() { return 0; }

}  // namespace jpg::faults

#endif  // _WIN32
