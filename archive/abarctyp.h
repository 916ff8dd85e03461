// The format-neutral archive: a list of items that are added from files,
// extracted, freshened, replaced or moved, and that a concrete format writes out in
// one go when the archive is saved. Pending changes are only marked on the items;
// nothing touches the archive file until Save.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "archive/abexcept.h"
#include "archive/abspanstream.h"
#include "archive/abutils.h"
#include "platform/classes.h"
#include "platform/streams.h"

namespace pelvar {

// What the next save does with an item.
enum TAbArchiveAction : uint8_t {
  aaFailed = 0,  // skipped by the save
  aaNone = 1,    // copied unchanged
  aaAdd = 2,
  aaDelete = 3,
  aaFreshen = 4,
  aaMove = 5,
  aaReplace = 6,
  aaStreamAdd = 7,
};

enum TAbArchiveStatus : uint8_t { asInvalid = 0, asIdle = 1, asBusy = 2 };

enum TAbProcessType : uint8_t {
  ptAdd = 0,
  ptDelete = 1,
  ptExtract = 2,
  ptFreshen = 3,
  ptMove = 4,
  ptReplace = 5,
  ptFoundUnhandled = 6,
};

// Kinds of lines in the operation log.
enum TAbLogType : uint8_t {
  ltAdd = 0,
  ltDelete = 1,
  ltExtract = 2,
  ltFreshen = 3,
  ltMove = 4,
  ltReplace = 5,
  ltStart = 6,
  ltFoundUnhandled = 7,
};

enum TAbExtractOption : uint8_t { eoCreateDirs = 0, eoRestorePath = 1 };
using TAbExtractOptions = TEnumSet<TAbExtractOption>;

enum TAbStoreOption : uint8_t {
  soStripDrive = 0,
  soStripPath = 1,
  soRemoveDots = 2,
  soRecurse = 3,
  soFreshen = 4,
  soReplace = 5,
};
using TAbStoreOptions = TEnumSet<TAbStoreOption>;

// One entry of an archive. A format's item overrides the virtual accessors to keep
// the values in its own header records.
class TAbArchiveItem : public TObject {
 public:
  TAbArchiveItem() = default;
  ~TAbArchiveItem() override = default;

  virtual int32_t GetCompressedSize() const { return compressed_size_; }
  virtual uint32_t GetCRC32() const { return crc32_; }
  virtual uint32_t GetExternalFileAttributes() const { return external_file_attributes_; }
  virtual AnsiString GetFileName() const { return file_name_; }
  virtual bool GetIsEncrypted() const { return is_encrypted_; }
  virtual uint16_t GetLastModFileDate() const { return last_mod_file_date_; }
  virtual uint16_t GetLastModFileTime() const { return last_mod_file_time_; }
  virtual int32_t GetUncompressedSize() const { return uncompressed_size_; }
  virtual void SetCompressedSize(int32_t Value) { compressed_size_ = Value; }
  virtual void SetCRC32(uint32_t Value) { crc32_ = Value; }
  virtual void SetExternalFileAttributes(uint32_t Value) { external_file_attributes_ = Value; }
  virtual void SetFileName(const AnsiString& Value) { file_name_ = Value; }
  virtual void SetIsEncrypted(bool Value) { is_encrypted_ = Value; }
  virtual void SetLastModFileDate(uint16_t Value) { last_mod_file_date_ = Value; }
  virtual void SetLastModFileTime(uint16_t Value) { last_mod_file_time_ = Value; }
  virtual void SetUncompressedSize(int32_t Value) { uncompressed_size_ = Value; }

  int32_t CompressedSize() const { return GetCompressedSize(); }
  uint32_t CRC32() const { return GetCRC32(); }
  uint32_t ExternalFileAttributes() const { return GetExternalFileAttributes(); }
  AnsiString FileName() const { return GetFileName(); }
  bool IsEncrypted() const { return GetIsEncrypted(); }
  uint16_t LastModFileDate() const { return GetLastModFileDate(); }
  uint16_t LastModFileTime() const { return GetLastModFileTime(); }
  int32_t UncompressedSize() const { return GetUncompressedSize(); }

