/*
 * JPG codec API: JPEG files held in memory to pixels, and pixels to JPEG
 * files in memory (library jpgcodec: libjpgcodec.so.0, jpgcodec.dll, or the
 * static library).
 *
 * Plain C, plain calling convention, usable from C, C++ and any foreign
 * function interface. Reentrant and thread-safe: the library keeps no state
 * between calls, every option is passed with the call, and any number of
 * calls may run at once on any threads.
 *
 * Every call returns a status (JPG_OK, JPG_WARNING or a JPG_ERR_* value) and,
 * when it is given a JpgError record, fills it: the same code and a message
 * in plain words ("" on success).
 *
 * Records that carry a `size` field may grow in later versions: set `size` to
 * sizeof the record you compiled with (the jpgDefault* functions do). A
 * record whose size is smaller than today's is read as far as it goes, the
 * rest taking its defaults; a larger one is JPG_ERR_ARGUMENT.
 *
 *   uint8_t *pixels;  JpgInfo info = {sizeof info};  JpgError error;
 *   if (jpgReadInfo(jpeg, size, &info, &error) != JPG_OK || !info.decodable) ...
 *   JpgDecodeSettings settings;  jpgDefaultDecodeSettings(&settings);
 *   pixels = malloc((size_t)info.width * info.height * 3);
 *   jpgDecode(jpeg, size, &settings, pixels, info.width * 3, (size_t)info.width * info.height * 3, &error);
 */
#ifndef JPG_CODEC_H
#define JPG_CODEC_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(JPG_CODEC_BUILDING)
#define JPG_CODEC_API __declspec(dllexport)
#else
#define JPG_CODEC_API
#endif
#elif defined(JPG_CODEC_BUILDING)
#define JPG_CODEC_API __attribute__((visibility("default")))
#else
#define JPG_CODEC_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Statuses and errors ---------------------------------------------- */

#define JPG_OK 0
#define JPG_WARNING 1            /* decoded whole, but the data was damaged or cut short */
#define JPG_ERR_ARGUMENT (-1)    /* a null pointer, a size too small, a setting out of range */
#define JPG_ERR_NOT_JPEG (-2)    /* the data does not start with a JPEG file's SOI marker */
#define JPG_ERR_UNSUPPORTED (-3) /* a valid file of a kind the library does not decode */
#define JPG_ERR_MALFORMED (-4)   /* the file breaks the format's rules */
#define JPG_ERR_TOO_LARGE (-5)   /* the call would need more memory or scans than its limits allow */
#define JPG_ERR_NO_MEMORY (-6)   /* memory could not be had */

typedef struct JpgError {
    int32_t code;      /* the status the call returned */
    char message[256]; /* what went wrong, in plain words; "" on success */
} JpgError;

/* ---- Pixel formats, samplings and kernel sets --------------------------- */

#define JPG_FORMAT_GREY 1 /* 1 byte a pixel */
#define JPG_FORMAT_RGB 2  /* 3 bytes: R, G, B */
#define JPG_FORMAT_BGR 3  /* 3 bytes: B, G, R (a colour BMP file's order) */
#define JPG_FORMAT_RGBA 4 /* 4 bytes; alpha is written 255 and ignored when read */
#define JPG_FORMAT_BGRA 5

#define JPG_SAMPLING_444 1  /* chroma at full resolution */
#define JPG_SAMPLING_422 2  /* chroma at half the width: the exports' */
#define JPG_SAMPLING_420 3  /* chroma at half the width and half the height */
#define JPG_SAMPLING_GREY 4 /* one component; a colour source gives its luma */

/* Which code computes the pixels. Every set gives the same bytes; they
 * differ in speed. A set the processor does not run falls back to the best
 * one below it. (The same values as jpg_tool.h's JPG_TOOL_KERNELS_*.) */
#define JPG_KERNELS_AUTO 0
#define JPG_KERNELS_REFERENCE 1
#define JPG_KERNELS_PLAIN 2
#define JPG_KERNELS_SSE2 3
#define JPG_KERNELS_AVX2 4

/* ---- What a file holds -------------------------------------------------- */

#define JPG_COLOURS_GREY 1  /* one component */
#define JPG_COLOURS_YCBCR 2 /* three components, Y, Cb, Cr */
#define JPG_COLOURS_RGB 3   /* three components taken as R, G, B (named so, or an Adobe segment says so) */
#define JPG_COLOURS_OTHER 4 /* any other number of components (CMYK, YCCK, ...) */

