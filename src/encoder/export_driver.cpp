// iExportJPG: an uncompressed BMP file (or a netpbm file) to a baseline
// JPEG file. The file is the encoder's row source, read a strip at a time;
// the output file is its byte sink (picture_encoder.cpp does the rest).
//
// Memory is one strip of source rows and what the encode needs, whatever
// the height. The JPEG file is written beside its destination and moved into
// place only when it is complete, so a failure leaves the destination as it
// was.
#include <algorithm>
#include <cstring>
#include <string>

#include "base/bmp_file.h"
#include "base/netpbm_file.h"
#include "base/output_file.h"
#include "encoder/encoder_state.h"
#include "encoder/row_source.h"
#include "jpg.h"

namespace jpg {

namespace {

// What a source file gives the encoder.
struct Source {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bytesPerPixel = 0;  // of the pixels encoded: 1 grey; 3 B, G, R; 4 B, G, R, unused
    uint32_t rowStride = 0;      // of the rows as stored
    uint32_t rowBytes = 0;       // of the pixels of a stored row, without its padding
    uint32_t pixelOffset = 0;
    uint16_t bitCount = 0;
    // Palette indexes looked up in the colour table. An 8-bit file whose
    // table is the grey ramp gives its pixel values as grey levels directly.
    bool throughTable = false;
    ColourTable table;
    bool bottomUp = false;     // the first stored row is the bottom row: strips are read from the end
    bool redFirst = false;     // a netpbm file: R, G, B
    bool stream = false;       // read from start to end only
    HFILE file = HFILE_ERROR;  // where the rows are read
};

// A binary PPM or PGM file, its signature read: rows top first, unpadded.
Result openNetpbmSource(const OpenFile &file, const uint8_t *signature, Source &source, std::string *reason) {
    NetpbmHeader header;
    const char *why = nullptr;
    const Result r = readNetpbmHeader(file, signature, header, why);
    if (r != Result::Ok) {
        if (reason != nullptr) *reason = why;
        return r;
    }
    if (header.width < 1 || header.width > kMaxImageSide || header.height < 1 || header.height > kMaxImageSide) {
        if (reason != nullptr) *reason = "pictures of 1 to 65,535 pixels a side are supported";
        return Result::Unsupported;
    }
    source.width = header.width;
    source.height = header.height;
    source.bytesPerPixel = header.channels;
    source.bitCount = static_cast<uint16_t>(8 * header.channels);
    source.rowStride = source.rowBytes = header.width * header.channels;
    source.pixelOffset = header.headerBytes;
    source.redFirst = header.channels == 3;
    return Result::Ok;
}

// Moves a stream forward from `position` to `offset`, reading what lies
// between.
Result skipTo(const OpenFile &file, uint32_t position, uint32_t offset) {
    uint8_t scratch[256];
    while (position < offset) {
        const uint32_t n = offset - position < sizeof scratch ? offset - position : sizeof scratch;
        if (!file.readExact(scratch, n)) return Result::Malformed;
        position += n;
    }
    return Result::Ok;
}

// Copies a BMP file that comes on a stream, its headers read, to a new
// private temporary file: bottom-up rows are read from the end.
Result spillStream(const OpenFile &stream, const BmpHeaders &headers, TemporaryFile &spill,
                   const TemporaryFileWatch *watch) {
    Locked<uint8_t> info(headers.info.handle());
    if (!info) return Result::NoMemory;
    const uint32_t infoBytes = headers.infoSize + 4 * headers.clrUsed;
    if (!spill.createIn(temporaryDirectory(), "jpg-stream-", watch) ||
        !spill.file().writeAll(headers.fileHeader, kBmpFileHeaderBytes) ||
        !spill.file().writeAll(info.get(), infoBytes) || !copyToEnd(stream.get(), spill.get()))
        return Result::IoError;
    return Result::Ok;
}

// 1-, 4- and 8-bit files go through their colour table: a table of grey
// levels gives a grey picture, any other a colour one.
Result readSourceTable(const BmpHeaders &headers, Source &source) {
    if (headers.bitCount > 8) {
        source.bytesPerPixel = headers.bitCount / 8u;
        return Result::Ok;
    }
    const Result r = readColourTable(headers, source.table);
    if (r != Result::Ok) return r;
    source.throughTable = headers.bitCount != 8 || source.table.kind != ColourTableKind::GreyRamp;
    source.bytesPerPixel = source.table.kind == ColourTableKind::Colour ? 3 : 1;
    return Result::Ok;
}

const char kEndsEarly[] = "the file ends before its last row";

// Makes sure a source file holds every row (the last one may come without
// its padding bytes), and goes to the first.
Result checkRowsPresent(const Source &source, std::string *reason) {
    const auto refuse = [reason](Result result, const char *why) {
        if (reason != nullptr) *reason = why;
        return result;
    };
    const uint64_t needed =
        uint64_t{source.pixelOffset} + uint64_t{source.rowStride} * (source.height - 1) + source.rowBytes;
    uint64_t size = 0;
    if (!fileSize(source.file, size)) return refuse(Result::IoError, "the file cannot be read");
    if (size < needed) return refuse(Result::Malformed, kEndsEarly);
    if (!seekFile(source.file, source.pixelOffset)) return refuse(Result::IoError, "the file cannot be read");
    return Result::Ok;
}

// Reads and checks the headers, makes sure the file holds every row, and
// finds the first pixel row. `reason`, when given, receives why a file is
// refused. In the standard row order a BMP file's rows are taken as its
// height declares; in the library's the first stored row is the top.
Result openSource(const OpenFile &file, RowOrder order, const SourceOptions &options, Source &source,
                  TemporaryFile &spill, std::string *reason) {
    const auto refuse = [reason](Result result, const std::string &why) {
        if (reason != nullptr) *reason = why;
        return result;
    };
    source.stream = options.stream;
    source.file = file.get();
    BmpHeaders headers;
    Result r;
    if (options.netpbm) {
        // The signature tells BMP from netpbm.
        if (!file.readExact(headers.fileHeader, 2)) return refuse(Result::NotFormat, "not a BMP, PPM or PGM file");
        if (isNetpbmSignature(headers.fileHeader)) {
            r = openNetpbmSource(file, headers.fileHeader, source, reason);
            return r != Result::Ok || source.stream ? r : checkRowsPresent(source, reason);
        }
        r = readBmpHeaders(file, headers, 2);
    } else {
        r = readBmpHeaders(file, headers);
    }
    switch (r) {
        case Result::Ok: break;
        case Result::NotFormat: return refuse(r, options.netpbm ? "not a BMP, PPM or PGM file" : "not a BMP file");
        case Result::Unsupported: return refuse(r, "unsupported BMP header (info header size or colour table)");
        case Result::IoError: return refuse(r, "the file cannot be read");
        case Result::NoMemory: return refuse(r, "out of memory");
        default: return refuse(r, "the BMP headers are damaged or cut short");
    }
    if (headers.compression != 0) return refuse(Result::Unsupported, "compressed BMP files are not supported");
    const uint16_t bits = headers.bitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)
        return refuse(Result::Unsupported,
                      std::to_string(bits) + "-bit BMP files are not supported (1, 4, 8, 24 and 32 bits are)");
    if (headers.width < 1 || headers.rows < 1) return refuse(Result::Unsupported, "the picture is empty");
    if (static_cast<uint32_t>(headers.width) > kMaxImageSide || headers.rows > kMaxImageSide)
        return refuse(Result::Unsupported, "pictures over 65,535 pixels a side are not supported");
    source.width = static_cast<uint32_t>(headers.width);
    source.height = headers.rows;
    source.bottomUp = order == RowOrder::Standard && headers.height > 0;
    source.bitCount = bits;
    source.rowStride = static_cast<uint32_t>(headers.stride);
    source.rowBytes = static_cast<uint32_t>((uint64_t{bits} * source.width + 7) / 8);
    if (const Result t = readSourceTable(headers, source); t != Result::Ok) return refuse(t, "out of memory");
    // The rows start where the file header says; an offset that points into
    // the headers or the colour table is taken as "right after the table".
    const uint32_t afterTable = kBmpFileHeaderBytes + headers.infoSize + 4 * headers.clrUsed;
    source.pixelOffset = headers.bfOffBits >= afterTable ? headers.bfOffBits : afterTable;
    if (source.bottomUp && source.stream) {
        if (const Result s = spillStream(file, headers, spill, options.watch); s != Result::Ok)
            return refuse(s, "a bottom-up BMP file from a stream cannot be copied to a temporary file in " +
                                 temporaryDirectory());
        source.stream = false;
        source.file = spill.get();
    }
    if (source.stream) {
        if (skipTo(file, afterTable, source.pixelOffset) != Result::Ok)
            return refuse(Result::Malformed, "the file ends before its first row");
        return Result::Ok;
    }
    return checkRowsPresent(source, reason);
}

// Palette indexes of stored rows to the pixels the encoder takes.
void expandStrip(const Source &source, const uint8_t *stored, uint32_t rows, uint8_t *pixels, uint32_t stride) {
    const bool grey = source.bytesPerPixel == 1;
    for (uint32_t r = 0; r < rows; ++r)
        expandIndexedRow(stored + size_t{r} * source.rowStride, source.bitCount, source.width, source.table, grey,
                         pixels + size_t{r} * stride);
}

// Reads the source's strips in picture order, top row first: the export's
// row source.
struct StripReader {
    const Source *source;
    LockedBlock<uint8_t> stored;  // a strip as stored
    LockedBlock<uint8_t> looked;  // its pixels through the colour table
    uint32_t nextRow = 0;         // from the top
    const char *failure = nullptr;  // why the rows could not be had

