#include "archive/abcabtyp.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>

#include "archive/abconst.h"
#include "archive/abexcept.h"
#include "archive/abutils.h"
#include "platform/codepage.h"
#include "platform/streams.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

constexpr uint16_t kNameIsUtf = 0x80;

// The directory part (with its separator) and the name part of a path; both
// separators count.
void SplitCabPath(const AnsiString& Path, AnsiString& Dir, AnsiString& Name) {
  const size_t sep = Path.find_last_of("\\/");
  if (sep == AnsiString::npos) {
    Dir.clear();
    Name = Path;
  } else {
    Dir = Path.substr(0, sep + 1);
    Name = Path.substr(sep + 1);
  }
}

AnsiString NamePart(const AnsiString& Path) {
  AnsiString dir, name;
  SplitCabPath(Path, dir, name);
  return name;
}

bool IsWriteMode(uint16_t Mode) {
  return Mode == 0xFFFF || Mode == fmCreate || (Mode & 3) == fmOpenWrite || (Mode & 3) == fmOpenReadWrite;
}

}  // namespace

void AbBindCabinetLibrary() {
  if (!LoadCabinetLibrary()) throw EAbNoCabinetDll();
}

// --- TAbCabArchive ---

TAbCabArchive::TAbCabArchive(const AnsiString& FileName, uint16_t Mode)
    : TAbArchive(FileName, Mode, TAbNoArchiveStream{}) {
  SplitCabPath(FileName, cab_path_, cab_name_);
  open_mode_ = IsWriteMode(Mode) ? 1 : 0;
  SetSpanningThreshold(0);
}

TAbCabArchive::~TAbCabArchive() {
  // Files added and not yet written go out now; a destructor cannot report a failure.
  if (fci_ != nullptr && unsaved_) FCIFlushCabinet(fci_, false);
  ReleaseContexts();
  bool abort = false;
  try {
    DoArchiveProgress(0, abort);
  } catch (...) {
  }
}

void TAbCabArchive::ReleaseContexts() {
  if (fdi_ != nullptr) FDIDestroy(fdi_);
  fdi_ = nullptr;
  if (fci_ != nullptr) FCIDestroy(fci_);
  fci_ = nullptr;
}

uint16_t TAbCabArchive::LibraryCompression() const {
  switch (compression_type_) {
    case ctNone:
      return tcompTYPE_NONE;
    case ctMSZIP:
      return tcompTYPE_MSZIP;
    case ctLZX:
      return tcompLZX_18;
  }
  return tcompTYPE_MSZIP;
}

AnsiString TAbCabArchive::NameFromCabinet(const AnsiString& Raw, uint16_t Attributes) {
  return (Attributes & kNameIsUtf) != 0 ? Utf8ToAnsi(Raw) : AbOemToChar(Raw);
}

void TAbCabArchive::SetSpanningThreshold(int32_t Value) {
  if (Value < 0) Value = 0;
  TAbArchive::SetSpanningThreshold(Value);
  fci_params_.cb = static_cast<uint32_t>(Value);
}

void TAbCabArchive::DoConfirmOverwrite(AnsiString& Name, bool& Confirm) {
  Confirm = true;
  if (OnConfirmOverwrite) OnConfirmOverwrite(Name, Confirm);
}

std::unique_ptr<TAbArchiveItem> TAbCabArchive::CreateItem(const AnsiString& FileName) {
  auto item = std::make_unique<TAbCabItem>();
  item->SetCompressedSize(0);
  // The disk name stays a path the file system understands; the stored name is
  // converted to the cabinet's code page only when it is handed to the library.
  item->SetDiskFileName(ExpandFileName(AbDiskPath(FileName)));
  item->SetFileName(FixName(FileName));
  return item;
}

