// Previews of exported files against box-filtered versions of their sources,
// and imported files drawn on a canvas.
#include <gtest/gtest.h>

#include <cmath>

#include "jpg.h"
#include "jpg_canvas.h"
#include "jpg_codec.h"
#include "test_util.h"

using testutil::Bytes;
using testutil::Image;

namespace {

// The preview of an exported file, as an 80 x 60 picture, top row first.
Image previewOf(const Bytes &jpeg) {
    Bytes segment(jpeg.begin(), jpeg.begin() + 5120);
    Bytes dib(40 + 14400);
    EXPECT_EQ(iRead_APP1(segment.data(), dib.data()), 0);
    Image out{80, 60, 3, Bytes(80 * 60 * 3)};
    for (uint32_t y = 0; y < 60; ++y)
        for (uint32_t x = 0; x < 80; ++x)
            for (int c = 0; c < 3; ++c) out.at(x, y)[c] = dib[40 + (59 - y) * 240 + 3 * x + 2 - c];
    return out;
}

// The mean of each cell of an 80 x 60 grid over the picture, with its
// contrast around 128 multiplied by `contrast`.
Image boxFiltered(const Image &src, double contrast) {
    Image out{80, 60, 3, Bytes(80 * 60 * 3)};
    for (uint32_t cy = 0; cy < 60; ++cy)
        for (uint32_t cx = 0; cx < 80; ++cx) {
            const uint32_t x0 = cx * src.width / 80, x1 = (cx + 1) * src.width / 80;
            const uint32_t y0 = cy * src.height / 60, y1 = (cy + 1) * src.height / 60;
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                for (uint32_t y = y0; y < y1; ++y)
                    for (uint32_t x = x0; x < x1; ++x) sum += src.at(x, y)[c];
                const double mean = sum / ((x1 - x0) * (y1 - y0));
                out.at(cx, cy)[c] = static_cast<uint8_t>(std::lround(128 + (mean - 128) * contrast));
            }
        }
    return out;
}

double meanAbs(const Image &a, const Image &b) {
    double s = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) s += std::abs(int(a.pixels[i]) - int(b.pixels[i]));
    return s / a.pixels.size();
}

}  // namespace

// A preview sample is a block's quantised DC value: its mean minus 128 times
// 8 / the DC divisor. Level 0 has divisors of 8, so the preview is the
// picture at 1/8 scale; the standard tables of level 3 divide by 16 and 17,
// which halves the preview's contrast.
TEST(PreviewRoundTrip, ExportsResembleTheirBoxFilteredSources) {
    struct Case {
        uint32_t width, height;
        int level;
        double contrast, meanBound, psnrBound;
    } cases[] = {
        // Measured mean differences 1.88, 1.66, 3.24, 2.18, 2.65, 2.03 (PSNR 34.0, 38.2, 30.0, 35.2, 31.6, 35.8).
        {640, 480, 0, 1.0, 2.3, 33},     {640, 480, 3, 0.5, 2.1, 37},     {320, 240, 0, 1.0, 3.8, 29},
        {320, 240, 3, 0.5, 2.7, 34},     {2000, 1500, 0, 1.0, 3.2, 30.5}, {2000, 1500, 3, 0.5, 2.5, 34.5},
    };
    testutil::TempDir dir;
    for (const Case &c : cases) {
        const Image source = testutil::photoImage(c.width, c.height, 3, 7);
        testutil::writeFile(dir.file("in.bmp"), testutil::bmpBytes(source));
        ASSERT_EQ(iExportJPG(dir.file("in.bmp").c_str(), dir.file("out.jpg").c_str(), 1, c.level), 0);
        const Image preview = previewOf(testutil::readFile(dir.file("out.jpg")));
        const Image box = boxFiltered(source, c.contrast);
        const std::string what = std::to_string(c.width) + "x" + std::to_string(c.height) + " level " +
                                 std::to_string(c.level);
        EXPECT_LT(meanAbs(preview, box), c.meanBound) << what;
        EXPECT_GT(testutil::compare(preview, box).psnr, c.psnrBound) << what;
    }
}