  TAbArchiveAction Action() const { return action_; }
  void SetAction(TAbArchiveAction Value) { action_ = Value; }
  const AnsiString& DiskFileName() const { return disk_file_name_; }
  void SetDiskFileName(const AnsiString& Value) { disk_file_name_ = Value; }
  bool Tagged() const { return tagged_; }
  void SetTagged(bool Value) { tagged_ = Value; }
  // The next item in the same name bucket of the list (newest first).
  TAbArchiveItem* NextItem() const { return next_item_; }

 protected:
  int32_t compressed_size_ = 0;
  uint32_t crc32_ = 0;
  AnsiString disk_file_name_;
  uint32_t external_file_attributes_ = 0;
  AnsiString file_name_;
  bool is_encrypted_ = false;
  uint16_t last_mod_file_time_ = 0;
  uint16_t last_mod_file_date_ = 0;
  bool tagged_ = false;
  int32_t uncompressed_size_ = 0;

 private:
  friend class TAbArchiveList;
  TAbArchiveItem* next_item_ = nullptr;
  TAbArchiveAction action_ = aaNone;
};

// The ordered items of an archive, each also chained into a bucket of a name hash.
// The list owns its items. Names compare ignoring ASCII case.
class TAbArchiveList {
 public:
  static constexpr int32_t kBucketCount = 1021;

  TAbArchiveList() = default;
  ~TAbArchiveList();
  TAbArchiveList(const TAbArchiveList&) = delete;
  TAbArchiveList& operator=(const TAbArchiveList&) = delete;

  // Appends Item and chains it at the head of its name's bucket; gives its index.
  int32_t Add(std::unique_ptr<TAbArchiveItem> Item);
  // Frees every item (last first) and empties the buckets.
  void Clear();
  // Unlinks the item at Index from its bucket, frees it and removes it from the list.
  void Delete(int32_t Index);
  // Index of the newest item of that name, or -1.
  int32_t Find(const AnsiString& Name) const;
  // True when an item of that name is not marked for deletion.
  bool IsActiveDupe(const AnsiString& Name) const;
  // Index of the newest item of that name that is not marked for deletion, or -1.
  int32_t FindActive(const AnsiString& Name) const;
  // Index of Item itself, or -1.
  int32_t IndexOf(const TAbArchiveItem* Item) const;
  // Gives Item a new file name and moves it to that name's bucket.
  void Rename(TAbArchiveItem* Item, const AnsiString& NewName);
  // Raises EListError for an index out of range.
  TAbArchiveItem* Get(int32_t Index) const;
  TAbArchiveItem* operator[](int32_t Index) const { return Get(Index); }
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }

  // The bucket of a name: the ELF hash of its ANSI upper-case form, mod 1021.
  static int32_t HashOf(const AnsiString& Name);
  // The first item of a bucket (for tests and diagnostics).
  TAbArchiveItem* BucketHead(int32_t Bucket) const { return buckets_[static_cast<size_t>(Bucket)]; }

 private:
  void Unlink(TAbArchiveItem* Item);
  void Link(TAbArchiveItem* Item);

  std::vector<std::unique_ptr<TAbArchiveItem>> items_;
  std::array<TAbArchiveItem*, kBucketCount> buckets_{};
};

using TAbArchiveEvent = std::function<void(TObject* Sender)>;
using TAbArchiveConfirmEvent = std::function<void(TObject* Sender, bool& Confirm)>;
using TAbArchiveProgressEvent = std::function<void(TObject* Sender, uint8_t Progress, bool& Abort)>;
using TAbArchiveItemProgressEvent =
    std::function<void(TObject* Sender, TAbArchiveItem* Item, uint8_t Progress, bool& Abort)>;
