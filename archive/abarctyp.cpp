#include "archive/abarctyp.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <vector>

#include "archive/abconst.h"
#include "platform/codepage.h"
#include "platform/dateutils.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameNameAscii(const AnsiString& A, const AnsiString& B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i) {
    if (AsciiUpper(A[i]) != AsciiUpper(B[i])) return false;
  }
  return true;
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Changes the current directory for a scope and restores it on the way out.
class TCurrentDirGuard {
 public:
  explicit TCurrentDirGuard(const AnsiString& Dir) {
    char buf[4096];
    if (::getcwd(buf, sizeof buf) != nullptr) saved_ = buf;
    if (!Dir.empty() && ::chdir(AbSysPath(Dir).c_str()) != 0) throw EAbNoSuchDirectory();
  }
  ~TCurrentDirGuard() {
    if (!saved_.empty() && ::chdir(saved_.c_str()) != 0) {
      // Nothing better to do: the directory we came from has gone.
    }
  }
  TCurrentDirGuard(const TCurrentDirGuard&) = delete;
  TCurrentDirGuard& operator=(const TCurrentDirGuard&) = delete;

 private:
  std::string saved_;
};

AnsiString JoinDisk(const AnsiString& Dir, const AnsiString& Name) {
  if (Dir.empty()) return AbDiskPath(Name);
  AnsiString d = AbDiskPath(Dir);
  if (d.back() != '/') d += '/';
  return d + AbDiskPath(Name);
}

TAbLogType LogTypeOf(TAbProcessType ProcessType) {
  switch (ProcessType) {
    case ptAdd: return ltAdd;
    case ptDelete: return ltDelete;
    case ptExtract: return ltExtract;
    case ptFreshen: return ltFreshen;
    case ptMove: return ltMove;
    case ptReplace: return ltReplace;
    case ptFoundUnhandled: return ltFoundUnhandled;
  }
  return ltFoundUnhandled;
}