void TAbCabArchive::Add(std::unique_ptr<TAbArchiveItem> Item) {
  if (!CreatedForWriting()) {
    DoProcessItemFailure(Item.get(), ptAdd, ecCabError, 0);
    return;
  }
  CheckValid();
  // The cabinet holds the file under the file-name part of its stored name; the
  // item carries that name, so that two files of one name cannot both go in.
  Item->SetFileName(NamePart(Item->FileName()));
  if (FindFile(Item->FileName()) >= 0) throw EAbDuplicateName();
  bool confirm = true;
  DoConfirmProcessItem(Item.get(), ptAdd, confirm);
  if (!confirm) return;
  Item->SetAction(aaAdd);
  // The size comes from the file on disk (the stored name has lost its path).
  const AnsiString source = Item->DiskFileName();
  struct stat st;
  if (::stat(AbSysPath(source).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) throw EAbFileNotFound();
  Item->SetUncompressedSize(static_cast<int32_t>(std::min<int64_t>(st.st_size, INT32_MAX)));
  if (fci_ == nullptr) CreateCompressor();
  SetCurrentItem(Item.get());
  item_progress_ = 0;
  if (!FCIAddFile(fci_, source, AbCharToOem(Item->FileName()), false, LibraryCompression())) {
    SetCurrentItem(nullptr);
    throw EAbFCIAddFileError();
  }
  ItemList().Add(std::move(Item));
  unsaved_ = true;
  SetIsDirty(true);
}

void TAbCabArchive::CreateCompressor() {
  fci_params_ = CCAB{};
  fci_params_.cb = GetSpanningThreshold() > 0 ? static_cast<uint32_t>(GetSpanningThreshold()) : 0;
  fci_params_.cbFolderThresh = folder_threshold_ > 0 ? static_cast<uint32_t>(folder_threshold_) : 0;
  fci_params_.iCab = 1;
  fci_params_.iDisk = 0;
  fci_params_.szCab = cab_name_;
  fci_params_.szCabPath = cab_path_;

  FCICallbacks callbacks;
  callbacks.fnFilePlaced = [](CCAB&, const AnsiString&, int32_t, bool, void*) { return 0; };
  callbacks.fnGetOpenInfo = [this](const AnsiString& Name, uint16_t& Date, uint16_t& Time, uint16_t& Attribs,
                                   int32_t& Err, void*) {
    const int32_t attr = AbReadFileAttr(Name);
    const int32_t age = AbFileAge(Name);
    if (attr < 0 || age == -1) {
      Err = 1;
      return false;
    }
    Attribs = static_cast<uint16_t>(attr & 0x27);
    Date = static_cast<uint16_t>(static_cast<uint32_t>(age) >> 16);
    Time = static_cast<uint16_t>(age & 0xFFFF);
    item_progress_ = 0;
    return true;
  };
  callbacks.fnStatus = [this](uint32_t Type, uint32_t, uint32_t Read, void*) -> int32_t {
    TAbArchiveItem* item = CurrentItem();
    if (Type != statusFile || item == nullptr) return 0;
    item_progress_ += Read;
    bool abort = false;
    // An empty file is done as soon as it is placed.
    const int32_t whole = item->UncompressedSize();
    const uint8_t percent =
        whole <= 0 ? 100 : static_cast<uint8_t>(AbPercentOf(static_cast<int32_t>(item_progress_), whole));
    DoArchiveItemProgress(item, percent, abort);
    return abort ? -1 : 0;
  };
  callbacks.fnGetNextCabinet = [this](CCAB& Params, uint32_t, void*) {
    AnsiString name;
    bool abort = false;
    if (OnRequestImage)
      OnRequestImage(this, Params.iCab - 1, name, abort);
    else
      name = AbSpanVolumeName(ArchiveName(), Params.iCab - 1);
    if (abort) return false;
    Params.szCab = NamePart(name);
    return true;
  };
  fci_ = FCICreate(&erf_, callbacks, &fci_params_, this);
  if (fci_ == nullptr) {
    ReleaseContexts();
    throw EAbFCICreateError();
  }
}

void TAbCabArchive::LoadArchive() {
  if (CreatedForWriting()) {
    CreateCompressor();
    return;
  }
  CreateDecompressor();
  const AnsiString file = AbDiskPath(ArchiveName());
  if (::access(AbSysPath(file).c_str(), R_OK) != 0) {
    ReleaseContexts();
    throw EAbReadError();
  }
  if (!FDIIsCabinet(fdi_, file, &cab_info_)) {
    ReleaseContexts();
    throw EAbInvalidCabFile();
  }
  set_id_ = cab_info_.setID;
  current_cab_ = cab_info_.iCabinet;

  auto notify = [this](FDINOTIFICATIONTYPE Type, FDINOTIFICATION& N) -> intptr_t {
    switch (Type) {
      case fdintCABINET_INFO:
        set_id_ = N.setID;
        current_cab_ = N.iCabinet;
        next_cabinet_ = N.psz1;
        next_disk_ = N.psz2;
        return 0;
      case fdintPARTIAL_FILE:
      case fdintCOPY_FILE: {
        // Partial: the file continues from a previous cabinet or into the next one.
        constexpr uint16_t kContinuedToNext = 0xFFFE;
        auto item = std::make_unique<TAbCabItem>();
        item->SetFileName(NameFromCabinet(N.psz1, N.attribs));
        item->SetUncompressedSize(N.cb);
        item->SetLastModFileDate(N.date);
        item->SetLastModFileTime(N.time);
        item->SetExternalFileAttributes(N.attribs & ~kNameIsUtf);
        item->SetIsEncrypted(false);
        item->SetPartialFile(Type == fdintPARTIAL_FILE || N.iFolder == kContinuedToNext);
        item->SetAction(aaNone);
        ItemList().Add(std::move(item));
        return 0;
      }
      default:
        return 0;
    }
  };
  if (!FDICopy(fdi_, cab_name_, cab_path_, 0, notify, this)) {
    ReleaseContexts();
    throw EAbFDICopyError();
  }
  bool abort = false;
  DoArchiveProgress(100, abort);
}

void TAbCabArchive::CreateDecompressor() {
  AbBindCabinetLibrary();
  fdi_ = FDICreate(
      [this](intptr_t, const void* Buffer, uint32_t Count) -> uint32_t {
        if (extract_out_ == nullptr) return discard_ ? Count : 0;
        uint32_t done = 0;
        while (done < Count) {
          const uint32_t chunk = std::min<uint32_t>(Count - done, 1u << 30);
          const int32_t wrote = extract_out_->Write(static_cast<const uint8_t*>(Buffer) + done,
                                                    static_cast<int32_t>(chunk));
          if (wrote <= 0) break;
          done += static_cast<uint32_t>(wrote);
        }
        return done;
      },
      -1, &erf_);
  if (fdi_ == nullptr) throw EAbFDICreateError();
}

void TAbCabArchive::ExtractItemAt(int32_t Index, const AnsiString& UseName) {
  TAbArchiveItem* item = Items(Index);
  SetCurrentItem(item);
  if (fdi_ == nullptr) CreateDecompressor();
  // The file goes to a work file beside the target, which takes its place only when
  // the whole file was written.
  AnsiString target;
  AnsiString work;
  std::unique_ptr<TFileStream> out;
  bool closed = false;
  const AnsiString wanted = item->FileName();
  auto notify = [&](FDINOTIFICATIONTYPE Type, FDINOTIFICATION& N) -> intptr_t {
    if (Type == fdintCOPY_FILE || Type == fdintPARTIAL_FILE) {
      if (out || NameFromCabinet(N.psz1, N.attribs) != wanted) return 0;
      AnsiString name = UseName.empty() ? wanted : UseName;
      const TAbConfirmOverwriteEvent confirm = [this](AnsiString& Name, bool& Confirm) {
        DoConfirmOverwrite(Name, Confirm);
      };
      if (!AbPrepareOutputPath(BaseDirectory(), name, ExtractOptions(), confirm)) return 0;
      target = name;
      const AnsiString disk = AbDiskPath(target);
      const size_t slash = disk.rfind('/');
      work = AbNewTempFile(slash == AnsiString::npos ? AnsiString(".") : disk.substr(0, slash));
      out = std::make_unique<TFileStream>(work, fmCreate);
      extract_out_ = out.get();
      return 1;
    }
    if (Type == fdintCLOSE_FILE_INFO) {
      extract_out_ = nullptr;
      out.reset();
      closed = true;
      return 1;
    }
    return 0;
  };
  bool ok = false;
  try {
    ok = FDICopy(fdi_, cab_name_, cab_path_, 0, notify, this);
  } catch (...) {
    extract_out_ = nullptr;
    out.reset();
    if (!work.empty()) ::unlink(AbSysPath(work).c_str());
    throw;
  }
  extract_out_ = nullptr;
  out.reset();
  if (!ok || (!work.empty() && !closed)) {
    if (!work.empty()) ::unlink(AbSysPath(work).c_str());
    DoProcessItemFailure(item, ptExtract, ecCabError, 0);
    return;
  }
  if (work.empty()) return;  // not found, or the overwrite was refused
  const AnsiString disk = AbDiskPath(target);
  if (::rename(AbSysPath(work).c_str(), AbSysPath(disk).c_str()) != 0) {
    ::unlink(AbSysPath(work).c_str());
    DoProcessItemFailure(item, ptExtract, ecCabError, 0);
    return;
  }
  AbFileSetDate(disk, (static_cast<int32_t>(item->LastModFileDate()) << 16) | item->LastModFileTime());
  AbWriteFileAttr(disk, static_cast<int32_t>(item->ExternalFileAttributes()));
}

bool TAbCabArchive::CopyItemTo(TAbArchiveItem* Item, TStream* Sink) {
  SetCurrentItem(Item);
  if (fdi_ == nullptr) CreateDecompressor();
  const AnsiString wanted = Item->FileName();
  bool taken = false, closed = false;
  auto notify = [&](FDINOTIFICATIONTYPE Type, FDINOTIFICATION& N) -> intptr_t {
    if (Type == fdintCOPY_FILE || Type == fdintPARTIAL_FILE) {
      if (taken || NameFromCabinet(N.psz1, N.attribs) != wanted) return 0;
      taken = true;
      return 1;
    }
    if (Type == fdintCLOSE_FILE_INFO) {
      closed = true;
      return 1;
    }
    return 0;
  };
  extract_out_ = Sink;
  discard_ = Sink == nullptr;
  bool ok = false;
  try {
    ok = FDICopy(fdi_, cab_name_, cab_path_, 0, notify, this);
  } catch (...) {
    extract_out_ = nullptr;
    discard_ = false;
    throw;
  }
  extract_out_ = nullptr;
  discard_ = false;
  return ok && taken && closed;
}

void TAbCabArchive::ExtractItemToStreamAt(int32_t Index, TStream& Stream) {
  if (!CopyItemTo(Items(Index), &Stream)) throw EAbFDICopyError();
}

void TAbCabArchive::TestItemAt(int32_t Index) {
  if (!CopyItemTo(Items(Index), nullptr)) throw EAbFDICopyError();
}

void TAbCabArchive::SaveArchive() {
  if (fci_ == nullptr) return;
  // A cabinet already written is written again only when files were added since.
  if (written_ && !unsaved_) return;
  if (!FCIFlushCabinet(fci_, false)) {
    if (erf_.erfOper == FCIERR_USER_ABORT) throw EAbUserAbort();
    throw EAbCabException(AbErrorText(AbFCIFlushCabinetError), AbFCIFlushCabinetError);
  }
  written_ = true;
  unsaved_ = false;
  for (int32_t i = 0; i < ItemCount(); ++i) Items(i)->SetAction(aaNone);
}

int32_t AbCabKindOf(const AnsiString& FileName) {
  try {
    TAbCabArchive cab(FileName, fmOpenRead | fmShareDenyNone);
    cab.Load();
  } catch (const EAbFDICreateError&) {
    return 0;
  }
  return AbCabTypeOf;
}

}  // namespace pelvar