using TAbArchiveItemConfirmEvent = std::function<void(TObject* Sender, TAbArchiveItem* Item,
                                                      TAbProcessType ProcessType, bool& Confirm)>;
using TAbArchiveItemFailureEvent =
    std::function<void(TObject* Sender, TAbArchiveItem* Item, TAbProcessType ProcessType,
                       TAbErrorClass ErrorClass, int32_t ErrorCode)>;
using TAbConfirmOverwriteEvent = std::function<void(AnsiString& Name, bool& Confirm)>;
// Progress of the plain copy loops of the item processing.
using TAbProgressEvent = std::function<void(uint8_t Progress, bool& Abort)>;
using TAbRequestImageEvent =
    std::function<void(TObject* Sender, int32_t ImageNumber, AnsiString& ImageName, bool& Abort)>;

class TAbArchive : public TObject {
 public:
  // Opens FileName (a full path) as a span stream with Mode; BaseDirectory starts as
  // the directory of the running program.
  TAbArchive(const AnsiString& FileName, uint16_t Mode);
  ~TAbArchive() override;

  // For a format that reaches its file by other means (the cabinet archive): the
  // archive holds no archive stream; everything else as above.
  struct TAbNoArchiveStream {};
  TAbArchive(const AnsiString& FileName, uint16_t Mode, TAbNoArchiveStream);

  // --- The format's operations ---
  virtual std::unique_ptr<TAbArchiveItem> CreateItem(const AnsiString& FileName) = 0;
  virtual void ExtractItemAt(int32_t Index, const AnsiString& UseName) = 0;
  virtual void ExtractItemToStreamAt(int32_t Index, TStream& Stream) = 0;
  virtual void TestItemAt(int32_t Index) = 0;

  // --- Events ---
  virtual void DoProcessItemFailure(TAbArchiveItem* Item, TAbProcessType ProcessType,
                                    TAbErrorClass ErrorClass, int32_t ErrorCode);
  virtual void DoArchiveSaveProgress(uint8_t Progress, bool& Abort);
  virtual void DoArchiveProgress(uint8_t Progress, bool& Abort);
  virtual void DoArchiveItemProgress(TAbArchiveItem* Item, uint8_t Progress, bool& Abort);
  virtual void DoConfirmProcessItem(TAbArchiveItem* Item, TAbProcessType ProcessType, bool& Confirm);
  virtual void DoConfirmSave(bool& Confirm);
  virtual void DoLoad();
  // Reported as item progress of the current item.
  virtual void DoProgress(uint8_t Progress, bool& Abort);
  virtual void DoSave();
  // The stored form of a name.
  virtual AnsiString FixName(const AnsiString& Name);
  virtual int32_t GetSpanningThreshold() const { return spanning_threshold_; }
  virtual void SetSpanningThreshold(int32_t Value) { spanning_threshold_ = Value; }

  // --- Operations ---
  // Takes Item over; an item the archive does not keep is freed.
  virtual void Add(std::unique_ptr<TAbArchiveItem> Item);
  virtual void Load();
  virtual void Move(TAbArchiveItem* Item, const AnsiString& NewStoredPath);
  virtual void Save();
  // Progress of a stream copy or a codec; an Abort answer raises EAbAbortProgress.
  virtual void DoStreamProgress(int32_t Progress);
  virtual void DoCodecProgress(int32_t Progress);
  // The base archive cannot span: EAbSpanningNotSupported.
  virtual void DoSpanningMediaRequest(TObject* Sender, int32_t ImageNumber, AnsiString& ImageName,
                                      bool& Abort);

