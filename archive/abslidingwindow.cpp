#include "archive/abslidingwindow.h"

#include <algorithm>
#include <cstring>

#include "archive/abconst.h"
#include "platform/exceptions.h"

namespace pelvar {

TabSlidingWindowStream::TabSlidingWindowStream(TStream& Stream) : stream_(&Stream) {
  for (auto& chunk : chunks_) {
    chunk = std::make_unique<uint8_t[]>(kChunkSize);
    std::memset(chunk.get(), 0, kChunkSize);
  }
  stream_->Seek(0, TSeekOrigin::soBeginning);
}

TabSlidingWindowStream::~TabSlidingWindowStream() {
  try {
    Flush();
  } catch (...) {
    // A destructor must not throw; Flush reports the failure to callers who ask.
  }
}

void TabSlidingWindowStream::Flush() {
  if (!dirty_) return;
  for (int32_t i = 0; i < kChunkCount; ++i) WriteChunk(i);
  dirty_ = false;
}

void TabSlidingWindowStream::WriteChunk(int32_t Index) {
  const int64_t pos = start_ + static_cast<int64_t>(Index) * kChunkSize;
  if (pos < 0) return;
  if (stream_->Seek(pos, TSeekOrigin::soBeginning) != pos)
    throw Exception(AbErrorText(AbSWSSeekFailed));
  const int32_t length = Index == kChunkCount - 1 ? last_fill_ : kChunkSize;
  if (stream_->Write(chunks_[static_cast<size_t>(Index)].get(), length) != length)
    throw Exception(AbErrorText(AbSWSWriteFailed));
}

int32_t TabSlidingWindowStream::Write(const void* Buffer, int32_t Count) {
  if (position_ != size_) throw Exception(AbErrorText(AbSWSNotEndofStream));
  if (Count <= 0) return 0;
  Count = std::min(Count, kMaxTransfer);
  const auto* in = static_cast<const uint8_t*>(Buffer);
  int32_t done = 0;
  while (done < Count) {
    const int32_t n = std::min(Count - done, kChunkSize - last_fill_);
    std::memcpy(chunks_[kChunkCount - 1].get() + last_fill_, in + done, static_cast<size_t>(n));
    last_fill_ += n;
    done += n;
    size_ += n;
    position_ = size_;
    dirty_ = true;
    if (last_fill_ == kChunkSize) {
      // The window slides: the oldest chunk leaves for the underlying stream and is
      // reused as the new chunk being written.
      WriteChunk(0);
      std::rotate(chunks_.begin(), chunks_.begin() + 1, chunks_.end());
      std::memset(chunks_[kChunkCount - 1].get(), 0, kChunkSize);
      start_ += kChunkSize;
      last_fill_ = 0;
    }
  }
  return Count;
}

int32_t TabSlidingWindowStream::Read(void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  Count = static_cast<int32_t>(std::min<int64_t>({Count, kMaxTransfer, size_ - position_}));
  if (Count <= 0) return 0;
  auto* out = static_cast<uint8_t*>(Buffer);
  int32_t done = 0;
  while (done < Count) {
    const int64_t in_window = position_ - start_;
    const auto chunk = static_cast<size_t>(in_window / kChunkSize);
    const auto offset = static_cast<int32_t>(in_window % kChunkSize);
    const int32_t n = std::min(Count - done, kChunkSize - offset);
    std::memcpy(out + done, chunks_[chunk].get() + offset, static_cast<size_t>(n));
    done += n;
    position_ += n;
  }
  return done;
}

int64_t TabSlidingWindowStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int64_t target = 0;
  switch (static_cast<int>(Origin)) {
    case 0: target = Offset; break;
    case 1: target = position_ + Offset; break;
    case 2: target = size_ + Offset; break;
    default: throw Exception(AbErrorText(AbSWSInvalidOrigin));
  }
  // Before the first byte written there is nothing to read either.
  if (target < start_ || target < 0 || target > size_)
    throw Exception(AbErrorText(AbSWSInvalidNewOrigin));
  position_ = target;
  return position_;
}

}  // namespace pelvar
