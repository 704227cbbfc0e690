// Conversions of ordinary files: BMP files in either row order, netpbm
// files, and standard input and output.
#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "decoder/decoder_internal.h"
#include "encoder/encoder_state.h"
#include "base/netpbm_file.h"
#include "tool/tool_internal.h"

namespace jpg::tool {

namespace {

const char kStandardInput[] = "standard input";
const char kStandardOutput[] = "standard output";

bool isStream(const char *path) { return std::string(path) == JPG_TOOL_STANDARD_STREAM; }

// True when the name ends in .ppm, .pgm or .pnm (any case).
bool isNetpbmName(const std::string &path) {
    if (path.size() < 4) return false;
    std::string ending = path.substr(path.size() - 4);
    std::transform(ending.begin(), ending.end(), ending.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ending == ".ppm" || ending == ".pgm" || ending == ".pnm";
}

struct Outcome {
    int32_t status = 0;
    std::string file;
    std::string message;
};

Outcome failed(const std::string &file, const std::string &message) { return {1, file, message}; }

Outcome refused(const Refusal &refusal, const std::string &input, const std::string &output) {
    return failed(refusal.aboutOutput ? output : input, refusal.reason);
}

// Reads what is left of an open file into memory; false when a read failed.
bool readWhole(HFILE file, std::vector<uint8_t> &bytes) {
    constexpr UINT kChunk = 1u << 20;
    for (;;) {
        const size_t at = bytes.size();
        bytes.resize(at + kChunk);
        const UINT got = _lread(file, bytes.data() + at, kChunk);
        if (got == HFILE_ERROR_COUNT) return false;
        bytes.resize(at + got);
        if (got == 0) return true;
    }
}

Outcome importOne(const JpgToolConversion &c, const CallOptions &toolOptions) {
    const bool fromStream = isStream(c.input), toStream = isStream(c.output);
    const std::string inName = fromStream ? kStandardInput : c.input;
    const std::string outName = toStream ? kStandardOutput : c.output;
    // Tools decode every kind of file the codec does.
    CallOptions options = toolOptions;
    options.acceptBuffered = true;
    JpegInput input;
    std::vector<uint8_t> bytes;
    if (fromStream) {
        // A JPEG file is small beside its picture: standard input is read
        // into memory and decoded in place.
        OpenFile in(openStandardStream(0));
        if (!in.isOpen() || !readWhole(in.get(), bytes)) return failed(kStandardInput, "cannot be read");
        input.data = bytes.data();
        input.size = bytes.size();
    } else {
        input.path = c.input;
    }
    ImportTarget target;
    target.format = c.netpbm != 0 || (!toStream && isNetpbmName(c.output)) ? PictureFormat::Netpbm : PictureFormat::Bmp;
    if (toStream) {
        target.stream = openStandardStream(1);
        if (target.stream == HFILE_ERROR) return failed(kStandardOutput, "cannot be written");
    } else {
        target.path = c.output;
    }
    Refusal refusal;
    const int32_t status = importJpegFile(input, target, options, &refusal);
    switch (status) {
        case JPG_IMPORT_OK: return {};
        case JPG_IMPORT_DAMAGED:
            return {2, inName, "warning: the image data is damaged or incomplete; the picture was written anyway"};
        default: return refused(refusal, inName, outName);
    }
}

Outcome exportOne(const JpgToolConversion &c, const CallOptions &options) {
    const bool fromStream = isStream(c.input), toStream = isStream(c.output);
    const std::string inName = fromStream ? kStandardInput : c.input;
    const std::string outName = toStream ? kStandardOutput : c.output;
    SourceOptions source;
    source.netpbm = true;
    source.watch = &options.files.watch;
    if (fromStream) {
        source.stream = true;
        source.streamFile = openStandardStream(0);
        if (source.streamFile == HFILE_ERROR) return failed(kStandardInput, "cannot be read");
    }
    // The preview goes into the file's start at the end: a JPEG file for
    // standard output is made in a temporary file and copied out.
    TemporaryFile staged;
    if (toStream && (!staged.createIn(temporaryDirectory(), "jpg-stream-", &options.files.watch) || !staged.close())) {
        if (fromStream) _lclose(source.streamFile);
        return failed(kStandardOutput, "no temporary file can be made in " + temporaryDirectory());
    }
    const std::string output = toStream ? staged.path() : c.output;

    Refusal refusal;
    const uint16_t level = encoderLevel(c.compressionLevel);
    const Result r = exportJpeg(fromStream ? nullptr : c.input, output.c_str(),
                                static_cast<uint16_t>(c.thumbnailLayout), level, options, source, &refusal);
    if (r != Result::Ok) return refused(refusal, inName, outName);
    if (!toStream) return {};
    OpenFile made;
    OpenFile out(openStandardStream(1));
    if (!made.open(output.c_str(), OF_READ) || !out.isOpen() || !copyToEnd(made.get(), out.get()) || !out.close())
        return failed(kStandardOutput, "cannot be written");
    return {};
}

}  // namespace

int32_t convertFile(const JpgToolConversion *conversion, const CallOptions &options, JpgToolOutcome *outcome) {
    Outcome result;
    try {
        if (conversion == nullptr || conversion->input == nullptr || conversion->output == nullptr)
            result = failed("", "nothing to convert");
        else if (!isStream(conversion->input) && isDirectory(conversion->input))
            result = failed(conversion->input, "is a directory");
        else if (conversion->direction == JPG_TOOL_IMPORT)
            result = importOne(*conversion, options);
        else
            result = exportOne(*conversion, options);
    } catch (...) {
        result = failed(conversion != nullptr && conversion->input != nullptr ? conversion->input : "", "out of memory");
    }
    if (outcome != nullptr) {
        outcome->status = result.status;
        giveReason(result.file, outcome->file, sizeof outcome->file);
        giveReason(result.message, outcome->message, sizeof outcome->message);
    }
    return result.status;
}

}  // namespace jpg::tool

extern "C" {

int32_t jpgToolConvert(const JpgToolConversion *conversion, const JpgToolOptions *options, JpgToolOutcome *outcome) {
    return jpg::tool::convertFile(conversion, jpg::tool::callOptions(options), outcome);
}

int32_t jpgToolPictureChannels(const char *jpegPath) {
    try {
        jpg::OpenFile jpeg;
        jpg::OwnedDecoderState owned;
        jpg::HeaderFacts headers;
        if (jpg::openJpeg(jpeg, jpegPath, owned, headers) != jpg::Result::Ok) return 0;
        return owned.state.colourMode == 1 ? 1 : 3;
    } catch (...) {
        return 0;
    }
}

}  // extern "C"