#define JPG_CODING_BASELINE 1               /* SOF0: sequential Huffman, 8-bit */
#define JPG_CODING_EXTENDED 2               /* SOF1: extended sequential Huffman */
#define JPG_CODING_PROGRESSIVE 3            /* SOF2: progressive Huffman */
#define JPG_CODING_LOSSLESS 4               /* SOF3 and SOF11 */
#define JPG_CODING_ARITHMETIC 5             /* SOF9: sequential, arithmetic-coded */
#define JPG_CODING_ARITHMETIC_PROGRESSIVE 6 /* SOF10: progressive, arithmetic-coded */
#define JPG_CODING_HIERARCHICAL 7           /* SOF5-7, SOF13-15: differential frames */

typedef struct JpgInfo {
    uint32_t size;        /* sizeof(JpgInfo), set by the caller */
    uint32_t width, height;
    int32_t components;   /* what the frame says */
    int32_t colourSpace;  /* JPG_COLOURS_* */
    int32_t coding;       /* JPG_CODING_* */
    int32_t samplingH[4], samplingV[4]; /* each component's sampling factors, frame order */
    uint32_t restartInterval;          /* MCUs between restart markers, 0 none */
    int32_t orientation;  /* Exif orientation tag 1-8, 0 when absent */
    int32_t previewLayout; /* this library's preview segment's layout tag, -1 when absent */
    uint32_t iccSize;     /* bytes of the embedded ICC profile (APP2 chunks joined), 0 none */
    int32_t decodable;    /* 1 when jpgDecode accepts the file; 0, with the reason in the error */
    uint32_t scans;       /* scan headers counted (up to the decode settings' default maxScans + 1) */
} JpgInfo;

/* Reads the headers of the JPEG file jpeg[0, size). JPG_OK with `info`
 * filled, also when the file cannot be decoded: then info->decodable is 0
 * and the error holds the status and reason jpgDecode would give. Other
 * statuses when even the frame cannot be read. */
JPG_CODEC_API int32_t jpgReadInfo(const void *jpeg, size_t size, JpgInfo *info, JpgError *error);

/* Copies the embedded ICC profile (its APP2 chunks joined) into
 * profile[0, profileSize): JPG_OK, or JPG_ERR_ARGUMENT when it does not fit
 * (JpgInfo.iccSize tells its size) or the file has none. */
JPG_CODEC_API int32_t jpgReadIcc(const void *jpeg, size_t size, void *profile, size_t profileSize, JpgError *error);

/* This library's private preview (iRead_APP1's picture) as 80 x 60 pixels in
 * `format`, top row first, rows 80 x bytes per pixel apart. */
#define JPG_PREVIEW_WIDTH 80
#define JPG_PREVIEW_HEIGHT 60
JPG_CODEC_API int32_t jpgReadPreview(const void *jpeg, size_t size, int32_t format, void *pixels, size_t pixelsSize,
                                     JpgError *error);

/* ---- Decoding ----------------------------------------------------------- */

typedef struct JpgDecodeSettings {
    uint32_t size;        /* sizeof(JpgDecodeSettings), set by jpgDefaultDecodeSettings */
    int32_t format;       /* JPG_FORMAT_*; default RGB. A colour file gives its luma as GREY, a
                             grey file its level in every channel of the others */
    int32_t scale;        /* 1, 2, 4 or 8: the picture 1/scale the size (rounded up); default 1 */
    int32_t threads;      /* 0 auto (default), 1 the calling thread alone, N at most N */
    int32_t kernels;      /* JPG_KERNELS_*; default auto */
    uint64_t memoryLimit; /* bytes of working memory beyond the caller's pixels (a progressive
                             file's coefficients count); default 1 GiB; 0 no limit */
    uint32_t maxScans;    /* most scans a file may have; default 1,000; 0 no limit */
} JpgDecodeSettings;

#define JPG_DEFAULT_MEMORY_LIMIT ((uint64_t)1 << 30)
#define JPG_DEFAULT_MAX_SCANS 1000

JPG_CODEC_API void jpgDefaultDecodeSettings(JpgDecodeSettings *settings);

/* The size of the decoded picture at a scale: ceil(width / scale) by
 * ceil(height / scale). */
JPG_CODEC_API int32_t jpgScaledSize(const JpgInfo *info, int32_t scale, uint32_t *width, uint32_t *height);

/* The smallest scale (1, 2, 4 or 8) whose picture is at least minWidth wide
 * and minHeight high (the thumbnail case; 0 asks nothing of a side): the
 * largest reduction that still gives that much, 1 when none does. */
JPG_CODEC_API int32_t jpgScaleFor(const JpgInfo *info, uint32_t minWidth, uint32_t minHeight);

