// jpgtool: converts between BMP, netpbm and JPEG files with the JPG library,
// shows what a file's headers say, and extracts the preview of exported files.
#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "jpg_tool.h"
#include "temporary_files.h"

#ifndef JPG_VERSION
#define JPG_VERSION "0.0.0"
#endif

namespace jpgtool {

void complain(const std::string &file, const std::string &reason) {
    std::fprintf(stderr, "jpgtool: %s%s%s\n", file.c_str(), file.empty() ? "" : ": ", reason.c_str());
}

int usageError(const std::string &message) {
    complain("", message);
    std::fputs("usage: jpgtool import|export|info|preview|show ARGS (jpgtool --help, jpgtool COMMAND --help)\n", stderr);
    return 1;
}

namespace {

const char kDescription[] =
    "jpgtool converts between BMP, netpbm and JPEG files with the JPG library: it reads\n"
    "baseline, extended, progressive and arithmetic-coded JPEG files and writes baseline ones.\n"
    "BMP files are written bottom-up and read in the order their header declares, as other\n"
    "programs do; --top-first keeps the library's own convention (first stored row on top).";

const char kFooter[] =
    "A file name '-' stands for standard input or standard output. A failure writes nothing\n"
    "to standard output, except when writing to it fails part of the way through.\n"
    "OUT is replaced whole by a new file made beside it (its mode kept; a link at OUT is replaced):\n"
    "a failure leaves no partial file, and the file it would have replaced stays as it was.\n"
    "\n"
    "Exit status: 0 success, 1 something not written, 2 written with a warning.";

void addConvertOptions(CLI::App &command, ConvertOptions &options, bool import) {
    command.add_option("files", options.files,
                       import ? "IN.jpg OUT (.bmp; .ppm, .pgm or .pnm for netpbm), or with -d the JPEG files"
                              : "IN (BMP, PPM or PGM) OUT.jpg, or with -d the input files")
        ->required();
    command.add_option("-d,--output-dir", options.outputDir,
                       import ? "convert every file into OUTDIR as NAME.bmp (NAME.ppm or .pgm with --format pnm),"
                                " in parallel"
                              : "convert every file into OUTDIR as NAME.jpg, in parallel");
    command.add_option("--threads", options.threads,
                       "1: one thread; 0 (default): two for pictures of a megapixel or more; 2: two "
                       "(with -d every file keeps to one)")
        ->check(CLI::Range(0, 64));
    std::string sets;
    for (int32_t k = 0; jpgToolKernelsName(k) != nullptr; ++k) sets += std::string(k == 0 ? "" : ", ") + jpgToolKernelsName(k);
    command.add_option("--kernels", options.kernels,
                       "the code that computes the pixels: " + sets + " (auto, the default, is the best the "
                       "processor runs); every set writes the same bytes")
        ->check([](const std::string &name) {
            return jpgToolKernelsByName(name.c_str()) < 0 ? "not a kernel set: " + name : std::string();
        });
    command.add_flag("--sync", options.sync,
                     "force each new file to the disk before it replaces the old one (and its directory after), "
                     "so that a power cut leaves the old file or the whole new one");
    command.add_flag("--top-first", options.topFirst,
                     import ? "write the BMP rows as iImportJPG does: top row first, positive height"
                            : "take the first stored BMP row as the top, as iExportJPG does");
}

}  // namespace

}  // namespace jpgtool

namespace jpgtool {
namespace {

int run(int argc, char **argv);

// Everything a command printed reaches standard output, or the command fails.
int withCheckedOutput(int status) {
    if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return status;
    complain("standard output", "cannot be written");
    return 1;
}

}  // namespace
}  // namespace jpgtool

int main(int argc, char **argv) {
    jpgtool::removeTemporaryFilesOnSignal();
    return jpgtool::withCheckedOutput(jpgtool::run(argc, argv));
}

namespace jpgtool {
namespace {

int run(int argc, char **argv) {
    if (argc < 2) return usageError("no command given");
    const std::string first = argv[1];
    if (!first.empty() && first[0] != '-' && first != "import" && first != "export" && first != "info" &&
        first != "preview" && first != "show")
        return usageError("unknown command '" + first + "'");

    CLI::App app{kDescription, "jpgtool"};
    app.set_version_flag("--version", std::string("jpgtool ") + JPG_VERSION);
    app.footer(kFooter);
    app.require_subcommand(1);

    ConvertOptions importOptions;
    CLI::App *import = app.add_subcommand("import", "decode a JPEG file into a BMP or netpbm file");
    addConvertOptions(*import, importOptions, true);
    import->add_option("--format", importOptions.format,
                       "output format where no file name says it (standard output, -d): bmp (default) or pnm")
        ->check(CLI::IsMember({"bmp", "pnm"}));
    import->footer("Standard output gets a top-down BMP file (negative height), or netpbm with --format pnm.");

    ConvertOptions exportOptions;
    CLI::App *exporter = app.add_subcommand("export", "encode a BMP, PPM or PGM file into a JPEG file with a preview");
    addConvertOptions(*exporter, exportOptions, false);
    exporter->add_option("--level", exportOptions.level,
                         "quantisation level: 3 (default) the standard tables, larger is coarser");
    exporter->add_option("--layout", exportOptions.layout, "layout tag of the preview segment (default 1)");
    exporter->footer(
        "BMP files: uncompressed, 1, 4, 8, 24 or 32 bits (colour tables looked up). PPM (P6) and PGM\n"
        "(P5): binary, maxval 255.\n"
        "A bottom-up BMP file from standard input is first copied to a temporary file in $TMPDIR.");

    Args infoArgs, previewArgs, showArgs;
    app.add_subcommand("info", "describe the headers of a JPEG or BMP file")
        ->add_option("FILE", infoArgs, "the file")
        ->required();
    app.add_subcommand("preview", "write the 80 x 60 preview of an exported JPEG file as a BMP file")
        ->add_option("files", previewArgs, "IN.jpg OUT.bmp")
        ->required();
    app.add_subcommand("show", "draw a BMP file as the library draws it, and save the drawing as a BMP file")
        ->add_option("files", showArgs, "IN.bmp OUT.bmp")
        ->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForVersion &) {
        std::printf("jpgtool %s\n", JPG_VERSION);
        return 0;
    } catch (const CLI::Success &e) {
        return app.exit(e);  // --help
    } catch (const CLI::ParseError &e) {
        return usageError(e.what());
    }
    if (import->parsed()) return convertCommand(importOptions, true);
    if (exporter->parsed()) return convertCommand(exportOptions, false);
    if (!infoArgs.empty()) return infoCommand(infoArgs);
    if (!previewArgs.empty()) return previewCommand(previewArgs);
    return showCommand(showArgs);
}

}  // namespace
}  // namespace jpgtool
