// One encode, whatever the edges: rows from a RowSource (a BMP or netpbm
// file, or the caller's pixels), bytes to a ByteSink (the output file, or a
// block of memory). It sets the tables up, writes the headers, codes every
// strip through the reference strip loop or the fast pipeline, and writes
// the preview into the segment reserved for it.
//
// The reference strip loop's memory is two planes per component for one
// strip, the 32 KB output buffer and the fixed-size preview record, whatever
// the height.
#include <cstring>

#include "encoder/encoder_kernels.h"
#include "encoder/encoder_state.h"
#include "encoder/row_source.h"
#include "thumbnail/thumbnail_codec.h"

namespace jpg {

namespace {

// Buffers of the reference strip loop, made once per encode.
struct StripBuffers {
    LockedBlock<uint8_t> full[3];
    LockedBlock<uint8_t> component[3];
    LockedBlock<uint8_t> scratch;  // the chroma a grey encode of a colour source does not keep
    uint8_t *fullPlanes[3] = {};
    uint8_t *componentPlanes[3] = {};
    uint32_t paddedStripWidth = 0;

    Result make(const EncoderState &state, const RowSource &source) {
        paddedStripWidth = roundUpWide(state.width, 8u * state.maxH);
        for (uint32_t i = 0; i < state.scanComponents; ++i) {
            const EncoderComponent &c = state.components[i];
            if (!component[i].make({c.paddedWidth, 8u * c.mcuHeightBlocks})) return Result::NoMemory;
        }
        for (uint32_t i = 0; i < state.scanComponents; ++i) {
            if (!full[i].make({paddedStripWidth, stripHeight(&state)})) return Result::NoMemory;
            fullPlanes[i] = full[i].get();
            componentPlanes[i] = component[i].get();
        }
        if (state.colourMode == 1 && source.bytesPerPixel != 1 && !scratch.make({2, state.width}))
            return Result::NoMemory;
        return Result::Ok;
    }
};

// The reference strip loop: per strip, convert, pad, downsample and code
// one MCU row; then close the scan.
Result encodeStrips(EncoderState *state, ThumbnailGather *gather, const RowSource &source) {
    StripBuffers buffers;
    if (const Result r = buffers.make(*state, source); r != Result::Ok) return r;
    const uint32_t height = stripHeight(state);
    for (uint32_t y = 0; y < state->height; y += height) {
        const uint32_t rows = state->height - y < height ? state->height - y : height;
        const uint8_t *pixels = nullptr;
        size_t stride = 0;
        if (const Result r = source.next(source.context, rows, pixels, stride); r != Result::Ok) return r;
        convertStripToPlanes(state, pixels, rows, stride, source.bytesPerPixel, source.redFirst, buffers.fullPlanes,
                             buffers.scratch.get());
        const bool lastStrip = rows != height || y + height == state->height;
        if (buffers.paddedStripWidth > state->width || lastStrip)
            padStripEdges(state, buffers.paddedStripWidth, rows, buffers.fullPlanes);
        downsampleStrip(state, buffers.paddedStripWidth, buffers.fullPlanes, buffers.componentPlanes);
        encodeMcuRow(state, gather, buffers.componentPlanes);
        if (gather != nullptr) endGatherRow(gather);
        if (!state->sink->ok()) return state->sink->failure;
    }
    return finishScan(state);
}

// Writes the identifier, the layout tag and the coded preview into the
// reserved segment.
Result writePreview(ByteSink &sink, const ThumbnailGather *gather, uint16_t layout) {
    // From the identifier through the last code byte.
    constexpr uint32_t kLayoutAt = kPreviewLayoutOffset - kPreviewIdentifierOffset;
    constexpr uint32_t kCodesAt = kPreviewCodeOffset - kPreviewIdentifierOffset;
    constexpr uint32_t count = kPreviewBytesNeeded - kPreviewIdentifierOffset;
    LockedBlock<uint8_t> block;
    if (!block.make(kThumbSampleBytes + count)) return Result::NoMemory;
    uint8_t *samples = block.get();
    uint8_t *segment = samples + kThumbSampleBytes;
    thumbnailSamples(gather, samples);
    std::memcpy(segment, kPreviewIdentifier, kPreviewIdentifierBytes);
    // Stored low byte first, after 1 became 256: 1 reads back big-endian.
    const uint16_t stored = layout == 1 ? 256 : layout;
    putLe16(segment + kLayoutAt, stored);
    encodeThumbnail(samples, kThumbSampleBytes, segment + kCodesAt);
    return sink.patch(kPreviewIdentifierOffset, segment, count) ? Result::Ok : sink.failure;
}

}  // namespace

Result encodePicture(const RowSource &source, uint32_t width, uint32_t height, ByteSink &sink,
                     const EncodeSettings &given, const CallOptions &options) {
    EncodeSettings settings = given;
    if (source.bytesPerPixel == 1) settings.sampling = Sampling::Grey;
    const EncoderKernels *kernels = encoderKernels(options.kernels);
    const uint32_t threads = resolveThreads(options, uint64_t(width) * height);

    EncoderState state{};
    state.width = width;
    state.height = height;
    state.sink = &sink;
    Result r;
    if ((r = setupEncoderTables(&state, settings)) != Result::Ok) return r;
    if ((r = writeHeaders(sink, &state, settings)) != Result::Ok) return r;

    LockedBlock<uint8_t> gatherBlock;
    ThumbnailGather *gather = nullptr;
    if (settings.preview) {
        if (!gatherBlock.make(thumbnailGatherBytes())) return Result::NoMemory;
        gather = reinterpret_cast<ThumbnailGather *>(gatherBlock.get());
            startThumbnailGather(gather, &state, scalesByQuality(settings));
    }
    r = kernels != nullptr ? encodeScanFast(&state, gather, source, *kernels, threads)
                           : encodeStrips(&state, gather, source);
    if (r != Result::Ok) return r;
    releaseEncoderTables(&state);
    return gather != nullptr ? writePreview(sink, gather, settings.previewLayout) : Result::Ok;
}

}  // namespace jpg