// The stored name as a message can show it: control characters as \xNN.
AnsiString PrintableName(const AnsiString& Stored) {
  AnsiString out;
  for (const char c : Stored) {
    const auto b = static_cast<uint8_t>(c);
    if (b < 0x20 || b == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

// The path relative to the base directory that a stored name may extract to.
AnsiString SafeRelativePath(const AnsiString& Stored, bool RestorePath) {
  auto refuse = [&Stored]() -> EAbUnsafeName {
    return EAbUnsafeName(PrintableName(Stored) + " leads outside the base directory");
  };
  auto nameless = [&Stored]() -> EAbException {
    return EAbException("Stored name names no file: " + Stored);
  };
  // A control character (a line feed, an escape, a zero byte) in a file or folder
  // name misleads whoever lists or types the name later.
  for (const char c : Stored) {
    const auto b = static_cast<uint8_t>(c);
    if (b < 0x20 || b == 0x7F) throw EAbUnsafeName(PrintableName(Stored) + " holds control characters");
  }
  AnsiString p = AbDiskPath(Stored);
  // A drive ("C:") or a network share ("//server/share") names another root.
  if (p.size() >= 2 && p[1] == ':' &&
      ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')))
    p.erase(0, 2);
  else if (p.rfind("//", 0) == 0) {
    size_t pos = p.find('/', 2);                                    // end of the server
    pos = pos == AnsiString::npos ? p.size() : p.find('/', pos + 1);  // end of the share
    p.erase(0, pos == AnsiString::npos ? p.size() : pos);
  }
  std::vector<AnsiString> parts;
  size_t start = 0;
  while (start <= p.size()) {
    const size_t end = std::min(p.find('/', start), p.size());
    parts.push_back(p.substr(start, end - start));
    start = end + 1;
  }
  if (!RestorePath) parts.erase(parts.begin(), parts.end() - 1);
  AnsiString out;
  for (const AnsiString& part : parts) {
    if (part.empty() || part == ".") continue;
    if (part == "..") throw refuse();
    if (!out.empty()) out += '/';
    out += part;
  }
  // Nothing left names no file (the base directory itself).
  if (out.empty() || p.empty() || IsSeparator(p.back())) throw nameless();
  return out;
}

}  // namespace

// --- TAbArchiveList ---

TAbArchiveList::~TAbArchiveList() { Clear(); }

int32_t TAbArchiveList::HashOf(const AnsiString& Name) {
  const AnsiString upper = AnsiUpperCase(Name);
  uint32_t h = 0;
  for (const char c : upper) {
    h = (h << 4) + static_cast<uint8_t>(c);
    const uint32_t g = h & 0xF0000000u;
    if (g != 0) h ^= g >> 24;
    h &= ~g;
  }
  return static_cast<int32_t>(h % kBucketCount);
}

void TAbArchiveList::Link(TAbArchiveItem* Item) {
  auto& head = buckets_[static_cast<size_t>(HashOf(Item->FileName()))];
  Item->next_item_ = head;
  head = Item;
}

void TAbArchiveList::Unlink(TAbArchiveItem* Item) {
  // The item itself leaves its chain, never another item of the same name.
  auto unlink_from = [Item](TAbArchiveItem*& head) {
    for (TAbArchiveItem** link = &head; *link != nullptr; link = &(*link)->next_item_) {
      if (*link == Item) {
        *link = Item->next_item_;
        Item->next_item_ = nullptr;
        return true;
      }
    }
    return false;
  };
  if (unlink_from(buckets_[static_cast<size_t>(HashOf(Item->FileName()))])) return;
  // Renamed behind the list's back: it sits in another bucket.
  for (auto& head : buckets_) {
    if (unlink_from(head)) return;
  }
}

int32_t TAbArchiveList::Add(std::unique_ptr<TAbArchiveItem> Item) {
  Link(Item.get());
  items_.push_back(std::move(Item));
  return static_cast<int32_t>(items_.size()) - 1;
}

void TAbArchiveList::Clear() {
  buckets_.fill(nullptr);
  while (!items_.empty()) items_.pop_back();
}

void TAbArchiveList::Delete(int32_t Index) {
  TAbArchiveItem* item = Get(Index);
  Unlink(item);
  items_.erase(items_.begin() + Index);
}

int32_t TAbArchiveList::Find(const AnsiString& Name) const {
  for (TAbArchiveItem* p = buckets_[static_cast<size_t>(HashOf(Name))]; p != nullptr; p = p->next_item_) {
    if (SameNameAscii(p->FileName(), Name)) return IndexOf(p);
  }
  return -1;
}

int32_t TAbArchiveList::FindActive(const AnsiString& Name) const {
  for (TAbArchiveItem* p = buckets_[static_cast<size_t>(HashOf(Name))]; p != nullptr; p = p->next_item_) {
    if (p->Action() != aaDelete && SameNameAscii(p->FileName(), Name)) return IndexOf(p);
  }
  return -1;
}

bool TAbArchiveList::IsActiveDupe(const AnsiString& Name) const { return FindActive(Name) >= 0; }

int32_t TAbArchiveList::IndexOf(const TAbArchiveItem* Item) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].get() == Item) return static_cast<int32_t>(i);
  }
  return -1;
}

void TAbArchiveList::Rename(TAbArchiveItem* Item, const AnsiString& NewName) {
  Unlink(Item);
  Item->SetFileName(NewName);
  Link(Item);
}

TAbArchiveItem* TAbArchiveList::Get(int32_t Index) const {
  if (Index < 0 || Index >= Count())
    throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  return items_[static_cast<size_t>(Index)].get();
}

// --- TAbArchive ---

AnsiString AbExecutableDirectory() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return GetCurrentDir();
  std::string path(buf, static_cast<size_t>(n));
  const size_t slash = path.rfind('/');
  path = slash == 0 ? std::string("/") : path.substr(0, slash);
  return Utf8ToAnsi(path);
}

TAbArchive::TAbArchive(const AnsiString& FileName, uint16_t Mode) {
  auto span = std::make_unique<TAbSpanStream>(
      FileName, spanning_threshold_, AbIsOnRemovableDrive(FileName) ? mtRemoveable : mtLocal, Mode);
  span->OnRequestImage = [this](TObject* Sender, int32_t ImageNumber, bool& Cancelled,
                                AnsiString& ImageName) {
    bool abort = false;
    DoSpanningMediaRequest(Sender, ImageNumber, ImageName, abort);
    Cancelled = abort;
  };
  span->OnArchiveProgress = [this](uint8_t Progress, bool& Abort) {
    DoArchiveSaveProgress(Progress, Abort);
  };
  SetArchiveStream(std::move(span));
  archive_name_ = FileName;
  OnProgress = [this](uint8_t Progress, bool& Abort) { DoProgress(Progress, Abort); };
  mode_ = Mode;
  SetBaseDirectory(AbExecutableDirectory());
  item_list_ = std::make_unique<TAbArchiveList>();
  status_ = asIdle;
}

