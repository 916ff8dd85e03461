// Zip archives: the records of the zip format (local and central file headers, data
// descriptor, end record, spanning marker; all fields little-endian) and
// TAbZipArchive, which loads the central directory and rewrites the whole file on a
// save. Moving an entry's data in or out is left to the processing handlers that the
// zip component installs.
//
// Names. An item's stored name is kept in its header as the archive holds it: in the
// OEM code page 852, or in UTF-8 when the entry's flag bit 11 says so. FileName()
// gives and SetFileName() takes the ANSI (Windows-1250) form; the local and the
// central header carry the same stored bytes (RawFileName()). Disk file names stay
// ANSI paths.
//
// Limits. The format's sizes and offsets are 32-bit and its counts 16-bit; Zip64 is
// not supported. Loading a Zip64 archive and saving an archive beyond those limits
// fail with EAbZipException before anything is written.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "archive/abarctyp.h"
#include "platform/streams.h"

namespace pelvar {

constexpr uint32_t Ab_ZipLocalFileHeaderSignature = 0x04034B50;
constexpr uint32_t Ab_ZipCentralDirectoryFileHeaderSignature = 0x02014B50;
constexpr uint32_t Ab_ZipEndCentralDirectorySignature = 0x06054B50;
constexpr uint32_t Ab_ZipSpannedSetSignature = 0x08074B50;
constexpr uint32_t Ab_ZipPossiblySpannedSignature = 0x30304B50;
constexpr uint32_t Ab_Zip64EndLocatorSignature = 0x07064B50;
constexpr uint32_t Ab_Zip64EndRecordSignature = 0x06064B50;

constexpr int32_t AbZipTypeOf = 1;
constexpr int32_t AbSpannedZipTypeOf = 2;
constexpr int32_t AbSelfExtractingZipTypeOf = 3;

// Flag bit 11: the name and comment are UTF-8.
constexpr uint16_t AbZipFlagUtf8 = 0x0800;
constexpr uint16_t AbNoDisk = 0xFFFF;

enum TAbZipSupportedMethod : uint8_t { smStored = 0, smDeflated = 1, smBestMethod = 2 };
enum TAbZipDeflationOption : uint8_t { doInvalid = 0, doNormal = 1, doMaximum = 2, doFast = 3, doSuperFast = 4 };

// The common part of the local and the central file header.
class TAbZipFileHeader {
 public:
  explicit TAbZipFileHeader(uint32_t ValidSignature) : ValidSignature(ValidSignature) {}
  virtual ~TAbZipFileHeader() = default;

  bool IsValid() const { return Signature == ValidSignature; }
  bool IsEncrypted() const { return (GeneralPurposeBitFlag & 1) != 0; }
  // For method 6 (implode) only: 8192 or 4096; 0 for other methods.
  int32_t DictionarySize() const;
  // For method 6 only: 3 or 2; 0 for other methods.
  int32_t ShannonFanoTreeCount() const;
  uint16_t FileNameLength() const { return static_cast<uint16_t>(FileName.size()); }
  uint16_t ExtraFieldLength() const { return static_cast<uint16_t>(ExtraField.size()); }

  const uint32_t ValidSignature;
  uint32_t Signature = 0;
  uint16_t VersionNeededToExtract = 0;
  uint16_t GeneralPurposeBitFlag = 0;
  uint16_t CompressionMethod = 0;
  uint16_t LastModFileTime = 0;
  uint16_t LastModFileDate = 0;
  uint32_t CRC32 = 0;
  uint32_t CompressedSize = 0;
  uint32_t UncompressedSize = 0;
  AnsiString FileName;  // the stored bytes
  AnsiString ExtraField;
};

class TAbZipLocalFileHeader : public TAbZipFileHeader {
 public:
  TAbZipLocalFileHeader() : TAbZipFileHeader(Ab_ZipLocalFileHeaderSignature) {}
  // A wrong signature or a record cut short: EAbZipInvalid.
  void LoadFromStream(TStream& Stream);
  // A name or extra field longer than 65,535 bytes: EAbZipException.
  void SaveToStream(TStream& Stream) const;
  int64_t RecordSize() const { return 30 + static_cast<int64_t>(FileName.size() + ExtraField.size()); }
};

class TAbZipDirectoryFileHeader : public TAbZipFileHeader {
 public:
  TAbZipDirectoryFileHeader() : TAbZipFileHeader(Ab_ZipCentralDirectoryFileHeaderSignature) {}
  void LoadFromStream(TStream& Stream);
  void SaveToStream(TStream& Stream) const;
  int64_t RecordSize() const {
    return 46 + static_cast<int64_t>(FileName.size() + ExtraField.size() + FileComment.size());
  }

