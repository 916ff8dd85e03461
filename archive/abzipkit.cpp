#include "archive/abzipkit.h"

#include <sys/stat.h>

#include "archive/abcabtyp.h"
#include "archive/abexcept.h"
#include "archive/abgztyp.h"
#include "archive/abtartyp.h"
#include "archive/abunzprc.h"
#include "archive/abutils.h"
#include "archive/abzipprc.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

constexpr uint16_t kZipReadMode = fmOpenRead | fmShareDenyNone;         // $40
constexpr uint16_t kTarGzipOpenMode = fmOpenReadWrite | fmShareDenyNone;  // $42
constexpr uint16_t kCreateMode = 0xFFFF;

// -1 when the file does not exist, else its size.
int64_t FileSizeOf(const AnsiString& FileName) {
  struct stat st;
  if (::stat(AbSysPath(AbDiskPath(FileName)).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return st.st_size;
}

uint8_t TestContent(const AnsiString& FileName, uint8_t Type) {
  if (Type == atCab) return static_cast<uint8_t>(AbCabKindOf(FileName));
  TFileStream stream(AbDiskPath(FileName), fmOpenRead | fmShareDenyNone);
  switch (Type) {
    case atZip: {
      const int32_t kind = AbZipKindOf(stream);
      if (kind != 0) return static_cast<uint8_t>(kind);
      // A file that starts with an entry is a zip even when its end is lost: the
      // load names the damage, where "unhandled type" would not.
      uint8_t head[4] = {0, 0, 0, 0};
      stream.Seek(0, TSeekOrigin::soBeginning);
      const bool entry_first = stream.Read(head, 4) == 4 && head[0] == 'P' && head[1] == 'K' && head[2] == 3 && head[3] == 4;
      return entry_first ? atZip : atUnknown;
    }
    case atSelfExtZip:
      return static_cast<uint8_t>(AbSelfExtractingKindOf(stream));
    case atTar:
      return static_cast<uint8_t>(AbTarKindOf(stream));
    case atGzip:
    case atGzippedTar:
      return static_cast<uint8_t>(AbGzipKindOf(stream));
    default:
      return atUnknown;
  }
}

}  // namespace

uint8_t AbArchiveTypeOf(const AnsiString& FileName, uint8_t Given) {
  const int64_t size = FileSizeOf(FileName);
  if (Given != atUnknown) {
    if (size < 0) return Given;
    if (Given == atSpannedZip || Given > atCab) return atUnknown;
    return TestContent(FileName, Given);
  }
  const AnsiString ext = UpperCase(ExtractFileExt(AbDiskPath(FileName)));
  if (size > 0) {
    if (ext == ".EXE") return TestContent(FileName, atSelfExtZip);
    if (ext == ".ZIP") return TestContent(FileName, atZip);
    if (ext == ".TAR") return TestContent(FileName, atTar);
    if (ext == ".GZ" || ext == ".TGZ") return TestContent(FileName, atGzip);
    if (ext == ".CAB") return TestContent(FileName, atCab);
    return atUnknown;
  }
  if (ext == ".ZIP") return atZip;
  if (ext == ".TAR") return atTar;
  if (ext == ".GZ") return atGzip;
  if (ext == ".TGZ") return atGzippedTar;
  if (ext == ".CAB") return atCab;
  return atUnknown;
}

// --- TAbBaseBrowser ---

TAbBaseBrowser::TAbBaseBrowser(TComponent* owner) : TAbBaseComponent(owner) {}

TAbBaseBrowser::~TAbBaseBrowser() {
  archive_.reset();
  SetMeter(item_meter_, nullptr);
  SetMeter(archive_meter_, nullptr);
}

void TAbBaseBrowser::CloseArchive() {
  if (!file_name_.empty()) SetFileName(AnsiString());
}

void TAbBaseBrowser::ReleaseArchive(bool Save) {
  // The archive goes in every case, so that a failed save cannot leave an archive
  // behind that every later open would try to save again.
  std::unique_ptr<TAbArchive> old = std::move(archive_);
  if (Save && old) old->Save();
}

void TAbBaseBrowser::SetBaseDirectory(const AnsiString& Value) {
  if (archive_) {
    archive_->SetBaseDirectory(Value);
    base_directory_ = archive_->BaseDirectory();
  } else {
    base_directory_ = Value;
  }
}

void TAbBaseBrowser::SetLogFile(const AnsiString& Value) {
  log_file_ = Value;
  if (Designing()) return;
  if (archive_) archive_->SetLogFile(Value);
  SetLogging(!Value.empty());
}

void TAbBaseBrowser::SetLogging(bool Value) {
  logging_ = Value;
  if (Designing()) return;
  if (archive_) archive_->SetLogging(Value);
}

void TAbBaseBrowser::SetSpanningThreshold(int32_t Value) {
  spanning_threshold_ = Value;
  if (archive_) archive_->SetSpanningThreshold(Value);
}

void TAbBaseBrowser::SetTempDirectory(const AnsiString& Value) {
  temp_directory_ = Value;
  if (archive_) archive_->SetTempDirectory(Value);
}

void TAbBaseBrowser::SetMeter(TAbMeterLink*& Slot, TAbMeterLink* Value) {
  if (Slot == Value) return;
  TAbMeterLink* old = Slot;
  Slot = Value;
  // The link stays while another slot still holds the meter.
  if (old != nullptr && old != item_meter_ && old != archive_meter_) old->RemoveFreeNotification(this);
  if (Value != nullptr) Value->FreeNotification(this);
}

void TAbBaseBrowser::SetItemProgressMeter(TAbMeterLink* Value) { SetMeter(item_meter_, Value); }
void TAbBaseBrowser::SetArchiveProgressMeter(TAbMeterLink* Value) { SetMeter(archive_meter_, Value); }

void TAbBaseBrowser::SetOnRequestImage(TAbRequestImageEvent Value) {
  on_request_image_ = std::move(Value);
  if (archive_) archive_->OnRequestImage = on_request_image_;
}

void TAbBaseBrowser::Loaded() {
  TAbBaseComponent::Loaded();
  DoChange();
}

void TAbBaseBrowser::Notification(TComponent* component, TOperation operation) {
  TAbBaseComponent::Notification(component, operation);
  if (operation != opRemove) return;
  if (component == item_meter_) item_meter_ = nullptr;
  if (component == archive_meter_) archive_meter_ = nullptr;
}

void TAbBaseBrowser::ResetMeters() {
  if (archive_meter_ != nullptr) archive_meter_->Reset();
  if (item_meter_ != nullptr) item_meter_->Reset();
}

void TAbBaseBrowser::DoArchiveItemProgress(TAbArchiveItem* Item, uint8_t Progress, bool& Abort) {
  Abort = false;
  if (item_meter_ != nullptr) item_meter_->DoProgress(Progress);
  if (OnArchiveItemProgress) OnArchiveItemProgress(this, Item, Progress, Abort);
}

void TAbBaseBrowser::DoArchiveProgress(uint8_t Progress, bool& Abort) {
  Abort = false;
  if (archive_meter_ != nullptr) archive_meter_->DoProgress(Progress);
  if (OnArchiveProgress) OnArchiveProgress(this, Progress, Abort);
}

void TAbBaseBrowser::DoChange() {
  if (OnChange) OnChange(this);
}

void TAbBaseBrowser::DoConfirmProcessItem(TAbArchiveItem* Item, TAbProcessType ProcessType, bool& Confirm) {
  Confirm = true;
  if (item_meter_ != nullptr) item_meter_->Reset();
  if (OnConfirmProcessItem) OnConfirmProcessItem(this, Item, ProcessType, Confirm);
}

void TAbBaseBrowser::DoLoad() {
  if (OnLoad) OnLoad(this);
}

void TAbBaseBrowser::DoProcessItemFailure(TAbArchiveItem* Item, TAbProcessType ProcessType,
                                          TAbErrorClass ErrorClass, int32_t ErrorCode) {
  ++failure_count_;
  if (OnProcessItemFailure) OnProcessItemFailure(this, Item, ProcessType, ErrorClass, ErrorCode);
}

void TAbBaseBrowser::InitArchive() {
  ResetMeters();
  TAbArchive& a = *archive_;
  a.SetSpanningThreshold(spanning_threshold_);
  a.SetLogFile(log_file_);
  a.SetLogging(logging_);
  a.SetTempDirectory(temp_directory_);
  SetBaseDirectory(base_directory_);
  a.OnArchiveProgress = [this](TObject*, uint8_t Progress, bool& Abort) { DoArchiveProgress(Progress, Abort); };
  a.OnArchiveItemProgress = [this](TObject*, TAbArchiveItem* Item, uint8_t Progress, bool& Abort) {
    DoArchiveItemProgress(Item, Progress, Abort);
  };
  a.OnConfirmProcessItem = [this](TObject*, TAbArchiveItem* Item, TAbProcessType Type, bool& Confirm) {
    DoConfirmProcessItem(Item, Type, Confirm);
  };
  a.OnLoad = [this](TObject*) { DoLoad(); };
  a.OnProcessItemFailure = [this](TObject*, TAbArchiveItem* Item, TAbProcessType Type, TAbErrorClass Class,
                                  int32_t Code) { DoProcessItemFailure(Item, Type, Class, Code); };
  a.OnRequestImage = on_request_image_;
}

void TAbBaseBrowser::OpenExisting() {
  switch (archive_type_) {
    case atZip:
    case atSpannedZip:
    case atSelfExtZip:
      archive_ = std::make_unique<TAbZipArchive>(file_name_, kZipReadMode);
      break;
    case atTar:
      archive_ = std::make_unique<TAbTarArchive>(file_name_, kTarGzipOpenMode);
      break;
    case atGzip:
    case atGzippedTar: {
      auto gzip = std::make_unique<TAbGzipArchive>(file_name_, kTarGzipOpenMode);
      if (archive_type_ == atGzippedTar) gzip->SetHoldsTar(true);
      archive_ = std::move(gzip);
      break;
    }
    default:
      throw EAbUnhandledType();
  }
  InitArchive();
  // An archive whose load fails stays held, invalid: operations raise EAbNoArchive.
  archive_->Load();
}

// --- TAbCustomZipBrowser ---

void TAbCustomZipBrowser::SetFileName(const AnsiString& Value) {
  file_name_ = Value;
  if (Designing()) return;
  try {
    ReleaseArchive(true);
  } catch (const std::exception&) {
    // The browser only reads: a failed save of the previous archive is dropped.
  }
  if (!file_name_.empty() && FileSizeOf(file_name_) >= 0) {
    if (!ForceType()) SetArchiveType(AbArchiveTypeOf(file_name_, atUnknown));
    OpenExisting();
  }
  DoChange();
}

TAbArchiveItem* TAbCustomZipBrowser::GetItem(int32_t Index) const {
  if (!archive_) throw EAbNoArchive();
  return archive_->Items(Index);
}

void TAbCustomZipBrowser::SetZipfileComment(const AnsiString&) {}

void TAbCustomZipBrowser::SetPassword(const AnsiString& Value) {
  password_ = Value;
  if (auto* zip = ZipArchive()) zip->SetPassword(Value);
}

void TAbCustomZipBrowser::SetOnRequestLastDisk(TAbRequestDiskEvent Value) {
  on_request_last_disk_ = std::move(Value);
  if (auto* zip = ZipArchive()) zip->OnRequestLastDisk = on_request_last_disk_;
}

void TAbCustomZipBrowser::SetOnRequestNthDisk(TAbRequestNthDiskEvent Value) {
  on_request_nth_disk_ = std::move(Value);
  if (auto* zip = ZipArchive()) zip->OnRequestNthDisk = on_request_nth_disk_;
}

void TAbCustomZipBrowser::SetOnRequestBlankDisk(TAbRequestDiskEvent Value) {
  on_request_blank_disk_ = std::move(Value);
  if (auto* zip = ZipArchive()) zip->OnRequestBlankDisk = on_request_blank_disk_;
}

void TAbCustomZipBrowser::InitArchive() {
  TAbBaseBrowser::InitArchive();
  if (auto* gzip = dynamic_cast<TAbGzipArchive*>(archive_.get())) gzip->SetAutoOpenTar(tar_auto_handle_);
  TAbZipArchive* zip = ZipArchive();
  if (zip == nullptr) return;
  zip->SetPassword(password_);
  zip->OnRequestLastDisk = on_request_last_disk_;
  zip->OnRequestNthDisk = on_request_nth_disk_;
}

// --- TAbCustomZipper ---

TAbCustomZipper::TAbCustomZipper(TComponent* owner) : TAbCustomZipBrowser(owner) {}

void TAbCustomZipper::SetFileName(const AnsiString& Value) {
  file_name_ = Value;
  if (Designing()) return;
  ReleaseArchive(true);
  if (!file_name_.empty()) {
    if (FileSizeOf(file_name_) >= 0) {
      if (!ForceType()) SetArchiveType(AbArchiveTypeOf(file_name_, atUnknown));
      OpenExisting();
    } else {
      if (!ForceType()) SetArchiveType(AbArchiveTypeOf(file_name_, atUnknown));
      switch (ArchiveType()) {
        case atZip:
          archive_ = std::make_unique<TAbZipArchive>(file_name_, kCreateMode);
          break;
        case atTar:
          archive_ = std::make_unique<TAbTarArchive>(file_name_, kCreateMode);
          break;
        case atGzip:
        case atGzippedTar: {
          auto gzip = std::make_unique<TAbGzipArchive>(file_name_, kCreateMode);
          if (ArchiveType() == atGzippedTar) gzip->SetHoldsTar(true);
          archive_ = std::move(gzip);
          break;
        }
        default:
          throw EAbUnhandledType();
      }
      InitArchive();
    }
  }
  DoChange();
}

void TAbCustomZipper::AddFiles(const AnsiString& FileMask, int32_t SearchAttr) {
  if (!archive_) throw EAbNoArchive();
  archive_->AddFiles(FileMask, SearchAttr);
  DoChange();
}

void TAbCustomZipper::Save() {
  if (!archive_) throw EAbNoArchive();
  archive_->Save();
  DoChange();
}

void TAbCustomZipper::SetZipfileComment(const AnsiString& Value) {
  TAbZipArchive* zip = ZipArchive();
  if (zip == nullptr) throw EAbNoArchive();
  zip->SetZipfileComment(Value);
}

void TAbCustomZipper::SetAutoSave(bool Value) {
  auto_save_ = Value;
  if (archive_) archive_->SetAutoSave(Value);
}

void TAbCustomZipper::SetCompressionMethodToUse(TAbZipSupportedMethod Value) {
  compression_method_ = Value;
  if (auto* zip = ZipArchive()) zip->SetCompressionMethodToUse(Value);
}

void TAbCustomZipper::SetDeflationOption(TAbZipDeflationOption Value) {
  deflation_option_ = Value;
  if (auto* zip = ZipArchive()) zip->SetDeflationOption(Value);
}

void TAbCustomZipper::SetDOSMode(bool Value) {
  dos_mode_ = Value;
  if (archive_) archive_->SetDOSMode(Value);
}

void TAbCustomZipper::SetStoreOptions(TAbStoreOptions Value) {
  store_options_ = Value;
  if (archive_) archive_->SetStoreOptions(Value);
}

void TAbCustomZipper::SetArchiveSaveProgressMeter(TAbMeterLink* Value) {
  if (save_meter_ == Value) return;
  if (save_meter_ != nullptr && save_meter_ != ItemProgressMeter() && save_meter_ != ArchiveProgressMeter())
    save_meter_->RemoveFreeNotification(this);
  save_meter_ = Value;
  if (Value != nullptr) Value->FreeNotification(this);
}

void TAbCustomZipper::Notification(TComponent* component, TOperation operation) {
  TAbCustomZipBrowser::Notification(component, operation);
  if (operation == opRemove && component == save_meter_) save_meter_ = nullptr;
}

void TAbCustomZipper::ResetMeters() {
  TAbCustomZipBrowser::ResetMeters();
  if (save_meter_ != nullptr) save_meter_->Reset();
}

void TAbCustomZipper::DoConfirmSave(bool& Confirm) {
  Confirm = true;
  if (OnConfirmSave) OnConfirmSave(this, Confirm);
}

void TAbCustomZipper::DoSave() {
  if (OnSave) OnSave(this);
}

void TAbCustomZipper::DoArchiveSaveProgress(uint8_t Progress, bool& Abort) {
  Abort = false;
  if (save_meter_ != nullptr) save_meter_->DoProgress(Progress);
  if (OnArchiveSaveProgress) OnArchiveSaveProgress(this, Progress, Abort);
}

void TAbCustomZipper::InitArchive() {
  TAbCustomZipBrowser::InitArchive();
  // The format-neutral settings reach every archive, as their setters do: a tar
  // written through the kit strips paths like a zip.
  archive_->SetAutoSave(auto_save_);
  archive_->SetDOSMode(dos_mode_);
  archive_->SetStoreOptions(store_options_);
  TAbZipArchive* zip = ZipArchive();
  if (zip == nullptr) return;
  zip->SetCompressionMethodToUse(compression_method_);
  zip->SetDeflationOption(deflation_option_);
  zip->OnArchiveSaveProgress = [this](TObject*, uint8_t Progress, bool& Abort) {
    DoArchiveSaveProgress(Progress, Abort);
  };
  zip->OnConfirmSave = [this](TObject*, bool& Confirm) { DoConfirmSave(Confirm); };
  zip->OnSave = [this](TObject*) { DoSave(); };
  zip->OnRequestBlankDisk = OnRequestBlankDisk();
  zip->InsertHelper = AbZipFromFile;
  zip->InsertFromStreamHelper = AbZipFromStream;
}

// --- TAbCustomZipKit ---

bool TAbCustomZipKit::ExtractToStream(const AnsiString& Name, TStream& Stream) {
  if (!archive_) throw EAbNoArchive();
  archive_->CheckValid();
  if (archive_->FindFile(Name) < 0) {
    DoProcessItemFailure(nullptr, ptExtract, ecArchiveKit, EAbFileNotFound::kCode);
    return false;
  }
  const int32_t failures = failure_count_;
  archive_->ExtractToStream(Name, Stream);
  return failure_count_ == failures;
}

void TAbCustomZipKit::SetExtractOptions(TAbExtractOptions Value) {
  extract_options_ = Value;
  if (archive_) archive_->SetExtractOptions(Value);
}

void TAbCustomZipKit::SetPasswordRetries(uint8_t Value) {
  password_retries_ = Value;
  if (auto* zip = ZipArchive()) zip->SetPasswordRetries(Value);
}

void TAbCustomZipKit::DoConfirmOverwrite(AnsiString& Name, bool& Confirm) {
  Confirm = true;
  if (OnConfirmOverwrite) OnConfirmOverwrite(Name, Confirm);
}

void TAbCustomZipKit::DoNeedPassword(AnsiString& NewPassword) {
  if (OnNeedPassword) {
    OnNeedPassword(this, NewPassword);
    SetPassword(NewPassword);
  }
}

void TAbCustomZipKit::InitArchive() {
  TAbCustomZipper::InitArchive();
  archive_->SetExtractOptions(extract_options_);
  archive_->OnConfirmOverwrite = [this](AnsiString& Name, bool& Confirm) { DoConfirmOverwrite(Name, Confirm); };
  TAbZipArchive* zip = ZipArchive();
  if (zip == nullptr) return;
  zip->SetPasswordRetries(password_retries_);
  zip->OnNeedPassword = [this](TObject*, AnsiString& NewPassword) {
    DoNeedPassword(NewPassword);
    // Nobody to ask: the password the kit has (or none) does not open the entry.
    // That is the entry's failure, not an abort by the user.
    if (NewPassword.empty() && !OnNeedPassword) throw EAbZipInvalidPassword();
  };
  zip->ExtractHelper = AbUnzipToFile;
  zip->ExtractToStreamHelper = AbUnzipToStream;
  zip->TestHelper = AbTestZipItem;
}

}  // namespace pelvar
