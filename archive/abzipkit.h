// The zip kit: the non-visual component through which archives are written and
// read. It wraps one open archive at a time (zip, tar or gzip), hands its settings
// to every archive it opens and turns the archive's notifications into its own
// events (Sender is the component). The class chain: TAbBaseBrowser (any archive,
// read side) < TAbCustomZipBrowser (zip specifics) < TAbCustomZipper (adding and
// saving) < TAbCustomZipKit (extracting) < TAbZipKit.
//
// Typical use: FileName := a new full path ending in ".zip", AddFiles for each file,
// CloseArchive (which writes the archive); or FileName := an existing archive,
// ExtractToStream by name, CloseArchive.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "archive/abarctyp.h"
#include "archive/abbase.h"
#include "archive/abziptyp.h"
#include "platform/classes.h"
#include "platform/streams.h"

namespace pelvar {

// Archive types of the detection.
enum : uint8_t {
  atUnknown = 0,
  atZip = 1,
  atSpannedZip = 2,
  atSelfExtZip = 3,
  atTar = 4,
  atGzip = 5,
  atGzippedTar = 6,
  atCab = 7,
};

// The archive type of a file. Given (not 0): the file's content is tested for that
// type when the file exists (0 when the test fails); a missing file gives Given.
// Given 0: an existing, non-empty file is tested by its extension (".EXE", ".ZIP",
// ".TAR", ".GZ", ".TGZ", ".CAB"); a missing or empty one is typed by the extension
// alone. Failures of the cabinet test other than a missing decompressor propagate
// (EAbNoCabinetDll where no cabinet library can be loaded).
uint8_t AbArchiveTypeOf(const AnsiString& FileName, uint8_t Given);

// A progress meter that the kit moves.
class TAbMeterLink : public TAbBaseComponent {
 public:
  explicit TAbMeterLink(TComponent* owner) : TAbBaseComponent(owner) {}
  virtual void DoProgress(uint8_t Progress) = 0;
  virtual void Reset() = 0;
};

using TAbNotifyEvent = std::function<void(TObject* Sender)>;

class TAbBaseBrowser : public TAbBaseComponent {
 public:
  explicit TAbBaseBrowser(TComponent* owner);
  // Frees the open archive without saving it.
  ~TAbBaseBrowser() override;

  // Clears FileName when set: saves (when needed) and closes the archive.
  void CloseArchive();

  TAbArchive* Archive() const { return archive_.get(); }
  uint8_t ArchiveType() const { return archive_type_; }
  void SetArchiveType(uint8_t Value) { archive_type_ = Value; }
  // When set, ArchiveType is used instead of detecting the type.
  bool ForceType() const { return force_type_; }
  void SetForceType(bool Value) { force_type_ = Value; }
  int32_t Count() const { return archive_ ? archive_->ItemCount() : 0; }

  const AnsiString& FileName() const { return file_name_; }
  virtual void SetFileName(const AnsiString& Value) = 0;
  const AnsiString& BaseDirectory() const { return base_directory_; }
  void SetBaseDirectory(const AnsiString& Value);
  const AnsiString& LogFile() const { return log_file_; }
  void SetLogFile(const AnsiString& Value);
  bool Logging() const { return logging_; }
  void SetLogging(bool Value);
  int32_t SpanningThreshold() const { return spanning_threshold_; }
  void SetSpanningThreshold(int32_t Value);
  const AnsiString& TempDirectory() const { return temp_directory_; }
  void SetTempDirectory(const AnsiString& Value);
  TAbMeterLink* ItemProgressMeter() const { return item_meter_; }
  void SetItemProgressMeter(TAbMeterLink* Value);
  TAbMeterLink* ArchiveProgressMeter() const { return archive_meter_; }
  void SetArchiveProgressMeter(TAbMeterLink* Value);
  const TAbRequestImageEvent& OnRequestImage() const { return on_request_image_; }
  virtual void SetOnRequestImage(TAbRequestImageEvent Value);

