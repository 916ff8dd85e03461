// The traditional (PKWARE) encryption of a compressed stream: the key engines and
// the read-only decrypting and write-only encrypting streams over another stream.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/streams.h"

namespace pelvar {

class TAbZipDecryptEngine {
 public:
  void ResetKeys(const AnsiString& Passphrase);
  // Decrypts the 12-byte header; accepted when its last byte equals bits 24-31 of
  // CheckValue. Only then the engine is ready to decode data.
  bool VerifyHeader(const uint8_t* Header12, const AnsiString& Passphrase, uint32_t CheckValue);
  void Decode(void* Buffer, int32_t Count);
  bool Ready() const { return ready_; }

 private:
  void UpdateKeys(uint8_t plain);
  uint8_t DecryptByte() const;
  bool ready_ = false;
  uint32_t keys_[3] = {};
};

class TAbZipEncryptEngine {
 public:
  void ResetKeys(const AnsiString& Passphrase);
  void CreateHeader(uint8_t* Header12, const AnsiString& Passphrase, uint32_t CheckValue);
  void EncodeBuffer(void* Buffer, int32_t Count);
  bool Ready() const { return ready_; }

 private:
  uint8_t EncodeByte(uint8_t plain);
  bool ready_ = false;
  uint32_t keys_[3] = {};
};

// Reads and decrypts the wrapped stream (not owned) once CheckHeader succeeded.
class TAbDfDecryptStream : public TStream {
 public:
  TAbDfDecryptStream(TStream* Stream, const AnsiString& Passphrase, uint32_t CheckValue);
  // Reads the 12-byte header and verifies it; on failure the wrapped stream goes back
  // by 12 bytes and the stream stays not ready.
  bool CheckHeader();
  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  bool Ready() const { return ready_; }

 private:
  TStream* stream_;
  AnsiString passphrase_;
  uint32_t check_value_;
  TAbZipDecryptEngine engine_;
  bool ready_ = false;
};

// Encrypts what is written and passes it to the wrapped stream (not owned); the
// 12-byte header is written at creation.
class TAbDfEncryptStream : public TStream {
 public:
  TAbDfEncryptStream(TStream* Stream, const AnsiString& Passphrase, uint32_t CheckValue);
  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;

 private:
  TStream* stream_;
  TAbZipEncryptEngine engine_;
  std::vector<uint8_t> work_;
};

}  // namespace pelvar
