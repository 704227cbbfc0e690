/*
 * JPG: a compact baseline JPEG codec.
 *
 * The library exports exactly six functions. On 32-bit Windows they use the
 * standard calling convention (__stdcall) and are exported by name from
 * JPG.dll with ordinals 1 to 6 in the order below; elsewhere they are plain C
 * functions of libjpg.
 *
 *   WEP           (1)  module exit procedure, returns 1
 *   iDecode_Init  (2)  prepares a caller-owned DecoderState, returns 0
 *   iExportJPG    (3)  BMP file -> baseline JPEG file with a preview segment
 *   iImportJPG    (4)  JPEG file -> BMP file
 *   iRead_APP1    (5)  preview segment -> 80 x 60 24-bit DIB
 *   iShowMeta     (6)  draws a BMP file into a device context
 */
#ifndef JPG_H
#define JPG_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define JPG_CALL __stdcall
#if defined(JPG_BUILDING)
#define JPG_API __declspec(dllexport)
#else
#define JPG_API
#endif
#else
#define JPG_CALL
#if defined(JPG_BUILDING)
#define JPG_API __attribute__((visibility("default")))
#else
#define JPG_API
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Handle of a movable global memory block. On Windows it is an HGLOBAL; on
 * other systems it is the address of the block itself, so a host may pass
 * any ordinary buffer where a MemHandle is expected. */
typedef void *MemHandle;

/* ---- Statuses ---------------------------------------------------------- */

/* iImportJPG */
#define JPG_IMPORT_OK 0          /* BMP file written */
#define JPG_IMPORT_NOT_JPEG 1    /* not FF D8 at the start, or unreadable: no BMP made */
#define JPG_IMPORT_REFUSED 2     /* headers refused, or the BMP could not be made: no BMP */
#define JPG_IMPORT_DAMAGED 3     /* BMP complete, but the data did not end at FF D9 */

/* iExportJPG */
#define JPG_EXPORT_OK 0
#define JPG_EXPORT_FAILED 1      /* source refused or unusable, output path untouched */

/* iRead_APP1 */
#define JPG_PREVIEW_OK 0
#define JPG_PREVIEW_BAD_LAYOUT (-1)

/* iShowMeta */
#define JPG_SHOW_OK 0
#define JPG_SHOW_FAILED 1

/* ---- Decoder records ---------------------------------------------------- */

/* One image component; every field is unsigned 16-bit. */
typedef struct ComponentSpec {
    uint16_t id;
    uint16_t hSamp;
    uint16_t vSamp;
    uint16_t quantSel;
    uint16_t dcSel;
    uint16_t acSel;
    uint16_t mcuWidthBlocks;
    uint16_t mcuHeightBlocks;
    uint16_t mcuBlocks;
    uint16_t sampleWidth;
    uint16_t sampleHeight;
    uint16_t paddedWidth;
    uint16_t paddedHeight;
} ComponentSpec;

/* Content of each of the decoder's eight Huffman table blocks: 447 bytes,
 * no padding between fields. */
#pragma pack(push, 1)
typedef struct HuffmanTableBlock {
    uint8_t counts[17];
    uint8_t symbols[256];
    int16_t minCode[17];
    int32_t maxCode[18];
    int32_t valueIndex[17];
} HuffmanTableBlock;
#pragma pack(pop)

/* The decoder's state. A host may own one and pass it to iDecode_Init, so its
 * layout (natural alignment) is part of the interface. */
typedef struct DecoderState {
    int32_t colourMode;
    ComponentSpec components[4];
    int32_t quantTables[4][64];
    MemHandle dcTables[4];
    MemHandle acTables[4];
    uint8_t *readPtr;
    uint8_t *readEnd;
    uint8_t *readBuffer;
    uint32_t bytesLeft;
    uint16_t chunkSize;
    uint16_t frameComponents;
    uint16_t scanComponents;
    uint16_t width;
    uint16_t height;
    uint16_t maxH;
    uint16_t maxV;
    uint16_t mcusPerRow;
    uint16_t mcuRows;
    uint16_t blocksPerMcu;
    uint16_t mcuBlockComponent[10];
    uint16_t restartInterval;
    uint16_t restartsToGo;
    int32_t endOfData;
    int32_t bitBuffer;
    int32_t bitCount;
    int32_t dcPredictors[4];
} DecoderState;

