// The deflate encoder: compresses the rest of a source stream into one Deflate
// (RFC 1951) or Deflate64 stream, optionally encrypted, and turns the filled blocks
// into bits as stored, fixed-code or dynamic-code blocks.
#pragma once

#include <cstdint>

#include "archive/abdfbase.h"
#include "archive/abdfhufd.h"
#include "archive/abdfstrm.h"

namespace pelvar {

// Compresses Source from its position to its end into Dest and returns the checksum
// of the input (CRC-32, or Adler-32 with Options bit 5). Helper may be null (the
// defaults); the caller's helper receives UncompressedCount and CompressedCount.
// Source must be seekable when stored blocks may be chosen (they are re-read).
uint32_t Deflate(TStream* Source, TStream* Dest, TAbDeflateHelper* Helper);

// Block writers: each writes the block held in the block buffer.
void WriteStoredBlocks(bool Final, TAbDfLZStream& LZ, TAbDfOutBitStream& OutBits);
void WriteStaticBlock(bool Final, bool Deflate64, TAbDfLZStream& LZ, TAbDfOutBitStream& OutBits);
// With MayChoose the cheapest of the stored, fixed and dynamic forms is written.
void WriteDynamicBlock(bool Final, bool Deflate64, bool MayChoose, TAbDfLZStream& LZ, TAbDfOutBitStream& OutBits);
void WriteEndOfBlock(const TAbDfDecodeHuffmanTree& LitLenTree, TAbDfOutBitStream& OutBits);

// The bit count of a dynamic block (without its 3 header bits).
int64_t CalcDynamicBitCount(bool Deflate64, const uint8_t* LitLengths, int32_t HLit, const uint32_t* LitFreq,
                            const uint8_t* DistLengths, int32_t HDist, const uint32_t* DistFreq,
                            const uint8_t* CodeLenLengths, int32_t HCLen, const uint32_t* CodeLenFreq);

}  // namespace pelvar
