// The preview's 4-bit delta code.
//
// Four signed 8-bit samples per MCU (Y0, Y1, Cb, Cr), one 4-bit code per
// sample, two codes per byte. Each channel (Y, Cb, Cr) keeps a prediction that
// starts at 0 and moves by thumbSteps[code]; predictions are never reset or
// clamped, decoded samples are clamped to -128..127.
#ifndef JPG_THUMBNAIL_THUMBNAIL_CODEC_H
#define JPG_THUMBNAIL_THUMBNAIL_CODEC_H

#include <cstdint>

#include "base/result.h"
#include "thumbnail/preview_layout.h"

namespace jpg {

constexpr int32_t thumbSteps[16] = {1, -1, 3, -3, 7, -7, 12, -12, 20, -20, 35, -35, 72, -72, 120, -120};

// The coder's and decoder's running predictions.
struct ThumbnailCodec {
    int32_t y = 0;
    int32_t cb = 0;
    int32_t cr = 0;
};

// The code for a difference d between a sample and its prediction.
uint8_t thumbCode(int32_t d);

// Codes `sampleCount` samples (a multiple of 4) into sampleCount / 2 bytes,
// sequential layout: per MCU the byte Y0<<4|Y1, then Cb<<4|Cr.
void encodeThumbnail(const uint8_t *sampleBytes, uint32_t sampleCount, uint8_t *codeBytes);

// Decodes 4,800 code bytes in the given layout (0 grouped, 1 sequential) into
// 9,600 samples in sequential order. Other layouts leave the samples as they
// were and return false.
bool decodeThumbnail(const uint8_t *codeBytes, uint16_t thumbnailLayout, int8_t *thumbSamples);

}  // namespace jpg

#endif  // JPG_THUMBNAIL_THUMBNAIL_CODEC_H
