// The output writer of the legacy zip decoders: writes through to an underlying
// stream while keeping the last 40 KB readable, so that a decoder can copy bytes it
// produced earlier.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "platform/streams.h"

namespace pelvar {

class TabSlidingWindowStream : public TStream {
 public:
  static constexpr int32_t kChunkSize = 8192;
  static constexpr int32_t kChunkCount = 5;
  static constexpr int32_t kMaxTransfer = 32768;

  // Stream is not owned; it is positioned at 0 and must outlive this object.
  explicit TabSlidingWindowStream(TStream& Stream);
  // Writes what is still held (see Flush); a failure there is lost, so callers that
  // need to know call Flush first.
  ~TabSlidingWindowStream() override;
  TabSlidingWindowStream(const TabSlidingWindowStream&) = delete;
  TabSlidingWindowStream& operator=(const TabSlidingWindowStream&) = delete;

  // At most 32768 bytes per call, only at the end of the stream.
  int32_t Write(const void* Buffer, int32_t Count) override;
  // At most 32768 bytes per call, from within the window.
  int32_t Read(void* Buffer, int32_t Count) override;
  // Only positions from the window start to the size.
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t Size() override { return size_; }

  // Writes every chunk of the window that lies in the stream when anything was
  // written since the last flush.
  void Flush();
  // The stream position of the oldest byte still readable.
  int64_t WindowStart() const { return std::max<int64_t>(start_, 0); }

 private:
  void WriteChunk(int32_t Index);

  std::array<std::unique_ptr<uint8_t[]>, kChunkCount> chunks_;
  int64_t start_ = -static_cast<int64_t>(kChunkSize) * (kChunkCount - 1);
  int32_t last_fill_ = 0;  // bytes in chunk 4, the chunk being written
  int64_t position_ = 0;
  int64_t size_ = 0;
  bool dirty_ = false;
  TStream* stream_;
};

}  // namespace pelvar