  TAbArchiveProgressEvent OnArchiveProgress;
  TAbArchiveItemProgressEvent OnArchiveItemProgress;
  TAbNotifyEvent OnChange;
  TAbArchiveItemConfirmEvent OnConfirmProcessItem;
  TAbArchiveEvent OnLoad;
  // Item may be nullptr when an entry asked for by name is not in the archive.
  TAbArchiveItemFailureEvent OnProcessItemFailure;

  void Loaded() override;
  void Notification(TComponent* component, TOperation operation) override;

 protected:
  virtual void ResetMeters();
  virtual void DoArchiveItemProgress(TAbArchiveItem* Item, uint8_t Progress, bool& Abort);
  virtual void DoArchiveProgress(uint8_t Progress, bool& Abort);
  virtual void DoChange();
  virtual void DoConfirmProcessItem(TAbArchiveItem* Item, TAbProcessType ProcessType, bool& Confirm);
  virtual void DoLoad();
  virtual void DoProcessItemFailure(TAbArchiveItem* Item, TAbProcessType ProcessType, TAbErrorClass ErrorClass,
                                    int32_t ErrorCode);
  // Hands the component's settings to a newly opened archive.
  virtual void InitArchive();
  void SetMeter(TAbMeterLink*& Slot, TAbMeterLink* Value);
  bool Designing() const { return ComponentState().Contains(csDesigning); }
  // Frees the open archive; its save, when Save is set, runs first and its failure
  // propagates after the archive is gone.
  void ReleaseArchive(bool Save);
  TAbZipArchive* ZipArchive() const { return dynamic_cast<TAbZipArchive*>(archive_.get()); }
  // Opens an existing file of a type the browser reads (zip, tar, gzip); other
  // types raise EAbUnhandledType.
  void OpenExisting();

  std::unique_ptr<TAbArchive> archive_;
  AnsiString file_name_;

 private:
  int32_t spanning_threshold_ = 0;
  TAbMeterLink* item_meter_ = nullptr;
  TAbMeterLink* archive_meter_ = nullptr;
  AnsiString base_directory_;
  AnsiString log_file_;
  bool logging_ = false;
  AnsiString temp_directory_;
  TAbRequestImageEvent on_request_image_;
  uint8_t archive_type_ = atUnknown;
  bool force_type_ = false;

 protected:
  // Item failures reported so far (to tell whether a call failed).
  int32_t failure_count_ = 0;
};

class TAbCustomZipBrowser : public TAbBaseBrowser {
 public:
  explicit TAbCustomZipBrowser(TComponent* owner) : TAbBaseBrowser(owner) {}

  // The read-only browser's setter: a failure of the previous archive's save is
  // ignored; a missing file leaves no archive.
  void SetFileName(const AnsiString& Value) override;
  virtual TAbArchiveItem* GetItem(int32_t Index) const;
  virtual void SetZipfileComment(const AnsiString& Value);

  const AnsiString& Password() const { return password_; }
  void SetPassword(const AnsiString& Value);
  bool TarAutoHandle() const { return tar_auto_handle_; }
  void SetTarAutoHandle(bool Value) { tar_auto_handle_ = Value; }
  const TAbRequestDiskEvent& OnRequestLastDisk() const { return on_request_last_disk_; }
  void SetOnRequestLastDisk(TAbRequestDiskEvent Value);
  const TAbRequestNthDiskEvent& OnRequestNthDisk() const { return on_request_nth_disk_; }
  void SetOnRequestNthDisk(TAbRequestNthDiskEvent Value);
  const TAbRequestDiskEvent& OnRequestBlankDisk() const { return on_request_blank_disk_; }
  void SetOnRequestBlankDisk(TAbRequestDiskEvent Value);

 protected:
  void InitArchive() override;

