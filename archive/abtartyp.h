// Tar archives: POSIX ustar header blocks in the old GNU form ("ustar  "), each
// item's data padded with zeros to whole 512-byte blocks, one zero block at the end.
#pragma once

#include <cstdint>
#include <memory>

#include "archive/abarctyp.h"
#include "platform/streams.h"

namespace pelvar {

constexpr int32_t AbTarRecordSize = 512;
// The part of a header block that the kit fills; the rest is written as zeros.
constexpr int32_t AbTarHeaderSize = 345;
constexpr int32_t AbTarTypeOf = 4;

// The first 345 bytes of a tar header block.
struct TAbTarHeaderRec {
  char Name[100];
  char Mode[8];
  char uid[8];
  char gid[8];
  char Size[12];
  char ModTime[12];
  char ChkSum[8];
  char LinkFlag;
  char LinkName[100];
  char Magic[8];
  char UsrName[32];
  char GrpName[32];
  char DevMajor[8];
  char DevMinor[8];
};
static_assert(sizeof(TAbTarHeaderRec) == AbTarHeaderSize, "tar header layout");

// Widest texts the name, user and group fields hold (a zero byte follows them). A
// longer name is written in a GNU long-name entry ('L') before the header, whose
// name field keeps the first 99 characters; names up to 65,535 characters.
constexpr size_t AbTarMaxName = sizeof(TAbTarHeaderRec::Name) - 1;
constexpr size_t AbTarMaxLongName = 65535;
constexpr size_t AbTarMaxUserName = sizeof(TAbTarHeaderRec::UsrName) - 1;

// Octal text as the kit writes it: the digits without leading zeros, one blank
// after them, blanks in front up to Width, no zero byte. A value that does not fit
// (or is negative) raises EAbException; nothing is written past the field.
void AbPadOctalField(char* Field, int32_t Width, int64_t Value);
// Leading blanks skipped, then octal digits up to the first other character; a
// field of blanks only is 0.
int64_t AbOctalValue(const char* Field, int32_t Width);
// The sum of the header block's bytes as unsigned values with the checksum field
// counted as eight blanks. Block holds Length bytes (345 or 512).
uint32_t AbTarHeaderSum(const uint8_t* Block, int32_t Length);
// The checksum of a whole 512-byte header block is filled in and matches its
// bytes (summed as unsigned values, or as signed ones as some old writers did).
bool AbTarBlockSumOk(const uint8_t* Block);
// The magic field reads "ustar  " or "GNUtar " up to its first zero byte.
bool AbTarMagicOk(const TAbTarHeaderRec& Header);
// 4 when the header block at Stream's position has a matching checksum or a known
// magic, otherwise 0. The position is left unchanged.
int32_t AbTarKindOf(TStream& Stream);
inline int64_t AbRoundTo512(int64_t Value) { return (Value + 511) / 512 * 512; }

class TAbTarItem : public TAbArchiveItem {
 public:
  TAbTarItem();

  // Reads a header block at Stream's position and steps back to it.
  void LoadFromStream(TStream& Stream);

  int32_t GetCompressedSize() const override;
  uint32_t GetCRC32() const override { return 0; }
  uint32_t GetExternalFileAttributes() const override { return mode_; }
  bool GetIsEncrypted() const override { return false; }
  uint16_t GetLastModFileDate() const override;
  uint16_t GetLastModFileTime() const override;
  int32_t GetUncompressedSize() const override;
  void SetCompressedSize(int32_t Value) override { size_ = Value; }
  void SetCRC32(uint32_t) override {}
  void SetExternalFileAttributes(uint32_t Value) override { mode_ = Value; }
  void SetIsEncrypted(bool) override {}
  void SetLastModFileDate(uint16_t Value) override;
  void SetLastModFileTime(uint16_t Value) override;
  void SetUncompressedSize(int32_t Value) override { size_ = Value; }

  int64_t Size() const { return size_; }
  void SetSize(int64_t Value) { size_ = Value; }
  int64_t ModTime() const { return mtime_; }
  void SetModTime(int64_t Seconds) { mtime_ = Seconds; }
  int32_t Uid() const { return uid_; }
  void SetUid(int32_t Value) { uid_ = Value; }
  int32_t Gid() const { return gid_; }
  void SetGid(int32_t Value) { gid_ = Value; }
  int32_t DevMajor() const { return dev_major_; }
  void SetDevMajor(int32_t Value) { dev_major_ = Value; }
  int32_t DevMinor() const { return dev_minor_; }
  void SetDevMinor(int32_t Value) { dev_minor_ = Value; }
  // At most 31 characters, else EAbException.
  const AnsiString& UsrName() const { return usr_name_; }
  void SetUsrName(const AnsiString& Value);
  const AnsiString& GrpName() const { return grp_name_; }
  void SetGrpName(const AnsiString& Value);
  char LinkFlag() const { return link_flag_; }
  // Sets mtime from a DOS date-time (date in the high 16 bits).
  void SetLastModDateTime(int32_t Stamp);

