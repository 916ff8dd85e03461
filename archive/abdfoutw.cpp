#include "archive/abdfoutw.h"

#include <cstring>

namespace pelvar {

TAbDfOutputWindow::TAbDfOutputWindow(TStream* Dest, TAbLogger* Log, bool TestOnly, uint32_t PartialLimit,
                                     bool UseCrc32, bool Deflate64)
    : dest_(Dest), log_(Log), test_only_(TestOnly), use_crc32_(UseCrc32) {
  checksum_ = UseCrc32 ? 0xFFFFFFFF : 1;
  history_ = Deflate64 ? 65536 : 32768;
  // Large slides keep the moving of history rare; the longest match (258, or 65,538
  // in Deflate64) always fits above the write point.
  write_point_ = history_ + 131072;
  const size_t longest = Deflate64 ? 65538 : 258;
  buffer_.resize(write_point_ + longest + kSlack);
  fill_ = buffer_.data();
  // A partial limit never exceeds the classic write point (65,536 or 98,304).
  const uint32_t cap = Deflate64 ? 98304 : 65536;
  partial_limit_ = PartialLimit == 0 ? 0 : (PartialLimit > cap ? cap : PartialLimit);
  SetLimit();
}

void TAbDfOutputWindow::SetLimit() {
  limit_ = buffer_.data() + write_point_;
  if (partial_limit_ > 0) {
    const int64_t at = partial_limit_ - base_;
    if (at <= 0)
      limit_ = buffer_.data();
    else if (static_cast<size_t>(at) < write_point_)
      limit_ = buffer_.data() + at;
  }
}

void TAbDfOutputWindow::Slide(size_t keep) {
  const size_t used = static_cast<size_t>(fill_ - buffer_.data());
  if (used <= keep) return;
  const size_t out = used - keep;
  if (use_crc32_)
    AbCrc32Buffer(checksum_, buffer_.data(), static_cast<int64_t>(out));
  else
    AbAdler32Buffer(checksum_, buffer_.data(), static_cast<int64_t>(out));
  if (!test_only_) dest_->WriteBuffer(buffer_.data(), static_cast<int64_t>(out));
  std::memmove(buffer_.data(), buffer_.data() + out, keep);
  fill_ = buffer_.data() + keep;
  base_ += static_cast<int64_t>(out);
  SetLimit();
}

void TAbDfOutputWindow::Overflow() {
  if (partial_limit_ > 0 && TotalOut() >= partial_limit_) throw EAbPartSizedInflate();
  if (static_cast<size_t>(fill_ - buffer_.data()) >= write_point_) Slide(history_);
}

void TAbDfOutputWindow::AppendLiteral(uint8_t Byte) {
  *fill_++ = Byte;
  if (fill_ >= limit_) Overflow();
}

void TAbDfOutputWindow::AppendBytes(const void* Buffer, int32_t Count) {
  const uint8_t* p = static_cast<const uint8_t*>(Buffer);
  while (Count > 0) {
    const size_t room = write_point_ - static_cast<size_t>(fill_ - buffer_.data());
    const size_t n = std::min<size_t>(room, static_cast<size_t>(Count));
    std::memcpy(fill_, p, n);
    fill_ += n;
    p += n;
    Count -= static_cast<int32_t>(n);
    if (fill_ >= limit_) Overflow();
  }
}

void TAbDfOutputWindow::CopyMatch(int32_t Length, int32_t Distance) {
  if (Distance <= 0 || Distance > fill_ - buffer_.data())
    throw EAbInternalInflateError("distance is farther back than the data produced [CopyMatch]");
  const uint8_t* src = fill_ - Distance;
  if (Distance < Length) {
    for (int32_t i = 0; i < Length; ++i) fill_[i] = src[i];
  } else {
    std::memmove(fill_, src, static_cast<size_t>(Length));
  }
  fill_ += Length;
  if (fill_ >= limit_) Overflow();
}

void TAbDfOutputWindow::Flush() { Slide(0); }

uint32_t TAbDfOutputWindow::FinalChecksum() {
  Flush();
  return use_crc32_ ? ~checksum_ : checksum_;
}

}  // namespace pelvar
