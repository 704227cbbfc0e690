// The scan's layout in the decoder: sampling maxima, each scan component's
// sizes and tables, the MCU grid, and the decode tables the scan selects.
#include <algorithm>

#include "base/scan_geometry.h"
#include "decoder/decoder_internal.h"

namespace jpg {

void layoutDecoderScan(DecodeContext &ctx) {
    const DecoderState *s = ctx.state;
    uint32_t maxH = 1, maxV = 1;
    for (uint32_t c = 0; c < s->frameComponents; ++c) {
        maxH = std::max<uint32_t>(maxH, s->components[c].hSamp);
        maxV = std::max<uint32_t>(maxV, s->components[c].vSamp);
    }
    ctx.maxH = maxH;
    ctx.maxV = maxV;
    ctx.scanComponents = s->scanComponents;
    for (uint32_t j = 0; j < ctx.scanComponents; ++j) {
        const ComponentSpec &component = s->components[ctx.headers.order[j]];
        ComponentLayout &l = ctx.comp[j];
        l.hSamp = component.hSamp;
        l.vSamp = component.vSamp;
        l.quantSel = component.quantSel;
        l.dcSel = component.dcSel;
        l.acSel = component.acSel;
        l.sampleWidth = componentSamples(s->width, component.hSamp, maxH);
        l.sampleHeight = componentSamples(s->height, component.vSamp, maxV);
    }
    const McuGrid grid = layoutScan(s->width, s->height, maxH, maxV, ctx.comp, ctx.scanComponents);
    ctx.mcusPerRow = grid.mcusPerRow;
    ctx.mcuRows = grid.mcuRows;
    ctx.blocksPerMcu = grid.blocksPerMcu;
    for (uint32_t b = 0; b < kMaxBlocksPerMcu; ++b) ctx.mcuBlockComponent[b] = grid.blockComponent[b];
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
