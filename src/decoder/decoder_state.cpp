#include "decoder/decoder_state.h"

#include <cstring>

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

void freeDecoderTables(DecoderState *state) {
    for (int t = 0; t < 4; ++t) {
        if (state->dcTables[t] != nullptr) GlobalFree(state->dcTables[t]);
        if (state->acTables[t] != nullptr) GlobalFree(state->acTables[t]);
        state->dcTables[t] = nullptr;
        state->acTables[t] = nullptr;
    }
}

}  // namespace jpg

extern "C" JPG_API int32_t JPG_CALL iDecode_Init(DecoderState *state) {
    if (state != nullptr) jpg::initDecoderState(state);
    return 0;
}
