#include "archive/abziptyp.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "archive/abconst.h"
#include "archive/abvmstream.h"
#include "platform/codepage.h"
#include "platform/dialogs.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

constexpr uint16_t kWriteDenyWrite = fmOpenWrite | fmShareDenyWrite;  // $21
constexpr uint16_t kReadDenyNone = fmOpenRead | fmShareDenyNone;      // $40
constexpr int64_t kMax32 = 0xFFFFFFFFll;

// Little-endian fields of a record read or written in one piece.
class TRecordReader {
 public:
  explicit TRecordReader(const uint8_t* Data) : p_(Data) {}
  uint16_t U16() {
    const uint16_t v = static_cast<uint16_t>(p_[0] | (p_[1] << 8));
    p_ += 2;
    return v;
  }
  uint32_t U32() {
    const uint32_t v = static_cast<uint32_t>(p_[0]) | (static_cast<uint32_t>(p_[1]) << 8) |
                       (static_cast<uint32_t>(p_[2]) << 16) | (static_cast<uint32_t>(p_[3]) << 24);
    p_ += 4;
    return v;
  }

 private:
  const uint8_t* p_;
};

class TRecordWriter {
 public:
  void U16(uint16_t v) {
    out_ += static_cast<char>(v & 0xFF);
    out_ += static_cast<char>(v >> 8);
  }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) out_ += static_cast<char>((v >> (8 * i)) & 0xFF);
  }
  void Bytes(const AnsiString& s) { out_ += s; }
  void WriteTo(TStream& Stream) const { Stream.WriteBuffer(out_.data(), static_cast<int64_t>(out_.size())); }

 private:
  AnsiString out_;
};

// Exactly Count bytes, or EAbZipInvalid: a record cut short is no valid record.
void ReadExact(TStream& Stream, void* Buffer, int64_t Count) {
  auto* out = static_cast<uint8_t*>(Buffer);
  int64_t done = 0;
  while (done < Count) {
    const int32_t got = Stream.Read(out + done, static_cast<int32_t>(std::min<int64_t>(Count - done, INT32_MAX)));
    if (got <= 0) throw EAbZipInvalid();
    done += got;
  }
}

AnsiString ReadText(TStream& Stream, uint16_t Length) {
  AnsiString s(Length, '\0');
  ReadExact(Stream, s.data(), Length);
  return s;
}

void CheckLength(const AnsiString& Value, const char* What) {
  if (Value.size() > 0xFFFF)
    throw EAbZipException(AnsiString("Zip record: the ") + What + " is longer than 65,535 bytes", 0);
}

