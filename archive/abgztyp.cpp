#include "archive/abgztyp.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "archive/abbitbkt.h"
#include "archive/abdfbase.h"
#include "archive/abdfdec.h"
#include "archive/abdfenc.h"
#include "platform/dateutils.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

void PutU32(AnsiString& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Reads a zero-terminated text at the stream's position, in pieces of 1,023 bytes,
// and leaves the stream just after its zero byte. No zero byte before the end of
// the stream: EAbGzipInvalid.
AnsiString ReadZString(TStream& Stream) {
  AnsiString out;
  char piece[1023];
  for (;;) {
    const int64_t at = Stream.Position();
    const int32_t got = Stream.Read(piece, sizeof piece);
    if (got <= 0) throw EAbGzipInvalid();
    const auto* zero = static_cast<const char*>(std::memchr(piece, 0, static_cast<size_t>(got)));
    if (zero != nullptr) {
      const auto len = static_cast<size_t>(zero - piece);
      out.append(piece, len);
      Stream.Seek(at + static_cast<int64_t>(len) + 1, TSeekOrigin::soBeginning);
      return out;
    }
    out.append(piece, static_cast<size_t>(got));
  }
}

void ReadExact(TStream& Stream, void* Buffer, int32_t Count) {
  if (Count > 0 && Stream.Read(Buffer, Count) != Count) throw EAbGzipInvalid();
}

// At the position: the next three bytes start a gzip member. The position is kept.
bool MemberFollows(TStream& Stream) {
  const int64_t at = Stream.Position();
  if (Stream.Size() - at < 10) return false;
  uint8_t head[3];
  const int32_t got = Stream.Read(head, 3);
  Stream.Seek(at, TSeekOrigin::soBeginning);
  return got == 3 && AbGzipHeaderOk(head, 3);
}

}  // namespace

bool AbGzipHeaderOk(const uint8_t* Header, int32_t Length) {
  return Length >= 3 && Header[0] == 31 && Header[1] == 139 && Header[2] == 8;
}

int32_t AbGzipKindOf(TStream& Stream) {
  const int64_t pos = Stream.Position();
  int32_t result = 0;
  try {
    Stream.Seek(0, TSeekOrigin::soBeginning);
    uint8_t head[10];
    if (Stream.Read(head, 10) == 10 && AbGzipHeaderOk(head, 10)) {
      result = AbGzipTypeOf;
      Stream.Seek(0, TSeekOrigin::soBeginning);
      TAbGzipItem item;
      item.LoadFromStream(Stream);
      TMemoryStream first;
      TAbDeflateHelper helper;
      helper.SetPartialLimit(512);
      Inflate(&Stream, &first, &helper);
      first.Seek(0, TSeekOrigin::soBeginning);
      if (AbTarKindOf(first) == AbTarTypeOf) result = AbGzipTarTypeOf;
    }
  } catch (const Exception&) {
    // A damaged member is still a gzip file; its test tells what is wrong.
  }
  Stream.Seek(pos, TSeekOrigin::soBeginning);
  return result;
}

// --- TAbGzipItem ---

TAbGzipItem::TAbGzipItem() = default;

void TAbGzipItem::LoadFromStream(TStream& Stream) {
  uint8_t head[10];
  ReadExact(Stream, head, 10);
  if (!AbGzipHeaderOk(head, 10)) throw EAbGzipInvalid();
  flags_ = head[3];
  mtime_ = GetU32(head + 4);
  xfl_ = head[8];
  os_ = head[9];
  extra_field_.clear();
  comment_.clear();
  if (flags_ & AbGzipFlagExtra) {
    uint8_t len[2];
    ReadExact(Stream, len, 2);
    const int32_t n = len[0] | (len[1] << 8);
    extra_field_.assign(static_cast<size_t>(n), '\0');
    ReadExact(Stream, extra_field_.data(), n);
  }
  file_name_ = (flags_ & AbGzipFlagName) ? ReadZString(Stream) : AnsiString("unknown");
  if (flags_ & AbGzipFlagComment) comment_ = ReadZString(Stream);
  if (flags_ & AbGzipFlagHeaderCrc) {
    uint8_t crc[2];
    ReadExact(Stream, crc, 2);
  }
  compressed_size_ = static_cast<int32_t>(std::clamp<int64_t>(Stream.Size() - Stream.Position() - 8, 0, INT32_MAX));
  AnsiString disk = file_name_;
  AbToBackslashes(disk);
  disk_file_name_ = disk;
  SetAction(aaNone);
  tagged_ = false;
}

