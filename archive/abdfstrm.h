// Bit streams of the codec: bits are packed least significant bit first, as RFC 1951
// requires. Both directions move 64-bit words through a 16 KB buffer of the wrapped
// stream, which they never own.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "archive/abdfbase.h"

namespace pelvar {

class TAbDfInputWindow;
class TAbDfDecodeHuffmanTree;

class TAbDfInBitStream {
 public:
  // InputSize and OnProgress drive the progress callback (none when InputSize <= 0).
  TAbDfInBitStream(TStream* Stream, int64_t InputSize, TAbProgressStep OnProgress);
  // Moves the wrapped stream back to just after the last byte consumed.
  ~TAbDfInBitStream();
  TAbDfInBitStream(const TAbDfInBitStream&) = delete;
  TAbDfInBitStream& operator=(const TAbDfInBitStream&) = delete;

  // The next Count (0..32) bits without consuming them; zeros past the end of input.
  uint32_t PeekBits(int32_t Count);
  // Consumes Count (1..32) bits; past the end of input raises EAbInternalInflateError.
  void DiscardBits(int32_t Count);
  bool ReadBit();
  uint32_t ReadBits(int32_t Count);  // 1..16
  void ReadBuffer(void* Buffer, int32_t Count);
  void SkipToByteBoundary();
  // Moves the wrapped stream to just after the last byte consumed (also done by the
  // destructor); the bit stream must not be used afterwards.
  void Reposition();

  // The state the decoder's inner loop works on: `bits` holds `count` valid bits
  // (bits above them are zero or the true next bits); `next`..`end` are the bytes of
  // the buffer not yet in `bits`.
  struct State {
    uint64_t bits;
    uint32_t count;
    const uint8_t* next;
    const uint8_t* end;
  };
  State& Raw() { return st_; }
  // Brings `count` above 56 unless the input ends.
  void Refill() {
    if (st_.end - st_.next >= 8) {
      uint64_t w;
      std::memcpy(&w, st_.next, 8);
#if __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
      w = __builtin_bswap64(w);
#endif
      st_.bits |= w << st_.count;
      st_.next += (63 - st_.count) >> 3;
      st_.count |= 56;
    } else {
      RefillSlow();
    }
  }
  void RefillSlow();

 private:
  // Reads more of the wrapped stream into the buffer; false when it gave nothing.
  bool FillBuffer();

  State st_{0, 0, nullptr, nullptr};
  TStream* stream_;
  std::vector<uint8_t> buffer_;
  bool at_end_ = false;
  bool repositioned_ = false;
  int64_t bytes_read_ = 0;
  int64_t input_size_;
  TAbProgressStep on_progress_;
};

class TAbDfOutBitStream {
 public:
  explicit TAbDfOutBitStream(TStream* Stream);
  // Flushes what is left, ignoring failures; call Flush to see them.
  ~TAbDfOutBitStream();
  TAbDfOutBitStream(const TAbDfOutBitStream&) = delete;
  TAbDfOutBitStream& operator=(const TAbDfOutBitStream&) = delete;

  // Count 1..16 bits; Bits must not have more bits than Count.
  void WriteBits(uint32_t Bits, int32_t Count);
  // Up to 32 bits at once, without checks (the encoder's inner loops).
  void PutBits(uint64_t Bits, uint32_t Count) {
    bits_ |= Bits << count_;
    count_ += Count;
    if (count_ >= 32) EmitWord();
  }
  void WriteBuffer(const void* Buffer, int32_t Count);
  void PadToByteBoundary();
  // Pads, writes every remaining byte and empties the buffer into the stream.
  void Flush();
  // Bytes handed to the wrapped stream plus those still buffered (padding the bits).
  int64_t BytesOut() const { return written_ + static_cast<int64_t>(fill_) + (count_ + 7) / 8; }