/* ---- The six exports ---------------------------------------------------- */

JPG_API int32_t JPG_CALL WEP(int32_t reserved);

/* Makes the state's eight Huffman table blocks (447 bytes each) and sets its
 * initial values. The blocks stay allocated: the caller owns them from then
 * on. Returns 0. */
JPG_API int32_t JPG_CALL iDecode_Init(DecoderState *state);

/* Encodes an uncompressed 1-, 4-, 8-, 24- or 32-bit BMP file into a baseline
 * JPEG file. An 8-bit file whose colour table is the grey ramp (or a part of
 * it) gives its pixel values as grey levels; other 1-, 4- and 8-bit files go
 * through their colour table (values past its end are black) and give a grey
 * JPEG when every entry is grey, else a colour one. The first stored BMP row
 * becomes the top row of the picture.
 * thumbnailLayout (low 16 bits) is stored in the preview segment; 1 is the
 * layout this library writes. compressionLevel (low 16 bits): 3 gives the
 * standard tables, larger values coarser quantisation. Returns 0 or 1. */
JPG_API int32_t JPG_CALL iExportJPG(const char *bmpPath, const char *jpegPath,
                                    int32_t thumbnailLayout, int32_t compressionLevel);

/* Decodes a baseline or extended sequential Huffman JPEG file (8-bit, grey,
 * YCbCr or RGB) into an 8-bit grey or 24-bit BMP file, top row stored first.
 * Three components are RGB when they are named 'R', 'G', 'B' or an Adobe
 * segment says transform 0, unless they are named 1, 2, 3 (always YCbCr).
 * Returns 0, 1, 2 or 3 (see above). */
JPG_API int32_t JPG_CALL iImportJPG(const char *jpegPath, const char *bmpPath);

/* Decodes the preview segment of an exported JPEG file. segment holds the
 * file from its first byte; it must be at least 4,820 bytes long (through the
 * end of the 4,800 code bytes). dib must be at least 14,440 bytes: it receives
 * a 40-byte BITMAPINFOHEADER and 60 bottom-up rows of 80 BGR pixels.
 * Returns 0; or -1 when the layout tag at offset 18 (big-endian) is neither 0
 * nor 1, the header then being written and the pixels left as they were; or
 * -1 when a block cannot be locked or working memory cannot be had. */
JPG_API int32_t JPG_CALL iRead_APP1(MemHandle segment, MemHandle dib);

/* Draws a BMP file (uncompressed, 1, 4, 8, 16, 24 or 32 bits per pixel) into
 * a device context from its origin, first stored row on the top line, one row
 * at a time, with the file's colour table realised as a palette. On Windows
 * deviceContext is an HDC; elsewhere it is a JpgCanvas * (jpg_canvas.h: a
 * host-owned array of 0x00RRGGBB pixels, top line first), on which drawing is
 * clipped to the canvas. A file that ends early draws the rows it has.
 * Returns 0; or 1 when nothing could be drawn: a file that does not start
 * with "BM" (also shown in a message box, "Not a BMP file "), a file that
 * cannot be opened, compressed or malformed files, or no memory. */
JPG_API int32_t JPG_CALL iShowMeta(int32_t reserved, void *deviceContext, const char *bmpPath);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* ---- Layout checks ------------------------------------------------------ */

#ifdef __cplusplus
#define JPG_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define JPG_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

JPG_STATIC_ASSERT(sizeof(ComponentSpec) == 26, "ComponentSpec is 13 words");
JPG_STATIC_ASSERT(sizeof(HuffmanTableBlock) == 447, "Huffman table block is 447 bytes");
JPG_STATIC_ASSERT(offsetof(HuffmanTableBlock, symbols) == 17, "symbols offset");
JPG_STATIC_ASSERT(offsetof(HuffmanTableBlock, minCode) == 273, "minCode offset");
JPG_STATIC_ASSERT(offsetof(HuffmanTableBlock, maxCode) == 307, "maxCode offset");
JPG_STATIC_ASSERT(offsetof(HuffmanTableBlock, valueIndex) == 379, "valueIndex offset");

JPG_STATIC_ASSERT(offsetof(DecoderState, colourMode) == 0, "colourMode offset");
JPG_STATIC_ASSERT(offsetof(DecoderState, components) == 4, "components offset");
JPG_STATIC_ASSERT(offsetof(DecoderState, quantTables) == 108, "quantTables offset");

