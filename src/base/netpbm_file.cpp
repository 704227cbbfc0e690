#include "base/netpbm_file.h"

#include <cstdio>

namespace jpg {

Result writeNetpbmHeader(const OpenFile &file, uint32_t width, uint32_t height, uint32_t channels) {
    char header[48];
    const int n = std::snprintf(header, sizeof header, "P%c\n%u %u\n255\n", channels == 1 ? '5' : '6',
                                static_cast<unsigned>(width), static_cast<unsigned>(height));
    if (n <= 0 || static_cast<size_t>(n) >= sizeof header) return Result::Unsupported;
    return file.writeAll(header, static_cast<uint32_t>(n)) ? Result::Ok : Result::IoError;
}

namespace {

// Reads the header one byte at a time: a stream must not be read past it.
class HeaderReader {
public:
    explicit HeaderReader(const OpenFile &file) : file_(file) {}
    // The next byte, or -1 at the end of the file; -2 on a read failure.
    int raw() {
        uint8_t byte = 0;
        const UINT got = _lread(file_.get(), &byte, 1);
        if (got == HFILE_ERROR_COUNT) return -2;
        if (got == 0) return -1;
        ++count_;
        return byte;
    }
    // The next character of the header. A comment, from '#' to the end of
    // its line, reads as the line end that closes it, wherever it stands
    // (inside a number too, which it ends), as netpbm's own readers take it.
    int next() {
        int c = raw();
        if (c == '#')
            while (c >= 0 && c != '\n' && c != '\r') c = raw();
        return c;
    }
    // A decimal field after white space and comments, and the one white
    // space character that ends it. False when there is none or it overflows.
    bool field(uint32_t &value, bool &ioError) {
        int c = next();
        while (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') c = next();
        if (c < '0' || c > '9') {
            ioError = c == -2;
            return false;
        }
        uint64_t v = 0;
        while (c >= '0' && c <= '9') {
            v = v * 10 + static_cast<uint32_t>(c - '0');
            if (v > 0xFFFFFFFFu) return false;
            c = next();
        }
        value = static_cast<uint32_t>(v);
        ioError = c == -2;
        // One white space character ends the field (after maxval: exactly one).
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    }
    uint32_t count() const { return count_; }

private:
    const OpenFile &file_;
    uint32_t count_ = 0;
};

}  // namespace

Result readNetpbmHeader(const OpenFile &file, const uint8_t *signature, NetpbmHeader &out, const char *&reason) {
    HeaderReader in(file);
    const int kind = signature[1];
    if (!isNetpbmSignature(signature)) {
        reason = "not a netpbm file";
        return Result::NotFormat;
    }
    switch (kind) {
        case '5': out.channels = 1; break;
        case '6': out.channels = 3; break;
        case '2':
        case '3':
            reason = "plain (ASCII) netpbm files are not supported: only binary PPM (P6) and PGM (P5)";
            return Result::Unsupported;
        case '7':
            reason = "PAM files are not supported: only binary PPM (P6) and PGM (P5)";
            return Result::Unsupported;
        default:
            reason = "PBM (bitmap) files are not supported: only binary PPM (P6) and PGM (P5)";
            return Result::Unsupported;
    }
    uint32_t maxval = 0;
    bool ioError = false;
    if (!in.field(out.width, ioError) || !in.field(out.height, ioError) || !in.field(maxval, ioError)) {
        reason = ioError ? "the file cannot be read" : "the netpbm header is damaged or cut short";
        return ioError ? Result::IoError : Result::Malformed;
    }
    if (maxval != 255) {
        reason = maxval == 0 || maxval > 65535 ? "the netpbm header is damaged (maxval out of range)"
                                               : "only a maxval of 255 is supported (8-bit samples)";
        return maxval == 0 || maxval > 65535 ? Result::Malformed : Result::Unsupported;
    }
    out.headerBytes = 2 + in.count();
    reason = nullptr;
    return Result::Ok;
}

}  // namespace jpg
