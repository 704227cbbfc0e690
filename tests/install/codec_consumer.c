/* The README's example, built against the installed library: decodes a JPEG
 * file's bytes to RGB and encodes them back.
 * usage: codec_consumer IN.jpg OUT.jpg */
#include <stdio.h>
#include <stdlib.h>
#include "jpg_codec.h"

int main(int argc, char **argv) {
    FILE *in = argc == 3 ? fopen(argv[1], "rb") : NULL;
    if (in == NULL) return 2;
    fseek(in, 0, SEEK_END);
    long size = ftell(in);
    fseek(in, 0, SEEK_SET);
    unsigned char *jpeg = malloc(size);
    fread(jpeg, 1, size, in);
    fclose(in);

    JpgInfo info = {sizeof info};
    JpgError error;
    if (jpgReadInfo(jpeg, size, &info, &error) != JPG_OK || !info.decodable) {
        fprintf(stderr, "%s: %s\n", argv[1], error.message);
        return 1;
    }
    JpgDecodeSettings decode;
    jpgDefaultDecodeSettings(&decode);  /* RGB, full size, auto threads */
    size_t pitch = (size_t)info.width * 3;
    unsigned char *pixels = malloc(pitch * info.height);
    if (jpgDecode(jpeg, size, &decode, pixels, pitch, pitch * info.height, &error) < JPG_OK) {
        fprintf(stderr, "%s: %s\n", argv[1], error.message);
        return 1;
    }

    JpgEncodeSettings encode;
    jpgDefaultEncodeSettings(&encode);  /* RGB, quality 75, 4:2:2 */
    encode.sampling = JPG_SAMPLING_420;
    void *copy = NULL;
    size_t copySize = 0;
    if (jpgEncode(pixels, info.width, info.height, pitch, &encode, &copy, &copySize, &error) != JPG_OK) {
        fprintf(stderr, "%s\n", error.message);
        return 1;
    }
    FILE *out = fopen(argv[2], "wb");
    fwrite(copy, 1, copySize, out);
    fclose(out);
    jpgFree(copy);
    free(pixels);
    free(jpeg);
    return 0;
}
