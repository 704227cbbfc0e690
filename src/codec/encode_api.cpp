// jpgEncode: pixels to a JPEG file in memory.
#include "codec/codec_common.h"

extern "C" {

JPG_CODEC_API void jpgDefaultEncodeSettings(JpgEncodeSettings *settings) {
    if (settings == nullptr) return;
    *settings = JpgEncodeSettings{};
    settings->size = sizeof *settings;
    settings->format = JPG_FORMAT_RGB;
    settings->quality = 75;
    settings->sampling = JPG_SAMPLING_422;
    settings->preview = 1;
    settings->previewLayout = 1;
    settings->densityUnits = 1;
    settings->densityX = settings->densityY = 72;
}

JPG_CODEC_API int32_t jpgEncode(const void *, uint32_t, uint32_t, size_t, const JpgEncodeSettings *, void **jpeg,
                                size_t *size, JpgError *error) {
    if (jpeg != nullptr) *jpeg = nullptr;
    if (size != nullptr) *size = 0;
    return jpg::codec::report(error, JPG_ERR_UNSUPPORTED, "not built yet");
}

}  // extern "C"