  uint16_t VersionMadeBy = 0;
  uint16_t DiskNumberStart = 0;
  uint16_t InternalFileAttributes = 0;
  uint32_t ExternalFileAttributes = 0;
  uint32_t RelativeOffset = 0;
  AnsiString FileComment;
};

// The end of central directory record.
class TAbZipDirectoryFileFooter {
 public:
  void LoadFromStream(TStream& Stream);
  void SaveToStream(TStream& Stream) const;
  bool IsValid() const { return Signature == Ab_ZipEndCentralDirectorySignature; }
  int64_t RecordSize() const { return 22 + static_cast<int64_t>(ZipfileComment.size()); }

  uint32_t Signature = 0;
  uint16_t DiskNumber = 0;
  uint16_t StartDiskNumber = 0;
  uint16_t EntriesOnDisk = 0;
  uint16_t TotalEntries = 0;
  uint32_t DirectorySize = 0;
  uint32_t DirectoryOffset = 0;
  AnsiString ZipfileComment;
};

// CRC-32 and both sizes, written without a signature (12 bytes).
class TAbZipDataDescriptor {
 public:
  void SaveToStream(TStream& Stream) const;
  uint32_t CRC32 = 0;
  uint32_t CompressedSize = 0;
  uint32_t UncompressedSize = 0;
};

class TAbZipItem : public TAbArchiveItem {
 public:
  TAbZipItem() = default;

  // Reads a central header; name, time and date come from it, action none.
  void LoadFromStream(TStream& Stream);
  // The local header: the central header's values and the same stored name.
  void SaveLFHToStream(TStream& Stream) const;
  void SaveCDHToStream(TStream& Stream) const;
  void SaveDDToStream(TStream& Stream) const;

  int32_t GetCompressedSize() const override { return static_cast<int32_t>(header_.CompressedSize); }
  uint32_t GetCRC32() const override { return header_.CRC32; }
  uint32_t GetExternalFileAttributes() const override { return header_.ExternalFileAttributes; }
  AnsiString GetFileName() const override;
  bool GetIsEncrypted() const override { return header_.IsEncrypted(); }
  uint16_t GetLastModFileDate() const override { return header_.LastModFileDate; }
  uint16_t GetLastModFileTime() const override { return header_.LastModFileTime; }
  int32_t GetUncompressedSize() const override { return static_cast<int32_t>(header_.UncompressedSize); }
  void SetCompressedSize(int32_t Value) override;
  void SetCRC32(uint32_t Value) override;
  void SetExternalFileAttributes(uint32_t Value) override;
  // Takes the ANSI name and stores it in the entry's encoding.
  void SetFileName(const AnsiString& Value) override;
  void SetIsEncrypted(bool Value) override;
  void SetLastModFileDate(uint16_t Value) override;
  void SetLastModFileTime(uint16_t Value) override;
  void SetUncompressedSize(int32_t Value) override;

  // The stored name bytes (OEM, or UTF-8 with flag bit 11).
  const AnsiString& RawFileName() const { return header_.FileName; }
  void SetRawFileName(const AnsiString& Value);