// jpgEncode's previews show the picture in every layout, each block by its
// mean whatever the quality; the preview of a grey encode is the picture's
// luma.
TEST(PreviewRoundTrip, EncodedPreviewsShowThePictureInEveryLayout) {
    struct Case {
        uint32_t width, height;
        int32_t sampling;
        int quality;
        double meanBound, psnrBound;
    } cases[] = {
        // Measured mean differences 1.83, 2.99, 5.68, 8.12, 2.76, 1.23, 5.36, 2.99 (PSNR 34.3, 31.6, 25.4,
        // 24.1, 31.2, 41.7, 26.5, 31.9): the small pictures' cells take their nearest block, not a mean.
        {640, 480, JPG_SAMPLING_444, 100, 2.3, 33},  {640, 480, JPG_SAMPLING_420, 30, 3.5, 30},
        {333, 211, JPG_SAMPLING_422, 100, 6.5, 24},  {333, 211, JPG_SAMPLING_420, 90, 9, 23},
        {2000, 1500, JPG_SAMPLING_420, 75, 3.3, 30}, {640, 480, JPG_SAMPLING_GREY, 100, 1.6, 40},
        {333, 211, JPG_SAMPLING_GREY, 10, 6.2, 25},  {2000, 1500, JPG_SAMPLING_444, 20, 3.6, 29.5},
    };
    for (const Case &c : cases) {
        Image source = testutil::photoImage(c.width, c.height, 3, 7);
        JpgEncodeSettings settings;
        jpgDefaultEncodeSettings(&settings);
        settings.quality = c.quality;
        settings.sampling = c.sampling;
        void *jpeg = nullptr;
        size_t size = 0;
        ASSERT_EQ(jpgEncode(source.pixels.data(), c.width, c.height, 3 * c.width, &settings, &jpeg, &size, nullptr),
                  JPG_OK);
        const Image preview = previewOf(Bytes(static_cast<uint8_t *>(jpeg), static_cast<uint8_t *>(jpeg) + size));
        jpgFree(jpeg);
        if (c.sampling == JPG_SAMPLING_GREY)
            for (size_t i = 0; i < source.pixels.size(); i += 3) {
                const uint8_t *p = &source.pixels[i];
                const auto luma = static_cast<uint8_t>((38 * p[0] + 75 * p[1] + 15 * p[2]) >> 7);
                source.pixels[i] = source.pixels[i + 1] = source.pixels[i + 2] = luma;
            }
        const Image box = boxFiltered(source, 1.0);
        const std::string what = std::to_string(c.width) + "x" + std::to_string(c.height) + " sampling " +
                                 std::to_string(c.sampling) + " quality " + std::to_string(c.quality);
        EXPECT_LT(meanAbs(preview, box), c.meanBound) << what;
        EXPECT_GT(testutil::compare(preview, box).psnr, c.psnrBound) << what;
    }
}

#if !defined(_WIN32)
// A file that iImportJPG wrote is drawn upright: the canvas is its picture.
TEST(PreviewRoundTrip, ImportedFilesAreShownUpright) {
    testutil::TempDir dir;
    for (uint32_t channels : {1u, 3u}) {
        testutil::writeFile(dir.file("in.bmp"), testutil::bmpBytes(testutil::photoImage(61, 45, channels, 2)));
        ASSERT_EQ(iExportJPG(dir.file("in.bmp").c_str(), dir.file("out.jpg").c_str(), 1, 3), 0);
        ASSERT_EQ(iImportJPG(dir.file("out.jpg").c_str(), dir.file("back.bmp").c_str()), 0);
        const Image imported = testutil::parseBmp(testutil::readFile(dir.file("back.bmp")));
        std::vector<uint32_t> pixels(61 * 45);
        JpgCanvas canvas{61, 45, pixels.data()};
        ASSERT_EQ(iShowMeta(0, &canvas, dir.file("back.bmp").c_str()), 0);
        for (uint32_t y = 0; y < 45; ++y)
            for (uint32_t x = 0; x < 61; ++x) {
                const uint8_t *p = imported.at(x, y);
                const uint32_t want = channels == 1 ? p[0] * 0x010101u : uint32_t(p[0]) << 16 | p[1] << 8 | p[2];
                ASSERT_EQ(pixels[y * 61 + x], want) << x << "," << y;
            }
    }
}
#endif
