#include "archive/abbitbkt.h"

#include <algorithm>
#include <cstring>

#include "archive/abexcept.h"

namespace pelvar {

TAbBitBucketStream::TAbBitBucketStream(int32_t Size) {
  const int32_t history = (Size == 4096 || Size == 8192 || Size == 32768) ? Size : 32768;
  ring_.assign(static_cast<size_t>(history) + 1024, 0);
}

int64_t TAbBitBucketStream::Oldest() const {
  return std::max<int64_t>(0, size_ - static_cast<int64_t>(ring_.size()));
}

int32_t TAbBitBucketStream::Write(const void* Buffer, int32_t Count) {
  if (Count < 0 || Count > Capacity()) throw EAbBBSWriteTooManyBytes(Count);
  const auto* in = static_cast<const uint8_t*>(Buffer);
  const auto cap = static_cast<int64_t>(ring_.size());
  int32_t done = 0;
  while (done < Count) {
    const auto at = static_cast<size_t>(size_ % cap);
    const int32_t part = static_cast<int32_t>(std::min<int64_t>(Count - done, cap - static_cast<int64_t>(at)));
    std::memcpy(ring_.data() + at, in + done, static_cast<size_t>(part));
    done += part;
    size_ += part;
  }
  position_ = size_;
  return Count;
}

int32_t TAbBitBucketStream::Read(void* Buffer, int32_t Count) {
  if (Count < 0 || position_ < Oldest() || position_ + Count > size_) throw EAbBBSReadTooManyBytes(Count);
  auto* out = static_cast<uint8_t*>(Buffer);
  const auto cap = static_cast<int64_t>(ring_.size());
  int32_t done = 0;
  while (done < Count) {
    const auto at = static_cast<size_t>(position_ % cap);
    const int32_t part = static_cast<int32_t>(std::min<int64_t>(Count - done, cap - static_cast<int64_t>(at)));
    std::memcpy(out + done, ring_.data() + at, static_cast<size_t>(part));
    done += part;
    position_ += part;
  }
  return Count;
}

int64_t TAbBitBucketStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int64_t target = 0;
  switch (Origin) {
    case TSeekOrigin::soBeginning: target = Offset; break;
    case TSeekOrigin::soCurrent: target = position_ + Offset; break;
    case TSeekOrigin::soEnd: target = size_ + Offset; break;
    default: throw EAbBBSInvalidOrigin();
  }
  if (target < Oldest() || target > size_) throw EAbBBSSeekOutsideBuffer();
  position_ = target;
  return position_;
}

}  // namespace pelvar