void TAbGzipItem::SaveToStream(TStream& Stream) const {
  uint8_t flags = flags_ & AbGzipFlagText;
  if (!extra_field_.empty()) flags |= AbGzipFlagExtra;
  if (!file_name_.empty()) flags |= AbGzipFlagName;
  if (!comment_.empty()) flags |= AbGzipFlagComment;
  if (extra_field_.size() > 0xFFFF) throw EAbGzipException("Gzip header: the extra field is longer than 65,535 bytes");
  // The texts end at a zero byte: one inside them would end them early.
  if (file_name_.find('\0') != AnsiString::npos || comment_.find('\0') != AnsiString::npos)
    throw EAbGzipException("Gzip header: a zero byte inside the name or comment");
  AnsiString out;
  out += static_cast<char>(31);
  out += static_cast<char>(139);
  out += static_cast<char>(8);
  out += static_cast<char>(flags);
  PutU32(out, mtime_);
  out += static_cast<char>(xfl_);
  out += static_cast<char>(os_);
  if (flags & AbGzipFlagExtra) {
    out += static_cast<char>(extra_field_.size() & 0xFF);
    out += static_cast<char>(extra_field_.size() >> 8);
    out += extra_field_;
  }
  if (flags & AbGzipFlagName) {
    out += file_name_;
    out += '\0';
  }
  if (flags & AbGzipFlagComment) {
    out += comment_;
    out += '\0';
  }
  Stream.WriteBuffer(out.data(), static_cast<int64_t>(out.size()));
}

void TAbGzipItem::SetIsText(bool Value) {
  flags_ = Value ? static_cast<uint8_t>(flags_ | AbGzipFlagText) : static_cast<uint8_t>(flags_ & ~AbGzipFlagText);
}

int32_t TAbGzipItem::DosStamp() const {
  return AbDateTimeToFileDate(AbUnixSecondsToDateTime(static_cast<int32_t>(mtime_)));
}

void TAbGzipItem::SetLastModDateTime(int32_t Stamp) {
  mtime_ = static_cast<uint32_t>(AbDateTimeToUnixSeconds(AbFileDateToDateTime(Stamp)));
}

uint16_t TAbGzipItem::GetLastModFileDate() const { return static_cast<uint16_t>(static_cast<uint32_t>(DosStamp()) >> 16); }
uint16_t TAbGzipItem::GetLastModFileTime() const { return static_cast<uint16_t>(DosStamp() & 0xFFFF); }

void TAbGzipItem::SetLastModFileDate(uint16_t Value) {
  SetLastModDateTime(static_cast<int32_t>((static_cast<uint32_t>(Value) << 16) | (static_cast<uint32_t>(DosStamp()) & 0xFFFF)));
}

void TAbGzipItem::SetLastModFileTime(uint16_t Value) {
  SetLastModDateTime(static_cast<int32_t>((static_cast<uint32_t>(DosStamp()) & 0xFFFF0000u) | Value));
}

// --- TAbGzipStreamHelper ---

TAbGzipStreamHelper::TAbGzipStreamHelper(TStream* AStream)
    : TAbArchiveStreamHelper(AStream), item_(std::make_unique<TAbGzipItem>()) {}

bool TAbGzipStreamHelper::SeekFirstItem() {
  stream_->Seek(0, TSeekOrigin::soBeginning);
  uint8_t head[10];
  const int32_t got = stream_->Read(head, 10);
  stream_->Seek(0, TSeekOrigin::soBeginning);
  return got == 10 && AbGzipHeaderOk(head, 10);
}

bool TAbGzipStreamHelper::SeekItem(int32_t Number) { return Number <= 0 && SeekFirstItem(); }

void TAbGzipStreamHelper::LoadHeader() { item_->LoadFromStream(*stream_); }

void TAbGzipStreamHelper::LoadTail() {
  uint8_t tail[8];
  if (stream_->Read(tail, 8) != 8) throw EAbGzipInvalid();
  tail_crc_ = GetU32(tail);
  tail_size_ = GetU32(tail + 4);
}

void TAbGzipStreamHelper::StoreHeader() { item_->SaveToStream(*stream_); }

uint32_t TAbGzipStreamHelper::ExpandData(TStream& Stream, uint32_t& Count) {
  TAbDeflateHelper helper;
  if (dynamic_cast<TAbBitBucketStream*>(&Stream) != nullptr) helper.SetOptions(helper.Options() | dfc_TestOnly);
  uint32_t crc = 0;
  try {
    crc = Inflate(stream_, &Stream, &helper);
  } catch (const EAbInflateError& E) {
    throw EAbBadData("the gzip member's compressed data (" + E.Cause() + ")");
  }
  Count = static_cast<uint32_t>(helper.UncompressedCount());
  return crc;
}

