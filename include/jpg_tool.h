/*
 * JPG: the interface command-line tools are built on (static library
 * jpg_tool, which holds the codec itself as well).
 *
 * The six exports of jpg.h are the library's whole ABI for host programs.
 * A tool needs a little more: conversions of ordinary files with per-call
 * options, each with the reason it wrote nothing, batches, a description of
 * a file's headers, the preview and a drawing written as BMP files, and
 * scratch files for copies of streams. Every reason comes from the very
 * checks the conversions run, and every file written here goes through the
 * library's atomic writer: it appears complete or not at all.
 *
 * Plain C functions (no __stdcall), not exported from JPG.dll or libjpg.so.
 */
#ifndef JPG_TOOL_H
#define JPG_TOOL_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "jpg.h"
#include "jpg_canvas.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Options of a conversion ------------------------------------------- */

/* The options of one conversion call. A null pointer where a function takes
 * options means the defaults, which are the exports' behaviour. Fill a record
 * with jpgToolDefaultOptions before changing any field: fields may be added,
 * and each gets its default there. */
typedef struct JpgToolOptions {
    int32_t reserved; /* 0 */
    int32_t kernels;  /* JPG_TOOL_KERNELS_*: which code computes the pixels */
    int32_t threads;  /* 1: the calling thread alone; 0: as many as help (two
                         for pictures of about a megapixel or more on a machine
                         of several processors); 2 or more: two */
    int32_t rowOrder; /* JPG_TOOL_ROWS_*: the row order of BMP files */
    int32_t sync;     /* 1: each new file is forced to the disk before it replaces the
                         old one, and its directory after, so that a power cut leaves
                         the old file or the whole new one; 0 (default): not */
    /* Told of every temporary file the library makes for the call (outputs
     * being written, copies of standard streams): temporaryFile(context,
     * path, 1) right after it is created, (context, path, 0) once it is gone.
     * Called on the thread that made the file, which may be a worker of a
     * batch. A program that removes temporary files when a signal ends it
     * keeps its list this way; the library keeps none and installs no
     * handler. Null (default): nobody is told. */
    void (*temporaryFile)(void *context, const char *path, int32_t exists);
    void *temporaryFileContext;
} JpgToolOptions;

/* Kernel sets. Every set writes the same bytes; they differ in speed. A set
 * the processor does not run falls back to the best one below it. */
#define JPG_TOOL_KERNELS_AUTO 0      /* the best the processor runs (default) */
#define JPG_TOOL_KERNELS_REFERENCE 1 /* the original scalar code, the yardstick */
#define JPG_TOOL_KERNELS_PLAIN 2     /* the fast path without SIMD instructions */
#define JPG_TOOL_KERNELS_SSE2 3
#define JPG_TOOL_KERNELS_AVX2 4

/* The kernel set named "auto", "reference", "plain", "sse2" or "avx2", or -1
 * for any other name; and the name of a set (null for a value out of range). */
int32_t jpgToolKernelsByName(const char *name);
const char *jpgToolKernelsName(int32_t kernels);
/* 1 when the processor runs the set, else 0. */
int32_t jpgToolKernelsAvailable(int32_t kernels);

/* The library's own row order, the exports' (the default): the first stored
 * row is the top of the picture, the height positive. */
#define JPG_TOOL_ROWS_TOP_FIRST 0
/* The order other programs use: an import writes a bottom-up file (each strip
 * at its final place), or a top-down one with a negative height to a stream;
 * an export reads a file in the order its height declares. */
#define JPG_TOOL_ROWS_STANDARD 1

void jpgToolDefaultOptions(JpgToolOptions *options);

/* ---- Ordinary files: netpbm, standard streams, batches ------------------- */

/* The file name that stands for standard input or standard output. */
#define JPG_TOOL_STANDARD_STREAM "-"

#define JPG_TOOL_IMPORT 0 /* JPEG file to BMP or netpbm file */
#define JPG_TOOL_EXPORT 1 /* BMP, PPM or PGM file to JPEG file */

typedef struct JpgToolConversion {
    int32_t direction;        /* JPG_TOOL_IMPORT or JPG_TOOL_EXPORT */
    const char *input;        /* a path, or "-": standard input */
    const char *output;       /* a path, or "-": standard output */
    int32_t netpbm;           /* import: 1 writes binary netpbm (P6 colour, P5 grey); 0 lets the
                                 output name decide: .ppm, .pgm, .pnm netpbm, else BMP */
    int32_t thumbnailLayout;  /* export: as iExportJPG's */
    int32_t compressionLevel; /* export: as iExportJPG's */
} JpgToolConversion;

