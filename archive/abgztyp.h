// Gzip archives (RFC 1952): one member holding one file, or a tar archive whose
// items the archive shows instead ("tar view").
#pragma once

#include <cstdint>
#include <memory>

#include "archive/abarctyp.h"
#include "archive/abtartyp.h"
#include "archive/abvmstream.h"
#include "platform/streams.h"

namespace pelvar {

constexpr int32_t AbGzipTypeOf = 5;
constexpr int32_t AbGzipTarTypeOf = 6;

// Bits of the member header's FLG byte.
constexpr uint8_t AbGzipFlagText = 0x01;
constexpr uint8_t AbGzipFlagHeaderCrc = 0x02;
constexpr uint8_t AbGzipFlagExtra = 0x04;
constexpr uint8_t AbGzipFlagName = 0x08;
constexpr uint8_t AbGzipFlagComment = 0x10;

// The first three header bytes are 31, 139, 8 (deflate).
bool AbGzipHeaderOk(const uint8_t* Header, int32_t Length);
// 0 when the stream does not start with a gzip member, 6 when the first 512 bytes
// of the member's data form a tar header, 5 otherwise. The position is restored.
int32_t AbGzipKindOf(TStream& Stream);

class TAbGzipItem : public TAbArchiveItem {
 public:
  TAbGzipItem();

  // Reads a member header with its optional fields at Stream's position (which
  // then stands at the member's data). A missing name reads as "unknown"; a header
  // that is not a gzip header or is cut short raises EAbGzipInvalid.
  void LoadFromStream(TStream& Stream);
  // Writes the member header in one write: FLG rebuilt from the item (never FHCRC).
  void SaveToStream(TStream& Stream) const;

  uint32_t GetExternalFileAttributes() const override { return 0; }
  void SetExternalFileAttributes(uint32_t) override {}
  bool GetIsEncrypted() const override { return false; }
  void SetIsEncrypted(bool) override {}
  uint16_t GetLastModFileDate() const override;
  uint16_t GetLastModFileTime() const override;
  void SetLastModFileDate(uint16_t Value) override;
  void SetLastModFileTime(uint16_t Value) override;
  // Sets MTIME from a DOS date-time (date in the high 16 bits).
  void SetLastModDateTime(int32_t Stamp);

  uint8_t Flags() const { return flags_; }
  bool IsText() const { return (flags_ & AbGzipFlagText) != 0; }
  void SetIsText(bool Value);
  uint32_t ModTime() const { return mtime_; }
  void SetModTime(uint32_t Value) { mtime_ = Value; }
  uint8_t ExtraFlags() const { return xfl_; }
  uint8_t OS() const { return os_; }
  const AnsiString& ExtraField() const { return extra_field_; }
  void SetExtraField(const AnsiString& Value) { extra_field_ = Value; }
  const AnsiString& FileComment() const { return comment_; }
  void SetFileComment(const AnsiString& Value) { comment_ = Value; }

 private:
  int32_t DosStamp() const;

  uint8_t flags_ = 0;
  uint32_t mtime_ = 0;
  uint8_t xfl_ = 2;
  uint8_t os_ = 0;
  AnsiString extra_field_;
  AnsiString comment_;
};

class TAbGzipStreamHelper : public TAbArchiveStreamHelper {
 public:
  explicit TAbGzipStreamHelper(TStream* AStream);

  // From the stream's start: reads the member header and expands the member into
  // Stream (only tested when Stream is a bit-bucket stream); the item receives the
  // CRC-32 and the number of bytes expanded.
  void CopyItemData(TStream& Stream) override;
  bool SeekFirstItem() override;
  bool SeekNextItem() override { return false; }
  void LoadHeader() override;
  // Reads the 8-byte tail at the current position.
  void LoadTail() override;
  bool SeekItem(int32_t Number) override;
  void StoreHeader() override;
  // Compresses Stream from its position to its end; records its CRC-32 and size.
  void StoreItemData(TStream& Stream) override;
  // Writes the recorded CRC-32 and size.
  void StoreTail() override;
  int32_t CountItems() override { return 1; }

  // Expands the member whose data starts at the current position into Stream;
  // gives the CRC-32 and the count (modulo 2^32) of the bytes expanded.
  uint32_t ExpandData(TStream& Stream, uint32_t& Count);

  TAbGzipItem& Item() { return *item_; }
  uint32_t TailCRC32() const { return tail_crc_; }
  uint32_t TailSize() const { return tail_size_; }
  uint32_t StoredCRC32() const { return stored_crc_; }
  uint32_t StoredSize() const { return stored_size_; }

 private:
  std::unique_ptr<TAbGzipItem> item_;
  uint32_t tail_crc_ = 0;
  uint32_t tail_size_ = 0;
  uint32_t stored_crc_ = 0;
  uint32_t stored_size_ = 0;
};

class TAbGzipArchive : public TAbTarArchive {
 public:
  TAbGzipArchive(const AnsiString& FileName, uint16_t Mode);
  ~TAbGzipArchive() override;

  // In the gzip view an archive holds one file: adding a second raises
  // EAbGzipException (a tar inside the gzip takes several).
  void Add(std::unique_ptr<TAbArchiveItem> Item) override;
  std::unique_ptr<TAbArchiveItem> CreateItem(const AnsiString& FileName) override;
  void ExtractItemAt(int32_t Index, const AnsiString& UseName) override;
  void ExtractItemToStreamAt(int32_t Index, TStream& Stream) override;
  void TestItemAt(int32_t Index) override;
  AnsiString FixName(const AnsiString& Name) override;
  // Another volume is never asked for: the request is answered without abort.
  void DoSpanningMediaRequest(TObject* Sender, int32_t ImageNumber, AnsiString& ImageName, bool& Abort) override;

  bool HoldsTar() const { return holds_tar_; }
  void SetHoldsTar(bool Value) { holds_tar_ = Value; }
  bool AutoOpenTar() const { return auto_open_tar_; }
  // False shows the gzip view, True the tar view.
  void SetAutoOpenTar(bool Value);
  bool IsTarView() const { return tar_view_; }
  // The gzip file's stream (the archive stream of the gzip view).
  TStream* GzipStream() const { return gzip_stream_.get(); }
  TAbVirtualMemoryStream* TarStream() const { return tar_stream_.get(); }

 protected:
  void LoadArchive() override;
  void SaveArchive() override;
  void ReplaceArchiveFile(TStream& Content) override;

 private:
  bool AsTar() const { return holds_tar_ && auto_open_tar_; }
  void ShowView(bool Tar);
  // Expands every member of the gzip file into Stream, checking each member's CRC-32
  // and size against its tail.
  void ExpandFile(TStream& Stream);
  void SaveGzipView();
  void SaveTarInside();
  void WriteGzipFile(TStream& Content);

  std::unique_ptr<TStream> gzip_stream_;
  std::unique_ptr<TAbVirtualMemoryStream> tar_stream_;
  // The item list of the view not shown.
  std::unique_ptr<TAbArchiveList> hidden_list_;
  bool tar_view_ = false;
  bool holds_tar_ = false;
  bool auto_open_tar_ = false;
  bool tar_loaded_ = false;
};

}  // namespace pelvar
