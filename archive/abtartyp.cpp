#include "archive/abtartyp.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "archive/abconst.h"
#include "archive/abvmstream.h"
#include "platform/dateutils.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

// Text of a field up to its first zero byte, at most Width bytes.
AnsiString FieldText(const char* Field, size_t Width) {
  const auto* end = static_cast<const char*>(std::memchr(Field, 0, Width));
  return AnsiString(Field, end ? static_cast<size_t>(end - Field) : Width);
}

void PutText(char* Field, size_t Width, const AnsiString& Text, const char* What) {
  if (Text.size() >= Width)
    throw EAbException(AnsiString("Tar header: the ") + What + " is longer than " + std::to_string(Width - 1) +
                       " characters: " + Text);
  std::memset(Field, 0, Width);
  std::memcpy(Field, Text.data(), Text.size());
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

AnsiString DirectoryOf(const AnsiString& Path) {
  const size_t slash = Path.find_last_of('/');
  if (slash == AnsiString::npos) return AnsiString();
  return slash == 0 ? AnsiString("/") : Path.substr(0, slash);
}

constexpr uint16_t kWriteDenyWrite = fmOpenWrite | fmShareDenyWrite;  // $21
constexpr uint16_t kReadDenyNone = fmOpenRead | fmShareDenyNone;      // $40

}  // namespace

// --- Header fields ---

void AbPadOctalField(char* Field, int32_t Width, int64_t Value) {
  if (Value < 0) throw EAbException("Tar header: negative value " + std::to_string(Value));
  char digits[24];
  int n = 0;
  uint64_t v = static_cast<uint64_t>(Value);
  do {
    digits[n++] = static_cast<char>('0' + (v & 7));
    v >>= 3;
  } while (v != 0);
  // The digits and one blank must fit.
  if (n + 1 > Width)
    throw EAbException("Tar header: the value " + std::to_string(Value) + " does not fit a field of " +
                       std::to_string(Width) + " bytes");
  std::memset(Field, ' ', static_cast<size_t>(Width));
  const int start = Width - 1 - n;
  for (int i = 0; i < n; ++i) Field[start + i] = digits[n - 1 - i];
}

int64_t AbOctalValue(const char* Field, int32_t Width) {
  int32_t i = 0;
  while (i < Width && Field[i] == ' ') ++i;
  int64_t value = 0;
  for (; i < Width && Field[i] >= '0' && Field[i] <= '7'; ++i) {
    if (value > (INT64_MAX >> 3)) break;  // more digits than any field has
    value = (value << 3) | (Field[i] - '0');
  }
  return value;
}

uint32_t AbTarHeaderSum(const uint8_t* Block, int32_t Length) {
  constexpr size_t kChkSum = offsetof(TAbTarHeaderRec, ChkSum);
  uint32_t sum = 0;
  for (int32_t i = 0; i < Length; ++i) {
    const auto at = static_cast<size_t>(i);
    sum += (at >= kChkSum && at < kChkSum + 8) ? static_cast<uint32_t>(' ') : Block[i];
  }
  return sum;
}

bool AbTarBlockSumOk(const uint8_t* Block) {
  const char* field = reinterpret_cast<const char*>(Block) + offsetof(TAbTarHeaderRec, ChkSum);
  if (FieldText(field, 8).find_first_not_of(' ') == AnsiString::npos) return false;
  const int64_t stored = AbOctalValue(field, 8);
  if (stored == AbTarHeaderSum(Block, AbTarRecordSize)) return true;
  // Some old writers summed the bytes as signed values.
  constexpr size_t kChkSum = offsetof(TAbTarHeaderRec, ChkSum);
  int64_t signed_sum = 0;
  for (size_t i = 0; i < static_cast<size_t>(AbTarRecordSize); ++i)
    signed_sum += (i >= kChkSum && i < kChkSum + 8) ? ' ' : static_cast<int8_t>(Block[i]);
  return stored == signed_sum;
}

