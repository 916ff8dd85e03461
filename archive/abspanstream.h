// The archive file stream: a file stream that can continue on further volumes
// (numbered image files, or further disks of a removable drive) when writing reaches
// a size limit or the end of the medium, and when reading reaches the end of a volume.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/classes.h"
#include "platform/streams.h"

namespace pelvar {

enum TAbSpanMode : uint8_t { smReading = 0, smWriting = 1 };
enum TAbMediaType : uint8_t { mtRemoveable = 0, mtLocal = 1 };

// Asks for the name of volume ImageNumber; Cancelled stops the operation.
using TAbRequestImageHandler =
    std::function<void(TObject* Sender, int32_t ImageNumber, bool& Cancelled, AnsiString& ImageName)>;
// Progress of a write in percent of the total size; Abort makes the write fail.
using TAbWriteProgressHandler = std::function<void(uint8_t Progress, bool& Abort)>;

class TAbSpanStream : public TStream, public TObject {
 public:
  // The file mode that creates the volume file.
  static constexpr uint16_t kCreateMode = 0xFFFF;

  // FileName must be a full path, else EAbException "Full Path Required". Writing
  // when Mode creates (0xFFFF or fmCreate) or has its write bit, reading otherwise.
  TAbSpanStream(const AnsiString& FileName, int32_t Threshold, TAbMediaType MediaType,
                uint16_t Mode);
  ~TAbSpanStream() override;

  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  // The size of the current volume.
  int64_t Size() override;
  void SetSize(int64_t NewSize) override;

  // Closes the current volume and starts the next one while writing.
  void NextVolume();
  // Moves to the next volume for the archive (the zip save): in writing mode through
  // NextVolume; in reading mode the named volume must exist.
  void GotoNextVolume();
  // Closes the current volume (the stream holds none until the next one is opened).
  void ReleaseVolume();

  TAbSpanMode SpanMode() const { return span_mode_; }
  TAbMediaType MediaType() const { return media_type_; }
  int32_t Threshold() const { return threshold_; }
  int32_t SpanNumber() const { return span_number_; }
  // The number of the volume now open, for a reader that opened a later volume of a
  // set directly; reading on asks for the volumes after it.
  void SetSpanNumber(int32_t Value) { span_number_ = Value; }
  const AnsiString& ImageName() const { return image_name_; }
  bool Cancelled() const { return cancelled_; }
  int64_t BytesWritten() const { return bytes_written_; }
  int32_t BytesAvail() const { return bytes_avail_; }
  uint16_t FileMode() const { return file_mode_; }
  bool IgnoreSpanning() const { return ignore_spanning_; }
  void SetIgnoreSpanning(bool Value) { ignore_spanning_ = Value; }
  bool InCharge() const { return in_charge_; }
  int64_t TotalBytesWritten() const { return total_written_; }
  int32_t ArchiveTotalSize() const { return total_size_; }
  void SetArchiveTotalSize(int32_t Value) { total_size_ = Value; }
  // Bytes that still fit on the current volume.
  int64_t SpaceLeft();

  TAbRequestImageHandler OnRequestImage;
  TAbWriteProgressHandler OnArchiveProgress;

 private:
  // Examines the medium of Name: the bytes available and whether it can be used.
  bool MediaUsable(const AnsiString& Name);
  void OpenVolume(const AnsiString& Name, uint16_t Mode);
  // Asks the handler for the name of the volume Number; false when none is given.
  bool RequestImage(int32_t Number, AnsiString& Name);
  // Reading: closes the volume at its end and opens the next one the handler names.
  bool AdvanceReadVolume();
  int32_t WriteToVolume(const uint8_t* Buffer, int32_t Count);

  TAbSpanMode span_mode_;
  TAbMediaType media_type_;
  int32_t threshold_;
  int32_t span_number_ = 0;
  AnsiString image_name_;
  bool cancelled_ = false;
  int64_t bytes_written_ = 0;
  int32_t bytes_avail_ = -1;
  std::unique_ptr<TFileStream> volume_;
  uint16_t file_mode_;
  bool ignore_spanning_ = false;
  bool in_charge_ = false;
  int64_t total_written_ = 0;
  int32_t total_size_ = 0;
};

}  // namespace pelvar