  void AddFiles(const AnsiString& FileMask, int32_t SearchAttr);
  void AddFilesEx(const AnsiString& FileMask, const AnsiString& ExclusionMask, int32_t SearchAttr);
  // A name that is not in the archive leaves Stream untouched; failures of the item
  // are reported through the item-failure event.
  void ExtractToStream(const AnsiString& Name, TStream& Stream);
  void Freshen(TAbArchiveItem* Item);
  void FreshenAt(int32_t Index);
  void Replace(TAbArchiveItem* Item);
  void ReplaceAt(int32_t Index);

  void CheckValid() const;
  void BeginBusy();
  void EndBusy();
  int32_t FindFile(const AnsiString& Name) const;
  int32_t FindItem(const TAbArchiveItem* Item) const;
  int32_t ItemCount() const { return item_list_ ? item_list_->Count() : 0; }
  // Items that a save keeps: those not marked for deletion.
  int32_t ActiveItemCount() const;
  TAbArchiveItem* Items(int32_t Index) const { return item_list_->Get(Index); }
  TAbArchiveList& ItemList() { return *item_list_; }

  const AnsiString& ArchiveName() const { return archive_name_; }
  TAbArchiveStatus Status() const { return status_; }
  bool AutoSave() const { return auto_save_; }
  void SetAutoSave(bool Value) { auto_save_ = Value; }
  const AnsiString& BaseDirectory() const { return base_directory_; }
  // Drops a trailing separator (not of a root); a directory that does not exist
  // raises EAbNoSuchDirectory.
  void SetBaseDirectory(const AnsiString& Value);
  TAbArchiveItem* CurrentItem() const { return current_item_; }
  bool DOSMode() const { return dos_mode_; }
  void SetDOSMode(bool Value) { dos_mode_ = Value; }
  TAbExtractOptions ExtractOptions() const { return extract_options_; }
  void SetExtractOptions(TAbExtractOptions Value) { extract_options_ = Value; }
  TStream* InStream() const { return in_stream_; }
  void SetInStream(TStream* Value) { in_stream_ = Value; }
  bool IsDirty() const { return is_dirty_; }
  void SetIsDirty(bool Value) { is_dirty_ = Value; }
  const AnsiString& LogFile() const { return log_file_; }
  void SetLogFile(const AnsiString& Value) { log_file_ = Value; }
  bool Logging() const { return logging_; }
  void SetLogging(bool Value);
  uint16_t Mode() const { return mode_; }
  bool Spanned() const { return spanned_; }
  TAbStoreOptions StoreOptions() const { return store_options_; }
  void SetStoreOptions(TAbStoreOptions Value) { store_options_ = Value; }
  const AnsiString& TempDirectory() const { return temp_directory_; }
  void SetTempDirectory(const AnsiString& Value) { temp_directory_ = Value; }
  TStream* Stream() const { return stream_; }
  TAbPadLock& PadLock() { return pad_lock_; }

  // Writes a line to the operation log when one is open.
  void MakeLogEntry(const AnsiString& Name, TAbLogType LogType);

  TAbArchiveItemFailureEvent OnProcessItemFailure;
  TAbArchiveProgressEvent OnArchiveProgress;
  TAbArchiveProgressEvent OnArchiveSaveProgress;
  TAbArchiveItemProgressEvent OnArchiveItemProgress;
  TAbArchiveItemConfirmEvent OnConfirmProcessItem;
  TAbConfirmOverwriteEvent OnConfirmOverwrite;
  TAbArchiveConfirmEvent OnConfirmSave;
  TAbArchiveEvent OnLoad;
  TAbProgressEvent OnProgress;
  TAbRequestImageEvent OnRequestImage;
  TAbArchiveEvent OnSave;

 protected:
  virtual void LoadArchive() = 0;
  virtual void SaveArchive() = 0;

