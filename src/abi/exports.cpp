// The library's whole interface for host programs: the six exports of jpg.h,
// by ordinal (jpg.def; jpg.map keeps them the only symbols of libjpg.so).
// Each is a door into its stage, with the defaults of every per-call option.
#include "decoder/decoder_internal.h"
#include "decoder/decoder_state.h"
#include "display/bmp_display.h"
#include "encoder/encoder_state.h"
#include "jpg.h"
#include "thumbnail/preview_reader.h"

extern "C" {

// 1: the module's exit procedure.
JPG_API int32_t JPG_CALL WEP(int32_t /*reserved*/) { return 1; }

// 2: a caller's decoder state, with its eight table blocks.
JPG_API int32_t JPG_CALL iDecode_Init(DecoderState *state) {
    if (state != nullptr) jpg::initDecoderState(state);
    return 0;
}

// 3: a BMP file to a JPEG file with its preview.
JPG_API int32_t JPG_CALL iExportJPG(const char *bmpPath, const char *jpegPath, int32_t thumbnailLayout,
                                    int32_t compressionLevel) {
    return jpg::exportJpegFile(bmpPath, jpegPath, thumbnailLayout, compressionLevel, jpg::CallOptions{});
}

// 4: a JPEG file to a BMP file.
JPG_API int32_t JPG_CALL iImportJPG(const char *jpegPath, const char *bmpPath) {
    return jpg::importJpegFile(jpegPath, bmpPath, jpg::CallOptions{});
}

// 5: the preview segment to a DIB.
JPG_API int32_t JPG_CALL iRead_APP1(MemHandle segment, MemHandle dib) { return jpg::readPreview(segment, dib); }

// 6: a BMP file drawn into a device context.
JPG_API int32_t JPG_CALL iShowMeta(int32_t /*reserved*/, void *deviceContext, const char *bmpPath) {
    return jpg::showBmpFile(deviceContext, bmpPath);
}

}  // extern "C"
