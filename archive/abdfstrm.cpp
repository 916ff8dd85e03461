#include "archive/abdfstrm.h"

#include <cmath>

#include "archive/abdfhufd.h"
#include "archive/abdfinw.h"
#include "archive/abdfxlat.h"

namespace pelvar {

namespace {
constexpr size_t kInBufferSize = 16384;
}

// --- TAbDfInBitStream ---

TAbDfInBitStream::TAbDfInBitStream(TStream* Stream, int64_t InputSize, TAbProgressStep OnProgress)
    : stream_(Stream), buffer_(kInBufferSize), input_size_(InputSize), on_progress_(std::move(OnProgress)) {
  AbAssert(Stream != nullptr, "TAbDfInBitStream.Create: Cannot create a bit stream wrapping a nil stream");
  st_.next = st_.end = buffer_.data();
}

TAbDfInBitStream::~TAbDfInBitStream() {
  try {
    Reposition();
  } catch (...) {
  }
}

void TAbDfInBitStream::Reposition() {
  if (repositioned_) return;
  repositioned_ = true;
  // Unread bytes of the buffer and whole unread bytes of the bit buffer go back.
  const int64_t back = (st_.end - st_.next) + st_.count / 8;
  if (back > 0) stream_->Seek(-back, TSeekOrigin::soCurrent);
}

bool TAbDfInBitStream::FillBuffer() {
  if (at_end_) return false;
  const size_t left = static_cast<size_t>(st_.end - st_.next);
  std::memmove(buffer_.data(), st_.next, left);
  const int32_t got =
      stream_->Read(buffer_.data() + left, static_cast<int32_t>(kInBufferSize - left));
  st_.next = buffer_.data();
  st_.end = buffer_.data() + left + (got > 0 ? got : 0);
  if (got <= 0) {
    at_end_ = true;
    return false;
  }
  bytes_read_ += got;
  if (on_progress_ && input_size_ > 0)
    on_progress_(static_cast<int32_t>(std::lround(static_cast<double>(bytes_read_) * 100.0 / input_size_)));
  return true;
}

void TAbDfInBitStream::RefillSlow() {
  while (st_.count <= 56) {
    if (st_.next == st_.end) {
      if (!FillBuffer()) return;
      if (st_.end - st_.next >= 8) {
        Refill();
        return;
      }
    }
    st_.bits |= static_cast<uint64_t>(*st_.next++) << st_.count;
    st_.count += 8;
  }
}

uint32_t TAbDfInBitStream::PeekBits(int32_t Count) {
  AbAssert(Count >= 0 && Count <= 32, "TAbDfInBitStream.PeekBits: count of bits must be between 1 and 32 inclusive");
  if (st_.count < static_cast<uint32_t>(Count)) Refill();
  if (Count == 0) return 0;
  const uint64_t mask = (uint64_t{1} << Count) - 1;
  // Past the end of input only zeros follow the valid bits.
  const uint64_t valid = st_.count >= 64 ? ~uint64_t{0} : ((uint64_t{1} << st_.count) - 1);
  return static_cast<uint32_t>(st_.bits & mask & valid);
}

void TAbDfInBitStream::DiscardBits(int32_t Count) {
  if (Count < 1 || Count > 32)
    throw EAbInternalInflateError("count of bits must be between 1 and 32 inclusive [TAbDfInBitStream.DiscardBits]");
  if (st_.count < static_cast<uint32_t>(Count)) Refill();
  if (st_.count < static_cast<uint32_t>(Count))
    throw EAbInternalInflateError("no more compressed data in stream [TAbDfInBitStream.DiscardBits]");
  st_.bits >>= Count;
  st_.count -= static_cast<uint32_t>(Count);
}

bool TAbDfInBitStream::ReadBit() {
  if (st_.count < 1) Refill();
  if (st_.count < 1) throw EAbInternalInflateError("no more compressed data in stream [TAbDfInBitStream.ReadBit]");
  const bool bit = st_.bits & 1;
  st_.bits >>= 1;
  --st_.count;
  return bit;
}

uint32_t TAbDfInBitStream::ReadBits(int32_t Count) {
  if (Count < 1 || Count > 16)
    throw EAbInternalInflateError("count of bits must be between 1 and 16 inclusive [TAbDfInBitStream.ReadBits]");
  if (st_.count < static_cast<uint32_t>(Count)) Refill();
  if (st_.count < static_cast<uint32_t>(Count))
    throw EAbInternalInflateError("no more compressed data in stream [TAbDfInBitStream.ReadBits]");
  const uint32_t v = static_cast<uint32_t>(st_.bits & ((uint64_t{1} << Count) - 1));
  st_.bits >>= Count;
  st_.count -= static_cast<uint32_t>(Count);
  return v;
}

void TAbDfInBitStream::SkipToByteBoundary() {
  const uint32_t drop = st_.count % 8;
  st_.bits >>= drop;
  st_.count -= drop;
}

void TAbDfInBitStream::ReadBuffer(void* Buffer, int32_t Count) {
  AbAssert(st_.count % 8 == 0,
           "TAbDfInBitStream.ReadBuffer. cannot read a buffer unless the stream is byte-aligned");
  uint8_t* out = static_cast<uint8_t*>(Buffer);
  // Whole bytes of the bit buffer first.
  while (Count > 0 && st_.count >= 8) {
    *out++ = static_cast<uint8_t>(st_.bits);
    st_.bits >>= 8;
    st_.count -= 8;
    --Count;
  }
  if (Count == 0) return;
  // Bits above the valid ones belong to the bytes now read from the buffer.
  st_.bits = 0;
  st_.count = 0;
  while (Count > 0) {
    if (st_.next == st_.end && !FillBuffer())
      throw EAbInternalInflateError("no more compressed data in stream [TAbDfInBitStream.ReadBuffer]");
    const int32_t n = std::min<int32_t>(Count, static_cast<int32_t>(st_.end - st_.next));
    std::memcpy(out, st_.next, static_cast<size_t>(n));
    out += n;
    st_.next += n;
    Count -= n;
  }
}

// --- TAbDfOutBitStream ---

TAbDfOutBitStream::TAbDfOutBitStream(TStream* Stream) : stream_(Stream), buffer_(kBufferSize + 8) {
  AbAssert(Stream != nullptr, "TAbDfOutBitStream.Create: Cannot create a bit stream wrapping a nil stream");
}

TAbDfOutBitStream::~TAbDfOutBitStream() {
  try {
    Flush();
  } catch (...) {
  }
}

void TAbDfOutBitStream::WriteBits(uint32_t Bits, int32_t Count) {
  AbAssert(Count >= 1 && Count <= 16, "TAbDfOutBitStream.WriteBits: aCount should be from 1 to 16");
  AbAssert((Bits >> Count) == 0, "TAbDfOutBitStream.WriteBits: aBits has more than aCount bits");
  PutBits(Bits, static_cast<uint32_t>(Count));
}

void TAbDfOutBitStream::PadToByteBoundary() {
  count_ = (count_ + 7) & ~7u;
  if (count_ >= 32) EmitWord();
}

void TAbDfOutBitStream::EmptyBuffer() {
  if (fill_ == 0) return;
  const int32_t n = stream_->Write(buffer_.data(), static_cast<int32_t>(fill_));
  if (n != static_cast<int32_t>(fill_))
    throw EAbInternalDeflateError("could not write to the output atream [TAbDfInBitStream.obsEmptyBuffer]");
  written_ += n;
  fill_ = 0;
}

void TAbDfOutBitStream::WriteBuffer(const void* Buffer, int32_t Count) {
  AbAssert(count_ % 8 == 0, "TAbDfOutBitStream.WriteBuffer: must be byte aligned");
  while (count_ > 0) {
    buffer_[fill_++] = static_cast<uint8_t>(bits_);
    bits_ >>= 8;
    count_ -= 8;
  }
  bits_ = 0;
  const uint8_t* p = static_cast<const uint8_t*>(Buffer);
  while (Count > 0) {
    if (fill_ >= kBufferSize) EmptyBuffer();
    const size_t n = std::min<size_t>(static_cast<size_t>(Count), kBufferSize - fill_);
    std::memcpy(buffer_.data() + fill_, p, n);
    fill_ += n;
    p += n;
    Count -= static_cast<int32_t>(n);
  }
  EmptyBuffer();
}

void TAbDfOutBitStream::Flush() {
  count_ = (count_ + 7) & ~7u;
  while (count_ > 0) {
    if (fill_ >= kBufferSize) EmptyBuffer();
    buffer_[fill_++] = static_cast<uint8_t>(bits_);
    bits_ >>= 8;
    count_ -= 8;
  }
  bits_ = 0;
  EmptyBuffer();
}

// --- TAbDfLZStream ---

TAbDfLZStream::TAbDfLZStream(TAbDfInputWindow* Window, TAbLogger*, bool Deflate64)
    : window_(Window), deflate64_(Deflate64), symbols_(kMaxSymbols + 8) {
  StartBlock();
}

void TAbDfLZStream::StartBlock() {
  count_ = literals_ = matches_ = 0;
  covered_ = 0;
  std::memset(lit_freq_, 0, sizeof lit_freq_);
  std::memset(dist_freq_, 0, sizeof dist_freq_);
  lit_freq_[256] = 1;
  start_offset_ = window_->InputPosition();
}

bool TAbDfLZStream::PutMatch(int32_t Length, int32_t Distance) {
  const TAbDfTranslator& t = AbStaticTranslator();
  symbols_[count_++] = Sym{static_cast<uint16_t>(Length - 2), static_cast<uint16_t>(Distance - 1)};
  ++matches_;
  covered_ += Length;
  ++lit_freq_[t.LengthSymbol(Length)];
  ++dist_freq_[t.DistanceSymbol(Distance)];
  return BlockFull();
}

bool TAbDfLZStream::BlockFull() const {
  const int32_t n = literals_ + matches_;
  if (n >= kMaxSymbols) return true;
  return n % 8192 == 0 && matches_ < literals_ && RoughBlockSize() < covered_ / 2;
}

int32_t TAbDfLZStream::RoughBlockSize() const {
  int64_t bits = 13 * static_cast<int64_t>(matches_) + 8 * static_cast<int64_t>(literals_);
  for (int d = 4; d < 32; ++d) bits += static_cast<int64_t>(dist_freq_[d]) * dfc_DistanceExtraBits[d];
  return static_cast<int32_t>(bits / 8);
}

int64_t TAbDfLZStream::StaticBlockBits() const {
  int64_t bits = 0;
  for (int s = 0; s < 286; ++s) {
    if (!lit_freq_[s]) continue;
    int len;
    if (s < 144) len = 8;
    else if (s < 256) len = 9;
    else if (s < 280) len = 7;
    else len = 8;
    int extra = s >= 257 ? dfc_LengthExtraBits[s - 257] : 0;
    if (s == 285) extra = deflate64_ ? 16 : 0;
    bits += static_cast<int64_t>(lit_freq_[s]) * (len + extra);
  }
  for (int d = 0; d < 32; ++d) bits += static_cast<int64_t>(dist_freq_[d]) * (5 + dfc_DistanceExtraBits[d]);
  return bits;
}

void TAbDfLZStream::Encode(TAbDfOutBitStream& OutBits, const TAbDfDecodeHuffmanTree& LitLenTree, bool Deflate64,
                           const TAbDfDecodeHuffmanTree& DistTree) const {
  const TAbDfTranslator& t = AbStaticTranslator();
  for (int32_t i = 0; i < count_; ++i) {
    const Sym s = symbols_[i];
    if (s.len == 0) {
      const uint32_t e = LitLenTree.Encode(s.dist);
      OutBits.PutBits(e & 0xFFFF, (e >> 16) & 0xFF);
      continue;
    }
    const int32_t length = s.len + 2;
    const int32_t distance = s.dist + 1;
    const int32_t lsym = t.LengthSymbol(length);
    const uint32_t le = LitLenTree.Encode(lsym);
    uint64_t bits = le & 0xFFFF;
    uint32_t nbits = (le >> 16) & 0xFF;
    if (lsym == 285) {
      if (Deflate64) {
        bits |= static_cast<uint64_t>(length - 3) << nbits;
        nbits += 16;
      }
    } else {
      const uint32_t extra = dfc_LengthExtraBits[lsym - 257];
      bits |= static_cast<uint64_t>(length - dfc_LengthBase[lsym - 257]) << nbits;
      nbits += extra;
    }
    OutBits.PutBits(bits, nbits);
    const int32_t dsym = t.DistanceSymbol(distance);
    AbAssert(Deflate64 || dsym <= 29, "TAbDfLZStream.Encode: a Deflate64 distance symbol has been generated for Deflate");
    const uint32_t de = DistTree.Encode(dsym);
    bits = de & 0xFFFF;
    nbits = (de >> 16) & 0xFF;
    bits |= static_cast<uint64_t>(distance - static_cast<int32_t>(dfc_DistanceBase[dsym])) << nbits;
    nbits += dfc_DistanceExtraBits[dsym];
    OutBits.PutBits(bits, nbits);
  }
}

void TAbDfLZStream::ReadRawInput(void* Buffer, int32_t Count) {
  window_->ReadInputAt(Buffer, Count, start_offset_);
  start_offset_ += Count;
}

// --- TAbDfCodeLenStream ---

TAbDfCodeLenStream::TAbDfCodeLenStream() {
  std::memset(freq_, 0, sizeof freq_);
  items_.reserve(634);
}

void TAbDfCodeLenStream::RunLengthCode(const uint8_t* Lengths, int32_t Count) {
  int32_t i = 0;
  while (i < Count) {
    const uint8_t v = Lengths[i];
    int32_t run = 1;
    while (i + run < Count && Lengths[i + run] == v) ++run;
    i += run;
    if (v == 0) {
      if (run < 3) {
        while (run-- > 0) Put(0);
        continue;
      }
      while (run >= 11) {
        const int32_t n = run < 138 ? run : 138;
        Put(18, static_cast<uint8_t>(n - 11));
        run -= n;
      }
      if (run >= 3) {
        Put(17, static_cast<uint8_t>(run - 3));
        run = 0;
      }
      while (run-- > 0) Put(0);
    } else {
      Put(v);
      --run;
      if (run < 2) {
        while (run-- > 0) Put(v);
        continue;
      }
      while (run >= 3) {
        const int32_t n = run < 6 ? run : 6;
        Put(16, static_cast<uint8_t>(n - 3));
        run -= n;
      }
      while (run-- > 0) Put(v);
    }
  }
}

void TAbDfCodeLenStream::WriteCodes(TAbDfOutBitStream& OutBits, const TAbDfDecodeHuffmanTree& CodeLenTree) const {
  for (const Item& item : items_) {
    const uint32_t e = CodeLenTree.Encode(item.symbol);
    OutBits.PutBits(e & 0xFFFF, (e >> 16) & 0xFF);
    if (item.symbol == 16)
      OutBits.PutBits(item.extra, 2);
    else if (item.symbol == 17)
      OutBits.PutBits(item.extra, 3);
    else if (item.symbol == 18)
      OutBits.PutBits(item.extra, 7);
  }
}

}  // namespace pelvar
