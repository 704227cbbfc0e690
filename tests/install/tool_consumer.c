/* A program built against the installed tool interface (jpg_tool.h and its
 * static library): decodes a JPEG file into a standard BMP file.
 * usage: tool_consumer IN.jpg OUT.bmp */
#include <stdio.h>

#include "jpg_tool.h"

int main(int argc, char **argv) {
    if (argc != 3) return 2;
    JpgToolOptions options;
    jpgToolDefaultOptions(&options);
    options.rowOrder = JPG_TOOL_ROWS_STANDARD;
    JpgToolConversion conversion = {JPG_TOOL_IMPORT, argv[1], argv[2], 0, 1, 3};
    JpgToolOutcome outcome;
    const int32_t status = jpgToolConvert(&conversion, &options, &outcome);
    printf("status %d %s\n", (int)status, outcome.message);
    return status;
}