  uint16_t CompressionMethod() const { return header_.CompressionMethod; }
  void SetCompressionMethod(uint16_t Value) { header_.CompressionMethod = Value; }
  uint16_t GeneralPurposeBitFlag() const { return header_.GeneralPurposeBitFlag; }
  void SetGeneralPurposeBitFlag(uint16_t Value) { header_.GeneralPurposeBitFlag = Value; }
  uint16_t DiskNumberStart() const { return header_.DiskNumberStart; }
  void SetDiskNumberStart(uint16_t Value) { header_.DiskNumberStart = Value; }
  uint32_t RelativeOffset() const { return header_.RelativeOffset; }
  void SetRelativeOffset(uint32_t Value) { header_.RelativeOffset = Value; }
  uint16_t VersionNeededToExtract() const { return header_.VersionNeededToExtract; }
  void SetVersionNeededToExtract(uint16_t Value) { header_.VersionNeededToExtract = Value; }
  uint16_t VersionMadeBy() const { return header_.VersionMadeBy; }
  void SetVersionMadeBy(uint16_t Value) { header_.VersionMadeBy = Value; }
  const AnsiString& ExtraField() const { return header_.ExtraField; }
  void SetExtraField(const AnsiString& Value) { header_.ExtraField = Value; }
  uint16_t InternalFileAttributes() const { return header_.InternalFileAttributes; }
  void SetInternalFileAttributes(uint16_t Value) { header_.InternalFileAttributes = Value; }
  const AnsiString& FileComment() const { return header_.FileComment; }
  void SetFileComment(const AnsiString& Value) { header_.FileComment = Value; }
  // The sizes as the format holds them (unsigned 32-bit).
  uint32_t CompressedSize32() const { return header_.CompressedSize; }
  void SetCompressedSize32(uint32_t Value) { header_.CompressedSize = Value; }
  uint32_t UncompressedSize32() const { return header_.UncompressedSize; }
  void SetUncompressedSize32(uint32_t Value) { header_.UncompressedSize = Value; }

  const TAbZipDirectoryFileHeader& Header() const { return header_; }
  TAbZipDirectoryFileHeader& Header() { return header_; }

 private:
  TAbZipDirectoryFileHeader header_;
};

class TAbZipArchive;

// The processing handlers that move an entry's data (installed by the zip component).
using TAbZipInsertFromFileHandler = std::function<void(TAbZipArchive& Archive, TAbZipItem& Item, TStream& OutStream)>;
using TAbZipInsertFromStreamHandler =
    std::function<void(TAbZipArchive& Archive, TAbZipItem& Item, TStream& OutStream, TStream* InStream)>;
using TAbZipExtractHandler = std::function<void(TAbZipArchive& Archive, TAbZipItem& Item, const AnsiString& UseName)>;
using TAbZipExtractToStreamHandler = std::function<void(TAbZipArchive& Archive, TAbZipItem& Item, TStream& OutStream)>;
using TAbZipTestHandler = std::function<void(TAbZipArchive& Archive, TAbZipItem& Item)>;

using TAbNeedPasswordEvent = std::function<void(TObject* Sender, AnsiString& NewPassword)>;
using TAbRequestDiskEvent = std::function<void(TObject* Sender, bool& Abort)>;
using TAbRequestNthDiskEvent = std::function<void(TObject* Sender, uint8_t DiskNumber, bool& Abort)>;

// The position of the end record (the stream then stands there), or -1 (the stream
// back where it was). A span stream's spanning is switched off for the search and
// stays off after a success.
int64_t AbFindEndRecord(TStream& Stream);
// 0 not a zip, 1 a zip, 2 the first volume of a spanned zip; the position is kept.
int32_t AbZipKindOf(TStream& Stream);
// 3 for a program file ("MZ" or ELF) with a zip after it, else 0; the position is kept.
int32_t AbSelfExtractingKindOf(TStream& Stream);

class TAbZipArchive : public TAbArchive {
 public:
  TAbZipArchive(const AnsiString& FileName, uint16_t Mode);

