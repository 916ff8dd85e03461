// The bit-bucket stream: a sink with a short memory. Entries are expanded into it
// when they are only tested; it keeps the last bytes written so that a decoder can
// look back into them.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/streams.h"

namespace pelvar {

class TAbBitBucketStream : public TStream {
 public:
  // The ring holds Size + 1024 bytes for a Size of 4,096, 8,192 or 32,768, and
  // 32,768 + 1024 bytes otherwise.
  explicit TAbBitBucketStream(int32_t Size);

  // At most the ring's capacity per call (else EAbBBSWriteTooManyBytes); the
  // position moves to the end of what was written.
  int32_t Write(const void* Buffer, int32_t Count) override;
  // Count bytes from the position, all of which must still be in the ring and lie
  // before the end (else EAbBBSReadTooManyBytes).
  int32_t Read(void* Buffer, int32_t Count) override;
  // Only positions still held in the ring, up to the size (else
  // EAbBBSSeekOutsideBuffer); an unknown origin raises EAbBBSInvalidOrigin.
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  // The total number of bytes written.
  int64_t Size() override { return size_; }

  int32_t Capacity() const { return static_cast<int32_t>(ring_.size()); }

 private:
  // The oldest position still held in the ring.
  int64_t Oldest() const;

  std::vector<uint8_t> ring_;
  int64_t size_ = 0;
  int64_t position_ = 0;
};

}  // namespace pelvar