bool AbTarMagicOk(const TAbTarHeaderRec& Header) {
  const AnsiString magic = FieldText(Header.Magic, sizeof Header.Magic);
  return magic == "ustar  " || magic == "GNUtar ";
}

int32_t AbTarKindOf(TStream& Stream) {
  const int64_t pos = Stream.Position();
  std::array<uint8_t, AbTarRecordSize> block{};
  int32_t got = 0;
  try {
    const int64_t avail = std::min<int64_t>(Stream.Size() - pos, AbTarRecordSize);
    if (avail >= AbTarHeaderSize) got = Stream.Read(block.data(), static_cast<int32_t>(avail));
  } catch (const Exception&) {
    got = 0;
  }
  Stream.Seek(pos, TSeekOrigin::soBeginning);
  if (got < AbTarHeaderSize) return 0;
  TAbTarHeaderRec rec;
  std::memcpy(&rec, block.data(), sizeof rec);
  // The stored checksum covers the whole block; the bytes the kit leaves out are
  // zero in its own archives, so the sum over the block serves both.
  const int64_t stored = AbOctalValue(rec.ChkSum, sizeof rec.ChkSum);
  const bool sum_ok = FieldText(rec.ChkSum, sizeof rec.ChkSum).find_first_not_of(' ') != AnsiString::npos &&
                      stored == AbTarHeaderSum(block.data(), got);
  return (sum_ok || AbTarMagicOk(rec)) ? AbTarTypeOf : 0;
}

// --- TAbTarItem ---

TAbTarItem::TAbTarItem() = default;

void TAbTarItem::LoadFromStream(TStream& Stream) {
  const int64_t pos = Stream.Position();
  TAbTarHeaderRec rec;
  Stream.ReadBuffer(&rec, sizeof rec);
  Stream.Seek(pos, TSeekOrigin::soBeginning);
  file_name_ = AbOemToChar(FieldText(rec.Name, sizeof rec.Name));
  mode_ = static_cast<uint32_t>(AbOctalValue(rec.Mode, sizeof rec.Mode));
  uid_ = static_cast<int32_t>(AbOctalValue(rec.uid, sizeof rec.uid));
  gid_ = static_cast<int32_t>(AbOctalValue(rec.gid, sizeof rec.gid));
  size_ = AbOctalValue(rec.Size, sizeof rec.Size);
  mtime_ = AbOctalValue(rec.ModTime, sizeof rec.ModTime);
  link_flag_ = rec.LinkFlag;
  usr_name_ = FieldText(rec.UsrName, sizeof rec.UsrName);
  grp_name_ = FieldText(rec.GrpName, sizeof rec.GrpName);
  dev_major_ = static_cast<int32_t>(AbOctalValue(rec.DevMajor, sizeof rec.DevMajor));
  dev_minor_ = static_cast<int32_t>(AbOctalValue(rec.DevMinor, sizeof rec.DevMinor));
  AnsiString disk = file_name_;
  AbToBackslashes(disk);
  disk_file_name_ = disk;
  SetAction(aaNone);
  tagged_ = false;
}

int32_t TAbTarItem::GetCompressedSize() const { return static_cast<int32_t>(std::min<int64_t>(size_, INT32_MAX)); }
int32_t TAbTarItem::GetUncompressedSize() const { return GetCompressedSize(); }

int32_t TAbTarItem::DosStamp() const {
  const auto seconds = static_cast<int32_t>(static_cast<uint32_t>(mtime_));
  return AbDateTimeToFileDate(AbUnixSecondsToDateTime(seconds));
}

void TAbTarItem::SetDosStamp(int32_t Stamp) {
  mtime_ = static_cast<uint32_t>(AbDateTimeToUnixSeconds(AbFileDateToDateTime(Stamp)));
}

void TAbTarItem::SetLastModDateTime(int32_t Stamp) { SetDosStamp(Stamp); }

uint16_t TAbTarItem::GetLastModFileDate() const { return static_cast<uint16_t>(static_cast<uint32_t>(DosStamp()) >> 16); }
uint16_t TAbTarItem::GetLastModFileTime() const { return static_cast<uint16_t>(DosStamp() & 0xFFFF); }

