// The decoder's state record (declared in jpg.h) and its table blocks.
#ifndef JPG_DECODER_DECODER_STATE_H
#define JPG_DECODER_DECODER_STATE_H

#include "frame/conventions.h"
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

}  // namespace jpg

#endif  // JPG_DECODER_DECODER_STATE_H
