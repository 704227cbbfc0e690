// jpgtool preview and show.
//
// preview saves the 80 x 60 bitmap that iRead_APP1 makes of an exported JPEG
// file's preview; show draws a BMP file with iShowMeta on a canvas of the
// file's size and saves the canvas as a 24-bit BMP file.
#include "commands.h"
#include "jpg_tool.h"

namespace jpgtool {

int previewCommand(const Args &args) {
    if (args.size() != 2) {
        complain("", "preview needs IN.jpg OUT.bmp");
        return 1;
    }
    switch (jpgToolWritePreview(args[0].c_str(), args[1].c_str())) {
        case JPG_TOOL_OK: return 0;
        case JPG_TOOL_NO_MEMORY: complain(args[0], "out of memory"); break;
        case JPG_TOOL_UNREADABLE: complain(args[0], "cannot be opened"); break;
        case JPG_TOOL_NOT_FORMAT: complain(args[0], "too short to hold a preview"); break;
        case JPG_TOOL_UNSUPPORTED:
            complain(args[0], "has no preview segment (not a JPEG file exported by this library)");
            break;
        case JPG_TOOL_BAD_LAYOUT: complain(args[0], "the preview has an unknown layout"); break;
        default: complain(args[1], "cannot be written"); break;
    }
    return 1;
}

int showCommand(const Args &args) {
    if (args.size() != 2) {
        complain("", "show needs IN.bmp OUT.bmp");
        return 1;
    }
    switch (jpgToolWriteDrawing(args[0].c_str(), args[1].c_str())) {
        case JPG_TOOL_OK: return 0;
        case JPG_TOOL_NO_MEMORY: complain(args[0], "out of memory"); break;
        case JPG_TOOL_UNREADABLE: complain(args[0], "cannot be opened"); break;
        case JPG_TOOL_NOT_FORMAT: complain(args[0], "not a BMP file"); break;
        case JPG_TOOL_UNSUPPORTED: complain(args[0], "unsupported or damaged BMP headers"); break;
        case JPG_TOOL_TOO_LARGE: complain(args[0], "the picture is empty or too large to draw"); break;
        case JPG_TOOL_NOT_DRAWN: complain(args[0], "cannot be drawn (compressed, damaged or unsupported)"); break;
        default: complain(args[1], "cannot be written"); break;
    }
    return 1;
}

}  // namespace jpgtool