  // The header record the item would write: names in the OEM code page (the name
  // field with at most 99 characters), numbers as octal text, the checksum filled
  // in. A number too wide for its field or a user or group name longer than 31
  // characters raises EAbException.
  TAbTarHeaderRec BuildHeader() const;

 private:
  void SetDosStamp(int32_t Stamp);
  int32_t DosStamp() const;

  uint32_t mode_ = 0744;
  int32_t uid_ = 0;
  int32_t gid_ = 0;
  int64_t size_ = 0;
  int64_t mtime_ = 0;
  char link_flag_ = '0';
  AnsiString usr_name_;
  AnsiString grp_name_;
  int32_t dev_major_ = 0;
  int32_t dev_minor_ = 0;
};

// Writes Item's header block: the 345 bytes of the record and 167 zero bytes,
// after a GNU long-name entry when the name is longer than 99 characters.
void AbWriteTarHeader(const TAbTarItem& Item, TStream& Stream);

class TAbTarStreamHelper : public TAbArchiveStreamHelper {
 public:
  explicit TAbTarStreamHelper(TStream* AStream);

  // Copies the current item's data into Stream and returns to its header.
  void CopyItemData(TStream& Stream) override;
  // Position at the first / next file entry (other entries are skipped); false at
  // the end of the stream or at the end block.
  bool SeekFirstItem() override;
  bool SeekNextItem() override;
  void LoadHeader() override {}
  void LoadTail() override {}
  // Position at the file entry with that zero-based number.
  bool SeekItem(int32_t Number) override;
  void StoreHeader() override {}
  // Copies the whole of Stream and pads with zeros to a multiple of 512.
  void StoreItemData(TStream& Stream) override;
  // Copies exactly Size bytes from Stream's position (a shorter source raises
  // EReadError) and pads with zeros to a multiple of 512.
  void StoreItemData(TStream& Stream, int64_t Size);
  // The end block: 512 zero bytes.
  void StoreTail() override;
  int32_t CountItems() override;

  // The name of the current entry: a long name announced by a preceding GNU
  // long-name entry, or the ustar prefix and name, or the name field (bytes as stored).
  const AnsiString& CurrentName() const { return current_name_; }
  int64_t CurrentSize() const { return current_size_; }
  int64_t HeaderPosition() const { return header_pos_; }

 private:
  // Reads the entries from Pos on until a file entry; false at the end.
  bool ScanFrom(int64_t Pos);

  int64_t header_pos_ = 0;
  int64_t current_size_ = 0;
  AnsiString current_name_;
};

// Writes Content (from its start) over the file FileName from its beginning; the
// file then ends where Content ends. The save-progress event sees the write but
// cannot stop it halfway (the caller asks before it releases the old stream). Gives the file opened again for reading (deny none).
std::unique_ptr<TStream> AbWriteArchiveFile(TAbArchive& Archive, const AnsiString& FileName, TStream& Content);

class TAbTarArchive : public TAbArchive {
 public:
  TAbTarArchive(const AnsiString& FileName, uint16_t Mode);

  std::unique_ptr<TAbArchiveItem> CreateItem(const AnsiString& FileName) override;
  void ExtractItemAt(int32_t Index, const AnsiString& UseName) override;
  void ExtractItemToStreamAt(int32_t Index, TStream& Stream) override;
  void TestItemAt(int32_t Index) override;
  AnsiString FixName(const AnsiString& Name) override;

 protected:
  void LoadArchive() override;
  void SaveArchive() override;

  // The directory that work streams of a save swap into.
  AnsiString SwapDirectory() const;
  // Writes Content (from its start) over the archive file, which then ends where
  // Content ends, and opens the file again for reading as the archive stream.
  virtual void ReplaceArchiveFile(TStream& Content);
  // Extracts the item at Index into a new file at Path (through a work file beside
  // it, so that a failure leaves no partial file and keeps an existing one).
  void ExtractToFile(int32_t Index, const AnsiString& Path, int32_t Attributes, bool SetAttributes);
  // Fills Item's size and date from its disk file, opened for reading.
  static std::unique_ptr<TFileStream> OpenDiskFile(TAbArchiveItem& Item, int64_t& Size);
  // Removes deleted items, sets the rest to none, reports the final progress.
  void FinishSave();
  // Nothing changed and no file entries, in a file that is not empty.
  bool NothingToSave();
};

}  // namespace pelvar
