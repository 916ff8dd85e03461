#include "archive/abdfcrys.h"

#include <cstring>
#include <random>

#include "archive/abexcept.h"
#include "archive/abutils.h"

namespace pelvar {

namespace {

void InitKeys(uint32_t (&keys)[3]) {
  keys[0] = 0x12345678;
  keys[1] = 0x23456789;
  keys[2] = 0x34567890;
}

inline void Update(uint32_t (&keys)[3], uint8_t plain) {
  keys[0] = AbCrc32Byte(plain, keys[0]);
  keys[1] = (keys[1] + (keys[0] & 0xFF)) * 134775813u + 1;
  keys[2] = AbCrc32Byte(static_cast<uint8_t>(keys[1] >> 24), keys[2]);
}

inline uint8_t StreamByte(const uint32_t (&keys)[3]) {
  const uint32_t t = (keys[2] | 2) & 0xFFFF;
  return static_cast<uint8_t>((t * (t ^ 1)) >> 8);
}

uint8_t RandomByte() {
  static thread_local std::mt19937 rng{std::random_device{}()};
  return static_cast<uint8_t>(rng() & 0xFF);
}

}  // namespace

// --- engines ---

void TAbZipDecryptEngine::ResetKeys(const AnsiString& Passphrase) {
  InitKeys(keys_);
  for (char c : Passphrase) Update(keys_, static_cast<uint8_t>(c));
}

void TAbZipDecryptEngine::UpdateKeys(uint8_t plain) { Update(keys_, plain); }
uint8_t TAbZipDecryptEngine::DecryptByte() const { return StreamByte(keys_); }

bool TAbZipDecryptEngine::VerifyHeader(const uint8_t* Header12, const AnsiString& Passphrase,
                                       uint32_t CheckValue) {
  AbAssert(!Passphrase.empty(), "TAbZipDecryptEngine.VerifyHeader: need a passphrase");
  ResetKeys(Passphrase);
  uint8_t plain = 0;
  for (int i = 0; i < 12; ++i) {
    plain = Header12[i] ^ DecryptByte();
    UpdateKeys(plain);
  }
  ready_ = plain == static_cast<uint8_t>(CheckValue >> 24);
  return ready_;
}

void TAbZipDecryptEngine::Decode(void* Buffer, int32_t Count) {
  AbAssert(ready_, "TAbZipDecryptEngine.Decode: must successfully call VerifyHeader first");
  uint8_t* p = static_cast<uint8_t*>(Buffer);
  for (int32_t i = 0; i < Count; ++i) {
    p[i] ^= DecryptByte();
    UpdateKeys(p[i]);
  }
}

void TAbZipEncryptEngine::ResetKeys(const AnsiString& Passphrase) {
  InitKeys(keys_);
  for (char c : Passphrase) Update(keys_, static_cast<uint8_t>(c));
}

uint8_t TAbZipEncryptEngine::EncodeByte(uint8_t plain) {
  const uint8_t k = StreamByte(keys_);
  Update(keys_, plain);
  return plain ^ k;
}

void TAbZipEncryptEngine::CreateHeader(uint8_t* Header12, const AnsiString& Passphrase, uint32_t CheckValue) {
  AbAssert(!Passphrase.empty(), "TAbZipEncryptEngine.CreateHeader: need a passphrase");
  ResetKeys(Passphrase);
  for (int i = 0; i < 10; ++i) Header12[i] = EncodeByte(RandomByte());
  ResetKeys(Passphrase);
  for (int i = 0; i < 10; ++i) Header12[i] = EncodeByte(Header12[i]);
  Header12[10] = EncodeByte(static_cast<uint8_t>(CheckValue >> 16));
  Header12[11] = EncodeByte(static_cast<uint8_t>(CheckValue >> 24));
  ready_ = true;
}

void TAbZipEncryptEngine::EncodeBuffer(void* Buffer, int32_t Count) {
  AbAssert(ready_, "TAbZipEncryptEngine.EncodeBuffer: must call CreateHeader first");
  uint8_t* p = static_cast<uint8_t*>(Buffer);
  for (int32_t i = 0; i < Count; ++i) p[i] = EncodeByte(p[i]);
}

// --- streams ---

TAbDfDecryptStream::TAbDfDecryptStream(TStream* Stream, const AnsiString& Passphrase, uint32_t CheckValue)
    : stream_(Stream), passphrase_(Passphrase), check_value_(CheckValue) {}

bool TAbDfDecryptStream::CheckHeader() {
  uint8_t header[12];
  stream_->ReadBuffer(header, 12);
  ready_ = engine_.VerifyHeader(header, passphrase_, check_value_);
  if (!ready_) stream_->Seek(-12, TSeekOrigin::soCurrent);
  return ready_;
}

int32_t TAbDfDecryptStream::Read(void* Buffer, int32_t Count) {
  AbAssert(ready_, "TAbDfDecryptStream.Read: the stream header has not been verified");
  const int32_t got = stream_->Read(Buffer, Count);
  if (got > 0) engine_.Decode(Buffer, got);
  return got;
}

int32_t TAbDfDecryptStream::Write(const void*, int32_t) {
  AbRaiseAssert("TAbDfDecryptStream.Write: the stream is read-only");
}

int64_t TAbDfDecryptStream::Seek(int64_t Offset, TSeekOrigin Origin) { return stream_->Seek(Offset, Origin); }

TAbDfEncryptStream::TAbDfEncryptStream(TStream* Stream, const AnsiString& Passphrase, uint32_t CheckValue)
    : stream_(Stream) {
  uint8_t header[12];
  engine_.CreateHeader(header, Passphrase, CheckValue);
  stream_->WriteBuffer(header, 12);
}

int32_t TAbDfEncryptStream::Read(void*, int32_t) {
  AbRaiseAssert("TAbDfEncryptStream.Read: the stream is write-only");
}

int32_t TAbDfEncryptStream::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  if (work_.size() < static_cast<size_t>(Count)) work_.resize(static_cast<size_t>(Count));
  std::memcpy(work_.data(), Buffer, static_cast<size_t>(Count));
  engine_.EncodeBuffer(work_.data(), Count);
  return stream_->Write(work_.data(), Count);
}

int64_t TAbDfEncryptStream::Seek(int64_t Offset, TSeekOrigin Origin) { return stream_->Seek(Offset, Origin); }

}  // namespace pelvar