#if UINTPTR_MAX == 0xFFFFFFFFu
/* 32-bit targets (the shipping JPG.dll) */
#define JPG_STATE_OFFSET(p32, p64) (p32)
#define JPG_STATE_SIZE 1252
#else
#define JPG_STATE_OFFSET(p32, p64) (p64)
#define JPG_STATE_SIZE 1304
#endif
JPG_STATIC_ASSERT(offsetof(DecoderState, dcTables) == JPG_STATE_OFFSET(1132, 1136), "dcTables offset");
JPG_STATIC_ASSERT(offsetof(DecoderState, acTables) == JPG_STATE_OFFSET(1148, 1168), "acTables offset");
JPG_STATIC_ASSERT(offsetof(DecoderState, readPtr) == JPG_STATE_OFFSET(1164, 1200), "readPtr offset");
JPG_STATIC_ASSERT(offsetof(DecoderState, readEnd) == JPG_STATE_OFFSET(1168, 1208), "readEnd offset");
JPG_STATIC_ASSERT(offsetof(DecoderState, readBuffer) == JPG_STATE_OFFSET(1172, 1216), "readBuffer offset");
JPG_STATIC_ASSERT(offsetof(DecoderState, bytesLeft) == JPG_STATE_OFFSET(1176, 1224), "bytesLeft offset");
JPG_STATIC_ASSERT(offsetof(DecoderState, chunkSize) == JPG_STATE_OFFSET(1180, 1228), "chunkSize offset");
JPG_STATIC_ASSERT(offsetof(DecoderState, frameComponents) == JPG_STATE_OFFSET(1182, 1230), "frameComponents offset");
JPG_STATIC_ASSERT(offsetof(DecoderState, scanComponents) == JPG_STATE_OFFSET(1184, 1232), "scanComponents offset");
JPG_STATIC_ASSERT(offsetof(DecoderState, width) == JPG_STATE_OFFSET(1186, 1234), "width offset");
JPG_STATIC_ASSERT(offsetof(DecoderState, height) == JPG_STATE_OFFSET(1188, 1236), "height offset");
JPG_STATIC_ASSERT(offsetof(DecoderState, maxH) == JPG_STATE_OFFSET(1190, 1238), "maxH offset");
JPG_STATIC_ASSERT(offsetof(DecoderState, maxV) == JPG_STATE_OFFSET(1192, 1240), "maxV offset");
JPG_STATIC_ASSERT(offsetof(DecoderState, mcusPerRow) == JPG_STATE_OFFSET(1194, 1242), "mcusPerRow offset");
JPG_STATIC_ASSERT(offsetof(DecoderState, mcuRows) == JPG_STATE_OFFSET(1196, 1244), "mcuRows offset");
JPG_STATIC_ASSERT(offsetof(DecoderState, blocksPerMcu) == JPG_STATE_OFFSET(1198, 1246), "blocksPerMcu offset");
JPG_STATIC_ASSERT(offsetof(DecoderState, mcuBlockComponent) == JPG_STATE_OFFSET(1200, 1248), "mcuBlockComponent offset");
JPG_STATIC_ASSERT(offsetof(DecoderState, restartInterval) == JPG_STATE_OFFSET(1220, 1268), "restartInterval offset");
JPG_STATIC_ASSERT(offsetof(DecoderState, restartsToGo) == JPG_STATE_OFFSET(1222, 1270), "restartsToGo offset");
JPG_STATIC_ASSERT(offsetof(DecoderState, endOfData) == JPG_STATE_OFFSET(1224, 1272), "endOfData offset");
JPG_STATIC_ASSERT(offsetof(DecoderState, bitBuffer) == JPG_STATE_OFFSET(1228, 1276), "bitBuffer offset");
JPG_STATIC_ASSERT(offsetof(DecoderState, bitCount) == JPG_STATE_OFFSET(1232, 1280), "bitCount offset");
JPG_STATIC_ASSERT(offsetof(DecoderState, dcPredictors) == JPG_STATE_OFFSET(1236, 1284), "dcPredictors offset");
JPG_STATIC_ASSERT(sizeof(DecoderState) == JPG_STATE_SIZE, "DecoderState size");

#endif /* JPG_H */
