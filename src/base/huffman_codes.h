// Code assignment shared by the decoder's and the encoder's Huffman tables:
// the size list and the code list of ITU-T T.81 Annex C (Figures C.1, C.2).
#ifndef JPG_BASE_HUFFMAN_CODES_H
#define JPG_BASE_HUFFMAN_CODES_H

#include <cstdint>

namespace jpg {

// From counts[1..16] (the number of codes of each length; counts[0] is not
// read) fills sizes[k] and codes[k] for every code k in code order, at most
// 256 of them, and terminates the size list with 0. Returns the number of
// codes.
uint32_t assignHuffmanCodes(const uint8_t counts[17], uint8_t sizes[257], uint16_t codes[256]);

}  // namespace jpg

#endif  // JPG_BASE_HUFFMAN_CODES_H