    Result make() {
        if (!stored.make({kMaxStripHeight, source->rowStride})) return Result::NoMemory;
        if (source->throughTable && !looked.make({kMaxStripHeight, source->width, source->bytesPerPixel}))
            return Result::NoMemory;
        return Result::Ok;
    }

    // The next `rows` rows as stored, top row first; the last row of the
    // file may come without its padding bytes. Bottom-up rows are read from
    // the end of the file backwards, a strip at a time.
    Result readStored(uint8_t *strip, uint32_t rows) {
        const Result r = readRows(strip, rows);
        if (r != Result::Ok) failure = r == Result::Malformed ? kEndsEarly : "the file cannot be read";
        return r;
    }
    Result readRows(uint8_t *strip, uint32_t rows) {
        const Source &s = *source;
        const uint32_t y = nextRow;
        nextRow += rows;
        const uint32_t wanted = rows * s.rowStride;
        const bool holdsLastRow = s.bottomUp ? y == 0 : y + rows == s.height;
        const uint32_t needed = holdsLastRow ? wanted - (s.rowStride - s.rowBytes) : wanted;
        if (s.bottomUp && !seekFile(s.file, s.pixelOffset + uint64_t{s.height - y - rows} * s.rowStride))
            return Result::IoError;
        const UINT got = _lread(s.file, strip, wanted);
        if (got == HFILE_ERROR_COUNT) return Result::IoError;
        if (got < needed) return Result::Malformed;
        if (s.bottomUp)
            for (uint32_t top = 0, bottom = rows - 1; top < bottom; ++top, --bottom)
                std::swap_ranges(strip + size_t{top} * s.rowStride, strip + size_t{top + 1} * s.rowStride,
                                 strip + size_t{bottom} * s.rowStride);
        return Result::Ok;
    }

