/* A host of the 32-bit JPG.dll built the way Visual C++ builds one: compiled
 * for the MSVC target, linked by lld-link against JPG.lib, without a C
 * runtime. Its import table must name the six plain exports of JPG.dll;
 * it is only linked and inspected, not run. */
#include "jpg.h"

static DecoderState state;
static uint8_t segment[4820];
static uint8_t dib[14440];

int hostEntry(void) {
    int failures = 0;
    if (WEP(0) != 1) ++failures;
    if (iDecode_Init(&state) != 0) ++failures;
    if (iExportJPG("in.bmp", "out.jpg", 1, 3) != JPG_EXPORT_OK) ++failures;
    if (iImportJPG("in.jpg", "out.bmp") != JPG_IMPORT_OK) ++failures;
    if (iRead_APP1(segment, dib) != JPG_PREVIEW_OK) ++failures;
    if (iShowMeta(0, 0, "in.bmp") != JPG_SHOW_OK) ++failures;
    return failures;
}
