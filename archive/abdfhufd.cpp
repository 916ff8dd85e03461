#include "archive/abdfhufd.h"

#include <string>

#include "archive/abdfxlat.h"
#include "archive/abexcept.h"

namespace pelvar {

namespace {

uint32_t Reverse(uint32_t code, int32_t length) {
  uint32_t r = 0;
  for (int32_t i = 0; i < length; ++i) {
    r = (r << 1) | (code & 1);
    code >>= 1;
  }
  return r;
}

}  // namespace

TAbDfDecodeHuffmanTree::TAbDfDecodeHuffmanTree(int32_t AlphabetSize, int32_t Usage,
                                               int32_t LargestLength)
    : alphabet_size_(AlphabetSize), usage_(Usage), largest_length_(LargestLength) {
  AbAssert(AlphabetSize >= 2,
           "TAbDfDecodeHuffmanTree.Create: a huffman tree must be for at least two symbols");
  if (usage_ != huDecoding) encode_.assign(static_cast<size_t>(AlphabetSize), kAbHuffEmpty);
  decode_.assign(1, kAbHuffEmpty);
}

void TAbDfDecodeHuffmanTree::Build(const uint8_t* CodeLengths, int32_t First, int32_t Count,
                                   const uint8_t* ExtraBits, int32_t ExtraFrom) {
  const uint8_t* lengths = CodeLengths + First;
  if (Count > alphabet_size_) Count = alphabet_size_;
  int32_t bl_count[16] = {};
  int32_t longest = 0;
  for (int32_t s = 0; s < Count; ++s) {
    const int32_t len = lengths[s];
    if (len > largest_length_) {
      throw EAssertionFailed("TAbDfDecodeHuffmanTree.Build: a code length is greater than " +
                             std::to_string(largest_length_));
    }
    if (len > 0) {
      ++bl_count[len];
      if (len > longest) longest = len;
    }
  }
  // A set with more codes than the code space holds cannot be a prefix code.
  int32_t left = 1;
  for (int32_t len = 1; len <= 15; ++len) {
    left = (left << 1) - bl_count[len];
    if (left < 0)
      throw EAbInternalInflateError("over-subscribed set of code lengths [TAbDfDecodeHuffmanTree.Build]");
  }
  uint32_t next_code[16] = {};
  uint32_t code = 0;
  for (int32_t len = 1; len <= 15; ++len) {
    code = (code + static_cast<uint32_t>(bl_count[len - 1])) << 1;
    next_code[len] = code;
  }

  lookup_bits_ = longest;
  if (!encode_.empty()) std::fill(encode_.begin(), encode_.end(), kAbHuffEmpty);

  // Codes of every symbol, bit-reversed as they appear in the stream.
  uint32_t rev[288] = {};
  for (int32_t s = 0; s < Count; ++s) {
    const int32_t len = lengths[s];
    if (len == 0) continue;
    rev[s] = Reverse(next_code[len]++, len);
    const uint32_t extra = (ExtraBits && s >= ExtraFrom) ? ExtraBits[s - ExtraFrom] : 0;
    if (usage_ != huDecoding) {
      encode_[static_cast<size_t>(s)] =
          rev[s] | (static_cast<uint32_t>(len) << 16) | (extra << 24);
    }
  }
  if (usage_ == huEncoding) return;

  root_bits_ = longest < kAbHuffRootBits ? longest : kAbHuffRootBits;
  root_mask_ = (1u << root_bits_) - 1;
  const size_t root_size = size_t{1} << root_bits_;
  // The longest code under each root prefix sizes that prefix's sub-table.
  uint8_t sub_len[size_t{1} << kAbHuffRootBits] = {};
  for (int32_t s = 0; s < Count; ++s) {
    const int32_t len = lengths[s];
    if (len > root_bits_) {
      uint8_t& m = sub_len[rev[s] & root_mask_];
      if (len - root_bits_ > m) m = static_cast<uint8_t>(len - root_bits_);
    }
  }
  size_t total = root_size;
  uint32_t sub_offset[size_t{1} << kAbHuffRootBits] = {};
  for (size_t p = 0; p < root_size; ++p) {
    if (sub_len[p]) {
      sub_offset[p] = static_cast<uint32_t>(total);
      total += size_t{1} << sub_len[p];
    }
  }
  decode_.assign(total, kAbHuffEmpty);
  for (size_t p = 0; p < root_size; ++p) {
    if (sub_len[p]) decode_[p] = sub_offset[p] | ((0x80u | sub_len[p]) << 16);
  }
  for (int32_t s = 0; s < Count; ++s) {
    const int32_t len = lengths[s];
    if (len == 0) continue;
    const uint32_t extra = (ExtraBits && s >= ExtraFrom) ? ExtraBits[s - ExtraFrom] : 0;
    const uint32_t entry = static_cast<uint32_t>(s) | (static_cast<uint32_t>(len) << 16) | (extra << 24);
    const uint32_t r = rev[s];
    if (len <= root_bits_) {
      for (size_t i = r; i < root_size; i += size_t{1} << len) decode_[i] = entry;
    } else {
      const uint32_t p = r & root_mask_;
      const size_t sub_size = size_t{1} << sub_len[p];
      for (size_t i = r >> root_bits_; i < sub_size; i += size_t{1} << (len - root_bits_))
        decode_[sub_offset[p] + i] = entry;
    }
  }
}

uint32_t TAbDfDecodeHuffmanTree::Decode(uint32_t Bits) const {
  AbAssert(lookup_bits_ >= 32 || (Bits >> lookup_bits_) == 0,
           "TAbDfDecodeHuffmanTree.Decode: trying to decode too many bits, use LookupBitLength property");
  return Lookup(Bits);
}

uint32_t TAbDfDecodeHuffmanTree::Encode(int32_t Symbol) const {
  AbAssert(Symbol >= 0 && Symbol < alphabet_size_,
           "TAbDfDecodeHuffmanTree.Encode: trying to encode a symbol that is not in the alphabet");
  const uint32_t e = encode_[static_cast<size_t>(Symbol)];
  AbAssert(e != kAbHuffEmpty, "TAbDfDecodeHuffmanTree.Encode: trying to encode a symbol that was not used");
  return e;
}

const TAbDfDecodeHuffmanTree& AbStaticLitLenTree() {
  static const TAbDfDecodeHuffmanTree tree = [] {
    TAbDfDecodeHuffmanTree t(288, huBoth, 15);
    uint8_t lengths[288];
    for (int i = 0; i < 288; ++i) lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    t.Build(lengths, 0, 288, dfc_LengthExtraBits, 257);
    return t;
  }();
  return tree;
}

const TAbDfDecodeHuffmanTree& AbStaticDistTree() {
  static const TAbDfDecodeHuffmanTree tree = [] {
    TAbDfDecodeHuffmanTree t(32, huBoth, 15);
    uint8_t lengths[32];
    for (auto& l : lengths) l = 5;
    t.Build(lengths, 0, 32, dfc_DistanceExtraBits, 0);
    return t;
  }();
  return tree;
}

}  // namespace pelvar