 private:
  AnsiString password_;
  bool tar_auto_handle_ = false;
  TAbRequestDiskEvent on_request_last_disk_;
  TAbRequestNthDiskEvent on_request_nth_disk_;
  TAbRequestDiskEvent on_request_blank_disk_;
};

class TAbCustomZipper : public TAbCustomZipBrowser {
 public:
  explicit TAbCustomZipper(TComponent* owner);

  // Opens an existing archive or creates a new one (see AbArchiveTypeOf); the
  // archive open before is saved first and a failure of that save propagates.
  void SetFileName(const AnsiString& Value) override;
  // Marks the files matching FileMask for adding; EAbNoArchive without an archive.
  void AddFiles(const AnsiString& FileMask, int32_t SearchAttr);
  // Writes pending changes now; EAbNoArchive without an archive.
  void Save();
  void SetZipfileComment(const AnsiString& Value) override;

  bool AutoSave() const { return auto_save_; }
  void SetAutoSave(bool Value);
  TAbZipSupportedMethod CompressionMethodToUse() const { return compression_method_; }
  void SetCompressionMethodToUse(TAbZipSupportedMethod Value);
  TAbZipDeflationOption DeflationOption() const { return deflation_option_; }
  void SetDeflationOption(TAbZipDeflationOption Value);
  bool DOSMode() const { return dos_mode_; }
  void SetDOSMode(bool Value);
  TAbStoreOptions StoreOptions() const { return store_options_; }
  void SetStoreOptions(TAbStoreOptions Value);
  TAbMeterLink* ArchiveSaveProgressMeter() const { return save_meter_; }
  void SetArchiveSaveProgressMeter(TAbMeterLink* Value);

  TAbArchiveConfirmEvent OnConfirmSave;
  TAbArchiveEvent OnSave;
  TAbArchiveProgressEvent OnArchiveSaveProgress;

  void Notification(TComponent* component, TOperation operation) override;

 protected:
  void InitArchive() override;
  void ResetMeters() override;
  virtual void DoConfirmSave(bool& Confirm);
  virtual void DoSave();
  virtual void DoArchiveSaveProgress(uint8_t Progress, bool& Abort);

 private:
  bool auto_save_ = false;
  TAbZipSupportedMethod compression_method_ = smBestMethod;
  TAbZipDeflationOption deflation_option_ = doNormal;
  bool dos_mode_ = false;
  TAbStoreOptions store_options_{soStripDrive, soRemoveDots};
  TAbMeterLink* save_meter_ = nullptr;
};

class TAbCustomZipKit : public TAbCustomZipper {
 public:
  explicit TAbCustomZipKit(TComponent* owner) : TAbCustomZipper(owner) {}

  // Extracts the entry Name at Stream's position; true when it was extracted whole.
  // A failure of the entry goes to OnProcessItemFailure and the call returns false.
  // A name not in the archive leaves Stream untouched, returns false and is reported
  // as well: OnProcessItemFailure with no item (nullptr), ptExtract, ecArchiveKit and
  // the code of EAbFileNotFound, so that a caller counting failures sees that
  // nothing was extracted. EAbNoArchive without an archive.
  bool ExtractToStream(const AnsiString& Name, TStream& Stream);

  TAbExtractOptions ExtractOptions() const { return extract_options_; }
  void SetExtractOptions(TAbExtractOptions Value);
  uint8_t PasswordRetries() const { return password_retries_; }
  void SetPasswordRetries(uint8_t Value);

  TAbConfirmOverwriteEvent OnConfirmOverwrite;
  TAbNeedPasswordEvent OnNeedPassword;

 protected:
  void InitArchive() override;
  virtual void DoConfirmOverwrite(AnsiString& Name, bool& Confirm);
  virtual void DoNeedPassword(AnsiString& NewPassword);

 private:
  TAbExtractOptions extract_options_;
  uint8_t password_retries_ = 3;
};

class TAbZipKit : public TAbCustomZipKit {
 public:
  explicit TAbZipKit(TComponent* owner) : TAbCustomZipKit(owner) {}
};

}  // namespace pelvar
