// The MCU geometry of the scan: sampling maxima, component sizes, padded
// sizes, MCUs per row and the block order inside an MCU.
#include <algorithm>

#include "decoder/decoder_internal.h"

namespace jpg {

namespace {

uint32_t ceilDiv(uint32_t a, uint32_t b) { return (a + b - 1) / b; }

}  // namespace

void computeFrameLayout(DecodeContext &ctx) {
    DecoderState *s = ctx.state;
    uint32_t maxH = s->maxH, maxV = s->maxV;
    for (uint32_t c = 0; c < s->frameComponents; ++c) {
        maxH = std::max<uint32_t>(maxH, s->components[c].hSamp);
        maxV = std::max<uint32_t>(maxV, s->components[c].vSamp);
    }
    ctx.maxH = maxH;
    ctx.maxV = maxV;
    s->maxH = static_cast<uint16_t>(maxH);
    s->maxV = static_cast<uint16_t>(maxV);
    for (uint32_t c = 0; c < s->frameComponents; ++c) {
        ComponentSpec &component = s->components[c];
        component.sampleWidth = static_cast<uint16_t>(ceilDiv(uint32_t{s->width} * component.hSamp, maxH));
        component.sampleHeight = static_cast<uint16_t>(ceilDiv(uint32_t{s->height} * component.vSamp, maxV));
    }
    ctx.scanComponents = s->scanComponents;
    for (uint32_t j = 0; j < ctx.scanComponents; ++j) {
        const ComponentSpec &component = s->components[ctx.info.order[j]];
        ComponentLayout &l = ctx.comp[j];
        l.hSamp = component.hSamp;
        l.vSamp = component.vSamp;
        l.quantSel = component.quantSel;
        l.dcSel = component.dcSel;
        l.acSel = component.acSel;
        l.sampleWidth = ceilDiv(uint32_t{s->width} * component.hSamp, maxH);
        l.sampleHeight = ceilDiv(uint32_t{s->height} * component.vSamp, maxV);
    }
}

void setupScanLayout(DecodeContext &ctx) {
    DecoderState *s = ctx.state;
    if (ctx.scanComponents == 1) {
        ComponentLayout &l = ctx.comp[0];
        l.mcuWidthBlocks = l.mcuHeightBlocks = l.mcuBlocks = 1;
        l.paddedWidth = roundUpWide(l.sampleWidth, 8);
        l.paddedHeight = roundUpWide(l.sampleHeight, 8);
        ctx.mcusPerRow = l.paddedWidth / 8;
        ctx.mcuRows = l.paddedHeight / 8;
        ctx.blocksPerMcu = 1;
        ctx.mcuBlockComponent[0] = 0;
    } else {
        ctx.mcusPerRow = ceilDiv(s->width, 8 * ctx.maxH);
        ctx.mcuRows = ceilDiv(s->height, 8 * ctx.maxV);
        ctx.blocksPerMcu = 0;
        for (uint32_t j = 0; j < ctx.scanComponents; ++j) {
            ComponentLayout &l = ctx.comp[j];
            l.mcuWidthBlocks = l.hSamp;
            l.mcuHeightBlocks = l.vSamp;
            l.mcuBlocks = l.hSamp * l.vSamp;
            l.paddedWidth = roundUpWide(l.sampleWidth, 8 * l.hSamp);
            l.paddedHeight = roundUpWide(l.sampleHeight, 8 * l.vSamp);
            // The parser refused frames of more than 10 blocks per MCU.
            for (uint32_t b = 0; b < l.mcuBlocks && ctx.blocksPerMcu < kMaxBlocksPerMcu; ++b)
                ctx.mcuBlockComponent[ctx.blocksPerMcu++] = static_cast<uint8_t>(j);
        }
    }
    // Mirror the layout in the record's 16-bit fields.
    s->mcusPerRow = static_cast<uint16_t>(ctx.mcusPerRow);
    s->mcuRows = static_cast<uint16_t>(ctx.mcuRows);
    s->blocksPerMcu = static_cast<uint16_t>(ctx.blocksPerMcu);
    for (uint32_t b = 0; b < ctx.blocksPerMcu; ++b) s->mcuBlockComponent[b] = ctx.mcuBlockComponent[b];
    for (uint32_t j = 0; j < ctx.scanComponents; ++j) {
        const ComponentLayout &l = ctx.comp[j];
        ComponentSpec &component = s->components[ctx.info.order[j]];
        component.mcuWidthBlocks = static_cast<uint16_t>(l.mcuWidthBlocks);
        component.mcuHeightBlocks = static_cast<uint16_t>(l.mcuHeightBlocks);
        component.mcuBlocks = static_cast<uint16_t>(l.mcuBlocks);
        component.paddedWidth = static_cast<uint16_t>(l.paddedWidth);
        component.paddedHeight = static_cast<uint16_t>(l.paddedHeight);
    }
}

void startScan(DecodeContext &ctx) {
    ctx.restartsToGo = ctx.state->restartInterval;
    bool dcPending[4] = {true, true, true, true};
    bool acPending[4] = {true, true, true, true};
    for (uint32_t j = 0; j < ctx.scanComponents; ++j) {
        const uint32_t dc = ctx.comp[j].dcSel & 3, ac = ctx.comp[j].acSel & 3;
        if (dcPending[dc]) {
            buildDecodeTable(ctx.dcBlocks[dc]);
            buildLookahead(ctx.dcTable[dc], ctx.dcBlocks[dc]);
            dcPending[dc] = false;
        }
        if (acPending[ac]) {
            buildDecodeTable(ctx.acBlocks[ac]);
            buildLookahead(ctx.acTable[ac], ctx.acBlocks[ac]);
            acPending[ac] = false;
        }
        ctx.dcPredictors[j] = 0;
    }
}

}  // namespace jpg
