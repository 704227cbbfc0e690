/* A program built against the installed library: decodes a JPEG file into a
 * BMP file and encodes that back, through the shared library's exports.
 * usage: consumer IN.jpg OUT.bmp OUT.jpg */
#include <stdio.h>

#include "jpg.h"

int main(int argc, char **argv) {
    if (argc != 4) return 2;
    if (WEP(0) != 1) return 1;
    const int32_t imported = iImportJPG(argv[1], argv[2]);
    const int32_t exported = iExportJPG(argv[2], argv[3], 1, 3);
    printf("import %d, export %d\n", (int)imported, (int)exported);
    return imported == JPG_IMPORT_OK && exported == JPG_EXPORT_OK ? 0 : 1;
}