void TAbGzipStreamHelper::CopyItemData(TStream& Stream) {
  stream_->Seek(0, TSeekOrigin::soBeginning);
  item_->LoadFromStream(*stream_);
  uint32_t count = 0;
  const uint32_t crc = ExpandData(Stream, count);
  item_->SetCRC32(crc);
  item_->SetUncompressedSize(static_cast<int32_t>(count));
}

void TAbGzipStreamHelper::StoreItemData(TStream& Stream) {
  TAbDeflateHelper helper;
  const int64_t start = stream_->Position();
  stored_crc_ = Deflate(&Stream, stream_, &helper);
  stored_size_ = static_cast<uint32_t>(helper.UncompressedCount());
  item_->SetCRC32(stored_crc_);
  item_->SetUncompressedSize(helper.UncompressedCount());
  item_->SetCompressedSize(static_cast<int32_t>(std::min<int64_t>(stream_->Position() - start, INT32_MAX)));
}

void TAbGzipStreamHelper::StoreTail() {
  AnsiString tail;
  PutU32(tail, stored_crc_);
  PutU32(tail, stored_size_);
  stream_->WriteBuffer(tail.data(), 8);
}

// --- TAbGzipArchive ---

TAbGzipArchive::TAbGzipArchive(const AnsiString& FileName, uint16_t Mode) : TAbTarArchive(FileName, Mode) {
  // The archive stream as created is the gzip file's; the archive shows it without
  // owning it, so that the views can change.
  TStream* file = Stream();
  SetArchiveStream(file, false);
  gzip_stream_.reset(file);
  tar_stream_ = std::make_unique<TAbVirtualMemoryStream>();
  tar_stream_->SetSwapFileDirectory(SwapDirectory());
  hidden_list_ = std::make_unique<TAbArchiveList>();
}

TAbGzipArchive::~TAbGzipArchive() { SetArchiveStream(nullptr, false); }

void TAbGzipArchive::ShowView(bool Tar) {
  if (Tar == tar_view_) return;
  std::swap(ItemListHolder(), hidden_list_);
  SetArchiveStream(Tar ? static_cast<TStream*>(tar_stream_.get()) : gzip_stream_.get(), false);
  tar_view_ = Tar;
}

void TAbGzipArchive::SetAutoOpenTar(bool Value) {
  auto_open_tar_ = Value;
  ShowView(Value);
}

void TAbGzipArchive::DoSpanningMediaRequest(TObject*, int32_t, AnsiString&, bool& Abort) { Abort = false; }

AnsiString TAbGzipArchive::FixName(const AnsiString& Name) {
  if (AsTar()) return TAbTarArchive::FixName(Name);
  SetStoreOptions(StoreOptions().Include(soStripDrive).Include(soStripPath));
  const size_t sep = Name.find_last_of("\\/:");
  return sep == AnsiString::npos ? Name : Name.substr(sep + 1);
}

std::unique_ptr<TAbArchiveItem> TAbGzipArchive::CreateItem(const AnsiString& FileName) {
  if (AsTar()) {
    ShowView(true);
    return TAbTarArchive::CreateItem(FileName);
  }
  ShowView(false);
  auto item = std::make_unique<TAbGzipItem>();
  item->SetCompressedSize(0);
  item->SetCRC32(0);
  item->SetDiskFileName(ExpandFileName(AbDiskPath(FileName)));
  item->SetFileName(FixName(FileName));
  return item;
}

void TAbGzipArchive::Add(std::unique_ptr<TAbArchiveItem> Item) {
  // One member, one tail: a second file would end up without a tail of its own (or
  // be lost on loading). Freshening or replacing the one file stays possible.
  if (!tar_view_ && Item && !ItemList().IsActiveDupe(Item->FileName()) && ActiveItemCount() >= 1)
    throw EAbGzipException("A gzip archive holds one file only: " + Item->FileName() + " cannot be added");
  TAbTarArchive::Add(std::move(Item));
}

void TAbGzipArchive::ExpandFile(TStream& Stream) {
  TStream& file = *gzip_stream_;
  file.Seek(0, TSeekOrigin::soBeginning);
  TAbGzipStreamHelper helper(&file);
  // Members written one after another form one file (RFC 1952, 2.2).
  do {
    helper.LoadHeader();
    uint32_t count = 0;
    const uint32_t crc = helper.ExpandData(Stream, count);
    helper.LoadTail();
    if (crc != helper.TailCRC32()) throw EAbGzipBadCRC();
    if (count != helper.TailSize()) throw EAbGzipBadFileSize();
  } while (MemberFollows(file));
}

