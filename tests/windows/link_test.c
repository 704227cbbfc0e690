/* A host linked against JPG.dll's import library, the way a C program that
 * includes jpg.h links it: every export is resolved at load time. The 32-bit
 * build is only linked (its import table is checked); the 64-bit build runs.
 * Exit status 0 when the calls answer as they should. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "jpg.h"

int main(void) {
    DecoderState state;
    int failures = 0;
    memset(&state, 0, sizeof state);
    if (WEP(7) != 1) ++failures;
    if (iDecode_Init(&state) != 0 || state.dcTables[0] == NULL) ++failures;
    /* The table blocks belong to the caller now. */
    for (int t = 0; t < 4; ++t) {
        if (state.dcTables[t]) GlobalFree(state.dcTables[t]);
        if (state.acTables[t]) GlobalFree(state.acTables[t]);
    }
    if (iImportJPG("no such file.jpg", "no such file.bmp") != JPG_IMPORT_NOT_JPEG) ++failures;
    if (iExportJPG("no such file.bmp", "no such file.jpg", 1, 3) != JPG_EXPORT_FAILED) ++failures;
    {
        /* A segment whose layout tag (offset 18) is 2: refused with -1. */
        HGLOBAL segment = GlobalAlloc(GHND, 4820);
        HGLOBAL dib = GlobalAlloc(GHND, 14440);
        unsigned char *bytes = (unsigned char *)GlobalLock(segment);
        bytes[19] = 2;
        GlobalUnlock(segment);
        if (iRead_APP1(segment, dib) != JPG_PREVIEW_BAD_LAYOUT) ++failures;
        GlobalFree(segment);
        GlobalFree(dib);
    }
    if (iShowMeta(0, NULL, "no such file.bmp") != JPG_SHOW_FAILED) ++failures;
    printf("%s\n", failures ? "FAILED" : "ok");
    return failures ? 1 : 0;
}