TAbArchive::TAbArchive(const AnsiString& FileName, uint16_t Mode, TAbNoArchiveStream) {
  archive_name_ = FileName;
  OnProgress = [this](uint8_t Progress, bool& Abort) { DoProgress(Progress, Abort); };
  mode_ = Mode;
  SetBaseDirectory(AbExecutableDirectory());
  item_list_ = std::make_unique<TAbArchiveList>();
  status_ = asIdle;
}

TAbArchive::~TAbArchive() {
  item_list_.reset();
  CloseLog();
  owned_stream_.reset();
}

void TAbArchive::SetArchiveStream(TStream* Value, bool Owned) {
  if (owned_stream_.get() == Value) {
    if (!Owned) static_cast<void>(owned_stream_.release());
  } else {
    owned_stream_.reset();
    if (Owned) owned_stream_.reset(Value);
  }
  stream_ = Value;
  owns_stream_ = Owned;
}

void TAbArchive::SetArchiveStream(std::unique_ptr<TStream> Value) {
  TStream* raw = Value.release();
  SetArchiveStream(raw, true);
}

void TAbArchive::CheckValid() const {
  if (status_ == asInvalid) throw EAbNoArchive();
}

void TAbArchive::BeginBusy() {
  pad_lock_.SetHeld(true);
  status_ = asBusy;
}

void TAbArchive::EndBusy() {
  if (status_ == asBusy) status_ = asIdle;
  pad_lock_.SetHeld(false);
}

int32_t TAbArchive::FindFile(const AnsiString& Name) const { return item_list_->Find(Name); }

int32_t TAbArchive::FindItem(const TAbArchiveItem* Item) const {
  const int32_t index = item_list_->IndexOf(Item);
  return index >= 0 ? index : item_list_->Find(Item->FileName());
}

int32_t TAbArchive::ActiveItemCount() const {
  int32_t n = 0;
  for (int32_t i = 0; i < ItemCount(); ++i) {
    if (item_list_->Get(i)->Action() != aaDelete) ++n;
  }
  return n;
}

void TAbArchive::SetBaseDirectory(const AnsiString& Value) {
  AnsiString dir = Value;
  // A root ("C:\", "/") keeps its separator.
  if (dir.size() > 1 && IsSeparator(dir.back()) && dir[dir.size() - 2] != ':') dir.pop_back();
  if (!dir.empty() && !AbIsDirectory(dir)) throw EAbNoSuchDirectory();
  base_directory_ = dir;
}

// --- Log ---

void TAbArchive::CloseLog() { log_stream_.reset(); }

void TAbArchive::SetLogging(bool Value) {
  logging_ = Value;
  CloseLog();
  if (logging_ && !log_file_.empty()) {
    try {
      log_stream_ = std::make_unique<TFileStream>(AbDiskPath(log_file_), fmCreate);
      MakeLogEntry(archive_name_, ltStart);
    } catch (const std::exception&) {
      log_stream_.reset();
      throw EAbException(AbErrorText(AbLogCreateError), AbLogCreateError);
    }
  }
}

void TAbArchive::MakeLogEntry(const AnsiString& Name, TAbLogType LogType) {
  if (!log_stream_) return;
  static constexpr int32_t kWords[] = {AbLogAdded,    AbLogDeleted,  AbLogExtracted, AbLogFreshened,
                                       AbLogMoved,    AbLogReplaced, AbLogLogging,   AbUnhandledEntity};
  AnsiString line = Name + AbErrorText(kWords[LogType]) + DateTimeToStr(Now());
  if (line.size() > 255) line.resize(255);
  line += "\r\n";
  log_stream_->WriteBuffer(line.data(), static_cast<int64_t>(line.size()));
}

// --- Events ---

void TAbArchive::DoProcessItemFailure(TAbArchiveItem* Item, TAbProcessType ProcessType,
                                      TAbErrorClass ErrorClass, int32_t ErrorCode) {
  if (OnProcessItemFailure) OnProcessItemFailure(this, Item, ProcessType, ErrorClass, ErrorCode);
}