    // The next `rows` rows as the encoder takes them.
    static Result next(void *context, uint32_t rows, const uint8_t *&pixels, size_t &stride) {
        auto *self = static_cast<StripReader *>(context);
        const Source &s = *self->source;
        if (const Result r = self->readStored(self->stored.get(), rows); r != Result::Ok) return r;
        if (!s.throughTable) {
            pixels = self->stored.get();
            stride = s.rowStride;
            return Result::Ok;
        }
        stride = size_t{s.width} * s.bytesPerPixel;
        expandStrip(s, self->stored.get(), rows, self->looked.get(), static_cast<uint32_t>(stride));
        pixels = self->looked.get();
        return Result::Ok;
    }
};

}  // namespace

Result exportJpeg(const char *sourcePath, const char *jpegPath, uint16_t layout, uint16_t level,
                  const CallOptions &options, const SourceOptions &sourceOptions, Refusal *refusal) {
    // Nothing is ever written to the source: open it for reading only.
    OpenFile bmpFile;
    if (sourceOptions.stream) bmpFile.adopt(sourceOptions.streamFile);
    if ((!sourceOptions.stream && sourcePath == nullptr) || jpegPath == nullptr) return Result::IoError;
    // Replacing the source by its own JPEG version would destroy it.
    if (!sourceOptions.stream && sameFile(sourcePath, jpegPath)) {
        if (refusal != nullptr) refusal->set("is the source itself; choose another output file", true);
        return Result::Unsupported;
    }
    if (!sourceOptions.stream && !bmpFile.open(sourcePath, OF_READ)) {
        if (refusal != nullptr) refusal->set("cannot be opened", false);
        return Result::IoError;
    }
    Source source;
    TemporaryFile spill;
    std::string reason;
    Result r = openSource(bmpFile, options.rowOrder, sourceOptions, source, spill, &reason);
    if (r != Result::Ok) {
        if (refusal != nullptr) refusal->set(reason, false);
        return r;
    }

    OutputFile jpegFile;
    if (!jpegFile.create(jpegPath, options.files)) {
        if (refusal != nullptr) refusal->set(jpegFile.explain(), true);
        return Result::IoError;
    }
    StripReader reader{&source, {}, {}};
    r = reader.make();
    if (r == Result::Ok) {
        const RowSource rows{&StripReader::next, nullptr, &reader, source.bytesPerPixel, source.redFirst};
        ByteSink sink;
        sink.toFile(jpegFile.get());
        EncodeSettings settings;
        settings.level = level;
        settings.previewLayout = layout;
        r = encodePicture(rows, source.width, source.height, sink, settings, options);
    }
    if (r == Result::Ok && !jpegFile.commit()) r = Result::WriteFailed;
    if (r != Result::Ok && refusal != nullptr) {
        if (reader.failure != nullptr)
            refusal->set(reader.failure, false);
        else if (r == Result::NoMemory)
            refusal->set("out of memory", false);
        else
            refusal->set(jpegFile.problem() != OutputProblem::None ? jpegFile.explain()
                                                                    : "the JPEG file could not be written",
                         true);
    }
    return r;
}

int32_t exportJpegFile(const char *bmpPath, const char *jpegPath, int32_t thumbnailLayout, int32_t compressionLevel,
                       const CallOptions &options) {
    const auto layout = static_cast<uint16_t>(thumbnailLayout);
    const uint16_t level = encoderLevel(compressionLevel);
    try {
        return exportJpeg(bmpPath, jpegPath, layout, level, options) == Result::Ok ? JPG_EXPORT_OK : JPG_EXPORT_FAILED;
    } catch (...) {
        return JPG_EXPORT_FAILED;  // nothing was committed: the output path is as it was
    }
}

}  // namespace jpg
