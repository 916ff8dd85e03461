// Length-limited Huffman code lengths by the package-merge algorithm.
#pragma once

#include <cstdint>

namespace pelvar {

// Code lengths of at most LengthLimit (1..15) bits for Count (1..286) weights, written
// to CodeLengths[First .. First + Count). Symbols with weight 0 get length 0; with no
// or one used symbol, that symbol (or the first) gets length 1. Otherwise the lengths
// fill the code space exactly.
void GenerateCodeLengths(int32_t LengthLimit, const uint32_t* Weights, int32_t Count, uint8_t* CodeLengths,
                         int32_t First);

}  // namespace pelvar