void TAbArchive::DoArchiveSaveProgress(uint8_t Progress, bool& Abort) {
  Abort = false;
  if (OnArchiveSaveProgress) OnArchiveSaveProgress(this, Progress, Abort);
}

void TAbArchive::DoArchiveProgress(uint8_t Progress, bool& Abort) {
  Abort = false;
  if (OnArchiveProgress) OnArchiveProgress(this, Progress, Abort);
}

void TAbArchive::DoArchiveItemProgress(TAbArchiveItem* Item, uint8_t Progress, bool& Abort) {
  Abort = false;
  if (OnArchiveItemProgress) OnArchiveItemProgress(this, Item, Progress, Abort);
}

void TAbArchive::DoConfirmProcessItem(TAbArchiveItem* Item, TAbProcessType ProcessType,
                                      bool& Confirm) {
  Confirm = true;
  if (OnConfirmProcessItem) OnConfirmProcessItem(this, Item, ProcessType, Confirm);
  if (Confirm && logging_ && Item != nullptr) MakeLogEntry(Item->FileName(), LogTypeOf(ProcessType));
}

void TAbArchive::DoConfirmSave(bool& Confirm) {
  Confirm = true;
  if (OnConfirmSave) OnConfirmSave(this, Confirm);
}

void TAbArchive::DoLoad() {
  if (OnLoad) OnLoad(this);
}

void TAbArchive::DoSave() {
  if (OnSave) OnSave(this);
}

void TAbArchive::DoProgress(uint8_t Progress, bool& Abort) {
  DoArchiveItemProgress(current_item_, Progress, Abort);
}

void TAbArchive::DoStreamProgress(int32_t Progress) {
  bool abort = false;
  DoProgress(static_cast<uint8_t>(std::clamp(Progress, 0, 100)), abort);
  if (abort) throw EAbAbortProgress(AbErrorText(AbUserAbort));
}

void TAbArchive::DoCodecProgress(int32_t Progress) { DoStreamProgress(Progress); }

void TAbArchive::DoSpanningMediaRequest(TObject* /*Sender*/, int32_t /*ImageNumber*/,
                                        AnsiString& /*ImageName*/, bool& /*Abort*/) {
  throw EAbSpanningNotSupported();
}

// --- Names ---

AnsiString TAbArchive::FixName(const AnsiString& Name) {
  AnsiString name = Name;
  if (dos_mode_) {
    const bool has_drive = name.size() >= 2 && name[1] == ':';
    if (!base_directory_.empty() && !has_drive && !(name.size() >= 1 && IsSeparator(name[0])))
      name = AbWithTrailingBackslash(base_directory_) + name;
    name = AbShortPathOf(name);
  }
  if (store_options_.Contains(soStripDrive)) AbDropDrive(name);
  if (!name.empty() && IsSeparator(name[0])) name.erase(0, 1);
  if (store_options_.Contains(soStripPath)) {
    const size_t sep = name.find_last_of("\\/:");
    if (sep != AnsiString::npos) name.erase(0, sep + 1);
  }
  if (store_options_.Contains(soRemoveDots)) {
    AbToBackslashes(name);
    AbDropParentRefs(name);
  }
  return name;
}

AnsiString TAbArchive::ResolveDiskFileName(const TAbArchiveItem& Item) {
  const AnsiString stored = Item.FileName();
  if (store_options_.Contains(soRecurse) && AbPathKind(stored) == 0) {
    TStringList found;
    {
      TCurrentDirGuard in_base(base_directory_);
      AbCollectFiles(stored, 0x2F, found, true);
    }
    return found.Count() > 0 ? JoinDisk(base_directory_, found.Strings(0)) : AnsiString();
  }
  return JoinDisk(base_directory_, stored);
}

