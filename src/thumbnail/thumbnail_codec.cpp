#include "thumbnail/thumbnail_codec.h"

namespace jpg {

namespace {

// Codes one sample against its channel's prediction and moves the prediction.
uint8_t codeSample(int32_t &prediction, uint8_t sample) {
    const uint8_t code = thumbCode(static_cast<int8_t>(sample) - prediction);
    prediction += thumbSteps[code];
    return code;
}

// Applies one code to a prediction; the sample is the clamped prediction.
int8_t decodeSample(int32_t &prediction, uint8_t code) {
    prediction += thumbSteps[code & 15];
    if (prediction >= 127) return 127;
    if (prediction <= -128) return -128;
    return static_cast<int8_t>(prediction);
}

}  // namespace

uint8_t thumbCode(int32_t d) {
    // Upper ends of the positive intervals, and lower ends of the negative ones.
    static constexpr int32_t kPositiveTop[7] = {1, 4, 8, 14, 24, 44, 98};
    static constexpr int32_t kNegativeBottom[7] = {-2, -5, -9, -15, -25, -45, -99};
    if (d >= 0) {
        for (uint8_t i = 0; i < 7; ++i)
            if (d <= kPositiveTop[i]) return static_cast<uint8_t>(2 * i);
        return 14;
    }
    for (uint8_t i = 0; i < 7; ++i)
        if (d >= kNegativeBottom[i]) return static_cast<uint8_t>(2 * i + 1);
    return 15;
}

void encodeThumbnail(const uint8_t *sampleBytes, uint32_t sampleCount, uint8_t *codeBytes) {
    ThumbnailCodec codec;
    for (uint32_t i = 0; 4 * i < sampleCount; ++i) {
        const uint8_t *s = sampleBytes + 4 * i;
        const uint8_t a = codeSample(codec.y, s[0]);
        const uint8_t b = codeSample(codec.y, s[1]);
        const uint8_t c = codeSample(codec.cb, s[2]);
        const uint8_t e = codeSample(codec.cr, s[3]);
        codeBytes[2 * i] = static_cast<uint8_t>(a << 4 | b);
        codeBytes[2 * i + 1] = static_cast<uint8_t>(c << 4 | e);
    }
}

bool decodeThumbnail(const uint8_t *codeBytes, uint16_t thumbnailLayout, int8_t *thumbSamples) {
    ThumbnailCodec codec;
    if (thumbnailLayout == kThumbLayoutSequential) {
        for (uint32_t i = 0; i < kThumbMcus; ++i) {
            const uint8_t first = codeBytes[2 * i];
            const uint8_t second = codeBytes[2 * i + 1];
            thumbSamples[4 * i] = decodeSample(codec.y, first >> 4);
            thumbSamples[4 * i + 1] = decodeSample(codec.y, first & 15);
            thumbSamples[4 * i + 2] = decodeSample(codec.cb, second >> 4);
            thumbSamples[4 * i + 3] = decodeSample(codec.cr, second & 15);
        }
        return true;
    }
    if (thumbnailLayout != kThumbLayoutGrouped) return false;

    // Grouped: row pairs of 20 groups; a group covers MCUs 2k and 2k + 1 of
    // rows 2R and 2R + 1 in 8 bytes (8 Y codes, 4 Cb codes, 4 Cr codes).
    const uint8_t *p = codeBytes;
    for (uint32_t pair = 0; pair < kThumbMcuRows / 2; ++pair) {
        for (uint32_t k = 0; k < kThumbMcusPerRow / 2; ++k, p += 8) {
            const uint32_t top = 2 * pair * kThumbMcusPerRow + 2 * k;
            const uint32_t bottom = top + kThumbMcusPerRow;
            // MCUs in the order their Y codes come, and in the order of the
            // chroma codes.
            const uint32_t yOrder[4] = {top, bottom, top + 1, bottom + 1};
            const uint32_t cOrder[4] = {top, top + 1, bottom, bottom + 1};
            for (int m = 0; m < 4; ++m) {
                thumbSamples[4 * yOrder[m]] = decodeSample(codec.y, p[m] >> 4);
                thumbSamples[4 * yOrder[m] + 1] = decodeSample(codec.y, p[m] & 15);
            }
            for (int m = 0; m < 4; ++m) {
                const uint8_t cbCode = (m % 2 == 0 ? p[4 + m / 2] >> 4 : p[4 + m / 2] & 15);
                const uint8_t crCode = (m % 2 == 0 ? p[6 + m / 2] >> 4 : p[6 + m / 2] & 15);
                thumbSamples[4 * cOrder[m] + 2] = decodeSample(codec.cb, cbCode);
                thumbSamples[4 * cOrder[m] + 3] = decodeSample(codec.cr, crCode);
            }
        }
    }
    return true;
}

}  // namespace jpg