void TAbTarItem::SetLastModFileDate(uint16_t Value) {
  SetDosStamp(static_cast<int32_t>((static_cast<uint32_t>(Value) << 16) | (static_cast<uint32_t>(DosStamp()) & 0xFFFF)));
}

void TAbTarItem::SetLastModFileTime(uint16_t Value) {
  SetDosStamp(static_cast<int32_t>((static_cast<uint32_t>(DosStamp()) & 0xFFFF0000u) | Value));
}

void TAbTarItem::SetUsrName(const AnsiString& Value) {
  if (Value.size() > AbTarMaxUserName) throw EAbException("Tar header: the user name is longer than 31 characters: " + Value);
  usr_name_ = Value;
}

void TAbTarItem::SetGrpName(const AnsiString& Value) {
  if (Value.size() > AbTarMaxUserName) throw EAbException("Tar header: the group name is longer than 31 characters: " + Value);
  grp_name_ = Value;
}

TAbTarHeaderRec TAbTarItem::BuildHeader() const {
  TAbTarHeaderRec rec;
  std::memset(&rec, 0, sizeof rec);
  // A longer name goes into a long-name entry before the header (AbWriteTarHeader);
  // the field keeps its first 99 characters.
  PutText(rec.Name, sizeof rec.Name, AbCharToOem(FileName()).substr(0, AbTarMaxName), "name");
  AbPadOctalField(rec.Mode, sizeof rec.Mode, mode_);
  AbPadOctalField(rec.uid, sizeof rec.uid, uid_);
  AbPadOctalField(rec.gid, sizeof rec.gid, gid_);
  AbPadOctalField(rec.Size, sizeof rec.Size, size_);
  AbPadOctalField(rec.ModTime, sizeof rec.ModTime, mtime_);
  rec.LinkFlag = '0';
  std::memcpy(rec.Magic, "ustar  ", 8);
  PutText(rec.UsrName, sizeof rec.UsrName, usr_name_, "user name");
  PutText(rec.GrpName, sizeof rec.GrpName, grp_name_, "group name");
  AbPadOctalField(rec.DevMajor, sizeof rec.DevMajor, dev_major_);
  AbPadOctalField(rec.DevMinor, sizeof rec.DevMinor, dev_minor_);
  std::memset(rec.ChkSum, ' ', sizeof rec.ChkSum);
  AbPadOctalField(rec.ChkSum, sizeof rec.ChkSum, AbTarHeaderSum(reinterpret_cast<const uint8_t*>(&rec), sizeof rec));
  return rec;
}

void AbWriteTarHeader(const TAbTarItem& Item, TStream& Stream) {
  std::array<uint8_t, AbTarRecordSize> block{};
  const TAbTarHeaderRec rec = Item.BuildHeader();
  const AnsiString name = AbCharToOem(Item.FileName());
  if (name.size() > AbTarMaxName) {
    if (name.size() > AbTarMaxLongName) throw EAbException("Tar header: the name is longer than 65,535 characters");
    // The GNU long-name entry: its data is the whole name, for the header that follows.
    TAbTarItem long_name;
    long_name.SetFileName("././@LongLink");
    long_name.SetExternalFileAttributes(0);
    long_name.SetSize(static_cast<int64_t>(name.size()) + 1);
    TAbTarHeaderRec lrec = long_name.BuildHeader();
    lrec.LinkFlag = 'L';
    std::memset(lrec.ChkSum, ' ', sizeof lrec.ChkSum);
    AbPadOctalField(lrec.ChkSum, sizeof lrec.ChkSum, AbTarHeaderSum(reinterpret_cast<const uint8_t*>(&lrec), sizeof lrec));
    std::memcpy(block.data(), &lrec, sizeof lrec);
    Stream.WriteBuffer(block.data(), AbTarRecordSize);
    std::string data = name;
    data.resize(static_cast<size_t>(AbRoundTo512(static_cast<int64_t>(name.size()) + 1)), '\0');
    Stream.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
    block.fill(0);
  }
  std::memcpy(block.data(), &rec, sizeof rec);
  Stream.WriteBuffer(block.data(), AbTarRecordSize);
}

