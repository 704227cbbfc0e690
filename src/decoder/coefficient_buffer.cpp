// The coefficient buffer: one plane of quantised coefficients per frame
// component, on the block grid of the interleaved MCU layout.
#include <algorithm>

#include "base/markers.h"
#include "base/scan_geometry.h"
#include "decoder/coefficient_decoder.h"

namespace jpg {

namespace {

// The frame's components laid out as one scan of all of them in frame
// order: their padded sizes are the planes' sizes.
void layoutFrame(const DecoderState &state, ComponentLayout (&layout)[kMaxScanComponents]) {
    const uint32_t count = std::min<uint32_t>(state.frameComponents, kMaxFrameComponents);
    uint32_t maxH = 1, maxV = 1;
    for (uint32_t c = 0; c < count; ++c) {
        maxH = std::max<uint32_t>(maxH, state.components[c].hSamp);
        maxV = std::max<uint32_t>(maxV, state.components[c].vSamp);
    }
    for (uint32_t c = 0; c < count; ++c) {
        ComponentLayout &l = layout[c];
        l.hSamp = state.components[c].hSamp;
        l.vSamp = state.components[c].vSamp;
        l.sampleWidth = componentSamples(state.width, l.hSamp, maxH);
        l.sampleHeight = componentSamples(state.height, l.vSamp, maxV);
    }
    layoutScan(state.width, state.height, maxH, maxV, layout, count);
}

}  // namespace

PlaneSize coefficientPlaneSize(const DecoderState &state, uint32_t component) {
    ComponentLayout layout[kMaxScanComponents];
    layoutFrame(state, layout);
    if (component >= std::min<uint32_t>(state.frameComponents, kMaxFrameComponents)) return {};
    return {layout[component].paddedWidth / 8, layout[component].paddedHeight / 8};
}

uint64_t coefficientBufferBytes(const DecoderState &state) {
    uint64_t bytes = 0;
    for (uint32_t c = 0; c < std::min<uint32_t>(state.frameComponents, kMaxFrameComponents); ++c) {
        const PlaneSize size = coefficientPlaneSize(state, c);
        bytes += uint64_t{size.widthBlocks} * size.heightBlocks * 64 * sizeof(int16_t);
    }
    return bytes;
}

Result makeCoefficientBuffer(const DecoderState &state, CoefficientBuffer &buffer) {
    buffer.components = std::min<uint32_t>(state.frameComponents, kMaxFrameComponents);
    for (uint32_t c = 0; c < buffer.components; ++c) {
        CoefficientPlane &plane = buffer.planes[c];
        const PlaneSize size = coefficientPlaneSize(state, c);
        if (!plane.memory.make({size.widthBlocks, size.heightBlocks, 64 * sizeof(int16_t)})) return Result::NoMemory;
        plane.blocks = plane.memory.get();
        plane.widthBlocks = size.widthBlocks;
        plane.heightBlocks = size.heightBlocks;
    }
    return Result::Ok;
}

bool needsCoefficientBuffer(const DecoderState &state, const HeaderFacts &facts) {
    return (facts.frameMarker != marker::kSof0 && facts.frameMarker != marker::kSof1) ||
           state.scanComponents != state.frameComponents;
}

}  // namespace jpg