 private:
  void EmitWord() {
    const uint32_t w = static_cast<uint32_t>(bits_);
    uint8_t* p = buffer_.data() + fill_;
    p[0] = static_cast<uint8_t>(w);
    p[1] = static_cast<uint8_t>(w >> 8);
    p[2] = static_cast<uint8_t>(w >> 16);
    p[3] = static_cast<uint8_t>(w >> 24);
    fill_ += 4;
    bits_ >>= 32;
    count_ -= 32;
    if (fill_ >= kBufferSize) EmptyBuffer();
  }
  void EmptyBuffer();

  static constexpr size_t kBufferSize = 16384;
  TStream* stream_;
  std::vector<uint8_t> buffer_;
  size_t fill_ = 0;
  uint64_t bits_ = 0;
  uint32_t count_ = 0;
  int64_t written_ = 0;
};

// The block buffer of one compression run: the literals and matches of the block
// being built, with their frequencies, counted as they are stored.
class TAbDfLZStream {
 public:
  // A block ends at this many symbols at the latest. Blocks of 16,384 symbols follow
  // changes in the data better than longer ones (their codes adapt sooner), which
  // keeps the output at the maximum preset below that of the common level 9.
  static constexpr int32_t kMaxSymbols = 16384;

  TAbDfLZStream(TAbDfInputWindow* Window, TAbLogger* Log, bool Deflate64);
  void StartBlock();
  bool PutLiteral(uint8_t Byte) {
    symbols_[count_++] = Sym{0, Byte};
    ++literals_;
    ++lit_freq_[Byte];
    ++covered_;
    return BlockFull();
  }
  bool PutMatch(int32_t Length, int32_t Distance);
  bool BlockFull() const;
  int64_t InputCovered() const { return covered_; }
  int32_t Literals() const { return literals_; }
  int32_t Matches() const { return matches_; }
  int32_t RoughBlockSize() const;
  int64_t StaticBlockBits() const;
  // Writes every stored symbol with the trees' codes (the end of block is separate).
  void Encode(TAbDfOutBitStream& OutBits, const TAbDfDecodeHuffmanTree& LitLenTree, bool Deflate64,
              const TAbDfDecodeHuffmanTree& DistTree) const;
  // Re-reads Count bytes of the block's input from the source and moves the block's
  // start offset on by Count.
  void ReadRawInput(void* Buffer, int32_t Count);
  const uint32_t* LitFreq() const { return lit_freq_; }
  const uint32_t* DistFreq() const { return dist_freq_; }
  bool ZeroLiteralSeen() const { return lit_freq_[0] > 0; }

 private:
  // A literal has len 0 and the byte in dist; a match len = length - 2, dist = distance - 1.
  struct Sym {
    uint16_t len;
    uint16_t dist;
  };
  TAbDfInputWindow* window_;
  bool deflate64_;
  std::vector<Sym> symbols_;
  int32_t count_ = 0;
  int32_t literals_ = 0;
  int32_t matches_ = 0;
  int64_t covered_ = 0;
  int64_t start_offset_ = 0;
  uint32_t lit_freq_[286];
  uint32_t dist_freq_[32];
};

// The run-length coded code lengths of one dynamic block.
class TAbDfCodeLenStream {
 public:
  TAbDfCodeLenStream();
  void RunLengthCode(const uint8_t* Lengths, int32_t Count);
  void WriteCodes(TAbDfOutBitStream& OutBits, const TAbDfDecodeHuffmanTree& CodeLenTree) const;
  const uint32_t* Freq() const { return freq_; }
  // The coded symbols with their repeat counts (for inspection).
  struct Item {
    uint8_t symbol;
    uint8_t extra;
  };
  const std::vector<Item>& Items() const { return items_; }

 private:
  void Put(uint8_t symbol, uint8_t extra = 0) {
    items_.push_back({symbol, extra});
    ++freq_[symbol];
  }
  uint32_t freq_[19];
  std::vector<Item> items_;
};

}  // namespace pelvar