// --- TAbTarStreamHelper ---

TAbTarStreamHelper::TAbTarStreamHelper(TStream* AStream) : TAbArchiveStreamHelper(AStream) {}

bool TAbTarStreamHelper::ScanFrom(int64_t Pos) {
  const int64_t size = stream_->Size();
  AnsiString long_name;
  bool have_long_name = false;
  std::array<uint8_t, AbTarRecordSize> block{};
  while (Pos >= 0 && Pos + AbTarRecordSize <= size) {
    stream_->Seek(Pos, TSeekOrigin::soBeginning);
    stream_->ReadBuffer(block.data(), AbTarRecordSize);
    TAbTarHeaderRec rec;
    std::memcpy(&rec, block.data(), sizeof rec);
    if (std::all_of(block.begin(), block.end(), [](uint8_t b) { return b == 0; })) break;  // the end block
    // Every header must add up: a damaged one would make items up from data.
    if (!AbTarBlockSumOk(block.data()))
      throw EAbDamagedArchive("the tar header at offset " + std::to_string(Pos) + " fails its checksum");
    if (rec.Name[0] == 0) break;  // an end block of another writer
    if ((static_cast<uint8_t>(rec.Size[0]) & 0x80) != 0)
      throw EAbUnsupportedFeature("a tar entry of 8 GB or more (size in base-256 form) at offset " +
                                  std::to_string(Pos));
    const int64_t entry_size = AbOctalValue(rec.Size, sizeof rec.Size);
    if (Pos + AbTarRecordSize + entry_size > size)
      throw EAbDamagedArchive("the tar entry at offset " + std::to_string(Pos) + " runs past the end of the file (" +
                              std::to_string(entry_size) + " bytes announced)");
    if (rec.LinkFlag == '0' || rec.LinkFlag == 0) {
      header_pos_ = Pos;
      current_size_ = entry_size;
      if (have_long_name) {
        current_name_ = long_name;
      } else {
        current_name_ = FieldText(rec.Name, sizeof rec.Name);
        // A POSIX ustar header keeps the leading directories of a long path apart.
        if (std::memcmp(rec.Magic, "ustar\0", 6) == 0) {
          const AnsiString prefix = FieldText(reinterpret_cast<const char*>(block.data()) + AbTarHeaderSize, 155);
          if (!prefix.empty()) current_name_ = prefix + "/" + current_name_;
        }
      }
      stream_->Seek(Pos, TSeekOrigin::soBeginning);
      return true;
    }
    if (rec.LinkFlag == 'L' && entry_size > 0 && entry_size <= static_cast<int64_t>(AbTarMaxLongName) + 1 && Pos + AbTarRecordSize + entry_size <= size) {
      // A GNU long-name entry: its data is the name of the entry that follows.
      AnsiString name(static_cast<size_t>(entry_size), '\0');
      stream_->ReadBuffer(name.data(), entry_size);
      name.resize(std::strlen(name.c_str()));
      long_name = name;
      have_long_name = true;
    } else if (rec.LinkFlag != 'K') {
      have_long_name = false;
    }
    Pos += AbTarRecordSize + AbRoundTo512(entry_size);
  }
  stream_->Seek(std::min<int64_t>(std::max<int64_t>(Pos, 0), size), TSeekOrigin::soBeginning);
  return false;
}

bool TAbTarStreamHelper::SeekFirstItem() { return ScanFrom(0); }

bool TAbTarStreamHelper::SeekNextItem() {
  return ScanFrom(header_pos_ + AbTarRecordSize + AbRoundTo512(current_size_));
}

bool TAbTarStreamHelper::SeekItem(int32_t Number) {
  if (Number < 0) return false;
  bool found = SeekFirstItem();
  for (int32_t i = 0; found && i < Number; ++i) found = SeekNextItem();
  return found;
}