bool TAbArchive::IsArchiveFile(const AnsiString& Candidate) const {
  // Both as absolute paths, and by identity of the file (links, other spellings).
  const AnsiString full = ExpandFileName(AbDiskPath(Candidate));
  const AnsiString archive = ExpandFileName(AbDiskPath(archive_name_));
  if (full == archive) return true;
  struct stat a, b;
  return ::stat(AbSysPath(full).c_str(), &a) == 0 && ::stat(AbSysPath(archive).c_str(), &b) == 0 &&
         a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// --- Operations ---

void TAbArchive::Add(std::unique_ptr<TAbArchiveItem> Item) {
  CheckValid();
  const AnsiString name = Item->FileName();
  if (item_list_->IsActiveDupe(name)) {
    if (store_options_.Contains(soFreshen))
      FreshenAt(item_list_->FindActive(name));
    else if (store_options_.Contains(soReplace))
      ReplaceAt(item_list_->FindActive(name));
    else
      DoProcessItemFailure(Item.get(), ptAdd, ecArchiveKit, AbDuplicateName);
    return;  // the offered item is freed
  }
  bool confirm = true;
  DoConfirmProcessItem(Item.get(), ptAdd, confirm);
  if (!confirm) return;
  TAbBusyGuard busy(*this);
  Item->SetAction(aaAdd);
  item_list_->Add(std::move(Item));
  is_dirty_ = true;
  if (auto_save_) Save();
}

void TAbArchive::AddFiles(const AnsiString& FileMask, int32_t SearchAttr) {
  AddFilesEx(FileMask, AnsiString(), SearchAttr);
}

void TAbArchive::AddFilesEx(const AnsiString& FileMask, const AnsiString& ExclusionMask,
                            int32_t SearchAttr) {
  CheckValid();
  // Masks are disk paths here: a POSIX path keeps its leading '/'.
  const AnsiString mask = AbDiskPath(FileMask);
  const AnsiString exclusion = AbDiskPath(ExclusionMask);
  const bool recurse = store_options_.Contains(soRecurse);

  auto collect = [&]() {
    TStringList excluded;
    if (!exclusion.empty()) AbCollectFilesMulti(exclusion, SearchAttr & ~AbFaDirectory, excluded, recurse);
    TStringList candidates;
    AbCollectFilesMulti(mask, SearchAttr & ~AbFaDirectory, candidates, recurse);
    for (int32_t i = 0; i < candidates.Count(); ++i) {
      const AnsiString candidate = candidates.Strings(i);
      bool skip = false;
      for (int32_t j = 0; j < excluded.Count() && !skip; ++j)
        skip = AnsiCompareText(excluded.Strings(j), candidate) == 0;
      // An archive never takes in its own file, however the mask reaches it.
      if (skip || IsArchiveFile(candidate)) continue;
      Add(CreateItem(candidate));
    }
  };

  if (AbPathKind(mask) == 2) {
    collect();
  } else {
    TCurrentDirGuard in_base(base_directory_);
    collect();
  }
}

int32_t TAbArchive::SavePending(TAbArchiveItem* Item) {
  if (Item->Action() != aaNone) Save();
  return item_list_->IndexOf(Item);
}

void TAbArchive::ExtractToStream(const AnsiString& Name, TStream& Stream) {
  CheckValid();
  int32_t index = FindFile(Name);
  if (index < 0) return;
  TAbArchiveItem* item = Items(index);
  index = SavePending(item);
  if (index < 0) return;
  TAbBusyGuard busy(*this);
  bool confirm = true;
  DoConfirmProcessItem(item, ptExtract, confirm);
  if (!confirm) return;
  current_item_ = item;
  // A failed item leaves nothing in the caller's stream: what it wrote is cut off
  // again (when the stream was at its end, as it is for a fresh stream).
  const int64_t start = Stream.Position();
  const bool at_end = start == Stream.Size();
  try {
    ExtractItemToStreamAt(index, Stream);
  } catch (const Exception& E) {
    if (at_end) {
      try {
        Stream.SetSize(start);
        Stream.Seek(start, TSeekOrigin::soBeginning);
      } catch (const std::exception&) {
        // A stream that cannot shrink keeps what it has; the failure is reported anyway.
      }
    }
    const TAbErrorInfo info = AbClassifyException(E);
    DoProcessItemFailure(item, ptExtract, info.ErrorClass, info.ErrorCode);
  }
  current_item_ = nullptr;
}

void TAbArchive::Freshen(TAbArchiveItem* Item) {
  const int32_t index = FindItem(Item);
  if (index >= 0) FreshenAt(index);
}

void TAbArchive::FreshenAt(int32_t Index) {
  CheckValid();
  TAbArchiveItem* item = Items(Index);
  if (SavePending(item) < 0) return;
  TAbBusyGuard busy(*this);
  item->SetDiskFileName(ResolveDiskFileName(*item));
  bool newer = false;
  try {
    TFileStream file(item->DiskFileName(), fmOpenRead | fmShareDenyWrite);
    const int32_t age = AbFileAge(item->DiskFileName());
    const int32_t stamp = static_cast<int32_t>((static_cast<uint32_t>(item->LastModFileDate()) << 16) |
                                               item->LastModFileTime());
    newer = age != stamp;
  } catch (const Exception& E) {
    const TAbErrorInfo info = AbClassifyException(E);
    DoProcessItemFailure(item, ptFreshen, info.ErrorClass, info.ErrorCode);
  }
  if (!newer) return;
  bool confirm = true;
  DoConfirmProcessItem(item, ptFreshen, confirm);
  if (!confirm) return;
  item->SetAction(aaFreshen);
  is_dirty_ = true;
  if (auto_save_) Save();
}

void TAbArchive::Replace(TAbArchiveItem* Item) {
  const int32_t index = FindItem(Item);
  if (index >= 0) ReplaceAt(index);
}

void TAbArchive::ReplaceAt(int32_t Index) {
  CheckValid();
  TAbArchiveItem* item = Items(Index);
  if (SavePending(item) < 0) return;
  TAbBusyGuard busy(*this);
  item->SetDiskFileName(ResolveDiskFileName(*item));
  bool confirm = true;
  DoConfirmProcessItem(item, ptReplace, confirm);
  if (!confirm) return;
  item->SetAction(aaReplace);
  is_dirty_ = true;
  if (auto_save_) Save();
}

void TAbArchive::Move(TAbArchiveItem* Item, const AnsiString& NewStoredPath) {
  CheckValid();
  const AnsiString fixed = FixName(NewStoredPath);
  for (int32_t i = 0; i < ItemCount(); ++i) {
    TAbArchiveItem* other = Items(i);
    // The item itself may take another spelling of its own name.
    if (other != Item && other->Action() != aaDelete && SameNameAscii(other->FileName(), fixed)) {
      DoProcessItemFailure(Item, ptMove, ecArchiveKit, AbDuplicateName);
      return;
    }
  }
  if (SavePending(Item) < 0) return;
  TAbBusyGuard busy(*this);
  bool confirm = true;
  DoConfirmProcessItem(Item, ptMove, confirm);
  if (!confirm) return;
  // The item moves to the bucket of its new name, so that look-ups find it there.
  item_list_->Rename(Item, fixed);
  Item->SetAction(aaMove);
  is_dirty_ = true;
  if (auto_save_) Save();
}

void TAbArchive::Load() {
  TAbBusyGuard busy(*this);
  try {
    LoadArchive();
    status_ = asIdle;
  } catch (...) {
    // An archive whose load failed is never written by a later save.
    status_ = asInvalid;
    DoLoad();
    throw;
  }
  DoLoad();
}

void TAbArchive::Save() {
  if (status_ == asInvalid) return;
  // An archive without items is written even when clean, so that a new empty
  // archive becomes a valid file.
  if (!is_dirty_ && ItemCount() > 0) return;
  TAbBusyGuard busy(*this);
  bool confirm = true;
  DoConfirmSave(confirm);
  if (!confirm) return;
  SaveArchive();
  is_dirty_ = false;
  DoSave();
}

// --- Stream helper ---

TAbArchiveStreamHelper::TAbArchiveStreamHelper(TStream* AStream) : stream_(AStream) {
  if (AStream == nullptr) throw Exception("nil stream");
}

// --- Extraction paths ---

bool AbPrepareOutputPath(const AnsiString& BaseDirectory, AnsiString& Name,
                         TAbExtractOptions ExtractOptions,
                         const TAbConfirmOverwriteEvent& ConfirmOverwrite) {
  bool result = true;
  const AnsiString relative = SafeRelativePath(Name, ExtractOptions.Contains(eoRestorePath));
  AnsiString output = JoinDisk(BaseDirectory, relative);
  const size_t slash = output.rfind('/');
  const AnsiString dir = slash == AnsiString::npos ? AnsiString() : output.substr(0, slash);
  if (!dir.empty() && !AbIsDirectory(dir)) {
    if (ExtractOptions.Contains(eoCreateDirs))
      AbMakeDirPath(dir);
    else
      throw EAbNoSuchDirectory();
  }
  struct stat st;
  if (ConfirmOverwrite && ::stat(AbSysPath(output).c_str(), &st) == 0) ConfirmOverwrite(output, result);
  if (result) Name = output;
  return result;
}

}  // namespace pelvar
