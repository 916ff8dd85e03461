// The deflate encoder's input window: the bytes read from the source, the hash chains
// that find earlier occurrences of the three bytes at a position, and the match
// search over them.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "archive/abdfbase.h"

namespace pelvar {

struct TAbDfMatch {
  int32_t maLen = 0;
  int32_t maDist = 0;
  uint8_t maLit = 0;  // the byte at the current position
};

class TAbDfInputWindow {
 public:
  TAbDfInputWindow(TStream* Source, bool UseCrc32, bool Deflate64, int32_t ChainLimit, uint32_t WindowSize,
                   int64_t InputSize, TAbProgressStep OnProgress);
  TAbDfInputWindow(const TAbDfInputWindow&) = delete;
  TAbDfInputWindow& operator=(const TAbDfInputWindow&) = delete;

  // Inserts the current position into the hash chains and looks for the longest
  // earlier match, longer than PrevLength (0 none) and stopping at Sufficient.
  bool SearchMatch(int32_t Sufficient, TAbDfMatch& Result, int32_t PrevLength);
  // Moves one byte on without inserting it.
  void StepOne() { Moved(1); }
  // Moves Count bytes on, inserting HashCount positions (Count, or Count - 1 when the
  // current position was inserted already).
  void Advance(int32_t Count, int32_t HashCount);
  // The current byte, moving past it without inserting it.
  uint8_t TakeByte();
  int32_t LookAheadCount() const { return static_cast<int32_t>(end_ - cur_); }
  // Offset of the current position from the first byte read.
  int64_t InputPosition() const { return slid_ + static_cast<int64_t>(cur_); }
  // Re-reads Count bytes at Offset (from where compression began) from the source.
  void ReadInputAt(void* Buffer, int32_t Count, int64_t Offset);
  // The checksum of all input read (inverted for CRC-32).
  uint32_t InputChecksum() const { return use_crc32_ ? ~checksum_ : checksum_; }
  void SetChainLimit(int32_t Value) { chain_limit_ = Value; }

 private:
  static constexpr int32_t kHashBits = 16;
  static constexpr int32_t kNil = -1;

  uint32_t HashAt(size_t p) const {
    uint32_t v;
    std::memcpy(&v, buffer_.data() + p, 4);
#if __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    return ((v & 0xFFFFFF) * 2654435761u) >> (32 - kHashBits);
  }
  void Insert(size_t p) {
    const uint32_t h = HashAt(p);
    links_[p & mask_] = heads_[h];
    heads_[h] = static_cast<int32_t>(p);
  }
  void Moved(int32_t count);
  void Slide();
  void ReadMoreInput();

  TStream* source_;
  int64_t source_start_;
  bool use_crc32_;
  uint32_t checksum_;
  int32_t chain_limit_;
  size_t window_;  // W, a power of two
  size_t mask_;
  size_t max_match_;
  std::vector<uint8_t> buffer_;
  size_t cur_ = 0;
  size_t end_ = 0;
  bool more_input_ = true;
  int64_t slid_ = 0;  // bytes slid out of the buffer so far
  std::vector<int32_t> heads_;
  std::vector<int32_t> links_;
  int64_t input_size_;
  TAbProgressStep on_progress_;
  int64_t consumed_ = 0;
};

}  // namespace pelvar