void TAbTarStreamHelper::CopyItemData(TStream& Stream) {
  stream_->Seek(header_pos_ + AbTarRecordSize, TSeekOrigin::soBeginning);
  if (current_size_ > 0) Stream.CopyFrom(*stream_, current_size_);
  stream_->Seek(header_pos_, TSeekOrigin::soBeginning);
}

void TAbTarStreamHelper::StoreItemData(TStream& Stream) {
  Stream.Seek(0, TSeekOrigin::soBeginning);
  StoreItemData(Stream, Stream.Size());
}

void TAbTarStreamHelper::StoreItemData(TStream& Stream, int64_t Size) {
  if (Size > 0) stream_->CopyFrom(Stream, Size);
  const int64_t pad = AbRoundTo512(Size) - Size;
  if (pad > 0) {
    static const std::array<uint8_t, AbTarRecordSize> zeros{};
    stream_->WriteBuffer(zeros.data(), pad);
  }
}

void TAbTarStreamHelper::StoreTail() {
  static const std::array<uint8_t, AbTarRecordSize> zeros{};
  stream_->WriteBuffer(zeros.data(), AbTarRecordSize);
}

int32_t TAbTarStreamHelper::CountItems() {
  int32_t n = 0;
  for (bool found = SeekFirstItem(); found; found = SeekNextItem()) ++n;
  return n;
}

// --- TAbTarArchive ---

TAbTarArchive::TAbTarArchive(const AnsiString& FileName, uint16_t Mode) : TAbArchive(FileName, Mode) {
  // A tar archive has one volume: a read at the end of the file is the end.
  if (auto* span = dynamic_cast<TAbSpanStream*>(Stream())) span->OnRequestImage = nullptr;
}