void TAbGzipArchive::LoadArchive() {
  if (!gzip_stream_ || gzip_stream_->Size() == 0) {
    bool abort = false;
    DoArchiveProgress(100, abort);
    SetIsDirty(false);
    return;
  }
  if (AsTar()) {
    if (!tar_loaded_) {
      tar_stream_->SetSize(0);
      tar_stream_->Seek(0, TSeekOrigin::soBeginning);
      ExpandFile(*tar_stream_);
      tar_stream_->Seek(0, TSeekOrigin::soBeginning);
      tar_loaded_ = true;
      ShowView(true);
      TAbTarArchive::LoadArchive();
    }
    return;
  }
  ShowView(false);
  TAbGzipStreamHelper helper(gzip_stream_.get());
  // A file that is not a gzip is refused: closing it must never write over it.
  if (!helper.SeekFirstItem()) throw EAbGzipInvalid();
  auto item = std::make_unique<TAbGzipItem>();
  item->LoadFromStream(*gzip_stream_);
  if (gzip_stream_->Size() - gzip_stream_->Position() < 8) throw EAbGzipInvalid();
  gzip_stream_->Seek(-8, TSeekOrigin::soEnd);
  helper.LoadTail();
  item->SetCRC32(helper.TailCRC32());
  item->SetUncompressedSize(static_cast<int32_t>(helper.TailSize()));
  item->SetAction(aaNone);
  ItemList().Clear();
  ItemList().Add(std::move(item));
  bool abort = false;
  DoArchiveProgress(100, abort);
  if (abort) {
    SetStatus(asInvalid);
    throw EAbUserAbort();
  }
  abort = false;
  DoArchiveProgress(100, abort);
  SetIsDirty(false);
}

void TAbGzipArchive::ExtractItemToStreamAt(int32_t Index, TStream& Stream) {
  if (AsTar()) {
    ShowView(true);
    TAbTarArchive::ExtractItemToStreamAt(Index, Stream);
    return;
  }
  if (Index != 0 || !gzip_stream_) throw Exception("Index out of range");
  ExpandFile(Stream);
}

void TAbGzipArchive::ExtractItemAt(int32_t Index, const AnsiString& UseName) {
  if (AsTar()) {
    ShowView(true);
    TAbTarArchive::ExtractItemAt(Index, UseName);
    return;
  }
  TAbArchiveItem* item = Items(0);
  AnsiString path = UseName;
  try {
    if (!AbPrepareOutputPath(BaseDirectory(), path, ExtractOptions(), OnConfirmOverwrite)) return;
  } catch (const Exception& E) {
    const TAbErrorInfo info = AbClassifyException(E);
    DoProcessItemFailure(item, ptExtract, info.ErrorClass, info.ErrorCode);
    return;
  }
  ExtractToFile(0, path, 0, false);
}

void TAbGzipArchive::TestItemAt(int32_t Index) {
  if (AsTar()) {
    ShowView(true);
    TAbTarArchive::TestItemAt(Index);
    return;
  }
  if (!gzip_stream_) throw EAbGzipInvalid();
  TStream& file = *gzip_stream_;
  const int64_t pos = file.Position();
  try {
    const int32_t kind = AbGzipKindOf(file);
    if (kind != AbGzipTypeOf && kind != AbGzipTarTypeOf) throw EAbGzipInvalid();
    TAbBitBucketStream bucket(1024);
    ExpandFile(bucket);
  } catch (...) {
    file.Seek(pos, TSeekOrigin::soBeginning);
    throw;
  }
  file.Seek(pos, TSeekOrigin::soBeginning);
}

void TAbGzipArchive::SaveArchive() {
  if (AsTar())
    SaveTarInside();
  else
    SaveGzipView();
}