/* What became of one conversion. */
typedef struct JpgToolOutcome {
    int32_t status;     /* 0 written; 1 not written; 2 written with a warning (damaged data) */
    char file[1024];    /* the file the message is about ("standard input", ...) */
    char message[256];  /* why nothing was written, or the warning; "" when written */
} JpgToolOutcome;

/* Converts one file. An export reads BMP files and binary PPM and PGM files
 * (maxval 255), told by their first bytes. Standard input is read as it
 * comes, except a JPEG file and a bottom-up BMP file, which are first copied
 * to a private temporary file in $TMPDIR, removed after. A JPEG file for
 * standard output is made in such a file and copied out when complete; an
 * import to standard output writes as it decodes. A failure writes nothing to
 * standard output, unless writing to it fails part of the way through.
 * Returns outcome->status. */
int32_t jpgToolConvert(const JpgToolConversion *conversion, const JpgToolOptions *options, JpgToolOutcome *outcome);

/* Converts `count` files, as many at a time as there are processors, each
 * conversion on one thread, exactly as jpgToolConvert converts it alone.
 * After each file, progress(context, index) is called on the calling thread
 * (progress may be null). Standard streams are refused. */
typedef void (*JpgToolProgress)(void *context, size_t index);
void jpgToolConvertBatch(const JpgToolConversion *conversions, JpgToolOutcome *outcomes, size_t count,
                         const JpgToolOptions *options, JpgToolProgress progress, void *context);

/* The colour channels of the picture a JPEG file holds: 1 (grey) or 3; 0
 * when the import would refuse the file. */
int32_t jpgToolPictureChannels(const char *jpegPath);

/* ---- Describing a file ---------------------------------------------------- */

/* Prints what the headers of a JPEG or BMP file say on `out`: for a JPEG
 * file the frame, components, tables, restart interval, every marker segment,
 * the entropy-coded data and the decoder's verdict; for a BMP file its header
 * fields. Returns 0; or 1, nothing printed, with the reason in `reason`. */
int32_t jpgToolDescribe(const char *path, FILE *out, char *reason, size_t reasonSize);

/* ---- BMP files of a preview and of a drawing ---------------------------- */

/* What jpgToolWritePreview and jpgToolWriteDrawing return. */
#define JPG_TOOL_OK 0
#define JPG_TOOL_NO_MEMORY 1  /* working memory could not be had */
#define JPG_TOOL_UNREADABLE 2 /* the input file cannot be opened */
#define JPG_TOOL_NOT_FORMAT 3 /* preview: too short to hold one; drawing: not a BMP file */
#define JPG_TOOL_UNSUPPORTED 4 /* preview: no preview segment; drawing: headers unsupported or damaged */
#define JPG_TOOL_UNWRITABLE 5 /* the output file could not be written */
#define JPG_TOOL_BAD_LAYOUT 6 /* preview: the layout tag is unknown */
#define JPG_TOOL_TOO_LARGE 7  /* drawing: the picture is empty or too large to draw */
#define JPG_TOOL_NOT_DRAWN 8  /* drawing: iShowMeta drew nothing */

/* Writes the 80 x 60 preview of an exported JPEG file (iRead_APP1) as a
 * 24-bit BMP file. */
int32_t jpgToolWritePreview(const char *jpegPath, const char *bmpPath);

/* Draws a BMP file with iShowMeta on a canvas (jpg_canvas.h) of the
 * picture's size and writes the canvas as a 24-bit bottom-up BMP file. */
int32_t jpgToolWriteDrawing(const char *bmpPath, const char *outPath);

/* ---- Scratch files ------------------------------------------------------- */

/* Makes a new, empty file for data that has no file of its own (a copy of a
 * standard stream): in `directory` (null: $TMPDIR or /tmp; on Windows the
 * user's temporary folder), named `stem` (null: "jpg-") followed by 12 random
 * characters. The file is created exclusively, so it never follows a link or
 * reuses a file already there, and only its owner may read or write it. Its
 * name goes to `path` (NUL-terminated, at most `pathSize` bytes). Returns the
 * file as a stream open for reading and writing; the caller closes it and
 * removes the file. Null when no file could be made or its name does not fit
 * (no file is left then). */
FILE *jpgToolCreateScratchFile(const char *directory, const char *stem, char *path, size_t pathSize);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* JPG_TOOL_H */