/* Decodes the JPEG file jpeg[0, size) into pixels[0, pixelsSize): rows top
 * first, `pitch` bytes apart (at least width x bytes per pixel), in the
 * settings' format and scale (null settings: the defaults). JPG_OK;
 * JPG_WARNING when the data was damaged or cut short: the picture is
 * complete all the same, what the data gave and the rest filled in. The
 * pixels may be written more than once (RGB rows are made as B, G, R and
 * turned in place): calls running at once need pixels of their own. */
JPG_CODEC_API int32_t jpgDecode(const void *jpeg, size_t size, const JpgDecodeSettings *settings, void *pixels,
                                size_t pitch, size_t pixelsSize, JpgError *error);

/* ---- Encoding ----------------------------------------------------------- */

typedef struct JpgEncodeSettings {
    uint32_t size;            /* sizeof(JpgEncodeSettings), set by jpgDefaultEncodeSettings */
    int32_t format;           /* JPG_FORMAT_* of the source pixels; default RGB */
    int32_t quality;          /* 1-100: the standard tables scaled as cjpeg -quality scales them; default 75.
                                 Entries above 255 (quality under 24) are written in 16 bits, in an SOF1
                                 (extended) frame, as cjpeg writes them without -baseline */
    int32_t useLevel;         /* 0 (default): quality decides; 1: `level` decides */
    int32_t level;            /* with useLevel: iExportJPG's compressionLevel (any value it takes), exactly
                                 its tables, in its SOF0 frame whatever their entries */
    int32_t sampling;         /* JPG_SAMPLING_*; default 422. A GREY source always gives one component.
                                 4:2:2 chroma is the mean of each pair rounded up (the exports'); 4:2:0
                                 chroma the mean of each 2 x 2 square, halves rounded down and up in turn
                                 along a row, as libjpeg averages it */
    uint32_t restartInterval; /* MCUs between restart markers, 0 none (default), at most 65,535 */
    int32_t preview;          /* 1 (default): write this library's preview segment, right after SOI; 0: none.
                                 With useLevel its samples are the quantised DC values, as iExportJPG's;
                                 with quality, each block's mean, so that every quality shows the picture */
    int32_t previewLayout;    /* its layout tag, as iExportJPG's thumbnailLayout (its low 16 bits, stored
                                 as iExportJPG stores them); default 1. The codes are always in the
                                 sequential layout, the one iRead_APP1 reads for tag 1 */
    const void *icc;          /* an ICC profile to embed (APP2 "ICC_PROFILE" chunks of up to 65,519
                                 bytes), or null */
    uint32_t iccSize;         /* its bytes, at most 255 chunks' (16,707,345) */
    int32_t threads;          /* 0 auto (default), 1 the calling thread alone, N at most N */
    int32_t kernels;          /* JPG_KERNELS_*; default auto */
    int32_t densityUnits;     /* JFIF: 0 aspect ratio only, 1 dots per inch (default), 2 dots per cm */
    uint16_t densityX, densityY; /* JFIF density, at least 1; default 72 x 72 */
    const char *comment;      /* text for a COM segment (at most 65,533 bytes before its zero), or null */
} JpgEncodeSettings;

JPG_CODEC_API void jpgDefaultEncodeSettings(JpgEncodeSettings *settings);

/* Encodes width x height pixels (rows top first, `pitch` bytes apart) into a
 * JPEG file in a block the library allocates: *jpeg and *size on success
 * (free it with jpgFree), null and 0 otherwise. Nothing is read outside
 * pixels[0, pitch x (height - 1) + width x bytes per pixel). With useLevel,
 * sampling 422 (or a grey source), the preview on and nothing else added,
 * the bytes are exactly those iExportJPG writes for the same picture stored
 * as a BMP file with that compressionLevel and thumbnailLayout.
 *
 * The file: SOI; the preview segment (APP1); JFIF (APP0); the ICC profile's
 * chunks (APP2); the comment (COM); DQT; SOF0 or SOF1; DHT; DRI; SOS. Only
 * iExportJPG's layout (the case above) has a COM segment of 415 zero bytes
 * before SOS, which puts a colour file's scan at offset 6,144.
 *
 * JPG_ERR_ARGUMENT for a null pointer, a pitch too small, a setting out of
 * range or a record of an unknown size; JPG_ERR_TOO_LARGE for a side over
 * 65,535 or a file over the library's largest block (2 GiB); JPG_ERR_NO_MEMORY
 * when memory could not be had. */
JPG_CODEC_API int32_t jpgEncode(const void *pixels, uint32_t width, uint32_t height, size_t pitch,
                                const JpgEncodeSettings *settings, void **jpeg, size_t *size, JpgError *error);

JPG_CODEC_API void jpgFree(void *block);

/* The library's version, "MAJOR.MINOR.PATCH". */
JPG_CODEC_API const char *jpgVersion(void);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* JPG_CODEC_H */