bool DiskFileExists(const AnsiString& Name) {
  struct stat st;
  return ::stat(AbSysPath(Name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

AnsiString DirectoryOf(const AnsiString& Path) {
  const size_t slash = Path.find_last_of('/');
  if (slash == AnsiString::npos) return AnsiString();
  return slash == 0 ? AnsiString("/") : Path.substr(0, slash);
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

EAbUnsupportedFeature Zip64Refused() {
  return EAbUnsupportedFeature("Zip64 records (entries or offsets beyond 4 GB, or more than 65,535 entries)");
}

// The end record at the stream's position, when it reads as one.
bool ReadsAsEndRecord(TStream& Stream) {
  try {
    TAbZipDirectoryFileFooter footer;
    footer.LoadFromStream(Stream);
    return footer.IsValid();
  } catch (const Exception&) {
    return false;
  }
}

}  // namespace

// --- Records ---

int32_t TAbZipFileHeader::DictionarySize() const {
  if (CompressionMethod != 6) return 0;
  return (GeneralPurposeBitFlag & 2) ? 8192 : 4096;
}

int32_t TAbZipFileHeader::ShannonFanoTreeCount() const {
  if (CompressionMethod != 6) return 0;
  return (GeneralPurposeBitFlag & 4) ? 3 : 2;
}

void TAbZipLocalFileHeader::LoadFromStream(TStream& Stream) {
  uint8_t fixed[30];
  ReadExact(Stream, fixed, sizeof fixed);
  TRecordReader r(fixed);
  Signature = r.U32();
  if (!IsValid()) throw EAbZipInvalid();
  VersionNeededToExtract = r.U16();
  GeneralPurposeBitFlag = r.U16();
  CompressionMethod = r.U16();
  LastModFileTime = r.U16();
  LastModFileDate = r.U16();
  CRC32 = r.U32();
  CompressedSize = r.U32();
  UncompressedSize = r.U32();
  const uint16_t name_length = r.U16();
  const uint16_t extra_length = r.U16();
  FileName = ReadText(Stream, name_length);
  ExtraField = ReadText(Stream, extra_length);
}

void TAbZipLocalFileHeader::SaveToStream(TStream& Stream) const {
  CheckLength(FileName, "file name");
  CheckLength(ExtraField, "extra field");
  TRecordWriter w;
  w.U32(ValidSignature);
  w.U16(VersionNeededToExtract);
  w.U16(GeneralPurposeBitFlag);
  w.U16(CompressionMethod);
  w.U16(LastModFileTime);
  w.U16(LastModFileDate);
  w.U32(CRC32);
  w.U32(CompressedSize);
  w.U32(UncompressedSize);
  w.U16(FileNameLength());
  w.U16(ExtraFieldLength());
  w.Bytes(FileName);
  w.Bytes(ExtraField);
  w.WriteTo(Stream);
}

void TAbZipDirectoryFileHeader::LoadFromStream(TStream& Stream) {
  uint8_t fixed[46];
  ReadExact(Stream, fixed, sizeof fixed);
  TRecordReader r(fixed);
  Signature = r.U32();
  if (!IsValid()) throw EAbZipInvalid();
  VersionMadeBy = r.U16();
  VersionNeededToExtract = r.U16();
  GeneralPurposeBitFlag = r.U16();
  CompressionMethod = r.U16();
  LastModFileTime = r.U16();
  LastModFileDate = r.U16();
  CRC32 = r.U32();
  CompressedSize = r.U32();
  UncompressedSize = r.U32();
  const uint16_t name_length = r.U16();
  const uint16_t extra_length = r.U16();
  const uint16_t comment_length = r.U16();
  DiskNumberStart = r.U16();
  InternalFileAttributes = r.U16();
  ExternalFileAttributes = r.U32();
  RelativeOffset = r.U32();
  FileName = ReadText(Stream, name_length);
  ExtraField = ReadText(Stream, extra_length);
  FileComment = ReadText(Stream, comment_length);
}

void TAbZipDirectoryFileHeader::SaveToStream(TStream& Stream) const {
  CheckLength(FileName, "file name");
  CheckLength(ExtraField, "extra field");
  CheckLength(FileComment, "file comment");
  TRecordWriter w;
  w.U32(ValidSignature);
  w.U16(VersionMadeBy);
  w.U16(VersionNeededToExtract);
  w.U16(GeneralPurposeBitFlag);
  w.U16(CompressionMethod);
  w.U16(LastModFileTime);
  w.U16(LastModFileDate);
  w.U32(CRC32);
  w.U32(CompressedSize);
  w.U32(UncompressedSize);
  w.U16(FileNameLength());
  w.U16(ExtraFieldLength());
  w.U16(static_cast<uint16_t>(FileComment.size()));
  w.U16(DiskNumberStart);
  w.U16(InternalFileAttributes);
  w.U32(ExternalFileAttributes);
  w.U32(RelativeOffset);
  w.Bytes(FileName);
  w.Bytes(ExtraField);
  w.Bytes(FileComment);
  w.WriteTo(Stream);
}

void TAbZipDirectoryFileFooter::LoadFromStream(TStream& Stream) {
  uint8_t fixed[22];
  ReadExact(Stream, fixed, sizeof fixed);
  TRecordReader r(fixed);
  Signature = r.U32();
  if (!IsValid()) throw EAbZipInvalid();
  DiskNumber = r.U16();
  StartDiskNumber = r.U16();
  EntriesOnDisk = r.U16();
  TotalEntries = r.U16();
  DirectorySize = r.U32();
  DirectoryOffset = r.U32();
  const uint16_t comment_length = r.U16();
  // A comment cut short by the end of the file keeps what is there.
  AnsiString comment(comment_length, '\0');
  int64_t done = 0;
  while (done < comment_length) {
    const int32_t got = Stream.Read(comment.data() + done, static_cast<int32_t>(comment_length - done));
    if (got <= 0) break;
    done += got;
  }
  comment.resize(static_cast<size_t>(done));
  ZipfileComment = comment;
}

void TAbZipDirectoryFileFooter::SaveToStream(TStream& Stream) const {
  CheckLength(ZipfileComment, "archive comment");
  TRecordWriter w;
  w.U32(Ab_ZipEndCentralDirectorySignature);
  w.U16(DiskNumber);
  w.U16(StartDiskNumber);
  w.U16(EntriesOnDisk);
  w.U16(TotalEntries);
  w.U32(DirectorySize);
  w.U32(DirectoryOffset);
  w.U16(static_cast<uint16_t>(ZipfileComment.size()));
  w.Bytes(ZipfileComment);
  w.WriteTo(Stream);
}

void TAbZipDataDescriptor::SaveToStream(TStream& Stream) const {
  TRecordWriter w;
  w.U32(CRC32);
  w.U32(CompressedSize);
  w.U32(UncompressedSize);
  w.WriteTo(Stream);
}

// --- TAbZipItem ---

AnsiString TAbZipItem::GetFileName() const {
  if (header_.GeneralPurposeBitFlag & AbZipFlagUtf8) return Utf8ToAnsi(header_.FileName);
  return AbOemToChar(header_.FileName);
}

void TAbZipItem::SetFileName(const AnsiString& Value) {
  file_name_ = Value;
  header_.FileName = (header_.GeneralPurposeBitFlag & AbZipFlagUtf8) ? AnsiToUtf8(Value) : AbCharToOem(Value);
}

void TAbZipItem::SetRawFileName(const AnsiString& Value) {
  header_.FileName = Value;
  file_name_ = GetFileName();
}

void TAbZipItem::SetCompressedSize(int32_t Value) {
  compressed_size_ = Value;
  header_.CompressedSize = static_cast<uint32_t>(Value);
}

void TAbZipItem::SetCRC32(uint32_t Value) {
  crc32_ = Value;
  header_.CRC32 = Value;
}

void TAbZipItem::SetExternalFileAttributes(uint32_t Value) {
  external_file_attributes_ = Value;
  header_.ExternalFileAttributes = Value;
}

void TAbZipItem::SetIsEncrypted(bool Value) {
  is_encrypted_ = Value;
  header_.GeneralPurposeBitFlag =
      Value ? static_cast<uint16_t>(header_.GeneralPurposeBitFlag | 1) : static_cast<uint16_t>(header_.GeneralPurposeBitFlag & ~1);
}

void TAbZipItem::SetLastModFileDate(uint16_t Value) {
  last_mod_file_date_ = Value;
  header_.LastModFileDate = Value;
}

void TAbZipItem::SetLastModFileTime(uint16_t Value) {
  last_mod_file_time_ = Value;
  header_.LastModFileTime = Value;
}

void TAbZipItem::SetUncompressedSize(int32_t Value) {
  uncompressed_size_ = Value;
  header_.UncompressedSize = static_cast<uint32_t>(Value);
}

void TAbZipItem::LoadFromStream(TStream& Stream) {
  header_.LoadFromStream(Stream);
  file_name_ = GetFileName();
  last_mod_file_time_ = header_.LastModFileTime;
  last_mod_file_date_ = header_.LastModFileDate;
  AnsiString disk = file_name_;
  AbToBackslashes(disk);
  disk_file_name_ = disk;
  SetAction(aaNone);
  tagged_ = false;
}

void TAbZipItem::SaveLFHToStream(TStream& Stream) const {
  TAbZipLocalFileHeader lfh;
  lfh.VersionNeededToExtract = header_.VersionNeededToExtract;
  lfh.GeneralPurposeBitFlag = header_.GeneralPurposeBitFlag;
  lfh.CompressionMethod = header_.CompressionMethod;
  lfh.LastModFileTime = header_.LastModFileTime;
  lfh.LastModFileDate = header_.LastModFileDate;
  lfh.CRC32 = header_.CRC32;
  lfh.CompressedSize = header_.CompressedSize;
  lfh.UncompressedSize = header_.UncompressedSize;
  // The same stored bytes as the central header: readers compare the two.
  lfh.FileName = header_.FileName;
  lfh.ExtraField = header_.ExtraField;
  lfh.SaveToStream(Stream);
}

void TAbZipItem::SaveCDHToStream(TStream& Stream) const { header_.SaveToStream(Stream); }

void TAbZipItem::SaveDDToStream(TStream& Stream) const {
  TAbZipDataDescriptor dd;
  dd.CRC32 = header_.CRC32;
  dd.CompressedSize = header_.CompressedSize;
  dd.UncompressedSize = header_.UncompressedSize;
  dd.SaveToStream(Stream);
}

// --- Finding the end record ---

int64_t AbFindEndRecord(TStream& Stream) {
  auto* span = dynamic_cast<TAbSpanStream*>(&Stream);
  const bool saved_ignore = span != nullptr && span->IgnoreSpanning();
  if (span != nullptr) span->SetIgnoreSpanning(true);
  const int64_t entry = Stream.Position();
  const int64_t size = Stream.Size();
  // The fixed part and the longest comment the record can announce.
  const int64_t window = std::min<int64_t>(size, 22 + 0xFFFF);
  const int64_t lowest = size - window;

  auto accept = [&](int64_t at) -> bool {
    if (at < 0 || at + 22 > size) return false;
    uint8_t fixed[22];
    Stream.Seek(at, TSeekOrigin::soBeginning);
    if (Stream.Read(fixed, 22) != 22) return false;
    TRecordReader r(fixed);
    if (r.U32() != Ab_ZipEndCentralDirectorySignature) return false;
    const uint16_t comment_length = static_cast<uint16_t>(fixed[20] | (fixed[21] << 8));
    return size - (at + 22) >= comment_length;
  };

  int64_t found = -1;
  if (size >= 22) {
    uint8_t tail[22];
    Stream.Seek(size - 22, TSeekOrigin::soBeginning);
    if (Stream.Read(tail, 22) == 22) {
      TRecordReader r(tail);
      if (r.U32() == Ab_ZipEndCentralDirectorySignature && tail[20] == 0 && tail[21] == 0) found = size - 22;
    }
    // Blocks backwards from the end, doubling from 512 bytes and overlapping by 4.
    int64_t block_end = size;
    int64_t block_size = 512;
    std::vector<uint8_t> block;
    while (found < 0 && block_end > lowest) {
      const int64_t block_start = std::max(lowest, block_end - block_size);
      const auto length = static_cast<size_t>(block_end - block_start);
      block.resize(length);
      Stream.Seek(block_start, TSeekOrigin::soBeginning);
      if (Stream.Read(block.data(), static_cast<int32_t>(length)) != static_cast<int32_t>(length)) break;
      // Every match of the block, the last first: a stray signature inside a
      // comment does not hide the real record before it.
      for (int64_t i = static_cast<int64_t>(length) - 4; i >= 0 && found < 0; --i) {
        const auto at = static_cast<size_t>(i);
        if (block[at] == 'P' && block[at + 1] == 'K' && block[at + 2] == 5 && block[at + 3] == 6 &&
            accept(block_start + i))
          found = block_start + i;
      }
      if (block_start == lowest) break;
      block_end = block_start + 4;
      block_size = std::min<int64_t>(block_size * 2, window);
    }
  }
  if (found >= 0) {
    Stream.Seek(found, TSeekOrigin::soBeginning);
    return found;
  }
  Stream.Seek(entry, TSeekOrigin::soBeginning);
  if (span != nullptr) span->SetIgnoreSpanning(saved_ignore);
  return -1;
}

int32_t AbZipKindOf(TStream& Stream) {
  const int64_t pos = Stream.Position();
  int32_t result = 0;
  try {
    Stream.Seek(0, TSeekOrigin::soBeginning);
    uint8_t head[4] = {0, 0, 0, 0};
    const int32_t got = Stream.Read(head, 4);
    const uint32_t sig = TRecordReader(head).U32();
    if (got == 4 && (sig == Ab_ZipSpannedSetSignature || sig == Ab_ZipPossiblySpannedSignature))
      result = AbSpannedZipTypeOf;
    else if (AbFindEndRecord(Stream) >= 0 && ReadsAsEndRecord(Stream))
      result = AbZipTypeOf;
  } catch (const Exception&) {
    result = 0;
  }
  Stream.Seek(pos, TSeekOrigin::soBeginning);
  return result;
}

int32_t AbSelfExtractingKindOf(TStream& Stream) {
  const int64_t pos = Stream.Position();
  uint8_t head[4] = {0, 0, 0, 0};
  int32_t got = 0;
  try {
    Stream.Seek(0, TSeekOrigin::soBeginning);
    got = Stream.Read(head, 4);
  } catch (const Exception&) {
    got = 0;
  }
  Stream.Seek(pos, TSeekOrigin::soBeginning);
  const bool program = (got >= 2 && head[0] == 'M' && head[1] == 'Z') ||
                       (got == 4 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F');
  return program && AbZipKindOf(Stream) == AbZipTypeOf ? AbSelfExtractingZipTypeOf : 0;
}

// --- TAbZipArchive ---

TAbZipArchive::TAbZipArchive(const AnsiString& FileName, uint16_t Mode) : TAbArchive(FileName, Mode) {
  SetStoreOptions(StoreOptions().Include(soStripDrive));
}

AnsiString TAbZipArchive::SwapDirectory() const {
  return DirectoryOf(AbDiskPath(AbTempFileName(TempDirectory(), false)));
}

void TAbZipArchive::SetZipfileComment(const AnsiString& Value) {
  footer_.ZipfileComment = Value;
  SetIsDirty(true);
}

AnsiString TAbZipArchive::FixName(const AnsiString& Name) {
  AnsiString name = Name;
  if (DOSMode()) {
    const bool has_drive = name.size() >= 2 && name[1] == ':';
    if (!BaseDirectory().empty() && !has_drive && !(name.size() >= 1 && IsSeparator(name[0])))
      name = AbWithTrailingBackslash(BaseDirectory()) + name;
    name = AbShortPathOf(name);
  }
  SetStoreOptions(StoreOptions().Include(soStripDrive));
  AbDropDrive(name);
  while (!name.empty() && IsSeparator(name[0])) name.erase(0, 1);
  if (StoreOptions().Contains(soStripPath)) {
    const size_t sep = name.find_last_of("\\/");
    if (sep != AnsiString::npos) name.erase(0, sep + 1);
  }
  if (StoreOptions().Contains(soRemoveDots)) {
    AbToBackslashes(name);
    AbDropParentRefs(name);
  }
  AbToForwardSlashes(name);
  return name;
}

std::unique_ptr<TAbArchiveItem> TAbZipArchive::CreateItem(const AnsiString& FileName) {
  auto item = std::make_unique<TAbZipItem>();
  item->SetCompressionMethod(8);
  item->SetGeneralPurposeBitFlag(0);
  item->SetCompressedSize(0);
  item->SetCRC32(0);
  item->SetExtraField(AnsiString());
  item->SetRelativeOffset(0);
  item->SetDiskFileName(ExpandFileName(AbDiskPath(FileName)));
  item->SetFileName(FixName(FileName));
  if (item->RawFileName().size() > 0xFFFF)
    throw EAbZipException("Zip record: the file name is longer than 65,535 bytes: " + item->FileName(), 0);
  return item;
}

void TAbZipArchive::ExtractItemAt(int32_t Index, const AnsiString& UseName) {
  if (!ExtractHelper) throw EAbZipNoExtraction();
  ExtractHelper(*this, *ZipItems(Index), UseName);
}

void TAbZipArchive::ExtractItemToStreamAt(int32_t Index, TStream& Stream) {
  if (!ExtractToStreamHelper) throw EAbZipNoExtraction();
  ExtractToStreamHelper(*this, *ZipItems(Index), Stream);
}

void TAbZipArchive::TestItemAt(int32_t Index) {
  if (!TestHelper) throw EAbZipNoExtraction();
  TestHelper(*this, *ZipItems(Index));
}

// --- Volumes and media ---

void TAbZipArchive::DoRequestLastDisk(bool& Abort) {
  Abort = false;
  if (OnRequestLastDisk) {
    OnRequestLastDisk(this, Abort);
    return;
  }
  Abort = MessageBox(AbErrorText(AbLastDiskRequest), AbErrorText(AbDiskRequest), MB_OKCANCEL) == IDCANCEL;
}

void TAbZipArchive::DoRequestNthDisk(int32_t DiskNumber, bool& Abort) {
  Abort = false;
  if (OnRequestNthDisk) {
    OnRequestNthDisk(this, static_cast<uint8_t>(DiskNumber), Abort);
    return;
  }
  Abort = MessageBox(AbFormatErrorText(AbDiskNumRequest, {std::to_string(DiskNumber)}), AbErrorText(AbDiskRequest),
                     MB_OKCANCEL) == IDCANCEL;
}

void TAbZipArchive::DoRequestBlankDisk(bool& Abort) {
  Abort = false;
  SetSpanned(true);
  if (OnRequestBlankDisk) {
    OnRequestBlankDisk(this, Abort);
    return;
  }
  Abort = MessageBox(AbErrorText(AbBlankDisk), AbErrorText(AbDiskRequest), MB_OKCANCEL) == IDCANCEL;
}

void TAbZipArchive::DoSpanningMediaRequest(TObject* Sender, int32_t ImageNumber, AnsiString& ImageName, bool& Abort) {
  Abort = false;
  auto* span = dynamic_cast<TAbSpanStream*>(Sender);
  const bool writing = span != nullptr && span->SpanMode() == smWriting;
  const bool removable = span != nullptr ? span->MediaType() == mtRemoveable : drive_is_removable_;
  if (!removable) {
    if (OnRequestImage) {
      OnRequestImage(this, ImageNumber, ImageName, Abort);
    } else if (!writing && last_volume_is_archive_) {
      ImageName = VolumeNameOf(ImageNumber);
    } else if (auto_named_volumes_) {
      ImageName = AbSpanVolumeName(ArchiveName(), ImageNumber);
    } else if (!writing) {
      Abort = MessageBox(AbFormatErrorText(AbImageSpanNumRequest, {std::to_string(ImageNumber)}),
                         AbErrorText(AbImageNumRequest), MB_OKCANCEL) == IDCANCEL;
    }
    return;
  }
  if (writing) {
    DoRequestBlankDisk(Abort);
    if (!Abort) {
      char label[32];
      std::snprintf(label, sizeof label, "PKBACK# %3.3d", static_cast<int>(ImageNumber - 1));
      AbLabelVolume(label, AbDriveLetterOf(ArchiveName()));
    }
  } else {
    DoRequestNthDisk(ImageNumber, Abort);
  }
}

std::unique_ptr<TAbSpanStream> TAbZipArchive::OpenReadStream(const AnsiString& Name, bool Spanning) {
  auto stream = std::make_unique<TAbSpanStream>(Name, 0, drive_is_removable_ ? mtRemoveable : mtLocal, kReadDenyNone);
  if (Spanning) {
    stream->OnRequestImage = [this](TObject* Sender, int32_t ImageNumber, bool& Cancelled, AnsiString& ImageName) {
      bool abort = false;
      DoSpanningMediaRequest(Sender, ImageNumber, ImageName, abort);
      Cancelled = abort;
    };
  }
  return stream;
}

void TAbZipArchive::ReplaceStream(std::unique_ptr<TAbSpanStream> Stream) {
  SetArchiveStream(std::unique_ptr<TStream>(Stream.release()));
}

AnsiString TAbZipArchive::VolumeNameOf(int32_t DiskNumber) const {
  if (last_volume_is_archive_)
    return DiskNumber >= footer_.DiskNumber ? ArchiveName() : AbSpanVolumeName(ArchiveName(), DiskNumber + 1);
  return DiskNumber == 0 ? ArchiveName() : AbSpanVolumeName(ArchiveName(), DiskNumber);
}

void TAbZipArchive::OpenVolume(int32_t DiskNumber) {
  bool abort = false;
  if (drive_is_removable_) {
    if (DiskNumber >= 0) {
      DoRequestNthDisk(DiskNumber + 1, abort);
      if (abort) throw EAbUserAbort();
    }
    SetArchiveStream(nullptr, false);
    auto volume = OpenReadStream(ArchiveName(), true);
    if (DiskNumber >= 0) volume->SetSpanNumber(DiskNumber);
    ReplaceStream(std::move(volume));
    if (current_disk_ == AbNoDisk && AbFindEndRecord(*Stream()) < 0) {
      DoRequestLastDisk(abort);
      if (abort) throw EAbUserAbort();
    }
    return;
  }
  if (DiskNumber < 0) {
    if (Stream() != nullptr && AbFindEndRecord(*Stream()) >= 0) return;
    if (OnRequestImage) {
      AnsiString name = ArchiveName();
      OnRequestImage(this, DiskNumber, name, abort);
      if (abort) throw EAbUserAbort();
      if (!DiskFileExists(AbDiskPath(name))) throw EAbFileNotFound();
      SetArchiveStream(nullptr, false);
      ReplaceStream(OpenReadStream(name, true));
      return;
    }
    auto_named_volumes_ = true;
    SetArchiveStream(nullptr, false);
    for (int32_t n = 1; n <= 99; ++n) {
      const AnsiString name = AbSpanVolumeName(ArchiveName(), n);
      if (!DiskFileExists(AbDiskPath(name))) throw EAbFileNotFound();
      auto volume = OpenReadStream(name, true);
      if (AbFindEndRecord(*volume) >= 0) {
        ReplaceStream(std::move(volume));
        return;
      }
    }
    throw EAbFileNotFound();
  }
  AnsiString name = VolumeNameOf(DiskNumber);
  if (OnRequestImage && !auto_named_volumes_) {
    OnRequestImage(this, DiskNumber, name, abort);
    if (abort) throw EAbUserAbort();
  }
  if (!DiskFileExists(AbDiskPath(name))) throw EAbFileNotFound();
  SetArchiveStream(nullptr, false);
  auto volume = OpenReadStream(name, true);
  // Data that goes on past this volume's end continues on the next one of the set.
  volume->SetSpanNumber(DiskNumber);
  ReplaceStream(std::move(volume));
}

// --- Loading ---

void TAbZipArchive::LoadArchive() {
  auto_named_volumes_ = false;
  last_volume_is_archive_ = false;
  TStream* stream = Stream();
  if (stream == nullptr || stream->Size() == 0) {
    bool abort = false;
    DoArchiveProgress(100, abort);
    SetIsDirty(false);
    return;
  }
  auto* span = dynamic_cast<TAbSpanStream*>(stream);
  if (span != nullptr) {
    drive_is_removable_ = AbIsOnRemovableDrive(ArchiveName());
    // This file is read as one volume: a read at its end is the end (a short or
    // damaged file must not ask for other volumes). Further volumes of a set are
    // opened by OpenVolume.
    span->OnRequestImage = nullptr;
  }
  stream->Seek(0, TSeekOrigin::soBeginning);
  uint8_t head[4] = {0, 0, 0, 0};
  const int32_t got = stream->Read(head, 4);
  const uint32_t sig = TRecordReader(head).U32();
  const bool marker = got == 4 && (sig == Ab_ZipSpannedSetSignature || sig == Ab_ZipPossiblySpannedSignature);
  int64_t end_pos = marker ? -1 : AbFindEndRecord(*stream);
  const bool end_in_archive_file = end_pos >= 0;
  if (end_pos < 0) {
    if (!marker && !(got >= 2 && head[0] == 'P' && head[1] == 'K')) {
      SetStatus(asInvalid);
      throw EAbZipInvalid();
    }
    // The first volume of a set: the end record is on the last one. A file that
    // starts with an entry rather than a spanning marker, with no further volume
    // beside it and nobody to ask for one, is a single archive cut short.
    const bool entry_first = got == 4 && sig == Ab_ZipLocalFileHeaderSignature;
    const AnsiString first_volume = AbDiskPath(AbSpanVolumeName(ArchiveName(), 1));
    if (entry_first && !drive_is_removable_ && !OnRequestImage && !DiskFileExists(first_volume))
      throw EAbDamagedArchive("the end of the central directory is missing: the file is cut short or damaged");
    for (int32_t tries = 0; end_pos < 0; ++tries) {
      if (tries > 99) throw EAbFileNotFound();
      OpenVolume(-1);
      end_pos = AbFindEndRecord(*Stream());
    }
    SetSpanned(true);
  }
  stream = Stream();
  stream->Seek(end_pos, TSeekOrigin::soBeginning);
  footer_.LoadFromStream(*stream);
  current_disk_ = footer_.DiskNumber;
  if (auto* volume = dynamic_cast<TAbSpanStream*>(stream)) volume->SetSpanNumber(current_disk_);
  if (footer_.DiskNumber > 0) SetSpanned(true);
  // A set split by other writers ends in the archive file itself: the end record
  // is there and names a later disk, so the volumes before it are numbered files.
  if (end_in_archive_file && footer_.DiskNumber > 0 && !drive_is_removable_) last_volume_is_archive_ = true;
  // A Zip64 archive keeps its real values elsewhere and marks these fields.
  if (end_pos >= 20 && (footer_.TotalEntries == 0xFFFF || footer_.EntriesOnDisk == 0xFFFF ||
                        footer_.DirectoryOffset == 0xFFFFFFFF || footer_.DirectorySize == 0xFFFFFFFF)) {
    uint8_t locator[4];
    stream->Seek(end_pos - 20, TSeekOrigin::soBeginning);
    if (stream->Read(locator, 4) == 4 && TRecordReader(locator).U32() == Ab_Zip64EndLocatorSignature) throw Zip64Refused();
  }
  if (Spanned() && footer_.StartDiskNumber != current_disk_) {
    OpenVolume(footer_.StartDiskNumber);
    current_disk_ = footer_.StartDiskNumber;
    stream = Stream();
  }
  stream->Seek(footer_.DirectoryOffset, TSeekOrigin::soBeginning);
  // A directory that is not where the end record says is no directory at all: an
  // archive that seemed empty would be written over on closing.
  if (stream->Position() != footer_.DirectoryOffset || (!Spanned() && footer_.DirectoryOffset > end_pos))
    throw EAbDamagedArchive("the central directory is not where the end record places it (offset " +
                            std::to_string(footer_.DirectoryOffset) + ")");
  // The directory runs up to the end record, or up to the Zip64 end record that a
  // Zip64 writer puts between them even when every value fits the classic fields.
  int64_t directory_end = end_pos;
  if (!Spanned()) {
    const int64_t stated = static_cast<int64_t>(footer_.DirectoryOffset) + footer_.DirectorySize;
    uint8_t sig[4];
    if (stated < end_pos && stream->Seek(stated, TSeekOrigin::soBeginning) == stated && stream->Read(sig, 4) == 4 &&
        TRecordReader(sig).U32() == Ab_Zip64EndRecordSignature)
      directory_end = stated;
    stream->Seek(footer_.DirectoryOffset, TSeekOrigin::soBeginning);
  }
  const int32_t total = footer_.TotalEntries;
  int32_t count = 0;
  for (;;) {
    if (current_disk_ == footer_.DiskNumber && stream->Position() >= directory_end) break;
    if (Spanned() && stream->Position() >= stream->Size()) {
      if (current_disk_ >= footer_.DiskNumber) break;
      OpenVolume(current_disk_ + 1);
      ++current_disk_;
      stream = Stream();
      continue;
    }
    auto item = std::make_unique<TAbZipItem>();
    const int64_t at = stream->Position();
    try {
      item->LoadFromStream(*stream);
    } catch (const EAbZipInvalid&) {
      throw EAbDamagedArchive("entry " + std::to_string(count + 1) + " of the central directory (offset " +
                              std::to_string(at) + ") is damaged or cut short");
    }
    const TAbZipDirectoryFileHeader& h = item->Header();
    if (h.CompressedSize == 0xFFFFFFFF || h.UncompressedSize == 0xFFFFFFFF || h.RelativeOffset == 0xFFFFFFFF)
      throw Zip64Refused();
    item->SetAction(aaNone);
    ItemList().Add(std::move(item));
    ++count;
    bool abort = false;
    DoArchiveProgress(static_cast<uint8_t>(AbPercentOf(count, total)), abort);
    if (abort) {
      SetStatus(asInvalid);
      throw EAbUserAbort();
    }
  }
  // Every entry the end record counts must have been read (an archive of more than
  // 65,535 entries written without Zip64 counts modulo 65,536).
  if (!Spanned() && (count & 0xFFFF) != footer_.TotalEntries)
    throw EAbDamagedArchive("the central directory holds " + std::to_string(count) + " entries, the end record counts " +
                            std::to_string(footer_.TotalEntries));
  bool abort = false;
  DoArchiveProgress(100, abort);
  SetIsDirty(false);
}

// --- Saving ---

void TAbZipArchive::SaveArchive() {
  if (Spanned()) {
    for (int32_t i = 0; i < ItemCount(); ++i) {
      if (Items(i)->Action() != aaFailed) Items(i)->SetAction(aaNone);
    }
    SetIsDirty(false);
    throw EAbZipSpanOverwrite();
  }
  if (Stream() != nullptr) Stream()->Seek(0, TSeekOrigin::soBeginning);
  TAbVirtualMemoryStream work;
  work.SetSwapFileDirectory(SwapDirectory());

  // First pass: the stored data of every item that stays, into the work stream.
  struct Stored {
    int64_t offset = 0;
    int64_t length = 0;
  };
  std::vector<Stored> stored(static_cast<size_t>(ItemCount()));
  for (int32_t i = 0; i < ItemCount(); ++i) {
    TAbZipItem* item = ZipItems(i);
    SetCurrentItem(item);
    Stored& s = stored[static_cast<size_t>(i)];
    s.offset = work.Position();
    switch (item->Action()) {
      case aaNone:
      case aaMove: {
        if (item->CompressedSize32() == 0) break;
        TStream* old = Stream();
        if (old == nullptr) throw EAbZipInvalid();
        old->Seek(item->RelativeOffset(), TSeekOrigin::soBeginning);
        TAbZipLocalFileHeader lfh;
        try {
          if (old->Position() != item->RelativeOffset()) throw EAbZipInvalid();
          lfh.LoadFromStream(*old);
        } catch (const EAbZipInvalid&) {
          throw EAbDamagedArchive("the local header of the entry " + item->FileName() + " is missing at offset " +
                                  std::to_string(item->RelativeOffset()) + " or cut short");
        }
        // Exactly the stored bytes of the old archive: a short source fails the save.
        s.length = work.CopyFrom(*old, item->CompressedSize32());
        break;
      }
      case aaAdd:
      case aaFreshen:
      case aaReplace:
      case aaStreamAdd: {
        TAbVirtualMemoryStream data;
        data.SetSwapFileDirectory(SwapDirectory());
        if (item->Action() == aaStreamAdd) {
          if (!InsertFromStreamHelper) throw EAbZipNoInsertion();
          InsertFromStreamHelper(*this, *item, data, InStream());
        } else {
          if (!InsertHelper) throw EAbZipNoInsertion();
          InsertHelper(*this, *item, data);
        }
        if (data.Size() > kMax32)
          throw EAbZipException("The compressed data of " + item->FileName() +
                                    " is larger than the 4 GB the zip format allows; nothing was written",
                                0);
        item->SetCompressedSize32(static_cast<uint32_t>(data.Size()));
        if (data.Size() > 0) {
          data.Seek(0, TSeekOrigin::soBeginning);
          s.length = work.CopyFrom(data, data.Size());
        }
        break;
      }
      case aaDelete:
      case aaFailed:
        break;
    }
  }
  SetCurrentItem(nullptr);

  // The layout of the new archive, checked against the format's limits before the
  // file is touched.
  auto kept = [this](int32_t i) {
    const TAbArchiveAction a = Items(i)->Action();
    return a != aaDelete && a != aaFailed;
  };
  // Flag bit 3 tells readers that a data descriptor follows the data, whatever the
  // method: an entry that carries it gets one (a stored one too).
  auto has_descriptor = [](const TAbZipItem& item) { return (item.GeneralPurposeBitFlag() & 8) != 0; };
  int64_t position = 0;
  int64_t directory_size = 0;
  int32_t entries = 0;
  for (int32_t i = 0; i < ItemCount(); ++i) {
    if (!kept(i)) continue;
    const TAbZipItem& item = *ZipItems(i);
    CheckLength(item.RawFileName(), "file name");
    CheckLength(item.ExtraField(), "extra field");
    CheckLength(item.FileComment(), "file comment");
    if (position > kMax32)
      throw EAbZipException("The archive would be larger than the 4 GB the zip format allows; nothing was written", 0);
    position += 30 + static_cast<int64_t>(item.RawFileName().size() + item.ExtraField().size()) +
                stored[static_cast<size_t>(i)].length + (has_descriptor(item) ? 12 : 0);
    directory_size += item.Header().RecordSize();
    ++entries;
  }
  if (entries > 0xFFFF)
    throw EAbZipException("The archive would hold more than the 65,535 entries the zip format allows; nothing was written", 0);
  if (position > kMax32 || directory_size > kMax32)
    throw EAbZipException("The archive would be larger than the 4 GB the zip format allows; nothing was written", 0);
  CheckLength(footer_.ZipfileComment, "archive comment");
  const int64_t total = position + directory_size + footer_.RecordSize();

  // Second pass: the entries. The old stream goes first (a new file is still held
  // by it).
  SetArchiveStream(nullptr, false);
  std::unique_ptr<TAbSpanStream> out;
  const bool removable = drive_is_removable_;
  try {
    out = std::make_unique<TAbSpanStream>(ArchiveName(), GetSpanningThreshold(), removable ? mtRemoveable : mtLocal,
                                          kWriteDenyWrite);
  } catch (...) {
    // The archive keeps a stream to read from.
    try {
      ReplaceStream(OpenReadStream(ArchiveName(), false));
    } catch (const Exception&) {
    }
    throw;
  }
  out->OnRequestImage = [this](TObject* Sender, int32_t ImageNumber, bool& Cancelled, AnsiString& ImageName) {
    bool abort = false;
    DoSpanningMediaRequest(Sender, ImageNumber, ImageName, abort);
    Cancelled = abort;
  };
  const bool spanning = (GetSpanningThreshold() > 0 && GetSpanningThreshold() < total) ||
                        (removable && out->SpaceLeft() < total);
  if (spanning) {
    TRecordWriter w;
    w.U32(Ab_ZipSpannedSetSignature);
    w.WriteTo(*out);
    if (removable) AbLabelSpanDisk(AbDriveLetterOf(ArchiveName()), 1);
  }
  auto next_volume_if = [&](int64_t needed) {
    if (!spanning || out->SpaceLeft() >= needed) return false;
    out->GotoNextVolume();
    if (removable) AbLabelSpanDisk(AbDriveLetterOf(ArchiveName()), out->SpanNumber() + 1);
    return true;
  };
  for (int32_t i = 0; i < ItemCount(); ++i) {
    if (!kept(i)) continue;
    TAbZipItem* item = ZipItems(i);
    next_volume_if(30);
    item->SetDiskNumberStart(static_cast<uint16_t>(out->SpanNumber()));
    item->SetRelativeOffset(static_cast<uint32_t>(out->Position()));
    item->SaveLFHToStream(*out);
    const Stored& s = stored[static_cast<size_t>(i)];
    if (s.length > 0) {
      work.Seek(s.offset, TSeekOrigin::soBeginning);
      out->CopyFrom(work, s.length);
    }
    if (has_descriptor(*item)) item->SaveDDToStream(*out);
  }

  // Third pass: the central directory and the end record.
  footer_.DirectoryOffset = static_cast<uint32_t>(out->Position());
  footer_.StartDiskNumber = static_cast<uint16_t>(out->SpanNumber());
  // The entries written: the active items less those whose add failed earlier.
  footer_.TotalEntries = static_cast<uint16_t>(entries);
  uint32_t written_size = 0;
  uint16_t on_disk = 0;
  for (int32_t i = 0; i < ItemCount(); ++i) {
    if (!kept(i)) continue;
    TAbZipItem* item = ZipItems(i);
    if (next_volume_if(46)) on_disk = 0;
    item->SaveCDHToStream(*out);
    written_size += static_cast<uint32_t>(item->Header().RecordSize());
    ++on_disk;
  }
  footer_.EntriesOnDisk = on_disk;
  footer_.DirectorySize = written_size;
  next_volume_if(22);
  footer_.DiskNumber = static_cast<uint16_t>(out->SpanNumber());
  footer_.SaveToStream(*out);
  // The new archive may be shorter than the old file: the file ends at the new end
  // record.
  out->SetSize(out->Position());
  const bool spanned_out = out->SpanNumber() > 0;

  // Fourth pass.
  for (int32_t i = ItemCount() - 1; i >= 0; --i) {
    TAbArchiveItem* item = Items(i);
    if (item->Action() == aaDelete)
      ItemList().Delete(i);
    else if (item->Action() != aaFailed)
      item->SetAction(aaNone);
  }
  if (spanned_out) {
    // A set of volumes cannot be rewritten in place; it stays as written.
    ReplaceStream(std::move(out));
    SetSpanned(true);
  } else {
    // The archive is read again from the file just written, so that its entries can
    // be extracted and a later save can copy them.
    out.reset();
    ReplaceStream(OpenReadStream(ArchiveName(), false));
    current_disk_ = 0;
  }
}

}  // namespace pelvar
