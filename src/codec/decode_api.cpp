// jpgDecode and jpgReadInfo: JPEG files in memory to pixels.
#include "codec/codec_common.h"

extern "C" {

JPG_CODEC_API void jpgDefaultDecodeSettings(JpgDecodeSettings *settings) {
    if (settings == nullptr) return;
    *settings = JpgDecodeSettings{};
    settings->size = sizeof *settings;
    settings->format = JPG_FORMAT_RGB;
    settings->scale = 1;
    settings->memoryLimit = JPG_DEFAULT_MEMORY_LIMIT;
    settings->maxScans = JPG_DEFAULT_MAX_SCANS;
}

JPG_CODEC_API int32_t jpgReadInfo(const void *, size_t, JpgInfo *, JpgError *error) {
    return jpg::codec::report(error, JPG_ERR_UNSUPPORTED, "not built yet");
}
JPG_CODEC_API int32_t jpgReadIcc(const void *, size_t, void *, size_t, JpgError *error) {
    return jpg::codec::report(error, JPG_ERR_UNSUPPORTED, "not built yet");
}
JPG_CODEC_API int32_t jpgReadPreview(const void *, size_t, int32_t, void *, size_t, JpgError *error) {
    return jpg::codec::report(error, JPG_ERR_UNSUPPORTED, "not built yet");
}
JPG_CODEC_API int32_t jpgScaledSize(const JpgInfo *, int32_t, uint32_t *, uint32_t *) { return JPG_ERR_UNSUPPORTED; }
JPG_CODEC_API int32_t jpgScaleFor(const JpgInfo *, uint32_t, uint32_t) { return 1; }
JPG_CODEC_API int32_t jpgDecode(const void *, size_t, const JpgDecodeSettings *, void *, size_t, size_t,
                                JpgError *error) {
    return jpg::codec::report(error, JPG_ERR_UNSUPPORTED, "not built yet");
}

}  // extern "C"