  std::unique_ptr<TAbArchiveItem> CreateItem(const AnsiString& FileName) override;
  void ExtractItemAt(int32_t Index, const AnsiString& UseName) override;
  void ExtractItemToStreamAt(int32_t Index, TStream& Stream) override;
  void TestItemAt(int32_t Index) override;
  AnsiString FixName(const AnsiString& Name) override;
  void DoSpanningMediaRequest(TObject* Sender, int32_t ImageNumber, AnsiString& ImageName, bool& Abort) override;

  virtual void DoRequestLastDisk(bool& Abort);
  virtual void DoRequestNthDisk(int32_t DiskNumber, bool& Abort);
  virtual void DoRequestBlankDisk(bool& Abort);

  // Makes the volume with DiskNumber (-1: the last one, the one with the end record)
  // the archive stream for reading. An aborted request raises EAbUserAbort, a
  // missing volume file EAbFileNotFound.
  void OpenVolume(int32_t DiskNumber);

  // The archive comment; setting it marks the archive dirty.
  const AnsiString& ZipfileComment() const { return footer_.ZipfileComment; }
  void SetZipfileComment(const AnsiString& Value);
  const TAbZipDirectoryFileFooter& InfoFooter() const { return footer_; }

  TAbZipItem* ZipItems(int32_t Index) const { return static_cast<TAbZipItem*>(Items(Index)); }

  TAbZipSupportedMethod CompressionMethodToUse() const { return compression_method_to_use_; }
  void SetCompressionMethodToUse(TAbZipSupportedMethod Value) { compression_method_to_use_ = Value; }
  TAbZipDeflationOption DeflationOption() const { return deflation_option_; }
  void SetDeflationOption(TAbZipDeflationOption Value) { deflation_option_ = Value; }
  // An aborted extraction leaves the archive unusable until it is opened again.
  void MarkInvalid() { SetStatus(asInvalid); }

  const AnsiString& Password() const { return password_; }
  void SetPassword(const AnsiString& Value) { password_ = Value; }
  uint8_t PasswordRetries() const { return password_retries_; }
  void SetPasswordRetries(uint8_t Value) { password_retries_ = Value; }
  uint16_t CurrentDisk() const { return current_disk_; }
  void SetCurrentDisk(uint16_t Value) { current_disk_ = Value; }
  bool DriveIsRemovable() const { return drive_is_removable_; }
  bool AutoNamedVolumes() const { return auto_named_volumes_; }

  TAbZipExtractHandler ExtractHelper;
  TAbZipExtractToStreamHandler ExtractToStreamHelper;
  TAbZipTestHandler TestHelper;
  TAbZipInsertFromFileHandler InsertHelper;
  TAbZipInsertFromStreamHandler InsertFromStreamHelper;

  TAbNeedPasswordEvent OnNeedPassword;
  TAbRequestDiskEvent OnRequestLastDisk;
  TAbRequestNthDiskEvent OnRequestNthDisk;
  TAbRequestDiskEvent OnRequestBlankDisk;

 protected:
  void LoadArchive() override;
  void SaveArchive() override;

 private:
  // A read stream on Name for the archive (media as the archive's drive).
  std::unique_ptr<TAbSpanStream> OpenReadStream(const AnsiString& Name, bool Spanning);
  void ReplaceStream(std::unique_ptr<TAbSpanStream> Stream);
  AnsiString SwapDirectory() const;

  TAbZipSupportedMethod compression_method_to_use_ = smBestMethod;
  uint16_t current_disk_ = AbNoDisk;
  TAbZipDeflationOption deflation_option_ = doNormal;
  bool drive_is_removable_ = false;
  TAbZipDirectoryFileFooter footer_;
  AnsiString password_;
  uint8_t password_retries_ = 3;
  bool auto_named_volumes_ = false;
  // The archive file itself is the last volume of its set and holds the end record;
  // the volumes before it are numbered from 1 (the disk number plus one).
  bool last_volume_is_archive_ = false;
  // The file of a volume of the set being read.
  AnsiString VolumeNameOf(int32_t DiskNumber) const;
};

}  // namespace pelvar
