// What the deflate encoder and the inflate decoder share: the option object with its
// presets by letter, the two running checksums, a write-only log stream and a
// fixed-size node allocator.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "archive/abexcept.h"
#include "platform/streams.h"

namespace pelvar {

// Bits of TAbDeflateHelper::Options.
constexpr uint32_t dfc_CanUseStored = 0x01;
constexpr uint32_t dfc_CanUseStatic = 0x02;
constexpr uint32_t dfc_CanUseDynamic = 0x04;
constexpr uint32_t dfc_UseLazy = 0x08;
constexpr uint32_t dfc_UseDeflate64 = 0x10;
constexpr uint32_t dfc_UseAdler32 = 0x20;
constexpr uint32_t dfc_TestOnly = 0x40000000;

// Progress of a codec run in percent.
using TAbProgressStep = std::function<void(int32_t Percent)>;

class TAbDeflateHelper {
 public:
  TAbDeflateHelper() = default;
  void CopyFrom(const TAbDeflateHelper& Other) { *this = Other; }

  int32_t SufficientMatch() const { return sufficient_match_; }
  void SetSufficientMatch(int32_t Value);
  int32_t MaxChainSteps() const { return max_chain_steps_; }
  void SetMaxChainSteps(int32_t Value);
  int32_t LazyLimit() const { return lazy_limit_; }
  void SetLazyLimit(int32_t Value);
  uint32_t Checksum() const { return checksum_; }
  void SetChecksum(uint32_t Value) { checksum_ = Value; }
  const AnsiString& LogFileName() const { return log_file_name_; }
  void SetLogFileName(const AnsiString& Value) { log_file_name_ = Value; }
  const TAbProgressStep& OnStepProgress() const { return on_step_progress_; }
  void SetOnStepProgress(TAbProgressStep Value) { on_step_progress_ = std::move(Value); }
  uint32_t Options() const { return options_; }
  void SetOptions(uint32_t Value);
  uint32_t PartialLimit() const { return partial_limit_; }
  void SetPartialLimit(uint32_t Value) { partial_limit_ = Value; }
  const AnsiString& Passphrase() const { return passphrase_; }
  void SetPassphrase(const AnsiString& Value) { passphrase_ = Value; }
  int32_t CompressedCount() const { return compressed_count_; }
  void SetCompressedCount(int32_t Value) { compressed_count_ = Value; }
  int32_t UncompressedCount() const { return uncompressed_count_; }
  void SetUncompressedCount(int32_t Value) { uncompressed_count_ = Value; }
  int32_t InputSize() const { return input_size_; }
  void SetInputSize(int32_t Value) { input_size_ = Value; }
  uint32_t HistorySize() const { return history_size_; }
  void SetHistorySize(uint32_t Value) { history_size_ = Value; }
  char PresetLetter() const { return preset_letter_; }
  // '0', '2', 'f', 'n', 's', 'x' (upper case accepted); other letters are ignored.
  void SetPresetLetter(char Value);

 private:
  int32_t sufficient_match_ = 8;
  int32_t max_chain_steps_ = 32;
  uint32_t checksum_ = 0xFFFFFFFF;
  AnsiString log_file_name_;
  int32_t lazy_limit_ = 16;
  TAbProgressStep on_step_progress_;
  uint32_t options_ = 15;
  uint32_t partial_limit_ = 0;
  AnsiString passphrase_;
  int32_t compressed_count_ = 0;
  int32_t uncompressed_count_ = 0;
  int32_t input_size_ = 0;
  uint32_t history_size_ = 32768;
  char preset_letter_ = 'n';
};

// Running checksums; the caller presets and finishes them.
void AbCrc32Buffer(uint32_t& Crc, const void* Buffer, int64_t Count);
void AbAdler32Buffer(uint32_t& Adler, const void* Buffer, int64_t Count);

// A write-only log stream on a file created (or truncated) on the given name.
class TAbLogger : public TStream {
 public:
  explicit TAbLogger(const AnsiString& FileName);
  ~TAbLogger() override;
  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  // Only Seek(0, current) and Seek(0, end) are allowed: the logical file position.
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  void LogLine(const AnsiString& Text);
  // Writes the buffer; false when not all of it was written (the rest stays).
  bool FlushBuffer();
  // 0 CR LF (default), 1 LF, anything else none.
  int LineDelimiter() const { return line_delimiter_; }
  void SetLineDelimiter(int Value) { line_delimiter_ = Value; }

 private:
  std::unique_ptr<TFileStream> file_;
  uint8_t buffer_[4096];
  int32_t fill_ = 0;
  int line_delimiter_ = 0;
};

// Hands out fixed-size nodes from pages; all are freed together with the manager.
class TAbNodeManager {
 public:
  explicit TAbNodeManager(int32_t NodeSize);
  ~TAbNodeManager();
  TAbNodeManager(const TAbNodeManager&) = delete;
  TAbNodeManager& operator=(const TAbNodeManager&) = delete;
  // A node of NodeSize bytes (uninitialised).
  void* NewNode();
  int32_t NodeSize() const { return node_size_; }

 private:
  int32_t node_size_;
  int32_t nodes_per_page_;
  size_t page_size_;
  std::vector<std::unique_ptr<uint8_t[]>> pages_;
  void* free_list_ = nullptr;
};

}  // namespace pelvar
