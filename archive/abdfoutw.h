// The inflate decoder's output window: decoded bytes collect in one buffer with a
// fixed write point; matches are copied contiguously and never wrap. When the fill
// position reaches the write point, everything but the last window of history is
// checksummed and written to the destination (or only counted when testing), and the
// history moves to the buffer start.
#pragma once

#include <cstdint>
#include <vector>

#include "archive/abdfbase.h"

namespace pelvar {

class TAbDfOutputWindow {
 public:
  TAbDfOutputWindow(TStream* Dest, TAbLogger* Log, bool TestOnly, uint32_t PartialLimit, bool UseCrc32,
                    bool Deflate64);
  TAbDfOutputWindow(const TAbDfOutputWindow&) = delete;
  TAbDfOutputWindow& operator=(const TAbDfOutputWindow&) = delete;

  void AppendLiteral(uint8_t Byte);
  void AppendBytes(const void* Buffer, int32_t Count);
  // Distance must not reach before the first byte produced (raises
  // EAbInternalInflateError otherwise).
  void CopyMatch(int32_t Length, int32_t Distance);
  // Bytes produced so far.
  int64_t TotalOut() const { return base_ + (fill_ - buffer_.data()); }
  // Writes what remains and returns the checksum (inverted for CRC-32).
  uint32_t FinalChecksum();
  // Writes what remains.
  void Flush();

  // For the decoder's inner loop: bytes go to `Fill()`; once it reaches `Limit()`,
  // SetFill and then Overflow must be called. Up to 64 bytes past a match may be
  // overwritten (scratch space).
  uint8_t* Fill() { return fill_; }
  void SetFill(uint8_t* Fill) { fill_ = Fill; }
  uint8_t* Limit() { return limit_; }
  uint8_t* Start() { return buffer_.data(); }
  // Raises EAbPartSizedInflate when the partial limit is reached, slides the window
  // when the write point is reached.
  void Overflow();

  static constexpr int32_t kSlack = 64;

 private:
  void Slide(size_t keep);
  void SetLimit();

  TStream* dest_;
  TAbLogger* log_;
  bool test_only_;
  bool use_crc32_;
  uint32_t checksum_;
  int64_t partial_limit_;  // total output at which inflate stops; 0 none
  size_t history_;         // bytes kept behind the fill position after a slide
  size_t write_point_;
  std::vector<uint8_t> buffer_;
  uint8_t* fill_;
  uint8_t* limit_;
  int64_t base_ = 0;  // total output before the buffer start
};

}  // namespace pelvar