void TAbGzipArchive::SaveTarInside() {
  ShowView(true);
  if (NothingToSave()) {
    FinishSave();
    return;
  }
  // The tar goes into the tar stream first; the gzip file is rewritten only once the
  // whole new member is ready, so a failure on the way keeps the old file.
  TAbTarArchive::SaveArchive();
  TAbVirtualMemoryStream out;
  out.SetSwapFileDirectory(SwapDirectory());
  TAbGzipStreamHelper writer(&out);
  if (gzip_stream_ && gzip_stream_->Size() > 0) {
    TAbGzipStreamHelper reader(gzip_stream_.get());
    if (reader.SeekFirstItem()) {
      try {
        reader.LoadHeader();
        writer.Item().SetFileName(reader.Item().FileName() == "unknown" && !(reader.Item().Flags() & AbGzipFlagName)
                                      ? AnsiString()
                                      : reader.Item().FileName());
        writer.Item().SetModTime(reader.Item().ModTime());
        writer.Item().SetFileComment(reader.Item().FileComment());
        writer.Item().SetExtraField(reader.Item().ExtraField());
      } catch (const Exception&) {
        // A damaged old header: the new one is written from scratch.
      }
    }
  }
  if (writer.Item().ModTime() == 0) writer.Item().SetLastModDateTime(AbDateTimeToFileDate(Now()));
  writer.StoreHeader();
  tar_stream_->Seek(0, TSeekOrigin::soBeginning);
  writer.StoreItemData(*tar_stream_);
  writer.StoreTail();
  WriteGzipFile(out);
}

void TAbGzipArchive::SaveGzipView() {
  ShowView(false);
  // A gzip file that held no member and was not changed is left as it is.
  if (!IsDirty() && ActiveItemCount() == 0 && gzip_stream_ && gzip_stream_->Size() > 0) {
    FinishSave();
    return;
  }
  TAbVirtualMemoryStream out;
  out.SetSwapFileDirectory(SwapDirectory());
  for (int32_t i = 0; i < ItemCount(); ++i) {
    auto* item = static_cast<TAbGzipItem*>(Items(i));
    SetCurrentItem(item);
    const int64_t start = out.Position();
    try {
      TAbGzipStreamHelper writer(&out);
      std::unique_ptr<TStream> source;
      TStream* input = nullptr;
      switch (item->Action()) {
        case aaNone:
        case aaMove: {
          auto work = std::make_unique<TAbVirtualMemoryStream>();
          work->SetSwapFileDirectory(SwapDirectory());
          ExpandFile(*work);
          work->Seek(0, TSeekOrigin::soBeginning);
          source = std::move(work);
          input = source.get();
          break;
        }
        case aaAdd:
        case aaFreshen:
        case aaReplace: {
          int64_t size = 0;
          std::unique_ptr<TFileStream> file = OpenDiskFile(*item, size);
          if (size > INT32_MAX)
            throw EAbGzipException("The file is larger than 2 GB, which the gzip archive cannot hold: " +
                                   item->DiskFileName());
          source = std::move(file);
          input = source.get();
          break;
        }
        case aaStreamAdd:
          input = InStream();
          if (input == nullptr) throw EAbException("No input stream to add from");
          if (input->Size() > INT32_MAX) throw EAbGzipException("The stream is larger than 2 GB");
          input->Seek(0, TSeekOrigin::soBeginning);
          item->SetLastModDateTime(AbDateTimeToFileDate(Now()));
          break;
        case aaDelete:
        case aaFailed:
          break;
      }
      if (input != nullptr) {
        item->SaveToStream(out);
        writer.StoreItemData(*input);
        // Every member ends with its own tail.
        writer.StoreTail();
        item->SetCRC32(writer.StoredCRC32());
        item->SetUncompressedSize(static_cast<int32_t>(writer.StoredSize()));
        item->SetCompressedSize(writer.Item().CompressedSize());
      }
    } catch (const Exception& E) {
      out.SetSize(start);
      out.Seek(start, TSeekOrigin::soBeginning);
      item->SetAction(aaDelete);
      const TAbErrorInfo info = AbClassifyException(E);
      DoProcessItemFailure(item, ptAdd, info.ErrorClass == ecArchiveKit ? info.ErrorClass : ecFileOpenError,
                           info.ErrorClass == ecArchiveKit ? info.ErrorCode : 0);
    }
  }
  SetCurrentItem(nullptr);
  WriteGzipFile(out);
  FinishSave();
}

void TAbGzipArchive::ReplaceArchiveFile(TStream& Content) {
  if (tar_view_) {
    TAbTarArchive::ReplaceArchiveFile(Content);  // into the tar stream
    return;
  }
  WriteGzipFile(Content);
}

void TAbGzipArchive::WriteGzipFile(TStream& Content) {
  bool abort = false;
  DoArchiveSaveProgress(0, abort);
  if (abort) throw EAbUserAbort();
  if (!tar_view_) SetArchiveStream(nullptr, false);
  gzip_stream_.reset();
  try {
    gzip_stream_ = AbWriteArchiveFile(*this, ArchiveName(), Content);
  } catch (const Exception&) {
    throw EAbException("Unable to create new Spanned stream");
  }
  if (!tar_view_) SetArchiveStream(gzip_stream_.get(), false);
}

}  // namespace pelvar