AnsiString TAbTarArchive::FixName(const AnsiString& Name) {
  SetStoreOptions(StoreOptions().Include(soStripDrive));
  AnsiString name = Name;
  if (DOSMode()) {
    const bool has_drive = name.size() >= 2 && name[1] == ':';
    if (!BaseDirectory().empty() && !has_drive && !(name.size() >= 1 && IsSeparator(name[0])))
      name = AbWithTrailingBackslash(BaseDirectory()) + name;
    name = AbShortPathOf(name);
  }
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

std::unique_ptr<TAbArchiveItem> TAbTarArchive::CreateItem(const AnsiString& FileName) {
  auto item = std::make_unique<TAbTarItem>();
  item->SetCompressedSize(0);
  item->SetDiskFileName(ExpandFileName(AbDiskPath(FileName)));
  const AnsiString stored = FixName(FileName);
  if (AbCharToOem(stored).size() > AbTarMaxLongName)
    throw EAbException("Tar header: the name is longer than 65,535 characters: " + stored.substr(0, 260) + "...");
  item->SetFileName(stored);
  return item;
}

void TAbTarArchive::LoadArchive() {
  TStream* stream = Stream();
  if (stream == nullptr || stream->Size() == 0) {
    bool abort = false;
    DoArchiveProgress(100, abort);
    SetIsDirty(false);
    return;
  }
  // A file that is not a tar is refused: closing it must never write over it.
  stream->Seek(0, TSeekOrigin::soBeginning);
  if (AbTarKindOf(*stream) != AbTarTypeOf) {
    std::array<uint8_t, AbTarRecordSize> block{};
    const int32_t got = stream->Read(block.data(), AbTarRecordSize);
    stream->Seek(0, TSeekOrigin::soBeginning);
    if (got < AbTarRecordSize || std::any_of(block.begin(), block.end(), [](uint8_t b) { return b != 0; }))
      throw EAbException("Invalid Tar");
  }
  TAbTarStreamHelper helper(stream);
  const int32_t total = helper.CountItems();
  int32_t count = 0;
  bool found = helper.SeekFirstItem();
  while (found && stream->Position() < stream->Size()) {
    try {
      auto item = std::make_unique<TAbTarItem>();
      item->LoadFromStream(*stream);
      AnsiString name = AbOemToChar(helper.CurrentName());
      item->SetFileName(name);
      AbToBackslashes(name);
      item->SetDiskFileName(name);
      item->SetAction(aaNone);
      item->SetTagged(false);
      ItemList().Add(std::move(item));
    } catch (const Exception&) {
      throw EAbException("Invalid Item");
    }
    ++count;
    bool abort = false;
    DoArchiveProgress(static_cast<uint8_t>(AbPercentOf(count, total)), abort);
    if (abort) {
      SetStatus(asInvalid);
      throw EAbUserAbort();
    }
    found = helper.SeekNextItem();
  }
  bool abort = false;
  DoArchiveProgress(100, abort);
  SetIsDirty(false);
}

void TAbTarArchive::ExtractItemToStreamAt(int32_t Index, TStream& Stream) {
  if (this->Stream() == nullptr) throw Exception("Index out of range");
  TAbTarStreamHelper helper(this->Stream());
  if (!helper.SeekItem(Index)) throw Exception("Index out of range");
  helper.CopyItemData(Stream);
}

void TAbTarArchive::ExtractToFile(int32_t Index, const AnsiString& Path, int32_t Attributes, bool SetAttributes) {
  TAbArchiveItem* item = Items(Index);
  // The data goes to a work file beside the target, which takes the target's name
  // only once it is complete.
  const AnsiString work = AbNewTempFile(DirectoryOf(AbDiskPath(Path)));
  try {
    {
      TFileStream out(work, fmOpenReadWrite);
      ExtractItemToStreamAt(Index, out);
    }
    if (::rename(AbSysPath(work).c_str(), AbSysPath(Path).c_str()) != 0) {
      const int err = errno;
      throw EAbInOutError("Cannot create file \"" + Path + "\". " + std::strerror(err), err);
    }
  } catch (const EAbUserAbort&) {
    ::unlink(AbSysPath(work).c_str());
    SetStatus(asInvalid);
    throw;
  } catch (...) {
    ::unlink(AbSysPath(work).c_str());
    throw;
  }
  const int32_t stamp = static_cast<int32_t>((static_cast<uint32_t>(item->LastModFileDate()) << 16) |
                                             item->LastModFileTime());
  AbFileSetDate(Path, stamp);
  if (SetAttributes) AbWriteFileAttr(Path, Attributes);
}

void TAbTarArchive::ExtractItemAt(int32_t Index, const AnsiString& UseName) {
  TAbArchiveItem* item = Items(Index);
  AnsiString path = UseName;
  try {
    if (!AbPrepareOutputPath(BaseDirectory(), path, ExtractOptions(), OnConfirmOverwrite)) return;
  } catch (const Exception& E) {
    // A name that may not be extracted (outside the base directory, no directory to
    // put it in) fails this item only.
    const TAbErrorInfo info = AbClassifyException(E);
    DoProcessItemFailure(item, ptExtract, info.ErrorClass, info.ErrorCode);
    return;
  }
  ExtractToFile(Index, path, AbUnixModeToDosAttr(static_cast<int32_t>(item->ExternalFileAttributes())), true);
}

void TAbTarArchive::TestItemAt(int32_t Index) {
  if (Stream() == nullptr) throw EAbException("Invalid Tar");
  TAbTarStreamHelper helper(Stream());
  if (!helper.SeekItem(Index) || AbTarKindOf(*Stream()) != AbTarTypeOf) throw EAbException("Invalid Tar");
}

AnsiString TAbTarArchive::SwapDirectory() const {
  const AnsiString temp = AbDiskPath(AbTempFileName(TempDirectory(), false));
  return DirectoryOf(temp);
}

std::unique_ptr<TFileStream> TAbTarArchive::OpenDiskFile(TAbArchiveItem& Item, int64_t& Size) {
  auto file = std::make_unique<TFileStream>(AbDiskPath(Item.DiskFileName()), fmOpenRead | fmShareDenyWrite);
  Size = file->Size();
  const int32_t age = AbFileAge(Item.DiskFileName());
  if (age != -1) {
    if (auto* tar = dynamic_cast<TAbTarItem*>(&Item)) {
      tar->SetLastModDateTime(age);
    } else {
      Item.SetLastModFileDate(static_cast<uint16_t>(static_cast<uint32_t>(age) >> 16));
      Item.SetLastModFileTime(static_cast<uint16_t>(age & 0xFFFF));
    }
  }
  return file;
}

bool TAbTarArchive::NothingToSave() {
  return !IsDirty() && ActiveItemCount() == 0 && Stream() != nullptr && Stream()->Size() > 0;
}

void TAbTarArchive::SaveArchive() {
  // A non-empty archive without file entries (directories only, say) that was not
  // changed is left as it is rather than cut down to an end block.
  if (NothingToSave()) {
    FinishSave();
    return;
  }
  TAbVirtualMemoryStream out;
  out.SetSwapFileDirectory(SwapDirectory());
  TAbTarStreamHelper writer(&out);
  auto write_item = [&](int32_t i) {
    auto* item = static_cast<TAbTarItem*>(Items(i));
    SetCurrentItem(item);
    const int64_t start = out.Position();
    try {
      switch (item->Action()) {
        case aaNone:
        case aaMove: {
          if (Stream() == nullptr) throw Exception("Index out of range");
          TAbTarStreamHelper reader(Stream());
          if (!reader.SeekItem(i)) throw Exception("Index out of range");
          TAbVirtualMemoryStream work;
          work.SetSwapFileDirectory(SwapDirectory());
          reader.CopyItemData(work);
          item->SetSize(work.Size());
          AbWriteTarHeader(*item, out);
          work.Seek(0, TSeekOrigin::soBeginning);
          writer.StoreItemData(work, work.Size());
          break;
        }
        case aaAdd:
        case aaFreshen:
        case aaReplace: {
          int64_t size = 0;
          std::unique_ptr<TFileStream> file = OpenDiskFile(*item, size);
          item->SetExternalFileAttributes(
              static_cast<uint32_t>(AbDosAttrToUnixMode(AbReadFileAttr(item->DiskFileName()))));
          item->SetSize(size);
          AbWriteTarHeader(*item, out);
          writer.StoreItemData(*file, size);
          break;
        }
        case aaStreamAdd: {
          TStream* in = InStream();
          if (in == nullptr) throw EAbException("No input stream to add from");
          item->SetSize(in->Size());
          item->SetLastModDateTime(AbDateTimeToFileDate(Now()));
          AbWriteTarHeader(*item, out);
          in->Seek(0, TSeekOrigin::soBeginning);
          writer.StoreItemData(*in, item->Size());
          break;
        }
        case aaDelete:
        case aaFailed:
          break;
      }
    } catch (const Exception& E) {
      // The item is dropped whole: nothing of it stays in the new archive.
      out.SetSize(start);
      out.Seek(start, TSeekOrigin::soBeginning);
      item->SetAction(aaDelete);
      const TAbErrorInfo info = AbClassifyException(E);
      DoProcessItemFailure(item, ptAdd, info.ErrorClass == ecArchiveKit ? info.ErrorClass : ecFileOpenError,
                           info.ErrorClass == ecArchiveKit ? info.ErrorCode : 0);
    }
  };

  // The old archive in its order: its file entries are the loaded items; the other
  // entries (directories, links, devices) are no items but are kept as they stand.
  std::vector<bool> written(static_cast<size_t>(ItemCount()), false);
  TStream* old = Stream();
  const int64_t old_size = old != nullptr ? old->Size() : 0;
  int32_t file_index = 0;
  int64_t prefix_pos = -1;  // long-name or extended headers that belong to the next entry
  std::array<uint8_t, AbTarRecordSize> block{};
  for (int64_t pos = 0; pos + AbTarRecordSize <= old_size;) {
    old->Seek(pos, TSeekOrigin::soBeginning);
    if (old->Read(block.data(), AbTarRecordSize) != AbTarRecordSize) break;
    TAbTarHeaderRec rec;
    std::memcpy(&rec, block.data(), sizeof rec);
    if (rec.Name[0] == 0) break;
    const int64_t length = AbTarRecordSize + AbRoundTo512(AbOctalValue(rec.Size, sizeof rec.Size));
    if (pos + length > old_size) break;
    if (rec.LinkFlag == '0' || rec.LinkFlag == 0) {
      // A file's own long-name entry is written anew with its header.
      if (file_index < ItemCount()) {
        write_item(file_index);
        written[static_cast<size_t>(file_index)] = true;
      }
      ++file_index;
      prefix_pos = -1;
    } else if (rec.LinkFlag == 'L' || rec.LinkFlag == 'K' || rec.LinkFlag == 'x') {
      if (prefix_pos < 0) prefix_pos = pos;
    } else {
      const int64_t from = prefix_pos >= 0 ? prefix_pos : pos;
      old->Seek(from, TSeekOrigin::soBeginning);
      out.CopyFrom(*old, pos + length - from);
      prefix_pos = -1;
    }
    pos += length;
  }
  for (int32_t i = 0; i < ItemCount(); ++i) {
    if (!written[static_cast<size_t>(i)]) write_item(i);
  }
  SetCurrentItem(nullptr);
  writer.StoreTail();
  ReplaceArchiveFile(out);
  FinishSave();
}

void TAbTarArchive::ReplaceArchiveFile(TStream& Content) {
  // A tar held in a memory stream (the inside of a gzip) takes the content by copy.
  if (auto* memory = dynamic_cast<TAbVirtualMemoryStream*>(Stream())) {
    memory->SetSize(0);
    memory->Seek(0, TSeekOrigin::soBeginning);
    Content.Seek(0, TSeekOrigin::soBeginning);
    if (Content.Size() > 0) memory->CopyFrom(Content, Content.Size());
    return;
  }
  // An abort is honoured before the file is touched, never halfway.
  bool abort = false;
  DoArchiveSaveProgress(0, abort);
  if (abort) throw EAbUserAbort();
  // The old stream goes first: a newly created file is still held by it.
  SetArchiveStream(nullptr, false);
  SetArchiveStream(AbWriteArchiveFile(*this, ArchiveName(), Content));
}

void TAbTarArchive::FinishSave() {
  for (int32_t i = ItemCount() - 1; i >= 0; --i) {
    TAbArchiveItem* item = Items(i);
    if (item->Action() == aaDelete)
      ItemList().Delete(i);
    else if (item->Action() != aaFailed)
      item->SetAction(aaNone);
  }
  bool abort = false;
  DoArchiveSaveProgress(100, abort);
  abort = false;
  DoArchiveProgress(100, abort);
}

std::unique_ptr<TStream> AbWriteArchiveFile(TAbArchive& Archive, const AnsiString& FileName, TStream& Content) {
  {
    TAbSpanStream file(FileName, 0, mtLocal, kWriteDenyWrite);
    // Stopping halfway would leave neither the old archive nor the new one.
    file.OnArchiveProgress = [&Archive](uint8_t Progress, bool& Abort) {
      Archive.DoArchiveSaveProgress(Progress, Abort);
      Abort = false;
    };
    file.SetArchiveTotalSize(static_cast<int32_t>(std::min<int64_t>(Content.Size(), INT32_MAX)));
    Content.Seek(0, TSeekOrigin::soBeginning);
    std::vector<uint8_t> buffer(65536);
    for (;;) {
      const int32_t got = Content.Read(buffer.data(), static_cast<int32_t>(buffer.size()));
      if (got <= 0) break;
      file.WriteBuffer(buffer.data(), got);
    }
    // The new archive may be shorter than the old file: the file ends where it ends.
    file.SetSize(file.Position());
  }
  return std::make_unique<TAbSpanStream>(FileName, 0, mtLocal, kReadDenyNone);
}

}  // namespace pelvar
