// The decoder's state record (declared in jpg.h) and its table blocks.
#ifndef JPG_DECODER_DECODER_STATE_H
#define JPG_DECODER_DECODER_STATE_H

#include "base/files.h"
#include "base/result.h"
#include "jpg.h"

namespace jpg {

constexpr uint32_t kHuffmanTableBlockBytes = sizeof(HuffmanTableBlock);

// Clears the whole state, makes the eight zero-filled Huffman table blocks
// and sets the initial values (maxH = maxV = 1, no restart interval, empty
// bit reader, no frame). NoMemory when a block could not be made; the blocks
// that were made are freed again and every handle is null.
Result initDecoderState(DecoderState *state);

// Frees the eight table blocks (DC before AC for each number, 0 to 3) and
// clears their handles; null handles are skipped.
void freeDecoderTables(DecoderState *state);

// A DecoderState made by initDecoderState whose table blocks go with it.
struct OwnedDecoderState {
    DecoderState state{};
    OwnedDecoderState() = default;
    OwnedDecoderState(const OwnedDecoderState &) = delete;
    OwnedDecoderState &operator=(const OwnedDecoderState &) = delete;
    ~OwnedDecoderState() { freeDecoderTables(&state); }
    Result init() { return initDecoderState(&state); }
};

// Reads the first two bytes of a file: true when they are SOI (FF D8).
bool startsWithSoi(const OpenFile &file);

}  // namespace jpg

#endif  // JPG_DECODER_DECODER_STATE_H
