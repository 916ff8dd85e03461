#include "archive/abdfinw.h"

#include <cmath>

namespace pelvar {

TAbDfInputWindow::TAbDfInputWindow(TStream* Source, bool UseCrc32, bool Deflate64, int32_t ChainLimit,
                                   uint32_t WindowSize, int64_t InputSize, TAbProgressStep OnProgress)
    : source_(Source),
      use_crc32_(UseCrc32),
      checksum_(UseCrc32 ? 0xFFFFFFFF : 1),
      chain_limit_(ChainLimit),
      input_size_(InputSize),
      on_progress_(std::move(OnProgress)) {
  // The window is a power of two, at most what the format can reach back.
  size_t w = 1024;
  const size_t most = Deflate64 ? 65536 : 32768;
  while (w < WindowSize && w < most) w <<= 1;
  window_ = w;
  mask_ = w - 1;
  max_match_ = Deflate64 ? 65536 : 258;
  // History of W bytes, W bytes that slide out at once, the longest match ahead and
  // slack for word-wise reads.
  buffer_.assign(2 * window_ + max_match_ + 16, 0);
  heads_.assign(size_t{1} << kHashBits, kNil);
  links_.assign(window_, kNil);
  source_start_ = source_->Position();
  ReadMoreInput();
}

void TAbDfInputWindow::ReadMoreInput() {
  const size_t room = 2 * window_ + max_match_ - end_;
  size_t got_total = 0;
  while (more_input_ && got_total < room) {
    const int32_t want = static_cast<int32_t>(std::min<size_t>(room - got_total, 1u << 20));
    const int32_t got = source_->Read(buffer_.data() + end_ + got_total, want);
    if (got <= 0) {
      more_input_ = false;
      break;
    }
    got_total += static_cast<size_t>(got);
  }
  if (got_total == 0) return;
  if (use_crc32_)
    AbCrc32Buffer(checksum_, buffer_.data() + end_, static_cast<int64_t>(got_total));
  else
    AbAdler32Buffer(checksum_, buffer_.data() + end_, static_cast<int64_t>(got_total));
  end_ += got_total;
}

void TAbDfInputWindow::Slide() {
  // The oldest W bytes leave; positions move down by W, so each link keeps its slot.
  std::memmove(buffer_.data(), buffer_.data() + window_, end_ - window_);
  cur_ -= window_;
  end_ -= window_;
  slid_ += static_cast<int64_t>(window_);
  const int32_t w = static_cast<int32_t>(window_);
  for (int32_t& h : heads_) h = h >= w ? h - w : kNil;
  for (int32_t& l : links_) l = l >= w ? l - w : kNil;
}

void TAbDfInputWindow::Moved(int32_t count) {
  cur_ += static_cast<size_t>(count);
  if (on_progress_ && input_size_ > 0) {
    const int64_t before = consumed_;
    consumed_ += count;
    if (consumed_ / 4096 != before / 4096)
      on_progress_(static_cast<int32_t>(std::lround(static_cast<double>(consumed_) * 100.0 / input_size_)));
  }
  if (end_ - cur_ < max_match_ && more_input_) {
    while (cur_ >= 2 * window_) Slide();
    ReadMoreInput();
  } else {
    while (cur_ >= 2 * window_) Slide();
  }
}

bool TAbDfInputWindow::SearchMatch(int32_t Sufficient, TAbDfMatch& Result, int32_t PrevLength) {
  const uint8_t* base = buffer_.data();
  const size_t cur = cur_;
  Result.maLit = base[cur];
  int32_t candidate = kNil;
  if (end_ - cur >= 3) {
    const uint32_t h = HashAt(cur);
    candidate = heads_[h];
    links_[cur & mask_] = candidate;
    heads_[h] = static_cast<int32_t>(cur);
  }
  const int32_t limit = static_cast<int32_t>(std::min<size_t>(max_match_, end_ - cur));
  if (Sufficient > limit) Sufficient = limit;
  if (PrevLength > limit) return false;
  int32_t best = PrevLength > 0 ? PrevLength : 2;
  int32_t best_dist = 0;
  int32_t budget = chain_limit_;
  if (best >= Sufficient) budget >>= 2;
  const int64_t window_start = static_cast<int64_t>(cur) - static_cast<int64_t>(window_);
  const uint8_t* here = base + cur;
  uint16_t head2, tail2;
  std::memcpy(&head2, here, 2);
  std::memcpy(&tail2, here + best - 1, 2);
  while (candidate != kNil && candidate >= window_start && budget-- > 0) {
    const uint8_t* there = base + candidate;
    uint16_t c_head, c_tail;
    std::memcpy(&c_tail, there + best - 1, 2);
    std::memcpy(&c_head, there, 2);
    if (c_tail == tail2 && c_head == head2) {
      // Compare from offset 2, eight bytes at a time, up to the limit.
      int32_t len = 2;
      while (len + 8 <= limit) {
        uint64_t a, b;
        std::memcpy(&a, here + len, 8);
        std::memcpy(&b, there + len, 8);
        const uint64_t diff = a ^ b;
        if (diff) {
          len += __builtin_ctzll(diff) >> 3;
          goto compared;
        }
        len += 8;
      }
      while (len < limit && here[len] == there[len]) ++len;
    compared:
      if (len > best) {
        best = len;
        best_dist = static_cast<int32_t>(cur) - candidate;
        if (len >= Sufficient) break;
        std::memcpy(&tail2, here + best - 1, 2);
      }
    }
    const int32_t next = links_[static_cast<size_t>(candidate) & mask_];
    if (next >= candidate) break;  // the chain only ever leads further back
    candidate = next;
  }
  if (best >= 3 && best > PrevLength && best_dist > 0) {
    Result.maLen = best;
    Result.maDist = best_dist;
    return true;
  }
  return false;
}

void TAbDfInputWindow::Advance(int32_t Count, int32_t HashCount) {
  AbAssert(static_cast<size_t>(Count) <= end_ - cur_,
           "TAbDfInputWindow.Advance: seem to be advancing into the unknown");
  AbAssert(HashCount == Count || HashCount == Count - 1, "TAbDfInputWindow.Advance: the parameters are plain wrong");
  size_t p = cur_ + static_cast<size_t>(Count - HashCount);
  const size_t stop = cur_ + static_cast<size_t>(Count);
  for (; p < stop; ++p) {
    if (end_ - p >= 3) Insert(p);
  }
  Moved(Count);
}

uint8_t TAbDfInputWindow::TakeByte() {
  const uint8_t b = buffer_[cur_];
  Moved(1);
  return b;
}

void TAbDfInputWindow::ReadInputAt(void* Buffer, int32_t Count, int64_t Offset) {
  const int64_t saved = source_->Position();
  source_->Seek(source_start_ + Offset, TSeekOrigin::soBeginning);
  source_->ReadBuffer(Buffer, Count);
  source_->Seek(saved, TSeekOrigin::soBeginning);
}

}  // namespace pelvar
