// The canonical Huffman tree of the Deflate format, used both to decode (a table
// indexed by peeked bits) and to encode (a table indexed by symbol), and the fixed
// trees of the format.
//
// Entries of both tables: bits 0-15 the symbol (decode) or the bit-reversed code
// (encode), bits 16-23 the code length, bits 24-31 the number of extra bits that
// follow the symbol. Empty entries hold 0xFFFFFFFF.
//
// Decoding looks up the low bits of the peeked input in a root table of at most
// kAbHuffRootBits bits; a longer code's root entry links to a sub-table (length byte
// 0x80 + the sub-table's bits, symbol field its offset), so that a lookup costs at
// most two reads and the tables stay small enough for the cache.
#pragma once

#include <cstdint>
#include <vector>

namespace pelvar {

constexpr int32_t huEncoding = 0;
constexpr int32_t huDecoding = 1;
constexpr int32_t huBoth = 2;

constexpr uint32_t kAbHuffEmpty = 0xFFFFFFFF;

class TAbDfDecodeHuffmanTree {
 public:
  TAbDfDecodeHuffmanTree(int32_t AlphabetSize, int32_t Usage, int32_t LargestLength);

  // Count lengths from CodeLengths[First] for the symbols 0..Count-1; a symbol
  // s >= ExtraFrom takes ExtraBits[s - ExtraFrom] extra bits (ExtraBits may be null).
  // An over-subscribed set of lengths raises EAbInternalInflateError.
  void Build(const uint8_t* CodeLengths, int32_t First, int32_t Count, const uint8_t* ExtraBits,
             int32_t ExtraFrom);

  // The entry for LookupBitLength() peeked bits.
  uint32_t Decode(uint32_t Bits) const;
  // The entry of Symbol.
  uint32_t Encode(int32_t Symbol) const;

  // The longest code length present after Build.
  int32_t LookupBitLength() const { return lookup_bits_; }
  int32_t AlphabetSize() const { return alphabet_size_; }

  // For the decoder's inner loop.
  const uint32_t* DecodeTable() const { return decode_.data(); }
  uint32_t RootMask() const { return root_mask_; }
  int32_t RootBits() const { return root_bits_; }
  // The final entry for Bits (at least LookupBitLength bits, more are ignored).
  uint32_t Lookup(uint64_t Bits) const {
    uint32_t e = decode_[Bits & root_mask_];
    const uint32_t len = (e >> 16) & 0xFF;
    if ((len & 0x80) && len != 0xFF)
      e = decode_[(e & 0xFFFF) + ((Bits >> root_bits_) & ((1u << (len & 0x7F)) - 1))];
    return e;
  }

 private:
  int32_t alphabet_size_;
  int32_t usage_;
  int32_t largest_length_;
  int32_t lookup_bits_ = 0;
  int32_t root_bits_ = 0;
  uint32_t root_mask_ = 0;
  std::vector<uint32_t> decode_;
  std::vector<uint32_t> encode_;
};

constexpr int32_t kAbHuffRootBits = 10;

// The fixed trees of the format (literal/length 288 symbols, distance 32 symbols).
const TAbDfDecodeHuffmanTree& AbStaticLitLenTree();
const TAbDfDecodeHuffmanTree& AbStaticDistTree();

}  // namespace pelvar