  // The archive stream: Owned makes the archive free it. The previous stream is
  // freed first when the archive owned it.
  void SetArchiveStream(TStream* Value, bool Owned);
  void SetArchiveStream(std::unique_ptr<TStream> Value);
  bool OwnsStream() const { return owns_stream_; }
  // The item list; a format may hold several and switch between them.
  std::unique_ptr<TAbArchiveList>& ItemListHolder() { return item_list_; }
  void SetStatus(TAbArchiveStatus Value) { status_ = Value; }
  void SetSpanned(bool Value) { spanned_ = Value; }
  void SetCurrentItem(TAbArchiveItem* Value) { current_item_ = Value; }
  // The disk file of an item to freshen or replace, resolved against BaseDirectory.
  AnsiString ResolveDiskFileName(const TAbArchiveItem& Item);

 private:
  // Saves the item's pending change, if any; gives the item's index afterwards.
  int32_t SavePending(TAbArchiveItem* Item);
  bool IsArchiveFile(const AnsiString& Candidate) const;
  void CloseLog();

  TStream* stream_ = nullptr;
  std::unique_ptr<TStream> owned_stream_;
  TAbArchiveStatus status_ = asInvalid;
  AnsiString archive_name_;
  bool auto_save_ = false;
  AnsiString base_directory_;
  TAbArchiveItem* current_item_ = nullptr;
  bool dos_mode_ = false;
  TAbExtractOptions extract_options_;
  TStream* in_stream_ = nullptr;
  bool is_dirty_ = false;
  int32_t spanning_threshold_ = 0;
  std::unique_ptr<TAbArchiveList> item_list_;
  AnsiString log_file_;
  bool logging_ = false;
  std::unique_ptr<TFileStream> log_stream_;
  uint16_t mode_ = 0;
  bool owns_stream_ = false;
  TAbPadLock pad_lock_;
  bool spanned_ = false;
  TAbStoreOptions store_options_;
  AnsiString temp_directory_;
};

// Holds an archive busy for a scope.
class TAbBusyGuard {
 public:
  explicit TAbBusyGuard(TAbArchive& Archive) : archive_(Archive) { archive_.BeginBusy(); }
  ~TAbBusyGuard() { archive_.EndBusy(); }
  TAbBusyGuard(const TAbBusyGuard&) = delete;
  TAbBusyGuard& operator=(const TAbBusyGuard&) = delete;

 private:
  TAbArchive& archive_;
};

// The base of the per-format stream readers of tar and gzip archives; the stream is
// not owned. A null stream raises the framework's exception "nil stream".
class TAbArchiveStreamHelper {
 public:
  explicit TAbArchiveStreamHelper(TStream* AStream);
  virtual ~TAbArchiveStreamHelper() = default;
  TAbArchiveStreamHelper(const TAbArchiveStreamHelper&) = delete;
  TAbArchiveStreamHelper& operator=(const TAbArchiveStreamHelper&) = delete;

  virtual void CopyItemData(TStream& Stream) = 0;
  virtual bool SeekFirstItem() = 0;
  virtual bool SeekNextItem() = 0;
  virtual void LoadHeader() = 0;
  virtual void LoadTail() = 0;
  virtual bool SeekItem(int32_t Number) = 0;
  virtual void StoreHeader() = 0;
  virtual void StoreItemData(TStream& Stream) = 0;
  virtual void StoreTail() = 0;
  virtual int32_t CountItems() = 0;

 protected:
  TStream* stream_;
};

// The path under BaseDirectory that a stored name extracts to. Only the file name
// part is used unless eoRestorePath is set; a drive, a share or a leading separator
// is dropped and a name that would lead outside BaseDirectory ("..") is refused with
// EAbException, whatever the options. A missing directory is made with
// eoCreateDirs, else EAbNoSuchDirectory. When the file exists, ConfirmOverwrite may
// change the path and the answer. On True, Name becomes the output path.
bool AbPrepareOutputPath(const AnsiString& BaseDirectory, AnsiString& Name,
                         TAbExtractOptions ExtractOptions,
                         const TAbConfirmOverwriteEvent& ConfirmOverwrite);

// The directory of the running program.
AnsiString AbExecutableDirectory();

}  // namespace pelvar
