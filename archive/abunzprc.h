// Reading the data of one zip entry: extracting it into a stream or a file and
// testing it, with the traditional decryption and password requests; and the
// decoders of the three legacy methods of the format (shrink, reduce, implode).
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>

#include "archive/abarctyp.h"
#include "archive/abziptyp.h"
#include "platform/streams.h"

namespace pelvar {

// The extract-to-stream handler. The entry's data is written at OutStream's
// position. A CRC-32 that differs from the entry's is reported through the archive's
// item-failure handler (ptExtract, ecArchiveKit, 23) when one is assigned, otherwise
// raised as EAbZipBadCRC. Whenever the entry fails, what was written is cut off
// again when OutStream was at its end (a fresh memory or file stream is left empty).
void AbUnzipToStream(TAbZipArchive& Archive, TAbZipItem& Item, TStream& OutStream);

// The extract-to-file handler: UseName is placed under the archive's BaseDirectory
// by AbPrepareOutputPath (a refusal there extracts nothing). The data goes to a
// temporary file next to the target, which replaces the target only when the entry
// was read completely with the right CRC-32; every failure (a bad CRC included)
// removes the temporary file, leaves an existing target as it was, and propagates
// for the caller to report. A user abort also makes the archive invalid.
void AbUnzipToFile(TAbZipArchive& Archive, TAbZipItem& Item, const AnsiString& UseName);

// The test handler: the local header must agree with the central one (version
// needed, flag, time, date, name, and the CRC-32 and sizes unless flag bit 3 says
// that they follow the data), else EAbZipInvalidLFH; then the data is expanded
// without being kept and its CRC-32 checked as in AbUnzipToStream.
void AbTestZipItem(TAbZipArchive& Archive, TAbZipItem& Item);

// The per-method readers: each reads the entry's data from the archive stream
// (positioned at it) into OutStream and gives the CRC-32 of what it wrote.
// CheckValue is the check value of an encryption header.
uint32_t AbUnstoreItem(TAbZipArchive& Archive, TAbZipItem& Item, TStream& OutStream, uint32_t CheckValue);
uint32_t AbInflateItem(TAbZipArchive& Archive, TAbZipItem& Item, TStream& OutStream, uint32_t CheckValue);
uint32_t AbUnzipLegacyItem(TAbZipArchive& Archive, TAbZipItem& Item, TStream& OutStream, uint32_t CheckValue);

// Asks the archive's need-password handler: a non-empty answer becomes the
// archive's password, an empty one sets Abort. Without a handler nothing changes.
void AbNeedPassword(TAbZipArchive& Archive, bool& Abort);

// The traditional decryption of legacy entries.
class TAbZDecoder {
 public:
  TAbZDecoder(const AnsiString& Password, bool CheckByte, uint32_t CheckValue);
  virtual ~TAbZDecoder() = default;

  // Reads and checks the 12-byte header at the entry's data start, asking for
  // another password after each failed attempt (at most Retries attempts); none
  // accepted raises EAbZipInvalidPassword, an empty answer EAbUserAbort.
  void DecodeHeader(TStream& Stream, int64_t DataStart);
  void DecodeBuffer(uint8_t* Buffer, int32_t Count);
  // The handler when assigned; otherwise EAbZipInvalidPassword.
  virtual void DoNeedPassword(AnsiString& NewPassword);

  const AnsiString& Password() const { return password_; }
  int32_t Retries() const { return retries_; }
  void SetRetries(int32_t Value) { retries_ = std::clamp(Value, 1, 255); }
  std::function<void(AnsiString& NewPassword)> OnNeedPassword;

 private:
  void InitKeys();
  void UpdateKeys(uint8_t Plain);
  uint8_t DecryptByte() const;

  uint32_t keys_[3] = {};
  uint8_t header_[12] = {};
  uint32_t check_value_;
  bool check_byte_;
  AnsiString password_;
  int32_t retries_ = 3;
};

// Expands one entry of method 1 (shrink), 2 to 5 (reduce) or 6 (implode).
class TAbUnzipHelper {
 public:
  TAbUnzipHelper(TAbZipArchive& Archive, TStream& InputStream, TStream& OutputStream, TAbZDecoder* Decoder);
  virtual ~TAbUnzipHelper() = default;
  TAbUnzipHelper(const TAbUnzipHelper&) = delete;
  TAbUnzipHelper& operator=(const TAbUnzipHelper&) = delete;

  // Expands the entry and gives the CRC-32 of the output. Corrupt data raises
  // EAbZipInvalid, a method other than 1 to 6 EAbZipInvalidMethod.
  uint32_t Execute();

  virtual void DoProgress(uint8_t Progress, bool& Abort);

  uint32_t UncompressedSize = 0;
  uint32_t CompressedSize = 0;
  uint8_t CompressionMethod = 8;
  int32_t DictionarySize = 4096;
  int32_t ShannonFanoTreeCount = 2;
  bool Spanned = false;
  TAbProgressEvent OnProgress;

 private:
  // Input.
  void Refill();
  uint32_t ReadBits(int32_t Count);
  bool InputEnded() const { return input_ended_; }
  // Output.
  void PutByte(uint8_t Byte);
  void CopyBack(uint32_t Distance, uint32_t Length);
  void FlushOutput();
  bool OutputDone() const { return total_out_ >= UncompressedSize; }

  void Unshrink();
  void Unreduce();
  void Explode();

  TAbZipArchive& archive_;
  TStream* input_;
  TStream& output_;
  TAbZDecoder* decoder_;

  uint8_t in_buf_[4096];
  int32_t in_pos_ = 0;
  int32_t in_count_ = 0;
  int64_t bytes_left_ = 0;
  bool input_ended_ = false;
  uint32_t bit_buf_ = 0;
  int32_t bit_count_ = 0;

  static constexpr uint32_t kHistory = 65536;
  uint8_t out_buf_[32768];
  int32_t out_fill_ = 0;
  uint32_t total_out_ = 0;  // bytes produced (the history holds the last 64 KB)
  std::unique_ptr<uint8_t[]> history_;
  uint32_t crc_ = 0xFFFFFFFF;
  int32_t progress_ = -1;
};

}  // namespace pelvar
