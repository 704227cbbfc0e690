// jpgtool: converts between BMP and JPEG files with the JPG library, shows
// what a file's headers say, and extracts the preview of exported files.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "commands.h"
#include "jpg_tool.h"

#ifndef JPG_VERSION
#define JPG_VERSION "0.0.0"
#endif

namespace jpgtool {

void complain(const std::string &file, const std::string &reason) {
    std::fprintf(stderr, "jpgtool: %s%s%s\n", file.c_str(), file.empty() ? "" : ": ", reason.c_str());
}

namespace {

const char kUsage[] =
    "usage: jpgtool COMMAND ARGS\n"
    "\n"
    "commands:\n"
    "  import IN.jpg OUT.bmp [--threads N] [--kernels SET]\n"
    "                                  decode a JPEG file into a BMP file\n"
    "  export IN.bmp OUT.jpg [--level N] [--layout N] [--threads N] [--kernels SET]\n"
    "                                  encode a BMP file (1, 4, 8, 24 or 32 bits) into a JPEG file;\n"
    "                                  level 3 (default) uses the standard tables, larger is coarser;\n"
    "                                  layout is the preview layout tag (default 1)\n"
    "  info FILE                       describe the headers of a JPEG or BMP file\n"
    "  preview IN.jpg OUT.bmp          write the 80 x 60 preview of an exported JPEG file\n"
    "  show IN.bmp OUT.bmp             draw a BMP file on a canvas and save the canvas\n"
    "  --help                          this text\n"
    "  --version                       the version\n"
    "\n"
    "conversion options:\n"
    "  --threads N                     1: one thread; 0 (default): two for pictures of a megapixel\n"
    "                                  or more; 2: two\n"
    "  --kernels SET                   auto (default), reference, plain, sse2 or avx2: the code that\n"
    "                                  computes the pixels; every set writes the same bytes\n"
    "\n"
    "OUT is replaced whole by a new file made beside it (its mode kept; a link at OUT is replaced)\n"
    "\n"
    "exit status: 0 success, 1 nothing written, 2 written with a warning\n";

int usageError(const char *message) {
    complain("", message);
    std::fputs(kUsage, stderr);
    return 1;
}

bool fileExists(const std::string &path) {
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f != nullptr) std::fclose(f);
    return f != nullptr;
}

bool parseNumber(const std::string &text, long &value) {
    if (text.empty()) return false;
    char *end = nullptr;
    value = std::strtol(text.c_str(), &end, 0);
    return end != nullptr && *end == '\0';
}

// Takes --threads N or --kernels SET at args[i] (and its value) into
// `options`: 1 when taken, 0 when args[i] is neither, -1 after a usage error.
int takeCallOption(const Args &args, size_t &i, JpgToolOptions &options) {
    if (args[i] != "--threads" && args[i] != "--kernels") return 0;
    if (i + 1 >= args.size()) {
        usageError((args[i] + " needs a value").c_str());
        return -1;
    }
    const std::string &value = args[i + 1];
    if (args[i] == "--threads") {
        long threads = 0;
        if (!parseNumber(value, threads) || threads < 0 || threads > 64) {
            usageError("--threads needs a number from 0 to 64");
            return -1;
        }
        options.threads = static_cast<int32_t>(threads);
    } else {
        const int32_t kernels = jpgToolKernelsByName(value.c_str());
        if (kernels < 0) {
            usageError("--kernels takes auto, reference, plain, sse2 or avx2");
            return -1;
        }
        if (!jpgToolKernelsAvailable(kernels)) {
            complain("", "--kernels " + value + ": this processor does not run that set");
            return -1;
        }
        options.kernels = kernels;
    }
    ++i;
    return 1;
}

}  // namespace

int importCommand(const Args &args) {
    JpgToolOptions options;
    jpgToolDefaultOptions(&options);
    Args files;
    for (size_t i = 0; i < args.size(); ++i) {
        const int taken = takeCallOption(args, i, options);
        if (taken < 0) return 1;
        if (taken == 0) files.push_back(args[i]);
    }
    if (files.size() != 2) return usageError("import needs IN.jpg OUT.bmp");
    const Args &paths = files;
    const int32_t status = jpgToolImport(paths[0].c_str(), paths[1].c_str(), &options);
    switch (status) {
        case JPG_IMPORT_OK:
            return 0;
        case JPG_IMPORT_NOT_JPEG:
            complain(paths[0], fileExists(paths[0]) ? "not a JPEG file" : "cannot be opened");
            return 1;
        case JPG_IMPORT_REFUSED: {
            char why[256] = "";
            if (jpgToolImportRefusal(paths[0].c_str(), why, sizeof why) == 0)
                complain(paths[1], "the BMP file could not be written");
            else
                complain(paths[0], why);
            return 1;
        }
        case JPG_IMPORT_DAMAGED:
            complain(paths[0], "warning: the image data is damaged or incomplete; the picture was written anyway");
            return 2;
        default:
            complain(paths[0], "unexpected status " + std::to_string(status));
            return 1;
    }
}

int exportCommand(const Args &args) {
    long level = 3;
    long layout = 1;
    JpgToolOptions options;
    jpgToolDefaultOptions(&options);
    Args files;
    for (size_t i = 0; i < args.size(); ++i) {
        const int taken = takeCallOption(args, i, options);
        if (taken < 0) return 1;
        if (taken > 0) continue;
        if (args[i] == "--level" || args[i] == "--layout") {
            long value = 0;
            if (i + 1 >= args.size() || !parseNumber(args[i + 1], value))
                return usageError((args[i] + " needs a number").c_str());
            (args[i] == "--level" ? level : layout) = value;
            ++i;
        } else {
            files.push_back(args[i]);
        }
    }
    if (files.size() != 2) return usageError("export needs IN.bmp OUT.jpg");
    const int32_t status = jpgToolExport(files[0].c_str(), files[1].c_str(), static_cast<int32_t>(layout),
                                         static_cast<int32_t>(level), &options);
    if (status == JPG_EXPORT_OK) return 0;
    char why[256] = "";
    if (jpgToolExportRefusal(files[0].c_str(), why, sizeof why) != 0)
        complain(files[0], why);
    else if (jpgToolSameFile(files[0].c_str(), files[1].c_str()))
        complain(files[1], "is the source itself; choose another output file");
    else
        complain(files[1], "the JPEG file could not be written");
    return 1;
}

}  // namespace jpgtool

int main(int argc, char **argv) {
    using namespace jpgtool;
    if (argc < 2) return usageError("no command given");
    const std::string command = argv[1];
    const Args args(argv + 2, argv + argc);
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "--version") {
        std::printf("jpgtool %s\n", JPG_VERSION);
        return 0;
    }
    if (command == "import") return importCommand(args);
    if (command == "export") return exportCommand(args);
    if (command == "info") return infoCommand(args);
    if (command == "preview") return previewCommand(args);
    if (command == "show") return showCommand(args);
    return usageError(("unknown command '" + command + "'").c_str());
}
