// Binary netpbm files, as cjpeg reads them and djpeg writes them: P6 (colour,
// R, G, B per pixel) and P5 (grey), maxval 255, rows top first without
// padding.
#ifndef JPG_BASE_NETPBM_FILE_H
#define JPG_BASE_NETPBM_FILE_H

#include <cstdint>

#include "base/files.h"
#include "base/result.h"

namespace jpg {

struct NetpbmHeader {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t channels = 0;  // 1 (P5) or 3 (P6)
    uint32_t headerBytes = 0;
};

// True when the first two bytes of a file are those of a netpbm file (P1 to P7).
inline bool isNetpbmSignature(const uint8_t *bytes) { return bytes[0] == 'P' && bytes[1] >= '1' && bytes[1] <= '7'; }

// Writes the header "P6\n<width> <height>\n255\n" (P5 for one channel).
Result writeNetpbmHeader(const OpenFile &file, uint32_t width, uint32_t height, uint32_t channels);

// Reads a header from `file`, whose first two bytes, `signature`, have been
// read, byte by byte so that a stream is left at the first pixel byte.
// Results: NotFormat when the signature is not a netpbm one; Unsupported for plain (ASCII),
// bitmap and PAM files and a maxval other than 255; Malformed for a header
// that breaks the format; IoError. `reason` says why, for every failure.
Result readNetpbmHeader(const OpenFile &file, const uint8_t *signature, NetpbmHeader &out, const char *&reason);

}  // namespace jpg

#endif  // JPG_BASE_NETPBM_FILE_H
