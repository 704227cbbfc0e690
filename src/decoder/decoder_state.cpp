
#include "decoder/decoder_state.h"

#include <cstring>

#include "base/markers.h"

namespace jpg {

Result initDecoderState(DecoderState *state) {
    std::memset(state, 0, sizeof *state);
    for (int t = 0; t < 4; ++t) {
        state->dcTables[t] = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, kHuffmanTableBlockBytes);
        state->acTables[t] = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, kHuffmanTableBlockBytes);
    }
    state->maxH = 1;
    state->maxV = 1;
    state->restartInterval = 0;
    state->restartsToGo = 0;
    state->endOfData = 0;
    state->bitBuffer = 0;
    state->bitCount = 0;
    for (int t = 0; t < 4; ++t) {
        if (state->dcTables[t] == nullptr || state->acTables[t] == nullptr) {
            freeDecoderTables(state);
            return Result::NoMemory;
        }
    }
    return Result::Ok;
}

bool startsWithSoi(const OpenFile &file) {
    uint8_t soi[2] = {};
    return _lread(file.get(), soi, 2) == 2 && soi[0] == marker::kPrefix && soi[1] == marker::kSoi;
}

void freeDecoderTables(DecoderState *state) {
    for (int t = 0; t < 4; ++t) {
        if (state->dcTables[t] != nullptr) GlobalFree(state->dcTables[t]);
        if (state->acTables[t] != nullptr) GlobalFree(state->acTables[t]);
        state->dcTables[t] = nullptr;
        state->acTables[t] = nullptr;
    }
}

}  // namespace jpg
