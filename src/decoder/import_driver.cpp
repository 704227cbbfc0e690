// The import: a JPEG file's headers, the picture's headers, the scan's strips
// (import_pipeline.cpp), and the end-of-image test; the output file made
// beside its destination and moved into place whole.
#include <algorithm>
#include <vector>

#include "base/bytes.h"
#include "base/markers.h"
#include "base/memory_blocks.h"
#include "base/output_file.h"
#include "decoder/decoder_internal.h"
#include "decoder/decoder_kernels.h"
#include "decoder/import_pipeline.h"
#include "decoder/picture_from_coefficients.h"
#include "decoder/row_sink.h"

namespace jpg {

namespace {

// Locks the eight table blocks for one scan.
class TableLocks {
public:
    TableLocks(DecoderState *state, DecodeContext &ctx) : state_(state) {
        for (int t = 0; t < 4; ++t) {
            ctx.dcBlocks[t] = static_cast<HuffmanTableBlock *>(GlobalLock(state->dcTables[t]));
            ctx.acBlocks[t] = static_cast<HuffmanTableBlock *>(GlobalLock(state->acTables[t]));
            ok_ = ok_ && ctx.dcBlocks[t] != nullptr && ctx.acBlocks[t] != nullptr;
            dc_[t] = ctx.dcBlocks[t] != nullptr;
            ac_[t] = ctx.acBlocks[t] != nullptr;
        }
    }
    ~TableLocks() {
        for (int t = 0; t < 4; ++t) {
            if (ac_[t]) GlobalUnlock(state_->acTables[t]);
            if (dc_[t]) GlobalUnlock(state_->dcTables[t]);
        }
    }
    TableLocks(const TableLocks &) = delete;
    TableLocks &operator=(const TableLocks &) = delete;
    bool ok() const { return ok_; }

private:
    DecoderState *state_;
    bool ok_ = true;
    bool dc_[4] = {}, ac_[4] = {};
};

// True when the two bytes that follow the last MCU in the file are FF D9,
// wherever they lie: in the current chunk, across its end, or beyond it.
bool endMarkerFollows(DecodeContext &ctx) {
    if (ctx.pastEnd) return false;
    uint8_t bytes[2];
    uint32_t have = 0;
    for (const uint8_t *p = ctx.readPtr; p < ctx.readEnd && have < 2; ++p) bytes[have++] = *p;
    if (have < 2 && !ctx.endOfData) {
        const UINT need = 2 - have;
        const UINT got = _lread(ctx.jpegFile, bytes + have, need);
        if (got == HFILE_ERROR_COUNT) {
            ctx.readFailed = true;
            return false;
        }
        have += got;
    }
    return have == 2 && bytes[0] == marker::kPrefix && bytes[1] == marker::kEoi;
}

// The bytes from the file's position to its end, in 64 bits.
bool bytesAfterHeaders(HFILE file, uint64_t &bytes) {
    uint64_t size = 0, position = 0;
    if (!fileSize(file, size) || !filePosition(file, position) || position > size) return false;
    bytes = size - position;
    return true;
}

// Sets the input up at the entropy-coded data: a file's count of bytes to
// its end, then its first chunk; memory is one chunk, read in place.
Result openInput(DecodeContext &ctx, const ByteSource &source, LockedBlock<uint8_t> &input) {
    if (source.inMemory()) {
        // The reader takes bytes from [readPtr, readEnd) and refills only
        // before the end of the data: it never writes the buffer.
        ctx.readBuffer = const_cast<uint8_t *>(source.data + source.position);
        ctx.readPtr = ctx.readBuffer;
        ctx.readEnd = source.data + source.size;
        ctx.bytesLeft = 0;
        ctx.endOfData = true;
        return Result::Ok;
    }
    uint64_t left = 0;
    if (!bytesAfterHeaders(ctx.jpegFile, left)) return Result::IoError;
    if (left > kMaxDataBytes) return Result::Unsupported;
    ctx.bytesLeft = static_cast<uint32_t>(left);
    if (!input.make({kInputChunkBytes})) return Result::NoMemory;
    startInput(ctx, input.get());
    return ctx.readFailed ? Result::IoError : Result::Ok;
}

}  // namespace

Result decodeImage(ByteSource &source, const RowSink &sink, DecoderState *state, const HeaderFacts &headers,
                   const DecodeRequest &request) {
    DecodeContext ctx;
    ctx.state = state;
    ctx.headers = headers;
    ctx.jpegFile = source.file;
    ctx.scaleLog2 = request.scaleLog2;
    ctx.lumaOnly = request.lumaOnly;
    TableLocks locks(state, ctx);
    if (!locks.ok()) return Result::NoMemory;

    layoutDecoderScan(ctx);
    startScan(ctx);
    LockedBlock<uint8_t> input;
    if (const Result r = openInput(ctx, source, input); r != Result::Ok) return r;
    const CallOptions &options = request.options;
    const uint32_t threads = resolveThreads(options, uint64_t{state->width} * state->height);
    const Result decoded = decodeScanStrips(ctx, decoderKernels(options.kernels), threads, sink);
    if (decoded != Result::Ok) return decoded;

    const bool ended = endMarkerFollows(ctx);
    if (ctx.readFailed) return Result::IoError;
    return ended && !ctx.damaged ? Result::Ok : Result::Damaged;
}

Result openJpeg(OpenFile &jpeg, const char *jpegPath, OwnedDecoderState &owned, HeaderFacts &headers) {
    if (jpegPath == nullptr || !jpeg.open(jpegPath, OF_READ)) {
        headers.reason = "the file cannot be read";
        return Result::IoError;
    }
    if (!startsWithSoi(jpeg)) {
        headers.reason = "not a JPEG file";
        return Result::NotFormat;
    }
    if (owned.init() != Result::Ok) {
        headers.reason = "out of memory";
        return Result::NoMemory;
    }
    ByteSource source = ByteSource::ofFile(jpeg.get());
    const Result read = readHeaders(source, &owned.state, headers);
    if (read != Result::Ok && headers.reason == nullptr) headers.reason = "the headers cannot be read";
    uint64_t left = 0;
    if (read != Result::Ok) return read;
    if (!bytesAfterHeaders(jpeg.get(), left)) {
        headers.reason = "the file cannot be read";
        return Result::IoError;
    }
    if (left > kMaxDataBytes) {
        // The record counts the data in 32 bits.
        headers.reason = "JPEG files of more than 4 GiB are not supported";
        return Result::Unsupported;
    }
    return Result::Ok;
}

Result openJpegInMemory(const uint8_t *data, size_t size, ByteSource &source, OwnedDecoderState &owned,
                        HeaderFacts &headers) {
    if (data == nullptr || size < 2 || data[0] != marker::kPrefix || data[1] != marker::kSoi) {
        headers.reason = "not a JPEG file";
        return Result::NotFormat;
    }
    if (owned.init() != Result::Ok) {
        headers.reason = "out of memory";
        return Result::NoMemory;
    }
    source = ByteSource::ofMemory(data, size);
    source.position = 2;
    const Result read = readHeaders(source, &owned.state, headers);
    if (read != Result::Ok && headers.reason == nullptr) headers.reason = "the headers cannot be read";
    if (read == Result::Ok && size - source.position > kMaxDataBytes) {
        headers.reason = "JPEG files of more than 4 GiB are not supported";
        return Result::Unsupported;
    }
    return read;
}

namespace {

// What the import says when it writes nothing, besides its status.
void explainImport(Refusal *refusal, const std::string &text, bool aboutOutput) {
    if (refusal != nullptr) refusal->set(text, aboutOutput);
}

// The input of an import, read: its headers, and, when it needs the
// coefficient buffer, its bytes in memory.
struct ImportInput {
    OpenFile jpeg;               // a file named by path
    std::vector<uint8_t> whole;  // a file needing the coefficient buffer, read whole
    OwnedDecoderState owned;
    HeaderFacts headers;
    ByteSource source;           // where the data is read
    bool buffered = false;
};

// Reads the headers from a file or from memory: a JPG_IMPORT_* status, with
// the reason when it is not OK.
int32_t openInputOf(const JpegInput &in, const CallOptions &options, ImportInput &input, Refusal *reason) {
    input.headers.acceptBuffered = options.acceptBuffered;
    Result opened;
    if (in.path != nullptr) {
        opened = openJpeg(input.jpeg, in.path, input.owned, input.headers);
        input.source = ByteSource::ofFile(input.jpeg.get());
        if (opened == Result::IoError && !input.jpeg.isOpen()) {
            explainImport(reason, "cannot be opened", false);
            return JPG_IMPORT_NOT_JPEG;
        }
    } else {
        opened = openJpegInMemory(in.data, in.size, input.source, input.owned, input.headers);
    }
    if (opened != Result::Ok) explainImport(reason, input.headers.reason, false);
    if (opened == Result::NotFormat) return JPG_IMPORT_NOT_JPEG;
    if (opened != Result::Ok) return JPG_IMPORT_REFUSED;
    input.buffered = options.acceptBuffered && needsCoefficientBuffer(input.owned.state, input.headers);
    if (!input.buffered || in.path == nullptr) return JPG_IMPORT_OK;
    // Every block's coefficients come before the first row: the file is read
    // whole and its headers again, from memory.
    uint64_t size = 0;
    if (!fileSize(input.jpeg.get(), size) || size > SIZE_MAX || !seekFile(input.jpeg.get(), 0)) {
        explainImport(reason, "the file cannot be read", false);
        return JPG_IMPORT_REFUSED;
    }
    input.whole.resize(static_cast<size_t>(size));
    for (size_t done = 0; done < input.whole.size();) {
        const UINT n = static_cast<UINT>(std::min<size_t>(input.whole.size() - done, 1u << 20));
        if (_lread(input.jpeg.get(), input.whole.data() + done, n) != n) {
            explainImport(reason, "the file cannot be read", false);
            return JPG_IMPORT_REFUSED;
        }
        done += n;
    }
    input.jpeg.close();
    freeDecoderTables(&input.owned.state);
    input.headers = HeaderFacts{};
    input.headers.acceptBuffered = true;
    if (openJpegInMemory(input.whole.data(), input.whole.size(), input.source, input.owned, input.headers) != Result::Ok) {
        explainImport(reason, input.headers.reason, false);
        return JPG_IMPORT_REFUSED;
    }
    return JPG_IMPORT_OK;
}

int32_t importJpeg(const JpegInput &in, const ImportTarget &target, const CallOptions &options, OpenFile &stream,
                   Refusal *reason) {
    ImportInput input;
    if (const int32_t status = openInputOf(in, options, input, reason); status != JPG_IMPORT_OK) return status;
    DecoderState &state = input.owned.state;

    // A file is made beside its destination and moved into place at the
    // end; a stream is written as it goes.
    OutputFile file;
    const bool toStream = target.path == nullptr;
    if (!toStream && !file.create(target.path, options.files)) {
        explainImport(reason, file.explain(), true);
        return JPG_IMPORT_REFUSED;
    }
    PictureLayout layout;
    layout.format = target.format;
    if (options.rowOrder == RowOrder::Standard) layout.rows = toStream ? BmpRows::TopDown : BmpRows::BottomUp;
    RowSink writer;
    const std::string notWritten = "the picture could not be written";
    if (startPicture(writer, toStream ? stream : file.file(), state.width, state.height, state.colourMode, layout) !=
        Result::Ok) {
        explainImport(reason, notWritten, true);
        return JPG_IMPORT_REFUSED;
    }
    DecodeRequest request;
    request.options = options;
    Result decoded;
    std::string why;
    if (input.buffered)
        decoded = decodeFromCoefficients(input.source, input.owned, input.headers, CoefficientLimits{}, writer, request,
                                         why);
    else
        decoded = decodeImage(input.source, writer, &state, input.headers, request);
    if (decoded != Result::Ok && decoded != Result::Damaged) {
        explainImport(reason,
                      decoded == Result::WriteFailed ? notWritten
                      : decoded == Result::NoMemory  ? "out of memory"
                      : !why.empty()                 ? why
                                                     : "the file cannot be read",
                      decoded == Result::WriteFailed);
        return JPG_IMPORT_REFUSED;
    }
    // Closed first, so that the BMP may replace the JPEG file itself (Windows
    // does not replace a file that is open).
    input.jpeg.close();
    if (toStream ? !stream.close() : !file.commit()) {
        explainImport(reason, toStream ? notWritten : file.explain(), true);
        return JPG_IMPORT_REFUSED;
    }
    return decoded == Result::Ok ? JPG_IMPORT_OK : JPG_IMPORT_DAMAGED;
}

}  // namespace

int32_t importJpegFile(const JpegInput &input, const ImportTarget &target, const CallOptions &options,
                       Refusal *reason) {
    // The stream is the import's from the start, whatever happens.
    OpenFile stream(target.path == nullptr ? target.stream : HFILE_ERROR);
    try {
        if (target.path == nullptr && target.stream == HFILE_ERROR) return JPG_IMPORT_REFUSED;
        return importJpeg(input, target, options, stream, reason);
    } catch (...) {
        explainImport(reason, "out of memory", false);
        return JPG_IMPORT_REFUSED;
    }
}

int32_t importJpegFile(const char *jpegPath, const ImportTarget &target, const CallOptions &options, Refusal *reason) {
    JpegInput input;
    input.path = jpegPath;
    return importJpegFile(input, target, options, reason);
}

int32_t importJpegFile(const char *jpegPath, const char *bmpPath, const CallOptions &options) {
    if (bmpPath == nullptr) return JPG_IMPORT_REFUSED;
    ImportTarget target;
    target.path = bmpPath;
    JpegInput input;
    input.path = jpegPath;
    return importJpegFile(input, target, options);
}

}  // namespace jpg
